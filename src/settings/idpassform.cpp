#include "settings/idpassform.h"

#include "base/paths.h"
#include "base/prompter.h"
#include "base/singleline.h"
#include "settings/profile.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

namespace kiku {

IdPassForm::IdPassForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("設定"));

    m_idText = new QLineEdit(this);
    m_idText->setObjectName(QStringLiteral("IdText"));
    m_passText = new QLineEdit(this);
    m_passText->setObjectName(QStringLiteral("PassText"));
    m_passText->setEchoMode(QLineEdit::Password);
    // Both values go into a settings file as one line each.
    keepSingleLine(m_idText);
    keepSingleLine(m_passText);
    m_check1 = new QCheckBox(QStringLiteral("IDパスワードを保存する"), this);
    m_check1->setObjectName(QStringLiteral("Check1"));
    m_okCommand = new QPushButton(QStringLiteral("OK"), this);
    m_okCommand->setObjectName(QStringLiteral("OKCommand"));
    m_okCommand->setDefault(true);
    m_cancelCommand = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancelCommand->setObjectName(QStringLiteral("CancelCommand"));
    m_cancelCommand->setAutoDefault(false);

    auto* idLabel = new QLabel(QStringLiteral("ID"), this);
    idLabel->setBuddy(m_idText);
    auto* passLabel = new QLabel(QStringLiteral("Password"), this);
    passLabel->setBuddy(m_passText);

    auto* grid = new QGridLayout(this);
    grid->addWidget(idLabel, 0, 0);
    grid->addWidget(m_idText, 0, 1);
    grid->addWidget(passLabel, 1, 0);
    grid->addWidget(m_passText, 1, 1);
    grid->addWidget(m_check1, 2, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_okCommand);
    buttons->addWidget(m_cancelCommand);
    grid->addLayout(buttons, 3, 0, 1, 2);
    m_idText->setMinimumWidth(220);

    connect(m_okCommand, &QPushButton::clicked, this, &IdPassForm::confirm);
    connect(m_cancelCommand, &QPushButton::clicked, this, &IdPassForm::close);

    load();
}

QString IdPassForm::userId() const {
    return m_idText->text();
}

QString IdPassForm::password() const {
    return m_passText->text();
}

void IdPassForm::load() {
    m_idText->setText(ReadSetting(paths::kAccountFile, QStringLiteral("NAME")));
    m_passText->setText(ReadSetting(paths::kAccountFile, QStringLiteral("NAME2")));
    m_check1->setChecked(false);
}

void IdPassForm::showEvent(QShowEvent* event) {
    // The save box starts unticked each time the window comes up, so storing the password
    // is always a fresh decision.
    if (!event->spontaneous())
        m_check1->setChecked(false);
    QDialog::showEvent(event);
}

void IdPassForm::confirm() {
    if (m_check1->isChecked()) {
        const bool stored =
            WriteSetting(paths::kAccountFile, QStringLiteral("NAME"), userId()) &&
            WriteSetting(paths::kAccountFile, QStringLiteral("NAME2"), password()) &&
            WriteSetting(paths::kAccountFile, QStringLiteral("NAME3"), QStringLiteral("1"));
        // The user asked for the account to be kept; losing it silently would surprise them
        // at the next start.
        if (!stored)
            Prompter::current().notify(QStringLiteral("IDとパスワードを保存できませんでした。"));
    } else {
        WriteSetting(paths::kAccountFile, QStringLiteral("NAME3"), QStringLiteral("0"));
    }
    close();
}

} // namespace kiku
