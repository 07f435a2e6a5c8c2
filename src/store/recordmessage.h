#pragma once

#include "store/mailbox.h"
#include "store/mailrecord.h"
#include "store/storeresult.h"

#include <QByteArray>
#include <QString>

namespace kiku {

// A message for a record that has no original (mail stored before originals were kept):
// Date from the record's date (the Date header of received mail, the clock text of sent
// mail; the start of 1970 when it cannot be read), Subject, and the text in ISO-2022-JP, or
// UTF-8 when it does not fit. In the received boxes the record's address is From and
// `ownAddress` To; in the sent boxes `ownAddress` is From and the record's address To. An
// address that cannot be read keeps its text as the name of "unknown@invalid".
QByteArray messageFromRecord(const MailRecord& record, Box box, const QString& ownAddress);
// The same with the account's address (zadiru.ini's MAIL) as `ownAddress`.
QByteArray messageFromRecord(const MailRecord& record, Box box);

// The whole message of a record: its original when one is kept (`kept` true), otherwise one
// built by messageFromRecord().
StoreResult wholeMessage(const MailRecord& record, Box box, QByteArray& bytes,
                         bool* kept = nullptr);

// A message as a person reads it: every header field of the top header in order, its value
// decoded ("Subject: こんにちは"), a blank line, then the decoded text (MimeMessage::text()).
QString readableMessage(const QByteArray& raw);

} // namespace kiku
