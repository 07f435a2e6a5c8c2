#pragma once

#include <QString>
#include <QTemporaryDir>

namespace kiku::test {

// A certificate authority made with `openssl` at test time, and server certificates it
// signs for "localhost" and 127.0.0.1. Make two to test that a certificate signed by a CA
// the client does not trust is refused.
class TestCa {
public:
    // `name` goes into the subject so two CAs are told apart in error texts.
    explicit TestCa(const QString& name = QStringLiteral("KikuMail Test CA"));
    TestCa(const TestCa&) = delete;
    TestCa& operator=(const TestCa&) = delete;

    bool isValid() const { return m_valid; }
    QString error() const { return m_error; }
    // The CA certificate in PEM: what a client must trust.
    QString caCertificatePath() const { return m_dir.filePath(QStringLiteral("ca.pem")); }
    // A server certificate and key for localhost/127.0.0.1, signed by this CA.
    QString serverCertificatePath() const { return m_dir.filePath(QStringLiteral("server.pem")); }
    QString serverKeyPath() const { return m_dir.filePath(QStringLiteral("server.key")); }

private:
    bool run(const QStringList& arguments);

    QTemporaryDir m_dir;
    bool m_valid = false;
    QString m_error;
};

} // namespace kiku::test
