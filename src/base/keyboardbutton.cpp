#include "base/keyboardbutton.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QShortcut>

namespace kiku {

namespace {

// What a screen reader sees of a picture button's caption: a button, named by the label's
// accessible name, whose press action presses it.
class PictureButtonAccessible : public QAccessibleWidget {
public:
    explicit PictureButtonAccessible(QWidget* caption)
        : QAccessibleWidget(caption, QAccessible::Button) {}

    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action != pressAction())
            return QAccessibleWidget::doAction(action);
        if (KeyboardButton* button = KeyboardButton::of(widget()))
            button->press();
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.focusable = true;
        return s;
    }
};

// A plain frame while the caption has the focus; the transparent one keeps the caption's
// text where it is when the focus comes and goes.
const QString kFocusFrame =
    QStringLiteral("QLabel { border: 2px solid transparent; border-radius: 3px; }"
                   "QLabel:focus { border: 2px solid #1a5fb4; }");

} // namespace

KeyboardButton::KeyboardButton(QLabel* caption, const QString& hint, const QKeySequence& shortcut,
                               std::function<void()> press)
    : QObject(caption), m_caption(caption), m_press(std::move(press)) {
    setObjectName(QStringLiteral("KeyboardButton"));
    caption->setFocusPolicy(Qt::StrongFocus);
    caption->setStyleSheet(kFocusFrame);
    caption->installEventFilter(this);
    describe(caption, withShortcut(hint, shortcut));
    caption->setAccessibleName(nameFromHint(hint));
    // Registered for the label before anyone asks, so that this, not the plain text a label
    // shows, is what screen readers get; it goes when the label goes.
    QAccessible::registerAccessibleInterface(new PictureButtonAccessible(caption));
    if (!shortcut.isEmpty()) {
        m_shortcut = new QShortcut(shortcut, caption);
        m_shortcut->setContext(Qt::WindowShortcut);
        connect(m_shortcut, &QShortcut::activated, this, &KeyboardButton::press);
    }
}

QString KeyboardButton::withShortcut(const QString& hint, const QKeySequence& shortcut) {
    if (shortcut.isEmpty())
        return hint;
    return hint + QStringLiteral("（") + shortcut.toString(QKeySequence::NativeText) +
           QStringLiteral("）");
}

QString KeyboardButton::nameFromHint(const QString& hint) {
    QString name = hint;
    const qsizetype end = name.indexOf(QChar(0x3002)); // "。"
    if (end >= 0)
        name.truncate(end);
    name.remove(QChar(0x25A0)); // "■"
    return name.trimmed();
}

void KeyboardButton::describe(QWidget* control, const QString& hint) {
    control->setAccessibleName(nameFromHint(hint));
    control->setAccessibleDescription(hint);
}

KeyboardButton* KeyboardButton::of(const QWidget* caption) {
    return caption ? caption->findChild<KeyboardButton*>(QStringLiteral("KeyboardButton"),
                                                         Qt::FindDirectChildrenOnly)
                   : nullptr;
}

void KeyboardButton::press() {
    if (!m_caption->isEnabled() || !m_press)
        return;
    // Copied: the press may run the event loop (the animation) and this object may go.
    const std::function<void()> run = m_press;
    run();
}

bool KeyboardButton::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_caption && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool pressKey = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                              key->key() == Qt::Key_Space;
        const auto modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if (pressKey && modifiers == Qt::NoModifier) {
            // Holding the key down is one press, not a stream of them.
            if (!key->isAutoRepeat())
                press();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kiku
