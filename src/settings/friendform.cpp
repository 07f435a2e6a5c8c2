#include "settings/friendform.h"

#include "base/codec.h"
#include "base/prompter.h"
#include "base/text.h"
#include "store/addressfile.h"

#include <QClipboard>
#include <QEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

#include <functional>

namespace kiku {

namespace {

const QString kPasteHint = QStringLiteral("コピーして来たメールアドレスを貼り付けます。");
const QString kRegisterHint = QStringLiteral(
    "登録を行います。これにより新規作成でのメールアドレスの一発入力が可能になります。");
const QString kDeleteHint = QStringLiteral("不要になったメールアドレスを削除します。");

const QString kNothingSelected = QStringLiteral("データが選択されていません");
const QString kDeleteQuestion =
    QStringLiteral("選択された（行、青色）データを削除します。よろしいですか");
const QString kNoAddress = QStringLiteral("メールアドレスが入力されていません");
const QString kNoNameCard = QStringLiteral("名詞が入力されていません");
const QString kNameCardTooLong =
    QStringLiteral("名詞を挿入するとメールアドレスが%1文字を超えます。名詞を短くして下さい。");
const QString kAddressTooLong = QStringLiteral("メールアドレスが長すぎるため登録できません。");

constexpr int kAddressFieldBytes = 90;

// A list that reports a mouse press after it has moved the selection to the line under the
// pointer (a press below the last line keeps the selection as it was).
class PressList : public QListWidget {
public:
    using QListWidget::QListWidget;
    std::function<void()> pressed;

protected:
    void mousePressEvent(QMouseEvent* event) override {
        QPointer<PressList> self(this);
        QListWidget::mousePressEvent(event);
        if (self && pressed)
            pressed();
    }
};

// The first `length` UTF-16 units of a text, never ending in half a surrogate pair.
QString leftWhole(const QString& text, int length) {
    if (text.size() <= length)
        return text;
    QString cut = text.left(length);
    if (cut.back().isHighSurrogate())
        cut.chop(1);
    return cut;
}

// Clipboard text made fit for the one-line address field: the first line only, without
// control characters, at most `length` characters.
QString firstLine(const QString& text, int length) {
    QString line;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\r' || u == u'\n' || u == 0 || u == 0x85 || u == 0x2028 || u == 0x2029)
            break;
        if (u < 0x20 || u == 0x7F)
            continue;
        line.append(c);
        if (line.size() > length)
            break;
    }
    return leftWhole(line, length);
}

} // namespace

FriendForm::FriendForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("アドレス帳"));

    m_text4 = new QLineEdit(this);
    m_text4->setObjectName(QStringLiteral("Text4"));
    m_text4->setMaxLength(kAddressLength);
    m_text2 = new QLineEdit(this);
    m_text2->setObjectName(QStringLiteral("Text2"));
    m_text2->setMaxLength(kNameLength);
    m_text50 = new QLineEdit(this);
    m_text50->setObjectName(QStringLiteral("Text50"));
    // The card and the brackets share the address field's 60 characters.
    m_text50->setMaxLength(kAddressLength);

    m_command38 = new QPushButton(QStringLiteral("名刺挿入"), this);
    m_command38->setObjectName(QStringLiteral("Command38"));
    m_command38->setAutoDefault(false);
    m_command1 = new QPushButton(QStringLiteral("貼付"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setAutoDefault(false);

    auto makeButtonLabel = [this](const QString& caption, const char* name) {
        auto* label = new QLabel(caption, this);
        label->setObjectName(QLatin1String(name));
        label->setFrameShape(QFrame::StyledPanel);
        label->setFrameShadow(QFrame::Raised);
        label->setCursor(Qt::PointingHandCursor);
        label->setMinimumWidth(80);
        label->installEventFilter(this);
        return label;
    };
    m_label9 = makeButtonLabel(QStringLiteral("　　 登録"), "Label9");
    m_label8 = makeButtonLabel(QStringLiteral("　 　削除"), "Label8");

    auto* list = new PressList(this);
    list->pressed = [this] { selectEntry(); };
    m_list1 = list;
    m_list1->setObjectName(QStringLiteral("List1"));
    m_list1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list1->setMinimumSize(420, 200);

    m_text3 = new QLineEdit(this);
    m_text3->setObjectName(QStringLiteral("Text3"));
    m_text3->setReadOnly(true);
    m_text3->setMaximumWidth(80);
    m_label7 = new QLabel(this);
    m_label7->setObjectName(QStringLiteral("Label7"));

    m_text5 = new QPlainTextEdit(this);
    m_text5->setObjectName(QStringLiteral("Text5"));
    m_text5->setReadOnly(true);
    m_text5->setFocusPolicy(Qt::NoFocus);
    m_text5->setMaximumHeight(110);
    QPalette helpPalette = m_text5->palette();
    helpPalette.setColor(QPalette::Base, QColor(255, 255, 225));
    m_text5->setPalette(helpPalette);
    m_text5->hide();

    auto* addressLabel = new QLabel(QStringLiteral("メールアドレス"), this);
    addressLabel->setBuddy(m_text4);
    auto* nameLabel = new QLabel(QStringLiteral("名前"), this);
    nameLabel->setBuddy(m_text2);
    auto* cardLabel = new QLabel(QStringLiteral("名詞"), this);
    cardLabel->setBuddy(m_text50);
    auto* countLabel = new QLabel(QStringLiteral("登録件数"), this);
    countLabel->setBuddy(m_text3);

    auto* grid = new QGridLayout(this);
    grid->addWidget(addressLabel, 0, 0);
    grid->addWidget(m_text4, 0, 1);
    grid->addWidget(m_command1, 0, 2);
    grid->addWidget(nameLabel, 1, 0);
    grid->addWidget(m_text2, 1, 1);
    grid->addWidget(cardLabel, 2, 0);
    grid->addWidget(m_text50, 2, 1);
    grid->addWidget(m_command38, 2, 2);
    auto* actions = new QHBoxLayout;
    actions->addWidget(m_label9);
    actions->addWidget(m_label8);
    actions->addStretch();
    actions->addWidget(countLabel);
    actions->addWidget(m_text3);
    grid->addLayout(actions, 3, 0, 1, 3);
    grid->addWidget(m_label7, 4, 0, 1, 3);
    grid->addWidget(m_text5, 5, 0, 1, 3);
    grid->addWidget(m_list1, 6, 0, 1, 3);
    grid->setRowStretch(6, 1);
    m_text4->setMinimumWidth(320);

    // Hints follow the pointer over the buttons; the background hides them again.
    setMouseTracking(true);
    addHint(m_command1, kPasteHint);
    addHint(m_command38, nameCardHint());
    addHint(m_label9, kRegisterHint);
    addHint(m_label8, kDeleteHint);

    connect(m_command1, &QPushButton::clicked, this, &FriendForm::paste);
    connect(m_command38, &QPushButton::clicked, this, &FriendForm::insertNameCard);

    // Load: an empty count and status, then the list. A first use finds no file yet; it is
    // created here so that registering always has a file to measure.
    m_text3->setText(QString::number(m_list1->count()));
    m_label7->clear();
    if (report(CreateAddressFile()))
        fillList();
}

QString FriendForm::nameCardHint() {
    return QStringLiteral("メールアドレスの前に、名詞に入力した名前を挿入します。"
                          "相手のメールソフトでは、差出人や宛先としてこの名前が表示されます。\n"
                          "例：名詞「山田 太郎」、メールアドレス「taro@example.jp」なら\n"
                          "　　山田 太郎<taro@example.jp>\n"
                          "\n"
                          "必要なければ挿入する必要はありません。");
}

bool FriendForm::report(const StoreResult& result) {
    if (!result.ok)
        Prompter::current().notify(result.error);
    if (!result.notice.isEmpty())
        Prompter::current().notify(result.notice);
    return result.ok;
}

void FriendForm::fillList() {
    QList<AddressEntry> entries;
    // A listing that fails leaves the lines (and the record numbers behind them) as they
    // were.
    if (!report(ListAddresses(entries)))
        return;
    m_list1->clear();
    m_recordNumbers.clear();
    for (const AddressEntry& entry : entries) {
        // The stored address column is 90 characters wide; the trimmed texts read better.
        m_list1->addItem(trimSpaces(cutAtZero(entry.record.address)) + QStringLiteral("  ") +
                         trimSpaces(cutAtZero(entry.record.name)));
        m_recordNumbers.append(entry.number);
    }
    m_text3->setText(QString::number(m_list1->count()));
}

void FriendForm::registerEntry() {
    const QString address = m_text4->text();
    // The address field holds 90 bytes; a longer address would be cut without a word.
    if (codec::toCp932(address).size() > kAddressFieldBytes) {
        Prompter::current().notify(kAddressTooLong);
        return;
    }
    int number = 0;
    if (!report(AddAddress(m_text2->text(), address, &number)))
        return;
    m_currentRecord = number;
    m_label7->setText(QStringLiteral("　登録が完了しました。"));
    fillList();
}

int FriendForm::selectedLineOrWarn() {
    const QList<QListWidgetItem*> selected = m_list1->selectedItems();
    const int line = selected.isEmpty() ? -1 : m_list1->row(selected.first());
    if (line < 0 || line >= m_recordNumbers.size()) {
        Prompter::current().warn(kNothingSelected);
        m_list1->setFocus();
        return -1;
    }
    return line;
}

void FriendForm::selectEntry() {
    const int line = selectedLineOrWarn();
    if (line < 0)
        return;
    AddressRecord record;
    if (!report(ReadAddress(m_recordNumbers[line], record)))
        return;
    m_currentRecord = m_recordNumbers[line];
    m_text2->setText(trimSpaces(leftWhole(record.name, kNameLength)));
    m_text4->setText(trimSpaces(leftWhole(record.address, kAddressLength)));
    m_label7->setText(QStringLiteral("　選択しました。"));
}

void FriendForm::deleteEntry() {
    // Without a selection there is no record to address: nothing is written.
    const int line = selectedLineOrWarn();
    if (line < 0)
        return;
    m_currentRecord = m_recordNumbers[line];
    m_label7->setText(QStringLiteral(" "));
    // A "No" keeps every record as it is, so the file is left alone.
    if (!Prompter::current().askYesNo(kDeleteQuestion))
        return;
    if (!report(DeleteAddress(m_currentRecord)))
        return;
    m_label7->setText(QStringLiteral("削除が完了しました"));
    fillList();
}

void FriendForm::insertNameCard() {
    if (m_text4->text().isEmpty()) {
        Prompter::current().notify(kNoAddress);
        return;
    }
    if (m_text50->text().isEmpty()) {
        Prompter::current().notify(kNoNameCard);
        return;
    }
    const QString wrapped =
        m_text50->text() + QLatin1Char('<') + trimSpaces(m_text4->text()) + QLatin1Char('>');
    // The field would cut the result, closing bracket first: an address that can no longer
    // be sent to.
    if (wrapped.size() > kAddressLength) {
        Prompter::current().notify(kNameCardTooLong.arg(kAddressLength));
        return;
    }
    m_text4->setText(wrapped);
}

void FriendForm::paste() {
    m_text4->setText(firstLine(QGuiApplication::clipboard()->text(), kAddressLength));
}

// ---------------------------------------------------------------------------------------
// Hints and the button labels

void FriendForm::addHint(QWidget* control, const QString& hint) {
    control->setMouseTracking(true);
    control->installEventFilter(this);
    m_hints.insert(control, hint);
}

void FriendForm::showHint(const QString& hint) {
    m_text5->setPlainText(hint);
    m_text5->show();
}

void FriendForm::mouseMoveEvent(QMouseEvent* event) {
    // Only the background itself: moves that children pass up do not count.
    if (!childAt(event->position().toPoint()))
        m_text5->hide();
    QDialog::mouseMoveEvent(event);
}

bool FriendForm::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::MouseMove:
        if (const auto hint = m_hints.constFind(watched); hint != m_hints.constEnd())
            showHint(*hint);
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // The labels take the press so that the release comes back to them.
        if ((watched == m_label9 || watched == m_label8) &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            m_clicks.isClick(watched, event);
            return true;
        }
        break;
    case QEvent::MouseButtonRelease: {
        if (watched != m_label9 && watched != m_label8)
            break;
        // The release that ends a double-click is not a second click.
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
            !m_clicks.isClick(watched, event))
            return true;
        // A click: released over the label it was pressed on.
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* label = static_cast<QLabel*>(watched);
        if (mouse->button() != Qt::LeftButton ||
            !label->rect().contains(mouse->position().toPoint()))
            break;
        if (label == m_label9)
            registerEntry();
        else
            deleteEntry();
        return true;
    }
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace kiku
