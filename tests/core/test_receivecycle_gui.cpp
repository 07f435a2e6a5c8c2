// The receive button of the main window against a real Dovecot: the windows as the run's
// host, the status line while and after it runs, and the partner window's live address.
#include "base/forms.h"
#include "base/pause.h"
#include "core/boxviews.h"
#include "core/mainform.h"
#include "dovecotserver.h"
#include "guitest.h"
#include "scriptedprompter.h"
#include "settings/bunbetuform.h"
#include "settings/profile.h"
#include "settings/serversettings.h"
#include "store/mailbox.h"
#include "temphome.h"
#include "viewer/tyakuform.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

using namespace kiku;

namespace {

QByteArray message(const QByteArray& from, const QByteArray& subject) {
    return "From: " + from + "\r\nTo: alice@example.jp\r\nSubject: " + subject +
           "\r\nDate: Tue, 1 Dec 2026 10:00:00 +0900\r\n\r\nbody of " + subject + "\r\n";
}

QStringList subjects(Box box) {
    QStringList list;
    Mailbox(box).readAll([&](int, const MailRecord& r) {
        list << r.subject.trimmed();
        return true;
    });
    return list;
}

void storeNumbered(Box box, const QString& name, int count) {
    for (int i = 1; i <= count; ++i) {
        MailRecord r;
        r.subject = name + QString::number(i);
        r.from = QStringLiteral("%1%2@example.jp").arg(name).arg(i);
        r.date = QStringLiteral("Mon, %1 Jan 2024 10:00:00 +0900").arg(i);
        r.body = QStringLiteral("body ") + r.subject;
        r.live = 1;
        QVERIFY(Mailbox(box).append(r));
    }
}

int boxCount(Box box) {
    int n = -1;
    Mailbox(box).count(n);
    return n;
}

// Everything that happens to the status line, and every tick of a busy timer, in order.
class StatusRecorder : public QObject {
public:
    explicit StatusRecorder(QLineEdit* status) : m_status(status) {
        connect(status, &QLineEdit::textChanged, this, [this](const QString& text) {
            log << QStringLiteral("%1@%2%3")
                       .arg(text)
                       .arg(m_status->font().pointSize())
                       .arg(m_status->isVisible() ? QString() : QStringLiteral(" hidden"));
        });
        status->installEventFilter(this);
        connect(&m_busy, &QTimer::timeout, this, [this] { log << QStringLiteral("tick"); });
        m_busy.start(0);
    }
    QStringList log;
    int progressPaints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_status && event->type() == QEvent::Paint &&
            m_status->text().startsWith(QStringLiteral("受信中")))
            ++progressPaints;
        return false;
    }

private:
    QLineEdit* m_status;
    QTimer m_busy;
};

} // namespace

class TestReceiveGui : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<test::DovecotServer> m_server;
    std::unique_ptr<test::ScriptedPrompter> m_prompter;

    MainForm* start() {
        m_home->writeFile("zadiru.ini",
                          QStringLiteral("POP3=127.0.0.1:%1\r\n").arg(m_server->port()).toLatin1());
        test::writeAccount(*m_home, "alice", "secret");
        MainForm* form = Forms::show<MainForm>();
        // Keep the hearts out of the way; they have tests of their own.
        form->receivedHeartTimer()->stop();
        form->sentHeartTimer()->stop();
        if (!QTest::qWaitForWindowExposed(form))
            qWarning("main window not exposed");
        return form;
    }
    void deliver(const QByteArray& raw) { QVERIFY(m_server->addMessage("alice", raw)); }
    static void receive(MainForm* form) {
        QTest::mouseClick(form->boardControl(QStringLiteral("Label7")), Qt::LeftButton);
    }

private slots:
    void initTestCase() { Pause::setTimeScale(0); }

    void init() {
        m_home = std::make_unique<test::TempHome>();
        m_prompter = std::make_unique<test::ScriptedPrompter>();
        m_server = std::make_unique<test::DovecotServer>();
        QVERIFY2(m_server->start(), qPrintable(m_server->error()));
        ServerSettings::current() = {};
    }

    void cleanup() {
        test::closeAllWindows();
        m_server.reset();
        m_prompter.reset();
        m_home.reset();
    }

    void receiveButtonSortsCountsAndReports() {
        MainForm* form = start();
        // Registered through the partner window with spaces around it: stored as typed,
        // and matched trimmed while the window (holding the spaces) stays open.
        QTest::mouseClick(form->boardControl(QStringLiteral("Label13")), Qt::LeftButton);
        auto* partner = Forms::existing<BunbetuForm>();
        QVERIFY(partner && partner->isVisible());
        partner->addressBox()->setText(QStringLiteral("  partner@example.jp  "));
        partner->registerButton()->click();
        QVERIFY(m_home->readFile("\\★MailData\\iniIdPass2.ini")
                    .contains("NAME=  partner@example.jp  \r\n"));

        deliver(message("one@example.jp", "first"));
        deliver(message("partner@example.jp", "second"));
        deliver(message("three@example.jp", "third"));
        form->receivedCountBox()->setText(QStringLiteral("12"));
        // With new mail the result keeps the line's size as it stands.
        QFont font = form->statusLine()->font();
        font.setPointSize(10);
        form->statusLine()->setFont(font);
        form->statusLine()->setVisible(false);
        StatusRecorder recorder(form->statusLine());

        receive(form);

        QCOMPARE(boxCount(Box::PartnerInbox), 1);
        QCOMPARE(boxCount(Box::OthersInbox), 2);
        QCOMPARE(m_server->messageCount("alice"), 0);
        QCOMPARE(form->receivedCountBox()->text(), QStringLiteral("13"));
        QCOMPARE(ReadSetting(QStringLiteral("\\★MailData\\iniCuntUp.ini"), QStringLiteral("NAME")),
                 QStringLiteral("13"));
        QVERIFY(m_prompter->shown().isEmpty());

        // The last message stored is what the (hidden) viewer's staging boxes hold.
        TyakuForm* viewer = Forms::existing<TyakuForm>();
        QVERIFY(viewer && !viewer->isVisible());
        QCOMPARE(viewer->subjectText(), QStringLiteral("third"));
        QCOMPARE(viewer->addressText(), QStringLiteral("three@example.jp"));
        QCOMPARE(viewer->bodyText(), QStringLiteral("body of third\r\n"));

        // A count from the first message on, each one painted at once (after the first at
        // most ten a second), with nothing else running in between; then the result, and
        // after the pause the empty line at 9 points.
        const QStringList log = recorder.log;
        const qsizetype first = log.indexOf(QStringLiteral("受信中 1/3@10"));
        const qsizetype result = log.indexOf(QStringLiteral("新着メール有り！@10"));
        QVERIFY2(first >= 0 && result > first,
                 qPrintable(log.filter(QStringLiteral("@")).join(QLatin1Char('|'))));
        const QStringList counts = log.mid(first, result - first);
        for (qsizetype i = 1; i < counts.size(); ++i)
            QVERIFY2(counts[i] > counts[i - 1] && counts[i].startsWith(QStringLiteral("受信中 ")),
                     qPrintable(counts.join(QLatin1Char('|'))));
        QVERIFY(recorder.progressPaints >= counts.size());
        QCOMPARE(form->statusLine()->text(), QString());
        QCOMPARE(form->statusLine()->font().pointSize(), 9);
    }

    // A box view stays open while "R" stores new mail: the view must still agree with its box
    // when the user then presses an operation.
    void receiveIntoAnOpenBoxView_data() {
        QTest::addColumn<bool>("shownBoxGrows");
        QTest::newRow("the others in-box on show") << true;
        QTest::newRow("the storage box on show") << false;
    }
    void receiveIntoAnOpenBoxView() {
        QFETCH(bool, shownBoxGrows);
        MainForm* form = start();
        const Box shown = shownBoxGrows ? Box::OthersInbox : Box::Storage;
        storeNumbered(Box::OthersInbox, QStringLiteral("in"), 3);
        storeNumbered(Box::Storage, QStringLiteral("kept"), 2);
        TyakuForm* viewer = openBoxView(shown, nullptr);
        QTreeWidget* list = viewer->mailList();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->topLevelItem(1)).center());
        const QString picked = shownBoxGrows ? QStringLiteral("in2") : QStringLiteral("kept2");
        QCOMPARE(viewer->subjectText(), picked);

        deliver(message("new@example.jp", "arrived"));
        receive(form);
        QCOMPARE(subjects(Box::OthersInbox), (QStringList{"in1", "in2", "in3", "arrived"}));

        if (shownBoxGrows) {
            // Listed again: the new line is there and nothing is picked.
            QCOMPARE(viewer->listLineCount(), 4);
            QCOMPARE(viewer->countText(), QStringLiteral("4"));
            QCOMPARE(viewer->subjectText(), QStringLiteral("arrived"));
            QVERIFY(!viewer->messageSelected());
        } else {
            // The message picked before the run is on show again.
            QCOMPARE(viewer->subjectText(), picked);
            QCOMPARE(viewer->addressText(), QStringLiteral("kept2@example.jp"));
            QVERIFY(viewer->stagingShowsSelection());
        }
        // Delete one, answered Yes: only ever the message on show, or nothing.
        m_prompter->answer({true});
        QTest::mouseClick(test::child<QLabel>(viewer, "DeleteOneLabel"), Qt::LeftButton, {},
                          QPoint(5, 5));
        if (shownBoxGrows) {
            QCOMPARE(m_prompter->texts(),
                     QStringList{QStringLiteral("データが選択されていません")});
            QCOMPARE(subjects(Box::OthersInbox), (QStringList{"in1", "in2", "in3", "arrived"}));
        } else {
            QCOMPARE(subjects(Box::Storage), QStringList{QStringLiteral("kept1")});
        }
    }

    void noMailShowsElevenPointNotice() {
        MainForm* form = start();
        form->statusLine()->setVisible(false);
        StatusRecorder recorder(form->statusLine());
        receive(form);
        QVERIFY2(recorder.log.contains(QStringLiteral("新着メールなし@11")),
                 qPrintable(recorder.log.join(QLatin1Char('|'))));
        QCOMPARE(form->statusLine()->text(), QString());
        QCOMPARE(form->statusLine()->font().pointSize(), 9);
        QVERIFY(form->statusLine()->isVisible());
    }

    void typedPartnerAddressCountsOnlyWhileTheWindowIsOpen() {
        m_home->writeFile("\\★MailData\\iniIdPass2.ini",
                          "[EXEINI]\r\nNAME=registered@example.jp\r\nNAME2=Reg\r\n");
        MainForm* form = start();
        auto* partner = Forms::show<BunbetuForm>();
        QCOMPARE(partner->address(), QStringLiteral("registered@example.jp"));
        partner->addressBox()->setText(QStringLiteral("typed@example.jp"));

        deliver(message("typed@example.jp", "while open"));
        receive(form);
        QCOMPARE(boxCount(Box::PartnerInbox), 1);

        partner->close();
        test::flushDeletes();
        QVERIFY(!Forms::existing<BunbetuForm>());
        deliver(message("typed@example.jp", "after close"));
        receive(form);
        QCOMPARE(boxCount(Box::PartnerInbox), 1);
        QCOMPARE(boxCount(Box::OthersInbox), 1);
        // The run touched the window again, hidden, from the registered address.
        QVERIFY(Forms::existing<BunbetuForm>() && !Forms::existing<BunbetuForm>()->isVisible());
        deliver(message("registered@example.jp", "registered"));
        receive(form);
        QCOMPARE(boxCount(Box::PartnerInbox), 2);
        QCOMPARE(form->receivedCountBox()->text(), QStringLiteral("2"));
    }
};

QTEST_MAIN(TestReceiveGui)
#include "test_receivecycle_gui.moc"
