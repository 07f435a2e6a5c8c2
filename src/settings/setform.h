#pragma once

#include <QDialog>

#include <functional>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kiku {

// The settings window: the way to the account and server windows, and the heart reset,
// which sets both partner counts back to 0 and ends the program.
class SetForm : public QDialog {
    Q_OBJECT
public:
    explicit SetForm(QWidget* parent = nullptr);

    QPushButton* accountButton() const { return m_command1; }
    QPushButton* serverButton() const { return m_command2; }
    QPushButton* resetButton() const { return m_command3; }
    QPlainTextEdit* explanationBox() const { return m_text2; }

    static QString explanation();
    static QString resetQuestion();

    // How the heart reset ends the program. By default the process ends on the spot, without
    // the ordinary shutdown (nothing is saved at the end: every value was written when it
    // changed); tests put a recorder here. An empty function restores the default.
    static void setEndProgram(std::function<void()> end);

private:
    void placeBesideMainWindow();
    void showAccount();
    void showServers();
    void resetHearts();

    QPushButton* m_command1 = nullptr;
    QPushButton* m_command2 = nullptr;
    QPushButton* m_command3 = nullptr;
    QLabel* m_label1 = nullptr;
    QPlainTextEdit* m_text2 = nullptr;
    QFrame* m_line1 = nullptr;
};

} // namespace kiku
