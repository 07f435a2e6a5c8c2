#pragma once

#include <QObject>
#include <QRect>
#include <QString>

class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

namespace kiku {

// The attachment controls of the compose and reply windows: the attachment list text
// (AttachText, full paths joined by commas), the first-file button (AttachCommand), "追加"
// (Command9), "取り消し" (Command10) and the list box (List2) that shows one line per file.
// The controls are children of the window, which places them; the file-open dialog goes
// through FileDialogs so tests can answer it.
class AttachControls : public QObject {
    Q_OBJECT
public:
    enum class Window { Compose, Reply };

    AttachControls(QWidget* window, Window kind);

    QLineEdit* attachText() const { return m_attachText; }
    QPushButton* firstButton() const { return m_attachCommand; }
    QPushButton* furtherButton() const { return m_command9; }
    QPushButton* discardButton() const { return m_command10; }
    QListWidget* list() const { return m_list2; }

    // The attachment list as it stands (the user may have edited the box).
    QString text() const;

    // "添付File"/"添付": the first file replaces the list; the button is disabled whether
    // or not a file was chosen, and "追加" enabled.
    void chooseFirst();
    // "追加": shows the list box, and only when the list is not empty asks for one more file.
    void chooseFurther();
    // "取り消し" and the compose window's clear: no attachments, only the first-file button
    // enabled.
    void discard();
    // The controls as the window opened with them: no attachments, the list box hidden,
    // every button in its first state.
    void reset();
    // What a send does first: "追加" disabled, the list box hidden, the first-file button
    // enabled; the list itself is kept for the send.
    void resetForSend();
    // A file dropped onto the window: added as if chosen with the first-file button or
    // "追加". False (and the user told) when the path cannot go into the list.
    bool addDroppedFile(const QString& path);

    // The rectangle the list box covers, in twips.
    static QRect listRectTwips(Window kind);
    // A path that can be carried by the comma-separated list: not empty and without a line
    // break (a comma is quoted).
    static bool fitsInList(const QString& path);

private:
    // Adds a chosen path: replaces the list (first) or appends to it (further).
    bool add(const QString& path, bool first);

    QWidget* m_window;
    Window m_kind;
    QLineEdit* m_attachText = nullptr;
    QPushButton* m_attachCommand = nullptr;
    QPushButton* m_command9 = nullptr;
    QPushButton* m_command10 = nullptr;
    QListWidget* m_list2 = nullptr;
};

} // namespace kiku
