#include "exchange/importsource.h"

#include <QDir>
#include <QFileInfo>
#include <utility>

namespace kiku {

namespace {

bool isSeparator(const QByteArray& line) {
    return line.startsWith("From ");
}

// mboxrd: a body line ">From ", ">>From " … was quoted once more on the way in.
void unquote(QByteArray& line) {
    qsizetype quotes = 0;
    while (quotes < line.size() && line.at(quotes) == '>')
        ++quotes;
    if (quotes > 0 && line.mid(quotes, 5) == "From ")
        line.remove(0, 1);
}

} // namespace

bool ImportSource::open(const QString& path, QString& error) {
    const QFileInfo info(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (!info.exists()) {
        error = QStringLiteral("%1 がありません。").arg(shown);
        return false;
    }
    if (info.isDir()) {
        QStringList folders;
        if (QDir(path).exists(QStringLiteral("cur")) || QDir(path).exists(QStringLiteral("new")))
            folders = {path + QStringLiteral("/cur"), path + QStringLiteral("/new")};
        else
            folders = {path};
        const bool maildir = folders.size() == 2;
        for (const QString& folder : folders) {
            const QFileInfoList entries =
                QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
            for (const QFileInfo& entry : entries) {
                if (!maildir && entry.suffix().compare(QLatin1String("eml"), Qt::CaseInsensitive))
                    continue;
                m_files << entry.filePath();
                m_totalBytes += entry.size();
            }
        }
        if (m_files.isEmpty()) {
            error = QStringLiteral("%1 には取り込めるメール（Maildir か .eml ファイル）があり"
                                   "ません。")
                        .arg(shown);
            return false;
        }
        return true;
    }
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1 を開けません: %2").arg(shown, file->errorString());
        return false;
    }
    m_totalBytes = file->size();
    const QByteArray start = file->peek(5);
    if (start == "From ") {
        m_mbox = true;
        m_file = std::move(file);
    } else {
        m_files << path; // one message
    }
    return true;
}

QList<QByteArray> ImportSource::nextBatch(int maxMessages, qint64 maxBytes) {
    QList<QByteArray> batch;
    qint64 bytes = 0;
    QByteArray message;
    while (batch.size() < maxMessages && bytes < maxBytes && m_error.isEmpty() &&
           (m_mbox ? nextMboxMessage(message) : nextFileMessage(message))) {
        if (m_tooLarge) {
            m_tooLarge = false;
            ++m_leftOut;
            continue;
        }
        bytes += message.size();
        batch.append(std::move(message));
        message = QByteArray();
    }
    return batch;
}

bool ImportSource::nextMboxMessage(QByteArray& message) {
    message.clear();
    bool started = !m_pendingLine.isEmpty();
    m_pendingLine.clear();
    bool& tooLarge = m_tooLarge;
    bool atLineStart = true;
    while (!m_file->atEnd()) {
        // In pieces of at most 1 MB, so that a file without line breaks is read in bounded
        // memory; only a piece at the start of a line can be a separator.
        QByteArray line = m_file->readLine(1024 * 1024);
        const bool lineStart = std::exchange(atLineStart, line.endsWith('\n'));
        if (line.isEmpty() && m_file->error() != QFileDevice::NoError) {
            m_error = QStringLiteral("%1 を読み込めません: %2")
                          .arg(QDir::toNativeSeparators(m_file->fileName()), m_file->errorString());
            return false;
        }
        m_doneBytes += line.size();
        if (lineStart && isSeparator(line)) {
            if (started) {
                m_pendingLine = line;
                break;
            }
            started = true;
            continue;
        }
        if (lineStart)
            unquote(line);
        if (tooLarge)
            continue;
        if (message.size() + line.size() > kMaxMessageBytes) {
            tooLarge = true; // read through to its end, keep nothing of it
            message.clear();
            continue;
        }
        message.append(line);
    }
    if (!started)
        return false;
    // The separator's blank line before the next "From " belongs to the mbox, not the mail.
    if (!tooLarge && message.endsWith("\n\n"))
        message.chop(1);
    else if (!tooLarge && message.endsWith("\r\n\r\n"))
        message.chop(2);
    return true;
}

bool ImportSource::nextFileMessage(QByteArray& message) {
    if (m_nextFile >= m_files.size())
        return false;
    QFile file(m_files.at(m_nextFile++));
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("%1 を開けません: %2")
                      .arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
        return false;
    }
    m_doneBytes += file.size();
    m_tooLarge = file.size() > kMaxMessageBytes;
    message = m_tooLarge ? QByteArray() : file.readAll();
    return true;
}

} // namespace kiku
