#include "base/codec.h"
#include "settings/profile.h"
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
    // Writing replaces the line in place rather than adding a second one.
    WriteSetting(kCounter, "NAME2", "4");
    EXPECT_EQ(home.readFile("★MailData/iniCuntUp.ini"),
              QByteArray("[exeini]\r\nname=57\r\nNAME2=4\r\n"));
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
