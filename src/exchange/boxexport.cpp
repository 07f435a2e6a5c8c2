#include "exchange/boxexport.h"

#include "base/paths.h"
#include "base/syserror.h"
#include "exchange/recordmessage.h"
#include "store/fileops.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

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
    static const char* const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDateTime t = moment.toUTC();
    const QDate d = t.date();
    const QTime time = t.time();
    if (d.year() < 1000 || d.year() > 9999) {
        char text[64];
        std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d", days[d.dayOfWeek() - 1],
                      months[d.month() - 1], d.day(), time.hour(), time.minute(), time.second(),
                      d.year());
        out += text;
        return;
    }
    // The same digit by digit: snprintf is a good part of the cost of a small message.
    char text[] = "Ddd Mmm dd hh:mm:ss yyyy";
    const auto put = [&](int at, int value, int width) {
        for (int i = width - 1; i >= 0; --i, value /= 10)
            text[at + i] = char('0' + value % 10);
    };
    std::memcpy(text, days[d.dayOfWeek() - 1], 3);
    std::memcpy(text + 4, months[d.month() - 1], 3);
    put(8, d.day(), 2);
    if (d.day() < 10)
        text[8] = ' ';
    put(11, time.hour(), 2);
    put(14, time.minute(), 2);
    put(17, time.second(), 2);
    put(20, d.year(), 4);
    out.append(text, sizeof text - 1);
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
    while (pos < end) {
        const char* newline = static_cast<const char*>(std::memchr(pos, '\n', size_t(end - pos)));
        const char* next = newline ? newline + 1 : end;
        const char* lineEnd = newline ? newline : end;
        if (lineEnd > pos && lineEnd[-1] == '\r')
            --lineEnd;
        const char* q = pos;
        while (q < lineEnd && *q == '>')
            ++q;
        if (lineEnd - q >= 5 && std::memcmp(q, "From ", 5) == 0)
            *dst++ = '>';
        std::memcpy(dst, pos, size_t(lineEnd - pos));
        dst += lineEnd - pos;
        *dst++ = '\n';
        pos = next;
    }
    *dst++ = '\n';
    out.truncate(dst - out.constData());
}

// Where the messages of an export go while it runs.
class ExportSink {
public:
    virtual ~ExportSink() = default;
    virtual bool begin() = 0;
    virtual void startBox(Box box) = 0;
    virtual bool add(int number, const QByteArray& message, const QDateTime& date) = 0;
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
    bool add(int, const QByteArray& message, const QDateTime& date) override {
        m_pending += "From ";
        m_pending += envelopeSender(message);
        m_pending += ' ';
        appendAsctimeUtc(m_pending, date);
        m_pending += '\n';
        appendMboxrdQuoted(m_pending, message);
        return m_pending.size() < kWriteSize || writePending();
    }
    bool finish() override {
        // The file may have appeared while the export ran; it is not ours to replace.
        if (!m_overwrite && QFileInfo(m_target).exists()) {
            error = QStringLiteral("%1 は既にあります。上書きはしません。").arg(shown(m_target));
            return false;
        }
        // commit() syncs the file before the rename; the folder entry is synced after it.
        if (!writePending())
            return false;
        if (!m_file.commit()) {
            error = writeFailure(m_target, m_file.errorString());
            return false;
        }
        return syncParentFolder(m_target, error);
    }

private:
    // Messages go to the file a megabyte at a time rather than a write call each.
    static constexpr qsizetype kWriteSize = 1 << 20;

    bool writePending() {
        if (m_file.write(m_pending) != m_pending.size()) {
            error = writeFailure(m_target, m_file.errorString());
            return false;
        }
        m_pending.resize(0); // keeps its room for the next messages
        return true;
    }

    QString m_target;
    bool m_overwrite;
    QSaveFile m_file; // an unfinished export is discarded with it
    QByteArray m_pending;
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
    bool add(int number, const QByteArray& message, const QDateTime&) override {
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

    bool failed = false;
    for (Box box : boxes) {
        sink->startBox(box);
        const RecordLayout layout = boxInfo(box).layout;
        // Held at its offset from UTC: a local time asks the time zone again each time it is
        // read, for each message that takes it.
        const QDateTime fileTime = boxFileTime(box);
        const QDateTime fallbackDate = fileTime.toOffsetFromUtc(fileTime.offsetFromUtc());
        const StoreResult read = Mailbox(box).readAllBytes([&](int number, const char* bytes) {
            if (options.oldest > 0 && number > options.oldest)
                return false;
            std::optional<QByteArray> message;
            if (options.originals)
                message = options.originals(recordDigest(bytes, layout));
            const RecordFields fields = recordFields(bytes, layout);
            const QDateTime date = parseRecordDate(fields.date);
            const QDateTime when = date.isValid() ? date : fallbackDate;
            if (!message)
                message = messageFromRecord(fields, box, options.accountAddress, when);
            if (!sink->add(number, *message, when)) {
                failed = true;
                return false;
            }
            ++result.messages;
            if (options.progress && !options.progress(result.messages, total)) {
                result.cancelled = true;
                return false;
            }
            return true;
        });
        if (!read) {
            result.error = read.error;
            return result;
        }
        if (failed) {
            result.error = sink->error;
            return result;
        }
        if (result.cancelled)
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
