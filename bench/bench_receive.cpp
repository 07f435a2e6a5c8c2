// The whole receive cycle on 1,000 small messages from one local Dovecot (account saved,
// status, size, text, attachment pass through the work file, sorting, partner count, record
// appended and synced, deletion), next to mpop fetching the same 1,000 into a maildir from
// the same server in the same run.
#include "base/paths.h"
#include "benchsupport.h"
#include "core/receivecycle.h"
#include "dovecotserver.h"
#include "maillib/nmail.h"
#include "plainreceivehost.h"
#include "store/mailbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

using namespace kiku;
using namespace kiku::bench;
using kiku::test::DovecotServer;

namespace {

constexpr int kMessages = 1000;
const QString kPartner = QStringLiteral("partner@example.jp");

// Every tenth message comes from the partner.
QByteArray message(int i) {
    return smallMessage(i, i % 10 == 0 ? kPartner : QStringLiteral("sender%1@example.jp").arg(i));
}

int boxCount(Box box) {
    int n = 0;
    Mailbox(box).count(n);
    return n;
}

double receiveWithCycle(DovecotServer& server, ReceiveOutcome& outcome,
                        test::PlainReceiveHost& host) {
    NMail mail;
    mail.NMailInitializeWinSock();
    mail.NMailSetOption(1, 8192);
    NMailReceiveLibrary library(mail);
    ServerSettings settings;
    settings.pop3Server = QStringLiteral("127.0.0.1:%1").arg(server.port());
    QElapsedTimer timer;
    timer.start();
    outcome = ReceiveCycle(library, host).run(settings);
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    DovecotServer server;
    if (!startDovecot(server))
        return 1;
    QTemporaryDir home;
    QTemporaryDir work;
    for (const char* folder : {"★MailData", "添付フォルダ"})
        QDir(home.path()).mkpath(QString::fromUtf8(folder));
    ProgramFolder::set(home.path());

    if (!loadMessages(server, kMessages, message))
        return 1;
    ReceiveOutcome outcome;
    test::PlainReceiveHost host;
    host.userId = kUser;
    host.password = kPassword;
    host.partner = kPartner;
    const double cycleSeconds = receiveWithCycle(server, outcome, host);
    const int leftAfterCycle = server.messageCount(kUser);
    const int partnerRecords = boxCount(Box::PartnerInbox);
    const int otherRecords = boxCount(Box::OthersInbox);

    if (!loadMessages(server, kMessages, message))
        return 1;
    int mpopReceived = 0;
    const double mpopSeconds = receiveWithMpop(server, work.path(), &mpopReceived);
    const int leftAfterMpop = server.messageCount(kUser);

    std::printf("Receive of %d small messages from local Dovecot (USER/PASS, delete each)\n",
                kMessages);
    std::printf("  receive cycle: %4d stored (%d partner, %d others, count %s), %4d left on "
                "server, %.3f s, %8.1f messages/s\n",
                outcome.stored, partnerRecords, otherRecords, qPrintable(host.count),
                leftAfterCycle, cycleSeconds, outcome.stored / cycleSeconds);
    std::printf("  mpop         : %4d received, %4d left on server, %.3f s, %8.1f messages/s\n",
                mpopReceived, leftAfterMpop, mpopSeconds, mpopReceived / mpopSeconds);
    std::printf("  ratio        : %.2f x mpop's time\n", cycleSeconds / mpopSeconds);
    const bool whole = outcome.stored == kMessages && partnerRecords + otherRecords == kMessages &&
                       mpopReceived == kMessages;
    return whole ? 0 : 1;
}
