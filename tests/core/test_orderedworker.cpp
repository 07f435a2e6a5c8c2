#include "base/orderedworker.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace kiku;

// Results come back in the order the jobs were given, however long each one takes, and the
// jobs run on a thread of their own.
TEST(OrderedWorker, ResultsComeBackInOrderFromAnotherThread) {
    OrderedWorker<int> worker;
    const std::thread::id here = std::this_thread::get_id();
    std::atomic<int> elsewhere{0};
    for (int i = 0; i < 50; ++i) {
        worker.submit([i, here, &elsewhere] {
            if (i % 7 == 0) // some slower than the ones after them
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (std::this_thread::get_id() != here)
                ++elsewhere;
            return i * i;
        });
    }
    EXPECT_EQ(worker.pending(), 50);
    std::vector<int> results;
    while (worker.pending() > 0)
        results.push_back(worker.take());
    ASSERT_EQ(results.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(results[size_t(i)], i * i);
    EXPECT_EQ(elsewhere.load(), 50);
}

// A worker given up early (an export cancelled or failed) runs none of the jobs still
// waiting, finishes the one it is in and ends before anything it was given goes away.
TEST(OrderedWorker, EndingDropsTheWaitingJobsAndWaitsForTheRunningOne) {
    std::atomic<int> started{0};
    std::atomic<bool> runningOneFinished{false};
    {
        OrderedWorker<int> worker;
        worker.submit([&] {
            ++started;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            runningOneFinished = true;
            return 0;
        });
        while (started.load() == 0)
            std::this_thread::yield();
        for (int i = 0; i < 10; ++i)
            worker.submit([&] { return ++started; });
    }
    EXPECT_TRUE(runningOneFinished.load());
    EXPECT_EQ(started.load(), 1);
}
