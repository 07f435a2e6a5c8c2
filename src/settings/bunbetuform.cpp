#include "settings/bunbetuform.h"

#include "base/paths.h"
#include "base/prompter.h"
#include "base/singleline.h"
#include "settings/profile.h"

#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kiku {

BunbetuForm::BunbetuForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("特定の相手のメールアドレス登録"));

    m_text1 = new QLineEdit(this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text2 = new QLineEdit(this);
    m_text2->setObjectName(QStringLiteral("Text2"));
    // Both values go into a settings file as one line each.
    keepSingleLine(m_text1);
    keepSingleLine(m_text2);
    m_command1 = new QPushButton(QStringLiteral("登録"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setAutoDefault(false);
    m_command3 = new QPushButton(QStringLiteral("貼付"), this);
    m_command3->setObjectName(QStringLiteral("Command3"));
    m_command3->setAutoDefault(false);
    m_label2 = new QLabel(instructions(), this);
    m_label2->setObjectName(QStringLiteral("Label2"));
    m_label2->setWordWrap(true);
    m_label3 = new QLabel(hint(), this);
    m_label3->setObjectName(QStringLiteral("Label3"));
    m_label3->setWordWrap(true);

    auto* addressLabel = new QLabel(QStringLiteral("MailAddress"), this);
    addressLabel->setBuddy(m_text1);
    auto* nameLabel = new QLabel(QStringLiteral("氏名（名称）"), this);
    nameLabel->setBuddy(m_text2);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_label2, 0, 0, 1, 3);
    grid->addWidget(addressLabel, 1, 0);
    grid->addWidget(m_text1, 1, 1);
    grid->addWidget(m_command3, 1, 2);
    grid->addWidget(nameLabel, 2, 0);
    grid->addWidget(m_text2, 2, 1);
    grid->addWidget(m_label3, 3, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_command1);
    grid->addLayout(buttons, 4, 0, 1, 3);
    m_text1->setMinimumWidth(320);
    setMinimumWidth(480);

    connect(m_command1, &QPushButton::clicked, this, &BunbetuForm::registerPartner);
    connect(m_command3, &QPushButton::clicked, this, &BunbetuForm::paste);

    load();
}

QString BunbetuForm::instructions() {
    return QStringLiteral("●メールアドレスと、氏名（名称を入力し、登録ボタンを押して下さい。"
                          "ここで登録した順番通りに、メイン画面にも表示されます。") +
           QString(31, QChar(0x3000)) +
           QStringLiteral("●完全一致検索方式ですから、＜＞付きで送信されてくるメールには、"
                          "＜＞付きで登録して下さい。");
}

QString BunbetuForm::hint() {
    return QStringLiteral("●空白のままだと通常のメーラーとして使用出来ます。");
}

QString BunbetuForm::address() const {
    return m_text1->text();
}

QString BunbetuForm::partnerName() const {
    return m_text2->text();
}

void BunbetuForm::load() {
    m_text1->setText(ReadSetting(paths::kPartnerFile, QStringLiteral("NAME")));
    m_text2->setText(ReadSetting(paths::kPartnerFile, QStringLiteral("NAME2")));
}

void BunbetuForm::registerPartner() {
    // Exactly as typed, spaces included; the comparisons trim the address themselves.
    const bool stored = WriteSetting(paths::kPartnerFile, QStringLiteral("NAME"), address()) &&
                        WriteSetting(paths::kPartnerFile, QStringLiteral("NAME2"), partnerName());
    // Success stays silent; a partner that silently failed to register would sort the next
    // start's mail differently from what the user sees here.
    if (!stored)
        Prompter::current().notify(QStringLiteral("特定の相手を登録できませんでした。"));
}

void BunbetuForm::paste() {
    m_text1->setText(QGuiApplication::clipboard()->text());
}

} // namespace kiku
