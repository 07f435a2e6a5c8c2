#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kiku {

// The special-partner window: one address and one name. Its address box is the live partner
// address: the receive and send logic read it at the moment they run (touching the window
// hidden when it is not open), so a typed address counts at once and is forgotten when the
// window closes without registering.
class BunbetuForm : public QDialog {
    Q_OBJECT
public:
    explicit BunbetuForm(QWidget* parent = nullptr);

    // The address box as typed (callers trim it before comparing).
    QString address() const;
    QString partnerName() const;

    QLineEdit* addressBox() const { return m_text1; }
    QLineEdit* nameBox() const { return m_text2; }
    QPushButton* registerButton() const { return m_command1; }
    QPushButton* pasteButton() const { return m_command3; }

    static QString instructions();
    static QString hint();

private:
    void load();
    void registerPartner();
    void paste();

    QLineEdit* m_text1 = nullptr;
    QLineEdit* m_text2 = nullptr;
    QPushButton* m_command1 = nullptr;
    QPushButton* m_command3 = nullptr;
    QLabel* m_label2 = nullptr;
    QLabel* m_label3 = nullptr;
};

} // namespace kiku
