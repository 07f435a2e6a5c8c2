#include "core/mainform.h"

#include "base/forms.h"
#include "base/keyboardbutton.h"
#include "base/mainboard.h"
#include "base/paths.h"
#include "base/pause.h"
#include "base/pictures.h"
#include "base/prompter.h"
#include "base/text.h"
#include "base/twips.h"
#include "compose/attachform.h"
#include "compose/writeform.h"
#include "core/boxexportui.h"
#include "core/boxviews.h"
#include "core/heartboard.h"
#include "core/helpform.h"
#include "core/mailimport.h"
#include "core/receivecycle.h"
#include "core/receivehost.h"
#include "settings/bunbetuform.h"
#include "settings/friendform.h"
#include "settings/idpassform.h"
#include "settings/optionform.h"
#include "settings/profile.h"
#include "settings/serversettings.h"
#include "settings/setform.h"
#include "viewer/tyakuform.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

namespace kiku {

namespace {
// The designed client area of the board; the clock and the work box lie below it.
constexpr int kBoardWidth = 9255;
constexpr int kBoardHeight = 5340;
constexpr int kClockHeight = 330;

// Picture buttons are 900 x 900 twips, with their caption label of the same size over them.
constexpr int kButtonSize = 900;

const QString kPressedPicture = QStringLiteral("\\Data\\BotanHenka.gif");
const QString kCaption = QStringLiteral("Kiku Lanternway　Ver 1.35");
const QString kHeartHint = QStringLiteral("成長し・・・大きな１個に融合♪");
const QString kCountHint = QStringLiteral("カウント数でハートが成長、消滅することも・・・。");

QRect button(int left, int top) {
    return twipsRect(left, top, kButtonSize, kButtonSize);
}

// The order in which Tab walks the board.
constexpr const char* kTabOrder[] = {
    "Label6",  "Label7",  "Label8",  "Label9",  "Label18", "Label16", "Text2",   "Text1",
    "Label17", "Label10", "Label12", "Label13", "Label14", "Label5",  "Label20", "Label19"};
} // namespace

MainForm::MainForm(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MainForm"));
    buildBoard();
    buildButtons();
    buildBoxes();
    setKeyboardOrder();
    MainBoard::install(this);
    startUp();
}

MainForm::~MainForm() {
    if (MainBoard::current() == this)
        MainBoard::install(nullptr);
}

QPoint MainForm::boardPosition() const {
    return pos();
}

QString MainForm::clockBoxText() const {
    return m_text4->text();
}

QString MainForm::receivedCountText() const {
    return m_text1->text();
}

void MainForm::setReceivedCountText(const QString& text) {
    m_text1->setText(text);
}

QString MainForm::sentCountText() const {
    return m_text2->text();
}

void MainForm::setSentCountText(const QString& text) {
    m_text2->setText(text);
}

QLabel* MainForm::boardControl(const QString& name) const {
    return m_board.value(name);
}

// ---------------------------------------------------------------------------------------
// The board

void MainForm::buildBoard() {
    const QRect board = twipsRect(0, 0, kBoardWidth, kBoardHeight);
    setFixedSize(board.width(), board.height() + twipsToPixels(kClockHeight));

    m_picture1 = addPicture("Picture1", dataPicture("Background.gif"), board);
    m_picture1->setMouseTracking(true);
    m_picture1->installEventFilter(this);

    // Box pictures; the box views give their own press feedback on them.
    addPicture("Image11", dataPicture("S.gif"), button(120, 2960));
    addPicture("Image12", dataPicture("P.gif"), button(120, 3960));
    addPicture("Image17", dataPicture("PartnerSent.gif"), button(1840, 1320));
    addPicture("Image18", dataPicture("Cone.gif"), button(6960, 3840));
    addPicture("Image19", dataPicture("Storage.gif"), button(960, 3960));

    // The hearts (stretched to the control) and the flight and landing pictures.
    addPicture("Image3", dataPicture("Heart.gif"), twipsRect(3360, 2280, 300, 150));
    addPicture("Image4", dataPicture("Heart.gif"), twipsRect(4680, 2760, 300, 150));
    addPicture("Image6", dataPicture("FlySent.gif"), twipsRect(7110, 4540, 330, 270));
    addPicture("Image5", dataPicture("FlyReceived.gif"), twipsRect(970, 4545, 330, 270));
    addPicture("Image8", dataPicture("LandSent.gif"), twipsRect(4220, 4470, 240, 390));
    addPicture("Image9", dataPicture("LandReceived.gif"), twipsRect(3960, 4470, 255, 390));
    addTarget(m_board.value(QStringLiteral("Image3")), kHeartHint);
    addTarget(m_board.value(QStringLiteral("Image4")), kHeartHint);

    // Fixed texts.
    QLabel* title = addCaption("Label1", QStringLiteral("Kiku"), twipsRect(2280, 240, 1500, 600));
    QFont titleFont = title->font();
    titleFont.setPointSize(24);
    titleFont.setBold(true);
    title->setFont(titleFont);
    QLabel* subtitle =
        addCaption("Label15", QStringLiteral("Lanternway"), twipsRect(3780, 480, 2400, 420));
    QFont subtitleFont = subtitle->font();
    subtitleFont.setPointSize(14);
    subtitleFont.setItalic(true);
    subtitle->setFont(subtitleFont);
    addCaption("Label2", QStringLiteral("Ver 1.35"), twipsRect(6180, 600, 1080, 300));
    QLabel* scale =
        addCaption("Label3", QStringLiteral("Heart  of  Scale"), twipsRect(2040, 3000, 2415, 375));
    QFont scaleFont = scale->font();
    scaleFont.setPointSize(10);
    scaleFont.setItalic(false);
    scale->setFont(scaleFont);
    // A shadow under the home-page label's caption; it has no command.
    addCaption("Label4", QStringLiteral("    HP"), twipsRect(7935, 4655, 900, 360));
}

void MainForm::addFlashingButton(const char* label, const QString& caption, QRect rect,
                                 const QString& hint, const char* picture,
                                 const QString& restingFile, void (MainForm::*command)(),
                                 const QKeySequence& shortcut) {
    QLabel* image = addPicture(picture, restingFile, rect);
    QLabel* text = addCaption(label, caption, rect);
    addTarget(text, hint, false, [this, image, restingFile, command] {
        // The pause of the animation lets anything happen: this window may be gone after it,
        // or another press may be under way, and then the command does not run.
        if (pressPictureButton(this, image, kPressedPicture, restingFile))
            (this->*command)();
    });
    addKeys(text, shortcut);
}

void MainForm::addKeys(QLabel* label, const QKeySequence& shortcut) {
    Target& target = m_targets[label];
    new KeyboardButton(label, target.hint, shortcut, [this, label] { runCommand(label); });
    target.hint = KeyboardButton::withShortcut(target.hint, shortcut);
}

void MainForm::runCommand(QObject* label) {
    const auto it = m_targets.constFind(label);
    if (it == m_targets.constEnd() || !it->command)
        return;
    // Copied: a command may run the event loop (the press animation) meanwhile.
    const std::function<void()> command = it->command;
    command();
}

void MainForm::buildButtons() {
    addFlashingButton("Label7", QStringLiteral("    R"), button(120, 1960),
                      QStringLiteral("新着メールの受信を行います。"), "Image10",
                      dataPicture("R.gif"), &MainForm::receiveMail,
                      QKeySequence(Qt::CTRL | Qt::Key_R));
    addFlashingButton("Label6", QStringLiteral("    N"), button(120, 960),
                      QStringLiteral("メールの新規作成、送信を行います。"), "Image7",
                      dataPicture("New.gif"), &MainForm::composeMail,
                      QKeySequence(Qt::CTRL | Qt::Key_N));
    addFlashingButton("Label10", QStringLiteral("    Ad"), button(8280, 960),
                      QStringLiteral("メールアドレスの登録を行います。"), "Image13",
                      dataPicture("Ad.gif"), &MainForm::showAddressBook,
                      QKeySequence(Qt::CTRL | Qt::Key_B));
    addFlashingButton("Label12", QStringLiteral("    At"), button(8280, 1980),
                      QStringLiteral("ファイルを「見る」、「実行」を行います。"), "Image14",
                      dataPicture("At.gif"), &MainForm::showAttachments,
                      QKeySequence(Qt::CTRL | Qt::Key_T));
    addFlashingButton("Label13", QStringLiteral("    D"), button(8340, 2960),
                      QStringLiteral("特定の相手のアドレスを登録。"), "Image15",
                      dataPicture("D.gif"), &MainForm::showPartnerSettings,
                      QKeySequence(Qt::CTRL | Qt::Key_D));
    addFlashingButton("Label14", QStringLiteral("    O"), button(8320, 3960),
                      QStringLiteral("ID,Pass、サーバーの設定を行います。"), "Image16",
                      dataPicture("O.gif"), &MainForm::showSettings,
                      QKeySequence(Qt::CTRL | Qt::Key_O));

    // The five box views: the view itself gives the press feedback on its picture.
    const struct {
        const char* name;
        const char* caption;
        QRect rect;
        const char* hint;
        bool blue;
        void (MainForm::*command)();
        QKeyCombination key; // Ctrl+1 to Ctrl+5 in the order of the box codes
    } boxes[] = {
        {"Label8", "    S", button(120, 2960), "特定の相手以外へのメールの送信履歴。", false,
         &MainForm::showOthersSentBox, Qt::CTRL | Qt::Key_4},
        {"Label9", "    Pr", button(120, 3960), "特定の相手以外のメールの着信履歴。", true,
         &MainForm::showOthersInBox, Qt::CTRL | Qt::Key_2},
        {"Label17", "Pr", button(6960, 3840), "特定の相手からのメールが保管されています。", false,
         &MainForm::showPartnerInBox, Qt::CTRL | Qt::Key_1},
        {"Label16", "s", button(1840, 1320), "特定の相手への送信履歴が保管されています。", false,
         &MainForm::showPartnerSentBox, Qt::CTRL | Qt::Key_3},
        {"Label18", "Box", button(960, 3960), "■特定の相手以外のメールの保管箱■", true,
         &MainForm::showStorageBox, Qt::CTRL | Qt::Key_5},
    };
    for (const auto& box : boxes) {
        QLabel* label = addCaption(box.name, QString::fromUtf8(box.caption), box.rect);
        addTarget(label, QString::fromUtf8(box.hint), box.blue,
                  [this, command = box.command] { (this->*command)(); });
        addKeys(label, QKeySequence(box.key));
    }

    // Commands that act at once, without a picture.
    QLabel* help =
        addCaption("Label20", QStringLiteral("MiniHelp"), twipsRect(7680, 200, 1080, 300));
    addTarget(help, QStringLiteral("メールの送受信データの流れの説明です。"), false,
              [this] { showHelp(); });
    addKeys(help, QKeySequence(Qt::Key_F1));
    QLabel* small = addCaption("Label19", QStringLiteral("Small"), twipsRect(720, 120, 900, 300));
    addTarget(small, QStringLiteral("フォームを最小化します。"), false, [this] { minimise(); });
    addKeys(small, QKeySequence(Qt::CTRL | Qt::Key_M));
    QLabel* homePage =
        addCaption("Label5", QStringLiteral("    HP"), twipsRect(7920, 4640, 900, 360));
    addTarget(homePage, QStringLiteral("作者のホームページです。"), false,
              [this] { openHomePage(); });
    addKeys(homePage, QKeySequence(Qt::CTRL | Qt::Key_H));
}

void MainForm::setKeyboardOrder() {
    // Column by column as the board reads: the left column, the middle with the partner's
    // boxes and the counters, the right column, then the small commands at the top.
    QWidget* previous = nullptr;
    for (const char* name : kTabOrder) {
        QWidget* next = name == QByteArrayView("Text1")   ? static_cast<QWidget*>(m_text1)
                        : name == QByteArrayView("Text2") ? static_cast<QWidget*>(m_text2)
                                                          : m_board.value(QLatin1String(name));
        if (previous)
            setTabOrder(previous, next);
        previous = next;
    }
    // Screen readers name every control that carries a hover text, and the two lines below.
    for (const char* heart : {"Image3", "Image4"})
        KeyboardButton::describe(m_board.value(QLatin1String(heart)), kHeartHint);
    KeyboardButton::describe(m_text1, QStringLiteral("受信カウント。") + kCountHint);
    KeyboardButton::describe(m_text2, QStringLiteral("送信カウント。") + kCountHint);
    KeyboardButton::describe(m_text3,
                             QStringLiteral("ステータス。ボタンの説明と受信の結果を表示します。"));
    KeyboardButton::describe(m_text4, QStringLiteral("日付と時刻。"));
}

void MainForm::buildBoxes() {
    auto makeBox = [this](const char* name, QRect rect) {
        auto* box = new QLineEdit(this);
        box->setObjectName(QLatin1String(name));
        box->setGeometry(rect);
        box->raise();
        return box;
    };
    // The counters sit beside their hearts: sent on the left, received on the right.
    m_text2 = makeBox("Text2", twipsRect(2400, 2280, 810, 300));
    m_text1 = makeBox("Text1", twipsRect(5280, 2760, 810, 300));
    for (QLineEdit* count : {m_text1, m_text2}) {
        QPalette palette = count->palette();
        palette.setColor(QPalette::Base, QColor(192, 255, 255));
        count->setPalette(palette);
        count->setAlignment(Qt::AlignRight);
        addTarget(count, kCountHint);
    }

    m_text3 = makeBox("Text3", twipsRect(1440, 4950, 6360, 330));
    m_text3->setReadOnly(true);
    m_text3->setFocusPolicy(Qt::NoFocus);
    setStatusColour(statusRed());

    m_text4 = makeBox("Text4", twipsRect(0, kBoardHeight, kBoardWidth, kClockHeight));
    m_text4->setReadOnly(true);
    m_text4->setFocusPolicy(Qt::NoFocus);
    m_text5 = makeBox("Text5", twipsRect(0, kBoardHeight + kClockHeight, kBoardWidth, 330));
    m_text5->hide();
}

QLabel* MainForm::addPicture(const char* name, const QString& file, QRect rect) {
    auto* picture = new QLabel(this);
    picture->setObjectName(QLatin1String(name));
    picture->setGeometry(rect);
    picture->setScaledContents(true);
    showPicture(picture, file);
    picture->raise();
    m_board.insert(picture->objectName(), picture);
    return picture;
}

QLabel* MainForm::addCaption(const char* name, const QString& caption, QRect rect) {
    auto* label = new QLabel(caption, this);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(rect);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->raise();
    m_board.insert(label->objectName(), label);
    return label;
}

void MainForm::addTarget(QWidget* widget, const QString& hint, bool blueHint,
                         std::function<void()> command) {
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
    m_targets.insert(widget, Target{hint, blueHint, std::move(command)});
}

// ---------------------------------------------------------------------------------------
// Start-up and shutdown

void MainForm::startUp() {
    // 1, 2: the partner counters, sent first.
    m_text2->setText(ReadSetting(paths::kCounterFile, QStringLiteral("NAME2")));
    m_text1->setText(ReadSetting(paths::kCounterFile, QStringLiteral("NAME")));

    // 3: the landing pictures appear only at the end of a heart tick.
    m_board.value(QStringLiteral("Image8"))->hide();
    m_board.value(QStringLiteral("Image9"))->hide();

    // 4: server settings from zadiru.ini in the working directory.
    ServerSettings::current() = LoadServerSettings(paths::kServerSettingsFile);

    // 5, 6: the mail library; failures show up later as a failed connect or send.
    m_mail.NMailInitializeWinSock();
    m_mail.NMailSetOption(1, 8192);

    // 7: no POP3 server yet: ask for the servers.
    if (ServerSettings::current().pop3Server.isEmpty())
        m_startUpDialogs.append(Forms::show<OptionForm>());

    // 8: touching the account window loads the stored account; ask when half of it is missing.
    IdPassForm* account = Forms::touch<IdPassForm>();
    if (account->userId().isEmpty() || account->password().isEmpty())
        m_startUpDialogs.append(Forms::show<IdPassForm>());

    // 9: the clock and the two hearts run for the whole life of the window.
    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    connect(m_timer1, &QTimer::timeout, this, &MainForm::tickClock);
    m_timer1->start(1000);
    m_receivedHeart = std::make_shared<HeartTimer>(this, HeartTick::Side::Received);
    m_sentHeart = std::make_shared<HeartTimer>(this, HeartTick::Side::Sent);
    m_timer2 = new QTimer(this);
    m_timer2->setObjectName(QStringLiteral("Timer2"));
    connect(m_timer2, &QTimer::timeout, this, &MainForm::tickReceivedHeart);
    m_timer2->start(500);
    m_timer3 = new QTimer(this);
    m_timer3->setObjectName(QStringLiteral("Timer3"));
    connect(m_timer3, &QTimer::timeout, this, &MainForm::tickSentHeart);
    m_timer3->start(500);

    setWindowTitle(kCaption);
    setAcceptDrops(true); // mail dropped onto the window is taken in
}

void MainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    // The dialogs of start-up were opened before the board appeared; they belong beside it,
    // one under the other so that neither hides the other, and in front.
    QTimer::singleShot(0, this, [this] {
        QPoint place = frameGeometry().topRight() + QPoint(8, 0);
        for (const QPointer<QWidget>& dialog : std::as_const(m_startUpDialogs)) {
            if (dialog && dialog->isVisible()) {
                dialog->move(place);
                place.ry() += dialog->frameGeometry().height() + 8;
                dialog->raise();
                dialog->activateWindow();
            }
        }
        m_startUpDialogs.clear();
    });
}

void MainForm::closeEvent(QCloseEvent* event) {
    m_timer1->stop();
    m_timer2->stop();
    m_timer3->stop();
    if (m_mail.initialised())
        m_mail.NMailEndWinSock();
    // Nothing is saved here: every setting and counter was written when it changed.
    Forms::closeAll(this);
    event->accept();
}

// ---------------------------------------------------------------------------------------
// Pointer and clicks

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_picture1) {
        if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter)
            hideHint();
        return QWidget::eventFilter(watched, event);
    }
    const auto it = m_targets.constFind(watched);
    if (it == m_targets.constEnd())
        return QWidget::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::MouseMove:
        showHint(*it);
        break;
    case QEvent::FocusIn:
        // The keyboard's way of pointing at a button.
        if (it->command)
            showHint(*it);
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (it->command && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            m_clicks.isClick(watched, event);
            return true; // the label takes the press, so the release comes back to it
        }
        break;
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* widget = static_cast<QWidget*>(watched);
        if (it->command && mouse->button() == Qt::LeftButton) {
            // The release that ends a double-click is not a second click.
            if (!m_clicks.isClick(watched, event))
                return true;
            if (!widget->rect().contains(mouse->position().toPoint()))
                return QWidget::eventFilter(watched, event);
            // Copied: a command may run the event loop (the press animation) meanwhile.
            const std::function<void()> command = it->command;
            command();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void MainForm::showHint(const Target& target) {
    m_text3->setVisible(true);
    if (target.blueHint)
        setStatusColour(statusBlue());
    m_text3->setText(target.hint);
}

void MainForm::hideHint() {
    // The text stays; it is only hidden until the next hint or receive result replaces it.
    m_text3->setVisible(false);
    setStatusColour(statusRed());
}

void MainForm::setStatusColour(const QColor& colour) {
    QPalette palette = m_text3->palette();
    palette.setColor(QPalette::Text, colour);
    m_text3->setPalette(palette);
}

QColor MainForm::statusBlue() {
    return QColor(0, 0, 128);
}

QColor MainForm::statusRed() {
    return QColor(255, 0, 0);
}

// ---------------------------------------------------------------------------------------
// Timers

QString MainForm::clockText(const QDateTime& moment) {
    return kiku::clockText(moment);
}

void MainForm::tickClock() {
    m_text4->setText(clockText(QDateTime::currentDateTime()));
}

void MainForm::tickReceivedHeart() {
    // The copy keeps the tick alive through its pauses even if the window closes meanwhile;
    // a tick that fires while the previous one still runs does nothing.
    const std::shared_ptr<HeartTimer> heart = m_receivedHeart;
    heart->tick.run();
}

void MainForm::tickSentHeart() {
    const std::shared_ptr<HeartTimer> heart = m_sentHeart;
    heart->tick.run();
}

// ---------------------------------------------------------------------------------------
// Commands. The picture buttons have already shown their press animation.

void MainForm::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() &&
        std::all_of(urls.begin(), urls.end(), [](const QUrl& u) { return u.isLocalFile(); }))
        event->acceptProposedAction();
}

void MainForm::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        paths << url.toLocalFile();
    event->acceptProposedAction();
    // After the drop has ended: the import runs its own progress window.
    QTimer::singleShot(0, this, [this, paths] { importMail(paths); });
}

void MainForm::importMail(const QStringList& paths) {
    if (m_receiving) // a receive or another import is running
        return;
    m_receiving = true;
    const QPointer<MainForm> alive(this);
    QStringList report;
    int stored = 0;
    {
        FormsReceiveHost host(*this);
        QProgressDialog progress(QStringLiteral("メールを取り込んでいます…"),
                                 QStringLiteral("キャンセル"), 0, 1000, this);
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(300);
        for (const QString& path : paths) {
            const ImportOutcome outcome =
                kiku::importMail(path, m_mail, host, [&progress](qint64 done, qint64 total) {
                    progress.setValue(total > 0 ? int(done * 1000 / total) : 0);
                    return !progress.wasCanceled();
                });
            stored += outcome.stored;
            QString line = QStringLiteral("%1: %2 通を取り込みました（取り込み済みの %3 通は"
                                          "そのままです）。")
                               .arg(QDir::toNativeSeparators(path))
                               .arg(outcome.stored)
                               .arg(outcome.before);
            if (!outcome.ok)
                line += QLatin1Char('\n') + outcome.error;
            if (outcome.cancelled)
                line +=
                    QStringLiteral("\nキャンセルしました。それまでのメールは保存してあります。");
            report << line;
            if (!alive || outcome.cancelled || !outcome.ok)
                break;
        }
        if (alive)
            host.showStagedMail();
    }
    if (!alive)
        return;
    if (TyakuForm* viewer = Forms::existing<TyakuForm>())
        viewer->resyncWithBox();
    m_receiving = false;
    Prompter::current().notify(report.join(QLatin1Char('\n')));
    if (stored > 0 && alive)
        showReceiveResult(true);
}

void MainForm::receiveMail() {
    if (m_receiving)
        return;
    m_receiving = true;
    const QPointer<MainForm> alive(this);
    ReceiveOutcome outcome;
    {
        FormsReceiveHost host(*this);
        NMailReceiveLibrary library(m_mail);
        outcome = ReceiveCycle(library, host).run(ServerSettings::current(), KeepOnServer::load());
        host.showStagedMail();
    }
    if (!alive) // a notice of the run let the window close
        return;
    // The run staged its mail in the viewer and may have added lines to the box it shows.
    if (TyakuForm* viewer = Forms::existing<TyakuForm>())
        viewer->resyncWithBox();
    showReceiveResult(outcome.newMail);
    if (!alive)
        return;
    m_receiving = false;
    // A box the run filled close to its limit: say so while there is still room.
    remindBeforeWall(this);
}

void MainForm::showReceiveResult(bool newMail) {
    auto setStatusSize = [this](int points) {
        QFont font = m_text3->font();
        font.setPointSize(points);
        m_text3->setFont(font);
    };
    if (newMail) {
        m_text3->setText(QStringLiteral("新着メール有り！"));
    } else {
        setStatusSize(11);
        m_text3->setVisible(true);
        m_text3->setText(QStringLiteral("新着メールなし"));
    }
    const QPointer<MainForm> alive(this);
    Pause::wait(6000);
    if (!alive)
        return;
    m_text3->clear();
    setStatusSize(9);
}

void MainForm::composeMail() {
    Forms::show<WriteForm>();
}

void MainForm::showOthersSentBox() {
    openBoxView(Box::OthersSent, this);
}

void MainForm::showOthersInBox() {
    openBoxView(Box::OthersInbox, this);
}

void MainForm::showPartnerInBox() {
    openBoxView(Box::PartnerInbox, this);
}

void MainForm::showPartnerSentBox() {
    openBoxView(Box::PartnerSent, this);
}

void MainForm::showStorageBox() {
    openBoxView(Box::Storage, this);
}

void MainForm::showAddressBook() {
    Forms::show<FriendForm>();
}

void MainForm::showAttachments() {
    Forms::show<AttachForm>();
}

void MainForm::showPartnerSettings() {
    Forms::show<BunbetuForm>();
}

void MainForm::showSettings() {
    Forms::show<SetForm>();
}

void MainForm::showHelp() {
    Forms::show<HelpForm>();
}

void MainForm::minimise() {
    showMinimized();
}

void MainForm::openHomePage() {
    const QString page = ProgramFolder::resolve(kAuthorHomePage);
    if (!QFileInfo::exists(page)) {
        Prompter::current().notify(QStringLiteral("ホームページのファイルが見つかりません：") +
                                   QDir::toNativeSeparators(page));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(page));
}

} // namespace kiku
