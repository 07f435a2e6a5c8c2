#pragma once

#include "base/filedialogs.h"

#include <QPrinter>
#include <QStringList>

#include <functional>

namespace kiku::test {

// File dialogs that answer from a script: each open dialog takes the next answer, each
// folder chooser the next folder answer (an empty text is a cancel; an empty script cancels
// too). Installs itself for its lifetime.
class ScriptedFileDialogs : public FileDialogs {
public:
    ScriptedFileDialogs() { FileDialogs::install(this); }
    ~ScriptedFileDialogs() override { FileDialogs::install(nullptr); }

    void answer(const QStringList& answers) { m_answers += answers; }
    void answerFolders(const QStringList& folders) { m_folders += folders; }
    int opened() const { return m_opened; }
    int foldersAsked() const { return m_foldersAsked; }

    QString openFileName(QWidget*) override {
        ++m_opened;
        return m_answers.isEmpty() ? QString() : m_answers.takeFirst();
    }
    // The editor's dialogs take their answers from the same script; an empty answer cancels.
    std::optional<QString> openTextFileName(QWidget* parent, const QString& filter) override {
        m_lastFilter = filter;
        const QString name = openFileName(parent);
        return name.isEmpty() ? std::nullopt : std::optional<QString>(name);
    }
    std::optional<QString> saveTextFileName(QWidget* parent, const QString& filter) override {
        return openTextFileName(parent, filter);
    }
    QString lastFilter() const { return m_lastFilter; }

    // The print dialog: with `pdfFolder` set, it "prints" `copies` copies to PDF files
    // job1.pdf, job2.pdf, … in that folder; without, it is cancelled.
    void answerPrint(const QString& pdfFolder, int copies) {
        m_pdfFolder = pdfFolder;
        m_copies = copies;
    }
    bool printSelectionOffered() const { return m_selectionOffered; }
    std::optional<PrintRequest> choosePrinter(QWidget*, bool selection) override {
        m_selectionOffered = selection;
        if (m_pdfFolder.isEmpty())
            return std::nullopt;
        auto printer = std::make_shared<QPrinter>();
        printer->setOutputFormat(QPrinter::PdfFormat);
        const QString folder = m_pdfFolder;
        std::function<void(int)> beforeJob = [printer, folder](int copy) {
            printer->setOutputFileName(folder + QStringLiteral("/job%1.pdf").arg(copy));
        };
        return PrintRequest{printer, m_copies, beforeJob};
    }
    QString folderName(QWidget*) override {
        ++m_foldersAsked;
        return m_folders.isEmpty() ? QString() : m_folders.takeFirst();
    }

private:
    QStringList m_answers;
    int m_opened = 0;
    QString m_lastFilter;
    QString m_pdfFolder;
    int m_copies = 1;
    bool m_selectionOffered = false;
    QStringList m_folders;
    int m_foldersAsked = 0;
};

} // namespace kiku::test
