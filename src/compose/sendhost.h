#pragma once

#include "compose/sendoperation.h"

#include <QPointer>

namespace kiku {

class WriteForm;

// The windows behind a send: the compose window's fields, the account and partner windows
// (touched hidden when they are not open) and the main window's clock and sent-count box.
class FormsSendHost : public SendHost {
public:
    explicit FormsSendHost(WriteForm& window) : m_window(&window) {}

    QString recipientText() override;
    QString subjectText() override;
    QString bodyText() override;
    void setBodyText(const QString& text) override;
    QString attachmentText() override;
    bool fortuneOn() override;
    bool bulkOn() override;
    QList<AddressEntry> nameListEntries() override;
    void nameListChanged() override;
    void setStatus(const QString& text) override;
    void finish() override;

    QString accountUserId() override;
    QString accountPassword() override;
    QString partnerAddress() override;
    QString clockText() override;
    void showSentCount(const QString& text) override;

private:
    // Guarded: the window refuses to close while its send runs, but a guard costs nothing.
    QPointer<WriteForm> m_window;
};

} // namespace kiku
