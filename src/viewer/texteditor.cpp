#include "viewer/texteditor.h"

#include "base/filedialogs.h"
#include "base/mainboard.h"
#include "base/paths.h"
#include "base/pictures.h"
#include "base/prompter.h"
#include "base/text.h"
#include "base/windowswitch.h"
#include "viewer/editortext.h"
#include "viewer/tyakuform.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QToolBar>

namespace kiku {

namespace {

// A pane is for reading and light editing: a file beyond this is refused with a word
// rather than freezing the window.
constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;
constexpr qsizetype kMaxPasteCharacters = 4 * 1024 * 1024;

struct ToolButton {
    const char* key;
    const char* tip;
    const char* picture;
};

const ToolButton kToolButtons[] = {
    {"New", "新規作成", "ToolNew.gif"},           {"Open", "開く", "ToolOpen.gif"},
    {"Save", "名前を付けて保存", "ToolSave.gif"}, {"Print", "印刷", "ToolPrint.gif"},
    {"Cut", "切り取り", "ToolCut.gif"},           {"Copy", "ｺﾋﾟｰ", "ToolCopy.gif"},
    {"Paste", "貼り付け", "ToolPaste.gif"},       {"Bold", "太字", "ToolBold.gif"},
    {"Italic", "斜体", "ToolItalic.gif"},         {"Underline", "下線", "ToolUnderline.gif"},
};

QString appTitle() {
    return QCoreApplication::applicationName().isEmpty() ? QStringLiteral("KikuMail")
                                                         : QCoreApplication::applicationName();
}

} // namespace

EditorSession& EditorSession::current() {
    static EditorSession session;
    return session;
}

QString paneText(const QTextEdit* pane) {
    QStringList paragraphs;
    for (QTextBlock block = pane->document()->begin(); block.isValid(); block = block.next())
        paragraphs << block.text();
    return editor::paneToCrlf(paragraphs);
}

void setPaneText(QTextEdit* pane, const QString& text) {
    pane->setPlainText(editor::crlfToPane(text));
}

// ---------------------------------------------------------------------------------------
// Building

TextEditor::TextEditor(TyakuForm* window)
    : QObject(window), m_window(window), m_pane(window->readingPane()) {
    buildMenus();
    buildToolBar();
    // Anything that changes the pane marks it: typing, pasting, a message shown.
    connect(m_pane->document(), &QTextDocument::contentsChanged, this,
            [this] { m_modified = true; });
}

QString TextEditor::fileFilter() {
    return QStringLiteral("txtファイル (*.txt *.ini)");
}

QString TextEditor::searchHint() {
    return QStringLiteral("検索したい文字を入力し、メニューバーから「検索」「次を検索」を選択し、"
                          "検索したい文字を本文中(body)から検索します。");
}

const QStringList& TextEditor::toolbarKeys() {
    static const QStringList keys = [] {
        QStringList k;
        for (const ToolButton& b : kToolButtons)
            k << QLatin1String(b.key);
        return k;
    }();
    return keys;
}

QAction* TextEditor::addMenuEntry(QMenu* menu, const char* name, const QString& caption,
                                  void (TextEditor::*operation)()) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    if (operation)
        connect(action, &QAction::triggered, this, operation);
    return action;
}

void TextEditor::buildMenus() {
    QMenuBar* bar = m_window->menuBar();
    m_fileMenu = bar->addMenu(QStringLiteral("ファイル(&F)"));
    m_fileMenu->setObjectName(QStringLiteral("mfile"));
    addMenuEntry(m_fileMenu, "mnew", QStringLiteral("新規作成"), &TextEditor::newDocument);
    addMenuEntry(m_fileMenu, "mopen", QStringLiteral("開く"), &TextEditor::openDocument);
    addMenuEntry(m_fileMenu, "msave", QStringLiteral("名前を付けて保存"),
                 &TextEditor::saveWithHeader);
    // The menu's "印刷" has no action of its own; printing is the toolbar's "Print".
    addMenuEntry(m_fileMenu, "mprint", QStringLiteral("印刷"), nullptr);
    m_fileMenu->addSeparator();
    addMenuEntry(m_fileMenu, "mend", QStringLiteral("戻る"), &TextEditor::returnToMain);

    m_editMenu = bar->addMenu(QStringLiteral("編集(&E)"));
    m_editMenu->setObjectName(QStringLiteral("medit"));
    addMenuEntry(m_editMenu, "mall", QStringLiteral("全て選択"), &TextEditor::selectAll);
    addMenuEntry(m_editMenu, "matamajump", QStringLiteral("文頭へジャンプ"),
                 &TextEditor::jumpToTop);
    addMenuEntry(m_editMenu, "mbunmatujump", QStringLiteral("文末へジャンプ"),
                 &TextEditor::jumpToEnd);
    m_editMenu->addSeparator();
    addMenuEntry(m_editMenu, "mkensaku", QStringLiteral("検索"), &TextEditor::findFirst);
    addMenuEntry(m_editMenu, "mtugikensaku", QStringLiteral("次を検索"), &TextEditor::findNext);
    m_editMenu->addSeparator();
    addMenuEntry(m_editMenu, "mcut", QStringLiteral("切り取り"), &TextEditor::cutSelection);
    addMenuEntry(m_editMenu, "mcopy", QStringLiteral("コピー"), &TextEditor::copySelection);
    addMenuEntry(m_editMenu, "mpaste", QStringLiteral("貼付け"), &TextEditor::pasteText);
}

void TextEditor::buildToolBar() {
    QWidget* slot = m_window->toolbarSlot();
    auto* row = new QHBoxLayout(slot);
    row->setContentsMargins(2, 0, 2, 0);

    m_toolBar = new QToolBar(slot);
    m_toolBar->setObjectName(QStringLiteral("tbToolBar"));
    m_toolBar->setIconSize(QSize(20, 20));
    for (const ToolButton& b : kToolButtons) {
        const QPixmap picture(ProgramFolder::resolve(dataPicture(b.picture)));
        QAction* action = m_toolBar->addAction(QIcon(picture), QString::fromUtf8(b.tip));
        action->setObjectName(QLatin1String(b.key));
        action->setToolTip(QString::fromUtf8(b.tip));
        const QString key = QLatin1String(b.key);
        connect(action, &QAction::triggered, this, [this, key] { toolbarPressed(key); });
    }
    row->addWidget(m_toolBar);
    row->addStretch();

    auto* label = new QLabel(QStringLiteral("検索文字"), slot);
    m_searchBox = new QLineEdit(slot);
    m_searchBox->setObjectName(QStringLiteral("Text1"));
    m_searchBox->setMinimumWidth(160);
    label->setBuddy(m_searchBox);
    row->addWidget(label);
    row->addWidget(m_searchBox);
    m_window->addHintTarget(m_searchBox, searchHint());
}

void TextEditor::toolbarPressed(const QString& key) {
    using Operation = void (TextEditor::*)();
    static const QHash<QString, Operation> operations{
        {QStringLiteral("New"), &TextEditor::newDocument},
        {QStringLiteral("Open"), &TextEditor::openDocument},
        {QStringLiteral("Save"), &TextEditor::saveWithHeader},
        {QStringLiteral("Print"), &TextEditor::printDocument},
        {QStringLiteral("Cut"), &TextEditor::cutSelection},
        {QStringLiteral("Copy"), &TextEditor::copySelection},
        {QStringLiteral("Paste"), &TextEditor::pasteText},
        {QStringLiteral("Bold"), &TextEditor::toggleBold},
        {QStringLiteral("Italic"), &TextEditor::toggleItalic},
        {QStringLiteral("Underline"), &TextEditor::toggleUnderline},
    };
    if (const auto it = operations.constFind(key); it != operations.constEnd())
        (this->*(*it))();
}

// ---------------------------------------------------------------------------------------
// Files

bool TextEditor::readFile(const QString& path, QString& text, QString* error) const {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (file.size() > kMaxFileBytes) {
        if (error)
            *error = QStringLiteral("ファイルが大きすぎます（%1 バイト）").arg(file.size());
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    text = editor::readTextFile(bytes);
    return true;
}

bool TextEditor::writeFile(const QString& path, const QString& text, QString* error,
                           bool* utf8) const {
    const editor::SavedText saved = editor::encodeForSave(text);
    if (utf8)
        *utf8 = saved.utf8;
    // Written aside and renamed into place: a failed save never leaves half a file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(saved.bytes) != saved.bytes.size() ||
        !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

void TextEditor::loadCurrentFile() {
    const QString path = EditorSession::current().currentFilePath;
    // No current file is simply an empty pane.
    if (!path.isEmpty()) {
        for (;;) {
            QString text;
            if (readFile(path, text)) {
                setPaneText(m_pane, text);
                break;
            }
            if (!Prompter::current().askOkCancel(QString(),
                                                 appTitle() + QStringLiteral("  Form_LoadError")))
                break;
        }
    }
    m_pane->setVisible(true);
    m_modified = false;
}

bool TextEditor::saveCurrent() {
    const QString path = EditorSession::current().currentFilePath;
    if (path.isEmpty() || !writeFile(path, paneText(m_pane), nullptr))
        return false;
    m_modified = false;
    return true;
}

void TextEditor::newDocument() {
    EditorSession& session = EditorSession::current();
    if (session.currentFilePath.contains(editor::kNewDocumentName))
        return;
    if (m_modified)
        saveCurrent();
    m_pane->clear();
    session.currentFilePath = editor::newDocumentPath(session.currentFilePath);
    saveCurrent();
    m_modified = false;
    setCaption(editor::kNewDocumentName + QString(6, QLatin1Char(' ')) + session.currentFilePath);
}

void TextEditor::openDocument() {
    const std::optional<QString> path =
        FileDialogs::current().openTextFileName(m_window, fileFilter());
    if (!path || !m_window)
        return;
    setCaption(*path);
    QString text, error;
    if (!readFile(*path, text, &error)) {
        Prompter::current().notify(
            QStringLiteral("ファイルを開けませんでした: %1\n%2").arg(*path, error));
        return;
    }
    setPaneText(m_pane, text);
}

void TextEditor::saveWithHeader() {
    // The header goes in before the dialog, so it stays when the dialog is cancelled.
    setPaneText(m_pane, editor::withSaveHeader(m_window->subjectText(), m_window->addressText(),
                                               m_window->dateText(), paneText(m_pane)));
    const std::optional<QString> path =
        FileDialogs::current().saveTextFileName(m_window, fileFilter());
    if (!path || !m_window)
        return;
    setCaption(*path);
    QString error;
    bool utf8 = false;
    if (!writeFile(*path, paneText(m_pane) + QStringLiteral("\r\n"), &error, &utf8)) {
        Prompter::current().notify(
            QStringLiteral("ファイルを保存できませんでした: %1\n%2").arg(*path, error));
        return;
    }
    if (utf8)
        Prompter::current().notify(
            QStringLiteral("Shift-JIS で表せない文字があるため、UTF-8 で保存しました: %1")
                .arg(*path));
}

void TextEditor::printDocument() {
    const QTextCursor cursor = m_pane->textCursor();
    const bool selection = cursor.hasSelection();
    const QString text = selection ? cursor.selection().toPlainText() : m_pane->toPlainText();
    std::optional<PrintRequest> request = FileDialogs::current().choosePrinter(m_window, selection);
    if (!request || !request->printer || !m_window)
        return;

    // The printer takes the pane font's name, size, bold and italic.
    const QFont paneFont = m_pane->font();
    QFont font(paneFont.family(), paneFont.pointSize() > 0 ? paneFont.pointSize() : 10);
    font.setBold(paneFont.bold());
    font.setItalic(paneFont.italic());
    QTextDocument document;
    document.setDefaultFont(font);
    document.setPlainText(text);
    // Laid out on the printer's page: the text alone, without page numbers added.
    document.setPageSize(request->printer->pageRect(QPrinter::Point).size());
    // Every copy is a print job of its own.
    for (int copy = 1; copy <= request->copies; ++copy) {
        if (request->beforeJob)
            request->beforeJob(copy);
        document.print(request->printer.get());
    }
}

// ---------------------------------------------------------------------------------------
// Editing

void TextEditor::cutSelection() {
    QTextCursor cursor = m_pane->textCursor();
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(cursor.selection().toPlainText());
    cursor.removeSelectedText();
    m_pane->setTextCursor(cursor);
    m_pane->setFocus();
}

void TextEditor::copySelection() {
    QTextCursor cursor = m_pane->textCursor();
    const int end = cursor.hasSelection() ? cursor.selectionEnd() : 0;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(cursor.selection().toPlainText());
    cursor.setPosition(end);
    m_pane->setTextCursor(cursor);
    m_pane->setFocus();
}

void TextEditor::pasteText() {
    m_pane->setFocus();
    QString text = QGuiApplication::clipboard()->text();
    text.remove(QChar(0));
    text.truncate(kMaxPasteCharacters);
    QTextCursor cursor = m_pane->textCursor();
    cursor.insertText(editor::crlfToPane(trimSpaces(text)));
    m_pane->setTextCursor(cursor);
    m_pane->setFocus();
}

void TextEditor::selectAll() {
    m_pane->selectAll();
}

void TextEditor::jumpToTop() {
    QTextCursor cursor = m_pane->textCursor();
    cursor.movePosition(QTextCursor::Start);
    m_pane->setTextCursor(cursor);
    m_pane->setFocus();
}

void TextEditor::jumpToEnd() {
    QTextCursor cursor = m_pane->textCursor();
    cursor.movePosition(QTextCursor::End);
    m_pane->setTextCursor(cursor);
    m_pane->setFocus();
}

// ---------------------------------------------------------------------------------------
// Find: positions count the pane's characters, a line end as one, and are not limited to
// 16 bits.

void TextEditor::selectMatch(qint64 position, qint64 length) {
    if (position <= 0)
        return;
    m_pane->setFocus();
    QTextCursor cursor = m_pane->textCursor();
    cursor.setPosition(int(position - 1));
    cursor.setPosition(int(position - 1 + length), QTextCursor::KeepAnchor);
    m_pane->setTextCursor(cursor);
}

void TextEditor::findFirst() {
    const QString search = m_searchBox->text();
    m_lastMatchPosition = editor::findFrom(m_pane->toPlainText(), search, 1);
    selectMatch(m_lastMatchPosition, search.size());
}

void TextEditor::findNext() {
    const QString search = m_searchBox->text();
    // An empty search text has nothing after the last match to look for.
    m_lastMatchPosition = search.isEmpty()
                              ? 0
                              : editor::findFrom(m_pane->toPlainText(), search,
                                                 m_lastMatchPosition + qint64(search.size()));
    selectMatch(m_lastMatchPosition, search.size());
}

// ---------------------------------------------------------------------------------------
// Type style: each press switches the attribute of the pane's whole font.

void TextEditor::toggleBold() {
    int& presses = EditorSession::current().boldPresses;
    QFont font = m_pane->font();
    font.setBold(presses % 2 == 0);
    m_pane->setFont(font);
    presses = (presses + 1) % 2;
}

void TextEditor::toggleItalic() {
    int& presses = EditorSession::current().italicPresses;
    QFont font = m_pane->font();
    font.setItalic(presses % 2 == 0);
    m_pane->setFont(font);
    presses = (presses + 1) % 2;
}

void TextEditor::toggleUnderline() {
    int& presses = EditorSession::current().underlinePresses;
    QFont font = m_pane->font();
    font.setUnderline(presses % 2 == 0);
    m_pane->setFont(font);
    presses = (presses + 1) % 2;
}

void TextEditor::returnToMain() {
    if (MainBoard* board = MainBoard::current())
        switchWindow(board->boardWindow(), m_window);
    else
        m_window->hide();
}

void TextEditor::setCaption(const QString& caption) {
    if (m_window)
        m_window->setWindowTitle(caption);
}

} // namespace kiku
