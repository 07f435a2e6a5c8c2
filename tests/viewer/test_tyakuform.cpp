// The viewer window's mail side: fill-list, show-message, the arrangement, hints, copy
// staging and the picture buttons.
#include "base/codec.h"
#include "base/forms.h"
#include "base/pause.h"
#include "base/twips.h"
#include "core/boxviews.h"
#include "guitest.h"
#include "scriptedprompter.h"
#include "temphome.h"
#include "viewer/tyakuform.h"
#include "viewertestdata.h"

#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

using namespace kiku;

Q_DECLARE_METATYPE(kiku::Box)

namespace {

const QString kNoData = QStringLiteral("選択するデータがありません。");
const QString kSentinel = QStringLiteral("clipboard before the view");

QString clipboardText() {
    return QGuiApplication::clipboard()->text();
}

// A click on line `line` (1-based) of the list, or below the last line for 0.
void clickLine(TyakuForm* viewer, int line) {
    QTreeWidget* list = viewer->mailList();
    const QPoint at = line > 0 ? list->visualItemRect(list->topLevelItem(line - 1)).center()
                               : QPoint(5, list->viewport()->height() - 3);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
}

void hover(QWidget* widget, QPoint at = QPoint(2, 2)) {
    QEnterEvent enter(at, widget->mapTo(widget->window(), at), widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &enter);
}

void moveOver(QWidget* widget, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

// Resizes so that the window's outer size, frame included, is width x height.
void resizeOuter(QWidget* window, int width, int height) {
    const QSize frame = window->frameGeometry().size() - window->size();
    window->resize(width - frame.width(), height - frame.height());
}

// What `picture` shows while a click on `target` is handled: a press animation's pause
// runs the event loop, and a zero timer fires in it. Without a pause the timer fires after
// the click.
QImage pictureDuringClick(QWidget* target, QLabel* picture) {
    QImage seen;
    QObject context;
    QTimer::singleShot(0, &context, [&] { seen = picture->pixmap().toImage(); });
    QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(5, 5));
    QCoreApplication::processEvents();
    return seen;
}

QStringList column(const QTreeWidget* list, int index) {
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(index);
    return texts;
}

// A list text: the field as stored, padded with spaces to its width in Shift-JIS bytes.
QString padded(const QString& text, int width) {
    return text + QString(width - codec::toCp932(text).size(), QLatin1Char(' '));
}

} // namespace

class TestTyakuForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<test::ScriptedPrompter> m_prompter;

    const test::TempHome& home() const { return *m_home; }
    test::ScriptedPrompter& prompter() { return *m_prompter; }

    TyakuForm* view(Box box) { return openBoxView(box, nullptr); }

    QList<MailRecord> threeMessages() const {
        return {test::mail("最初の件名", "a@example.jp", "Mon, 1 Jan 2024 09:00:00 +0900",
                           "一通目の本文"),
                test::mail("  二番目  ", "b@example.jp", "Tue, 2 Jan 2024 10:00:00 +0900",
                           "  二通目\r\nの本文  "),
                test::mail("三番目", "c@example.jp", "Wed, 3 Jan 2024 11:00:00 +0900",
                           "　三通目の本文　")};
    }

private slots:
    void initTestCase() { Pause::setTimeScale(0); }

    void init() {
        m_home = std::make_unique<test::TempHome>();
        m_prompter = std::make_unique<test::ScriptedPrompter>();
        QGuiApplication::clipboard()->setText(kSentinel);
    }

    void cleanup() {
        test::closeAllWindows();
        m_prompter.reset();
        m_home.reset();
    }

    void emptyBoxListsNothing_data() {
        QTest::addColumn<int>("box");
        QTest::addColumn<bool>("fileExists");
        QTest::newRow("others in-box, no file") << int(Box::OthersInbox) << false;
        QTest::newRow("others in-box, empty file") << int(Box::OthersInbox) << true;
        QTest::newRow("partner in-box, empty file") << int(Box::PartnerInbox) << true;
        QTest::newRow("partner sent box, no file") << int(Box::PartnerSent) << false;
    }
    void emptyBoxListsNothing() {
        QFETCH(int, box);
        QFETCH(bool, fileExists);
        if (fileExists)
            test::writeBox(home(), Box(box), {});
        // What the receive cycle or an earlier box left in the staging boxes goes.
        TyakuForm* viewer = Forms::touch<TyakuForm>();
        viewer->setSubjectText(QStringLiteral("stale"));
        viewer->setAddressText(QStringLiteral("stale@example.jp"));
        viewer->setDateText(QStringLiteral("stale date"));
        viewer->setBodyText(QStringLiteral("stale body"));

        QCOMPARE(view(Box(box)), viewer);
        QCOMPARE(viewer->listLineCount(), 0);
        QCOMPARE(viewer->countText(), QStringLiteral("0"));
        QCOMPARE(viewer->subjectText(), QString());
        QCOMPARE(viewer->addressText(), QString());
        QCOMPARE(viewer->dateText(), QString());
        QCOMPARE(viewer->bodyText(), QString());
        QCOMPARE(clipboardText(), kSentinel);
        QVERIFY(prompter().shown().isEmpty());

        clickLine(viewer, 0);
        QCOMPARE(prompter().texts(), QStringList{kNoData});
        QVERIFY(!prompter().shown().first().question);
        QVERIFY(!viewer->messageSelected());
    }

    void threeRecordsListInOrderAndTheLastIsOnDisplay() {
        test::writeBox(home(), Box::OthersInbox, threeMessages());
        TyakuForm* viewer = view(Box::OthersInbox);

        QCOMPARE(viewer->countText(), QStringLiteral("3"));
        // Line k is record k; the fixed-width fields keep their padding in the list (the
        // subjects here are two bytes per character).
        QCOMPARE(column(viewer->mailList(), 0),
                 (QStringList{padded("最初の件名", 100), padded("  二番目  ", 100),
                              padded("三番目", 100)}));
        QCOMPARE(column(viewer->mailList(), 1),
                 (QStringList{padded("a@example.jp", 90), padded("b@example.jp", 90),
                              padded("c@example.jp", 90)}));
        QCOMPARE(viewer->mailList()->topLevelItem(2)->text(2),
                 padded("Wed, 3 Jan 2024 11:00:00 +0900", 90));

        QCOMPARE(viewer->subjectText(), QStringLiteral("三番目"));
        QCOMPARE(viewer->addressText(), QStringLiteral("c@example.jp"));
        QCOMPARE(viewer->dateText(), QStringLiteral("Wed, 3 Jan 2024 11:00:00 +0900"));
        QCOMPARE(viewer->bodyText(), QStringLiteral("三通目の本文"));
        QCOMPARE(clipboardText(), QStringLiteral("三通目の本文"));
        QCOMPARE(viewer->recordBuffer(Box::OthersInbox).subject.trimmed(),
                 QStringLiteral("三番目"));
        QVERIFY(!viewer->messageSelected());
        QCOMPARE(viewer->selectedLine(), 0);
    }

    void zeroCharactersEndTheShownText_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("listSubject");
        QTest::addColumn<QString>("shownSubject");
        QTest::addColumn<QString>("shownBody");
        QTest::addColumn<QString>("clipboard");
        const QChar nul(0);
        QTest::newRow("subject holding a zero")
            << QStringLiteral("前半") + nul + QStringLiteral("後半") << QStringLiteral("本文")
            << QStringLiteral("前半") << QStringLiteral("前半") << QStringLiteral("本文")
            << QStringLiteral("本文");
        QTest::newRow("subject followed by zeros")
            << QStringLiteral("abc") + QString(97, nul) << QStringLiteral("x")
            << QStringLiteral("abc") << QStringLiteral("abc") << QStringLiteral("x")
            << QStringLiteral("x");
        QTest::newRow("body followed by zeros")
            << QStringLiteral("件名") << QStringLiteral("本文です") + QString(50, nul)
            << padded("件名", 100) << QStringLiteral("件名") << QStringLiteral("本文です")
            << QStringLiteral("本文です");
        QTest::newRow("body with text after a zero")
            << QStringLiteral("件名")
            << QStringLiteral(" 見える部分 ") + nul + QStringLiteral("見えない部分")
            << padded("件名", 100) << QStringLiteral("件名") << QStringLiteral("見える部分")
            << QStringLiteral("見える部分 ");
    }
    void zeroCharactersEndTheShownText() {
        QFETCH(QString, subject);
        QFETCH(QString, body);
        QFETCH(QString, listSubject);
        QFETCH(QString, shownSubject);
        QFETCH(QString, shownBody);
        QFETCH(QString, clipboard);
        test::writeBox(
            home(), Box::OthersInbox,
            {test::mail(subject, QStringLiteral("a@example.jp"), QStringLiteral("d"), body)});
        TyakuForm* viewer = view(Box::OthersInbox);
        QCOMPARE(viewer->mailList()->topLevelItem(0)->text(0), listSubject);
        QCOMPARE(viewer->subjectText(), shownSubject);
        QCOMPARE(viewer->bodyText(), shownBody);
        QCOMPARE(clipboardText(), clipboard);

        // Showing the message from the list gives the same.
        QGuiApplication::clipboard()->setText(kSentinel);
        viewer->setSubjectText({});
        clickLine(viewer, 1);
        QCOMPARE(viewer->subjectText(), shownSubject);
        QCOMPARE(viewer->bodyText(), shownBody);
        QCOMPARE(clipboardText(), clipboard);
    }

    void partnerSentBoxShowsTheDateBehindTheLineBreak() {
        const QList<MailRecord> sent = {
            test::mail("ご挨拶", "partner@example.jp", "2024/01/05 12:34:56", "こんにちは"),
            test::mail("お礼", "partner@example.jp", "2024/01/06 08:00:00", "ありがとう")};
        test::writeBox(home(), Box::PartnerSent, sent);
        // The layout really differs: the date lies at byte 32192 of each record.
        const QByteArray bytes = home().readFile(test::boxFile(Box::PartnerSent));
        QCOMPARE(bytes.mid(32192, 19), QByteArray("2024/01/05 12:34:56"));

        TyakuForm* viewer = view(Box::PartnerSent);
        QCOMPARE(column(viewer->mailList(), 2), (QStringList{padded("2024/01/05 12:34:56", 90),
                                                             padded("2024/01/06 08:00:00", 90)}));
        QCOMPARE(viewer->dateText(), QStringLiteral("2024/01/06 08:00:00"));
        QCOMPARE(viewer->addressText(), QStringLiteral("partner@example.jp"));

        clickLine(viewer, 1);
        QCOMPARE(viewer->dateText(), QStringLiteral("2024/01/05 12:34:56"));
        QCOMPARE(viewer->subjectText(), QStringLiteral("ご挨拶"));
        QCOMPARE(viewer->bodyText(), QStringLiteral("こんにちは"));
    }

    void clickOnLineTwoShowsRecordTwo() {
        test::writeBox(home(), Box::OthersInbox, threeMessages());
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 2);

        QVERIFY(prompter().shown().isEmpty());
        QVERIFY(viewer->messageSelected());
        QCOMPARE(viewer->selectedLine(), 2);
        QCOMPARE(viewer->subjectText(), QStringLiteral("二番目"));
        QCOMPARE(viewer->addressText(), QStringLiteral("b@example.jp"));
        QCOMPARE(viewer->dateText(), QStringLiteral("Tue, 2 Jan 2024 10:00:00 +0900"));
        // Trimmed of spaces, line break kept; the pane shows it as two lines.
        QCOMPARE(viewer->bodyText(), QStringLiteral("二通目\r\nの本文"));
        QCOMPARE(viewer->readingPane()->document()->blockCount(), 2);
        QCOMPARE(clipboardText(), QStringLiteral("二通目\r\nの本文"));
        QCOMPARE(viewer->recordBuffer(Box::OthersInbox).from.trimmed(),
                 QStringLiteral("b@example.jp"));
        // Other boxes' buffers are their own.
        QCOMPARE(viewer->recordBuffer(Box::Storage).subject, QString());
    }

    void clickBesideTheLinesShowsNothing() {
        test::writeBox(home(), Box::OthersInbox, threeMessages());
        TyakuForm* viewer = view(Box::OthersInbox);
        viewer->setSubjectText(QStringLiteral("unchanged"));
        clickLine(viewer, 0);
        QVERIFY(prompter().shown().isEmpty());
        QVERIFY(!viewer->messageSelected());
        QCOMPARE(viewer->subjectText(), QStringLiteral("unchanged"));
    }

    void listingAnotherBoxForgetsTheSelection() {
        test::writeBox(home(), Box::OthersInbox, threeMessages());
        TyakuForm* viewer = view(Box::OthersInbox);
        clickLine(viewer, 1);
        QVERIFY(viewer->messageSelected());
        view(Box::Storage);
        QVERIFY(!viewer->messageSelected());
        QCOMPARE(viewer->selectedLine(), 0);
    }

    void windowsWrittenShiftJisShowsUnchanged() {
        // One record of the others in-box, byte by byte as the Windows program writes it.
        const QByteArray subject("\x83\x65\x83\x58\x83\x67\x81\x60\x87\x40"); // テスト～①
        const QByteArray from("\x8E\x52\x93\x63 <taro@example.jp>");          // 山田 <…>
        const QByteArray date("Fri, 5 Jan 2024 09:30:00 +0900");
        const QByteArray body("\x96\x7B\x93\xFA\x82\xCD\x90\xB0\x93\x56\x82\xC8\x82\xE8\r\n"
                              "\x82\x51\x8D\x73\x96\xDA"); // 本日は晴天なり CR LF ２行目
        QByteArray record(32284, ' ');
        record.replace(0, subject.size(), subject);
        record.replace(100, date.size(), date);
        record.replace(190, from.size(), from);
        record.replace(280, body.size(), body);
        record[32280] = '\r';
        record[32281] = '\n';
        record[32282] = 1;
        record[32283] = 0;
        // The partner sent box keeps the date behind the line break.
        QByteArray sent(32284, ' ');
        sent.replace(0, subject.size(), subject);
        sent.replace(100, from.size(), from);
        sent.replace(190, body.size(), body);
        sent[32190] = '\r';
        sent[32191] = '\n';
        sent.replace(32192, date.size(), date);
        sent[32282] = 1;
        sent[32283] = 0;
        home().writeFile(test::boxFile(Box::OthersInbox), record);
        home().writeFile(test::boxFile(Box::PartnerSent), sent);

        const QString subjectText = QStringLiteral("テスト～①");
        QCOMPARE(subjectText.at(3), QChar(0xFF5E)); // the Windows reading of 0x8160
        for (Box box : {Box::OthersInbox, Box::PartnerSent}) {
            TyakuForm* viewer = view(box);
            QCOMPARE(viewer->mailList()->topLevelItem(0)->text(0), padded(subjectText, 100));
            QCOMPARE(viewer->mailList()->topLevelItem(0)->text(1),
                     padded(QStringLiteral("山田 <taro@example.jp>"), 90));
            QCOMPARE(viewer->subjectText(), subjectText);
            QCOMPARE(viewer->addressText(), QStringLiteral("山田 <taro@example.jp>"));
            QCOMPARE(viewer->dateText(), QString::fromLatin1(date));
            QCOMPARE(viewer->bodyText(), QStringLiteral("本日は晴天なり\r\n２行目"));
        }
        // Viewing never writes.
        QCOMPARE(home().readFile(test::boxFile(Box::OthersInbox)), record);
        QCOMPARE(home().readFile(test::boxFile(Box::PartnerSent)), sent);
    }

    void unreadableBoxIsReportedInPlainWords() {
        QVERIFY(QDir(home().file(QStringLiteral("★MailData"))).removeRecursively());
        TyakuForm* viewer = view(Box::OthersInbox);
        QCOMPARE(prompter().shown().size(), 1);
        QVERIFY2(prompter().texts().first().contains(QStringLiteral("vbmdata3.data")),
                 qPrintable(prompter().texts().first()));
        QVERIFY(!prompter().shown().first().question);
        QCOMPARE(viewer->listLineCount(), 0);
        QCOMPARE(viewer->countText(), QStringLiteral("0"));
        QCOMPARE(viewer->windowTitle(), QStringLiteral("着信履歴（その他）"));
    }

    void messageGoneSinceTheListingIsReported() {
        test::writeBox(home(), Box::OthersInbox, threeMessages());
        TyakuForm* viewer = view(Box::OthersInbox);
        // Another program shortened the box after it was listed.
        test::writeBox(home(), Box::OthersInbox, {threeMessages().first()});
        clickLine(viewer, 3);
        QCOMPARE(prompter().shown().size(), 1);
        QVERIFY(prompter().texts().first().contains(QStringLiteral("vbmdata3.data")));
        QVERIFY(!viewer->messageSelected());
    }

    void resizeArrangesInTwips() {
        TyakuForm* viewer = Forms::show<TyakuForm>();
        resizeOuter(viewer, 800, 600); // 12000 x 9000 twips
        QCOMPARE(viewer->frameGeometry().size(), QSize(800, 600));
        // List 11880 x 2250, boxes at 3690, pane at 4080 and 3712.5 high.
        QCOMPARE(viewer->mailList()->size(), QSize(792, 150));
        QCOMPARE(viewer->subjectBox()->geometry(), QRect(0, 246, 400, 22));
        QCOMPARE(viewer->addressBox()->geometry(), twipsRect(6005, 3690, 3600, 330));
        QCOMPARE(viewer->dateBox()->geometry(), twipsRect(9585, 3690, 2400, 330));
        QCOMPARE(viewer->readingPane()->geometry(), QRect(1, 272, 792, 248));
        QCOMPARE(viewer->pictureStrip()->width(), 800);
        // The copy button on the status bar, the staging box 3380 twips right of it.
        const int statusTop = viewer->height() - viewer->statusBar()->height();
        QCOMPARE(viewer->copyButton()->pos(), QPoint(125, statusTop + 5));
        QCOMPARE(viewer->copyStagingBox()->pos(), QPoint(351, statusTop + 5));
        QVERIFY(viewer->copyStagingBox()->isVisible());
        QVERIFY(viewer->quickSaveButton()->isVisible());

        // A larger window: everything follows.
        resizeOuter(viewer, 1000, 700);
        QCOMPARE(viewer->mailList()->size(), QSize(990, 175));
        QCOMPARE(viewer->readingPane()->y(), twipsToPixels(10500 * 0.25 + 1830));
    }

    void moveOverTheBackgroundRearrangesAndPutsTheHintAway() {
        TyakuForm* viewer = Forms::show<TyakuForm>();
        resizeOuter(viewer, 800, 600);
        viewer->setHint(QStringLiteral("hint"));
        QWidget* client = viewer->centralWidget();
        // Between the list and the boxes lies the bare background.
        const QPoint gap(400, viewer->mailList()->geometry().bottom() + 10);
        QVERIFY(!client->childAt(gap));
        moveOver(client, gap);
        QCOMPARE(viewer->readingPane()->height(), 252); // (9000 - 2250) * 0.56 twips
        QVERIFY(!viewer->hintBox()->isVisible());
        QCOMPARE(viewer->hintBox()->toPlainText(), QString());
        // A move over a control that lets the event through is not a move over the
        // background.
        viewer->applyLayout(LayoutTrigger::Resize);
        QCOMPARE(viewer->readingPane()->height(), 248);
        moveOver(client, viewer->pictureStrip()->geometry().center());
        QCOMPARE(viewer->readingPane()->height(), 248);
    }

    void hintsOfTheControls_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("hint");
        const QString deleteOne =
            QStringLiteral("受信したメールを１件ずつ削除します。リストでメールを"
                           "選択（クリック）してから実行して下さい。");
        const QString reply = QStringLiteral("受信したメールに返事を出します。リストからメールを"
                                             "選択（クリック）してから実行して下さい。");
        const QString registerHint =
            QStringLiteral("受信したメールをアドレス帳に登録します。リストからメールを選択（クリ"
                           "ック）してから実行して下さい。");
        const QString move = QStringLiteral("受信したメールを保管箱に移します。「その他」に格納"
                                            "されたメール以外はこの操作は出来ません。");
        // The picture buttons name their shortcuts.
        const auto keys = [](const QString& hint, const char* key) {
            return hint + QStringLiteral("（") + QLatin1String(key) + QStringLiteral("）");
        };
        QTest::newRow("delete one, caption") << "DeleteOneLabel" << keys(deleteOne, "Ctrl+Shift+D");
        QTest::newRow("delete one, picture")
            << "DeleteOnePicture" << keys(deleteOne, "Ctrl+Shift+D");
        QTest::newRow("delete all")
            << "DeleteAllLabel"
            << keys(QStringLiteral("受信したメール全件削除します。"), "Ctrl+Shift+Del");
        QTest::newRow("reply") << "ReplyLabel" << keys(reply, "Ctrl+R");
        QTest::newRow("reply, picture") << "ReplyPicture" << keys(reply, "Ctrl+R");
        QTest::newRow("register") << "RegisterLabel" << keys(registerHint, "Ctrl+Shift+B");
        QTest::newRow("move") << "MoveLabel" << keys(move, "Ctrl+Shift+M");
        QTest::newRow("move, picture") << "MovePicture" << keys(move, "Ctrl+Shift+M");
        QTest::newRow("quick save")
            << "QuickSaveCommand"
            << QStringLiteral("選択したデータをテキスト形式で本ソフト内の「TextQuickSave」フォルダ"
                              "内に「Subject」「From」「Date」「Boby」で保存します。ファイル名は"
                              "「Subject」が自動的に当てられます。同名のファイルが既に存在する"
                              "場合は警告メッセージを出します。");
        // Three paragraphs with an empty line between them.
        QTest::newRow("copy")
            << "CopyCommand"
            << QStringLiteral("本文以外のコピーに使用します。「Subject」「From」「Date」に表示"
                              "されるデータをコピーします（貼り付けはメニューバー、ツールバーで"
                              "出来ます）。Body（本文）はメニューバー、ツールバーからコピー・"
                              "貼り付けが出来ます。\n\n 本文への貼り付け（あるいは本ソフトでの"
                              "貼り付け機能がある部分）、他のアプリケーションへの貼り付けが可能"
                              "です。\n\nコピーされる内容は右の欄に反映されます。");
    }
    void hintsOfTheControls() {
        QFETCH(QString, control);
        QFETCH(QString, hint);
        TyakuForm* viewer = Forms::show<TyakuForm>();
        auto* widget = viewer->findChild<QWidget*>(control);
        QVERIFY(widget);
        hover(widget);
        QVERIFY(viewer->hintBox()->isVisible());
        QCOMPARE(viewer->hintBox()->toPlainText(), hint);

        // Over the reading pane the hint goes away but keeps its text.
        moveOver(viewer->readingPane()->viewport(), QPoint(5, 5));
        QVERIFY(!viewer->hintBox()->isVisible());
        QCOMPARE(viewer->hintBox()->toPlainText(), hint);
    }

    void pointerOverAHeaderBoxStagesItsText_data() {
        QTest::addColumn<QString>("box");
        QTest::newRow("subject") << "SubjectBox";
        QTest::newRow("address") << "AddressBox";
        QTest::newRow("date") << "DateBox";
    }
    void pointerOverAHeaderBoxStagesItsText() {
        QFETCH(QString, box);
        TyakuForm* viewer = Forms::show<TyakuForm>();
        viewer->setSubjectText(QStringLiteral("件名の文字"));
        viewer->setAddressText(QStringLiteral("someone@example.jp"));
        viewer->setDateText(QStringLiteral("2024/01/01 00:00:00"));
        auto* source = viewer->findChild<QLineEdit*>(box);
        QVERIFY(source);
        moveOver(source, QPoint(3, 3));
        QCOMPARE(viewer->copyStagingBox()->text(), source->text());
        // Staging shows no hint, and the clipboard is left for the copy button.
        QVERIFY(!viewer->hintBox()->isVisible());
        QCOMPARE(clipboardText(), kSentinel);
    }

    void pictureButtonsShowThePressedPictureThenTheirOwn_data() {
        QTest::addColumn<QString>("part");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("file");
        QTest::newRow("delete one, picture area") << "DeleteOnePicture"
                                                  << "DeleteOnePicture"
                                                  << "Botan10.gif";
        QTest::newRow("delete one, caption") << "DeleteOneLabel"
                                             << "DeleteOnePicture"
                                             << "Botan10.gif";
        QTest::newRow("register") << "RegisterLabel"
                                  << "RegisterPicture"
                                  << "Botan12.gif";
        QTest::newRow("reply") << "ReplyPicture"
                               << "ReplyPicture"
                               << "Botan13.gif";
        QTest::newRow("delete all") << "DeleteAllLabel"
                                    << "DeleteAllPicture"
                                    << "Botan14.gif";
        QTest::newRow("move") << "MoveLabel"
                              << "MovePicture"
                              << "Botan11.gif";
    }
    void pictureButtonsShowThePressedPictureThenTheirOwn() {
        QFETCH(QString, part);
        QFETCH(QString, picture);
        QFETCH(QString, file);
        QVERIFY(test::copyPictures(home()));
        TyakuForm* viewer = Forms::show<TyakuForm>();
        auto* target = viewer->findChild<QLabel*>(part);
        auto* image = viewer->findChild<QLabel*>(picture);
        QVERIFY(target && image);
        const QImage own = test::dataPicture(home(), file);
        const QImage pressed = test::dataPicture(home(), QStringLiteral("Botan15.gif"));
        QVERIFY(!own.isNull() && own != pressed);
        QCOMPARE(image->pixmap().toImage(), own);

        // The pause of the animation runs the event loop once: look at the picture then.
        QCOMPARE(pictureDuringClick(target, image), pressed);
        QCOMPARE(image->pixmap().toImage(), own);
    }

    void unofferedButtonsDoNotRespond_data() {
        QTest::addColumn<Box>("box");
        QTest::addColumn<QString>("part");
        QTest::addColumn<QString>("picture");
        QTest::newRow("move caption, storage box") << Box::Storage << "MoveLabel"
                                                   << "MovePicture";
        QTest::newRow("move picture, storage box") << Box::Storage << "MovePicture"
                                                   << "MovePicture";
        QTest::newRow("move caption, partner in-box") << Box::PartnerInbox << "MoveLabel"
                                                      << "MovePicture";
        QTest::newRow("move picture, partner in-box") << Box::PartnerInbox << "MovePicture"
                                                      << "MovePicture";
        QTest::newRow("reply caption, others sent box") << Box::OthersSent << "ReplyLabel"
                                                        << "ReplyPicture";
    }
    void unofferedButtonsDoNotRespond() {
        QFETCH(Box, box);
        QFETCH(QString, part);
        QFETCH(QString, picture);
        QVERIFY(test::copyPictures(home()));
        TyakuForm* viewer = view(box);
        auto* target = viewer->findChild<QLabel*>(part);
        auto* image = viewer->findChild<QLabel*>(picture);
        QVERIFY(target && image);
        QVERIFY(!target->isEnabled());
        const QImage own = image->pixmap().toImage();
        QCOMPARE(pictureDuringClick(target, image), own);
    }

    void screenshot() {
        // The look of the window with three Japanese messages, for the eye; written where
        // KIKU_VIEWER_SCREENSHOT says.
        QVERIFY(test::copyPictures(home()));
        test::writeBox(
            home(), Box::OthersInbox,
            {test::mail("会議のお知らせ", "suzuki@example.jp", "Mon, 8 Jan 2024 09:12:00 +0900",
                        "各位\r\n\r\n来週月曜日の会議は第二会議室で行います。\r\n"
                        "資料は当日配布します。\r\n\r\n鈴木"),
             test::mail("写真を送ります", "tanaka@example.jp", "Tue, 9 Jan 2024 18:40:00 +0900",
                        "先日の旅行の写真です。\r\n楽しかったですね。"),
             test::mail("Re:  お礼", "yamada@example.jp", "Wed, 10 Jan 2024 07:05:00 +0900",
                        "ご丁寧にありがとうございました。\r\nまたお会いしましょう。")});
        TyakuForm* viewer = view(Box::OthersInbox);
        resizeOuter(viewer, 800, 600);
        clickLine(viewer, 1);
        hover(viewer->findChild<QWidget*>(QStringLiteral("DeleteOneLabel")));
        const QImage shot = viewer->grab().toImage();
        QCOMPARE(shot.size(), viewer->size());
        const QString path = qEnvironmentVariable("KIKU_VIEWER_SCREENSHOT");
        if (!path.isEmpty())
            QVERIFY(shot.save(path));
    }
};

QTEST_MAIN(TestTyakuForm)
#include "test_tyakuform.moc"
