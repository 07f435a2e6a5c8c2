// The whole receive cycle on 1,000 small messages from one local Dovecot (account saved,
// status, size, text, attachment pass through the work file, sorting, partner count, record
// appended and synced, deletion), next to mpop fetching the same 1,000 into a maildir from
// the same server in the same run.
#include "core/paths.h"
#include "core/receivecycle.h"
#include "dovecotserver.h"
#include "maillib/nmail.h"
#include "store/mailbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

using namespace kiku;
using kiku::test::DovecotServer;

namespace {

constexpr int kMessages = 1000;
const QString kUser = QStringLiteral("alice");
const QString kPassword = QStringLiteral("secret");
const QString kPartner = QStringLiteral("partner@example.jp");

// Every tenth message comes from the partner.
QByteArray message(int i) {
    const QString from = i % 10 == 0 ? kPartner : QStringLiteral("sender%1@example.jp").arg(i);
    return QStringLiteral("From: %2\r\n"
                          "To: alice@example.jp\r\n"
                          "Subject: benchmark message %1\r\n"
                          "Date: Mon, 1 Jan 2024 10:00:00 +0900\r\n"
                          "Message-ID: <bench%1@example.jp>\r\n"
                          "MIME-Version: 1.0\r\n"
                          "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                          "\r\n"
                          "line one of message %1\r\n"
                          "line two\r\n"
                          ".a line that starts with a dot\r\n")
        .arg(i)
        .arg(from)
        .toLatin1();
}

bool load(DovecotServer& server) {
    for (int i = 0; i < kMessages; ++i)
        if (!server.addMessage(kUser, message(i)))
            return false;
    return server.messageCount(kUser) == kMessages;
}

class BenchHost : public ReceiveHost {
public:
    QString count;
    QString accountUserId() override { return kUser; }
    QString accountPassword() override { return kPassword; }
    QString partnerAddress() override { return kPartner; }
    QString receivedCount() override { return count; }
    void setReceivedCount(const QString& text) override { count = text; }
    void stage(const StagedMail&) override {}
    void progress(int, int) override {}
};

int boxCount(Box box) {
    int n = 0;
    Mailbox(box).count(n);
    return n;
}

double receiveWithCycle(DovecotServer& server, ReceiveOutcome& outcome, BenchHost& host) {
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

// mpop as bench_pop3 drives it: USER/PASS, no TLS, delivery into a maildir, keep off.
double receiveWithMpop(DovecotServer& server, const QString& work, int* received) {
    const QString maildir = work + QStringLiteral("/maildir");
    for (const char* sub : {"/new", "/cur", "/tmp"})
        QDir().mkpath(maildir + QLatin1String(sub));
    const QString rc = work + QStringLiteral("/mpoprc");
    QFile f(rc);
    if (!f.open(QIODevice::WriteOnly))
        return -1;
    f.write(QStringLiteral("defaults\n"
                           "account bench\n"
                           "host 127.0.0.1\n"
                           "port %1\n"
                           "user %2\n"
                           "password %3\n"
                           "auth user\n"
                           "tls off\n"
                           "delivery maildir %4\n"
                           "keep off\n"
                           "uidls_file %5/uidls\n")
                .arg(server.port())
                .arg(kUser, kPassword, maildir, work)
                .toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner); // mpop refuses a readable rc

    QProcess mpop;
    mpop.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    mpop.start(QStringLiteral("mpop"),
               {QStringLiteral("-q"), QStringLiteral("-C"), rc, QStringLiteral("bench")});
    mpop.waitForFinished(600000);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (mpop.exitCode() != 0)
        std::fprintf(stderr, "mpop: %s\n", mpop.readAll().constData());
    *received = int(QDir(maildir + QStringLiteral("/new")).entryList(QDir::Files).size());
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    DovecotServer server;
    if (!server.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(server.error()));
        return 1;
    }
    QTemporaryDir home;
    QTemporaryDir work;
    for (const char* folder : {"★MailData", "添付フォルダ"})
        QDir(home.path()).mkpath(QString::fromUtf8(folder));
    ProgramFolder::set(home.path());

    if (!load(server))
        return 1;
    ReceiveOutcome outcome;
    BenchHost host;
    const double cycleSeconds = receiveWithCycle(server, outcome, host);
    const int leftAfterCycle = server.messageCount(kUser);
    const int partnerRecords = boxCount(Box::PartnerInbox);
    const int otherRecords = boxCount(Box::OthersInbox);

    if (!load(server))
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
