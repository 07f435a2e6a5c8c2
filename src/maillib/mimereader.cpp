#include "maillib/mimereader.h"

#include "base/codec.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringDecoder>
#include <vmime/vmime.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>

namespace kiku {

namespace mailtext {

namespace {

// ISO-2022-JP made into EUC-JP, so that glibc's EUC-JP-MS can read it: glibc's own
// ISO-2022-JP refuses the NEC row 13 characters (①, ㈱, ...) that Japanese mailers send.
QByteArray iso2022jpToEucJp(const QByteArray& in) {
    enum class Set { Ascii, Jis0208, Katakana, Jis0212 };
    Set set = Set::Ascii;
    Set beforeShiftOut = Set::Ascii;
    QByteArray out;
    out.reserve(in.size());
    const qsizetype n = in.size();
    const char* data = in.constData();
    for (qsizetype i = 0; i < n; ++i) {
        if (set == Set::Ascii) {
            // ASCII passes through untouched up to the next escape or shift: copied in one
            // piece, as most of a message with files is.
            qsizetype run = i;
            while (run < n && data[run] != 0x1B && data[run] != 0x0E && data[run] != 0x0F)
                ++run;
            out.append(data + i, run - i);
            if (run == n)
                break;
            i = run;
        }
        const auto c = static_cast<unsigned char>(data[i]);
        if (c == 0x1B) {
            const QByteArray seq = in.mid(i + 1, 3);
            if (seq.startsWith("(B") || seq.startsWith("(J") || seq.startsWith("(H")) {
                set = Set::Ascii;
                i += 2;
            } else if (seq.startsWith("$@") || seq.startsWith("$B")) {
                set = Set::Jis0208;
                i += 2;
            } else if (seq.startsWith("(I")) {
                set = Set::Katakana;
                i += 2;
            } else if (seq.startsWith("$(D")) {
                set = Set::Jis0212;
                i += 3;
            } else if (seq.startsWith("&@")) {
                i += 2; // JIS X 0208-1990 announcer; ESC $ B follows
            } else {
                out.append(char(c));
            }
            continue;
        }
        if (c == 0x0E) { // SO: half-width katakana in the 7-bit form some mailers use
            beforeShiftOut = set;
            set = Set::Katakana;
            continue;
        }
        if (c == 0x0F) {
            set = beforeShiftOut;
            continue;
        }
        if (c == '\r' || c == '\n') {
            // A line always ends in ASCII; a sender that forgot ESC ( B loses nothing.
            if (set != Set::Katakana || beforeShiftOut == Set::Ascii)
                set = Set::Ascii;
            out.append(char(c));
            continue;
        }
        if (c < 0x21 || c > 0x7E || set == Set::Ascii) {
            out.append(char(c));
            continue;
        }
        switch (set) {
        case Set::Katakana:
            out.append(char(0x8E));
            out.append(char(c | 0x80));
            break;
        case Set::Jis0212:
        case Set::Jis0208:
            if (i + 1 < n) {
                const auto c2 = static_cast<unsigned char>(in.at(i + 1));
                if (set == Set::Jis0212)
                    out.append(char(0x8F));
                out.append(char(c | 0x80));
                out.append(char(c2 | 0x80));
                ++i;
            }
            break;
        case Set::Ascii:
            break;
        }
    }
    return out;
}

bool hasEightBit(const QByteArray& bytes) {
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    return false;
}

bool isValidUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString ignored = decoder(bytes);
    return !decoder.hasError();
}

bool looksLikeIso2022jp(const QByteArray& bytes) {
    return bytes.contains("\x1b$B") || bytes.contains("\x1b$@") || bytes.contains("\x1b(I") ||
           bytes.contains("\x1b$(D");
}

// The character EUC-JP-MS gives for each JIS X 0208 pair (row and cell 0x21 to 0x7E), 0 where
// it gives none. Read from the same converter, a pair at a time, so the table is the converter.
const std::array<char16_t, 94 * 94>& jisCharacters() {
    static const std::array<char16_t, 94 * 94> table = [] {
        std::array<char16_t, 94 * 94> t{};
        for (int row = 0; row < 94; ++row) {
            for (int cell = 0; cell < 94; ++cell) {
                const char pair[2] = {char(0xA1 + row), char(0xA1 + cell)};
                const QString c = codec::decodeWithoutShortcuts(QByteArray(pair, 2), "EUC-JP-MS");
                if (c.size() == 1 && c.at(0) != QChar(0xFFFD))
                    t[size_t(row * 94 + cell)] = c.at(0).unicode();
            }
        }
        return t;
    }();
    return table;
}

// ISO-2022-JP in ASCII and JIS X 0208 alone, the way nearly all mail is written, read by
// table; anything else (half-width katakana, JIS X 0212, shifts, unknown escapes, a pair the
// converter has no character for) gives nothing, and the message goes the long way.
std::optional<QString> commonIso2022jp(const QByteArray& in) {
    const std::array<char16_t, 94 * 94>& table = jisCharacters();
    const char* data = in.constData();
    const qsizetype n = in.size();
    QString out(n, Qt::Uninitialized); // never more characters than bytes
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    bool jis = false;
    for (qsizetype i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c == 0x1B) {
            if (i + 2 >= n)
                return std::nullopt;
            const char a = data[i + 1];
            const char b = data[i + 2];
            if (a == '(' && (b == 'B' || b == 'J' || b == 'H'))
                jis = false;
            else if (a == '$' && (b == '@' || b == 'B'))
                jis = true;
            else
                return std::nullopt;
            i += 2;
            continue;
        }
        if (c == 0x0E || c == 0x0F || c >= 0x80)
            return std::nullopt;
        if (c == '\r' || c == '\n')
            jis = false;
        if (!jis) {
            // ASCII up to the next escape, copied in one loop the compiler can widen.
            const char* esc = static_cast<const char*>(std::memchr(data + i, 0x1B, size_t(n - i)));
            const qsizetype end = esc ? esc - data : n;
            bool shifted = false;
            for (qsizetype k = i; k < end; ++k) {
                const auto b = static_cast<unsigned char>(data[k]);
                shifted |= (b == 0x0E) | (b == 0x0F) | (b >= 0x80);
                *dst++ = b;
            }
            if (shifted)
                return std::nullopt;
            i = end - 1;
            continue;
        }
        if (c < 0x21 || c > 0x7E) {
            *dst++ = c;
            continue;
        }
        if (i + 1 >= n)
            return std::nullopt;
        const auto c2 = static_cast<unsigned char>(data[i + 1]);
        if (c2 < 0x21 || c2 > 0x7E)
            return std::nullopt;
        const char16_t u = table[size_t((c - 0x21) * 94 + (c2 - 0x21))];
        if (u == 0)
            return std::nullopt;
        *dst++ = u;
        ++i;
    }
    out.truncate(dst - reinterpret_cast<const char16_t*>(out.constData()));
    return out;
}

QString fromIso2022jp(const QByteArray& bytes) {
    if (std::optional<QString> text = commonIso2022jp(bytes))
        return *std::move(text);
    return codec::decode(iso2022jpToEucJp(bytes), "EUC-JP-MS");
}

enum class Family { Unknown, Ascii, Iso2022jp, Cp932, EucJp, Utf8 };

Family family(const QByteArray& label) {
    const QByteArray l = label.trimmed().toLower();
    if (l.isEmpty() || l == "us-ascii" || l == "ascii" || l == "ansi_x3.4-1968")
        return Family::Ascii;
    if (l == "iso-2022-jp" || l == "csiso2022jp" || l == "iso2022jp" || l == "jis")
        return Family::Iso2022jp;
    if (l == "shift_jis" || l == "shift-jis" || l == "sjis" || l == "x-sjis" || l == "cp932" ||
        l == "ms932" || l == "windows-31j" || l == "csshiftjis" || l == "x-ms-cp932" ||
        l == "ms_kanji")
        return Family::Cp932;
    if (l == "euc-jp" || l == "x-euc-jp" || l == "eucjp" || l == "cseucpkdfmtjapanese" ||
        l == "euc-jp-ms")
        return Family::EucJp;
    if (l == "utf-8" || l == "utf8")
        return Family::Utf8;
    return Family::Unknown;
}

QByteArray unquotedPrintable(const QByteArray& in, bool header) {
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in.at(i);
        if (c == '_' && header) {
            out.append(' ');
        } else if (c == '=' && i + 2 < in.size()) {
            bool ok = false;
            const int v = in.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out.append(char(v));
                i += 2;
            } else {
                out.append(c);
            }
        } else {
            out.append(c);
        }
    }
    return out;
}

} // namespace

QString sniff(const QByteArray& bytes) {
    if (looksLikeIso2022jp(bytes) && !hasEightBit(bytes))
        return fromIso2022jp(bytes);
    if (!hasEightBit(bytes) || isValidUtf8(bytes))
        return QString::fromUtf8(bytes);
    return codec::fromCp932(bytes);
}

QString decode(const QByteArray& bytes, const QByteArray& charset) {
    switch (family(charset)) {
    case Family::Ascii:
        return sniff(bytes);
    case Family::Iso2022jp:
        // 8-bit bytes cannot be ISO-2022-JP: the label is wrong, trust the bytes.
        return hasEightBit(bytes) ? sniff(bytes) : fromIso2022jp(bytes);
    case Family::Cp932:
        return codec::fromCp932(bytes);
    case Family::EucJp:
        return codec::decode(bytes, "EUC-JP-MS");
    case Family::Utf8:
        return QString::fromUtf8(bytes);
    case Family::Unknown:
        break;
    }
    QByteArray label = charset.trimmed();
    bool known = false;
    const QString text = codec::decode(bytes, label, &known);
    return known ? text : sniff(bytes);
}

QString decodeHeader(const QByteArray& value) {
    static const QRegularExpression word(
        QStringLiteral("=\\?([^?\\s]+)\\?([BbQq])\\?([^?\\s]*)\\?="));
    // Work on Latin-1 so that regex offsets are byte offsets.
    const QString latin = QString::fromLatin1(value);
    QString out;
    QByteArray pendingBytes; // decoded bytes of adjacent words in one charset
    QByteArray pendingCharset;
    auto flush = [&] {
        if (!pendingBytes.isEmpty() || !pendingCharset.isEmpty())
            out += decode(pendingBytes, pendingCharset);
        pendingBytes.clear();
        pendingCharset.clear();
    };
    qsizetype pos = 0;
    bool lastWasWord = false;
    auto it = word.globalMatch(latin);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QByteArray between = value.mid(pos, m.capturedStart() - pos);
        // White space between two encoded words is not part of the text.
        if (!(lastWasWord && between.trimmed().isEmpty())) {
            flush();
            out += sniff(between);
        }
        QByteArray charset = m.captured(1).toLatin1();
        const qsizetype star = charset.indexOf('*'); // RFC 2231 language suffix
        if (star >= 0)
            charset.truncate(star);
        const QByteArray payload = m.captured(3).toLatin1();
        const QByteArray bytes = m.captured(2).compare(QLatin1String("B"), Qt::CaseInsensitive) == 0
                                     ? QByteArray::fromBase64(payload)
                                     : unquotedPrintable(payload, true);
        if (charset.compare(pendingCharset, Qt::CaseInsensitive) != 0)
            flush();
        pendingCharset = charset;
        pendingBytes += bytes;
        pos = m.capturedEnd();
        lastWasWord = true;
    }
    flush();
    out += sniff(value.mid(pos));
    return out;
}

QString htmlToText(const QString& html) {
    static const QRegularExpression hidden(QStringLiteral("<(script|style|head)\\b.*?</\\1\\s*>"),
                                           QRegularExpression::CaseInsensitiveOption |
                                               QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression breaks(QStringLiteral("<(br|/p|/div|/tr|/li|/h[1-6])\\b[^>]*>"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    static const QRegularExpression newlines(QStringLiteral("[\\r\\n]+"));
    static const QRegularExpression numeric(QStringLiteral("&#(x?)([0-9A-Fa-f]+);"));
    QString text = html;
    text.remove(hidden);
    text.replace(newlines, QStringLiteral(" "));
    text.replace(breaks, QStringLiteral("\n"));
    text.remove(tags);
    QString resolved;
    qsizetype pos = 0;
    auto it = numeric.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        resolved += text.mid(pos, m.capturedStart() - pos);
        bool ok = false;
        const uint code = m.captured(2).toUInt(&ok, m.captured(1).isEmpty() ? 10 : 16);
        if (ok && code > 0 && code <= 0x10FFFF) {
            const char32_t c = code;
            resolved += QString::fromUcs4(&c, 1);
        }
        pos = m.capturedEnd();
    }
    resolved += text.mid(pos);
    resolved.replace(QStringLiteral("&nbsp;"), QStringLiteral(" "));
    resolved.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
    resolved.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    resolved.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
    resolved.replace(QStringLiteral("&#39;"), QStringLiteral("'"));
    resolved.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    return resolved.trimmed();
}

} // namespace mailtext

namespace {

QByteArray toBytes(const std::string& s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

// CR LF everywhere, as the stored bodies have.
QString crlf(QString text) {
    // Most text already ends every line in CR LF: nothing to do then.
    bool alreadyCrLf = true;
    const qsizetype n = text.size();
    const QChar* chars = text.constData();
    for (qsizetype i = 0; i < n && alreadyCrLf; ++i) {
        if (chars[i] == QLatin1Char('\r'))
            alreadyCrLf = i + 1 < n && chars[++i] == QLatin1Char('\n');
        else if (chars[i] == QLatin1Char('\n'))
            alreadyCrLf = false;
    }
    if (alreadyCrLf)
        return text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text;
}

// A parameter value vmime has already put together (RFC 2231 continuations and charset).
QString parameterText(const vmime::word& value) {
    const QByteArray bytes = toBytes(value.getBuffer());
    if (bytes.contains("=?")) // RFC 2047 inside quotes, which vmime may leave encoded
        return mailtext::decodeHeader(bytes);
    return mailtext::decode(bytes, toBytes(value.getCharset().getName()));
}

QString parameterOf(const vmime::header& header, const char* field, const char* name) {
    if (!header.hasField(field))
        return {};
    const auto f = header.findField<vmime::parameterizedHeaderField>(field);
    if (!f || !f->hasParameter(name))
        return {};
    return parameterText(f->findParameter(name)->getValue());
}

// What one leaf part of the message is.
struct Leaf {
    QByteArray type = "text";
    QByteArray subtype = "plain";
    QByteArray charset;
    QByteArray disposition;
    QString name;
    std::shared_ptr<const vmime::bodyPart> part;
    const vmime::bodyPart* self = nullptr; // the message itself when it is single-part

    const vmime::bodyPart& bodyPart() const { return part ? *part : *self; }
    bool isTextBody() const {
        return type == "text" && (subtype == "plain" || subtype == "html") &&
               disposition != "attachment" && name.isEmpty();
    }
    bool isFile() const { return disposition == "attachment" || !name.isEmpty() || type != "text"; }
};

// The unfolded value of a header field in a raw header block, or null.
QByteArray rawField(QByteArrayView header, QByteArrayView name) {
    QByteArray value;
    bool inField = false;
    qsizetype pos = 0;
    while (pos < header.size()) {
        qsizetype end = header.indexOf('\n', pos);
        if (end < 0)
            end = header.size();
        QByteArrayView line = header.sliced(pos, end - pos);
        pos = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith(' ') || line.startsWith('\t')) {
            if (inField)
                value += line.toByteArray();
            continue;
        }
        if (inField)
            break;
        if (line.size() > name.size() && line.at(name.size()) == ':' &&
            qstrnicmp(line.data(), name.size(), name.data(), name.size()) == 0) {
            inField = true;
            value = line.sliced(name.size() + 1).toByteArray();
        }
    }
    return inField ? value : QByteArray();
}

QByteArray percentDecoded(const QByteArray& text) {
    return QByteArray::fromPercentEncoding(text);
}

// An RFC 2231 parameter split into numbered sections ("name*0", "name*1*", ...), joined in
// the order of the numbers rather than the order they arrived in; null when the parameter
// has no numbered sections.
std::optional<QString> continuedParameter(const QByteArray& fieldValue, const QByteArray& name) {
    struct Section {
        int index;
        bool encoded;
        QByteArray value;
    };
    QList<Section> sections;
    const QByteArray prefix = name.toLower() + '*';
    qsizetype pos = fieldValue.indexOf(';');
    while (pos >= 0 && pos < fieldValue.size()) {
        // One "key=value" up to the next ';' outside quotes.
        qsizetype at = pos + 1;
        bool quoted = false;
        QByteArray key, value;
        bool inValue = false;
        for (; at < fieldValue.size(); ++at) {
            const char c = fieldValue.at(at);
            if (quoted) {
                if (c == '\\' && at + 1 < fieldValue.size())
                    value += fieldValue.at(++at);
                else if (c == '"')
                    quoted = false;
                else
                    value += c;
                continue;
            }
            if (c == ';')
                break;
            if (!inValue && c == '=') {
                inValue = true;
            } else if (inValue && c == '"') {
                quoted = true;
            } else if (inValue) {
                if (c != ' ' && c != '\t')
                    value += c;
            } else {
                key += c;
            }
        }
        pos = at < fieldValue.size() ? at : -1;
        key = key.trimmed().toLower();
        if (!key.startsWith(prefix))
            continue;
        QByteArray number = key.mid(prefix.size());
        const bool encoded = number.endsWith('*');
        if (encoded)
            number.chop(1);
        bool ok = false;
        const int index = number.toInt(&ok);
        if (ok && index >= 0 && index < 10000 && !number.startsWith('+'))
            sections.append({index, encoded, value});
    }
    if (sections.isEmpty())
        return std::nullopt;
    std::stable_sort(sections.begin(), sections.end(),
                     [](const Section& a, const Section& b) { return a.index < b.index; });
    QByteArray charset;
    QByteArray bytes;
    for (qsizetype i = 0; i < sections.size(); ++i) {
        const Section& section = sections.at(i);
        if (!section.encoded) {
            bytes += section.value;
            continue;
        }
        QByteArray value = section.value;
        if (i == 0) { // charset'language'value
            const qsizetype first = value.indexOf('\'');
            const qsizetype second = first >= 0 ? value.indexOf('\'', first + 1) : -1;
            if (second > first) {
                charset = value.left(first);
                value = value.mid(second + 1);
            }
        }
        bytes += percentDecoded(value);
    }
    return mailtext::decode(bytes, charset);
}

// A file name as the part's own header spells it, when its sections need putting in order.
std::optional<QString> orderedName(const vmime::bodyPart& part, const QByteArray& raw) {
    const auto header = part.getHeader();
    const size_t offset = header->getParsedOffset();
    const size_t length = header->getParsedLength();
    if (length == 0 || offset + length > size_t(raw.size()))
        return std::nullopt;
    const QByteArrayView block(raw.constData() + offset, qsizetype(length));
    for (const auto& [field, name] :
         {QPair<const char*, const char*>{"Content-Disposition", "filename"},
          QPair<const char*, const char*>{"Content-Type", "name"}}) {
        const QByteArray value = rawField(block, field);
        if (value.isNull())
            continue;
        if (auto joined = continuedParameter(value, name))
            return joined;
    }
    return std::nullopt;
}

Leaf describe(const vmime::bodyPart& part, const QByteArray& raw) {
    Leaf leaf;
    const vmime::header& header = *part.getHeader();
    if (header.hasField(vmime::fields::CONTENT_TYPE)) {
        const auto ct =
            header.findField<vmime::parameterizedHeaderField>(vmime::fields::CONTENT_TYPE);
        const auto media = ct->getValue<vmime::mediaType>();
        leaf.type = toBytes(media->getType()).toLower();
        leaf.subtype = toBytes(media->getSubType()).toLower();
        if (ct->hasParameter("charset"))
            leaf.charset = toBytes(ct->findParameter("charset")->getValue().getBuffer());
    }
    if (header.hasField(vmime::fields::CONTENT_DISPOSITION)) {
        const auto cd =
            header.findField<vmime::parameterizedHeaderField>(vmime::fields::CONTENT_DISPOSITION);
        leaf.disposition = toBytes(cd->getValue<vmime::contentDisposition>()->getName()).toLower();
    }
    // vmime joins RFC 2231 sections in the order they arrived; a sender may list them in any.
    if (const auto ordered = orderedName(part, raw)) {
        leaf.name = *ordered;
        return leaf;
    }
    leaf.name = parameterOf(header, vmime::fields::CONTENT_DISPOSITION, "filename");
    if (leaf.name.isEmpty())
        leaf.name = parameterOf(header, vmime::fields::CONTENT_TYPE, "name");
    return leaf;
}

void collectLeaves(const std::shared_ptr<const vmime::bodyPart>& part, const QByteArray& raw,
                   QList<Leaf>& leaves) {
    const auto body = part->getBody();
    if (body->getPartCount() > 0) {
        for (size_t i = 0; i < body->getPartCount(); ++i)
            collectLeaves(body->getPartAt(i), raw, leaves);
        return;
    }
    Leaf leaf = describe(*part, raw);
    if (leaf.type == "multipart")
        return; // an empty container
    leaf.part = part;
    leaves.append(leaf);
}

QByteArray vmimeContents(const vmime::bodyPart& part) {
    std::string out;
    vmime::utility::outputStreamStringAdapter stream(out);
    const auto handler = part.getBody()->getContents();
    try {
        handler->extract(stream);
    } catch (const vmime::exception&) {
        out.clear();
        handler->extractRaw(stream); // an encoding vmime does not know: the bytes as sent
    }
    stream.flush();
    return toBytes(out);
}

QString leafText(const QByteArray& contents, const Leaf& leaf) {
    const QString text = mailtext::decode(contents, leaf.charset);
    return crlf(leaf.subtype == "html" ? mailtext::htmlToText(text) : text);
}

QString defaultName(const Leaf& leaf) {
    if (leaf.type == "message" && leaf.subtype == "rfc822")
        return QStringLiteral("message.eml");
    static const QList<QPair<QByteArray, const char*>> extensions = {
        {"image/jpeg", ".jpg"}, {"image/png", ".png"},       {"image/gif", ".gif"},
        {"image/bmp", ".bmp"},  {"application/pdf", ".pdf"}, {"text/plain", ".txt"},
        {"text/html", ".html"}, {"application/zip", ".zip"},
    };
    const QByteArray media = leaf.type + '/' + leaf.subtype;
    for (const auto& [type, ext] : extensions)
        if (type == media)
            return QStringLiteral("attachment") + QLatin1String(ext);
    return QStringLiteral("attachment.dat");
}

} // namespace

namespace {

// The media type and boundary of one part, from its Content-Type value.
struct PartType {
    QByteArray media; // lower case, "" when absent
    QByteArray boundary;
};

PartType readPartType(const QByteArray& contentType) {
    PartType t;
    const qsizetype semicolon = contentType.indexOf(';');
    t.media = contentType.left(semicolon < 0 ? contentType.size() : semicolon).trimmed().toLower();
    if (!t.media.startsWith("multipart/") || semicolon < 0)
        return t;
    const QByteArray params = contentType.mid(semicolon);
    const qsizetype at = params.toLower().indexOf("boundary=");
    if (at < 0)
        return t;
    QByteArray value = params.mid(at + 9);
    if (value.startsWith('"')) {
        const qsizetype close = value.indexOf('"', 1);
        value = value.mid(1, close < 0 ? -1 : close - 1);
    } else {
        qsizetype end = 0;
        while (end < value.size() && value.at(end) != ';' && value.at(end) != ' ' &&
               value.at(end) != '\t')
            ++end;
        value.truncate(end);
    }
    t.boundary = value;
    return t;
}

bool isHeaderName(QByteArrayView line, const char* name) {
    const qsizetype n = qsizetype(qstrlen(name));
    return line.size() > n && line.at(n) == ':' && qstrnicmp(line.data(), n, name, n) == 0;
}

// Reads a message line by line: each line without its line end (LF, or CR LF).
class LineReader {
public:
    explicit LineReader(const QByteArray& raw) : m_raw(raw) {}
    bool next(QByteArrayView& line) {
        if (m_pos >= m_raw.size())
            return false;
        m_start = m_pos;
        m_end = m_raw.indexOf('\n', m_pos);
        if (m_end < 0)
            m_end = m_raw.size();
        line = QByteArrayView(m_raw.constData() + m_pos, m_end - m_pos);
        m_pos = m_end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        return true;
    }
    // Where the line read last started and ended (its LF, or the end), and where the next
    // one starts.
    qsizetype lineStart() const { return m_start; }
    qsizetype lineEnd() const { return m_end; }
    qsizetype position() const { return m_pos; }
    void moveTo(qsizetype pos) { m_pos = pos; }

private:
    const QByteArray& m_raw;
    qsizetype m_pos = 0;
    qsizetype m_start = 0;
    qsizetype m_end = 0;
};

// The innermost open multipart whose boundary `line` is ("--boundary", or "--boundary--"
// when `closing`), as an index into `open`; -1 when it is none. Empty entries (forwarded
// messages) have no boundary.
qsizetype boundaryOf(const QList<QByteArray>& open, QByteArrayView line, bool* closing) {
    if (!line.startsWith("--"))
        return -1;
    const QByteArrayView rest = line.sliced(2);
    for (qsizetype k = open.size() - 1; k >= 0; --k) {
        const QByteArray& b = open.at(k);
        if (b.isEmpty() || !rest.startsWith(b))
            continue;
        const QByteArrayView tail = rest.sliced(b.size());
        if (tail.startsWith("--") || tail.trimmed().isEmpty()) {
            *closing = tail.startsWith("--");
            return k;
        }
    }
    return -1;
}

} // namespace

// ---------------------------------------------------------------------------------------
// The skeleton vmime parses.
//
// vmime finds the parts of a message by scanning every byte of it, and decodes base64
// slowly; for a message carrying megabytes of files, or long text, that is most of a receive
// run. So large bodies are cut out before vmime sees the message: each is replaced by a
// placeholder line, vmime parses the rest, and the contents of such a part are taken here
// from the bytes that arrived. Two kinds are cut: base64 bodies whose lines hold nothing but
// base64 characters (so no boundary can hide in them, and every decoder reads them alike),
// and the body of a single-part message sent as it stands (7bit, 8bit, binary), which vmime
// would only copy. Nothing inside a forwarded message is cut (its text is kept whole), and
// the placeholder carries a random token, so a sender cannot forge one. vmime must then find
// every placeholder as the whole body of a part with the expected encoding; where it does
// not, the whole message is parsed again as sent.
struct MimeMessage::Skeleton {
    QByteArray text;                              // what vmime parses
    QByteArray token;                             // the placeholders' unforgeable prefix
    QList<QPair<qsizetype, qsizetype>> cutRanges; // raw offset and length, in placeholder order
    QList<bool> cutIsBase64;                      // else a body vmime would take as it stands
};

namespace {

// Thrown when vmime read a cut part differently from the cut's assumptions.
struct SkeletonMismatch {};

// The value of each base64 character; -1 for any other byte.
const std::array<qint8, 256>& base64Values() {
    static const std::array<qint8, 256> table = [] {
        std::array<qint8, 256> t;
        t.fill(-1);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            t[static_cast<unsigned char>(alphabet[i])] = qint8(i);
        return t;
    }();
    return table;
}

// Whether `lines` is base64 that every decoder reads the same way: only the base64 alphabet
// and CR LF line ends, padding only at the very end, a whole number of quads.
bool isCleanBase64(QByteArrayView lines) {
    // 0 for the alphabet, 1 for "=", 2 for anything else.
    static const std::array<quint8, 256> kinds = [] {
        std::array<quint8, 256> k;
        const std::array<qint8, 256>& values = base64Values();
        for (int c = 0; c < 256; ++c)
            k[size_t(c)] = values[size_t(c)] >= 0 ? 0 : (c == '=' ? 1 : 2);
        return k;
    }();
    const char* data = lines.data();
    const qsizetype n = lines.size();
    qsizetype chars = 0;
    bool padded = false; // a line held "=": only the last characters may
    qsizetype pos = 0;
    while (pos < n) {
        const char* lf = static_cast<const char*>(std::memchr(data + pos, '\n', size_t(n - pos)));
        qsizetype end = lf ? lf - data : n;
        if (lf) {
            if (end == pos || data[end - 1] != '\r')
                return false; // a bare line feed
            --end;
        }
        quint8 kind = 0;
        for (qsizetype i = pos; i < end; ++i)
            kind |= kinds[static_cast<unsigned char>(data[i])];
        if (kind & 2)
            return false;
        if (kind & 1)
            padded = true;
        chars += end - pos;
        pos = lf ? lf - data + 1 : n;
    }
    if (padded) {
        // At most two "=", all of them after the last character of the alphabet.
        const std::array<qint8, 256>& values = base64Values();
        qsizetype last = n - 1;
        while (last >= 0 && values[static_cast<unsigned char>(data[last])] < 0)
            --last;
        const char* first = static_cast<const char*>(std::memchr(data, '=', size_t(n)));
        if (first - data < last)
            return false;
        if (std::count(first, data + n, '=') > 2)
            return false;
    }
    return chars % 4 == 0;
}

// Decodes base64 that isCleanBase64() accepted.
QByteArray decodeCleanBase64(QByteArrayView lines) {
    const std::array<qint8, 256>& values = base64Values();
    QByteArray out(lines.size() / 4 * 3 + 3, Qt::Uninitialized);
    char* dst = out.data();
    const auto* p = reinterpret_cast<const unsigned char*>(lines.data());
    const auto* end = p + lines.size();
    quint32 group = 0;
    int have = 0;
    while (p < end) {
        if (have == 0 && end - p >= 4) {
            // A whole quad at once, as nearly every one is.
            const qint8 a = values[p[0]], b = values[p[1]], c = values[p[2]], d = values[p[3]];
            if ((a | b | c | d) >= 0) {
                const quint32 q =
                    quint32(a) << 18 | quint32(b) << 12 | quint32(c) << 6 | quint32(d);
                *dst++ = char(q >> 16);
                *dst++ = char(q >> 8);
                *dst++ = char(q);
                p += 4;
                continue;
            }
        }
        const qint8 v = values[*p++];
        if (v < 0)
            continue; // line ends and the closing padding
        group = (group << 6) | quint32(v);
        if (++have == 4) {
            *dst++ = char(group >> 16);
            *dst++ = char(group >> 8);
            *dst++ = char(group);
            group = 0;
            have = 0;
        }
    }
    if (have == 3) { // one "=": two bytes
        *dst++ = char(group >> 10);
        *dst++ = char(group >> 2);
    } else if (have == 2) { // "==": one byte
        *dst++ = char(group >> 4);
    }
    out.truncate(dst - out.data());
    return out;
}

QByteArray headerValueOf(QByteArrayView line, qsizetype nameLength) {
    return line.sliced(nameLength + 1).trimmed().toByteArray();
}

} // namespace

// Builds the skeleton of `raw`; the same walk over boundaries as measureMime.
void MimeMessage::buildSkeleton() const {
    m_skeleton = std::make_unique<Skeleton>();
    Skeleton& sk = *m_skeleton;
    const QByteArray& raw = m_raw;
    QList<QByteArray> open; // as in measureMime: boundaries, empty for message/rfc822
    bool inHeader = true;
    QByteArray contentType;
    QByteArray encoding;
    enum class Field { Other, ContentType, Encoding } field = Field::Other;
    qsizetype copied = 0; // raw bytes up to here are in the skeleton
    // Puts the raw bytes before `from` into the skeleton, then a placeholder for [from, to).
    const auto cutBody = [&](qsizetype from, qsizetype to, bool base64) {
        if (sk.token.isEmpty())
            sk.token = "kikuskeleton" +
                       QByteArray::number(QRandomGenerator::global()->generate64(), 36) + "x";
        sk.text += QByteArrayView(raw.constData() + copied, from - copied);
        sk.text += sk.token + QByteArray::number(sk.cutRanges.size());
        sk.cutRanges.append({from, to - from});
        sk.cutIsBase64.append(base64);
    };

    const qsizetype n = raw.size();
    LineReader lines(raw);
    QByteArrayView line;
    while (lines.next(line)) {
        bool closing = false;
        if (const qsizetype match = boundaryOf(open, line, &closing); match >= 0) {
            open.resize(match + 1);
            if (closing) {
                open.removeLast();
                inHeader = false;
            } else {
                inHeader = true;
                contentType.clear();
                encoding.clear();
                field = Field::Other;
            }
            continue;
        }
        if (!inHeader)
            continue;
        if (!line.isEmpty()) {
            if (line.startsWith(' ') || line.startsWith('\t')) {
                if (field == Field::ContentType)
                    contentType += line.toByteArray();
                else if (field == Field::Encoding)
                    encoding += line.trimmed().toByteArray();
            } else if (isHeaderName(line, "content-type")) {
                field = Field::ContentType;
                contentType = headerValueOf(line, 12);
            } else if (isHeaderName(line, "content-transfer-encoding")) {
                field = Field::Encoding;
                encoding = headerValueOf(line, 25);
            } else {
                field = Field::Other;
            }
            continue;
        }

        // The end of a header.
        inHeader = false;
        field = Field::Other;
        const PartType type = readPartType(contentType);
        const QByteArray transfer = encoding.trimmed().toLower();
        const bool base64 = transfer == "base64";
        const bool asSent =
            transfer.isEmpty() || transfer == "7bit" || transfer == "8bit" || transfer == "binary";
        contentType.clear();
        encoding.clear();
        if (type.media.startsWith("multipart/") && !type.boundary.isEmpty()) {
            open.append(type.boundary);
            continue;
        }
        if (type.media == "message/rfc822") {
            open.append(QByteArray());
            inHeader = true;
            continue;
        }
        const qsizetype end = lines.lineEnd();
        const qsizetype bodyStart = lines.position();
        if (end < 1 || end + 1 > n || raw.at(end - 1) != '\r' || open.contains(QByteArray()))
            continue;
        // A single-part message sent as it stands (long plain text): the whole body, which
        // vmime would only copy.
        if (asSent && open.isEmpty() && n - bodyStart >= m_smallestCut) {
            cutBody(bodyStart, n, false);
            copied = n;
            break;
        }
        if (!base64)
            continue;
        // A file part's body: up to the next line that starts with "--", which must be the
        // boundary of the enclosing multipart, or to the end of a single-part message.
        LineReader body(raw);
        body.moveTo(bodyStart);
        QByteArrayView bodyLine;
        qsizetype dashLine = -1;
        while (dashLine < 0 && body.next(bodyLine)) {
            if (bodyLine.startsWith("--"))
                dashLine = body.lineStart();
        }
        qsizetype bodyEnd;
        if (dashLine < 0) {
            if (!open.isEmpty())
                continue; // a multipart that never closes: leave it to vmime
            bodyEnd = n;
        } else {
            if (open.isEmpty() || boundaryOf(open, bodyLine, &closing) != open.size() - 1 ||
                dashLine - 2 < bodyStart || raw.at(dashLine - 2) != '\r')
                continue;
            bodyEnd = dashLine - 2; // the line break before a boundary belongs to it
        }
        const QByteArrayView bytes(raw.constData() + bodyStart, bodyEnd - bodyStart);
        // Bodies below the limit cost vmime little; leaving them avoids all doubt.
        if (bytes.size() < m_smallestCut || !isCleanBase64(bytes))
            continue;
        cutBody(bodyStart, bodyEnd, true);
        copied = bodyEnd;
        lines.moveTo(dashLine < 0 ? n : dashLine); // the boundary line is read as usual
    }
    if (sk.cutRanges.isEmpty())
        sk.text = raw;
    else
        sk.text += QByteArrayView(raw.constData() + copied, n - copied);
}

// The transfer-decoded contents of a part: from the bytes that arrived when its body was
// cut out of the skeleton, else as vmime reads them.
QByteArray MimeMessage::contentsOf(const vmime::bodyPart& part) const {
    const Skeleton& sk = *m_skeleton;
    if (!sk.cutRanges.isEmpty()) {
        const auto handler = part.getBody()->getContents();
        if (handler->getLength() < size_t(sk.token.size() + 24)) {
            std::string placeholder;
            vmime::utility::outputStreamStringAdapter stream(placeholder);
            handler->extractRaw(stream);
            stream.flush();
            const QByteArray text = toBytes(placeholder);
            if (text.startsWith(sk.token)) {
                bool ok = false;
                const int index = text.mid(sk.token.size()).toInt(&ok);
                if (!ok || index < 0 || index >= sk.cutRanges.size())
                    throw SkeletonMismatch();
                const std::string encoding = handler->getEncoding().getName();
                const auto [at, length] = sk.cutRanges.at(index);
                if (sk.cutIsBase64.at(index) && encoding == vmime::encodingTypes::BASE64)
                    return decodeCleanBase64(QByteArrayView(m_raw.constData() + at, length));
                if (!sk.cutIsBase64.at(index) && (encoding == vmime::encodingTypes::SEVEN_BIT ||
                                                  encoding == vmime::encodingTypes::EIGHT_BIT ||
                                                  encoding == vmime::encodingTypes::BINARY))
                    return m_raw.mid(at, length);
                throw SkeletonMismatch(); // vmime reads this body in another way
            }
        }
    }
    return vmimeContents(part);
}

MimeShape measureMime(const QByteArray& raw, const MimeLimits& limits) {
    MimeShape shape;
    // One entry per open container: the boundary of a multipart, or empty for the header of
    // an enclosed message/rfc822. Its size is the depth of the part being read.
    QList<QByteArray> open;
    bool inHeader = true;
    bool inContentType = false;
    QByteArray contentType;
    qsizetype headerBytes = 0;
    auto fail = [&](const QString& why) {
        shape.exceeded = why;
        return shape;
    };

    LineReader lines(raw);
    QByteArrayView line;
    while (lines.next(line)) {
        // A boundary line of any open multipart closes whatever is nested inside it. The
        // stack is at most maxDepth deep, so this stays linear in the message size.
        bool closing = false;
        if (const qsizetype match = boundaryOf(open, line, &closing); match >= 0) {
            open.resize(match + 1);
            if (closing) {
                open.removeLast();
                inHeader = false;
            } else {
                if (++shape.parts > limits.maxParts)
                    return fail(
                        QStringLiteral("パートが %1 個を超えています").arg(limits.maxParts));
                inHeader = true;
                inContentType = false;
                contentType.clear();
                headerBytes = 0;
            }
            continue;
        }
        if (!inHeader)
            continue;

        if (!line.isEmpty()) {
            headerBytes += line.size() + 2;
            shape.largestHeader = qMax(shape.largestHeader, headerBytes);
            if (headerBytes > limits.maxHeaderBytes)
                return fail(QStringLiteral("ヘッダーが %1 バイトを超えています")
                                .arg(limits.maxHeaderBytes));
            if (line.startsWith(' ') || line.startsWith('\t')) {
                if (inContentType)
                    contentType += line.toByteArray();
            } else {
                inContentType = isHeaderName(line, "content-type");
                if (inContentType)
                    contentType = line.sliced(13).toByteArray();
            }
            continue;
        }

        // The end of a header: the part is a container or a leaf.
        inHeader = false;
        const PartType type = readPartType(contentType);
        if (type.media.startsWith("multipart/") && !type.boundary.isEmpty()) {
            open.append(type.boundary);
        } else if (type.media == "message/rfc822") {
            open.append(QByteArray());
            inHeader = true; // the enclosed message's own header follows
            headerBytes = 0;
        }
        inContentType = false;
        contentType.clear();
        shape.depth = qMax(shape.depth, int(open.size()));
        if (shape.depth > limits.maxDepth)
            return fail(QStringLiteral("入れ子が %1 段を超えています").arg(limits.maxDepth));
    }
    return shape;
}

MimeMessage::MimeMessage(const QByteArray& raw, const MimeLimits& limits)
    : m_raw(raw), m_smallestCut(limits.smallestCut), m_shape(measureMime(raw, limits)) {
    readHeader();
}

QString MimeMessage::limitNote() const {
    if (withinLimits())
        return {};
    return QStringLiteral("♪♪♪　このメールは構造を展開できないため（%1）、添付ファイルを展開せずに"
                          "原文のまま保存しました。♪♪♪")
        .arg(m_shape.exceeded);
}

MimeMessage::~MimeMessage() = default;

void MimeMessage::readHeader() {
    qsizetype end = m_raw.indexOf("\r\n\r\n");
    // A bare blank line counts only when it comes first: no need to look past the other.
    const qsizetype lf =
        QByteArrayView(m_raw).first(end >= 0 ? end + 2 : m_raw.size()).indexOf("\n\n");
    if (end >= 0 && (lf < 0 || end < lf)) {
        m_bodyStart = end + 4;
    } else if (lf >= 0) {
        end = lf;
        m_bodyStart = lf + 2;
    } else {
        end = m_raw.size();
        m_bodyStart = m_raw.size();
    }
    QList<QByteArray> lines;
    for (QByteArray line : m_raw.left(end).split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if ((line.startsWith(' ') || line.startsWith('\t')) && !lines.isEmpty())
            lines.last() += line; // unfold: the line break goes, the white space stays
        else
            lines.append(line);
    }
    QByteArray block;
    for (const QByteArray& line : lines) {
        if (!block.isEmpty())
            block += "\r\n";
        block += line;
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            m_fields.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    m_headerText = mailtext::sniff(block);
}

QByteArray MimeMessage::field(const QByteArray& name) const {
    for (const auto& [fieldName, value] : m_fields)
        if (fieldName.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

bool MimeMessage::hasField(const QByteArray& name) const {
    for (const auto& [fieldName, value] : m_fields)
        if (fieldName.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QByteArray MimeMessage::mediaType() const {
    QByteArray type = field("Content-Type");
    const qsizetype semicolon = type.indexOf(';');
    if (semicolon >= 0)
        type.truncate(semicolon);
    type = type.trimmed().toLower();
    return type.isEmpty() ? QByteArray("text/plain") : type;
}

QString MimeMessage::decodedOnce(std::optional<QString>& slot, const char* name) const {
    if (!slot)
        slot = mailtext::decodeHeader(field(name)).trimmed();
    return *slot;
}

QString MimeMessage::rawBodyText() const {
    if (!m_rawBodyText)
        m_rawBodyText = mailtext::sniff(m_raw.sliced(m_bodyStart));
    return *m_rawBodyText;
}

vmime::message& MimeMessage::parsed() const {
    if (!m_parsed) {
        if (!m_skeleton)
            buildSkeleton();
        m_parsed = std::make_unique<vmime::message>();
        m_parsed->parse(m_skeleton->text.toStdString());
        if (!m_skeleton->cutRanges.isEmpty() && !placeholdersAreParts()) {
            // vmime saw the parts differently from the cut: read the message as sent.
            m_skeleton->text = m_raw;
            m_skeleton->cutRanges.clear();
            m_skeleton->cutIsBase64.clear();
            m_parsed = std::make_unique<vmime::message>();
            m_parsed->parse(m_raw.toStdString());
        }
    }
    return *m_parsed;
}

// Whether vmime found every placeholder as the whole body of a part of its own, once.
bool MimeMessage::placeholdersAreParts() const {
    const Skeleton& sk = *m_skeleton;
    QList<int> seen(sk.cutRanges.size(), 0);
    bool stray = false;
    // A placeholder that ended up inside a larger body is simply not seen.
    const std::function<void(const vmime::bodyPart&)> visit = [&](const vmime::bodyPart& part) {
        const auto body = part.getBody();
        for (size_t i = 0; i < body->getPartCount(); ++i)
            visit(*body->getPartAt(i));
        const auto handler = body->getContents();
        if (body->getPartCount() > 0 || handler->getLength() >= size_t(sk.token.size() + 24))
            return;
        std::string contents;
        vmime::utility::outputStreamStringAdapter stream(contents);
        handler->extractRaw(stream);
        stream.flush();
        // Exactly the placeholder: a body that starts or ends elsewhere is not the cut one.
        const QByteArray text = toBytes(contents);
        if (!text.startsWith(sk.token))
            return;
        bool ok = false;
        const int index = text.mid(sk.token.size()).toInt(&ok);
        if (!ok || index < 0 || index >= seen.size()) {
            stray = true;
            return;
        }
        ++seen[index];
        // vmime must take the part for what the cut took it for: a leaf of its own, neither a
        // multipart (vmime would look for parts in the body) nor a message, in the encoding
        // the cut assumed.
        const std::string encoding = handler->getEncoding().getName();
        const bool encodingAgrees = sk.cutIsBase64.at(index)
                                        ? encoding == vmime::encodingTypes::BASE64
                                        : (encoding == vmime::encodingTypes::SEVEN_BIT ||
                                           encoding == vmime::encodingTypes::EIGHT_BIT ||
                                           encoding == vmime::encodingTypes::BINARY);
        const Leaf leaf = describe(part, sk.text);
        if (!encodingAgrees || leaf.type == "multipart" || leaf.type == "message")
            stray = true;
    };
    visit(*m_parsed);
    return !stray && std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; });
}

template <typename Work> auto MimeMessage::withSkeleton(Work work) const {
    try {
        return work();
    } catch (const SkeletonMismatch&) {
        // Parse the message as it arrived, and read it again from there.
        m_skeleton->text = m_raw;
        m_skeleton->cutRanges.clear();
        m_skeleton->cutIsBase64.clear();
        m_parsed.reset();
        return work();
    }
}

// vmime throws on some malformed input (std::length_error from a broken encoded word, its
// own exceptions elsewhere); such a message is kept as its text, like one beyond a limit.
void MimeMessage::markUnreadable() const {
    m_shape.exceeded = QStringLiteral("MIMEの形式を読み取れません");
    m_text.reset(); // it now reads as the body as sent
}

QString MimeMessage::text() const {
    if (m_text)
        return *m_text;
    if (withinLimits()) {
        try {
            m_text = partText();
            return *m_text;
        } catch (const std::exception&) {
            markUnreadable();
        }
    }
    m_text = limitNote() + QStringLiteral("\r\n") + crlf(rawBodyText());
    return *m_text;
}

namespace {

bool isFieldNameChar(unsigned char c) {
    return c > 0x20 && c < 0x7F && c != ':';
}

// Whether an "=?" at `at` opens a well-formed encoded word: =?charset?B|Q?payload?=.
bool wellFormedEncodedWord(QByteArrayView header, qsizetype at) {
    static const QRegularExpression word(QStringLiteral(
        "\\A=\\?[A-Za-z0-9!#$%&'+^_`{}~.-]+\\?(?:[Bb]\\?[A-Za-z0-9+/=]*|[Qq]\\?[!->@-~]*)"
        "\\?="));
    const QString tail =
        QString::fromLatin1(header.sliced(at, qMin<qsizetype>(header.size() - at, 1024)));
    return word.match(tail).hasMatch();
}

} // namespace

// A single-part message whose MIME fields are the simplest kind (a type with at most a
// charset, sent as it stands, no disposition) in a header of plain ASCII fields, where
// every "=?" opens a well-formed encoded word: what vmime would make of it is known without
// asking, and asking costs most of the time a small message takes. False for anything else.
bool MimeMessage::readsWithoutVmime(QByteArray& type, QByteArray& subtype,
                                    QByteArray& charset) const {
    if (m_smallestCut == std::numeric_limits<qsizetype>::max() || !withinLimits() ||
        m_bodyStart < 4 || QByteArrayView(m_raw).sliced(m_bodyStart - 4, 4) != "\r\n\r\n")
        return false;
    const QByteArrayView header = QByteArrayView(m_raw).first(m_bodyStart - 2);
    // Lines of "name: value" and their continuations, nothing but printable ASCII.
    bool lineStart = true;
    qsizetype contentTypes = 0, encodings = 0;
    for (qsizetype i = 0; i < header.size(); ++i) {
        const auto c = static_cast<unsigned char>(header[i]);
        if (c == '\r') {
            // An empty line here can only be the first: vmime would end the header there.
            if (lineStart || i + 1 >= header.size() || header[i + 1] != '\n')
                return false;
            ++i;
            lineStart = true;
            continue;
        }
        if (c == '\n' || (c < 0x20 && c != '\t') || c >= 0x7F)
            return false;
        if (c == '=' && i + 1 < header.size() && header[i + 1] == '?' &&
            !wellFormedEncodedWord(header, i))
            return false;
        if (!lineStart)
            continue;
        lineStart = false;
        if (c == ' ' || c == '\t') {
            if (i == 0)
                return false;
            continue;
        }
        qsizetype colon = i;
        while (colon < header.size() && isFieldNameChar(static_cast<unsigned char>(header[colon])))
            ++colon;
        if (colon == i || colon >= header.size() || header[colon] != ':')
            return false;
        const QByteArrayView name = header.sliced(i, colon - i);
        if (name.compare("Content-Type", Qt::CaseInsensitive) == 0)
            ++contentTypes;
        else if (name.compare("Content-Transfer-Encoding", Qt::CaseInsensitive) == 0)
            ++encodings;
        else if (name.compare("Content-Disposition", Qt::CaseInsensitive) == 0)
            return false;
    }
    if (contentTypes > 1 || encodings > 1)
        return false;
    const QByteArray transfer = field("Content-Transfer-Encoding").trimmed().toLower();
    if (!transfer.isEmpty() && transfer != "7bit" && transfer != "8bit" && transfer != "binary")
        return false;
    type = "text";
    subtype = "plain";
    charset.clear();
    if (contentTypes == 0)
        return true;
    static const QRegularExpression simpleType(QStringLiteral(
        "\\A\\s*([A-Za-z0-9!#$&^_.+-]+)/([A-Za-z0-9!#$&^_.+-]+)\\s*"
        "(?:;\\s*[Cc][Hh][Aa][Rr][Ss][Ee][Tt]=(\"?)([A-Za-z0-9_.:-]+)\\3\\s*)?;?\\s*\\z"));
    const QRegularExpressionMatch m = simpleType.match(QString::fromLatin1(field("Content-Type")));
    if (!m.hasMatch())
        return false;
    type = m.captured(1).toLatin1().toLower();
    subtype = m.captured(2).toLatin1().toLower();
    if (type == "multipart" || type == "message")
        return false;
    charset = m.captured(4).toLatin1();
    return true;
}

QString MimeMessage::partText() const {
    if (Leaf leaf; readsWithoutVmime(leaf.type, leaf.subtype, leaf.charset))
        return leaf.type == "text" ? leafText(m_raw.sliced(m_bodyStart), leaf) : QString();
    return withSkeleton([this] {
        const QByteArray& parsedText = (parsed(), m_skeleton->text);
        if (!isMultipart()) {
            Leaf leaf = describe(parsed(), parsedText);
            leaf.self = &parsed();
            if (leaf.type != "text")
                return QString();
            return leafText(contentsOf(leaf.bodyPart()), leaf);
        }
        // vmime hands out shared pointers to parts; the message itself is owned here.
        const std::shared_ptr<const vmime::bodyPart> root(&parsed(), [](const vmime::bodyPart*) {});
        QList<Leaf> leaves;
        collectLeaves(root, parsedText, leaves);
        for (const char* wanted : {"plain", "html"})
            for (const Leaf& leaf : leaves)
                if (leaf.isTextBody() && leaf.subtype == wanted)
                    return leafText(contentsOf(leaf.bodyPart()), leaf);
        return QString();
    });
}

QList<MailAttachment> MimeMessage::attachments() const {
    if (!withinLimits())
        return {};
    try {
        return files();
    } catch (const std::exception&) {
        markUnreadable();
        return {};
    }
}

QList<MailAttachment> MimeMessage::files() const {
    if (Leaf leaf; readsWithoutVmime(leaf.type, leaf.subtype, leaf.charset)) {
        if (leaf.type == "text")
            return {};
        return {{defaultName(leaf), m_raw.sliced(m_bodyStart)}};
    }
    return withSkeleton([this] {
        const QByteArray& parsedText = (parsed(), m_skeleton->text);
        QList<MailAttachment> files;
        if (!isMultipart()) {
            Leaf leaf = describe(parsed(), parsedText);
            leaf.self = &parsed();
            if (leaf.type != "text" || leaf.disposition == "attachment")
                files.append(
                    {leaf.name.isEmpty() ? defaultName(leaf) : leaf.name, contentsOf(parsed())});
            return files;
        }
        const std::shared_ptr<const vmime::bodyPart> root(&parsed(), [](const vmime::bodyPart*) {});
        QList<Leaf> leaves;
        collectLeaves(root, parsedText, leaves);
        for (const Leaf& leaf : leaves)
            if (!leaf.isTextBody() && leaf.isFile())
                files.append({leaf.name.isEmpty() ? defaultName(leaf) : leaf.name,
                              contentsOf(leaf.bodyPart())});
        return files;
    });
}

} // namespace kiku
