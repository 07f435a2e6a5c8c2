#pragma once

#include "store/storeresult.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

namespace kiku {

class PackWrites;

// The originals folder of the data folder ("★MailData/originals/"): every message byte for
// byte as it came from the POP3 server or as it was handed to the SMTP server, beside the
// record that keeps its first 32,000 bytes of text.
//
// An original is named by the digest of its record (recordDigest(), without Live), so the
// link survives compaction, a move to the storage box and renumbering. Two messages with
// equal records keep an original each; the first one kept is the one read.
//
// The originals of one receive run (or one sent message) go into one pack file, so that a
// run of a thousand messages costs one file and one sync rather than a thousand:
//
//   <time>-<pid>-<n>.pack   the messages one after the other, then an index (per message:
//                           digest, offset, length, live or dropped), then a footer
//
// A pack is written under "<name>.part" and renamed once whole and synced, so a ".pack"
// never holds half a run. Earlier versions kept one file per message ("<hex>.eml",
// "<hex>-1.eml", …); those are still read, and come before every pack.
//
// Originals follow their records, and go only after them: deleting one message
// (Mailbox::remove) releases the newest original of its record's digest; deleting all of
// a box (Mailbox::removeAll) sweeps, dropping every original no record names any more (also
// those left by an interrupted run or a failed removal). A dropped original is marked in
// its pack's index and its bytes are given back to the file system; a pack with nothing
// left is removed. The folder is created by the first original kept; the data folder
// itself never is.
class Originals {
public:
    // The folder's path (it may not exist yet).
    static QString folder();
    // Reads the original of a record: `found` false, and ok, when none is kept.
    static StoreResult read(const QByteArray& digest, QByteArray& bytes, bool* found);
    // Keeps one original durably before it returns (sent mail, a moved message whose record
    // changed).
    static StoreResult keep(const QByteArray& digest, const QByteArray& bytes);
    // Drops one original of `digest` (the newest) after its record was deleted; ok when
    // there is none.
    static StoreResult release(const QByteArray& digest);
    // Drops the originals no record names: for each digest, those beyond the number of
    // records of the five boxes that have it (the newest go first). Reads every box first
    // and drops nothing when one cannot be read. Packs of an interrupted run go too, but
    // only while no OriginalAppends is open.
    static StoreResult sweep();
};

// What the originals folder holds at one moment, read once: many originals looked up by
// digest (an export) without reading the folder for each.
class OriginalsIndex {
public:
    OriginalsIndex() = default;
    ~OriginalsIndex();
    OriginalsIndex(const OriginalsIndex&) = delete;
    OriginalsIndex& operator=(const OriginalsIndex&) = delete;

    // Where one original lies: a whole file of the earlier layout (`indexAt` -1), or a
    // range of a pack whose index entry is at `indexAt`.
    struct Copy {
        QByteArray file; // the name in the folder
        qint64 offset = 0;
        qint64 length = 0;
        qint64 indexAt = -1;
    };

    // Reads the folder; an empty index, and ok, when there is none yet.
    StoreResult load();
    // The live originals of a digest, oldest first.
    QList<Copy> copies(const QByteArray& digest) const { return m_copies.value(digest); }
    const QHash<QByteArray, QList<Copy>>& all() const { return m_copies; }
    StoreResult read(const Copy& copy, QByteArray& bytes) const;
    // The oldest original of a digest still kept: `bytes` and *found set. A copy dropped
    // after load() (its message deleted meanwhile) is passed over.
    StoreResult readFirst(const QByteArray& digest, QByteArray& bytes, bool* found) const;
    // The same, or nothing when none is kept or it cannot be read.
    std::optional<QByteArray> first(const QByteArray& digest) const;

    // Marks these originals dropped, durably, then frees their space; packs with nothing
    // live left are removed. Failures are notices: what stays is dropped by a later sweep.
    StoreResult drop(const QList<Copy>& copies);

private:
    friend class Originals;
    QHash<QByteArray, QList<Copy>> m_copies;
    QHash<QByteArray, int> m_livePerPack;
    QList<QByteArray> m_emptyPacks; // packs whose every original was dropped
    QList<QByteArray> m_leftovers;  // "*.part" of a run that is open or died
    // The pack read last, held open: an export reads one original after the other from the
    // same few packs. read() therefore goes from one thread at a time.
    mutable QByteArray m_openFile;
    mutable int m_openFd = -1;
};

// The originals of one receive run, the companion of MailboxAppends:
//
//   OriginalAppends originals;
//   for each message: boxes.append(box, record); originals.add(recordDigest(record), raw);
//   before QUIT:      originals.commit(), then boxes.commit(), then the DELEs may go.
//
// add() appends the message to the run's pack, not yet durable (handed to the disk a
// megabyte at a time, by a writer thread where the FileOps allows it, see PackWrites);
// commit() waits for those writes, writes the index, syncs the pack once, renames it into
// place and syncs the folder. Commit the originals before the records: a failure in between then
// leaves whole originals that no record names (swept later) rather than records whose
// original is missing while their message stays on the server. A run that ends without
// commit() removes its pack; nothing of it is kept. After a commit, the next add() starts
// a new pack.
//
// A message whose write fails at once is not kept (add() fails; the messages before it stay
// good for the commit). One whose write fails on the writer thread has already been added:
// the next add() fails, and so does the commit, and nothing of the run is kept.
//
// Failures say what could not be kept in one Japanese sentence, for example
//   "元のメールを originals に保存できません: ディスクの空き容量が足りません"
class OriginalAppends {
public:
    OriginalAppends();
    ~OriginalAppends();
    OriginalAppends(const OriginalAppends&) = delete;
    OriginalAppends& operator=(const OriginalAppends&) = delete;

    // Appends the original of the record with this digest; not durable before commit().
    StoreResult add(const QByteArray& digest, const QByteArray& bytes);
    // Makes every original added since the last commit durable in its pack.
    StoreResult commit();
    // Originals added and not yet committed.
    qsizetype pending() const { return m_index.size(); }

private:
    struct Entry {
        QByteArray digest;
        qint64 offset;
        qint64 length;
    };
    void discard();

    QList<Entry> m_index;
    int m_fd = -1;
    std::unique_ptr<PackWrites> m_writes; // of the pack at m_fd
    qint64 m_end = 0;
    bool m_tornTail = false; // a failed write may have left bytes beyond m_end
    QByteArray m_path;       // the pack being written, "….part"
    QByteArray m_folder;     // the originals folder, resolved on the first add()
};

} // namespace kiku
