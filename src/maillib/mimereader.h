#pragma once

#include "maillib/mailtext.h"
#include "maillib/mimestream.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QIODevice;

namespace kiku {

// How far a received message's MIME structure may go before it is no longer taken apart.
// Checked on the tree GMime built (GMime itself stops at 1,024 multipart and 512 message
// levels), and GMime's own work is bounded through the stream it reads.
struct MimeLimits {
    int maxDepth = 32;                      // nested multiparts and message/rfc822 parts
    int maxParts = 20000;                   // body parts in the whole message
    qsizetype maxHeaderBytes = 1024 * 1024; // one part's header block
    MimeParseBudget budget;
};

struct MailAttachment {
    QString fileName; // decoded, as the sender named it (may be empty or hostile)
    QByteArray data;  // transfer-decoded bytes
};

// One received message, read from its raw bytes. GMime finds the structure and undoes the
// transfer encodings; every word, name and text is decoded by mailtext from the bytes as
// sent. The top header is also read by hand, field by field as it stands, which the sender
// comparison and the header buffer rely on.
class MimeMessage {
public:
    explicit MimeMessage(const QByteArray& raw, const MimeLimits& limits = MimeLimits());
    ~MimeMessage();
    MimeMessage(const MimeMessage&) = delete;
    MimeMessage& operator=(const MimeMessage&) = delete;

    const QByteArray& raw() const { return m_raw; }
    // Unfolded value of the first field of that name (case-insensitive), raw bytes.
    QByteArray field(const QByteArray& name) const;
    bool hasField(const QByteArray& name) const;
    // Every field of the top header in order: name and unfolded value, raw bytes.
    const QList<QPair<QByteArray, QByteArray>>& fields() const { return m_fields; }

    // Decoded once, on first use.
    QString subject() const { return decodedOnce(m_subject, "Subject"); }
    QString date() const { return decodedOnce(m_date, "Date"); }
    QString from() const { return decodedOnce(m_from, "From"); }
    // The header block: unfolded lines joined with CR LF.
    QString headerText() const { return m_headerText; }

    // "type/subtype" of the message as GMime read it, lower case.
    QByteArray mediaType() const { return m_mediaType; }
    bool isMultipart() const { return m_mediaType.startsWith("multipart/"); }
    bool isPartial() const { return m_mediaType == "message/partial"; }
    // False when the structure passes a limit: text() is then the body as sent, led by
    // limitNote(), and attachments() is empty.
    bool withinLimits() const { return m_exceeded.isEmpty(); }
    QString limitNote() const;

    // The body as it stands, undecoded (only unlabelled bytes made into text). Made once.
    QString rawBodyText() const;
    // The same text without the base64 lines of the files it carries, a fraction of its size:
    // for a reader that looks through the text as sent. The lines of a file are left out
    // only when they hold nothing but base64 and not the word "attachment", so that whoever
    // looks for that word, or for a zero character, finds it exactly where rawBodyText() has it.
    QString rawBodyTextWithoutFileData() const;
    // What a reader wants to see: every inline text part in order, each after a blank line
    // (of an alternative, the plain text, else its HTML), HTML made plain. Line ends are
    // CR LF. Made once.
    QString text() const;
    // Every part that is a file rather than the text: attachments, inline pictures,
    // forwarded messages (byte for byte); a single-part message whose body is not text
    // counts too.
    QList<MailAttachment> attachments() const;
    // The names of attachments() without their bytes, in the same order: a large file is
    // better written by writeFile(), which never holds it whole.
    QStringList fileNames() const;
    // Writes file `index` of fileNames() into `out` a block at a time, transfer-decoded on
    // the way (a forwarded message byte for byte); false when `out` refused a write.
    bool writeFile(qsizetype index, QIODevice& out) const;

private:
    struct Tree;
    void collectFilesOnce() const;
    QString decodedOnce(std::optional<QString>& slot, const char* field) const;
    void readHeader();
    void parse(const MimeLimits& limits);

    QByteArray m_raw;
    qsizetype m_bodyStart = 0;
    QList<QPair<QByteArray, QByteArray>> m_fields; // name, unfolded value
    QString m_headerText;
    QByteArray m_mediaType = "text/plain";
    QString m_exceeded; // the limit passed, in words, for the note stored with the message
    std::unique_ptr<Tree> m_tree;
    mutable std::optional<QString> m_subject, m_date, m_from;
    mutable std::optional<QString> m_text, m_rawBodyText;
};

} // namespace kiku
