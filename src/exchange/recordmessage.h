#pragma once

#include "store/mailbox.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

namespace kiku {

// A record's fields as the viewer shows them: each cut at its first zero character and
// trimmed of ASCII and ideographic spaces (the body's line breaks stay CR LF).
struct ViewedMail {
    QString subject;
    QString from; // sender of received mail, recipient of sent mail
    QString date;
    QString body;
};
ViewedMail viewedMail(const MailRecord& record);
// The same from raw record bytes, decoding only what is shown (the padding of a 32,000-byte
// body is never turned into text).
ViewedMail viewedMail(const char* bytes, RecordLayout layout);

// The same with the text left in the record's CP932 bytes (cut at its first zero, trailing
// padding off), for building a message straight from them.
struct RecordFields {
    QString subject;
    QString from;
    QString date;
    QByteArrayView body; // points into the record
};
RecordFields recordFields(const char* bytes, RecordLayout layout);
RecordFields recordFields(const StoredFields& stored);

// Whether a box holds mail the user sent (its From field then names the recipient).
bool isSentBox(Box box);

// The moment a record's Date text names: a received message's Date header (comments and
// day names allowed), or the clock text a sent message was stored with (the system's short
// date and long time, or year/month/day forms). Invalid when it names none.
QDateTime parseRecordDate(const QString& text);
// The same without the quick readers, every text through the general parsers: what the
// quick ones are held to.
QDateTime parseRecordDateLongWay(const QString& text);
// The stand-in for a record whose Date names no moment: when its box file last changed.
QDateTime boxFileTime(Box box);

// An RFC 5322 message built from a record of `box`, for a message whose original is not
// kept: Date `date` (parseRecordDate of the record's, or a stand-in where it names none), From and
// To (for sent mail the account address `account` is the sender and the record's address the
// recipient), Subject in encoded words, the text in ISO-2022-JP when every character fits, else
// UTF-8. CR LF line ends, 7-bit.
QByteArray messageFromRecord(const ViewedMail& mail, Box box, const QString& account,
                             const QDateTime& date);
// The same message from the record's fields, the text taken to ISO-2022-JP straight from
// its bytes where it can be (see iso2022JpText).
QByteArray messageFromRecord(const RecordFields& fields, Box box, const QString& account,
                             const QDateTime& date);

// The envelope address of a message for an mbox separator line: the address of its first
// From field, or MAILER-DAEMON.
QByteArray envelopeSender(const QByteArray& message);

} // namespace kiku
