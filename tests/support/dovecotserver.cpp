#include "dovecotserver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kiku::test {

namespace {

quint16 freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

DovecotServer::~DovecotServer() {
    stop();
}

QString DovecotServer::maildir(const QString& user) const {
    return path(QStringLiteral("mail/") + user);
}

void DovecotServer::handToMailUser(const QString& file) const {
    if (m_mailUid >= 0 &&
        ::chown(QFile::encodeName(file).constData(), uid_t(m_mailUid), gid_t(m_mailGid)) != 0)
        qWarning("chown %s failed", qPrintable(file));
}

bool DovecotServer::writeConfiguration(const Options& options) {
    QByteArray users;
    for (auto it = options.users.cbegin(); it != options.users.cend(); ++it)
        users += it.key().toUtf8() + ":{PLAIN}" + it.value().toUtf8() + "::::::\n";
    if (!writeFile(path(QStringLiteral("users")), users))
        return false;

    // Dovecot will not read or write mail as root, and its login and auth processes run as
    // its own unprivileged users; as a plain user everything runs as that user.
    QByteArray identity;
    if (::getuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || !::getpwnam("dovecot") || !::getpwnam("dovenull")) {
            m_error = QStringLiteral("the users nobody, dovecot and dovenull must exist");
            return false;
        }
        m_mailUid = int(nobody->pw_uid);
        m_mailGid = int(nobody->pw_gid);
        identity = "default_internal_user = dovecot\n"
                   "default_login_user = dovenull\n";
    } else {
        const passwd* me = ::getpwuid(::getuid());
        const group* myGroup = ::getgrgid(::getgid());
        if (!me || !myGroup) {
            m_error = QStringLiteral("the current user has no name");
            return false;
        }
        identity = QByteArray("default_internal_user = ") + me->pw_name + "\n" +
                   "default_internal_group = " + myGroup->gr_name + "\n" +
                   "default_login_user = " + me->pw_name + "\n";
    }
    const QByteArray uid = QByteArray::number(m_mailUid >= 0 ? m_mailUid : int(::getuid()));
    const QByteArray gid = QByteArray::number(m_mailGid >= 0 ? m_mailGid : int(::getgid()));
    const QByteArray root = QFile::encodeName(m_dir.path());
    const bool tls = !options.certificatePath.isEmpty();

    QByteArray conf;
    conf += "base_dir = " + root + "/run\n";
    conf += "state_dir = " + root + "/state\n";
    conf += "log_path = " + root + "/dovecot.log\n";
    conf += "instance_name = kikutest-" + QByteArray::number(m_port) + "\n";
    conf += identity;
    conf += "protocols = pop3\n"
            "listen = 127.0.0.1\n"
            "disable_plaintext_auth = no\n"
            "auth_failure_delay = 0\n"
            "first_valid_uid = 1\n"
            "first_valid_gid = 1\n"
            "mail_fsync = never\n";
    conf += "mail_uid = " + uid + "\nmail_gid = " + gid + "\n";
    conf += QByteArray("auth_mechanisms = ") + (options.apop ? "plain apop" : "plain") + "\n";
    conf += "mail_location = maildir:" + root + "/mail/%u\n";
    conf += "pop3_uidl_format = %08Xu%08Xv\n";
    if (tls) {
        conf += "ssl = yes\n";
        conf += "ssl_cert = <" + QFile::encodeName(options.certificatePath) + "\n";
        conf += "ssl_key = <" + QFile::encodeName(options.keyPath) + "\n";
    } else {
        conf += "ssl = no\n";
    }
    conf += "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " + root +
            "/users\n}\n";
    conf += "userdb {\n  driver = passwd-file\n  args = username_format=%u " + root + "/users\n}\n";
    // No growing delay after the failed logins the tests make on purpose.
    conf += "service anvil {\n  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n}\n";
    conf += "service pop3-login {\n"
            "  inet_listener pop3 {\n    address = 127.0.0.1\n    port = " +
            QByteArray::number(m_port) + "\n  }\n";
    conf += "  inet_listener pop3s {\n    address = 127.0.0.1\n    port = " +
            QByteArray::number(tls ? m_tlsPort : 0) + "\n    ssl = yes\n  }\n}\n";
    return writeFile(path(QStringLiteral("dovecot.conf")), conf);
}

bool DovecotServer::start(const Options& options) {
    stop();
    m_error.clear();
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    // Dovecot's unprivileged processes must be able to reach the folder.
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
    m_port = freePort();
    m_tlsPort = options.certificatePath.isEmpty() ? 0 : freePort();
    while (m_tlsPort != 0 && m_tlsPort == m_port)
        m_tlsPort = freePort();
    if (m_port == 0 || !writeConfiguration(options)) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("cannot prepare the Dovecot configuration");
        return false;
    }
    QDir().mkpath(path(QStringLiteral("mail")));
    handToMailUser(path(QStringLiteral("mail")));
    for (auto it = options.users.cbegin(); it != options.users.cend(); ++it) {
        for (const char* sub : {"", "/new", "/cur", "/tmp"}) {
            const QString dir = maildir(it.key()) + QLatin1String(sub);
            QDir().mkpath(dir);
            handToMailUser(dir);
        }
    }

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(
        QStringLiteral("/usr/sbin/dovecot"),
        {QStringLiteral("-F"), QStringLiteral("-c"), path(QStringLiteral("dovecot.conf"))});
    if (!m_process.waitForStarted(5000) || !waitUntilAccepting()) {
        QFile log(path(QStringLiteral("dovecot.log")));
        const QByteArray logText = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        m_error =
            QStringLiteral("Dovecot did not start: %1 %2")
                .arg(QString::fromLocal8Bit(m_process.readAll()), QString::fromLocal8Bit(logText));
        stop();
        return false;
    }
    return true;
}

bool DovecotServer::waitUntilAccepting() {
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_process.state() != QProcess::Running)
            return false;
        bool all = true;
        for (quint16 port : {m_port, m_tlsPort}) {
            if (port == 0)
                continue;
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (!probe.waitForConnected(200))
                all = false;
            probe.abort();
        }
        if (all)
            return true;
        QThread::msleep(50);
    }
    return false;
}

void DovecotServer::stop() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
}

bool DovecotServer::addMessage(const QString& user, const QByteArray& raw) {
    // Written under tmp/ and renamed into new/, as every maildir delivery does, so the
    // server never sees half a message. The delivery number is zero-padded so that the
    // names sort in delivery order, which is the order the server numbers them in.
    const QString name = QStringLiteral("%1.M%2P%3.kikutest")
                             .arg(QDateTime::currentSecsSinceEpoch())
                             .arg(++m_delivered, 8, 10, QLatin1Char('0'))
                             .arg(QCoreApplication::applicationPid());
    const QString temporary = maildir(user) + QStringLiteral("/tmp/") + name;
    if (!writeFile(temporary, raw))
        return false;
    handToMailUser(temporary);
    return QFile::rename(temporary, maildir(user) + QStringLiteral("/new/") + name);
}

int DovecotServer::messageCount(const QString& user) const {
    int count = 0;
    for (const char* sub : {"/new", "/cur"})
        count += int(QDir(maildir(user) + QLatin1String(sub))
                         .entryList(QDir::Files | QDir::NoDotAndDotDot)
                         .size());
    return count;
}

void DovecotServer::removeAllMessages(const QString& user) const {
    for (const char* sub : {"/new", "/cur"}) {
        QDir folder(maildir(user) + QLatin1String(sub));
        for (const QString& name : folder.entryList(QDir::Files | QDir::NoDotAndDotDot))
            folder.remove(name);
    }
}

} // namespace kiku::test
