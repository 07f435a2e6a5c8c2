// Sending from the compose window, opened from the main window, to a real aiosmtpd: what
// the server gets, what is stored, the counters the main window shows, and the window's end.
#include "base/forms.h"
#include "base/pause.h"
#include "compose/attachcontrols.h"
#include "compose/sendoperation.h"
#include "compose/writeform.h"
#include "core/mainform.h"
#include "guitest.h"
#include "scriptedfiledialogs.h"
#include "scriptedprompter.h"
#include "settings/profile.h"
#include "smtpserver.h"
#include "store/mailbox.h"
#include "temphome.h"
#include "test_mimewriter_parse.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QtTest>

#include <memory>

using namespace kiku;

namespace {

QString sentCount() {
    return ReadSetting(QStringLiteral("\\★MailData\\iniCuntUp.ini"), QStringLiteral("NAME2"));
}

QList<MailRecord> stored(Box box) {
    QList<MailRecord> records;
    Mailbox(box).readAll([&](int, const MailRecord& r) {
        records << r;
        return true;
    });
    return records;
}

} // namespace

class TestWriteFormSend : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<test::ScriptedPrompter> m_prompter;
    std::unique_ptr<test::ScriptedFileDialogs> m_dialogs;

    // The main window on a program folder whose SMTP server is `smtp`, with a partner.
    MainForm* startMain(const QByteArray& smtp) {
        m_home->writeFile("zadiru.ini",
                          "SMTP=" + smtp + "\r\nPOP3=127.0.0.1:1\r\nMAIL=me@example.jp\r\n");
        test::writeAccount(*m_home, "user", "secret");
        m_home->writeFile("\\★MailData\\iniIdPass2.ini",
                          "[EXEINI]\r\nNAME=p@example.jp\r\nNAME2=P\r\n");
        MainForm* main = Forms::show<MainForm>();
        main->receivedHeartTimer()->stop();
        main->sentHeartTimer()->stop();
        return main;
    }

    // The compose window, opened with the main window's "N".
    static WriteForm* compose(MainForm* main) {
        QTest::mouseClick(main->boardControl(QStringLiteral("Label6")), Qt::LeftButton);
        WriteForm* form = Forms::existing<WriteForm>();
        if (form)
            QTest::mouseClick(main->boardControl(QStringLiteral("Label6")), Qt::LeftButton);
        return Forms::existing<WriteForm>() == form ? form : nullptr;
    }

    static void pressSend(WriteForm* form) {
        QTest::mouseClick(test::child<QLabel>(form, "Label8"), Qt::LeftButton, {}, QPoint(4, 4));
    }

private slots:
    void initTestCase() { Pause::setTimeScale(0); }
    void init() {
        m_home = std::make_unique<test::TempHome>();
        m_prompter = std::make_unique<test::ScriptedPrompter>();
        m_dialogs = std::make_unique<test::ScriptedFileDialogs>();
    }
    void cleanup() {
        test::closeAllWindows();
        m_dialogs.reset();
        m_prompter.reset();
        m_home.reset();
    }

    void partnerSendWithAttachmentsAndFortune() {
        // The server asks for the POP3 account, which the account window holds.
        test::SmtpServer server;
        test::SmtpServerOptions options;
        options.user = QStringLiteral("user");
        options.password = QStringLiteral("secret");
        QVERIFY2(server.start(options), qPrintable(server.error()));
        MainForm* main = startMain("127.0.0.1:" + QByteArray::number(server.port()));
        WriteForm* form = compose(main);
        QVERIFY(form && form->isVisible());
        QPointer<QWidget> guard(form);

        m_home->writeFile("one.txt", "first attachment");
        m_home->writeFile("写真.png", QByteArray(3000, '\x7f'));
        m_dialogs->answer({m_home->file("one.txt"), m_home->file("写真.png")});
        form->attachments()->firstButton()->click();
        form->attachments()->furtherButton()->click();
        form->toText()->setText(QStringLiteral("  p@example.jp "));
        form->subjectText()->setText(QStringLiteral("お元気ですか"));
        form->bodyText()->setPlainText(QStringLiteral("本文の一行目\n二行目"));
        form->fortuneBox()->setChecked(true);
        pressSend(form);

        // Stored in the partner sent box without the fortune, counted, shown on the board.
        const QList<MailRecord> records = stored(Box::PartnerSent);
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].subject.trimmed(), QStringLiteral("お元気ですか"));
        QCOMPARE(records[0].from.trimmed(), QStringLiteral("p@example.jp"));
        QCOMPARE(records[0].body.trimmed(), QStringLiteral("本文の一行目\r\n二行目"));
        QVERIFY(stored(Box::OthersSent).isEmpty());
        QCOMPARE(sentCount(), QStringLiteral("1"));
        QCOMPARE(main->sentCountBox()->text(), QStringLiteral("1"));

        // The server got the message, the fortune after the body, both files attached.
        const QList<test::ReceivedMessage> got = server.receivedMessages();
        QVERIFY2(got.size() == 1, qPrintable(m_prompter->texts().join(QLatin1Char('\n'))));
        QCOMPARE(got[0].recipients, QStringList{QStringLiteral("p@example.jp")});
        QCOMPARE(got[0].login, QStringLiteral("user"));
        const test::ParsedMail mail = test::parseMail(got[0].bytes);
        QCOMPARE(mail.subject, QStringLiteral("お元気ですか"));
        QVERIFY(mail.body.startsWith(QStringLiteral("本文の一行目\r\n二行目\r\n\r\n") +
                                     SendOperation::fortuneBanner() + QStringLiteral("\r\n\r\n")));
        bool endsWithFortune = false;
        for (const QString& fortune : SendOperation::fortunes())
            endsWithFortune = endsWithFortune || mail.body.trimmed().endsWith(fortune.trimmed());
        QVERIFY(endsWithFortune);
        QCOMPARE(mail.attachments.size(), 2);
        QCOMPARE(mail.attachments[0].name, QStringLiteral("one.txt"));
        QCOMPARE(mail.attachments[1].name, QStringLiteral("写真.png"));
        QCOMPARE(mail.attachments[1].bytes, QByteArray(3000, '\x7f'));

        // Nothing to report, and the window is gone.
        QVERIFY(m_prompter->shown().isEmpty());
        QVERIFY(test::isClosed(guard));
    }

    void failedSendIsReportedStoredAndClosed() {
        // A port nobody listens on.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        MainForm* main = startMain("127.0.0.1:" + QByteArray::number(port));
        WriteForm* form = compose(main);
        QVERIFY(form);
        QPointer<QWidget> guard(form);
        form->toText()->setText(QStringLiteral("friend@example.jp"));
        form->subjectText()->setText(QStringLiteral("届かない"));
        pressSend(form);

        QCOMPARE(m_prompter->shown().size(), 1);
        QCOMPARE(m_prompter->shown()[0].title, QStringLiteral("送信エラー"));
        QVERIFY2(m_prompter->shown()[0].text.contains(QStringLiteral("127.0.0.1:%1").arg(port)),
                 qPrintable(m_prompter->shown()[0].text));
        QCOMPARE(stored(Box::OthersSent).size(), 1);
        QVERIFY(sentCount().isEmpty()); // not the partner: the count is untouched
        QVERIFY(test::isClosed(guard));
    }
};

QTEST_MAIN(TestWriteFormSend)
#include "test_writeform_send.moc"
