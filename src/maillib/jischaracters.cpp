#include "maillib/jischaracters.h"

#include "base/codec.h"
#include "maillib/mimewriter.h"

#include <QStringList>
#include <vector>

namespace kiku::mime {

namespace {

const QByteArray kJisCharset = QByteArrayLiteral("ISO-2022-JP");

// The JIS X 0208 code of every character that ISO-2022-JP writes with one, learnt once from
// the converter: each code of the 94 by 94 table read back in one call, and kept where its
// character is written as that same code again.
class JisTable {
public:
    JisTable() : m_codes(0x10000, 0) {
        QByteArray probe;
        QList<quint16> codes;
        for (int row = 0x21; row <= 0x7E; ++row) {
            for (int cell = 0x21; cell <= 0x7E; ++cell) {
                probe += "\x1B$B";
                probe += char(row);
                probe += char(cell);
                probe += "\x1B(B\n";
                codes += quint16(row << 8 | cell);
            }
        }
        const QStringList read = codec::decode(probe, kJisCharset).split(QLatin1Char('\n'));
        if (read.size() != codes.size() + 1)
            return; // then every text takes the converter
        QString candidates;
        QList<quint16> candidateCodes;
        for (qsizetype i = 0; i < codes.size(); ++i) {
            const QString& c = read.at(i);
            if (c.size() == 1 && c.at(0).unicode() >= 0x80 && !c.at(0).isSurrogate() &&
                c.at(0) != QChar::ReplacementCharacter) {
                candidates += c.at(0);
                candidates += QLatin1Char('\n');
                candidateCodes += codes.at(i);
            }
        }
        const QList<QByteArray> written = codec::encode(candidates, kJisCharset).split('\n');
        if (written.size() != candidateCodes.size() + 1)
            return;
        for (qsizetype i = 0; i < candidateCodes.size(); ++i) {
            const quint16 code = candidateCodes.at(i);
            if (written.at(i) == iso2022JpOf(&code, 1))
                m_codes[candidates.at(2 * i).unicode()] = code;
        }
    }
    // 0 for a character ISO-2022-JP does not write with a JIS X 0208 code.
    quint16 code(char16_t c) const { return m_codes[c]; }

private:
    std::vector<quint16> m_codes;
};

} // namespace

QByteArray iso2022JpOf(const quint16* characters, qsizetype count) {
    // Room for two bytes and an escape for each character, and the escape back at the end.
    QByteArray out(count * 5 + 3, Qt::Uninitialized);
    char* dst = out.data();
    bool jis = false;
    for (qsizetype i = 0; i < count; ++i) {
        const quint16 c = characters[i];
        if (c >= 0x80) {
            if (!jis)
                *dst++ = 0x1B, *dst++ = '$', *dst++ = 'B';
            jis = true;
            *dst++ = char(c >> 8);
            *dst++ = char(c & 0xFF);
            continue;
        }
        if (jis)
            *dst++ = 0x1B, *dst++ = '(', *dst++ = 'B';
        jis = false;
        *dst++ = char(c);
    }
    if (jis)
        *dst++ = 0x1B, *dst++ = '(', *dst++ = 'B';
    out.truncate(dst - out.constData());
    return out;
}

std::optional<QList<quint16>> jisCharacters(const QString& text) {
    static const JisTable table;
    QList<quint16> out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = jisForm(c).unicode();
        // Escape and shift characters would be read as part of the encoding itself.
        if (u == 0x1B || u == 0x0E || u == 0x0F || u == 0)
            return std::nullopt;
        const quint16 code = u < 0x80 ? u : table.code(u);
        if (code == 0)
            return std::nullopt;
        out.append(code);
    }
    return out;
}

} // namespace kiku::mime
