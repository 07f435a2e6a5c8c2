#pragma once

#include "store/storeresult.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace kiku {

// One entry of the address file vbmdata.data, 184 bytes on disk:
//   Name 0–89 (Shift-JIS, space padded), LineBreak 90–91 (CR LF),
//   Live 92–93 (16-bit little-endian, 1 = live), Address 94–183 (Shift-JIS, space padded).
// Text fields hold the whole 90-byte field as decoded, padding included; readers trim.
struct AddressRecord {
    QString name;
    QString address;
    qint16 live = 1;

    bool operator==(const AddressRecord&) const = default;
};

inline constexpr int kAddressRecordSize = 184;

QByteArray encodeAddress(const AddressRecord& record);
AddressRecord decodeAddress(const char* bytes);

// A record with the record number it was read from.
struct AddressEntry {
    int number;
    AddressRecord record;
};

// The two files with the Address record layout: the address book vbmdata.data, and
// VBMASTER.INI, which the compose window lists when it opens and nothing writes.
enum class AddressFile { Book, Master };

// The address file operations. Each opens vbmdata.data, works and closes it again; a
// delete compacts through VBMDATA.TMP with the same rules as the mailboxes (a missing
// file with a companion is restored first; a failure changes nothing). Error texts name
// the file, e.g. "アドレス帳 vbmdata.data に書き込めません: …",
// "アドレス帳 vbmdata.data に 4 番のデータはありません。".

// Every record in file order (a missing file lists nothing).
StoreResult ListAddresses(QList<AddressEntry>& entries, AddressFile file = AddressFile::Book);
// Creates the file empty when it does not exist (the data folder must).
StoreResult CreateAddressFile(AddressFile file = AddressFile::Book);
// Registers an entry at (number of records) + 1: Name is `name` followed by ideographic
// spaces "　" up to 30 characters, Address as typed; Live 1. `number` receives it.
StoreResult AddAddress(const QString& name, const QString& address, int* number = nullptr);
StoreResult ReadAddress(int number, AddressRecord& record);
// Removes record `number` (and any record marked Live = 0); later records move up.
StoreResult DeleteAddress(int number);

} // namespace kiku
