#pragma once

#include "compose/folderfile.h"

#include <QHash>
#include <QString>
#include <QUrl>
#include <QVariant>

namespace kiku {

// How much one page may bring in besides its own text.
struct PageBounds {
    qint64 resourceBytes = 8 * 1024 * 1024; // one picture or style sheet file
    qint64 pageBytes = 32 * 1024 * 1024;    // all of them together
    qint64 picturePixels = 4096 * 4096;     // one decoded picture
    qint64 pagePixels = 2 * 4096 * 4096;    // all decoded pictures together
    int requests = 500;                     // resources asked for, counting every URL
};

// The one resource policy of the page area: what a page's pictures and style sheets get.
// A resource is served only from a regular file inside the page's own folder, with links
// resolved (or from a data: URL in the page itself), within the bounds; a file is read and
// decoded once however many URLs name it. Every refusal is an empty non-null value (an
// empty text, a 1 x 1 transparent picture), so the text document never goes and loads the
// resource itself.
class PageResources {
public:
    explicit PageResources(const QString& folder = {}, const PageBounds& bounds = {});

    QVariant load(int type, const QUrl& url);
    // Whether a bound left something out of the page.
    bool boundReached() const { return m_boundReached; }

    // The decoded picture, or a null image when it cannot be read or has more than
    // `maxPixels` pixels (the size is read before anything is decoded; `tooLarge` tells).
    static QImage decodePicture(const QByteArray& bytes, qint64 maxPixels,
                                bool* tooLarge = nullptr);

private:
    QVariant refused(int type) const;
    QVariant reached(int type);
    QVariant fromBytes(int type, const QByteArray& bytes);
    QString localPath(const QUrl& url) const;

    FolderFile m_folder;
    PageBounds m_bounds;
    QHash<QString, QVariant> m_loaded; // by type and canonical path
    qint64 m_bytes = 0;
    qint64 m_pixels = 0;
    int m_requests = 0;
    bool m_boundReached = false;
};

} // namespace kiku
