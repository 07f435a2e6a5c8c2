#include "base/codec.h"
#include "settings/serversettings.h"
#include "temphome.h"

#include <gtest/gtest.h>

using namespace kiku;

TEST(ServerSettings, MissingFileGivesEmptySettings) {
    test::TempHome home;
    const ServerSettings s = LoadServerSettings();
    EXPECT_TRUE(s.smtpServer.isEmpty());
    EXPECT_TRUE(s.pop3Server.isEmpty());
    EXPECT_TRUE(s.senderAddress.isEmpty());
    EXPECT_EQ(s.useApop, 0);
}

TEST(ServerSettings, OnlyExactKeysAtTheLineStartCount) {
    test::TempHome home;
    const QByteArray longValue(150, 'h');
    home.writeFile("zadiru.ini", "SMTP=" + longValue +
                                     "\r\n"
                                     "pop3=lower.example\r\n"
                                     " POP3=space.example\r\n"
                                     "MAIL=first@example.jp\r\n"
                                     "junk line\r\n"
                                     "MAIL=second@example.jp\r\n"
                                     "APOP=1x\r\n");
    const ServerSettings s = LoadServerSettings();
    EXPECT_EQ(s.smtpServer, QString::fromLatin1(longValue.left(100)));
    EXPECT_TRUE(s.pop3Server.isEmpty());
    EXPECT_EQ(s.senderAddress, QStringLiteral("second@example.jp"));
    EXPECT_EQ(s.useApop, 1);
}

TEST(ServerSettings, ApopTakesTheLeadingNumber) {
    struct Case {
        const char* line;
        qint16 apop;
    } cases[] = {
        {"APOP=", 0}, {"APOP=0", 0}, {"APOP=1", 1}, {"APOP=abc", 0}, {"APOP=70000", 32767}};
    for (const Case& c : cases) {
        test::TempHome home;
        home.writeFile("zadiru.ini", QByteArray(c.line) + "\r\n");
        EXPECT_EQ(LoadServerSettings().useApop, c.apop) << c.line;
    }
}

TEST(ServerSettings, SaveWritesExactlyFourLinesAndLoadsBack) {
    test::TempHome home;
    home.writeFile("zadiru.ini",
                   "OLD=1\r\nSMTP=old\r\nPOP3=old\r\nMAIL=old\r\nAPOP=0\r\nEXTRA\r\n");
    ServerSettings s;
    s.smtpServer = QStringLiteral("smtp.example.jp");
    s.pop3Server = QStringLiteral("pop3s://pop.example.jp:995");
    s.senderAddress = QStringLiteral("花子 <hanako@example.jp>");
    s.useApop = 1;
    ASSERT_TRUE(SaveServerSettings(s));
    EXPECT_EQ(home.readFile("zadiru.ini"),
              "SMTP=smtp.example.jp\r\nPOP3=pop3s://pop.example.jp:995\r\nMAIL=" +
                  codec::toCp932(QStringLiteral("花子 <hanako@example.jp>")) + "\r\nAPOP=1\r\n");
    const ServerSettings back = LoadServerSettings();
    EXPECT_EQ(back.smtpServer, s.smtpServer);
    EXPECT_EQ(back.pop3Server, s.pop3Server);
    EXPECT_EQ(back.senderAddress, s.senderAddress);
    EXPECT_EQ(back.useApop, 1);
}
