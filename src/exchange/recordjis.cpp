#include "exchange/recordjis.h"

#include "base/codec.h"
#include "store/fielddecode.h"

#include <array>

namespace kiku {

namespace {

// A character of the text: ASCII below 0x80, else the JIS X 0208 row and cell bytes (each
// 0x21 to 0x7E) packed in one number, so the two never meet.
using Unit = quint16;
constexpr Unit kIdeographicSpace = 0x2121;

// Which Shift-JIS pairs of rows 1 to 8 and 16 to 84 are characters, one bit each, learnt once
// from the decoder's table: a test in the loop over every character of a text.
class PairTable {
public:
    PairTable() {
        for (int lead = 0x81; lead <= 0xEA; ++lead) {
            const bool lowRows = lead <= 0x84;   // rows 1 to 8
            const bool kanjiRows = lead >= 0x88; // rows 15 (empty) to 84
            for (int trail = 0; trail < 0x100 && (lowRows || kanjiRows); ++trail) {
                if (isCp932Character(uchar(lead), uchar(trail)))
                    m_bits[size_t(lead << 8 | trail) / 64] |= quint64(1) << (trail % 64);
            }
        }
    }
    bool holds(uchar lead, uchar trail) const {
        return m_bits[size_t(lead << 8 | trail) / 64] >> (trail % 64) & 1;
    }

private:
    std::array<quint64, 0x10000 / 64> m_bits{};
};

// The JIS X 0208 code of a Shift-JIS pair, or 0 when the pair is no character or lies
// outside rows 1 to 8 and 16 to 84: CP932 fills row 13 and the rows past 84 with characters
// ISO-2022-JP does not hold, and leaves rows 9 to 15 otherwise empty.
Unit jisOf(const PairTable& pairs, uchar lead, uchar trail) {
    if (!pairs.holds(lead, trail))
        return 0;
    int row = (lead <= 0x9F ? lead - 0x70 : lead - 0xB0) * 2;
    int cell;
    if (trail < 0x9F) {
        --row;
        cell = trail - (trail >= 0x80 ? 0x20 : 0x1F);
    } else {
        cell = trail - 0x7E;
    }
    return Unit(row << 8 | cell);
}

constexpr uchar kEscape = 0x1B;

} // namespace

std::optional<QByteArray> iso2022JpText(QByteArrayView bytes) {
    static const PairTable pairs;
    const auto* p = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    // Spaces the viewer trims from the start are left out.
    for (;;) {
        if (i < n && p[i] == ' ')
            ++i;
        else if (i + 1 < n && p[i] == 0x81 && p[i + 1] == 0x40) // the ideographic space
            i += 2;
        else
            break;
    }
    // The worst case: an escape before every character, every lone CR or LF doubled.
    QByteArray out((n - i) * 5 + 3, Qt::Uninitialized);
    char* const start = out.data();
    char* dst = start;
    // Where the text ends without its trailing spaces, and whether it ends in JIS there.
    char* kept = dst;
    bool keptJis = false;
    // Runs of one kind of character in loops of their own: a text is mostly long runs.
    while (i < n) {
        if (p[i] >= 0x80) {
            *dst++ = char(kEscape), *dst++ = '$', *dst++ = 'B';
            do {
                if (!codec::isCp932LeadByte(p[i]))
                    return std::nullopt;
                if (i + 1 >= n) // half a character ends the field: it is not there
                    goto end;
                const Unit unit = jisOf(pairs, p[i], p[i + 1]);
                if (unit == 0)
                    return std::nullopt;
                *dst++ = char(unit >> 8);
                *dst++ = char(unit & 0xFF);
                i += 2;
                if (unit != kIdeographicSpace) {
                    kept = dst;
                    keptJis = true;
                }
            } while (i < n && p[i] >= 0x80);
            if (i < n)
                *dst++ = char(kEscape), *dst++ = '(', *dst++ = 'B';
        }
        while (i < n && p[i] < 0x80) {
            const uchar c = p[i++];
            // ESC, SO and SI would be read as part of the encoding itself.
            if (c == kEscape || c == 0x0E || c == 0x0F || c == 0)
                return std::nullopt;
            if (c == '\r' || c == '\n') {
                // CR LF, a lone CR and a lone LF all become CR LF.
                *dst++ = '\r', *dst++ = '\n';
                if (c == '\r' && i < n && p[i] == '\n')
                    ++i;
            } else {
                *dst++ = char(c);
            }
            if (c != ' ') {
                kept = dst;
                keptJis = false;
            }
        }
    }
end:
    dst = kept;
    if (keptJis)
        *dst++ = char(kEscape), *dst++ = '(', *dst++ = 'B';
    out.truncate(dst - start);
    return out;
}

} // namespace kiku
