#pragma once

#include "store/mailbox.h"
#include "store/mailrecord.h"
#include "temphome.h"

#include <QList>
#include <QString>

namespace kiku::test {

// A message as the store holds it (fields unpadded; encodeMail pads them).
MailRecord mail(const QString& subject, const QString& from, const QString& date,
                const QString& body);

// Writes the records as the whole box file, in the box's own layout.
void writeBox(const TempHome& home, Box box, const QList<MailRecord>& records);

// The box file's relative path, spelt as the test folder spells the data folder.
QString boxFile(Box box);

// Copies the program's pictures (data/*.gif of the source tree) into the folder's Data/.
// False when the source tree is unknown.
bool copyPictures(const TempHome& home);

// The picture file under Data/ as an image, for comparing with what a control shows.
QImage dataPicture(const TempHome& home, const QString& name);

} // namespace kiku::test
