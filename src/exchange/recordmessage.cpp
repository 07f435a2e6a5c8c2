#include "exchange/recordmessage.h"

#include "base/paths.h"
#include "base/text.h"
#include "maillib/mimewriter.h"
#include "store/fielddecode.h"

#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

namespace kiku {

namespace {

// Where an address cannot be read from a record: a reserved name no mail can reach.
const QString kUnknownAddress = QStringLiteral("unknown@invalid");

// A field's bytes before the first zero and without trailing padding, decoded and trimmed.
QString shownField(const char* bytes, FieldSpan span) {
    const char* start = bytes + span.offset;
    const void* zero = std::memchr(start, 0, size_t(span.width));
    qsizetype size = zero ? static_cast<const char*>(zero) - start : span.width;
    while (size > 0 && start[size - 1] == ' ')
        --size;
    return trimSpaces(decodeCp932Field(start, size));
}

// Zone names older mail still carries, as numeric offsets.
QString numericZones(QString text) {
    static const QList<std::pair<QString, QString>> zones{
        {QStringLiteral("GMT"), QStringLiteral("+0000")},
        {QStringLiteral("UTC"), QStringLiteral("+0000")},
        {QStringLiteral("UT"), QStringLiteral("+0000")},
        {QStringLiteral("JST"), QStringLiteral("+0900")},
        {QStringLiteral("EST"), QStringLiteral("-0500")},
        {QStringLiteral("EDT"), QStringLiteral("-0400")},
        {QStringLiteral("CST"), QStringLiteral("-0600")},
        {QStringLiteral("CDT"), QStringLiteral("-0500")},
        {QStringLiteral("MST"), QStringLiteral("-0700")},
        {QStringLiteral("MDT"), QStringLiteral("-0600")},
        {QStringLiteral("PST"), QStringLiteral("-0800")},
        {QStringLiteral("PDT"), QStringLiteral("-0700")},
    };
    for (const auto& [name, offset] : zones) {
        if (text.endsWith(QLatin1Char(' ') + name)) {
            text.chop(name.size());
            return text + offset;
        }
    }
    return text;
}

QDateTime parseHeaderDate(const QString& header) {
    QString text = header;
    static const QRegularExpression comment(QStringLiteral("\\([^()]*\\)"));
    text.remove(comment);
    text = numericZones(text.simplified());
    QDateTime t = QDateTime::fromString(text, Qt::RFC2822Date);
    if (!t.isValid()) {
        // Without its day name, or with a day name Qt does not take.
        static const QRegularExpression dayName(QStringLiteral("^[A-Za-z]+,\\s*"));
        t = QDateTime::fromString(QString(text).remove(dayName), Qt::RFC2822Date);
    }
    return t;
}

// The clock text of the main window (see clockText) read back.
QDateTime parseClockText(const QString& text) {
    const QLocale locale = QLocale::system();
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*t+"));
    timeFormat.remove(zone);
    const QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    QDateTime t = locale.toDateTime(text, dateFormat + QLatin1Char(' ') + timeFormat.trimmed());
    // A two-digit year reads as 19xx; the program was not written then.
    if (t.isValid() && !dateFormat.contains(QLatin1String("yyyy")) && t.date().year() < 1970)
        t = t.addYears(100);
    return t;
}

QDateTime parseFixedForms(const QString& text) {
    static const QStringList forms{
        QStringLiteral("yyyy/M/d H:mm:ss"),     QStringLiteral("yyyy/M/d H:mm"),
        QStringLiteral("yyyy-M-d H:mm:ss"),     QStringLiteral("yyyy-MM-ddTHH:mm:ss"),
        QStringLiteral("yyyy年M月d日 H:mm:ss"), QStringLiteral("yyyy年M月d日 H時mm分ss秒"),
    };
    for (const QString& form : forms) {
        const QDateTime t = QDateTime::fromString(text, form);
        if (t.isValid())
            return t;
    }
    return {};
}

QDateTime parseIsoDate(const QString& text) {
    return QDateTime::fromString(text, Qt::ISODate);
}

// The record's address text as addresses; nothing when any part of it is not an address.
QList<MailAddress> addressesOf(const QString& text) {
    QList<MailAddress> out;
    for (const QString& item : mime::splitAddressList(text)) {
        const std::optional<MailAddress> address = mime::parseMailAddress(item);
        if (!address)
            return {};
        out += *address;
    }
    return out;
}

// One address for a From field: the text read as one address, or the text kept as the
// name of a placeholder address, so that what the record says still shows.
MailAddress oneAddress(const QString& text) {
    const QList<MailAddress> list = addressesOf(text);
    if (list.size() == 1)
        return list.first();
    return {text, kUnknownAddress};
}

} // namespace

ViewedMail viewedMail(const MailRecord& record) {
    return {trimSpaces(cutAtZero(record.subject)), trimSpaces(cutAtZero(record.from)),
            trimSpaces(cutAtZero(record.date)), trimSpaces(cutAtZero(record.body))};
}

ViewedMail viewedMail(const char* bytes, RecordLayout layout) {
    const MailLayout& l = mailLayout(layout);
    return {shownField(bytes, l.subject), shownField(bytes, l.from), shownField(bytes, l.date),
            shownField(bytes, l.body)};
}

bool isSentBox(Box box) {
    return box == Box::PartnerSent || box == Box::OthersSent;
}

QDateTime parseRecordDate(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return {};
    const auto sane = [](const QDateTime& d) {
        return d.isValid() && d.date().year() >= 1900 && d.date().year() <= 9999;
    };
    // Cheapest and most common first: received mail carries a header date.
    for (QDateTime (*parse)(const QString&) :
         {&parseHeaderDate, &parseClockText, &parseFixedForms, &parseIsoDate}) {
        const QDateTime d = parse(t);
        if (sane(d))
            return d;
    }
    return {};
}

QByteArray messageFromRecord(const ViewedMail& mail, Box box, const QString& account,
                             const QDateTime& date) {
    OutgoingMessage message;
    if (isSentBox(box)) {
        message.from = oneAddress(account);
        message.to = addressesOf(mail.from);
        if (message.to.isEmpty())
            message.to = {oneAddress(mail.from)};
    } else {
        message.from = oneAddress(mail.from);
        message.to = addressesOf(account);
    }
    message.subject = mail.subject;
    message.body = mail.body;
    message.date = date;
    // Nothing here can fail: there are no attachments and no extra header lines.
    return MimeWriter().write(message).value_or(QByteArray());
}

QByteArray envelopeSender(const QByteArray& message) {
    qsizetype pos = 0;
    while (pos < message.size()) {
        qsizetype end = message.indexOf('\n', pos);
        if (end < 0)
            end = message.size();
        const QByteArray line = message.mid(pos, end - pos).trimmed();
        if (line.isEmpty())
            break; // end of the header
        if (line.size() > 5 && qstrnicmp(line.constData(), "from:", 5) == 0) {
            static const QRegularExpression address(
                QStringLiteral("<([^<>\\s]+@[^<>\\s]+)>|([^<>\\s\"]+@[^<>\\s\",]+)"));
            const QRegularExpressionMatch m = address.match(QString::fromLatin1(line.mid(5)));
            if (m.hasMatch())
                return (m.captured(1).isEmpty() ? m.captured(2) : m.captured(1)).toLatin1();
            break;
        }
        pos = end + 1;
    }
    return QByteArrayLiteral("MAILER-DAEMON");
}

QDateTime boxFileTime(Box box) {
    const QFileInfo info(
        ProgramFolder::resolve(paths::kDataFolder + QString::fromLatin1(boxInfo(box).fileName)));
    return info.exists() ? info.lastModified() : QDateTime::currentDateTime();
}

} // namespace kiku
