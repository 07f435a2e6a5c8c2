#pragma once

#include "base/filedialogs.h"

#include <QStringList>

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
    QString folderName(QWidget*) override {
        ++m_foldersAsked;
        return m_folders.isEmpty() ? QString() : m_folders.takeFirst();
    }

private:
    QStringList m_answers;
    int m_opened = 0;
    QStringList m_folders;
    int m_foldersAsked = 0;
};

} // namespace kiku::test
