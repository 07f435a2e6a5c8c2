// The whole send operation next to msmtp, both handing their messages to one aiosmtpd on
// 127.0.0.1 in the same run:
//   - bulk mode to 1,000 address-book entries (address read, partner decision, history
//     record appended and synced, MIME writing, SMTP), against msmtp started once per
//     message with the same 1,000 messages already written;
//   - one message with a 10 MB attachment, against msmtp sending the same message.
//
//   bench_send [bulk-count] [attachment-MB] [attachment-runs]
#include "base/paths.h"
#include "compose/sendoperation.h"
#include "maillib/mimewriter.h"
#include "maillib/nmail.h"
#include "smtpserver.h"
#include "store/addressfile.h"
#include "store/mailbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace kiku;

namespace {

const QString kFrom = QStringLiteral("taro@example.jp");

// The compose window of a bulk or single send, as plain values.
class BenchHost : public SendHost {
public:
    QString recipient = QString::fromUtf8("友人各位");
    QString subject = QString::fromUtf8("忘年会のお知らせ");
    QString body = QString::fromUtf8("皆様、今年もお世話になりました。\r\n").repeated(10);
    QString attachments;
    bool bulk = false;
    QList<AddressEntry> entries;

    QString recipientText() override { return recipient; }
    QString subjectText() override { return subject; }
    QString bodyText() override { return body; }
    void setBodyText(const QString& text) override { body = text; }
    QString attachmentText() override { return attachments; }
    bool fortuneOn() override { return false; }
    bool bulkOn() override { return bulk; }
    QList<AddressEntry> nameListEntries() override { return entries; }
    void nameListChanged() override {}
    void setStatus(const QString&) override {}
    void finish() override {}
    QString accountUserId() override { return {}; }
    QString accountPassword() override { return {}; }
    QString partnerAddress() override { return QStringLiteral("partner@example.jp"); }
    QString clockText() override { return QStringLiteral("2026/12/01 10:00:00"); }
    void showSentCount(const QString&) override {}
};

QString address(int i) {
    return QStringLiteral("friend%1@example.com").arg(i);
}

// Seconds for one SendOperation run; -1 when a message did not go out.
double timeSend(BenchHost& host, const ServerSettings& settings, int expected) {
    NMail mail;
    mail.NMailInitializeWinSock();
    mail.NMailSetOption(1, 8192);
    NMailSendLibrary library(mail);
    QElapsedTimer clock;
    clock.start();
    const SendOutcome outcome = SendOperation(library, host).run(settings);
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (outcome.sent != expected) {
        std::fprintf(stderr, "KikuMail: %d of %d sent: %s\n", outcome.sent, expected,
                     qPrintable(mail.lastError()));
        return -1;
    }
    return seconds;
}

// msmtp started once per message, as a mail program calls it; -1 when one failed.
double timeMsmtp(const QString& msmtp, quint16 port, const QList<QByteArray>& messages,
                 const QStringList& recipients) {
    QElapsedTimer clock;
    clock.start();
    for (qsizetype i = 0; i < messages.size(); ++i) {
        QProcess p;
        p.start(msmtp, {QStringLiteral("--host=127.0.0.1"), QStringLiteral("--port=%1").arg(port),
                        QStringLiteral("--auth=off"), QStringLiteral("--tls=off"),
                        QStringLiteral("--from=") + kFrom, recipients.at(i)});
        p.write(messages.at(i));
        p.closeWriteChannel();
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0) {
            std::fprintf(stderr, "msmtp failed: %s\n", p.readAllStandardError().constData());
            return -1;
        }
    }
    return clock.nsecsElapsed() / 1e9;
}

QByteArray written(const BenchHost& host, const QString& to) {
    OutgoingMessage m;
    m.from = {QString(), kFrom};
    m.to = {{QString(), to}};
    m.subject = host.subject;
    m.body = host.body;
    if (!host.attachments.isEmpty())
        m.attachments = {host.attachments};
    return MimeWriter().write(m).value_or(QByteArray());
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int bulkCount = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int attachmentMB = argc > 2 ? std::atoi(argv[2]) : 10;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;

    QTemporaryDir home;
    if (!home.isValid() || !QDir(home.path()).mkpath(QStringLiteral("★MailData")))
        return 1;
    ProgramFolder::set(home.path());

    test::SmtpServer server;
    if (!server.start()) {
        std::fprintf(stderr, "aiosmtpd: %s\n", qPrintable(server.error()));
        return 1;
    }
    const QString msmtp = QStandardPaths::findExecutable(QStringLiteral("msmtp"));
    if (msmtp.isEmpty())
        std::printf("msmtp not installed (scripts/setup.sh installs it): KikuMail figures only\n");
    ServerSettings settings;
    settings.smtpServer = QStringLiteral("127.0.0.1:%1").arg(server.port());
    settings.senderAddress = kFrom;

    // Bulk mode.
    BenchHost bulk;
    bulk.bulk = true;
    for (int i = 1; i <= bulkCount; ++i) {
        if (!AddAddress(QStringLiteral("友人%1").arg(i), address(i))) {
            std::fprintf(stderr, "address book cannot be written\n");
            return 1;
        }
        AddressEntry line{i, {}};
        ReadAddress(i, line.record);
        bulk.entries << line;
    }
    std::printf("Bulk send of %d messages to aiosmtpd on 127.0.0.1 (%lld bytes each):\n", bulkCount,
                static_cast<long long>(written(bulk, address(1)).size()));
    const double kikuBulk = timeSend(bulk, settings, bulkCount);
    if (kikuBulk < 0)
        return 1;
    int stored = 0;
    Mailbox(Box::OthersSent).count(stored);
    std::printf("  KikuMail send operation  %8.2f s  %8.1f msgs/s  (%d history records)\n",
                kikuBulk, bulkCount / kikuBulk, stored);
    if (!msmtp.isEmpty()) {
        QList<QByteArray> messages;
        QStringList recipients;
        for (int i = 1; i <= bulkCount; ++i) {
            messages << written(bulk, address(i));
            recipients << address(i);
        }
        const double msmtpBulk = timeMsmtp(msmtp, server.port(), messages, recipients);
        if (msmtpBulk < 0)
            return 1;
        std::printf("  msmtp, once per message  %8.2f s  %8.1f msgs/s  (messages written "
                    "beforehand)\n",
                    msmtpBulk, bulkCount / msmtpBulk);
    }

    // One large attachment.
    const QString bigFile = home.filePath(QStringLiteral("資料.bin"));
    {
        QFile f(bigFile);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        QByteArray block(1000 * 1000, '\0');
        for (int m = 0; m < attachmentMB; ++m) {
            for (qsizetype i = 0; i < block.size(); ++i)
                block[i] = char((i * 131 + m * 7) ^ (i >> 9));
            if (f.write(block) != block.size())
                return 1;
        }
    }
    BenchHost single;
    single.recipient = address(1);
    single.body = QString::fromUtf8("資料をお送りします。\r\n");
    single.attachments = bigFile;
    const QByteArray bigMessage = written(single, address(1));
    std::printf("One message with a %d MB attachment (%lld bytes on the wire), median of %d:\n",
                attachmentMB, static_cast<long long>(bigMessage.size()), runs);
    QList<double> kikuRuns, msmtpRuns;
    for (int r = 0; r < runs; ++r) {
        const double s = timeSend(single, settings, 1);
        if (s < 0)
            return 1;
        kikuRuns << s;
        if (!msmtp.isEmpty()) {
            const double m = timeMsmtp(msmtp, server.port(), {bigMessage}, {address(1)});
            if (m < 0)
                return 1;
            msmtpRuns << m;
        }
    }
    const double kikuBig = median(kikuRuns);
    std::printf("  KikuMail send operation  %8.3f s  %8.1f MB/s of attachment\n", kikuBig,
                attachmentMB / kikuBig);
    if (!msmtpRuns.isEmpty()) {
        const double msmtpBig = median(msmtpRuns);
        std::printf("  msmtp                    %8.3f s  %8.1f MB/s of attachment  (message "
                    "written beforehand)\n",
                    msmtpBig, attachmentMB / msmtpBig);
    }
    std::printf("messages received by the server: %lld\n",
                static_cast<long long>(server.receivedMessages().size()));
    return 0;
}
