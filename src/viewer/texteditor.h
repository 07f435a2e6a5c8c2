#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QAction;
class QLineEdit;
class QMenu;
class QTextEdit;
class QToolBar;

namespace kiku {

class TyakuForm;

// What the editor keeps for the whole run, whichever viewer window is open: the current
// file ("新規作成" alone changes it) and the presses of bold, italic and underline.
struct EditorSession {
    QString currentFilePath;
    int boldPresses = 0;
    int italicPresses = 0;
    int underlinePresses = 0;

    static EditorSession& current();
};

// The reading pane's text with CR LF line ends, and back (a lone LF stays inside its line).
QString paneText(const QTextEdit* pane);
void setPaneText(QTextEdit* pane, const QString& text);

// The viewer window's plain-text editor: the "ファイル(&F)" and "編集(&E)" menus, the toolbar
// tbToolBar and the find box, working on the reading pane rtfEd. Plain text only: files are
// read and written as Shift-JIS (UTF-8 when a file starts with its byte-order mark, or when
// the text holds characters Shift-JIS cannot), never as rich text.
class TextEditor : public QObject {
    Q_OBJECT
public:
    explicit TextEditor(TyakuForm* window);

    // The editor side of creating the window: the pane from the current file. A file that
    // cannot be read asks "  Form_LoadError" with OK (try again) and Cancel (go on without).
    void loadCurrentFile();

    // The operations of the menus and the toolbar.
    void newDocument();
    bool saveCurrent();
    void openDocument();
    void saveWithHeader();
    void printDocument();
    void cutSelection();
    void copySelection();
    void pasteText();
    void selectAll();
    void jumpToTop();
    void jumpToEnd();
    void findFirst();
    void findNext();
    void toggleBold();
    void toggleItalic();
    void toggleUnderline();
    void returnToMain();
    // A toolbar button by its key ("New", "Open", …); any other key does nothing.
    void toolbarPressed(const QString& key);

    bool modified() const { return m_modified; }
    // The 1-based position of the last match, 0 when the last search found nothing.
    qint64 lastMatchPosition() const { return m_lastMatchPosition; }

    QLineEdit* searchBox() const { return m_searchBox; }
    QToolBar* toolBar() const { return m_toolBar; }
    QMenu* fileMenu() const { return m_fileMenu; }
    QMenu* editMenu() const { return m_editMenu; }

    static QString fileFilter();
    static QString searchHint();
    static const QStringList& toolbarKeys();

private:
    void buildMenus();
    void buildToolBar();
    QAction* addMenuEntry(QMenu* menu, const char* name, const QString& caption,
                          void (TextEditor::*operation)());
    // Reads a whole text file, refusing one beyond what a pane can sensibly hold.
    bool readFile(const QString& path, QString& text, QString* error = nullptr) const;
    // Writes the text (with `suffix`) in the editor's encoding; false with `error` set when
    // the file could not be written.
    bool writeFile(const QString& path, const QString& text, QString* error,
                   bool* utf8 = nullptr) const;
    void selectMatch(qint64 position, qint64 length);
    void setCaption(const QString& caption);

    QPointer<TyakuForm> m_window;
    QTextEdit* m_pane = nullptr;
    QToolBar* m_toolBar = nullptr;
    QLineEdit* m_searchBox = nullptr;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_editMenu = nullptr;
    bool m_modified = false;
    qint64 m_lastMatchPosition = 0;
};

} // namespace kiku
