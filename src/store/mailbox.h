#pragma once

#include "store/mailrecord.h"
#include "store/recordfile.h"
#include "store/storeresult.h"

#include <QList>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace kiku {

// The five mailboxes in the data folder ("\★MAilData\").
enum class Box {
    OthersInbox,  // vbmdata3.data, current-box code 1
    Storage,      // vbmdata6.data, code 2 ("保管箱")
    PartnerSent,  // vbmdata4.data, code 3, partner-send layout
    PartnerInbox, // vbmdata2.data, code 4
    OthersSent,   // vbmdata5.data, code 5
};

struct BoxInfo {
    Box box;
    const char* fileName;      // the box file in the data folder
    const char* companionName; // its temporary companion, present only while compacting
    qint16 code;               // the viewer's current-box code
    RecordLayout layout;
};

// The table of the five boxes, in order of their current-box codes 1 … 5.
const std::array<BoxInfo, 5>& allBoxes();
const BoxInfo& boxInfo(Box box);
// The box a current-box code names; nothing for any other value.
std::optional<Box> boxFromCode(int code);

// One line of the viewer's list: the three fields cut at their first zero character and
// NOT trimmed (the list keeps the padding spaces).
struct ListLine {
    QString subject;
    QString from;
    QString date;
};

// Everything the viewer's fill-list needs: one line per record (line k = record k) and
// the whole last record, which the window shows when the list is filled. On failure
// `lines` is empty and `last` unset.
struct BoxListing {
    StoreResult result;
    QList<ListLine> lines;
    std::optional<MailRecord> last;
};

// How the viewer window uses the boxes (box = boxFromCode(current-box code)):
//   fill-list      BoxListing l = Mailbox(box).list(); line k+1 from l.lines[k], then the
//                  window shows *l.last (unset for an empty box)
//   show-message   Mailbox(box).read(n, record), n = the selected line's 1-based position
//   delete one     Mailbox(box).remove(n), then fill-list
//   delete all     Mailbox(box).removeAll(), then fill-list
//   move           moveToStorage(n, fields shown), then fill-list of the others in-box
// The receive cycle and the send operation call Mailbox(box).append(record).
//
// One mailbox. Every call opens the file, does its work and closes it again; nothing is
// held open between calls, and no record buffer is kept here (the viewer keeps the record
// it shows). Record numbers are 1-based and equal the list positions.
//
// Failures come back in StoreResult::error as one Japanese sentence naming the box file,
// for example:
//   "メールボックス vbmdata3.data に書き込めません: ディスクの空き容量が足りません"
//   "メールボックス vbmdata3.data を開けません: データフォルダ ★MAilData がありません"
//   "メールボックス vbmdata3.data を読み込めません: …"
//   "メールボックス vbmdata3.data に 5 番のメールはありません。"
//   "メールボックス vbmdata3.data がいっぱいです（32767
//   件）。不要なメールを削除してからやり直してください。" "メールボックス vbmdata3.data
//   を一時ファイル VBMDATA3.TMP に移せません: …" "メールボックス vbmdata3.data を一時ファイル
//   VBMDATA3.TMP から元に戻せません: …"
// A failed call has changed nothing (see RecordFile for the rules that guarantee it).
// StoreResult::notice, when not empty, is worth showing even after success, e.g.
//   "メールボックス vbmdata3.data の末尾にあった不完全なデータ（100 バイト）を
//    vbmdata3.data.partial に移しました。"
class Mailbox {
public:
    explicit Mailbox(Box box);
    const BoxInfo& info() const { return boxInfo(m_box); }

    // Number of messages (whole records; a missing file counts as empty).
    StoreResult count(int& messages);
    // Stores a received or sent message after the last one with Live = 1; `number`
    // receives its record number. The file is created when absent and synced before this
    // returns. Refused when the box already holds 32767 messages.
    StoreResult append(const MailRecord& record, int* number = nullptr);
    // Message `number` (1-based), all four fields untrimmed.
    StoreResult read(int number, MailRecord& record);
    // The recordDigest of message `number`, from its bytes as stored.
    StoreResult digestOf(int number, QByteArray& digest);
    // Makes every record the file holds durable (records an interrupted run never synced).
    StoreResult sync() { return m_file.sync(); }
    // visit(number, record) for every message in order; return false from visit to stop.
    StoreResult readAll(const std::function<bool(int, const MailRecord&)>& visit);
    // The viewer's list: only Subject, From and Date of each record are read from disk,
    // plus the whole last record.
    BoxListing list();
    // visit(recordDigest) for every message in order.
    StoreResult digests(const std::function<void(const QByteArray&)>& visit);
    // Deletes message `number` (and any record already marked Live = 0) with one rewrite
    // of the box through its temporary companion. Later messages move up by one.
    // One original of the message's record then goes (Originals::release()), unless
    // `original` is Keep (the message lives on in another box); one that cannot be removed
    // is named in the notice and taken by a later sweep.
    enum class Original { Release, Keep };
    StoreResult remove(int number, Original original = Original::Release);
    // Deletes every message, leaving an empty box file; then every original no record of
    // the five boxes names goes (Originals::sweep()).
    StoreResult removeAll();
    // Deletes the oldest `messages` messages (records 1 … messages) with one rewrite.
    StoreResult removeOldest(int messages);
    // The raw bytes of every record in order (in the box's own layout), a megabyte of whole
    // records at a time: visit(number of the first, records); return false to stop. For work
    // over a whole box that needs only some fields of each record. A chunk may be kept (a
    // copy) and worked on elsewhere; its bytes stay as they are.
    StoreResult readChunks(const std::function<bool(int, const QByteArray&)>& visit);

private:
    Box m_box;
    RecordFile m_file;
};

// Appends of one receive run: each box is opened on its first message and kept open,
// every record is written at once, and commit() makes all of them durable with one sync
// per box. Until commit() has succeeded nothing appended here may be taken as kept: the
// receive run deletes mail on the server only after it.
class MailboxAppends {
public:
    MailboxAppends();
    ~MailboxAppends();
    MailboxAppends(const MailboxAppends&) = delete;
    MailboxAppends& operator=(const MailboxAppends&) = delete;

    // As Mailbox::append (Live = 1), without the sync. `beforeWrite`, when given, is called
    // with the record number the message will get and the recordDigest of its bytes, just
    // before they are written; when it fails nothing is written and its failure is returned.
    StoreResult append(
        Box box, const MailRecord& record, int* number = nullptr,
        const std::function<StoreResult(int number, const QByteArray& digest)>& beforeWrite = {});
    // Syncs every box appended to; stops at the first that cannot be made durable.
    StoreResult commit();

private:
    std::array<std::unique_ptr<RecordAppender>, 5> m_boxes;
};

// The storage-box append ("保管箱", vbmdata6.data): appends the message with Live set to
// its own record number (kept through later compactions). `number` receives that number.
StoreResult appendToStorage(const MailRecord& record, int* number = nullptr);

// Moving message `number` of the others in-box (vbmdata3.data) into the storage box, in
// the order that cannot lose it: `message` (the fields the viewer shows) is appended to
// the storage box first, and only then is the record removed from the in-box. When the
// append fails nothing has changed; when the removal fails the message is in both boxes
// and the error says so.
StoreResult moveToStorage(int number, const MailRecord& message, int* storageNumber = nullptr);

} // namespace kiku
