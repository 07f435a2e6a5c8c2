#pragma once

#include "core/receivecycle.h"

namespace kiku {

class MainForm;

// The windows behind a receive run: the account window's boxes, the partner window's
// address box (both touched hidden when they are not open), the viewer's staging boxes, and
// the main window's received-count box and status line.
class FormsReceiveHost : public ReceiveHost {
public:
    explicit FormsReceiveHost(MainForm& main) : m_main(main) {}

    QString accountUserId() override;
    QString accountPassword() override;
    QString partnerAddress() override;
    QString receivedCount() override;
    void setReceivedCount(const QString& text) override;
    void stage(const StagedMail& mail) override;
    // "受信中 3/120" in the status line, made visible and painted at once: the run does not
    // yield, so the event loop would not get round to it before the end.
    void progress(int number, int total) override;

    static QString progressText(int number, int total);

private:
    MainForm& m_main;
};

} // namespace kiku
