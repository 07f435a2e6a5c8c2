// A receive run makes its records durable before the server lets go of any message: with
// the disk failing, or the process dying, at every file operation of a run, no message is
// ever gone from the server without its record on disk.
#include "base/paths.h"
#include "core/receivecycle.h"
#include "dovecotserver.h"
#include "maillib/nmail.h"
#include "plainreceivehost.h"
#include "scriptedprompter.h"
#include "store/fileops.h"
#include "store/mailbox.h"
#include "temphome.h"

#include <QCoreApplication>
#include <QHash>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

using namespace kiku;

namespace {

const QString kUser = QStringLiteral("alice");
const QString kPartner = QStringLiteral("p@example.jp");

// The process dying in the middle of a file operation.
struct Crash {};

// The store's file operations against a model of what a power cut would leave: a file
// keeps the size it had at its last fsync, and a file created since the last sync of its
// folder is not there at all. The call numbered `crashAt` throws Crash, and every later
// one fails (nothing reaches the disk after the process died); `failFsync` makes every fsync
// fail with EIO instead.
class DiskModel : public FileOps {
public:
    explicit DiskModel(int crashAt = 0, bool failFsync = false)
        : m_crashAt(crashAt), m_failFsync(failFsync) {}

    int calls() const { return m_calls; }
    int fsyncs() const { return m_fsyncs; }
    // Whole records of `path` that would survive a power cut now.
    qint64 durableRecords(const QByteArray& path) const {
        if (m_unsyncedEntries.contains(path))
            return 0;
        if (const auto it = m_durableSize.find(path); it != m_durableSize.end())
            return *it / kMailRecordSize;
        if (const auto it = m_sizeBefore.find(path); it != m_sizeBefore.end())
            return *it / kMailRecordSize;
        struct stat st; // not opened in this run: as it was
        return ::stat(path.constData(), &st) == 0 ? st.st_size / kMailRecordSize : 0;
    }

    int open(const char* path, int flags, int mode) override {
        if (dead())
            return -1;
        struct stat st;
        const bool existed = ::stat(path, &st) == 0;
        const int fd = FileOps::open(path, flags, mode);
        if (fd >= 0) {
            m_paths.insert(fd, QByteArray(path));
            if (!existed)
                m_unsyncedEntries.insert(QByteArray(path));
            else if (!m_sizeBefore.contains(path))
                m_sizeBefore.insert(QByteArray(path), st.st_size);
        }
        return fd;
    }
    int close(int fd) override {
        m_paths.remove(fd);
        return FileOps::close(fd); // never leak a descriptor, even after a crash
    }
    qint64 pread(int fd, char* b, qint64 n, qint64 o) override {
        return dead() ? -1 : FileOps::pread(fd, b, n, o);
    }
    qint64 pwrite(int fd, const char* d, qint64 n, qint64 o) override {
        return dead() ? -1 : FileOps::pwrite(fd, d, n, o);
    }
    int copyRange(int f, qint64 fo, int t, qint64 to, qint64 n) override {
        return dead() ? -1 : FileOps::copyRange(f, fo, t, to, n);
    }
    int fsync(int fd) override {
        if (dead())
            return -1;
        if (m_failFsync) {
            errno = EIO;
            return -1;
        }
        ++m_fsyncs;
        const int r = FileOps::fsync(fd);
        qint64 size = 0;
        if (r == 0 && FileOps::fileSize(fd, &size) == 0)
            m_durableSize.insert(m_paths.value(fd), size);
        return r;
    }
    int ftruncate(int fd, qint64 n) override { return dead() ? -1 : FileOps::ftruncate(fd, n); }
    int fileSize(int fd, qint64* s) override { return dead() ? -1 : FileOps::fileSize(fd, s); }
    int exists(const char* p, bool* e) override { return dead() ? -1 : FileOps::exists(p, e); }
    int rename(const char* f, const char* t) override {
        return dead() ? -1 : FileOps::rename(f, t);
    }
    int unlink(const char* p) override { return dead() ? -1 : FileOps::unlink(p); }
    int syncFolder(const char* p) override {
        if (dead())
            return -1;
        const int r = FileOps::syncFolder(p);
        if (r == 0) {
            const QByteArray folder = QByteArray(p) + '/';
            for (auto it = m_unsyncedEntries.begin(); it != m_unsyncedEntries.end();)
                it = it->startsWith(folder) ? m_unsyncedEntries.erase(it) : std::next(it);
        }
        return r;
    }

private:
    // Counts the call; throws at the crash point; true (with EIO) once the process is dead.
    bool dead() {
        ++m_calls;
        if (m_crashAt > 0 && m_calls == m_crashAt)
            throw Crash();
        if (m_crashAt > 0 && m_calls > m_crashAt) {
            errno = EIO;
            return true;
        }
        return false;
    }

    int m_crashAt;
    bool m_failFsync;
    int m_calls = 0;
    int m_fsyncs = 0;
    QHash<int, QByteArray> m_paths;
    QHash<QByteArray, qint64> m_durableSize;
    QHash<QByteArray, qint64> m_sizeBefore;
    QSet<QByteArray> m_unsyncedEntries;
};

QByteArray boxPath(Box box) {
    return QFile::encodeName(ProgramFolder::resolve(QStringLiteral("\\★MAilData\\") +
                                                    QString::fromLatin1(boxInfo(box).fileName)));
}

class ReceiveDurabilityTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
        m_settings.pop3Server = QStringLiteral("127.0.0.1:%1").arg(m_server.port());
    }

    void deliverThree() {
        for (const char* from : {"a@example.jp", "p@example.jp", "b@example.jp"})
            ASSERT_TRUE(m_server.addMessage(kUser, QByteArray("From: ") + from +
                                                       "\r\nSubject: hello\r\n\r\nbody\r\n"));
    }

    // One run with the model in place. The library goes with the run, as with a process
    // that died: a session it left open is dropped without QUIT.
    ReceiveOutcome receive(DiskModel& disk, bool* crashed = nullptr) {
        auto mail = std::make_unique<NMail>();
        mail->NMailInitializeWinSock();
        mail->setTimeout(10000);
        NMailReceiveLibrary library(*mail);
        test::PlainReceiveHost host;
        host.partner = kPartner;
        ReceiveOutcome outcome;
        if (crashed)
            *crashed = false;
        {
            ScopedFileOps scope(disk);
            try {
                outcome = ReceiveCycle(library, host).run(m_settings);
            } catch (const Crash&) {
                if (crashed)
                    *crashed = true;
            }
        }
        return outcome;
    }

    // Empties the mailbox on the server into a scratch folder.
    void drainServer() {
        test::TempHome scratch;
        DiskModel plain;
        receive(plain);
        ASSERT_EQ(m_server.messageCount(kUser), 0);
    }

    test::ScriptedPrompter m_prompter;
    test::DovecotServer m_server;
    ServerSettings m_settings;
};

TEST_F(ReceiveDurabilityTest, EachBoxIsSyncedOnceForTheWholeRun) {
    test::TempHome home;
    deliverThree();
    DiskModel disk;
    const ReceiveOutcome outcome = receive(disk);
    EXPECT_EQ(outcome.stored, 3);
    EXPECT_EQ(m_server.messageCount(kUser), 0);
    EXPECT_EQ(disk.fsyncs(), 2); // the partner in-box and the others in-box
    EXPECT_EQ(disk.durableRecords(boxPath(Box::PartnerInbox)), 1);
    EXPECT_EQ(disk.durableRecords(boxPath(Box::OthersInbox)), 2);
}

TEST_F(ReceiveDurabilityTest, NoMessageLeavesTheServerBeforeItsRecordIsDurable) {
    int total = 0;
    {
        test::TempHome home;
        ASSERT_TRUE(Mailbox(Box::OthersInbox).append(MailRecord{}).ok);
        deliverThree();
        DiskModel counter;
        receive(counter);
        total = counter.calls();
        ASSERT_GT(total, 0);
    }
    for (int crashAt = 1; crashAt <= total + 1; ++crashAt) {
        SCOPED_TRACE(crashAt);
        test::TempHome home;
        // One record already in the others in-box, so appends go behind existing data.
        ASSERT_TRUE(Mailbox(Box::OthersInbox).append(MailRecord{}).ok);
        deliverThree();
        DiskModel disk(crashAt);
        bool crashed = false;
        receive(disk, &crashed);
        EXPECT_EQ(crashed, crashAt <= total);
        const int gone = 3 - m_server.messageCount(kUser);
        const qint64 kept = disk.durableRecords(boxPath(Box::PartnerInbox)) +
                            disk.durableRecords(boxPath(Box::OthersInbox)) - 1;
        EXPECT_GE(kept, gone) << gone << " gone from the server, " << kept << " durable";
        if (crashed)
            EXPECT_EQ(gone, 0); // a run that died never reached QUIT
        drainServer();
    }
}

TEST_F(ReceiveDurabilityTest, RecordsThatCannotBeSyncedKeepEveryMessageOnTheServer) {
    test::TempHome home;
    deliverThree();
    DiskModel disk(0, /*failFsync=*/true);
    const ReceiveOutcome outcome = receive(disk);
    EXPECT_TRUE(outcome.notDurable);
    EXPECT_EQ(m_server.messageCount(kUser), 3);
    EXPECT_EQ(outcome.notDeleted, 0);
    ASSERT_EQ(m_prompter.texts().size(), 1);
    EXPECT_TRUE(m_prompter.texts()[0].contains(QStringLiteral("vbmdata")));
    EXPECT_TRUE(m_prompter.texts()[0].contains(QStringLiteral("サーバーに残しました")));
}

} // namespace

// The sockets want an application object; the run itself needs no event loop.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
