// Receiving 1,000 small messages from one local Dovecot: through NMail alone (the calls
// the receive cycle makes), then with mpop against the same server in the same run. Both
// store what they fetch the same way: one file per message, synced and renamed into place,
// as mpop's maildir delivery does.
#include "benchsupport.h"
#include "dovecotserver.h"
#include "maillib/nmail.h"
#include "receivecorpus.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QTemporaryDir>
#include <cstdio>

using kiku::NMail;
using namespace kiku::bench;
using kiku::test::DovecotServer;

namespace {

constexpr int kMessages = 1000;

// The sender's name is an ISO-2022-JP encoded word.
QByteArray message(int i) {
    return kiku::test::corpus::smallMessage(
        i, QStringLiteral("=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <sender%1@example.jp>").arg(i));
}

// One fetched message into its own file, durably, as a maildir delivery writes it.
bool deliver(const QString& folder, int i, const QString& header, const QString& body) {
    QSaveFile file(QStringLiteral("%1/%2.nmail").arg(folder).arg(i));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write((header + QStringLiteral("\r\n\r\n") + body).toUtf8());
    return file.commit(); // fsync, then rename
}

double receiveWithNMail(DovecotServer& server, const QString& folder, int* received) {
    NMail mail;
    mail.NMailInitializeWinSock();
    mail.NMailSetOption(1, 8192);
    QElapsedTimer timer;
    timer.start();
    const int handle = mail.NMailPop3Connect(QStringLiteral("127.0.0.1:%1").arg(server.port()));
    const int count = mail.NMailPop3Authenticate(handle, kUser, kPassword, false);
    *received = 0;
    for (int i = 1; i <= count; ++i) {
        QString subject, date, from, header, body;
        mail.NMailPop3GetMailStatus(handle, i, subject, date, from, header, 0);
        const int size = mail.NMailPop3GetMailSize(handle, i);
        if (mail.NMailPop3GetMail(handle, i, subject, date, from, header, body, size + 1) == 0 &&
            !body.isEmpty() && deliver(folder, i, header, body))
            ++*received;
        mail.NMailPop3DeleteMail(handle, i);
    }
    mail.NMailPop3Close(handle);
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    DovecotServer server;
    if (!startDovecot(server))
        return 1;
    QTemporaryDir work;

    if (!loadMessages(server, kMessages, message))
        return 1;
    int nmailReceived = 0;
    const QString stored = work.path() + QStringLiteral("/nmail");
    QDir().mkpath(stored);
    const double nmailSeconds = receiveWithNMail(server, stored, &nmailReceived);
    const int leftAfterNMail = server.messageCount(kUser);

    if (!loadMessages(server, kMessages, message))
        return 1;
    int mpopReceived = 0;
    const double mpopSeconds = receiveWithMpop(server, work.path(), &mpopReceived);
    const int leftAfterMpop = server.messageCount(kUser);

    std::printf("POP3 receive of %d small messages from local Dovecot (USER/PASS, delete each)\n",
                kMessages);
    std::printf("  NMail: %4d received, %4d left on server, %.3f s, %8.1f messages/s\n",
                nmailReceived, leftAfterNMail, nmailSeconds, nmailReceived / nmailSeconds);
    std::printf("  mpop : %4d received, %4d left on server, %.3f s, %8.1f messages/s\n",
                mpopReceived, leftAfterMpop, mpopSeconds, mpopReceived / mpopSeconds);
    return nmailReceived == kMessages && mpopReceived == kMessages ? 0 : 1;
}
