#include "base/filedialogs.h"

#include <QFileDialog>

namespace kiku {

namespace {

// Answers every dialog as if the user cancelled it.
class CancellingDialogs : public FileDialogs {
public:
    QString openFileName(QWidget*) override { return {}; }
    QString folderName(QWidget*) override { return {}; }
};

CancellingDialogs s_cancelling;
FileDialogs* s_installed = &s_cancelling;

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

QString QtFileDialogs::folderName(QWidget* parent) {
    return QFileDialog::getExistingDirectory(parent);
}

} // namespace kiku
