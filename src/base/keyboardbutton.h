#pragma once

#include <QKeySequence>
#include <QObject>
#include <QString>

#include <functional>

class QLabel;
class QShortcut;
class QWidget;

namespace kiku {

// Makes the caption label of a picture button usable without a mouse and known to screen
// readers: the label takes keyboard focus and shows it with a frame, Enter or Space presses
// it, a shortcut of its window presses it, and its accessible name, description and role
// (a button that can be pressed) come from its hover text. Every press goes to `press`, the
// function a click runs, so keyboard and mouse share the press animation and its guard.
// Owned by the label.
class KeyboardButton : public QObject {
    Q_OBJECT
public:
    KeyboardButton(QLabel* caption, const QString& hint, const QKeySequence& shortcut,
                   std::function<void()> press);

    // The hover text with the shortcut after it, as the status line shows it:
    // "新着メールの受信を行います。（Ctrl+R）".
    static QString withShortcut(const QString& hint, const QKeySequence& shortcut);
    // The hover text's first sentence, without the closing "。" and the ■ around it.
    static QString nameFromHint(const QString& hint);
    // Gives any control (a count box, a status line, a picture) the name and description
    // that the hover text says.
    static void describe(QWidget* control, const QString& hint);

    // The button made from `caption`, or nullptr.
    static KeyboardButton* of(const QWidget* caption);

    QShortcut* shortcut() const { return m_shortcut; }
    // Presses the button as a click would.
    void press();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_caption;
    QShortcut* m_shortcut = nullptr;
    std::function<void()> m_press;
};

} // namespace kiku
