#include "compose/writeform.h"

#include "base/keyboardbutton.h"
#include "base/pictures.h"
#include "base/prompter.h"
#include "base/text.h"
#include "base/twips.h"
#include "compose/attachcontrols.h"
#include "compose/sendhost.h"
#include "compose/sendoperation.h"
#include "maillib/nmail.h"
#include "settings/serversettings.h"
#include "store/addressfile.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>

namespace kiku {

namespace {

// Left edge of the address panel: outside the compact window, inside the widened one.
constexpr int kPanelLeft = 7080;
constexpr int kFieldLeft = 1200;
constexpr int kFieldWidth = 5535;
constexpr int kRowHeight = 300;

// A clipboard can hold anything: the body takes at most this much of it, the recipient
// only its first line of at most this many characters.
constexpr qsizetype kMaxBodyPaste = 4 * 1024 * 1024;
constexpr qsizetype kMaxRecipientPaste = 1000;

const QString kNameListChanged = QStringLiteral(
    "アドレス帳が変更されていたため、名前の一覧を読み直しました。もう一度選んで下さい。");

QString fromCrLf(const QString& text) {
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return plain;
}

} // namespace

const QStringList& WriteForm::greetings() {
    static const QStringList list{
        QStringLiteral("御社益々ご清祥の事とお慶び申し上げます。"),
        QStringLiteral("平素のご愛顧誠にありがとうございます。"),
        QStringLiteral("平素は格別のご愛顧を賜り深謝申し上げます。"),
        QStringLiteral("いつもお世話になっております。"),
        QStringLiteral("メールありがとうございました。確かに受け取りました。"),
        QStringLiteral("はじめまして、突然のメールで恐縮です。"),
        QStringLiteral("こんにちわ。はじめてメールいたします。"),
        QStringLiteral("こんにちわ。お変わりなく、お元気ですか？"),
    };
    return list;
}

WriteForm::WriteForm(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("WriteForm"));
    setWindowTitle(QStringLiteral("新規作成"));
    setAcceptDrops(true);
    setWidthTwips(kCompactWidth);

    buildFields();
    buildButtons();
    buildAddressPanel();

    // Opening: compact, no option chosen, the greetings, and the names of VBMASTER.INI
    // (created empty when it is missing; nothing else writes it).
    deselectBulk();
    m_check1->setChecked(false);
    m_combo1->addItems(greetings());
    m_combo1->setCurrentIndex(-1);
    m_combo1->setEditText(QString());
    if (const StoreResult created = CreateAddressFile(AddressFile::Master); !created)
        Prompter::current().notify(created.error);
    fillNameList(AddressFile::Master);
}

WriteForm::~WriteForm() = default;

// ---------------------------------------------------------------------------------------
// Building the window

void WriteForm::buildFields() {
    const auto caption = [this](const QString& text, int top) {
        auto* label = new QLabel(text, this);
        label->setGeometry(twipsRect(120, top, 1000, kRowHeight));
        return label;
    };
    const auto line = [this](const char* name, int top) {
        auto* box = new QLineEdit(this);
        box->setObjectName(QLatin1String(name));
        box->setGeometry(twipsRect(kFieldLeft, top, kFieldWidth, kRowHeight));
        return box;
    };

    caption(QStringLiteral("宛先"), 1200)->setBuddy(m_toText = line("ToText", 1200));
    caption(QStringLiteral("件名"), 1560)->setBuddy(m_subjectText = line("SubjectText", 1560));

    m_combo1 = new QComboBox(this);
    m_combo1->setObjectName(QStringLiteral("Combo1"));
    m_combo1->setEditable(true);
    m_combo1->setInsertPolicy(QComboBox::NoInsert);
    m_combo1->setGeometry(twipsRect(kFieldLeft, 1920, kFieldWidth, kRowHeight));
    m_combo1->installEventFilter(this);
    caption(QStringLiteral("首記例"), 1920)->setBuddy(m_combo1);

    // The attachment row: the buttons on the left, the list text where the list box opens.
    m_attach = new AttachControls(this, AttachControls::Window::Compose);
    m_attach->firstButton()->setGeometry(twipsRect(120, 2280, 1000, kRowHeight));
    m_attach->furtherButton()->setGeometry(twipsRect(1140, 2280, 600, kRowHeight));
    m_attach->discardButton()->setGeometry(twipsRect(1760, 2280, 960, kRowHeight));
    m_attach->attachText()->setGeometry(twipsRect(2760, 2280, 3975, kRowHeight));
    addHint(m_attach->firstButton(), QStringLiteral("各種ファイルを添付して送信できます。"));
    addHint(m_attach->furtherButton(),
            QStringLiteral("添付ファイルを複数送信する際に使用します。確認しやすいように、"
                           "リストボックスが表示されます。"));

    m_check1 = new QCheckBox(QStringLiteral("占い添付"), this);
    m_check1->setObjectName(QStringLiteral("Check1"));
    m_check1->setGeometry(twipsRect(120, 2640, 1300, kRowHeight));
    auto* strip =
        new QLabel(QStringLiteral("★　親しい人に占いを添付する　★ （一括送信では使用不可）"), this);
    strip->setObjectName(QStringLiteral("Label10"));
    strip->setGeometry(twipsRect(1560, 2640, 5175, kRowHeight));

    m_bodyText = new QPlainTextEdit(this);
    m_bodyText->setObjectName(QStringLiteral("BodyText"));
    m_bodyText->setGeometry(twipsRect(120, 3000, 6735, 4200));
    m_bodyText->viewport()->installEventFilter(this);
    m_bodyText->installEventFilter(this);

    m_label7 = new QLineEdit(this);
    m_label7->setObjectName(QStringLiteral("Label7"));
    m_label7->setReadOnly(true);
    m_label7->setFocusPolicy(Qt::NoFocus);
    m_label7->setGeometry(twipsRect(120, 7260, 6735, kRowHeight));

    m_text14 = new QLineEdit(this);
    m_text14->setObjectName(QStringLiteral("Text14"));
    m_text14->setReadOnly(true);
    m_text14->setFocusPolicy(Qt::NoFocus);
    m_text14->setGeometry(twipsRect(120, 7620, 6735, kRowHeight));
    m_text14->hide();

    // The list box opens over the rows below the attachment row.
    m_attach->list()->raise();
}

void WriteForm::buildButtons() {
    const QString sendHint = QStringLiteral("入力した内容を送信します。");
    addPictureButton("Image4", "Label8", QStringLiteral("　　送   信"), {120, 120, 1215, 720},
                     "Botan13.gif", "Botan15.gif", &WriteForm::send, sendHint);
    addPictureButton("Image5", "Label14", QStringLiteral("   送信中止"), {1560, 120, 1215, 720},
                     "Botan12.gif", "Botan15.gif", &WriteForm::stop,
                     QStringLiteral("送信を中止します。"));
    addPictureButton("Image1", "Label6", QStringLiteral("　アドレス帳"), {3000, 120, 1200, 360},
                     "Addoress.gif", "Switch.gif", &WriteForm::showAddressPanel,
                     QStringLiteral("アドレス帳を開きます。頻度の高いメールの送信に便利です。"));
    addPictureButton("Image2", "Label9", QStringLiteral(" 元のサイズ"), {4320, 120, 1185, 360},
                     "Motosize.gif", "Switch.gif", &WriteForm::restoreSize,
                     QStringLiteral("アドレス帳を閉じ、元のサイズに戻します。"));
    addPictureButton(
        "Image7", "Label11", QStringLiteral("　本文貼付"), {3000, 600, 1200, 390}, "Honbun.gif",
        "Switch.gif", &WriteForm::pasteIntoBody,
        QStringLiteral("本ソフト、他のアプリからのテキスト文書を本文中に貼付けます。"));
    addPictureButton("Image8", "Label12", QStringLiteral("　宛先貼付"), {4320, 600, 1200, 390},
                     "Atesaki.gif", "Switch.gif", &WriteForm::pasteIntoRecipient,
                     QStringLiteral("本ソフト、他のアプリからのテキストを宛先に貼付けます。"));
    addPictureButton("Image9", "Label13", QStringLiteral("　　　クリア"), {5640, 600, 1185, 390},
                     "Clire.gif", "Switch.gif", &WriteForm::clearMessage,
                     QStringLiteral("入力した内容消去します。"));

    // The margins of two pictures that their captions leave uncovered have hints of their own.
    addHint(control(QStringLiteral("Image1")),
            QStringLiteral("送信します。電話回線が接続されていない場合は、自動的に接続してメール"
                           "を送信します。"));
    addHint(control(QStringLiteral("Image2")), QStringLiteral("送信を中止します。"));

    // From the keyboard each caption presses as a click on it does.
    const QKeySequence keys[] = {Qt::CTRL | Qt::Key_Return,        Qt::CTRL | Qt::SHIFT | Qt::Key_S,
                                 Qt::CTRL | Qt::SHIFT | Qt::Key_B, Qt::CTRL | Qt::SHIFT | Qt::Key_R,
                                 Qt::CTRL | Qt::SHIFT | Qt::Key_V, Qt::CTRL | Qt::SHIFT | Qt::Key_T,
                                 Qt::CTRL | Qt::SHIFT | Qt::Key_L};
    Q_ASSERT(m_buttons.size() == qsizetype(std::size(keys))); // in the order they were added
    for (qsizetype i = 0; i < m_buttons.size(); ++i) {
        QLabel* caption = m_buttons.at(i).caption;
        const QString hint = m_hints.value(caption);
        new KeyboardButton(caption, hint, keys[i],
                           [this, caption] { clickPictureButton(caption); });
        m_hints.insert(caption, KeyboardButton::withShortcut(hint, keys[i]));
    }
}

void WriteForm::addPictureButton(const char* pictureName, const char* captionName,
                                 const QString& caption, const QRect& twips, const char* resting,
                                 const char* pressed, void (WriteForm::*action)(),
                                 const QString& hint) {
    PictureButton button;
    button.picture = new QLabel(this);
    button.picture->setObjectName(QLatin1String(pictureName));
    button.picture->setGeometry(twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    button.picture->setScaledContents(true);
    button.restingFile = dataPicture(resting);
    button.pressedFile = dataPicture(pressed);
    showPicture(button.picture, button.restingFile);

    // The caption lies over the picture, a little inside it, and carries click and hover.
    constexpr int kInset = 60;
    button.caption = new QLabel(caption, this);
    button.caption->setObjectName(QLatin1String(captionName));
    button.caption->setGeometry(twipsRect(twips.x() + kInset, twips.y() + kInset,
                                          twips.width() - 2 * kInset, twips.height() - 2 * kInset));
    button.caption->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
    button.caption->setCursor(Qt::PointingHandCursor);
    button.caption->installEventFilter(this);
    button.action = action;
    addHint(button.caption, hint);
    m_buttons.append(button);
}

void WriteForm::buildAddressPanel() {
    auto* heading = new QLabel(QStringLiteral("アドレス帳"), this);
    heading->setGeometry(twipsRect(kPanelLeft, 120, 1200, kRowHeight));
    auto* countLabel = new QLabel(QStringLiteral("件数"), this);
    countLabel->setGeometry(twipsRect(kPanelLeft + 1320, 120, 480, kRowHeight));
    m_text1 = new QLineEdit(this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setReadOnly(true);
    m_text1->setGeometry(twipsRect(kPanelLeft + 1800, 120, 600, kRowHeight));

    m_list1 = new QListWidget(this);
    m_list1->setObjectName(QStringLiteral("List1"));
    m_list1->setGeometry(twipsRect(kPanelLeft, 600, 2400, 5100));
    m_list1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list1->viewport()->installEventFilter(this);
    setNameListWhite();

    auto* frame = new QGroupBox(this);
    frame->setGeometry(twipsRect(kPanelLeft, 5820, 2400, 900));
    m_option2 = new QRadioButton(QStringLiteral("一括送信"), frame);
    m_option2->setObjectName(QStringLiteral("Option2"));
    m_option2->setGeometry(twipsRect(120, 120, 2100, kRowHeight));
    m_option1 = new QRadioButton(QStringLiteral("取消"), frame);
    m_option1->setObjectName(QStringLiteral("Option1"));
    m_option1->setGeometry(twipsRect(120, 480, 2100, kRowHeight));
    connect(m_option1, &QRadioButton::clicked, this, &WriteForm::resetBulk);
}

QLabel* WriteForm::control(const QString& name) const {
    return findChild<QLabel*>(name);
}

// ---------------------------------------------------------------------------------------
// Hints and clicks

void WriteForm::addHint(QObject* target, const QString& hint) {
    m_hints.insert(target, hint);
    target->installEventFilter(this);
    if (auto* widget = qobject_cast<QWidget*>(target))
        widget->setMouseTracking(true);
}

void WriteForm::showHint(const QString& hint) {
    m_text14->setText(hint);
    m_text14->show();
}

bool WriteForm::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::MouseMove:
        if (const auto hint = m_hints.constFind(watched); hint != m_hints.constEnd())
            showHint(*hint);
        else if (watched == m_bodyText->viewport())
            m_text14->hide();
        break;
    case QEvent::FocusOut:
        // Only a move to another control of this window leaves the greeting box: choosing
        // from the drop-down (its popup) or switching to another window does not.
        if (watched == m_combo1) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
                applyGreeting();
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (watched == m_list1->viewport() && mouse->button() == Qt::LeftButton) {
            pickName(mouse->position().toPoint());
            return true;
        }
        // A caption takes the press so that the release comes back to it.
        for (const PictureButton& button : std::as_const(m_buttons)) {
            if (watched == button.caption) {
                if (mouse->button() != Qt::LeftButton)
                    return false;
                m_clicks.isClick(watched, event);
                return true;
            }
        }
        break;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        // The release that ends a double-click is not a second click.
        if (mouse->button() == Qt::LeftButton && !m_clicks.isClick(watched, event))
            return widget && isPictureCaption(watched);
        if (mouse->button() == Qt::LeftButton && widget &&
            widget->rect().contains(mouse->position().toPoint()) && clickPictureButton(watched))
            return true;
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

bool WriteForm::clickPictureButton(QObject* watched) {
    for (const PictureButton& button : std::as_const(m_buttons)) {
        if (watched != button.caption)
            continue;
        // A second press while a send runs (a failure box lets events through) is ignored.
        if (m_sending)
            return true;
        const auto action = button.action;
        // Closed, or another press or a send started, while the picture was pressed: no action.
        if (pressPictureButton(this, button.picture, button.pressedFile, button.restingFile) &&
            !m_sending)
            (this->*action)();
        return true;
    }
    return false;
}

bool WriteForm::isPictureCaption(const QObject* watched) const {
    for (const PictureButton& button : m_buttons) {
        if (watched == button.caption)
            return true;
    }
    return false;
}

void WriteForm::closeEvent(QCloseEvent* event) {
    // The send writes into this window until its very end; it closes the window itself.
    if (m_sending && !m_finishing) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

// ---------------------------------------------------------------------------------------
// Drops: files dropped onto the window are attached as if chosen in the dialog.

void WriteForm::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void WriteForm::dropEvent(QDropEvent* event) {
    if (attachDropped(event->mimeData()->urls()))
        event->acceptProposedAction();
}

bool WriteForm::attachDropped(const QList<QUrl>& urls) {
    bool added = false;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && m_attach->addDroppedFile(url.toLocalFile()))
            added = true;
    }
    return added;
}

// ---------------------------------------------------------------------------------------
// The address panel

void WriteForm::fillNameList(AddressFile file) {
    m_list1->clear();
    m_nameEntries.clear();
    QList<AddressEntry> entries;
    const StoreResult listed = ListAddresses(entries, file);
    if (!listed)
        Prompter::current().notify(listed.error);
    else if (!listed.notice.isEmpty())
        Prompter::current().notify(listed.notice);
    for (const AddressEntry& entry : std::as_const(entries))
        m_list1->addItem(entry.record.name);
    m_nameEntries = entries;
    m_text1->setText(QString::number(m_list1->count()));
}

QList<int> WriteForm::recordNumbers() const {
    QList<int> numbers;
    for (const AddressEntry& entry : m_nameEntries)
        numbers << entry.number;
    return numbers;
}

void WriteForm::refillNameList() {
    // Picks and bulk sends read the address book, so the list shows the book from now on.
    fillNameList(AddressFile::Book);
}

void WriteForm::pickName(const QPoint& at) {
    if (QListWidgetItem* item = m_list1->itemAt(at))
        m_list1->setCurrentItem(item);
    const int row = m_list1->currentRow();
    if (row < 0 || !m_list1->currentItem() || !m_list1->currentItem()->isSelected()) {
        Prompter::current().warn(QStringLiteral("データが選択されていません"));
        m_list1->setFocus();
        return;
    }
    // The record behind the line must still be the one the line shows: the address book may
    // have been changed since the list was filled.
    const AddressEntry shown = m_nameEntries.value(row);
    AddressRecord record;
    const StoreResult read = ReadAddress(shown.number, record);
    if (!read || record.name != shown.record.name || record.address != shown.record.address) {
        refillNameList();
        Prompter::current().notify(kNameListChanged);
        return;
    }
    m_toText->setText(trimSpaces(record.address.left(60)));
}

void WriteForm::showAddressPanel() {
    setWidthTwips(kWideWidth);
    centreOnScreen();
    fillNameList(AddressFile::Book);
}

void WriteForm::restoreSize() {
    setWidthTwips(kCompactWidth);
    setNameListWhite();
    centreOnScreen();
}

void WriteForm::resetBulk() {
    m_toText->clear();
    setNameListWhite();
    if (QLabel* caption = control(QStringLiteral("Label6")))
        caption->setText(QString());
}

void WriteForm::setWidthTwips(int width) {
    setFixedSize(twipsToPixels(width), twipsToPixels(kHeight));
}

void WriteForm::centreOnScreen() {
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void WriteForm::setNameListWhite() {
    QPalette palette = m_list1->palette();
    palette.setColor(QPalette::Base, Qt::white);
    m_list1->setPalette(palette);
}

void WriteForm::deselectBulk() {
    // Radio buttons in one frame keep one of them on; the window starts with neither.
    for (QRadioButton* option : {m_option1, m_option2}) {
        option->setAutoExclusive(false);
        option->setChecked(false);
        option->setAutoExclusive(true);
    }
}

// ---------------------------------------------------------------------------------------
// Text actions

void WriteForm::applyGreeting() {
    m_bodyText->setPlainText(m_combo1->currentText());
}

void WriteForm::pasteIntoBody() {
    QString clip = QGuiApplication::clipboard()->text();
    clip.remove(QChar(0));
    clip.truncate(kMaxBodyPaste);
    m_bodyText->setPlainText(m_bodyText->toPlainText() + fromCrLf(clip));
}

void WriteForm::pasteIntoRecipient() {
    // One address line: a pasted line break must not travel into the recipient.
    QString clip = QGuiApplication::clipboard()->text();
    clip.remove(QChar(0));
    clip = clip.section(QRegularExpression(QStringLiteral("[\\r\\n]")), 0, 0);
    m_toText->setText(clip.left(kMaxRecipientPaste));
}

void WriteForm::clearMessage() {
    m_toText->clear();
    m_subjectText->clear();
    m_bodyText->clear();
    deselectBulk();
    m_attach->discard();
    m_check1->setChecked(false);
    setNameListWhite();
}

void WriteForm::stop() {
    close();
}

QString WriteForm::bodyWithCrLf() const {
    QString text = m_bodyText->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

void WriteForm::setBodyFromCrLf(const QString& text) {
    m_bodyText->setPlainText(fromCrLf(text));
}

void WriteForm::paintStatus(const QString& text) {
    m_label7->setText(text);
    m_label7->repaint();
}

// ---------------------------------------------------------------------------------------
// Sending

void WriteForm::send() {
    if (m_sending)
        return;
    m_sending = true;
    m_attach->resetForSend();
    // A mail library of the send's own: nothing a failure box lets happen meanwhile (the
    // main window closing, say) can take it away under the running send.
    NMail mail;
    NMailSendLibrary library(mail);
    FormsSendHost host(*this);
    SendOperation(library, host).run(ServerSettings::current());
    m_sending = false;
}

void WriteForm::finishSend() {
    m_toText->clear();
    m_subjectText->clear();
    m_bodyText->clear();
    m_attach->attachText()->clear();
    m_check1->setChecked(false);
    deselectBulk();
    m_finishing = true;
    close();
}

} // namespace kiku
