#pragma once

#include <QByteArray>
#include <QString>

namespace kiku {

// Saving the message on display as a text file in the quick-save folder ("\■TextQuickSave\"),
// named after its subject.
namespace quicksave {

// The longest file name, in bytes of the file system's encoding, that a folder takes.
inline constexpr int kMaxNameBytes = 255;

// The file name for a subject: the subject followed by ".txt", made safe. Characters no file
// name may hold (separators, zero and other control characters) and those Windows reserves
// (\ : * ? " < > |), which the same folder may meet on a shared drive, become "_"; a
// Windows device name (CON, NUL, COM1 …) gets a "_" in front; the subject is cut, between
// whole characters, so that the name fits kMaxNameBytes. The result is always a single name
// inside the folder, never "." or "..". An empty subject gives ".txt".
QString fileName(const QString& subject);

// The four parts of the saved text joined with CR LF (no CR LF after the last):
// "Subject:  …", "From:  …", "Date:  …", "Body:  …".
QString text(const QString& subject, const QString& from, const QString& date, const QString& body);

// The bytes of the file for `text`: the text and a closing CR LF in Shift-JIS (CP932) when
// every character fits; otherwise in UTF-8 with a byte-order mark, so that no character
// turns into "?" and Windows editors still recognise the file.
QByteArray fileBytes(const QString& text);

// The quick-save folder of the program folder; empty when it does not exist (it is never
// created here).
QString folder();

// Writes the file, replacing any earlier one only once the new one is complete. On failure
// returns false and a sentence for the user in *error.
bool write(const QString& path, const QString& text, QString* error);

} // namespace quicksave
} // namespace kiku
