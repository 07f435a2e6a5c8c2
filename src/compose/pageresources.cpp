#include "compose/pageresources.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QTextDocument>

namespace kiku {

namespace {

// The payload of a data: URL ("data:image/png;base64,...").
QByteArray dataPayload(const QUrl& url) {
    const QByteArray path = url.path(QUrl::FullyEncoded).toLatin1();
    const qsizetype comma = path.indexOf(',');
    if (comma < 0)
        return {};
    const QByteArray payload = QByteArray::fromPercentEncoding(path.mid(comma + 1));
    return path.left(comma).endsWith(";base64") ? QByteArray::fromBase64(payload) : payload;
}

} // namespace

PageResources::PageResources(const QString& folder, const PageBounds& bounds)
    : m_folder(folder), m_bounds(bounds) {}

QImage PageResources::decodePicture(const QByteArray& bytes, qint64 maxPixels, bool* tooLarge) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!size.isValid())
        return {};
    if (qint64(size.width()) * size.height() > maxPixels) {
        if (tooLarge)
            *tooLarge = true;
        return {};
    }
    // The declared size may lie; the decoder must not allocate more than it promised.
    reader.setAllocationLimit(int((maxPixels * 8 + 1024 * 1024 - 1) / (1024 * 1024)));
    const QImage image = reader.read();
    if (qint64(image.width()) * image.height() > maxPixels)
        return {};
    return image;
}

QVariant PageResources::refused(int type) const {
    if (type == QTextDocument::ImageResource) {
        static const QPixmap blank = [] {
            QPixmap pixmap(1, 1);
            pixmap.fill(Qt::transparent);
            return pixmap;
        }();
        return blank;
    }
    return QByteArray("");
}

QVariant PageResources::reached(int type) {
    m_boundReached = true;
    return refused(type);
}

QString PageResources::localPath(const QUrl& url) const {
    if (url.scheme().isEmpty() && url.host().isEmpty())
        return url.path(); // relative to the page, or an absolute path
    if (url.isLocalFile() && (url.host().isEmpty() || url.host() == QLatin1String("localhost")))
        return url.toLocalFile();
    return {}; // remote, or another scheme
}

QVariant PageResources::fromBytes(int type, const QByteArray& bytes) {
    if (type != QTextDocument::ImageResource)
        return bytes;
    const qint64 left = qMin(m_bounds.picturePixels, m_bounds.pagePixels - m_pixels);
    bool tooLarge = false;
    const QImage image = decodePicture(bytes, left, &tooLarge);
    if (image.isNull())
        return tooLarge ? reached(type) : refused(type);
    m_pixels += qint64(image.width()) * image.height();
    return QPixmap::fromImage(image);
}

QVariant PageResources::load(int type, const QUrl& url) {
    if (++m_requests > m_bounds.requests)
        return reached(type);
    if (url.scheme() == QLatin1String("data")) {
        const QByteArray bytes = dataPayload(url);
        if (bytes.size() > m_bounds.resourceBytes)
            return reached(type);
        return fromBytes(type, bytes);
    }
    const QString canonical = m_folder.inside(localPath(url));
    if (canonical.isEmpty())
        return refused(type);
    const QString key = QString::number(type) + QLatin1Char(':') + canonical;
    if (const auto known = m_loaded.constFind(key); known != m_loaded.constEnd())
        return *known;

    QVariant value;
    const FolderFile::Contents file = m_folder.read(canonical, m_bounds.resourceBytes, false);
    if (file.result == FolderFile::Result::TooLarge ||
        (file.result == FolderFile::Result::Read &&
         m_bytes + file.bytes.size() > m_bounds.pageBytes)) {
        value = reached(type);
    } else if (file.result != FolderFile::Result::Read) {
        value = refused(type);
    } else {
        m_bytes += file.bytes.size();
        value = fromBytes(type, file.bytes);
    }
    m_loaded.insert(key, value);
    return value;
}

} // namespace kiku
