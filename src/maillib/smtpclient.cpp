#include "maillib/smtpclient.h"

#include <QHostInfo>
#include <QRegularExpression>

namespace kiku {

namespace {

// A server that keeps sending continuation lines is not answering: a reply is held to this
// many lines and bytes, and must be complete within the timeout.
constexpr int kMaxReplyLines = 1000;
constexpr qint64 kMaxReplyBytes = 256 * 1024;
// The message goes out in pieces so a large attachment on a slow line gets a fresh
// deadline for every piece instead of one deadline for the whole transfer.
constexpr qsizetype kChunkSize = 64 * 1024;
// Of a reply, the user is shown this many lines of at most this many characters: enough
// for any honest server's explanation, never a dialog the screen cannot hold.
constexpr int kShownReplyLines = 5;
constexpr int kShownLineChars = 160;

// The name we greet with: this machine's name when it is a plain host name.
QByteArray helloName() {
    static const QRegularExpression hostName(QStringLiteral("^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)*$"));
    const QString name = QHostInfo::localHostName();
    return hostName.match(name).hasMatch() ? name.toLatin1() : QByteArrayLiteral("localhost");
}

} // namespace

QString SmtpReply::text() const {
    QStringList out;
    for (const QByteArray& line : lines) {
        if (out.size() == kShownReplyLines) {
            out << QStringLiteral("（ほか %1 行）").arg(lines.size() - kShownReplyLines);
            break;
        }
        QString s = QString::fromUtf8(line.left(kShownLineChars * 4));
        // Terminal escapes, C1 controls and direction overrides would garble or turn the
        // text around in the dialog.
        s.removeIf([](QChar c) {
            return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
        });
        if (s.size() > kShownLineChars)
            s = s.left(kShownLineChars) + QStringLiteral("…");
        out << s;
    }
    return out.join(QLatin1Char('\n'));
}

SmtpClient::SmtpClient(int timeoutMs) : m_connection(Protocol::Smtp, timeoutMs) {}

void SmtpClient::setCredentials(const QString& userId, const QString& password) {
    m_userId = userId;
    m_password = password;
}

QByteArray SmtpClient::dataBlock(const QByteArray& message) {
    QByteArray out;
    out.reserve(message.size() + message.size() / 64 + 8);
    bool lineStart = true;
    for (qsizetype i = 0; i < message.size(); ++i) {
        const char c = message.at(i);
        if (c == '\r' || c == '\n') {
            // CR LF, a bare CR and a bare LF all end a line: no stray line end reaches the
            // server, where it could be read as the end of the data.
            if (c == '\r' && i + 1 < message.size() && message.at(i + 1) == '\n')
                ++i;
            out += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.')
            out += '.';
        out += c;
        lineStart = false;
    }
    if (!lineStart)
        out += "\r\n";
    out += ".\r\n";
    return out;
}

bool SmtpClient::send(const ServerAddress& server, const QString& sender,
                      const QStringList& recipients, const QByteArray& message) {
    m_error.clear();
    m_authenticated = false;
    if (recipients.isEmpty())
        return fail(QStringLiteral("宛先がありません"));
    if (!open(server))
        return false;
    const bool canLogIn = m_authMechanisms.contains("PLAIN") || m_authMechanisms.contains("LOGIN");
    // The password never crosses a connection anyone on the path could read.
    if (canLogIn && !m_userId.isEmpty() && m_connection.isEncrypted() && !authenticate())
        return false;
    const QByteArray data = dataBlock(message);
    if (!mailFrom(sender, data.size()))
        return false;
    for (const QString& recipient : recipients) {
        SmtpReply reply;
        if (!command("RCPT TO:<" + recipient.toLatin1() + '>', reply))
            return false;
        if (!reply.positive()) {
            refused(QStringLiteral("SMTPサーバーが宛先 <%1> を受け付けませんでした").arg(recipient),
                    reply);
            quit();
            return false;
        }
    }
    if (!transfer(data))
        return false;
    quit();
    return true;
}

bool SmtpClient::open(const ServerAddress& server) {
    m_address = server;
    if (!m_connection.connectTo(server))
        return fail(m_connection.errorText());
    SmtpReply greeting;
    if (!readReply(greeting))
        return false;
    if (greeting.code != 220) {
        refused(QStringLiteral("SMTPサーバー %1 が接続を受け付けません").arg(server.display()),
                greeting);
        quit();
        return false;
    }
    if (!hello())
        return false;
    if (server.security != Security::StartTls)
        return true;

    if (!m_extensions.contains("STARTTLS")) {
        fail(
            QStringLiteral("SMTPサーバー %1 は STARTTLS に対応していません").arg(server.display()));
        quit();
        return false;
    }
    SmtpReply reply;
    if (!command("STARTTLS", reply))
        return false;
    if (reply.code != 220) {
        refused(QStringLiteral("STARTTLS を拒否されました"), reply);
        quit();
        return false;
    }
    if (!m_connection.startTls())
        return fail(m_connection.errorText());
    // What the server offered before the upgrade is forgotten: ask again under TLS.
    return hello();
}

bool SmtpClient::hello() {
    m_extensions.clear();
    m_authMechanisms.clear();
    const QByteArray name = helloName();
    SmtpReply reply;
    if (!command("EHLO " + name, reply))
        return false;
    if (reply.code == 250) {
        for (qsizetype i = 1; i < reply.lines.size(); ++i) {
            const QList<QByteArray> words = reply.lines.at(i).mid(4).trimmed().toUpper().split(' ');
            m_extensions.insert(words.value(0));
            if (words.value(0) == "AUTH") {
                for (qsizetype w = 1; w < words.size(); ++w)
                    m_authMechanisms.insert(words.at(w));
            }
        }
        return true;
    }
    SmtpReply helo;
    if (!command("HELO " + name, helo))
        return false;
    if (helo.code == 250)
        return true;
    refused(QStringLiteral("EHLO/HELO を拒否されました"), helo);
    quit();
    return false;
}

QString SmtpClient::offeredMechanisms() const {
    QStringList names;
    for (const QByteArray& m : m_authMechanisms)
        names << QString::fromLatin1(m);
    names.sort();
    return names.join(QLatin1Char(' '));
}

bool SmtpClient::authenticate() {
    const QByteArray user = m_userId.toUtf8();
    const QByteArray password = m_password.toUtf8();
    SmtpReply reply;
    if (m_authMechanisms.contains("PLAIN")) {
        const QByteArray token = (QByteArray() + '\0' + user + '\0' + password).toBase64();
        if (!command("AUTH PLAIN " + token, reply))
            return false;
    } else {
        if (!command("AUTH LOGIN", reply))
            return false;
        if (reply.code == 334 && !command(user.toBase64(), reply))
            return false;
        if (reply.code == 334 && !command(password.toBase64(), reply))
            return false;
    }
    if (reply.code != 235) {
        refused(QStringLiteral("SMTPサーバーの認証に失敗しました（ユーザー "
                               "%1）。ユーザーIDとパスワードを確かめてください")
                    .arg(m_userId),
                reply);
        quit();
        return false;
    }
    m_authenticated = true;
    return true;
}

bool SmtpClient::mailFrom(const QString& sender, qsizetype size) {
    QByteArray line = "MAIL FROM:<" + sender.toLatin1() + '>';
    if (m_extensions.contains("SIZE"))
        line += " SIZE=" + QByteArray::number(size);
    SmtpReply reply;
    if (!command(line, reply))
        return false;
    // 530 when we have not logged in: we had no account, or the server offered no way we
    // know (or none at all before asking).
    if (reply.code == 530 && !m_authenticated) {
        QString why;
        if (m_userId.isEmpty())
            why = QStringLiteral("アカウントが設定されていません");
        else if (m_authMechanisms.isEmpty())
            why = QStringLiteral("サーバーが AUTH を提示していません");
        else if (!m_authMechanisms.contains("PLAIN") && !m_authMechanisms.contains("LOGIN"))
            why = QStringLiteral("対応する認証方式がありません: AUTH %1").arg(offeredMechanisms());
        if (!m_connection.isEncrypted() && !m_userId.isEmpty()) {
            // The server as the user typed it: the port only when one was given, so that
            // smtps:// without one keeps its own default.
            const QString typed = m_address.portTyped ? m_address.display()
                                  : m_address.host.contains(QLatin1Char(':'))
                                      ? QLatin1Char('[') + m_address.host + QLatin1Char(']')
                                      : m_address.host;
            // Whatever the server offers, the password waits for an encrypted connection.
            why +=
                QStringLiteral("%1暗号化されていない接続ではパスワードを送りません。サーバー名を "
                               "smtp+starttls://%2 または smtps://%2 にしてください")
                    .arg(why.isEmpty() ? QString() : QStringLiteral("。"), typed);
        }
        refused(QStringLiteral("SMTPサーバーが認証を求めています（%1）").arg(why), reply);
        quit();
        return false;
    }
    if (!reply.positive()) {
        refused(QStringLiteral("SMTPサーバーが送信者のアドレス <%1> を受け付けませんでした")
                    .arg(sender),
                reply);
        quit();
        return false;
    }
    return true;
}

bool SmtpClient::transfer(const QByteArray& data) {
    SmtpReply reply;
    if (!command("DATA", reply))
        return false;
    if (reply.code != 354) {
        refused(QStringLiteral("SMTPサーバーがメールの受け取り（DATA）を拒否しました"), reply);
        quit();
        return false;
    }
    for (qsizetype at = 0; at < data.size(); at += kChunkSize) {
        if (!m_connection.write(data.mid(at, kChunkSize)))
            return fail(m_connection.errorText());
    }
    if (!readReply(reply))
        return false;
    if (reply.code != 250) {
        refused(QStringLiteral("メールの本文を受け付けられませんでした"), reply);
        quit();
        return false;
    }
    return true;
}

void SmtpClient::quit() {
    // Polite but not waited on long: the outcome is already decided.
    if (m_connection.isConnected())
        m_connection.writeLine("QUIT");
    m_connection.close();
}

bool SmtpClient::command(const QByteArray& line, SmtpReply& reply) {
    if (!m_connection.writeLine(line))
        return fail(m_connection.errorText());
    return readReply(reply);
}

bool SmtpClient::readReply(SmtpReply& reply) {
    reply = SmtpReply();
    static const QRegularExpression shape(QStringLiteral("^[2-5][0-9][0-9]([ -]|$)"));
    const QDeadlineTimer deadline(m_connection.timeout());
    qint64 budget = kMaxReplyBytes;
    for (int n = 0; n < kMaxReplyLines; ++n) {
        QByteArray line;
        if (!m_connection.readLine(line, deadline, budget)) {
            fail(m_connection.errorText());
            m_connection.close();
            return false;
        }
        if (!shape.match(QString::fromLatin1(line.left(4))).hasMatch()) {
            reply.lines << line;
            fail(QStringLiteral("SMTPサーバーの応答が読めません: %1").arg(reply.text()));
            m_connection.close();
            return false;
        }
        const int code = line.left(3).toInt();
        if (reply.code == 0)
            reply.code = code;
        reply.lines << line;
        if (line.size() < 4 || line.at(3) == ' ')
            return true;
    }
    fail(QStringLiteral("SMTPサーバーの応答が終わりません"));
    m_connection.close();
    return false;
}

bool SmtpClient::refused(const QString& what, const SmtpReply& reply) {
    return fail(what + QStringLiteral(": ") + reply.text());
}

bool SmtpClient::fail(const QString& text) {
    m_error = text;
    return false;
}

} // namespace kiku
