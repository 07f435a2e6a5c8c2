#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace kiku::test {

// How a DovecotServer is set up.
struct DovecotOptions {
    // user -> password; every user can log in with USER/PASS and (when apop) APOP.
    QMap<QString, QString> users{{QStringLiteral("alice"), QStringLiteral("secret")}};
    // Offer APOP: the greeting then carries a <timestamp>.
    bool apop = true;
    // With a certificate and key: STLS on port() and implicit TLS on tlsPort().
    QString certificatePath;
    QString keyPath;
};

// A real Dovecot POP3 server on 127.0.0.1 for one test or fixture: a private configuration,
// maildirs and logs in a temporary folder, free ports, plaintext passwords. Works as root
// (mail is then owned by "nobody", since Dovecot refuses root mail access) and as a plain user.
class DovecotServer {
public:
    using Options = DovecotOptions;

    DovecotServer() = default;
    ~DovecotServer();
    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    // Starts the server and waits until it accepts connections. False (see error()) when
    // it does not come up.
    bool start(const Options& options = Options());
    void stop();

    quint16 port() const { return m_port; }
    quint16 tlsPort() const { return m_tlsPort; }
    QString error() const { return m_error; }

    // Delivers a message with exactly these bytes into the user's maildir.
    bool addMessage(const QString& user, const QByteArray& raw);
    // Messages now in the user's maildir (new and cur).
    int messageCount(const QString& user) const;
    // Empties the user's mailbox behind the server's back.
    void removeAllMessages(const QString& user) const;

private:
    QString path(const QString& relative) const { return m_dir.filePath(relative); }
    QString maildir(const QString& user) const;
    bool writeConfiguration(const Options& options);
    bool waitUntilAccepting();
    void handToMailUser(const QString& path) const;

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    int m_mailUid = -1; // set when running as root: the owner Dovecot reads mail as
    int m_mailGid = -1;
    int m_delivered = 0;
    QString m_error;
};

} // namespace kiku::test
