#include "base/codec.h"
#include "settings/profile.h"
#include "settings/serversettings.h"
#include "temphome.h"

#include <gtest/gtest.h>

using namespace kiku;

namespace {
const QString kCounter = QStringLiteral("\\★MailData\\iniCuntUp.ini");
const QString kAccount = QStringLiteral("\\★MailData\\iniIdPass.ini");
} // namespace

TEST(Profile, AbsentFileSectionOrKeyReadsEmpty) {
    test::TempHome home;
    EXPECT_EQ(ReadSetting(kCounter, "NAME"), QString());
    home.writeFile("★MailData/iniCuntUp.ini", "[OTHER]\r\nNAME=5\r\n");
    EXPECT_EQ(ReadSetting(kCounter, "NAME"), QString());
    home.writeFile("★MailData/iniCuntUp.ini", "[EXEINI]\r\nNAME=\r\n");
    EXPECT_EQ(ReadSetting(kCounter, "NAME"), QString());
    // No data folder at all: still empty, and a write is simply lost.
    test::TempHome bare(false);
    EXPECT_EQ(ReadSetting(kCounter, "NAME"), QString());
    EXPECT_FALSE(WriteSetting(kCounter, "NAME", "1"));
}

TEST(Profile, KeysAndSectionsMatchWithoutRegardToCase) {
    test::TempHome home;
    home.writeFile("★MailData/iniCuntUp.ini", "[exeini]\r\nname=57\r\nname2=3\r\n");
    EXPECT_EQ(ReadSetting(kCounter, "NAME"), QStringLiteral("57"));
    EXPECT_EQ(ReadSetting(kCounter, "NAME2"), QStringLiteral("3"));
    // Writing replaces the value in place rather than adding a second line, and the key
    // keeps the file's own spelling.
    WriteSetting(kCounter, "NAME2", "4");
    EXPECT_EQ(home.readFile("★MailData/iniCuntUp.ini"),
              QByteArray("[exeini]\r\nname=57\r\nname2=4\r\n"));
}

TEST(Profile, WriteCreatesFileSectionAndKeyAndKeepsOtherLines) {
    test::TempHome home;
    WriteSetting(kCounter, "NAME", "1");
    EXPECT_EQ(home.readFile("★MailData/iniCuntUp.ini"), QByteArray("[EXEINI]\r\nNAME=1\r\n"));
    WriteSetting(kCounter, "NAME2", "2");
    WriteSetting(kCounter, "NAME", "12");
    EXPECT_EQ(home.readFile("★MailData/iniCuntUp.ini"),
              QByteArray("[EXEINI]\r\nNAME=12\r\nNAME2=2\r\n"));

    home.writeFile("★MailData/iniCuntUp.ini",
                   "; note\r\n[A]\r\nNAME=a\r\n\r\n[EXEINI]\r\nX=1\r\n\r\n[B]\r\nNAME=b\r\n");
    WriteSetting(kCounter, "NAME", "9");
    EXPECT_EQ(
        home.readFile("★MailData/iniCuntUp.ini"),
        QByteArray(
            "; note\r\n[A]\r\nNAME=a\r\n\r\n[EXEINI]\r\nX=1\r\nNAME=9\r\n\r\n[B]\r\nNAME=b\r\n"));
    EXPECT_EQ(ReadSetting(kCounter, "NAME"), QStringLiteral("9"));
}

TEST(Profile, ValuesAreShiftJisOnDisk) {
    test::TempHome home;
    const QString partner = QStringLiteral("\\★MailData\\iniIdPass2.ini");
    WriteSetting(partner, "NAME2", QStringLiteral("山田　花子"));
    EXPECT_TRUE(home.readFile("★MailData/iniIdPass2.ini")
                    .contains(codec::toCp932(QStringLiteral("山田　花子"))));
    EXPECT_EQ(ReadSetting(partner, "NAME2"), QStringLiteral("山田　花子"));
}

TEST(Profile, ReadsAreCutAtTheBufferSize) {
    test::TempHome home;
    const QString password(300, QLatin1Char('p'));
    WriteSetting(kAccount, "NAME2", password);
    EXPECT_EQ(ReadSetting(kAccount, "NAME2"), password.left(255));
    const QString longValue(1300, QLatin1Char('v'));
    WriteSetting(kCounter, "NAME", longValue);
    EXPECT_EQ(ReadSetting(kCounter, "NAME"), longValue.left(1255));
    // The file itself keeps the whole value.
    EXPECT_TRUE(home.readFile("★MailData/iniIdPass.ini").contains(password.toLatin1()));
}

TEST(Profile, BlanksAroundKeysAndValuesAreIgnored) {
    test::TempHome home;
    home.writeFile("★MailData/iniCuntUp.ini", "  [ EXEINI ]\r\n  NAME  =  7 \r\nNAME2=\"x y\"\r\n");
    EXPECT_EQ(ReadSetting(kCounter, "NAME"), QStringLiteral("7"));
    EXPECT_EQ(ReadSetting(kCounter, "NAME2"), QStringLiteral("x y"));
}

// A rewrite changes the one value it writes; every other byte of the file stays as it was:
// bytes that are not Shift-JIS, a UTF-8 byte-order mark, the file's own line ends, the key's
// own spelling and the blanks before its "=".
TEST(Profile, RewritesKeepEveryOtherByte) {
    const struct {
        const char* name;
        QByteArray before;
        const char* key;
        QByteArray expected;
    } rows[] = {
        {"invalid Shift-JIS in another line",
         QByteArray("[EXEINI]\r\nNAME=\x81\xFF\xA0\x80x\r\nNAME2=1\r\n"), "NAME2",
         QByteArray("[EXEINI]\r\nNAME=\x81\xFF\xA0\x80x\r\nNAME2=v\r\n")},
        {"invalid bytes in a comment before the section",
         QByteArray("; \xFD\xFE\x85\r\n[EXEINI]\r\nNAME=1\r\n"), "NAME",
         QByteArray("; \xFD\xFE\x85\r\n[EXEINI]\r\nNAME=v\r\n")},
        {"byte-order mark, key added", QByteArray("\xEF\xBB\xBF[EXEINI]\r\nNAME=1\r\n"), "NAME2",
         QByteArray("\xEF\xBB\xBF[EXEINI]\r\nNAME=1\r\nNAME2=v\r\n")},
        {"byte-order mark, key replaced", QByteArray("\xEF\xBB\xBF[EXEINI]\r\nNAME=1\r\n"), "NAME",
         QByteArray("\xEF\xBB\xBF[EXEINI]\r\nNAME=v\r\n")},
        {"own spelling and blanks", QByteArray("[ExeIni]\r\n  NaMe2 =old\r\n"), "NAME2",
         QByteArray("[ExeIni]\r\n  NaMe2 =v\r\n")},
        {"LF lines and no final line end", QByteArray("[EXEINI]\nNAME=1\nX=\x82\xA0"), "NAME2",
         QByteArray("[EXEINI]\nNAME=1\nX=\x82\xA0\r\nNAME2=v\r\n")},
        {"section added after a last line without an end", QByteArray("[A]\r\nK=\x80"), "NAME",
         QByteArray("[A]\r\nK=\x80\r\n[EXEINI]\r\nNAME=v\r\n")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempHome home;
        home.writeFile("★MailData/iniCuntUp.ini", row.before);
        EXPECT_TRUE(WriteSetting(kCounter, QLatin1String(row.key), "v"));
        EXPECT_EQ(home.readFile("★MailData/iniCuntUp.ini"), row.expected);
        EXPECT_EQ(ReadSetting(kCounter, QLatin1String(row.key)), QStringLiteral("v"));
    }
}

// Only the first [EXEINI] section counts, for reading and for writing.
TEST(Profile, OnlyTheFirstSectionOfTheNameCounts) {
    test::TempHome home;
    home.writeFile("★MailData/iniCuntUp.ini",
                   "[EXEINI]\r\nX=1\r\n[B]\r\nNAME=b\r\n[exeini]\r\nNAME=5\r\n");
    EXPECT_EQ(ReadSetting(kCounter, "NAME"), QString());
    EXPECT_EQ(ReadSetting(kCounter, "X"), QStringLiteral("1"));
    WriteSetting(kCounter, "NAME", "7");
    EXPECT_EQ(home.readFile("★MailData/iniCuntUp.ini"),
              QByteArray("[EXEINI]\r\nX=1\r\nNAME=7\r\n[B]\r\nNAME=b\r\n[exeini]\r\nNAME=5\r\n"));
    EXPECT_EQ(ReadSetting(kCounter, "NAME"), QStringLiteral("7"));
}

// A value never carries a line break into a file: it ends at its first one, so pasted text
// cannot add keys or sections.
TEST(Profile, LineBreaksNeverReachTheFiles) {
    const QString pastes[] = {
        QStringLiteral("p@x\r\nNAME2=x\r\n[Z]"),
        QStringLiteral("p@x\nNAME2=x\n[Z]"),
        QStringLiteral("p@x\rNAME2=x\r[Z]"),
    };
    for (const QString& paste : pastes) {
        SCOPED_TRACE(paste.toStdString());
        test::TempHome home;
        const QString partner = QStringLiteral("\\★MailData\\iniIdPass2.ini");
        WriteSetting(partner, "NAME", paste);
        WriteSetting(partner, "NAME2", QStringLiteral("花子\n[EXEINI]"));
        EXPECT_EQ(home.readFile("★MailData/iniIdPass2.ini"),
                  QByteArray("[EXEINI]\r\nNAME=p@x\r\nNAME2=") +
                      codec::toCp932(QStringLiteral("花子")) + "\r\n");

        ServerSettings servers;
        servers.smtpServer = paste;
        servers.pop3Server = QStringLiteral("pop\r\nAPOP=1");
        servers.senderAddress = QStringLiteral("\nme@x");
        ASSERT_TRUE(SaveServerSettings(servers, home.file("zadiru.ini")));
        EXPECT_EQ(home.readFile("zadiru.ini"),
                  QByteArray("SMTP=p@x\r\nPOP3=pop\r\nMAIL=\r\nAPOP=0\r\n"));
    }
}
