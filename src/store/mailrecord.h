#pragma once

#include <QByteArray>
#include <QString>

namespace kiku {

// One stored message. Text fields hold the whole fixed-width field as decoded from
// Shift-JIS, padding spaces (and any zero characters) included, so that encoding a record
// just read gives back its bytes; readers trim or cut at zero as they need.
struct MailRecord {
    QString subject;
    QString date;
    QString from; // sender of received mail, recipient of sent mail
    QString body;
    // Non-zero = live. Received and sent mail carry 1; the storage box carries the
    // record's own position; 0 marks a record the next compaction drops.
    qint16 live = 1;

    bool operator==(const MailRecord&) const = default;
};

// Where one field lies inside a record.
struct FieldSpan {
    int offset;
    int width;
};

// The two arrangements of a Mail record on disk. Both are 32284 bytes and hold the same
// six fields; the partner sent box keeps Date behind the line break.
struct MailLayout {
    FieldSpan subject;
    FieldSpan date;
    FieldSpan from;
    FieldSpan body;
    FieldSpan lineBreak; // always CR LF
    FieldSpan live;      // 16-bit signed little-endian
};

inline constexpr int kMailRecordSize = 32284;

inline constexpr MailLayout kStandardLayout{{0, 100},     {100, 90},  {190, 90},
                                            {280, 32000}, {32280, 2}, {32282, 2}};
inline constexpr MailLayout kPartnerSendLayout{{0, 100},     {32192, 90}, {100, 90},
                                               {190, 32000}, {32190, 2},  {32282, 2}};

enum class RecordLayout { Standard, PartnerSend };

const MailLayout& mailLayout(RecordLayout layout);

// The 32284 bytes of a record: text fields through codec::fixedWidthCp932 (Shift-JIS,
// cut without splitting a character, padded with spaces), LineBreak CR LF, Live as given.
QByteArray encodeMail(const MailRecord& record, RecordLayout layout);

// A record from its 32284 bytes (LineBreak is not kept: it is always CR LF).
MailRecord decodeMail(const char* bytes, RecordLayout layout);

// What links a stored message to everything kept about it outside its box (the id the server
// gave it, its original): BLAKE2b-256 of the Subject, Date, From and Body bytes as stored, in
// that order, whatever the layout, each without its padding spaces and after its length (two
// bytes, little-endian). Live is left out, so a move to the storage box or a compaction keeps
// the link. 32 bytes.
QByteArray recordDigest(const char* bytes, RecordLayout layout);
QByteArray recordDigest(const MailRecord& record);

// The four text fields of a record as stored, each without its padding spaces: what the
// digest hashes and what readers decode, found once for both.
struct StoredFields {
    QByteArrayView subject;
    QByteArrayView date;
    QByteArrayView from;
    QByteArrayView body;
};
StoredFields storedFields(const char* bytes, RecordLayout layout);
QByteArray recordDigest(const StoredFields& fields);

// The length of a stored field without its padding: `width` bytes less the spaces that end
// them. Fast on a text field of 32,000 bytes that is mostly padding.
qsizetype unpaddedLength(const char* field, qsizetype width);

// The Live field of raw record bytes.
qint16 readLive16(const char* at);
void writeLive16(char* at, qint16 value);

} // namespace kiku
