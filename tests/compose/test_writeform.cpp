// The compose window: opening, the address panel, picking names, greetings, pastes, clear,
// the bulk reset, the attachment controls and drops; and sending from it, opened from the
// main window, to a real aiosmtpd.
#include "base/forms.h"
#include "base/paths.h"
#include "base/pause.h"
#include "base/twips.h"
#include "compose/attachcontrols.h"
#include "compose/sendoperation.h"
#include "compose/writeform.h"
#include "core/mainform.h"
#include "guitest.h"
#include "loginsmtpserver.h"
#include "maillib/mimewriter.h"
#include "scriptedfiledialogs.h"
#include "scriptedprompter.h"
#include "settings/profile.h"
#include "smtpserver.h"
#include "store/addressfile.h"
#include "store/mailbox.h"
#include "temphome.h"
#include "test_mimewriter_parse.h"
#include "windowtestbed.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QtTest>

#include <memory>
#include <unistd.h>

using namespace kiku;

namespace {

const QString kMaster = QStringLiteral("\\★MailData\\VBMASTER.INI");

// Clicks a picture button's caption, as a user does (the press animation runs).
void press(WriteForm* form, const char* caption) {
    QTest::mouseClick(test::child<QLabel>(form, caption), Qt::LeftButton, {}, QPoint(4, 4));
}

// A press on line `line` (0-based) of the name list, or below the last line for -1.
void pressName(WriteForm* form, int line) {
    QListWidget* list = form->nameList();
    const QPoint at = line >= 0 ? list->visualItemRect(list->item(line)).center()
                                : QPoint(5, list->viewport()->height() - 3);
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
}

QStringList listLines(const QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

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

class TestWriteForm : public QObject, public test::WindowTestBed {
    Q_OBJECT

    void addEntries(const QList<QPair<QString, QString>>& entries) {
        for (const auto& [name, address] : entries)
            QVERIFY(AddAddress(name, address));
    }

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
    void init() { startCase(); }
    void cleanup() { endCase(); }

    void opensCompactWithGreetingsAndTheMasterList() {
        QVERIFY(!QFileInfo::exists(m_home->file(kMaster)));
        auto* form = Forms::show<WriteForm>();
        QCOMPARE(form->windowTitle(), QStringLiteral("新規作成"));
        QCOMPARE(form->width(), twipsToPixels(7100));
        QCOMPARE(form->height(), twipsToPixels(8200));
        // The master list is created empty and listed: no names, count 0.
        QVERIFY(QFileInfo::exists(m_home->file(kMaster)));
        QCOMPARE(QFileInfo(m_home->file(kMaster)).size(), 0);
        QCOMPARE(form->nameList()->count(), 0);
        QCOMPARE(form->nameCount()->text(), QStringLiteral("0"));

        QCOMPARE(form->greetingBox()->count(), 8);
        QCOMPARE(form->greetingBox()->itemText(0),
                 QStringLiteral("御社益々ご清祥の事とお慶び申し上げます。"));
        QCOMPARE(form->greetingBox()->itemText(7),
                 QStringLiteral("こんにちわ。お変わりなく、お元気ですか？"));
        QVERIFY(form->greetingBox()->currentText().isEmpty());
        QVERIFY(!form->fortuneBox()->isChecked());
        QVERIFY(!form->bulkOption()->isChecked());
        QVERIFY(form->attachments()->list()->isHidden());
        QVERIFY(!form->attachments()->furtherButton()->isEnabled());
        QVERIFY(form->attachments()->firstButton()->isEnabled());
        QVERIFY(form->helpBox()->isHidden());
    }

    void masterRecordsAreListedOnOpening() {
        // VBMASTER.INI has the address layout; its names are listed with their padding.
        AddressRecord record{QStringLiteral("先生"), QStringLiteral("t@example.jp"), 1};
        m_home->writeFile(kMaster, encodeAddress(record));
        auto* form = Forms::show<WriteForm>();
        QCOMPARE(form->nameList()->count(), 1);
        QCOMPARE(form->nameList()->item(0)->text().size(), 90 - 2); // two double-byte chars
        QVERIFY(form->nameList()->item(0)->text().startsWith(QStringLiteral("先生")));
        QCOMPARE(form->recordNumbers(), QList<int>{1});
    }

    void addressPanelWidensAndRefillsWithoutDuplicates() {
        addEntries({{QStringLiteral("山田"), QStringLiteral("yamada@example.jp")},
                    {QStringLiteral("佐藤"), QStringLiteral("sato@example.jp")},
                    {QStringLiteral("鈴木"), QStringLiteral("suzuki@example.jp")}});
        auto* form = Forms::show<WriteForm>();
        for (int pass = 0; pass < 2; ++pass) {
            press(form, "Label6");
            QCOMPARE(form->width(), twipsToPixels(9700));
            const QStringList lines = listLines(form->nameList());
            QCOMPARE(lines.size(), 3);
            // The Name field as read: the name, 28 ideographic spaces, then ASCII padding.
            QVERIFY(lines[0].startsWith(QStringLiteral("山田") + QString(28, QChar(0x3000))));
            QVERIFY(lines[1].startsWith(QStringLiteral("佐藤")));
            QVERIFY(lines[2].startsWith(QStringLiteral("鈴木")));
            QCOMPARE(form->recordNumbers(), (QList<int>{1, 2, 3}));
            QCOMPARE(form->nameCount()->text(), QStringLiteral("3"));
        }
        // Back to the compact width; the list keeps its lines.
        press(form, "Label9");
        QCOMPARE(form->width(), twipsToPixels(7100));
        QCOMPARE(form->nameList()->count(), 3);
    }

    void pickingANameFillsTheRecipient() {
        const QString longAddress =
            QString(58, QLatin1Char('a')) + QStringLiteral("  @tail.example");
        addEntries({{QStringLiteral("短い"), QStringLiteral("  short@example.jp  ")},
                    {QStringLiteral("長い"), longAddress}});
        auto* form = Forms::show<WriteForm>();
        press(form, "Label6");
        form->toText()->setText(QStringLiteral("typed@example.jp"));

        // Nothing selected and a press below the last line: a warning, nothing changes.
        pressName(form, -1);
        QCOMPARE(m_prompter->texts(), QStringList{QStringLiteral("データが選択されていません")});
        QVERIFY(m_prompter->shown()[0].warning);
        QCOMPARE(form->toText()->text(), QStringLiteral("typed@example.jp"));

        // The recipient is replaced by the address, trimmed.
        pressName(form, 0);
        QCOMPARE(form->toText()->text(), QStringLiteral("short@example.jp"));
        // Only the first 60 characters count, trimmed after the cut.
        pressName(form, 1);
        QCOMPARE(form->toText()->text(), QString(58, QLatin1Char('a')));
        // Below the last line with a line still selected: that line is picked again.
        form->toText()->clear();
        pressName(form, -1);
        QCOMPARE(form->toText()->text(), QString(58, QLatin1Char('a')));
        QCOMPARE(m_prompter->texts().size(), 1);
    }

    void leavingTheGreetingReplacesTheBody() {
        auto* form = Forms::show<WriteForm>();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form));

        form->bodyText()->setPlainText(QStringLiteral("書きかけの本文"));
        form->greetingBox()->setFocus();
        form->greetingBox()->setCurrentIndex(3);
        QTest::keyClick(form->greetingBox(), Qt::Key_Tab);
        QCOMPARE(form->bodyText()->toPlainText(), QStringLiteral("いつもお世話になっております。"));

        // Switching to another window is not leaving the box: the body stays.
        form->bodyText()->setPlainText(QStringLiteral("別の窓へ"));
        form->greetingBox()->setFocus();
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QCOMPARE(form->bodyText()->toPlainText(), QStringLiteral("別の窓へ"));
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form));

        // Tabbing through an empty greeting box empties the body.
        form->bodyText()->setPlainText(QStringLiteral("もう一度書いた本文"));
        form->greetingBox()->setFocus();
        form->greetingBox()->setEditText(QString());
        QTest::keyClick(form->greetingBox(), Qt::Key_Tab);
        QCOMPARE(form->bodyText()->toPlainText(), QString());
    }

    void pastesTakeTheClipboard() {
        auto* form = Forms::show<WriteForm>();
        form->bodyText()->setPlainText(QStringLiteral("本文"));
        QGuiApplication::clipboard()->setText(QStringLiteral("続き\r\n二行目"));
        press(form, "Label11");
        // Appended directly, the pasted line breaks kept.
        QCOMPARE(form->bodyWithCrLf(), QStringLiteral("本文続き\r\n二行目"));

        // The recipient takes the clipboard whole, but never a line break or a NUL.
        form->toText()->setText(QStringLiteral("old@example.jp"));
        QGuiApplication::clipboard()->setText(QStringLiteral("new@example.jp"));
        press(form, "Label12");
        QCOMPARE(form->toText()->text(), QStringLiteral("new@example.jp"));
        QGuiApplication::clipboard()->setText(QStringLiteral("a@example.jp") + QChar(0) +
                                              QStringLiteral("\r\nBcc: evil@example.jp"));
        press(form, "Label12");
        QCOMPARE(form->toText()->text(), QStringLiteral("a@example.jp"));
        QGuiApplication::clipboard()->setText(QString(5000, QLatin1Char('x')));
        press(form, "Label12");
        QCOMPARE(form->toText()->text().size(), 1000);
    }

    void clearEmptiesTheMessageAndKeepsTheLists() {
        addEntries({{QStringLiteral("山田"), QStringLiteral("yamada@example.jp")}});
        m_dialogs->answer({QStringLiteral("/tmp/a.txt")});
        auto* form = Forms::show<WriteForm>();
        press(form, "Label6");
        form->toText()->setText(QStringLiteral("to@example.jp"));
        form->subjectText()->setText(QStringLiteral("件名"));
        form->bodyText()->setPlainText(QStringLiteral("本文"));
        form->greetingBox()->setCurrentIndex(2);
        form->attachments()->firstButton()->click();
        form->fortuneBox()->setChecked(true);
        form->bulkOption()->setChecked(true);

        press(form, "Label13");
        QVERIFY(form->toText()->text().isEmpty());
        QVERIFY(form->subjectText()->text().isEmpty());
        QVERIFY(form->bodyText()->toPlainText().isEmpty());
        QVERIFY(form->attachments()->text().isEmpty());
        QVERIFY(!form->fortuneBox()->isChecked());
        QVERIFY(!form->bulkOption()->isChecked());
        QVERIFY(form->attachments()->firstButton()->isEnabled());
        QVERIFY(!form->attachments()->furtherButton()->isEnabled());
        QVERIFY(!form->attachments()->discardButton()->isEnabled());
        QVERIFY(form->attachments()->list()->isHidden());
        QCOMPARE(form->attachments()->list()->count(), 0);
        // No question was asked, and the greeting and name lists are as they were.
        QVERIFY(m_prompter->shown().isEmpty());
        QCOMPARE(form->greetingBox()->count(), 8);
        QCOMPARE(form->nameList()->count(), 1);
    }

    void bulkResetEmptiesTheRecipient() {
        auto* form = Forms::show<WriteForm>();
        form->toText()->setText(QStringLiteral("to@example.jp"));
        QTest::mouseClick(form->bulkOption(), Qt::LeftButton, {}, QPoint(6, 6));
        QVERIFY(form->bulkOption()->isChecked());
        QTest::mouseClick(form->bulkReset(), Qt::LeftButton, {}, QPoint(6, 6));
        QVERIFY(!form->bulkOption()->isChecked());
        QVERIFY(form->toText()->text().isEmpty());
        // The caption over the address-book picture is blanked; the picture stays.
        QVERIFY(test::child<QLabel>(form, "Label6")->text().isEmpty());
        QVERIFY(test::child<QLabel>(form, "Image1")->isVisible());
    }

    void attachmentButtonsFollowTheirRules() {
        auto* form = Forms::show<WriteForm>();
        AttachControls* attach = form->attachments();

        // "追加" is disabled at first; once enabled with an empty list it only shows the list.
        QVERIFY(!attach->furtherButton()->isEnabled());
        m_dialogs->answer({QString()}); // the first dialog is cancelled
        attach->firstButton()->click();
        QVERIFY(!attach->firstButton()->isEnabled());
        QVERIFY(attach->furtherButton()->isEnabled());
        QVERIFY(attach->text().isEmpty());
        attach->furtherButton()->click();
        QVERIFY(attach->list()->isVisible());
        QCOMPARE(m_dialogs->opened(), 1);
        // The list box lies over the rows below it, down into the body.
        QWidget* top = form->childAt(attach->list()->geometry().bottomLeft() + QPoint(8, -8));
        QVERIFY(top == attach->list() || attach->list()->isAncestorOf(top));

        // "取り消し" brings the first-file button back.
        attach->discardButton()->click();
        QVERIFY(attach->firstButton()->isEnabled());
        QVERIFY(!attach->furtherButton()->isEnabled());
        QVERIFY(!attach->discardButton()->isEnabled());
        QVERIFY(attach->list()->isHidden());

        // First and second file: path, comma, path, and two lines.
        m_dialogs->answer({QStringLiteral("/data/one.pdf"), QStringLiteral("/data/二.png")});
        attach->firstButton()->click();
        attach->furtherButton()->click();
        QCOMPARE(attach->text(), QStringLiteral("/data/one.pdf,/data/二.png"));
        QCOMPARE(listLines(attach->list()),
                 (QStringList{QStringLiteral("/data/one.pdf"), QStringLiteral("/data/二.png")}));

        // A path with a comma goes in quotes, so the list still reads back as three files;
        // a line break cannot go into the line at all.
        m_dialogs->answer({QStringLiteral("/data/a,b.txt"), QStringLiteral("/data/x\ny.txt")});
        attach->furtherButton()->click();
        QCOMPARE(attach->text(), QStringLiteral("/data/one.pdf,/data/二.png,\"/data/a,b.txt\""));
        QCOMPARE(mime::splitAttachmentList(attach->text()).value(2),
                 QStringLiteral("/data/a,b.txt"));
        attach->furtherButton()->click();
        QCOMPARE(attach->list()->count(), 3);
        QCOMPARE(m_prompter->shown().size(), 1);
    }

    void droppedFilesAreAttached() {
        auto* form = Forms::show<WriteForm>();
        QVERIFY(form->acceptDrops());
        // What the window's drop handler receives; a remote URL is not a file to attach.
        QVERIFY(form->attachDropped({QUrl::fromLocalFile(QStringLiteral("/data/x.gif")),
                                     QUrl(QStringLiteral("https://example.jp/z.png")),
                                     QUrl::fromLocalFile(QStringLiteral("/data/y.zip"))}));
        AttachControls* attach = form->attachments();
        QCOMPARE(attach->text(), QStringLiteral("/data/x.gif,/data/y.zip"));
        QCOMPARE(attach->list()->count(), 2);
        QVERIFY(!attach->firstButton()->isEnabled());
        QVERIFY(attach->furtherButton()->isEnabled());
    }

    void hintsFollowThePointer() {
        auto* form = Forms::show<WriteForm>();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        const struct {
            const char* control;
            const char* hint;
        } cases[] = {
            {"Label8", "入力した内容を送信します。（Ctrl+Return）"},
            {"Label14", "送信を中止します。（Ctrl+Shift+S）"},
            {"Label13", "入力した内容消去します。（Ctrl+Shift+L）"},
            {"Image1",
             "送信します。電話回線が接続されていない場合は、自動的に接続してメールを送信します。"},
            {"AttachCommand", "各種ファイルを添付して送信できます。"},
        };
        for (const auto& c : cases) {
            auto* target = test::child<QWidget>(form, c.control);
            QTest::mouseMove(target, QPoint(1, 1));
            QCOMPARE(form->helpBox()->text(), QString::fromUtf8(c.hint));
            QVERIFY(form->helpBox()->isVisible());
        }
        QTest::mouseMove(form->bodyText()->viewport(), QPoint(10, 10));
        QVERIFY(form->helpBox()->isHidden());
    }

    void stopClosesWithoutSending() {
        QPointer<QWidget> form = Forms::show<WriteForm>();
        press(static_cast<WriteForm*>(form.data()), "Label14");
        QVERIFY(test::isClosed(form));
        QVERIFY(!QFileInfo::exists(m_home->file(QStringLiteral("\\★MailData\\vbmdata5.data"))));
    }
    void partnerSendWithAttachmentsAndFortune() {
        // The server asks for the POP3 account, which the account window holds.
        test::LoginSmtpServer login;
        QVERIFY2(login.start(*m_home, QStringLiteral("user"), QStringLiteral("secret")),
                 qPrintable(login.error()));
        test::SmtpServer& server = login.server();
        MainForm* main = startMain(login.address().toUtf8());
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

    // The address book changes while the window is open: a pick and a bulk send must never
    // reach the entry that moved into the line's record.
    void aChangedBookIsReadAgainBeforeAPickOrABulkSend() {
        test::SmtpServer server;
        QVERIFY2(server.start(), qPrintable(server.error()));
        MainForm* main = startMain("127.0.0.1:" + QByteArray::number(server.port()));
        addEntries({{QStringLiteral("一郎"), QStringLiteral("ichiro@example.jp")},
                    {QStringLiteral("二郎"), QStringLiteral("jiro@example.jp")},
                    {QStringLiteral("三郎"), QStringLiteral("saburo@example.jp")}});
        WriteForm* form = compose(main);
        QVERIFY(form);
        press(form, "Label6");
        QVERIFY(DeleteAddress(1)); // 二郎 is record 1 now

        pressName(form, 0); // the line still says 一郎
        QVERIFY(form->toText()->text().isEmpty());
        QCOMPARE(m_prompter->shown().size(), 1);
        QCOMPARE(form->nameList()->count(), 2);
        QVERIFY(form->nameList()->item(0)->text().startsWith(QStringLiteral("二郎")));
        pressName(form, 0);
        QCOMPARE(form->toText()->text(), QStringLiteral("jiro@example.jp"));

        QVERIFY(DeleteAddress(1));
        form->bulkOption()->setChecked(true);
        form->subjectText()->setText(QStringLiteral("皆さんへ"));
        QPointer<QWidget> guard(form);
        pressSend(form);
        QCOMPARE(m_prompter->shown().size(), 2);
        QVERIFY(server.receivedMessages().isEmpty());
        QVERIFY(stored(Box::OthersSent).isEmpty() && stored(Box::PartnerSent).isEmpty());
        QVERIFY(!test::isClosed(guard));
        QCOMPARE(form->subjectText()->text(), QStringLiteral("皆さんへ"));
        QCOMPARE(listLines(form->nameList()).size(), 1);

        // Read again, the list sends to what it shows.
        pressSend(form);
        QCOMPARE(server.receivedMessages().size(), 1);
        QCOMPARE(server.receivedMessages()[0].recipients,
                 QStringList{QStringLiteral("saburo@example.jp")});
        QVERIFY(test::isClosed(guard));
    }

    // The sent box cannot take the copy: nothing goes out, and nothing typed is lost.
    void aMessageThatCannotBeKeptLeavesTheWindowOpen() {
        test::SmtpServer server;
        QVERIFY2(server.start(), qPrintable(server.error()));
        MainForm* main = startMain("127.0.0.1:" + QByteArray::number(server.port()));
        const QString box = ProgramFolder::resolve(QStringLiteral("\\★MAilData\\vbmdata5.data"));
        QVERIFY(QFile(box).open(QIODevice::WriteOnly));
        QCOMPARE(::truncate(QFile::encodeName(box).constData(), qint64(32767) * kMailRecordSize), 0);
        WriteForm* form = compose(main);
        QVERIFY(form);
        QPointer<QWidget> guard(form);
        form->toText()->setText(QStringLiteral("friend@example.jp"));
        form->subjectText()->setText(QStringLiteral("大事な件"));
        form->bodyText()->setPlainText(QStringLiteral("長い本文"));
        m_home->writeFile("memo.txt", "attached");
        m_dialogs->answer({m_home->file("memo.txt")});
        form->attachments()->firstButton()->click();
        const QString attachments = form->attachments()->text();
        pressSend(form);

        QCOMPARE(m_prompter->shown().size(), 1);
        QVERIFY(m_prompter->texts()[0].contains(QStringLiteral("送信しませんでした")));
        QVERIFY(server.receivedMessages().isEmpty());
        QVERIFY(!test::isClosed(guard));
        QCOMPARE(form->toText()->text(), QStringLiteral("friend@example.jp"));
        QCOMPARE(form->subjectText()->text(), QStringLiteral("大事な件"));
        QCOMPARE(form->bodyText()->toPlainText(), QStringLiteral("長い本文"));
        QCOMPARE(form->attachments()->text(), attachments);
        QCOMPARE(form->statusLine()->text(), SendOperation::notKeptText());
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

QTEST_MAIN(TestWriteForm)
#include "test_writeform.moc"
