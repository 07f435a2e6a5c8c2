// Charsets of received mail: the labels Japanese mail carries, and sniffing where the label
// is missing or wrong.
#include "maillib/mailtext.h"

#include "base/codec.h"

#include <QStringDecoder>

#include <array>
#include <cstring>
#include <optional>

namespace kiku::mailtext {

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
    // Eight bytes at a time: the raw body of a message with files is megabytes of ASCII.
    const char* data = bytes.constData();
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, sizeof word);
        if (word & 0x8080808080808080ULL)
            return true;
    }
    for (; i < n; ++i)
        if (static_cast<unsigned char>(data[i]) >= 0x80)
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

// The same characters by the two 7-bit bytes of a pair (first << 7 | second), 0 for a pair
// outside rows and cells 0x21 to 0x7E too: one look-up decides a pair.
const std::array<char16_t, 128 * 128>& jisPairs() {
    static const std::array<char16_t, 128 * 128> table = [] {
        std::array<char16_t, 128 * 128> t{};
        const std::array<char16_t, 94 * 94>& characters = jisCharacters();
        for (int row = 0; row < 94; ++row)
            for (int cell = 0; cell < 94; ++cell)
                t[size_t((0x21 + row) << 7 | (0x21 + cell))] = characters[size_t(row * 94 + cell)];
        return t;
    }();
    return table;
}

// ISO-2022-JP in ASCII and JIS X 0208 alone, the way nearly all mail is written, read by
// table; anything else (half-width katakana, JIS X 0212, shifts, unknown escapes, a pair the
// converter has no character for) gives nothing, and the message goes the long way.
std::optional<QString> commonIso2022jp(const QByteArray& in) {
    const char16_t* pairs = jisPairs().data();
    const char* data = in.constData();
    const qsizetype n = in.size();
    QString out(n, Qt::Uninitialized); // never more characters than bytes
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    const auto inRange = [](unsigned char b) { return unsigned(b - 0x21) < 94; };
    bool jis = false;
    qsizetype i = 0;
    while (i < n) {
        if (jis) {
            // Pairs up to whatever ends them: most of a Japanese line.
            while (i + 1 < n) {
                const auto c = static_cast<unsigned char>(data[i]);
                const auto c2 = static_cast<unsigned char>(data[i + 1]);
                if ((c | c2) >= 0x80)
                    break;
                const char16_t u = pairs[c << 7 | c2];
                if (u == 0)
                    break; // not a pair, or one without a character: looked at below
                *dst++ = u;
                i += 2;
            }
            if (i == n)
                break;
        }
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
            i += 3;
            continue;
        }
        if (c == 0x0E || c == 0x0F || c >= 0x80)
            return std::nullopt;
        if (c == '\r' || c == '\n')
            jis = false;
        if (jis) {
            // Inside JIS X 0208 only a control or a space stands alone; a byte of a pair
            // whose other half is missing or out of range, or a pair without a character, is
            // not the common form.
            if (inRange(c))
                return std::nullopt;
            *dst++ = c;
            ++i;
            continue;
        }
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
        i = end;
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

} // namespace kiku::mailtext
