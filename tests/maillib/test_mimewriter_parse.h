#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace kiku::test {

// An outgoing message read back with GMime for the structure and the transfer encodings, and the
// words through the receive path's decoders (GMime's own drop a B word after a padded one), the way
// a receiving mail program sees it.
struct ParsedMail {
    struct Address {
        QString name;
        QString address;
    };
    struct Attachment {
        QString name;        // the name the receive path reads (RFC 2231 preferred)
        QString contentType; // "image/png"
        QByteArray bytes;
    };
    QString subject;
    QString date; // the raw Date field
    Address from;
    QList<Address> to;
    QList<Address> cc;
    QString bodyCharset;  // lower case, "iso-2022-jp" or "utf-8"
    QString bodyEncoding; // "7bit", "base64"
    QString body;         // decoded from bodyCharset
    QList<Attachment> attachments;
};

ParsedMail parseMail(const QByteArray& message);

// Header text with RFC 2047 words decoded as the receive path does.
QString decodedWords(const QString& text);

// The unfolded raw text of a header field (up to the blank line); empty when absent.
QByteArray rawHeaderField(const QByteArray& headers, const QByteArray& name);

} // namespace kiku::test
