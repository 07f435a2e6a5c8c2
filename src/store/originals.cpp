#include "store/originals.h"

#include "base/paths.h"
#include "base/syserror.h"
#include "store/fileops.h"
#include "store/mailbox.h"
#include "store/packwrites.h"

#include <QDateTime>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kiku {

namespace {

FileOps& ops() {
    return FileOps::current();
}

// Open writers: while one lives, "*.part" packs may be its own and are not swept.
int s_openWriters = 0;
// Makes each pack name of this process new.
quint64 s_packCounter = 0;

const QString kFolderName = QStringLiteral("originals");
const QString kKeepFailed = QStringLiteral("元のメールを %1 に保存できません: %2");
const QString kReadFailed = QStringLiteral("元のメールを %1 から読み込めません: %2");
const QString kRemoveFailed = QStringLiteral("元のメール %1 を削除できません: %2");

// A pack's index entry: digest (32), offset (8), length (8), state (1), reserved (7); the
// footer: magic (8), entry count (8), offset of the index (8). Numbers are little-endian.
constexpr qint64 kDigestSize = 32;
constexpr qint64 kEntrySize = 56;
constexpr qint64 kStateAt = 48;
constexpr qint64 kFooterSize = 24;
constexpr char kLive = 'L';
constexpr char kDropped = 'D';
const QByteArray kPackMagic = QByteArrayLiteral("KIKUPACK");
const QByteArray kPackSuffix = QByteArrayLiteral(".pack");
const QByteArray kPartSuffix = QByteArrayLiteral(".part");

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

QByteArray inFolder(const QByteArray& folder, const QByteArray& name) {
    return folder + '/' + name;
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

// Creates the originals folder inside an existing data folder, durably.
StoreResult ensureFolder(const QByteArray& folder) {
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

// A new pack name: the time first, so that names sort as the packs were made.
QByteArray newPackName() {
    return QByteArray::number(QDateTime::currentMSecsSinceEpoch(), 16).rightJustified(12, '0') +
           '-' + QByteArray::number(::getpid()) + '-' + QByteArray::number(++s_packCounter) +
           kPackSuffix;
}

// One original file of the earlier layout: "<hex>.eml" or "<hex>-<n>.eml".
const QRegularExpression& singleFileName() {
    static const QRegularExpression pattern(
        QStringLiteral("^([0-9a-f]{64})(?:-([1-9][0-9]*))?\\.eml$"));
    return pattern;
}

void putNumber(char* at, qint64 value) {
    qToLittleEndian<qint64>(value, at);
}

qint64 number(const char* at) {
    return qFromLittleEndian<qint64>(at);
}

// Reads a pack's index: -1 (errno set) when it cannot be read, 0 when the file is not a
// whole pack (never one of ours, or damaged: then neither read nor removed), 1 when read.
int readPackIndex(int fd, QByteArray& index, qint64& indexOffset) {
    qint64 size = 0;
    if (ops().fileSize(fd, &size) < 0)
        return -1;
    char footer[kFooterSize];
    if (size < kFooterSize)
        return 0;
    if (ops().pread(fd, footer, kFooterSize, size - kFooterSize) != kFooterSize)
        return -1;
    if (QByteArray::fromRawData(footer, 8) != kPackMagic)
        return 0;
    const qint64 count = number(footer + 8);
    indexOffset = number(footer + 16);
    if (count < 0 || indexOffset < 0 || count > (size - kFooterSize) / kEntrySize ||
        indexOffset + count * kEntrySize + kFooterSize != size)
        return 0;
    index.resize(count * kEntrySize);
    return ops().pread(fd, index.data(), index.size(), indexOffset) == index.size() ? 1 : -1;
}

} // namespace

// ---------------------------------------------------------------------------------------
// OriginalsIndex

StoreResult OriginalsIndex::load() {
    m_copies.clear();
    m_livePerPack.clear();
    m_emptyPacks.clear();
    m_leftovers.clear();
    const QByteArray folder = folderPath();
    QList<QByteArray> names;
    if (ops().listFolder(folder.constData(), &names) < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {}; // nothing kept yet
        return failure(kReadFailed, kFolderName, errno);
    }
    std::sort(names.begin(), names.end());
    // Single files of the earlier layout come first, in the order of their numbers.
    QMap<std::pair<QByteArray, int>, QByteArray> singles;
    QList<QByteArray> packs;
    for (const QByteArray& name : std::as_const(names)) {
        if (name.endsWith(kPartSuffix)) {
            m_leftovers << name;
        } else if (name.endsWith(kPackSuffix)) {
            packs << name;
        } else if (const QRegularExpressionMatch m =
                       singleFileName().match(QString::fromLatin1(name));
                   m.hasMatch()) {
            singles.insert({QByteArray::fromHex(m.captured(1).toLatin1()), m.captured(2).toInt()},
                           name);
        }
    }
    for (auto it = singles.cbegin(); it != singles.cend(); ++it) {
        const QByteArray path = inFolder(folder, it.value());
        const int fd = ops().open(path.constData(), O_RDONLY);
        if (fd < 0 && errno == ENOENT)
            continue; // removed since the listing
        qint64 size = 0;
        const bool sized = fd >= 0 && ops().fileSize(fd, &size) == 0;
        const int error = errno;
        if (fd >= 0)
            ops().close(fd);
        if (!sized)
            return failure(kReadFailed, kFolderName, error);
        m_copies[it.key().first].append({it.value(), 0, size, -1});
    }
    for (const QByteArray& pack : std::as_const(packs)) {
        const int fd = ops().open(inFolder(folder, pack).constData(), O_RDONLY);
        if (fd < 0 && errno == ENOENT)
            continue; // removed since the listing, by another process
        if (fd < 0)
            return failure(kReadFailed, kFolderName, errno);
        QByteArray index;
        qint64 indexOffset = 0;
        const int whole = readPackIndex(fd, index, indexOffset);
        const int error = errno ? errno : EIO;
        ops().close(fd);
        if (whole < 0)
            return failure(kReadFailed, kFolderName, error);
        if (whole == 0)
            continue;
        int live = 0;
        for (qint64 at = 0; at < index.size(); at += kEntrySize) {
            const char* entry = index.constData() + at;
            const qint64 offset = number(entry + kDigestSize);
            const qint64 length = number(entry + kDigestSize + 8);
            if (entry[kStateAt] != kLive || offset < 0 || length < 0 ||
                offset > indexOffset - length)
                continue;
            m_copies[QByteArray(entry, kDigestSize)].append(
                {pack, offset, length, indexOffset + at});
            ++live;
        }
        if (live == 0)
            m_emptyPacks << pack;
        m_livePerPack.insert(pack, live);
    }
    return {};
}

OriginalsIndex::~OriginalsIndex() {
    if (m_openFd >= 0)
        ops().close(m_openFd);
}

StoreResult OriginalsIndex::read(const Copy& copy, QByteArray& bytes) const {
    bytes.clear();
    if (m_openFd < 0 || m_openFile != copy.file) {
        if (m_openFd >= 0)
            ops().close(m_openFd);
        m_openFile = copy.file;
        m_openFd = ops().open(inFolder(folderPath(), copy.file).constData(), O_RDONLY);
        if (m_openFd < 0)
            return failure(kReadFailed, kFolderName, errno);
    }
    bytes.resize(copy.length);
    const bool ok = ops().pread(m_openFd, bytes.data(), copy.length, copy.offset) == copy.length;
    const int error = ok ? 0 : (errno ? errno : EIO);
    if (!ok) {
        bytes.clear();
        return failure(kReadFailed, kFolderName, error);
    }
    return {};
}

StoreResult OriginalsIndex::readFirst(const QByteArray& digest, QByteArray& bytes,
                                      bool* found) const {
    bytes.clear();
    *found = false;
    const auto it = m_copies.constFind(digest);
    if (it == m_copies.cend())
        return {};
    for (const Copy& copy : *it) {
        if (StoreResult r = read(copy, bytes); !r)
            return r;
        // Dropped since this index was read (its message deleted meanwhile), the copy's bytes
        // may already be zeros. A drop marks the entry before it frees the bytes, so a mark
        // still live after the bytes were read vouches for them.
        char state = kLive;
        if (copy.indexAt >= 0 && ops().pread(m_openFd, &state, 1, copy.indexAt + kStateAt) != 1)
            return failure(kReadFailed, kFolderName, errno ? errno : EIO);
        if (state == kLive) {
            *found = true;
            return {};
        }
        bytes.clear();
    }
    return {};
}

std::optional<QByteArray> OriginalsIndex::first(const QByteArray& digest) const {
    QByteArray bytes;
    bool found = false;
    if (!readFirst(digest, bytes, &found) || !found)
        return std::nullopt;
    return bytes;
}

StoreResult OriginalsIndex::drop(const QList<Copy>& copies) {
    const QByteArray folder = folderPath();
    StoreResult result;
    const auto noticeFor = [&](const QByteArray& name, int error) {
        result.addNotice(kRemoveFailed.arg(QString::fromLatin1(name), reason(error)));
    };
    const auto removeFile = [&](const QByteArray& name) {
        if (ops().unlink(inFolder(folder, name).constData()) < 0 && errno != ENOENT)
            noticeFor(name, errno);
    };
    QMap<QByteArray, QList<Copy>> perPack;
    for (const Copy& copy : copies) {
        if (copy.indexAt < 0)
            removeFile(copy.file);
        else
            perPack[copy.file].append(copy);
    }
    for (auto it = perPack.cbegin(); it != perPack.cend(); ++it) {
        const QByteArray& pack = it.key();
        const int fd = ops().open(inFolder(folder, pack).constData(), O_RDWR);
        if (fd < 0) {
            noticeFor(pack, errno);
            continue;
        }
        // The marks are durable before any bytes go: a power cut never leaves a live
        // original whose bytes are gone.
        bool marked = true;
        for (const Copy& copy : it.value())
            marked = marked && ops().pwrite(fd, &kDropped, 1, copy.indexAt + kStateAt) == 1;
        marked = marked && ops().fsync(fd) == 0;
        const int error = errno;
        const int left = m_livePerPack.value(pack) - int(it.value().size());
        if (marked && left > 0) {
            for (const Copy& copy : it.value())
                ops().punchHole(fd, copy.offset, copy.length); // space only: may fail
        }
        ops().close(fd);
        if (!marked)
            noticeFor(pack, error);
        else if (left <= 0)
            removeFile(pack);
        m_livePerPack.insert(pack, std::max(left, 0));
    }
    return result;
}

// ---------------------------------------------------------------------------------------
// Originals

QString Originals::folder() {
    return ProgramFolder::resolve(paths::kOriginalsFolder);
}

StoreResult Originals::read(const QByteArray& digest, QByteArray& bytes, bool* found) {
    bytes.clear();
    *found = false;
    OriginalsIndex index;
    if (StoreResult r = index.load(); !r)
        return r;
    return index.readFirst(digest, bytes, found);
}

StoreResult Originals::keep(const QByteArray& digest, const QByteArray& bytes) {
    OriginalAppends single;
    if (StoreResult r = single.add(digest, bytes); !r)
        return r;
    return single.commit();
}

StoreResult Originals::release(const QByteArray& digest) {
    OriginalsIndex index;
    if (StoreResult r = index.load(); !r)
        return r;
    const QList<OriginalsIndex::Copy> copies = index.copies(digest);
    if (copies.isEmpty())
        return {};
    const StoreResult dropped = index.drop({copies.last()});
    return dropped.notice.isEmpty() ? StoreResult{} : StoreResult::failure(dropped.notice);
}

StoreResult Originals::sweep() {
    OriginalsIndex index;
    if (StoreResult r = index.load(); !r)
        return r;
    const QByteArray folder = folderPath();
    StoreResult result;
    const auto remove = [&](const QByteArray& name) {
        if (ops().unlink(inFolder(folder, name).constData()) < 0 && errno != ENOENT)
            result.addNotice(kRemoveFailed.arg(QString::fromLatin1(name), reason(errno)));
    };
    if (s_openWriters == 0) {
        for (const QByteArray& name : std::as_const(index.m_leftovers))
            remove(name);
    }
    for (const QByteArray& name : std::as_const(index.m_emptyPacks))
        remove(name);
    if (index.all().isEmpty())
        return result;

    QHash<QByteArray, int> records;
    for (const BoxInfo& info : allBoxes()) {
        const StoreResult r = Mailbox(info.box).digests([&](const QByteArray& digest) {
            if (index.all().contains(digest))
                ++records[digest];
        });
        if (!r)
            return r;
    }
    QList<OriginalsIndex::Copy> unnamed;
    for (auto it = index.all().cbegin(); it != index.all().cend(); ++it)
        unnamed += it.value().mid(records.value(it.key()));
    result.addNotice(index.drop(unnamed).notice);
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
    m_writes.reset(); // nothing written into the descriptor once it is closed
    if (m_fd >= 0) {
        ops().close(m_fd);
        ops().unlink(m_path.constData()); // best effort: a sweep takes what stays
    }
    m_fd = -1;
    m_end = 0;
    m_tornTail = false;
    m_index.clear();
}

StoreResult OriginalAppends::add(const QByteArray& digest, const QByteArray& bytes) {
    if (m_fd < 0) {
        if (m_folder.isEmpty()) {
            const QByteArray folder = folderPath(); // resolved once: a run keeps many
            if (StoreResult r = ensureFolder(folder); !r)
                return r;
            m_folder = folder;
        }
        m_path = inFolder(m_folder, newPackName() + kPartSuffix);
        m_fd = ops().open(m_path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_EXCL, 0600);
        if (m_fd < 0)
            return failure(kKeepFailed, kFolderName, errno);
        m_writes = std::make_unique<PackWrites>(m_fd, m_path);
    }
    // A failed write leaves m_end where it was: the next message overwrites the attempt,
    // and the commit cuts off what may stand beyond.
    if (const int error = m_writes->write(ops(), bytes, m_end)) {
        m_tornTail = true;
        return failure(kKeepFailed, kFolderName, error);
    }
    m_index.append({digest.left(kDigestSize), m_end, bytes.size()});
    m_end += bytes.size();
    return {};
}

StoreResult OriginalAppends::commit() {
    if (m_index.isEmpty())
        return {};
    QByteArray tail(m_index.size() * kEntrySize + kFooterSize, '\0');
    char* at = tail.data();
    for (const Entry& e : std::as_const(m_index)) {
        std::copy(e.digest.cbegin(), e.digest.cend(), at);
        putNumber(at + kDigestSize, e.offset);
        putNumber(at + kDigestSize + 8, e.length);
        at[kStateAt] = kLive;
        at += kEntrySize;
    }
    std::copy(kPackMagic.cbegin(), kPackMagic.cend(), at);
    putNumber(at + 8, m_index.size());
    putNumber(at + 16, m_end);
    // The whole pack on disk first, then its name: a ".pack" never points at data that a
    // power cut could take back.
    // A message lost on the writer thread has its entry already: the pack cannot be whole.
    const int lost = m_writes->finish();
    m_writes.reset();
    bool written = lost == 0 && (!m_tornTail || ops().ftruncate(m_fd, m_end) == 0) &&
                   ops().pwrite(m_fd, tail.constData(), tail.size(), m_end) == tail.size() &&
                   ops().fsync(m_fd) == 0;
    int error = lost ? lost : errno;
    if (ops().close(m_fd) < 0 && written) {
        written = false;
        error = errno;
    }
    const QByteArray part = m_path;
    m_fd = -1;
    m_end = 0;
    m_tornTail = false;
    m_index.clear();
    const QByteArray final = part.chopped(kPartSuffix.size());
    if (!written || ops().rename(part.constData(), final.constData()) < 0) {
        if (written)
            error = errno;
        ops().unlink(part.constData()); // only a temporary name: may fail
        return failure(kKeepFailed, kFolderName, error);
    }
    if (ops().syncFolder(m_folder.constData()) < 0)
        return failure(kKeepFailed, kFolderName, errno);
    return {};
}

} // namespace kiku
