#pragma once

#include "base/pictures.h"
#include "store/storeresult.h"

#include <QDialog>
#include <QHash>
#include <QList>

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace kiku {

// The address book: pairs of a name and a mail address kept in vbmdata.data, in the order
// they were registered. The compose window reads the same file on its own; this window
// never holds it open, so the file always shows the last completed operation.
class FriendForm : public QDialog {
    Q_OBJECT
public:
    explicit FriendForm(QWidget* parent = nullptr);

    // Limits of the two typed fields, in characters.
    static constexpr int kAddressLength = 60;
    static constexpr int kNameLength = 30;

    // The viewer puts a sender's address here before showing the window.
    QLineEdit* addressBox() const { return m_text4; }
    QLineEdit* nameBox() const { return m_text2; }
    QLineEdit* nameCardBox() const { return m_text50; }
    QLineEdit* countBox() const { return m_text3; }
    QListWidget* list() const { return m_list1; }
    QLabel* statusLabel() const { return m_label7; }
    QLabel* registerLabel() const { return m_label9; }
    QLabel* deleteLabel() const { return m_label8; }
    QPushButton* nameCardButton() const { return m_command38; }
    QPushButton* pasteButton() const { return m_command1; }
    QPlainTextEdit* helpBox() const { return m_text5; }

    // The record number behind each list line, line 0 first.
    const QList<int>& recordNumbers() const { return m_recordNumbers; }

    static QString nameCardHint();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void fillList();
    void registerEntry();
    void selectEntry();
    void deleteEntry();
    void insertNameCard();
    void paste();

    void addHint(QWidget* control, const QString& hint);
    void showHint(const QString& hint);
    // The selected line, or -1 after warning that there is none.
    int selectedLineOrWarn();
    // Shows a failed operation's error (and any notice); true when it worked.
    bool report(const StoreResult& result);

    QLineEdit* m_text4 = nullptr;
    QLineEdit* m_text2 = nullptr;
    QLineEdit* m_text50 = nullptr;
    QLineEdit* m_text3 = nullptr;
    QPushButton* m_command38 = nullptr;
    QPushButton* m_command1 = nullptr;
    QLabel* m_label9 = nullptr;
    QLabel* m_label8 = nullptr;
    ClickTracker m_clicks; // one double-click on a label is one click
    QLabel* m_label7 = nullptr;
    QListWidget* m_list1 = nullptr;
    QPlainTextEdit* m_text5 = nullptr;

    QHash<QObject*, QString> m_hints;
    QList<int> m_recordNumbers;
    int m_currentRecord = 0;
};

} // namespace kiku
