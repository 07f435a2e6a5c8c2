#pragma once

#include "base/pictures.h"
#include "store/mailbox.h"
#include "store/mailrecord.h"
#include "viewer/viewerlayout.h"

#include <QHash>
#include <QMainWindow>

#include <array>
#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;
class QTreeWidget;

namespace kiku {

class TextEditor;

// The viewer window, mail side: the list of the box on show, the subject, address and date
// boxes, the reading pane rtfEd, the count box, the hint box, the copy staging box and the
// buttons of the message operations. Its three boxes and the reading pane are also the
// staging place where the receive cycle puts a message before storing it.
//
// The window is laid out in twips like the rest of the program. The top of the client area
// is left to the text editor (toolbarSlot() for tbToolBar and the find box; menuBar() for
// its menus).
class TyakuForm : public QMainWindow {
    Q_OBJECT
public:
    // The caption the move-to-storage button carries wherever moving is offered.
    static const QString kMoveCaption;
    // The reply button's caption where replying is offered.
    static const QString kReplyCaption;
    // The find box's hint, for the editor side to register with addHintTarget().
    static const QString kFindBoxHint;

    explicit TyakuForm(QWidget* parent = nullptr);
    ~TyakuForm() override;

    // --- Window state shared with the box views, the receive cycle and the operations.

    // The 16-bit code of the box on show (1 … 5); 0 before any box was opened.
    qint16 currentBoxCode() const { return m_currentBoxCode; }
    void setCurrentBoxCode(qint16 code) { m_currentBoxCode = code; }
    // The box the current code names, if any.
    std::optional<Box> currentBox() const { return boxFromCode(m_currentBoxCode); }

    // Set when a click on the list has shown a message; the operations clear it.
    bool messageSelected() const { return m_messageSelected; }
    void setMessageSelected(bool selected) { m_messageSelected = selected; }

    // The selected line's 1-based position, which is the record number of its message;
    // 0 when no line is selected.
    int selectedLine() const;

    // The record most recently read from or written to a box through this window.
    const MailRecord& recordBuffer(Box box) const;
    void setRecordBuffer(Box box, const MailRecord& record);

    // --- Staging: what the receive cycle and the operations read and write. The body's
    // line breaks are CR LF on both sides; the pane shows each as one line break.

    QString subjectText() const;
    QString addressText() const;
    QString dateText() const;
    QString bodyText() const;
    void setSubjectText(const QString& text);
    void setAddressText(const QString& text);
    void setDateText(const QString& text);
    void setBodyText(const QString& text);
    // Empties the three boxes and the reading pane.
    void clearStaging();
    // A message the receive run is about to store: in the boxes and the pane, which then no
    // longer show a line of the list.
    void stageMail(const QString& subject, const QString& from, const QString& date,
                   const QString& body);

    // Number of lines in the list, and the count box that shows it.
    int listLineCount() const;
    QString countText() const;
    void setCountText(const QString& text);

    // --- The list.

    // Lists every message of the box (line k = record k) and shows the last one in the
    // boxes and the reading pane, its body also put on the clipboard; the count box gets
    // the number of lines. An empty box leaves everything empty and the clipboard as it
    // was. A box that cannot be read is reported and listed as empty. False on failure.
    bool fillList(Box box);

    // The list click: shows the selected line's message of the current box. Any other move
    // of the selected line (keys, a letter typed, a press dragged off the list) shows its
    // message the same way.
    void showMessage();

    // After a receive run, which stages its mail in the boxes and the pane and may append to
    // the box on show: a box that grew is listed again; otherwise the message that was on
    // show before the run is shown again, so the boxes agree with the list.
    void resyncWithBox();
    // Whether the boxes and the pane hold the record at the selected line of the box on show
    // (and not a receive run's staging or another line's message).
    bool stagingShowsSelection() const;

    // --- Hints.

    void setHint(const QString& text);
    void hideHint();
    // Moving the pointer over `control` shows `hint` (the editor's find box uses this).
    void addHintTarget(QWidget* control, const QString& hint);

    // --- The box-specific buttons, set by the box views.

    QLabel* moveCaptionLabel() const { return m_move.caption; }
    QLabel* movePicture() const { return m_move.picture; }
    QLabel* replyCaptionLabel() const { return m_reply.caption; }

    // --- Controls, for the other parts of the window and for tests.

    QTreeWidget* mailList() const { return m_mailList; }
    QLineEdit* subjectBox() const { return m_subjectBox; }
    QLineEdit* addressBox() const { return m_addressBox; }
    QLineEdit* dateBox() const { return m_dateBox; }
    QTextEdit* readingPane() const { return m_rtfEd; }
    QLineEdit* countBox() const { return m_countBox; }
    QPlainTextEdit* hintBox() const { return m_hintBox; }
    QLineEdit* copyStagingBox() const { return m_copyStagingBox; }
    QPushButton* copyButton() const { return m_copyButton; }
    QPushButton* quickSaveButton() const { return m_quickSaveButton; }
    QWidget* toolbarSlot() const { return m_toolbarSlot; }
    // The plain-text editor on the reading pane: menus, toolbar and find box.
    TextEditor* editor() const { return m_editor; }
    QWidget* pictureStrip() const { return m_pictureStrip; }

    // The list's context menu: "全文を表示" and ".eml で保存" for the selected line.
    QAction* showWholeAction() const { return m_showWholeAction; }
    QAction* saveEmlAction() const { return m_saveEmlAction; }

    // The press animation of a picture button: Botan15.gif for 100 ms, then its own picture.
    void pressAnimation(QLabel* picture);

    // Arranges the window for its present size (what a resize or a move over the
    // background does).
    void applyLayout(LayoutTrigger trigger);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A picture with its caption label over the right part of it; the left part, with the
    // icon, is the picture area.
    struct PictureButton {
        QLabel* picture = nullptr;
        QLabel* caption = nullptr;
        QString restingFile;
        void (TyakuForm::*operation)() = nullptr;
        // Delete one, register and reply act only from their caption; a click on their
        // picture runs just the press animation.
        bool pictureActs = false;
    };

    void buildList();
    void buildStagingBoxes();
    void buildPictureButtons();
    void buildStatusControls();
    PictureButton makePictureButton(const char* name, const QString& restingFile,
                                    const QString& caption, int index,
                                    void (TyakuForm::*operation)(), bool pictureActs);
    // Puts record `line` of the box on show into the boxes and the pane.
    void showRecord(const MailRecord& record, int line);
    void putFields(const MailRecord& record);
    // Reads record `number` of the box on show and shows it; false (and said) on failure.
    bool showLine(int number);
    void selectionMoved();
    bool clickPictureButton(QObject* watched);
    ClickTracker m_clicks; // one double-click on a picture button is one click
    void backgroundMoved(QObject* watched, QEvent* event);

    // The message operations, entered after the press animation of their picture (copy
    // and quick save have none). Each that changes a box rebuilds the list afterwards; a
    // store failure is reported and leaves the box and the list as they were.
    void deleteOne();
    void deleteAll();
    void moveToStorage();
    void reply();
    void registerSender();
    void copyField();
    void quickSave();
    // The whole message of the selected line (its original, or one built from its record),
    // in a read-only window with every header; or saved as an .eml file.
    void showWholeMessage();
    void saveAsEml();
    // The whole message of the selected line; nothing (and said) when it cannot be had.
    std::optional<QByteArray> selectedWholeMessage();
    // The operation's own steps after the press animation.
    void runQuickSave();
    // Whether a message is selected in the list of a box; otherwise says so and false.
    bool requireSelection();
    // At the moment an operation acts: the message on show is the record at the selected
    // line as the box holds it now. Otherwise the selected line's message is shown, the user
    // is told to look again, and false.
    bool confirmShownIsSelected();
    // After a failed store operation: the message that was on display shown again.
    void showAgain(Box box);

    QWidget* m_client = nullptr;
    QWidget* m_toolbarSlot = nullptr;
    QWidget* m_pictureStrip = nullptr;
    QTreeWidget* m_mailList = nullptr;
    QLineEdit* m_subjectBox = nullptr;
    QLineEdit* m_addressBox = nullptr;
    QLineEdit* m_dateBox = nullptr;
    QTextEdit* m_rtfEd = nullptr;
    QLineEdit* m_countBox = nullptr;
    QPlainTextEdit* m_hintBox = nullptr;
    QLineEdit* m_copyStagingBox = nullptr;
    QPushButton* m_copyButton = nullptr;
    QPushButton* m_quickSaveButton = nullptr;
    TextEditor* m_editor = nullptr;
    QAction* m_showWholeAction = nullptr;
    QAction* m_saveEmlAction = nullptr;

    PictureButton m_deleteOne;
    PictureButton m_register;
    PictureButton m_reply;
    PictureButton m_deleteAll;
    PictureButton m_move;

    QHash<QObject*, QString> m_hints;
    // Kept in twips so that repeated arrangements do not drift by pixel rounding.
    double m_paneLeftTwips = 20;
    double m_copyButtonLeftTwips = 1880; // designed on the status bar, 1880 from its left
    qint16 m_currentBoxCode = 0;
    bool m_messageSelected = false;
    // Which record the boxes and the pane were last filled from; `staged` is false once
    // anything else was put there (a receive run's staging, a quick save's text).
    struct ShownRecord {
        std::optional<Box> box;
        int line = 0;
        MailRecord record;
        bool staged = false;
    };
    ShownRecord m_shown;
    bool m_filling = false; // the list is being rebuilt: its selection signals mean nothing
    bool m_pressMovedSelection = false; // the press now on the list showed its line
    // An operation is running (its press animation or question lets events through): a
    // second press waits for its end.
    bool m_operating = false;
    std::array<MailRecord, 5> m_buffers; // by current-box code − 1
};

} // namespace kiku
