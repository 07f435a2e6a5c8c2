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
#include "recordingserver.h"
#include "scriptedfiledialogs.h"
#include "scriptedprompter.h"
#include "temphome.h"

#include <QBuffer>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <memory>

using namespace kiku;
using namespace kiku::test;

namespace {

const QString kAttachments = QStringLiteral("\\添付フォルダ\\");

QByteArray imageBytes(const QColor& colour, const char* format) {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A one-page PDF whose page is filled red.
QByteArray redPdf() {
    const QByteArray content = "1 0 0 rg 0 0 200 200 re f\n";
    QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
            "endstream",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 5\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf +=
        "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
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

    // An HTML page shows in the page area without fetching anything: a server on loopback
    // records every request its pictures, style sheet, script and link would make.
    void htmlPageShowsWithoutFetchingRemoteContent() {
        RecordingServer server("HTTP/1.0 200 OK\r\nContent-Type: image/png\r\n\r\n" +
                               imageBytes(Qt::red, "png"));
        const QByteArray url = "http://127.0.0.1:" + QByteArray::number(server.port());
        const QByteArray page =
            "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
            "charset=Shift_JIS\"><link rel=\"stylesheet\" href=\"" +
            url +
            "/s.css\">"
            "<script src=\"" +
            url +
            "/x.js\"></script>"
            "<script>document.write('SCRIPT RAN')</script></head>"
            "<body background=\"" +
            url + "/bg.png\"><p>" + codec::toCp932(QStringLiteral("添付のお知らせです")) +
            "</p>"
            "<img src=\"" +
            url + "/a.png\"><img src=\"//127.0.0.1:" + QByteArray::number(server.port()) +
            "/b.png\">"
            "<img src=\"local.png\"><a href=\"" +
            url + "/go\">link</a></body></html>";
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

        // Give any request time to arrive, then look.
        QTest::qWait(400);
        QCOMPARE(server.connections(), 0);
        QVERIFY(form->pageBrowser()->refusedResources() >= 2);
        // The picture beside the page in its own folder is shown.
        QVERIFY(!form->pageBrowser()
                     ->document()
                     ->resource(QTextDocument::ImageResource, QUrl("local.png"))
                     .isNull());
        // A click on the link goes nowhere inside the page area.
        emit form->pageBrowser()->anchorClicked(QUrl(QString::fromLatin1(url + "/go")));
        QTest::qWait(100);
        QCOMPARE(server.connections(), 0);
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

    void pdfShowsItsFirstPage() {
        writeAttachment("doc.pdf", redPdf());
        auto* form = openInAttachments();
        clickFile(form, "doc.pdf");
        QCOMPARE(form->pageArea()->currentWidget(), form->pdfView());
        QVERIFY(!form->pdfView()->pixmap().isNull());
        QVERIFY(near(centre(form->pdfView()->pixmap()), Qt::red));
        QCOMPARE(form->pathBox()->text(), attachment("doc.pdf"));
    }

    // Anything else gets the two choices: open (after a question) or save a copy.
    void otherFilesCanBeOpenedOrSaved() {
        const QByteArray bytes("PK\x03\x04\x00\x00"
                               "binary\x00\x01\x02",
                               15);
        writeAttachment("data.bin", bytes);
        auto* form = openInAttachments();
        clickFile(form, "data.bin");
        QCOMPARE(form->pageArea()->currentWidget(), form->filePanel());
        QCOMPARE(form->openButton()->text(),
                 QStringLiteral("このファイルを上記の場所から実行する（開く）"));
        QCOMPARE(form->saveButton()->text(),
                 QStringLiteral("このファイルを上記の場所から保存する"));

        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        m_prompter->answer({false, true});
        form->openButton()->click();
        QVERIFY(catcher.opened.isEmpty());
        form->openButton()->click();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.opened, QList<QUrl>{QUrl::fromLocalFile(attachment("data.bin"))});
        QCOMPARE(m_prompter->shown().size(), 2);
        QVERIFY(m_prompter->shown().at(0).question);
        QCOMPARE(m_prompter->shown().at(0).title, QStringLiteral("確認"));
        QVERIFY(m_prompter->shown().at(0).text.contains(QStringLiteral("知らない人")));

        // Save: cancelled, then into a chosen folder.
        QDir(m_home->path()).mkpath("saved");
        m_dialogs->answerFolders({QString(), m_home->file("saved")});
        form->saveButton()->click();
        QVERIFY(!QFile::exists(m_home->file("saved/data.bin")));
        form->saveButton()->click();
        QCOMPARE(m_home->readFile("saved/data.bin"), bytes);
        QCOMPARE(m_dialogs->foldersAsked(), 2);
    }

    // A file that would run when handed to the desktop is never handed over.
    void programsAreNeverRun() {
        writeAttachment("setup.exe", QByteArray("MZ\x90\x00\x03", 5));
        writeAttachment("tool", QByteArray("\x7F"
                                           "ELF\x02\x01\x01\x00",
                                           8));
        QFile::setPermissions(attachment("tool"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        auto* form = openInAttachments();
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        m_prompter->answer({true, true});
        for (const char* name : {"setup.exe", "tool"}) {
            clickFile(form, name);
            QCOMPARE(form->pageArea()->currentWidget(), form->filePanel());
            form->openButton()->click();
        }
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QVERIFY(catcher.opened.isEmpty());
        QCOMPARE(m_prompter->shown().size(), 2);
        QVERIFY(!m_prompter->shown().at(0).question);
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
