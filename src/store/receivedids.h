#pragma once

#include "store/mailbox.h"
#include "store/storeresult.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <optional>

namespace kiku {

// What the program remembers of the messages it has stored, by the unique id the server gave
// each (UIDL), so that a message is stored once however a receive run ends. Two files of
// the data folder, neither read by anything else:
//
//   received-ids.txt      one line per id known as stored: "<id> <seconds since 1970 when
//                         it was stored>". Replaced whole after a run (a temporary file,
//                         synced, renamed into place), so it is never half written.
//   received-ids.journal  one line per message of a run, written just before its record:
//                         "<id> <box file> <record number> <record digest, hex> <seconds>".
//                         Synced before the boxes at the run's one sync, and emptied once the
//                         ids are in received-ids.txt.
//
// A journal line counts only when its box holds, at that number, a record with that digest:
// a line whose record never reached the disk, or a torn line, is passed over. So a crash at
// any point costs at most a duplicate on the next run, never a message. Both files are read
// through FileOps like the boxes; malformed lines are skipped.
class ReceivedIds {
public:
    // The files "<name>.txt" and "<name>.journal": the server's ids, or those of imports.
    static constexpr const char* kReceiveName = "received-ids";
    static constexpr const char* kImportName = "imported-ids";
    explicit ReceivedIds(const char* name = kReceiveName);
    ~ReceivedIds();
    ReceivedIds(const ReceivedIds&) = delete;
    ReceivedIds& operator=(const ReceivedIds&) = delete;

    // Reads the known ids, and the journal an interrupted run left. Missing files are empty.
    // On failure the ids read so far are kept and the error says which file could not be read.
    StoreResult load();
    // Whether a journal of an earlier run was found (its ids are trusted as described above).
    bool recoveredJournal() const { return m_journalFound; }

    bool contains(const QByteArray& id) const { return m_known.contains(id); }
    // When the message of `id` was stored (seconds since 1970); 0 when unknown.
    qint64 storedAt(const QByteArray& id) const { return m_known.value(id, 0); }
    int size() const { return int(m_known.size()); }
    QSet<QByteArray> allIds() const;
    // For an id the journal of an interrupted run made stored: its record's digest (that
    // run may have died before it kept the original). Empty for any other id.
    QByteArray recoveredDigest(const QByteArray& id) const { return m_recovered.value(id); }

    // Writes the journal line for message `id`, which is about to become record `number` of
    // `box` with `digest` (recordDigest). Not synced: call before the record is written.
    StoreResult noteStored(const QByteArray& id, Box box, int number, const QByteArray& digest);
    // Makes every journal line of the run durable; before the boxes are synced.
    StoreResult syncJournal();
    // Keeps exactly the ids of `keep` that are known or noted (any other is dropped), writes
    // them to received-ids.txt (unless it holds them already) and empties the journal.
    StoreResult save(const QSet<QByteArray>& keep);

    // Whether `id` can be kept: 1 to 70 printable ASCII characters, as UIDL allows.
    static bool isValidId(const QByteArray& id);
    // The clock the entries are stamped with; tests set a fixed one (0 restores the system's).
    static void setClockForTesting(qint64 secondsSinceEpoch);
    static qint64 now();

private:
    struct Paths {
        QByteArray folder;
        QByteArray state;
        QByteArray stateNew;
        QByteArray journal;
    };
    // Resolved once: a receive run notes every message.
    const Paths& paths();
    StoreResult readFile(const QByteArray& path, QByteArray& contents, bool& exists) const;
    void readState(const QByteArray& contents);
    void readJournal(const QByteArray& contents);
    StoreResult failure(const QString& pattern, const QByteArray& path, int error) const;

    QString m_name;
    std::optional<Paths> m_paths;
    QHash<QByteArray, qint64> m_known;
    QHash<QByteArray, qint64> m_saved;         // as received-ids.txt holds them
    QHash<QByteArray, QByteArray> m_recovered; // id → digest, from the journal
    bool m_journalFound = false;
    int m_journalFd = -1;
    qint64 m_journalSize = 0;
    bool m_journalCreated = false;
};

} // namespace kiku
