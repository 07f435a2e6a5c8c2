#include "exchange/recordmessage.h"

#include "base/paths.h"
#include "base/text.h"
#include "exchange/recordjis.h"
#include "maillib/maildates.h"
#include "maillib/mimewriter.h"
#include "store/fielddecode.h"

#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

namespace kiku {

namespace {

// Where an address cannot be read from a record: a reserved name no mail can reach.
const QString kUnknownAddress = QStringLiteral("unknown@invalid");

// A field without its padding, cut before its first zero and trimmed again there.
QByteArrayView beforeZero(QByteArrayView field) {
    if (const void* zero = std::memchr(field.data(), 0, size_t(field.size()))) {
        qsizetype size = static_cast<const char*>(zero) - field.data();
        while (size > 0 && field[size - 1] == ' ')
            --size;
        return field.first(size);
    }
    return field;
}

// A field without its padding as the viewer shows it: decoded and trimmed.
QString shownField(QByteArrayView field) {
    field = beforeZero(field);
    return trimSpaces(decodeCp932Field(field.data(), field.size()));
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

// The common header date "Tue, 5 Mar 2024 14:03:22 +0900" (day name and seconds optional)
// read without the regular expressions and Qt's general parser; nothing for any other text,
// which then takes the long way. The moment and offset are those Qt reads; the same shape
// with a one-digit hour, minute or second ("10:1:00"), which Qt refuses, reads as an invalid
// moment.
std::optional<QDateTime> plainHeaderDate(const QString& text) {
    const auto& months = mime::kMonthNames;
    const QChar* p = text.constData();
    const QChar* const end = p + text.size();
    int n = 0; // digits read by the last call of digits()
    const auto digits = [&](int least, int most, int& value) {
        n = 0;
        value = 0;
        while (p < end && n < most && p->isDigit() && p->unicode() < 0x80) {
            value = value * 10 + (p->unicode() - '0');
            ++p;
            ++n;
        }
        return n >= least && !(p < end && p->isDigit());
    };
    const auto skip = [&](char c) { return p < end && *p == QLatin1Char(c) && ++p; };
    if (text.size() > 4 && text.at(3) == QLatin1Char(',')) {
        for (int i = 0; i < 3; ++i) {
            if (!(p[i].unicode() < 0x80 && p[i].isLetter()))
                return std::nullopt;
        }
        p += 4;
        if (!skip(' '))
            return std::nullopt;
    }
    int day, year, hour, minute, second = 0, zone;
    if (!digits(1, 2, day) || !skip(' ') || end - p < 4)
        return std::nullopt;
    int month = 0;
    while (month < 12 && QStringView(p, 3) != QLatin1String(months[month]))
        ++month;
    p += 3;
    if (month == 12 || !skip(' ') || !digits(4, 4, year) || !skip(' ') || !digits(1, 2, hour))
        return std::nullopt;
    bool twoDigitTime = n == 2;
    if (!skip(':') || !digits(1, 2, minute))
        return std::nullopt;
    twoDigitTime = twoDigitTime && n == 2;
    if (skip(':')) {
        if (!digits(1, 2, second))
            return std::nullopt;
        twoDigitTime = twoDigitTime && n == 2;
    }
    if (!skip(' ') || p == end)
        return std::nullopt;
    const int sign = *p == QLatin1Char('-') ? -1 : 1;
    if (!(skip('+') || skip('-')) || !digits(4, 4, zone) || p != end || zone / 100 > 14 ||
        zone % 100 > 59)
        return std::nullopt;
    if (!twoDigitTime)
        return QDateTime();
    const QDate date(year, month + 1, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::OffsetFromUTC, sign * (zone / 100 * 3600 + zone % 100 * 60));
}

QDateTime parseLongHeaderDate(const QString& header) {
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

QDateTime parseHeaderDate(const QString& header) {
    if (std::optional<QDateTime> plain = plainHeaderDate(header))
        return *plain;
    return parseLongHeaderDate(header);
}

// The format of the main window's clock text (see clockText), and of its date alone.
struct ClockFormat {
    QString whole;
    QString date;
};
ClockFormat clockFormat(const QLocale& locale) {
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*t+"));
    timeFormat.remove(zone);
    const QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    return {dateFormat + QLatin1Char(' ') + timeFormat.trimmed(), dateFormat};
}

// Whether every form but the header date begins with a number: the clock text when its
// format opens with a numeric day, month or year, the fixed forms and ISO dates always. A
// text that begins with a letter, as a header date with its day name does, is then none of
// them.
bool otherFormsStartWithNumbers() {
    static const bool numeric = [] {
        const QString format = clockFormat(QLocale::system()).whole;
        if (format.isEmpty() || !QByteArrayView("dMy").contains(char(format.at(0).unicode())))
            return false;
        qsizetype run = 1;
        while (run < format.size() && format.at(run) == format.at(0))
            ++run;
        return format.at(0) == QLatin1Char('y') || run < 3; // "ddd" and "MMM" are names
    }();
    return numeric;
}

// The clock text of the main window (see clockText) read back.
QDateTime parseClockText(const QString& text) {
    const QLocale locale = QLocale::system();
    const ClockFormat format = clockFormat(locale);
    QDateTime t = locale.toDateTime(text, format.whole);
    // A two-digit year reads as 19xx; the program was not written then.
    if (t.isValid() && !format.date.contains(QLatin1String("yyyy")) && t.date().year() < 1970)
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
// `list` is addressesOf(text).
MailAddress oneAddress(const QString& text, const QList<MailAddress>& list) {
    if (list.size() == 1)
        return list.first();
    return {text, kUnknownAddress};
}
MailAddress oneAddress(const QString& text) {
    return oneAddress(text, addressesOf(text));
}

// addressesOf(account), read once while the same account comes again, as it does for
// every record of an export.
const QList<MailAddress>& accountAddresses(const QString& account) {
    thread_local QString last;
    thread_local QList<MailAddress> addresses;
    if (account != last) {
        addresses = addressesOf(account);
        last = account;
    }
    return addresses;
}

// A message with the record's header fields and no text yet.
OutgoingMessage headedMessage(const QString& subject, const QString& from, Box box,
                              const QString& account, const QDateTime& date) {
    OutgoingMessage message;
    const QList<MailAddress>& accountList = accountAddresses(account);
    if (isSentBox(box)) {
        message.from = oneAddress(account, accountList);
        message.to = addressesOf(from);
        if (message.to.isEmpty())
            message.to = {oneAddress(from)};
    } else {
        message.from = oneAddress(from);
        message.to = accountList;
    }
    message.subject = subject;
    message.date = date;
    return message;
}

} // namespace

ViewedMail viewedMail(const MailRecord& record) {
    return {trimSpaces(cutAtZero(record.subject)), trimSpaces(cutAtZero(record.from)),
            trimSpaces(cutAtZero(record.date)), trimSpaces(cutAtZero(record.body))};
}

ViewedMail viewedMail(const char* bytes, RecordLayout layout) {
    const StoredFields stored = storedFields(bytes, layout);
    return {shownField(stored.subject), shownField(stored.from), shownField(stored.date),
            shownField(stored.body)};
}

RecordFields recordFields(const char* bytes, RecordLayout layout) {
    return recordFields(storedFields(bytes, layout));
}

RecordFields recordFields(const StoredFields& stored) {
    return {shownField(stored.subject), shownField(stored.from), shownField(stored.date),
            beforeZero(stored.body)};
}

bool isSentBox(Box box) {
    return box == Box::PartnerSent || box == Box::OthersSent;
}

namespace {

QDateTime parseRecordDate(const QString& text, bool quick) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return {};
    const auto sane = [](const QDateTime& d) {
        return d.isValid() && d.date().year() >= 1900 && d.date().year() <= 9999;
    };
    // Cheapest and most common first: received mail carries a header date.
    const QDateTime header = quick ? parseHeaderDate(t) : parseLongHeaderDate(t);
    if (sane(header))
        return header;
    if (quick && t.at(0).unicode() < 0x80 && t.at(0).isLetter() && otherFormsStartWithNumbers())
        return {};
    for (QDateTime (*parse)(const QString&) : {&parseClockText, &parseFixedForms, &parseIsoDate}) {
        const QDateTime d = parse(t);
        if (sane(d))
            return d;
    }
    return {};
}

} // namespace

QDateTime parseRecordDate(const QString& text) {
    return parseRecordDate(text, true);
}

QDateTime parseRecordDateLongWay(const QString& text) {
    return parseRecordDate(text, false);
}

QByteArray messageFromRecord(const ViewedMail& mail, Box box, const QString& account,
                             const QDateTime& date) {
    OutgoingMessage message = headedMessage(mail.subject, mail.from, box, account, date);
    message.body = mail.body;
    // Nothing here can fail: there are no attachments and no extra header lines.
    return MimeWriter().write(message).value_or(QByteArray());
}

QByteArray messageFromRecord(const RecordFields& fields, Box box, const QString& account,
                             const QDateTime& date) {
    OutgoingMessage message = headedMessage(fields.subject, fields.from, box, account, date);
    if (std::optional<QByteArray> jis = iso2022JpText(fields.body))
        message.iso2022JpBody = std::move(*jis);
    else
        message.body = trimSpaces(decodeCp932Field(fields.body.data(), fields.body.size()));
    return MimeWriter().write(message).value_or(QByteArray());
}

namespace {

// Blanks as a separator line's address ends at them: the ASCII ones.
bool isAsciiBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The address a From field's text gives its separator line: leftmost, either
// "<local@domain>" (without the brackets), or a bare local@domain, which ends before a
// quote or a comma. Read without a regular expression, which would cost a good share of an
// export, each stretch of characters once.
std::optional<QByteArrayView> separatorAddress(QByteArrayView text) {
    const qsizetype size = text.size();
    const auto runEnd = [&](qsizetype from, auto inRun) {
        while (from < size && inRun(text[from]))
            ++from;
        return from;
    };
    const auto bracketed = [](char c) { return c != '<' && c != '>' && !isAsciiBlank(c); };
    const auto bare = [&](char c) { return bracketed(c) && c != '"'; };
    const auto domain = [&](char c) { return bare(c) && c != ','; };
    for (qsizetype p = 0; p < size;) {
        if (text[p] == '<') {
            // An '@' with something before and after it, all up to a closing '>'.
            const qsizetype end = runEnd(p + 1, bracketed);
            if (end < size && text[end] == '>') {
                for (qsizetype at = p + 2; at < end - 1; ++at) {
                    if (text[at] == '@')
                        return text.sliced(p + 1, end - p - 1);
                }
            }
            ++p;
            continue;
        }
        if (!bare(text[p])) {
            ++p;
            continue;
        }
        // The last '@' of the stretch that has a domain character after it; a later start
        // in the same stretch could find none that this one did not.
        const qsizetype end = runEnd(p, bare);
        for (qsizetype at = end - 2; at > p; --at) {
            if (text[at] == '@' && domain(text[at + 1]))
                return text.sliced(p, runEnd(at + 1, domain) - p);
        }
        p = end;
    }
    return std::nullopt;
}

} // namespace

QByteArray envelopeSender(const QByteArray& message) {
    qsizetype pos = 0;
    while (pos < message.size()) {
        qsizetype end = message.indexOf('\n', pos);
        if (end < 0)
            end = message.size();
        const QByteArrayView line = QByteArrayView(message).sliced(pos, end - pos).trimmed();
        if (line.isEmpty())
            break; // end of the header
        if (line.size() > 5 && qstrnicmp(line.data(), "from:", 5) == 0) {
            if (const std::optional<QByteArrayView> address = separatorAddress(line.sliced(5)))
                return address->toByteArray();
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
