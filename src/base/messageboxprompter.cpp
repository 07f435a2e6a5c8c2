#include "base/messageboxprompter.h"

#include <QApplication>
#include <QMessageBox>

namespace kiku {

QString MessageBoxPrompter::defaultTitle() {
    return QStringLiteral("KikuMail");
}

bool MessageBoxPrompter::askYesNo(const QString& question) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), question,
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    return box.exec() == QMessageBox::Yes;
}

void MessageBoxPrompter::notify(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? defaultTitle() : title, text,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void MessageBoxPrompter::warn(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Warning, title.isEmpty() ? defaultTitle() : title, text,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

bool MessageBoxPrompter::askOkCancel(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok | QMessageBox::Cancel,
                    QApplication::activeWindow());
    return box.exec() == QMessageBox::Ok;
}

} // namespace kiku
