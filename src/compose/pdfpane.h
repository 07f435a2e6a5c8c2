#pragma once

#include <QWidget>

#include <memory>

class QFile;
class QPdfDocument;
class QPdfView;
class QPushButton;

namespace kiku {

// The page area's PDF reader: every page one under the other, fitted to the width at
// first, with zoom buttons. Pages are drawn by Qt PDF's renderer thread, so a heavy page
// does not hold up the window.
class PdfPane : public QWidget {
    Q_OBJECT
public:
    explicit PdfPane(QWidget* parent = nullptr);
    ~PdfPane() override;

    // Shows the PDF read from `file` (kept open while shown); false when it is no PDF.
    bool showFile(std::unique_ptr<QFile> file);
    void clear();

    QPdfView* view() const { return m_view; }

private:
    void zoomBy(double factor);
    double fittedZoom() const;

    QPdfDocument* m_document = nullptr;
    QPdfView* m_view = nullptr;
    QPushButton* m_zoomOut = nullptr;
    QPushButton* m_zoomIn = nullptr;
    QPushButton* m_fitWidth = nullptr;
    std::unique_ptr<QFile> m_file;
};

} // namespace kiku
