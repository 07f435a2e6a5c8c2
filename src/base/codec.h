#pragma once

#include <QByteArray>
#include <QString>

namespace kiku {

// Conversions between the program's Unicode text and the byte encodings it meets, all
// through glibc iconv. CP932 is the Windows Japanese code page the files are written in.
namespace codec {

// Unicode to CP932. A character CP932 cannot hold becomes "?".
QByteArray toCp932(const QString& text);

// CP932 to Unicode. A byte sequence that is not CP932 becomes U+FFFD.
QString fromCp932(const QByteArray& bytes);

// Any charset iconv knows (ISO-2022-JP, EUC-JP, UTF-8, ...) to Unicode. Returns false
// in *ok when the charset is unknown; undecodable bytes become U+FFFD.
QString decode(const QByteArray& bytes, const QByteArray& charset, bool* ok = nullptr);

// decode() the slow way, every byte through iconv: what the shortcuts must match (tests).
QString decodeWithoutShortcuts(const QByteArray& bytes, const QByteArray& charset);

// Unicode to a charset. Returns false in *ok when the charset is unknown or some
// character cannot be written in it (that character is then written as "?").
QByteArray encode(const QString& text, const QByteArray& charset, bool* ok = nullptr);

// True when every character of the text can be written in the charset.
bool fits(const QString& text, const QByteArray& charset);

// A fixed-width field: the text in CP932, cut at `width` bytes and padded with 0x20.
// A double-byte character that would straddle the end is left out and its place padded,
// so a field never ends in half a character.
QByteArray fixedWidthCp932(const QString& text, int width);
// The same field written at `field`, which has room for `width` bytes.
void putFixedWidthCp932(char* field, const QString& text, int width);

// The length of the longest prefix of CP932 bytes that is at most `width` bytes and does
// not end in the lead byte of a double-byte character.
int cp932CutPoint(const QByteArray& bytes, int width);

// True when the byte opens a double-byte character in CP932.
inline bool isCp932LeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

} // namespace codec
} // namespace kiku
