#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace kiku {

// The server window: SMTP server, POP3 server, the user's own address and APOP. It stays
// above the other windows, shows the server settings in effect and replaces them (memory
// and zadiru.ini) when confirmed. Below them, "サーバーにメールを残す" and its days, saved
// in a settings file of their own.
class OptionForm : public QDialog {
    Q_OBJECT
public:
    explicit OptionForm(QWidget* parent = nullptr);

    QLineEdit* smtpBox() const { return m_smtpText; }
    QLineEdit* pop3Box() const { return m_pop3Text; }
    QLineEdit* mailBox() const { return m_mailText; }
    QCheckBox* apopBox() const { return m_apopCheck; }
    QCheckBox* keepBox() const { return m_keepCheck; }
    QSpinBox* keepDaysBox() const { return m_keepDays; }

private:
    void load();
    void confirm();

    QLineEdit* m_smtpText = nullptr;
    QLineEdit* m_pop3Text = nullptr;
    QLineEdit* m_mailText = nullptr;
    QCheckBox* m_apopCheck = nullptr;
    QCheckBox* m_keepCheck = nullptr;
    QSpinBox* m_keepDays = nullptr;
    QPushButton* m_okCommand = nullptr;
    QPushButton* m_cancelCommand = nullptr;
};

} // namespace kiku
