#include "store/mailbox.h"

#include "store/fielddecode.h"
#include "store/originals.h"

namespace kiku {

namespace {

const std::array<BoxInfo, 5> kBoxes{{
    {Box::OthersInbox, "vbmdata3.data", "VBMDATA3.TMP", 1, RecordLayout::Standard},
    {Box::Storage, "vbmdata6.data", "VBMDATA6.TMP", 2, RecordLayout::Standard},
    {Box::PartnerSent, "vbmdata4.data", "VBMDATA4.TMP", 3, RecordLayout::PartnerSend},
    {Box::PartnerInbox, "vbmdata2.data", "VBMDATA2.TMP", 4, RecordLayout::Standard},
    {Box::OthersSent, "vbmdata5.data", "VBMDATA5.TMP", 5, RecordLayout::Standard},
}};

RecordFileSetup setupFor(const BoxInfo& info) {
    RecordFileSetup setup;
    setup.fileName = QString::fromLatin1(info.fileName);
    setup.companionName = QString::fromLatin1(info.companionName);
    setup.label = QStringLiteral("メールボックス %1").arg(setup.fileName);
    setup.itemNoun = QStringLiteral("メール");
    setup.recordSize = kMailRecordSize;
    setup.liveOffset = mailLayout(info.layout).live.offset;
    setup.fullHint =
        QStringLiteral("古いメールは、一覧の右クリックメニュー「このボックスを書き出す」"
                       "で mbox ファイルに書き出してから削除できます（コマンドでは "
                       "kikumail --export %1 保存先.mbox）。")
            .arg(setup.fileName);
    return setup;
}

} // namespace

const std::array<BoxInfo, 5>& allBoxes() {
    return kBoxes;
}

const BoxInfo& boxInfo(Box box) {
    for (const BoxInfo& info : kBoxes) {
        if (info.box == box)
            return info;
    }
    Q_UNREACHABLE();
}

std::optional<Box> boxFromCode(int code) {
    for (const BoxInfo& info : kBoxes) {
        if (info.code == code)
            return info.box;
    }
    return std::nullopt;
}

Mailbox::Mailbox(Box box) : m_box(box), m_file(setupFor(boxInfo(box))) {}

StoreResult Mailbox::count(int& messages) {
    return m_file.count(messages);
}

StoreResult Mailbox::digestOf(int number, QByteArray& digest) {
    digest.clear();
    QByteArray bytes;
    if (StoreResult r = m_file.read(number, bytes); !r)
        return r;
    digest = recordDigest(bytes.constData(), info().layout);
    return {};
}

StoreResult Mailbox::append(const MailRecord& record, int* number) {
    const RecordLayout layout = info().layout;
    return m_file.append(
        [&](int) {
            MailRecord r = record;
            r.live = 1;
            return encodeMail(r, layout);
        },
        number);
}

MailboxAppends::MailboxAppends() = default;
MailboxAppends::~MailboxAppends() = default;

StoreResult MailboxAppends::append(
    Box box, const MailRecord& record, int* number,
    const std::function<StoreResult(int number, const QByteArray& digest)>& beforeWrite) {
    const BoxInfo& info = boxInfo(box);
    std::unique_ptr<RecordAppender>& appender = m_boxes[size_t(info.code - 1)];
    if (!appender)
        appender = std::make_unique<RecordAppender>(setupFor(info));
    auto build = [&](int) {
        MailRecord r = record;
        r.live = 1;
        return encodeMail(r, info.layout);
    };
    if (!beforeWrite)
        return appender->append(build, number);
    return appender->append(build, number, [&](int n, const QByteArray& bytes) {
        return beforeWrite(n, recordDigest(bytes.constData(), info.layout));
    });
}

StoreResult MailboxAppends::commit() {
    for (const std::unique_ptr<RecordAppender>& appender : m_boxes) {
        if (!appender)
            continue;
        if (StoreResult r = appender->sync(); !r)
            return r;
    }
    return {};
}

StoreResult appendToStorage(const MailRecord& record, int* number) {
    RecordFile file(setupFor(boxInfo(Box::Storage)));
    return file.append(
        [&](int n) {
            MailRecord r = record;
            r.live = qint16(n);
            return encodeMail(r, RecordLayout::Standard);
        },
        number);
}

StoreResult moveToStorage(int number, const MailRecord& message, int* storageNumber) {
    if (storageNumber)
        *storageNumber = 0;
    int count = 0;
    Mailbox inbox(Box::OthersInbox);
    if (StoreResult r = inbox.count(count); !r)
        return r;
    if (number < 1 || number > count)
        return StoreResult::failure(
            QStringLiteral("メールボックス vbmdata3.data に %1 番のメールはありません。")
                .arg(number));
    // The original goes with the message; the window's fields may differ from the record
    // (edited or trimmed), and then the original is kept again under the new record.
    MailRecord before;
    if (StoreResult r = inbox.read(number, before); !r)
        return r;
    StoreResult stored = appendToStorage(message, storageNumber);
    if (!stored)
        return stored;
    const QByteArray from = recordDigest(before), to = recordDigest(message);
    if (from != to) {
        QByteArray original;
        bool found = false;
        StoreResult carried = Originals::read(from, original, &found);
        if (carried && found)
            carried = Originals::keep(to, original);
        if (!carried)
            stored.addNotice(carried.error);
    }
    // An unchanged record keeps its original where it is; a changed one has its copy.
    StoreResult removed =
        inbox.remove(number, from == to ? Mailbox::Original::Keep : Mailbox::Original::Release);
    if (!removed)
        removed.error += QStringLiteral("（メールは保管箱にも入っています）");
    removed.addNotice(stored.notice);
    return removed;
}

StoreResult Mailbox::read(int number, MailRecord& record) {
    QByteArray bytes;
    StoreResult r = m_file.read(number, bytes);
    record = r ? decodeMail(bytes.constData(), info().layout) : MailRecord{};
    return r;
}

StoreResult Mailbox::readAll(const std::function<bool(int, const MailRecord&)>& visit) {
    const RecordLayout layout = info().layout;
    return m_file.readAll(
        [&](int number, const char* bytes) { return visit(number, decodeMail(bytes, layout)); });
}

BoxListing Mailbox::list() {
    const MailLayout& l = mailLayout(info().layout);
    // Read Subject, From and Date in one range where they lie together (the standard
    // layout), otherwise field by field.
    QList<FieldSpan> spans;
    int subjectAt, fromAt, dateAt;
    if (l.date.offset == l.subject.offset + l.subject.width &&
        l.from.offset == l.date.offset + l.date.width) {
        spans = {{l.subject.offset, l.subject.width + l.date.width + l.from.width}};
        subjectAt = 0;
        dateAt = l.subject.width;
        fromAt = dateAt + l.date.width;
    } else {
        spans = {l.subject, l.from, l.date};
        subjectAt = 0;
        fromAt = l.subject.width;
        dateAt = fromAt + l.from.width;
    }
    BoxListing listing;
    QByteArray last;
    listing.result = m_file.scan(
        spans,
        [&](int, const char* bytes) {
            listing.lines.append({decodeCp932FieldCutAtZero(bytes + subjectAt, l.subject.width),
                                  decodeCp932FieldCutAtZero(bytes + fromAt, l.from.width),
                                  decodeCp932FieldCutAtZero(bytes + dateAt, l.date.width)});
        },
        &last);
    if (!listing.result) {
        listing.lines.clear();
        return listing;
    }
    if (!last.isEmpty())
        listing.last = decodeMail(last.constData(), info().layout);
    return listing;
}

StoreResult Mailbox::digests(const std::function<void(const QByteArray&)>& visit) {
    const RecordLayout layout = info().layout;
    return m_file.readAll([&](int, const char* bytes) {
        visit(recordDigest(bytes, layout));
        return true;
    });
}

// After a compaction the records are gone for good, so an original that cannot be removed
// only waits for a later sweep: said in the notice, not a failure.

StoreResult Mailbox::remove(int number, Original original) {
    QByteArray record;
    const bool known = original == Original::Release && m_file.read(number, record).ok;
    StoreResult removed = m_file.remove(number);
    if (removed && known) {
        const StoreResult released =
            Originals::release(recordDigest(record.constData(), info().layout));
        removed.addNotice(released.error);
    }
    return removed;
}

StoreResult Mailbox::removeOldest(int messages) {
    StoreResult removed = m_file.removeRange(1, messages);
    // Rare (a box near its limit): the originals of what went are found by one sweep.
    if (removed) {
        const StoreResult swept = Originals::sweep();
        removed.addNotice(swept ? swept.notice : swept.error);
    }
    return removed;
}

StoreResult Mailbox::readChunks(const std::function<bool(int, const QByteArray&)>& visit) {
    return m_file.readChunks(visit);
}

StoreResult Mailbox::removeAll() {
    StoreResult removed = m_file.removeAll();
    if (removed) {
        const StoreResult swept = Originals::sweep();
        removed.addNotice(swept ? swept.notice : swept.error);
    }
    return removed;
}

} // namespace kiku
