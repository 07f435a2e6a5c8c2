#include "store/mailrecord.h"

#include "base/codec.h"
#include "store/fielddecode.h"

#include <QCryptographicHash>

#include <array>
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

qsizetype unpaddedLength(const char* field, qsizetype width) {
    // Whole blocks first, compared by memcmp, which takes as many bytes to a step as the
    // processor can; then ever smaller pieces up to the last space.
    static const std::array<char, 2048> spaces = [] {
        std::array<char, 2048> block;
        block.fill(' ');
        return block;
    }();
    qsizetype size = width;
    for (const qsizetype step : {qsizetype(2048), qsizetype(128)}) {
        while (size >= step && std::memcmp(field + size - step, spaces.data(), size_t(step)) == 0)
            size -= step;
    }
    constexpr quint64 kSpaces = 0x2020202020202020ULL;
    while (size >= 8) {
        quint64 word;
        std::memcpy(&word, field + size - 8, 8);
        if (word != kSpaces)
            break;
        size -= 8;
    }
    while (size > 0 && field[size - 1] == ' ')
        --size;
    return size;
}

StoredFields storedFields(const char* bytes, RecordLayout layout) {
    const MailLayout& l = mailLayout(layout);
    const auto unpadded = [bytes](FieldSpan span) {
        return QByteArrayView(bytes + span.offset, unpaddedLength(bytes + span.offset, span.width));
    };
    return {unpadded(l.subject), unpadded(l.date), unpadded(l.from), unpadded(l.body)};
}

QByteArray recordDigest(const StoredFields& fields) {
    // The padding says nothing a field's width does not: leaving it out spares hashing
    // 32 KB of spaces for every short message, and keeps equal fields equal.
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    for (const QByteArrayView field : {fields.subject, fields.date, fields.from, fields.body}) {
        const char size[2] = {char(field.size() & 0xFF), char(field.size() >> 8)};
        hash.addData(QByteArrayView(size, 2));
        hash.addData(field);
    }
    return hash.result();
}

QByteArray recordDigest(const char* bytes, RecordLayout layout) {
    return recordDigest(storedFields(bytes, layout));
}

QByteArray recordDigest(const MailRecord& record) {
    return recordDigest(encodeMail(record, RecordLayout::Standard).constData(),
                        RecordLayout::Standard);
}

} // namespace kiku
