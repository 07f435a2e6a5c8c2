// The heart reset ends the program on the spot, even when the click arrives while other
// work is pausing (a receive status, a heart beat). Measured on a child process: this test
// program runs itself with --reset-child.
#include "base/forms.h"
#include "base/paths.h"
#include "base/pause.h"
#include "core/mainform.h"
#include "scriptedprompter.h"
#include "settings/setform.h"
#include "temphome.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <cstdio>
#include <cstring>

using namespace kiku;

namespace {

const char kChildFlag[] = "--reset-child";

// The child: the main window up, a six-second pause running (the receive status), and
// inside it the user answers Yes to the reset. Whatever runs after the reset is reported
// on standard output; the process should never get there.
int runChild(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString home = QString::fromLocal8Bit(argv[2]);
    ProgramFolder::set(home);
    QDir::setCurrent(home);
    test::ScriptedPrompter prompter;
    prompter.answer({true});
    Forms::show<MainForm>();
    QTimer::singleShot(0, &app, [] {
        QTimer::singleShot(100, [] {
            // A heart beat's pause under the click, inside the receive status.
            Pause::wait(150);
            std::puts("after the heart beat");
            std::fflush(stdout);
        });
        QTimer::singleShot(150, [] { Forms::show<SetForm>()->resetButton()->click(); });
        Pause::wait(6000);
        std::puts("after the status pause");
        std::fflush(stdout);
    });
    QApplication::exec();
    std::puts("after the event loop");
    std::fflush(stdout);
    Forms::closeAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 3;
}

} // namespace

class TestHeartReset : public QObject {
    Q_OBJECT

private slots:
    void resetEndsTheProcessAtOnce() {
        test::TempHome home;
        home.writeFile("zadiru.ini", "POP3=127.0.0.1:1\r\n");
        home.writeFile("\\★MailData\\iniIdPass.ini", "[EXEINI]\r\nNAME=a\r\nNAME2=b\r\n");
        home.writeFile("\\★MailData\\iniCuntUp.ini", "[EXEINI]\r\nNAME=57\r\nNAME2=60\r\n");

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        child.start(QCoreApplication::applicationFilePath(),
                    {QLatin1String(kChildFlag), home.path()});
        QVERIFY(child.waitForStarted(10000));
        QVERIFY2(child.waitForFinished(20000), "the child did not end");
        const qint64 took = clock.elapsed();
        const QByteArray out = child.readAllStandardOutput();

        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(out.isEmpty(), out.constData());
        // Start-up under the sanitizers included; the status pause alone is six seconds.
        QVERIFY2(took < 4500, qPrintable(QString::number(took)));
        QCOMPARE(home.readFile("\\★MailData\\iniCuntUp.ini"),
                 QByteArray("[EXEINI]\r\nNAME=0\r\nNAME2=0\r\n"));
    }
};

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], kChildFlag) == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestHeartReset test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_heartreset.moc"
