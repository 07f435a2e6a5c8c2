#pragma once

#include "store/mailrecord.h"
#include "store/storeresult.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

namespace kiku {

// What distinguishes one fixed-record file of the data folder from another.
struct RecordFileSetup {
    QString fileName;      // "vbmdata3.data"
    QString companionName; // "VBMDATA3.TMP", the copy that exists only while compacting
    QString label;         // "メールボックス vbmdata3.data", the file as messages name it
    QString itemNoun;      // "メール" or "データ", what one record is called in messages
    int recordSize = 0;
    int liveOffset = 0;     // the 16-bit Live marker; 0 means "drop at the next compaction"
    int maxRecords = 32767; // record numbers are 16-bit
    // Added after the "full" sentence: what the user can do about it (empty: nothing).
    QString fullHint;
};

// A file of fixed-length records in the data folder with a temporary companion: the one
// implementation behind the five mailboxes and the address file.
//
// Safety rules every operation keeps:
// - A file that is missing while its companion exists is restored from the companion
//   before anything else touches it (an interrupted compaction).
// - Compaction renames the file to its companion, builds the new file under a transient
//   name ("<file>.new"), syncs it, renames it into place, syncs the folder and only then
//   removes the companion. At every instant either the file is whole (old or new) or it
//   is missing and the companion holds the old contents. A failure puts the old file
//   back, or leaves the companion for the next open to restore.
// - A trailing partial record (length not a multiple of the record size) is never read
//   as a record. Before anything is written the partial tail is appended to a side file
//   "<file>.partial" (synced) and cut off, and the operation's notice says so.
// - Appends and compactions are synced before they report success.
// - Reading does not create the file: a missing file reads as empty, a missing data
//   folder is an error.
class RecordFile {
public:
    explicit RecordFile(RecordFileSetup setup) : m_setup(std::move(setup)) {}
    const RecordFileSetup& setup() const { return m_setup; }

    // Number of whole records.
    StoreResult count(int& records);
    // Record `number` (1-based).
    StoreResult read(int number, QByteArray& record);
    // visit(number, bytes) for every whole record in file order, whatever its Live value;
    // visit returns false to stop early.
    StoreResult readAll(const std::function<bool(int, const char*)>& visit);
    // The same a megabyte at a time: visit(number of the first, whole records). A visitor
    // may keep a copy of the chunk (to work on it elsewhere); its bytes stay as they are.
    StoreResult readChunks(const std::function<bool(int, const QByteArray&)>& visit);
    // For listings: for every whole record, reads only the given byte ranges and hands
    // them, concatenated in the order given, to visit(number, bytes). When `lastRecord`
    // is given it receives the whole last record (empty for an empty file).
    StoreResult scan(const QList<FieldSpan>& spans,
                     const std::function<void(int, const char*)>& visit, QByteArray* lastRecord);
    // Writes build(n) as record n = count + 1; `number` receives n. Refuses a record
    // beyond maxRecords. Creates the file when absent (never the folder).
    StoreResult append(const std::function<QByteArray(int)>& build, int* number = nullptr);
    // Creates an empty file when there is none (never the folder); an existing file is
    // left as it is.
    StoreResult create();
    // Makes whatever the file holds durable, with its folder entry: for records an
    // interrupted run wrote but never synced.
    StoreResult sync();
    // Drops record `number` and every record whose Live is 0: one rewrite of the file.
    StoreResult remove(int number);
    // Drops records `first` … `last` (1-based, inclusive) and every record whose Live is 0,
    // with the same single rewrite.
    StoreResult removeRange(int first, int last);
    // Drops every record, leaving an empty file (a missing file stays missing).
    StoreResult removeAll();
    // Restores the file from its companion when the file is missing. Every operation
    // above starts with it; `exists` receives whether the file is there afterwards.
    StoreResult recover(bool* exists = nullptr);

private:
    friend class RecordAppender;
    struct Paths {
        QByteArray folder;
        QByteArray file;
        QByteArray companion;
        QByteArray transient;
        QByteArray side;
    };
    Paths paths() const;
    QString failure(const QString& pattern, int error, const Paths& p) const;
    QString reason(int error, const Paths& p) const;
    StoreResult noSuchRecord(int number) const;
    // Reads exactly `bytes` at `offset`; a short read is a failure like an error.
    StoreResult readExactly(const Paths& p, int fd, char* data, qint64 bytes, qint64 offset) const;
    // Opens the file for reading; fd -1 with an ok result means "no file yet".
    StoreResult openForReading(const Paths& p, int& fd, qint64& size);
    // Opens an existing file for reading and writing; fd -1 with an ok result means "no
    // file" (never created here).
    StoreResult openForRewrite(const Paths& p, int& fd, qint64& size);
    // Opens the file with `flags` and reads its size; fd is -1 after a failure.
    StoreResult openFile(const Paths& p, int flags, int& fd, qint64& size);
    // Moves a partial record at the end of a file of `size` bytes into the side file; ok
    // without a notice when there is none.
    StoreResult moveTailAside(const Paths& p, int fd, qint64 size);
    StoreResult rebuild(const Paths& p, int fd, const QList<bool>& keep);

    // The file opened for appending: recovered, created when absent, a partial tail moved
    // aside. `records` is the number of whole records, where the next one goes.
    struct AppendTarget {
        int fd = -1;
        qint64 records = 0;
        bool created = false;      // the folder entry is not durable yet
        bool unsynced = false;     // records written since the last fsync
        qint64 writeBackFrom = -1; // first byte not yet handed to the disk; -1 before any
    };
    StoreResult openForAppend(const Paths& p, AppendTarget& target);
    // Writes build(n) as record n = records + 1, without syncing.
    StoreResult
    writeNext(const Paths& p, AppendTarget& target, const std::function<QByteArray(int)>& build,
              int* number,
              const std::function<StoreResult(int, const QByteArray&)>& beforeWrite = {});
    // Makes everything written through `target` durable: the file, and its folder entry
    // when the file was created.
    StoreResult syncAppended(const Paths& p, AppendTarget& target);

    RecordFileSetup m_setup;
};

// Appends for a run of many records into one file, where one sync at the end is enough:
// the file is opened (recovered, a partial tail moved aside) on the first append and kept
// open, each append writes its record at once, and nothing is durable before sync().
// Only for a caller that keeps the originals until sync() has succeeded, like a receive
// run whose deletions on the server take effect only after it.
class RecordAppender {
public:
    explicit RecordAppender(RecordFileSetup setup) : m_file(std::move(setup)) {}
    ~RecordAppender();
    RecordAppender(const RecordAppender&) = delete;
    RecordAppender& operator=(const RecordAppender&) = delete;

    // As RecordFile::append, but not yet durable. `beforeWrite(n, bytes)`, when given, runs
    // just before record n is written and can refuse it.
    StoreResult append(const std::function<QByteArray(int)>& build, int* number = nullptr,
                       const std::function<StoreResult(int, const QByteArray&)>& beforeWrite = {});
    // Makes every record appended so far durable.
    StoreResult sync();

private:
    RecordFile m_file;
    RecordFile::Paths m_paths;
    RecordFile::AppendTarget m_target;
    bool m_opened = false;
    QString m_pendingNotice;
};

} // namespace kiku
