#pragma once

#include "base/forms.h"
#include "temphome.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPointer>
#include <QtTest>

// Helpers of the window tests (QtTest, offscreen): finding controls, typing and clicking
// as a user does, and leaving no window behind.
namespace kiku::test {

// Deletes what deleteLater() queued (closed windows), as the event loop would.
inline void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Closes every window of the registry and deletes them: the next test starts with none.
inline void closeAllWindows() {
    Forms::closeAll();
    flushDeletes();
}

// Whether the window has closed and is gone.
inline bool isClosed(const QPointer<QWidget>& window) {
    flushDeletes();
    return window.isNull();
}

// A window's control by its object name; a missing one stops the run with its name.
template <class T> T* child(QWidget* window, const char* name) {
    T* found = window->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

// Replaces a box's text by typing, the way a user edits it.
inline void retype(QLineEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    for (const QChar c : text) {
        // keyClicks only knows ASCII keys; Japanese arrives as text, as from an input method.
        if (c.unicode() < 0x80)
            QTest::keyClick(box, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// Clicks a check box on its indicator, where a user aims.
inline void clickBox(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

// A saved account (ID, password, "save" ticked), so start-up does not ask for one.
inline void writeAccount(const TempHome& home, const QByteArray& id, const QByteArray& password) {
    home.writeFile(QStringLiteral("\\★MailData\\iniIdPass.ini"),
                   "[EXEINI]\r\nNAME=" + id + "\r\nNAME2=" + password + "\r\nNAME3=1\r\n");
}

} // namespace kiku::test
