#pragma once

#include <QByteArray>
#include <QString>

// Turning the bytes of received mail into Unicode. Every word and text part of a received
// message goes through these; the MIME parser only finds where they are.
namespace kiku::mailtext {

// Text in a labelled charset. ISO-2022-JP (with the NEC row 13 characters real mail carries),
// Shift_JIS/CP932, EUC-JP and UTF-8 are read under all their usual labels; a missing,
// "us-ascii" or unknown label, or a label the bytes plainly contradict, is sniffed.
QString decode(const QByteArray& bytes, const QByteArray& charset);
// Unlabelled text: ISO-2022-JP when it holds escape sequences, UTF-8 when it is valid
// UTF-8, CP932 otherwise.
QString sniff(const QByteArray& bytes);
// A header value: RFC 2047 words (B and Q, any charset; adjacent words joined before
// decoding, so a character split over two words survives) and raw 8-bit text.
QString decodeHeader(const QByteArray& value);
// Parameter `name` of a raw field value ("type/sub; name=..."): RFC 2231 sections joined by
// their numbers in whatever order they came, "name*=charset''..." and RFC 2047 words inside
// quotes decoded; empty when the field has no such parameter.
QString parameter(const QByteArray& fieldValue, const QByteArray& name);
// HTML as readable text: tags dropped, line breaks kept, every character reference resolved.
QString htmlToText(const QString& html);

} // namespace kiku::mailtext
