#include "base/pictures.h"

#include "base/paths.h"
#include "base/pause.h"

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

} // namespace kiku
