#include "base/filedialogs.h"

#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>

namespace kiku {

namespace {

// Answers every dialog as if the user cancelled it.
class CancellingDialogs : public FileDialogs {
public:
    QString openFileName(QWidget*) override { return {}; }
    std::optional<QString> openTextFileName(QWidget*, const QString&) override { return {}; }
    std::optional<QString> saveTextFileName(QWidget*, const QString&) override { return {}; }
    std::optional<PrintRequest> choosePrinter(QWidget*, bool) override { return {}; }
    QString folderName(QWidget*) override { return {}; }
};

CancellingDialogs s_cancelling;
FileDialogs* s_installed = &s_cancelling;

std::optional<QString> chosen(const QString& name) {
    if (name.isEmpty())
        return {};
    return name;
}

} // namespace

FileDialogs& FileDialogs::current() {
    return *s_installed;
}

void FileDialogs::install(FileDialogs* dialogs) {
    s_installed = dialogs ? dialogs : &s_cancelling;
}

QString QtFileDialogs::openFileName(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent);
}

std::optional<QString> QtFileDialogs::openTextFileName(QWidget* parent, const QString& filter) {
    return chosen(QFileDialog::getOpenFileName(parent, {}, {}, filter));
}

std::optional<QString> QtFileDialogs::saveTextFileName(QWidget* parent, const QString& filter) {
    return chosen(QFileDialog::getSaveFileName(parent, {}, {}, filter));
}

std::optional<PrintRequest> QtFileDialogs::choosePrinter(QWidget* parent, bool selection) {
    auto printer = std::make_shared<QPrinter>();
    QPrintDialog dialog(printer.get(), parent);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, selection);
    if (selection)
        dialog.setPrintRange(QAbstractPrintDialog::Selection);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    // The copies are printed one job each, so the printer itself prints one.
    const int copies = qMax(1, printer->copyCount());
    printer->setCopyCount(1);
    return PrintRequest{printer, copies, {}};
}

QString QtFileDialogs::folderName(QWidget* parent) {
    return QFileDialog::getExistingDirectory(parent);
}

QString QtFileDialogs::exportTarget(QWidget* parent, const QString& suggested) {
    return QFileDialog::getSaveFileName(
        parent, QStringLiteral("書き出し先"), suggested,
        QStringLiteral("mbox ファイル (*.mbox);;.eml ファイルのフォルダ (*)"), nullptr,
        QFileDialog::DontConfirmOverwrite);
}

} // namespace kiku
