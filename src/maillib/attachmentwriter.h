#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QIODevice;

namespace kiku {

// Writes received attachments into one folder under names that are safe to use: never a
// path outside the folder, never a name the file system or the user would trip over, and
// never over a file that is already there.
class AttachmentWriter {
public:
    // `folder` may be written the program's way, with backslashes ("<program
    // folder>\添付フォルダ\").
    explicit AttachmentWriter(const QString& folder);

    // The folder as a real path, or empty when it does not exist.
    QString folder() const { return m_folder; }
    // Writes the bytes under the sanitised name, adding "(1)" to "(9)" before the extension
    // when that name is taken, and a random tag when those are taken too. Returns the path written,
    // or empty (errorText()).
    QString write(const QString& proposedName, const QByteArray& data);
    // The same, with the bytes written by `fill` into the new file as they come, so a large
    // file is never held whole; `fill` returns false when a write of it failed. A file that
    // could not be written whole is removed again.
    QString write(const QString& proposedName, const std::function<bool(QIODevice&)>& fill);
    QString errorText() const { return m_error; }

    // The name with separators, "..", control characters and characters Windows forbids
    // made harmless, leading dots and trailing dots/spaces removed, and its length bounded.
    static QString safeFileName(const QString& proposedName);

private:
    QString m_givenFolder;
    QString m_folder;
    QString m_error;
};

} // namespace kiku
