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
