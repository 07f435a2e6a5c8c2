#include "settings/setform.h"

#include "base/forms.h"
#include "base/mainboard.h"
#include "base/paths.h"
#include "base/prompter.h"
#include "base/twips.h"
#include "settings/idpassform.h"
#include "settings/optionform.h"
#include "settings/profile.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <cstdlib>

namespace kiku {

namespace {
// Where the window opens, from the main window's top-left corner.
constexpr int kOffsetRight = 7500;
constexpr int kOffsetDown = 2500;

std::function<void()>& endProgram() {
    static std::function<void()> s_end;
    return s_end;
}
} // namespace

SetForm::SetForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("設定"));

    m_command1 = new QPushButton(QStringLiteral("ID/PASS"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setAutoDefault(false);
    m_command2 = new QPushButton(QStringLiteral("POPサーバー"), this);
    m_command2->setObjectName(QStringLiteral("Command2"));
    m_command2->setAutoDefault(false);
    m_line1 = new QFrame(this);
    m_line1->setObjectName(QStringLiteral("Line1"));
    m_line1->setFrameShape(QFrame::HLine);
    m_line1->setFrameShadow(QFrame::Sunken);
    m_label1 = new QLabel(QStringLiteral("ハートの育成をリセット"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_command3 = new QPushButton(QStringLiteral("Reset"), this);
    m_command3->setObjectName(QStringLiteral("Command3"));
    m_command3->setAutoDefault(false);
    m_text2 = new QPlainTextEdit(this);
    m_text2->setObjectName(QStringLiteral("Text2"));
    m_text2->setReadOnly(true);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_command1, 0, 0);
    grid->addWidget(m_command2, 0, 1);
    grid->addWidget(m_line1, 1, 0, 1, 2);
    grid->addWidget(m_label1, 2, 0);
    grid->addWidget(m_command3, 2, 1);
    grid->addWidget(m_text2, 3, 0, 1, 2);
    resize(380, 300);

    connect(m_command1, &QPushButton::clicked, this, &SetForm::showAccount);
    connect(m_command2, &QPushButton::clicked, this, &SetForm::showServers);
    connect(m_command3, &QPushButton::clicked, this, &SetForm::resetHearts);

    placeBesideMainWindow();
    m_text2->setPlainText(explanation());
}

QString SetForm::explanation() {
    return QStringLiteral(
               "リセットを行わない限り、着信履歴(Pr)・送信履歴(S)共に削除を行ってもハート"
               "育成のためのカウントは変わりません。") +
           QStringLiteral("ハートの育成には時間がかかります（阿寒湖のマリモの育成のように）。"
                          "「愛」は一日千秋の想いで・・・送信と受信のバランスが崩れすぎると、"
                          "リセットされます。") +
           QStringLiteral("その際は始めからやり直して下さい。デリケートなものを扱う時は、慎重に"
                          "・・・") +
           QStringLiteral("ある数に達すると、ハートはひとつの大きなハートに融合します。");
}

QString SetForm::resetQuestion() {
    return QStringLiteral(
        "ハートの大きさが初期状態になります。よろしいですか？　Kikuを終了します。");
}

void SetForm::setEndProgram(std::function<void()> end) {
    endProgram() = std::move(end);
}

void SetForm::placeBesideMainWindow() {
    if (const MainBoard* main = MainBoard::current())
        move(main->boardPosition() +
             QPoint(twipsToPixels(kOffsetRight), twipsToPixels(kOffsetDown)));
}

void SetForm::showAccount() {
    Forms::show<IdPassForm>();
}

void SetForm::showServers() {
    Forms::show<OptionForm>();
}

void SetForm::resetHearts() {
    if (!Prompter::current().askYesNo(resetQuestion()))
        return;
    MainBoard* main = MainBoard::current();
    bool written = WriteSetting(paths::kCounterFile, QStringLiteral("NAME"), QStringLiteral("0"));
    if (main)
        main->setReceivedCountText(QStringLiteral("0"));
    written =
        WriteSetting(paths::kCounterFile, QStringLiteral("NAME2"), QStringLiteral("0")) && written;
    if (main)
        main->setSentCountText(QStringLiteral("0"));
    // Otherwise the next start would bring the old counts back without a word.
    if (!written)
        Prompter::current().notify(QStringLiteral("ハートのカウントを保存できませんでした。"));

    if (endProgram()) {
        endProgram()();
        return;
    }
    // The end comes here and now: no shutdown steps, no event loop of any window (a heart
    // beat or a receive status may be pausing under this click) gets to run again. Both
    // counters are already on disk.
    std::_Exit(0);
}

} // namespace kiku
