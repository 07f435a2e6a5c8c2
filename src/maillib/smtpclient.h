#pragma once

#include "maillib/transport.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace kiku {

// One SMTP reply: the three-digit code and its lines as the server sent them.
struct SmtpReply {
    int code = 0;
    QList<QByteArray> lines;

    bool positive() const { return code >= 200 && code < 400; }
    // The server's own lines, for error texts (control characters left out).
    QString text() const;
};

// Hands one message to an SMTP server: EHLO (HELO when refused), STARTTLS for
// smtp+starttls://, AUTH PLAIN or LOGIN with the account when the server offers AUTH or
// answers 530 (only once the connection is encrypted), MAIL FROM, RCPT TO for every recipient, DATA
// with dot-stuffing, QUIT. Nothing is sent unless every recipient is accepted. Every wait is
// bounded by the timeout.
class SmtpClient {
public:
    explicit SmtpClient(int timeoutMs);

    // The account used when the server asks for authentication; empty user = none.
    void setCredentials(const QString& userId, const QString& password);

    // True when the server accepted the message for every recipient. Otherwise
    // errorText() says what failed, with the server's reply where there is one.
    bool send(const ServerAddress& server, const QString& sender, const QStringList& recipients,
              const QByteArray& message);
    QString errorText() const { return m_error; }

    // The DATA block for a message: line ends made CR LF, lines starting with "." doubled,
    // closed by CR LF "." CR LF.
    static QByteArray dataBlock(const QByteArray& message);

private:
    bool open(const ServerAddress& server);
    bool hello();
    // Logs in with PLAIN, else LOGIN; only called when one of them is offered.
    bool authenticate();
    QString offeredMechanisms() const;
    bool mailFrom(const QString& sender, qsizetype size);
    bool transfer(const QByteArray& message);
    void quit();

    bool command(const QByteArray& line, SmtpReply& reply);
    bool readReply(SmtpReply& reply);
    // Records a failure: `what` followed by the server's reply.
    bool refused(const QString& what, const SmtpReply& reply);
    bool fail(const QString& text);

    LineConnection m_connection;
    ServerAddress m_address;
    QSet<QByteArray> m_extensions;     // upper-case EHLO keywords
    QSet<QByteArray> m_authMechanisms; // upper-case
    bool m_authenticated = false;
    QString m_userId;
    QString m_password;
    QString m_error;
};

} // namespace kiku
