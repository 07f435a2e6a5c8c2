#include "exchange/wholemessage.h"
#include "maillib/mimereader.h"
#include "settings/serversettings.h"
#include "store/originals.h"
#include "store/packwrites.h"
#include "storetest.h"
#include "temphome.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QThread>
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kiku;
using kiku::test::dataFile;
using kiku::test::readBytes;
using kiku::test::sampleMail;
using kiku::test::writeBytes;

namespace {

QByteArray digestOf(int i) {
    return recordDigest(sampleMail(i));
}

QByteArray raw(int i, const char* tag = "") {
    return QByteArray("Subject: message ") + QByteArray::number(i) + tag + "\r\n\r\nbody\r\n";
}

QString nameOf(const QByteArray& digest, int index = 0) {
    return QString::fromLatin1(digest.toHex()) +
           (index ? QStringLiteral("-%1").arg(index) : QString()) + QStringLiteral(".eml");
}

QString name(int i, int index = 0) {
    return nameOf(digestOf(i), index);
}

// What the folder keeps, read as the program reads it: "<hex>.eml" for the oldest original
// of a digest, "<hex>-1.eml" for the next and so on -> its bytes.
QMap<QString, QByteArray> folderState() {
    OriginalsIndex index;
    EXPECT_TRUE(index.load().ok);
    QMap<QString, QByteArray> out;
    for (auto it = index.all().cbegin(); it != index.all().cend(); ++it) {
        for (int i = 0; i < it.value().size(); ++i) {
            QByteArray bytes;
            EXPECT_TRUE(index.read(it.value().at(i), bytes).ok);
            out.insert(nameOf(it.key(), i), bytes);
        }
    }
    return out;
}

// The files of the folder, whatever they are.
QStringList folderFiles() {
    return QDir(Originals::folder()).entryList(QDir::Files | QDir::Hidden);
}

// The names of the kept originals, sorted, for comparing and printing.
std::string originalNames() {
    return folderState().keys().join(QLatin1Char(' ')).toStdString();
}
std::string names(QStringList list) {
    list.sort();
    return list.join(QLatin1Char(' ')).toStdString();
}

} // namespace

TEST(Originals, ARunKeepsEveryOriginalOnlyOnceCommittedAndEqualRecordsKeepBoth) {
    test::TempHome home;
    {
        OriginalAppends run;
        ASSERT_TRUE(run.add(digestOf(1), raw(1, "a")).ok);
        ASSERT_TRUE(run.add(digestOf(1), raw(1, "b")).ok); // an equal record
        ASSERT_TRUE(run.add(digestOf(2), raw(2)).ok);
        bool found = true;
        QByteArray bytes;
        ASSERT_TRUE(Originals::read(digestOf(1), bytes, &found).ok);
        EXPECT_FALSE(found); // nothing under a final name before the commit
        ASSERT_TRUE(run.commit().ok);
        EXPECT_EQ(run.pending(), 0);
        ASSERT_TRUE(Originals::read(digestOf(2), bytes, &found).ok);
        EXPECT_TRUE(found);
        EXPECT_EQ(bytes, raw(2));
    }
    const QMap<QString, QByteArray> expected{
        {name(1), raw(1, "a")}, {name(1, 1), raw(1, "b")}, {name(2), raw(2)}};
    EXPECT_EQ(folderState(), expected);

    // Kept one at a time (a sent message) it takes the next free name; a run that ends
    // without commit leaves nothing.
    ASSERT_TRUE(Originals::keep(digestOf(1), raw(1, "c")).ok);
    {
        OriginalAppends abandoned;
        ASSERT_TRUE(abandoned.add(digestOf(3), raw(3)).ok);
    }
    QMap<QString, QByteArray> withSent = expected;
    withSent.insert(name(1, 2), raw(1, "c"));
    EXPECT_EQ(folderState(), withSent);
}

TEST(Originals, NoFaultLeavesHalfAnOriginalUnderAFinalNameOrCallsOneKeptThatIsNot) {
    const QMap<QString, QByteArray> whole{{name(1), raw(1)}, {name(2), raw(2)}};
    const std::function<StoreResult()> actions[] = {
        [] {
            OriginalAppends run;
            for (int i : {1, 2}) {
                if (StoreResult r = run.add(digestOf(i), raw(i)); !r)
                    return r;
            }
            return run.commit();
        },
        [] {
            StoreResult r = Originals::keep(digestOf(1), raw(1));
            return r ? Originals::keep(digestOf(2), raw(2)) : r;
        },
    };
    using Mode = test::FaultyFileOps::Mode;
    for (const auto& action : actions) {
        int total = 0;
        {
            test::TempHome home;
            test::FaultyFileOps counter;
            ScopedFileOps scope(counter);
            ASSERT_TRUE(action().ok);
            total = counter.calls();
        }
        for (Mode mode : {Mode::FailOne, Mode::FailFromThenOn}) {
            for (int i = 1; i <= total; ++i) {
                test::TempHome home;
                test::FaultyFileOps faulty(i, mode);
                StoreResult r;
                {
                    ScopedFileOps scope(faulty);
                    r = action();
                }
                SCOPED_TRACE(faulty.log().join(QLatin1Char(' ')).toStdString());
                QMap<QString, QByteArray> state = folderState();
                if (r.ok)
                    EXPECT_EQ(state, whole);
                else
                    EXPECT_FALSE(r.error.isEmpty());
                for (auto it = state.cbegin(); it != state.cend(); ++it)
                    EXPECT_EQ(it.value(), whole.value(it.key())) << it.key().toStdString();
                // Whatever a dead process left in temporary files, the next sweep takes.
                ASSERT_TRUE(Originals::sweep().ok);
                for (const QString& left : folderFiles())
                    EXPECT_TRUE(left.endsWith(QStringLiteral(".pack"))) << left.toStdString();
            }
        }
    }
}

// A message whose write failed halfway is not kept, and what it left does not spoil the
// pack for the messages after it.
TEST(Originals, AFailedWriteLeavesTheRestOfTheRunWhole) {
    test::TempHome home;
    struct HalfWrites : FileOps {
        qint64 pwrite(int fd, const char* data, qint64 size, qint64 offset) override {
            if (size < 64 * 1024)
                return FileOps::pwrite(fd, data, size, offset);
            FileOps::pwrite(fd, data, size / 2, offset);
            errno = ENOSPC;
            return -1;
        }
    } halfWrites;
    OriginalAppends run;
    {
        ScopedFileOps scope(halfWrites);
        EXPECT_FALSE(run.add(digestOf(1), raw(1) + QByteArray(256 * 1024, 'x')).ok);
        ASSERT_TRUE(run.add(digestOf(2), raw(2)).ok);
    }
    ASSERT_TRUE(run.commit().ok);
    EXPECT_EQ(folderState(), (QMap<QString, QByteArray>{{name(2), raw(2)}}));
}

TEST(Originals, DeletingAndCompactingFollowTheRecords) {
    test::TempHome home;
    for (int i : {1, 2, 2, 3})
        ASSERT_TRUE(Mailbox(Box::OthersInbox).append(sampleMail(i)).ok);
    ASSERT_TRUE(Mailbox(Box::OthersSent).append(sampleMail(4)).ok);
    {
        OriginalAppends run;
        for (int i : {1, 2, 2, 3, 4, 9}) // 9: a record that never got written
            ASSERT_TRUE(run.add(digestOf(i), raw(i)).ok);
        ASSERT_TRUE(run.commit().ok);
    }
    ASSERT_TRUE(Mailbox(Box::OthersInbox).remove(1).ok);
    EXPECT_EQ(originalNames(), names({name(2), name(2, 1), name(3), name(4), name(9)}));
    ASSERT_TRUE(Mailbox(Box::OthersInbox).remove(1).ok); // one of the two equal records
    EXPECT_EQ(originalNames(), names({name(2), name(3), name(4), name(9)}));

    // A move keeps the original; when the window's fields differ from the record the
    // original goes with the changed record.
    ASSERT_TRUE(moveToStorage(2, sampleMail(3)).ok);
    EXPECT_EQ(originalNames(), names({name(2), name(3), name(4), name(9)}));
    MailRecord edited = sampleMail(2);
    edited.body += QStringLiteral("（追記）");
    ASSERT_TRUE(moveToStorage(1, edited).ok);
    const QString editedName = nameOf(recordDigest(edited));
    EXPECT_EQ(originalNames(), names({editedName, name(3), name(4), name(9)}));
    EXPECT_EQ(folderState().value(editedName), raw(2));

    // A sweep that cannot read a box takes nothing.
    {
        struct FailingReads : FileOps {
            qint64 pread(int, char*, qint64, qint64) override {
                errno = EIO;
                return -1;
            }
        } failing;
        ScopedFileOps scope(failing);
        EXPECT_FALSE(Originals::sweep().ok);
    }
    EXPECT_EQ(originalNames(), names({editedName, name(3), name(4), name(9)}));

    // Deleting a whole box sweeps: its originals and the orphan go, the storage box's stay,
    // and the temporary files of a run in progress are left to it.
    OriginalAppends running;
    ASSERT_TRUE(running.add(digestOf(5), raw(5)).ok);
    ASSERT_TRUE(Mailbox(Box::OthersSent).removeAll().ok);
    EXPECT_EQ(originalNames(), names({editedName, name(3)}));
    EXPECT_EQ(folderFiles().filter(QStringLiteral(".part")).size(), 1);
}

TEST(Originals, AMessageBuiltFromARecordReadsBackAsTheRecord) {
    test::TempHome home;
    struct Case {
        Box box;
        QString from, date, body;
        QByteArray charset, sender, recipient;
        QDateTime expectedDate;
    } cases[] = {
        {Box::OthersInbox, "山田 <yamada@example.jp>", "Mon, 1 Jan 2024 10:00:00 +0900 (JST)",
         "本文です\r\n二行目", "ISO-2022-JP", "yamada@example.jp", "me@example.jp",
         QDateTime(QDate(2024, 1, 1), QTime(1, 0), Qt::UTC)},
        {Box::PartnerSent, "hanako@kiku.demo", "2024/03/05 14:03:22", "絵文字 😀", "UTF-8",
         "me@example.jp", "hanako@kiku.demo", QDateTime(QDate(2024, 3, 5), QTime(14, 3, 22))},
        {Box::OthersSent, "壊れた宛先", "読めない日付", "text", "ISO-2022-JP", "me@example.jp",
         "unknown@invalid", QDateTime()},
    };
    ServerSettings::current().senderAddress = QStringLiteral("me@example.jp");
    for (const Case& c : cases) {
        const MailRecord record{QStringLiteral("件名テスト"), c.date, c.from, c.body};
        QByteArray built;
        bool kept = true;
        ASSERT_TRUE(wholeMessage(record, c.box, built, &kept).ok);
        EXPECT_FALSE(kept);
        const MimeMessage m(built);
        SCOPED_TRACE(m.raw().toStdString());
        EXPECT_EQ(m.subject(), record.subject);
        EXPECT_EQ(m.text().trimmed(), c.body);
        EXPECT_TRUE(m.field("Content-Type").contains(c.charset));
        EXPECT_TRUE(m.field("From").contains(c.sender));
        EXPECT_TRUE(m.field("To").contains(c.recipient));
        const QDateTime date =
            QDateTime::fromString(QString::fromLatin1(m.field("Date")), Qt::RFC2822Date);
        EXPECT_TRUE(date.isValid());
        if (c.expectedDate.isValid())
            EXPECT_EQ(date, c.expectedDate);
    }
    // A kept original wins over the record.
    MailRecord record = sampleMail(1);
    ASSERT_TRUE(Originals::keep(recordDigest(record), raw(1)).ok);
    QByteArray bytes;
    bool kept = false;
    ASSERT_TRUE(wholeMessage(record, Box::OthersInbox, bytes, &kept).ok);
    EXPECT_TRUE(kept);
    EXPECT_EQ(bytes, raw(1));
}

// Originals kept one file each by earlier versions are read first, dropped last and swept
// like the others.
TEST(Originals, FilesOfTheEarlierLayoutStayReadableAndFollowTheirRecords) {
    test::TempHome home;
    ASSERT_TRUE(QDir().mkpath(Originals::folder()));
    const QDir folder(Originals::folder());
    writeBytes(folder.filePath(name(1)), raw(1, "old"));
    writeBytes(folder.filePath(name(1, 1)), raw(1, "older-second"));
    writeBytes(folder.filePath(name(2)), raw(2, "old"));
    ASSERT_TRUE(Originals::keep(digestOf(1), raw(1, "new")).ok);
    const QMap<QString, QByteArray> expected{{name(1), raw(1, "old")},
                                             {name(1, 1), raw(1, "older-second")},
                                             {name(1, 2), raw(1, "new")},
                                             {name(2), raw(2, "old")}};
    EXPECT_EQ(folderState(), expected);

    // The newest goes first: the pack, then the numbered file.
    ASSERT_TRUE(Originals::release(digestOf(1)).ok);
    ASSERT_TRUE(Originals::release(digestOf(1)).ok);
    EXPECT_EQ(folderState(),
              (QMap<QString, QByteArray>{{name(1), raw(1, "old")}, {name(2), raw(2, "old")}}));
    EXPECT_EQ(names(folderFiles()), names({name(1), name(2)})); // the empty pack is gone

    // Only message 2 has a record: the sweep takes the old file of message 1.
    ASSERT_TRUE(Mailbox(Box::OthersInbox).append(sampleMail(2)).ok);
    ASSERT_TRUE(Originals::sweep().ok);
    EXPECT_EQ(names(folderFiles()), names({name(2)}));
}

// A dropped original gives its disk space back while the rest of its pack stays readable;
// a pack that is not whole (cut short by hand, a disk fault) is neither read nor removed.
TEST(Originals, DroppedOriginalsFreeTheirSpaceAndDamagedPacksAreLeftAlone) {
    test::TempHome home;
    const QByteArray large = raw(1) + QByteArray(4 * 1024 * 1024, 'x');
    {
        OriginalAppends run;
        ASSERT_TRUE(run.add(digestOf(1), large).ok);
        ASSERT_TRUE(run.add(digestOf(2), raw(2)).ok);
        ASSERT_TRUE(run.commit().ok);
    }
    const QStringList packs = folderFiles();
    ASSERT_EQ(packs.size(), 1);
    const QString pack = QDir(Originals::folder()).filePath(packs.first());
    const auto allocated = [&] {
        struct stat st {};
        EXPECT_EQ(::stat(QFile::encodeName(pack).constData(), &st), 0);
        return qint64(st.st_blocks) * 512;
    };
    ASSERT_GT(allocated(), large.size());
    ASSERT_TRUE(Originals::release(digestOf(1)).ok);
    EXPECT_LT(allocated(), 1024 * 1024);
    EXPECT_EQ(folderState(), (QMap<QString, QByteArray>{{name(2), raw(2)}}));

    // Cut short: nothing of it reads, and a sweep keeps the file for whoever can mend it.
    QByteArray bytes = readBytes(pack);
    bytes.chop(1);
    writeBytes(pack, bytes);
    EXPECT_TRUE(folderState().isEmpty());
    ASSERT_TRUE(Originals::sweep().ok);
    EXPECT_EQ(folderFiles(), packs);
}

// An export reads originals by the index it loaded at its start. A message deleted meanwhile
// has its original dropped and its bytes freed: its copy then reads as not kept, never as the
// zeros that are left, and the next copy of the same digest is taken when there is one.
TEST(Originals, ACopyDroppedAfterTheIndexWasReadIsNotKept) {
    test::TempHome home;
    {
        OriginalAppends run;
        ASSERT_TRUE(run.add(digestOf(1), raw(1, " oldest")).ok);
        ASSERT_TRUE(run.add(digestOf(1), raw(1, " newest")).ok);
        ASSERT_TRUE(run.add(digestOf(2), raw(2)).ok);
        ASSERT_TRUE(run.add(digestOf(3), raw(3)).ok);
        ASSERT_TRUE(run.commit().ok);
    }
    OriginalsIndex before;
    ASSERT_TRUE(before.load().ok);
    // Dropped by another index, as a deletion in another window or process does.
    OriginalsIndex other;
    ASSERT_TRUE(other.load().ok);
    ASSERT_TRUE(other.drop({other.copies(digestOf(1)).first(), other.copies(digestOf(2)).first()})
                    .notice.isEmpty());
    EXPECT_EQ(before.first(digestOf(1)), std::optional<QByteArray>(raw(1, " newest")));
    EXPECT_EQ(before.first(digestOf(2)), std::nullopt);
    EXPECT_EQ(before.first(digestOf(3)), std::optional<QByteArray>(raw(3)));
    QByteArray bytes = "left over";
    bool found = true;
    ASSERT_TRUE(before.readFirst(digestOf(2), bytes, &found).ok);
    EXPECT_FALSE(found);
    EXPECT_TRUE(bytes.isEmpty());
}

// Real files through the pack's writer thread: every message lands where its entry says and
// the padding of the last block is cut off; past the page cache where the file system allows
// it, through it where a direct write is refused. A write that fails on the thread fails the
// commit, which then keeps nothing; and every write after it fails at once.
TEST(Originals, TheWriterThreadKeepsEveryByteInPlaceOrNothing) {
    EXPECT_TRUE(FileOps::current().threadSafe());
    EXPECT_FALSE(test::FaultyFileOps().threadSafe()); // fakes stay on the caller's thread

    struct ThreadedFaults : FileOps {
        bool threadSafe() const override { return true; }
        int open(const char* path, int flags, int mode) override {
            if ((flags & O_DIRECT) && refuseDirect) {
                errno = EINVAL;
                return -1;
            }
            const int fd = FileOps::open(path, flags, mode);
            if (flags & O_DIRECT)
                directFd = fd;
            return fd;
        }
        qint64 pwrite(int fd, const char* data, qint64 size, qint64 offset) override {
            offThread = offThread || QThread::currentThread() != owner;
            if (++writes == failAt || (failPadded && fd == directFd && offset + size > total)) {
                FileOps::pwrite(fd, data, size / 2, offset);
                errno = failWith;
                return -1;
            }
            return FileOps::pwrite(fd, data, size, offset);
        }
        QThread* owner = QThread::currentThread();
        bool refuseDirect = false, failPadded = false;
        int failAt = 0, failWith = ENOSPC;
        std::atomic<qint64> total{0};
        std::atomic<int> writes{0}, directFd{-1};
        std::atomic<bool> offThread{false};
    };
    const struct {
        const char* what;
        bool refuseDirect, failPadded;
        int failAt, failWith;
        bool kept;
    } cases[] = {
        {"past the page cache", false, false, 0, 0, true},
        {"direct refused at open", true, false, 0, 0, true},
        {"a direct write refused", false, false, 2, EINVAL, true},
        {"a half write past the cache", false, false, 2, ENOSPC, false},
        {"a half write of the padded end", false, true, 0, ENOSPC, false},
        {"a half write through the cache", true, false, 3, ENOSPC, false},
    };
    const qint64 sizes[] = {5000, 3 * 1024 * 1024 + 17, 1, 70000, 9 * 1024 * 1024, 123};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempHome home;
        ThreadedFaults faults;
        faults.refuseDirect = c.refuseDirect;
        faults.failPadded = c.failPadded;
        faults.failAt = c.failAt;
        faults.failWith = c.failWith;
        QMap<QString, QByteArray> expected;
        StoreResult r;
        {
            ScopedFileOps scope(faults);
            OriginalAppends run;
            for (int i = 0; i < int(std::size(sizes)) && r.ok; ++i) {
                const QByteArray bytes = raw(i) + QByteArray(sizes[i], char('a' + i));
                expected.insert(name(i), bytes);
                faults.total += bytes.size();
                r = run.add(digestOf(i), bytes);
            }
            if (r.ok)
                r = run.commit();
        }
        EXPECT_TRUE(faults.offThread);
        EXPECT_EQ(r.ok, c.kept) << r.error.toStdString();
        if (c.kept)
            EXPECT_EQ(folderState(), expected);
        else
            EXPECT_EQ(folderFiles(), QStringList());
    }

    test::TempHome home;
    ThreadedFaults faults;
    faults.failAt = 1;
    const QByteArray path = QFile::encodeName(QDir::temp().filePath(QStringLiteral("kiku-writes")));
    const int fd = faults.open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    {
        PackWrites writes(fd, path);
        EXPECT_EQ(writes.write(faults, raw(1), 0), 0);
        EXPECT_EQ(writes.finish(), ENOSPC);
        EXPECT_EQ(writes.write(faults, raw(2), raw(1).size()), ENOSPC);
    }
    faults.close(fd);
    faults.unlink(path.constData());
}
