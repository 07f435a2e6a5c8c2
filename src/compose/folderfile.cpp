#include "compose/folderfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kiku {

namespace {

// A descriptor of a regular file, opened so that neither the open nor the check can block
// (a pipe without a writer would); -1 for anything else.
int openRegular(const QString& canonical, qint64* size) {
    const int fd = ::open(QFile::encodeName(canonical).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return -1;
    }
    *size = status.st_size;
    return fd;
}

} // namespace

FolderFile::FolderFile(const QString& folder)
    : m_folder(folder.isEmpty() ? QString() : QDir(folder).canonicalPath()) {}

QString FolderFile::inside(const QString& path) const {
    if (m_folder.isEmpty() || path.isEmpty())
        return {};
    const QString absolute = QDir(m_folder).absoluteFilePath(path);
    const QString canonical = QFileInfo(absolute).canonicalFilePath();
    const QString prefix = m_folder.endsWith(QLatin1Char('/')) ? m_folder : m_folder + '/';
    return canonical.startsWith(prefix) ? canonical : QString();
}

FolderFile::Contents FolderFile::read(const QString& path, qint64 limit, bool keepHead) const {
    Contents contents;
    std::unique_ptr<QFile> file = open(path, &contents.canonicalPath);
    if (!file)
        return contents;
    const qint64 size = file->size();
    if (size > limit && !keepHead) {
        contents.result = Result::TooLarge;
        return contents;
    }
    contents.bytes = file->read(qMin(size, limit));
    if (contents.bytes.size() < qMin(size, limit)) {
        contents.bytes.clear();
        return contents; // a read error, or the file shrank under us
    }
    contents.result = size > limit ? Result::Truncated : Result::Read;
    return contents;
}

std::unique_ptr<QFile> FolderFile::open(const QString& path, QString* canonicalPath) const {
    const QString canonical = inside(path);
    if (canonical.isEmpty())
        return nullptr;
    qint64 size = 0;
    const int fd = openRegular(canonical, &size);
    if (fd < 0)
        return nullptr;
    auto file = std::make_unique<QFile>(canonical);
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    if (canonicalPath)
        *canonicalPath = canonical;
    return file;
}

} // namespace kiku
