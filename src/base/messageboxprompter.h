#pragma once

#include "base/prompter.h"

namespace kiku {

// The program's prompter: questions and notices as message boxes over the active window.
class MessageBoxPrompter : public Prompter {
public:
    // The title of a notice that names none.
    static QString defaultTitle();

    // Yes and No, the question icon and the title "確認". True for Yes.
    bool askYesNo(const QString& question) override;
    // An OK button only; an empty title shows the program's name.
    void notify(const QString& text, const QString& title = {}) override;
    // The warning icon and an OK button.
    void warn(const QString& text, const QString& title = {}) override;
    // The exclamation icon, OK and Cancel.
    bool askOkCancel(const QString& text, const QString& title) override;
};

} // namespace kiku
