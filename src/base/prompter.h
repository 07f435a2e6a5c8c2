#pragma once

#include <QString>

namespace kiku {

// Every message box of the program goes through here, so tests can answer them.
class Prompter {
public:
    virtual ~Prompter() = default;

    // A question with Yes and No, the question icon and the title "確認". True for Yes.
    virtual bool askYesNo(const QString& question) = 0;

    // A notice with an OK button. An empty title means the program's default title.
    virtual void notify(const QString& text, const QString& title = {}) = 0;

    // A notice with the warning icon and an OK button. By default a plain notice.
    virtual void warn(const QString& text, const QString& title = {}) { notify(text, title); }

    // A warning with OK and Cancel under `title`. True for OK. Without an answer to give
    // (the silent prompter), Cancel.
    virtual bool askOkCancel(const QString& text, const QString& title) {
        Q_UNUSED(text);
        Q_UNUSED(title);
        return false;
    }

    // The prompter in use; the program installs the message-box one at start.
    static Prompter& current();
    // Installs a prompter (not owned); nullptr restores a silent one that answers No.
    static void install(Prompter* prompter);
};

} // namespace kiku
