// The attachment browser: its opening, the explanation button, a click on each kind of file
// (pictures in the preview; HTML, text and PDF in the page area, with nothing remote
// fetched; anything else offered to open or save), the path rule, the scrolling caption and
// the way back to the main window.
#include "base/codec.h"
#include "base/forms.h"
#include "base/pause.h"
#include "base/twips.h"
#include "compose/attachform.h"
#include "compose/attachpreview.h"
#include "compose/pagebrowser.h"
#include "core/mainform.h"
#include "guitest.h"
#include "scriptedfiledialogs.h"
#include "scriptedprompter.h"
#include "temphome.h"

#include <QBuffer>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfView>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <memory>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace kiku;
using namespace kiku::test;

// Qt's PDF view registers a flick recogniser for its viewport that Qt never frees (16 bytes
// for each view): not ours to mend.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:QScroller::grabGesture\n";
}

namespace {

const QString kAttachments = QStringLiteral("\\添付フォルダ\\");

QByteArray imageBytes(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray imageBytes(const QColor& colour, const char* format) {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(colour);
    return imageBytes(image, format);
}

// A picture of one colour at `size`: a few kilobytes of PNG, however large it decodes.
QByteArray pngBytes(const QSize& size, QImage::Format format) {
    QImage image(size, format);
    image.fill(Qt::darkGray);
    return imageBytes(image, "png");
}

// A PDF of three pages filled red, green and blue, as a writer makes it.
QByteArray threePagePdf() {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(72);
    writer.setPageSize(QPageSize(QSizeF(200, 200), QPageSize::Point));
    writer.setPageMargins(QMarginsF());
    QPainter painter(&writer);
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue};
    for (int page = 0; page < 3; ++page) {
        if (page > 0)
            writer.newPage();
        painter.fillRect(QRect(0, 0, 200, 200), colours[page]);
    }
    painter.end();
    return bytes;
}

bool shows(const QImage& image, const QColor& colour) {
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) {
            const QColor pixel = image.pixelColor(x, y);
            if (qAbs(pixel.red() - colour.red()) < 30 &&
                qAbs(pixel.green() - colour.green()) < 30 &&
                qAbs(pixel.blue() - colour.blue()) < 30)
                return true;
        }
    }
    return false;
}

// The resident set of this process, in kilobytes.
qint64 residentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// What the page area's document holds for a resource, as bytes and as a picture.
QSize pictureSize(const QVariant& resource) {
    if (resource.userType() == QMetaType::QPixmap)
        return resource.value<QPixmap>().size();
    if (resource.userType() == QMetaType::QImage)
        return resource.value<QImage>().size();
    QImage image;
    image.loadFromData(resource.toByteArray());
    return image.size();
}

QColor centre(const QPixmap& picture) {
    const QImage image = picture.toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

bool near(const QColor& a, const QColor& b) {
    return qAbs(a.red() - b.red()) < 40 && qAbs(a.green() - b.green()) < 40 &&
           qAbs(a.blue() - b.blue()) < 40;
}

// Receives the URLs the program asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

} // namespace

class TestAttachForm : public QObject {
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<ScriptedPrompter> m_prompter;
    std::unique_ptr<ScriptedFileDialogs> m_dialogs;

    QString attachment(const QString& name) const {
        return QDir(m_home->file(kAttachments)).absoluteFilePath(name);
    }
    void writeAttachment(const QString& name, const QByteArray& bytes) const {
        m_home->writeFile(kAttachments + name, bytes);
    }
    // The browser opened and moved into the attachment folder.
    AttachForm* openInAttachments() const {
        auto* form = Forms::show<AttachForm>();
        form->setFolder(m_home->file(kAttachments));
        return form;
    }
    static void clickFile(AttachForm* form, const QString& name) {
        const QList<QListWidgetItem*> items = form->fileList()->findItems(name, Qt::MatchExactly);
        QVERIFY2(items.size() == 1, qPrintable(name));
        QListWidget* list = form->fileList();
        const QRect rect = list->visualItemRect(items.first());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }

private slots:
    void initTestCase() { Pause::setTimeScale(0); }
    void init() {
        m_home = std::make_unique<TempHome>();
        m_prompter = std::make_unique<ScriptedPrompter>();
        m_dialogs = std::make_unique<ScriptedFileDialogs>();
    }
    void cleanup() {
        closeAllWindows();
        m_dialogs.reset();
        m_prompter.reset();
        m_home.reset();
    }

    void opensOnTheCurrentFolderWithItsExplanation() {
        m_home->writeFile("zadiru.ini", "POP3=x\r\n");
        m_home->writeFile("notes.txt", "x");
        auto* form = Forms::show<AttachForm>();
        QCOMPARE(form->windowTitle(), QStringLiteral("添付ファイルの確認"));
        QCOMPARE(form->folder(), QDir(m_home->path()).canonicalPath());
        QCOMPARE(form->fileList()->count(), 2);
        QCOMPARE(form->countBox()->text(), QStringLiteral("2"));
        // The folder list ends with the folders of this one; the drive list holds its volume.
        QStringList folders;
        for (int i = 0; i < form->folderList()->count(); ++i)
            folders << form->folderList()->item(i)->text().trimmed();
        for (const char* name : {"★MailData", "添付フォルダ", "■TextQuickSave", "Data"})
            QVERIFY2(folders.contains(QString::fromUtf8(name)), name);
        QVERIFY(form->driveList()->count() >= 1);
        QVERIFY(!form->driveList()->currentText().isEmpty());

        QCOMPARE(child<QPushButton>(form, "Command1")->text(), QStringLiteral("説明"));
        QCOMPARE(child<QPushButton>(form, "Command7")->text(), QStringLiteral("戻る"));
        QCOMPARE(child<QLabel>(form, "Image1")->geometry(), twipsRect(3240, 120, 4095, 3615));
        QCOMPARE(form->captionLabel()->text(), QStringLiteral("     Kiku "));
        QVERIFY(form->pathBox()->isHidden());

        // The explanation is up, over the page area, with its exact text.
        QPlainTextEdit* box = form->explanationBox();
        QVERIFY(box->isVisible());
        QCOMPARE(box->geometry(), form->pageArea()->geometry());
        QCOMPARE(box->toPlainText(), AttachForm::explanation().replace("\r\n", "\n"));
        const QString text = AttachForm::explanation();
        QVERIFY(text.startsWith(QStringLiteral("■ドライブ（上）、ディレクトリ（中）、")));
        QVERIFY(text.contains(QStringLiteral("下さい。\r\n\r\n■「ＧＩＦ，")));
        QVERIFY(text.contains(QStringLiteral("再び表示されます｡ \r\nＨＴＭＬ（ＨＰ）")));
        QVERIFY(text.endsWith(QStringLiteral("感染を防止します｡ ")));
        QCOMPARE(box->palette().color(QPalette::Text), QColor(255, 255, 0));
    }

    // Opening presses "説明" once; the next two presses hide and show it again.
    void explanationButtonTogglesAfterOpening() {
        auto* form = Forms::show<AttachForm>();
        QCOMPARE(form->explanationPresses(), quint16(1));
        const bool expected[] = {false, true, false};
        for (const bool visible : expected) {
            QTest::mouseClick(form->explanationButton(), Qt::LeftButton);
            QCOMPARE(form->explanationBox()->isVisible(), visible);
        }
        QCOMPARE(form->explanationPresses(), quint16(4));
    }

    void foldersChangeTheFileListAndCount() {
        m_home->writeFile(kAttachments + "a.txt", "a");
        m_home->writeFile(kAttachments + "b.txt", "b");
        m_home->writeFile(kAttachments + "c.txt", "c");
        auto* form = Forms::show<AttachForm>();
        QListWidget* dirs = form->folderList();
        QListWidgetItem* item =
            dirs->findItems(QStringLiteral("添付フォルダ"), Qt::MatchEndsWith).value(0);
        QVERIFY(item);
        emit dirs->itemActivated(item);
        QCOMPARE(form->folder(), QDir(m_home->file(kAttachments)).canonicalPath());
        QCOMPARE(form->countBox()->text(), QStringLiteral("3"));
        // Up again through the chain of open folders.
        const QString parent = QDir(m_home->path()).canonicalPath();
        for (int i = 0; i < dirs->count(); ++i) {
            if (dirs->item(i)->data(Qt::UserRole).toString() == parent)
                emit dirs->itemActivated(dirs->item(i));
        }
        QCOMPARE(form->folder(), parent);
        QCOMPARE(form->countBox()->text(), QStringLiteral("0"));
    }

    // Every picture format shows in the preview; the page area is left alone.
    void picturesShowInThePreview_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("GIF") << "r.gif" << QByteArray("gif");
        QTest::newRow("JPEG") << "p.jpg" << QByteArray("jpeg");
        QTest::newRow("BMP") << "p.bmp" << QByteArray("bmp");
        QTest::newRow("PNG") << "p.png" << QByteArray("png");
        QTest::newRow("WebP") << "p.webp" << QByteArray("webp");
        QTest::newRow("TIFF") << "p.tif" << QByteArray("tiff");
    }
    void picturesShowInThePreview() {
        QFETCH(QString, name);
        QFETCH(QByteArray, format);
        const QColor colour(20, 160, 220);
        if (format == "gif") {
            // Qt reads GIF but does not write it: the program's own picture serves.
            QFile gif(qEnvironmentVariable("KIKU_SOURCE_DIR") + "/data/R.gif");
            QVERIFY(gif.open(QIODevice::ReadOnly));
            writeAttachment(name, gif.readAll());
        } else {
            QVERIFY2(QImageWriter::supportedImageFormats().contains(format), format.constData());
            writeAttachment(name, imageBytes(colour, format.constData()));
        }
        writeAttachment("page.txt", "plain");
        auto* form = openInAttachments();
        clickFile(form, "page.txt");
        clickFile(form, name);
        QVERIFY(!form->preview()->pixmap().isNull());
        if (format != "gif")
            QVERIFY(near(centre(form->preview()->pixmap()), colour));
        // The page area still holds the text page; the path box is the text file's.
        QCOMPARE(form->pageArea()->currentWidget(), form->pageBrowser());
        QCOMPARE(form->pageBrowser()->toPlainText(), QStringLiteral("plain"));
        QCOMPARE(form->pathBox()->text(), attachment("page.txt"));
        QVERIFY(form->explanationBox()->isHidden());
        QVERIFY(form->captionLabel()->isHidden());
    }

    // An HTML page shows in the page area and reaches nobody: a server listens on loopback
    // for the requests its pictures, style sheet, script, background and link would make.
    void htmlPageShowsWithoutFetchingRemoteContent() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        int connections = 0;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            ++connections;
            delete server.nextPendingConnection();
        });
        const QByteArray url = "http://127.0.0.1:" + QByteArray::number(server.serverPort());
        const QByteArray page =
            "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
            "charset=Shift_JIS\"><link rel=\"stylesheet\" href=\"" +
            url + "/s.css\"><script src=\"" + url +
            "/x.js\"></script><script>document.write('SCRIPT RAN')</script></head>"
            "<body background=\"" +
            url + "/bg.png\"><p>" + codec::toCp932(QStringLiteral("添付のお知らせです")) +
            "</p><img src=\"" + url +
            "/a.png\"><img src=\"//127.0.0.1:" + QByteArray::number(server.serverPort()) +
            "/b.png\"><img src=\"local.png\"><a href=\"" + url + "/go\">link</a></body></html>";
        writeAttachment("letter.html", page);
        writeAttachment("local.png", imageBytes(Qt::blue, "png"));
        writeAttachment("pic.png", imageBytes(Qt::green, "png"));
        auto* form = openInAttachments();
        clickFile(form, "pic.png");
        const QPixmap picture = form->preview()->pixmap();
        clickFile(form, "letter.html");

        QCOMPARE(form->pageArea()->currentWidget(), form->pageBrowser());
        const QString shown = form->pageBrowser()->toPlainText();
        QVERIFY2(shown.contains(QStringLiteral("添付のお知らせです")), qPrintable(shown));
        QVERIFY(!shown.contains(QStringLiteral("SCRIPT RAN")) ||
                shown.contains(QStringLiteral("document.write")));
        QCOMPARE(form->pathBox()->text(), attachment("letter.html"));
        QVERIFY(form->explanationBox()->isHidden());
        // The preview keeps the last picture.
        QCOMPARE(form->preview()->pixmap().toImage(), picture.toImage());
        // The picture beside the page in its own folder is shown.
        QCOMPARE(pictureSize(form->pageBrowser()->document()->resource(QTextDocument::ImageResource,
                                                                       QUrl("local.png"))),
                 QSize(40, 30));

        // Laid out, drawn and its link clicked, the page still reaches nobody.
        form->pageBrowser()->viewport()->grab();
        emit form->pageBrowser()->anchorClicked(QUrl(QString::fromLatin1(url + "/go")));
        QTest::qWait(300);
        QCOMPARE(connections, 0);
        // The server does count a connection that is made.
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QTRY_COMPARE(connections, 1);
    }

    // Nothing outside the page's folder reaches the page: not by a file: URL, an absolute
    // path, a way up, a link that leaves the folder, nor as a style sheet. %H stands for the
    // program folder, which holds the attachment folder.
    void pageNeverReadsOutsideItsFolder_data() {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("type");
        const int image = QTextDocument::ImageResource;
        const int sheet = QTextDocument::StyleSheetResource;
        const QString img = QStringLiteral("<img src=\"%1\">");
        const QString link = QStringLiteral("<link rel=\"stylesheet\" href=\"%1\">");
        const struct {
            const char* row;
            QString tag;
            QString url;
            int type;
        } rows[] = {
            {"file URL", img, "file://%H/private.png", image},
            {"absolute path", img, "%H/private.png", image},
            {"way up", img, "../private.png", image},
            {"link leaving the folder", img, "link.png", image},
            {"style sheet by file URL", link, "file://%H/secret.css", sheet},
            {"style sheet up", link, "../secret.css", sheet},
            {"style sheet by link", link, "link.css", sheet},
        };
        for (const auto& row : rows)
            QTest::newRow(row.row) << row.tag << row.url << row.type;
    }
    void pageNeverReadsOutsideItsFolder() {
        QFETCH(QString, tag);
        QFETCH(QString, url);
        QFETCH(int, type);
        const QColor secret(255, 0, 255);
        m_home->writeFile("private.png", imageBytes(secret, "png"));
        m_home->writeFile("secret.css", "body { background-color: #ff00ff; }");
        QVERIFY(QFile::link(m_home->file("private.png"), attachment("link.png")));
        QVERIFY(QFile::link(m_home->file("secret.css"), attachment("link.css")));
        url.replace("%H", m_home->path());
        writeAttachment("page.html", ("<html><head>" + tag.arg(url) + "</head><body><p>本文</p>" +
                                      tag.arg(url) + "</body></html>")
                                         .toUtf8());
        auto* form = openInAttachments();
        clickFile(form, "page.html");
        PageBrowser* page = form->pageBrowser();
        QVERIFY(page->toPlainText().contains(QStringLiteral("本文")));
        QVERIFY(!shows(page->viewport()->grab().toImage(), secret));
        const QVariant resource = page->document()->resource(type, QUrl(url));
        if (type == QTextDocument::ImageResource) {
            const QSize size = pictureSize(resource);
            QVERIFY2(size.width() <= 1 && size.height() <= 1, qPrintable(url));
        } else {
            QVERIFY2(!resource.toString().contains("ff00ff"), qPrintable(url));
        }
        // The links that leave the folder are not offered as files of it.
        QVERIFY(form->fileList()->findItems("link.png", Qt::MatchExactly).isEmpty());
        QVERIFY(form->fileList()->findItems("link.css", Qt::MatchExactly).isEmpty());
    }

    // Resources that never end, never come, or are far too big: the page shows at once,
    // memory stays put, and the status says when a bound left something out. %A stands for
    // the attachment folder.
    void hostileResourcesNeitherHangNorExhaustMemory_data() {
        QTest::addColumn<QString>("html");
        QTest::addColumn<bool>("bounded");
        QString many;
        for (int i = 0; i < 6; ++i)
            many += QStringLiteral("<img src=\"big.png?%1\"><img src=\"./big.png#%1\">").arg(i);
        QTest::newRow("device") << "<img src=\"/dev/zero\">" << false;
        QTest::newRow("link to a device") << "<img src=\"zero.png\">" << false;
        QTest::newRow("pipe") << "<img src=\"%A/pipe.png\">" << false;
        QTest::newRow("2 GB sparse file") << "<img src=\"%A/huge.png\">" << true;
        QTest::newRow("one large picture, many URLs") << many << false;
        QTest::newRow("decompression bomb") << "<img src=\"bomb.png\">" << true;
    }
    void hostileResourcesNeitherHangNorExhaustMemory() {
        QFETCH(QString, html);
        QFETCH(bool, bounded);
        // A 3000 x 3000 picture (36 MB decoded) and a 5500 x 5500 one (121 MB, under Qt's own
        // limit), each a few kilobytes.
        static const QByteArray big = pngBytes(QSize(3000, 3000), QImage::Format_RGB32);
        static const QByteArray bomb = pngBytes(QSize(5500, 5500), QImage::Format_RGB32);
        writeAttachment("big.png", big);
        writeAttachment("bomb.png", bomb);
        QVERIFY(QFile::link("/dev/zero", attachment("zero.png")));
        QCOMPARE(mkfifo(QFile::encodeName(attachment("pipe.png")).constData(), 0600), 0);
        QFile huge(attachment("huge.png"));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(2) << 30));
        huge.close();
        html.replace("%A", m_home->file(kAttachments));
        writeAttachment("page.html",
                        ("<html><body><p>本文</p>" + html + "</body></html>").toUtf8());
        auto* form = openInAttachments();

        const qint64 before = residentKb();
        QElapsedTimer clock;
        clock.start();
        clickFile(form, "page.html");
        PageBrowser* page = form->pageBrowser();
        page->viewport()->grab();
        QTest::mouseClick(page->viewport(), Qt::LeftButton, {}, QPoint(10, 30));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        const qint64 grown = residentKb() - before;
        QVERIFY2(grown < 100 * 1024, qPrintable(QStringLiteral("%1 kB").arg(grown)));
        QVERIFY(page->toPlainText().contains(QStringLiteral("本文")));
        auto* status = form->findChild<QLabel*>("PageStatus");
        QVERIFY(status);
        QCOMPARE(!status->text().isEmpty(), bounded);
    }

    void textFilesShowDecoded_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QString text = QStringLiteral("件名：お元気ですか\n本文です");
        QTest::newRow("Shift-JIS") << codec::toCp932(text);
        QTest::newRow("UTF-8") << text.toUtf8();
        QTest::newRow("ISO-2022-JP") << codec::encode(text, "ISO-2022-JP");
        QTest::newRow("EUC-JP") << codec::encode(text, "EUC-JP");
    }
    void textFilesShowDecoded() {
        QFETCH(QByteArray, bytes);
        writeAttachment("memo.txt", bytes);
        auto* form = openInAttachments();
        clickFile(form, "memo.txt");
        QCOMPARE(form->pageArea()->currentWidget(), form->pageBrowser());
        QCOMPARE(form->pageBrowser()->toPlainText(),
                 QStringLiteral("件名：お元気ですか\n本文です"));
    }

    // A PDF shows every page, one under the other, fitted to the width; it zooms, and the
    // panel saves it.
    void pdfShowsEveryPageAndIsSaved() {
        const QByteArray pdf = threePagePdf();
        writeAttachment("doc.pdf", pdf);
        auto* form = openInAttachments();
        clickFile(form, "doc.pdf");
        auto* view = form->findChild<QPdfView*>();
        QVERIFY(view);
        QVERIFY(view->isVisible());
        QCOMPARE(form->pathBox()->text(), attachment("doc.pdf"));
        QCOMPARE(view->document()->pageCount(), 3);
        QCOMPARE(view->pageMode(), QPdfView::PageMode::MultiPage);
        QCOMPARE(view->zoomMode(), QPdfView::ZoomMode::FitToWidth);
        QTRY_VERIFY(shows(view->viewport()->grab().toImage(), Qt::red));
        QScrollBar* bar = view->verticalScrollBar();
        bar->setValue(bar->maximum());
        QTRY_VERIFY(shows(view->viewport()->grab().toImage(), Qt::blue));
        const int fitted = bar->maximum();
        child<QPushButton>(form, "ZoomIn")->click();
        QCOMPARE(view->zoomMode(), QPdfView::ZoomMode::Custom);
        QVERIFY(bar->maximum() > fitted);
        child<QPushButton>(form, "FitWidth")->click();
        QCOMPARE(view->zoomMode(), QPdfView::ZoomMode::FitToWidth);

        QDir(m_home->path()).mkpath("saved");
        m_dialogs->answerFolders({m_home->file("saved")});
        form->saveButton()->click();
        QCOMPARE(m_home->readFile("saved/doc.pdf"), pdf);
    }

    // Open hands to the desktop, after the question, only what its content shows to be a
    // document, picture, sound, film or archive; anything else is refused with a word.
    void openHandsOverOnlyDocuments_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("handed");
        QTest::newRow("archive") << "data.bin" << QByteArray("PK\x03\x04\x14\x00\x00\x00", 8)
                                 << true;
        QTest::newRow("picture") << "photo.jpg" << imageBytes(Qt::red, "jpeg") << true;
        QTest::newRow("PDF") << "doc.pdf" << threePagePdf() << true;
        QTest::newRow("text") << "memo.txt" << QByteArray("hello\n") << true;
        QTest::newRow("windows program") << "setup.exe" << QByteArray("MZ\x90\x00\x03", 5) << false;
        QTest::newRow("linux program") << "tool"
                                       << QByteArray("\x7F"
                                                     "ELF\x02\x01\x01\x00",
                                                     8)
                                       << false;
        QTest::newRow("script named as text")
            << "notes.txt" << QByteArray("#!/bin/sh\necho hi\n") << false;
        QTest::newRow("launcher") << "menu.desktop"
                                  << QByteArray("[Desktop Entry]\nType=Application\nExec=x\n")
                                  << false;
    }
    void openHandsOverOnlyDocuments() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, handed);
        writeAttachment(name, bytes);
        QFile::setPermissions(attachment(name),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        auto* form = openInAttachments();
        clickFile(form, name);
        QVERIFY(form->openButton()->isVisible());
        QCOMPARE(form->openButton()->text(),
                 QStringLiteral("このファイルを上記の場所から実行する（開く）"));
        QCOMPARE(form->saveButton()->text(),
                 QStringLiteral("このファイルを上記の場所から保存する"));

        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        m_prompter->answer({false, true});
        form->openButton()->click();
        form->openButton()->click();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.opened,
                 handed ? QList<QUrl>{QUrl::fromLocalFile(attachment(name))} : QList<QUrl>{});
        QCOMPARE(m_prompter->shown().size(), 2);
        QCOMPARE(m_prompter->shown().at(0).question, handed);
        if (handed)
            QVERIFY(m_prompter->shown().at(0).text.contains(QStringLiteral("知らない人")));
    }

    // The panel saves every kind of file into a chosen folder, over a file of the same name
    // only when asked; a copy that fails (the file size limit here) leaves the old file.
    void panelSavesEveryKind_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("failing");
        const QByteArray binary = QByteArray("PK\x03\x04", 4) + QByteArray(64 * 1024, '\x01');
        QTest::newRow("picture") << "p.png" << imageBytes(Qt::green, "png") << false;
        QTest::newRow("page") << "letter.html" << QByteArray("<html><p>x</p></html>") << false;
        QTest::newRow("other") << "data.bin" << binary << false;
        QTest::newRow("failing copy") << "data.bin" << binary << true;
    }
    void panelSavesEveryKind() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, failing);
        const QByteArray own = "the user's own file";
        writeAttachment(name, bytes);
        QDir(m_home->path()).mkpath("saved");
        m_home->writeFile("saved/" + name, own);
        auto* form = openInAttachments();
        clickFile(form, name);
        m_dialogs->answerFolders({QString(), m_home->file("saved")});
        form->saveButton()->click(); // cancelled
        m_prompter->answer({true});
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit unlimited = limit;
        if (failing) {
            signal(SIGXFSZ, SIG_IGN);
            limit.rlim_cur = 16 * 1024;
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        form->saveButton()->click();
        setrlimit(RLIMIT_FSIZE, &unlimited);
        QCOMPARE(m_home->readFile("saved/" + name), failing ? own : bytes);
        QCOMPARE(m_dialogs->foldersAsked(), 2);
        QVERIFY(m_prompter->shown().at(0).text.contains(QStringLiteral("上書き")));
        QCOMPARE(m_prompter->shown().size(), failing ? 2 : 1);
        // Nothing half-written is left beside it.
        QCOMPARE(QDir(m_home->file("saved")).entryList(QDir::Files), QStringList{name});
    }

    void pageKinds_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("kind");
        QTest::newRow("html by name") << "a.HTM" << QByteArray("hello") << int(PageKind::Html);
        QTest::newRow("html by content")
            << "noname" << QByteArray("\xEF\xBB\xBF  <!DOCTYPE html><p>") << int(PageKind::Html);
        QTest::newRow("pdf by content")
            << "x.dat" << QByteArray("%PDF-1.7\n") << int(PageKind::Pdf);
        QTest::newRow("text") << "readme" << QByteArray("line\r\nline\r\n") << int(PageKind::Text);
        QTest::newRow("shift-jis text")
            << "m.txt" << codec::toCp932(QStringLiteral("日本語")) << int(PageKind::Text);
        QTest::newRow("binary") << "x.doc" << QByteArray("\xD0\xCF\x11\xE0\x00\x00", 6)
                                << int(PageKind::Other);
    }
    void pageKinds() {
        QFETCH(QString, name);
        QFETCH(QByteArray, head);
        QFETCH(int, kind);
        QCOMPARE(int(pageKind(name, head)), kind);
    }

    // A root folder ends in a separator already: the path gets a single one.
    void rootFolderPathRule_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("drive root") << "C:\\"
                                    << "C:\\a.txt";
        QTest::newRow("drive folder") << "C:\\Kiku\\添付フォルダ"
                                      << "C:\\Kiku\\添付フォルダ\\a.txt";
        QTest::newRow("root") << "/"
                              << "/a.txt";
        QTest::newRow("folder") << "/home/kiku"
                                << "/home/kiku/a.txt";
    }
    void rootFolderPathRule() {
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        QCOMPARE(attachmentPath(folder, QStringLiteral("a.txt")), expected);
    }

    // From its design top the caption reaches the preview's top in 300 ticks, then runs
    // from 1920 in cycles of 180 ticks.
    void captionCycle() {
        const struct {
            int ticks;
            int top;
        } marks[] = {{0, 3120},   {1, 3110},  {299, 130},  {300, 120}, {301, 1920},
                     {302, 1910}, {481, 120}, {482, 1920}, {662, 120}, {663, 1920}};
        int top = kCaptionDesignTop;
        int done = 0;
        for (const auto& mark : marks) {
            for (; done < mark.ticks; ++done)
                top = nextCaptionTop(top);
            QCOMPARE(top, mark.top);
        }

        auto* form = Forms::show<AttachForm>();
        QCOMPARE(form->captionTimer()->interval(), 200);
        QVERIFY(form->captionTimer()->isActive());
        QCOMPARE(form->captionLabel()->y(), twipsToPixels(3120));
        form->captionTimer()->stop(); // the ticks below are the only ones
        QMetaObject::invokeMethod(form->captionTimer(), "timeout");
        QMetaObject::invokeMethod(form->captionTimer(), "timeout");
        QCOMPARE(form->captionTop(), 3100);
        QCOMPARE(form->captionLabel()->y(), twipsToPixels(3100));
    }

    // "戻る" brings the main window up where the browser stood and hides the browser, which
    // keeps its state for the next "At".
    void backReturnsToTheMainWindowAtThisPosition() {
        m_home->writeFile("zadiru.ini", "POP3=127.0.0.1:1\r\n");
        writeAccount(*m_home, "a", "b");
        MainForm* board = Forms::show<MainForm>();
        board->move(20, 20);
        QTest::mouseClick(board->boardControl("Label12"), Qt::LeftButton);
        QPointer<AttachForm> form = Forms::existing<AttachForm>();
        QVERIFY(form && form->isVisible());
        QTest::mouseClick(form->explanationButton(), Qt::LeftButton);
        board->hide();
        form->move(140, 70);
        QTest::mouseClick(form->backButton(), Qt::LeftButton);
        QVERIFY(board->isVisible());
        QCOMPARE(board->pos(), QPoint(140, 70));
        flushDeletes();
        QVERIFY(form);
        QVERIFY(form->isHidden());

        QTest::mouseClick(board->boardControl("Label12"), Qt::LeftButton);
        QCOMPARE(Forms::existing<AttachForm>(), form.data());
        QVERIFY(form->isVisible());
        QCOMPARE(form->explanationPresses(), quint16(2));
    }
};

QTEST_MAIN(TestAttachForm)
#include "test_attachform.moc"
