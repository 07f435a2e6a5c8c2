#include "benchsupport.h"

#include <algorithm>

#include "dovecotserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <cstdio>

namespace kiku::bench {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

MailRecord sampleRecord(int i) {
    MailRecord r;
    r.subject = (i % 2 ? QStringLiteral("お知らせ：会議の日程について（第%1回）")
                       : QStringLiteral("Re: weekly report #%1"))
                    .arg(i);
    r.date = QStringLiteral("Mon, %1 Jan 2024 10:%2:00 +0900").arg(1 + i % 28).arg(i % 60);
    r.from = i % 3 ? QStringLiteral("sender%1@example.jp").arg(i)
                   : QStringLiteral("山田 太郎 <taro%1@example.jp>").arg(i);
    r.body = QStringLiteral("本文です。\r\n").repeated(1 + i % 200);
    return r;
}

long memoryKb(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').first().toLong();
    }
    return -1;
}

bool resetPeakMemory() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

bool startDovecot(test::DovecotServer& server) {
    if (server.start())
        return true;
    std::fprintf(stderr, "%s\n", qPrintable(server.error()));
    return false;
}

bool loadMessages(test::DovecotServer& server, int count,
                  const std::function<QByteArray(int)>& message) {
    for (int i = 0; i < count; ++i)
        if (!server.addMessage(kUser, message(i)))
            return false;
    return server.messageCount(kUser) == count;
}

double receiveWithMpop(const test::DovecotServer& server, const QString& work, int* received) {
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

double drainServer(const test::DovecotServer& server, int count) {
    QTcpSocket socket;
    QElapsedTimer timer;
    timer.start();
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    if (!socket.waitForConnected(10000))
        return -1;
    QByteArray commands = "USER " + kUser.toUtf8() + "\r\nPASS " + kPassword.toUtf8() + "\r\n";
    for (int i = 1; i <= count; ++i)
        commands += "RETR " + QByteArray::number(i) + "\r\nDELE " + QByteArray::number(i) + "\r\n";
    socket.write(commands + "QUIT\r\n");
    // The server closes the connection after QUIT; everything before it is dropped.
    while (socket.state() == QAbstractSocket::ConnectedState) {
        if (!socket.waitForReadyRead(30000) && socket.bytesAvailable() == 0)
            break;
        socket.readAll();
    }
    return timer.nsecsElapsed() / 1e9;
}

} // namespace kiku::bench
