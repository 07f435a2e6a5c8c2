#pragma once

#include <QList>
#include <QWidget>

#include <memory>
#include <type_traits>
#include <typeindex>
#include <typeinfo>

namespace kiku {

// The program's windows, one instance of each type. A window is created on first use, and
// its constructor is its load step (it fills its fields from its files). Windows delete
// themselves when closed, so a closed window is forgotten and the next use creates it afresh
// from its files; a window only touched stays hidden until something shows it.
//
// Windows read each other's fields through here (the receive cycle reads the account
// window's boxes), which is why a touched window must not be shown.
class Forms {
public:
    // The open (possibly hidden) window of type T, created hidden when there is none.
    template <class T> static T* touch() {
        static_assert(std::is_base_of_v<QWidget, T>, "Forms holds windows");
        if (QWidget* open = find(typeid(T)))
            return static_cast<T*>(open);
        auto window = std::make_unique<T>();
        window->setAttribute(Qt::WA_DeleteOnClose);
        // From here the window owns itself: closing it deletes it, closeAll() closes it.
        T* created = window.release();
        remember(typeid(T), created);
        return created;
    }

    // touch<T>(), then shown modeless; a window that is already open is brought to the front
    // and activated as it stands (its fields are not reloaded).
    template <class T> static T* show() {
        T* window = touch<T>();
        present(window);
        return window;
    }

    // The open window of type T, or nullptr; never creates one.
    template <class T> static T* existing() { return static_cast<T*>(find(typeid(T))); }

    // Every open window, hidden ones included.
    static QList<QWidget*> openWindows();

    // Closes every open window except `except` (the main window closing itself). Windows
    // are deleted on the next pass of the event loop, so a caller inside one of them is safe.
    static void closeAll(const QWidget* except = nullptr);

private:
    static QWidget* find(std::type_index type);
    static void remember(std::type_index type, QWidget* window);
    static void present(QWidget* window);
};

} // namespace kiku
