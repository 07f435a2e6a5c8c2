#include "compose/pagebrowser.h"

namespace kiku {

PageBrowser::PageBrowser(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setReadOnly(true);
}

void PageBrowser::showHtml(const QString& html, const QString& folder) {
    clear();
    m_resources = PageResources(folder);
    setHtml(html);
}

void PageBrowser::showText(const QString& text) {
    clear();
    m_resources = PageResources();
    setPlainText(text);
}

QVariant PageBrowser::loadResource(int type, const QUrl& name) {
    const bool before = m_resources.boundReached();
    QVariant value = m_resources.load(type, name);
    if (!before && m_resources.boundReached())
        emit limitReached();
    return value;
}

} // namespace kiku
