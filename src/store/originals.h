#pragma once

#include "store/storeresult.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace kiku {

// The originals folder of the data folder ("★MailData/originals/"): every message byte for
// byte as it came from the POP3 server or as it was handed to the SMTP server, beside the
// record that keeps its first 32,000 bytes of text.
//
// An original is named by the digest of its record (recordDigest(), without Live), so the
// link survives compaction, a move to the storage box and renumbering: "<hex>.eml" for the
// first message with that record, "<hex>-1.eml", "<hex>-2.eml", … for later ones with an
// equal record. Files are only ever written under a temporary name ("*.part") and renamed
// into place once whole and synced, so a name ending in ".eml" never holds half a message.
//
// Originals follow their records, and go only after them: deleting one message
// (Mailbox::remove) releases one original of its record's digest, the highest-numbered;
// deleting all of a box (Mailbox::removeAll) sweeps, removing every original no record names
// any more (also those left by an interrupted run or a failed removal). A sweep reads every
// box, so it is not done for each single deletion. The folder is created by the first
// original kept; the data folder itself never is.
class Originals {
public:
    // The folder's path (it may not exist yet).
    static QString folder();
    // Reads the original of a record: `found` false, and ok, when none is kept.
    static StoreResult read(const QByteArray& digest, QByteArray& bytes, bool* found);
    // Keeps one original durably before it returns (sent mail, a moved message whose record
    // changed): written, synced, renamed into place and the folder synced.
    static StoreResult keep(const QByteArray& digest, const QByteArray& bytes);
    // Removes one original of `digest` (the highest-numbered) after its record was deleted;
    // ok when there is none.
    static StoreResult release(const QByteArray& digest);
    // Removes the originals no record names: for each digest, those beyond the number of
    // records of the five boxes that have it (the highest-numbered go first). Reads every
    // box first and removes nothing when one cannot be read. Leftover temporary files of an
    // interrupted run go too, but only while no OriginalAppends is open.
    static StoreResult sweep();
};

// The originals of one receive run, the companion of MailboxAppends:
//
//   OriginalAppends originals;
//   for each message: boxes.append(box, record); originals.add(recordDigest(record), raw);
//   before QUIT:      originals.commit(), then boxes.commit(), then the DELEs may go.
//
// add() writes the message under a temporary name at once (no fsync; a large one is handed
// to the disk), commit() syncs the file system once (every file of the run), renames each to
// its final name and syncs the folder once. Commit the originals before the records: a failure in
// between then leaves whole originals that no record names (swept later) rather than records whose
// original is missing while their message stays on the server. A run that ends without
// commit() removes its temporary files; nothing of it is kept.
//
// Failures say what could not be kept in one Japanese sentence, for example
//   "元のメールを originals に保存できません: ディスクの空き容量が足りません"
class OriginalAppends {
public:
    OriginalAppends();
    ~OriginalAppends();
    OriginalAppends(const OriginalAppends&) = delete;
    OriginalAppends& operator=(const OriginalAppends&) = delete;

    // Writes the original of the record with this digest; not durable before commit().
    StoreResult add(const QByteArray& digest, const QByteArray& bytes);
    // Makes every original added since the last commit durable under its final name.
    StoreResult commit();
    // Originals added and not yet committed.
    qsizetype pending() const { return m_pending.size(); }

private:
    struct Pending {
        QByteArray digest;
        QByteArray temporary; // full path
    };
    void discard();

    QList<Pending> m_pending;
    bool m_folderReady = false;
    QByteArray m_folder; // the originals folder, resolved on the first add()
};

} // namespace kiku
