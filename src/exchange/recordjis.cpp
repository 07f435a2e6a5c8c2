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

// The JIS X 0208 code of a Shift-JIS pair, or 0 when the pair is no character or lies
// outside rows 1 to 8 and 16 to 84: CP932 fills row 13 and the rows past 84 with characters
// ISO-2022-JP does not hold, and leaves rows 9 to 15 otherwise empty.
Unit jisOf(uchar lead, uchar trail) {
    const bool lowRows = lead >= 0x81 && lead <= 0x84;   // rows 1 to 8
    const bool kanjiRows = lead >= 0x88 && lead <= 0xEA; // rows 15 (empty) to 84
    if (!(lowRows || kanjiRows) || !isCp932Character(lead, trail))
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

// jisOf for every pair, worked out once: one look-up in the loop over every character of a
// text (128 KB, which stays in the processor's cache while a text is converted).
class JisTable {
public:
    JisTable() {
        for (int pair = 0; pair < 0x10000; ++pair)
            m_units[size_t(pair)] = jisOf(uchar(pair >> 8), uchar(pair & 0xFF));
    }
    Unit operator()(uchar lead, uchar trail) const { return m_units[size_t(lead << 8 | trail)]; }

private:
    std::array<Unit, 0x10000> m_units{};
};

constexpr uchar kEscape = 0x1B;

} // namespace

std::optional<QByteArray> iso2022JpText(QByteArrayView bytes) {
    static const JisTable jis;
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
                if (i + 1 >= n) {
                    if (!codec::isCp932LeadByte(p[i]))
                        return std::nullopt;
                    goto end; // half a character ends the field: it is not there
                }
                // A byte that starts no character has no pair in the table either.
                const Unit unit = jis(p[i], p[i + 1]);
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
