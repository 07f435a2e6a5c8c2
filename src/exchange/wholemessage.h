#pragma once

#include "exchange/boxexport.h"
#include "store/mailbox.h"
#include "store/storeresult.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace kiku {

// The original kept for a record with `digest` (recordDigest), if there is one.
std::optional<QByteArray> keptOriginal(const QByteArray& digest);
// The same for many records (an export): the originals folder is read once, now. `loaded`
// says whether it could be; the source then finds nothing.
OriginalSource keptOriginals(StoreResult& loaded);

// The whole message of a record of `box`: its original when one is kept (`kept` true),
// otherwise one built from the record (messageFromRecord, with the account's address).
StoreResult wholeMessage(const MailRecord& record, Box box, QByteArray& bytes,
                         bool* kept = nullptr);

// A message as a person reads it: every header field of the top header in order, its value
// decoded ("Subject: こんにちは"), a blank line, then the decoded text (MimeMessage::text()).
QString readableMessage(const QByteArray& raw);

} // namespace kiku
