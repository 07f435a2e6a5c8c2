// POP3 sessions of the mail library against a real Dovecot on 127.0.0.1.
#include "dovecotserver.h"
#include "maillib/nmail.h"
#include "pop3_helpers.h"
#include "temphome.h"
#include "testca.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <gtest/gtest.h>

using namespace kiku;
using namespace kiku::test;

namespace {

QString plainServer(const DovecotServer& server) {
    return QStringLiteral("127.0.0.1:%1").arg(server.port());
}

QByteArray simpleMessage(int i) {
    return crlf(QStringLiteral("From: sender%1@example.jp\n"
                               "To: alice@example.jp\n"
                               "Subject: message %1\n"
                               "Date: Mon, 1 Jan 2024 10:0%1:00 +0900\n"
                               "\n"
                               "body %1\n")
                    .arg(i)
                    .toLatin1());
}

class Pop3Session : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = new DovecotServer;
        DovecotOptions options;
        options.users = {{QStringLiteral("alice"), QStringLiteral("secret")},
                         {QStringLiteral("bob"), QStringLiteral("p@ss word")},
                         {QStringLiteral("carol"), QStringLiteral("secret")},
                         {QStringLiteral("dave"), QStringLiteral("secret")},
                         {QStringLiteral("erin"), QStringLiteral("secret")}};
        ASSERT_TRUE(s_server->start(options)) << s_server->error().toStdString();
    }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(s_server);
        m_mail.NMailInitializeWinSock();
        m_mail.NMailSetOption(1, 8192);
        m_mail.setTimeout(5000);
    }

    static DovecotServer* s_server;
    TempHome m_home;
    NMail m_mail;
};

DovecotServer* Pop3Session::s_server = nullptr;

TEST_F(Pop3Session, LogsInWithUserPassAndApop) {
    ASSERT_TRUE(s_server->addMessage(QStringLiteral("alice"), simpleMessage(1)));
    ASSERT_TRUE(s_server->addMessage(QStringLiteral("alice"), simpleMessage(2)));
    struct Case {
        const char* user;
        const char* password;
        bool apop;
        int expected;
    } cases[] = {
        {"alice", "secret", false, 2},
        {"alice", "secret", true, 2},
        {"bob", "p@ss word", false, 0},
        {"bob", "p@ss word", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user) + (c.apop ? " APOP" : " USER/PASS"));
        const int handle = m_mail.NMailPop3Connect(plainServer(*s_server));
        ASSERT_GE(handle, 0) << lastMessage(m_mail).toStdString();
        EXPECT_EQ(m_mail.NMailPop3Authenticate(handle, QString::fromUtf8(c.user),
                                               QString::fromUtf8(c.password), c.apop),
                  c.expected)
            << lastMessage(m_mail).toStdString();
        EXPECT_EQ(m_mail.NMailPop3Close(handle), 0);
    }
    EXPECT_EQ(s_server->messageCount(QStringLiteral("alice")), 2);
}

TEST_F(Pop3Session, WrongPasswordGivesTheServersText) {
    for (bool apop : {false, true}) {
        SCOPED_TRACE(apop ? "APOP" : "USER/PASS");
        const int handle = m_mail.NMailPop3Connect(plainServer(*s_server));
        ASSERT_GE(handle, 0);
        EXPECT_LT(m_mail.NMailPop3Authenticate(handle, QStringLiteral("carol"),
                                               QStringLiteral("wrong"), apop),
                  0);
        // Dovecot's own words.
        EXPECT_TRUE(lastMessage(m_mail).contains(QStringLiteral("Authentication failed")))
            << lastMessage(m_mail).toStdString();
        m_mail.NMailPop3Close(handle);
    }
}

TEST_F(Pop3Session, RefusedPortFails) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    EXPECT_EQ(m_mail.NMailPop3Connect(QStringLiteral("127.0.0.1:%1").arg(port)), -1);
    EXPECT_TRUE(lastMessage(m_mail).contains(QStringLiteral("127.0.0.1:%1").arg(port)));
}

TEST_F(Pop3Session, StartTlsRefusedWhenTheServerDoesNotOfferIt) {
    // This server has no TLS: the session must not go on in clear text.
    EXPECT_EQ(m_mail.NMailPop3Connect(
                  QStringLiteral("pop3+starttls://127.0.0.1:%1").arg(s_server->port())),
              -1);
    EXPECT_TRUE(lastMessage(m_mail).contains(QStringLiteral("STLS")))
        << lastMessage(m_mail).toStdString();
}

TEST_F(Pop3Session, SilentServerFailsWithinTheTimeout) {
    QTcpServer silent; // listens, accepts in the kernel, never says a word
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    m_mail.setTimeout(300);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(m_mail.NMailPop3Connect(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort())), -1);
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_TRUE(lastMessage(m_mail).contains(QStringLiteral("応答がありません")))
        << lastMessage(m_mail).toStdString();
}

TEST_F(Pop3Session, FetchedMessagesGoOnlyWhenTheSessionCloses) {
    const QString user = QStringLiteral("dave");
    for (int i = 1; i <= 3; ++i)
        ASSERT_TRUE(s_server->addMessage(user, simpleMessage(i)));

    // Dropped before close: fetched and marked, yet nothing is deleted.
    {
        NMail dropped;
        dropped.setTimeout(5000);
        const int handle = dropped.NMailPop3Connect(plainServer(*s_server));
        ASSERT_EQ(dropped.NMailPop3Authenticate(handle, user, QStringLiteral("secret"), false), 3);
        for (int i = 1; i <= 3; ++i) {
            QString s, d, f, h, b;
            ASSERT_EQ(dropped.NMailPop3GetMail(handle, i, s, d, f, h, b, 8192), 0);
            EXPECT_EQ(dropped.NMailPop3DeleteMail(handle, i), 0);
        }
        dropped.NMailEndWinSock();
    }
    EXPECT_EQ(s_server->messageCount(user), 3);

    int count = 0;
    const QList<ReceivedMail> mails =
        receiveAll(m_mail, plainServer(*s_server), user, QStringLiteral("secret"), false,
                   m_home.file(QStringLiteral("添付フォルダ")), true, &count);
    ASSERT_EQ(count, 3);
    ASSERT_EQ(mails.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(mails[i].subject, QStringLiteral("message %1").arg(i + 1));
        EXPECT_EQ(mails[i].from, QStringLiteral("sender%1@example.jp").arg(i + 1));
        EXPECT_EQ(mails[i].date, QStringLiteral("Mon, 1 Jan 2024 10:0%1:00 +0900").arg(i + 1));
        EXPECT_EQ(mails[i].size, simpleMessage(i + 1).size());
        EXPECT_EQ(mails[i].body, QStringLiteral("body %1\r\n").arg(i + 1));
        EXPECT_TRUE(mails[i].header.contains(QStringLiteral("Subject: message %1").arg(i + 1)));
    }
    EXPECT_EQ(s_server->messageCount(user), 0);
}

TEST_F(Pop3Session, MessageThatNeverArrivedIsNotDeleted) {
    const QString user = QStringLiteral("erin");
    ASSERT_TRUE(s_server->addMessage(user, simpleMessage(1)));
    const int handle = m_mail.NMailPop3Connect(plainServer(*s_server));
    ASSERT_EQ(m_mail.NMailPop3Authenticate(handle, user, QStringLiteral("secret"), false), 1);
    QString s, d, f, h, b;
    // Number 2 does not exist: the fetch fails, and so must the delete the caller still sends.
    EXPECT_LT(m_mail.NMailPop3GetMail(handle, 2, s, d, f, h, b, 8192), 0);
    EXPECT_LT(m_mail.NMailPop3DeleteMail(handle, 2), 0);
    // Number 1 was never fetched either.
    EXPECT_LT(m_mail.NMailPop3DeleteMail(handle, 1), 0);
    EXPECT_EQ(m_mail.NMailPop3Close(handle), 0);
    EXPECT_EQ(s_server->messageCount(user), 1);
}

TEST_F(Pop3Session, DotLinesComeBackByteForByte) {
    const QString user = QStringLiteral("bob");
    QByteArray body;
    const char* const shapes[] = {".", "..", "...", ". leading dot", "..double", ".\t", "plain"};
    for (int i = 0; i < 4000; ++i)
        body +=
            QByteArray(shapes[i % 7]) + QByteArray::number(i % 3 == 0 ? i : 0).left(i % 3) + "\r\n";
    body += ".\r\n"; // a lone dot as the last line of the message itself
    const QByteArray message = "From: dots@example.jp\r\nSubject: dots\r\n\r\n" + body;
    ASSERT_TRUE(s_server->addMessage(user, message));

    const int handle = m_mail.NMailPop3Connect(plainServer(*s_server));
    ASSERT_EQ(m_mail.NMailPop3Authenticate(handle, user, QStringLiteral("p@ss word"), false), 1);
    const int size = m_mail.NMailPop3GetMailSize(handle, 1);
    EXPECT_EQ(size, message.size());
    QString s, d, f, h, b;
    ASSERT_EQ(m_mail.NMailPop3GetMail(handle, 1, s, d, f, h, b, size + 1), 0);
    EXPECT_EQ(b.toLatin1(), body);
    EXPECT_EQ(m_mail.NMailPop3DeleteMail(handle, 1), 0);
    EXPECT_EQ(m_mail.NMailPop3Close(handle), 0);
    EXPECT_EQ(s_server->messageCount(user), 0);
}

TEST_F(Pop3Session, BuffersAreCutToTheirCapacity) {
    const QString user = QStringLiteral("bob");
    const QByteArray subject(300, 'S');
    ASSERT_TRUE(s_server->addMessage(user, "Subject: " + subject + "\r\n\r\n" +
                                               QByteArray(500, 'b') + "\r\n"));
    m_mail.NMailSetOption(1, 100);
    const int handle = m_mail.NMailPop3Connect(plainServer(*s_server));
    ASSERT_EQ(m_mail.NMailPop3Authenticate(handle, user, QStringLiteral("p@ss word"), false), 1);
    QString s, d, f, h, b;
    ASSERT_EQ(m_mail.NMailPop3GetMail(handle, 1, s, d, f, h, b, 201), 0);
    EXPECT_EQ(s, QString(99, QLatin1Char('S')));
    EXPECT_EQ(h.size(), 99);
    EXPECT_EQ(b, QString(200, QLatin1Char('b')));
    m_mail.NMailPop3DeleteMail(handle, 1);
    m_mail.NMailPop3Close(handle);
}

TEST(Pop3Apop, GreetingWithoutTimestampFailsWithoutPlaintextFallback) {
    DovecotServer server;
    DovecotOptions options;
    options.apop = false;
    ASSERT_TRUE(server.start(options)) << server.error().toStdString();
    NMail mail;
    mail.setTimeout(5000);
    const int handle = mail.NMailPop3Connect(QStringLiteral("127.0.0.1:%1").arg(server.port()));
    ASSERT_GE(handle, 0);
    // The password is right: only a silent fall back to USER/PASS could make this succeed.
    EXPECT_LT(
        mail.NMailPop3Authenticate(handle, QStringLiteral("alice"), QStringLiteral("secret"), true),
        0);
    EXPECT_TRUE(lastMessage(mail).contains(QStringLiteral("APOP")))
        << lastMessage(mail).toStdString();
    EXPECT_TRUE(lastMessage(mail).contains(QStringLiteral("タイムスタンプ")));
    mail.NMailPop3Close(handle);
}

class Pop3Tls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_ca = new TestCa;
        s_otherCa = new TestCa(QStringLiteral("Untrusted Test CA"));
        ASSERT_TRUE(s_ca->isValid()) << s_ca->error().toStdString();
        ASSERT_TRUE(s_otherCa->isValid()) << s_otherCa->error().toStdString();
        s_server = new DovecotServer;
        DovecotOptions options;
        options.certificatePath = s_ca->serverCertificatePath();
        options.keyPath = s_ca->serverKeyPath();
        ASSERT_TRUE(s_server->start(options)) << s_server->error().toStdString();
    }
    static void TearDownTestSuite() {
        delete s_server;
        delete s_ca;
        delete s_otherCa;
    }
    void trust(const TestCa& ca) {
        QFile::remove(m_home.file(QStringLiteral("★MailData/ca.pem")));
        ASSERT_TRUE(
            QFile::copy(ca.caCertificatePath(), m_home.file(QStringLiteral("★MailData/ca.pem"))));
    }

    static TestCa* s_ca;
    static TestCa* s_otherCa;
    static DovecotServer* s_server;
    TempHome m_home;
};

TestCa* Pop3Tls::s_ca = nullptr;
TestCa* Pop3Tls::s_otherCa = nullptr;
DovecotServer* Pop3Tls::s_server = nullptr;

TEST_F(Pop3Tls, ImplicitTlsAndStlsWithTheTrustedCa) {
    trust(*s_ca);
    ASSERT_TRUE(s_server->addMessage(QStringLiteral("alice"), simpleMessage(7)));
    const QString servers[] = {
        QStringLiteral("pop3s://127.0.0.1:%1").arg(s_server->tlsPort()),
        QStringLiteral("pop3+starttls://127.0.0.1:%1").arg(s_server->port()),
        QStringLiteral("pop3s://localhost:%1").arg(s_server->tlsPort()),
    };
    for (const QString& server : servers) {
        SCOPED_TRACE(server.toStdString());
        NMail mail;
        mail.setTimeout(5000);
        const int handle = mail.NMailPop3Connect(server);
        ASSERT_GE(handle, 0) << lastMessage(mail).toStdString();
        ASSERT_EQ(mail.NMailPop3Authenticate(handle, QStringLiteral("alice"),
                                             QStringLiteral("secret"), false),
                  1)
            << lastMessage(mail).toStdString();
        QString s, d, f, h;
        EXPECT_EQ(mail.NMailPop3GetMailStatus(handle, 1, s, d, f, h), 0);
        EXPECT_EQ(s, QStringLiteral("message 7"));
        EXPECT_EQ(mail.NMailPop3Close(handle), 0);
    }
}

TEST_F(Pop3Tls, UntrustedCertificateIsRefusedWithTheReason) {
    trust(*s_otherCa);
    const QString servers[] = {
        QStringLiteral("pop3s://127.0.0.1:%1").arg(s_server->tlsPort()),
        QStringLiteral("pop3+starttls://127.0.0.1:%1").arg(s_server->port()),
    };
    for (const QString& server : servers) {
        SCOPED_TRACE(server.toStdString());
        NMail mail;
        mail.setTimeout(5000);
        EXPECT_EQ(mail.NMailPop3Connect(server), -1);
        const QString text = lastMessage(mail);
        EXPECT_TRUE(text.contains(QStringLiteral("証明書"))) << text.toStdString();
        // The reason in Japanese, not Qt's "The issuer certificate of a locally looked up
        // certificate could not be found".
        EXPECT_TRUE(text.contains(QString::fromUtf8("発行元"))) << text.toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("certificate"), Qt::CaseInsensitive))
            << text.toStdString();
    }
}

} // namespace
