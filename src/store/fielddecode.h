#pragma once

#include <QString>

namespace kiku {

// Fast decoding of fixed-width CP932 fields. The result is always the same as
// codec::fromCp932 on the same bytes: a field of plain ASCII is copied as it is, other
// fields go through a table built once from codec::fromCp932 itself, and any byte
// sequence the table does not know (broken or cut characters) is handed to
// codec::fromCp932. Listing a box decodes three fields per record, which is why this
// exists.
QString decodeCp932Field(const char* bytes, qsizetype size);

// The list form of a field: the bytes before the first zero byte, decoded. Equal to
// cutAtZero(codec::fromCp932(bytes)), since a zero byte is never part of a CP932
// double-byte character.
QString decodeCp932FieldCutAtZero(const char* bytes, qsizetype size);

} // namespace kiku
