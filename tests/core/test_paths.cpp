#include "base/installation.h"
#include "base/paths.h"
#include "temphome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace kiku;

TEST(Paths, BothSpellingsOfTheDataFolderReachOneFolder) {
    test::TempHome home;
    const QString settings = ProgramFolder::resolve(QStringLiteral("\\★MailData\\iniCuntUp.ini"));
    const QString boxes = ProgramFolder::resolve(QStringLiteral("\\★MAilData\\vbmdata2.data"));
    EXPECT_EQ(settings, home.path() + QStringLiteral("/★MailData/iniCuntUp.ini"));
    EXPECT_EQ(boxes, home.path() + QStringLiteral("/★MailData/vbmdata2.data"));
}

TEST(Paths, MatchesEveryComponentWithoutRegardToCase) {
    test::TempHome home;
    home.writeFile(QStringLiteral("★MailData/VBMDATA2.TMP"), "x");
    EXPECT_EQ(ProgramFolder::resolve(QStringLiteral("\\★mAILdATA\\vbmdata2.tmp")),
              home.path() + QStringLiteral("/★MailData/VBMDATA2.TMP"));
    // A file that does not exist keeps the spelling given; a trailing separator is kept.
    EXPECT_EQ(ProgramFolder::resolve(QStringLiteral("\\★MAilData\\New.data")),
              home.path() + QStringLiteral("/★MailData/New.data"));
    EXPECT_EQ(ProgramFolder::resolve(QStringLiteral("\\添付フォルダ\\")),
              home.path() + QStringLiteral("/添付フォルダ/"));
    EXPECT_EQ(ProgramFolder::resolve(QStringLiteral("\\data\\R.gif")),
              home.path() + QStringLiteral("/Data/R.gif"));
}

TEST(Paths, HomeComesFromTheCommandLine) {
    EXPECT_EQ(ProgramFolder::homeFromArguments({"kikumail", "--home", "/x/y"}),
              QStringLiteral("/x/y"));
    EXPECT_EQ(ProgramFolder::homeFromArguments({"kikumail", "--home=/z"}), QStringLiteral("/z"));
    EXPECT_EQ(ProgramFolder::homeFromArguments({"kikumail", "--home"}), QString());
    EXPECT_EQ(ProgramFolder::homeFromArguments({"kikumail"}), QString());
}

// The data folder's real spelling is remembered, so each path under it costs a lookup
// rather than a listing; a folder renamed afterwards is found again.
TEST(Paths, RememberedSpellingFollowsARenamedFolder) {
    test::TempHome home;
    const QString boxes = QStringLiteral("\\★MAilData\\vbmdata2.data");
    EXPECT_EQ(ProgramFolder::resolve(boxes),
              home.path() + QStringLiteral("/★MailData/vbmdata2.data"));
    ASSERT_TRUE(QDir(home.path()).rename(QStringLiteral("★MailData"), QStringLiteral("★MAILDATA")));
    EXPECT_EQ(ProgramFolder::resolve(boxes),
              home.path() + QStringLiteral("/★MAILDATA/vbmdata2.data"));
    ASSERT_TRUE(QDir(home.path()).rename(QStringLiteral("★MAILDATA"), QStringLiteral("★MAilData")));
    EXPECT_EQ(ProgramFolder::resolve(boxes),
              home.path() + QStringLiteral("/★MAilData/vbmdata2.data"));
}

TEST(Paths, EntriesOfAFolderAreMatchedTogether) {
    test::TempHome home;
    home.writeFile(QStringLiteral("★MailData/VBMDATA3.TMP"), "x");
    home.writeFile(QStringLiteral("★MailData/vbmdata3.data"), "x");
    const QString folder = home.path() + QStringLiteral("/★MailData");
    EXPECT_EQ(ProgramFolder::resolveIn(folder, {QStringLiteral("vbmdata3.data"),
                                                QStringLiteral("vbmdata3.tmp"),
                                                QStringLiteral("vbmdata3.data.new")}),
              (QStringList{folder + QStringLiteral("/vbmdata3.data"),
                           folder + QStringLiteral("/VBMDATA3.TMP"),
                           folder + QStringLiteral("/vbmdata3.data.new")}));
    // A folder that does not exist: the names as given.
    EXPECT_EQ(
        ProgramFolder::resolveIn(home.path() + QStringLiteral("/none"), {QStringLiteral("a")}),
        QStringList{home.path() + QStringLiteral("/none/a")});
}

TEST(Paths, AnInstalledExecutableIsToldFromAnAssembledOne) {
    test::TempHome home(false);
    QDir root(home.path());
    // An assembled folder has its own Data/; an installed one finds <prefix>/share/kikumail.
    root.mkpath(QStringLiteral("assembled/Data"));
    root.mkpath(QStringLiteral("assembled/share/kikumail/Data"));
    root.mkpath(QStringLiteral("usr/bin"));
    root.mkpath(QStringLiteral("usr/share/kikumail/Data"));
    root.mkpath(QStringLiteral("loose/bin"));
    EXPECT_EQ(Installation::shareFolder(home.file(QStringLiteral("assembled"))), QString());
    EXPECT_EQ(Installation::shareFolder(home.file(QStringLiteral("usr/bin"))),
              home.file(QStringLiteral("usr/share/kikumail")));
    EXPECT_EQ(Installation::shareFolder(home.file(QStringLiteral("loose/bin"))), QString());
}
