// The send operation through the real mail library to a real aiosmtpd on 127.0.0.1, with
// the windows replaced by a host that records what it was told.
#include "compose/sendoperation.h"

#include "base/codec.h"
#include "base/paths.h"
#include "base/text.h"
#include "loginsmtpserver.h"
#include "maillib/nmail.h"
#include "scriptedprompter.h"
#include "settings/profile.h"
#include "smtpserver.h"
#include "store/addressfile.h"
#include "store/mailbox.h"
#include "store/originals.h"
#include "temphome.h"
#include "test_mimewriter_parse.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTcpServer>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <unistd.h>

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using namespace kiku;
using test::ReceivedMessage;
using test::SmtpServer;
using test::SmtpServerOptions;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

const QString kSender = QStringLiteral("taro@example.jp");
const QString kPartner = QStringLiteral("hanako@example.jp");
const QString kClock = QStringLiteral("2026/12/01 10:00:00");

// The compose, account, partner and main windows as plain values, keeping everything the
// send told them.
class RecordingHost : public SendHost {
public:
    QString recipient;
    QString subject = u("お見積りの件");
    QString body = u("いつもお世話になっております。\r\n明日伺います。");
    QString attachments;
    bool fortune = false;
    bool bulk = false;
    QList<AddressEntry> entries; // the name list as it was filled
    int refills = 0;
    QString userId;
    QString password;
    QString partner = kPartner;

    QStringList statusLog;
    QStringList bodyLog;
    QStringList sentCounts;
    int finished = 0;

    QString recipientText() override { return recipient; }
    QString subjectText() override { return subject; }
    QString bodyText() override { return body; }
    void setBodyText(const QString& text) override {
        body = text;
        bodyLog << text;
    }
    QString attachmentText() override { return attachments; }
    bool fortuneOn() override { return fortune; }
    bool bulkOn() override { return bulk; }
    QList<AddressEntry> nameListEntries() override { return entries; }
    void nameListChanged() override { ++refills; }
    void setStatus(const QString& text) override { statusLog << text; }
    void finish() override { ++finished; }
    QString accountUserId() override { return userId; }
    QString accountPassword() override { return password; }
    QString partnerAddress() override { return partner; }
    QString clockText() override { return kClock; }
    void showSentCount(const QString& text) override { sentCounts << text; }
};

// The name list of records `numbers` of the address book as it stands.
QList<AddressEntry> listed(const QList<int>& numbers) {
    QList<AddressEntry> lines;
    for (int number : numbers) {
        AddressEntry line{number, {}};
        ReadAddress(number, line.record);
        lines << line;
    }
    return lines;
}

int boxCount(Box box) {
    int n = -1;
    Mailbox(box).count(n);
    return n;
}

QList<MailRecord> records(Box box) {
    QList<MailRecord> out;
    Mailbox(box).readAll([&](int, const MailRecord& r) {
        out.append(r);
        return true;
    });
    return out;
}

std::optional<QString> sentCount() {
    const QString path = ProgramFolder::resolve(paths::kCounterFile);
    if (!QFile::exists(path))
        return std::nullopt;
    const QString value = ReadSetting(paths::kCounterFile, QStringLiteral("NAME2"));
    return value;
}

// One hand-over as the library saw it, and what was already on disk at that moment.
struct Call {
    QString server, to, cc, bcc, from, subject, body, header, attachments;
    int flag = -1;
    int partnerBox = 0;
    int othersBox = 0;
    QString count;
};

// The real library, recording every call. `result`, when set, replaces the library's
// answer (the message is then not handed to the real library at all), and `failure` is
// the text NMailGetMessage gives back in that case.
class RecordingLibrary : public SendLibrary {
public:
    explicit RecordingLibrary(NMail& mail) : m_real(mail) {}

    void setSmtpCredentials(const QString& userId, const QString& password) override {
        credentials << userId + QLatin1Char('/') + password;
        m_real.setSmtpCredentials(userId, password);
    }
    int NMailSmtpSendMail(const QString& server, const QString& to, const QString& cc,
                          const QString& bcc, const QString& from, const QString& subject,
                          const QString& body, const QString& header, const QString& attachments,
                          int flag) override {
        calls << Call{server,
                      to,
                      cc,
                      bcc,
                      from,
                      subject,
                      body,
                      header,
                      attachments,
                      flag,
                      boxCount(Box::PartnerSent),
                      boxCount(Box::OthersSent),
                      ReadSetting(paths::kCounterFile, QStringLiteral("NAME2"))};
        if (result)
            return *result;
        return m_real.NMailSmtpSendMail(server, to, cc, bcc, from, subject, body, header,
                                        attachments, flag);
    }
    int NMailGetMessage(int handle, QString& text, int& size) override {
        messageRequests << QStringLiteral("%1/%2").arg(handle).arg(size);
        if (result) {
            text = failure;
            return 0;
        }
        return m_real.NMailGetMessage(handle, text, size);
    }
    QByteArray sentMessage() override { return m_real.sentMessage(); }

    QStringList credentials;
    QList<Call> calls;
    QStringList messageRequests;
    std::optional<int> result;
    QString failure;

private:
    NMailSendLibrary m_real;
};

// A scripted draw: the given numbers in turn.
std::function<float()> draws(QList<float> values) {
    auto left = std::make_shared<QList<float>>(std::move(values));
    return [left]() { return left->isEmpty() ? 0.0f : left->takeFirst(); };
}

// The Shift-JIS bytes of a fixed-width field of raw record bytes, padding removed.
QByteArray rawField(const QByteArray& bytes, int offset, int width) {
    QByteArray field = bytes.mid(offset, width);
    while (field.endsWith(' '))
        field.chop(1);
    return field;
}

class SendOperationTest : public testing::Test {
protected:
    void SetUp() override {
        // The account window's ID logs in (over STARTTLS) when there is one; without one the
        // server takes the mail all the same.
        ASSERT_TRUE(m_login.start(*m_home, QStringLiteral("taro"), QStringLiteral("pw"), true))
            << m_login.error().toStdString();
        m_mail.NMailInitializeWinSock();
        m_mail.NMailSetOption(1, 8192);
        m_mail.setTimeout(5000);
        m_settings.smtpServer = m_login.address();
        m_settings.senderAddress = kSender;
    }

    SendOutcome run(RecordingHost& host, std::function<float()> random = draws({})) {
        return SendOperation(m_library, host, std::move(random)).run(m_settings);
    }

    QString attachment(const QString& name, const QByteArray& bytes) {
        const QString relative = QStringLiteral("files\\") + name;
        m_home->writeFile(relative, bytes);
        return m_home->file(relative);
    }

    // The messages the server got since the last look.
    QList<ReceivedMessage> newMessages() {
        const QList<ReceivedMessage> all = m_server.receivedMessages();
        const QList<ReceivedMessage> fresh = all.mid(m_seen);
        m_seen = int(all.size());
        return fresh;
    }

    std::optional<test::TempHome> m_home{std::in_place};
    test::ScriptedPrompter m_prompter;
    test::LoginSmtpServer m_login;
    SmtpServer& m_server = m_login.server();
    NMail m_mail;
    RecordingLibrary m_library{m_mail};
    ServerSettings m_settings;
    int m_seen = 0;
};

TEST_F(SendOperationTest, ASingleSendToSomeoneElseIsStoredInTheOthersSentBoxAndArrivesIntact) {
    RecordingHost host;
    host.recipient = u("山田様 <yamada@example.com>");
    host.userId = QStringLiteral("taro");
    host.password = QStringLiteral("pw");
    host.subject = u("  お見積りの件　");

    const SendOutcome outcome = run(host);

    EXPECT_EQ(outcome.messages, 1);
    EXPECT_EQ(outcome.sent, 1) << m_prompter.texts().join(u("\n")).toStdString();
    EXPECT_EQ(outcome.failed + outcome.notStored + outcome.noAddress, 0);
    EXPECT_EQ(host.statusLog,
              QStringList({SendOperation::sendingText(), SendOperation::finishedText()}));
    EXPECT_EQ(host.finished, 1);
    EXPECT_TRUE(m_prompter.shown().isEmpty());
    EXPECT_EQ(m_library.credentials, QStringList{QStringLiteral("taro/pw")});

    // The hand-over, argument by argument.
    ASSERT_EQ(m_library.calls.size(), 1);
    const Call& call = m_library.calls[0];
    EXPECT_EQ(call.server, m_settings.smtpServer);
    EXPECT_EQ(call.to, host.recipient);
    EXPECT_EQ(call.from, kSender);
    EXPECT_EQ(call.subject, host.subject);
    EXPECT_EQ(call.body, host.body);
    EXPECT_TRUE(call.cc.isEmpty() && call.bcc.isEmpty() && call.header.isEmpty());
    EXPECT_TRUE(call.attachments.isEmpty());
    EXPECT_EQ(call.flag, 0);
    EXPECT_TRUE(m_library.messageRequests.isEmpty());

    // The history: one record in vbmdata5.data, nothing for the partner, no count.
    const QList<MailRecord> stored = records(Box::OthersSent);
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(trimSpaces(stored[0].subject), u("お見積りの件"));
    EXPECT_EQ(trimSpaces(stored[0].from), host.recipient);
    EXPECT_EQ(trimSpaces(stored[0].date), kClock);
    EXPECT_EQ(trimSpaces(stored[0].body), host.body);
    EXPECT_EQ(stored[0].live, 1);
    EXPECT_EQ(boxCount(Box::PartnerSent), 0);
    EXPECT_EQ(sentCount(), std::nullopt);
    EXPECT_TRUE(host.sentCounts.isEmpty());

    // What the server got.
    const QList<ReceivedMessage> received = newMessages();
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0].mailFrom, kSender);
    EXPECT_EQ(received[0].recipients, QStringList{QStringLiteral("yamada@example.com")});
    EXPECT_EQ(received[0].login, QStringLiteral("taro"));
    const test::ParsedMail mail = test::parseMail(received[0].bytes);
    EXPECT_EQ(mail.subject, host.subject);
    EXPECT_EQ(mail.to.value(0).name, u("山田様"));
    // The text goes out with a final line end, as SMTP wants.
    EXPECT_EQ(mail.body, host.body + u("\r\n"));
    // Its record keeps what the server got, byte for byte.
    QByteArray original;
    bool found = false;
    ASSERT_TRUE(Originals::read(recordDigest(stored[0]), original, &found).ok);
    EXPECT_TRUE(found);
    EXPECT_EQ(original, received[0].bytes);
}

TEST_F(SendOperationTest, ThePartnerIsTheTrimmedRecipientBoxExactlyAndIsCounted) {
    struct Case {
        const char* why;
        QString partner;
        QString recipient;
        std::optional<QString> countBefore; // NAME2 before the send; nullopt = no file
        bool partnerSend;
        QString countAfter;
        bool delivered;
    };
    const QList<Case> cases = {
        {"spaces around the typed address", kPartner, u(" 　hanako@example.jp　 "), std::nullopt,
         true, QStringLiteral("1"), true},
        {"spaces around the registered address", u("　hanako@example.jp "), kPartner,
         QStringLiteral(""), true, QStringLiteral("1"), true},
        {"counting on", kPartner, kPartner, QStringLiteral("41"), true, QStringLiteral("42"), true},
        {"a count with rubbish after it", kPartner, kPartner, QStringLiteral("99x"), true,
         QStringLiteral("100"), true},
        {"letter case differs", kPartner, QStringLiteral("Hanako@example.jp"), std::nullopt, false,
         QString(), true},
        {"a name around the address", kPartner, u("花子 <hanako@example.jp>"), std::nullopt, false,
         QString(), true},
        // No partner and nothing typed is a match; the library refuses the empty recipient.
        {"no partner and no recipient", QString(), QString(), std::nullopt, true,
         QStringLiteral("1"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        m_home.emplace();
        ASSERT_TRUE(m_login.trustIn(*m_home));
        m_prompter.clear();
        m_library.calls.clear();
        if (c.countBefore) {
            ASSERT_TRUE(WriteSetting(paths::kCounterFile, QStringLiteral("NAME2"), *c.countBefore));
        }
        RecordingHost host;
        host.partner = c.partner;
        host.recipient = c.recipient;

        const SendOutcome outcome = run(host);

        EXPECT_EQ(outcome.sent, c.delivered ? 1 : 0);
        EXPECT_EQ(outcome.failed, c.delivered ? 0 : 1);
        EXPECT_EQ(newMessages().size(), c.delivered ? 1 : 0);
        EXPECT_EQ(host.finished, 1);
        const Box box = c.partnerSend ? Box::PartnerSent : Box::OthersSent;
        const Box other = c.partnerSend ? Box::OthersSent : Box::PartnerSent;
        const QList<MailRecord> stored = records(box);
        ASSERT_EQ(stored.size(), 1);
        EXPECT_EQ(trimSpaces(stored[0].from), trimSpaces(c.recipient));
        EXPECT_EQ(boxCount(other), 0);
        if (c.partnerSend) {
            EXPECT_EQ(sentCount(), c.countAfter);
            EXPECT_EQ(host.sentCounts, QStringList{c.countAfter});
            // Both were already written when the message was handed over.
            ASSERT_EQ(m_library.calls.size(), 1);
            EXPECT_EQ(m_library.calls[0].partnerBox, 1);
            EXPECT_EQ(m_library.calls[0].count, c.countAfter);
        } else {
            EXPECT_EQ(sentCount(), c.countBefore);
            EXPECT_TRUE(host.sentCounts.isEmpty());
        }
    }
}

TEST_F(SendOperationTest, APartnerRecordKeepsThePartnerSendLayoutOnDisk) {
    RecordingHost host;
    host.recipient = kPartner;
    ASSERT_EQ(run(host).sent, 1);

    QFile file(ProgramFolder::resolve(QStringLiteral("\\★MAilData\\vbmdata4.data")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_EQ(bytes.size(), kMailRecordSize);
    // Subject 0–99, From 100–189, Body 190–32189, CR LF, Date 32192–32281, Live.
    EXPECT_EQ(rawField(bytes, 0, 100), codec::toCp932(host.subject));
    EXPECT_EQ(rawField(bytes, 100, 90), kPartner.toLatin1());
    EXPECT_EQ(rawField(bytes, 190, 32000), codec::toCp932(host.body));
    EXPECT_EQ(bytes.mid(32190, 2), QByteArray("\r\n"));
    EXPECT_EQ(rawField(bytes, 32192, 90), kClock.toLatin1());
    EXPECT_EQ(bytes.mid(32282, 2), QByteArray("\x01\x00", 2));
    EXPECT_EQ(records(Box::PartnerSent).value(0).from.trimmed(), kPartner);
}

TEST_F(SendOperationTest, TheFortuneGoesOutAfterTheBodyButIsNotStored) {
    RecordingHost host;
    host.recipient = QStringLiteral("yamada@example.com");
    host.fortune = true;
    const QString written = host.body;

    // 0.5 draws fortune 7, the one that ends with an ideographic space.
    const SendOutcome outcome = run(host, draws({0.5f}));
    ASSERT_EQ(outcome.sent, 1);

    const QString expected = written + u("\r\n\r\n") + SendOperation::fortuneBanner() +
                             u("\r\n\r\n") + SendOperation::fortunes().at(6);
    ASSERT_TRUE(expected.endsWith(u("ニンマリ！　")));
    ASSERT_EQ(m_library.calls.size(), 1);
    EXPECT_EQ(m_library.calls[0].body, expected);
    EXPECT_EQ(SendOperation::withFortune(written, 7), expected);
    // The user sees it in the body box.
    EXPECT_EQ(host.bodyLog, QStringList{expected});

    const QList<ReceivedMessage> received = newMessages();
    ASSERT_EQ(received.size(), 1);
    const QString sentBody = test::parseMail(received[0].bytes).body;
    EXPECT_EQ(sentBody, expected + u("\r\n"));

    // The history keeps the body as written.
    const QList<MailRecord> stored = records(Box::OthersSent);
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(trimSpaces(stored[0].body), written);
}

TEST(Fortune, TheDrawNamesOneOfTwelve) {
    const float justBelowOne = std::nextafter(1.0f, 0.0f);
    const float twelfth = 1.0f / 12.0f;
    struct Case {
        float r;
        int index;
    };
    const QList<Case> cases = {
        {0.0f, 1},
        {0.08f, 1},
        {twelfth, 2},
        {0.5f, 7},
        {11.0f / 12.0f, 12},
        {justBelowOne, 12},
        // What a generator should never give still names a fortune.
        {1.0f, 12},
        {-0.25f, 1},
        {std::numeric_limits<float>::quiet_NaN(), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.r);
        EXPECT_EQ(SendOperation::fortuneIndex(c.r), c.index);
    }
    // Every index is reachable, each from a twelfth of the range.
    QList<int> hits(13, 0);
    for (int i = 0; i < 1200; ++i)
        ++hits[SendOperation::fortuneIndex((i + 0.5f) / 1200.0f)];
    for (int k = 1; k <= 12; ++k)
        EXPECT_EQ(hits[k], 100) << k;

    ASSERT_EQ(SendOperation::fortunes().size(), 12);
    // Three great, five middle, two plain and two bad fortunes, in that order.
    const QStringList kinds = {u("大吉："), u("大吉："), u("大吉："), u("中吉："),
                               u("中吉："), u("中吉："), u("中吉："), u("中吉："),
                               u("吉："),   u("吉："),   u("凶："),   u("凶：")};
    for (int k = 0; k < 12; ++k)
        EXPECT_TRUE(SendOperation::fortunes().at(k).startsWith(kinds.at(k))) << k;
}

TEST_F(SendOperationTest, TwoAttachmentsArriveWithTheirNames) {
    QByteArray picture;
    for (int i = 0; i < 100000; ++i)
        picture += char((i * 29) ^ (i >> 7));
    const QByteArray pdf("%PDF-1.4\r\n.\r\nend\r\n");
    RecordingHost host;
    host.recipient = QStringLiteral("yamada@example.com");
    host.attachments = attachment(QStringLiteral("photo.png"), picture) + QStringLiteral(",") +
                       attachment(u("見積書（改訂）.pdf"), pdf);

    ASSERT_EQ(run(host).sent, 1) << m_prompter.texts().join(u("\n")).toStdString();

    ASSERT_EQ(m_library.calls.size(), 1);
    EXPECT_EQ(m_library.calls[0].attachments, host.attachments);
    const QList<ReceivedMessage> received = newMessages();
    ASSERT_EQ(received.size(), 1);
    const test::ParsedMail mail = test::parseMail(received[0].bytes);
    EXPECT_EQ(mail.body, host.body);
    ASSERT_EQ(mail.attachments.size(), 2);
    EXPECT_EQ(mail.attachments[0].name, QStringLiteral("photo.png"));
    EXPECT_EQ(mail.attachments[0].bytes, picture);
    EXPECT_EQ(mail.attachments[1].name, u("見積書（改訂）.pdf"));
    EXPECT_EQ(mail.attachments[1].bytes, pdf);
}

TEST_F(SendOperationTest, AFailedSendIsReportedAfterTheRecordAndCountAreWritten) {
    // A port nobody listens on: take a free one and let it go.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    SmtpServer refusing;
    SmtpServerOptions options;
    options.rejectedRecipients = {kPartner};
    ASSERT_TRUE(refusing.start(options)) << refusing.error().toStdString();
    const QString missing = m_home->file(u("files\\無い.pdf"));

    struct Case {
        const char* why;
        QString server;
        QString attachments;
        QString reason;
    };
    const QList<Case> cases = {
        {"recipient refused", QStringLiteral("127.0.0.1:%1").arg(refusing.port()), QString(),
         u("SMTPサーバーが宛先 <hanako@example.jp> を受け付けませんでした: 550")},
        {"server down", QStringLiteral("127.0.0.1:%1").arg(closedPort), QString(),
         u("SMTPサーバーに接続できません: 127.0.0.1:%1").arg(closedPort)},
        {"attachment missing", m_settings.smtpServer, missing,
         u("添付ファイルが見つかりません: ") + missing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        m_home.emplace();
        ASSERT_TRUE(m_login.trustIn(*m_home));
        m_prompter.clear();
        m_library.calls.clear();
        m_library.messageRequests.clear();
        m_settings.smtpServer = c.server;
        RecordingHost host;
        host.recipient = kPartner;
        host.attachments = c.attachments;

        const SendOutcome outcome = run(host);

        EXPECT_EQ(outcome.failed, 1);
        EXPECT_EQ(outcome.sent, 0);
        ASSERT_EQ(m_prompter.shown().size(), 1);
        EXPECT_EQ(m_prompter.shown()[0].title, u("送信エラー"));
        EXPECT_TRUE(m_prompter.shown()[0].text.startsWith(c.reason))
            << m_prompter.shown()[0].text.toStdString();
        EXPECT_FALSE(m_prompter.shown()[0].question);
        EXPECT_EQ(m_library.messageRequests, QStringList{QStringLiteral("0/8192")});
        // Stored and counted before the hand-over, and the window still closes.
        ASSERT_EQ(m_library.calls.size(), 1);
        EXPECT_EQ(m_library.calls[0].partnerBox, 1);
        EXPECT_EQ(m_library.calls[0].count, QStringLiteral("1"));
        EXPECT_EQ(boxCount(Box::PartnerSent), 1);
        EXPECT_EQ(sentCount(), QStringLiteral("1"));
        EXPECT_EQ(host.statusLog.value(host.statusLog.size() - 1), SendOperation::finishedText());
        EXPECT_EQ(host.finished, 1);
        EXPECT_FALSE(QDir(Originals::folder()).exists()); // nothing went out: no original
    }
    EXPECT_TRUE(refusing.receivedMessages().isEmpty());
    EXPECT_TRUE(newMessages().isEmpty());
}

TEST_F(SendOperationTest, TheLibraryResultIsReadAsASixteenBitNumber) {
    struct Case {
        int result;
        bool failed;
    };
    const QList<Case> cases = {{0, false}, {1, false},    {32767, false},
                               {-1, true}, {65535, true}, {32768, true}};
    m_library.failure = u("サーバーが落ちています") + QChar(0) + u("ごみ");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        m_home.emplace();
        ASSERT_TRUE(m_login.trustIn(*m_home));
        m_prompter.clear();
        m_library.result = c.result;
        RecordingHost host;
        host.recipient = QStringLiteral("yamada@example.com");
        const SendOutcome outcome = run(host);
        EXPECT_EQ(outcome.failed, c.failed ? 1 : 0);
        EXPECT_EQ(outcome.sent, c.failed ? 0 : 1);
        if (c.failed) {
            ASSERT_EQ(m_prompter.shown().size(), 1);
            // The buffer is cut at its first zero character.
            EXPECT_EQ(m_prompter.shown()[0].text, u("サーバーが落ちています"));
        } else {
            EXPECT_TRUE(m_prompter.shown().isEmpty());
        }
    }
    EXPECT_TRUE(newMessages().isEmpty());
}

TEST_F(SendOperationTest, BulkSendsOneMessagePerAddressBookEntryInListOrder) {
    const QStringList addresses = {QStringLiteral("ichiro@example.com"),
                                   QStringLiteral("jiro@example.com"),
                                   QStringLiteral("saburo@example.com")};
    for (int i = 0; i < addresses.size(); ++i)
        ASSERT_TRUE(AddAddress(u("友人%1").arg(i + 1), addresses[i]));

    struct Case {
        const char* why;
        QString partner;
        QString recipientBox;
        bool fortune;
        bool partnerSend;
    };
    const QList<Case> cases = {
        {"with a box text and fortunes", kPartner, u(" 友人各位　"), true, false},
        // The box decides, not the book: the partner's own address in the book is not counted.
        {"the partner in the book", QStringLiteral("jiro@example.com"), QString(), false, false},
        // Nothing typed and no partner is a partner send, for every message.
        {"no box text and no partner", QString(), QString(), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        // The same book in a fresh folder.
        const QByteArray book = m_home->readFile(QStringLiteral("\\★MailData\\vbmdata.data"));
        m_home.emplace();
        ASSERT_TRUE(m_login.trustIn(*m_home));
        m_home->writeFile(QStringLiteral("\\★MailData\\vbmdata.data"), book);
        m_library.calls.clear();
        m_prompter.clear();
        RecordingHost host;
        host.bulk = true;
        host.entries = listed({3, 1, 2});
        host.recipient = c.recipientBox;
        host.partner = c.partner;
        host.fortune = c.fortune;
        const QString written = host.body;

        const SendOutcome outcome = run(host, draws({0.0f, 0.5f, 0.99f}));

        EXPECT_EQ(outcome.messages, 3);
        EXPECT_EQ(outcome.sent, 3);
        EXPECT_TRUE(m_prompter.shown().isEmpty()) << m_prompter.texts().join(u("\n")).toStdString();
        EXPECT_EQ(host.statusLog,
                  QStringList({SendOperation::sendingText(), u("送信中 1/3"), u("送信中 2/3"),
                               u("送信中 3/3"), SendOperation::finishedText()}));
        EXPECT_EQ(host.finished, 1);

        const QStringList expectedTo = {addresses[2], addresses[0], addresses[1]};
        const QList<ReceivedMessage> received = newMessages();
        ASSERT_EQ(received.size(), 3);
        ASSERT_EQ(m_library.calls.size(), 3);
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            // Trailing padding of the address field is gone before the hand-over.
            EXPECT_EQ(m_library.calls[i].to, expectedTo[i]);
            EXPECT_EQ(received[i].recipients, QStringList{expectedTo[i]});
            // One fortune per message, each on the body as written.
            const int fortune = QList<int>{1, 7, 12}[i];
            EXPECT_EQ(m_library.calls[i].body,
                      c.fortune ? SendOperation::withFortune(written, fortune) : written);
        }
        EXPECT_EQ(host.body, c.fortune ? SendOperation::withFortune(written, 12) : written);

        const QList<MailRecord> stored =
            records(c.partnerSend ? Box::PartnerSent : Box::OthersSent);
        ASSERT_EQ(stored.size(), 3);
        for (const MailRecord& r : stored) {
            EXPECT_EQ(trimSpaces(r.from), trimSpaces(c.recipientBox));
            EXPECT_EQ(trimSpaces(r.body), written);
        }
        EXPECT_EQ(boxCount(c.partnerSend ? Box::OthersSent : Box::PartnerSent), 0);
        if (c.partnerSend) {
            EXPECT_EQ(sentCount(), QStringLiteral("3"));
            EXPECT_EQ(host.sentCounts, QStringList({u("1"), u("2"), u("3")}));
        } else {
            EXPECT_EQ(sentCount(), std::nullopt);
        }
    }
}

TEST_F(SendOperationTest, BulkSendsNothingWhenTheBookChangedUnderTheList) {
    struct Case {
        const char* why;
        std::function<void()> change;
        bool readFails; // the record behind a line is gone
    };
    const QList<Case> cases = {
        // Compaction moves 二郎 into record 1: the old list would send 一郎's line to him.
        {"an entry deleted", [] { ASSERT_TRUE(DeleteAddress(1)); }, true},
        {"an address changed in place",
         [] {
             ASSERT_TRUE(DeleteAddress(2));
             ASSERT_TRUE(AddAddress(u("二郎"), QStringLiteral("other@example.com")));
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        m_home.emplace();
        ASSERT_TRUE(m_login.trustIn(*m_home));
        m_prompter.clear();
        m_library.calls.clear();
        ASSERT_TRUE(AddAddress(u("一郎"), QStringLiteral("ichiro@example.com")));
        ASSERT_TRUE(AddAddress(u("二郎"), QStringLiteral("jiro@example.com")));
        RecordingHost host;
        host.bulk = true;
        host.entries = listed({1, 2});
        c.change();

        const SendOutcome outcome = run(host);

        EXPECT_EQ(outcome.sent + outcome.failed, 0);
        EXPECT_TRUE(m_library.calls.isEmpty());
        EXPECT_EQ(boxCount(Box::OthersSent) + boxCount(Box::PartnerSent), 0);
        EXPECT_TRUE(outcome.keptOpen());
        EXPECT_EQ(host.finished, 0);
        EXPECT_EQ(host.statusLog.value(host.statusLog.size() - 1), SendOperation::notKeptText());
        ASSERT_EQ(m_prompter.shown().size(), 1);
        if (!c.readFails) {
            EXPECT_EQ(host.refills, 1);
            EXPECT_EQ(m_prompter.texts(), QStringList{SendOperation::listChangedText()});
        }
    }
    EXPECT_TRUE(newMessages().isEmpty());
}

TEST_F(SendOperationTest, BulkWithAnEmptyListSendsAndWritesNothing) {
    RecordingHost host;
    host.bulk = true;
    host.recipient = kPartner;
    host.fortune = true;
    const QString written = host.body;

    const SendOutcome outcome = run(host);

    EXPECT_EQ(outcome.messages, 0);
    EXPECT_EQ(outcome.sent, 0);
    EXPECT_TRUE(m_library.calls.isEmpty());
    EXPECT_EQ(host.statusLog,
              QStringList({SendOperation::sendingText(), SendOperation::finishedText()}));
    EXPECT_EQ(host.finished, 1);
    EXPECT_EQ(host.body, written);
    // No box, counter or address file was written (the folder holds only the trusted CA).
    EXPECT_EQ(QDir(ProgramFolder::resolve(paths::kDataFolder))
                  .entryList(QDir::Files | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("ca.pem")});
    EXPECT_TRUE(host.sentCounts.isEmpty());
    EXPECT_TRUE(m_prompter.shown().isEmpty());
}

TEST_F(SendOperationTest, AMessageThatCannotBeStoredIsReportedAndNotSentNorCounted) {
    struct Case {
        const char* why;
        bool dataFolder;
        QString recipient;
        QString errorPart;
    };
    const QList<Case> cases = {
        {"no data folder", false, QStringLiteral("yamada@example.com"),
         u("★MAilData がありません")},
        {"partner box full", true, kPartner, u("vbmdata4.data がいっぱいです")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        m_home.emplace(c.dataFolder);
        m_prompter.clear();
        m_library.calls.clear();
        if (c.dataFolder) {
            const QString box =
                ProgramFolder::resolve(QStringLiteral("\\★MAilData\\vbmdata4.data"));
            ASSERT_TRUE(QFile(box).open(QIODevice::WriteOnly));
            ASSERT_EQ(
                ::truncate(QFile::encodeName(box).constData(), qint64(32767) * kMailRecordSize), 0);
        }
        RecordingHost host;
        host.recipient = c.recipient;
        host.fortune = true;

        const SendOutcome outcome = run(host);

        EXPECT_EQ(outcome.notStored, 1);
        EXPECT_EQ(outcome.sent + outcome.failed, 0);
        EXPECT_TRUE(m_library.calls.isEmpty());
        ASSERT_EQ(m_prompter.shown().size(), 1);
        EXPECT_TRUE(m_prompter.shown()[0].text.contains(c.errorPart))
            << m_prompter.shown()[0].text.toStdString();
        EXPECT_TRUE(m_prompter.shown()[0].text.contains(u("送信しませんでした")));
        EXPECT_EQ(sentCount(), std::nullopt);
        EXPECT_TRUE(host.sentCounts.isEmpty());
        EXPECT_TRUE(host.bodyLog.isEmpty()); // no fortune for a message that stays here
        // The window stays open with what the user wrote.
        EXPECT_EQ(host.finished, 0);
        EXPECT_EQ(host.statusLog.value(host.statusLog.size() - 1), SendOperation::notKeptText());
    }
    EXPECT_TRUE(newMessages().isEmpty());
}

TEST_F(SendOperationTest, ACountThatCannotBeSavedIsReportedAndTheSendGoesOn) {
    // A folder where the counter file should be: the file cannot be written.
    ASSERT_TRUE(QDir().mkpath(ProgramFolder::resolve(paths::kCounterFile)));
    RecordingHost host;
    host.recipient = kPartner;

    const SendOutcome outcome = run(host);

    EXPECT_EQ(outcome.sent, 1);
    EXPECT_EQ(m_prompter.texts(), QStringList{u("ハートのカウントを保存できませんでした。")});
    // The main window keeps showing what the file holds.
    EXPECT_TRUE(host.sentCounts.isEmpty());
    EXPECT_EQ(boxCount(Box::PartnerSent), 1);
    EXPECT_EQ(newMessages().size(), 1);
}

TEST(SendOperationOffline, TheClockSeededDrawGivesEachMessageOneOfTheTwelve) {
    // A library that only keeps the bodies: many draws, no network.
    class Bodies : public SendLibrary {
    public:
        void setSmtpCredentials(const QString&, const QString&) override {}
        int NMailSmtpSendMail(const QString&, const QString&, const QString&, const QString&,
                              const QString&, const QString&, const QString& body, const QString&,
                              const QString&, int) override {
            bodies << body;
            return 0;
        }
        int NMailGetMessage(int, QString&, int&) override { return 0; }
        QStringList bodies;
    };
    test::TempHome home;
    test::ScriptedPrompter prompter;
    constexpr int kEntries = 60;
    for (int i = 0; i < kEntries; ++i)
        ASSERT_TRUE(AddAddress(u("友人"), QStringLiteral("f%1@example.com").arg(i)));
    Bodies library;
    RecordingHost host;
    host.bulk = true;
    host.fortune = true;
    for (int i = 1; i <= kEntries; ++i)
        host.entries << listed({i});
    const QString written = host.body;

    SendOperation(library, host).run(ServerSettings());

    ASSERT_EQ(library.bodies.size(), kEntries);
    QSet<int> seen;
    for (const QString& body : std::as_const(library.bodies)) {
        int found = 0;
        for (int k = 1; k <= 12; ++k) {
            if (body == SendOperation::withFortune(written, k)) {
                found = k;
                seen.insert(k);
            }
        }
        EXPECT_NE(found, 0) << body.toStdString();
    }
    // Sixty draws that all name the same fortune would mean the generator is not drawing.
    EXPECT_GT(seen.size(), 1);
}

} // namespace

int main(int argc, char** argv) {
    // The sockets want an application object; the send itself runs without an event loop.
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
