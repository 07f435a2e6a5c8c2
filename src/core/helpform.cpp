#include "core/helpform.h"

#include "base/pictures.h"

#include <QLabel>
#include <QVBoxLayout>

namespace kiku {

namespace {
const char* const kExplanation =
    "特定の相手を登録していない時は、普通のメールソフトとしてお使いになれます。\n"
    "\n"
    "特定の相手のアドレスを登録すると、受信したメールは自動的に振り分けられます。"
    "特定の相手からのメールはコーンの箱へ、それ以外の人からのメールは緑の玉の箱へ入ります。"
    "緑の玉の箱のメールは、さらに保管箱へ移して取っておく事ができます。\n"
    "送信したメールも、特定の相手へのものとそれ以外の人へのものに分けて、"
    "それぞれの送信履歴の箱に保管されます。\n"
    "\n"
    "ハートは、特定の相手へ送信したメールの数と、相手から受信したメールの数で成長します。"
    "100通ごとに一回り大きくなります。"
    "送信と受信のバランスが崩れると（差が100通を超えると）、カウントはリセットされます。"
    "送信・受信がともに一定の数に達すると、二つのハートは融合して大きな１個のハートになります。";
} // namespace

HelpForm::HelpForm(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("HelpForm"));
    setWindowTitle(QStringLiteral("Help"));

    auto* title = new QLabel(QStringLiteral("メールデータの流れ"), this);
    title->setObjectName(QStringLiteral("TitleLabel"));
    QFont titleFont = title->font();
    titleFont.setPointSize(14);
    titleFont.setBold(true);
    title->setFont(titleFont);

    auto* diagram = new QLabel(this);
    diagram->setObjectName(QStringLiteral("DiagramPicture"));
    diagram->setAlignment(Qt::AlignCenter);
    showPicture(diagram, dataPicture("HelpDiagram.gif"));

    auto* howTo = new QLabel(
        QStringLiteral("各箱（メール）は、絵（イメージ）をクリックする事によってご覧になれます。"),
        this);
    howTo->setObjectName(QStringLiteral("HowToLabel"));
    howTo->setWordWrap(true);

    auto* explanation = new QLabel(QString::fromUtf8(kExplanation), this);
    explanation->setObjectName(QStringLiteral("ExplanationLabel"));
    explanation->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(diagram);
    layout->addWidget(howTo);
    layout->addWidget(explanation);
    layout->addStretch();
    setMinimumWidth(520);
}

} // namespace kiku
