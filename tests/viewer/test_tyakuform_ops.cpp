// The viewer's message operations: delete one, delete all, move to the storage box, reply,
// register the sender, copy a field and quick save, each started the way a user starts it.
#include "base/codec.h"
#include "base/forms.h"
#include "base/pause.h"
#include "compose/backform.h"
#include "core/boxviews.h"
#include "guitest.h"
#include "scriptedfiledialogs.h"
#include "scriptedprompter.h"
#include "settings/friendform.h"
#include "store/fileops.h"
#include "store/originals.h"
#include "temphome.h"
#include "viewer/quicksave.h"
#include "viewer/tyakuform.h"
#include "viewertestdata.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTreeWidget>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <memory>

using namespace kiku;

Q_DECLARE_METATYPE(kiku::Box)

namespace {

const QString kNotSelected = QStringLiteral("データが選択されていません");
const QString kDeleteOneQuestion =
    QStringLiteral("選択された（行、青色）データを削除します。よろしいですか");
const QString kDeleteAllQuestion = QStringLiteral("すべてのデータを削除して良いですか？");
const QString kMoveQuestion =
    QStringLiteral("選択された（行、青色）データを移します。よろしいですか");
const QString kOverwriteQuestion =
    QStringLiteral("同名のファイルが既に存在します。上書きしますか？ ");

// Message i of a box, its fields saying which one it is.
MailRecord numbered(int i) {
    return test::mail(QStringLiteral("件名%1").arg(i), QStringLiteral("s%1@example.jp").arg(i),
                      QStringLiteral("Mon, %1 Jan 2024 10:00:00 +0900").arg(i),
                      QStringLiteral("本文%1\r\n二行目").arg(i));
}

QList<MailRecord> numberedMessages(std::initializer_list<int> which) {
    QList<MailRecord> list;
    for (int i : which)
        list << numbered(i);
    return list;
}

QByteArray bytesOf(const QList<MailRecord>& records, Box box, QList<qint16> lives = {}) {
    QByteArray bytes;
    for (qsizetype i = 0; i < records.size(); ++i) {
        MailRecord r = records[i];
        r.live = lives.isEmpty() ? qint16(1) : lives[i];
        bytes += encodeMail(r, boxInfo(box).layout);
    }
    return bytes;
}

void clickLine(TyakuForm* viewer, int line) {
    QTreeWidget* list = viewer->mailList();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->topLevelItem(line - 1)).center());
}

// A click on a picture button's caption (or picture), where the operation runs.
void press(TyakuForm* viewer, const char* part) {
    QTest::mouseClick(test::child<QLabel>(viewer, part), Qt::LeftButton, {}, QPoint(5, 5));
}

QString clipboardText() {
    return QGuiApplication::clipboard()->text();
}

// A data folder whose files can be read but not changed: every open for writing fails as
// on a read-only file system.
class ReadOnlyFileOps : public FileOps {
public:
    int open(const char* path, int flags, int mode) override {
        if ((flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0) {
            errno = EROFS;
            return -1;
        }
        return FileOps::open(path, flags, mode);
    }
    int rename(const char*, const char*) override {
        errno = EROFS;
        return -1;
    }
    int unlink(const char*) override {
        errno = EROFS;
        return -1;
    }
};

// A disk that fills up: data written into a file fails for want of space.
class FullDiskFileOps : public FileOps {
public:
    qint64 pwrite(int, const char*, qint64, qint64) override {
        errno = ENOSPC;
        return -1;
    }
    int copyRange(int, qint64, int, qint64, qint64) override {
        errno = ENOSPC;
        return -1;
    }
};

} // namespace

class TestTyakuFormOps : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<test::ScriptedPrompter> m_prompter;

    const test::TempHome& home() const { return *m_home; }
    test::ScriptedPrompter& prompter() { return *m_prompter; }
    QByteArray boxBytes(Box box) const { return home().readFile(test::boxFile(box)); }
    static TyakuForm* view(Box box) { return openBoxView(box, nullptr); }
    QString quickSaveFile(const QString& name) const {
        return home().file(QStringLiteral("■TextQuickSave/") + name);
    }
    QStringList quickSaveFolder() const {
        return QDir(home().file(QStringLiteral("■TextQuickSave")))
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private slots:
    void initTestCase() { Pause::setTimeScale(0); }
    void init() {
        m_home = std::make_unique<test::TempHome>();
        m_prompter = std::make_unique<test::ScriptedPrompter>();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    }
    void cleanup() {
        test::closeAllWindows();
        m_prompter.reset();
        m_home.reset();
    }

    // --- The whole message

    void theContextMenuShowsAndSavesTheWholeMessage() {
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2}));
        const QString text = QString(20000, QChar(0x3042)) + QStringLiteral("終わり");
        const QByteArray original =
            "From: =?UTF-8?B?5bGx55Sw?= <s2@example.jp>\r\n"
            "To: me@example.jp, =?ISO-2022-JP?B?GyRCMlY7UhsoQg==?= <hana@example.jp>\r\n"
            "Cc: cc@example.jp\r\nReply-To: reply@example.jp\r\n"
            "Message-ID: <m2@example.jp>\r\nSubject: =?UTF-8?B?5Lu25ZCNMg==?=\r\n"
            "Content-Type: text/plain; charset=UTF-8\r\n\r\n" +
            text.toUtf8() + "\r\n";
        QVERIFY(Originals::keep(recordDigest(numbered(2)), original).ok);
        TyakuForm* viewer = view(Box::OthersInbox);
        QVERIFY(viewer->mailList()->actions().contains(viewer->showWholeAction()));
        QCOMPARE(viewer->showWholeAction()->text(), QStringLiteral("全文を表示"));
        QCOMPARE(viewer->saveEmlAction()->text(), QStringLiteral(".eml で保存"));

        const auto shown = [&](int line) {
            clickLine(viewer, line);
            viewer->showWholeAction()->trigger();
            QList<QPlainTextEdit*> texts =
                viewer->findChildren<QPlainTextEdit*>("WholeMessageText");
            return texts.isEmpty() ? QString() : texts.last()->toPlainText();
        };
        const QString whole = shown(2);
        for (const char* line :
             {"From: 山田 <s2@example.jp>", "To: me@example.jp, 花子 <hana@example.jp>",
              "Cc: cc@example.jp", "Reply-To: reply@example.jp", "Message-ID: <m2@example.jp>",
              "Subject: 件名2"})
            QVERIFY2(whole.contains(QString::fromUtf8(line)), line);
        QVERIFY(whole.contains(text)); // past what the record keeps
        // A message from before originals were kept is built from its record.
        const QString built = shown(1);
        QVERIFY(built.contains(QStringLiteral("Subject: 件名1")));
        QVERIFY(built.contains(QStringLiteral("From: s1@example.jp")));
        QVERIFY(built.contains(QStringLiteral("本文1\n二行目")));

        test::ScriptedFileDialogs dialogs;
        const QString saved = home().file(QStringLiteral("saved.eml"));
        dialogs.answer({saved});
        clickLine(viewer, 2);
        viewer->saveEmlAction()->trigger();
        QCOMPARE(home().readFile(QStringLiteral("saved.eml")), original);
        QVERIFY(prompter().shown().isEmpty());
    }

    // --- Delete one

    void deleteTheThirdOfFive() {
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2, 3, 4, 5}));
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 3);
        QCOMPARE(viewer->subjectText(), QStringLiteral("件名3"));
        prompter().answer({true});
        press(viewer, "DeleteOneLabel");

        QCOMPARE(prompter().shown().size(), 1);
        QCOMPARE(prompter().shown()[0].text, kDeleteOneQuestion);
        QCOMPARE(prompter().shown()[0].title, QStringLiteral("確認"));
        QVERIFY(prompter().shown()[0].question);
        QCOMPARE(boxBytes(Box::OthersInbox),
                 bytesOf(numberedMessages({1, 2, 4, 5}), Box::OthersInbox));
        QVERIFY(!QFile::exists(home().file(QStringLiteral("★MailData/VBMDATA3.TMP"))));
        QCOMPARE(viewer->listLineCount(), 4);
        QCOMPARE(viewer->countText(), QStringLiteral("4"));
        QCOMPARE(viewer->mailList()->topLevelItem(2)->text(0).trimmed(), QStringLiteral("件名4"));
        // The old fifth message is on display, and nothing is selected any more.
        QCOMPARE(viewer->subjectText(), QStringLiteral("件名5"));
        QCOMPARE(viewer->addressText(), QStringLiteral("s5@example.jp"));
        QCOMPARE(viewer->bodyText(), QStringLiteral("本文5\r\n二行目"));
        QVERIFY(!viewer->messageSelected());
        QCOMPARE(viewer->selectedLine(), 0);
    }

    // Without a mouse: the arrows and Enter show a line, Delete asks and deletes it.
    void deleteByKeyboard() {
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2, 3}));
        TyakuForm* viewer = view(Box::OthersInbox);
        QTreeWidget* list = viewer->mailList();
        list->setFocus();
        list->setCurrentItem(list->topLevelItem(0));
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(viewer->subjectText(), QStringLiteral("件名2"));
        prompter().answer({true});
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(prompter().texts(), QStringList{kDeleteOneQuestion});
        QCOMPARE(boxBytes(Box::OthersInbox), bytesOf(numberedMessages({1, 3}), Box::OthersInbox));
    }

    void deleteAnsweredNoEmptiesThePaneOnly() {
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2, 3}));
        const QByteArray before = boxBytes(Box::OthersInbox);
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 2);
        press(viewer, "DeleteOneLabel"); // the script answers No
        QCOMPARE(prompter().texts(), QStringList{kDeleteOneQuestion});
        QCOMPARE(boxBytes(Box::OthersInbox), before);
        QCOMPARE(viewer->listLineCount(), 3);
        QCOMPARE(viewer->bodyText(), QString());
        QCOMPARE(viewer->subjectText(), QStringLiteral("件名2"));
        QVERIFY(!viewer->messageSelected());
        // A second press needs a new click on the list.
        press(viewer, "DeleteOneLabel");
        QCOMPARE(prompter().texts().last(), kNotSelected);
    }

    void deleteInThePartnerSentBoxKeepsItsLayout() {
        test::writeBox(home(), Box::PartnerSent, numberedMessages({1, 2, 3}));
        const QByteArray before = boxBytes(Box::PartnerSent);
        TyakuForm* viewer = view(Box::PartnerSent);
        clickLine(viewer, 2);
        prompter().answer({true});
        press(viewer, "DeleteOneLabel");
        // Records 1 and 3 byte for byte, the date still behind the line break.
        const QByteArray after = boxBytes(Box::PartnerSent);
        QCOMPARE(after, before.left(kMailRecordSize) + before.mid(2 * kMailRecordSize));
        QCOMPARE(after.mid(kMailRecordSize + 32192, 5), QByteArray("Mon, "));
        QCOMPARE(viewer->dateText(), QStringLiteral("Mon, 3 Jan 2024 10:00:00 +0900"));
        QCOMPARE(viewer->countText(), QStringLiteral("2"));
    }

    void deleteOnlyMessageEmptiesTheView() {
        test::writeBox(home(), Box::PartnerInbox, numberedMessages({1}));
        TyakuForm* viewer = view(Box::PartnerInbox);
        clickLine(viewer, 1);
        prompter().answer({true});
        press(viewer, "DeleteOneLabel");
        QCOMPARE(boxBytes(Box::PartnerInbox).size(), 0);
        QCOMPARE(viewer->listLineCount(), 0);
        QCOMPARE(viewer->countText(), QStringLiteral("0"));
        QCOMPARE(viewer->subjectText(), QString());
        QCOMPARE(viewer->bodyText(), QString());
    }

    void storeFailureDuringDeleteIsReportedAndTheBoxStays_data() {
        QTest::addColumn<bool>("diskFull");
        QTest::addColumn<QString>("reason");
        QTest::newRow("read-only folder") << false << QStringLiteral("読み取り専用");
        QTest::newRow("disk full while copying") << true << QStringLiteral("空き容量");
    }
    void storeFailureDuringDeleteIsReportedAndTheBoxStays() {
        QFETCH(bool, diskFull);
        QFETCH(QString, reason);
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2, 3}));
        const QByteArray before = boxBytes(Box::OthersInbox);
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 2);
        prompter().answer({true});
        {
            ReadOnlyFileOps readOnly;
            FullDiskFileOps full;
            ScopedFileOps scoped(diskFull ? static_cast<FileOps&>(full) : readOnly);
            press(viewer, "DeleteOneLabel");
        }
        QCOMPARE(prompter().shown().size(), 2);
        const test::ScriptedPrompter::Shown& report = prompter().shown()[1];
        QVERIFY(!report.question);
        QVERIFY2(report.text.contains(QStringLiteral("vbmdata3.data")) &&
                     report.text.contains(reason),
                 qPrintable(report.text));
        QVERIFY(!QFile::exists(home().file(QStringLiteral("★MailData/VBMDATA3.TMP"))));
        QCOMPARE(boxBytes(Box::OthersInbox), before);
        // The list and the message on display are as before; the selection is gone.
        QCOMPARE(viewer->listLineCount(), 3);
        QCOMPARE(viewer->subjectText(), QStringLiteral("件名2"));
        QCOMPARE(viewer->bodyText(), QStringLiteral("本文2\r\n二行目"));
        QVERIFY(!viewer->messageSelected());
    }

    // --- Delete all

    void deleteAllAsksEvenForAnEmptyBox_data() {
        QTest::addColumn<int>("messages");
        QTest::addColumn<bool>("yes");
        QTest::newRow("empty box, yes") << 0 << true;
        QTest::newRow("three messages, yes") << 3 << true;
        QTest::newRow("three messages, no") << 3 << false;
    }
    void deleteAllAsksEvenForAnEmptyBox() {
        QFETCH(int, messages);
        QFETCH(bool, yes);
        QList<MailRecord> records;
        for (int i = 1; i <= messages; ++i)
            records << numbered(i);
        test::writeBox(home(), Box::Storage, records);
        const QByteArray before = boxBytes(Box::Storage);
        TyakuForm* viewer = view(Box::Storage);
        prompter().answer({yes});
        press(viewer, "DeleteAllLabel"); // no selection needed

        QCOMPARE(prompter().texts(), QStringList{kDeleteAllQuestion});
        QVERIFY(prompter().shown()[0].question);
        if (!yes) {
            QCOMPARE(boxBytes(Box::Storage), before);
            QCOMPARE(viewer->listLineCount(), messages);
            QCOMPARE(viewer->subjectText(), QStringLiteral("件名%1").arg(messages));
            return;
        }
        QVERIFY(QFileInfo::exists(home().file(test::boxFile(Box::Storage))));
        QCOMPARE(boxBytes(Box::Storage).size(), 0);
        QCOMPARE(viewer->listLineCount(), 0);
        QCOMPARE(viewer->countText(), QStringLiteral("0"));
        QCOMPARE(viewer->subjectText(), QString());
        QCOMPARE(viewer->addressText(), QString());
        QCOMPARE(viewer->dateText(), QString());
        QCOMPARE(viewer->bodyText(), QString());
        QVERIFY(!viewer->messageSelected());
    }

    // --- Move to the storage box

    void moveMessageTwoOfThree_data() {
        QTest::addColumn<int>("alreadyStored");
        QTest::newRow("empty storage box") << 0;
        QTest::newRow("two already stored") << 2;
    }
    void moveMessageTwoOfThree() {
        QFETCH(int, alreadyStored);
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2, 3}));
        QList<MailRecord> stored;
        QList<qint16> lives;
        for (int i = 1; i <= alreadyStored; ++i) {
            stored << numbered(10 + i);
            lives << qint16(i);
        }
        home().writeFile(test::boxFile(Box::Storage), bytesOf(stored, Box::Storage, lives));
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 2);
        prompter().answer({true});
        press(viewer, "MoveLabel");

        QCOMPARE(prompter().texts(), QStringList{kMoveQuestion});
        QCOMPARE(boxBytes(Box::OthersInbox), bytesOf(numberedMessages({1, 3}), Box::OthersInbox));
        // Appended with Live = its own position.
        stored << numbered(2);
        lives << qint16(alreadyStored + 1);
        QCOMPARE(boxBytes(Box::Storage), bytesOf(stored, Box::Storage, lives));
        QCOMPARE(viewer->countText(), QStringLiteral("2"));
        QCOMPARE(viewer->subjectText(), QStringLiteral("件名3"));
        QVERIFY(!viewer->messageSelected());
    }

    void moveTheOnlyMessage() {
        test::writeBox(home(), Box::OthersInbox, numberedMessages({7}));
        test::writeBox(home(), Box::Storage, numberedMessages({1}));
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 1);
        prompter().answer({true});
        press(viewer, "MovePicture"); // the move acts from its picture too
        QCOMPARE(boxBytes(Box::OthersInbox).size(), 0);
        QCOMPARE(boxBytes(Box::Storage).size(), 2 * kMailRecordSize);
        QCOMPARE(viewer->countText(), QStringLiteral("0"));
        MailRecord moved;
        QVERIFY(Mailbox(Box::Storage).read(2, moved));
        QCOMPARE(moved.subject.trimmed(), QStringLiteral("件名7"));
        QCOMPARE(moved.body.trimmed(), QStringLiteral("本文7\r\n二行目"));
        QCOMPARE(moved.live, qint16(2));
    }

    void moveAnsweredNoChangesNothing() {
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2}));
        const QByteArray before = boxBytes(Box::OthersInbox);
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 1);
        press(viewer, "MoveLabel");
        QCOMPARE(prompter().texts(), QStringList{kMoveQuestion});
        QCOMPARE(boxBytes(Box::OthersInbox), before);
        QVERIFY(boxBytes(Box::Storage).isEmpty());
        QVERIFY(viewer->messageSelected()); // the one operation that keeps it
        QCOMPARE(viewer->subjectText(), QStringLiteral("件名1"));
    }

    void moveIsRefusedOutsideTheOthersInBox_data() {
        QTest::addColumn<Box>("box");
        QTest::newRow("partner in-box") << Box::PartnerInbox;
        QTest::newRow("storage box") << Box::Storage;
        QTest::newRow("others sent box") << Box::OthersSent;
    }
    void moveIsRefusedOutsideTheOthersInBox() {
        QFETCH(Box, box);
        // The others in-box holds messages an unrelated move would take.
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2}));
        test::writeBox(home(), box, numberedMessages({5, 6}));
        const QByteArray others = boxBytes(Box::OthersInbox);
        const QByteArray shown = boxBytes(box);
        TyakuForm* viewer = view(box);
        QVERIFY(!viewer->movePicture()->isEnabled());
        QVERIFY(!viewer->moveCaptionLabel()->isEnabled());
        clickLine(viewer, 2);
        press(viewer, "MovePicture");
        press(viewer, "MoveLabel");
        QVERIFY(prompter().shown().isEmpty());

        // Even with the button made usable, the move refuses.
        viewer->movePicture()->setEnabled(true);
        prompter().answer({true});
        press(viewer, "MovePicture");
        QCOMPARE(prompter().shown().size(), 1);
        QVERIFY(!prompter().shown()[0].question);
        QCOMPARE(boxBytes(Box::OthersInbox), others);
        QCOMPARE(boxBytes(box), shown);
        if (box != Box::Storage)
            QVERIFY(boxBytes(Box::Storage).isEmpty());
        QCOMPARE(viewer->listLineCount(), 2);
    }

    void halfCharacterAtAFieldEndIsNotMovedAsAQuestionMark() {
        // A record of the older program: the subject cut after the first half of "あ".
        QByteArray record = encodeMail(numbered(1), RecordLayout::Standard);
        record.replace(0, 100, QByteArray(99, 'x') + "\x82");
        home().writeFile(test::boxFile(Box::OthersInbox), record);
        TyakuForm* viewer = view(Box::OthersInbox);
        QCOMPARE(viewer->subjectText(), QString(99, QLatin1Char('x')));
        clickLine(viewer, 1);
        prompter().answer({true});
        press(viewer, "MoveLabel");
        const QByteArray stored = boxBytes(Box::Storage);
        QCOMPARE(stored.size(), kMailRecordSize);
        QCOMPARE(stored.left(100), QByteArray(99, 'x') + ' ');
    }

    // --- Operations that need a selected message

    void operationsNeedASelection_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<bool>("afterAnotherBox");
        for (bool another : {false, true}) {
            const char* suffix = another ? ", another box listed since" : "";
            QTest::addRow("delete one%s", suffix) << "DeleteOneLabel" << another;
            QTest::addRow("move%s", suffix) << "MoveLabel" << another;
            QTest::addRow("reply%s", suffix) << "ReplyLabel" << another;
            QTest::addRow("register%s", suffix) << "RegisterLabel" << another;
            QTest::addRow("quick save%s", suffix) << "QuickSaveCommand" << another;
        }
    }
    void operationsNeedASelection() {
        QFETCH(QString, control);
        QFETCH(bool, afterAnotherBox);
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2}));
        test::writeBox(home(), Box::PartnerInbox, numberedMessages({3}));
        const QByteArray before = boxBytes(Box::OthersInbox);
        TyakuForm* viewer = view(afterAnotherBox ? Box::PartnerInbox : Box::OthersInbox);
        if (afterAnotherBox) {
            clickLine(viewer, 1);
            view(Box::OthersInbox);
        }
        prompter().answer({true, true});
        QWidget* target = viewer->findChild<QWidget*>(control);
        QVERIFY(target);
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(5, 5));

        QCOMPARE(prompter().texts(), QStringList{kNotSelected});
        QVERIFY(!prompter().shown()[0].question);
        QCOMPARE(boxBytes(Box::OthersInbox), before);
        QVERIFY(boxBytes(Box::Storage).isEmpty());
        QVERIFY(!Forms::existing<BackForm>());
        QVERIFY(!Forms::existing<FriendForm>());
        QVERIFY(quickSaveFolder().isEmpty());
    }

    // --- Reply

    void replyOpensTheReplyWindow_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("replySubject");
        QTest::newRow("plain") << "お知らせ"
                               << "Re:  お知らせ";
        QTest::newRow("already a reply, spaces around") << "  Re:  お知らせ　"
                                                        << "Re:  Re:  お知らせ";
        QTest::newRow("empty subject") << ""
                                       << "Re:  ";
    }
    void replyOpensTheReplyWindow() {
        QFETCH(QString, subject);
        QFETCH(QString, replySubject);
        test::writeBox(home(), Box::PartnerInbox,
                       {test::mail(subject, QStringLiteral("  taro@example.jp "),
                                   QStringLiteral("d"), QStringLiteral("  本文です\r\n以上  ")),
                        numbered(2)});
        TyakuForm* viewer = view(Box::PartnerInbox);
        clickLine(viewer, 1);
        press(viewer, "ReplyLabel");

        QVERIFY(prompter().shown().isEmpty());
        BackForm* form = Forms::existing<BackForm>();
        QVERIFY(form && form->isVisible());
        QCOMPARE(form->windowTitle(), QStringLiteral("返信"));
        QCOMPARE(form->subjectText()->text(), replySubject);
        QCOMPARE(form->toText()->text(), QStringLiteral("taro@example.jp"));
        QCOMPARE(form->bodyWithCrLf(), QStringLiteral("本文です\r\n以上"));
        QCOMPARE(form->repliedBody().trimmed(), QStringLiteral("本文です\r\n以上"));
        QVERIFY(!viewer->messageSelected());
        // Nothing is stored or changed by opening a reply.
        QCOMPARE(boxBytes(Box::PartnerInbox).size(), 2 * kMailRecordSize);
    }

    void replyTakesThePaneAsItStands() {
        // What the user changed in the pane goes into the reply; the replied-to body stays
        // the stored one.
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1}));
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 1);
        viewer->setBodyText(QStringLiteral("  書き換えた本文  "));
        press(viewer, "ReplyLabel");
        BackForm* form = Forms::existing<BackForm>();
        QVERIFY(form);
        QCOMPARE(form->bodyWithCrLf(), QStringLiteral("書き換えた本文"));
        QCOMPARE(form->repliedBody().trimmed(), QStringLiteral("本文1\r\n二行目"));
    }

    // --- Register the sender, copy a field

    void registerPutsTheAddressAsShown() {
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2}));
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 1);
        viewer->setAddressText(QStringLiteral(" hanako@example.jp"));
        press(viewer, "RegisterLabel");
        FriendForm* book = Forms::existing<FriendForm>();
        QVERIFY(book && book->isVisible());
        QCOMPARE(book->addressBox()->text(), QStringLiteral(" hanako@example.jp"));
        QVERIFY(!viewer->messageSelected());
        QVERIFY(prompter().shown().isEmpty());
    }

    void copyPutsTheStagedFieldOnTheClipboard() {
        TyakuForm* viewer = Forms::show<TyakuForm>();
        viewer->setDateText(QStringLiteral("Mon, 1 Jan 2024"));
        QMouseEvent move(QEvent::MouseMove, QPointF(3, 3),
                         viewer->dateBox()->mapToGlobal(QPoint(3, 3)), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(viewer->dateBox(), &move);
        QCOMPARE(clipboardText(), QStringLiteral("before"));
        viewer->copyButton()->click(); // no selection needed
        QCOMPARE(clipboardText(), QStringLiteral("Mon, 1 Jan 2024"));
        QVERIFY(prompter().shown().isEmpty());
    }

    // --- Quick save

    void quickSaveWritesAsksBeforeOverwritingAndShowsTheText() {
        test::writeBox(home(), Box::OthersInbox,
                       {test::mail("Hello", "a@example.jp", "Tue, 2 Jan 2024", "一行目\r\n二行目"),
                        test::mail("", "b@example.jp", "Wed, 3 Jan 2024", "空の件名")});
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 1);
        viewer->quickSaveButton()->click();

        const QString expected =
            QStringLiteral("Subject:  Hello\r\nFrom:  a@example.jp\r\n"
                           "Date:  Tue, 2 Jan 2024\r\nBody:  一行目\r\n二行目");
        QVERIFY(prompter().shown().isEmpty());
        QCOMPARE(quickSaveFolder(), QStringList{QStringLiteral("Hello.txt")});
        QCOMPARE(home().readFile(QStringLiteral("■TextQuickSave/Hello.txt")),
                 codec::toCp932(expected + QStringLiteral("\r\n")));
        // The pane shows the saved text; nothing is selected.
        QCOMPARE(viewer->bodyText(), expected);
        QVERIFY(!viewer->messageSelected());

        // A new click shows the stored message again; saving it again asks first.
        clickLine(viewer, 1);
        QCOMPARE(viewer->bodyText(), QStringLiteral("一行目\r\n二行目"));
        home().writeFile(QStringLiteral("■TextQuickSave/Hello.txt"), "older");
        viewer->quickSaveButton()->click(); // answered No
        QCOMPARE(prompter().texts(), QStringList{kOverwriteQuestion});
        QCOMPARE(home().readFile(QStringLiteral("■TextQuickSave/Hello.txt")), QByteArray("older"));
        QCOMPARE(viewer->bodyText(), QStringLiteral("一行目\r\n二行目"));
        clickLine(viewer, 1);
        prompter().answer({true});
        viewer->quickSaveButton()->click();
        QCOMPARE(prompter().texts(), (QStringList{kOverwriteQuestion, kOverwriteQuestion}));
        QCOMPARE(home().readFile(QStringLiteral("■TextQuickSave/Hello.txt")),
                 codec::toCp932(expected + QStringLiteral("\r\n")));

        // An empty subject is saved as ".txt".
        clickLine(viewer, 2);
        viewer->quickSaveButton()->click();
        QCOMPARE(prompter().shown().size(), 2);
        QVERIFY(QFile::exists(quickSaveFile(QStringLiteral(".txt"))));
        QVERIFY(
            home().readFile(QStringLiteral("■TextQuickSave/.txt")).startsWith("Subject:  \r\n"));
    }

    void quickSaveKeepsHostileSubjectsInsideItsFolder_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("name");
        QTest::newRow("climbing out") << "../../outside"
                                      << ".._.._outside.txt";
        QTest::newRow("dots only") << ".."
                                   << "...txt";
        QTest::newRow("Windows-reserved characters") << "a\\b:c*d?e\"f<g>h|i"
                                                     << "a_b_c_d_e_f_g_h_i.txt";
        QTest::newRow("control characters") << QStringLiteral("tab\there\x7f") << "tab_here_.txt";
        QTest::newRow("device name") << "con"
                                     << "_con.txt";
    }
    void quickSaveKeepsHostileSubjectsInsideItsFolder() {
        QFETCH(QString, subject);
        QFETCH(QString, name);
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1}));
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 1);
        viewer->setSubjectText(subject);
        viewer->quickSaveButton()->click();
        QVERIFY2(prompter().shown().isEmpty(), qPrintable(prompter().texts().join(' ')));
        QCOMPARE(quickSaveFolder(), QStringList{name});
        // Nothing was written beside the folder or above the program folder.
        QVERIFY(!QFileInfo::exists(home().file(QStringLiteral("outside.txt"))));
        QVERIFY(!QFileInfo::exists(home().path() + QStringLiteral("/../outside.txt")));
        QVERIFY(home()
                    .readFile(QStringLiteral("■TextQuickSave/") + name)
                    .startsWith(codec::toCp932(QStringLiteral("Subject:  ") + subject)));
    }

    void quickSaveCutsLongSubjectsToTheNameLimit() {
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1}));
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 1);
        // 3 bytes per character in the file system's encoding: 600 bytes, more than a name holds.
        viewer->setSubjectText(QString(200, QChar(0x3042)));
        viewer->quickSaveButton()->click();
        QVERIFY2(prompter().shown().isEmpty(), qPrintable(prompter().texts().join(' ')));
        const QStringList files = quickSaveFolder();
        QCOMPARE(files.size(), 1);
        QCOMPARE(files[0], QString(83, QChar(0x3042)) + QStringLiteral(".txt")); // 249 + 4 bytes
    }

    void quickSaveFolderMissingIsReportedNotCreated() {
        QVERIFY(QDir(home().file(QStringLiteral("■TextQuickSave"))).removeRecursively());
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1}));
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 1);
        viewer->quickSaveButton()->click();
        QCOMPARE(prompter().shown().size(), 1);
        QVERIFY(prompter().texts()[0].contains(QStringLiteral("■TextQuickSave")));
        QVERIFY(!QFileInfo::exists(home().file(QStringLiteral("■TextQuickSave"))));
        QCOMPARE(viewer->bodyText(), QStringLiteral("本文1\r\n二行目")); // the pane as it was
    }

    void quickSaveOfTextOutsideShiftJisIsUtf8() {
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1}));
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 1);
        viewer->setBodyText(QStringLiteral("絵文字😀と한글"));
        viewer->quickSaveButton()->click();
        const QByteArray bytes = home().readFile(QStringLiteral("■TextQuickSave/件名1.txt"));
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(QString::fromUtf8(bytes.mid(3)),
                 QStringLiteral("Subject:  件名1\r\nFrom:  s1@example.jp\r\nDate:  Mon, 1 Jan "
                                "2024 10:00:00 +0900\r\nBody:  絵文字😀と한글\r\n"));
    }

    // --- The reading pane and the clipboard

    void paneShowsTheRecordWhateverTheClipboardHolds() {
        // Another program takes the clipboard the moment the viewer puts the body there.
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2}));
        QClipboard* clipboard = QGuiApplication::clipboard();
        bool grabbing = true;
        QObject context;
        connect(clipboard, &QClipboard::dataChanged, &context, [&] {
            if (grabbing && clipboard->text() != QStringLiteral("foreign")) {
                grabbing = false;
                clipboard->setText(QStringLiteral("foreign"));
                grabbing = true;
            }
        });
        TyakuForm* viewer = view(Box::OthersInbox);
        QCOMPARE(viewer->bodyText(), QStringLiteral("本文2\r\n二行目"));
        clickLine(viewer, 1);
        QCOMPARE(viewer->bodyText(), QStringLiteral("本文1\r\n二行目"));
        grabbing = false;

        // The move stores what the pane shows: the record's text.
        prompter().answer({true});
        press(viewer, "MoveLabel");
        MailRecord moved;
        QVERIFY(Mailbox(Box::Storage).read(1, moved));
        QCOMPARE(moved.body.trimmed(), QStringLiteral("本文1\r\n二行目"));
    }

    // --- The message on show is the message acted on

    // Every way of moving the selected line without a click on it, then "保管箱" answered
    // Yes: the message stored is the one on show, and the one taken out of the in-box.
    void movingTheSelectionShowsItsMessage_data() {
        QTest::addColumn<QString>("how");
        for (const char* how : {"Down", "Up", "PageDown", "PageUp", "End", "Home", "letter",
                                "press released outside the list"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }
    void movingTheSelectionShowsItsMessage() {
        QFETCH(QString, how);
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2, 3, 4, 5}));
        TyakuForm* viewer = view(Box::OthersInbox);
        QTreeWidget* list = viewer->mailList();
        clickLine(viewer, 2);
        list->setFocus();
        const QHash<QString, Qt::Key> keys = {
            {"Down", Qt::Key_Down},     {"Up", Qt::Key_Up},   {"PageDown", Qt::Key_PageDown},
            {"PageUp", Qt::Key_PageUp}, {"End", Qt::Key_End}, {"Home", Qt::Key_Home}};
        if (keys.contains(how)) {
            QTest::keyClick(list, keys.value(how));
        } else if (how == QLatin1String("letter")) {
            // A typed character searches the lines by their first letters.
            QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier,
                            QStringLiteral("件"));
            QCoreApplication::sendEvent(list, &typed);
        } else {
            QTest::mousePress(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(list->topLevelItem(3)).center());
            QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, QPoint(-40, -40));
        }
        const int line = viewer->selectedLine();
        QVERIFY(line >= 1 && line <= 5);
        if (how != QLatin1String("PageUp") && how != QLatin1String("PageDown"))
            QVERIFY2(line != 2, "the key did not move the selection");
        QCOMPARE(viewer->subjectText(), QStringLiteral("件名%1").arg(line));
        QCOMPARE(viewer->bodyText(), QStringLiteral("本文%1\r\n二行目").arg(line));

        prompter().answer({true});
        press(viewer, "MoveLabel");
        QList<int> left = {1, 2, 3, 4, 5};
        left.removeAll(line);
        QList<MailRecord> remaining;
        for (int i : left)
            remaining << numbered(i);
        QCOMPARE(boxBytes(Box::OthersInbox), bytesOf(remaining, Box::OthersInbox));
        QCOMPARE(boxBytes(Box::Storage), bytesOf({numbered(line)}, Box::Storage));
    }

    // When the boxes hold something else than the selected record all the same (here the
    // list's signals were held back while the line moved), no operation acts on it: the
    // selected line's message is shown and the user asked to look again.
    void operationsRefuseWhenTheShownMessageIsNotTheSelectedOne_data() {
        QTest::addColumn<QString>("control");
        QTest::newRow("delete one") << "DeleteOneLabel";
        QTest::newRow("move") << "MoveLabel";
        QTest::newRow("reply") << "ReplyLabel";
        QTest::newRow("register") << "RegisterLabel";
        QTest::newRow("quick save") << "QuickSaveCommand";
    }
    void operationsRefuseWhenTheShownMessageIsNotTheSelectedOne() {
        QFETCH(QString, control);
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2, 3}));
        const QByteArray before = boxBytes(Box::OthersInbox);
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 1);
        {
            const QSignalBlocker quiet(viewer->mailList());
            viewer->mailList()->setCurrentItem(viewer->mailList()->topLevelItem(2));
        }
        QCOMPARE(viewer->subjectText(), QStringLiteral("件名1"));
        prompter().answer({true, true});
        if (control == QLatin1String("QuickSaveCommand"))
            viewer->quickSaveButton()->click();
        else
            press(viewer, control.toLatin1().constData());

        QCOMPARE(prompter().shown().size(), 1);
        QVERIFY(!prompter().shown()[0].question);
        QCOMPARE(boxBytes(Box::OthersInbox), before);
        QVERIFY(boxBytes(Box::Storage).isEmpty());
        QVERIFY(quickSaveFolder().isEmpty());
        QVERIFY(!Forms::existing<BackForm>() || !Forms::existing<BackForm>()->isVisible());
        QVERIFY(!Forms::existing<FriendForm>() || !Forms::existing<FriendForm>()->isVisible());
        // What is on show now is the selected line's message, and it may be acted on.
        QCOMPARE(viewer->subjectText(), QStringLiteral("件名3"));
        QVERIFY(viewer->stagingShowsSelection());
    }

    // --- A pause lets anything happen

    void secondPressDuringAnOperationIsIgnored() {
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2, 3}));
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 1);
        // While the question is up, the user presses delete all.
        class PressingPrompter : public test::ScriptedPrompter {
        public:
            TyakuForm* viewer = nullptr;
            bool askYesNo(const QString& q) override {
                if (viewer && q == kDeleteOneQuestion)
                    press(viewer, "DeleteAllLabel");
                return ScriptedPrompter::askYesNo(q);
            }
        };
        m_prompter.reset();
        auto pressing = std::make_unique<PressingPrompter>();
        pressing->viewer = viewer;
        pressing->answer({true, true});
        press(viewer, "DeleteOneLabel");
        QCOMPARE(pressing->texts(), QStringList{kDeleteOneQuestion});
        QCOMPARE(boxBytes(Box::OthersInbox), bytesOf(numberedMessages({2, 3}), Box::OthersInbox));
        pressing.reset();
        m_prompter = std::make_unique<test::ScriptedPrompter>();
    }

    void windowClosedDuringTheQuestionStopsTheOperation() {
        test::writeBox(home(), Box::OthersInbox, numberedMessages({1, 2}));
        const QByteArray before = boxBytes(Box::OthersInbox);
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 1);
        class ClosingPrompter : public test::ScriptedPrompter {
        public:
            bool askYesNo(const QString& q) override {
                Forms::closeAll();
                test::flushDeletes();
                ScriptedPrompter::askYesNo(q);
                return true;
            }
        };
        m_prompter.reset();
        {
            ClosingPrompter closing;
            QPointer<TyakuForm> guard(viewer);
            press(viewer, "DeleteOneLabel");
            QVERIFY(guard.isNull());
        }
        m_prompter = std::make_unique<test::ScriptedPrompter>();
        QCOMPARE(boxBytes(Box::OthersInbox), before);
    }
};

QTEST_MAIN(TestTyakuFormOps)
#include "test_tyakuform_ops.moc"
