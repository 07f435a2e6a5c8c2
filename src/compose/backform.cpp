#include "compose/backform.h"

#include "base/forms.h"
#include "base/prompter.h"
#include "base/text.h"
#include "base/twips.h"
#include "compose/attachcontrols.h"
#include "compose/sendoperation.h"
#include "maillib/nmail.h"
#include "settings/idpassform.h"
#include "settings/serversettings.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

namespace kiku {

namespace {

// Designed rows, in twips.
constexpr double kButtonTop = 120;
constexpr double kButtonWidth = 1215;
constexpr double kButtonHeight = 375;
constexpr double kStatusLeft = 4320;
constexpr double kFieldLeft = 1200;
constexpr double kRowHeight = 300;
constexpr double kToTop = 600;
constexpr double kSubjectTop = 960;
constexpr double kAttachTop = 1320;
constexpr double kOpeningAttachWidth = 2800;
constexpr double kBodyLeft = 30;
constexpr double kBodyTop = 1680;

// A clipboard can hold anything: the body takes at most this much of it.
constexpr qsizetype kMaxClipboardPaste = 4 * 1024 * 1024;

// The library's failure text buffer.
constexpr int kMessageBufferSize = 8192;

const QString kReplaceQuestion =
    QStringLiteral("返信ウィンドウに送信していない返事があります。新しい返事に置き換えますか？");
const QString kKeptAfterFailure =
    QStringLiteral("送信できませんでした。返事はそのまま残しています。");

double pixelsToTwips(int pixels) {
    return double(pixels) * kTwipsPerPixel;
}

} // namespace

BackLayout computeBackLayout(double width, double height) {
    BackLayout l;
    l.bodyWidth = width * 0.99;
    l.bodyHeight = height * 0.68;
    l.toWidth = width * 0.7;
    l.subjectWidth = width * 0.7;
    l.attachWidth = width * 0.4;
    l.attachLeft = l.attachWidth + 1240;
    l.furtherLeft = l.attachWidth + 2060;
    l.discardLeft = l.attachWidth + 2940;
    return l;
}

QString replyPasteText(const QString& clipboard, const QString& repliedBody) {
    const QString clip = cutAtZero(clipboard).left(kMaxClipboardPaste);
    return cutAtZero(clip + kReplyPasteSeparator + trimSpaces(repliedBody));
}

BackForm::BackForm(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("BackForm"));
    setWindowTitle(QStringLiteral("返信"));

    const auto button = [this](const char* name, const QString& caption, double left) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        b->setGeometry(twipsRect(left, kButtonTop, kButtonWidth, kButtonHeight));
        return b;
    };
    m_command2 = button("Command2", QStringLiteral("送信"), 120);
    m_command3 = button("Command3", QStringLiteral("送信中止"), 1560);
    m_command4 = button("Command4", QStringLiteral("本文に貼付"), 3000);
    connect(m_command2, &QPushButton::clicked, this, qOverload<>(&BackForm::send));
    connect(m_command3, &QPushButton::clicked, this, &BackForm::stop);
    connect(m_command4, &QPushButton::clicked, this, &BackForm::pasteBody);

    // The send's sign of life, beside the buttons.
    m_statusLine = new QLineEdit(this);
    m_statusLine->setObjectName(QStringLiteral("StatusLine"));
    m_statusLine->setReadOnly(true);
    m_statusLine->setFocusPolicy(Qt::NoFocus);
    m_statusLine->setFrame(false);

    const auto label = [this](const QString& text, double top) {
        auto* l = new QLabel(text, this);
        l->setGeometry(twipsRect(120, top, kFieldLeft - 180, kRowHeight));
        return l;
    };
    const auto line = [this](const char* name) {
        auto* box = new QLineEdit(this);
        box->setObjectName(QLatin1String(name));
        return box;
    };
    label(QStringLiteral("宛先"), kToTop)->setBuddy(m_toText = line("ToText"));
    label(QStringLiteral("題名"), kSubjectTop)->setBuddy(m_subjectText = line("SubjectText"));
    label(QStringLiteral("添付File"), kAttachTop);
    m_attach = new AttachControls(this, AttachControls::Window::Reply);

    m_bodyText = new QPlainTextEdit(this);
    m_bodyText->setObjectName(QStringLiteral("BodyText"));
    // The list box opens over the top of the body.
    m_attach->list()->raise();

    // Opening: the attachment list text at its opening width, the list box hidden; the
    // first arrangement comes with the first resize, when the window is shown.
    m_attach->attachText()->setGeometry(
        twipsRect(kFieldLeft, kAttachTop, kOpeningAttachWidth, kRowHeight));
    m_attach->list()->hide();
    m_handedOver = currentFields();
    resize(twipsToPixels(kDesignedWidth), twipsToPixels(kDesignedHeight));
}

BackForm::~BackForm() = default;

bool BackForm::setReply(const QString& subject, const QString& recipient, const QString& body,
                        const QString& repliedBody) {
    if (m_sending)
        return false;
    if (isVisible() && holdsUnsentWork()) {
        const QPointer<BackForm> self(this);
        const bool replace = Prompter::current().askYesNo(kReplaceQuestion);
        if (!self || !replace || m_sending)
            return false;
    }
    m_attach->reset();
    m_attach->list()->hide();
    m_subjectText->setText(subject);
    m_subjectText->setCursorPosition(0);
    m_toText->setText(recipient);
    m_toText->setCursorPosition(0);
    setBodyFromCrLf(body);
    m_repliedBody = repliedBody;
    m_handedOver = currentFields();
    m_statusLine->clear();
    return true;
}

QStringList BackForm::currentFields() const {
    return {m_toText->text(), m_subjectText->text(), m_bodyText->toPlainText()};
}

bool BackForm::holdsUnsentWork() const {
    return !m_attach->text().isEmpty() || currentFields() != m_handedOver;
}

QString BackForm::bodyWithCrLf() const {
    // The box shows a lone CR as a line break too; it goes out as CR LF like every other
    // break, since mail text has no bare CR.
    return m_bodyText->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

void BackForm::setBodyFromCrLf(const QString& text) {
    m_bodyText->setPlainText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

// ---------------------------------------------------------------------------------------
// Arrangement

void BackForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    applyLayout();
}

void BackForm::applyLayout() {
    const double width = pixelsToTwips(frameGeometry().width());
    const double height = pixelsToTwips(frameGeometry().height());
    const BackLayout l = computeBackLayout(width, height);

    m_bodyText->setGeometry(twipsRect(kBodyLeft, kBodyTop, l.bodyWidth, l.bodyHeight));
    m_toText->setGeometry(twipsRect(kFieldLeft, kToTop, l.toWidth, kRowHeight));
    m_subjectText->setGeometry(twipsRect(kFieldLeft, kSubjectTop, l.subjectWidth, kRowHeight));
    m_attach->attachText()->setGeometry(
        twipsRect(kFieldLeft, kAttachTop, l.attachWidth, kRowHeight));
    m_attach->firstButton()->setGeometry(twipsRect(l.attachLeft, kAttachTop, 780, kRowHeight));
    m_attach->furtherButton()->setGeometry(twipsRect(l.furtherLeft, kAttachTop, 840, kRowHeight));
    m_attach->discardButton()->setGeometry(twipsRect(l.discardLeft, kAttachTop, 1000, kRowHeight));
    m_statusLine->setGeometry(twipsRect(
        kStatusLeft, kButtonTop, qMax(0.0, l.bodyWidth + kBodyLeft - kStatusLeft), kButtonHeight));
}

// ---------------------------------------------------------------------------------------
// Buttons

void BackForm::stop() {
    close();
}

void BackForm::pasteBody() {
    if (m_sending)
        return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QString text = replyPasteText(clipboard->text(), m_repliedBody);
    clipboard->clear();
    clipboard->setText(text);
    // What went onto the clipboard, trimmed; not read back, since another program may own
    // the clipboard by now.
    setBodyFromCrLf(trimSpaces(text));
}

void BackForm::send() {
    if (m_sending)
        return;
    // A library of the send's own: nothing a failure box lets happen meanwhile can take it
    // away under the running send.
    NMail mail;
    NMailSendLibrary library(mail);
    sendThrough(library);
}

void BackForm::sendThrough(SendLibrary& library) {
    if (m_sending)
        return;
    m_sending = true;
    paintStatus(SendOperation::sendingText());

    // SMTP AUTH, when the server asks for it, uses the POP3 account of the account window.
    const IdPassForm* account = Forms::touch<IdPassForm>();
    library.setSmtpCredentials(account->userId(), account->password());
    const ServerSettings& settings = ServerSettings::current();
    const qint16 result = qint16(library.NMailSmtpSendMail(
        settings.smtpServer, m_toText->text(), QString(), QString(), settings.senderAddress,
        m_subjectText->text(), bodyWithCrLf(), QString(), m_attach->text(), 0));

    QPointer<BackForm> self(this);
    if (result < 0) {
        paintStatus(kKeptAfterFailure);
        QString text;
        int size = kMessageBufferSize;
        library.NMailGetMessage(0, text, size);
        Prompter::current().notify(cutAtZero(text), QStringLiteral("送信エラー"));
        // Nothing else keeps a reply: the window stays open with all of it, to send again.
        if (self)
            m_sending = false;
        return;
    }
    paintStatus(SendOperation::finishedText());
    m_sending = false;
    m_finishing = true;
    close();
}

void BackForm::paintStatus(const QString& text) {
    m_statusLine->setText(text);
    m_statusLine->repaint();
}

void BackForm::closeEvent(QCloseEvent* event) {
    // The send reads this window's fields and closes it itself at its end.
    if (m_sending && !m_finishing) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace kiku
