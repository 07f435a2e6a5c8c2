#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QTimer;

namespace kiku {

class PageBrowser;
class PdfPane;

// The attachment browser "添付ファイルの確認": drive, folder and file lists starting at the
// program's current folder, a picture preview, and below it a page area for what is not a
// picture (HTML and text pages, PDFs), with a panel under it to open or save whatever file
// was clicked last. Nothing is read through a link that leaves the folder, and only regular
// files are read. The explanation box lies over the page area. The window is hidden, not
// closed, by "戻る", and keeps its state until it is closed.
class AttachForm : public QWidget {
    Q_OBJECT
public:
    explicit AttachForm(QWidget* parent = nullptr);
    ~AttachForm() override;

    QComboBox* driveList() const { return m_drive1; }
    QListWidget* folderList() const { return m_dir1; }
    QListWidget* fileList() const { return m_file1; }
    QLineEdit* countBox() const { return m_text1; }
    QLineEdit* pathBox() const { return m_text2; }
    QPlainTextEdit* explanationBox() const { return m_text3; }
    QLabel* preview() const { return m_image1; }
    QLabel* captionLabel() const { return m_label2; }
    QTimer* captionTimer() const { return m_timer1; }
    QPushButton* explanationButton() const { return m_command1; }
    QPushButton* backButton() const { return m_command7; }
    // The page area (WebBrowser1) and its three faces: pages, PDFs (made with the first
    // PDF shown), and the name of a file it cannot show.
    QStackedWidget* pageArea() const { return m_webBrowser1; }
    PageBrowser* pageBrowser() const { return m_page; }
    PdfPane* pdfPane() const { return m_pdf; }
    QLabel* blankFace() const { return m_blank; }
    // The open/save panel under the page area, for the file clicked last, and its status.
    QWidget* filePanel() const { return m_panel; }
    QLabel* pageStatus() const { return m_status; }
    QPushButton* openButton() const { return m_openButton; }
    QPushButton* saveButton() const { return m_saveButton; }

    // The folder the folder and file lists show.
    QString folder() const { return m_folder; }
    // Moves the folder and file lists to `path` (as a folder change of the user's).
    void setFolder(const QString& path);
    // The caption's top, in twips.
    int captionTop() const { return m_captionTop; }
    // The press counter of "説明".
    quint16 explanationPresses() const { return m_presses; }

    static QString explanation();
    static QString openQuestion(const QString& fileName);

private:
    void buildControls();
    void fillDrives();
    void fillFolders();
    void fillFiles();
    void refreshCount();
    void driveChanged(int index);
    void folderActivated(QListWidgetItem* item);
    void fileClicked(QListWidgetItem* item);
    void pressExplanation();
    void tickCaption();
    void goBack();
    void showPreview(const QPixmap& picture);
    void showPage(const QString& full);
    void showPanel(const QString& full);
    void noteBoundReached();
    void openFile();
    void saveFile();

    QComboBox* m_drive1 = nullptr;
    QListWidget* m_dir1 = nullptr;
    QListWidget* m_file1 = nullptr;
    QLineEdit* m_text1 = nullptr;
    QLineEdit* m_text2 = nullptr;
    QPlainTextEdit* m_text3 = nullptr;
    QLabel* m_image1 = nullptr;
    QLabel* m_label2 = nullptr;
    QTimer* m_timer1 = nullptr;
    QPushButton* m_command1 = nullptr;
    QPushButton* m_command7 = nullptr;
    QStackedWidget* m_webBrowser1 = nullptr;
    PageBrowser* m_page = nullptr;
    PdfPane* m_pdf = nullptr;
    QLabel* m_blank = nullptr;
    QWidget* m_panel = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_panelName = nullptr;
    QPushButton* m_openButton = nullptr;
    QPushButton* m_saveButton = nullptr;

    QString m_folder;
    QString m_current; // the file the panel opens or saves
    QPixmap m_picture; // the last picture shown, at its own size
    int m_captionTop = 0;
    quint16 m_presses = 0;
};

} // namespace kiku
