#include "maillib/pop3client.h"

#include <QCryptographicHash>

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

Pop3Client::Pop3Client(int timeoutMs) : m_connection(Protocol::Pop3, timeoutMs) {}

bool Pop3Client::fail(const QString& text) {
    m_error = text;
    return false;
}

bool Pop3Client::transportFailed() {
    // After a timeout or a broken line the replies can no longer be paired with commands:
    // drop the connection so that nothing more (no DELE, no QUIT) goes out on it.
    m_error = m_connection.errorText();
    m_connection.close();
    m_pendingReplies = 0;
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
    if (!m_connection.readLine(greeting))
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
    if (!m_connection.writeLine("CAPA") || !m_connection.readLine(reply) || !isOk(reply))
        return false;
    QByteArray body;
    if (!readMultiline(body))
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

bool Pop3Client::list(QHash<int, qint64>& sizes) {
    QByteArray reply;
    if (!command("LIST", &reply))
        return false;
    if (!isOk(reply))
        return serverRefused(QStringLiteral("メールのサイズを取得できません"), reply);
    QByteArray body;
    if (!readMultiline(body))
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

bool Pop3Client::retrieve(int number, QByteArray& message) {
    QByteArray reply;
    if (!command("RETR " + QByteArray::number(number), &reply))
        return false;
    if (!isOk(reply))
        return serverRefused(QStringLiteral("メール %1 を受信できません").arg(number), reply);
    return readMultiline(message);
}

bool Pop3Client::deleteMessage(int number) {
    const QByteArray line = "DELE " + QByteArray::number(number);
    if (!m_pipelining) {
        QByteArray reply;
        if (!command(line, &reply))
            return false;
        if (!isOk(reply))
            return serverRefused(QStringLiteral("メール %1 を削除できません").arg(number), reply);
        return true;
    }
    if (!m_connection.writeLine(line))
        return transportFailed();
    ++m_pendingReplies;
    return true;
}

bool Pop3Client::quit() {
    QByteArray reply;
    const bool sent = command("QUIT", &reply);
    m_connection.close();
    if (!sent)
        return false;
    if (!isOk(reply))
        return serverRefused(QStringLiteral("POP3サーバーが終了を受け付けませんでした"), reply);
    if (!m_pendingError.isEmpty())
        return fail(m_pendingError);
    return true;
}

void Pop3Client::abort() {
    m_connection.close();
}

bool Pop3Client::collectPendingReplies() {
    while (m_pendingReplies > 0) {
        QByteArray reply;
        if (!m_connection.readLine(reply))
            return transportFailed();
        --m_pendingReplies;
        if (!isOk(reply))
            m_pendingError = QStringLiteral("メールを削除できません: %1").arg(serverText(reply));
    }
    return true;
}

bool Pop3Client::readReply(QByteArray& reply) {
    if (!collectPendingReplies())
        return false;
    if (!m_connection.readLine(reply))
        return transportFailed();
    return true;
}

bool Pop3Client::command(const QByteArray& line, QByteArray* reply) {
    if (!m_connection.writeLine(line))
        return transportFailed();
    QByteArray ignored;
    return readReply(reply ? *reply : ignored);
}

bool Pop3Client::readMultiline(QByteArray& body) {
    body.clear();
    QByteArray line;
    for (;;) {
        if (!m_connection.readLine(line))
            return transportFailed();
        if (line.size() == 1 && line.at(0) == '.')
            return true;
        // Byte-stuffing: the server doubled every leading dot; take exactly one away.
        if (line.startsWith('.'))
            body.append(line.constData() + 1, line.size() - 1);
        else
            body.append(line);
        body.append("\r\n");
    }
}

} // namespace kiku
