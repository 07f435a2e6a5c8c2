#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

namespace kiku {

// A record's text in ISO-2022-JP straight from its CP932 bytes, without the trip through
// Unicode and iconv: byte for byte what MimeWriter writes for the same text as the viewer
// shows it (trimmed of ASCII and ideographic spaces, a half character at the end left out,
// line ends made CR LF, the JIS forms of the characters Windows writes differently).
// `bytes` is the field cut at its first zero and without its trailing padding. Only ASCII
// and the JIS X 0208 rows are converted here, by arithmetic; for anything else (half-width
// katakana, NEC row 13, the IBM and user-defined areas, broken bytes, ESC, SO, SI) it gives
// nothing and the caller takes the long way.
std::optional<QByteArray> iso2022JpText(QByteArrayView bytes);

} // namespace kiku
