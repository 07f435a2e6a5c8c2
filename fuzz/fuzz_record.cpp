// Record bytes as found on disk, whatever they hold: a mail record in both layouts and an
// address record. Decoding may not crash, and a decoded record written back must decode to
// the same record.
#include "store/addressfile.h"
#include "store/mailrecord.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

QByteArray padded(const uint8_t* data, size_t size, int length) {
    QByteArray bytes(length, ' ');
    std::memcpy(bytes.data(), data, qMin<size_t>(size, size_t(length)));
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kiku;
    const QByteArray mail = padded(data, size, kMailRecordSize);
    for (RecordLayout layout : {RecordLayout::Standard, RecordLayout::PartnerSend}) {
        const MailRecord record = decodeMail(mail.constData(), layout);
        const QByteArray again = encodeMail(record, layout);
        if (again.size() != kMailRecordSize)
            std::abort();
        (void)decodeMail(again.constData(), layout);
    }
    const QByteArray address = padded(data, size, kAddressRecordSize);
    const AddressRecord entry = decodeAddress(address.constData());
    const QByteArray again = encodeAddress(entry);
    if (again.size() != kAddressRecordSize)
        std::abort();
    (void)decodeAddress(again.constData());
    return 0;
}
