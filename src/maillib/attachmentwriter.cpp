#include "maillib/attachmentwriter.h"

#include "base/paths.h"
#include "base/syserror.h"
#include "base/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>

namespace kiku {

namespace {

// Bytes a name may take on disk (Linux allows 255), leaving room for a suffix.
constexpr qsizetype kMaxNameBytes = 200;
// "(1)" to "(9)" for the usual few copies; after that a random tag, so that finding a free
// name never means probing thousands of taken ones and no name ever runs out.
constexpr int kNumberedSuffixes = 9;

QString realFolder(const QString& given) {
    if (given.isEmpty())
        return {};
    if (QFileInfo(given).isDir())
        return QFileInfo(given).absoluteFilePath();
    QString path = given;
    const QString home = ProgramFolder::path();
    if (!home.isEmpty() && path.startsWith(home) &&
        path.mid(home.size()).contains(QLatin1Char('\\')))
        path = ProgramFolder::resolve(path.mid(home.size()));
    else
        path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QFileInfo info(path);
    return info.isDir() ? info.absoluteFilePath() : QString();
}

// Splits "name.ext" into "name" and ".ext" (no extension for ".bashrc" or "name.").
QPair<QString, QString> splitExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1 || name.size() - dot > 16)
        return {name, QString()};
    return {name.left(dot), name.mid(dot)};
}

QString cutToBytes(const QString& text, qsizetype maxBytes) {
    QString out;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = text.at(i).isHighSurrogate() && i + 1 < text.size();
        const QString c = text.mid(i, pair ? 2 : 1);
        const qsizetype size = c.toUtf8().size();
        if (bytes + size > maxBytes)
            break;
        out += c;
        bytes += size;
        if (pair)
            ++i;
    }
    return out;
}

} // namespace

AttachmentWriter::AttachmentWriter(const QString& folder)
    : m_givenFolder(folder), m_folder(realFolder(folder)) {}

QString AttachmentWriter::safeFileName(const QString& proposedName) {
    QString name;
    for (QChar c : proposedName)
        name += unsafeInFileName(c) ? QLatin1Char('_') : c;
    while (name.contains(QStringLiteral("..")))
        name.replace(QStringLiteral(".."), QStringLiteral("_"));
    // Leading dots would hide the file; trailing dots and spaces vanish on Windows.
    while (name.startsWith(QLatin1Char('.')) || name.startsWith(QLatin1Char(' ')))
        name.remove(0, 1);
    while (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        name.chop(1);
    if (name.isEmpty() || name.count(QLatin1Char('_')) == name.size())
        name = QStringLiteral("attachment") + name;
    if (name.toUtf8().size() > kMaxNameBytes) {
        const auto [base, ext] = splitExtension(name);
        name = cutToBytes(base, kMaxNameBytes - ext.toUtf8().size()) + ext;
    }
    return name;
}

QString AttachmentWriter::write(const QString& proposedName, const QByteArray& data) {
    return write(proposedName, [&data](QIODevice& out) { return out.write(data) == data.size(); });
}

QString AttachmentWriter::write(const QString& proposedName,
                                const std::function<bool(QIODevice&)>& fill) {
    if (m_folder.isEmpty()) {
        m_error = QStringLiteral("添付ファイルの保存先フォルダがありません: %1").arg(m_givenFolder);
        return {};
    }
    const QString safe = safeFileName(proposedName);
    const auto [base, ext] = splitExtension(safe);
    const QDir dir(m_folder);
    for (int attempt = 0;; ++attempt) {
        QString name = safe;
        if (attempt > 0 && attempt <= kNumberedSuffixes)
            name = QStringLiteral("%1(%2)%3").arg(base).arg(attempt).arg(ext);
        else if (attempt > kNumberedSuffixes)
            name = QStringLiteral("%1(%2)%3")
                       .arg(base)
                       .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))
                       .arg(ext);
        const QString path = dir.filePath(name);
        // The name has no separators left, but the result is checked all the same.
        if (QFileInfo(path).absolutePath() != dir.absolutePath()) {
            m_error = QStringLiteral("添付ファイル名が使えません: %1").arg(proposedName);
            return {};
        }
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
            continue;
        QFile file(path);
        // NewOnly: even a file that appeared a moment ago is never overwritten.
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            const int error = errno;
            if (QFileInfo::exists(path))
                continue;
            m_error = QStringLiteral("添付ファイルを書き込めません: %1 (%2)")
                          .arg(path, systemErrorText(error));
            return {};
        }
        errno = 0;
        if (!fill(file) || !file.flush()) {
            m_error = QStringLiteral("添付ファイルを書き込めません: %1 (%2)")
                          .arg(path, systemErrorText(errno));
            file.close();
            file.remove();
            return {};
        }
        file.close();
        return path;
    }
}

} // namespace kiku
