#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace kiku {

// One address of a list: "Name <a@b>", "\"Name\" <a@b>", "<a@b>" or "a@b".
struct MailAddress {
    QString displayName;
    QString address;
};

// Helpers for the header texts of outgoing mail.
namespace mime {

// Splits an address list at commas that are outside quotes and angle brackets; items are
// trimmed and empty ones dropped.
QStringList splitAddressList(const QString& text);

// Reads one address. nullopt when the address part cannot go into an SMTP command (empty,
// spaces, control or non-ASCII characters, angle brackets, quotes).
std::optional<MailAddress> parseMailAddress(const QString& text);

// The comma-separated attachment list: items trimmed, empty items ignored. An item in
// double quotes is taken as it stands, commas and spaces included, with "" for a quote
// inside it, so that a path holding a comma can be attached.
QStringList splitAttachmentList(const QString& text);
// The list splitAttachmentList reads back: plain paths as they are, a path holding a comma
// or a leading quote or white space quoted.
QString joinAttachmentList(const QStringList& paths);

// The content type guessed from the file name's extension; application/octet-stream
// when it is not one we know.
QByteArray contentTypeFor(const QString& fileName);

// "Tue, 05 Mar 2024 14:03:22 +0900": English names whatever the locale, local offset.
QByteArray rfc5322Date(const QDateTime& time);

// Replaces the CP932 forms of the few characters JIS writes with other code points
// (FULLWIDTH TILDE for WAVE DASH and so on), so text typed on Windows still fits ISO-2022-JP.
QString toJisForms(const QString& text);
// The same for one character.
QChar jisForm(QChar c);

// True when the text goes as ISO-2022-JP (after toJisForms), false when it needs UTF-8.
bool fitsIso2022Jp(const QString& text);

// RFC 2047 B words for the text, each a complete word of at most `firstRoom` characters
// for the first and `room` for the others. ISO-2022-JP words each start and end in ASCII
// state; no character is ever split between two words.
QList<QByteArray> encodedWords(const QString& text, int firstRoom, int room);

// Whether no line between CR LF pairs (a lone CR or LF does not end a line) is longer than
// `limit`.
bool linesFit(const QByteArray& bytes, qsizetype limit);

} // namespace mime

// What one outgoing message holds, as the send operation hands it over.
struct OutgoingMessage {
    MailAddress from;
    QList<MailAddress> to;
    QList<MailAddress> cc;
    QString subject;
    QString body;
    // The text already in ISO-2022-JP as the writer would make it of `body` (CR LF line ends,
    // the JIS forms of toJisForms); when not empty it goes instead of `body`.
    QByteArray iso2022JpBody;
    QString extraHeader;     // further header lines, "Name: value" each
    QStringList attachments; // file paths
    QDateTime date;          // the Date header; now when null
};

// Builds the bytes of an outgoing message: CRLF line ends, 7-bit only. Subject, names and
// body go as ISO-2022-JP when every character fits, otherwise as UTF-8; attachments
// become multipart/mixed parts in base64.
class MimeWriter {
public:
    // The message, or nullopt with errorText() naming what could not be built (an
    // attachment that cannot be read, a malformed extra header line).
    std::optional<QByteArray> write(const OutgoingMessage& message);
    QString errorText() const { return m_error; }

private:
    struct Part {
        QByteArray headers; // ends with CRLF
        QByteArray content;
    };
    std::optional<QByteArray> extraHeaderLines(const QString& text);
    std::optional<Part> attachmentPart(const QString& path);
    static Part textPart(const QString& body);
    static Part jisTextPart(const QByteArray& jis);
    static QByteArray newBoundary(const QList<Part>& parts);

    QString m_error;
};

} // namespace kiku
