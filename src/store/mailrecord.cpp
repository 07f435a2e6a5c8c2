#include "store/mailrecord.h"

#include "base/codec.h"
#include "store/fielddecode.h"

#include <QCryptographicHash>

#include <cstring>

namespace kiku {

namespace {

void put(QByteArray& record, FieldSpan span, const QString& text) {
    codec::putFixedWidthCp932(record.data() + span.offset, text, span.width);
}

QString get(const char* record, FieldSpan span) {
    return decodeCp932Field(record + span.offset, span.width);
}

} // namespace

const MailLayout& mailLayout(RecordLayout layout) {
    return layout == RecordLayout::PartnerSend ? kPartnerSendLayout : kStandardLayout;
}

qint16 readLive16(const char* at) {
    return qint16(quint16(uchar(at[0])) | quint16(uchar(at[1])) << 8);
}

void writeLive16(char* at, qint16 value) {
    at[0] = char(quint16(value) & 0xFF);
    at[1] = char(quint16(value) >> 8);
}

QByteArray encodeMail(const MailRecord& record, RecordLayout layout) {
    const MailLayout& l = mailLayout(layout);
    QByteArray bytes(kMailRecordSize, ' ');
    put(bytes, l.subject, record.subject);
    put(bytes, l.date, record.date);
    put(bytes, l.from, record.from);
    put(bytes, l.body, record.body);
    bytes[l.lineBreak.offset] = '\r';
    bytes[l.lineBreak.offset + 1] = '\n';
    writeLive16(bytes.data() + l.live.offset, record.live);
    return bytes;
}

MailRecord decodeMail(const char* bytes, RecordLayout layout) {
    const MailLayout& l = mailLayout(layout);
    MailRecord r;
    r.subject = get(bytes, l.subject);
    r.date = get(bytes, l.date);
    r.from = get(bytes, l.from);
    r.body = get(bytes, l.body);
    r.live = readLive16(bytes + l.live.offset);
    return r;
}

QByteArray recordDigest(const char* bytes, RecordLayout layout) {
    const MailLayout& l = mailLayout(layout);
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    for (const FieldSpan span : {l.subject, l.date, l.from, l.body}) {
        // The padding says nothing a field's width does not: leaving it out spares hashing
        // 32 KB of spaces for every short message, and keeps equal fields equal.
        const char* field = bytes + span.offset;
        int length = span.width;
        constexpr quint64 kEightSpaces = 0x2020202020202020ULL;
        for (quint64 word; length >= 8; length -= 8) {
            std::memcpy(&word, field + length - 8, 8);
            if (word != kEightSpaces)
                break;
        }
        while (length > 0 && field[length - 1] == ' ')
            --length;
        const char size[2] = {char(length & 0xFF), char(length >> 8)};
        hash.addData(QByteArrayView(size, 2));
        hash.addData(QByteArrayView(field, length));
    }
    return hash.result();
}

QByteArray recordDigest(const MailRecord& record) {
    return recordDigest(encodeMail(record, RecordLayout::Standard).constData(),
                        RecordLayout::Standard);
}

} // namespace kiku
