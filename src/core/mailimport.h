#pragma once

#include "core/receivecycle.h"
#include "exchange/exportcommand.h"

#include <QString>
#include <functional>

namespace kiku {

class NMail;

struct ImportOutcome {
    bool ok = true;
    QString error;   // why it stopped; what was stored until then is kept
    int stored = 0;  // new messages stored
    int before = 0;  // imported before: not stored again
    int leftOut = 0; // too large to be mail
    bool cancelled = false;
};

// Takes the messages of `path` (see ImportSource) in through the receive run's own path
// (ReceiveCycle::importMessages), a batch at a time: partner sorting and counting through
// `host`, attachments, originals, each batch durable before the next is read. `progress`
// gets the bytes read and the total; false cancels after the batch in hand.
ImportOutcome importMail(const QString& path, NMail& mail, ReceiveHost& host,
                         const std::function<bool(qint64 done, qint64 total)>& progress = {});

// The host of an import without windows: the partner address and the received count from
// their settings files.
class SettingsReceiveHost : public ReceiveHost {
public:
    SettingsReceiveHost();
    QString accountUserId() override { return {}; }
    QString accountPassword() override { return {}; }
    QString partnerAddress() override { return m_partner; }
    QString receivedCount() override { return m_count; }
    void setReceivedCount(const QString& text) override { m_count = text; }
    void stage(const StagedMail&) override {}
    void progress(int, int) override {}

private:
    QString m_partner;
    QString m_count;
};

// `kikumail [--home DIR] --import PATH`: the messages of an mbox file, a Maildir, a folder of
// .eml files or one .eml file, taken in without a window. Exit code 0, 1 when it failed, 2 for
// wrong arguments.
CommandOutcome runImportCommand(const QStringList& arguments);

} // namespace kiku
