#include "store/addressfile.h"

#include "base/codec.h"
#include "store/fielddecode.h"
#include "store/mailrecord.h"
#include "store/recordfile.h"

#include <cstring>

namespace kiku {

namespace {

constexpr FieldSpan kName{0, 90};
constexpr FieldSpan kLineBreak{90, 2};
constexpr FieldSpan kLive{92, 2};
constexpr FieldSpan kAddress{94, 90};
constexpr int kNameCharacters = 30;

RecordFile addressFile(AddressFile file = AddressFile::Book) {
    RecordFileSetup setup;
    if (file == AddressFile::Book) {
        setup.fileName = QStringLiteral("vbmdata.data");
        setup.companionName = QStringLiteral("VBMDATA.TMP");
        setup.label = QStringLiteral("アドレス帳 vbmdata.data");
    } else {
        // Never compacted; the companion name only has to differ from the book's.
        setup.fileName = QStringLiteral("VBMASTER.INI");
        setup.companionName = QStringLiteral("VBMASTER.TMP");
        setup.label = QStringLiteral("アドレス帳 VBMASTER.INI");
    }
    setup.itemNoun = QStringLiteral("データ");
    setup.recordSize = kAddressRecordSize;
    setup.liveOffset = kLive.offset;
    return RecordFile(setup);
}

} // namespace

QByteArray encodeAddress(const AddressRecord& record) {
    QByteArray bytes(kAddressRecordSize, ' ');
    std::memcpy(bytes.data() + kName.offset,
                codec::fixedWidthCp932(record.name, kName.width).constData(), kName.width);
    bytes[kLineBreak.offset] = '\r';
    bytes[kLineBreak.offset + 1] = '\n';
    writeLive16(bytes.data() + kLive.offset, record.live);
    std::memcpy(bytes.data() + kAddress.offset,
                codec::fixedWidthCp932(record.address, kAddress.width).constData(), kAddress.width);
    return bytes;
}

AddressRecord decodeAddress(const char* bytes) {
    AddressRecord r;
    r.name = decodeCp932Field(bytes + kName.offset, kName.width);
    r.address = decodeCp932Field(bytes + kAddress.offset, kAddress.width);
    r.live = readLive16(bytes + kLive.offset);
    return r;
}

StoreResult ListAddresses(QList<AddressEntry>& entries, AddressFile file) {
    entries.clear();
    StoreResult r = addressFile(file).readAll([&](int number, const char* bytes) {
        entries.append({number, decodeAddress(bytes)});
        return true;
    });
    if (!r)
        entries.clear();
    return r;
}

StoreResult CreateAddressFile(AddressFile file) {
    return addressFile(file).create();
}

StoreResult AddAddress(const QString& name, const QString& address, int* number) {
    AddressRecord record;
    record.name = name + QString(qMax<qsizetype>(0, kNameCharacters - name.size()), QChar(0x3000));
    record.address = address;
    const QByteArray bytes = encodeAddress(record);
    return addressFile().append([&](int) { return bytes; }, number);
}

StoreResult ReadAddress(int number, AddressRecord& record) {
    QByteArray bytes;
    StoreResult r = addressFile().read(number, bytes);
    record = r ? decodeAddress(bytes.constData()) : AddressRecord{};
    return r;
}

StoreResult DeleteAddress(int number) {
    return addressFile().remove(number);
}

} // namespace kiku
