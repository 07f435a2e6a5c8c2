#include "base/prompter.h"

namespace kiku {

namespace {
// Used before a real prompter is installed: says No and shows nothing.
class SilentPrompter : public Prompter {
public:
    bool askYesNo(const QString&) override { return false; }
    void notify(const QString&, const QString&) override {}
};

SilentPrompter s_silent;
Prompter* s_current = &s_silent;
} // namespace

Prompter& Prompter::current() {
    return *s_current;
}

void Prompter::install(Prompter* prompter) {
    s_current = prompter ? prompter : &s_silent;
}

} // namespace kiku
