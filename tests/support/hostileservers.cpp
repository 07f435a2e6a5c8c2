#include "hostileservers.h"

#include <QCryptographicHash>
#include <QHash>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace kiku::test {

namespace {

constexpr int kPollMs = 20;

// Waits for `events` on fd in short steps so that a stopping server is noticed; false when
// stopping or the descriptor failed.
bool waitFor(int fd, short events, const std::atomic<bool>& stopping) {
    while (!stopping) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, kPollMs);
        if (r > 0)
            return true;
        if (r < 0)
            return false;
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------------------------------
// HostileSocket

bool HostileSocket::send(const QByteArray& bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        if (!waitFor(m_fd, POLLOUT, m_stopping))
            return false;
        const ssize_t n = ::send(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

bool HostileSocket::sleep(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (m_stopping)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(qMin(ms, kPollMs)));
    }
    return !m_stopping;
}

bool HostileSocket::readLine(QByteArray& line) {
    for (;;) {
        const qsizetype lf = m_buffer.indexOf('\n');
        if (lf >= 0) {
            line = m_buffer.left(lf);
            if (line.endsWith('\r'))
                line.chop(1);
            m_buffer.remove(0, lf + 1);
            return true;
        }
        if (!waitFor(m_fd, POLLIN, m_stopping))
            return false;
        char chunk[65536];
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        m_buffer.append(chunk, n);
    }
}

// ---------------------------------------------------------------------------------------
// Stock actions

namespace hostile {

HostileAction reply(QByteArray bytes) {
    return [bytes](HostileSocket& socket, const QByteArray&) { return socket.send(bytes); };
}

HostileAction drip(QByteArray head, QByteArray line, int intervalMs, int count, QByteArray tail) {
    return [=](HostileSocket& socket, const QByteArray&) {
        if (!socket.send(head))
            return false;
        for (int i = 0; count < 0 || i < count; ++i) {
            if (!socket.sleep(intervalMs) || !socket.send(line))
                return false;
        }
        return socket.send(tail);
    };
}

HostileAction flood(QByteArray head, QByteArray line, qint64 maxBytes) {
    return [=](HostileSocket& socket, const QByteArray&) {
        if (!socket.send(head))
            return false;
        QByteArray block;
        while (block.size() < 256 * 1024)
            block += line;
        for (qint64 sent = 0; sent < maxBytes; sent += block.size()) {
            if (!socket.send(block))
                return false;
        }
        return false; // never a proper end: hang up
    };
}

HostileAction hangUp() {
    return [](HostileSocket&, const QByteArray&) { return false; };
}

} // namespace hostile

// ---------------------------------------------------------------------------------------
// HostileServer

HostileServer::~HostileServer() = default;

QString HostileServer::address(const QString& scheme) const {
    const QString plain = QStringLiteral("127.0.0.1:%1").arg(m_port);
    return scheme.isEmpty() ? plain : scheme + QStringLiteral("://") + plain;
}

void HostileServer::on(QByteArray commandPrefix, HostileAction action) {
    std::lock_guard lock(m_mutex);
    m_rules.append({std::move(commandPrefix), std::move(action)});
}

void HostileServer::clearRules() {
    std::lock_guard lock(m_mutex);
    m_rules.clear();
}

QList<QByteArray> HostileServer::commands() {
    std::lock_guard lock(m_mutex);
    return m_commands;
}

bool HostileServer::rule(HostileSocket& socket, const QByteArray& command, bool& keep) {
    HostileAction action;
    {
        std::lock_guard lock(m_mutex);
        m_commands.append(command);
        for (const Rule& r : std::as_const(m_rules)) {
            if (command.startsWith(r.prefix)) {
                action = r.action;
                break;
            }
        }
    }
    if (!action)
        return false;
    keep = action(socket, command);
    return true;
}

void HostileServer::start() {
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(m_listener, 4);
    socklen_t len = sizeof addr;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] {
        while (waitFor(m_listener, POLLIN, m_stopping)) {
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0)
                continue;
            HostileSocket socket(fd, m_stopping);
            serve(socket);
            ::close(fd);
        }
    });
}

void HostileServer::stop() {
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        ::close(m_listener);
    m_listener = -1;
}

// ---------------------------------------------------------------------------------------
// HostilePop3Server

HostilePop3Server::HostilePop3Server(QList<QByteArray> messages) : m_messages(std::move(messages)) {
    start();
}

HostilePop3Server::~HostilePop3Server() {
    stop();
}

void HostilePop3Server::addMessage(const QByteArray& raw) {
    std::lock_guard lock(m_mutex);
    m_messages.append(raw);
}

int HostilePop3Server::messageCount() {
    std::lock_guard lock(m_mutex);
    return int(m_messages.size());
}

void HostilePop3Server::serve(HostileSocket& socket) {
    QList<QByteArray> messages;
    {
        std::lock_guard lock(m_mutex);
        messages = m_messages; // the maildrop as it stood when the session began
    }
    QList<bool> marked(messages.size(), false);
    auto number = [&](const QByteArray& command) {
        bool ok = false;
        const int n = command.mid(command.indexOf(' ') + 1).trimmed().toInt(&ok);
        return ok && n >= 1 && n <= messages.size() && !marked[n - 1] ? n : 0;
    };
    if (!socket.send("+OK hostile POP3 ready <1.2@hostile.test>\r\n"))
        return;
    QByteArray command;
    while (socket.readLine(command)) {
        bool keep = true;
        if (rule(socket, command, keep)) {
            if (!keep)
                return;
            continue;
        }
        const qsizetype space = command.indexOf(' ');
        const QByteArray verb = (space < 0 ? command : command.left(space)).toUpper();
        QByteArray out;
        if (verb == "USER" || verb == "PASS" || verb == "APOP" || verb == "NOOP") {
            out = "+OK\r\n";
        } else if (verb == "CAPA") {
            out = "+OK\r\nUSER\r\n.\r\n";
        } else if (verb == "STAT" || (verb == "LIST" && !command.contains(' '))) {
            int count = 0;
            qint64 octets = 0;
            QByteArray lines;
            for (qsizetype i = 0; i < messages.size(); ++i) {
                if (marked[i])
                    continue;
                ++count;
                octets += messages[i].size();
                lines += QByteArray::number(i + 1) + ' ' + QByteArray::number(messages[i].size()) +
                         "\r\n";
            }
            out = verb == "STAT" ? "+OK " + QByteArray::number(count) + ' ' +
                                       QByteArray::number(octets) + "\r\n"
                                 : "+OK\r\n" + lines + ".\r\n";
        } else if (verb == "UIDL" && !command.contains(' ')) {
            // An id from the content, so that it stays the same from session to session.
            QHash<QByteArray, int> seen;
            out = "+OK\r\n";
            for (qsizetype i = 0; i < messages.size(); ++i) {
                const QByteArray hash =
                    QCryptographicHash::hash(messages[i], QCryptographicHash::Sha1).toHex();
                const int copy = seen[hash]++;
                if (!marked[i])
                    out += QByteArray::number(i + 1) + ' ' + hash.left(20) + '.' +
                           QByteArray::number(copy) + "\r\n";
            }
            out += ".\r\n";
        } else if (verb == "LIST") {
            const int n = number(command);
            out = n ? "+OK " + QByteArray::number(n) + ' ' +
                          QByteArray::number(messages[n - 1].size()) + "\r\n"
                    : "-ERR no such message\r\n";
        } else if (verb == "RETR") {
            const int n = number(command);
            if (!n) {
                out = "-ERR no such message\r\n";
            } else {
                out = "+OK\r\n";
                QByteArray body = messages[n - 1];
                if (!body.endsWith("\r\n"))
                    body += "\r\n";
                for (const QByteArray& line : body.split('\n')) {
                    if (line.isEmpty())
                        continue;
                    if (line.startsWith('.'))
                        out += '.';
                    out += line + '\n';
                }
                out += ".\r\n";
            }
        } else if (verb == "DELE") {
            const int n = number(command);
            if (n)
                marked[n - 1] = true;
            out = n ? "+OK marked\r\n" : "-ERR no such message\r\n";
        } else if (verb == "RSET") {
            marked.fill(false);
            out = "+OK\r\n";
        } else if (verb == "QUIT") {
            // The update state: the marked messages go now, and only now.
            std::lock_guard lock(m_mutex);
            for (qsizetype i = messages.size() - 1; i >= 0; --i) {
                if (marked[i])
                    m_messages.removeOne(messages[i]);
            }
            socket.send("+OK bye\r\n");
            return;
        } else {
            out = "-ERR unknown command\r\n";
        }
        if (!socket.send(out))
            return;
    }
}

// ---------------------------------------------------------------------------------------
// HostileSmtpServer

HostileSmtpServer::HostileSmtpServer(QList<QByteArray> extensions)
    : m_extensions(std::move(extensions)) {
    start();
}

HostileSmtpServer::~HostileSmtpServer() {
    stop();
}

QList<QByteArray> HostileSmtpServer::messages() {
    std::lock_guard lock(m_mutex);
    return m_messages;
}

void HostileSmtpServer::serve(HostileSocket& socket) {
    if (!socket.send("220 hostile.test ESMTP\r\n"))
        return;
    QByteArray command;
    while (socket.readLine(command)) {
        bool keep = true;
        if (rule(socket, command, keep)) {
            if (!keep)
                return;
            continue;
        }
        const QByteArray verb = command.left(4).toUpper();
        QByteArray out = "250 ok\r\n";
        if (verb == "EHLO") {
            const QList<QByteArray> lines = QList<QByteArray>{"hostile.test"} + m_extensions;
            out.clear();
            for (qsizetype i = 0; i < lines.size(); ++i)
                out += (i + 1 < lines.size() ? "250-" : "250 ") + lines[i] + "\r\n";
        } else if (verb == "DATA") {
            if (!socket.send("354 go ahead\r\n"))
                return;
            QByteArray data, line;
            while (socket.readLine(line) && line != ".")
                data += line + "\r\n";
            std::lock_guard lock(m_mutex);
            m_messages.append(data);
            out = "250 queued\r\n";
        } else if (verb == "QUIT") {
            socket.send("221 bye\r\n");
            return;
        } else if (verb != "HELO" && verb != "MAIL" && verb != "RCPT" && verb != "RSET" &&
                   verb != "NOOP") {
            out = "502 not implemented\r\n";
        }
        if (!socket.send(out))
            return;
    }
}

} // namespace kiku::test
