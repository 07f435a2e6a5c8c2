// Receiving 1,000 small messages from one local Dovecot: through NMail alone (the calls
// the receive cycle makes), then with mpop against the same server in the same run.
#include "dovecotserver.h"
#include "maillib/nmail.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

using kiku::NMail;
using kiku::test::DovecotServer;

namespace {

constexpr int kMessages = 1000;
const QString kUser = QStringLiteral("alice");
const QString kPassword = QStringLiteral("secret");

QByteArray message(int i) {
    return QStringLiteral("From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <sender%1@example.jp>\r\n"
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
        .toLatin1();
}

bool load(DovecotServer& server) {
    for (int i = 0; i < kMessages; ++i)
        if (!server.addMessage(kUser, message(i)))
            return false;
    return server.messageCount(kUser) == kMessages;
}

double receiveWithNMail(DovecotServer& server, int* received) {
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
            !body.isEmpty())
            ++*received;
        mail.NMailPop3DeleteMail(handle, i);
    }
    mail.NMailPop3Close(handle);
    return timer.nsecsElapsed() / 1e9;
}

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
    QTemporaryDir work;

    if (!load(server))
        return 1;
    int nmailReceived = 0;
    const double nmailSeconds = receiveWithNMail(server, &nmailReceived);
    const int leftAfterNMail = server.messageCount(kUser);

    if (!load(server))
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
