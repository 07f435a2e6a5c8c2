#pragma once

#include <QTextBrowser>
#include <QUrl>

namespace kiku {

// The page area's reader for HTML pages and text files. It shows a page as it stands and
// goes nowhere: nothing is fetched from the network, no script runs (it has no script
// engine), a clicked link is not followed inside it. Pictures and style sheets that the page
// names beside itself in its own folder are shown; every other resource is refused.
class PageBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit PageBrowser(QWidget* parent = nullptr);

    // Shows the page text; `folder` is where the page lies (its relative references).
    void showHtml(const QString& html, const QString& folder);
    void showText(const QString& text);

    // How many resources the pages asked for and did not get (remote or outside the folder).
    int refusedResources() const { return m_refused; }

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    QString m_folder;
    int m_refused = 0;
};

} // namespace kiku
