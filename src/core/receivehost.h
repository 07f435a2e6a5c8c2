#pragma once

#include "core/receivecycle.h"

#include <QElapsedTimer>
#include <optional>

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
    // Kept until the run is over: the viewer's boxes and pane would show only the last
    // message of the run anyway, and filling them for every message costs more than the
    // rest of the window's part of the run.
    void stage(const StagedMail& mail) override;
    // The message staged last into the viewer, with its count box; once, after the run.
    void showStagedMail();
    // "受信中 3/120" in the status line, made visible and painted at once: the run does not
    // yield, so the event loop would not get round to it before the end. Shown for the
    // first message and then whenever a tenth of a second has passed, a sign of life
    // without paying a layout and a repaint for every message.
    void progress(int number, int total) override;

    static QString progressText(int number, int total);

private:
    MainForm& m_main;
    std::optional<StagedMail> m_staged;
    QElapsedTimer m_sincePaint;
};

} // namespace kiku
