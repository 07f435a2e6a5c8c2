#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace kiku::mime {

// The characters of the text after toJisForms as ISO-2022-JP numbers them: ASCII below 0x80,
// else the JIS X 0208 row and cell in one number (row << 8 | cell). Nothing when one is
// neither ASCII nor in JIS X 0208, or is an escape or shift character. Encoded words of such
// text are made without converting every trial length.
std::optional<QList<quint16>> jisCharacters(const QString& text);

// The ISO-2022-JP bytes of `count` characters numbered so: each run of JIS X 0208 characters
// between the escapes to it and back to ASCII, as the converter writes them.
QByteArray iso2022JpOf(const quint16* characters, qsizetype count);

} // namespace kiku::mime
