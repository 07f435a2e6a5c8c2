// Sending speed: NMailSmtpSendMail against msmtp, both handing the same messages to one
// aiosmtpd on 127.0.0.1 in the same run. Also the MIME writer alone on a large attachment.
//
//   bench_smtp [small-count] [large-count] [large-MiB]
#include "maillib/mimewriter.h"
#include "maillib/nmail.h"
#include "smtpserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>

using namespace kiku;

namespace {

const QString kFrom = QStringLiteral("taro@example.jp");
const QString kTo = QStringLiteral("hanako@example.com");

struct Workload {
    const char* name;
    int count;
    QString subject;
    QString body;
    QString attachment; // path, or empty
    qint64 bytesPerMessage = 0;
};

void report(const char* who, const Workload& w, qint64 ms) {
    const double seconds = qMax<qint64>(ms, 1) / 1000.0;
    std::printf("  %-10s %-26s %5d msgs %8.1f ms  %8.1f msgs/s  %7.2f MiB/s\n", who, w.name,
                w.count, double(ms), w.count / seconds,
                w.bytesPerMessage * w.count / seconds / (1024.0 * 1024.0));
}

// -1 when a send failed.
qint64 timeKiku(const test::SmtpServer& server, const Workload& w) {
    NMail mail;
    mail.NMailInitializeWinSock();
    const QString host = QStringLiteral("127.0.0.1:%1").arg(server.port());
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < w.count; ++i) {
        if (mail.NMailSmtpSendMail(host, kTo, {}, {}, kFrom, w.subject, w.body, {}, w.attachment,
                                   0) < 0) {
            std::fprintf(stderr, "KikuMail send failed: %s\n", qPrintable(mail.lastError()));
            return -1;
        }
    }
    return clock.elapsed();
}

// msmtp started once per message, as a mail program would call it, reading the same bytes.
qint64 timeMsmtp(const QString& msmtp, const test::SmtpServer& server, const Workload& w,
                 const QByteArray& message) {
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < w.count; ++i) {
        QProcess p;
        p.start(msmtp,
                {QStringLiteral("--host=127.0.0.1"), QStringLiteral("--port=%1").arg(server.port()),
                 QStringLiteral("--auth=off"), QStringLiteral("--tls=off"),
                 QStringLiteral("--from=") + kFrom, kTo});
        p.write(message);
        p.closeWriteChannel();
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            std::fprintf(stderr, "msmtp failed: %s\n", p.readAllStandardError().constData());
            return -1;
        }
    }
    return clock.elapsed();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int smallCount = argc > 1 ? std::atoi(argv[1]) : 200;
    const int largeCount = argc > 2 ? std::atoi(argv[2]) : 10;
    const int largeMiB = argc > 3 ? std::atoi(argv[3]) : 4;

    QTemporaryDir dir;
    const QString bigFile = dir.filePath(QStringLiteral("資料.bin"));
    {
        QFile f(bigFile);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        QByteArray block(1024 * 1024, '\0');
        for (int m = 0; m < largeMiB; ++m) {
            for (qsizetype i = 0; i < block.size(); ++i)
                block[i] = char((i * 131 + m * 7) ^ (i >> 9));
            f.write(block);
        }
    }

    QList<Workload> workloads = {
        {"small Japanese text", smallCount, QString::fromUtf8("お見積りの件"),
         QString::fromUtf8("いつもお世話になっております。\r\n").repeated(20), QString()},
        {"large attachment", largeCount, QString::fromUtf8("資料送付"),
         QString::fromUtf8("資料をお送りします。\r\n"), bigFile},
    };

    // The MIME writer alone.
    MimeWriter writer;
    OutgoingMessage big;
    big.from = {QString(), kFrom};
    big.to = {{QString(), kTo}};
    big.subject = workloads[1].subject;
    big.body = workloads[1].body;
    big.attachments = {bigFile};
    QElapsedTimer clock;
    clock.start();
    const int builds = 10;
    qsizetype builtSize = 0;
    for (int i = 0; i < builds; ++i)
        builtSize = writer.write(big).value_or(QByteArray()).size();
    const qint64 buildMs = qMax<qint64>(clock.elapsed(), 1);
    std::printf("MIME writer: %d MiB attachment -> %lld bytes, %.1f ms per message, %.1f MiB/s "
                "of input\n",
                largeMiB, static_cast<long long>(builtSize), double(buildMs) / builds,
                largeMiB * builds / (buildMs / 1000.0));

    test::SmtpServer server;
    if (!server.start()) {
        std::fprintf(stderr, "aiosmtpd: %s\n", qPrintable(server.error()));
        return 1;
    }
    const QString msmtp = QStandardPaths::findExecutable(QStringLiteral("msmtp"));
    std::printf("SMTP to aiosmtpd on 127.0.0.1 (the server is the same for both):\n");
    for (Workload& w : workloads) {
        OutgoingMessage m;
        m.from = {QString(), kFrom};
        m.to = {{QString(), kTo}};
        m.subject = w.subject;
        m.body = w.body;
        if (!w.attachment.isEmpty())
            m.attachments = {w.attachment};
        const QByteArray message = writer.write(m).value_or(QByteArray());
        w.bytesPerMessage = message.size();

        const qint64 kikuMs = timeKiku(server, w);
        if (kikuMs < 0)
            return 1;
        report("KikuMail", w, kikuMs);
        if (msmtp.isEmpty()) {
            std::printf("  msmtp      not installed (scripts/setup.sh installs it)\n");
            continue;
        }
        const qint64 msmtpMs = timeMsmtp(msmtp, server, w, message);
        if (msmtpMs < 0)
            return 1;
        report("msmtp", w, msmtpMs);
    }
    std::printf("messages received by the server: %lld\n",
                static_cast<long long>(server.receivedMessages().size()));
    return 0;
}
