#include "storetest.h"
#include "temphome.h"

#include <QDir>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kiku;
using kiku::test::boxBytes;
using kiku::test::dataFile;
using kiku::test::readBytes;
using kiku::test::sampleBytes;
using kiku::test::sampleMail;
using kiku::test::writeBytes;

namespace {

const QByteArray kStd1234 = sampleBytes({1, 2, 3, 4}, RecordLayout::Standard);

// Makes a folder refuse new, renamed and removed entries while it lives. Root ignores
// permission bits, so for root the immutable attribute does it; others get mode 0555.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& path) : m_path(QFile::encodeName(path)) {
        if (::geteuid() == 0) {
            const int fd = ::open(m_path.constData(), O_RDONLY | O_DIRECTORY);
            int flags = 0;
            if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags |= FS_IMMUTABLE_FL;
                m_immutable = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
            }
            if (fd >= 0)
                ::close(fd);
        } else {
            m_chmodded = ::chmod(m_path.constData(), 0555) == 0;
        }
    }
    ~ReadOnlyFolder() {
        if (m_immutable) {
            const int fd = ::open(m_path.constData(), O_RDONLY | O_DIRECTORY);
            int flags = 0;
            if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
            }
            if (fd >= 0)
                ::close(fd);
        }
        if (m_chmodded)
            ::chmod(m_path.constData(), 0755);
    }
    // True when creating a file in the folder really fails.
    bool effective() const {
        const QByteArray probe = m_path + "/probe";
        const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT, 0644);
        if (fd < 0)
            return true;
        ::close(fd);
        ::unlink(probe.constData());
        return false;
    }

private:
    QByteArray m_path;
    bool m_immutable = false;
    bool m_chmodded = false;
};

QByteArray boxState(Box box) {
    int count = 0;
    Mailbox(box).count(count); // the next open: restores from the companion if needed
    return boxBytes(box);
}

} // namespace

TEST(StoreFaults, AMissingBoxIsRestoredFromItsCompanionBeforeAnythingElse) {
    // An interrupted compaction left only the companion. Every kind of access restores it.
    const std::function<void(Mailbox&)> accesses[] = {
        [](Mailbox& b) { EXPECT_EQ(b.list().lines.size(), 4); },
        [](Mailbox& b) {
            int n = 0;
            b.count(n);
            EXPECT_EQ(n, 4);
        },
        [](Mailbox& b) {
            MailRecord r;
            EXPECT_TRUE(b.read(4, r).ok);
        },
        [](Mailbox& b) {
            int n = 0;
            EXPECT_TRUE(b.append(sampleMail(5), &n).ok);
            EXPECT_EQ(n, 5); // after the restored records, not at record 1
        },
        [](Mailbox& b) { EXPECT_TRUE(b.remove(4).ok); },
    };
    for (const auto& access : accesses) {
        test::TempHome home;
        writeBytes(dataFile("VBMDATA3.TMP"), kStd1234);
        Mailbox box(Box::OthersInbox);
        access(box);
        EXPECT_FALSE(QFile::exists(dataFile("VBMDATA3.TMP")));
        EXPECT_TRUE(boxBytes(Box::OthersInbox).startsWith(kStd1234.left(3 * kMailRecordSize)));
    }
}

TEST(StoreFaults, ACompanionBesideAWholeBoxIsStaleAndReplacedByTheNextCompaction) {
    test::TempHome home;
    writeBytes(dataFile("vbmdata3.data"), sampleBytes({1, 2}, RecordLayout::Standard));
    writeBytes(dataFile("VBMDATA3.TMP"), kStd1234);
    EXPECT_EQ(Mailbox(Box::OthersInbox).list().lines.size(), 2);
    EXPECT_TRUE(QFile::exists(dataFile("VBMDATA3.TMP")));
    ASSERT_TRUE(Mailbox(Box::OthersInbox).remove(1).ok);
    EXPECT_EQ(boxBytes(Box::OthersInbox), sampleBytes({2}, RecordLayout::Standard));
    EXPECT_FALSE(QFile::exists(dataFile("VBMDATA3.TMP")));
}

TEST(StoreFaults, AReadOnlyDataFolderRefusesChangesAndKeepsEveryMessage) {
    test::TempHome home;
    writeBytes(dataFile("vbmdata3.data"), kStd1234);
    ReadOnlyFolder readOnly(dataFile(""));
    if (!readOnly.effective())
        GTEST_SKIP() << "cannot make a folder read-only here";

    for (const auto& action : std::initializer_list<std::function<StoreResult()>>{
             [] { return Mailbox(Box::OthersInbox).remove(2); },
             [] { return Mailbox(Box::OthersInbox).removeAll(); },
             [] { return Mailbox(Box::PartnerInbox).append(sampleMail(1)); }, // file absent
             [] { return appendToStorage(sampleMail(1)); }}) {
        const StoreResult r = action();
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.error.startsWith(QStringLiteral("メールボックス vbmdata")))
            << r.error.toStdString();
        EXPECT_TRUE(r.error.contains(QStringLiteral(": "))) << r.error.toStdString();
        EXPECT_EQ(boxBytes(Box::OthersInbox), kStd1234);
    }
    // Reading still works, and nothing was left behind.
    EXPECT_EQ(Mailbox(Box::OthersInbox).list().lines.size(), 4);
    EXPECT_EQ(QDir(dataFile("")).entryList(QDir::Files), QStringList{"vbmdata3.data"});
}

TEST(StoreFaults, AMissingDataFolderIsReportedAndNeverCreated) {
    test::TempHome home(false);
    const QString noFolder = QStringLiteral("データフォルダ ★MAilData がありません");
    const StoreResult appended = Mailbox(Box::OthersInbox).append(sampleMail(1));
    EXPECT_FALSE(appended.ok);
    EXPECT_EQ(appended.error,
              QStringLiteral("メールボックス vbmdata3.data に書き込めません: ") + noFolder);
    const BoxListing listing = Mailbox(Box::OthersInbox).list();
    EXPECT_FALSE(listing.result.ok);
    EXPECT_EQ(listing.result.error,
              QStringLiteral("メールボックス vbmdata3.data を開けません: ") + noFolder);
    int count = 0;
    EXPECT_FALSE(Mailbox(Box::PartnerSent).count(count).ok);
    EXPECT_FALSE(Mailbox(Box::Storage).remove(1).ok);
    EXPECT_FALSE(appendToStorage(sampleMail(1)).ok);
    EXPECT_FALSE(QDir(home.path()).exists(QStringLiteral("★MAilData")));
    EXPECT_FALSE(QDir(home.path()).exists(QStringLiteral("★MailData")));
}

TEST(StoreFaults, DeleteOneSurvivesAFaultAtEveryStep) {
    // Record 2 is already marked 0; deleting record 3 leaves records 1 and 4.
    test::FaultScenario s;
    s.setup = [] {
        writeBytes(dataFile("vbmdata3.data"), sampleBytes({1}, RecordLayout::Standard) +
                                                  sampleBytes({2}, RecordLayout::Standard, 0) +
                                                  sampleBytes({3, 4}, RecordLayout::Standard));
    };
    s.action = [] { return Mailbox(Box::OthersInbox).remove(3); };
    s.state = [] { return boxState(Box::OthersInbox); };
    s.before = sampleBytes({1}, RecordLayout::Standard) +
               sampleBytes({2}, RecordLayout::Standard, 0) +
               sampleBytes({3, 4}, RecordLayout::Standard);
    s.after = sampleBytes({1, 4}, RecordLayout::Standard);
    test::runFaultMatrix<test::TempHome>(s);
}

TEST(StoreFaults, DeleteInThePartnerSentBoxSurvivesAFaultAtEveryStep) {
    test::FaultScenario s;
    s.setup = [] {
        writeBytes(dataFile("vbmdata4.data"), sampleBytes({1, 2, 3}, RecordLayout::PartnerSend));
    };
    s.action = [] { return Mailbox(Box::PartnerSent).remove(1); };
    s.state = [] { return boxState(Box::PartnerSent); };
    s.before = sampleBytes({1, 2, 3}, RecordLayout::PartnerSend);
    s.after = sampleBytes({2, 3}, RecordLayout::PartnerSend);
    test::runFaultMatrix<test::TempHome>(s);
}

TEST(StoreFaults, DeleteAllSurvivesAFaultAtEveryStep) {
    test::FaultScenario s;
    s.setup = [] { writeBytes(dataFile("vbmdata5.data"), kStd1234); };
    s.action = [] { return Mailbox(Box::OthersSent).removeAll(); };
    s.state = [] { return boxState(Box::OthersSent); };
    s.before = kStd1234;
    s.after = QByteArray();
    test::runFaultMatrix<test::TempHome>(s);
}

TEST(StoreFaults, AppendSurvivesAFaultAtEveryStep) {
    test::FaultScenario s;
    s.setup = [] {
        writeBytes(dataFile("vbmdata2.data"), sampleBytes({1, 2}, RecordLayout::Standard));
    };
    s.action = [] { return Mailbox(Box::PartnerInbox).append(sampleMail(3)); };
    s.state = [] { return boxState(Box::PartnerInbox); };
    s.before = sampleBytes({1, 2}, RecordLayout::Standard);
    s.after = sampleBytes({1, 2, 3}, RecordLayout::Standard);
    s.failureMayHaveTakenEffect = true;
    test::runFaultMatrix<test::TempHome>(s);
}

TEST(StoreFaults, DeleteOverADamagedTailSurvivesAFaultAtEveryStep) {
    // The state is the box followed by its side file: the tail must be in exactly one of
    // them after every single fault.
    const QByteArray tail("half a record");
    test::FaultScenario s;
    s.setup = [&] {
        writeBytes(dataFile("vbmdata3.data"),
                   sampleBytes({1, 2, 3}, RecordLayout::Standard) + tail);
    };
    s.action = [] { return Mailbox(Box::OthersInbox).remove(2); };
    s.state = [] {
        return boxState(Box::OthersInbox) + readBytes(dataFile("vbmdata3.data.partial"));
    };
    s.before = sampleBytes({1, 2, 3}, RecordLayout::Standard) + tail;
    s.after = sampleBytes({1, 3}, RecordLayout::Standard) + tail;
    s.crashes = false; // a crash while moving the tail may leave it in both places
    test::runFaultMatrix<test::TempHome>(s);
}
