// Sending through NMailSmtpSendMail to a real aiosmtpd on 127.0.0.1.
#include "maillib/nmail.h"

#include "base/paths.h"
#include "smtpserver.h"
#include "temphome.h"
#include "test_mimewriter_parse.h"
#include "testca.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <memory>

using kiku::NMail;
using kiku::test::parseMail;
using kiku::test::rawHeaderField;
using kiku::test::ReceivedMessage;
using kiku::test::SmtpServer;
using kiku::test::SmtpServerOptions;
using kiku::test::TestCa;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

const QString kSender = QStringLiteral("taro@example.jp");

// The two ways into TLS, each with the scheme that asks for it.
struct TlsWay {
    SmtpServerOptions::Tls tls;
    const char* scheme;
};
const TlsWay kTlsWays[] = {{SmtpServerOptions::Tls::StartTls, "smtp+starttls://"},
                           {SmtpServerOptions::Tls::Implicit, "smtps://"}};

class SmtpSend : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_ca = std::make_unique<TestCa>();
        s_otherCa = std::make_unique<TestCa>(QStringLiteral("Stranger CA"));
    }
    static void TearDownTestSuite() {
        s_ca.reset();
        s_otherCa.reset();
    }

    void SetUp() override {
        m_mail.NMailInitializeWinSock();
        m_mail.NMailSetOption(1, 8192);
        m_mail.setTimeout(5000);
    }

    void startServer(SmtpServer& server, const SmtpServerOptions& options = {}) {
        ASSERT_TRUE(server.start(options)) << server.error().toStdString();
    }

    // The program's own CA file, which the client trusts besides the system's.
    void trustTestCa() {
        ASSERT_TRUE(s_ca->isValid()) << s_ca->error().toStdString();
        QFile ca(s_ca->caCertificatePath());
        ASSERT_TRUE(ca.open(QIODevice::ReadOnly));
        m_home.writeFile(QStringLiteral("\\★MailData\\ca.pem"), ca.readAll());
    }

    // A server with a certificate from `ca` that wants AUTH as taro, and the client set up
    // to log in as taro.
    void startTlsServer(SmtpServer& server, SmtpServerOptions::Tls tls, const TestCa& ca) {
        SmtpServerOptions options;
        options.tls = tls;
        options.certificatePath = ca.serverCertificatePath();
        options.keyPath = ca.serverKeyPath();
        options.user = QStringLiteral("taro");
        options.password = QStringLiteral("pw");
        startServer(server, options);
        m_mail.setSmtpCredentials(QStringLiteral("taro"), QStringLiteral("pw"));
    }

    QString attachment(const QString& name, const QByteArray& bytes) {
        const QString relative = QStringLiteral("files\\") + name;
        m_home.writeFile(relative, bytes);
        return m_home.file(relative);
    }

    int send(const QString& server, const QString& to, const QString& subject = u("件名"),
             const QString& body = u("本文\r\n"), const QString& attachments = QString(),
             const QString& cc = QString(), const QString& bcc = QString()) {
        return m_mail.NMailSmtpSendMail(server, to, cc, bcc, kSender, subject, body, QString(),
                                        attachments, 0);
    }

    // What NMailGetMessage hands the send operation after a failure.
    QString failureText() {
        QString text;
        int size = 8192;
        m_mail.NMailGetMessage(0, text, size);
        return text;
    }

    static QString local(const SmtpServer& server, const char* scheme = "") {
        return QString::fromLatin1(scheme) + QStringLiteral("127.0.0.1:%1").arg(server.port());
    }

    static std::unique_ptr<TestCa> s_ca;
    static std::unique_ptr<TestCa> s_otherCa;
    kiku::test::TempHome m_home;
    NMail m_mail;
};

std::unique_ptr<TestCa> SmtpSend::s_ca;
std::unique_ptr<TestCa> SmtpSend::s_otherCa;

TEST_F(SmtpSend, AttachmentsArriveAndReadBackExactly) {
    SmtpServer server;
    startServer(server);
    QByteArray picture;
    for (int i = 0; i < 200000; ++i) // several DATA chunks
        picture += char((i * 31) ^ (i >> 8));
    const QString japaneseName = u("報告書（最終）.pdf");
    const QByteArray pdf("%PDF-1.4\r\n.\r\n..leading dots survive\r\n");
    const QString list = attachment(QStringLiteral("photo.png"), picture) + QStringLiteral(",") +
                         attachment(japaneseName, pdf);
    const QString subject = u("報告書を送ります");
    const QString body = u("お疲れさまです。\n.\n..点で始まる行\r\n添付をご確認ください。\n");

    ASSERT_GE(send(local(server), u("花子 <hanako@example.com>"), subject, body, list), 0)
        << failureText().toStdString();

    const QList<ReceivedMessage> received = server.receivedMessages();
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0].mailFrom, kSender);
    EXPECT_EQ(received[0].recipients, QStringList{QStringLiteral("hanako@example.com")});
    const auto mail = parseMail(received[0].bytes);
    EXPECT_EQ(mail.subject, subject);
    EXPECT_EQ(mail.body,
              u("お疲れさまです。\r\n.\r\n..点で始まる行\r\n添付をご確認ください。\r\n"));
    EXPECT_EQ(mail.to.value(0).name, u("花子"));
    ASSERT_EQ(mail.attachments.size(), 2);
    EXPECT_EQ(mail.attachments[0].name, QStringLiteral("photo.png"));
    EXPECT_EQ(mail.attachments[0].bytes, picture);
    EXPECT_EQ(mail.attachments[1].name, japaneseName);
    EXPECT_EQ(mail.attachments[1].bytes, pdf);
}

TEST_F(SmtpSend, JapaneseGoesAsIso2022JpAndTheRestAsUtf8) {
    SmtpServer server;
    startServer(server);
    struct Case {
        QString subject;
        QString body;
        const char* charset;
    };
    const QList<Case> cases = {
        {u("会議のお知らせ"), u("明日の会議は十時からです。\r\n"), "iso-2022-jp"},
        {u("한국어 제목"), u("한국어 본문\r\n"), "utf-8"},
        {u("乾杯🍺"), u("絵文字入り🍺\r\n"), "utf-8"},
    };
    for (const Case& c : cases)
        ASSERT_GE(send(local(server), QStringLiteral("to@example.com"), c.subject, c.body), 0)
            << failureText().toStdString();

    const QList<ReceivedMessage> received = server.receivedMessages();
    ASSERT_EQ(received.size(), cases.size());
    for (qsizetype i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].subject.toStdString());
        const auto mail = parseMail(received[i].bytes);
        EXPECT_EQ(mail.bodyCharset, QString::fromLatin1(cases[i].charset));
        EXPECT_TRUE(rawHeaderField(received[i].bytes, "Subject")
                        .startsWith(QByteArray("=?") + QByteArray(cases[i].charset).toUpper()));
        EXPECT_EQ(mail.subject, cases[i].subject);
        EXPECT_EQ(mail.body, cases[i].body);
    }
}

TEST_F(SmtpSend, LongHeaderTextPassesAServerThatLimitsLines) {
    // aiosmtpd refuses any line over 1001 bytes with CR LF, as strict servers do.
    SmtpServer server;
    startServer(server);
    const QString subject = QStringLiteral("x").repeated(1200);
    const QString name = QStringLiteral("report-").repeated(30) + QStringLiteral(".txt");
    ASSERT_GE(send(local(server), u("花子 <hanako@example.com>"), subject, u("本文\r\n"),
                   attachment(name, "a")),
              0)
        << failureText().toStdString();
    const QList<ReceivedMessage> received = server.receivedMessages();
    ASSERT_EQ(received.size(), 1);
    const QByteArray& bytes = received[0].bytes;
    for (const QByteArray& line : bytes.split('\n'))
        EXPECT_LE(line.size(), 79) << line.toStdString(); // 78 and the CR
    const auto mail = parseMail(bytes);
    EXPECT_EQ(mail.subject, subject);
    ASSERT_EQ(mail.attachments.size(), 1);
    EXPECT_EQ(mail.attachments[0].name, name);
}

TEST_F(SmtpSend, EveryRecipientIsInTheEnvelopeOnce) {
    SmtpServer server;
    startServer(server);
    ASSERT_GE(send(local(server),
                   u("a@example.jp, 山田 <b@example.jp>,,\"Doe, J\" <c@example.org> "), u("件名"),
                   u("本文\r\n"), QString(), QStringLiteral("d@example.jp, a@example.jp"),
                   QStringLiteral("secret@example.jp")),
              0)
        << failureText().toStdString();
    const QList<ReceivedMessage> received = server.receivedMessages();
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0].recipients,
              (QStringList{QStringLiteral("a@example.jp"), QStringLiteral("b@example.jp"),
                           QStringLiteral("c@example.org"), QStringLiteral("d@example.jp"),
                           QStringLiteral("secret@example.jp")}));
    const auto mail = parseMail(received[0].bytes);
    EXPECT_EQ(mail.to.size(), 3);
    EXPECT_EQ(mail.cc.size(), 2);
    EXPECT_FALSE(received[0].bytes.contains("secret@example.jp")) << "Bcc leaked into the header";
}

TEST_F(SmtpSend, LogsInWithPlainOrLoginWhenTheServerAsks) {
    trustTestCa();
    for (const char* mechanism : {"PLAIN", "LOGIN"}) {
        SCOPED_TRACE(mechanism);
        SmtpServer server;
        SmtpServerOptions options;
        options.user = QStringLiteral("taro");
        options.password = u("pässwörd 秘密");
        options.mechanisms = {QString::fromLatin1(mechanism)};
        options.tls = SmtpServerOptions::Tls::StartTls;
        options.certificatePath = s_ca->serverCertificatePath();
        options.keyPath = s_ca->serverKeyPath();
        startServer(server, options);
        m_mail.setSmtpCredentials(QStringLiteral("taro"), u("pässwörd 秘密"));
        ASSERT_GE(send(local(server, "smtp+starttls://"), QStringLiteral("to@example.com")), 0)
            << failureText().toStdString();
        const QList<ReceivedMessage> received = server.receivedMessages();
        ASSERT_EQ(received.size(), 1);
        EXPECT_EQ(received[0].login, QStringLiteral("taro"));
    }
}

TEST_F(SmtpSend, LoginFailuresAreReportedWithTheServerReply) {
    struct Case {
        const char* why;
        QString user;
        QString password;
        const char* expectedReply;
        QString expectedWhy;
    };
    const QList<Case> cases = {
        {"wrong password", QStringLiteral("taro"), QStringLiteral("wrong"), "535",
         u("SMTPサーバーの認証に失敗しました（ユーザー taro）")},
        {"no account", QString(), QString(), "530",
         u("SMTPサーバーが認証を求めています（アカウントが設定されていません）")},
    };
    trustTestCa();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SmtpServer server;
        startTlsServer(server, SmtpServerOptions::Tls::StartTls, *s_ca);
        m_mail.setSmtpCredentials(c.user, c.password);
        EXPECT_LT(send(local(server, "smtp+starttls://"), QStringLiteral("to@example.com")), 0);
        const QString text = failureText();
        EXPECT_TRUE(text.contains(QLatin1String(c.expectedReply))) << text.toStdString();
        EXPECT_TRUE(text.contains(c.expectedWhy)) << text.toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("wrong"))) << "password in the error text";
        EXPECT_TRUE(server.receivedMessages().isEmpty());
    }
}

TEST_F(SmtpSend, PasswordNeverCrossesAPlainConnection) {
    // A plain server offering AUTH: whether it insists on it or not, no AUTH goes out.
    for (bool optional : {false, true}) {
        SCOPED_TRACE(optional ? "AUTH optional" : "AUTH required");
        SmtpServer server;
        SmtpServerOptions options;
        options.user = QStringLiteral("taro");
        options.password = QStringLiteral("pw");
        options.authOptional = optional;
        startServer(server, options);
        m_mail.setSmtpCredentials(QStringLiteral("taro"), QStringLiteral("pw"));
        const int result = send(local(server), QStringLiteral("to@example.com"));
        const QList<ReceivedMessage> received = server.receivedMessages();
        if (optional) {
            EXPECT_GE(result, 0) << failureText().toStdString();
            ASSERT_EQ(received.size(), 1);
            EXPECT_TRUE(received[0].login.isEmpty());
        } else {
            EXPECT_LT(result, 0);
            EXPECT_TRUE(received.isEmpty());
            const QString text = failureText();
            EXPECT_TRUE(text.contains(local(server, "smtp+starttls://") + u(" ")) &&
                        text.contains(local(server, "smtps://") + u(" ")))
                << text.toStdString();
        }
    }
}

TEST_F(SmtpSend, TlsWithTheProgramsCa) {
    trustTestCa();
    for (const TlsWay& c : kTlsWays) {
        SCOPED_TRACE(c.scheme);
        SmtpServer server;
        startTlsServer(server, c.tls, *s_ca);
        ASSERT_GE(send(local(server, c.scheme), QStringLiteral("to@example.com")), 0)
            << failureText().toStdString();
        const QList<ReceivedMessage> received = server.receivedMessages();
        ASSERT_EQ(received.size(), 1);
        EXPECT_TRUE(received[0].tls);
        EXPECT_EQ(received[0].login, QStringLiteral("taro"));
    }
}

TEST_F(SmtpSend, UntrustedCertificateIsRefused) {
    trustTestCa(); // the server's certificate comes from another CA
    ASSERT_TRUE(s_otherCa->isValid()) << s_otherCa->error().toStdString();
    for (const TlsWay& c : kTlsWays) {
        SCOPED_TRACE(c.scheme);
        SmtpServer server;
        startTlsServer(server, c.tls, *s_otherCa);
        EXPECT_LT(send(local(server, c.scheme), QStringLiteral("to@example.com")), 0);
        // The reason in Japanese, not Qt's English.
        const QString text = failureText();
        EXPECT_TRUE(text.contains(u("証明書")) && text.contains(u("発行元"))) << text.toStdString();
        EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[a-z]{3,}"))))
            << text.toStdString();
        EXPECT_TRUE(server.receivedMessages().isEmpty());
    }
}

TEST_F(SmtpSend, StartTlsNotOfferedIsAFailureNotAPlainSend) {
    SmtpServer server;
    startServer(server);
    EXPECT_LT(send(local(server, "smtp+starttls://"), QStringLiteral("to@example.com")), 0);
    EXPECT_TRUE(failureText().contains(QStringLiteral("STARTTLS"))) << failureText().toStdString();
    EXPECT_TRUE(server.receivedMessages().isEmpty());
}

TEST_F(SmtpSend, RefusedRecipientStopsTheWholeMessage) {
    SmtpServer server;
    SmtpServerOptions options;
    options.rejectedRecipients = {QStringLiteral("nobody@example.com")};
    startServer(server, options);
    EXPECT_LT(send(local(server), QStringLiteral("ok@example.com, nobody@example.com")), 0);
    const QString text = failureText();
    EXPECT_TRUE(text.contains(u("SMTPサーバーが宛先 <nobody@example.com> を受け付けませんでした")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("550 5.1.1"))) << text.toStdString();
    EXPECT_TRUE(server.receivedMessages().isEmpty());
}

TEST_F(SmtpSend, BadInputFailsBeforeAnythingIsSent) {
    SmtpServer server;
    startServer(server);
    const QString missing = m_home.file(u("files\\無い.txt"));
    struct Case {
        QString to;
        QString attachments;
        QString from;
        QString expected;
    };
    const QList<Case> cases = {
        {QStringLiteral("to@example.com"),
         attachment(QStringLiteral("ok.txt"), "ok") + u(",") + missing, kSender, missing},
        {QStringLiteral(""), QString(), kSender, u("宛先がありません")},
        {QStringLiteral("Yamada Taro"), QString(), kSender, QStringLiteral("Yamada Taro")},
        {QStringLiteral("to@example.com\r\nRCPT TO:<x@evil>"), QString(), kSender, u("宛先")},
        {QStringLiteral("to@example.com"), QString(), QString(), u("送信者")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        EXPECT_LT(m_mail.NMailSmtpSendMail(local(server), c.to, QString(), QString(), c.from,
                                           u("件名"), u("本文"), QString(), c.attachments, 0),
                  0);
        EXPECT_TRUE(failureText().contains(c.expected)) << failureText().toStdString();
    }
    EXPECT_TRUE(server.receivedMessages().isEmpty());
}

TEST_F(SmtpSend, UnreachableOrSilentServersFailWithinTheTimeout) {
    // A port nobody listens on: take a free one and let it go.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    // A listener that never answers: the kernel completes the connection, nobody greets.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    // A server that stalls after the message.
    SmtpServer slow;
    SmtpServerOptions slowOptions;
    slowOptions.dataDelaySeconds = 4;
    startServer(slow, slowOptions);

    m_mail.setTimeout(1000);
    struct Case {
        QString server;
        QString expected;
    };
    const QList<Case> cases = {
        {QStringLiteral("127.0.0.1:%1").arg(closedPort),
         u("SMTPサーバーに接続できません: 127.0.0.1:%1 (接続を拒否されました").arg(closedPort)},
        {QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()), u("応答がありません")},
        {local(slow), u("応答がありません")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server.toStdString());
        QElapsedTimer clock;
        clock.start();
        EXPECT_LT(send(c.server, QStringLiteral("to@example.com")), 0);
        EXPECT_LT(clock.elapsed(), 3500);
        EXPECT_TRUE(failureText().contains(c.expected)) << failureText().toStdString();
    }
}

} // namespace
