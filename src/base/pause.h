#pragma once

namespace kiku {

// The shared pause routine: waits the given number of milliseconds on a monotonic clock
// while the event loop keeps running, so every window repaints, takes input and its timers
// fire. It sleeps in the event loop rather than spinning, so it costs no CPU. When the
// application is leaving its event loops (QCoreApplication::exit) a pause returns at once,
// however much of its time is left.
class Pause {
public:
    static void wait(int milliseconds);

    // Tests shrink every pause by a factor (0.0 makes a pause a single pass through the
    // event loop). 1.0 is real time.
    static void setTimeScale(double scale);
    static double timeScale();
};

} // namespace kiku
