#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace kiku::test {

// One accepted connection of a hostile server, as its rules see it. Every wait gives up
// when the server is being stopped, so no rule can outlive its test.
class HostileSocket {
public:
    HostileSocket(int fd, const std::atomic<bool>& stopping) : m_fd(fd), m_stopping(stopping) {}

    // False when the client has gone or the server is stopping.
    bool send(const QByteArray& bytes);
    // Waits `ms` milliseconds; false when the server is stopping meanwhile.
    bool sleep(int ms);
    // The next line without its CR LF; false when the client has gone.
    bool readLine(QByteArray& line);
    bool stopping() const { return m_stopping; }

private:
    int m_fd;
    const std::atomic<bool>& m_stopping;
    QByteArray m_buffer;
};

// What a rule does with a command it matches. Returning false hangs up at once.
using HostileAction = std::function<bool(HostileSocket& socket, const QByteArray& command)>;

// A rule's stock actions.
namespace hostile {
// Answers with exactly these bytes.
HostileAction reply(QByteArray bytes);
// Sends `head`, then `line` every `intervalMs` milliseconds, `count` times (forever when
// count < 0, until the client goes), then `tail`.
HostileAction drip(QByteArray head, QByteArray line, int intervalMs, int count, QByteArray tail);
// Sends `head`, then `line` as fast as the client reads, until it goes away or `maxBytes`
// (never ends the reply).
HostileAction flood(QByteArray head, QByteArray line, qint64 maxBytes);
// Hangs up without a word.
HostileAction hangUp();
} // namespace hostile

// A server on 127.0.0.1 that serves connections one after another from a thread. The
// protocol's honest behaviour comes from the subclass; rules, matched in order by the
// start of the command line, replace it for the commands a test wants to misbehave on.
class HostileServer {
public:
    virtual ~HostileServer();
    HostileServer(const HostileServer&) = delete;
    HostileServer& operator=(const HostileServer&) = delete;

    quint16 port() const { return m_port; }
    // "127.0.0.1:port", optionally behind a scheme.
    QString address(const QString& scheme = QString()) const;

    void on(QByteArray commandPrefix, HostileAction action);
    void clearRules();
    // Every command line received, over all connections.
    QList<QByteArray> commands();

protected:
    HostileServer() = default;
    // Starts listening and serving; the subclass calls it last in its constructor.
    void start();
    // Stops serving and waits for the thread; the subclass calls it first in its destructor.
    void stop();
    // Serves one connection honestly, asking rule() for each command first.
    virtual void serve(HostileSocket& socket) = 0;
    // Runs the first rule matching the command: true when one matched, with `keep` false
    // when it hung up.
    bool rule(HostileSocket& socket, const QByteArray& command, bool& keep);
    std::mutex m_mutex; // guards the rules, the command log and the subclass's state

private:
    struct Rule {
        QByteArray prefix;
        HostileAction action;
    };
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
    QList<Rule> m_rules;
    QList<QByteArray> m_commands;
};

// POP3: USER/PASS (any), STAT, LIST, UIDL (ids from the content), RETR with dot-stuffing,
// DELE, RSET, NOOP, CAPA, QUIT.
// Deletions take effect only on QUIT, as on a real server, so a dropped connection keeps
// every message.
class HostilePop3Server : public HostileServer {
public:
    explicit HostilePop3Server(QList<QByteArray> messages = {});
    ~HostilePop3Server() override;

    void addMessage(const QByteArray& raw);
    int messageCount();

protected:
    void serve(HostileSocket& socket) override;

private:
    QList<QByteArray> m_messages;
};

// SMTP: EHLO (offering `extensions`), HELO, MAIL, RCPT, DATA (the data is kept), RSET,
// NOOP, QUIT.
class HostileSmtpServer : public HostileServer {
public:
    explicit HostileSmtpServer(QList<QByteArray> extensions = {});
    ~HostileSmtpServer() override;

    // Messages accepted, as they arrived between DATA and the final dot.
    QList<QByteArray> messages();

protected:
    void serve(HostileSocket& socket) override;

private:
    QList<QByteArray> m_extensions;
    QList<QByteArray> m_messages;
};

} // namespace kiku::test
