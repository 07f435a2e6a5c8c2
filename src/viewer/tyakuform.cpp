#include "viewer/tyakuform.h"

#include "base/forms.h"
#include "base/keyboardbutton.h"
#include "base/pictures.h"
#include "base/prompter.h"
#include "base/text.h"
#include "base/twips.h"
#include "viewer/texteditor.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTextEdit>
#include <QTreeWidget>

#include <memory>
#include <vector>

namespace kiku {

namespace {

// The designed client area, in twips. The top rows belong to the editor's toolbar and to
// the strip of picture buttons; the list and everything under it follow the arithmetic of
// computeViewerLayout.
constexpr double kDesignedWidth = 12000;
constexpr double kDesignedHeight = 9000;
constexpr double kToolbarHeight = 600;
constexpr double kStripTop = 600;
constexpr double kStripHeight = 480;
constexpr double kListLeft = 20;
constexpr double kListTop = 1080;
constexpr double kLineHeight = 330; // the one-line boxes and the status-line controls
constexpr double kPaneLoadLeft = 20;
constexpr double kPaneLoadTop = 3900;

// The picture buttons: 1800 × 420 twips bars whose left 420 twips carry the icon; the
// caption label lies over the rest.
constexpr double kBarWidth = 1800;
constexpr double kBarHeight = 420;
constexpr double kBarGap = 60;
constexpr double kBarTop = 30;
constexpr double kIconWidth = 420;

// Controls on the status bar.
constexpr double kStatusBarHeight = 450;
constexpr double kCountLeft = 60;
constexpr double kCountWidth = 1200;
constexpr double kCopyButtonWidth = 3300;
constexpr double kStagingWidth = 2400;
constexpr double kQuickSaveWidth = 1500;
constexpr double kHintHeight = 2100;

const QString kPressedPicture = QStringLiteral("\\Data\\Botan15.gif");

const QString kNoData = QStringLiteral("選択するデータがありません。");
const QString kDeleteOneHint = QStringLiteral(
    "受信したメールを１件ずつ削除します。リストでメールを選択（クリック）してから実行して下さい。");
const QString kDeleteAllHint = QStringLiteral("受信したメール全件削除します。");
const QString kReplyHint = QStringLiteral(
    "受信したメールに返事を出します。リストからメールを選択（クリック）してから実行して下さい。");
const QString kRegisterHint =
    QStringLiteral("受信したメールをアドレス帳に登録します。リストからメールを選択（クリック）"
                   "してから実行して下さい。");
const QString kMoveHint = QStringLiteral(
    "受信したメールを保管箱に移します。「その他」に格納されたメール以外はこの操作は出来ません。");
const QString kQuickSaveHint = QStringLiteral(
    "選択したデータをテキスト形式で本ソフト内の「TextQuickSave」フォルダ内に「Subject」「From」"
    "「Date」「Boby」で保存します。ファイル名は「Subject」が自動的に当てられます。同名のファイル"
    "が既に存在する場合は警告メッセージを出します。");
const QString kCopyHint =
    QStringLiteral("本文以外のコピーに使用します。「Subject」「From」「Date」に表示されるデータを"
                   "コピーします（貼り付けはメニューバー、ツールバーで出来ます）。Body（本文）は"
                   "メニューバー、ツールバーからコピー・貼り付けが出来ます。") +
    QStringLiteral("\r\n\r\n") +
    QStringLiteral(" 本文への貼り付け（あるいは本ソフトでの貼り付け機能がある部分）、他のアプリ"
                   "ケーションへの貼り付けが可能です。") +
    QStringLiteral("\r\n\r\n") + QStringLiteral("コピーされる内容は右の欄に反映されます。");

double pixelsToTwips(int pixels) {
    return double(pixels) * kTwipsPerPixel;
}

// List lines keep the padding of the fixed-width fields in their text; drawn with it, every
// cell would end in an ellipsis, so the padding is left out when a cell is painted.
class PaddedFieldDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant& value, const QLocale& locale) const override {
        QString text = QStyledItemDelegate::displayText(value, locale);
        qsizetype end = text.size();
        while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
            --end;
        text.truncate(end);
        return text;
    }
};

// A one-line box shows the start of its text, as a box filled by the program should.
void setBoxText(QLineEdit* box, const QString& text) {
    box->setText(text);
    box->setCursorPosition(0);
}

} // namespace

const QString TyakuForm::kMoveCaption = QString(3, QLatin1Char(' ')) + QChar(0x3000) +
                                        QString(11, QLatin1Char(' ')) + QChar(0x3000) +
                                        QString(7, QLatin1Char(' ')) + QStringLiteral("保管箱");
const QString TyakuForm::kReplyCaption = QStringLiteral("　　　返事");
const QString TyakuForm::kFindBoxHint = QStringLiteral(
    "検索したい文字を入力し、メニューバーから「検索」「次を検索」を選択し、検索したい"
    "文字を本文中(body)から検索します。");

TyakuForm::TyakuForm(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("TyakuForm"));
    resize(twipsToPixels(kDesignedWidth), twipsToPixels(kDesignedHeight));

    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("Client"));
    m_client->setMouseTracking(true);
    m_client->installEventFilter(this);
    setCentralWidget(m_client);

    // Room for the editor's toolbar and find box.
    m_toolbarSlot = new QWidget(m_client);
    m_toolbarSlot->setObjectName(QStringLiteral("ToolbarSlot"));
    m_toolbarSlot->setGeometry(twipsRect(0, 0, kDesignedWidth, kToolbarHeight));

    buildList();
    buildStagingBoxes();
    buildPictureButtons();
    buildStatusControls();

    // The load: columns from the list's designed width, the move button usable, the
    // reading pane at its designed place. The arrangement then follows the window size.
    const double listWidth = 0.99 * kDesignedWidth;
    m_mailList->setColumnWidth(0, twipsToPixels(listWidth / 2));
    m_mailList->setColumnWidth(1, twipsToPixels(listWidth / 4));
    m_mailList->setColumnWidth(2, twipsToPixels(listWidth / 4));
    m_move.caption->setEnabled(true);
    m_move.picture->setEnabled(true);
    m_paneLeftTwips = kPaneLoadLeft;
    m_rtfEd->move(twipsToPixels(kPaneLoadLeft), twipsToPixels(kPaneLoadTop));
    applyLayout(LayoutTrigger::Resize);

    // The editor's menus, toolbar and find box; the pane starts with the current file.
    m_editor = new TextEditor(this);
    m_editor->loadCurrentFile();
}

TyakuForm::~TyakuForm() = default;

// ---------------------------------------------------------------------------------------
// Building the window

void TyakuForm::buildList() {
    m_mailList = new QTreeWidget(m_client);
    m_mailList->setObjectName(QStringLiteral("MailListView"));
    m_mailList->setHeaderLabels(
        {QStringLiteral("Subject"), QStringLiteral("From"), QStringLiteral("Date")});
    // A report view: flat lines, never sorted, so line k stays record k.
    m_mailList->setRootIsDecorated(false);
    m_mailList->setItemsExpandable(false);
    m_mailList->setSortingEnabled(false);
    m_mailList->setUniformRowHeights(true);
    m_mailList->setAllColumnsShowFocus(true);
    m_mailList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_mailList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_mailList->setWordWrap(false);
    m_mailList->header()->setStretchLastSection(false);
    m_mailList->header()->setSectionsClickable(false);
    m_mailList->setItemDelegate(new PaddedFieldDelegate(m_mailList));
    m_mailList->viewport()->installEventFilter(this);
    m_mailList->installEventFilter(this); // Enter shows a line, Delete asks to delete it
    // Keys, typed letters and a press dragged off the list move the selection without a
    // click: each move shows its message as a click does.
    connect(m_mailList, &QTreeWidget::itemSelectionChanged, this, &TyakuForm::selectionMoved);
    // The whole message, beyond what a record keeps, from the list's context menu (a right
    // press selects the line it is on).
    m_showWholeAction = new QAction(QStringLiteral("全文を表示"), m_mailList);
    m_saveEmlAction = new QAction(QStringLiteral(".eml で保存"), m_mailList);
    connect(m_showWholeAction, &QAction::triggered, this, &TyakuForm::showWholeMessage);
    connect(m_saveEmlAction, &QAction::triggered, this, &TyakuForm::saveAsEml);
    m_mailList->addActions({m_showWholeAction, m_saveEmlAction});
    m_mailList->setContextMenuPolicy(Qt::ActionsContextMenu);
}

void TyakuForm::buildStagingBoxes() {
    auto makeBox = [this](const char* name) {
        auto* box = new QLineEdit(m_client);
        box->setObjectName(QLatin1String(name));
        box->setMouseTracking(true);
        box->installEventFilter(this);
        return box;
    };
    m_subjectBox = makeBox("SubjectBox");
    m_addressBox = makeBox("AddressBox");
    m_dateBox = makeBox("DateBox");

    m_rtfEd = new QTextEdit(m_client);
    m_rtfEd->setObjectName(QStringLiteral("rtfEd"));
    m_rtfEd->setAcceptRichText(false);
    m_rtfEd->viewport()->setMouseTracking(true);
    m_rtfEd->viewport()->installEventFilter(this);
}

TyakuForm::PictureButton TyakuForm::makePictureButton(const char* name, const QString& restingFile,
                                                      const QString& caption, int index,
                                                      void (TyakuForm::*operation)(),
                                                      bool pictureActs) {
    const double left = kBarGap + index * (kBarWidth + kBarGap);
    PictureButton button;
    button.restingFile = restingFile;
    button.operation = operation;
    button.pictureActs = pictureActs;

    button.picture = new QLabel(m_pictureStrip);
    button.picture->setObjectName(QLatin1String(name) + QStringLiteral("Picture"));
    button.picture->setGeometry(twipsRect(left, kBarTop, kBarWidth, kBarHeight));
    button.picture->setScaledContents(true);
    showPicture(button.picture, restingFile);

    button.caption = new QLabel(caption, m_pictureStrip);
    button.caption->setObjectName(QLatin1String(name) + QStringLiteral("Label"));
    button.caption->setGeometry(
        twipsRect(left + kIconWidth, kBarTop, kBarWidth - kIconWidth, kBarHeight));
    button.caption->setTextFormat(Qt::PlainText);
    // The captions start with a run of spaces that pushes the words to the right; aligned
    // right, the words stay on the bar however wide the spaces are drawn.
    button.caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont font = button.caption->font();
    font.setPixelSize(12);
    button.caption->setFont(font);
    button.caption->setContentsMargins(0, 0, 6, 0);

    for (QLabel* part : {button.picture, button.caption}) {
        part->setMouseTracking(true);
        part->installEventFilter(this);
    }
    return button;
}

void TyakuForm::buildPictureButtons() {
    // Element 1 of the picture strips: the bar of the five picture buttons.
    m_pictureStrip = new QWidget(m_client);
    m_pictureStrip->setObjectName(QStringLiteral("Picture1_1"));
    m_pictureStrip->setGeometry(twipsRect(0, kStripTop, kDesignedWidth, kStripHeight));

    m_deleteOne =
        makePictureButton("DeleteOne", dataPicture("Botan10.gif"), QStringLiteral("　　一件削除"),
                          0, &TyakuForm::deleteOne, false);
    m_register =
        makePictureButton("Register", dataPicture("Botan12.gif"),
                          QStringLiteral("　アドレス帳登録"), 1, &TyakuForm::registerSender, false);
    m_reply = makePictureButton("Reply", dataPicture("Botan13.gif"), kReplyCaption, 2,
                                &TyakuForm::reply, false);
    m_deleteAll = makePictureButton("DeleteAll", dataPicture("Botan14.gif"),
                                    QStringLiteral("　　全件削除"), 3, &TyakuForm::deleteAll, true);
    m_move = makePictureButton("Move", dataPicture("Botan11.gif"), kMoveCaption, 4,
                               &TyakuForm::moveToStorage, true);

    m_hints.insert(m_deleteOne.picture, kDeleteOneHint);
    m_hints.insert(m_deleteOne.caption, kDeleteOneHint);
    m_hints.insert(m_register.picture, kRegisterHint);
    m_hints.insert(m_register.caption, kRegisterHint);
    m_hints.insert(m_reply.picture, kReplyHint);
    m_hints.insert(m_reply.caption, kReplyHint);
    m_hints.insert(m_deleteAll.picture, kDeleteAllHint);
    m_hints.insert(m_deleteAll.caption, kDeleteAllHint);
    m_hints.insert(m_move.picture, kMoveHint);
    m_hints.insert(m_move.caption, kMoveHint);

    // From the keyboard each caption presses as a click on it does; the shortcuts keep clear
    // of the editor's keys.
    const std::pair<PictureButton*, QKeySequence> keys[] = {
        {&m_deleteOne, Qt::CTRL | Qt::SHIFT | Qt::Key_D},
        {&m_register, Qt::CTRL | Qt::SHIFT | Qt::Key_B},
        {&m_reply, Qt::CTRL | Qt::Key_R},
        {&m_deleteAll, Qt::CTRL | Qt::SHIFT | Qt::Key_Delete},
        {&m_move, Qt::CTRL | Qt::SHIFT | Qt::Key_M}};
    for (const auto& [button, key] : keys) {
        QLabel* caption = button->caption;
        const QString hint = m_hints.value(caption);
        new KeyboardButton(caption, hint, key, [this, caption] { clickPictureButton(caption); });
        m_hints.insert(caption, KeyboardButton::withShortcut(hint, key));
        m_hints.insert(button->picture, m_hints.value(caption));
    }
}

void TyakuForm::buildStatusControls() {
    statusBar()->setFixedHeight(twipsToPixels(kStatusBarHeight));

    // These lie over the status bar, placed by the arrangement, so they are children of the
    // window itself rather than of the bar.
    m_countBox = new QLineEdit(this);
    m_countBox->setObjectName(QStringLiteral("CountBox"));
    m_countBox->setReadOnly(true);
    m_countBox->setAlignment(Qt::AlignRight);

    m_copyButton = new QPushButton(QStringLiteral("コピー（Subject/from/Data）"), this);
    m_copyButton->setObjectName(QStringLiteral("CopyCommand"));
    m_copyStagingBox = new QLineEdit(this);
    m_copyStagingBox->setObjectName(QStringLiteral("CopyStagingBox"));
    m_quickSaveButton = new QPushButton(QStringLiteral("TextQuickSave"), this);
    m_quickSaveButton->setObjectName(QStringLiteral("QuickSaveCommand"));
    for (QPushButton* button : {m_copyButton, m_quickSaveButton}) {
        button->setAutoDefault(false);
        button->setMouseTracking(true);
        button->installEventFilter(this);
    }
    m_hints.insert(m_copyButton, kCopyHint);
    m_hints.insert(m_quickSaveButton, kQuickSaveHint);
    connect(m_copyButton, &QPushButton::clicked, this, &TyakuForm::copyField);
    connect(m_quickSaveButton, &QPushButton::clicked, this, &TyakuForm::quickSave);

    m_hintBox = new QPlainTextEdit(this);
    m_hintBox->setObjectName(QStringLiteral("HintBox"));
    m_hintBox->setReadOnly(true);
    m_hintBox->setFocusPolicy(Qt::NoFocus);
    QPalette hintPalette = m_hintBox->palette();
    hintPalette.setColor(QPalette::Base, QColor(255, 255, 225));
    m_hintBox->setPalette(hintPalette);
    m_hintBox->hide();

    for (QWidget* w : std::initializer_list<QWidget*>{m_countBox, m_copyButton, m_copyStagingBox,
                                                      m_quickSaveButton, m_hintBox})
        w->raise();
}

// ---------------------------------------------------------------------------------------
// Arrangement

void TyakuForm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    applyLayout(LayoutTrigger::Resize);
}

void TyakuForm::applyLayout(LayoutTrigger trigger) {
    // The layout positions the status-line controls relative to the bar at the bottom.
    const int statusHeight = twipsToPixels(kStatusBarHeight);
    ViewerLayoutInput in;
    in.width = pixelsToTwips(frameGeometry().width());
    in.height = pixelsToTwips(frameGeometry().height());
    in.maximised = isMaximized();
    in.trigger = trigger;
    in.paneLeft = m_paneLeftTwips;
    in.copyButtonLeft = m_copyButtonLeftTwips;
    in.statusBarLeft = 0;
    in.statusBarTop = pixelsToTwips(height() - statusHeight);
    const ViewerLayout out = computeViewerLayout(in);

    m_copyStagingBox->show();
    m_quickSaveButton->show();

    m_mailList->setGeometry(twipsRect(kListLeft, kListTop, out.listWidth, out.listHeight));
    m_subjectBox->setGeometry(
        twipsRect(out.subjectLeft, out.boxesTop, out.subjectWidth, kLineHeight));
    m_addressBox->setGeometry(
        twipsRect(out.addressLeft, out.boxesTop, out.addressWidth, kLineHeight));
    m_dateBox->setGeometry(twipsRect(out.dateLeft, out.boxesTop, out.dateWidth, kLineHeight));
    m_pictureStrip->setGeometry(twipsRect(0, kStripTop, out.stripWidth, kStripHeight));
    m_toolbarSlot->setGeometry(twipsRect(0, 0, out.stripWidth, kToolbarHeight));
    m_rtfEd->setGeometry(twipsRect(in.paneLeft, out.paneTop, out.paneWidth, out.paneHeight));

    m_countBox->setGeometry(
        twipsRect(in.statusBarLeft + kCountLeft, in.statusBarTop + 80, kCountWidth, kLineHeight));
    m_copyStagingBox->setGeometry(
        twipsRect(out.stagingLeft, out.stagingTop, kStagingWidth, kLineHeight));
    m_quickSaveButton->setGeometry(twipsRect(out.stagingLeft + kStagingWidth + kBarGap,
                                             out.stagingTop, kQuickSaveWidth, kLineHeight));
    m_copyButton->setGeometry(
        twipsRect(out.copyButtonLeft, out.copyButtonTop, kCopyButtonWidth, kLineHeight));
    m_copyButtonLeftTwips = out.copyButtonLeft;

    // The hint box floats over the top right of the reading pane (a pointer on the pane
    // puts it away).
    const QRect pane = m_rtfEd->geometry();
    const QPoint paneTopLeft = m_client->mapTo(this, pane.topLeft());
    m_hintBox->setGeometry(paneTopLeft.x() + pane.width() / 2, paneTopLeft.y(),
                           pane.width() - pane.width() / 2, twipsToPixels(kHintHeight));

    if (out.hideHint)
        hideHint();
}

// ---------------------------------------------------------------------------------------
// State

int TyakuForm::selectedLine() const {
    const QList<QTreeWidgetItem*> selected = m_mailList->selectedItems();
    if (selected.isEmpty())
        return 0;
    return m_mailList->indexOfTopLevelItem(selected.first()) + 1;
}

const MailRecord& TyakuForm::recordBuffer(Box box) const {
    return m_buffers[boxInfo(box).code - 1];
}

void TyakuForm::setRecordBuffer(Box box, const MailRecord& record) {
    m_buffers[boxInfo(box).code - 1] = record;
}

QString TyakuForm::subjectText() const {
    return m_subjectBox->text();
}
QString TyakuForm::addressText() const {
    return m_addressBox->text();
}
QString TyakuForm::dateText() const {
    return m_dateBox->text();
}
QString TyakuForm::bodyText() const {
    // Line breaks come back as CR LF, as stored bodies have them.
    return paneText(m_rtfEd);
}
void TyakuForm::setSubjectText(const QString& text) {
    setBoxText(m_subjectBox, text);
}
void TyakuForm::setAddressText(const QString& text) {
    setBoxText(m_addressBox, text);
}
void TyakuForm::setDateText(const QString& text) {
    setBoxText(m_dateBox, text);
}
void TyakuForm::setBodyText(const QString& text) {
    // One break for each CR LF (or lone CR); a lone LF stays inside its line.
    setPaneText(m_rtfEd, text);
}

void TyakuForm::stageMail(const QString& subject, const QString& from, const QString& date,
                          const QString& body) {
    setSubjectText(subject);
    setAddressText(from);
    setDateText(date);
    setBodyText(body);
    m_shown.staged = false;
}

void TyakuForm::clearStaging() {
    m_shown.staged = false;
    m_subjectBox->clear();
    m_addressBox->clear();
    m_dateBox->clear();
    m_rtfEd->clear();
}

int TyakuForm::listLineCount() const {
    return m_mailList->topLevelItemCount();
}

QString TyakuForm::countText() const {
    return m_countBox->text();
}

void TyakuForm::setCountText(const QString& text) {
    m_countBox->setText(text);
}

// ---------------------------------------------------------------------------------------
// The list

bool TyakuForm::fillList(Box box) {
    m_filling = true;
    const auto filled = qScopeGuard([this] { m_filling = false; });
    m_mailList->clear();
    // Every view starts from empty boxes, so an empty box never shows headers left over
    // from another box. The selection went with the old lines.
    clearStaging();
    m_messageSelected = false;

    BoxListing listing = Mailbox(box).list();
    if (!listing.result) {
        setCountText(QStringLiteral("0"));
        Prompter::current().notify(listing.result.error);
        return false;
    }

    // One insertion for the whole box: the items are built first and handed over together.
    std::vector<std::unique_ptr<QTreeWidgetItem>> built;
    built.reserve(listing.lines.size());
    for (const ListLine& line : std::as_const(listing.lines))
        built.push_back(
            std::make_unique<QTreeWidgetItem>(QStringList{line.subject, line.from, line.date}));
    QList<QTreeWidgetItem*> items;
    items.reserve(qsizetype(built.size()));
    for (auto& item : built)
        items.append(item.release()); // the list owns them from the next line on
    m_mailList->setUpdatesEnabled(false);
    m_mailList->addTopLevelItems(items);
    m_mailList->setUpdatesEnabled(true);

    // Listing record by record would leave the last record on display; show it.
    if (listing.last) {
        setRecordBuffer(box, *listing.last);
        showRecord(*listing.last, int(listing.lines.size()));
    }
    setCountText(QString::number(listLineCount()));
    if (!listing.result.notice.isEmpty())
        Prompter::current().notify(listing.result.notice);
    return true;
}

void TyakuForm::showRecord(const MailRecord& record, int line) {
    putFields(record);
    m_shown = ShownRecord{currentBox(), line, record, true};
}

void TyakuForm::putFields(const MailRecord& record) {
    // A text box ends at a zero character, so each field is cut there before it is trimmed.
    setSubjectText(trimSpaces(cutAtZero(record.subject)));
    setAddressText(trimSpaces(cutAtZero(record.from)));
    setDateText(trimSpaces(cutAtZero(record.date)));
    // The body goes onto the clipboard as plain text, which ends at its first zero
    // character; the pane shows the same text trimmed, taken from the record itself, since
    // the clipboard may be unavailable or belong to another program by now.
    const QString body = cutAtZero(trimSpaces(record.body));
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(body);
    setBodyText(trimSpaces(body));
}

void TyakuForm::showMessage() {
    if (leadingNumber(m_countBox->text()) == 0) {
        Prompter::current().notify(kNoData);
        return;
    }
    // A click beside the lines, or a list of another box than the current code names,
    // has nothing to show.
    const int number = selectedLine();
    if (number <= 0 || !currentBox())
        return;
    showLine(number);
}

bool TyakuForm::showLine(int number) {
    const Box box = *currentBox();
    m_messageSelected = true;
    MailRecord record;
    const StoreResult read = Mailbox(box).read(number, record);
    if (!read) {
        m_messageSelected = false;
        Prompter::current().notify(read.error);
        return false;
    }
    setRecordBuffer(box, record);
    showRecord(record, number);
    return true;
}

void TyakuForm::selectionMoved() {
    if (m_filling || !currentBox())
        return;
    const int number = selectedLine();
    // A selection taken away (Ctrl and a click) leaves nothing to act on; the operations
    // then ask for a selection.
    if (number <= 0 || (stagingShowsSelection() && m_messageSelected))
        return;
    m_pressMovedSelection = true;
    showLine(number);
}

bool TyakuForm::stagingShowsSelection() const {
    return m_shown.staged && m_shown.box && m_shown.box == currentBox() &&
           m_shown.line == selectedLine() && m_shown.line > 0;
}

void TyakuForm::resyncWithBox() {
    const std::optional<Box> box = currentBox();
    if (!box)
        return;
    int records = 0;
    if (!Mailbox(*box).count(records) || records != listLineCount()) {
        // New lines for the box on show: listed again, as the box view lists it.
        fillList(*box);
        return;
    }
    if (m_shown.staged)
        return;
    // The run's staging covered the message on show: that record again, whether the user
    // had picked it or the listing left it there.
    if (m_shown.box == box && m_shown.line > 0) {
        MailRecord record;
        if (Mailbox(*box).read(m_shown.line, record) && record == m_shown.record) {
            showRecord(record, m_shown.line);
            return;
        }
    }
    // Nothing to show again: nothing may be acted on until a line is picked.
    clearStaging();
    m_messageSelected = false;
}

// ---------------------------------------------------------------------------------------
// Hints and the pointer

void TyakuForm::setHint(const QString& text) {
    m_hintBox->setVisible(true);
    m_hintBox->raise();
    // The text box shows CR LF as one line break.
    m_hintBox->setPlainText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void TyakuForm::hideHint() {
    m_hintBox->setVisible(false);
    m_hintBox->clear();
}

void TyakuForm::addHintTarget(QWidget* control, const QString& hint) {
    control->setMouseTracking(true);
    control->installEventFilter(this);
    m_hints.insert(control, hint);
}

void TyakuForm::backgroundMoved(QObject* watched, QEvent* event) {
    // Moves over a child that let the event through are not moves over the background.
    const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
    if (watched == m_client && !m_client->childAt(at))
        applyLayout(LayoutTrigger::MouseMove);
}

bool TyakuForm::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
        if (watched == m_mailList) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                showMessage();
                return true;
            }
            if (key == Qt::Key_Delete && clickPictureButton(m_deleteOne.caption))
                return true;
        }
        break;
    case QEvent::Enter:
    case QEvent::MouseMove:
        if (const auto hint = m_hints.constFind(watched); hint != m_hints.constEnd()) {
            setHint(*hint);
        } else if (watched == m_subjectBox || watched == m_addressBox || watched == m_dateBox) {
            m_copyStagingBox->setText(static_cast<QLineEdit*>(watched)->text());
        } else if (watched == m_rtfEd->viewport()) {
            m_hintBox->setVisible(false); // the text stays
        } else if (event->type() == QEvent::MouseMove) {
            backgroundMoved(watched, event);
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (watched == m_mailList->viewport())
            m_pressMovedSelection = false;
        // A picture button takes the press so that the release comes back to it. Filters
        // see the clicks of disabled controls too: a button the box does not offer ignores
        // them.
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
            qobject_cast<QLabel*>(watched) && m_hints.contains(watched)) {
            m_clicks.isClick(watched, event);
            return static_cast<QWidget*>(watched)->isEnabled();
        }
        break;
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            break;
        if (!m_clicks.isClick(watched, event)) // the end of a double-click: no second click
            return true;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || !widget->isEnabled() ||
            !widget->rect().contains(mouse->position().toPoint()))
            break;
        if (watched == m_mailList->viewport()) {
            // A press that moved the selection has shown its line already.
            if (!m_pressMovedSelection)
                showMessage();
            m_pressMovedSelection = false;
            break;
        }
        if (clickPictureButton(watched))
            return true;
        break;
    }
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TyakuForm::clickPictureButton(QObject* watched) {
    for (PictureButton* button : {&m_deleteOne, &m_register, &m_reply, &m_deleteAll, &m_move}) {
        const bool onCaption = watched == button->caption;
        if (!onCaption && watched != button->picture)
            continue;
        // The animation's pause and the operation's questions let other events run: a
        // second press meanwhile is ignored, in this window and by the shared press guard.
        if (m_operating || !beginPress(this))
            return true;
        m_operating = true;
        const QPointer<TyakuForm> self(this);
        const auto done = qScopeGuard([self] {
            if (self)
                self->m_operating = false;
        });
        pressAnimation(button->picture);
        if (!self) // closed while the picture was pressed
            return true;
        endPress(this);
        if (onCaption || button->pictureActs)
            (this->*button->operation)();
        return true;
    }
    return false;
}

void TyakuForm::pressAnimation(QLabel* picture) {
    QString restingFile;
    for (const PictureButton* button :
         {&m_deleteOne, &m_register, &m_reply, &m_deleteAll, &m_move}) {
        if (button->picture == picture)
            restingFile = button->restingFile;
    }
    pressPicture(picture, kPressedPicture, restingFile);
}

} // namespace kiku
