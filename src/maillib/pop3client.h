#pragma once

#include "maillib/transport.h"

#include <QByteArray>
#include <QHash>
#include <QString>

namespace kiku {

// One POP3 session: greeting, CAPA, STLS, USER/PASS or APOP, STAT, LIST, RETR, DELE, QUIT.
// Blocking and bounded by the timeout, like the transport under it. Every failing call leaves
// a human-readable reason, with the server's own -ERR text where there is one, in errorText().
class Pop3Client {
public:
    explicit Pop3Client(int timeoutMs);

    // Connects and reads the greeting; for pop3+starttls also upgrades with STLS.
    bool connectTo(const ServerAddress& address);
    // USER/PASS, or APOP when `apop` (never falling back to a plaintext password).
    bool login(const QString& user, const QString& password, bool apop);
    bool stat(int& count, qint64& octets);
    // Octet counts of every message, from one LIST.
    bool list(QHash<int, qint64>& sizes);
    // The message exactly as stored: dot-unstuffed lines, each ended by CR LF.
    bool retrieve(int number, QByteArray& message);
    // Marks a message for deletion. With PIPELINING the reply is read later, before the
    // next reply or QUIT, so no round trip is spent waiting for it.
    bool deleteMessage(int number);
    // Ends the session; deletions take effect only here.
    bool quit();
    // Drops the connection without QUIT: the server deletes nothing.
    void abort();

    bool pipelining() const { return m_pipelining; }
    bool isEncrypted() const { return m_connection.isEncrypted(); }
    QByteArray apopTimestamp() const { return m_timestamp; }
    QString errorText() const { return m_error; }

private:
    bool command(const QByteArray& line, QByteArray* reply = nullptr);
    bool readReply(QByteArray& reply);
    bool collectPendingReplies();
    bool readMultiline(QByteArray& body);
    bool readCapabilities();
    bool fail(const QString& text);
    bool transportFailed();
    bool serverRefused(const QString& what, const QByteArray& reply);

    LineConnection m_connection;
    ServerAddress m_address;
    QByteArray m_timestamp; // the <...> of the greeting, APOP's salt
    bool m_pipelining = false;
    bool m_stls = false;
    int m_pendingReplies = 0; // pipelined DELE replies not read yet
    QString m_pendingError;
    QString m_error;
};

} // namespace kiku
