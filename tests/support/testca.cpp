#include "testca.h"

#include <QFile>
#include <QProcess>

namespace kiku::test {

TestCa::TestCa(const QString& name) {
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    QFile ext(m_dir.filePath(QStringLiteral("server.ext")));
    if (!ext.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("cannot write server.ext");
        return;
    }
    ext.write("basicConstraints=CA:FALSE\n"
              "keyUsage=digitalSignature,keyEncipherment\n"
              "extendedKeyUsage=serverAuth\n"
              "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\n");
    ext.close();

    const QString key = m_dir.filePath(QStringLiteral("ca.key"));
    const QString csr = m_dir.filePath(QStringLiteral("server.csr"));
    m_valid = run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                   "/CN=" + name, "-keyout", key, "-out", caCertificatePath(), "-addext",
                   "basicConstraints=critical,CA:TRUE", "-addext",
                   "keyUsage=critical,keyCertSign,cRLSign"}) &&
              run({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
                   serverKeyPath(), "-out", csr}) &&
              run({"x509", "-req", "-in", csr, "-CA", caCertificatePath(), "-CAkey", key,
                   "-CAcreateserial", "-days", "2", "-extfile", ext.fileName(), "-out",
                   serverCertificatePath()});
}

bool TestCa::run(const QStringList& arguments) {
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        m_error = QStringLiteral("openssl %1 failed: %2")
                      .arg(arguments.first(), QString::fromLocal8Bit(openssl.readAll()));
        return false;
    }
    return true;
}

} // namespace kiku::test
