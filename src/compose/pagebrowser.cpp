#include "compose/pagebrowser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextDocument>

namespace kiku {

namespace {
// The largest picture or style sheet a page may bring in from its folder.
constexpr qint64 kResourceLimit = 8 * 1024 * 1024;
} // namespace

PageBrowser::PageBrowser(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setReadOnly(true);
}

void PageBrowser::showHtml(const QString& html, const QString& folder) {
    m_folder = QDir(folder).canonicalPath();
    clear();
    setHtml(html);
}

void PageBrowser::showText(const QString& text) {
    m_folder.clear();
    clear();
    setPlainText(text);
}

QVariant PageBrowser::loadResource(int type, const QUrl& name) {
    Q_UNUSED(type);
    if (name.scheme() == QLatin1String("data"))
        return QTextBrowser::loadResource(type, name);
    // Only a file of the page's own folder (or below it), named relatively or as file:.
    const bool local = name.isRelative() ? name.host().isEmpty() : name.isLocalFile();
    if (local && !m_folder.isEmpty()) {
        const QString path =
            name.isRelative() ? m_folder + QLatin1Char('/') + name.path() : name.toLocalFile();
        const QFileInfo info(path);
        const QString canonical = info.canonicalFilePath();
        if (!canonical.isEmpty() && canonical.startsWith(m_folder + QLatin1Char('/')) &&
            info.isFile() && info.size() <= kResourceLimit) {
            QFile file(canonical);
            if (file.open(QIODevice::ReadOnly))
                return file.readAll();
        }
    }
    ++m_refused;
    return {};
}

} // namespace kiku
