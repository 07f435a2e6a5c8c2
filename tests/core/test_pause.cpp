#include "base/pause.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kiku;

TEST(Pause, WaitsAtLeastTheTimeAndKeepsTimersFiring) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    Pause::setTimeScale(1.0);

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);

    QElapsedTimer clock;
    clock.start();
    Pause::wait(120);
    EXPECT_GT(clock.elapsed(), 120);
    EXPECT_GE(ticks, 3) << "timers must keep firing during a pause";

    // A shrunk time scale makes the same pause short.
    Pause::setTimeScale(0.0);
    clock.restart();
    Pause::wait(6000);
    EXPECT_LT(clock.elapsed(), 1000);
    Pause::setTimeScale(1.0);
}

// Once the application leaves its event loops, a pause that is running and every pause
// entered afterwards return at once instead of spinning through their time.
TEST(Pause, ReturnsAtOnceWhenTheApplicationQuits) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    Pause::setTimeScale(1.0);

    qint64 runningPause = -1;
    qint64 laterPause = -1;
    QTimer::singleShot(0, &app, [&] {
        QTimer::singleShot(30, &app, [] { QCoreApplication::exit(0); });
        QElapsedTimer clock;
        clock.start();
        Pause::wait(5000); // the receive status, say
        runningPause = clock.elapsed();
        clock.restart();
        Pause::wait(3000);
        laterPause = clock.elapsed();
    });
    QElapsedTimer total;
    total.start();
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_GE(runningPause, 0);
    EXPECT_LT(runningPause, 1000);
    EXPECT_GE(laterPause, 0);
    EXPECT_LT(laterPause, 500);
    EXPECT_LT(total.elapsed(), 2000);
}
