#include "base/text.h"
#include "storetest.h"
#include "temphome.h"

#include <QFileInfo>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace kiku;
using kiku::test::boxBytes;
using kiku::test::boxExists;
using kiku::test::dataFile;
using kiku::test::sampleBytes;
using kiku::test::sampleMail;

namespace {

void fillBox(Box box, std::initializer_list<int> which) {
    for (int i : which) {
        int number = 0;
        ASSERT_TRUE(Mailbox(box).append(sampleMail(i), &number).ok);
    }
}

} // namespace

TEST(Mailbox, TableOfBoxesFilesCodesAndLayouts) {
    struct Row {
        int code;
        const char* file;
        const char* companion;
        RecordLayout layout;
    };
    const Row rows[] = {{1, "vbmdata3.data", "VBMDATA3.TMP", RecordLayout::Standard},
                        {2, "vbmdata6.data", "VBMDATA6.TMP", RecordLayout::Standard},
                        {3, "vbmdata4.data", "VBMDATA4.TMP", RecordLayout::PartnerSend},
                        {4, "vbmdata2.data", "VBMDATA2.TMP", RecordLayout::Standard},
                        {5, "vbmdata5.data", "VBMDATA5.TMP", RecordLayout::Standard}};
    for (const Row& row : rows) {
        const std::optional<Box> box = boxFromCode(row.code);
        ASSERT_TRUE(box.has_value()) << row.code;
        EXPECT_STREQ(boxInfo(*box).fileName, row.file);
        EXPECT_STREQ(boxInfo(*box).companionName, row.companion);
        EXPECT_EQ(boxInfo(*box).layout, row.layout);
    }
    EXPECT_FALSE(boxFromCode(0).has_value());
    EXPECT_FALSE(boxFromCode(6).has_value());
}

TEST(Mailbox, AppendToAnAbsentBoxWritesRecordOneAndLaterOnesFollow) {
    for (const BoxInfo& info : allBoxes()) {
        test::TempHome home;
        Mailbox box(info.box);
        int count = -1;
        ASSERT_TRUE(box.count(count).ok);
        EXPECT_EQ(count, 0);
        EXPECT_FALSE(boxExists(info.box)); // counting does not create the file
        int number = 0;
        MailRecord r = sampleMail(1);
        r.live = 7; // append always stores 1
        ASSERT_TRUE(box.append(r, &number).ok);
        EXPECT_EQ(number, 1);
        ASSERT_TRUE(box.append(sampleMail(2), &number).ok);
        EXPECT_EQ(number, 2);
        EXPECT_EQ(boxBytes(info.box), sampleBytes({1, 2}, info.layout)) << info.fileName;
        MailRecord back;
        ASSERT_TRUE(box.read(2, back).ok);
        EXPECT_EQ(back.subject.trimmed(), QStringLiteral("件名 2"));
        EXPECT_EQ(back.live, 1);
    }
}

TEST(Mailbox, ReadingAMissingOrEmptyBoxFindsNothing) {
    test::TempHome home;
    Mailbox box(Box::OthersInbox);
    int visits = 0;
    EXPECT_TRUE(box.readAll([&](int, const MailRecord&) { return ++visits > 0; }).ok);
    EXPECT_EQ(visits, 0);
    MailRecord r;
    const StoreResult missing = box.read(1, r);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error,
              QStringLiteral("メールボックス vbmdata3.data に 1 番のメールはありません。"));
    test::writeBytes(dataFile("vbmdata3.data"), {});
    EXPECT_TRUE(box.readAll([&](int, const MailRecord&) { return ++visits > 0; }).ok);
    EXPECT_EQ(visits, 0);
    const BoxListing listing = box.list();
    EXPECT_TRUE(listing.result.ok);
    EXPECT_TRUE(listing.lines.isEmpty());
    EXPECT_FALSE(listing.last.has_value());
}

// Whole records a megabyte at a time; a chunk a reader keeps (an export's worker builds from
// it while the next is read) keeps its bytes.
TEST(Mailbox, ChunksOfWholeRecordsStayAsTheyWereWhileKept) {
    test::TempHome home;
    for (int i = 1; i <= 70; ++i)
        ASSERT_TRUE(Mailbox(Box::OthersInbox).append(sampleMail(i % 5)).ok);
    const QByteArray file = boxBytes(Box::OthersInbox);
    QList<std::pair<int, QByteArray>> kept;
    ASSERT_TRUE(Mailbox(Box::OthersInbox)
                    .readChunks([&](int first, const QByteArray& chunk) {
                        kept.append({first, chunk});
                        return true;
                    })
                    .ok);
    const int perChunk = (1 << 20) / kMailRecordSize;
    ASSERT_EQ(kept.size(), 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(kept[k].first, 1 + k * perChunk);
        EXPECT_EQ(kept[k].second, file.mid(qsizetype(k) * perChunk * kMailRecordSize,
                                           qsizetype(perChunk) * kMailRecordSize))
            << "chunk " << k;
    }
    int visits = 0;
    ASSERT_TRUE(Mailbox(Box::OthersInbox)
                    .readChunks([&](int, const QByteArray&) { return ++visits < 2; })
                    .ok);
    EXPECT_EQ(visits, 2);
}

TEST(Mailbox, DeleteOneKeepsTheOthersByteForByteInOrder) {
    for (RecordLayout layout : {RecordLayout::Standard, RecordLayout::PartnerSend}) {
        test::TempHome home;
        const Box b = layout == RecordLayout::Standard ? Box::PartnerInbox : Box::PartnerSent;
        fillBox(b, {1, 2, 3});
        const StoreResult r = Mailbox(b).remove(2);
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        EXPECT_TRUE(r.notice.isEmpty());
        EXPECT_EQ(boxBytes(b), sampleBytes({1, 3}, layout));
        EXPECT_FALSE(QFile::exists(dataFile(boxInfo(b).companionName)));
        EXPECT_FALSE(QFile::exists(dataFile(QString::fromLatin1(boxInfo(b).fileName) + ".new")));
        // Deleting the last and then the first.
        ASSERT_TRUE(Mailbox(b).remove(2).ok);
        EXPECT_EQ(boxBytes(b), sampleBytes({1}, layout));
    }
}

TEST(Mailbox, DeletingTheOnlyRecordLeavesAnEmptyFile) {
    test::TempHome home;
    fillBox(Box::OthersInbox, {1});
    ASSERT_TRUE(Mailbox(Box::OthersInbox).remove(1).ok);
    EXPECT_TRUE(boxExists(Box::OthersInbox));
    EXPECT_EQ(boxBytes(Box::OthersInbox).size(), 0);
}

TEST(Mailbox, DeleteOfAMissingNumberWritesNothing) {
    test::TempHome home;
    fillBox(Box::OthersInbox, {1, 2});
    const QByteArray before = boxBytes(Box::OthersInbox);
    for (int n : {0, -1, 3}) {
        const StoreResult r = Mailbox(Box::OthersInbox).remove(n);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(
            r.error,
            QStringLiteral("メールボックス vbmdata3.data に %1 番のメールはありません。").arg(n));
    }
    EXPECT_EQ(boxBytes(Box::OthersInbox), before);
}

TEST(Mailbox, ARecordAlreadyMarkedZeroIsListedUntilTheNextCompactionDropsIt) {
    test::TempHome home;
    // Record 2 was left marked by an interrupted operation.
    test::writeBytes(dataFile("vbmdata3.data"), sampleBytes({1}, RecordLayout::Standard) +
                                                    sampleBytes({2}, RecordLayout::Standard, 0) +
                                                    sampleBytes({3, 4}, RecordLayout::Standard));
    EXPECT_EQ(Mailbox(Box::OthersInbox).list().lines.size(), 4);
    ASSERT_TRUE(Mailbox(Box::OthersInbox).remove(4).ok);
    EXPECT_EQ(boxBytes(Box::OthersInbox), sampleBytes({1, 3}, RecordLayout::Standard));
}

TEST(Mailbox, DeleteAllEmptiesTheBox) {
    test::TempHome home;
    fillBox(Box::OthersSent, {1, 2, 3});
    ASSERT_TRUE(Mailbox(Box::OthersSent).removeAll().ok);
    EXPECT_TRUE(boxExists(Box::OthersSent));
    EXPECT_EQ(boxBytes(Box::OthersSent).size(), 0);
    EXPECT_FALSE(QFile::exists(dataFile("VBMDATA5.TMP")));
    // Again on the empty box, and on a box that never existed.
    EXPECT_TRUE(Mailbox(Box::OthersSent).removeAll().ok);
    EXPECT_TRUE(Mailbox(Box::Storage).removeAll().ok);
    EXPECT_FALSE(boxExists(Box::Storage));
}

TEST(Mailbox, StorageMoveCarriesItsPositionInLiveAndKeepsItThroughCompaction) {
    test::TempHome home;
    fillBox(Box::OthersInbox, {1, 2, 3});
    for (int i : {1, 2, 3}) {
        int number = 0;
        ASSERT_TRUE(appendToStorage(sampleMail(10 + i), &number).ok);
        EXPECT_EQ(number, i);
    }
    QByteArray bytes = boxBytes(Box::Storage);
    ASSERT_EQ(bytes.size(), 3 * kMailRecordSize);
    EXPECT_EQ(bytes.mid(2 * kMailRecordSize + 32282, 2), QByteArray("\x03\x00", 2));
    EXPECT_EQ(bytes.mid(2 * kMailRecordSize + 32280, 2), QByteArray("\r\n"));
    // The others in-box is untouched by a storage append.
    EXPECT_EQ(boxBytes(Box::OthersInbox), sampleBytes({1, 2, 3}, RecordLayout::Standard));

    ASSERT_TRUE(Mailbox(Box::Storage).remove(1).ok);
    MailRecord r;
    ASSERT_TRUE(Mailbox(Box::Storage).read(2, r).ok);
    EXPECT_EQ(r.subject.trimmed(), QStringLiteral("件名 13"));
    EXPECT_EQ(r.live, 3); // renumbered to 2, Live stays 3
}

TEST(Mailbox, The32768thRecordIsRefused) {
    test::TempHome home;
    const QString path = dataFile("vbmdata2.data");
    // A sparse file of 32766 whole records.
    ASSERT_TRUE(test::writeBytes(path, {}));
    ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), qint64(32766) * kMailRecordSize), 0);
    int number = 0;
    ASSERT_TRUE(Mailbox(Box::PartnerInbox).append(sampleMail(1), &number).ok);
    EXPECT_EQ(number, 32767);
    const StoreResult full = Mailbox(Box::PartnerInbox).append(sampleMail(2), &number);
    EXPECT_FALSE(full.ok);
    EXPECT_EQ(number, 0);
    EXPECT_EQ(full.error,
              QStringLiteral("メールボックス vbmdata2.data がいっぱいです（32767 件）。"
                             "不要なメールを削除してからやり直してください。"
                             "古いメールは、一覧の右クリックメニュー「このボックスを書き出す」"
                             "で mbox ファイルに書き出してから削除できます（コマンドでは "
                             "kikumail --export vbmdata2.data 保存先.mbox）。"));
    EXPECT_EQ(QFileInfo(path).size(), qint64(32767) * kMailRecordSize);
    const StoreResult storage = appendToStorage(sampleMail(3));
    EXPECT_TRUE(storage.ok); // other boxes are unaffected
}

TEST(Mailbox, APartialTrailingRecordIsNeitherListedNorLost) {
    test::TempHome home;
    const QByteArray whole = sampleBytes({1, 2}, RecordLayout::Standard);
    const QByteArray tail = sampleBytes({3}, RecordLayout::Standard).left(20000);
    test::writeBytes(dataFile("vbmdata3.data"), whole + tail);
    Mailbox box(Box::OthersInbox);

    // Reading sees only the whole records.
    int count = 0;
    ASSERT_TRUE(box.count(count).ok);
    EXPECT_EQ(count, 2);
    const BoxListing listing = box.list();
    ASSERT_EQ(listing.lines.size(), 2);
    EXPECT_EQ(listing.last->subject.trimmed(), QStringLiteral("件名 2"));
    MailRecord r;
    EXPECT_FALSE(box.read(3, r).ok);
    EXPECT_EQ(test::readBytes(dataFile("vbmdata3.data")), whole + tail);

    // The next write moves the tail into the side file and says so.
    int number = 0;
    const StoreResult appended = box.append(sampleMail(4), &number);
    ASSERT_TRUE(appended.ok) << appended.error.toStdString();
    EXPECT_EQ(number, 3);
    EXPECT_EQ(appended.notice,
              QStringLiteral("メールボックス vbmdata3.data の末尾にあった不完全なデータ（20000 "
                             "バイト）を vbmdata3.data.partial に移しました。"));
    EXPECT_EQ(test::readBytes(dataFile("vbmdata3.data.partial")), tail);
    EXPECT_EQ(boxBytes(Box::OthersInbox), sampleBytes({1, 2, 4}, RecordLayout::Standard));

    // A second damaged tail, met by a delete, is added to the side file, not over it.
    test::writeBytes(dataFile("vbmdata3.data"), boxBytes(Box::OthersInbox) + "xyz");
    const StoreResult removed = box.remove(1);
    ASSERT_TRUE(removed.ok) << removed.error.toStdString();
    EXPECT_FALSE(removed.notice.isEmpty());
    EXPECT_EQ(test::readBytes(dataFile("vbmdata3.data.partial")), tail + "xyz");
    EXPECT_EQ(boxBytes(Box::OthersInbox), sampleBytes({2, 4}, RecordLayout::Standard));
}

TEST(Mailbox, ListingGivesTheListFieldsCutAtZeroUntrimmedAndTheWholeLastRecord) {
    for (RecordLayout layout : {RecordLayout::Standard, RecordLayout::PartnerSend}) {
        test::TempHome home;
        const Box b = layout == RecordLayout::Standard ? Box::OthersInbox : Box::PartnerSent;
        MailRecord withZero = sampleMail(1);
        withZero.subject = QStringLiteral("前半") + QChar(0) + QStringLiteral("後半");
        withZero.from = QStringLiteral("a@b") + QChar(0);
        ASSERT_TRUE(Mailbox(b).append(withZero).ok);
        ASSERT_TRUE(Mailbox(b).append(sampleMail(2)).ok);
        ASSERT_TRUE(Mailbox(b).append(sampleMail(3)).ok);

        const BoxListing listing = Mailbox(b).list();
        ASSERT_TRUE(listing.result.ok);
        ASSERT_EQ(listing.lines.size(), 3);
        EXPECT_EQ(listing.lines[0].subject, QStringLiteral("前半"));
        EXPECT_EQ(listing.lines[0].from, QStringLiteral("a@b"));
        const ListLine& line = listing.lines[1];
        EXPECT_EQ(line.subject, QStringLiteral("件名 2") + QString(100 - 6, QChar(' ')));
        EXPECT_EQ(line.from, QStringLiteral("sender2@example.jp") + QString(90 - 18, QChar(' ')));
        EXPECT_EQ(line.date.trimmed(), QStringLiteral("Mon, 2 Jan 2024 10:00:00 +0900"));
        EXPECT_EQ(line.date.size(), 90);
        // Lines agree with reading each record in full.
        Mailbox(b).readAll([&](int n, const MailRecord& r) {
            EXPECT_EQ(listing.lines[n - 1].date, cutAtZero(r.date));
            return true;
        });
        ASSERT_TRUE(listing.last.has_value());
        MailRecord expected;
        ASSERT_TRUE(Mailbox(b).read(3, expected).ok);
        EXPECT_EQ(*listing.last, expected);
        EXPECT_EQ(listing.last->body.trimmed(), QStringLiteral("本文 3\r\n二行目"));
    }
}

TEST(Mailbox, MoveToStorageStoresBeforeItRemovesAndNeverLosesTheMessage) {
    test::TempHome home;
    fillBox(Box::OthersInbox, {1, 2, 3});
    int number = 0;
    ASSERT_TRUE(moveToStorage(2, sampleMail(2), &number).ok);
    EXPECT_EQ(number, 1);
    EXPECT_EQ(boxBytes(Box::OthersInbox), sampleBytes({1, 3}, RecordLayout::Standard));
    EXPECT_EQ(boxBytes(Box::Storage), sampleBytes({2}, RecordLayout::Standard));

    // A number that does not exist moves nothing.
    EXPECT_FALSE(moveToStorage(3, sampleMail(9)).ok);
    EXPECT_EQ(boxBytes(Box::Storage).size(), kMailRecordSize);

    // The storage box refuses (full): the message stays in the in-box.
    const QString storage = dataFile("vbmdata6.data");
    ASSERT_EQ(::truncate(QFile::encodeName(storage).constData(), qint64(32767) * kMailRecordSize),
              0);
    const StoreResult full = moveToStorage(1, sampleMail(1));
    EXPECT_FALSE(full.ok);
    EXPECT_TRUE(full.error.contains(QStringLiteral("vbmdata6.data がいっぱいです")));
    EXPECT_EQ(boxBytes(Box::OthersInbox), sampleBytes({1, 3}, RecordLayout::Standard));

    // The in-box cannot be rewritten: the message is in both boxes and the text says so.
    ASSERT_EQ(::truncate(QFile::encodeName(storage).constData(), 0), 0);
    struct RenameFails : test::FaultyFileOps {
        int rename(const char*, const char*) override {
            errno = EACCES;
            return -1;
        }
    } ops;
    StoreResult r;
    {
        ScopedFileOps scope(ops);
        r = moveToStorage(1, sampleMail(1));
    }
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(
        r.error,
        QStringLiteral("メールボックス vbmdata3.data を一時ファイル VBMDATA3.TMP "
                       "に移せません: アクセスが拒否されました（メールは保管箱にも入っています）"));
    EXPECT_EQ(boxBytes(Box::OthersInbox), sampleBytes({1, 3}, RecordLayout::Standard));
    EXPECT_EQ(boxBytes(Box::Storage), sampleBytes({1}, RecordLayout::Standard));
}
