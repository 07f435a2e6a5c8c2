#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QQueue>
#include <QWaitCondition>
#include <memory>

class QThread;

namespace kiku {

class FileOps;
class StagedWrites;

// Writes through the page cache, each megabyte handed to the disk (FileOps::startWriteBack)
// as soon as it is written, so that the final fsync has little left to wait for.
class PageCacheWrites {
public:
    explicit PageCacheWrites(int fd) : m_fd(fd) {}
    // 0, or the errno of a failed or short write.
    int write(FileOps& ops, const char* data, qint64 size, qint64 offset);

private:
    int m_fd;
    qint64 m_writtenBack = 0; // the start of what was not yet handed to the disk
};

// The writes of one pack file, each at its own offset, in the order they are handed over.
//
// Where the FileOps in use may be called from another thread (FileOps::threadSafe) the
// writes go to a thread of their own, which copies them into an aligned buffer and writes
// that past the page cache (O_DIRECT, see StagedWrites): the caller goes on with the next
// message, and neither it nor the kernel spends time filling the page cache and writing it
// back. Elsewhere (a test's fake) each write goes through the page cache before write()
// returns, exactly as the fake expects it. A FileOps handed to the thread must outlive
// finish() or the destructor.
//
// Messages smaller than a megabyte are gathered and handed over together. A failure on the
// thread is known only afterwards: from then on write() and finish() report it, and the
// thread writes nothing more. The bytes of a message stay in memory until they are written;
// write() waits while more than a few megabytes are queued.
class PackWrites {
public:
    // `path` names the file open at `fd`, for the thread's own descriptor.
    PackWrites(int fd, QByteArray path);
    // Drops what is queued and waits for the write in progress: the file may be closed then.
    ~PackWrites();
    PackWrites(const PackWrites&) = delete;
    PackWrites& operator=(const PackWrites&) = delete;

    // Writes `bytes` at `offset` through `ops`, or hands them to the thread. 0, or the errno
    // of this write (done at once) or of an earlier one on the thread.
    int write(FileOps& ops, const QByteArray& bytes, qint64 offset);
    // Waits until every write handed to the thread is done and the file ends where the last
    // one did: 0 or the first failure's errno.
    int finish();

private:
    struct Job {
        QList<QByteArray> parts; // one after the other from `offset`
        qint64 offset = 0;
        qint64 size = 0;
    };
    int handOver();
    int drain(QMutexLocker<QMutex>& lock);
    void run();

    const int m_fd;
    const QByteArray m_path;
    PageCacheWrites m_atOnce; // the writes done before write() returns
    std::unique_ptr<QThread> m_thread;
    QMutex m_mutex; // guards what follows
    QWaitCondition m_changed;
    FileOps* m_threadOps = nullptr;
    std::unique_ptr<StagedWrites> m_staged; // the thread's, or the caller's while it is idle
    Job m_batch;                            // gathered until it is worth waking the thread
    QQueue<Job> m_jobs;
    qint64 m_queued = 0; // bytes in m_jobs
    bool m_busy = false; // the thread is writing a job it took
    bool m_stop = false;
    int m_failed = 0; // errno of the thread's first failure
};

} // namespace kiku
