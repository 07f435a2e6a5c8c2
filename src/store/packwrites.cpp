#include "store/packwrites.h"

#include "store/fileops.h"

#include <QThread>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

namespace kiku {

namespace {

constexpr qint64 kWriteBackStep = 1024 * 1024;
// Beyond the message being written: enough to ride out a slow write, little next to what a
// receive run holds anyway.
constexpr qint64 kMaxQueued = 8 * 1024 * 1024;
// Smaller messages go to the thread together: one wake-up and one large write rather than a
// thousand small ones.
constexpr qint64 kHandOver = 1024 * 1024;
// Writes past the page cache go in whole blocks from aligned memory: 4 KB suits every disk.
constexpr qint64 kBlock = 4096;
constexpr qint64 kStageSize = 2 * 1024 * 1024;

qint64 wholeBlocks(qint64 size) {
    return size & ~(kBlock - 1);
}

int lastError() {
    return errno ? errno : EIO;
}

struct FreeMemory {
    void operator()(char* p) const { std::free(p); }
};

} // namespace

int PageCacheWrites::write(FileOps& ops, const char* data, qint64 size, qint64 offset) {
    if (ops.pwrite(m_fd, data, size, offset) != size)
        return lastError();
    const qint64 end = offset + size;
    if (end - m_writtenBack >= kWriteBackStep) {
        ops.startWriteBack(m_fd, m_writtenBack, end - m_writtenBack);
        m_writtenBack = end;
    }
    return 0;
}

// On the writer thread: the bytes are copied into an aligned buffer, which goes past the page
// cache (O_DIRECT) a whole number of blocks at a time; the last block goes padded, and the
// file is then cut to the end of the data. Where the file system refuses (EINVAL: tmpfs, some
// network file systems) or a write does not follow on from the one before, the rest goes
// through the page cache.
class StagedWrites {
public:
    StagedWrites(FileOps& ops, int fd, const QByteArray& path, qint64 from)
        : m_ops(ops), m_fd(fd), m_pageCache(fd), m_stageAt(from) {
        if (from % kBlock != 0)
            return;
        m_stage.reset(static_cast<char*>(std::aligned_alloc(kBlock, kStageSize)));
        if (m_stage)
            m_directFd = ops.open(path.constData(), O_WRONLY | O_DIRECT);
    }
    ~StagedWrites() { closeDirect(); }
    StagedWrites(const StagedWrites&) = delete;
    StagedWrites& operator=(const StagedWrites&) = delete;

    int write(const char* data, qint64 size, qint64 offset) {
        if (m_directFd >= 0 && offset != m_stageAt + m_staged) {
            if (const int error = fallBack())
                return error;
        }
        while (m_directFd >= 0 && size > 0) {
            const qint64 n = qMin(size, kStageSize - m_staged);
            std::memcpy(m_stage.get() + m_staged, data, size_t(n));
            m_staged += n;
            data += n;
            offset += n;
            size -= n;
            if (m_staged == kStageSize) {
                if (const int error = writeStage(kStageSize))
                    return error;
            }
        }
        return size > 0 ? m_pageCache.write(m_ops, data, size, offset) : 0;
    }

    // The whole blocks staged: done while the caller fetches the next message.
    int writeBlocks() {
        return m_directFd >= 0 && m_staged >= kBlock ? writeStage(wholeBlocks(m_staged)) : 0;
    }

    // What is staged, the last block padded with zeros, then the file cut to the data's end.
    int finish() {
        if (m_directFd < 0 || m_staged == 0) {
            closeDirect();
            return 0;
        }
        const qint64 end = m_stageAt + m_staged;
        const qint64 padded = wholeBlocks(m_staged + kBlock - 1);
        std::memset(m_stage.get() + m_staged, 0, size_t(padded - m_staged));
        int error = writeStage(padded);
        if (!error && m_ops.ftruncate(m_fd, end) < 0)
            error = lastError();
        closeDirect();
        return error;
    }

private:
    // The first `size` bytes of the stage (whole blocks, or the padded end), past the cache.
    int writeStage(qint64 size) {
        if (m_ops.pwrite(m_directFd, m_stage.get(), size, m_stageAt) != size)
            return errno == EINVAL ? fallBack() : lastError();
        const qint64 rest = qMax<qint64>(m_staged - size, 0);
        std::memmove(m_stage.get(), m_stage.get() + size, size_t(rest));
        m_stageAt += size;
        m_staged = rest;
        return 0;
    }

    // From here on through the page cache, starting with what is staged.
    int fallBack() {
        closeDirect();
        const int error =
            m_staged > 0 ? m_pageCache.write(m_ops, m_stage.get(), m_staged, m_stageAt) : 0;
        m_staged = 0;
        return error;
    }

    void closeDirect() {
        if (m_directFd >= 0)
            m_ops.close(m_directFd);
        m_directFd = -1;
    }

    FileOps& m_ops;
    const int m_fd;
    int m_directFd = -1;
    PageCacheWrites m_pageCache;
    std::unique_ptr<char, FreeMemory> m_stage;
    qint64 m_stageAt; // the file offset of m_stage's first byte
    qint64 m_staged = 0;
};

PackWrites::PackWrites(int fd, QByteArray path) : m_fd(fd), m_path(std::move(path)), m_atOnce(fd) {}

PackWrites::~PackWrites() {
    if (m_thread) {
        {
            QMutexLocker lock(&m_mutex);
            m_stop = true;
            m_jobs.clear();
            m_changed.wakeAll();
        }
        m_thread->wait();
    }
    m_staged.reset();
}

int PackWrites::write(FileOps& ops, const QByteArray& bytes, qint64 offset) {
    QMutexLocker lock(&m_mutex);
    if (m_failed)
        return m_failed;
    if (&ops != m_threadOps || !ops.threadSafe()) {
        // Another FileOps from here on: what the thread holds goes through the old one first.
        if (drain(lock))
            return m_failed;
        m_threadOps = nullptr;
        if (!ops.threadSafe()) {
            lock.unlock();
            return m_atOnce.write(ops, bytes.constData(), bytes.size(), offset);
        }
        m_threadOps = &ops;
        m_staged = std::make_unique<StagedWrites>(ops, m_fd, m_path, offset);
    }
    if (!m_thread) {
        m_thread.reset(QThread::create([this] { run(); }));
        m_thread->start();
    }
    if (!m_batch.parts.isEmpty() && offset != m_batch.offset + m_batch.size)
        handOver();
    if (m_batch.parts.isEmpty())
        m_batch.offset = offset;
    m_batch.parts.append(bytes);
    m_batch.size += bytes.size();
    return m_batch.size >= kHandOver ? handOver() : 0;
}

int PackWrites::handOver() {
    while (m_queued > 0 && m_queued + m_batch.size > kMaxQueued && !m_failed)
        m_changed.wait(&m_mutex);
    const qint64 size = m_batch.size;
    if (!m_failed) {
        m_queued += size;
        m_jobs.enqueue(std::move(m_batch));
        m_changed.wakeAll();
    }
    m_batch = {};
    // A message larger than the queue is waited for: held by the thread while the next one
    // arrives, it would add up to its own size to the run's peak memory.
    while (size > kMaxQueued && (m_busy || !m_jobs.isEmpty()) && !m_failed)
        m_changed.wait(&m_mutex);
    return m_failed;
}

int PackWrites::finish() {
    QMutexLocker lock(&m_mutex);
    return drain(lock);
}

int PackWrites::drain(QMutexLocker<QMutex>&) {
    if (!m_batch.parts.isEmpty())
        handOver();
    while (m_busy || !m_jobs.isEmpty())
        m_changed.wait(&m_mutex);
    // The thread is idle: its writer is ours until the next job.
    if (m_staged) {
        if (!m_failed)
            m_failed = m_staged->finish();
        m_staged.reset();
    }
    return m_failed;
}

void PackWrites::run() {
    QMutexLocker lock(&m_mutex);
    for (;;) {
        while (m_jobs.isEmpty() && !m_stop)
            m_changed.wait(&m_mutex);
        if (m_stop)
            return;
        const Job job = m_jobs.dequeue();
        m_busy = true;
        lock.unlock();
        int error = 0;
        qint64 at = job.offset;
        for (const QByteArray& part : job.parts) {
            if (!error)
                error = m_staged->write(part.constData(), part.size(), at);
            at += part.size();
        }
        lock.relock();
        m_queued -= job.size;
        m_changed.wakeAll();
        if (!error && m_jobs.isEmpty()) {
            // Nothing more for now: the whole blocks go while the caller fetches the next.
            lock.unlock();
            error = m_staged->writeBlocks();
            lock.relock();
        }
        m_busy = false;
        if (error) {
            m_failed = error;
            m_jobs.clear(); // nothing after a failure: the pack cannot be whole
            m_queued = 0;
        }
        m_changed.wakeAll();
    }
}

} // namespace kiku
