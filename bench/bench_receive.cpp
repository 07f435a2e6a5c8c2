// The whole receive cycle (account saved, every message fetched, attachments written,
// sorted, partner mail counted, records stored and made durable, deleted on the server)
// side by side with mpop fetching the same messages from the same local Dovecot into a
// maildir, for three kinds of mail:
//
//   small   1,000 messages of about 1.3 KB
//   text    1,000 messages of 50 KB ISO-2022-JP text
//   attach    100 messages with a 1 MB attachment each
//   large       2 messages with a 48 MB attachment each (about 66 MB as sent), for peak memory
//
// A third side is the cycle with the writes of the originals sent nowhere, for what keeping
// them costs. Each repetition loads the messages, flushes the disk (sync), then runs one
// side; the side that goes first rotates. All start from empty folders every time. Printed:
// the median and every time, the ratio of the medians, the receive cycle's peak memory
// beside the largest message, and whether every repetition left the same bytes behind.
//
//   bench_receive [--reps N] [small] [text] [attach] [large]     (default: 5 repetitions, all four)
//   bench_receive hostile    the reader alone on messages built to stall or crash it
#include "base/paths.h"
#include "benchsupport.h"
#include "core/receivecycle.h"
#include "dovecotserver.h"
#include "maillib/mimereader.h"
#include "maillib/nmail.h"
#include "plainreceivehost.h"
#include "receivecorpus.h"
#include "store/fileops.h"
#include "store/mailbox.h"
#include "store/originals.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace kiku;
using namespace kiku::bench;
using kiku::test::DovecotServer;
namespace corpus = kiku::test::corpus;

namespace {

struct Scenario {
    const char* key;
    const char* title;
    int count;
    std::function<QByteArray(int)> message;
};

// Every tenth message comes from the partner.
QString senderOf(int i) {
    return i % 10 == 0 ? corpus::kPartner : QStringLiteral("sender%1@example.jp").arg(i);
}

const std::vector<Scenario>& scenarios() {
    static const std::vector<Scenario> all{
        {"small", "1,000 small messages (about 1.3 KB)", 1000,
         [](int i) { return corpus::smallMessage(i, senderOf(i)); }},
        {"text", "1,000 messages of 50 KB ISO-2022-JP text", 1000,
         [](int i) { return corpus::japaneseTextMessage(i, senderOf(i)); }},
        {"attach", "100 messages with a 1 MB attachment", 100,
         [](int i) { return corpus::attachmentMessage(i, senderOf(i)); }},
        {"large", "2 messages with a 48 MB attachment", 2,
         [](int i) { return corpus::attachmentMessage(i, senderOf(i), 48 << 20); }},
    };
    return all;
}

// One digest of every file a run left in the program folder, names included (but for the
// packs of originals, named by the time they were made).
QByteArray digestOfFolder(const QString& folder) {
    QStringList names;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        names << it.next();
    names.sort();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString& name : names) {
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString relative = QDir(folder).relativeFilePath(name);
        hash.addData(relative.endsWith(QLatin1String(".pack")) ? QByteArray("pack")
                                                               : relative.toUtf8());
        hash.addData(&file);
    }
    return hash.result().toHex().left(16);
}

// A program folder as a user has it, empty.
void emptyHome(const QString& path) {
    QDir(path).removeRecursively();
    for (const char* folder : {"★MailData", "添付フォルダ"})
        QDir(path).mkpath(QString::fromUtf8(folder));
}

// Processor time of this process so far (user and system), in seconds.
double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Turns every write into the originals folder into a write to nowhere, so that a run shows
// what keeping the originals costs the cycle.
class OriginalsOff : public FileOps {
public:
    explicit OriginalsOff(QByteArray folder) : m_folder(std::move(folder)) {}
    int open(const char* path, int flags, int mode) override {
        if (!inFolder(path))
            return FileOps::open(path, flags, mode);
        const int fd = FileOps::open("/dev/null", O_WRONLY);
        m_nowhere.insert(fd);
        return fd;
    }
    int close(int fd) override {
        m_nowhere.remove(fd);
        return FileOps::close(fd);
    }
    int fsync(int fd) override { return m_nowhere.contains(fd) ? 0 : FileOps::fsync(fd); }
    void startWriteBack(int fd, qint64 offset, qint64 length) override {
        if (!m_nowhere.contains(fd))
            FileOps::startWriteBack(fd, offset, length);
    }
    int exists(const char* path, bool* there) override {
        if (!inFolder(path))
            return FileOps::exists(path, there);
        *there = m_folder == path;
        return 0;
    }
    int rename(const char* from, const char* to) override {
        return inFolder(from) ? 0 : FileOps::rename(from, to);
    }
    int syncFolder(const char* path) override {
        return inFolder(path) ? 0 : FileOps::syncFolder(path);
    }

private:
    bool inFolder(const char* path) const { return QByteArray(path).startsWith(m_folder); }
    QByteArray m_folder;
    QSet<int> m_nowhere;
};

struct CycleRun {
    double seconds = 0;
    double cpu = 0;
    int stored = 0;
    qint64 peakGrowthKiB = 0;
    QByteArray digest;
};

CycleRun runCycle(const DovecotServer& server, const QString& home, bool keepOriginals) {
    CycleRun run;
    ProgramFolder::set(home);
    OriginalsOff nowhere(QFile::encodeName(Originals::folder()));
    std::optional<ScopedFileOps> originalsOff;
    if (!keepOriginals)
        originalsOff.emplace(nowhere);
    test::PlainReceiveHost host;
    host.userId = kUser;
    host.password = kPassword;
    host.partner = corpus::kPartner;
    NMail mail;
    mail.NMailInitializeWinSock();
    mail.NMailSetOption(1, 8192);
    NMailReceiveLibrary library(mail);
    ServerSettings settings;
    settings.pop3Server = QStringLiteral("127.0.0.1:%1").arg(server.port());
    const qint64 before = memoryKb("VmRSS:");
    resetPeakMemory();
    const double cpuBefore = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    const ReceiveOutcome outcome = ReceiveCycle(library, host).run(settings);
    run.seconds = timer.nsecsElapsed() / 1e9;
    run.cpu = cpuSeconds() - cpuBefore;
    run.peakGrowthKiB = memoryKb("VmHWM:") - before;
    run.stored = outcome.stored;
    run.digest = digestOfFolder(home);
    return run;
}

bool runScenario(DovecotServer& server, const Scenario& s, int reps) {
    QTemporaryDir scratch;
    const QString home = scratch.path() + QStringLiteral("/home");
    std::vector<double> cycleTimes, cycleCpu, mpopTimes, withoutOriginals;
    std::vector<double> peakGrowth;
    QList<QByteArray> digests;
    bool whole = true;
    qsizetype largest = 0;
    for (int i = 0; i < s.count; ++i)
        largest = qMax(largest, s.message(i).size());

    // Three sides: mpop, the cycle, the cycle without originals; who goes first rotates.
    for (int rep = 0; rep < reps; ++rep) {
        for (int turn = 0; turn < 3; ++turn) {
            const int side = (turn + rep) % 3;
            const bool mpop = side == 0;
            if (!loadMessages(server, s.count, s.message))
                return false;
            if (side == 2) {
                emptyHome(home);
                ::sync();
                const CycleRun run = runCycle(server, home, false);
                withoutOriginals.push_back(run.seconds);
                whole = whole && run.stored == s.count && server.messageCount(kUser) == 0;
            } else if (mpop) {
                const QString work = scratch.path() + QStringLiteral("/mpop");
                QDir(work).removeRecursively();
                QDir().mkpath(work);
                ::sync();
                int received = 0;
                mpopTimes.push_back(receiveWithMpop(server, work, &received));
                whole = whole && received == s.count && server.messageCount(kUser) == 0;
            } else {
                emptyHome(home);
                ::sync();
                const CycleRun run = runCycle(server, home, true);
                cycleTimes.push_back(run.seconds);
                cycleCpu.push_back(run.cpu);
                peakGrowth.push_back(double(run.peakGrowthKiB));
                digests << run.digest;
                whole = whole && run.stored == s.count && server.messageCount(kUser) == 0;
            }
        }
    }
    const auto list = [](const std::vector<double>& v) {
        QString out;
        for (double t : v)
            out += QString::asprintf(" %.3f", t);
        return out;
    };
    // What the server alone needs for the same messages, once.
    double serverAlone = -1;
    if (loadMessages(server, s.count, s.message)) {
        ::sync();
        serverAlone = drainServer(server, s.count);
        whole = whole && server.messageCount(kUser) == 0;
    }
    const double cycle = median(cycleTimes);
    const double mpop = median(mpopTimes);
    const bool sameBytes = digests.count(digests.value(0)) == digests.size();
    std::printf("%s, %d repetitions, order rotated\n", s.title, reps);
    std::printf("  receive cycle: median %.3f s (%.0f messages/s; runs:%s), processor %.3f s\n",
                cycle, s.count / cycle, qPrintable(list(cycleTimes)), median(cycleCpu));
    std::printf("  mpop         : median %.3f s (%.0f messages/s; runs:%s)\n", mpop, s.count / mpop,
                qPrintable(list(mpopTimes)));
    std::printf("  ratio        : %.2f x mpop's time\n", cycle / mpop);
    const double bare = median(withoutOriginals);
    std::printf("  no originals : median %.3f s (runs:%s): keeping them costs %+.0f%%\n", bare,
                qPrintable(list(withoutOriginals)), (cycle / bare - 1) * 100);
    std::printf("  server alone : %.3f s (every message fetched and dropped, once): %.2f x "
                "mpop's time\n",
                serverAlone, serverAlone / mpop);
    // As a multiple of the largest message only where the message dwarfs what every run
    // needs anyway (buffers, the messages read ahead, GMime's tables).
    const QString multiple =
        largest >= 16 * 1024 * 1024
            ? QString::asprintf(": %.1f x", median(peakGrowth) * 1024.0 / double(largest))
            : QString();
    std::printf("  peak memory  : +%.1f MB during the receive cycle (median; first run +%.1f MB, "
                "with the one-time tables), largest message %.0f KB%s\n",
                median(peakGrowth) / 1024.0, peakGrowth.front() / 1024.0, largest / 1024.0,
                qPrintable(multiple));
    std::printf("  outputs      : %s (digest %s)%s\n",
                sameBytes ? "the same bytes in every run" : "DIFFER between runs",
                digests.value(0).constData(), whole ? "" : "; MESSAGES MISSING");
    std::fflush(stdout);
    return whole && sameBytes;
}

// `depth` nested multiparts whose Content-Type is spelt by `spell`, then `tail`.
QByteArray nested(int depth, const std::function<QByteArray(const QByteArray&)>& spell,
                  const QByteArray& tail) {
    QByteArray raw = "From: deep@example.jp\r\nSubject: deep\r\nMIME-Version: 1.0\r\n";
    for (int i = 0; i < depth; ++i) {
        const QByteArray b = "n" + QByteArray::number(i);
        raw += spell(b) + "\r\n\r\n--" + b + "\r\n";
    }
    return raw + tail;
}

// The reader alone (GMime's tree, our decoders, every limit), once per message.
void runHostile() {
    const auto plain = [](const QByteArray& b) {
        return "Content-Type: multipart/mixed; boundary=" + b;
    };
    const auto spaced = [](const QByteArray& b) {
        return "Content-Type : multipart/mixed; x-decoy=\"boundary=zz\"; boundary*0 = \"" + b + '"';
    };
    const QByteArray leaf = "Content-Type: text/plain\r\n\r\ninnermost\r\n";
    QByteArray siblings = "From: wide@example.jp\r\nMIME-Version: 1.0\r\n"
                          "Content-Type: multipart/mixed; boundary=w\r\n\r\n";
    for (int i = 0; i < 25000; ++i)
        siblings += "--w\r\nContent-Type: text/plain\r\n\r\np\r\n";
    siblings += "--w--\r\n";
    QByteArray text = "From: a@example.jp\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n";
    while (text.size() < 10 * 1024 * 1024)
        text += "\x1b$B$3$s$K$A$O\x1b(B hello -- a line of text\r\n";
    const struct {
        const char* name;
        QByteArray raw;
    } cases[] = {
        {"1,100 boundaries, then 2 million --x lines",
         nested(1100, plain, QByteArray("--x\r\n").repeated(2000000))},
        {"nested 50,000 deep, hostile spelling", nested(50000, spaced, leaf)},
        {"nested 50,000 deep", nested(50000, plain, leaf)},
        {"25,000 siblings", siblings},
        {"10 MB of ISO-2022-JP text", text},
    };
    std::printf("The reader alone, one message each (median of 3)\n");
    for (const auto& c : cases) {
        std::vector<double> times;
        QString note;
        for (int rep = 0; rep < 3; ++rep) {
            QElapsedTimer timer;
            timer.start();
            const MimeMessage message(c.raw);
            const qsizetype chars = message.text().size();
            const qsizetype files = message.attachments().size();
            times.push_back(timer.nsecsElapsed() / 1e9);
            note = message.withinLimits()
                       ? QStringLiteral("read: %1 characters, %2 files").arg(chars).arg(files)
                       : QStringLiteral("kept as text: ") + message.limitNote().mid(4, 60);
        }
        std::sort(times.begin(), times.end());
        std::printf("  %-44s %6.1f MB  %7.3f s  %s\n", c.name, c.raw.size() / 1e6, times[1],
                    note.toUtf8().constData());
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int reps = 5;
    QStringList chosen;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--reps") && i + 1 < args.size())
            reps = qMax(1, args[++i].toInt());
        else
            chosen << args[i];
    }
    if (chosen.contains(QLatin1String("hostile"))) {
        runHostile();
        chosen.removeAll(QLatin1String("hostile"));
        if (chosen.isEmpty())
            return 0;
    }
    DovecotServer server;
    if (!startDovecot(server))
        return 1;
    bool ok = true;
    for (const Scenario& s : scenarios()) {
        if (chosen.isEmpty() || chosen.contains(QLatin1String(s.key)))
            ok = runScenario(server, s, reps) && ok;
    }
    return ok ? 0 : 1;
}
