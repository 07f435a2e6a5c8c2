#include "base/codec.h"

#include <QList>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <string>
#include <unordered_map>
#include <vector>

namespace kiku::codec {

namespace {

// The open iconv descriptors of this thread, one per direction, kept for the life of the
// thread. Opening one makes glibc load (and closing the last one unload) its conversion
// module, which costs far more than a whole conversion of a typical message.
class DescriptorCache {
public:
    ~DescriptorCache() {
        for (const auto& entry : m_open) {
            if (entry.second != invalid())
                iconv_close(entry.second);
        }
    }
    iconv_t get(const char* to, const char* from) {
        const std::string key = std::string(to) + '\n' + from;
        auto it = m_open.find(key);
        if (it == m_open.end())
            it = m_open.emplace(key, iconv_open(to, from)).first;
        if (it->second != invalid())
            iconv(it->second, nullptr, nullptr, nullptr, nullptr); // back to the initial state
        return it->second;
    }
    static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }

private:
    std::unordered_map<std::string, iconv_t> m_open;
};

// A descriptor from the thread's cache, reset to its initial shift state.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(cache().get(to, from)) {}
    bool valid() const { return m_cd != DescriptorCache::invalid(); }
    iconv_t get() const { return m_cd; }

private:
    static DescriptorCache& cache() {
        thread_local DescriptorCache s_cache;
        return s_cache;
    }
    iconv_t m_cd;
};

// glibc's name for the Windows code page 932 (NEC and IBM extensions, 0x8160 as U+FF5E).
constexpr const char* kCp932 = "CP932";

// Converts UTF-32 code points to `charset`; a character that cannot be converted is
// written as "?" and counted in *failures.
QByteArray fromUcs4(const QList<uint>& ucs4, const char* charset, bool* known, int* failures) {
    Converter cd(charset, "UTF-32LE");
    *known = cd.valid();
    *failures = 0;
    if (!cd.valid())
        return {};
    QByteArray out;
    out.resize(ucs4.size() * 4 + 16);
    char* in = reinterpret_cast<char*>(const_cast<uint*>(ucs4.constData()));
    size_t inLeft = size_t(ucs4.size()) * 4;
    char* dst = out.data();
    size_t outLeft = size_t(out.size());
    auto grow = [&] {
        const qsizetype used = dst - out.data();
        out.resize(out.size() * 2 + 16);
        dst = out.data() + used;
        outLeft = size_t(out.size() - used);
    };
    while (inLeft > 0) {
        if (iconv(cd.get(), &in, &inLeft, &dst, &outLeft) != size_t(-1))
            break;
        if (errno == E2BIG) {
            grow();
        } else { // EILSEQ or EINVAL: this character has no place in the charset
            ++*failures;
            in += 4;
            inLeft -= 4;
            if (outLeft < 1)
                grow();
            *dst++ = '?';
            --outLeft;
        }
    }
    // Return the shift state to the initial one (ISO-2022-JP needs its closing ESC ( B).
    for (;;) {
        if (iconv(cd.get(), nullptr, nullptr, &dst, &outLeft) != size_t(-1))
            break;
        if (errno != E2BIG)
            break;
        grow();
    }
    out.truncate(dst - out.data());
    return out;
}

QString throughIconv(const QByteArray& bytes, const char* charset, bool* ok) {
    Converter cd("UTF-16LE", charset);
    if (ok)
        *ok = cd.valid();
    if (!cd.valid())
        return QString::fromLatin1(bytes);
    std::vector<char16_t> out(size_t(bytes.size()) * 2 + 16);
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    char* dst = reinterpret_cast<char*>(out.data());
    size_t outLeft = out.size() * 2;
    while (inLeft > 0) {
        if (iconv(cd.get(), &in, &inLeft, &dst, &outLeft) != size_t(-1))
            break;
        if (errno == E2BIG) {
            const size_t used = out.size() * 2 - outLeft;
            out.resize(out.size() * 2);
            dst = reinterpret_cast<char*>(out.data()) + used;
            outLeft = out.size() * 2 - used;
            continue;
        }
        // An invalid or truncated sequence: one replacement character, skip one byte.
        if (outLeft < 2) {
            const size_t used = out.size() * 2 - outLeft;
            out.resize(out.size() * 2);
            dst = reinterpret_cast<char*>(out.data()) + used;
            outLeft = out.size() * 2 - used;
        }
        const char16_t replacement = 0xFFFD;
        std::memcpy(dst, &replacement, 2);
        dst += 2;
        outLeft -= 2;
        ++in;
        --inLeft;
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
    const size_t units = (out.size() * 2 - outLeft) / 2;
    return QString(reinterpret_cast<const QChar*>(out.data()), qsizetype(units));
}

// glibc's EUC-JP-MS and CP932 read the bytes 0x00 to 0x7F as the same code points, so text
// that is all ASCII needs no conversion. In EUC-JP every byte of a double-byte character is
// 0x80 or above, so long ASCII runs can be copied between converted pieces too; a CP932
// trail byte may be ASCII, so CP932 takes the shortcut only for wholly ASCII text.
constexpr const char* kEucJpMs = "EUC-JP-MS";
constexpr qsizetype kShortestCopiedRun = 64;

bool isAscii(const char* data, qsizetype size) {
    for (qsizetype i = 0; i < size; ++i)
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return false;
    return true;
}

QString toUnicode(const QByteArray& bytes, const char* charset, bool* ok) {
    const bool eucJp = std::strcmp(charset, kEucJpMs) == 0;
    if (!eucJp && std::strcmp(charset, kCp932) != 0)
        return throughIconv(bytes, charset, ok);
    if (ok)
        *ok = true;
    if (isAscii(bytes.constData(), bytes.size()))
        return QString::fromLatin1(bytes);
    if (!eucJp)
        return throughIconv(bytes, charset, ok);
    QString out;
    out.reserve(bytes.size());
    const char* data = bytes.constData();
    const qsizetype n = bytes.size();
    qsizetype pending = 0; // start of the bytes not yet converted
    qsizetype i = 0;
    while (i < n) {
        if (static_cast<unsigned char>(data[i]) >= 0x80) {
            ++i;
            continue;
        }
        qsizetype run = i;
        while (run < n && static_cast<unsigned char>(data[run]) < 0x80)
            ++run;
        if (run - i >= kShortestCopiedRun || run == n) {
            if (i > pending)
                out += throughIconv(QByteArray::fromRawData(data + pending, i - pending), charset,
                                    nullptr);
            out += QLatin1StringView(data + i, run - i);
            pending = run;
        }
        i = run;
    }
    if (n > pending)
        out += throughIconv(QByteArray::fromRawData(data + pending, n - pending), charset, nullptr);
    return out;
}

// The CP932 bytes iconv writes for each code point of the Basic Multilingual Plane: a byte
// below 0x100, a lead and trail byte packed above it, kUnmapped for none. CP932 converts
// each code point on its own, so looking them up gives exactly iconv's bytes.
constexpr quint16 kUnmapped = 0xFFFF;

const std::vector<quint16>& cp932Bytes() {
    static const std::vector<quint16> table = [] {
        std::vector<quint16> t(0x10000, kUnmapped);
        Converter cd(kCp932, "UTF-32LE");
        if (!cd.valid())
            return t;
        for (uint cp = 0; cp < 0x10000; ++cp) {
            if (cp >= 0xD800 && cp <= 0xDFFF)
                continue;
            char in[4];
            std::memcpy(in, &cp, 4);
            char out[8];
            char* src = in;
            size_t inLeft = 4;
            char* dst = out;
            size_t outLeft = sizeof out;
            iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd.get(), &src, &inLeft, &dst, &outLeft) == size_t(-1))
                continue;
            const size_t written = sizeof out - outLeft;
            if (written == 1)
                t[cp] = quint8(out[0]);
            else if (written == 2 && quint8(out[0]) >= 0x81)
                t[cp] = quint16(quint8(out[0]) << 8 | quint8(out[1]));
        }
        return t;
    }();
    return table;
}

// The CP932 bytes of the character at `i` (moved past a surrogate pair): `length` 1 or 2.
// `table` is cp932Bytes(), looked up once by the caller: this runs for every character of
// every stored field.
inline quint16 cp932Of(const quint16* table, const char16_t* chars, qsizetype n, qsizetype& i,
                       int& length) {
    const char16_t c = chars[i];
    // Surrogates have no entry, so a lone one comes out as kUnmapped too.
    const quint16 bytes = table[c];
    length = bytes >= 0x100 && bytes != kUnmapped ? 2 : 1;
    if (bytes != kUnmapped)
        return bytes;
    if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(chars[i + 1]))
        ++i; // beyond the BMP: nothing there is in CP932
    return '?';
}

const char16_t* utf16Of(const QString& text) {
    return reinterpret_cast<const char16_t*>(text.constData());
}

} // namespace

QString decodeWithoutShortcuts(const QByteArray& bytes, const QByteArray& charset) {
    return throughIconv(bytes, charset.constData(), nullptr);
}

QByteArray toCp932(const QString& text) {
    // All ASCII: the same bytes, without the trip through UTF-32 and iconv.
    const char16_t* chars = utf16Of(text);
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && chars[i] < 0x80)
        ++i;
    if (i == n)
        return text.toLatin1();
    // The rest by table; a code point CP932 lacks becomes "?" as in encode().
    QByteArray out(n * 2, Qt::Uninitialized);
    char* dst = out.data();
    for (qsizetype k = 0; k < i; ++k)
        *dst++ = char(chars[k]);
    const quint16* table = cp932Bytes().data();
    for (; i < n; ++i) {
        int length = 0;
        const quint16 bytes = cp932Of(table, chars, n, i, length);
        if (length == 2)
            *dst++ = char(bytes >> 8);
        *dst++ = char(bytes & 0xFF);
    }
    out.truncate(dst - out.constData());
    return out;
}

QString fromCp932(const QByteArray& bytes) {
    return toUnicode(bytes, kCp932, nullptr);
}

QString decode(const QByteArray& bytes, const QByteArray& charset, bool* ok) {
    return toUnicode(bytes, charset.constData(), ok);
}

QByteArray encode(const QString& text, const QByteArray& charset, bool* ok) {
    bool known = false;
    int failures = 0;
    QByteArray out = fromUcs4(text.toUcs4(), charset.constData(), &known, &failures);
    if (ok)
        *ok = known && failures == 0;
    return out;
}

bool fits(const QString& text, const QByteArray& charset) {
    bool ok = false;
    encode(text, charset, &ok);
    return ok;
}

int cp932CutPoint(const QByteArray& bytes, int width) {
    const int n = int(qMin<qsizetype>(bytes.size(), qMax(width, 0)));
    int i = 0;
    while (i < n) {
        const int step = isCp932LeadByte(uchar(bytes.at(i))) ? 2 : 1;
        if (i + step > n)
            break;
        i += step;
    }
    return i;
}

void putFixedWidthCp932(char* field, const QString& text, int width) {
    // Character by character until the field is full: the same bytes as converting the whole
    // text and cutting it at cp932CutPoint, without converting what the field cannot hold.
    width = qMax(width, 0);
    int used = 0;
    const char16_t* chars = utf16Of(text);
    const qsizetype n = text.size();
    const quint16* table = cp932Bytes().data();
    for (qsizetype i = 0; i < n; ++i) {
        const quint16 bytes = table[chars[i]];
        if (bytes < 0x100) { // ASCII and half-width katakana
            if (used == width)
                break;
            field[used++] = char(bytes);
        } else if (bytes != kUnmapped) {
            if (used + 2 > width)
                break;
            field[used++] = char(bytes >> 8);
            field[used++] = char(bytes & 0xFF);
        } else {
            int length = 0;
            const quint16 unmapped = cp932Of(table, chars, n, i, length);
            if (used == width)
                break;
            field[used++] = char(unmapped);
        }
    }
    std::memset(field + used, ' ', size_t(width - used));
}

QByteArray fixedWidthCp932(const QString& text, int width) {
    QByteArray field(qMax(width, 0), Qt::Uninitialized);
    putFixedWidthCp932(field.data(), text, width);
    return field;
}

} // namespace kiku::codec
