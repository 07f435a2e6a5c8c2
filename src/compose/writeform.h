#pragma once

#include "base/pictures.h"
#include "store/addressfile.h"

#include <QHash>
#include <QList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QRadioButton;
class QUrl;

namespace kiku {

class AttachControls;

// The compose window "新規作成": recipient, subject, greeting templates, body, attachments,
// the fortune option, seven picture buttons and, in the widened window, the address panel
// with the names of the address book and the bulk option. The send button runs the send
// operation, which closes the window at its end.
class WriteForm : public QWidget {
    Q_OBJECT
public:
    explicit WriteForm(QWidget* parent = nullptr);
    ~WriteForm() override;

    // Window widths in twips: compact, and widened with the address panel.
    static constexpr int kCompactWidth = 7100;
    static constexpr int kWideWidth = 9700;
    static constexpr int kHeight = 8200;

    static const QStringList& greetings();

    // --- What the send operation reads and writes.
    QLineEdit* toText() const { return m_toText; }
    QLineEdit* subjectText() const { return m_subjectText; }
    QComboBox* greetingBox() const { return m_combo1; }
    QPlainTextEdit* bodyText() const { return m_bodyText; }
    AttachControls* attachments() const { return m_attach; }
    QCheckBox* fortuneBox() const { return m_check1; }
    QRadioButton* bulkOption() const { return m_option2; }
    QRadioButton* bulkReset() const { return m_option1; }
    QListWidget* nameList() const { return m_list1; }
    QLineEdit* nameCount() const { return m_text1; }
    QLineEdit* statusLine() const { return m_label7; }
    QLineEdit* helpBox() const { return m_text14; }
    // RecordNumbers with what each line showed: the address-book record behind each line of
    // the name list, as it was read when the list was filled.
    const QList<AddressEntry>& nameEntries() const { return m_nameEntries; }
    QList<int> recordNumbers() const;
    // The address book changed under the name list: filled again from the book.
    void refillNameList();
    // A picture button's caption label ("Label8" send … "Label13" clear) or picture.
    QLabel* control(const QString& name) const;

    // The body box's text with CR LF line breaks, as it is stored and sent.
    QString bodyWithCrLf() const;
    void setBodyFromCrLf(const QString& text);
    // Empties recipient, subject, body and attachment list, clears the options and closes.
    void finishSend();

    // Files dropped onto the window: each local file is attached as if chosen in the
    // dialog. True when at least one was added.
    bool attachDropped(const QList<QUrl>& urls);

    // The status line, painted at once without running the event loop.
    void paintStatus(const QString& text);

    // --- The buttons' actions (after their press animation).
    void send();
    void stop();
    void showAddressPanel();
    void restoreSize();
    void pasteIntoBody();
    void pasteIntoRecipient();
    void clearMessage();
    void resetBulk();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct PictureButton {
        QLabel* picture = nullptr;
        QLabel* caption = nullptr;
        QString restingFile;
        QString pressedFile;
        void (WriteForm::*action)() = nullptr;
    };

    void buildFields();
    void buildButtons();
    void buildAddressPanel();
    void addPictureButton(const char* pictureName, const char* captionName, const QString& caption,
                          const QRect& twips, const char* resting, const char* pressed,
                          void (WriteForm::*action)(), const QString& hint);
    void addHint(QObject* target, const QString& hint);
    void showHint(const QString& hint);
    // Presses the button whose caption was clicked; false when `watched` is none.
    bool clickPictureButton(QObject* watched);
    bool isPictureCaption(const QObject* watched) const;

    void fillNameList(AddressFile file);
    void pickName(const QPoint& at);
    void applyGreeting();
    void setWidthTwips(int width);
    void centreOnScreen();
    void setNameListWhite();
    void deselectBulk();

    QLineEdit* m_toText = nullptr;
    QLineEdit* m_subjectText = nullptr;
    QComboBox* m_combo1 = nullptr;
    QPlainTextEdit* m_bodyText = nullptr;
    AttachControls* m_attach = nullptr;
    QCheckBox* m_check1 = nullptr;
    QLineEdit* m_label7 = nullptr;
    QLineEdit* m_text14 = nullptr;
    QListWidget* m_list1 = nullptr;
    QLineEdit* m_text1 = nullptr;
    QRadioButton* m_option1 = nullptr;
    QRadioButton* m_option2 = nullptr;
    QList<PictureButton> m_buttons;
    QHash<QObject*, QString> m_hints;
    QList<AddressEntry> m_nameEntries;
    ClickTracker m_clicks;    // one double-click on a caption is one click
    bool m_sending = false;   // a send is running: presses and closes wait for its end
    bool m_finishing = false; // the send's own close at its end
};

} // namespace kiku
