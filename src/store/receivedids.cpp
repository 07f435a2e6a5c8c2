#include "store/receivedids.h"

#include "base/paths.h"
#include "base/syserror.h"
#include "store/fileops.h"

#include <QDateTime>
#include <QFile>
#include <QMap>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace kiku {

namespace {

// Neither file can grow past what the two in-boxes hold between them; anything longer is
// not ours, and only its first part is read.
constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

qint64 s_fixedClock = 0;

FileOps& ops() {
    return FileOps::current();
}

QByteArray withoutTrailingSlash(QByteArray path) {
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// The complete lines of `contents`: a last line without its line feed was torn by a crash.
QList<QByteArrayView> wholeLines(const QByteArray& contents) {
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    for (qsizetype end; (end = contents.indexOf('\n', start)) >= 0; start = end + 1)
        lines.append(QByteArrayView(contents).sliced(start, end - start));
    return lines;
}

std::optional<Box> boxFromFileName(QByteArrayView name) {
    for (const BoxInfo& info : allBoxes())
        if (name == info.fileName)
            return info.box;
    return std::nullopt;
}

} // namespace

ReceivedIds::ReceivedIds(const char* name) : m_name(QString::fromLatin1(name)) {}

QSet<QByteArray> ReceivedIds::allIds() const {
    QSet<QByteArray> ids;
    for (auto it = m_known.cbegin(); it != m_known.cend(); ++it)
        ids.insert(it.key());
    return ids;
}

ReceivedIds::~ReceivedIds() {
    if (m_journalFd >= 0)
        ops().close(m_journalFd);
}

bool ReceivedIds::isValidId(const QByteArray& id) {
    return !id.isEmpty() && id.size() <= 70 &&
           std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x21 && c <= 0x7E; });
}

void ReceivedIds::setClockForTesting(qint64 secondsSinceEpoch) {
    s_fixedClock = secondsSinceEpoch;
}

qint64 ReceivedIds::now() {
    return s_fixedClock > 0 ? s_fixedClock : QDateTime::currentSecsSinceEpoch();
}

const ReceivedIds::Paths& ReceivedIds::paths() {
    if (m_paths)
        return *m_paths;
    const QString folder = ProgramFolder::resolve(paths::kDataFolder);
    const QStringList names = ProgramFolder::resolveIn(
        folder, {m_name + QStringLiteral(".txt"), m_name + QStringLiteral(".txt.new"),
                 m_name + QStringLiteral(".journal")});
    m_paths = Paths{withoutTrailingSlash(QFile::encodeName(folder)), QFile::encodeName(names.at(0)),
                    QFile::encodeName(names.at(1)), QFile::encodeName(names.at(2))};
    return *m_paths;
}

StoreResult ReceivedIds::failure(const QString& pattern, const QByteArray& path, int error) const {
    return StoreResult::failure(
        pattern.arg(QFile::decodeName(path).section(QLatin1Char('/'), -1), systemErrorText(error)));
}

StoreResult ReceivedIds::readFile(const QByteArray& path, QByteArray& contents,
                                  bool& exists) const {
    contents.clear();
    exists = false;
    const QString unreadable = QStringLiteral("受信済みメールの記録 %1 を読み込めません: %2");
    const int fd = ops().open(path.constData(), O_RDONLY);
    if (fd < 0)
        return errno == ENOENT ? StoreResult{} : failure(unreadable, path, errno);
    exists = true;
    qint64 size = 0;
    StoreResult result;
    if (ops().fileSize(fd, &size) < 0) {
        result = failure(unreadable, path, errno);
    } else {
        contents.resize(qsizetype(qMin(size, kMaxFileBytes)));
        const qint64 got = ops().pread(fd, contents.data(), contents.size(), 0);
        if (got < 0)
            result = failure(unreadable, path, errno);
        contents.resize(qsizetype(qMax<qint64>(got, 0)));
    }
    ops().close(fd);
    return result;
}

void ReceivedIds::readState(const QByteArray& contents) {
    for (const QByteArrayView line : wholeLines(contents)) {
        const qsizetype space = line.indexOf(' ');
        if (space <= 0)
            continue;
        const QByteArray id = line.first(space).toByteArray();
        bool ok = false;
        const qint64 storedAt = line.sliced(space + 1).toLongLong(&ok);
        if (ok && isValidId(id))
            m_known.insert(id, storedAt);
    }
}

void ReceivedIds::readJournal(const QByteArray& contents) {
    struct Line {
        QByteArray id;
        qint64 storedAt;
        QByteArray digest;
    };
    QMap<Box, QList<Line>> trusted;
    for (const QByteArrayView line : wholeLines(contents)) {
        const QList<QByteArray> words = line.toByteArray().split(' ');
        if (words.size() != 5)
            continue;
        const QByteArray& id = words.at(0);
        const std::optional<Box> box = boxFromFileName(words.at(1));
        bool numberOk = false;
        bool timeOk = false;
        const int number = words.at(2).toInt(&numberOk);
        const QByteArray digest = QByteArray::fromHex(words.at(3));
        const qint64 storedAt = words.at(4).toLongLong(&timeOk);
        if (!isValidId(id) || !box || !numberOk || !timeOk || digest.size() != 32)
            continue;
        // Only a record that is really there, with the bytes the line names, makes the id
        // stored; a record lost with the crash leaves its message to be fetched again.
        QByteArray stored;
        if (Mailbox(*box).digestOf(number, stored) && stored == digest)
            trusted[*box].append({id, storedAt, digest});
    }
    // The interrupted run may not have reached its sync: the records are made durable now,
    // before their messages may leave the server. A box that cannot be synced keeps its
    // messages coming again.
    for (auto it = trusted.cbegin(); it != trusted.cend(); ++it) {
        if (!Mailbox(it.key()).sync())
            continue;
        for (const Line& line : it.value()) {
            m_known.insert(line.id, line.storedAt);
            m_recovered.insert(line.id, line.digest);
        }
    }
}

StoreResult ReceivedIds::load() {
    m_known.clear();
    m_recovered.clear();
    const Paths& p = paths();
    QByteArray contents;
    bool exists = false;
    StoreResult result = readFile(p.state, contents, exists);
    readState(contents);
    m_saved = m_known;
    StoreResult journal = readFile(p.journal, contents, exists);
    m_journalFound = !contents.isEmpty();
    readJournal(contents);
    return result ? journal : result;
}

StoreResult ReceivedIds::noteStored(const QByteArray& id, Box box, int number,
                                    const QByteArray& digest) {
    const Paths& p = paths();
    const QString unwritable = QStringLiteral("受信済みメールの記録 %1 に書き込めません: %2");
    if (m_journalFd < 0) {
        bool existed = false;
        if (ops().exists(p.journal.constData(), &existed) < 0)
            return failure(unwritable, p.journal, errno);
        m_journalFd = ops().open(p.journal.constData(), O_WRONLY | O_CREAT);
        if (m_journalFd < 0 || ops().fileSize(m_journalFd, &m_journalSize) < 0)
            return failure(unwritable, p.journal, errno);
        m_journalCreated = !existed;
    }
    const qint64 storedAt = now();
    const QByteArray line = id + ' ' + boxInfo(box).fileName + ' ' + QByteArray::number(number) +
                            ' ' + digest.toHex() + ' ' + QByteArray::number(storedAt) + '\n';
    if (ops().pwrite(m_journalFd, line.constData(), line.size(), m_journalSize) != line.size())
        return failure(unwritable, p.journal, errno);
    m_journalSize += line.size();
    m_known.insert(id, storedAt);
    return {};
}

StoreResult ReceivedIds::syncJournal() {
    if (m_journalFd < 0)
        return {};
    const Paths& p = paths();
    if (ops().fsync(m_journalFd) < 0 ||
        (m_journalCreated && ops().syncFolder(p.folder.constData()) < 0))
        return failure(QStringLiteral("受信済みメールの記録 %1 を保存できません: %2"), p.journal,
                       errno);
    m_journalCreated = false;
    return {};
}

StoreResult ReceivedIds::save(const QSet<QByteArray>& keep) {
    for (auto it = m_known.begin(); it != m_known.end();)
        it = keep.contains(it.key()) ? std::next(it) : m_known.erase(it);
    QByteArray contents;
    for (auto it = m_known.cbegin(); it != m_known.cend(); ++it)
        contents += it.key() + ' ' + QByteArray::number(it.value()) + '\n';

    const Paths& p = paths();
    const QString unsaved = QStringLiteral("受信済みメールの記録 %1 を保存できません: %2");
    // Mostly the file would be written as it is (empty, when mail is deleted on the server):
    // two syncs spared on every such run.
    if (m_known != m_saved) {
        const int fd = ops().open(p.stateNew.constData(), O_WRONLY | O_CREAT | O_TRUNC);
        if (fd < 0)
            return failure(unsaved, p.state, errno);
        const bool written =
            ops().pwrite(fd, contents.constData(), contents.size(), 0) == contents.size() &&
            ops().fsync(fd) == 0;
        const int writeError = errno;
        ops().close(fd);
        if (!written) {
            ops().unlink(p.stateNew.constData());
            return failure(unsaved, p.state, writeError);
        }
        if (ops().rename(p.stateNew.constData(), p.state.constData()) < 0 ||
            ops().syncFolder(p.folder.constData()) < 0)
            return failure(unsaved, p.state, errno);
        m_saved = m_known;
    }
    // The ids are all in the state now: the journal has done its work. It is emptied, not
    // removed, so that the next run need not sync the folder for a new one; should the
    // emptying be lost, its lines are only checked again.
    if (m_journalFd < 0 && m_journalFound)
        m_journalFd = ops().open(p.journal.constData(), O_WRONLY);
    if (m_journalFd >= 0) {
        const bool emptied = ops().ftruncate(m_journalFd, 0) == 0;
        const int e = errno;
        ops().close(m_journalFd);
        m_journalFd = -1;
        m_journalSize = 0;
        if (!emptied)
            return failure(unsaved, p.journal, e);
    }
    m_journalFound = false;
    return {};
}

} // namespace kiku
