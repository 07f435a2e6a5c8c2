#pragma once

#include "base/mainboard.h"
#include "base/pictures.h"
#include "maillib/nmail.h"

#include <QHash>
#include <QKeySequence>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QDateTime;
class QLabel;
class QLineEdit;
class QTimer;

namespace kiku {

struct HeartTimer;

// The author's home page, opened by the "HP" label in the user's browser: a small page that
// ships in the program folder's Data folder (what the program is, its version, where its
// data lives, how to reach the project).
inline const QString kAuthorHomePage = QStringLiteral("\\Data\\KikuMail.html");

// The main window: a fixed picture board whose commands are transparent caption labels laid
// over pictures, the two partner counters, the red status line, the clock and the heart
// pictures. Creating it is the program's start (counters, server settings, mail library,
// the server and account windows when something is missing); closing it ends the program.
class MainForm : public QWidget, public MainBoard {
    Q_OBJECT
public:
    explicit MainForm(QWidget* parent = nullptr);
    ~MainForm() override;

    // MainBoard: what the windows below the core see of this one.
    QPoint boardPosition() const override;
    QString clockBoxText() const override;
    QString receivedCountText() const override;
    void setReceivedCountText(const QString& text) override;
    QString sentCountText() const override;
    void setSentCountText(const QString& text) override;
    QWidget* boardWindow() override { return this; }

    // The program's mail library, initialised at start and released when the window closes.
    NMail& mailLibrary() { return m_mail; }

    // The working copies of the partner counters (Text1 received, Text2 sent).
    QLineEdit* receivedCountBox() const { return m_text1; }
    QLineEdit* sentCountBox() const { return m_text2; }
    // Text3: the red status line shared by the hover hints and the receive result.
    QLineEdit* statusLine() const { return m_text3; }
    // Text4: the date and time, below the board. Text5: the receive cycle's hidden work box.
    QLineEdit* clockBox() const { return m_text4; }
    QLineEdit* workBox() const { return m_text5; }
    // A label or picture of the board by its name ("Label3", "Image4", "Picture1", ...).
    QLabel* boardControl(const QString& name) const;

    QTimer* clockTimer() const { return m_timer1; }
    QTimer* receivedHeartTimer() const { return m_timer2; }
    QTimer* sentHeartTimer() const { return m_timer3; }

    // The clock's text for a moment: date and time in the system's formats.
    static QString clockText(const QDateTime& moment);

    // The status line's two colours: blue for the others in-box and storage hints, red
    // otherwise.
    static QColor statusBlue();
    static QColor statusRed();

    // Takes in the mail of each path (an mbox file, a Maildir, a folder of .eml files or an
    // .eml file) as received mail, with a progress window; what a drop onto the window does.
    void importMail(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // One hover or command target of the board.
    struct Target {
        QString hint;
        bool blueHint = false;
        std::function<void()> command; // empty: hover only
    };

    void buildBoard();
    void buildButtons();
    void buildBoxes();
    void startUp();
    QLabel* addPicture(const char* name, const QString& file, QRect rect);
    QLabel* addCaption(const char* name, const QString& caption, QRect rect);
    void addTarget(QWidget* widget, const QString& hint, bool blueHint = false,
                   std::function<void()> command = {});
    void addFlashingButton(const char* label, const QString& caption, QRect rect,
                           const QString& hint, const char* picture, const QString& restingFile,
                           void (MainForm::*command)(), const QKeySequence& shortcut);
    // Focus, Enter/Space, the shortcut and the accessible texts for a command label; its
    // hover text gains the shortcut.
    void addKeys(QLabel* label, const QKeySequence& shortcut);
    // The command of a label, as a click runs it.
    void runCommand(QObject* label);
    void setKeyboardOrder();

    void showHint(const Target& target);
    void hideHint();
    void setStatusColour(const QColor& colour);

    // Timer handlers.
    void tickClock();
    void tickReceivedHeart();
    void tickSentHeart();

    // Commands of the board.
    void receiveMail();
    // The receive result in the status line for six seconds.
    void showReceiveResult(bool newMail);
    void composeMail();
    void showOthersSentBox();
    void showOthersInBox();
    void showPartnerInBox();
    void showPartnerSentBox();
    void showStorageBox();
    void showAddressBook();
    void showAttachments();
    void showPartnerSettings();
    void showSettings();
    void showHelp();
    void minimise();
    void openHomePage();

    NMail m_mail;
    QHash<QString, QLabel*> m_board;
    QHash<QObject*, Target> m_targets;
    QLabel* m_picture1 = nullptr;
    QLineEdit* m_text1 = nullptr;
    QLineEdit* m_text2 = nullptr;
    QLineEdit* m_text3 = nullptr;
    QLineEdit* m_text4 = nullptr;
    QLineEdit* m_text5 = nullptr;
    QTimer* m_timer1 = nullptr;
    QTimer* m_timer2 = nullptr;
    QTimer* m_timer3 = nullptr;
    // The two heart ticks; shared so a running tick outlives the window (heartboard.h).
    std::shared_ptr<HeartTimer> m_receivedHeart;
    std::shared_ptr<HeartTimer> m_sentHeart;
    // The dialogs start-up opened; brought above the board once it is on screen.
    QList<QPointer<QWidget>> m_startUpDialogs;
    bool m_shownOnce = false;
    // One double-click on a label is one click.
    ClickTracker m_clicks;
    // A receive runs until its status has been shown; another press of "R" meanwhile is
    // ignored rather than started inside it.
    bool m_receiving = false;
};

} // namespace kiku
