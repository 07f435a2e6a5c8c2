#pragma once

#include "guitest.h"
#include "scriptedfiledialogs.h"
#include "scriptedprompter.h"
#include "temphome.h"

#include <memory>

namespace kiku::test {

// What a window test gives every case: a fresh program folder, a prompter that records and
// answers message boxes, and file dialogs that answer from a script. A test class derives
// from it next to QObject and calls startCase() from init() and endCase() from cleanup().
class WindowTestBed {
protected:
    void startCase() {
        m_home = std::make_unique<TempHome>();
        m_prompter = std::make_unique<ScriptedPrompter>();
        m_dialogs = std::make_unique<ScriptedFileDialogs>();
    }
    // The windows go first: closing one may still ask or write.
    void endCase() {
        closeAllWindows();
        m_dialogs.reset();
        m_prompter.reset();
        m_home.reset();
    }

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<ScriptedPrompter> m_prompter;
    std::unique_ptr<ScriptedFileDialogs> m_dialogs;
};

} // namespace kiku::test
