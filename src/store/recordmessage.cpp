#include "store/recordmessage.h"

#include "base/text.h"
#include "maillib/mailtext.h"
#include "maillib/mimereader.h"
#include "maillib/mimewriter.h"
#include "settings/serversettings.h"
#include "store/originals.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <QTimeZone>

namespace kiku {

namespace {

bool isSentBox(Box box) {
    return box == Box::PartnerSent || box == Box::OthersSent;
}

// The record's date text as a moment: an RFC 5322 date (comments dropped), the clock text of
// this or the C locale, or a plain numeric date.
QDateTime readDate(const QString& text) {
    QString date = trimSpaces(text);
    date.remove(QRegularExpression(QStringLiteral("\\([^)]*\\)")));
    date = date.trimmed();
    QDateTime moment = QDateTime::fromString(date, Qt::RFC2822Date);
    if (moment.isValid())
        return moment;
    for (const QLocale& locale : {QLocale::system(), QLocale::c()}) {
        QString time = locale.timeFormat(QLocale::LongFormat);
        time.remove(QRegularExpression(QStringLiteral("\\s*t+")));
        moment = locale.toDateTime(date, locale.dateFormat(QLocale::ShortFormat) +
                                             QLatin1Char(' ') + time.trimmed());
        if (moment.isValid())
            return moment;
    }
    for (const char* format : {"yyyy/M/d H:mm:ss", "yyyy/M/d H:mm", "yyyy-MM-dd HH:mm:ss"}) {
        moment = QDateTime::fromString(date, QLatin1String(format));
        if (moment.isValid())
            return moment;
    }
    return QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
}

MailAddress readAddress(const QString& text) {
    const QString trimmed = trimSpaces(text);
    if (std::optional<MailAddress> address = mime::parseMailAddress(trimmed))
        return *address;
    return {trimmed, QStringLiteral("unknown@invalid")};
}

} // namespace

QByteArray messageFromRecord(const MailRecord& record, Box box, const QString& ownAddress) {
    OutgoingMessage message;
    const MailAddress other = readAddress(record.from);
    const std::optional<MailAddress> own = mime::parseMailAddress(trimSpaces(ownAddress));
    if (isSentBox(box)) {
        message.from = own ? *own : MailAddress{QString(), QStringLiteral("unknown@invalid")};
        message.to = {other};
    } else {
        message.from = other;
        if (own)
            message.to = {*own};
    }
    message.subject = trimSpaces(cutAtZero(record.subject));
    message.body = trimSpaces(cutAtZero(record.body));
    message.date = readDate(cutAtZero(record.date));
    // Without attachments or an extra header nothing can fail.
    return MimeWriter().write(message).value_or(QByteArray());
}

QByteArray messageFromRecord(const MailRecord& record, Box box) {
    return messageFromRecord(record, box, ServerSettings::current().senderAddress);
}

StoreResult wholeMessage(const MailRecord& record, Box box, QByteArray& bytes, bool* kept) {
    bool found = false;
    const StoreResult r = Originals::read(recordDigest(record), bytes, &found);
    if (kept)
        *kept = found;
    if (r && !found)
        bytes = messageFromRecord(record, box);
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
