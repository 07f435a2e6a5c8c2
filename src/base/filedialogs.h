#pragma once

#include <QString>

class QWidget;

namespace kiku {

// Every file, folder and print dialog of the program goes through here, so tests can answer
// them. The program installs the Qt dialogs at start; without one installed every dialog is
// cancelled.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;

    // The common file-open dialog with no filter, title or starting folder set. An empty
    // text means cancelled.
    virtual QString openFileName(QWidget* parent) = 0;

    // A folder chooser (where to save a copy). An empty text means cancelled.
    virtual QString folderName(QWidget* parent) = 0;

    static FileDialogs& current();
    // Installs the dialogs (not owned); nullptr restores the cancelling ones.
    static void install(FileDialogs* dialogs);
};

// The program's dialogs: Qt's own file dialogs over the calling window.
class QtFileDialogs : public FileDialogs {
public:
    QString openFileName(QWidget* parent) override;
    QString folderName(QWidget* parent) override;
};

} // namespace kiku
