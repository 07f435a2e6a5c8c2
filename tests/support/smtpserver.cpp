#include "smtpserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kiku::test {

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kScript = QStringLiteral(KIKU_SMTP_SERVER_SCRIPT);
constexpr int kStartTimeoutMs = 15000;

QString messageFolder(const QTemporaryDir& dir) {
    return dir.filePath(QStringLiteral("received"));
}

} // namespace

SmtpServer::~SmtpServer() {
    stop();
}

bool SmtpServer::start(const Options& options) {
    stop();
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder: ") + m_dir.errorString();
        return false;
    }
    QStringList arguments{kScript, messageFolder(m_dir)};
    if (!options.user.isEmpty()) {
        arguments << QStringLiteral("--user") << options.user << QStringLiteral("--password")
                  << options.password << QStringLiteral("--mechanisms")
                  << options.mechanisms.join(QLatin1Char(','));
        if (options.authOptional)
            arguments << QStringLiteral("--auth-optional");
    }
    if (options.tls != Options::Tls::None) {
        arguments << QStringLiteral("--tls")
                  << (options.tls == Options::Tls::StartTls ? QStringLiteral("starttls")
                                                            : QStringLiteral("implicit"))
                  << QStringLiteral("--cert") << options.certificatePath << QStringLiteral("--key")
                  << options.keyPath;
    }
    for (const QString& r : options.rejectedRecipients)
        arguments << QStringLiteral("--reject") << r;
    if (options.dataDelaySeconds > 0)
        arguments << QStringLiteral("--data-delay") << QString::number(options.dataDelaySeconds);

    // The server's log goes to a file: a pipe nobody drains would stall it once full.
    m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("server.log")));
    m_process.setProgram(kPython);
    m_process.setArguments(arguments);
    m_process.start();
    if (!m_process.waitForStarted(kStartTimeoutMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(kPython, m_process.errorString());
        return false;
    }
    // The script binds port 0 itself and prints "READY <port>" once it listens, so there
    // is no window in which another process could take the port.
    QDeadlineTimer deadline(kStartTimeoutMs);
    QByteArray output;
    while (!deadline.hasExpired()) {
        if (m_process.canReadLine() || m_process.waitForReadyRead(int(deadline.remainingTime()))) {
            output += m_process.readAllStandardOutput();
            const qsizetype at = output.indexOf("READY ");
            const qsizetype end = output.indexOf('\n', at);
            if (at >= 0 && end > at) {
                m_port = quint16(output.mid(at + 6, end - at - 6).trimmed().toUInt());
                return m_port != 0;
            }
        }
        if (m_process.state() != QProcess::Running)
            break;
    }
    QFile log(m_dir.filePath(QStringLiteral("server.log")));
    m_error = QStringLiteral("aiosmtpd did not come up: ") + QString::fromUtf8(output) +
              (log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString());
    stop();
    return false;
}

void SmtpServer::stop() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    m_port = 0;
}

QList<ReceivedMessage> SmtpServer::receivedMessages() const {
    QList<ReceivedMessage> out;
    const QDir folder(messageFolder(m_dir));
    for (int n = 1;; ++n) {
        QFile eml(folder.filePath(QStringLiteral("%1.eml").arg(n)));
        QFile json(folder.filePath(QStringLiteral("%1.json").arg(n)));
        if (!eml.open(QIODevice::ReadOnly) || !json.open(QIODevice::ReadOnly))
            break;
        ReceivedMessage m;
        m.bytes = eml.readAll();
        const QJsonObject info = QJsonDocument::fromJson(json.readAll()).object();
        m.mailFrom = info.value(QStringLiteral("mail_from")).toString();
        for (const QJsonValue& r : info.value(QStringLiteral("rcpt_tos")).toArray())
            m.recipients << r.toString();
        m.login = info.value(QStringLiteral("login")).toString();
        m.tls = info.value(QStringLiteral("tls")).toBool();
        out << m;
    }
    return out;
}

} // namespace kiku::test
