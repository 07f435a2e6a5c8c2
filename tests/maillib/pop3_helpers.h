#pragma once

#include "maillib/nmail.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace kiku::test {

// What one pass of the receive cycle's calls gave for a message.
struct ReceivedMail {
    int status = 0;
    int size = 0;
    QString subject;
    QString date;
    QString from;
    QString header;
    QString body; // after NMailPop3GetMail
    int attachmentResult = 0;
    QString attachmentBody; // after NMailAttachmentFileFirst
};

// Runs the calls of one receive, in the program's order, against 127.0.0.1:port:
// connect, authenticate, then per message status, size, fetch, attachment pass and
// (when `remove`) delete, and close. `count` gets the authentication result.
QList<ReceivedMail> receiveAll(NMail& mail, const QString& server, const QString& user,
                               const QString& password, bool apop, const QString& folder,
                               bool remove, int* count = nullptr);

// The whole-message text the program hands to the attachment pass: the header buffer as
// one line and the body buffer, each followed by a line end, read back line by line and
// joined with CR LF.
QString wholeMessageText(const QString& header, const QString& body);

// NMailGetMessage as the program calls it.
QString lastMessage(NMail& mail);

QByteArray crlf(const QByteArray& text);

} // namespace kiku::test
