#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kiku {

class AttachControls;
class SendLibrary;

// Widths, lefts and the body height of the reply window for an outer size of W × H twips.
struct BackLayout {
    double bodyWidth;    // W × 0.99
    double bodyHeight;   // H × 0.68
    double toWidth;      // W × 0.7
    double subjectWidth; // W × 0.7
    double attachWidth;  // W × 0.4
    double attachLeft;   // "添付": attachment list width + 1240
    double furtherLeft;  // "追加": attachment list width + 2060
    double discardLeft;  // "取り消し": attachment list width + 2940
};
BackLayout computeBackLayout(double width, double height);

// The seven characters "本文に貼付" puts between the clipboard's text and the replied-to
// body: three line breaks and a lone CR.
inline const QString kReplyPasteSeparator = QStringLiteral("\r\n\r\n\r\n\r");

// What "本文に貼付" builds: the clipboard's text (taken up to its first zero character and
// bounded in length, since anything may be on the clipboard), the separator, then the
// replied-to body with its spaces trimmed. The whole ends at its first zero character, as
// a text box would take it.
QString replyPasteText(const QString& clipboard, const QString& repliedBody);

// The reply window "返信": recipient, subject, attachments and body, filled by the viewer's
// reply. "送信" hands the message to the mail library and closes the window once the server
// took it; after a failure the window stays open with everything in it, since a reply is
// kept nowhere else. "送信中止" closes it; "本文に貼付" builds the body from the clipboard and
// the replied-to message. A reply is neither stored in a box nor counted for the hearts.
class BackForm : public QWidget {
    Q_OBJECT
public:
    explicit BackForm(QWidget* parent = nullptr);
    ~BackForm() override;

    // The designed outer size in twips; only the proportions of computeBackLayout are fixed.
    static constexpr int kDesignedWidth = 8400;
    static constexpr int kDesignedHeight = 7200;

    // What the viewer's reply hands over: "Re:  subject", the sender, the reading pane's
    // text and the Body of the message it last loaded (the replied-to message). The
    // attachment controls start again in their first state. When the window is open with a
    // reply the user has changed or given files, they are asked first; false when they keep
    // it (or while a send is running, whose fields must stay as they are).
    bool setReply(const QString& subject, const QString& recipient, const QString& body,
                  const QString& repliedBody);
    // Whether the window holds something the user would lose: text changed since it was
    // handed over, or files to attach.
    bool holdsUnsentWork() const;
    const QString& repliedBody() const { return m_repliedBody; }

    QLineEdit* toText() const { return m_toText; }
    QLineEdit* subjectText() const { return m_subjectText; }
    QPlainTextEdit* bodyText() const { return m_bodyText; }
    AttachControls* attachments() const { return m_attach; }
    QPushButton* sendButton() const { return m_command2; }
    QPushButton* stopButton() const { return m_command3; }
    QPushButton* pasteButton() const { return m_command4; }
    QLineEdit* statusLine() const { return m_statusLine; }

    // The body with CR LF line breaks, as it is sent.
    QString bodyWithCrLf() const;
    void setBodyFromCrLf(const QString& text);

    bool isSending() const { return m_sending; }

    // "送信" through the program's own mail library.
    void send();
    // "送信" through the given library (the program's, or a test's wrapper around it).
    void sendThrough(SendLibrary& library);
    // "送信中止".
    void stop();
    // "本文に貼付".
    void pasteBody();

    // Arranges the controls for the present size.
    void applyLayout();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Recipient, subject and body as they stand.
    QStringList currentFields() const;
    // The status line, painted at once: the send blocks the window without running the
    // event loop.
    void paintStatus(const QString& text);

    QPushButton* m_command2 = nullptr;
    QPushButton* m_command3 = nullptr;
    QPushButton* m_command4 = nullptr;
    QLineEdit* m_statusLine = nullptr;
    QLineEdit* m_toText = nullptr;
    QLineEdit* m_subjectText = nullptr;
    AttachControls* m_attach = nullptr;
    QPlainTextEdit* m_bodyText = nullptr;
    QString m_repliedBody;
    // The recipient, subject and body as the viewer handed them over.
    QStringList m_handedOver;
    bool m_sending = false;   // a send is running: presses and closes wait for its end
    bool m_finishing = false; // the send's own close at its end
};

} // namespace kiku
