#include "compose/attachform.h"

#include "base/filedialogs.h"
#include "base/mainboard.h"
#include "base/prompter.h"
#include "base/twips.h"
#include "base/windowswitch.h"
#include "compose/attachpreview.h"
#include "compose/pagebrowser.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPdfDocument>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStorageInfo>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace kiku {

namespace {

// The designed rectangles, in twips.
constexpr int kLeft = 120;
constexpr int kListWidth = 3000;
constexpr int kPreviewLeft = 3240;
constexpr int kPreviewWidth = 4095;
constexpr int kPreviewHeight = 3615;
constexpr int kPageTop = 3840;
constexpr int kPageHeight = 3000;
constexpr int kCaptionLeft = 4560;
constexpr int kWindowWidth = 7500;
constexpr int kWindowHeight = 7080;

// The biggest picture the preview decodes; anything larger is not shown as a picture.
constexpr int kPictureLimit = 8192;

const QString kOpenCaption = QStringLiteral("このファイルを上記の場所から実行する（開く）");
const QString kSaveCaption = QStringLiteral("このファイルを上記の場所から保存する");

// A folder list entry: the folder's path and how deep it is drawn.
constexpr int kPathRole = Qt::UserRole;

QByteArray readHead(const QString& path, qint64 size) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(size) : QByteArray();
}

} // namespace

AttachForm::AttachForm(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("AttachForm"));
    setWindowTitle(QStringLiteral("添付ファイルの確認"));
    buildControls();

    // Opening: the lists at the current folder, the explanation shown by a press of "説明",
    // the caption running.
    fillDrives();
    setFolder(QDir::currentPath());
    m_text3->hide();
    m_timer1->start();
    pressExplanation();
}

AttachForm::~AttachForm() = default;

QString AttachForm::explanation() {
    const QStringList lines = {
        QStringLiteral("■ドライブ（上）、ディレクトリ（中）、ファイルフィルリスト（下）からファイル"
                       "を選択、クリックして下さい。"),
        QStringLiteral(""),
        QStringLiteral("■「ＧＩＦ，ＪＰＧ（ＪＰＥＧ），ＢＭＰ，はリストをクリックすると上のフレーム"
                       "に表示されます。ＨＴＭＬ（ＨＰ）ファイルはこのフレームに表示されます。その"
                       "他のファイルは（EXE等）「ファイルのダウンロード」ダイアログが現れますので、"
                       "「このファイルを上記の場所から実行する（開く）」をチェックして下さい。"),
        QStringLiteral(""),
        QStringLiteral("■保存したい場合は「このファイルを上記の場所から保存する」をチェックし、任意"
                       "の場所を選択し保存して下さい。"),
        QStringLiteral(""),
        QStringLiteral("■この説明は「説明」ボタンをクリックすると消去され、もう一度クリックすると再"
                       "び表示されます｡ "),
        QStringLiteral("ＨＴＭＬ（ＨＰ）ファイルを選択した際にも自動的に消去されます｡ "),
        QStringLiteral(""),
        QStringLiteral("■送信されて来た添付ファイルは、「Kiku "
                       "Lanternway」フォルダの添付フォルダ内に展開されています。"),
        QStringLiteral("添付ファイルはユーザー任意の場所に移動するようにして下さい。"),
        QStringLiteral(""),
        QStringLiteral("■知らない人からの添付ファイルは開かない事が､コンピューターウイルスからの感"
                       "染を防止します｡ "),
    };
    return lines.join(QLatin1String("\r\n"));
}

QString AttachForm::openQuestion(const QString& fileName) {
    return QStringLiteral("「%1」をこのコンピューターの既定のアプリケーションで開きます。\n"
                          "知らない人からの添付ファイルは開かない事が、コンピューターウイルスから"
                          "の感染を防止します。\n開いてもよろしいですか？")
        .arg(fileName);
}

void AttachForm::buildControls() {
    setFixedSize(twipsToPixels(kWindowWidth), twipsToPixels(kWindowHeight));

    m_drive1 = new QComboBox(this);
    m_drive1->setObjectName(QStringLiteral("Drive1"));
    m_drive1->setGeometry(twipsRect(kLeft, 120, kListWidth, 315));
    m_dir1 = new QListWidget(this);
    m_dir1->setObjectName(QStringLiteral("Dir1"));
    m_dir1->setGeometry(twipsRect(kLeft, 540, kListWidth, 2460));
    m_file1 = new QListWidget(this);
    m_file1->setObjectName(QStringLiteral("File1"));
    m_file1->setGeometry(twipsRect(kLeft, 3120, kListWidth, 2700));

    auto* countLabel = new QLabel(QStringLiteral("ファイル数"), this);
    countLabel->setGeometry(twipsRect(kLeft, 5940, 1200, 300));
    m_text1 = new QLineEdit(this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setReadOnly(true);
    m_text1->setGeometry(twipsRect(1320, 5940, 900, 300));
    m_text2 = new QLineEdit(this);
    m_text2->setObjectName(QStringLiteral("Text2"));
    m_text2->hide();

    m_command1 = new QPushButton(QStringLiteral("説明"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setGeometry(twipsRect(kLeft, 6420, 1400, 420));
    m_command7 = new QPushButton(QStringLiteral("戻る"), this);
    m_command7->setObjectName(QStringLiteral("Command7"));
    m_command7->setGeometry(twipsRect(1680, 6420, 1400, 420));

    m_image1 = new QLabel(this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setGeometry(twipsRect(kPreviewLeft, kPreviewTop, kPreviewWidth, kPreviewHeight));
    m_image1->setAlignment(Qt::AlignCenter);

    // The page area, with the explanation box over it.
    const QRect page = twipsRect(kPreviewLeft, kPageTop, kPreviewWidth, kPageHeight);
    m_webBrowser1 = new QStackedWidget(this);
    m_webBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    m_webBrowser1->setGeometry(page);
    m_page = new PageBrowser(m_webBrowser1);
    m_page->setObjectName(QStringLiteral("PageBrowser"));
    m_webBrowser1->addWidget(m_page);
    m_pdf = new QLabel(m_webBrowser1);
    m_pdf->setObjectName(QStringLiteral("PdfView"));
    m_pdf->setAlignment(Qt::AlignCenter);
    m_webBrowser1->addWidget(m_pdf);
    m_panel = new QWidget(m_webBrowser1);
    m_panel->setObjectName(QStringLiteral("FilePanel"));
    m_panelName = new QLabel(m_panel);
    m_panelName->setObjectName(QStringLiteral("FileName"));
    m_panelName->setWordWrap(true);
    m_openButton = new QPushButton(kOpenCaption, m_panel);
    m_openButton->setObjectName(QStringLiteral("OpenCommand"));
    m_saveButton = new QPushButton(kSaveCaption, m_panel);
    m_saveButton->setObjectName(QStringLiteral("SaveCommand"));
    auto* panelLayout = new QVBoxLayout(m_panel);
    panelLayout->addWidget(m_panelName);
    panelLayout->addWidget(m_openButton);
    panelLayout->addWidget(m_saveButton);
    panelLayout->addStretch();
    m_webBrowser1->addWidget(m_panel);
    m_webBrowser1->setCurrentWidget(m_page);

    m_text3 = new QPlainTextEdit(this);
    m_text3->setObjectName(QStringLiteral("Text3"));
    m_text3->setReadOnly(true);
    m_text3->setGeometry(page);
    m_text3->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette explanationColours = m_text3->palette();
    explanationColours.setColor(QPalette::Base, QColor(0, 100, 0));
    explanationColours.setColor(QPalette::Text, QColor(255, 255, 0));
    m_text3->setPalette(explanationColours);
    m_text3->raise();

    m_label2 = new QLabel(QStringLiteral("     Kiku "), this);
    m_label2->setObjectName(QStringLiteral("Label2"));
    QFont captionFont = m_label2->font();
    captionFont.setPointSize(16);
    captionFont.setBold(true);
    m_label2->setFont(captionFont);
    m_label2->setAutoFillBackground(true);
    QPalette captionColours = m_label2->palette();
    captionColours.setColor(QPalette::Window, QColor(192, 192, 192));
    captionColours.setColor(QPalette::WindowText, QColor(128, 255, 128));
    m_label2->setPalette(captionColours);
    m_captionTop = kCaptionDesignTop;
    m_label2->setGeometry(twipsRect(kCaptionLeft, m_captionTop, 1700, 420));
    m_label2->raise();

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(200);

    connect(m_drive1, &QComboBox::activated, this, &AttachForm::driveChanged);
    connect(m_dir1, &QListWidget::itemActivated, this, &AttachForm::folderActivated);
    connect(m_file1, &QListWidget::itemClicked, this, &AttachForm::fileClicked);
    connect(m_file1, &QListWidget::itemActivated, this, &AttachForm::fileClicked);
    connect(m_command1, &QPushButton::clicked, this, &AttachForm::pressExplanation);
    connect(m_command7, &QPushButton::clicked, this, &AttachForm::goBack);
    connect(m_timer1, &QTimer::timeout, this, &AttachForm::tickCaption);
    connect(m_openButton, &QPushButton::clicked, this, &AttachForm::openFile);
    connect(m_saveButton, &QPushButton::clicked, this, &AttachForm::saveFile);
}

// ---------------------------------------------------------------------------------------
// The three lists

void AttachForm::fillDrives() {
    m_drive1->clear();
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady())
            m_drive1->addItem(volume.rootPath(), volume.rootPath());
    }
}

void AttachForm::setFolder(const QString& path) {
    const QFileInfo info(path);
    if (!info.isDir())
        return;
    m_folder = QDir::cleanPath(info.absoluteFilePath());
    // The drive list follows to the volume that holds the folder.
    const QString root = QStorageInfo(m_folder).rootPath();
    const int drive = m_drive1->findData(root);
    if (drive >= 0)
        m_drive1->setCurrentIndex(drive);
    fillFolders();
    fillFiles();
    refreshCount();
}

void AttachForm::fillFolders() {
    m_dir1->clear();
    // The way down from the root, each folder open, then the folders inside this one.
    QStringList chain;
    for (QDir dir(m_folder);;) {
        chain.prepend(dir.absolutePath());
        if (dir.isRoot() || !dir.cdUp())
            break;
    }
    int depth = 0;
    for (const QString& path : std::as_const(chain)) {
        const QString name = depth == 0 ? path : QFileInfo(path).fileName();
        auto* item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + name, m_dir1);
        item->setData(kPathRole, path);
        ++depth;
    }
    m_dir1->setCurrentRow(m_dir1->count() - 1);
    const QDir here(m_folder);
    for (const QString& sub :
         here.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase)) {
        auto* item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + sub, m_dir1);
        item->setData(kPathRole, here.absoluteFilePath(sub));
    }
}

void AttachForm::fillFiles() {
    m_file1->clear();
    m_file1->addItems(QDir(m_folder).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase));
}

void AttachForm::refreshCount() {
    m_text1->setText(QString::number(m_file1->count()));
}

void AttachForm::driveChanged(int index) {
    setFolder(m_drive1->itemData(index).toString());
}

void AttachForm::folderActivated(QListWidgetItem* item) {
    setFolder(item->data(kPathRole).toString());
}

// ---------------------------------------------------------------------------------------
// A file clicked: a picture in the preview, anything else in the page area.

void AttachForm::fileClicked(QListWidgetItem* item) {
    m_label2->hide();
    m_text3->hide();
    refreshCount();

    const QString full = attachmentPath(m_folder, item->text());

    QImageReader reader(full);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (reader.canRead() && size.isValid() && size.width() <= kPictureLimit &&
        size.height() <= kPictureLimit) {
        const QImage image = reader.read();
        if (!image.isNull()) {
            showPreview(QPixmap::fromImage(image));
            return;
        }
    }
    // Not a picture: the page area; the preview keeps the last picture.
    m_text2->setText(full);
    showPage(full);
}

void AttachForm::showPreview(const QPixmap& picture) {
    m_picture = picture;
    const QSize box = m_image1->size();
    if (picture.width() > box.width() || picture.height() > box.height())
        m_image1->setPixmap(picture.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    else
        m_image1->setPixmap(picture);
}

void AttachForm::showPage(const QString& full) {
    const QByteArray head = readHead(full, 8192);
    switch (pageKind(full, head)) {
    case PageKind::Html:
        m_page->showHtml(decodePageText(readHead(full, kPageReadLimit), true),
                         QFileInfo(full).absolutePath());
        m_webBrowser1->setCurrentWidget(m_page);
        return;
    case PageKind::Text:
        m_page->showText(decodePageText(readHead(full, kPageReadLimit), false));
        m_webBrowser1->setCurrentWidget(m_page);
        return;
    case PageKind::Pdf:
        if (showPdf(full))
            return;
        break;
    case PageKind::Other:
        break;
    }
    showPanel(full);
}

bool AttachForm::showPdf(const QString& full) {
    QPdfDocument document;
    if (document.load(full) != QPdfDocument::Error::None || document.pageCount() < 1)
        return false;
    const QSizeF points = document.pagePointSize(0);
    if (points.isEmpty())
        return false;
    const QSize area = m_webBrowser1->size() * m_webBrowser1->devicePixelRatioF();
    const QSize pixels = points.scaled(QSizeF(area), Qt::KeepAspectRatio).toSize();
    const QImage page = document.render(0, pixels.expandedTo(QSize(1, 1)));
    document.close();
    if (page.isNull())
        return false;
    QPixmap picture = QPixmap::fromImage(page);
    picture.setDevicePixelRatio(m_webBrowser1->devicePixelRatioF());
    m_pdf->setPixmap(picture);
    m_webBrowser1->setCurrentWidget(m_pdf);
    return true;
}

void AttachForm::showPanel(const QString& full) {
    m_panelName->setText(QDir::toNativeSeparators(full));
    m_webBrowser1->setCurrentWidget(m_panel);
}

void AttachForm::openFile() {
    const QString full = m_text2->text();
    if (full.isEmpty() || !QFileInfo(full).isFile())
        return;
    if (wouldRunWhenOpened(full)) {
        // Handed to the desktop, a program or a launcher would run, not open.
        Prompter::current().notify(QStringLiteral("このファイルは実行される形式のため開けません。"
                                                  "保存してから内容を確かめて下さい。"));
        return;
    }
    if (!Prompter::current().askYesNo(openQuestion(QFileInfo(full).fileName())))
        return;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(full)))
        Prompter::current().notify(
            QStringLiteral("このファイルを開くアプリケーションが見つかりません"
                           "でした。"));
}

void AttachForm::saveFile() {
    const QString full = m_text2->text();
    if (full.isEmpty() || !QFileInfo(full).isFile())
        return;
    const QString folder = FileDialogs::current().folderName(this);
    if (folder.isEmpty())
        return;
    const QString target = QDir(folder).absoluteFilePath(QFileInfo(full).fileName());
    if (QFileInfo(target).canonicalFilePath() == QFileInfo(full).canonicalFilePath())
        return; // already there
    if (QFileInfo::exists(target)) {
        if (!Prompter::current().askYesNo(
                QStringLiteral("同じ名前のファイルがあります。上書きしますか？")))
            return;
        QFile::remove(target);
    }
    if (!QFile::copy(full, target))
        Prompter::current().notify(QStringLiteral("ファイルを保存できませんでした：") +
                                   QDir::toNativeSeparators(target));
}

// ---------------------------------------------------------------------------------------
// "説明", the caption and "戻る"

void AttachForm::pressExplanation() {
    if (m_presses % 2 == 1) {
        m_text3->hide();
    } else {
        m_text3->show();
        m_text3->raise();
        QString text = explanation();
        m_text3->setPlainText(text.replace(QLatin1String("\r\n"), QLatin1String("\n")));
    }
    ++m_presses;
}

void AttachForm::tickCaption() {
    m_captionTop = nextCaptionTop(m_captionTop);
    m_label2->move(m_label2->x(), twipsToPixels(m_captionTop));
}

void AttachForm::goBack() {
    MainBoard* board = MainBoard::current();
    if (board && board->boardWindow())
        switchWindow(board->boardWindow(), this);
    else
        hide();
}

} // namespace kiku
