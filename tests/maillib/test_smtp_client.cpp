// SmtpClient against scripted servers: the dialogue corners aiosmtpd does not produce.
#include "maillib/smtpclient.h"

#include "oneconnectionserver.h"

#include <QList>
#include <gtest/gtest.h>

#include <mutex>
#include <sys/socket.h>

using namespace kiku;

namespace {

// One SMTP connection on 127.0.0.1 served from a thread: the greeting, then for every
// command line the reply of the first rule whose prefix matches (or "500 unknown").
// After a 354 reply it swallows the data up to the lone "." and answers `dataReply`.
class ScriptedSmtpServer {
public:
    struct Rule {
        QByteArray prefix;
        QByteArray reply; // one or more CRLF-terminated lines
    };

    ScriptedSmtpServer(QByteArray greeting, QList<Rule> rules,
                       QByteArray dataReply = "250 queued\r\n")
        : m_greeting(std::move(greeting)), m_rules(std::move(rules)),
          m_dataReply(std::move(dataReply)) {}

    ServerAddress address() const {
        return parseServerAddress(QStringLiteral("127.0.0.1:%1").arg(m_server.port()),
                                  Protocol::Smtp);
    }
    // The command lines received, in order (data lines not included).
    QList<QByteArray> commands() {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }
    QByteArray data() {
        std::lock_guard lock(m_mutex);
        return m_data;
    }

private:
    void serve(int fd) {
        ::send(fd, m_greeting.constData(), size_t(m_greeting.size()), MSG_NOSIGNAL);
        QByteArray buffer;
        bool inData = false;
        char chunk[4096];
        for (;;) {
            const qsizetype lf = buffer.indexOf('\n');
            if (lf < 0) {
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0)
                    break;
                buffer.append(chunk, n);
                continue;
            }
            const QByteArray line = buffer.left(lf + 1);
            buffer.remove(0, lf + 1);
            std::lock_guard lock(m_mutex);
            if (inData) {
                if (line == ".\r\n") {
                    inData = false;
                    ::send(fd, m_dataReply.constData(), size_t(m_dataReply.size()), MSG_NOSIGNAL);
                } else {
                    m_data += line;
                }
                continue;
            }
            const QByteArray command = line.trimmed();
            m_commands << command;
            QByteArray reply = "500 unknown command\r\n";
            for (const Rule& rule : m_rules) {
                if (command.startsWith(rule.prefix)) {
                    reply = rule.reply;
                    break;
                }
            }
            inData = reply.startsWith("354");
            ::send(fd, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL);
            if (command == "QUIT")
                break;
        }
    }

    QByteArray m_greeting;
    QList<Rule> m_rules;
    QByteArray m_dataReply;
    std::mutex m_mutex;
    QList<QByteArray> m_commands;
    QByteArray m_data;
    test::OneConnectionServer m_server{[this](int fd) { serve(fd); }}; // last: starts serving
};

const QList<ScriptedSmtpServer::Rule> kAcceptAll = {
    {"EHLO", "250-test\r\n250 8BITMIME\r\n"},
    {"HELO", "250 test\r\n"},
    {"MAIL", "250 ok\r\n"},
    {"RCPT", "250 ok\r\n"},
    {"DATA", "354 go\r\n"},
    {"QUIT", "221 bye\r\n"},
};

QList<ScriptedSmtpServer::Rule> withRule(QByteArray prefix, QByteArray reply) {
    QList<ScriptedSmtpServer::Rule> rules{{std::move(prefix), std::move(reply)}};
    return rules + kAcceptAll;
}

TEST(SmtpData, LineEndsAndDotsAreMadeSafe) {
    struct Case {
        QByteArray message;
        QByteArray block;
    };
    const QList<Case> cases = {
        {"a\r\nb\r\n", "a\r\nb\r\n.\r\n"},
        {"no final break", "no final break\r\n.\r\n"},
        {".\r\n..x\r\n.y", "..\r\n...x\r\n..y\r\n.\r\n"},
        // A bare LF or CR must not let "." end the data early on a lenient server.
        {"a\n.\nb\r.\rc", "a\r\n..\r\nb\r\n..\r\nc\r\n.\r\n"},
        {"", ".\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SmtpClient::dataBlock(c.message), c.block) << c.message.toStdString();
}

TEST(SmtpDialogue, FallsBackToHeloWhenEhloIsRefused) {
    ScriptedSmtpServer server("220 old server\r\n", withRule("EHLO", "502 not implemented\r\n"));
    SmtpClient client(3000);
    ASSERT_TRUE(client.send(server.address(), QStringLiteral("a@b.jp"), {QStringLiteral("c@d.jp")},
                            "Subject: x\r\n\r\nhi\r\n"))
        << client.errorText().toStdString();
    const QList<QByteArray> commands = server.commands();
    ASSERT_GE(commands.size(), 2);
    EXPECT_TRUE(commands[0].startsWith("EHLO "));
    EXPECT_TRUE(commands[1].startsWith("HELO "));
    EXPECT_EQ(server.data(), QByteArray("Subject: x\r\n\r\nhi\r\n"));
}

TEST(SmtpDialogue, FailuresCarryTheServersOwnLines) {
    struct Case {
        const char* why;
        QByteArray greeting;
        QList<ScriptedSmtpServer::Rule> rules;
        QByteArray dataReply;
        QStringList expected;
    };
    const QList<Case> cases = {
        {"greeting refused",
         "554-no service\r\n554 go away\r\n",
         kAcceptAll,
         "250 ok\r\n",
         {QStringLiteral("554-no service"), QStringLiteral("554 go away")}},
        {"sender refused",
         "220 hi\r\n",
         withRule("MAIL", "553 5.7.1 sender not allowed\r\n"),
         "250 ok\r\n",
         {QString::fromUtf8("送信者のアドレス <a@b.jp>"), QStringLiteral("553 5.7.1")}},
        {"recipient refused",
         "220 hi\r\n",
         withRule("RCPT", "550-5.1.1 no such user\r\n550 5.1.1 see the docs\r\n"),
         "250 ok\r\n",
         {QString::fromUtf8("宛先 <c@d.jp> を受け付けませんでした"), QStringLiteral("no such user"),
          QStringLiteral("see the docs")}},
        {"data refused",
         "220 hi\r\n",
         withRule("DATA", "554 no data today\r\n"),
         "250 ok\r\n",
         {QStringLiteral("DATA"), QStringLiteral("554 no data today")}},
        {"message refused",
         "220 hi\r\n",
         kAcceptAll,
         "552 5.3.4 message too big\r\n",
         {QStringLiteral("552 5.3.4 message too big")}},
        // Lines that would paint the screen, turn the text around, or fill the dialog.
        {"message refused at length",
         "220 hi\r\n",
         kAcceptAll,
         "554-5.6.0 Line too long\r\n554-\x1b]0;title\x07 \xc2\x9b"
         "31m \xe2\x80\xae"
         "evil\r\n" +
             QByteArray("554-" + QByteArray(300, 'y') + "\r\n").repeated(400) + "554 5.6.0 bye\r\n",
         {QString::fromUtf8("メールの本文を受け付けられませんでした"),
          QStringLiteral("554-5.6.0 Line too long"), QStringLiteral("evil")}},
        {"auth wanted without an offer",
         "220 hi\r\n",
         withRule("MAIL", "530 5.7.0 Authentication required\r\n"),
         "250 ok\r\n",
         {QStringLiteral("530 5.7.0 Authentication required"), QStringLiteral("AUTH")}},
        {"not SMTP",
         "HTTP/1.1 400 Bad Request\r\n",
         kAcceptAll,
         "250 ok\r\n",
         {QStringLiteral("HTTP/1.1 400")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ScriptedSmtpServer server(c.greeting, c.rules, c.dataReply);
        SmtpClient client(3000);
        client.setCredentials(QStringLiteral("user"), QStringLiteral("pw"));
        EXPECT_FALSE(client.send(server.address(), QStringLiteral("a@b.jp"),
                                 {QStringLiteral("c@d.jp")}, "Subject: x\r\n\r\nhi\r\n"));
        const QString text = client.errorText();
        for (const QString& part : c.expected)
            EXPECT_TRUE(text.contains(part)) << text.toStdString();
        EXPECT_LE(text.size(), 1000);
        for (QChar ch : text) {
            const bool control =
                ch.category() == QChar::Other_Control || ch.category() == QChar::Other_Format;
            EXPECT_TRUE(!control || ch == QLatin1Char('\n'))
                << "U+" << std::hex << int(ch.unicode());
        }
    }
}

TEST(SmtpDialogue, UnknownAuthMechanismsGetNoCredentials) {
    // The server lists only mechanisms we do not speak: no credentials go out, and the 530
    // that follows names what was offered.
    QList<ScriptedSmtpServer::Rule> rules = {{"EHLO", "250-test\r\n250 AUTH CRAM-MD5 GSSAPI\r\n"},
                                             {"MAIL", "530 5.7.0 Authentication required\r\n"}};
    ScriptedSmtpServer server("220 hi\r\n", rules + kAcceptAll);
    SmtpClient client(3000);
    client.setCredentials(QStringLiteral("user"), QStringLiteral("secret"));
    EXPECT_FALSE(client.send(server.address(), QStringLiteral("a@b.jp"), {QStringLiteral("c@d.jp")},
                             "x\r\n"));
    EXPECT_TRUE(client.errorText().contains(QStringLiteral("CRAM-MD5 GSSAPI")))
        << client.errorText().toStdString();
    for (const QByteArray& command : server.commands())
        EXPECT_FALSE(command.startsWith("AUTH")) << command.toStdString();
}

} // namespace
