#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QFile;

namespace kiku {

// Files of one folder, read without ever following anything out of it: a path counts only
// when, with every link resolved, it lies inside the folder (or below it), and it is read
// only when it is a regular file, never a device, pipe or socket, which could block or
// never end.
class FolderFile {
public:
    enum class Result {
        Read,      // the bytes are the whole file
        Truncated, // the file is longer; the bytes are its beginning
        TooLarge,  // the file is longer than the bound (nothing read)
        Refused    // outside the folder, not a regular file, missing or unreadable
    };
    struct Contents {
        Result result = Result::Refused;
        QByteArray bytes;
        QString canonicalPath;
    };

    // `folder` need not be canonical; an empty or missing folder refuses everything.
    explicit FolderFile(const QString& folder);

    QString folder() const { return m_folder; }
    // The canonical path of `path` (absolute, or relative to the folder) when it lies inside
    // the folder; empty otherwise.
    QString inside(const QString& path) const;
    // At most `limit` bytes of the file; a longer file gives its beginning when `keepHead`
    // is true and nothing otherwise.
    Contents read(const QString& path, qint64 limit, bool keepHead) const;
    // The file opened for reading (a regular file inside the folder), or nullptr; its
    // canonical path goes to `canonicalPath`.
    std::unique_ptr<QFile> open(const QString& path, QString* canonicalPath = nullptr) const;

private:
    QString m_folder;
};

} // namespace kiku
