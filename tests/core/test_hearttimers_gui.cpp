// The heart timers of the real main window, with pauses shrunk to a pass of the event loop.
#include "base/forms.h"
#include "base/pause.h"
#include "base/twips.h"
#include "core/hearttick.h"
#include "core/mainform.h"
#include "guitest.h"
#include "scriptedprompter.h"
#include "settings/profile.h"
#include "temphome.h"

#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include <memory>

using namespace kiku;

class TestHeartTimersGui : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<test::ScriptedPrompter> m_prompter;

    MainForm* start(const QByteArray& received, const QByteArray& sent) {
        m_home->writeFile("zadiru.ini", "POP3=127.0.0.1:1\r\n");
        m_home->writeFile("\\★MailData\\iniIdPass.ini", "[EXEINI]\r\nNAME=a\r\nNAME2=b\r\n");
        m_home->writeFile("\\★MailData\\iniCuntUp.ini",
                          "[EXEINI]\r\nNAME=" + received + "\r\nNAME2=" + sent + "\r\n");
        return Forms::show<MainForm>();
    }
    static QLabel* control(MainForm* form, const char* name) {
        return form->boardControl(QLatin1String(name));
    }

private slots:
    void initTestCase() { Pause::setTimeScale(0); }
    void init() {
        m_home = std::make_unique<test::TempHome>();
        m_prompter = std::make_unique<test::ScriptedPrompter>();
    }
    void cleanup() {
        test::closeAllWindows();
        m_prompter.reset();
        m_home.reset();
    }

    void heartsMergeAtAThousandEach() {
        MainForm* form = start("1000", "1000");
        QLabel* merged = control(form, "Image3");
        QTRY_VERIFY_WITH_TIMEOUT(control(form, "Image4")->isHidden(), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(
            merged->geometry(),
            QRect(merged->x(), twipsToPixels(2000), twipsToPixels(1890), twipsToPixels(1470)),
            3000);
        QVERIFY(m_prompter->shown().isEmpty());
    }

    void heartsStayApartBelowAThousand() {
        MainForm* form = start("1000", "950");
        QLabel* sent = control(form, "Image3");
        // Let both timers run a few ticks.
        QTest::qWait(1600);
        QVERIFY(!control(form, "Image4")->isHidden());
        QCOMPARE(sent->y(), twipsToPixels(2280));
        QCOMPARE(sent->size(), QSize(twipsToPixels(240), twipsToPixels(160)));
        // The landing pictures show once a flight has ended.
        QVERIFY(!control(form, "Image9")->isHidden());
        QCOMPARE(control(form, "Image5")->x(), twipsToPixels(3370));
    }

    void balanceLostResetsBothCounts() {
        MainForm* form = start("201", "100");
        QTRY_VERIFY_WITH_TIMEOUT(!m_prompter->shown().isEmpty(), 3000);
        QCOMPARE(m_prompter->texts().first(), HeartTick::balanceMessage());
        QCOMPARE(form->receivedCountBox()->text(), QStringLiteral("0"));
        QCOMPARE(form->sentCountBox()->text(), QStringLiteral("0"));
        QCOMPARE(ReadSetting(QStringLiteral("\\★MailData\\iniCuntUp.ini"), QStringLiteral("NAME")),
                 QStringLiteral("0"));
        QCOMPARE(ReadSetting(QStringLiteral("\\★MailData\\iniCuntUp.ini"), QStringLiteral("NAME2")),
                 QStringLiteral("0"));
    }

    void closingDuringATickIsHarmless() {
        Pause::setTimeScale(0.2);
        MainForm* form = start("50", "50");
        // Fires inside a tick's pause: the window goes while the tick is half-way.
        QTimer::singleShot(800, form, &QWidget::close);
        QTest::qWait(2000);
        Pause::setTimeScale(0);
        QVERIFY(!Forms::existing<MainForm>());
    }
};

QTEST_MAIN(TestHeartTimersGui)
#include "test_hearttimers_gui.moc"
