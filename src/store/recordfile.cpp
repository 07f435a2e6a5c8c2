#include "store/recordfile.h"

#include "base/paths.h"
#include "base/syserror.h"
#include "store/fileops.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <vector>

namespace kiku {

namespace {

FileOps& ops() {
    return FileOps::current();
}

// Closes a descriptor that was only read from or whose writes were already synced and
// checked: a failing close cannot lose data then, so its result does not matter.
class FdGuard {
public:
    explicit FdGuard(int fd = -1) : m_fd(fd) {}
    ~FdGuard() { reset(); }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int get() const { return m_fd; }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ops().close(m_fd);
        m_fd = fd;
    }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

QByteArray stripTrailingSlash(QByteArray path) {
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// The data folder as the messages name it.
const QString kFolderName = QStringLiteral("★MAilData");

// Message patterns; %1 is the file's label.
const QString kOpenFailed = QStringLiteral("%1 を開けません");
const QString kReadFailed = QStringLiteral("%1 を読み込めません");
const QString kWriteFailed = QStringLiteral("%1 に書き込めません");

} // namespace

RecordFile::Paths RecordFile::paths() const {
    // The folder once, then its five names with at most one listing between them.
    QString folder = ProgramFolder::resolve(paths::kDataFolder);
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    const QString& name = m_setup.fileName;
    const QStringList resolved = ProgramFolder::resolveIn(
        folder, {name, m_setup.companionName, name + QStringLiteral(".new"),
                 name + QStringLiteral(".partial")});
    Paths p;
    p.folder = stripTrailingSlash(QFile::encodeName(folder));
    p.file = QFile::encodeName(resolved.at(0));
    p.companion = QFile::encodeName(resolved.at(1));
    p.transient = QFile::encodeName(resolved.at(2));
    p.side = QFile::encodeName(resolved.at(3));
    return p;
}

QString RecordFile::reason(int error, const Paths& p) const {
    if (error == ENOENT) {
        bool folderThere = true;
        if (ops().exists(p.folder.constData(), &folderThere) == 0 && !folderThere)
            return QStringLiteral("データフォルダ %1 がありません").arg(kFolderName);
    }
    return systemErrorText(error);
}

// `pattern` holds %1 for the file's label; the reason follows a colon.
QString RecordFile::failure(const QString& pattern, int error, const Paths& p) const {
    return pattern.arg(m_setup.label) + QStringLiteral(": ") + reason(error, p);
}

StoreResult RecordFile::readExactly(const Paths& p, int fd, char* data, qint64 bytes,
                                    qint64 offset) const {
    const qint64 got = ops().pread(fd, data, bytes, offset);
    if (got != bytes)
        return StoreResult::failure(failure(kReadFailed, got < 0 ? errno : EIO, p));
    return {};
}

StoreResult RecordFile::noSuchRecord(int number) const {
    return StoreResult::failure(QStringLiteral("%1 に %2 番の%3はありません。")
                                    .arg(m_setup.label)
                                    .arg(number)
                                    .arg(m_setup.itemNoun));
}

StoreResult RecordFile::recover(bool* exists) {
    const Paths p = paths();
    bool fileThere = false;
    if (ops().exists(p.file.constData(), &fileThere) < 0)
        return StoreResult::failure(failure(kOpenFailed, errno, p));
    if (exists)
        *exists = fileThere;
    if (fileThere)
        return {};
    bool companionThere = false;
    if (ops().exists(p.companion.constData(), &companionThere) < 0)
        return StoreResult::failure(failure(kOpenFailed, errno, p));
    if (!companionThere)
        return {};
    // An interrupted compaction: the companion holds the whole old file.
    const QString pattern = QStringLiteral("%1 を一時ファイル %2 から元に戻せません")
                                .replace(QStringLiteral("%2"), m_setup.companionName);
    if (ops().rename(p.companion.constData(), p.file.constData()) < 0)
        return StoreResult::failure(failure(pattern, errno, p));
    if (ops().syncFolder(p.folder.constData()) < 0)
        return StoreResult::failure(failure(pattern, errno, p));
    if (exists)
        *exists = true;
    return {};
}

StoreResult RecordFile::openForReading(const Paths& p, int& fd, qint64& size) {
    fd = -1;
    size = 0;
    bool there = false;
    if (StoreResult r = recover(&there); !r)
        return r;
    if (!there) {
        bool folderThere = false;
        if (ops().exists(p.folder.constData(), &folderThere) < 0 || !folderThere)
            return StoreResult::failure(failure(kOpenFailed, ENOENT, p));
        return {};
    }
    return openFile(p, O_RDONLY, fd, size);
}

StoreResult RecordFile::openForRewrite(const Paths& p, int& fd, qint64& size) {
    fd = -1;
    size = 0;
    bool there = false;
    if (StoreResult r = recover(&there); !r)
        return r;
    if (!there)
        return {};
    return openFile(p, O_RDWR, fd, size);
}

StoreResult RecordFile::openFile(const Paths& p, int flags, int& fd, qint64& size) {
    fd = ops().open(p.file.constData(), flags);
    if (fd < 0)
        return StoreResult::failure(failure(kOpenFailed, errno, p));
    if (ops().fileSize(fd, &size) < 0) {
        const int e = errno;
        ops().close(fd);
        fd = -1;
        return StoreResult::failure(failure(kReadFailed, e, p));
    }
    return {};
}

StoreResult RecordFile::count(int& records) {
    records = 0;
    const Paths p = paths();
    int fd = -1;
    qint64 size = 0;
    StoreResult r = openForReading(p, fd, size);
    FdGuard guard(fd);
    if (r)
        records = int(size / m_setup.recordSize);
    return r;
}

StoreResult RecordFile::read(int number, QByteArray& record) {
    record.clear();
    const Paths p = paths();
    int fd = -1;
    qint64 size = 0;
    if (StoreResult r = openForReading(p, fd, size); !r)
        return r;
    FdGuard guard(fd);
    const qint64 whole = size / m_setup.recordSize;
    if (number < 1 || number > whole)
        return noSuchRecord(number);
    QByteArray bytes(m_setup.recordSize, Qt::Uninitialized);
    if (StoreResult r = readExactly(p, fd, bytes.data(), m_setup.recordSize,
                                    qint64(number - 1) * m_setup.recordSize);
        !r)
        return r;
    record = bytes;
    return {};
}

StoreResult RecordFile::readAll(const std::function<bool(int, const char*)>& visit) {
    const qint64 recordSize = m_setup.recordSize;
    return readChunks([&](int first, const QByteArray& chunk) {
        for (qint64 i = 0; i < chunk.size() / recordSize; ++i) {
            if (!visit(int(first + i), chunk.constData() + i * recordSize))
                return false;
        }
        return true;
    });
}

StoreResult RecordFile::readChunks(const std::function<bool(int, const QByteArray&)>& visit) {
    const Paths p = paths();
    int fd = -1;
    qint64 size = 0;
    if (StoreResult r = openForReading(p, fd, size); !r)
        return r;
    FdGuard guard(fd);
    const qint64 recordSize = m_setup.recordSize;
    const qint64 whole = size / recordSize;
    // About a megabyte at a time rather than one record per call.
    const qint64 perChunk = qMax<qint64>(1, (1 << 20) / recordSize);
    // Chunks a visitor still holds are never written again: the next one goes into a buffer
    // nobody else holds, or a new one. A few are enough for a visitor that keeps one or two.
    QList<QByteArray> buffers;
    for (qint64 first = 0; first < whole; first += perChunk) {
        const qint64 n = qMin(perChunk, whole - first);
        QByteArray* chunk = nullptr;
        for (QByteArray& buffer : buffers) {
            if (buffer.isDetached() && buffer.size() >= n * recordSize) {
                // Whoever let go of it last (a worker) is done with its bytes before these
                // are written: its release of the count is taken up here.
                std::atomic_thread_fence(std::memory_order_acquire);
                chunk = &buffer;
                break;
            }
        }
        if (!chunk) {
            if (buffers.size() >= 4)
                buffers.removeFirst();
            buffers.append(QByteArray(n * recordSize, Qt::Uninitialized));
            chunk = &buffers.last();
        }
        chunk->resize(n * recordSize); // only ever shorter: keeps its room
        if (StoreResult r = readExactly(p, fd, chunk->data(), n * recordSize, first * recordSize);
            !r)
            return r;
        if (!visit(int(first + 1), *chunk))
            return {};
    }
    return {};
}

StoreResult RecordFile::scan(const QList<FieldSpan>& spans,
                             const std::function<void(int, const char*)>& visit,
                             QByteArray* lastRecord) {
    if (lastRecord)
        lastRecord->clear();
    const Paths p = paths();
    int fd = -1;
    qint64 size = 0;
    if (StoreResult r = openForReading(p, fd, size); !r)
        return r;
    FdGuard guard(fd);
    const qint64 recordSize = m_setup.recordSize;
    const qint64 whole = size / recordSize;
    int total = 0;
    for (const FieldSpan& s : spans)
        total += s.width;
    std::vector<char> buffer(size_t(qMax(total, 1)));
    for (qint64 k = 0; k < whole; ++k) {
        char* dst = buffer.data();
        for (const FieldSpan& s : spans) {
            if (StoreResult r = readExactly(p, fd, dst, s.width, k * recordSize + s.offset); !r)
                return r;
            dst += s.width;
        }
        visit(int(k + 1), buffer.data());
    }
    if (lastRecord && whole > 0) {
        QByteArray bytes(m_setup.recordSize, Qt::Uninitialized);
        if (StoreResult r = readExactly(p, fd, bytes.data(), recordSize, (whole - 1) * recordSize);
            !r)
            return r;
        *lastRecord = bytes;
    }
    return {};
}

StoreResult RecordFile::moveTailAside(const Paths& p, int fd, qint64 size) {
    const qint64 tailBytes = size % m_setup.recordSize;
    if (tailBytes == 0)
        return {};
    const qint64 wholeBytes = size - tailBytes;
    const QString sideName = m_setup.fileName + QStringLiteral(".partial");
    const QString savePattern = QStringLiteral("%1 の末尾の不完全なデータを %2 に保存できません")
                                    .replace(QStringLiteral("%2"), sideName);
    QByteArray tail(tailBytes, Qt::Uninitialized);
    if (StoreResult r = readExactly(p, fd, tail.data(), tailBytes, wholeBytes); !r)
        return r;

    const int side = ops().open(p.side.constData(), O_WRONLY | O_CREAT);
    if (side < 0)
        return StoreResult::failure(failure(savePattern, errno, p));
    qint64 sideSize = 0;
    if (ops().fileSize(side, &sideSize) < 0) {
        const int e = errno;
        ops().close(side);
        return StoreResult::failure(failure(savePattern, e, p));
    }
    // Takes the side file back to what it held before, so that the tail is never in two
    // places after a failure; best effort, a copy too many loses nothing.
    const auto forgetCopy = [&] {
        const int again = ops().open(p.side.constData(), O_WRONLY);
        if (again >= 0) {
            if (ops().ftruncate(again, sideSize) == 0)
                ops().fsync(again);
            ops().close(again);
        }
    };
    bool saved = ops().pwrite(side, tail.constData(), tailBytes, sideSize) == tailBytes &&
                 ops().fsync(side) == 0;
    int error = errno;
    if (ops().close(side) < 0 && saved) {
        saved = false;
        error = errno;
    }
    if (saved && ops().syncFolder(p.folder.constData()) < 0) {
        saved = false;
        error = errno;
    }
    if (!saved) {
        forgetCopy();
        return StoreResult::failure(failure(savePattern, error, p));
    }

    // The tail is safe in the side file; cut it off the file itself.
    if (ops().ftruncate(fd, wholeBytes) < 0) {
        const int e = errno;
        forgetCopy();
        return StoreResult::failure(failure(kWriteFailed, e, p));
    }
    if (ops().fsync(fd) < 0)
        return StoreResult::failure(failure(kWriteFailed, errno, p));
    StoreResult r;
    r.notice = QStringLiteral("%1 の末尾にあった不完全なデータ（%2 バイト）を %3 に移しました。")
                   .arg(m_setup.label)
                   .arg(tailBytes)
                   .arg(sideName);
    return r;
}

StoreResult RecordFile::openForAppend(const Paths& p, AppendTarget& target) {
    target = AppendTarget{};
    bool existed = false;
    if (StoreResult r = recover(&existed); !r)
        return r;
    const int fd = ops().open(p.file.constData(), O_RDWR | O_CREAT);
    if (fd < 0)
        return StoreResult::failure(failure(kWriteFailed, errno, p));
    FdGuard guard(fd);
    target.created = !existed;
    qint64 size = 0;
    if (ops().fileSize(fd, &size) < 0)
        return StoreResult::failure(failure(kReadFailed, errno, p));
    StoreResult result = moveTailAside(p, fd, size);
    if (!result)
        return result;
    target.fd = guard.release();
    target.records = size / m_setup.recordSize;
    return result;
}

StoreResult
RecordFile::writeNext(const Paths& p, AppendTarget& target,
                      const std::function<QByteArray(int)>& build, int* number,
                      const std::function<StoreResult(int, const QByteArray&)>& beforeWrite) {
    if (number)
        *number = 0;
    if (target.records >= m_setup.maxRecords)
        return StoreResult::failure(
            QStringLiteral("%1 がいっぱいです（%2 件）。不要な%3を削除してからやり直してください。")
                .arg(m_setup.label)
                .arg(m_setup.maxRecords)
                .arg(m_setup.itemNoun) +
            m_setup.fullHint);
    const qint64 recordSize = m_setup.recordSize;
    const int n = int(target.records + 1);
    const QByteArray bytes = build(n);
    if (beforeWrite)
        if (StoreResult r = beforeWrite(n, bytes); !r)
            return r;
    Q_ASSERT(bytes.size() == recordSize);
    const qint64 offset = target.records * recordSize;
    if (ops().pwrite(target.fd, bytes.constData(), recordSize, offset) != recordSize) {
        const int e = errno;
        // Take back whatever reached the file; if even that fails, the half record is
        // a partial tail that the next write moves aside.
        if (ops().ftruncate(target.fd, offset) == 0)
            ops().fsync(target.fd);
        return StoreResult::failure(failure(kWriteFailed, e, p));
    }
    ++target.records;
    target.unsynced = true;
    // A long run of appends hands its records to the disk every few megabytes, so that the
    // one fsync at the end does not have to write them all at once.
    constexpr qint64 kWriteBackBytes = 1 << 20;
    if (target.writeBackFrom < 0)
        target.writeBackFrom = offset;
    const qint64 written = offset + recordSize - target.writeBackFrom;
    if (written >= kWriteBackBytes) {
        ops().startWriteBack(target.fd, target.writeBackFrom, written);
        target.writeBackFrom = offset + recordSize;
    }
    if (number)
        *number = n;
    return {};
}

StoreResult RecordFile::syncAppended(const Paths& p, AppendTarget& target) {
    if (target.unsynced && ops().fsync(target.fd) < 0)
        return StoreResult::failure(failure(kWriteFailed, errno, p));
    target.unsynced = false;
    // A new file is durable only once its folder entry is.
    if (target.created && ops().syncFolder(p.folder.constData()) < 0)
        return StoreResult::failure(failure(kWriteFailed, errno, p));
    target.created = false;
    return {};
}

StoreResult RecordFile::append(const std::function<QByteArray(int)>& build, int* number) {
    if (number)
        *number = 0;
    const Paths p = paths();
    AppendTarget target;
    StoreResult result = openForAppend(p, target);
    if (!result)
        return result;
    FdGuard guard(target.fd); // replaced by a checked close once something was written
    // A failure from here on still tells that a damaged tail was moved aside.
    const auto failed = [&result](StoreResult r) {
        r.notice = result.notice;
        return r;
    };
    const qint64 offset = target.records * m_setup.recordSize;
    if (StoreResult r = writeNext(p, target, build, number); !r)
        return failed(r);
    if (StoreResult r = syncAppended(p, target); !r) {
        // Nothing reported as stored may stay behind half-durable.
        if (ops().ftruncate(target.fd, offset) == 0)
            ops().fsync(target.fd);
        if (number)
            *number = 0;
        return failed(r);
    }
    if (ops().close(guard.release()) < 0) {
        if (number)
            *number = 0;
        return failed(StoreResult::failure(failure(kWriteFailed, errno, p)));
    }
    return result;
}

// ---------------------------------------------------------------------------------------
// RecordAppender

RecordAppender::~RecordAppender() {
    // Whatever was written stays written; only its durability was not settled.
    if (m_target.fd >= 0)
        ops().close(m_target.fd);
}

StoreResult
RecordAppender::append(const std::function<QByteArray(int)>& build, int* number,
                       const std::function<StoreResult(int, const QByteArray&)>& beforeWrite) {
    if (number)
        *number = 0;
    if (!m_opened) {
        m_paths = m_file.paths();
        StoreResult opened = m_file.openForAppend(m_paths, m_target);
        if (!opened)
            return opened;
        m_opened = true;
        m_pendingNotice = opened.notice;
    }
    StoreResult r = m_file.writeNext(m_paths, m_target, build, number, beforeWrite);
    // The notice of the open goes out with the first append that can carry it.
    r.notice = std::exchange(m_pendingNotice, QString());
    return r;
}

StoreResult RecordAppender::sync() {
    if (!m_opened)
        return {};
    return m_file.syncAppended(m_paths, m_target);
}

StoreResult RecordFile::create() {
    const Paths p = paths();
    bool existed = false;
    if (StoreResult r = recover(&existed); !r || existed)
        return r;
    const int fd = ops().open(p.file.constData(), O_RDWR | O_CREAT);
    if (fd < 0)
        return StoreResult::failure(failure(kWriteFailed, errno, p));
    if (ops().close(fd) < 0 || ops().syncFolder(p.folder.constData()) < 0)
        return StoreResult::failure(failure(kWriteFailed, errno, p));
    return {};
}

StoreResult RecordFile::sync() {
    const Paths p = paths();
    const int fd = ops().open(p.file.constData(), O_RDWR);
    if (fd < 0)
        return StoreResult::failure(failure(kOpenFailed, errno, p));
    const bool synced = ops().fsync(fd) == 0;
    const int e = errno;
    ops().close(fd);
    if (!synced || ops().syncFolder(p.folder.constData()) < 0)
        return StoreResult::failure(failure(kWriteFailed, synced ? errno : e, p));
    return {};
}

StoreResult RecordFile::remove(int number) {
    return removeRange(number, number);
}

StoreResult RecordFile::removeRange(int first, int last) {
    const int number = first;
    const Paths p = paths();
    int fd = -1;
    qint64 size = 0;
    if (StoreResult r = openForRewrite(p, fd, size); !r)
        return r;
    if (fd < 0)
        return noSuchRecord(number);
    FdGuard guard(fd);
    const qint64 recordSize = m_setup.recordSize;
    const qint64 whole = size / recordSize;
    if (number < 1 || number > whole)
        return noSuchRecord(number);
    if (last < first || last > whole)
        return noSuchRecord(last);

    // Records already marked 0 by an interrupted operation go too.
    QList<bool> keep(whole, true);
    for (qint64 k = 0; k < whole; ++k) {
        char live[2];
        if (StoreResult r = readExactly(p, fd, live, 2, k * recordSize + m_setup.liveOffset); !r)
            return r;
        keep[k] = (k + 1 < first || k + 1 > last) && readLive16(live) != 0;
    }
    const StoreResult result = moveTailAside(p, fd, size);
    if (!result)
        return result;
    StoreResult rebuilt = rebuild(p, fd, keep);
    rebuilt.addNotice(result.notice);
    return rebuilt;
}

StoreResult RecordFile::removeAll() {
    const Paths p = paths();
    int fd = -1;
    qint64 size = 0;
    if (StoreResult r = openForRewrite(p, fd, size); !r)
        return r;
    if (fd < 0)
        return {};
    FdGuard guard(fd);
    const qint64 whole = size / m_setup.recordSize;
    const StoreResult result = moveTailAside(p, fd, size);
    if (!result)
        return result;
    if (whole == 0)
        return result;
    StoreResult rebuilt = rebuild(p, fd, QList<bool>(whole, false));
    rebuilt.addNotice(result.notice);
    return rebuilt;
}

// Compaction: the old file becomes the companion, the kept records are copied into a new
// file that is synced and renamed into place, then the companion goes. `fd` is the open
// old file; its records are read through it even after the rename.
StoreResult RecordFile::rebuild(const Paths& p, int fd, const QList<bool>& keep) {
    if (!keep.contains(false))
        return {};
    const QString companionNote =
        QStringLiteral("元の内容は一時ファイル %1 に残っており、次に開くときに元に戻します。")
            .arg(m_setup.companionName);

    if (ops().rename(p.file.constData(), p.companion.constData()) < 0)
        return StoreResult::failure(
            failure(QStringLiteral("%1 を一時ファイル %2 に移せません")
                        .replace(QStringLiteral("%2"), m_setup.companionName),
                    errno, p));

    int out = -1;
    bool replaced = false;
    // Puts the old file back after a failure; returns the message to report.
    const auto undo = [&](const QString& pattern, int error) {
        QString text = failure(pattern, error, p);
        if (out >= 0)
            ops().close(out);
        if (!replaced)
            ops().unlink(p.transient.constData()); // only an unfinished copy: may fail
        if (ops().rename(p.companion.constData(), p.file.constData()) == 0) {
            ops().syncFolder(p.folder.constData()); // if lost, the next open restores
        } else if (!replaced) {
            text += QStringLiteral("。") + companionNote;
        }
        return StoreResult::failure(text);
    };

    out = ops().open(p.transient.constData(), O_WRONLY | O_CREAT | O_TRUNC);
    if (out < 0)
        return undo(kWriteFailed, errno);

    // Copy runs of kept records in one call each.
    const qint64 recordSize = m_setup.recordSize;
    qint64 written = 0;
    for (qint64 k = 0; k < keep.size();) {
        if (!keep[k]) {
            ++k;
            continue;
        }
        qint64 end = k;
        while (end < keep.size() && keep[end])
            ++end;
        const qint64 bytes = (end - k) * recordSize;
        if (ops().copyRange(fd, k * recordSize, out, written, bytes) < 0)
            return undo(kWriteFailed, errno);
        written += bytes;
        k = end;
    }
    if (ops().fsync(out) < 0)
        return undo(kWriteFailed, errno);
    const int closing = std::exchange(out, -1);
    if (ops().close(closing) < 0)
        return undo(kWriteFailed, errno);
    if (ops().rename(p.transient.constData(), p.file.constData()) < 0)
        return undo(kWriteFailed, errno);
    replaced = true;
    if (ops().syncFolder(p.folder.constData()) < 0)
        return undo(kWriteFailed, errno);

    StoreResult result;
    if (ops().unlink(p.companion.constData()) < 0)
        result.notice = QStringLiteral("一時ファイル %1 を削除できません: %2")
                            .arg(m_setup.companionName, reason(errno, p));
    return result;
}

} // namespace kiku
