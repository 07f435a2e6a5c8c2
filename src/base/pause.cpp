#include "base/pause.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cmath>

namespace kiku {

namespace {
double s_scale = 1.0;
}

void Pause::wait(int milliseconds) {
    const qint64 wanted = qint64(std::llround(std::max(0, milliseconds) * s_scale));
    QElapsedTimer clock; // monotonic: never runs backwards, never wraps in practice
    clock.start();
    QEventLoop loop;
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    QObject::connect(&wake, &QTimer::timeout, &loop, [&loop] { loop.exit(0); });
    // "More than the requested time": keep waiting until the elapsed time passes it.
    do {
        const qint64 remaining = wanted - clock.elapsed();
        if (remaining < 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            break;
        }
        wake.start(int(remaining) + 1);
        const int result = loop.exec();
        // Only our own timer ends this loop normally. Anything else is the application
        // leaving all its event loops (QCoreApplication::exit): every further exec() would
        // return at once, so waiting on would only spin. Return to the caller instead.
        if (result != 0 || wake.isActive())
            return;
    } while (clock.elapsed() <= wanted);
}

void Pause::setTimeScale(double scale) {
    s_scale = scale < 0 ? 0 : scale;
}

double Pause::timeScale() {
    return s_scale;
}

} // namespace kiku
