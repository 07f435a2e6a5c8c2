#include "base/forms.h"

#include <QPointer>

#include <map>

namespace kiku {

namespace {
std::map<std::type_index, QPointer<QWidget>>& registry() {
    static std::map<std::type_index, QPointer<QWidget>> s_windows;
    return s_windows;
}

// A closed window lives on until the event loop deletes it; Qt takes WA_DeleteOnClose off
// it when the close is accepted, which is how a window on its way out is told from an
// open one. Handing that one out would give the caller a window about to vanish.
bool isOpen(const QPointer<QWidget>& window) {
    return window && window->testAttribute(Qt::WA_DeleteOnClose);
}
} // namespace

QWidget* Forms::find(std::type_index type) {
    auto& windows = registry();
    const auto it = windows.find(type);
    if (it == windows.end())
        return nullptr;
    if (!isOpen(it->second)) {
        windows.erase(it);
        return nullptr;
    }
    return it->second.data();
}

void Forms::remember(std::type_index type, QWidget* window) {
    registry()[type] = window;
}

void Forms::present(QWidget* window) {
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

QList<QWidget*> Forms::openWindows() {
    QList<QWidget*> open;
    for (const auto& [type, window] : registry()) {
        if (isOpen(window))
            open.append(window.data());
    }
    return open;
}

void Forms::closeAll(const QWidget* except) {
    QList<QPointer<QWidget>> windows;
    for (QWidget* window : openWindows())
        windows.append(window);
    for (const QPointer<QWidget>& guard : std::as_const(windows)) {
        // A window may have closed others while closing (the main window does).
        if (guard.data() == except || !isOpen(guard))
            continue;
        guard->close();
        // A window that refuses to close still goes: the program is ending.
        if (isOpen(guard)) {
            guard->hide();
            guard->deleteLater();
            guard->setAttribute(Qt::WA_DeleteOnClose, false);
        }
    }
    auto& open = registry();
    for (auto it = open.begin(); it != open.end();) {
        if (it->second.data() == except && isOpen(it->second))
            ++it;
        else
            it = open.erase(it);
    }
}

} // namespace kiku
