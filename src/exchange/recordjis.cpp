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

// Hands each character of the text to `take` in turn; false on one that is not converted
// here. Spaces that the viewer trims from the start are left out.
template <typename Take> bool forEachUnit(QByteArrayView bytes, const Take& take) {
    static const PairTable pairs;
    const auto* p = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype n = bytes.size();
    bool leading = true;
    for (qsizetype i = 0; i < n;) {
        const uchar b = p[i];
        Unit unit;
        if (b < 0x80) {
            // ESC, SO and SI would be read as part of the encoding itself.
            if (b == 0x1B || b == 0x0E || b == 0x0F || b == 0)
                return false;
            unit = b;
            ++i;
        } else {
            if (!codec::isCp932LeadByte(b))
                return false;
            if (i + 1 >= n) // half a character ends the field: it is not there
                break;
            unit = jisOf(pairs, b, p[i + 1]);
            if (unit == 0)
                return false;
            i += 2;
        }
        leading = leading && (unit == ' ' || unit == kIdeographicSpace);
        if (!leading)
            take(unit, i < n ? p[i] : 0);
    }
    return true;
}

bool trimmable(Unit u) {
    return u == ' ' || u == kIdeographicSpace;
}

} // namespace

std::optional<QByteArray> iso2022JpText(QByteArrayView bytes) {
    // The worst case: an escape before every character, every lone CR or LF doubled.
    QByteArray out(bytes.size() * 5 + 3, Qt::Uninitialized);
    char* const start = out.data();
    char* dst = start;
    bool jis = false;
    // Where the text ends without its trailing spaces, and in which state.
    char* kept = dst;
    bool keptJis = false;
    bool crBeforeLf = false; // the last character was a CR that a LF follows
    if (!forEachUnit(bytes, [&](Unit u, uchar next) {
            if (u >= 0x80) {
                if (!jis) {
                    *dst++ = 0x1B, *dst++ = '$', *dst++ = 'B';
                    jis = true;
                }
                *dst++ = char(u >> 8);
                *dst++ = char(u & 0xFF);
            } else {
                if (jis) {
                    *dst++ = 0x1B, *dst++ = '(', *dst++ = 'B';
                    jis = false;
                }
                // CR LF, a lone CR and a lone LF all become CR LF.
                if (u == '\n' && crBeforeLf) {
                    // written with its CR
                } else if (u == '\r' || u == '\n') {
                    *dst++ = '\r', *dst++ = '\n';
                } else {
                    *dst++ = char(u);
                }
            }
            crBeforeLf = u == '\r' && next == '\n';
            if (!trimmable(u)) {
                kept = dst;
                keptJis = jis;
            }
        }))
        return std::nullopt;
    dst = kept;
    if (keptJis)
        *dst++ = 0x1B, *dst++ = '(', *dst++ = 'B';
    out.truncate(dst - start);
    return out;
}

} // namespace kiku
