#include "maillib/transport.h"

#include "maillib/pop3client.h"

#include "oneconnectionserver.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSslError>
#include <QTcpServer>
#include <gtest/gtest.h>

#include <sys/socket.h>

using namespace kiku;

namespace {

struct AddressCase {
    const char* text;
    Protocol protocol;
    bool valid;
    const char* host;
    int port;
    Security security;
};

const AddressCase kAddressCases[] = {
    {"mail.example.jp", Protocol::Pop3, true, "mail.example.jp", 110, Security::Plain},
    {"  mail.example.jp  ", Protocol::Pop3, true, "mail.example.jp", 110, Security::Plain},
    {"mail.example.jp:1110", Protocol::Pop3, true, "mail.example.jp", 1110, Security::Plain},
    {"pop3s://mail.example.jp", Protocol::Pop3, true, "mail.example.jp", 995,
     Security::ImplicitTls},
    {"POP3S://mail.example.jp:9995/", Protocol::Pop3, true, "mail.example.jp", 9995,
     Security::ImplicitTls},
    {"pop3+starttls://mail.example.jp", Protocol::Pop3, true, "mail.example.jp", 110,
     Security::StartTls},
    {"pop3+starttls://[::1]:2110", Protocol::Pop3, true, "::1", 2110, Security::StartTls},
    {"[::1]", Protocol::Pop3, true, "::1", 110, Security::Plain},
    {"smtp.example.jp", Protocol::Smtp, true, "smtp.example.jp", 25, Security::Plain},
    {"smtps://smtp.example.jp", Protocol::Smtp, true, "smtp.example.jp", 465,
     Security::ImplicitTls},
    {"smtp+starttls://smtp.example.jp:587", Protocol::Smtp, true, "smtp.example.jp", 587,
     Security::StartTls},
    // A scheme of the other protocol, unknown schemes and unreadable ports are refused.
    {"smtps://smtp.example.jp", Protocol::Pop3, false, "", 0, Security::Plain},
    {"pop3s://mail.example.jp", Protocol::Smtp, false, "", 0, Security::Plain},
    {"imap://mail.example.jp", Protocol::Pop3, false, "", 0, Security::Plain},
    {"mail.example.jp:0", Protocol::Pop3, false, "", 0, Security::Plain},
    {"mail.example.jp:70000", Protocol::Pop3, false, "", 0, Security::Plain},
    {"mail.example.jp:abc", Protocol::Pop3, false, "", 0, Security::Plain},
    {"mail.example.jp:", Protocol::Pop3, false, "", 0, Security::Plain},
    {"", Protocol::Pop3, false, "", 0, Security::Plain},
    {"pop3s://", Protocol::Pop3, false, "", 0, Security::Plain},
    {"[::1", Protocol::Pop3, false, "", 0, Security::Plain},
};

// Serves one connection on 127.0.0.1 from a thread: sends `script`, then keeps the
// connection open until the client goes away.
class OneShotServer {
public:
    explicit OneShotServer(QByteArray script, qsizetype piece = 7)
        : m_script(std::move(script)), m_piece(piece) {}
    quint16 port() const { return m_server.port(); }

private:
    void serve(int fd) const {
        // Sent in small pieces so lines arrive split across reads.
        for (qsizetype i = 0; i < m_script.size(); i += m_piece)
            ::send(fd, m_script.constData() + i,
                   size_t(qMin<qsizetype>(m_piece, m_script.size() - i)), MSG_NOSIGNAL);
        char c;
        while (::recv(fd, &c, 1, 0) > 0) {
        }
    }

    QByteArray m_script;
    qsizetype m_piece;
    test::OneConnectionServer m_server{[this](int fd) { serve(fd); }}; // last: starts serving
};

quint16 refusedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace

TEST(Transport, ParsesServerNames) {
    for (const AddressCase& c : kAddressCases) {
        SCOPED_TRACE(c.text);
        const ServerAddress a = parseServerAddress(QString::fromUtf8(c.text), c.protocol);
        ASSERT_EQ(a.valid, c.valid) << a.error.toStdString();
        if (!c.valid) {
            EXPECT_FALSE(a.error.isEmpty());
            continue;
        }
        EXPECT_EQ(a.host, QString::fromUtf8(c.host));
        EXPECT_EQ(a.port, c.port);
        EXPECT_EQ(a.security, c.security);
    }
    // Advice that names the server again keeps a port only when the user typed one.
    EXPECT_FALSE(parseServerAddress(QStringLiteral("smtp.example.jp"), Protocol::Smtp).portTyped);
    EXPECT_TRUE(parseServerAddress(QStringLiteral("smtp.example.jp:25"), Protocol::Smtp).portTyped);
}

TEST(Transport, CertificateProblemsAreNamedInJapanese) {
    const struct {
        QSslError::SslError error;
        const char* word; // what the user must read in the reason
    } cases[] = {
        {QSslError::SelfSignedCertificate, "自己署名"},
        {QSslError::SelfSignedCertificateInChain, "自己署名"},
        {QSslError::UnableToGetLocalIssuerCertificate, "発行元"},
        {QSslError::UnableToGetIssuerCertificate, "発行元"},
        {QSslError::UnableToVerifyFirstCertificate, "発行元"},
        {QSslError::CertificateUntrusted, "信頼"},
        {QSslError::HostNameMismatch, "サーバー名"},
        {QSslError::CertificateExpired, "期限"},
        {QSslError::CertificateNotYetValid, "まだ"},
        {QSslError::CertificateRevoked, "失効"},
        {QSslError::PathLengthExceeded, "長すぎ"},
        {QSslError::CertificateSignatureFailed, "署名"},
        {QSslError::InvalidPurpose, "用途"},
        {QSslError::NoPeerCertificate, "送られて"},
    };
    static const QRegularExpression english(QStringLiteral("[A-Za-z]{2,}"));
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.error));
        const QString reason = certificateProblemText(QSslError(c.error));
        EXPECT_TRUE(reason.contains(QString::fromUtf8(c.word))) << reason.toStdString();
        EXPECT_FALSE(reason.contains(english)) << reason.toStdString();
    }
    // One we have no words for still says it is the certificate, with Qt's reason kept.
    const QSslError rare(QSslError::OcspResponseCertIdUnknown);
    const QString reason = certificateProblemText(rare);
    EXPECT_TRUE(reason.contains(QString::fromUtf8("証明書"))) << reason.toStdString();
    EXPECT_TRUE(reason.contains(rare.errorString())) << reason.toStdString();
}

TEST(Transport, ReadsLinesExactlyAcrossSplitReads) {
    QByteArray script("+OK hello\r\n");
    script += QByteArray("bin\0ary\x01\xff line\r\n", 16);
    script += "bare LF line\n";
    script += "\r\n";
    script += "last\r\n";
    OneShotServer server(script);
    LineConnection c(Protocol::Pop3, 3000);
    ASSERT_TRUE(c.connectTo(
        parseServerAddress(QStringLiteral("127.0.0.1:%1").arg(server.port()), Protocol::Pop3)))
        << c.errorText().toStdString();
    QByteArray line;
    ASSERT_TRUE(c.readLine(line));
    EXPECT_EQ(line, QByteArray("+OK hello"));
    ASSERT_TRUE(c.readLine(line));
    EXPECT_EQ(line, QByteArray("bin\0ary\x01\xff line", 14));
    ASSERT_TRUE(c.readLine(line));
    EXPECT_EQ(line, QByteArray("bare LF line"));
    ASSERT_TRUE(c.readLine(line));
    EXPECT_EQ(line, QByteArray());
    ASSERT_TRUE(c.readLine(line));
    EXPECT_EQ(line, QByteArray("last"));
    EXPECT_TRUE(c.writeLine("QUIT"));
}

// A POP3 reply comes back as sent, less the byte-stuffing and with bare LFs made CR LF,
// wherever the reads split it, and the reply after it is read whole.
TEST(Transport, Pop3ReplyLinesComeBackExactlyAcrossSplitReads) {
    const QByteArray sent = "plain\r\nbare\n..stuffed\r\n.\r\r\n..\n\nx\r\r\n";
    const QByteArray stored = "plain\r\nbare\r\n.stuffed\r\n\r\r\n.\r\n\r\nx\r\r\n";
    for (const qsizetype piece : {1, 7, 4096, 1 << 20}) {
        SCOPED_TRACE(piece);
        OneShotServer server("+OK hi\r\n-ERR no CAPA\r\n+OK\r\n" + sent.repeated(3000) +
                                 ".\r\n+OK deleted\r\n",
                             piece);
        Pop3Client client(3000);
        ASSERT_TRUE(client.connectTo(
            parseServerAddress(QStringLiteral("127.0.0.1:%1").arg(server.port()), Protocol::Pop3)));
        QByteArray message;
        ASSERT_TRUE(client.retrieve(1, message)) << client.errorText().toStdString();
        EXPECT_TRUE(message == stored.repeated(3000));
        EXPECT_TRUE(client.deleteMessage(1)) << client.errorText().toStdString();
    }
}

TEST(Transport, RefusedPortFailsWithHostAndPort) {
    const quint16 port = refusedPort();
    LineConnection c(Protocol::Pop3, 2000);
    EXPECT_FALSE(
        c.connectTo(parseServerAddress(QStringLiteral("127.0.0.1:%1").arg(port), Protocol::Pop3)));
    EXPECT_TRUE(c.errorText().contains(QStringLiteral("POP3サーバーに接続できません")));
    EXPECT_TRUE(c.errorText().contains(QStringLiteral("127.0.0.1:%1").arg(port)));
    EXPECT_FALSE(c.isConnected());
}

TEST(Transport, SilentServerEndsInBoundedFailure) {
    // Nobody ever serves the listening socket: the kernel completes the connection and no
    // byte ever comes back.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    for (const char* scheme : {"", "pop3s://"}) {
        SCOPED_TRACE(scheme);
        LineConnection c(Protocol::Pop3, 400);
        QElapsedTimer timer;
        timer.start();
        const bool connected =
            c.connectTo(parseServerAddress(QLatin1String(scheme) + QStringLiteral("127.0.0.1:") +
                                               QString::number(silent.serverPort()),
                                           Protocol::Pop3));
        QByteArray line;
        const bool ok = connected && c.readLine(line);
        EXPECT_FALSE(ok);
        EXPECT_LT(timer.elapsed(), 5000);
        EXPECT_TRUE(c.errorText().contains(QStringLiteral("127.0.0.1")))
            << c.errorText().toStdString();
    }
}

TEST(Transport, EndlessLineIsRefusedInsteadOfFillingMemory) {
    // 65 MiB without a line end: a broken or hostile server.
    OneShotServer server(QByteArray("+OK\r\n") + QByteArray(65 * 1024 * 1024, 'a'), 1 << 20);
    LineConnection c(Protocol::Pop3, 10000);
    ASSERT_TRUE(c.connectTo(
        parseServerAddress(QStringLiteral("127.0.0.1:%1").arg(server.port()), Protocol::Pop3)));
    QByteArray line;
    ASSERT_TRUE(c.readLine(line));
    EXPECT_FALSE(c.readLine(line));
    EXPECT_TRUE(c.errorText().contains(QStringLiteral("異常に長い行")))
        << c.errorText().toStdString();
    EXPECT_FALSE(c.isConnected());
}
