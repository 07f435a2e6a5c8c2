#include "exchange/recordjis.h"

#include "base/codec.h"
#include "store/fielddecode.h"

#include <vector>

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

// The characters of the text, or false on one that is not converted here.
bool unitsOf(QByteArrayView bytes, std::vector<Unit>& units) {
    const auto* p = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype n = bytes.size();
    units.reserve(size_t(n));
    for (qsizetype i = 0; i < n;) {
        const uchar b = p[i];
        if (b < 0x80) {
            // ESC, SO and SI would be read as part of the encoding itself.
            if (b == 0x1B || b == 0x0E || b == 0x0F || b == 0)
                return false;
            units.push_back(b);
            ++i;
            continue;
        }
        if (!codec::isCp932LeadByte(b))
            return false;
        if (i + 1 >= n) // half a character ends the field: it is not there
            break;
        const Unit jis = jisOf(b, p[i + 1]);
        if (jis == 0)
            return false;
        units.push_back(jis);
        i += 2;
    }
    return true;
}

// The range of the characters left when the spaces the viewer trims are taken off both ends.
std::pair<size_t, size_t> trimmed(const std::vector<Unit>& units) {
    const auto trimmable = [](Unit u) { return u == ' ' || u == kIdeographicSpace; };
    size_t begin = 0;
    size_t end = units.size();
    while (begin < end && trimmable(units[begin]))
        ++begin;
    while (end > begin && trimmable(units[end - 1]))
        --end;
    return {begin, end};
}

} // namespace

std::optional<QList<quint16>> jisCharacters(QByteArrayView bytes) {
    std::vector<Unit> units;
    if (!unitsOf(bytes, units))
        return std::nullopt;
    const auto [begin, end] = trimmed(units);
    return QList<quint16>(units.begin() + begin, units.begin() + end);
}

std::optional<QByteArray> iso2022JpText(QByteArrayView bytes) {
    std::vector<Unit> units;
    if (!unitsOf(bytes, units))
        return std::nullopt;
    const auto [begin, end] = trimmed(units);

    // The worst case: an escape pair around every character, every line end doubled.
    QByteArray out(qsizetype(end - begin) * 8 + 3, Qt::Uninitialized);
    char* dst = out.data();
    bool jis = false;
    const auto toAscii = [&] {
        if (jis) {
            *dst++ = 0x1B, *dst++ = '(', *dst++ = 'B';
            jis = false;
        }
    };
    for (size_t i = begin; i < end; ++i) {
        const Unit u = units[i];
        if (u >= 0x80) {
            if (!jis) {
                *dst++ = 0x1B, *dst++ = '$', *dst++ = 'B';
                jis = true;
            }
            *dst++ = char(u >> 8);
            *dst++ = char(u & 0xFF);
            continue;
        }
        toAscii();
        if (u == '\r' || u == '\n') {
            // CR LF, a lone CR and a lone LF all become CR LF.
            if (u == '\r' && i + 1 < end && units[i + 1] == '\n')
                ++i;
            *dst++ = '\r', *dst++ = '\n';
        } else {
            *dst++ = char(u);
        }
    }
    toAscii();
    out.truncate(dst - out.constData());
    return out;
}

} // namespace kiku
