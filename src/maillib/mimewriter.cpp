#include "maillib/mimewriter.h"

#include "maillib/jischaracters.h"
#include "maillib/maildates.h"

#include "base/codec.h"
#include "base/syserror.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimeZone>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kiku {

namespace mime {

// Each step looks back from the farthest place the current line may end, so a text of short
// lines costs one search per `limit` bytes rather than one per line.
bool linesFit(const QByteArray& bytes, qsizetype limit) {
    const char* lineStart = bytes.constData();
    const char* const end = lineStart + bytes.size();
    while (end - lineStart > limit) {
        // The line ends in time when a CR LF starts at most `limit` bytes on: the last such
        // LF in reach starts the next line to check (every line before it fits as well).
        const char* searchEnd = lineStart + qMin<qsizetype>(limit + 2, end - lineStart);
        const char* lf = nullptr;
        while (searchEnd > lineStart + 1) {
            const auto* found = static_cast<const char*>(
                memrchr(lineStart + 1, '\n', size_t(searchEnd - (lineStart + 1))));
            if (!found || found[-1] == '\r') {
                lf = found;
                break;
            }
            searchEnd = found;
        }
        if (!lf)
            return false;
        lineStart = lf + 1;
    }
    return true;
}

} // namespace mime

namespace {

// Whether `text` is not empty and each of its characters is ASCII that `allowed` takes. The
// checks below are simple enough to need no regular expression, which would cost more than
// the rest of a small message's header.
template <class Allowed> bool allAscii(QStringView text, Allowed allowed) {
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c.unicode() >= 0x80 || !allowed(char(c.unicode())))
            return false;
    }
    return true;
}

bool isAsciiAlphanumeric(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Header lines are kept under 76 characters (CR LF not counted).
constexpr int kMaxLine = 75;
// A word shorter than this is not worth starting at the end of a line: fold first.
constexpr int kMinWordRoom = 30;
// RFC 5322's hard limit for a line of 7-bit text.
constexpr int kMaxBodyLine = 998;
// The longest address an SMTP path holds (RFC 5321: 256 with the angle brackets); it also
// keeps every address line of the header far below the hard limit.
constexpr int kMaxAddress = 254;

const QByteArray kJisCharset = QByteArrayLiteral("ISO-2022-JP");
const QByteArray kCrLf = QByteArrayLiteral("\r\n");

using mime::putDigits;

bool isPrintableAscii(const QString& text) {
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

// Text that may stand in a header as it is: printable ASCII that no reader would take for
// an encoded word.
bool canGoRaw(const QString& text) {
    return isPrintableAscii(text) && !text.contains(QLatin1String("=?"));
}

// CR LF, a lone CR and a lone LF all become CR LF.
QString normalisedLineEnds(const QString& text) {
    QString out;
    out.reserve(text.size() + text.size() / 32);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out += QLatin1String("\r\n");
        } else if (c == QLatin1Char('\n')) {
            out += QLatin1String("\r\n");
        } else {
            out += c;
        }
    }
    return out;
}

// Base64 in lines of 76 characters joined by CR LF, without a final line end.
QByteArray wrappedBase64(const QByteArray& bytes) {
    const QByteArray plain = bytes.toBase64();
    QByteArray out;
    out.reserve(plain.size() + plain.size() / 38 + 2);
    for (qsizetype i = 0; i < plain.size(); i += 76) {
        if (i > 0)
            out += kCrLf;
        out += plain.mid(i, 76);
    }
    return out;
}

// One RFC 2047 B word for the longest run of code points from `pos` that fits in `room`
// characters (always at least one code point). Advances `pos`.
QByteArray takeWord(const QList<uint>& codePoints, qsizetype& pos, int room, bool jis) {
    const QByteArray prefix =
        jis ? QByteArrayLiteral("=?ISO-2022-JP?B?") : QByteArrayLiteral("=?UTF-8?B?");
    const int overhead = int(prefix.size()) + 2;
    auto encodeRun = [&](qsizetype count) {
        const QString run = QString::fromUcs4(
            reinterpret_cast<const char32_t*>(codePoints.constData() + pos), count);
        return jis ? codec::encode(run, kJisCharset) : run.toUtf8();
    };
    auto wordLength = [&](qsizetype bytes) { return overhead + int((bytes + 2) / 3) * 4; };

    // A run's bytes only grow with it, so the longest run that fits is found by halving the
    // range between a count that fits (or is the one character every word takes) and one
    // that does not; no word holds more characters than its room.
    qsizetype count = 1;
    QByteArray best = encodeRun(1);
    qsizetype tooMany = qMin(codePoints.size() - pos, qsizetype(qMax(room, 1))) + 1;
    while (tooMany - count > 1) {
        const qsizetype middle = count + (tooMany - count) / 2;
        QByteArray run = encodeRun(middle);
        if (wordLength(run.size()) > room) {
            tooMany = middle;
        } else {
            count = middle;
            best = std::move(run);
        }
    }
    pos += count;
    return prefix + best.toBase64() + "?=";
}

// One word of characters numbered as jisCharacters numbers them: the same word takeWord
// finds, the run's length counted character by character instead of each trial length
// written out (a run's bytes grow with every character, so the longest that fits is the
// same).
QByteArray takeJisWord(const QList<quint16>& characters, qsizetype& pos, int room) {
    const QByteArray prefix = QByteArrayLiteral("=?ISO-2022-JP?B?");
    const auto wordLength = [&](qsizetype bytes) {
        return int(prefix.size()) + 2 + int((bytes + 2) / 3) * 4;
    };
    const qsizetype most = qMin(characters.size() - pos, qsizetype(qMax(room, 1)));
    qsizetype count = 1;
    qsizetype bytes = 0; // of the first `count` characters, without the final escape
    bool jis = false;
    for (qsizetype n = 0; n < most; ++n) {
        const bool next = characters.at(pos + n) >= 0x80;
        bytes += (next ? 2 : 1) + (next != jis ? 3 : 0);
        jis = next;
        if (n > 0 && wordLength(bytes + (jis ? 3 : 0)) > room)
            break;
        count = n + 1;
    }
    const QByteArray run = mime::iso2022JpOf(characters.constData() + pos, count);
    pos += count;
    QByteArray word;
    word.reserve(wordLength(run.size()));
    word += prefix;
    word += run.toBase64();
    word += "?=";
    return word;
}

// Cuts the text into encoded words, each as long as `room()` allows, and hands each to
// `take`: from its JIS characters when it has them, else by converting trial runs.
template <typename Room, typename Take>
void forEachWord(const QString& text, const Room& room, const Take& take) {
    if (const std::optional<QList<quint16>> characters = mime::jisCharacters(text)) {
        for (qsizetype pos = 0; pos < characters->size();)
            take(takeJisWord(*characters, pos, room()));
        return;
    }
    const bool jis = mime::fitsIso2022Jp(text);
    const QList<uint> codePoints = (jis ? mime::toJisForms(text) : text).toUcs4();
    for (qsizetype pos = 0; pos < codePoints.size();)
        take(takeWord(codePoints, pos, room(), jis));
}

// Writes one header field, folding before a piece that would pass the line limit.
class FieldFolder {
public:
    explicit FieldFolder(const QByteArray& name) : m_line(int(name.size()) + 1) {
        m_out.reserve(128); // most fields fit, without growing on the way
        m_out += name;
        m_out += ':';
    }

    // A piece that is never split, after one space.
    void atom(const QByteArray& piece) {
        if (m_line + 1 + piece.size() > kMaxLine && m_line > 0)
            fold();
        m_out += ' ';
        m_out += piece;
        m_line += 1 + int(piece.size());
    }

    // Printable ASCII text written as it is; folded only before its own spaces, so that
    // unfolding gives back exactly the text.
    void raw(const QString& text) {
        const QByteArray bytes = text.toLatin1();
        m_out += ' ';
        ++m_line;
        qsizetype i = 0;
        while (i < bytes.size()) {
            qsizetype end = i;
            while (end < bytes.size() && bytes.at(end) == ' ')
                ++end;
            while (end < bytes.size() && bytes.at(end) != ' ')
                ++end;
            const QByteArray segment = bytes.mid(i, end - i);
            if (segment.startsWith(' ') && m_line + segment.size() > kMaxLine && m_line > 1)
                fold();
            m_out += segment;
            m_line += int(segment.size());
            i = end;
        }
    }

    // Any text as encoded words sized to the room left on each line.
    void encoded(const QString& text) {
        forEachWord(
            text,
            [&] {
                if (kMaxLine - m_line - 1 < kMinWordRoom)
                    fold();
                return kMaxLine - m_line - 1;
            },
            [&](const QByteArray& word) { atom(word); });
    }

    // The field with its line end; the folder is done with then.
    QByteArray finish() {
        m_out += kCrLf;
        return std::move(m_out);
    }

private:
    // The next piece starts with the space that continues the field.
    void fold() {
        m_out += kCrLf;
        m_line = 0;
    }

    QByteArray m_out;
    int m_line;
};

// True when a piece that is never split fits on a continuation line.
bool fitsOnALine(qsizetype pieceSize) {
    return 1 + pieceSize <= kMaxLine;
}

// A display name as the words of an address list: atom, quoted string or encoded words.
// A name too long for one line goes as encoded words, which fold between them.
void appendDisplayName(FieldFolder& field, const QString& name) {
    // Atoms and the spaces between them need no quotes.
    const auto plainPhrase = [](char c) {
        return isAsciiAlphanumeric(c) || QByteArrayView(" !#$%&'*+/=?^_`{|}~-").contains(c);
    };
    QByteArray piece;
    if (canGoRaw(name)) {
        piece = name.toLatin1();
        if (!allAscii(name, plainPhrase))
            piece = '"' + piece.replace('\\', "\\\\").replace('"', "\\\"") + '"';
    }
    if (piece.isEmpty() || !fitsOnALine(piece.size()))
        field.encoded(name);
    else
        field.atom(piece);
}

QByteArray addressField(const QByteArray& name, const QList<MailAddress>& list) {
    FieldFolder field(name);
    for (qsizetype i = 0; i < list.size(); ++i) {
        const MailAddress& box = list.at(i);
        const QByteArray separator = i + 1 < list.size() ? QByteArrayLiteral(",") : QByteArray();
        if (box.displayName.isEmpty()) {
            field.atom(box.address.toLatin1() + separator);
        } else {
            appendDisplayName(field, box.displayName);
            field.atom('<' + box.address.toLatin1() + '>' + separator);
        }
    }
    return field.finish();
}

QByteArray unstructuredField(const QByteArray& name, const QString& text) {
    // Some readers squeeze the spaces at a fold into one; text whose runs of spaces matter
    // and that needs folding goes as encoded words, which keep every space.
    const bool fitsOneLine = name.size() + 2 + text.size() <= kMaxLine;
    if (canGoRaw(text) && (fitsOneLine || !text.contains(QLatin1String("  ")))) {
        FieldFolder raw(name);
        raw.raw(text);
        // A run with no space to fold at (a pasted URL) would make a line strict servers
        // refuse: then the whole text goes as encoded words, folded between them.
        const QByteArray field = raw.finish();
        if (mime::linesFit(field.chopped(2), kMaxLine))
            return field;
    }
    FieldFolder field(name);
    field.encoded(text);
    return field.finish();
}

// The Message-ID's right side: the sender's domain when it is a plain host name.
QByteArray messageIdDomain(const QString& address) {
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    const QStringView domain = at >= 0 ? QStringView(address).sliced(at + 1) : QStringView();
    // Labels of letters, digits and '-', none of them empty.
    const bool hostName =
        allAscii(domain, [](char c) { return isAsciiAlphanumeric(c) || c == '-' || c == '.'; }) &&
        !domain.startsWith(QLatin1Char('.')) && !domain.endsWith(QLatin1Char('.')) &&
        !domain.contains(QLatin1String(".."));
    return hostName ? domain.toLatin1() : QByteArrayLiteral("localhost");
}

QByteArray newMessageId(const QString& senderAddress) {
    static std::atomic<quint32> counter{0};
    // The random part only keeps apart the ids of one moment: the seeded generator serves as
    // well as the system's, at a fraction of its cost.
    const quint64 random = QRandomGenerator::global()->generate64();
    // yyyyMMddHHmmsszzz, written by hand: Qt's date formatting is a good part of a small
    // message's cost.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDate d = now.date();
    const QTime t = now.time();
    char stamp[] = "<yyyyMMddHHmmsszzz.";
    putDigits(stamp + 1, qBound(0, d.year(), 9999), 4);
    putDigits(stamp + 5, d.month(), 2);
    putDigits(stamp + 7, d.day(), 2);
    putDigits(stamp + 9, t.hour(), 2);
    putDigits(stamp + 11, t.minute(), 2);
    putDigits(stamp + 13, t.second(), 2);
    putDigits(stamp + 15, t.msec(), 3);
    QByteArray id(stamp, sizeof stamp - 1);
    char hex[16]; // the random number in lowercase hex without leading zeros
    int digits = 0;
    for (quint64 rest = random; digits == 0 || rest != 0; rest >>= 4)
        hex[15 - digits++] = "0123456789abcdef"[rest & 15];
    id.append(hex + 16 - digits, digits);
    id += '.';
    id += QByteArray::number(++counter);
    id += '@';
    id += messageIdDomain(senderAddress);
    id += '>';
    return id;
}

// RFC 2231 attr-char: what may stand unescaped in an extended parameter value.
bool isAttrChar(uchar c) {
    return isAsciiAlphanumeric(char(c)) || QByteArrayView("!#$&+-.^_`|~").contains(char(c));
}

QByteArray percentEncoded(const QString& text) {
    QByteArray out;
    for (uchar c : text.toUtf8()) {
        if (isAttrChar(c))
            out += char(c);
        else
            out += '%' + QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
    }
    return out;
}

// The name as it stands in quotes, when it is ASCII and the parameter fits on its line.
std::optional<QByteArray> plainQuotedName(const QByteArray& parameter, const QString& name) {
    if (!isPrintableAscii(name))
        return std::nullopt;
    QByteArray value = name.toLatin1();
    value.replace('\\', "\\\\").replace('"', "\\\"");
    // Room: the leading space, "=", the two quotes and the ";" after them.
    if (parameter.size() + value.size() + 5 > kMaxLine)
        return std::nullopt;
    return '"' + value + '"';
}

// ` parameter="value"` for a file name, folded inside the quotes when long. ASCII names
// that fit are quoted as they are; others become encoded words inside the quotes, the form
// common Japanese mail programs read.
QByteArray quotedNameParameter(const QByteArray& parameter, const QString& name) {
    const QByteArray head = ' ' + parameter + "=\"";
    if (const std::optional<QByteArray> plain = plainQuotedName(parameter, name))
        return ' ' + parameter + '=' + *plain;
    // Room: the line prefix, the closing quote and the ";" after it.
    const QList<QByteArray> words =
        mime::encodedWords(name, kMaxLine - int(head.size()) - 2, kMaxLine - 1 - 2);
    return head + words.join("\r\n ") + '"';
}

// RFC 2231 `filename*=UTF-8''...` lines, split into numbered sections when long.
QList<QByteArray> extendedNameLines(const QByteArray& parameter, const QString& name) {
    const QByteArray single = ' ' + parameter + "*=UTF-8''" + percentEncoded(name);
    if (single.size() + 1 <= kMaxLine)
        return {single};
    QList<QByteArray> lines;
    QByteArray current;
    auto startSection = [&] {
        const qsizetype n = lines.size();
        current = ' ' + parameter + '*' + QByteArray::number(n) + "*=";
        if (n == 0)
            current += "UTF-8''";
    };
    startSection();
    for (uint cp : name.toUcs4()) {
        const QByteArray piece =
            percentEncoded(QString::fromUcs4(reinterpret_cast<const char32_t*>(&cp), 1));
        if (current.size() + piece.size() + 1 > kMaxLine && !current.endsWith("=") &&
            !current.endsWith("''")) {
            lines += current;
            startSection();
        }
        current += piece;
    }
    lines += current;
    return lines;
}

// Joins parameters under a header: "Name: value;" CR LF " p1;" CR LF " p2" CR LF.
QByteArray parameterField(const QByteArray& head, const QList<QByteArray>& lines) {
    QByteArray out = head;
    for (const QByteArray& line : lines)
        out += ";\r\n" + line;
    return out + kCrLf;
}

} // namespace

namespace mime {

QStringList splitAddressList(const QString& text) {
    QStringList items;
    QString current;
    bool quoted = false;
    bool escaped = false;
    int angle = 0;
    for (QChar c : text) {
        if (escaped) {
            escaped = false;
        } else if (quoted && c == QLatin1Char('\\')) {
            escaped = true;
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char('<')) {
            ++angle;
        } else if (!quoted && c == QLatin1Char('>') && angle > 0) {
            --angle;
        } else if (!quoted && angle == 0 && c == QLatin1Char(',')) {
            items += current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    items += current.trimmed();
    items.removeAll(QString());
    return items;
}

std::optional<MailAddress> parseMailAddress(const QString& text) {
    const QString trimmed = text.trimmed();
    MailAddress box;
    const qsizetype open = trimmed.lastIndexOf(QLatin1Char('<'));
    if (open >= 0 && trimmed.endsWith(QLatin1Char('>'))) {
        box.address = trimmed.mid(open + 1, trimmed.size() - open - 2).trimmed();
        QString name = trimmed.left(open).trimmed();
        if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) &&
            name.endsWith(QLatin1Char('"'))) {
            QString unquoted;
            for (qsizetype i = 1; i + 1 < name.size(); ++i) {
                if (name.at(i) == QLatin1Char('\\') && i + 2 < name.size())
                    ++i;
                unquoted += name.at(i);
            }
            name = unquoted;
        }
        box.displayName = name;
    } else {
        box.address = trimmed;
    }
    // The address goes into "MAIL FROM:<...>" and "RCPT TO:<...>": nothing that could end
    // or bend the command.
    const auto sendable = [](char c) {
        return c == '!' || (c >= '#' && c <= '\'') || c == '*' || c == '+' ||
               (c >= '-' && c <= '9') || c == '=' || c == '?' || c == '@' ||
               (c >= 'A' && c <= 'Z') || (c >= '^' && c <= '~');
    };
    if (!allAscii(box.address, sendable) || box.address.size() > kMaxAddress)
        return std::nullopt;
    // A name with line breaks or other controls is not a name but a pasting accident.
    for (QChar c : box.displayName) {
        if (c.category() == QChar::Other_Control)
            return std::nullopt;
    }
    return box;
}

QStringList splitAttachmentList(const QString& text) {
    QStringList items;
    const QChar quote = QLatin1Char('"');
    qsizetype pos = 0;
    while (pos <= text.size()) {
        // Skip the white space before an item, to see whether it opens with a quote.
        qsizetype start = pos;
        while (start < text.size() && text.at(start).isSpace())
            ++start;
        QString path;
        qsizetype end;
        if (start < text.size() && text.at(start) == quote) {
            // A quoted item runs to its closing quote; "" inside stands for one quote.
            qsizetype i = start + 1;
            for (; i < text.size(); ++i) {
                if (text.at(i) != quote) {
                    path += text.at(i);
                } else if (i + 1 < text.size() && text.at(i + 1) == quote) {
                    path += quote;
                    ++i;
                } else {
                    break;
                }
            }
            end = text.indexOf(QLatin1Char(','), qMin(i + 1, text.size()));
            if (end < 0)
                end = text.size();
        } else {
            end = text.indexOf(QLatin1Char(','), pos);
            if (end < 0)
                end = text.size();
            path = text.mid(pos, end - pos).trimmed();
        }
        if (!path.isEmpty())
            items += path;
        pos = end + 1;
    }
    return items;
}

QString joinAttachmentList(const QStringList& paths) {
    QStringList items;
    for (const QString& path : paths) {
        const bool plain = !path.contains(QLatin1Char(',')) && !path.startsWith(QLatin1Char('"')) &&
                           path.trimmed() == path;
        if (plain) {
            items += path;
        } else {
            QString quoted = path;
            quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
            items += QLatin1Char('"') + quoted + QLatin1Char('"');
        }
    }
    return items.join(QLatin1Char(','));
}

QByteArray contentTypeFor(const QString& fileName) {
    static const QHash<QString, QByteArray> types = {
        {QStringLiteral("txt"), "text/plain"},
        {QStringLiteral("csv"), "text/csv"},
        {QStringLiteral("htm"), "text/html"},
        {QStringLiteral("html"), "text/html"},
        {QStringLiteral("xml"), "text/xml"},
        {QStringLiteral("gif"), "image/gif"},
        {QStringLiteral("jpg"), "image/jpeg"},
        {QStringLiteral("jpeg"), "image/jpeg"},
        {QStringLiteral("png"), "image/png"},
        {QStringLiteral("bmp"), "image/bmp"},
        {QStringLiteral("tif"), "image/tiff"},
        {QStringLiteral("tiff"), "image/tiff"},
        {QStringLiteral("webp"), "image/webp"},
        {QStringLiteral("pdf"), "application/pdf"},
        {QStringLiteral("zip"), "application/zip"},
        {QStringLiteral("lzh"), "application/x-lzh"},
        {QStringLiteral("gz"), "application/gzip"},
        {QStringLiteral("doc"), "application/msword"},
        {QStringLiteral("xls"), "application/vnd.ms-excel"},
        {QStringLiteral("ppt"), "application/vnd.ms-powerpoint"},
        {QStringLiteral("docx"),
         "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {QStringLiteral("xlsx"),
         "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {QStringLiteral("pptx"),
         "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
        {QStringLiteral("mp3"), "audio/mpeg"},
        {QStringLiteral("wav"), "audio/wav"},
        {QStringLiteral("mid"), "audio/midi"},
        {QStringLiteral("mp4"), "video/mp4"},
        {QStringLiteral("mpg"), "video/mpeg"},
        {QStringLiteral("mpeg"), "video/mpeg"},
        {QStringLiteral("avi"), "video/x-msvideo"},
        {QStringLiteral("mov"), "video/quicktime"},
    };
    return types.value(QFileInfo(fileName).suffix().toLower(),
                       QByteArrayLiteral("application/octet-stream"));
}

QByteArray rfc5322Date(const QDateTime& time) {
    const auto& days = kDayNames;
    const auto& months = kMonthNames;
    const QDate d = time.date();
    const QTime t = time.time();
    int year = 0, month = 0, day = 0;
    d.getDate(&year, &month, &day); // once: each of year(), month() and day() works it out
    const int offset = time.offsetFromUtc() / 60;
    const int absOffset = qAbs(offset);
    const char sign = offset < 0 ? '-' : '+';
    if (year < 1000 || year > 9999 || absOffset / 60 > 99) {
        char text[64];
        std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d %c%02d%02d",
                      days[d.dayOfWeek() - 1], day, months[month - 1], year, t.hour(), t.minute(),
                      t.second(), sign, absOffset / 60, absOffset % 60);
        return text;
    }
    char text[] = "Ddd, dd Mmm yyyy hh:mm:ss +hhmm";
    std::memcpy(text, days[d.dayOfWeek() - 1], 3);
    putDigits(text + 5, day, 2);
    std::memcpy(text + 8, months[month - 1], 3);
    putDigits(text + 12, year, 4);
    putDigits(text + 17, t.hour(), 2);
    putDigits(text + 20, t.minute(), 2);
    putDigits(text + 23, t.second(), 2);
    text[26] = sign;
    putDigits(text + 27, absOffset / 60, 2);
    putDigits(text + 29, absOffset % 60, 2);
    return QByteArray(text, sizeof text - 1);
}

QString toJisForms(const QString& text) {
    QString out = text;
    for (QChar& c : out)
        c = jisForm(c);
    return out;
}

QChar jisForm(QChar c) {
    switch (c.unicode()) {
    case 0xFF5E:
        return QChar(0x301C); // FULLWIDTH TILDE -> WAVE DASH
    case 0x2225:
        return QChar(0x2016); // PARALLEL TO -> DOUBLE VERTICAL LINE
    case 0xFF0D:
        return QChar(0x2212); // FULLWIDTH HYPHEN-MINUS -> MINUS SIGN
    case 0xFFE0:
        return QChar(0x00A2); // cent
    case 0xFFE1:
        return QChar(0x00A3); // pound
    case 0xFFE2:
        return QChar(0x00AC); // not
    default:
        return c;
    }
}

bool fitsIso2022Jp(const QString& text) {
    // Escape and shift characters would be read as part of the encoding itself.
    for (QChar c : text) {
        const ushort u = c.unicode();
        if (u == 0x1B || u == 0x0E || u == 0x0F || u == 0)
            return false;
    }
    return codec::fits(toJisForms(text), kJisCharset);
}

QList<QByteArray> encodedWords(const QString& text, int firstRoom, int room) {
    QList<QByteArray> words;
    forEachWord(
        text, [&] { return words.isEmpty() ? firstRoom : room; },
        [&](const QByteArray& word) { words += word; });
    return words;
}

} // namespace mime

std::optional<QByteArray> MimeWriter::write(const OutgoingMessage& message) {
    m_error.clear();
    QList<Part> attachments;
    for (const QString& path : message.attachments) {
        std::optional<Part> part = attachmentPart(path);
        if (!part)
            return std::nullopt;
        attachments += *part;
    }
    const std::optional<QByteArray> extra = extraHeaderLines(message.extraHeader);
    if (!extra)
        return std::nullopt;

    const QDateTime date = message.date.isValid() ? message.date : QDateTime::currentDateTime();
    QByteArray out;
    out.reserve(1024); // the header of a plain message, without growing on the way
    out += "Date: " + mime::rfc5322Date(date) + kCrLf;
    out += addressField("From", {message.from});
    if (!message.to.isEmpty())
        out += addressField("To", message.to);
    if (!message.cc.isEmpty())
        out += addressField("Cc", message.cc);
    out += unstructuredField("Subject", message.subject);
    // A long domain moves the Message-ID onto a line of its own.
    FieldFolder messageId("Message-ID");
    messageId.atom(newMessageId(message.from.address));
    out += messageId.finish();
    out += *extra;
    out += "MIME-Version: 1.0\r\n";

    const Part text = message.iso2022JpBody.isEmpty() ? textPart(message.body)
                                                      : jisTextPart(message.iso2022JpBody);
    if (attachments.isEmpty()) {
        out.reserve(out.size() + text.headers.size() + text.content.size() + 4);
        out += text.headers;
        out += kCrLf;
        out += text.content;
        if (!out.endsWith(kCrLf))
            out += kCrLf;
        return out;
    }
    QList<Part> parts{text};
    parts += attachments;
    const QByteArray boundary = newBoundary(parts);
    out += "Content-Type: multipart/mixed;\r\n boundary=\"" + boundary + "\"\r\n\r\n";
    out += "This is a multi-part message in MIME format.\r\n";
    for (const Part& part : parts)
        out += "\r\n--" + boundary + kCrLf + part.headers + kCrLf + part.content;
    out += "\r\n--" + boundary + "--\r\n";
    return out;
}

MimeWriter::Part MimeWriter::jisTextPart(const QByteArray& jis) {
    Part part;
    part.headers = "Content-Type: text/plain; charset=" + kJisCharset + kCrLf;
    // A line over the 7-bit limit would be broken or refused on the way: keep the text
    // exact by sending it in base64 instead.
    if (mime::linesFit(jis, kMaxBodyLine)) {
        part.headers += "Content-Transfer-Encoding: 7bit\r\n";
        part.content = jis;
    } else {
        part.headers += "Content-Transfer-Encoding: base64\r\n";
        part.content = wrappedBase64(jis);
    }
    return part;
}

MimeWriter::Part MimeWriter::textPart(const QString& body) {
    const QString text = normalisedLineEnds(body);
    if (mime::fitsIso2022Jp(text))
        return jisTextPart(codec::encode(mime::toJisForms(text), kJisCharset));
    Part part;
    part.headers = "Content-Type: text/plain; charset=UTF-8\r\n"
                   "Content-Transfer-Encoding: base64\r\n";
    part.content = wrappedBase64(text.toUtf8());
    return part;
}

std::optional<MimeWriter::Part> MimeWriter::attachmentPart(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) {
        m_error = QStringLiteral("添付ファイルが見つかりません: %1").arg(path);
        return std::nullopt;
    }
    if (!info.isFile()) {
        // A pipe or a device would block the send or never end: only plain files go.
        const QString kind = fileKindText(path);
        m_error = QStringLiteral("添付ファイルではありません（%1です）: %2")
                      .arg(kind.isEmpty() ? QStringLiteral("特殊なファイル") : kind, path);
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("添付ファイルを読み込めません: %1（%2）")
                      .arg(path, systemErrorText(errno));
        return std::nullopt;
    }
    errno = 0;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_error = QStringLiteral("添付ファイルを読み込めません: %1（%2）")
                      .arg(path, systemErrorText(errno));
        return std::nullopt;
    }

    const QString name = info.fileName();
    Part part;
    part.headers = parameterField("Content-Type: " + mime::contentTypeFor(name),
                                  {quotedNameParameter("name", name)});
    part.headers += "Content-Transfer-Encoding: base64\r\n";
    QList<QByteArray> dispositionLines{quotedNameParameter("filename", name)};
    // A name in encoded words (not ASCII, or too long for one line) also goes in RFC 2231
    // form, which every current reader prefers.
    if (!plainQuotedName("filename", name))
        dispositionLines += extendedNameLines("filename", name);
    part.headers += parameterField("Content-Disposition: attachment", dispositionLines);
    part.content = wrappedBase64(bytes);
    return part;
}

std::optional<QByteArray> MimeWriter::extraHeaderLines(const QString& text) {
    static const QRegularExpression fieldLine(QStringLiteral("^([!-9;-~]+):[ \\t]*(.*)$"));
    static const QStringList ownFields = {QStringLiteral("date"),
                                          QStringLiteral("from"),
                                          QStringLiteral("to"),
                                          QStringLiteral("cc"),
                                          QStringLiteral("bcc"),
                                          QStringLiteral("subject"),
                                          QStringLiteral("message-id"),
                                          QStringLiteral("mime-version"),
                                          QStringLiteral("content-type"),
                                          QStringLiteral("content-transfer-encoding"),
                                          QStringLiteral("content-disposition")};
    QByteArray out;
    if (text.isEmpty())
        return out;
    for (const QString& line : normalisedLineEnds(text).split(QLatin1String("\r\n"))) {
        if (line.trimmed().isEmpty())
            continue;
        const QRegularExpressionMatch match = fieldLine.match(line);
        if (!match.hasMatch()) {
            m_error = QStringLiteral("追加ヘッダーの行が正しくありません: %1").arg(line);
            return std::nullopt;
        }
        const QString name = match.captured(1);
        if (name.size() + 1 > kMaxLine) {
            // A field name cannot be folded: it would make a line strict servers refuse.
            m_error = QStringLiteral("追加ヘッダーの名前が長すぎます: %1").arg(name);
            return std::nullopt;
        }
        if (ownFields.contains(name.toLower())) {
            m_error = QStringLiteral("追加ヘッダーに %1 は指定できません").arg(name);
            return std::nullopt;
        }
        out += unstructuredField(name.toLatin1(), match.captured(2));
    }
    return out;
}

QByteArray MimeWriter::newBoundary(const QList<Part>& parts) {
    for (;;) {
        QByteArray boundary = "=_KikuMail_" +
                              QByteArray::number(QRandomGenerator::system()->generate64(), 16) +
                              QByteArray::number(QRandomGenerator::system()->generate(), 16);
        bool clash = false;
        for (const Part& part : parts)
            clash = clash || part.content.contains(boundary);
        if (!clash)
            return boundary;
    }
}

} // namespace kiku
