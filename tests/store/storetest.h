#pragma once

#include "base/paths.h"
#include "store/fileops.h"
#include "store/mailbox.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <cerrno>
#include <functional>
#include <gtest/gtest.h>

namespace kiku::test {

// The path of a data-folder file ("vbmdata3.data") in the current program folder.
inline QString dataFile(const QString& name) {
    return ProgramFolder::resolve(QStringLiteral("\\★MAilData\\") + name);
}

inline QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray boxBytes(Box box) {
    return readBytes(dataFile(QString::fromLatin1(boxInfo(box).fileName)));
}

inline bool boxExists(Box box) {
    return QFile::exists(dataFile(QString::fromLatin1(boxInfo(box).fileName)));
}

// A message whose fields say which one it is.
inline MailRecord sampleMail(int i) {
    MailRecord r;
    r.subject = QStringLiteral("件名 %1").arg(i);
    r.date = QStringLiteral("Mon, %1 Jan 2024 10:00:00 +0900").arg(i);
    r.from = QStringLiteral("sender%1@example.jp").arg(i);
    r.body = QStringLiteral("本文 %1\r\n二行目").arg(i);
    return r;
}

// The bytes of records built from sampleMail(i) for the given i, in order.
inline QByteArray sampleBytes(std::initializer_list<int> which, RecordLayout layout,
                              qint16 live = 1) {
    QByteArray out;
    for (int i : which) {
        MailRecord r = sampleMail(i);
        r.live = live;
        out += encodeMail(r, layout);
    }
    return out;
}

// FileOps that fails chosen calls with EIO: only the call numbered `failAt` (a single
// fault the code must recover from), or that call and every later one (the process
// dying at that point: nothing it tries afterwards reaches the disk). failAt 0 never
// fails and just counts.
class FaultyFileOps : public FileOps {
public:
    enum class Mode { FailOne, FailFromThenOn };
    FaultyFileOps(int failAt = 0, Mode mode = Mode::FailOne) : m_failAt(failAt), m_mode(mode) {}

    int calls() const { return m_calls; }
    // The calls made so far, by name; the failing one carries a "!".
    const QStringList& log() const { return m_log; }

    int open(const char* path, int flags, int mode) override {
        return hit("open") ? -1 : FileOps::open(path, flags, mode);
    }
    int close(int fd) override {
        if (hit("close")) {
            FileOps::close(fd); // no descriptor leaks out of the test
            errno = EIO;
            return -1;
        }
        return FileOps::close(fd);
    }
    qint64 pread(int fd, char* b, qint64 n, qint64 o) override {
        return hit("pread") ? -1 : FileOps::pread(fd, b, n, o);
    }
    qint64 pwrite(int fd, const char* d, qint64 n, qint64 o) override {
        return hit("pwrite") ? -1 : FileOps::pwrite(fd, d, n, o);
    }
    int copyRange(int f, qint64 fo, int t, qint64 to, qint64 n) override {
        return hit("copyRange") ? -1 : FileOps::copyRange(f, fo, t, to, n);
    }
    int fsync(int fd) override { return hit("fsync") ? -1 : FileOps::fsync(fd); }
    int ftruncate(int fd, qint64 n) override {
        return hit("ftruncate") ? -1 : FileOps::ftruncate(fd, n);
    }
    int punchHole(int fd, qint64 o, qint64 n) override {
        return hit("punchHole") ? -1 : FileOps::punchHole(fd, o, n);
    }
    int fileSize(int fd, qint64* s) override {
        return hit("fileSize") ? -1 : FileOps::fileSize(fd, s);
    }
    int exists(const char* p, bool* e) override {
        return hit("exists") ? -1 : FileOps::exists(p, e);
    }
    int rename(const char* f, const char* t) override {
        return hit("rename") ? -1 : FileOps::rename(f, t);
    }
    int unlink(const char* p) override { return hit("unlink") ? -1 : FileOps::unlink(p); }
    int syncFolder(const char* p) override {
        return hit("syncFolder") ? -1 : FileOps::syncFolder(p);
    }
    int makeFolder(const char* p) override {
        return hit("makeFolder") ? -1 : FileOps::makeFolder(p);
    }
    int listFolder(const char* p, QList<QByteArray>* names) override {
        return hit("listFolder") ? -1 : FileOps::listFolder(p, names);
    }

private:
    bool hit(const char* name) {
        ++m_calls;
        const bool fail =
            m_failAt > 0 && (m_mode == Mode::FailOne ? m_calls == m_failAt : m_calls >= m_failAt);
        m_log << QString::fromLatin1(name) + (fail ? QStringLiteral("!") : QString());
        if (fail)
            errno = EIO;
        return fail;
    }

    int m_failAt;
    Mode m_mode;
    int m_calls = 0;
    QStringList m_log;
};

// One operation checked against a fault at every file operation it makes.
struct FaultScenario {
    std::function<void()> setup;         // writes the files the operation starts from
    std::function<StoreResult()> action; // the operation
    std::function<QByteArray()> state;   // the files as the next open sees them
    QByteArray before;                   // state() when nothing happened
    QByteArray after;                    // state() when the operation took effect
    // A failure reported after the data was already synced (a failing close) may leave
    // the operation done; allowed for appends, whose callers only ever retry.
    bool failureMayHaveTakenEffect = false;
    // Also simulate the process dying at each call (every later call fails).
    bool crashes = true;
};

// Runs the scenario once to count its file operations, then once per operation with a
// fault there. Each run happens in a fresh program folder made by `makeHome`.
template <typename Home> void runFaultMatrix(const FaultScenario& s) {
    int total = 0;
    {
        Home home;
        s.setup();
        FaultyFileOps counter;
        StoreResult r;
        {
            ScopedFileOps scope(counter);
            r = s.action();
        }
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        EXPECT_EQ(s.state(), s.after);
        total = counter.calls();
        ASSERT_GT(total, 0);
    }
    using Mode = FaultyFileOps::Mode;
    for (Mode mode : {Mode::FailOne, Mode::FailFromThenOn}) {
        if (mode == Mode::FailFromThenOn && !s.crashes)
            continue;
        for (int i = 1; i <= total; ++i) {
            Home home;
            s.setup();
            FaultyFileOps faulty(i, mode);
            StoreResult r;
            {
                ScopedFileOps scope(faulty);
                r = s.action();
            }
            SCOPED_TRACE(QStringLiteral("%1 fault at call %2: %3")
                             .arg(mode == Mode::FailOne ? "single" : "crash")
                             .arg(i)
                             .arg(faulty.log().join(QLatin1Char(' ')))
                             .toStdString());
            const QByteArray state = s.state();
            if (r.ok) {
                EXPECT_EQ(state, s.after);
            } else {
                EXPECT_FALSE(r.error.isEmpty());
                const bool allowAfter = mode == Mode::FailFromThenOn || s.failureMayHaveTakenEffect;
                EXPECT_TRUE(state == s.before || (allowAfter && state == s.after))
                    << r.error.toStdString();
            }
            // Whatever happened, the files are usable again at once.
            if (state == s.before) {
                const StoreResult again = s.action();
                EXPECT_TRUE(again.ok) << again.error.toStdString();
                EXPECT_EQ(s.state(), s.after);
            }
        }
    }
}

} // namespace kiku::test
