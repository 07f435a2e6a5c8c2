#pragma once

#include "base/filedialogs.h"

#include <QStringList>

namespace kiku::test {

// File dialogs that answer from a script: each open dialog takes the next answer (an empty
// text is a cancel; an empty script cancels too). Installs itself for its lifetime.
class ScriptedFileDialogs : public FileDialogs {
public:
    ScriptedFileDialogs() { FileDialogs::install(this); }
    ~ScriptedFileDialogs() override { FileDialogs::install(nullptr); }

    void answer(const QStringList& answers) { m_answers += answers; }
    int opened() const { return m_opened; }

    QString openFileName(QWidget*) override {
        ++m_opened;
        return m_answers.isEmpty() ? QString() : m_answers.takeFirst();
    }

private:
    QStringList m_answers;
    int m_opened = 0;
};

} // namespace kiku::test
