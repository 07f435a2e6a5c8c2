#include "exchange/wholemessage.h"

#include "exchange/recordmessage.h"
#include "maillib/mailtext.h"
#include "maillib/mimereader.h"
#include "settings/serversettings.h"
#include "store/originals.h"

namespace kiku {

std::optional<QByteArray> keptOriginal(const QByteArray& digest) {
    QByteArray bytes;
    bool found = false;
    if (!Originals::read(digest, bytes, &found) || !found)
        return std::nullopt;
    return bytes;
}

OriginalSource keptOriginals(StoreResult& loaded) {
    auto index = std::make_shared<OriginalsIndex>();
    loaded = index->load();
    if (index->all().isEmpty())
        return {}; // nothing to look up: no record needs its digest
    return [index](const QByteArray& digest) { return index->first(digest); };
}

StoreResult wholeMessage(const MailRecord& record, Box box, QByteArray& bytes, bool* kept) {
    bool found = false;
    const StoreResult r = Originals::read(recordDigest(record), bytes, &found);
    if (kept)
        *kept = found;
    if (r && !found) {
        const ViewedMail mail = viewedMail(record);
        const QDateTime date = parseRecordDate(mail.date);
        bytes = messageFromRecord(mail, box, ServerSettings::current().senderAddress,
                                  date.isValid() ? date : boxFileTime(box));
    }
    return r;
}

QString readableMessage(const QByteArray& raw) {
    const MimeMessage message(raw);
    QString out;
    for (const auto& [name, value] : message.fields())
        out += QString::fromLatin1(name) + QStringLiteral(": ") + mailtext::decodeHeader(value) +
               QStringLiteral("\r\n");
    return out + QStringLiteral("\r\n") + message.text();
}

} // namespace kiku
