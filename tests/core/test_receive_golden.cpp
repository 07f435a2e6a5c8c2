// What a receive run leaves behind, byte for byte: the five boxes, the counter file, the
// attachment folder and the texts shown, for a corpus of every kind of mail, compared with
// the digest kept in data/receive_golden.txt. Any change to how mail is fetched, parsed or
// stored must leave that digest as it is.
//
// To write a new digest after a deliberate change of the stored form:
//   KIKU_WRITE_GOLDEN=1 ./test_receive_golden
#include "base/paths.h"
#include "core/receivecycle.h"
#include "dovecotserver.h"
#include "maillib/nmail.h"
#include "plainreceivehost.h"
#include "receivecorpus.h"
#include "scriptedprompter.h"
#include "settings/profile.h"
#include "store/mailbox.h"
#include "temphome.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

using namespace kiku;

namespace {

QString goldenPath() {
    return qEnvironmentVariable("KIKU_SOURCE_DIR") +
           QStringLiteral("/tests/core/data/receive_golden.txt");
}

QString digestOf(const QByteArray& bytes) {
    return QStringLiteral("%1 %2")
        .arg(bytes.size())
        .arg(QString::fromLatin1(
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
}

// One line per file under the program folder (sorted, relative names), then one per text shown.
QStringList digestOfHome(const test::TempHome& home, const QStringList& shown) {
    QStringList files;
    QDirIterator it(home.path(), QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(home.path()).relativeFilePath(path);
        // What the program keeps beside the records (the ids of stored mail, the originals)
        // has tests of its own; the golden digest is of what the records and folders hold.
        if (relative == QLatin1String("zadiru.ini") ||
            relative.contains(QLatin1String("/received-ids.")) ||
            relative.contains(QLatin1String("/originals/")))
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {QStringLiteral("unreadable ") + relative};
        files << relative + QLatin1Char(' ') + digestOf(file.readAll());
    }
    files.sort();
    QStringList lines = files;
    for (const QString& text : shown)
        lines << QStringLiteral("shown ") + digestOf(text.toUtf8());
    return lines;
}

class ReceiveGoldenTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
        m_settings.pop3Server = QStringLiteral("127.0.0.1:%1").arg(m_server.port());
        m_host.partner = QStringLiteral("  ") + test::corpus::kPartner;
        m_host.count = QStringLiteral("12");
        WriteSetting(paths::kCounterFile, QStringLiteral("NAME"), QStringLiteral("12"));
    }

    ReceiveOutcome receive() {
        NMail mail;
        mail.NMailInitializeWinSock();
        mail.NMailSetOption(1, 8192);
        mail.setTimeout(20000);
        NMailReceiveLibrary library(mail);
        return ReceiveCycle(library, m_host).run(m_settings);
    }

    test::TempHome m_home;
    test::ScriptedPrompter m_prompter;
    test::DovecotServer m_server;
    test::PlainReceiveHost m_host;
    ServerSettings m_settings;
};

TEST_F(ReceiveGoldenTest, EveryKindOfMailIsStoredExactlyAsBefore) {
    const QList<QByteArray> corpus = test::corpus::variedMessages();
    // Two runs: the second appends behind records that are already there.
    const qsizetype half = corpus.size() / 2;
    for (qsizetype i = 0; i < half; ++i)
        ASSERT_TRUE(m_server.addMessage(QStringLiteral("alice"), corpus[i]));
    const ReceiveOutcome first = receive();
    for (qsizetype i = half; i < corpus.size(); ++i)
        ASSERT_TRUE(m_server.addMessage(QStringLiteral("alice"), corpus[i]));
    const ReceiveOutcome second = receive();

    EXPECT_EQ(first.stored + second.stored, corpus.size());
    EXPECT_EQ(m_server.messageCount(QStringLiteral("alice")), 0);
    const QStringList digest = digestOfHome(m_home, m_prompter.texts()) +
                               QStringList{QStringLiteral("count ") + m_host.count};

    // KIKU_GOLDEN_COPY=DIR keeps the program folder, to compare records one by one.
    if (const QString copy = qEnvironmentVariable("KIKU_GOLDEN_COPY"); !copy.isEmpty())
        QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), m_home.path(), copy});
    if (qEnvironmentVariableIsSet("KIKU_WRITE_GOLDEN")) {
        QFile out(goldenPath());
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(digest.join(QLatin1Char('\n')).toUtf8() + '\n');
        GTEST_SKIP() << "wrote " << goldenPath().toStdString();
    }
    QFile golden(goldenPath());
    ASSERT_TRUE(golden.open(QIODevice::ReadOnly)) << goldenPath().toStdString();
    const QStringList expected =
        QString::fromUtf8(golden.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(digest.join(QLatin1Char('\n')).toStdString(),
              expected.join(QLatin1Char('\n')).toStdString());
}

} // namespace

// The sockets want an application object; the run itself needs no event loop.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
