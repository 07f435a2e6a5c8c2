#pragma once

#include "smtpserver.h"
#include "temphome.h"
#include "testca.h"

#include <QFile>

namespace kiku::test {

// An aiosmtpd that wants a login over STARTTLS, as real providers do: the program logs in
// only over an encrypted connection. Its certificate comes from a test CA that the program
// folder trusts through ★MailData/ca.pem.
class LoginSmtpServer {
public:
    bool start(const TempHome& home, const QString& user, const QString& password,
               bool authOptional = false) {
        if (!m_ca.isValid()) {
            m_error = m_ca.error();
            return false;
        }
        if (!trustIn(home))
            return false;
        SmtpServerOptions options;
        options.user = user;
        options.password = password;
        options.authOptional = authOptional;
        options.tls = SmtpServerOptions::Tls::StartTls;
        options.certificatePath = m_ca.serverCertificatePath();
        options.keyPath = m_ca.serverKeyPath();
        if (!m_server.start(options)) {
            m_error = m_server.error();
            return false;
        }
        return true;
    }

    // Makes the program folder `home` trust the server's certificate.
    bool trustIn(const TempHome& home) {
        QFile ca(m_ca.caCertificatePath());
        if (!ca.open(QIODevice::ReadOnly)) {
            m_error = ca.errorString();
            return false;
        }
        home.writeFile(QStringLiteral("\\★MailData\\ca.pem"), ca.readAll());
        return true;
    }

    // The server name as the settings spell it.
    QString address() const {
        return QStringLiteral("smtp+starttls://127.0.0.1:%1").arg(m_server.port());
    }
    SmtpServer& server() { return m_server; }
    QString error() const { return m_error; }

private:
    TestCa m_ca;
    SmtpServer m_server;
    QString m_error;
};

} // namespace kiku::test
