#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace kiku::test {

// How an SmtpServer is set up.
struct SmtpServerOptions {
    enum class Tls { None, StartTls, Implicit };

    // With a user, AUTH (PLAIN and LOGIN unless `mechanisms` says otherwise) is offered and,
    // unless authOptional, required before MAIL.
    QString user;
    QString password;
    QStringList mechanisms{QStringLiteral("PLAIN"), QStringLiteral("LOGIN")};
    bool authOptional = false;
    // STARTTLS or implicit TLS with this certificate and key.
    Tls tls = Tls::None;
    QString certificatePath;
    QString keyPath;
    // Recipients answered with 550.
    QStringList rejectedRecipients;
    // Seconds the server waits before answering the end of DATA.
    double dataDelaySeconds = 0;
};

// A message the server accepted: the DATA bytes exactly as they arrived (dot-unstuffed)
// and its envelope.
struct ReceivedMessage {
    QByteArray bytes;
    QString mailFrom;
    QStringList recipients;
    QString login; // who authenticated; empty without AUTH
    bool tls = false;
};

// A real aiosmtpd server (tests/support/smtp_server.py under /usr/bin/python3) on a free
// port of 127.0.0.1, storing what it receives in a temporary folder.
class SmtpServer {
public:
    using Options = SmtpServerOptions;

    SmtpServer() = default;
    ~SmtpServer();
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;

    // Starts the server and waits until it accepts connections. False (see error()) when
    // it does not come up.
    bool start(const Options& options = Options());
    void stop();

    quint16 port() const { return m_port; }
    QString error() const { return m_error; }
    // Every message accepted so far, in arrival order.
    QList<ReceivedMessage> receivedMessages() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

} // namespace kiku::test
