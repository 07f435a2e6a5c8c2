#include "base/windowswitch.h"

#include <QWidget>

namespace kiku {

void switchWindow(QWidget* target, QWidget* source) {
    target->move(source->pos());
    if (target->isMinimized())
        target->showNormal();
    else
        target->show();
    target->raise();
    target->activateWindow();
    source->hide();
}

} // namespace kiku
