#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace kiku {

// A second thread for work that needs no files and no windows: jobs run one after the other
// in the order given, and their results are taken back in that order. The jobs must own
// what they work on (a QByteArray copy shares its bytes safely between threads).
//
// The destructor drops the jobs not yet started, waits for the running one and ends the
// thread, so nothing outlives the worker.
template <class Result> class OrderedWorker {
public:
    OrderedWorker() : m_thread([this] { run(); }) {}
    ~OrderedWorker() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_queue.clear();
        }
        m_wake.notify_one();
        m_thread.join();
    }
    OrderedWorker(const OrderedWorker&) = delete;
    OrderedWorker& operator=(const OrderedWorker&) = delete;

    void submit(std::function<Result()> job) {
        std::packaged_task<Result()> task(std::move(job));
        m_results.push_back(task.get_future());
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(task));
        }
        m_wake.notify_one();
    }
    // Jobs submitted whose results were not taken yet.
    int pending() const { return int(m_results.size()); }
    // The result of the oldest job not taken yet, waiting for it when it is still running.
    Result take() {
        std::future<Result> oldest = std::move(m_results.front());
        m_results.pop_front();
        return oldest.get();
    }

private:
    void run() {
        for (;;) {
            std::packaged_task<Result()> task;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
                if (m_stopping)
                    return;
                task = std::move(m_queue.front());
                m_queue.pop_front();
            }
            task();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::packaged_task<Result()>> m_queue; // guarded by m_mutex
    bool m_stopping = false;                          // guarded by m_mutex
    std::deque<std::future<Result>> m_results;        // the submitting thread's alone
    std::thread m_thread;                             // last: starts once the rest is made
};

} // namespace kiku
