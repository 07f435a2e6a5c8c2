// SmtpClient against SMTP servers that misbehave on purpose: a reply that never ends, or
// ends one line at a time, and a plain connection asking for the password.
#include "hostileservers.h"
#include "maillib/smtpclient.h"

#include <gtest/gtest.h>

using namespace kiku;
using namespace kiku::test;

namespace {

bool send(SmtpClient& client, const HostileSmtpServer& server) {
    return client.send(parseServerAddress(server.address(), Protocol::Smtp),
                       QStringLiteral("a@example.jp"), {QStringLiteral("b@example.jp")},
                       "Subject: x\r\n\r\nhello\r\n");
}

TEST(HostileSmtp, RepliesThatDoNotEndAreCutOff) {
    const struct {
        const char* what;
        HostileAction action;
        const char* expected;
    } cases[] = {
        // Lines of a megabyte each: a thousand of them were a gigabyte.
        {"endless reply",
         hostile::flood({}, "250-" + QByteArray(1024 * 1024, 'x') + "\r\n", 300LL * 1024 * 1024),
         "応答が大きすぎる"},
        // One line every 300 ms keeps the 1.5 s line timeout happy for 30 s.
        {"dripping reply", hostile::drip({}, "250-slow\r\n", 300, 100, "250 done\r\n"),
         "応答が時間内に終わらない"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HostileSmtpServer server;
        server.on("EHLO", c.action);
        SmtpClient client(1500);
        EXPECT_FALSE(send(client, server));
        EXPECT_TRUE(client.errorText().contains(QString::fromUtf8(c.expected)))
            << client.errorText().toStdString();
        EXPECT_TRUE(server.messages().isEmpty());
    }
}

TEST(HostileSmtp, PlainConnectionGetsNoPassword) {
    const struct {
        const char* what;
        QByteArray mailReply;
        bool sent;
    } cases[] = {
        {"AUTH required", "530 5.7.0 Authentication required\r\n", false},
        {"AUTH offered only", "250 ok\r\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HostileSmtpServer server({"AUTH PLAIN LOGIN"});
        server.on("MAIL", hostile::reply(c.mailReply));
        SmtpClient client(3000);
        client.setCredentials(QStringLiteral("user"), QStringLiteral("secret"));
        EXPECT_EQ(send(client, server), c.sent) << client.errorText().toStdString();
        for (const QByteArray& command : server.commands())
            EXPECT_FALSE(command.startsWith("AUTH")) << command.toStdString();
        if (!c.sent) {
            const QString text = client.errorText();
            // The port the user typed stays in the advice.
            EXPECT_TRUE(
                text.contains(server.address(QStringLiteral("smtp+starttls")) +
                              QStringLiteral(" ")) &&
                text.contains(server.address(QStringLiteral("smtps")) + QStringLiteral(" ")))
                << text.toStdString();
        }
    }
}

} // namespace
