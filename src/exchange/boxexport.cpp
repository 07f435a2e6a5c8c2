#include "exchange/boxexport.h"

#include "base/orderedworker.h"
#include "base/paths.h"
#include "base/syserror.h"
#include "exchange/recordmessage.h"
#include "maillib/maildates.h"
#include "store/fileops.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QtEndian>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <sys/uio.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace kiku {

namespace {

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString writeFailure(const QString& path, const QString& why) {
    return QStringLiteral("%1 に書き出せません: %2").arg(shown(path), why);
}

// Makes the new name of `target` durable in its folder.
bool syncParentFolder(const QString& target, QString& error) {
    const QString folder = QFileInfo(target).absolutePath();
    if (FileOps::current().syncFolder(QFile::encodeName(folder).constData()) != 0) {
        error = writeFailure(target, systemErrorText(errno));
        return false;
    }
    return true;
}

// "Tue Mar  5 14:03:22 2024" in UTC, the date of an mbox separator line, added to `out`.
void appendAsctimeUtc(QByteArray& out, const QDateTime& moment) {
    using mime::kDayNames, mime::kMonthNames, mime::putDigits;
    const QDateTime t = moment.toUTC();
    const QDate d = t.date();
    const QTime time = t.time();
    int year = 0, month = 0, day = 0;
    d.getDate(&year, &month, &day); // once: each of year(), month() and day() works it out
    if (year < 1000 || year > 9999) {
        char text[64];
        std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d",
                      kDayNames[d.dayOfWeek() - 1], kMonthNames[month - 1], day, time.hour(),
                      time.minute(), time.second(), year);
        out += text;
        return;
    }
    char text[] = "Ddd Mmm dd hh:mm:ss yyyy";
    std::memcpy(text, kDayNames[d.dayOfWeek() - 1], 3);
    std::memcpy(text + 4, kMonthNames[month - 1], 3);
    putDigits(text + 8, day, 2);
    if (day < 10)
        text[8] = ' ';
    putDigits(text + 11, time.hour(), 2);
    putDigits(text + 14, time.minute(), 2);
    putDigits(text + 17, time.second(), 2);
    putDigits(text + 20, year, 4);
    out.append(text, sizeof text - 1);
}

// The place of the first '\n' among the eight bytes at `p`, or 8.
int firstNewline(const char* p) {
    const quint64 x = qFromLittleEndian<quint64>(p) ^ 0x0A0A0A0A0A0A0A0AULL;
    // The lowest byte flagged here is the first zero byte of x: borrows only go upwards.
    const quint64 zeros = (x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL;
    return zeros ? std::countr_zero(zeros) / 8 : 8;
}

// For a message with no "From " anywhere, so no line to quote: each CR LF made LF, sixteen
// bytes to a step. Writes at `dst` the bytes of [pos, end) except the last few, which it
// leaves for the line-by-line loop, and returns where it stopped in each.
std::pair<const char*, char*> dropCrBeforeLf(const char* pos, const char* end, char* dst) {
#if defined(__SSE2__)
    const char* const begin = pos;
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    // Each step reads sixteen bytes and the sixteen after them: the byte after the last, to
    // see a CR LF across the edge, and what moves up where a CR is left out.
    while (end - pos >= 32) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pos));
        const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pos + 1));
        unsigned drop = unsigned(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(after, lf))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), bytes);
        // Over each CR to leave out go the bytes after it, read again from the message: the
        // steps never wait for one another, and what lands past this step's end is written
        // again by the next one.
        int dropped = 0;
        while (drop != 0) {
            const int at = std::countr_zero(drop);
            drop &= drop - 1;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + at - dropped),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(pos + at + 1)));
            ++dropped;
        }
        pos += 16;
        dst += 16 - dropped;
    }
    // An LF whose CR the last step left out goes too: the line-by-line loop would take a CR
    // before it for the pair's.
    if (pos > begin && pos < end && pos[-1] == '\r' && pos[0] == '\n') {
        *dst++ = '\n';
        ++pos;
    }
#else
    Q_UNUSED(end);
#endif
    return {pos, dst};
}

// mboxrdQuoted(message) added to the end of `out`.
void appendMboxrdQuoted(QByteArray& out, QByteArrayView message) {
    // Room for one '>' more per line that holds "From " (the last perhaps without its line
    // end), a line end for that last line, and the final empty line.
    const qsizetype start = out.size();
    out.resize(start + message.size() + message.size() / 5 + 3);
    char* dst = out.data() + start;
    const char* pos = message.data();
    const char* const end = pos + message.size();
    // Most messages have no line to quote: they take the quick way but for their last bytes,
    // which are then at the start of a line or inside one that needs no quoting.
    if (message.size() >= 32 && !::memmem(pos, size_t(message.size()), "From ", 5))
        std::tie(pos, dst) = dropCrBeforeLf(pos, end, dst);
    while (pos < end) {
        const char* q = pos;
        while (q < end && *q == '>')
            ++q;
        if (end - q >= 5 && std::memcmp(q, "From ", 5) == 0)
            *dst++ = '>';
        // The line goes over eight bytes at a time while eight are left. Each step writes
        // all eight, which stays inside the room made above: the writing never runs ahead of
        // the reading by more than the '>' added so far.
        for (;;) {
            if (end - pos >= 8) {
                std::memcpy(dst, pos, 8);
                const int n = firstNewline(pos);
                pos += n;
                dst += n;
                if (n < 8)
                    break;
            } else {
                while (pos < end && *pos != '\n')
                    *dst++ = *pos++;
                break;
            }
        }
        // At the line's '\n' or the message's end: a CR before it goes, an LF ends the line.
        if (dst > out.constData() + start && dst[-1] == '\r')
            --dst;
        *dst++ = '\n';
        if (pos < end)
            ++pos;
    }
    *dst++ = '\n';
    out.truncate(dst - out.constData());
}

// Writes every byte of `pieces`, in order, at the file's offset; false with errno set when
// the file takes no more.
bool writeAll(int fd, const std::vector<QByteArray>& pieces) {
    std::vector<iovec> rest;
    rest.reserve(pieces.size());
    for (const QByteArray& piece : pieces) {
        if (!piece.isEmpty())
            rest.push_back({const_cast<char*>(piece.constData()), size_t(piece.size())});
    }
    for (size_t first = 0; first < rest.size();) {
        const int count = int(qMin<size_t>(rest.size() - first, IOV_MAX));
        const ssize_t written = ::writev(fd, rest.data() + first, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        // A short write leaves the rest of a piece, and the pieces after it, for the next.
        for (size_t left = size_t(written); left > 0;) {
            iovec& piece = rest[first];
            const size_t taken = qMin(left, piece.iov_len);
            piece.iov_base = static_cast<char*>(piece.iov_base) + taken;
            piece.iov_len -= taken;
            left -= taken;
            if (piece.iov_len == 0)
                ++first;
        }
    }
    return true;
}

// Where the messages of an export go while it runs.
class ExportSink {
public:
    virtual ~ExportSink() = default;
    virtual bool begin() = 0;
    virtual void startBox(Box box) = 0;
    // A message as it goes into this sink, with the date of its mbox separator line. Touches
    // nothing of the sink: called from the worker while the sink takes earlier messages.
    virtual QByteArray prepared(QByteArray message, const QDateTime& date) const = 0;
    virtual bool add(int number, const QByteArray& prepared) = 0;
    // After the messages of one batch were added: an error of theirs shows here at the latest.
    virtual bool endBatch() { return true; }
    // Makes the output durable and puts it under the target's name.
    virtual bool finish() = 0;
    QString error;
};

class MboxSink : public ExportSink {
public:
    MboxSink(QString target, bool overwrite)
        : m_target(std::move(target)), m_overwrite(overwrite), m_file(m_target) {}

    bool begin() override {
        if (!m_file.open(QIODevice::WriteOnly)) {
            error = writeFailure(m_target, m_file.errorString());
            return false;
        }
        return true;
    }
    void startBox(Box) override {}
    QByteArray prepared(QByteArray message, const QDateTime& date) const override {
        const QByteArray sender = envelopeSender(message);
        QByteArray out;
        // The separator line, then the message quoted, without growing on the way.
        out.reserve(sender.size() + 40 + message.size() + message.size() / 5 + 3);
        out += "From ";
        out += sender;
        out += ' ';
        appendAsctimeUtc(out, date);
        out += '\n';
        appendMboxrdQuoted(out, message);
        return out;
    }
    bool add(int, const QByteArray& prepared) override {
        m_held.push_back(prepared); // shares its bytes until they are written
        return true;
    }
    bool endBatch() override {
        // One system call for the batch, straight from the messages, rather than a copy of
        // them all into one buffer first.
        if (!writeAll(m_file.handle(), m_held)) {
            error = writeFailure(m_target, systemErrorText(errno));
            return false;
        }
        for (const QByteArray& message : m_held)
            m_written += message.size();
        m_held.clear();
        // Each megabyte is handed to the disk once written, so the disk works while the
        // export goes on and the sync at the end has little left to wait for.
        if (m_written - m_handedToDisk >= kHandOver) {
            FileOps::current().startWriteBack(m_file.handle(), m_handedToDisk,
                                              m_written - m_handedToDisk);
            m_handedToDisk = m_written;
        }
        return true;
    }
    bool finish() override {
        // The file may have appeared while the export ran; it is not ours to replace.
        if (!m_overwrite && QFileInfo(m_target).exists()) {
            error = QStringLiteral("%1 は既にあります。上書きはしません。").arg(shown(m_target));
            return false;
        }
        // commit() syncs the file before the rename; the folder entry is synced after it.
        if (!m_file.commit()) {
            error = writeFailure(m_target, m_file.errorString());
            return false;
        }
        return syncParentFolder(m_target, error);
    }

private:
    static constexpr qint64 kHandOver = 1 << 20;

    QString m_target;
    bool m_overwrite;
    QSaveFile m_file; // written by its descriptor; an unfinished export is discarded with it
    std::vector<QByteArray> m_held; // the messages of the batch, not yet written
    qint64 m_written = 0;
    qint64 m_handedToDisk = 0;
};

class EmlFolderSink : public ExportSink {
public:
    EmlFolderSink(QString target, bool overwrite, bool perBox)
        : m_target(std::move(target)), m_overwrite(overwrite), m_perBox(perBox) {}
    ~EmlFolderSink() override {
        if (!m_building.isEmpty())
            QDir(m_building).removeRecursively();
    }

    bool begin() override {
        const QFileInfo info(m_target);
        m_building = info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                     QStringLiteral(".part-") +
                     QString::number(QRandomGenerator::global()->generate(), 16);
        if (!QDir().mkdir(m_building)) {
            error = writeFailure(m_target, systemErrorText(errno));
            m_building.clear();
            return false;
        }
        m_folder = m_building;
        m_folderName = QFile::encodeName(m_folder);
        return true;
    }
    void startBox(Box box) override {
        if (!m_perBox)
            return;
        QString name = QString::fromLatin1(boxInfo(box).fileName);
        name.chop(5); // ".data"
        m_folder = m_building + QLatin1Char('/') + name;
        m_folderName = QFile::encodeName(m_folder);
        QDir().mkdir(m_folder); // a failure shows at the first file
    }
    QByteArray prepared(QByteArray message, const QDateTime&) const override { return message; }
    bool add(int number, const QByteArray& message) override {
        // Plain system calls: a file per message is the cost of this format, and QFile's own
        // checks around each open would add a good part to it.
        char name[32];
        std::snprintf(name, sizeof name, "/%05d.eml", number);
        const QByteArray path = m_folderName + name;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        int failure = fd < 0 ? errno : 0;
        for (qsizetype done = 0; failure == 0 && done < message.size();) {
            const ssize_t n =
                ::write(fd, message.constData() + done, size_t(message.size() - done));
            if (n > 0)
                done += n;
            else if (n == 0 || errno != EINTR)
                failure = n == 0 ? EIO : errno;
        }
        if (fd >= 0 && ::close(fd) != 0 && failure == 0)
            failure = errno;
        if (failure != 0) {
            error = writeFailure(m_target, systemErrorText(failure));
            return false;
        }
        return true;
    }
    bool finish() override {
        const QByteArray building = QFile::encodeName(m_building);
        const QByteArray target = QFile::encodeName(m_target);
        // One sync of the file system makes every file and folder of the export durable,
        // far cheaper than a sync per file.
        const int fd = ::open(building.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool synced = fd >= 0 && ::syncfs(fd) == 0;
        const int syncError = errno;
        if (fd >= 0)
            ::close(fd);
        if (!synced) {
            error = writeFailure(m_target, systemErrorText(syncError));
            return false;
        }
        const bool replacing = m_overwrite && QFileInfo(m_target).exists();
        // Exchanged, the old folder is left under the temporary name and removed with it.
        const unsigned flags = replacing ? RENAME_EXCHANGE : RENAME_NOREPLACE;
        if (::renameat2(AT_FDCWD, building.constData(), AT_FDCWD, target.constData(), flags) != 0) {
            error =
                errno == EEXIST
                    ? QStringLiteral("%1 は既にあります。上書きはしません。").arg(shown(m_target))
                    : writeFailure(m_target, systemErrorText(errno));
            return false;
        }
        if (!replacing)
            m_building.clear();
        return syncParentFolder(m_target, error);
    }

private:
    QString m_target;
    bool m_overwrite;
    bool m_perBox;
    QString m_building;      // the folder being filled; removed unless renamed into place
    QString m_folder;        // where the next file goes
    QByteArray m_folderName; // the same in the file system's encoding
};

// What the messages of one box are built with.
struct BuildSettings {
    Box box;
    RecordLayout layout;
    QString accountAddress;
    QDateTime fallbackDate; // for a record whose Date names no moment
};

// A chunk of a box on its way to the sink. The reader fills it; then the worker builds its
// messages, and the reader too while it waits for them: each thread takes the next message
// nobody has taken yet.
struct Batch {
    BuildSettings settings;
    int first = 0;       // the number of its first record
    QByteArray records;  // whole records, shared with the reader, which leaves them alone
    qsizetype count = 0; // of them, those to export
    // Per record: its fields, found by the reader while the bytes are fresh in its cache;
    // its original, when one is kept (looked up by the reader or the worker, see below).
    std::vector<StoredFields> stored;
    std::vector<std::optional<QByteArray>> originals;
    // Per record: the message in the sink's form, written by the thread that took it.
    std::vector<QByteArray> messages;
    std::atomic<qsizetype> next{0}; // the first message not taken yet
    // Whether `originals` holds what is kept. Until then only the worker, which looks them
    // up, builds messages of the batch.
    std::atomic<bool> originalsIn{false};
};

// The kept originals of the batch's records, found by their digests.
void lookUpOriginals(Batch& batch, const OriginalSource& originals) {
    for (qsizetype i = 0; i < batch.count; ++i)
        batch.originals[size_t(i)] = originals(recordDigest(batch.stored[size_t(i)]));
}

// Builds the messages of the batch that nobody has taken yet: its original or one built from
// the record, in the sink's form. Needs no files, so either thread may run it.
void buildUntaken(Batch& batch, const ExportSink& sink) {
    const BuildSettings& settings = batch.settings;
    for (qsizetype i; (i = batch.next.fetch_add(1, std::memory_order_relaxed)) < batch.count;) {
        const RecordFields fields = recordFields(batch.stored[size_t(i)]);
        const QDateTime date = parseRecordDate(fields.date);
        const QDateTime when = date.isValid() ? date : settings.fallbackDate;
        std::optional<QByteArray>& original = batch.originals[size_t(i)];
        batch.messages[size_t(i)] = sink.prepared(
            original ? std::move(*original)
                     : messageFromRecord(fields, settings.box, settings.accountAddress, when),
            when);
        original.reset();
    }
}

} // namespace

ExportFormat exportFormatFor(const QString& target) {
    return target.endsWith(QLatin1String(".mbox"), Qt::CaseInsensitive) ? ExportFormat::Mbox
                                                                        : ExportFormat::EmlFolder;
}

QList<Box> boxesInFileOrder() {
    return {Box::PartnerInbox, Box::OthersInbox, Box::PartnerSent, Box::OthersSent, Box::Storage};
}

std::optional<Box> boxFromFileName(const QString& name) {
    for (const BoxInfo& info : allBoxes()) {
        if (name.compare(QLatin1String(info.fileName), Qt::CaseInsensitive) == 0)
            return info.box;
    }
    return std::nullopt;
}

QByteArray mboxrdQuoted(const QByteArray& message) {
    QByteArray out;
    appendMboxrdQuoted(out, message);
    return out;
}

ExportResult exportBoxes(const QList<Box>& boxes, const QString& target,
                         const ExportOptions& options) {
    ExportResult result;
    const QFileInfo info(target);
    if (!options.overwrite && (info.exists() || info.isSymLink())) {
        result.error = QStringLiteral("%1 は既にあります。上書きはしません。").arg(shown(target));
        return result;
    }
    if (!info.absoluteDir().exists()) {
        result.error = QStringLiteral("書き出し先のフォルダ %1 がありません。")
                           .arg(shown(info.absolutePath()));
        return result;
    }

    qint64 total = 0;
    for (Box box : boxes) {
        int count = 0;
        if (StoreResult r = Mailbox(box).count(count); !r) {
            result.error = r.error;
            return result;
        }
        total += options.oldest > 0 ? qMin(count, options.oldest) : count;
    }

    std::unique_ptr<ExportSink> sink;
    if (options.format == ExportFormat::Mbox)
        sink = std::make_unique<MboxSink>(target, options.overwrite);
    else
        sink = std::make_unique<EmlFolderSink>(target, options.overwrite, boxes.size() > 1);
    if (!sink->begin()) {
        result.error = sink->error;
        return result;
    }

    // One chunk of records at a time, read by this thread while the worker builds the
    // messages of the chunk before it; this thread then builds the rest of them beside the
    // worker rather than wait, and writes them.
    OrderedWorker<void> worker;
    std::deque<std::shared_ptr<Batch>> building; // given to the worker, oldest first
    // A batch the sink took goes back to the worker to be freed there: memory freed on
    // another thread than the one that took it costs the allocator far more.
    std::shared_ptr<Batch> spent;
    const auto sinkOldest = [&] {
        std::shared_ptr<Batch> batch = std::move(building.front());
        building.pop_front();
        if (batch->originalsIn.load(std::memory_order_acquire))
            buildUntaken(*batch, *sink); // rather than wait for the worker
        worker.take();
        // The fields point into the records: both go, and the reader has its buffer back.
        batch->stored = {};
        batch->records.clear();
        spent = std::move(batch);
        for (qsizetype i = 0; i < spent->count; ++i) {
            if (!sink->add(spent->first + int(i), spent->messages[size_t(i)])) {
                result.error = sink->error;
                return false;
            }
        }
        if (!sink->endBatch()) {
            result.error = sink->error;
            return false;
        }
        for (qsizetype i = 0; i < spent->count; ++i) {
            ++result.messages;
            if (options.progress && !options.progress(result.messages, total)) {
                result.cancelled = true;
                return false;
            }
        }
        return true;
    };
    // Originals are looked up and read by the worker, beside the messages it builds, where
    // the file operations may go from another thread; by this thread where they may not.
    const bool lookUpHere = options.originals && !FileOps::current().threadSafe();
    const OriginalSource* lookUpThere =
        options.originals && !lookUpHere ? &options.originals : nullptr;
    for (Box box : boxes) {
        sink->startBox(box);
        // Held at its offset from UTC: a local time asks the time zone again each time it is
        // read, for each message that takes it.
        const QDateTime fileTime = boxFileTime(box);
        const BuildSettings settings{box, boxInfo(box).layout, options.accountAddress,
                                     fileTime.toOffsetFromUtc(fileTime.offsetFromUtc())};
        const StoreResult read = Mailbox(box).readChunks([&](int first, const QByteArray& chunk) {
            const qsizetype inChunk = chunk.size() / kMailRecordSize;
            auto batch = std::make_shared<Batch>();
            batch->settings = settings;
            batch->first = first;
            batch->records = chunk;
            batch->count =
                options.oldest > 0 ? qBound(0, options.oldest - first + 1, int(inChunk)) : inChunk;
            const bool enough = batch->count < inChunk;
            batch->stored.reserve(size_t(batch->count));
            batch->originals.resize(size_t(batch->count));
            batch->messages.resize(size_t(batch->count));
            for (qsizetype i = 0; i < batch->count; ++i)
                batch->stored.push_back(
                    storedFields(chunk.constData() + i * kMailRecordSize, settings.layout));
            if (lookUpHere)
                lookUpOriginals(*batch, options.originals);
            batch->originalsIn.store(!lookUpThere, std::memory_order_relaxed);
            building.push_back(batch);
            const ExportSink* form = sink.get();
            worker.submit([batch = std::move(batch), form, lookUpThere,
                           spent = std::exchange(spent, {})]() mutable {
                // Drops the batch the sink is done with, here, where most of it was made.
                spent.reset();
                if (lookUpThere) {
                    lookUpOriginals(*batch, *lookUpThere);
                    batch->originalsIn.store(true, std::memory_order_release);
                }
                buildUntaken(*batch, *form);
            });
            return (building.size() < 2 || sinkOldest()) && !enough;
        });
        if (!read) {
            result.error = read.error;
            return result;
        }
        while (result.error.isEmpty() && !result.cancelled && !building.empty())
            sinkOldest();
        if (!result.error.isEmpty() || result.cancelled)
            return result;
    }
    if (!sink->finish()) {
        result.error = sink->error;
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace kiku
