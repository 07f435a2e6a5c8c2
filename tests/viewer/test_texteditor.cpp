// The viewer's text editor: menus and toolbar, find, clipboard editing, type style, files,
// the window load, printing and the way back to the main window.
#include "base/forms.h"
#include "base/mainboard.h"
#include "base/pause.h"
#include "guitest.h"
#include "scriptedfiledialogs.h"
#include "scriptedprompter.h"
#include "temphome.h"
#include "viewer/texteditor.h"
#include "viewer/tyakuform.h"
#include "windowtestbed.h"

#include <QAction>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolBar>
#include <QtTest>

#include <memory>

using namespace kiku;

namespace {

QTextEdit* pane(TyakuForm* viewer) {
    return viewer->readingPane();
}

// The selection as (1-based start, length); (caret + 1, 0) without one.
QPair<int, int> selection(TyakuForm* viewer) {
    const QTextCursor c = pane(viewer)->textCursor();
    return {c.selectionStart() + 1, c.selectionEnd() - c.selectionStart()};
}

void select(TyakuForm* viewer, int start, int length) {
    QTextCursor c = pane(viewer)->textCursor();
    c.setPosition(start);
    c.setPosition(start + length, QTextCursor::KeepAnchor);
    pane(viewer)->setTextCursor(c);
}

// A main window stand-in: a plain window the editor switches back to.
class BoardStandIn : public MainBoard {
public:
    QPoint boardPosition() const override { return window.pos(); }
    QWidget* boardWindow() override { return &window; }
    QString clockBoxText() const override { return {}; }
    QString receivedCountText() const override { return {}; }
    void setReceivedCountText(const QString&) override {}
    QString sentCountText() const override { return {}; }
    void setSentCountText(const QString&) override {}
    QWidget window;
};

} // namespace

class TestTextEditor : public QObject, public test::WindowTestBed {
    Q_OBJECT

    TyakuForm* open() { return Forms::show<TyakuForm>(); }

private slots:
    void initTestCase() { Pause::setTimeScale(0); }
    void init() {
        startCase();
        EditorSession::current() = {};
    }
    void cleanup() {
        endCase();
        MainBoard::install(nullptr);
    }

    void menusAndToolbarAreLaidOutAsDesigned() {
        TyakuForm* viewer = open();
        TextEditor* editor = viewer->editor();
        QCOMPARE(editor->fileMenu()->title(), QStringLiteral("ファイル(&F)"));
        QCOMPARE(editor->editMenu()->title(), QStringLiteral("編集(&E)"));
        const auto entries = [](QMenu* menu) {
            QStringList names;
            for (QAction* a : menu->actions())
                names << (a->isSeparator() ? QStringLiteral("-")
                                           : a->objectName() + QLatin1Char(':') + a->text());
            return names.join(QLatin1Char(' '));
        };
        QCOMPARE(entries(editor->fileMenu()),
                 QStringLiteral("mnew:新規作成 mopen:開く msave:名前を付けて保存 mprint:印刷 - "
                                "mend:戻る"));
        QCOMPARE(entries(editor->editMenu()),
                 QStringLiteral("mall:全て選択 matamajump:文頭へジャンプ "
                                "mbunmatujump:文末へジャンプ - mkensaku:検索 mtugikensaku:次を検索 "
                                "- mcut:切り取り mcopy:コピー mpaste:貼付け"));
        QStringList keys;
        for (QAction* a : editor->toolBar()->actions())
            keys << a->objectName() + QLatin1Char(':') + a->toolTip();
        QCOMPARE(keys.join(QLatin1Char(' ')),
                 QStringLiteral("New:新規作成 Open:開く Save:名前を付けて保存 Print:印刷 "
                                "Cut:切り取り Copy:ｺﾋﾟｰ Paste:貼り付け Bold:太字 Italic:斜体 "
                                "Underline:下線"));
        QCOMPARE(editor->toolBar()->objectName(), QStringLiteral("tbToolBar"));
        QCOMPARE(editor->searchBox()->objectName(), QStringLiteral("Text1"));
        // An unknown key does nothing.
        setPaneText(pane(viewer), QStringLiteral("text"));
        editor->toolbarPressed(QStringLiteral("bold"));
        QVERIFY(!pane(viewer)->font().bold());
    }

    void findWalksThroughTheMatchesAndWrapsAfterAMiss() {
        TyakuForm* viewer = open();
        TextEditor* editor = viewer->editor();
        setPaneText(pane(viewer), QStringLiteral("abcabc"));
        editor->searchBox()->setText(QStringLiteral("bc"));
        editor->findFirst();
        QCOMPARE(selection(viewer), qMakePair(2, 2));
        editor->findNext();
        QCOMPARE(selection(viewer), qMakePair(5, 2));
        editor->findNext(); // nothing more: the selection stays, the position is 0
        QCOMPARE(editor->lastMatchPosition(), 0);
        QCOMPARE(selection(viewer), qMakePair(5, 2));
        editor->findNext();
        QCOMPARE(selection(viewer), qMakePair(2, 2));

        // Case matters; a miss leaves caret and selection alone.
        editor->searchBox()->setText(QStringLiteral("ABC"));
        editor->findFirst();
        QCOMPARE(editor->lastMatchPosition(), 0);
        QCOMPARE(selection(viewer), qMakePair(2, 2));
        // An empty search puts the caret at the start; the next search ends without a match.
        editor->searchBox()->clear();
        editor->findFirst();
        QCOMPARE(selection(viewer), qMakePair(1, 0));
        editor->findNext();
        QCOMPARE(editor->lastMatchPosition(), 0);

        // A match beyond 16-bit positions is found and selected.
        setPaneText(pane(viewer), QString(40000, QLatin1Char('x')) + QStringLiteral("needle"));
        editor->searchBox()->setText(QStringLiteral("needle"));
        editor->findFirst();
        QCOMPARE(editor->lastMatchPosition(), 40001);
        QCOMPARE(selection(viewer), qMakePair(40001, 6));
    }

    void clipboardEditing() {
        TyakuForm* viewer = open();
        TextEditor* editor = viewer->editor();
        QClipboard* clipboard = QGuiApplication::clipboard();
        setPaneText(pane(viewer), QStringLiteral("hello world"));

        // Copy with nothing selected: empty clipboard text, caret at the start.
        clipboard->setText(QStringLiteral("old"));
        select(viewer, 4, 0);
        editor->copySelection();
        QCOMPARE(clipboard->text(), QString());
        QCOMPARE(selection(viewer), qMakePair(1, 0));
        // Copy of a selection: the caret goes to its end.
        select(viewer, 6, 5);
        editor->copySelection();
        QCOMPARE(clipboard->text(), QStringLiteral("world"));
        QCOMPARE(selection(viewer), qMakePair(12, 0));
        // Cut takes the text out.
        select(viewer, 0, 6);
        editor->cutSelection();
        QCOMPARE(clipboard->text(), QStringLiteral("hello "));
        QCOMPARE(paneText(pane(viewer)), QStringLiteral("world"));
        // Paste trims spaces, ASCII and ideographic, and keeps the line ends inside.
        clipboard->setText(QStringLiteral("  　new\r\nline　 "));
        select(viewer, 0, 0);
        editor->pasteText();
        QCOMPARE(paneText(pane(viewer)), QStringLiteral("new\r\nlineworld"));
        // Select all, top and end.
        editor->selectAll();
        QCOMPARE(selection(viewer), qMakePair(1, 13)); // a line end counts one
        editor->jumpToEnd();
        QCOMPARE(selection(viewer), qMakePair(14, 0));
        editor->jumpToTop();
        QCOMPARE(selection(viewer), qMakePair(1, 0));
    }

    void styleTogglesSwitchTheWholePane() {
        TyakuForm* viewer = open();
        TextEditor* editor = viewer->editor();
        for (int press = 1; press <= 3; ++press) {
            editor->toolbarPressed(QStringLiteral("Bold"));
            QCOMPARE(pane(viewer)->font().bold(), press % 2 == 1);
        }
        editor->toolbarPressed(QStringLiteral("Italic"));
        editor->toolbarPressed(QStringLiteral("Underline"));
        QVERIFY(pane(viewer)->font().italic());
        QVERIFY(pane(viewer)->font().underline());
        editor->toolbarPressed(QStringLiteral("Underline"));
        QVERIFY(!pane(viewer)->font().underline());
    }

    void openingReadsShiftJisLinesAndSavingWritesThemBack() {
        // Shift-JIS, a lone LF inside a line, and a last line without its end.
        const QByteArray original("\x82\xa0\x82\xa2\r\nlone\nLF\r\nlast");
        m_home->writeFile("memo.txt", original);
        TyakuForm* viewer = open();
        TextEditor* editor = viewer->editor();
        m_dialogs->answer({m_home->file("memo.txt")});
        editor->openDocument();
        QCOMPARE(m_dialogs->lastFilter(), TextEditor::fileFilter());
        QCOMPARE(viewer->windowTitle(), m_home->file("memo.txt"));
        QCOMPARE(paneText(pane(viewer)), QString::fromUtf8("あい\r\nlone\nLF\r\nlast\r\n"));

        // Saving puts the header block first and writes Shift-JIS with a final CR LF.
        viewer->setSubjectText(QStringLiteral("S"));
        viewer->setAddressText(QStringLiteral("F"));
        viewer->setDateText(QStringLiteral("D"));
        m_dialogs->answer({m_home->file("saved.txt")});
        editor->saveWithHeader();
        QCOMPARE(m_home->readFile("saved.txt"),
                 "Subject:  S\r\nFrom:  F\r\nDate:  D\r\nBody:  " + original + "\r\n\r\n");
        QCOMPARE(viewer->windowTitle(), m_home->file("saved.txt"));
        QVERIFY(m_prompter->shown().isEmpty());

        // Cancelled, the header stays in the pane all the same.
        setPaneText(pane(viewer), QStringLiteral("body"));
        editor->saveWithHeader();
        QVERIFY(paneText(pane(viewer)).startsWith(QStringLiteral("Subject:  S\r\nFrom:  F\r\n")));
        QVERIFY(paneText(pane(viewer)).endsWith(QStringLiteral("Body:  body")));
    }

    void savingTextOutsideShiftJisSaysSoInsteadOfWritingQuestionMarks() {
        TyakuForm* viewer = open();
        setPaneText(pane(viewer), QString::fromUtf8("桜🌸"));
        m_dialogs->answer({m_home->file("wide.txt")});
        viewer->editor()->saveWithHeader();
        const QByteArray saved = m_home->readFile("wide.txt");
        QVERIFY(saved.startsWith("\xEF\xBB\xBF"));
        QVERIFY(saved.contains(QString::fromUtf8("桜🌸").toUtf8()));
        QCOMPARE(m_prompter->shown().size(), 1);
        QVERIFY(m_prompter->shown()[0].text.contains(QStringLiteral("UTF-8")));
        // A save that cannot be written is said, not swallowed.
        m_dialogs->answer({m_home->file("no/such/folder/x.txt")});
        viewer->editor()->saveWithHeader();
        QCOMPARE(m_prompter->shown().size(), 2);
    }

    void newDocumentOnlyOnce() {
        TyakuForm* viewer = open();
        TextEditor* editor = viewer->editor();
        setPaneText(pane(viewer), QStringLiteral("shown message"));
        editor->newDocument();
        // Empty pane, an empty file in the working directory, the caption with the path.
        QCOMPARE(paneText(pane(viewer)), QString());
        QCOMPARE(EditorSession::current().currentFilePath, QStringLiteral("新規作成.TXT"));
        QVERIFY(QFileInfo::exists(m_home->file("新規作成.TXT")));
        QCOMPARE(QFileInfo(m_home->file("新規作成.TXT")).size(), 0);
        QCOMPARE(viewer->windowTitle(), QStringLiteral("新規作成.TXT      新規作成.TXT"));
        QVERIFY(!editor->modified());
        // The second does nothing at all.
        setPaneText(pane(viewer), QStringLiteral("typed"));
        editor->newDocument();
        QCOMPARE(paneText(pane(viewer)), QStringLiteral("typed"));
        QVERIFY(editor->modified());
    }

    void windowLoadReadsTheCurrentFileOrAsks() {
        // The current file is loaded with the window, unmodified.
        m_home->writeFile("cur.txt", "\x88\xa4\r\n");
        EditorSession::current().currentFilePath = m_home->file("cur.txt");
        TyakuForm* viewer = open();
        QCOMPARE(paneText(pane(viewer)), QString::fromUtf8("愛\r\n"));
        QVERIFY(!viewer->editor()->modified());
        QVERIFY(m_prompter->shown().isEmpty());
        test::closeAllWindows();

        // A missing file: OK tries again, Cancel goes on with an empty pane.
        EditorSession::current().currentFilePath = m_home->file("gone.txt");
        m_prompter->answer({true, false});
        viewer = open();
        QCOMPARE(m_prompter->shown().size(), 2);
        QVERIFY(m_prompter->shown()[0].title.endsWith(QStringLiteral("  Form_LoadError")));
        QVERIFY(m_prompter->shown()[0].text.isEmpty());
        QCOMPARE(paneText(pane(viewer)), QString());
        QVERIFY(!viewer->editor()->modified());
    }

    void printingMakesOneJobPerCopy() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        TyakuForm* viewer = open();
        setPaneText(pane(viewer), QStringLiteral("upper line\r\nlower line"));
        m_dialogs->answerPrint(m_home->path(), 2);
        viewer->editor()->toolbarPressed(QStringLiteral("Print"));
        QVERIFY(!m_dialogs->printSelectionOffered());
        const auto pdfText = [this](int job) {
            QProcess p;
            p.start(QStringLiteral("pdftotext"),
                    {m_home->path() + QStringLiteral("/job%1.pdf").arg(job), QStringLiteral("-")});
            p.waitForFinished(30000);
            return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
        };
        for (int job = 1; job <= 2; ++job)
            QCOMPARE(pdfText(job), QStringLiteral("upper line\nlower line"));
        QVERIFY(!QFileInfo::exists(m_home->path() + QStringLiteral("/job3.pdf")));

        // With a selection, only the selection is printed.
        select(viewer, 6, 4);
        m_dialogs->answerPrint(m_home->path(), 1);
        viewer->editor()->toolbarPressed(QStringLiteral("Print"));
        QVERIFY(m_dialogs->printSelectionOffered());
        QCOMPARE(pdfText(1), QStringLiteral("line"));
    }

    void returnGoesBackToTheMainWindowAndKeepsThePane() {
        BoardStandIn board;
        MainBoard::install(&board);
        TyakuForm* viewer = open();
        viewer->move(140, 90);
        setPaneText(pane(viewer), QStringLiteral("kept"));
        viewer->findChild<QAction*>(QStringLiteral("mend"))->trigger();
        QVERIFY(board.window.isVisible());
        QCOMPARE(board.window.pos(), viewer->pos());
        QVERIFY(viewer->isHidden());
        QCOMPARE(Forms::existing<TyakuForm>(), viewer);
        QCOMPARE(paneText(pane(viewer)), QStringLiteral("kept"));
    }
};

QTEST_MAIN(TestTextEditor)
#include "test_texteditor.moc"
