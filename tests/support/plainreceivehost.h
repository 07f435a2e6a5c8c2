#pragma once

#include "core/receivecycle.h"

namespace kiku::test {

// The windows of a receive run as plain values: the account and partner boxes it reads
// and the received count it keeps. Staging and progress go nowhere; a test that checks
// them overrides stage() and progress(). The account is DovecotServer's default user.
class PlainReceiveHost : public ReceiveHost {
public:
    QString userId = QStringLiteral("alice");
    QString password = QStringLiteral("secret");
    QString partner;
    QString count;

    QString accountUserId() override { return userId; }
    QString accountPassword() override { return password; }
    QString partnerAddress() override { return partner; }
    QString receivedCount() override { return count; }
    void setReceivedCount(const QString& text) override { count = text; }
    void stage(const StagedMail&) override {}
    void progress(int, int) override {}
};

} // namespace kiku::test
