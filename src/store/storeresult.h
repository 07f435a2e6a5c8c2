#pragma once

#include <QString>

namespace kiku {

// The outcome of a mailbox or address-file operation. A failed operation has changed
// nothing on disk (or, when it was interrupted half-way, left the old contents in the
// temporary companion, which the next operation restores) and says why in `error`, a
// plain Japanese sentence ready for a message box. `notice` carries something the user
// should hear about even when the operation worked (for instance a damaged tail of a
// file moved into a side file); show it when it is not empty.
struct StoreResult {
    bool ok = true;
    QString error;
    QString notice;

    static StoreResult failure(const QString& text) { return {false, text, {}}; }
    explicit operator bool() const { return ok; }

    // Adds a notice, keeping an earlier one.
    void addNotice(const QString& text) {
        if (text.isEmpty())
            return;
        notice = notice.isEmpty() ? text : notice + QLatin1Char('\n') + text;
    }
};

} // namespace kiku
