#include "base/text.h"
#include "store/addressfile.h"
#include "storetest.h"
#include "temphome.h"

#include <gtest/gtest.h>

using namespace kiku;
using kiku::test::dataFile;
using kiku::test::readBytes;
using kiku::test::writeBytes;

namespace {

QByteArray addressBytes() {
    return readBytes(dataFile("vbmdata.data"));
}

QByteArray entryBytes(const QString& name, const QString& address) {
    AddressRecord r;
    r.name = name + QString(qMax<qsizetype>(0, 30 - name.size()), QChar(0x3000));
    r.address = address;
    return encodeAddress(r);
}

QByteArray threeEntries() {
    return entryBytes("一郎", "ichiro@example.jp") + entryBytes("二郎", "jiro@example.jp") +
           entryBytes("三郎", "saburo@example.jp");
}

QByteArray addressState() {
    QList<AddressEntry> entries;
    ListAddresses(entries); // the next open: restores from the companion if needed
    return addressBytes();
}

} // namespace

TEST(AddressFile, RecordLayoutBytes) {
    test::TempHome home;
    ASSERT_TRUE(AddAddress(QStringLiteral("山田"), QStringLiteral("yamada@example.jp")).ok);
    const QByteArray bytes = addressBytes();
    ASSERT_EQ(bytes.size(), 184);
    // Name: 山田 (4 bytes), 28 ideographic spaces (0x81 0x40), then ASCII spaces to 90.
    QByteArray name("\x8e\x52\x93\x63");
    for (int i = 0; i < 28; ++i)
        name += "\x81\x40";
    name += QByteArray(90 - name.size(), ' ');
    EXPECT_EQ(bytes.mid(0, 90), name);
    EXPECT_EQ(bytes.mid(90, 2), QByteArray("\r\n"));
    EXPECT_EQ(bytes.mid(92, 2), QByteArray("\x01\x00", 2));
    EXPECT_EQ(bytes.mid(94, 90), QByteArray("yamada@example.jp") + QByteArray(90 - 17, ' '));
    // Reading gives the whole padded fields back; decoding and encoding are exact.
    AddressRecord r;
    ASSERT_TRUE(ReadAddress(1, r).ok);
    EXPECT_EQ(trimSpaces(r.name), QStringLiteral("山田"));
    EXPECT_EQ(r.address.size(), 90);
    EXPECT_EQ(encodeAddress(r), bytes);
}

TEST(AddressFile, NamePaddingFollowsTheNameLength) {
    test::TempHome home;
    const QString thirty(30, QChar(0x6728)); // 木 × 30 = 60 bytes, no padding characters
    ASSERT_TRUE(AddAddress(thirty, "a@b").ok);
    ASSERT_TRUE(AddAddress(QString(), QString()).ok);
    QList<AddressEntry> entries;
    ASSERT_TRUE(ListAddresses(entries).ok);
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].record.name, thirty + QString(30, QChar(' ')));
    EXPECT_EQ(entries[1].record.name, QString(30, QChar(0x3000)) + QString(30, QChar(' ')));
    EXPECT_EQ(entries[1].record.address, QString(90, QChar(' ')));
}

TEST(AddressFile, MissingFileListsNothingAndTheFirstEntryIsRecordOne) {
    test::TempHome home;
    QList<AddressEntry> entries{{9, {}}};
    ASSERT_TRUE(ListAddresses(entries).ok);
    EXPECT_TRUE(entries.isEmpty());
    int number = 0;
    ASSERT_TRUE(AddAddress("a", "a@example.jp", &number).ok);
    EXPECT_EQ(number, 1);
    ASSERT_TRUE(AddAddress("b", "b@example.jp", &number).ok);
    EXPECT_EQ(number, 2);
}

TEST(AddressFile, DeleteTheSecondOfThreeAndTheOnlyOne) {
    test::TempHome home;
    for (const char* n : {"一郎", "二郎", "三郎"})
        AddAddress(QString::fromUtf8(n), QString::fromUtf8(n) + "@example.jp");
    ASSERT_TRUE(DeleteAddress(2).ok);
    QList<AddressEntry> entries;
    ASSERT_TRUE(ListAddresses(entries).ok);
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[1].number, 2);
    EXPECT_EQ(trimSpaces(entries[1].record.name), QStringLiteral("三郎"));
    EXPECT_FALSE(QFile::exists(dataFile("VBMDATA.TMP")));

    // A number that does not exist writes nothing.
    const QByteArray before = addressBytes();
    const StoreResult none = DeleteAddress(0);
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.error, QStringLiteral("アドレス帳 vbmdata.data に 0 番のデータはありません。"));
    EXPECT_EQ(addressBytes(), before);

    ASSERT_TRUE(DeleteAddress(1).ok);
    ASSERT_TRUE(DeleteAddress(1).ok);
    EXPECT_TRUE(QFile::exists(dataFile("vbmdata.data")));
    EXPECT_EQ(addressBytes().size(), 0);
}

TEST(AddressFile, RestoredFromItsCompanionAndMissingFolderReported) {
    {
        test::TempHome home;
        writeBytes(dataFile("VBMDATA.TMP"), threeEntries());
        QList<AddressEntry> entries;
        ASSERT_TRUE(ListAddresses(entries).ok);
        EXPECT_EQ(entries.size(), 3);
        EXPECT_EQ(addressBytes(), threeEntries());
        EXPECT_FALSE(QFile::exists(dataFile("VBMDATA.TMP")));
    }
    test::TempHome bare(false);
    const StoreResult r = AddAddress("a", "a@example.jp");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(
        r.error,
        QStringLiteral(
            "アドレス帳 vbmdata.data に書き込めません: データフォルダ ★MAilData がありません"));
}

TEST(AddressFile, DeleteSurvivesAFaultAtEveryStep) {
    test::FaultScenario s;
    s.setup = [] { writeBytes(dataFile("vbmdata.data"), threeEntries()); };
    s.action = [] { return DeleteAddress(2); };
    s.state = [] { return addressState(); };
    s.before = threeEntries();
    s.after = entryBytes("一郎", "ichiro@example.jp") + entryBytes("三郎", "saburo@example.jp");
    test::runFaultMatrix<test::TempHome>(s);
}

TEST(AddressFile, AddSurvivesAFaultAtEveryStep) {
    test::FaultScenario s;
    s.setup = [] { writeBytes(dataFile("vbmdata.data"), threeEntries()); };
    s.action = [] { return AddAddress("四郎", "shiro@example.jp"); };
    s.state = [] { return addressState(); };
    s.before = threeEntries();
    s.after = threeEntries() + entryBytes("四郎", "shiro@example.jp");
    s.failureMayHaveTakenEffect = true;
    test::runFaultMatrix<test::TempHome>(s);
}
