#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kiku {

// The account window: the POP3 user ID and password. Its two boxes are the live account
// (the receive cycle reads them at the moment it runs); they are filled from iniIdPass.ini
// each time the window is created, and written back only when the save box is ticked.
class IdPassForm : public QDialog {
    Q_OBJECT
public:
    explicit IdPassForm(QWidget* parent = nullptr);

    QString userId() const;
    QString password() const;

    QLineEdit* idBox() const { return m_idText; }
    QLineEdit* passwordBox() const { return m_passText; }
    QCheckBox* saveBox() const { return m_check1; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void load();
    void confirm();

    QLineEdit* m_idText = nullptr;
    QLineEdit* m_passText = nullptr;
    QCheckBox* m_check1 = nullptr;
    QPushButton* m_okCommand = nullptr;
    QPushButton* m_cancelCommand = nullptr;
};

} // namespace kiku
