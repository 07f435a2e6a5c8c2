#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <memory>
#include <optional>

namespace vmime {
class bodyPart;
class message;
} // namespace vmime

namespace kiku {

// Turning the bytes of received mail into Unicode.
namespace mailtext {

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
// HTML as readable text: tags dropped, line breaks kept, common entities resolved.
QString htmlToText(const QString& html);

} // namespace mailtext

// How far a received message's MIME structure may go before it is no longer taken apart.
// vmime parses nested parts recursively, so the structure is measured first, in one linear
// pass that never recurses, and a message beyond a limit is kept as plain text.
struct MimeLimits {
    int maxDepth = 32;                      // nested multiparts and message/rfc822 parts
    int maxParts = 20000;                   // body parts in the whole message
    qsizetype maxHeaderBytes = 1024 * 1024; // one part's header block
    // A file part's base64 body at least this large is decoded here rather than by vmime
    // (see MimeMessage::Skeleton). The largest value turns every shortcut past vmime off,
    // that one and the reading of simple single-part messages without it.
    qsizetype smallestCut = 4096;
};

// What the linear pass found. `exceeded` empty when the message is within the limits.
struct MimeShape {
    int depth = 0;
    int parts = 1;
    qsizetype largestHeader = 0;
    QString exceeded; // the limit passed, in words, for the note stored with the message
};

// Measures the structure of `raw` without recursion, stopping at the first limit passed.
MimeShape measureMime(const QByteArray& raw, const MimeLimits& limits = MimeLimits());

struct MailAttachment {
    QString fileName; // decoded, as the sender named it (may be empty or hostile)
    QByteArray data;  // transfer-decoded bytes
};

// One received message, read from its raw bytes. The header is read by hand (fields as
// they stand, which the sender comparison relies on); the MIME structure, transfer
// encodings and RFC 2231 parameters through vmime, parsed only when first needed.
class MimeMessage {
public:
    explicit MimeMessage(const QByteArray& raw, const MimeLimits& limits = MimeLimits());
    ~MimeMessage();

    const QByteArray& raw() const { return m_raw; }
    // Unfolded value of the first field of that name (case-insensitive), raw bytes.
    QByteArray field(const QByteArray& name) const;
    bool hasField(const QByteArray& name) const;

    // Decoded once, on first use.
    QString subject() const { return decodedOnce(m_subject, "Subject"); }
    QString date() const { return decodedOnce(m_date, "Date"); }
    QString from() const { return decodedOnce(m_from, "From"); }
    // The header block: unfolded lines joined with CR LF.
    QString headerText() const { return m_headerText; }

    // "type/subtype" of the message, lower case ("text/plain" when absent).
    QByteArray mediaType() const;
    bool isMultipart() const { return mediaType().startsWith("multipart/"); }
    bool isPartial() const { return mediaType() == "message/partial"; }
    // False when the structure passes a limit, or turned out unreadable: text() is then the
    // body as sent, led by limitNote(), and attachments() is empty.
    bool withinLimits() const { return m_shape.exceeded.isEmpty(); }
    QString limitNote() const;

    // The body as it stands, undecoded (only unlabelled bytes made into text). Made once.
    QString rawBodyText() const;
    // What a reader wants to see: the transfer- and charset-decoded body of a single-part
    // text message, or of a multipart message's text part (text/plain preferred, else
    // text/html made plain). Line ends are CR LF. Made once, and again only when the
    // structure turned out unreadable meanwhile.
    QString text() const;
    // Every part that is a file rather than the text: attachments, inline pictures,
    // forwarded messages; a single-part message whose body is not text counts too.
    QList<MailAttachment> attachments() const;

private:
    QString decodedOnce(std::optional<QString>& slot, const char* field) const;
    bool readsWithoutVmime(QByteArray& type, QByteArray& subtype, QByteArray& charset) const;
    void readHeader();
    struct Skeleton;
    void buildSkeleton() const;
    vmime::message& parsed() const;
    bool placeholdersAreParts() const;
    template <typename Work> auto withSkeleton(Work work) const;
    QByteArray contentsOf(const vmime::bodyPart& part) const;
    QString partText() const;
    QList<MailAttachment> files() const;
    void markUnreadable() const;

    QByteArray m_raw;
    qsizetype m_smallestCut = 0;
    qsizetype m_bodyStart = 0;
    QList<QPair<QByteArray, QByteArray>> m_fields; // name, unfolded value
    QString m_headerText;
    mutable MimeShape m_shape;
    mutable std::unique_ptr<Skeleton> m_skeleton;
    mutable std::unique_ptr<vmime::message> m_parsed;
    mutable std::optional<QString> m_subject, m_date, m_from;
    mutable std::optional<QString> m_text, m_rawBodyText;
};

} // namespace kiku
