#include "base/pictures.h"

#include "base/paths.h"
#include "base/pause.h"

#include <QEvent>
#include <QLabel>
#include <QPixmap>
#include <QPointer>

namespace kiku {

QString dataPicture(const char* file) {
    return QStringLiteral("\\Data\\") + QLatin1String(file);
}

void showPicture(QLabel* picture, const QString& relativeFile) {
    picture->setPixmap(QPixmap(ProgramFolder::resolve(relativeFile)));
}

void pressPicture(QLabel* picture, const QString& pressedFile, const QString& restingFile) {
    QPointer<QLabel> guard(picture);
    showPicture(picture, pressedFile);
    Pause::wait(100);
    if (guard)
        showPicture(picture, restingFile);
}

namespace {
const char kPressing[] = "kikuPressing";
}

bool beginPress(QWidget* window) {
    if (window->property(kPressing).toBool())
        return false;
    window->setProperty(kPressing, true);
    return true;
}

void endPress(QWidget* window) {
    if (window)
        window->setProperty(kPressing, false);
}

bool pressPictureButton(QWidget* window, QLabel* picture, const QString& pressedFile,
                        const QString& restingFile) {
    if (!beginPress(window))
        return false;
    const QPointer<QWidget> alive(window);
    pressPicture(picture, pressedFile, restingFile);
    if (!alive)
        return false;
    endPress(window);
    return true;
}

bool ClickTracker::isClick(QObject* watched, const QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        m_doubleClicked = nullptr;
        return false;
    case QEvent::MouseButtonDblClick:
        m_doubleClicked = watched;
        return false;
    case QEvent::MouseButtonRelease:
        if (m_doubleClicked == watched) {
            m_doubleClicked = nullptr;
            return false;
        }
        return true;
    default:
        return false;
    }
}

} // namespace kiku
