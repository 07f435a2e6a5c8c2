#include "store/fielddecode.h"

#include "base/codec.h"

#include <QStringList>
#include <cstring>
#include <vector>

namespace kiku {

namespace {

constexpr char16_t kUnknown = 0xFFFF; // CP932 never decodes to this non-character

// What codec::fromCp932 gives for every single byte and every lead/trail pair, learnt
// from two calls with the candidates separated by line feeds.
class Cp932Table {
public:
    Cp932Table() : m_single(256, kUnknown), m_double(128 * 256, kUnknown) {
        learnSingles();
        learnPairs();
    }
    char16_t single(uchar b) const { return m_single[b]; }
    char16_t pair(uchar lead, uchar trail) const {
        return m_double[size_t(lead - 0x80) * 256 + trail];
    }

private:
    void learnSingles() {
        QByteArray probe;
        QList<uchar> bytes;
        for (int b = 0; b < 256; ++b) {
            if (b == '\n' || codec::isCp932LeadByte(uchar(b)))
                continue;
            probe.append(char(b)).append('\n');
            bytes.append(uchar(b));
        }
        const QStringList parts = codec::fromCp932(probe).split(QLatin1Char('\n'));
        if (parts.size() != bytes.size() + 1)
            return; // leave everything to codec::fromCp932
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            if (parts[i].size() == 1 && parts[i][0] != QChar(0xFFFD))
                m_single[bytes[i]] = parts[i][0].unicode();
        }
        m_single['\n'] = u'\n';
    }

    void learnPairs() {
        QByteArray probe;
        QList<int> indices;
        for (int lead = 0x80; lead < 256; ++lead) {
            if (!codec::isCp932LeadByte(uchar(lead)))
                continue;
            for (int trail = 0; trail < 256; ++trail) {
                if (trail == '\n')
                    continue;
                probe.append(char(lead)).append(char(trail)).append('\n');
                indices.append((lead - 0x80) * 256 + trail);
            }
        }
        const QStringList parts = codec::fromCp932(probe).split(QLatin1Char('\n'));
        if (parts.size() != indices.size() + 1)
            return;
        for (qsizetype i = 0; i < indices.size(); ++i) {
            if (parts[i].size() == 1 && parts[i][0] != QChar(0xFFFD))
                m_double[size_t(indices[i])] = parts[i][0].unicode();
        }
    }

    std::vector<char16_t> m_single;
    std::vector<char16_t> m_double;
};

const Cp932Table& table() {
    static const Cp932Table s_table;
    return s_table;
}

bool isAscii(const char* bytes, qsizetype size) {
    for (qsizetype i = 0; i < size; ++i) {
        if (uchar(bytes[i]) >= 0x80)
            return false;
    }
    return true;
}

// The length of the field without a lone lead byte at its end: the older program cut text
// at a field's byte width and could leave the first half of a double-byte character there.
qsizetype withoutHalfCharacter(const char* bytes, qsizetype size) {
    qsizetype i = 0;
    while (i < size) {
        const qsizetype step = codec::isCp932LeadByte(uchar(bytes[i])) ? 2 : 1;
        if (i + step > size)
            return i;
        i += step;
    }
    return size;
}

} // namespace

QString decodeCp932Field(const char* bytes, qsizetype size) {
    if (isAscii(bytes, size))
        return QString::fromLatin1(bytes, size);
    const Cp932Table& t = table();
    QString out(size, Qt::Uninitialized);
    QChar* dst = out.data();
    qsizetype written = 0;
    for (qsizetype i = 0; i < size;) {
        const uchar b = uchar(bytes[i]);
        char16_t c;
        if (codec::isCp932LeadByte(b)) {
            if (i + 1 >= size)
                break; // half a character ends the field
            c = t.pair(b, uchar(bytes[i + 1]));
            i += 2;
        } else {
            c = t.single(b);
            i += 1;
        }
        if (c == kUnknown)
            return codec::fromCp932(QByteArray(bytes, withoutHalfCharacter(bytes, size)));
        dst[written++] = QChar(c);
    }
    out.truncate(written);
    return out;
}

QString decodeCp932FieldCutAtZero(const char* bytes, qsizetype size) {
    const void* zero = std::memchr(bytes, 0, size_t(size));
    const qsizetype n = zero ? static_cast<const char*>(zero) - bytes : size;
    return decodeCp932Field(bytes, n);
}

bool isCp932Character(unsigned char lead, unsigned char trail) {
    return codec::isCp932LeadByte(lead) && table().pair(lead, trail) != kUnknown;
}

} // namespace kiku
