#include "compose/pdfpane.h"

#include <QFile>
#include <QHBoxLayout>
#include <QPdfDocument>
#include <QPdfPageRenderer>
#include <QPdfView>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace kiku {

namespace {
// Zoom steps and their bounds: a page drawn at four times its size is as far as it goes
// (an A4 page is then about 32 MB of pixels).
constexpr double kZoomStep = 1.25;
constexpr double kMinZoom = 0.25;
constexpr double kMaxZoom = 4.0;
} // namespace

PdfPane::PdfPane(QWidget* parent) : QWidget(parent) {
    m_document = new QPdfDocument(this);
    m_view = new QPdfView(this);
    m_view->setObjectName(QStringLiteral("PdfView"));
    m_view->setPageMode(QPdfView::PageMode::MultiPage);
    m_view->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    m_view->setDocument(m_document);

    m_zoomOut = new QPushButton(QStringLiteral("縮小"), this);
    m_zoomOut->setObjectName(QStringLiteral("ZoomOut"));
    m_zoomIn = new QPushButton(QStringLiteral("拡大"), this);
    m_zoomIn->setObjectName(QStringLiteral("ZoomIn"));
    m_fitWidth = new QPushButton(QStringLiteral("幅に合わせる"), this);
    m_fitWidth->setObjectName(QStringLiteral("FitWidth"));
    auto* tools = new QHBoxLayout;
    tools->setContentsMargins(0, 0, 0, 0);
    tools->addWidget(m_zoomOut);
    tools->addWidget(m_zoomIn);
    tools->addWidget(m_fitWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(tools);
    layout->addWidget(m_view, 1);

    connect(m_zoomIn, &QPushButton::clicked, this, [this] { zoomBy(kZoomStep); });
    connect(m_zoomOut, &QPushButton::clicked, this, [this] { zoomBy(1 / kZoomStep); });
    connect(m_fitWidth, &QPushButton::clicked, this,
            [this] { m_view->setZoomMode(QPdfView::ZoomMode::FitToWidth); });
}

PdfPane::~PdfPane() {
    // The document reads from the file: it goes first.
    m_view->setDocument(nullptr);
    m_document->close();
    // The view's renderer thread is not freed by the renderer's own destructor.
    for (auto* renderer : m_view->findChildren<QPdfPageRenderer*>())
        renderer->setRenderMode(QPdfPageRenderer::RenderMode::SingleThreaded);
}

bool PdfPane::showFile(std::unique_ptr<QFile> file) {
    clear();
    if (!file)
        return false;
    m_document->load(file.get());
    if (m_document->status() != QPdfDocument::Status::Ready || m_document->pageCount() < 1) {
        m_document->close();
        return false;
    }
    m_file = std::move(file);
    m_view->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    m_view->verticalScrollBar()->setValue(0);
    return true;
}

void PdfPane::clear() {
    m_document->close();
    m_file.reset();
}

double PdfPane::fittedZoom() const {
    // What FitToWidth shows: the widest page across the viewport, at the screen's dpi.
    double widest = 0;
    for (int page = 0; page < m_document->pageCount(); ++page)
        widest = std::max(widest, m_document->pagePointSize(page).width());
    if (widest <= 0)
        return 1.0;
    const QMargins margins = m_view->documentMargins();
    const double width = m_view->viewport()->width() - margins.left() - margins.right();
    return width / (widest * m_view->logicalDpiX() / 72.0);
}

void PdfPane::zoomBy(double factor) {
    const double now =
        m_view->zoomMode() == QPdfView::ZoomMode::Custom ? m_view->zoomFactor() : fittedZoom();
    m_view->setZoomMode(QPdfView::ZoomMode::Custom);
    m_view->setZoomFactor(std::clamp(now * factor, kMinZoom, kMaxZoom));
}

} // namespace kiku
