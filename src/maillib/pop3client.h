#pragma once

#include "maillib/transport.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <deque>

namespace kiku {

// Bounds on what one reply may cost, so that a server that never finishes a reply, or
// finishes it one line every few seconds, ends in a failure rather than exhausting
// memory or holding the program.
struct Pop3Limits {
    qint64 listingBytes = 16 * 1024 * 1024;   // CAPA, LIST
    qint64 messageBytes = 512 * 1024 * 1024;  // RETR, whatever size was announced
    qint64 minimumBytesPerSecond = 16 * 1024; // a whole reply's deadline grows with its size
    // A reply must keep moving: at least `floorBytes` in every `floorWindowMs`, whatever size
    // was announced, and never longer than `capMs` in all.
    qint64 floorBytes = 1024;
    int floorWindowMs = 30 * 1000;
    qint64 capMs = 30 * 60 * 1000;
};

// One POP3 session: greeting, CAPA, STLS, USER/PASS or APOP, STAT, LIST, RETR, DELE, QUIT.
// Blocking and bounded by the timeout, like the transport under it. Every failing call leaves
// a human-readable reason, with the server's own -ERR text where there is one, in errorText().
class Pop3Client {
public:
    explicit Pop3Client(int timeoutMs, const Pop3Limits& limits = Pop3Limits());

    // Connects and reads the greeting; for pop3+starttls also upgrades with STLS.
    bool connectTo(const ServerAddress& address);
    // USER/PASS, or APOP when `apop` (never falling back to a plaintext password).
    bool login(const QString& user, const QString& password, bool apop);
    bool stat(int& count, qint64& octets);
    // Octet counts of every message, from one LIST; `expected` messages set its deadline.
    bool list(QHash<int, qint64>& sizes, int expected = 0);
    // The server's unique id of every message, from one UIDL. An id must be 1 to 70 printable
    // ASCII characters; a message whose id is missing or malformed, or whose id the listing
    // gives twice, gets none, and numbers past `expected` are ignored. `supported` is false
    // (and the call true) when the server refuses UIDL.
    bool uniqueIds(QHash<int, QByteArray>& ids, int expected, bool& supported);
    // The message exactly as stored: dot-unstuffed lines, each ended by CR LF. With the
    // size LIST announced (`announced` >= 0) the reply may not grow far past it.
    bool retrieve(int number, QByteArray& message, qint64 announced = -1);
    // With PIPELINING: sends RETR for a message that retrieve() will ask for soon, so that
    // the server is already sending it while the one before is being stored. Does nothing
    // without PIPELINING or when that RETR is already on its way.
    bool prefetch(int number, qint64 announced = -1);
    // RETRs and DELEs that pipelining holds back go out now (they also go before the client
    // waits for a reply): a batch of prefetches costs one system call.
    bool sendPipelined();
    // RETRs sent ahead whose replies have not been read, and the sizes they announced.
    int prefetched() const;
    qint64 prefetchedBytes() const;
    // Marks a message for deletion. With PIPELINING the reply is read later, before the
    // next reply or QUIT, so no round trip is spent waiting for it.
    bool deleteMessage(int number);
    // Ends the session; deletions take effect only here.
    bool quit();
    // Drops the connection without QUIT: the server deletes nothing.
    void abort();
    bool isConnected() const { return m_connection.isConnected(); }
    // Messages marked for deletion in this session that the server did not delete: refused
    // DELEs, and every marked one when the session ended without an accepted QUIT.
    int deletionsUndone() const { return m_deletionsUndone; }

    bool pipelining() const { return m_pipelining; }
    bool isEncrypted() const { return m_connection.isEncrypted(); }
    QByteArray apopTimestamp() const { return m_timestamp; }
    QString errorText() const { return m_error; }
    // Why the connection is gone: the failure that ended it, or that it was closed.
    QString connectionLostText() const;

private:
    bool command(const QByteArray& line, QByteArray* reply = nullptr);
    bool readReply(QByteArray& reply);
    bool readStatusLine(QByteArray& reply);
    // The replies still owed for pipelined commands, in the order the commands went out.
    struct Pending {
        enum class Kind { Dele, Retr } kind;
        int number = 0;
        qint64 announced = -1;
    };
    // A pipelined RETR reply read before retrieve() asked for it.
    struct Arrived {
        bool ok = false;
        QByteArray message;
        QString error;
    };
    bool collectPendingReplies(int stopAtRetr = 0);
    bool readPendingReply(const Pending& pending);
    bool readRetrReply(int number, qint64 announced, QByteArray& message);
    bool readMultiline(QByteArray& body, qint64 maxBytes, qint64 expectedBytes);
    bool takeBufferedLines(QByteArray& body, qint64& budget, qint64& windowBytes);
    QDeadlineTimer replyDeadline(qint64 expectedBytes) const;
    QString tooSlowText() const;
    bool readCapabilities();
    bool fail(const QString& text);
    bool transportFailed();
    bool serverRefused(const QString& what, const QByteArray& reply);

    LineConnection m_connection;
    Pop3Limits m_limits;
    int m_timeoutMs;
    int m_deletionsSent = 0;
    int m_deletionsRefused = 0;
    int m_deletionsUndone = 0;
    ServerAddress m_address;
    QByteArray m_timestamp; // the <...> of the greeting, APOP's salt
    bool m_pipelining = false;
    bool m_stls = false;
    std::deque<Pending> m_pending; // pipelined commands whose replies are not read yet
    QHash<int, Arrived> m_arrived; // pipelined RETR replies read ahead of their turn
    QString m_pendingError;
    QString m_error;
};

} // namespace kiku
