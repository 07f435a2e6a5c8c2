// Mailbox figures: listing and deleting one message in boxes of 1,000 and 10,000
// records, beside `cat` and `cp` of the same box file measured in the same run.
//
//   bench_store [records...]       (default: 1000 10000)

#include "base/paths.h"
#include "benchsupport.h"
#include "store/fileops.h"
#include "store/mailbox.h"
#include "store/originals.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace kiku;
using kiku::bench::median;
using kiku::bench::memoryKb;
using kiku::bench::resetPeakMemory;
using kiku::bench::sampleRecord;

namespace {

constexpr int kRuns = 7;
constexpr int kDeletes = 5;

// Runs a command (no shell), stdout to /dev/null; returns its wall time in ms.
double timeCommand(const std::vector<QByteArray>& args) {
    std::vector<char*> argv;
    for (const QByteArray& a : args)
        argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    QElapsedTimer t;
    t.start();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot run %s\n", argv[0]);
        std::exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    posix_spawn_file_actions_destroy(&actions);
    return ms;
}

// Sums the wall time the store spends in each kind of file operation.
class TimingFileOps : public FileOps {
public:
    std::map<std::string, double> ms;

    template <typename F> auto timed(const char* name, F f) {
        QElapsedTimer t;
        t.start();
        auto r = f();
        ms[name] += double(t.nsecsElapsed()) / 1e6;
        return r;
    }

    int close(int fd) override {
        return timed("close", [&] { return FileOps::close(fd); });
    }
    qint64 pread(int fd, char* b, qint64 n, qint64 o) override {
        return timed("pread", [&] { return FileOps::pread(fd, b, n, o); });
    }
    int copyRange(int f, qint64 fo, int t, qint64 to, qint64 n) override {
        return timed("copy", [&] { return FileOps::copyRange(f, fo, t, to, n); });
    }
    int fsync(int fd) override {
        return timed("fsync", [&] { return FileOps::fsync(fd); });
    }
    int rename(const char* f, const char* t) override {
        return timed("rename", [&] { return FileOps::rename(f, t); });
    }
    int unlink(const char* p) override {
        return timed("unlink", [&] { return FileOps::unlink(p); });
    }
    int syncFolder(const char* p) override {
        return timed("syncFolder", [&] { return FileOps::syncFolder(p); });
    }
};

bool buildBox(const QString& path, int records) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (int i = 1; i <= records; ++i) {
        if (f.write(encodeMail(sampleRecord(i), RecordLayout::Standard)) != kMailRecordSize)
            return false;
    }
    return f.flush();
}

void run(const QString& dataFolder, int records) {
    const QString box = dataFolder + QStringLiteral("/vbmdata3.data");
    const QString copy = dataFolder + QStringLiteral("/copy.data");
    if (!buildBox(box, records)) {
        std::fprintf(stderr, "cannot build the box\n");
        std::exit(1);
    }
    const QByteArray boxPath = QFile::encodeName(box);
    const QByteArray copyPath = QFile::encodeName(copy);
    Mailbox inbox(Box::OthersInbox);

    // Warm the page cache the same way for everybody.
    timeCommand({"cat", boxPath});

    std::vector<double> cat, cp, list, del;
    for (int i = 0; i < kRuns; ++i)
        cat.push_back(timeCommand({"cat", boxPath}));
    // The disk work a crash-safe rewrite cannot avoid: a full copy, synced, and the old
    // file removed (freeing its blocks and cached pages).
    std::vector<double> cpSyncRm;
    for (int i = 0; i < kRuns; ++i) {
        cp.push_back(timeCommand({"cp", boxPath, copyPath}));
        cpSyncRm.push_back(cp.back() + timeCommand({"sync", copyPath}) +
                           timeCommand({"rm", copyPath}));
    }

    const long rssBefore = memoryKb("VmRSS:");
    const bool reset = resetPeakMemory();
    qsizetype lines = 0;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer t;
        t.start();
        const BoxListing listing = inbox.list();
        list.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!listing.result.ok) {
            std::fprintf(stderr, "%s\n", qPrintable(listing.result.error));
            std::exit(1);
        }
        lines = listing.lines.size();
    }
    const long peak = memoryKb("VmHWM:");

    // The floor of a listing: the same reads (subject, date and from of every record, which
    // lie together, then the last record) in a plain loop, with nothing decoded.
    std::vector<double> floor;
    {
        const MailLayout& l = mailLayout(RecordLayout::Standard);
        const int span = l.subject.width + l.date.width + l.from.width;
        std::vector<char> buffer(static_cast<size_t>(kMailRecordSize));
        for (int i = 0; i < kRuns; ++i) {
            QElapsedTimer t;
            t.start();
            const int fd = ::open(boxPath.constData(), O_RDONLY | O_CLOEXEC);
            for (int k = 0; k < records; ++k)
                if (::pread(fd, buffer.data(), size_t(span),
                            off_t(k) * kMailRecordSize + l.subject.offset) != span)
                    std::exit(1);
            if (::pread(fd, buffer.data(), buffer.size(), off_t(records - 1) * kMailRecordSize) !=
                kMailRecordSize)
                std::exit(1);
            ::close(fd);
            floor.push_back(double(t.nsecsElapsed()) / 1e6);
        }
    }

    TimingFileOps timing;
    for (int i = 0; i < kDeletes; ++i) {
        QElapsedTimer t;
        t.start();
        ScopedFileOps scope(timing);
        const StoreResult r = inbox.remove(2);
        del.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!r.ok) {
            std::fprintf(stderr, "%s\n", qPrintable(r.error));
            std::exit(1);
        }
    }
    // The same deletes when every record has its original: the compaction then also reads
    // every box to find the originals no record names any more.
    std::vector<double> delKept;
    {
        OriginalAppends originals;
        const StoreResult read = inbox.digests([&](const QByteArray& digest) {
            originals.add(digest, QByteArray("Subject: x\r\n\r\nx\r\n"));
        });
        if (!read.ok || !originals.commit().ok)
            std::exit(1);
    }
    for (int i = 0; i < kDeletes; ++i) {
        QElapsedTimer t;
        t.start();
        const StoreResult r = inbox.remove(2);
        delKept.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!r.ok) {
            std::fprintf(stderr, "%s\n", qPrintable(r.error));
            std::exit(1);
        }
    }
    QFile::remove(box);

    const double mb = double(records) * kMailRecordSize / 1e6;
    std::printf("\n%d records (%.1f MB), median of %d runs (delete: %d)\n", records, mb, kRuns,
                kDeletes);
    std::printf("  list (%lld lines + last record) %9.2f ms\n", qlonglong(lines), median(list));
    std::printf("  the same reads, plain loop      %9.2f ms   list / that = %.2f\n", median(floor),
                median(list) / median(floor));
    std::printf("  cat box > /dev/null             %9.2f ms   list / cat = %.2f\n", median(cat),
                median(list) / median(cat));
    std::printf("  delete record 2                 %9.2f ms\n", median(del));
    std::printf("    of which (mean):");
    for (const auto& [name, ms] : timing.ms)
        std::printf(" %s %.1f", name.c_str(), ms / kDeletes);
    std::printf(" ms\n");
    std::printf("  delete, every record's original kept %4.2f ms   that / delete = %.2f\n",
                median(delKept), median(delKept) / median(del));
    std::printf("  cp box copy                     %9.2f ms   delete / cp = %.2f\n", median(cp),
                median(del) / median(cp));
    std::printf("  cp, sync copy, rm copy          %9.2f ms   delete / that = %.2f\n",
                median(cpSyncRm), median(del) / median(cpSyncRm));
    std::printf("  listing peak memory (VmHWM)     %9ld kB   (RSS before listing %ld kB%s)\n", peak,
                rssBefore, reset ? "" : ", peak not reset: process-wide");
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {1000, 10000};

    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/bench_store-XXXXXX"));
    if (!home.isValid() || !QDir(home.path()).mkdir(QStringLiteral("★MailData")))
        return 1;
    ProgramFolder::set(home.path());
    const QString dataFolder = home.path() + QStringLiteral("/★MailData");
    std::printf("bench_store: box files in %s\n", qPrintable(dataFolder));
    for (int records : sizes)
        run(dataFolder, records);
    return 0;
}
