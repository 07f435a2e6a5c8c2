#pragma once

#include <QString>

namespace kiku {

// Fast decoding of fixed-width CP932 fields. A field that ends in the first half of a
// double-byte character (files of the older program cut text at the field's byte width that
// way) reads as if that half were not there, so it never turns into U+FFFD and, written
// back, into "?". Apart from that the result is the same as codec::fromCp932 on the same
// bytes: a field of plain ASCII is copied as it is, other fields go through a table built
// once from codec::fromCp932 itself, and any byte sequence the table does not know (broken
// characters) is handed to codec::fromCp932. Listing a box decodes three fields per record,
// which is why this exists.
QString decodeCp932Field(const char* bytes, qsizetype size);

// The list form of a field: the bytes before the first zero byte, decoded as above (a zero
// byte is never part of a CP932 double-byte character, so a lead byte just before it is a
// half character at the end of the text).
QString decodeCp932FieldCutAtZero(const char* bytes, qsizetype size);

// Whether a lead and a trail byte make one character for codec::fromCp932.
bool isCp932Character(unsigned char lead, unsigned char trail);

} // namespace kiku
