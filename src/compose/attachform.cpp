#include "compose/attachform.h"

#include "base/filedialogs.h"
#include "base/mainboard.h"
#include "base/prompter.h"
#include "base/twips.h"
#include "base/windowswitch.h"
#include "compose/attachpreview.h"
#include "compose/folderfile.h"
#include "compose/pagebrowser.h"
#include "compose/pageresources.h"
#include "compose/pdfpane.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
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
constexpr int kPageHeight = 4800;
constexpr int kPanelTop = 8700;
constexpr int kPanelHeight = 1500;
constexpr int kCaptionLeft = 4560;
constexpr int kWindowWidth = 7500;
constexpr int kWindowHeight = 10320;

// The biggest picture the preview reads and decodes (a 50-megapixel photograph); anything
// larger is not shown as a picture.
constexpr qint64 kPictureBytes = 64 * 1024 * 1024;
constexpr qint64 kPicturePixels = 50'000'000;
// How much of a file tells its kind.
constexpr qint64 kHeadBytes = 8192;

const QString kPageCut = QStringLiteral("ページが大きいため、始めの部分だけを表示しています。");
const QString kPageBound =
    QStringLiteral("表示できる量を超えたため、このページの画像などの一部を省いています。");

const QString kOpenCaption = QStringLiteral("このファイルを上記の場所から実行する（開く）");
const QString kSaveCaption = QStringLiteral("このファイルを上記の場所から保存する");

// A folder list entry: the folder's path and how deep it is drawn.
constexpr int kPathRole = Qt::UserRole;

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
    // The PDF face (m_pdf) is made when the first PDF is shown.
    m_blank = new QLabel(m_webBrowser1);
    m_blank->setObjectName(QStringLiteral("FileName"));
    m_blank->setAlignment(Qt::AlignCenter);
    m_blank->setWordWrap(true);
    m_webBrowser1->addWidget(m_blank);
    m_webBrowser1->setCurrentWidget(m_page);

    // Under it, the panel for the file clicked last, whatever its kind.
    m_panel = new QWidget(this);
    m_panel->setObjectName(QStringLiteral("FilePanel"));
    m_panel->setGeometry(twipsRect(kPreviewLeft, kPanelTop, kPreviewWidth, kPanelHeight));
    m_status = new QLabel(m_panel);
    m_status->setObjectName(QStringLiteral("PageStatus"));
    m_status->setWordWrap(true);
    m_panelName = new QLabel(m_panel);
    m_panelName->setObjectName(QStringLiteral("PanelFileName"));
    m_openButton = new QPushButton(kOpenCaption, m_panel);
    m_openButton->setObjectName(QStringLiteral("OpenCommand"));
    m_saveButton = new QPushButton(kSaveCaption, m_panel);
    m_saveButton->setObjectName(QStringLiteral("SaveCommand"));
    auto* panelLayout = new QVBoxLayout(m_panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(2);
    panelLayout->addWidget(m_status);
    panelLayout->addWidget(m_panelName);
    panelLayout->addWidget(m_openButton);
    panelLayout->addWidget(m_saveButton);
    panelLayout->addStretch();
    m_panel->hide();

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
    connect(m_page, &PageBrowser::limitReached, this, &AttachForm::noteBoundReached);
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
    // A link that leads out of the folder is not a file of it.
    const FolderFile here(m_folder);
    for (const QString& name :
         QDir(m_folder).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase)) {
        if (!here.inside(name).isEmpty())
            m_file1->addItem(name);
    }
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
    showPanel(full);

    const FolderFile::Contents picture = FolderFile(m_folder).read(full, kPictureBytes, false);
    if (picture.result == FolderFile::Result::Read) {
        const QImage image = PageResources::decodePicture(picture.bytes, kPicturePixels);
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
    m_status->clear();
    if (m_pdf)
        m_pdf->clear();
    const FolderFile folder(m_folder);
    const FolderFile::Contents page = folder.read(full, kPageReadLimit, true);
    const bool cut = page.result == FolderFile::Result::Truncated;
    const bool read = cut || page.result == FolderFile::Result::Read;
    switch (read ? pageKind(full, page.bytes.left(kHeadBytes)) : PageKind::Other) {
    case PageKind::Html:
        m_page->showHtml(decodePageText(page.bytes, true), QFileInfo(page.canonicalPath).path());
        m_webBrowser1->setCurrentWidget(m_page);
        if (cut)
            m_status->setText(kPageCut);
        return;
    case PageKind::Text:
        m_page->showText(decodePageText(page.bytes, false));
        m_webBrowser1->setCurrentWidget(m_page);
        if (cut)
            m_status->setText(kPageCut);
        return;
    case PageKind::Pdf:
        if (!m_pdf) {
            m_pdf = new PdfPane(m_webBrowser1);
            m_webBrowser1->addWidget(m_pdf);
        }
        if (m_pdf->showFile(folder.open(full))) {
            m_webBrowser1->setCurrentWidget(m_pdf);
            return;
        }
        break;
    case PageKind::Other:
        break;
    }
    m_blank->setText(QFileInfo(full).fileName());
    m_webBrowser1->setCurrentWidget(m_blank);
}

void AttachForm::noteBoundReached() {
    if (!m_status->text().contains(kPageBound))
        m_status->setText((m_status->text() + QLatin1Char('\n') + kPageBound).trimmed());
}

void AttachForm::showPanel(const QString& full) {
    m_current = full;
    m_panelName->setText(QFileInfo(full).fileName());
    m_panel->show();
}

void AttachForm::openFile() {
    const QString full = m_current;
    const FolderFile::Contents head = FolderFile(m_folder).read(full, kHeadBytes, true);
    if (head.result == FolderFile::Result::Refused)
        return;
    if (!mayHandToDesktop(full, head.bytes)) {
        // Only documents go to the desktop; a program, script or launcher would run.
        Prompter::current().notify(QStringLiteral("このファイルは文書・画像・音声・動画・圧縮"
                                                  "ファイルではないため開けません。保存してから"
                                                  "内容を確かめて下さい。"));
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
    QString canonical;
    std::unique_ptr<QFile> source = FolderFile(m_folder).open(m_current, &canonical);
    if (!source)
        return;
    const QString folder = FileDialogs::current().folderName(this);
    if (folder.isEmpty())
        return;
    const QString target = QDir(folder).absoluteFilePath(QFileInfo(m_current).fileName());
    if (QFileInfo(target).canonicalFilePath() == canonical)
        return; // already there
    if (QFileInfo::exists(target) && !Prompter::current().askYesNo(QStringLiteral(
                                         "同じ名前のファイルがあります。上書きしますか？")))
        return;
    // Written beside the target and renamed over it at the end: a copy that fails leaves
    // the old file as it was.
    QSaveFile copy(target);
    bool written = copy.open(QIODevice::WriteOnly);
    while (written && !source->atEnd()) {
        const QByteArray chunk = source->read(1024 * 1024);
        written = !chunk.isEmpty() && copy.write(chunk) == chunk.size();
    }
    if (!written || !copy.commit()) {
        copy.cancelWriting();
        Prompter::current().notify(QStringLiteral("ファイルを保存できませんでした：") +
                                   QDir::toNativeSeparators(target));
    }
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
