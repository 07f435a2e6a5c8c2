#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QPrinter;
class QWidget;

namespace kiku {

// What the print dialog gave: the printer it set up and how many copies were asked for.
// Each copy is printed as a job of its own; `beforeJob`, when set, runs before copy n
// (1-based) is started.
struct PrintRequest {
    std::shared_ptr<QPrinter> printer;
    int copies = 1;
    std::function<void(int)> beforeJob;
};

// Every file, folder and print dialog of the program goes through here, so tests can answer
// them. The program installs the Qt dialogs at start; without one installed every dialog is
// cancelled.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;

    // The common file-open dialog with no filter, title or starting folder set. An empty
    // text means cancelled.
    virtual QString openFileName(QWidget* parent) = 0;
    // The editor's open and save dialogs with a filter such as "txtファイル (*.txt *.ini)";
    // the save dialog asks before overwriting. Nothing means cancelled.
    virtual std::optional<QString> openTextFileName(QWidget* parent, const QString& filter) = 0;
    virtual std::optional<QString> saveTextFileName(QWidget* parent, const QString& filter) = 0;
    // The print dialog, offering "selection" when `selection` is true. Nothing means
    // cancelled.
    virtual std::optional<PrintRequest> choosePrinter(QWidget* parent, bool selection) = 0;

    // A folder chooser (where to save a copy). An empty text means cancelled.
    virtual QString folderName(QWidget* parent) = 0;

    // Where an export goes: a name ending in ".mbox" for an mbox file, any other for a
    // folder of .eml files. It does not ask about an existing name (the caller does). An
    // empty text means cancelled, which is also the answer of a dialog set without it.
    virtual QString exportTarget(QWidget* parent, const QString& suggested) {
        Q_UNUSED(parent);
        Q_UNUSED(suggested);
        return {};
    }

    static FileDialogs& current();
    // Installs the dialogs (not owned); nullptr restores the cancelling ones.
    static void install(FileDialogs* dialogs);
};

// The program's dialogs: Qt's own file and print dialogs over the calling window.
class QtFileDialogs : public FileDialogs {
public:
    QString openFileName(QWidget* parent) override;
    std::optional<QString> openTextFileName(QWidget* parent, const QString& filter) override;
    std::optional<QString> saveTextFileName(QWidget* parent, const QString& filter) override;
    std::optional<PrintRequest> choosePrinter(QWidget* parent, bool selection) override;
    QString folderName(QWidget* parent) override;
    QString exportTarget(QWidget* parent, const QString& suggested) override;
};

} // namespace kiku
