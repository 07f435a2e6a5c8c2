#include "settings/optionform.h"

#include "base/paths.h"
#include "base/prompter.h"
#include "base/singleline.h"
#include "settings/serversettings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace kiku {

namespace {
QLineEdit* addField(QGridLayout* grid, int row, const QString& caption, const char* name,
                    QWidget* parent) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    // Each value is one line of zadiru.ini.
    keepSingleLine(box);
    auto* label = new QLabel(caption, parent);
    label->setBuddy(box);
    grid->addWidget(label, row, 0);
    grid->addWidget(box, row, 1);
    return box;
}
} // namespace

OptionForm::OptionForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("サーバー設定"));
    // Kept in front of every other window, so it is not lost behind the main window.
    setWindowFlag(Qt::WindowStaysOnTopHint, true);

    auto* grid = new QGridLayout(this);
    m_smtpText = addField(grid, 0, QStringLiteral("SMTPサーバー名(&S)"), "SmtpText", this);
    m_pop3Text = addField(grid, 1, QStringLiteral("POP3サーバー名(&P)"), "Pop3Text", this);
    m_mailText = addField(grid, 2, QStringLiteral("メールアドレス(&M)"), "MailText", this);
    m_apopCheck = new QCheckBox(QStringLiteral("APOP を使用する(&A)"), this);
    m_apopCheck->setObjectName(QStringLiteral("ApopCheck"));
    grid->addWidget(m_apopCheck, 3, 0, 1, 2);

    // For a user who also reads the mail elsewhere (a phone): each message is fetched once
    // and stays on the server, deleted there after the days set (0: never).
    m_keepCheck = new QCheckBox(QStringLiteral("サーバーにメールを残す(&K)"), this);
    m_keepCheck->setObjectName(QStringLiteral("KeepCheck"));
    m_keepDays = new QSpinBox(this);
    m_keepDays->setObjectName(QStringLiteral("KeepDays"));
    m_keepDays->setRange(0, KeepOnServer::kMaxDays);
    m_keepDays->setSpecialValueText(QStringLiteral("削除しない"));
    m_keepDays->setSuffix(QStringLiteral(" 日後に削除"));
    m_keepDays->setAccessibleName(QStringLiteral("サーバーから削除するまでの日数"));
    grid->addWidget(m_keepCheck, 4, 0);
    grid->addWidget(m_keepDays, 4, 1);
    connect(m_keepCheck, &QCheckBox::toggled, m_keepDays, &QSpinBox::setEnabled);

    // Neither button answers Enter: a half-typed server name is not confirmed by accident.
    m_okCommand = new QPushButton(QStringLiteral("設定"), this);
    m_okCommand->setObjectName(QStringLiteral("OkCommand"));
    m_okCommand->setAutoDefault(false);
    m_cancelCommand = new QPushButton(QStringLiteral("中止"), this);
    m_cancelCommand->setObjectName(QStringLiteral("CancelCommand"));
    m_cancelCommand->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_okCommand);
    buttons->addWidget(m_cancelCommand);
    grid->addLayout(buttons, 5, 0, 1, 2);
    m_smtpText->setMinimumWidth(260);

    connect(m_okCommand, &QPushButton::clicked, this, &OptionForm::confirm);
    connect(m_cancelCommand, &QPushButton::clicked, this, &OptionForm::close);

    load();
}

void OptionForm::load() {
    const ServerSettings& settings = ServerSettings::current();
    m_smtpText->setText(settings.smtpServer);
    m_pop3Text->setText(settings.pop3Server);
    m_mailText->setText(settings.senderAddress);
    m_apopCheck->setChecked(settings.useApop != 0);
    const KeepOnServer keep = KeepOnServer::load();
    m_keepCheck->setChecked(keep.keep);
    m_keepDays->setValue(keep.days);
    m_keepDays->setEnabled(keep.keep);
}

void OptionForm::confirm() {
    ServerSettings& settings = ServerSettings::current();
    // Taken as typed: a server name with a space in it is the user's to fix.
    settings.smtpServer = m_smtpText->text();
    settings.pop3Server = m_pop3Text->text();
    settings.senderAddress = m_mailText->text();
    settings.useApop = m_apopCheck->isChecked() ? 1 : 0;
    // The new settings are in effect for this run either way; say so when the file could
    // not keep them, rather than let the next start come up without them.
    KeepOnServer keep;
    keep.keep = m_keepCheck->isChecked();
    keep.days = m_keepDays->value();
    if (!SaveServerSettings(settings, paths::kServerSettingsFile) || !keep.save())
        Prompter::current().notify(QStringLiteral("サーバー設定を保存できませんでした。"));
    close();
}

} // namespace kiku
