// The demo set-up: its private POP3 (APOP, STARTTLS) and SMTP servers, started by
// scripts/demo.py for a program folder that lies inside a folder only its owner may enter,
// carry a real receive and a send round trip, fill the address book, and stop when the demo
// is told to.
#include "base/forms.h"
#include "base/pause.h"
#include "compose/writeform.h"
#include "core/mainform.h"
#include "guitest.h"
#include "scriptedprompter.h"
#include "store/addressfile.h"
#include "store/mailbox.h"
#include "temphome.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

using namespace kiku;

namespace {

int messages(Box box) {
    int count = 0;
    Mailbox(box).count(count);
    return count;
}

bool accepting(quint16 port) {
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    return probe.waitForConnected(1000);
}

} // namespace

class TestDemo : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Pause::setTimeScale(0); }

    void demoServersCarryAReceiveAndASendRoundTrip() {
        // The program folder inside a private folder: Dovecot's own users cannot enter it.
        QTemporaryDir privateFolder;
        QVERIFY(QFile::setPermissions(privateFolder.path(), QFileDevice::ReadOwner |
                                                                QFileDevice::WriteOwner |
                                                                QFileDevice::ExeOwner));
        const QByteArray tmpdir = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(privateFolder.path()));
        auto home = std::make_unique<test::TempHome>();
        qputenv("TMPDIR", tmpdir);
        if (tmpdir.isEmpty())
            qunsetenv("TMPDIR");
        QVERIFY(home->path().startsWith(privateFolder.path()));
        test::ScriptedPrompter prompter;
        QProcess demo;
        demo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        demo.start(QStringLiteral("/usr/bin/python3"),
                   {qEnvironmentVariable("KIKU_SOURCE_DIR") + QStringLiteral("/scripts/demo.py"),
                    home->path(), QStringLiteral("--servers-only")});
        QVERIFY(demo.waitForStarted(5000));
        QVERIFY2(demo.waitForReadyRead(60000), "the demo servers did not come up");
        const QStringList ready = QString::fromUtf8(demo.readLine()).trimmed().split(u' ');
        QCOMPARE(ready.value(0), QStringLiteral("READY"));
        const quint16 pop3Port = ready.value(1).toUShort();
        QVERIFY(accepting(pop3Port));
        QVERIFY(home->readFile("zadiru.ini").contains("APOP=1"));

        // Receive through the main window: two from the partner, four from others, and the
        // picture, page and PDF in the attachment folder.
        MainForm* main = Forms::show<MainForm>();
        main->receivedHeartTimer()->stop();
        main->sentHeartTimer()->stop();
        QTest::mouseClick(main->boardControl(QStringLiteral("Label7")), Qt::LeftButton);
        QVERIFY2(prompter.shown().isEmpty(), qPrintable(prompter.texts().join(u'\n')));
        QCOMPARE(messages(Box::PartnerInbox), 2);
        QCOMPARE(messages(Box::OthersInbox), 4);
        QCOMPARE(main->receivedCountBox()->text(), QStringLiteral("2"));
        const QStringList files =
            QDir(home->file(QStringLiteral("\\添付フォルダ"))).entryList(QDir::Files);
        for (const char* name : {"sakura.gif", "otayori.html", "agenda.pdf"})
            QVERIFY2(files.contains(QLatin1String(name)), qPrintable(files.join(u' ')));

        // Send to the partner, picked from the address book: stored and counted, delivered
        // back, received again.
        QTest::mouseClick(main->boardControl(QStringLiteral("Label6")), Qt::LeftButton);
        WriteForm* compose = Forms::existing<WriteForm>();
        QVERIFY(compose);
        QTest::mouseClick(test::child<QLabel>(compose, "Label6"), Qt::LeftButton, {}, QPoint(4, 4));
        auto* names = test::child<QListWidget>(compose, "List1");
        QCOMPARE(names->count(), 3);
        QCOMPARE(names->item(0)->text().trimmed(), QStringLiteral("花子"));
        names->setCurrentRow(0);
        QTest::mouseClick(names->viewport(), Qt::LeftButton, {},
                          names->visualItemRect(names->item(0)).center());
        QCOMPARE(compose->toText()->text(), QStringLiteral("花子 <hanako@kiku.demo>"));
        compose->subjectText()->setText(QStringLiteral("週末の件"));
        compose->bodyText()->setPlainText(QStringLiteral("ぜひ行きましょう。"));
        QTest::mouseClick(test::child<QLabel>(compose, "Label8"), Qt::LeftButton, {}, QPoint(4, 4));
        QVERIFY2(prompter.shown().isEmpty(), qPrintable(prompter.texts().join(u'\n')));
        QCOMPARE(messages(Box::PartnerSent), 1);
        QCOMPARE(main->sentCountBox()->text(), QStringLiteral("1"));
        QTest::mouseClick(main->boardControl(QStringLiteral("Label7")), Qt::LeftButton);
        QCOMPARE(messages(Box::OthersInbox), 5);
        MailRecord back;
        QVERIFY(Mailbox(Box::OthersInbox).read(5, back));
        QCOMPARE(back.subject.trimmed(), QStringLiteral("週末の件"));
        test::closeAllWindows();

        // Told to stop, the demo ends and takes its servers with it.
        demo.closeWriteChannel();
        QVERIFY(demo.waitForFinished(20000));
        QCOMPARE(demo.exitCode(), 0);
        QVERIFY(!accepting(pop3Port));
    }
};

QTEST_MAIN(TestDemo)
#include "test_demo.moc"
