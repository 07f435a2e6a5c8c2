#include "maillib/pop3client.h"

#include <QCryptographicHash>
#include <QSet>

#include <algorithm>
#include <cstring>

namespace kiku {

namespace {

bool isOk(const QByteArray& reply) {
    return reply.startsWith("+OK");
}

// The server's text without the status word, for messages shown to the user.
QString serverText(const QByteArray& reply) {
    QByteArray text = reply;
    if (text.startsWith("-ERR"))
        text = text.mid(4);
    else if (text.startsWith("+OK"))
        text = text.mid(3);
    text = text.trimmed();
    return text.isEmpty() ? QString::fromLatin1(reply) : QString::fromUtf8(text);
}

} // namespace

Pop3Client::Pop3Client(int timeoutMs, const Pop3Limits& limits)
    : m_connection(Protocol::Pop3, timeoutMs), m_limits(limits),
      m_timeoutMs(m_connection.timeout()) {}

// The time a whole reply of about `expectedBytes` may take: the timeout, plus the time the
// bytes need at the slowest rate still taken for a working line.
QDeadlineTimer Pop3Client::replyDeadline(qint64 expectedBytes) const {
    const qint64 rate = qMax<qint64>(m_limits.minimumBytesPerSecond, 1);
    return QDeadlineTimer(m_timeoutMs + qMax<qint64>(expectedBytes, 0) * 1000 / rate);
}

bool Pop3Client::fail(const QString& text) {
    m_error = text;
    return false;
}

bool Pop3Client::transportFailed() {
    // After a timeout or a broken line the replies can no longer be paired with commands:
    // drop the connection so that nothing more (no DELE, no QUIT) goes out on it.
    m_error = m_connection.errorText();
    m_connection.close();
    m_pending.clear();
    m_arrived.clear();
    return false;
}

bool Pop3Client::serverRefused(const QString& what, const QByteArray& reply) {
    return fail(QStringLiteral("%1: %2").arg(what, serverText(reply)));
}

bool Pop3Client::connectTo(const ServerAddress& address) {
    m_address = address;
    if (!m_connection.connectTo(address))
        return fail(m_connection.errorText());
    QByteArray greeting;
    if (!readStatusLine(greeting))
        return fail(m_connection.errorText());
    if (!isOk(greeting)) {
        m_connection.close();
        return serverRefused(
            QStringLiteral("POP3サーバーが接続を断りました: %1").arg(address.display()), greeting);
    }
    const qsizetype open = greeting.indexOf('<');
    const qsizetype close = open >= 0 ? greeting.indexOf('>', open) : -1;
    if (close > open && greeting.mid(open, close - open).contains('@'))
        m_timestamp = greeting.mid(open, close - open + 1);

    readCapabilities();
    if (address.security == Security::StartTls) {
        if (!m_stls) {
            m_connection.close();
            return fail(
                QStringLiteral("POP3サーバーがSTLSに対応していません: %1").arg(address.display()));
        }
        QByteArray reply;
        if (!command("STLS", &reply)) {
            m_connection.close();
            return false;
        }
        if (!isOk(reply)) {
            m_connection.close();
            return serverRefused(QStringLiteral("STLSを開始できません"), reply);
        }
        if (!m_connection.startTls())
            return fail(m_connection.errorText());
        // What was learnt before the upgrade cannot be trusted.
        m_pipelining = false;
        readCapabilities();
    }
    return true;
}

bool Pop3Client::readCapabilities() {
    // CAPA is optional in POP3: a server without it simply answers -ERR.
    m_pipelining = false;
    m_stls = false;
    QByteArray reply;
    if (!m_connection.writeLine("CAPA") || !readStatusLine(reply) || !isOk(reply))
        return false;
    QByteArray body;
    if (!readMultiline(body, qMin<qint64>(m_limits.listingBytes, 64 * 1024), 0))
        return false;
    for (const QByteArray& line : body.split('\n')) {
        const QByteArray word = line.trimmed().toUpper();
        if (word == "PIPELINING")
            m_pipelining = true;
        else if (word == "STLS")
            m_stls = true;
    }
    return true;
}

bool Pop3Client::login(const QString& user, const QString& password, bool apop) {
    QByteArray reply;
    if (apop) {
        if (m_timestamp.isEmpty())
            return fail(QStringLiteral("APOPでログインできません: POP3サーバー %1 "
                                       "の挨拶にAPOP用のタイムスタンプがありません "
                                       "(パスワードを平文では送りません)")
                            .arg(m_address.display()));
        const QByteArray digest =
            QCryptographicHash::hash(m_timestamp + password.toUtf8(), QCryptographicHash::Md5)
                .toHex();
        if (!command("APOP " + user.toUtf8() + ' ' + digest, &reply))
            return false;
        if (!isOk(reply))
            return serverRefused(QStringLiteral("APOPでログインできません"), reply);
        return true;
    }
    if (!command("USER " + user.toUtf8(), &reply))
        return false;
    if (!isOk(reply))
        return serverRefused(QStringLiteral("ログインできません"), reply);
    if (!command("PASS " + password.toUtf8(), &reply))
        return false;
    if (!isOk(reply))
        return serverRefused(QStringLiteral("ログインできません"), reply);
    return true;
}

bool Pop3Client::stat(int& count, qint64& octets) {
    QByteArray reply;
    if (!command("STAT", &reply))
        return false;
    if (!isOk(reply))
        return serverRefused(QStringLiteral("メールの数を取得できません"), reply);
    const QList<QByteArray> words = reply.simplified().split(' ');
    bool countOk = false;
    bool octetsOk = false;
    if (words.size() >= 3) {
        count = words.at(1).toInt(&countOk);
        octets = words.at(2).toLongLong(&octetsOk);
    }
    if (!countOk || !octetsOk || count < 0)
        return fail(QStringLiteral("POP3サーバーのSTATの応答が読めません: %1")
                        .arg(QString::fromLatin1(reply)));
    return true;
}

bool Pop3Client::list(QHash<int, qint64>& sizes, int expected) {
    QByteArray reply;
    if (!command("LIST", &reply))
        return false;
    if (!isOk(reply))
        return serverRefused(QStringLiteral("メールのサイズを取得できません"), reply);
    QByteArray body;
    // "n size" lines: a couple of dozen bytes a message.
    if (!readMultiline(body, m_limits.listingBytes, qint64(qMax(expected, 0)) * 24))
        return false;
    sizes.clear();
    for (const QByteArray& line : body.split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        bool numberOk = false;
        bool sizeOk = false;
        if (words.size() < 2)
            continue;
        const int number = words.at(0).toInt(&numberOk);
        const qint64 size = words.at(1).toLongLong(&sizeOk);
        if (numberOk && sizeOk)
            sizes.insert(number, size);
    }
    return true;
}

bool Pop3Client::uniqueIds(QHash<int, QByteArray>& ids, int expected, bool& supported) {
    ids.clear();
    supported = false;
    QByteArray reply;
    if (!command("UIDL", &reply))
        return false;
    if (!isOk(reply))
        return true; // a server without UIDL: the run goes on without ids
    QByteArray body;
    // "n id" lines: at most 70 characters of id and the number.
    if (!readMultiline(body, m_limits.listingBytes, qint64(qMax(expected, 0)) * 80))
        return false;
    supported = true;
    QSet<int> numbers;
    QSet<int> numbersTwice;
    QSet<QByteArray> seen;
    QSet<QByteArray> idsTwice;
    for (const QByteArray& line : body.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        const qsizetype space = trimmed.indexOf(' ');
        bool numberOk = false;
        const int number = space > 0 ? trimmed.first(space).toInt(&numberOk) : 0;
        if (!numberOk || number < 1 || number > expected)
            continue;
        if (numbers.contains(number)) {
            numbersTwice.insert(number);
            continue;
        }
        numbers.insert(number);
        const QByteArray id = trimmed.sliced(space + 1);
        const bool printable =
            std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x21 && c <= 0x7E; });
        if (id.isEmpty() || id.size() > 70 || !printable)
            continue;
        if (seen.contains(id))
            idsTwice.insert(id);
        seen.insert(id);
        ids.insert(number, id);
    }
    // A listing that gives one message two ids, or two messages one id, cannot tell them
    // apart: none of them may count as stored.
    ids.removeIf([&](const auto& entry) {
        return numbersTwice.contains(entry.key()) || idsTwice.contains(entry.value());
    });
    return true;
}

bool Pop3Client::retrieve(int number, QByteArray& message, qint64 announced) {
    message.clear();
    // A reply that came in ahead of its turn.
    if (const auto it = m_arrived.find(number); it != m_arrived.end()) {
        Arrived arrived = std::move(*it);
        m_arrived.erase(it);
        if (!arrived.ok)
            return fail(arrived.error);
        message = std::move(arrived.message);
        return true;
    }
    const auto sent = std::find_if(m_pending.begin(), m_pending.end(), [number](const Pending& p) {
        return p.kind == Pending::Kind::Retr && p.number == number;
    });
    if (sent != m_pending.end()) {
        // Read what is owed before it, then its own reply.
        if (!collectPendingReplies(number))
            return false;
        const Pending own = m_pending.front();
        m_pending.pop_front();
        return readRetrReply(number, own.announced, message);
    }
    if (!m_connection.writeLine("RETR " + QByteArray::number(number)))
        return transportFailed();
    if (!collectPendingReplies())
        return false;
    return readRetrReply(number, announced, message);
}

bool Pop3Client::readRetrReply(int number, qint64 announced, QByteArray& message) {
    QByteArray reply;
    if (!readStatusLine(reply))
        return transportFailed();
    if (!isOk(reply))
        return serverRefused(QStringLiteral("メール %1 を受信できません").arg(number), reply);
    // Line ends and byte-stuffing make a message a little larger on the wire than LIST says;
    // half as much again is more than any honest server needs.
    qint64 maxBytes = m_limits.messageBytes;
    if (announced >= 0)
        maxBytes = qMin(maxBytes, announced + announced / 2 + 64 * 1024);
    // Without a size the deadline allows a megabyte; such a message is left on the server by
    // the receive run anyway.
    if (!readMultiline(message, maxBytes, announced >= 0 ? announced : 1024 * 1024)) {
        message.clear();
        return false;
    }
    return true;
}

bool Pop3Client::prefetch(int number, qint64 announced) {
    if (!m_pipelining || !m_connection.isConnected() || m_arrived.contains(number))
        return true;
    for (const Pending& p : m_pending) {
        if (p.kind == Pending::Kind::Retr && p.number == number)
            return true;
    }
    if (!m_connection.queueLine("RETR " + QByteArray::number(number)))
        return transportFailed();
    m_pending.push_back({Pending::Kind::Retr, number, announced});
    return true;
}

bool Pop3Client::sendPipelined() {
    return m_connection.sendQueued() || transportFailed();
}

int Pop3Client::prefetched() const {
    int n = int(m_arrived.size());
    for (const Pending& p : m_pending)
        n += p.kind == Pending::Kind::Retr;
    return n;
}

qint64 Pop3Client::prefetchedBytes() const {
    qint64 bytes = 0;
    for (const Arrived& a : m_arrived)
        bytes += a.message.size();
    for (const Pending& p : m_pending) {
        if (p.kind == Pending::Kind::Retr)
            bytes += qMax<qint64>(p.announced, 0);
    }
    return bytes;
}

bool Pop3Client::deleteMessage(int number) {
    const QByteArray line = "DELE " + QByteArray::number(number);
    if (!m_pipelining) {
        QByteArray reply;
        if (!command(line, &reply))
            return false;
        ++m_deletionsSent;
        if (!isOk(reply)) {
            ++m_deletionsRefused;
            return serverRefused(QStringLiteral("メール %1 を削除できません").arg(number), reply);
        }
        return true;
    }
    if (!m_connection.queueLine(line))
        return transportFailed();
    m_pending.push_back({Pending::Kind::Dele, number, -1});
    ++m_deletionsSent;
    return true;
}

bool Pop3Client::quit() {
    // Without an accepted QUIT the server undoes every deletion of the session.
    m_deletionsUndone = m_deletionsSent;
    QByteArray reply;
    const bool sent = m_connection.isConnected() && command("QUIT", &reply);
    m_connection.close();
    if (!sent)
        return m_error.isEmpty() ? fail(QStringLiteral("POP3サーバーとの接続が切れています: %1")
                                            .arg(m_address.display()))
                                 : false;
    if (!isOk(reply))
        return serverRefused(QStringLiteral("POP3サーバーが終了を受け付けませんでした"), reply);
    m_deletionsUndone = m_deletionsRefused;
    if (!m_pendingError.isEmpty())
        return fail(m_pendingError);
    return true;
}

void Pop3Client::abort() {
    m_connection.close();
    m_pending.clear();
    m_arrived.clear();
    m_deletionsUndone = m_deletionsSent;
}

// A status line is short (512 bytes by the standard); one far longer is not an answer.
constexpr qint64 kMaxStatusLineBytes = 64 * 1024;

bool Pop3Client::readStatusLine(QByteArray& reply) {
    qint64 budget = kMaxStatusLineBytes;
    return m_connection.readLine(reply, replyDeadline(0), budget);
}

// Reads the replies owed for pipelined commands, oldest first: all of them, or with
// `stopAtRetr` up to the RETR of that message, which is left at the front.
bool Pop3Client::collectPendingReplies(int stopAtRetr) {
    while (!m_pending.empty()) {
        const Pending pending = m_pending.front();
        if (stopAtRetr > 0 && pending.kind == Pending::Kind::Retr && pending.number == stopAtRetr)
            return true;
        m_pending.pop_front();
        if (!readPendingReply(pending))
            return false;
    }
    return true;
}

bool Pop3Client::readPendingReply(const Pending& pending) {
    if (pending.kind == Pending::Kind::Retr) {
        // Asked for out of turn, or not at all (the run stopped): kept until retrieve().
        Arrived arrived;
        arrived.ok = readRetrReply(pending.number, pending.announced, arrived.message);
        if (!m_connection.isConnected())
            return false;
        arrived.error = m_error;
        m_arrived.insert(pending.number, std::move(arrived));
        return true;
    }
    QByteArray reply;
    if (!readStatusLine(reply))
        return transportFailed();
    if (!isOk(reply)) {
        ++m_deletionsRefused;
        m_pendingError = QStringLiteral("メールを削除できません: %1").arg(serverText(reply));
    }
    return true;
}

bool Pop3Client::readReply(QByteArray& reply) {
    if (!collectPendingReplies())
        return false;
    if (!readStatusLine(reply))
        return transportFailed();
    return true;
}

bool Pop3Client::command(const QByteArray& line, QByteArray* reply) {
    if (!m_connection.writeLine(line))
        return transportFailed();
    QByteArray ignored;
    return readReply(reply ? *reply : ignored);
}

// What a reply's buffer is made ready for ahead of its bytes: a larger message grows as
// it arrives.
constexpr qint64 kMaxReservedBytes = 256 * 1024 * 1024;

bool Pop3Client::readMultiline(QByteArray& body, qint64 maxBytes, qint64 expectedBytes) {
    body.clear();
    // Room for what was announced, so a large message is never copied while it grows (the
    // copy would hold it twice); only address space until the bytes arrive, and never more
    // than the reply may bring.
    body.reserve(qsizetype(qMin<qint64>(qMin(expectedBytes, maxBytes), kMaxReservedBytes)) + 64);
    // The whole reply: the time its size needs at the slowest working rate, but never past
    // the cap, however large the announced size.
    const QDeadlineTimer sized = replyDeadline(expectedBytes);
    const QDeadlineTimer capped(qMax<qint64>(m_limits.capMs, 1));
    const QDeadlineTimer deadline = sized.deadline() < capped.deadline() ? sized : capped;
    // And it must keep moving: each window brings at least the floor.
    QDeadlineTimer window(qMax(m_limits.floorWindowMs, 1));
    qint64 windowBytes = 0;
    qint64 readsChecked = -1;
    qint64 budget = maxBytes + 3; // the closing "." line
    QByteArrayView line;
    for (;;) {
        if (takeBufferedLines(body, budget, windowBytes))
            return true;
        // Nothing whole is left to take: wait for the next line, within the reply's bounds.
        const bool floorPending = windowBytes < m_limits.floorBytes;
        const bool windowBinds = floorPending && window.deadline() < deadline.deadline();
        if (!m_connection.readLineView(line, windowBinds ? window : deadline, budget)) {
            if (windowBinds && window.hasExpired()) {
                transportFailed();
                return fail(tooSlowText());
            }
            return transportFailed();
        }
        windowBytes += line.size() + 2;
        // Time passes in the waits for bytes: the clock is looked at after each of them.
        if (m_connection.reads() != readsChecked && window.hasExpired()) {
            if (windowBytes < m_limits.floorBytes) {
                transportFailed();
                return fail(tooSlowText());
            }
            window.setRemainingTime(qMax(m_limits.floorWindowMs, 1));
            windowBytes = 0;
        }
        readsChecked = m_connection.reads();
        if (line.size() == 1 && line.at(0) == '.')
            return true;
        // Byte-stuffing: the server doubled every leading dot; take exactly one away.
        if (line.startsWith('.'))
            line = line.sliced(1);
        body.append(line).append("\r\n");
    }
}

// The lines that have arrived already, taken as readMultiline() takes them one by one but
// copied a stretch at a time: only a line that starts with a dot or ends in a bare LF breaks
// a stretch. True once the closing "." line was taken. Stops before a line that breaks the
// reply's bounds, for readLineView() to refuse.
bool Pop3Client::takeBufferedLines(QByteArray& body, qint64& budget, qint64& windowBytes) {
    const QByteArrayView lines = m_connection.bufferedLines();
    const char* data = lines.data();
    const qsizetype n = lines.size();
    qsizetype at = 0;       // the start of the line looked at
    qsizetype copyFrom = 0; // the start of the bytes not yet copied
    bool ended = false;
    while (at < n) {
        // The view ends in a line feed, so there always is one.
        const auto* lf = static_cast<const char*>(std::memchr(data + at, '\n', size_t(n - at)));
        const qsizetype end = lf - data;
        const qsizetype length = end - at;
        if (length >= qMin<qint64>(LineConnection::kMaxLineBytes, budget))
            break;
        const bool crLf = length > 0 && data[end - 1] == '\r';
        const qsizetype textLength = crLf ? length - 1 : length;
        if (data[at] == '.') {
            body.append(data + copyFrom, at - copyFrom);
            copyFrom = at + 1; // byte-stuffing: exactly one leading dot goes
            if (textLength == 1) {
                ended = true;
                at = end + 1;
                break;
            }
        }
        if (!crLf) { // a bare LF is stored as CR LF
            body.append(data + copyFrom, end - copyFrom).append("\r\n");
            copyFrom = end + 1;
        }
        budget -= length + 1;
        windowBytes += textLength + 2;
        at = end + 1;
    }
    if (!ended)
        body.append(data + copyFrom, at - copyFrom);
    m_connection.consume(at);
    return ended;
}

QString Pop3Client::tooSlowText() const {
    return QStringLiteral("POP3サーバーの応答が遅すぎるため切断しました: %1 (%2秒間に%3バイト未満)")
        .arg(m_address.display())
        .arg(m_limits.floorWindowMs / 1000.0)
        .arg(m_limits.floorBytes);
}

QString Pop3Client::connectionLostText() const {
    return m_error.isEmpty()
               ? QStringLiteral("POP3サーバーとの接続が切れています: %1").arg(m_address.display())
               : m_error;
}

} // namespace kiku
