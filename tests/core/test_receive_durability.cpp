// A receive run makes its records durable before the server lets go of any message: with
// the disk failing, or the process dying, at every file operation of a run, no message is
// ever gone from the server without its record on disk. And with the server's unique ids,
// the run after a crash stores every message exactly once.
#include "base/paths.h"
#include "core/mailimport.h"
#include "core/receivecycle.h"
#include "dovecotserver.h"
#include "exchange/wholemessage.h"
#include "maillib/nmail.h"
#include "plainreceivehost.h"
#include "scriptedprompter.h"
#include "store/fileops.h"
#include "store/mailbox.h"
#include "store/receivedids.h"
#include "temphome.h"

#include <QCoreApplication>
#include <QHash>
#include <QProcess>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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
            if (!existed) {
                m_unsyncedEntries.insert(QByteArray(path));
                m_created.insert(QByteArray(path));
            } else if (!m_sizeBefore.contains(path))
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
    int punchHole(int fd, qint64 o, qint64 n) override {
        return dead() ? -1 : FileOps::punchHole(fd, o, n);
    }
    int fileSize(int fd, qint64* s) override { return dead() ? -1 : FileOps::fileSize(fd, s); }
    int exists(const char* p, bool* e) override { return dead() ? -1 : FileOps::exists(p, e); }
    int rename(const char* f, const char* t) override {
        if (dead() || FileOps::rename(f, t) < 0)
            return -1;
        // The file goes on under its new name; what it replaced is gone.
        const QByteArray from(f), to(t);
        m_sizeBefore.remove(to);
        m_durableSize.remove(to);
        if (m_durableSize.contains(from))
            m_durableSize.insert(to, m_durableSize.take(from));
        if (m_created.remove(from))
            m_created.insert(to);
        m_unsyncedEntries.remove(from);
        m_unsyncedEntries.insert(to); // a rename is durable only with its folder
        return 0;
    }
    int unlink(const char* p) override { return dead() ? -1 : FileOps::unlink(p); }

    // What a power cut leaves now: every file the run touched back at its size of its last
    // fsync, and every file whose folder entry was not synced gone. Only after the crash.
    void powerCut() {
        auto forget = [](const QByteArray& path) { ::unlink(path.constData()); };
        for (const QByteArray& path : std::as_const(m_unsyncedEntries))
            forget(path);
        QSet<QByteArray> touched(m_created);
        for (auto it = m_sizeBefore.cbegin(); it != m_sizeBefore.cend(); ++it)
            touched.insert(it.key());
        for (const QByteArray& path : std::as_const(touched)) {
            if (m_unsyncedEntries.contains(path))
                continue;
            const qint64 size = m_durableSize.value(path, m_sizeBefore.value(path, 0));
            if (::truncate(path.constData(), size) < 0 && errno != ENOENT)
                ADD_FAILURE() << "truncate " << path.constData();
        }
    }
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
    QSet<QByteArray> m_created;
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

    // m1 from someone, m2 from the partner, m3 from someone else.
    void deliverThree() {
        int n = 0;
        for (const char* from : {"a@example.jp", "p@example.jp", "b@example.jp"})
            ASSERT_TRUE(m_server.addMessage(kUser, QByteArray("From: ") + from + "\r\nSubject: m" +
                                                       QByteArray::number(++n) +
                                                       "\r\n\r\nbody\r\n"));
    }

    // The subjects in the two in-boxes, sorted.
    static QStringList storedSubjects() {
        QStringList subjects;
        for (const Box box : {Box::PartnerInbox, Box::OthersInbox})
            EXPECT_TRUE(Mailbox(box).readAll([&](int, const MailRecord& record) {
                subjects << record.subject.trimmed();
                return true;
            }));
        subjects.sort();
        return subjects;
    }

    // How many records of the two in-boxes have an original that reads as that message.
    static int originalsKept() {
        int kept = 0;
        for (const Box box : {Box::PartnerInbox, Box::OthersInbox})
            Mailbox(box).readAll([&](int, const MailRecord& record) {
                const std::optional<QByteArray> original = keptOriginal(recordDigest(record));
                kept += original &&
                        original->contains("Subject: " + record.subject.trimmed().toLatin1());
                return true;
            });
        return kept;
    }

    // One run with the model in place. The library goes with the run, as with a process
    // that died: a session it left open is dropped without QUIT.
    ReceiveOutcome receive(DiskModel& disk, bool* crashed = nullptr,
                           const KeepOnServer& keep = KeepOnServer()) {
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
                outcome = ReceiveCycle(library, host).run(m_settings, keep);
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
    // The partner in-box, the others in-box, the journal of ids and the one pack of the run's
    // originals; the file of known ids stays empty, as it was, unwritten.
    EXPECT_EQ(disk.fsyncs(), 4);
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
        EXPECT_TRUE(gone == 0 || gone == 3) << gone; // QUIT takes all the deletions or none
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
    // The journal of ids is the first file the run makes durable.
    EXPECT_TRUE(m_prompter.texts()[0].contains(QStringLiteral("received-ids.journal")));
    EXPECT_TRUE(m_prompter.texts()[0].contains(QStringLiteral("サーバーに残しました")));
}

// Crash at every file operation of a run, then receive again: every message is in the boxes
// once. Killed (the files as written) or a power cut (the files as last synced), mail
// deleted on the server or kept there.
TEST_F(ReceiveDurabilityTest, ACrashAtAnyPointNeitherLosesNorDuplicates) {
    const QStringList all{QStringLiteral("m1"), QStringLiteral("m2"), QStringLiteral("m3")};
    for (const bool keepOnServer : {false, true}) {
        const KeepOnServer keep{keepOnServer, 0};
        int total = 0;
        {
            test::TempHome home;
            deliverThree();
            DiskModel counter;
            receive(counter, nullptr, keep);
            total = counter.calls();
            m_server.removeAllMessages(kUser);
        }
        for (const bool powerCut : {false, true}) {
            for (int crashAt = 1; crashAt <= total; ++crashAt) {
                SCOPED_TRACE(testing::Message() << "keep " << keepOnServer << ", power cut "
                                                << powerCut << ", crash at " << crashAt);
                test::TempHome home;
                deliverThree();
                DiskModel disk(crashAt);
                bool crashed = false;
                receive(disk, &crashed, keep);
                EXPECT_TRUE(crashed);
                if (powerCut)
                    disk.powerCut();
                DiskModel plain;
                const ReceiveOutcome after = receive(plain, nullptr, keep);
                EXPECT_FALSE(after.stopped || after.notDurable || after.sessionLost);
                EXPECT_EQ(storedSubjects(), all);
                EXPECT_EQ(originalsKept(), 3); // and each record has its original
                EXPECT_EQ(m_server.messageCount(kUser), keepOnServer ? 3 : 0);
                if (keepOnServer) { // and the next run stores nothing more
                    DiskModel again;
                    EXPECT_EQ(receive(again, nullptr, keep).stored, 0);
                    EXPECT_EQ(storedSubjects(), all);
                }
                m_server.removeAllMessages(kUser);
            }
        }
    }
}

// "サーバーにメールを残す": runs leave the server as it is and store nothing twice, a message
// that arrives between runs comes alone, and the days limit deletes only what is older.
TEST_F(ReceiveDurabilityTest, KeptMailIsFetchedOnceAndDeletedOnlyWhenOld) {
    test::TempHome home;
    constexpr qint64 kDay = 86400;
    const qint64 start = 1'800'000'000;
    ReceivedIds::setClockForTesting(start);
    deliverThree();
    DiskModel disk;
    const KeepOnServer keep{true, 7};
    EXPECT_EQ(receive(disk, nullptr, keep).stored, 3);
    EXPECT_EQ(receive(disk, nullptr, keep).stored, 0);
    EXPECT_EQ(m_server.messageCount(kUser), 3);

    ReceivedIds::setClockForTesting(start + 5 * kDay);
    ASSERT_TRUE(m_server.addMessage(kUser, "From: c@example.jp\r\nSubject: m4\r\n\r\nnew\r\n"));
    const ReceiveOutcome fourth = receive(disk, nullptr, keep);
    EXPECT_EQ(fourth.stored, 1);
    EXPECT_EQ(fourth.storedBefore, 3);
    EXPECT_EQ(storedSubjects(), QStringList({"m1", "m2", "m3", "m4"}));

    // Eight days after the first three: they go, the fourth (three days old) stays.
    ReceivedIds::setClockForTesting(start + 8 * kDay);
    EXPECT_EQ(receive(disk, nullptr, keep).stored, 0);
    EXPECT_EQ(m_server.messageCount(kUser), 1);
    // And with the setting off again, the last one is deleted without being stored again.
    EXPECT_EQ(receive(disk).stored, 0);
    EXPECT_EQ(m_server.messageCount(kUser), 0);
    EXPECT_EQ(storedSubjects().size(), 4);
    ReceivedIds::setClockForTesting(0);
}

// A process killed while it receives, at several moments of a run of many messages, and
// then one whole run: every message is in the boxes once and the server is empty.
TEST_F(ReceiveDurabilityTest, KillingAReceivingProcessNeitherLosesNorDuplicates) {
    test::TempHome home;
    constexpr int kMessages = 300;
    for (int n = 1; n <= kMessages; ++n)
        ASSERT_TRUE(m_server.addMessage(kUser, "From: a@example.jp\r\nSubject: k" +
                                                   QByteArray::number(n) + "\r\n\r\nbody\r\n"));
    for (const int killAfter : {1, 40, 120, 299}) {
        SCOPED_TRACE(killAfter);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--receive-child"), home.path(), m_settings.pop3Server});
        ASSERT_TRUE(child.waitForStarted());
        // The child prints the number of each message it starts on.
        int reached = 0;
        while (reached < killAfter && child.waitForReadyRead(20000)) {
            while (child.canReadLine())
                reached = qMax(reached, child.readLine().trimmed().toInt());
        }
        child.kill();
        child.waitForFinished();
        EXPECT_GE(reached, qMin(killAfter, 1));
    }
    DiskModel plain;
    const ReceiveOutcome last = receive(plain);
    EXPECT_FALSE(last.stopped || last.notDurable || last.sessionLost);
    const QStringList subjects = storedSubjects();
    EXPECT_EQ(subjects.size(), kMessages);
    EXPECT_EQ(QSet<QString>(subjects.begin(), subjects.end()).size(), kMessages);
    EXPECT_EQ(m_server.messageCount(kUser), 0);
}

// A long letter with every header a record has no room for: the record is as before (cut at
// its widths), the original is the message byte for byte as the server sent it.
TEST_F(ReceiveDurabilityTest, TheOriginalKeepsWhatTheRecordCannot) {
    test::TempHome home;
    QByteArray text;
    while (text.size() < 80000)
        text += "A long letter line of text, line " + QByteArray::number(text.size()) + "\r\n";
    const QByteArray raw = "From: a@example.jp\r\nTo: me@example.jp\r\nCc: c@example.jp\r\n"
                           "Reply-To: r@example.jp\r\nMessage-ID: <long@example.jp>\r\n"
                           "Subject: long\r\n\r\n" +
                           text;
    ASSERT_TRUE(m_server.addMessage(kUser, raw));
    DiskModel disk;
    EXPECT_EQ(receive(disk).stored, 1);
    MailRecord record;
    ASSERT_TRUE(Mailbox(Box::OthersInbox).read(1, record).ok);
    EXPECT_EQ(record.body.trimmed(), QString::fromLatin1(text.left(32000)).trimmed());
    EXPECT_EQ(keptOriginal(recordDigest(record)).value_or(QByteArray()), raw);
    const QString readable = readableMessage(raw);
    for (const char* shown : {"Cc: c@example.jp", "Reply-To: r@example.jp", "line 79"})
        EXPECT_TRUE(readable.contains(QLatin1String(shown))) << shown;
}

// An import interrupted at any file operation, killed or by a power cut, then run again:
// every message of the mbox once, each with its original.
TEST_F(ReceiveDurabilityTest, AnImportInterruptedAtAnyPointStoresEachMessageOnce) {
    const QStringList all{QStringLiteral("m1"), QStringLiteral("m2"), QStringLiteral("m3")};
    auto writeMbox = [](const test::TempHome& home) {
        QByteArray mbox;
        int n = 0;
        for (const char* from : {"a@example.jp", "p@example.jp", "b@example.jp"})
            mbox += QByteArray("From x@y Tue Dec  1 10:00:00 2026\nFrom: ") + from +
                    "\nSubject: m" + QByteArray::number(++n) + "\n\nbody\n>From the mbox\n\n";
        home.writeFile(QStringLiteral("in.mbox"), mbox);
        return home.file(QStringLiteral("in.mbox"));
    };
    auto import = [](const QString& path, DiskModel& disk, bool* crashed) {
        NMail mail;
        test::PlainReceiveHost host;
        host.partner = kPartner;
        ScopedFileOps scope(disk);
        try {
            importMail(path, mail, host);
        } catch (const Crash&) {
            *crashed = true;
        }
    };
    int total = 0;
    {
        test::TempHome home;
        DiskModel counter;
        bool crashed = false;
        import(writeMbox(home), counter, &crashed);
        total = counter.calls();
        EXPECT_EQ(storedSubjects(), all);
    }
    for (const bool powerCut : {false, true}) {
        for (int crashAt = 1; crashAt <= total; ++crashAt) {
            SCOPED_TRACE(testing::Message()
                         << "power cut " << powerCut << ", crash at " << crashAt);
            test::TempHome home;
            const QString path = writeMbox(home);
            DiskModel disk(crashAt);
            bool crashed = false;
            import(path, disk, &crashed);
            EXPECT_TRUE(crashed);
            if (powerCut)
                disk.powerCut();
            DiskModel plain;
            import(path, plain, &crashed);
            EXPECT_EQ(storedSubjects(), all);
            EXPECT_EQ(originalsKept(), 3);
        }
    }
}

// The receiving child of the kill test: one run into `home`, printing its progress.
int receiveAsChild(const QString& home, const QString& server) {
    class PrintingHost : public test::PlainReceiveHost {
        void progress(int number, int) override {
            std::printf("%d\n", number);
            std::fflush(stdout);
        }
    } host;
    ProgramFolder::set(home);
    test::ScriptedPrompter prompter;
    NMail mail;
    mail.NMailInitializeWinSock();
    NMailReceiveLibrary library(mail);
    ServerSettings settings;
    settings.pop3Server = server;
    ReceiveCycle(library, host).run(settings, KeepOnServer());
    return 0;
}

} // namespace

// The sockets want an application object; the run itself needs no event loop.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--receive-child") == 0)
        return receiveAsChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
