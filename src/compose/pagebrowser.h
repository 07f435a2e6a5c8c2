#pragma once

#include "compose/pageresources.h"

#include <QTextBrowser>
#include <QUrl>

namespace kiku {

// The page area's reader for HTML pages and text files. It shows a page as it stands and
// goes nowhere: nothing is fetched from the network, no script runs (it has no script
// engine), a clicked link is not followed inside it. Every picture and style sheet the page
// asks for goes through PageResources: files of the page's own folder, within bounds.
class PageBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit PageBrowser(QWidget* parent = nullptr);

    // Shows the page text; `folder` is where the page lies (its relative references).
    void showHtml(const QString& html, const QString& folder);
    void showText(const QString& text);

    // Whether a bound left something out of the page shown.
    bool boundReached() const { return m_resources.boundReached(); }

signals:
    // A bound left something out of the page (once per page).
    void limitReached();

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    PageResources m_resources;
};

} // namespace kiku
