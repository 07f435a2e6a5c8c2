#include "store/originals.h"

#include "base/paths.h"
#include "base/syserror.h"
#include "store/fileops.h"
#include "store/mailbox.h"

#include <QFile>
#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kiku {

namespace {

FileOps& ops() {
    return FileOps::current();
}

// Open writers: while one lives, "*.part" files may be its own and are not swept.
int s_openWriters = 0;
// Makes each temporary name of this process new.
quint64 s_temporaryCounter = 0;

const QString kFolderName = QStringLiteral("originals");
const QString kKeepFailed = QStringLiteral("元のメールを %1 に保存できません: %2");
const QString kReadFailed = QStringLiteral("元のメールを %1 から読み込めません: %2");
const QString kRemoveFailed = QStringLiteral("元のメール %1 を削除できません: %2");

QByteArray withoutTrailingSlash(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return QFile::encodeName(path);
}

QByteArray dataFolderPath() {
    return withoutTrailingSlash(ProgramFolder::resolve(paths::kDataFolder));
}

QByteArray folderPath() {
    return withoutTrailingSlash(Originals::folder());
}

// The error text, naming a missing data folder rather than the file.
QString reason(int error) {
    if (error == ENOENT) {
        bool there = true;
        if (ops().exists(dataFolderPath().constData(), &there) == 0 && !there)
            return QStringLiteral("データフォルダ ★MAilData がありません");
    }
    return systemErrorText(error);
}

StoreResult failure(const QString& pattern, const QString& subject, int error) {
    return StoreResult::failure(pattern.arg(subject, reason(error)));
}

QByteArray fileName(const QByteArray& digest, int index) {
    QByteArray name = digest.toHex();
    if (index > 0)
        name += '-' + QByteArray::number(index);
    return name + ".eml";
}

QByteArray inFolder(const QByteArray& folder, const QByteArray& name) {
    return folder + '/' + name;
}

// Creates the originals folder inside an existing data folder, durably.
StoreResult ensureFolder() {
    const QByteArray folder = folderPath();
    bool there = false;
    if (ops().exists(folder.constData(), &there) < 0)
        return failure(kKeepFailed, kFolderName, errno);
    if (there)
        return {};
    if (ops().makeFolder(folder.constData()) < 0 && errno != EEXIST)
        return failure(kKeepFailed, kFolderName, errno);
    if (ops().syncFolder(dataFolderPath().constData()) < 0)
        return failure(kKeepFailed, kFolderName, errno);
    return {};
}

// Writes `bytes` to a new temporary file of the folder; `path` receives its name. With
// `durable` the file is synced before it is closed, otherwise only handed to the disk.
StoreResult writeTemporary(const QByteArray& folder, const QByteArray& digest,
                           const QByteArray& bytes, bool durable, QByteArray& path) {
    path = inFolder(folder, digest.toHex() + '.' + QByteArray::number(::getpid()) + '.' +
                                QByteArray::number(++s_temporaryCounter) + ".part");
    const int fd = ops().open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_EXCL, 0600);
    if (fd < 0)
        return failure(kKeepFailed, kFolderName, errno);
    bool written = ops().pwrite(fd, bytes.constData(), bytes.size(), 0) == bytes.size();
    // A large one is handed to the disk at once; small ones wait for the run's one sync.
    if (written && durable)
        written = ops().fsync(fd) == 0;
    else if (written && bytes.size() >= 1024 * 1024)
        ops().startWriteBack(fd, 0, bytes.size());
    int error = errno;
    if (ops().close(fd) < 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        ops().unlink(path.constData()); // only a temporary name: may fail
        return failure(kKeepFailed, kFolderName, error);
    }
    return {};
}

// Renames a whole temporary file to the first free name of its digest.
StoreResult moveIntoPlace(const QByteArray& folder, const QByteArray& digest,
                          const QByteArray& temporary) {
    for (int index = 0;; ++index) {
        const QByteArray target = inFolder(folder, fileName(digest, index));
        bool there = false;
        if (ops().exists(target.constData(), &there) < 0)
            return failure(kKeepFailed, kFolderName, errno);
        if (there)
            continue;
        if (ops().rename(temporary.constData(), target.constData()) < 0)
            return failure(kKeepFailed, kFolderName, errno);
        return {};
    }
}

const QRegularExpression& originalName() {
    static const QRegularExpression pattern(
        QStringLiteral("^([0-9a-f]{64})(?:-([1-9][0-9]*))?\\.eml$"));
    return pattern;
}

} // namespace

QString Originals::folder() {
    return ProgramFolder::resolve(paths::kOriginalsFolder);
}

StoreResult Originals::read(const QByteArray& digest, QByteArray& bytes, bool* found) {
    bytes.clear();
    *found = false;
    const QByteArray path = inFolder(folderPath(), fileName(digest, 0));
    const int fd = ops().open(path.constData(), O_RDONLY);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {}; // none kept (or no folder yet)
        return failure(kReadFailed, kFolderName, errno);
    }
    qint64 size = 0;
    bool ok = ops().fileSize(fd, &size) == 0;
    if (ok) {
        bytes.resize(size);
        ok = ops().pread(fd, bytes.data(), size, 0) == size;
    }
    const int error = ok ? 0 : (errno ? errno : EIO);
    ops().close(fd);
    if (!ok) {
        bytes.clear();
        return failure(kReadFailed, kFolderName, error);
    }
    *found = true;
    return {};
}

StoreResult Originals::keep(const QByteArray& digest, const QByteArray& bytes) {
    if (StoreResult r = ensureFolder(); !r)
        return r;
    const QByteArray folder = folderPath();
    QByteArray temporary;
    if (StoreResult r = writeTemporary(folder, digest, bytes, true, temporary); !r)
        return r;
    if (StoreResult r = moveIntoPlace(folder, digest, temporary); !r) {
        ops().unlink(temporary.constData());
        return r;
    }
    if (ops().syncFolder(folder.constData()) < 0)
        return failure(kKeepFailed, kFolderName, errno);
    return {};
}

StoreResult Originals::release(const QByteArray& digest) {
    const QByteArray folder = folderPath();
    QByteArray last;
    for (int index = 0;; ++index) {
        const QByteArray path = inFolder(folder, fileName(digest, index));
        bool there = false;
        if (ops().exists(path.constData(), &there) < 0)
            return failure(kReadFailed, kFolderName, errno);
        if (!there)
            break;
        last = path;
    }
    if (!last.isEmpty() && ops().unlink(last.constData()) < 0 && errno != ENOENT)
        return StoreResult::failure(
            kRemoveFailed.arg(QFile::decodeName(last.mid(folder.size() + 1)), reason(errno)));
    return {};
}

StoreResult Originals::sweep() {
    const QByteArray folder = folderPath();
    QList<QByteArray> names;
    if (ops().listFolder(folder.constData(), &names) < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {}; // nothing kept yet
        return failure(kReadFailed, kFolderName, errno);
    }
    // Originals by digest, each list ordered by index.
    QHash<QByteArray, QMap<int, QByteArray>> kept;
    QList<QByteArray> leftovers;
    for (const QByteArray& name : names) {
        const QRegularExpressionMatch m = originalName().match(QString::fromLatin1(name));
        if (m.hasMatch())
            kept[QByteArray::fromHex(m.captured(1).toLatin1())].insert(m.captured(2).toInt(), name);
        else if (name.endsWith(".part"))
            leftovers << name;
    }
    StoreResult result;
    const auto remove = [&](const QByteArray& name) {
        if (ops().unlink(inFolder(folder, name).constData()) < 0 && errno != ENOENT)
            result.addNotice(kRemoveFailed.arg(QString::fromLatin1(name), reason(errno)));
    };
    if (s_openWriters == 0) {
        for (const QByteArray& name : leftovers)
            remove(name);
    }
    if (kept.isEmpty())
        return result;

    QHash<QByteArray, int> records;
    for (const BoxInfo& info : allBoxes()) {
        const StoreResult r = Mailbox(info.box).digests([&](const QByteArray& digest) {
            if (kept.contains(digest))
                ++records[digest];
        });
        if (!r)
            return r;
    }
    for (auto it = kept.cbegin(); it != kept.cend(); ++it) {
        const int named = records.value(it.key());
        int seen = 0;
        for (const QByteArray& name : it.value()) {
            if (++seen > named)
                remove(name);
        }
    }
    return result;
}

// ---------------------------------------------------------------------------------------
// OriginalAppends

OriginalAppends::OriginalAppends() {
    ++s_openWriters;
}

OriginalAppends::~OriginalAppends() {
    discard();
    --s_openWriters;
}

void OriginalAppends::discard() {
    for (const Pending& p : std::as_const(m_pending))
        ops().unlink(p.temporary.constData()); // best effort: a sweep takes what stays
    m_pending.clear();
}

StoreResult OriginalAppends::add(const QByteArray& digest, const QByteArray& bytes) {
    if (!m_folderReady) {
        if (StoreResult r = ensureFolder(); !r)
            return r;
        m_folderReady = true;
        m_folder = folderPath(); // resolved once: a run keeps many
    }
    QByteArray temporary;
    if (StoreResult r = writeTemporary(m_folder, digest, bytes, false, temporary); !r)
        return r;
    m_pending.append({digest, temporary});
    return {};
}

StoreResult OriginalAppends::commit() {
    if (m_pending.isEmpty())
        return {};
    // Every file whole on disk first, then the names: a final name never points at data that
    // a power cut could take back. One sync of the file system serves every file of the run.
    if (ops().syncFileSystem(m_folder.constData()) < 0)
        return failure(kKeepFailed, kFolderName, errno);
    for (qsizetype i = 0; i < m_pending.size(); ++i) {
        if (StoreResult r = moveIntoPlace(m_folder, m_pending[i].digest, m_pending[i].temporary);
            !r) {
            m_pending.remove(0, i); // those already in place are kept
            return r;
        }
    }
    m_pending.clear();
    if (ops().syncFolder(m_folder.constData()) < 0)
        return failure(kKeepFailed, kFolderName, errno);
    return {};
}

} // namespace kiku
