// The reply window: opened from a message of the viewer, its proportions, "本文に貼付", and
// sending to a real aiosmtpd, which stores and counts nothing.
#include "base/forms.h"
#include "base/pause.h"
#include "base/twips.h"
#include "compose/attachcontrols.h"
#include "compose/backform.h"
#include "compose/sendoperation.h"
#include "core/boxviews.h"
#include "core/mainform.h"
#include "guitest.h"
#include "loginsmtpserver.h"
#include "maillib/nmail.h"
#include "scriptedfiledialogs.h"
#include "scriptedprompter.h"
#include "smtpserver.h"
#include "store/mailbox.h"
#include "temphome.h"
#include "test_mimewriter_parse.h"
#include "viewer/tyakuform.h"
#include "windowtestbed.h"

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

using namespace kiku;

namespace {

const QString kCounterFile = QStringLiteral("★MailData/iniCuntUp.ini");

MailRecord message(int i, const QString& body) {
    MailRecord r;
    r.subject = QStringLiteral("件名%1").arg(i);
    r.from = QStringLiteral("sender%1@example.jp").arg(i);
    r.date = QStringLiteral("Mon, %1 Jan 2024 10:00:00 +0900").arg(i);
    r.body = body;
    return r;
}

QString boxPath(Box box) {
    return QStringLiteral("★MailData/") + QLatin1String(boxInfo(box).fileName);
}

// Resizes so that the window's outer size, frame included, is width × height pixels.
void resizeOuter(QWidget* window, int width, int height) {
    const QSize frame = window->frameGeometry().size() - window->size();
    window->resize(width - frame.width(), height - frame.height());
}

// The program's library, with what the reply window showed at the moment of the send.
class WatchingLibrary : public SendLibrary {
public:
    WatchingLibrary(NMail& mail, BackForm* form) : m_real(mail), m_form(form) {}
    void setSmtpCredentials(const QString& userId, const QString& password) override {
        m_real.setSmtpCredentials(userId, password);
    }
    int NMailSmtpSendMail(const QString& server, const QString& to, const QString& cc,
                          const QString& bcc, const QString& from, const QString& subject,
                          const QString& body, const QString& header, const QString& attachments,
                          int flag) override {
        statusDuringSend = m_form->statusLine()->text();
        // Anything that tries to close the window meanwhile is refused.
        m_form->close();
        openDuringSend = m_form->isVisible();
        return m_real.NMailSmtpSendMail(server, to, cc, bcc, from, subject, body, header,
                                        attachments, flag);
    }
    int NMailGetMessage(int handle, QString& text, int& size) override {
        return m_real.NMailGetMessage(handle, text, size);
    }
    QString statusDuringSend;
    bool openDuringSend = false;

private:
    NMailSendLibrary m_real;
    BackForm* m_form;
};

} // namespace

class TestBackForm : public QObject, public test::WindowTestBed {
    Q_OBJECT

    // The main window with counters, a partner and an SMTP server, and every box holding a
    // message, so that anything a reply stored or counted would show.
    MainForm* startMain(const QString& smtpServer) {
        m_home->writeFile("zadiru.ini", "SMTP=" + smtpServer.toUtf8() +
                                            "\r\nPOP3=127.0.0.1:1\r\nMAIL=me@example.jp\r\n");
        test::writeAccount(*m_home, "user", "secret");
        m_home->writeFile("\\★MailData\\iniIdPass2.ini",
                          "[EXEINI]\r\nNAME=p@example.jp\r\nNAME2=P\r\n");
        m_home->writeFile(kCounterFile, "[EXEINI]\r\nNAME=12\r\nNAME2=7\r\n");
        for (const BoxInfo& info : allBoxes()) {
            m_home->writeFile(
                boxPath(info.box),
                encodeMail(message(info.code, QStringLiteral("  元の本文です  ")), info.layout));
        }
        MainForm* main = Forms::show<MainForm>();
        main->receivedHeartTimer()->stop();
        main->sentHeartTimer()->stop();
        return main;
    }

    // The reply window for a message of the others in-box, opened as a user does.
    static BackForm* replyFromViewer(int line = 0) {
        TyakuForm* viewer = openBoxView(Box::OthersInbox, nullptr);
        QTreeWidget* list = viewer->mailList();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->topLevelItem(line)).center());
        QTest::mouseClick(test::child<QLabel>(viewer, "ReplyLabel"), Qt::LeftButton, {},
                          QPoint(5, 5));
        return Forms::existing<BackForm>();
    }

    QMap<QString, QByteArray> everyStoredFile() const {
        QMap<QString, QByteArray> files;
        for (const BoxInfo& info : allBoxes())
            files.insert(boxPath(info.box), m_home->readFile(boxPath(info.box)));
        files.insert(kCounterFile, m_home->readFile(kCounterFile));
        return files;
    }

private slots:
    void initTestCase() { Pause::setTimeScale(0); }
    void init() { startCase(); }
    void cleanup() { endCase(); }

    void opensWithItsControls() {
        BackForm* form = Forms::show<BackForm>();
        QCOMPARE(form->windowTitle(), QStringLiteral("返信"));
        QCOMPARE(test::child<QPushButton>(form, "Command2")->text(), QStringLiteral("送信"));
        QCOMPARE(test::child<QPushButton>(form, "Command3")->text(), QStringLiteral("送信中止"));
        QCOMPARE(test::child<QPushButton>(form, "Command4")->text(), QStringLiteral("本文に貼付"));
        QCOMPARE(test::child<QPushButton>(form, "AttachCommand")->text(), QStringLiteral("添付"));
        // The three buttons in a row at the top, the fields from 1200 twips on.
        QCOMPARE(form->sendButton()->geometry(), twipsRect(120, 120, 1215, 375));
        QCOMPARE(form->stopButton()->geometry(), twipsRect(1560, 120, 1215, 375));
        QCOMPARE(form->pasteButton()->geometry(), twipsRect(3000, 120, 1215, 375));
        QCOMPARE(form->toText()->pos(), twipsRect(1200, 600, 0, 0).topLeft());
        QCOMPARE(form->subjectText()->pos(), twipsRect(1200, 960, 0, 0).topLeft());
        QCOMPARE(form->attachments()->attachText()->pos(), twipsRect(1200, 1320, 0, 0).topLeft());
        // The attachment buttons all usable, the list box hidden until "追加".
        QVERIFY(form->attachments()->firstButton()->isEnabled());
        QVERIFY(form->attachments()->furtherButton()->isEnabled());
        QVERIFY(form->attachments()->discardButton()->isEnabled());
        QVERIFY(!form->attachments()->list()->isVisible());
        QCOMPARE(form->attachments()->list()->geometry(), twipsRect(1200, 1635, 3975, 1860));
    }

    void resizingKeepsTheProportions_data() {
        QTest::addColumn<QSize>("outer");
        QTest::newRow("designed") << QSize(560, 480);
        QTest::newRow("wider") << QSize(900, 480);
        QTest::newRow("taller and narrower") << QSize(450, 700);
    }
    void resizingKeepsTheProportions() {
        QFETCH(QSize, outer);
        BackForm* form = Forms::show<BackForm>();
        resizeOuter(form, outer.width(), outer.height());
        QCOMPARE(form->frameGeometry().size(), outer);
        const double w = outer.width() * 15.0;
        const double h = outer.height() * 15.0;
        QCOMPARE(form->bodyText()->width(), twipsToPixels(w * 0.99));
        QCOMPARE(form->bodyText()->height(), twipsToPixels(h * 0.68));
        QCOMPARE(form->toText()->width(), twipsToPixels(w * 0.7));
        QCOMPARE(form->subjectText()->width(), twipsToPixels(w * 0.7));
        const double attach = w * 0.4;
        QCOMPARE(form->attachments()->attachText()->width(), twipsToPixels(attach));
        // The three attachment buttons keep their distances right of the list text.
        QCOMPARE(form->attachments()->firstButton()->x(), twipsToPixels(attach + 1240));
        QCOMPARE(form->attachments()->furtherButton()->x(), twipsToPixels(attach + 2060));
        QCOMPARE(form->attachments()->discardButton()->x(), twipsToPixels(attach + 2940));
    }

    void pasteBuildsTheBodyFromTheClipboardAndTheRepliedMessage_data() {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("body");      // what the body box holds, CR LF breaks
        QTest::addColumn<QString>("clipAfter"); // what the clipboard holds afterwards
        const QString sep = QStringLiteral("\r\n\r\n\r\n\r");
        QTest::newRow("ABC and XYZ in spaces") << "ABC" << QStringLiteral("ABC\r\n\r\n\r\n\r\nXYZ")
                                               << QStringLiteral("ABC") + sep + "XYZ";
        QTest::newRow("empty clipboard: the breaks stay at the start")
            << "" << QStringLiteral("\r\n\r\n\r\n\r\nXYZ") << sep + "XYZ";
        QTest::newRow("clipboard text in spaces")
            << "  ABC " << QStringLiteral("ABC \r\n\r\n\r\n\r\nXYZ")
            << QStringLiteral("  ABC ") + sep + "XYZ";
        QTest::newRow("clipboard text with a zero in it")
            << QStringLiteral("ABC") + QChar(0) + QStringLiteral("hidden")
            << QStringLiteral("ABC\r\n\r\n\r\n\r\nXYZ") << QStringLiteral("ABC") + sep + "XYZ";
    }
    void pasteBuildsTheBodyFromTheClipboardAndTheRepliedMessage() {
        QFETCH(QString, clipboard);
        QFETCH(QString, body);
        QFETCH(QString, clipAfter);
        BackForm* form = Forms::show<BackForm>();
        form->setReply(QStringLiteral("Re:  件名"), QStringLiteral("a@example.jp"),
                       QStringLiteral("これは消える"), QStringLiteral("  XYZ  "));
        QGuiApplication::clipboard()->setText(clipboard);
        form->pasteButton()->click();
        QCOMPARE(form->bodyWithCrLf(), body);
        QCOMPARE(QGuiApplication::clipboard()->text(), clipAfter);
    }

    void pastingTwiceRepeatsTheWholeConstruction() {
        BackForm* form = Forms::show<BackForm>();
        form->setReply({}, {}, {}, QStringLiteral("  XYZ  "));
        QGuiApplication::clipboard()->setText(QStringLiteral("ABC"));
        form->pasteButton()->click();
        form->pasteButton()->click();
        const QString sep = QStringLiteral("\r\n\r\n\r\n\r");
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("ABC") + sep + QStringLiteral("XYZ") + sep + QStringLiteral("XYZ"));
        QCOMPARE(form->bodyWithCrLf(), QStringLiteral("ABC\r\n\r\n\r\n\r\nXYZ\r\n\r\n\r\n\r\nXYZ"));
    }

    void successfulSendStoresAndCountsNothing() {
        test::LoginSmtpServer login;
        QVERIFY2(login.start(*m_home, QStringLiteral("user"), QStringLiteral("secret")),
                 qPrintable(login.error()));
        test::SmtpServer& server = login.server();
        MainForm* main = startMain(login.address());
        const QString receivedShown = main->receivedCountBox()->text();
        const QString sentShown = main->sentCountBox()->text();
        const QMap<QString, QByteArray> before = everyStoredFile();

        BackForm* form = replyFromViewer();
        QVERIFY(form && form->isVisible());
        QPointer<QWidget> guard(form);
        QCOMPARE(form->subjectText()->text(), QStringLiteral("Re:  件名1"));
        QCOMPARE(form->toText()->text(), QStringLiteral("sender1@example.jp"));
        QCOMPARE(form->bodyWithCrLf(), QStringLiteral("元の本文です"));
        m_home->writeFile("memo.txt", "attached text");
        m_dialogs->answer({m_home->file("memo.txt")});
        form->attachments()->firstButton()->click();
        form->bodyText()->appendPlainText(QStringLiteral("お返事です"));

        NMail mail;
        WatchingLibrary library(mail, form);
        form->sendThrough(library);

        // The same sign of life as the compose window, and no close before the end.
        QCOMPARE(library.statusDuringSend, SendOperation::sendingText());
        QVERIFY(library.openDuringSend);
        const QList<test::ReceivedMessage> got = server.receivedMessages();
        QVERIFY2(got.size() == 1, qPrintable(m_prompter->texts().join(QLatin1Char('\n'))));
        QCOMPARE(got[0].recipients, QStringList{QStringLiteral("sender1@example.jp")});
        QCOMPARE(got[0].mailFrom, QStringLiteral("me@example.jp"));
        QCOMPARE(got[0].login, QStringLiteral("user"));
        const test::ParsedMail parsed = test::parseMail(got[0].bytes);
        QCOMPARE(parsed.subject, QStringLiteral("Re:  件名1"));
        QCOMPARE(parsed.body.trimmed(), QStringLiteral("元の本文です\r\nお返事です"));
        QCOMPARE(parsed.attachments.size(), 1);
        QCOMPARE(parsed.attachments[0].bytes, QByteArray("attached text"));

        // Nothing stored, nothing counted, nothing to report; the window is gone.
        QCOMPARE(everyStoredFile(), before);
        QCOMPARE(main->receivedCountBox()->text(), receivedShown);
        QCOMPARE(main->sentCountBox()->text(), sentShown);
        QVERIFY(m_prompter->shown().isEmpty());
        QVERIFY(test::isClosed(guard));
    }

    void sendButtonSendsThroughTheProgramsLibrary() {
        test::LoginSmtpServer login;
        QVERIFY2(login.start(*m_home, QStringLiteral("user"), QStringLiteral("secret")),
                 qPrintable(login.error()));
        test::SmtpServer& server = login.server();
        startMain(login.address());
        BackForm* form = replyFromViewer();
        QVERIFY(form);
        QPointer<QWidget> guard(form);
        form->sendButton()->click();
        QVERIFY2(m_prompter->shown().isEmpty(), qPrintable(m_prompter->texts().join(' ')));
        QCOMPARE(server.receivedMessages().size(), 1);
        QVERIFY(test::isClosed(guard));
    }

    // Reply to one message with a file, then reply to another from the viewer.
    void aSecondReplyStartsAfresh_data() {
        QTest::addColumn<bool>("withFile"); // the first reply was given a file
        QTest::addColumn<bool>("replace");  // the answer to the question about it
        QTest::newRow("a file, replaced") << true << true;
        QTest::newRow("a file, kept") << true << false;
        QTest::newRow("untouched: replaced without a question") << false << false;
    }
    void aSecondReplyStartsAfresh() {
        QFETCH(bool, withFile);
        QFETCH(bool, replace);
        test::LoginSmtpServer login;
        QVERIFY2(login.start(*m_home, QStringLiteral("user"), QStringLiteral("secret")),
                 qPrintable(login.error()));
        startMain(login.address());
        m_home->writeFile(
            boxPath(Box::OthersInbox),
            encodeMail(message(1, QStringLiteral("一通目")), RecordLayout::Standard) +
                encodeMail(message(8, QStringLiteral("二通目")), RecordLayout::Standard));
        BackForm* form = replyFromViewer(0);
        QVERIFY(form);
        if (withFile) {
            m_home->writeFile("memo.txt", "for the first reply");
            m_dialogs->answer({m_home->file("memo.txt")});
            form->attachments()->firstButton()->click();
        }
        m_prompter->answer({replace});
        QCOMPARE(replyFromViewer(1), form);

        QCOMPARE(m_prompter->shown().size(), withFile ? 1 : 0);
        const bool replaced = !withFile || replace;
        QCOMPARE(form->subjectText()->text(),
                 replaced ? QStringLiteral("Re:  件名8") : QStringLiteral("Re:  件名1"));
        QCOMPARE(form->attachments()->firstButton()->isEnabled(), replaced);
        QCOMPARE(form->attachments()->list()->count(), replaced ? 0 : 1);
        form->sendButton()->click();
        const QList<test::ReceivedMessage> got = login.server().receivedMessages();
        QVERIFY2(got.size() == 1, qPrintable(m_prompter->texts().join(QLatin1Char('\n'))));
        const test::ParsedMail parsed = test::parseMail(got[0].bytes);
        QCOMPARE(got[0].recipients, QStringList{replaced ? QStringLiteral("sender8@example.jp")
                                                         : QStringLiteral("sender1@example.jp")});
        QCOMPARE(parsed.attachments.size(), replaced ? 0 : 1);
    }

    void failedSendKeepsTheReplyOpen() {
        QTcpServer probe; // a port nobody listens on
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        startMain(QStringLiteral("127.0.0.1:%1").arg(port));
        const QMap<QString, QByteArray> before = everyStoredFile();
        BackForm* form = replyFromViewer();
        QVERIFY(form);
        QPointer<QWidget> guard(form);
        m_home->writeFile("memo.txt", "attached text");
        m_dialogs->answer({m_home->file("memo.txt")});
        form->attachments()->firstButton()->click();
        form->bodyText()->appendPlainText(QStringLiteral("大事な返事"));
        const QString attachments = form->attachments()->text();
        form->sendButton()->click();

        QCOMPARE(m_prompter->shown().size(), 1);
        QCOMPARE(m_prompter->shown()[0].title, QStringLiteral("送信エラー"));
        QVERIFY(!m_prompter->shown()[0].question);
        QVERIFY2(m_prompter->shown()[0].text.contains(QStringLiteral("127.0.0.1:%1").arg(port)),
                 qPrintable(m_prompter->shown()[0].text));
        QCOMPARE(everyStoredFile(), before);
        // Nothing else keeps a reply: the window stays with all of it, ready to send again.
        QVERIFY(!test::isClosed(guard));
        QVERIFY(form->isVisible() && !form->isSending());
        QCOMPARE(form->toText()->text(), QStringLiteral("sender1@example.jp"));
        QCOMPARE(form->bodyWithCrLf(), QStringLiteral("元の本文です\r\n大事な返事"));
        QCOMPARE(form->attachments()->text(), attachments);
    }

    void stopClosesWithoutSending() {
        test::SmtpServer server;
        QVERIFY2(server.start(), qPrintable(server.error()));
        startMain(QStringLiteral("127.0.0.1:%1").arg(server.port()));
        BackForm* form = replyFromViewer();
        QVERIFY(form);
        QPointer<QWidget> guard(form);
        form->stopButton()->click();
        QVERIFY(test::isClosed(guard));
        QVERIFY(server.receivedMessages().isEmpty());
    }
};

QTEST_MAIN(TestBackForm)
#include "test_backform.moc"
