// The receive cycle against a real Dovecot, with the windows replaced by a scripted host.
#include "base/paths.h"
#include "base/text.h"
#include "core/receivecycle.h"
#include "dovecotserver.h"
#include "maillib/nmail.h"
#include "plainreceivehost.h"
#include "scriptedprompter.h"
#include "settings/profile.h"
#include "store/mailbox.h"
#include "temphome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <optional>

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using namespace kiku;

namespace {

const QString kUser = QStringLiteral("alice");

// The windows of a run, as plain values, keeping what was staged and the progress.
class ScriptedHost : public test::PlainReceiveHost {
public:
    QList<StagedMail> staged;
    QStringList progressLog;

    void stage(const StagedMail& mail) override { staged.append(mail); }
    void progress(int number, int total) override {
        progressLog.append(QStringLiteral("%1/%2").arg(number).arg(total));
    }
};

// The real library with one operation made to fail for one message number.
class FaultyLibrary : public ReceiveLibrary {
public:
    enum class Fault { None, Status, Size, Fetch, AbsurdSize };

    FaultyLibrary(NMail& mail, Fault fault, int number)
        : m_real(mail), m_fault(fault), m_number(number) {}

    int NMailPop3Connect(const QString& s) override { return m_real.NMailPop3Connect(s); }
    int NMailPop3Authenticate(int h, const QString& u, const QString& p, bool a) override {
        return m_real.NMailPop3Authenticate(h, u, p, a);
    }
    int NMailPop3GetMailStatus(int h, int n, QString& s, QString& d, QString& f, QString& hd,
                               int flag) override {
        const int r = m_real.NMailPop3GetMailStatus(h, n, s, d, f, hd, flag);
        return hit(Fault::Status, n) ? -1 : r;
    }
    int NMailPop3GetMailSize(int h, int n) override {
        const int r = m_real.NMailPop3GetMailSize(h, n);
        if (hit(Fault::AbsurdSize, n))
            return INT_MAX;
        return hit(Fault::Size, n) ? -1 : r;
    }
    int NMailPop3GetMail(int h, int n, QString& s, QString& d, QString& f, QString& hd, QString& b,
                         int capacity, int flag, int flag2) override {
        const int r = m_real.NMailPop3GetMail(h, n, s, d, f, hd, b, capacity, flag, flag2);
        return hit(Fault::Fetch, n) ? -1 : r;
    }
    int NMailAttachmentFileFirst(int h, QString& s, QString& d, QString& f, QString& hd, QString& b,
                                 const QString& folder, const QString& work, const QString& text,
                                 int flag) override {
        return m_real.NMailAttachmentFileFirst(h, s, d, f, hd, b, folder, work, text, flag);
    }
    int NMailAttachmentFileClose(int h) override { return m_real.NMailAttachmentFileClose(h); }
    int NMailPop3DeleteMail(int h, int n) override {
        deleted.append(n);
        return m_real.NMailPop3DeleteMail(h, n);
    }
    int NMailPop3Close(int h) override { return m_real.NMailPop3Close(h); }
    int NMailGetMessage(int h, QString& t, int& size) override {
        return m_real.NMailGetMessage(h, t, size);
    }

    int keptOnServer() override { return m_real.keptOnServer(); }
    int abandonPop3Session(int h) override { return m_real.abandonPop3Session(h); }
    int uniqueIds(int h, QHash<int, QByteArray>& ids) override { return m_real.uniqueIds(h, ids); }
    void planFetches(int h, const QList<int>& numbers) override { m_real.planFetches(h, numbers); }
    int deleteStoredMail(int h, int n) override { return m_real.deleteStoredMail(h, n); }
    int messageBytes(int h, int n, QByteArray& b) override { return m_real.messageBytes(h, n, b); }
    int openLocalSession(const QList<QByteArray>& m) override { return m_real.openLocalSession(m); }

    QList<int> deleted;

private:
    bool hit(Fault fault, int number) const { return m_fault == fault && m_number == number; }
    NMailReceiveLibrary m_real;
    Fault m_fault;
    int m_number;
};

QByteArray message(const QByteArray& from, const QByteArray& subject, const QByteArray& body) {
    QByteArray raw;
    if (!from.isNull())
        raw += "From: " + from + "\r\n";
    raw += "To: alice@example.jp\r\nSubject: " + subject +
           "\r\nDate: Tue, 1 Dec 2026 10:00:00 +0900\r\nMessage-ID: <" + subject.left(20) +
           "@test>\r\n\r\n" + body + "\r\n";
    return raw;
}

QList<MailRecord> records(Box box) {
    QList<MailRecord> out;
    Mailbox(box).readAll([&](int, const MailRecord& r) {
        out.append(r);
        return true;
    });
    return out;
}

class ReceiveCycleTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
        m_mail.NMailInitializeWinSock();
        m_mail.NMailSetOption(1, 8192);
        m_mail.setTimeout(10000);
        m_settings.pop3Server = QStringLiteral("127.0.0.1:%1").arg(m_server.port());
    }

    void deliver(const QByteArray& raw) { ASSERT_TRUE(m_server.addMessage(kUser, raw)); }
    int onServer() const { return m_server.messageCount(kUser); }

    ReceiveOutcome run(FaultyLibrary::Fault fault = FaultyLibrary::Fault::None, int number = 0) {
        FaultyLibrary library(m_mail, fault, number);
        ReceiveCycle cycle(library, m_host);
        const ReceiveOutcome outcome = cycle.run(m_settings);
        m_deleted = library.deleted;
        return outcome;
    }

    test::TempHome m_home;
    test::ScriptedPrompter m_prompter;
    test::DovecotServer m_server;
    NMail m_mail;
    ScriptedHost m_host;
    ServerSettings m_settings;
    QList<int> m_deleted;
};

TEST_F(ReceiveCycleTest, SortsCountsStagesAndDeletesThreeMessages) {
    m_host.partner = QStringLiteral("partner@example.jp");
    deliver(message("one@example.jp", "first", "body one"));
    deliver(message("partner@example.jp", "second", "body two"));
    deliver(message("three@example.jp", "third", "body three"));

    const ReceiveOutcome outcome = run();

    EXPECT_TRUE(outcome.newMail);
    EXPECT_EQ(outcome.stored, 3);
    EXPECT_FALSE(outcome.stopped);
    const QList<MailRecord> partner = records(Box::PartnerInbox);
    const QList<MailRecord> others = records(Box::OthersInbox);
    ASSERT_EQ(partner.size(), 1);
    ASSERT_EQ(others.size(), 2);
    EXPECT_EQ(trimSpaces(partner[0].subject), QStringLiteral("second"));
    EXPECT_EQ(trimSpaces(partner[0].from), QStringLiteral("partner@example.jp"));
    EXPECT_EQ(trimSpaces(partner[0].body), QStringLiteral("body two\r\n"));
    EXPECT_EQ(partner[0].live, 1);
    EXPECT_EQ(m_host.count, QStringLiteral("1"));
    EXPECT_EQ(ReadSetting(paths::kCounterFile, QStringLiteral("NAME")), QStringLiteral("1"));
    EXPECT_EQ(onServer(), 0);
    EXPECT_EQ(m_host.staged.size(), 3);
    EXPECT_EQ(m_host.progressLog, (QStringList{"1/3", "2/3", "3/3"}));
    EXPECT_TRUE(m_prompter.shown().isEmpty());
    // The work file of the attachment pass does not outlive the run.
    EXPECT_FALSE(QFile::exists(m_home.file("添付フォルダ/0.txt")));
}

TEST_F(ReceiveCycleTest, PartnerMatchIsExactOnTheWholeSenderText) {
    const struct {
        const char* partner;
        QByteArray from; // null: no From field at all
        bool partnerMail;
    } cases[] = {
        {"hanako@example.jp", "Hanako <hanako@example.jp>", false},
        {"Hanako <hanako@example.jp>", "Hanako <hanako@example.jp>", true},
        {"<hanako@example.jp>", "<hanako@example.jp>", true},
        {"Hanako@example.jp", "hanako@example.jp", false},
        {"  hanako@example.jp　", "hanako@example.jp", true}, // the partner address is trimmed
        {"", QByteArray(), true},                             // empty matches an empty sender
        {"", "someone@example.jp", false},
    };
    int partnerCount = 0;
    int othersCount = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.partner) + " / " + c.from.toStdString());
        m_host.partner = QString::fromUtf8(c.partner);
        deliver(message(c.from, "match", "text"));
        run();
        (c.partnerMail ? partnerCount : othersCount) += 1;
        EXPECT_EQ(records(Box::PartnerInbox).size(), partnerCount);
        EXPECT_EQ(records(Box::OthersInbox).size(), othersCount);
        EXPECT_EQ(m_host.count, partnerCount ? QString::number(partnerCount) : QString());
    }
}

TEST_F(ReceiveCycleTest, AttachmentNoteOnlyForLowerCaseWord) {
    deliver(message("a@example.jp", "lower", "please see the attachment below"));
    run();
    deliver(message("a@example.jp", "upper", "Attachment follows"));
    run();
    const QList<MailRecord> others = records(Box::OthersInbox);
    ASSERT_EQ(others.size(), 2);
    EXPECT_EQ(trimSpaces(others[0].body),
              QStringLiteral("please see the attachment below\r\n\r\n") +
                  ReceiveCycle::attachmentNote());
    EXPECT_EQ(trimSpaces(others[1].body), QStringLiteral("Attachment follows\r\n"));
}

TEST_F(ReceiveCycleTest, LongSubjectIsStoredAsItsFirstHundredCharacters) {
    QByteArray subject;
    for (int i = 0; i < 150; ++i)
        subject += char('a' + i % 26);
    deliver(message("a@example.jp", subject, "x"));
    run();
    const QList<MailRecord> others = records(Box::OthersInbox);
    ASSERT_EQ(others.size(), 1);
    EXPECT_EQ(others[0].subject, QString::fromLatin1(subject.left(100)));
    // The staging boxes get the whole subject; only the record is cut.
    EXPECT_EQ(m_host.staged.value(0).subject, QString::fromLatin1(subject));
}

TEST_F(ReceiveCycleTest, CountOfTwelveBecomesThirteen) {
    m_host.partner = QStringLiteral("p@example.jp");
    m_host.count = QStringLiteral("12");
    deliver(message("p@example.jp", "count", "x"));
    run();
    EXPECT_EQ(m_host.count, QStringLiteral("13"));
    EXPECT_EQ(ReadSetting(paths::kCounterFile, QStringLiteral("NAME")), QStringLiteral("13"));
}

TEST_F(ReceiveCycleTest, FailedStoreStopsAndKeepsTheRestOnTheServer) {
    m_host.partner = QStringLiteral("p@example.jp");
    // The others in-box cannot be written: a folder stands where its file belongs.
    ASSERT_TRUE(QDir(m_home.path()).mkpath(QStringLiteral("★MailData/vbmdata3.data")));
    deliver(message("p@example.jp", "kept", "x"));
    deliver(message("other@example.jp", "lost?", "x"));
    deliver(message("p@example.jp", "later", "x"));

    const ReceiveOutcome outcome = run();

    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(outcome.stored, 1);
    EXPECT_EQ(m_deleted, QList<int>{1});
    EXPECT_EQ(onServer(), 2); // the failed one and the later one
    EXPECT_EQ(records(Box::PartnerInbox).size(), 1);
    EXPECT_EQ(m_host.count, QStringLiteral("1")); // only the stored partner mail counts
    ASSERT_EQ(m_prompter.shown().size(), 1);
    EXPECT_TRUE(m_prompter.texts()[0].contains(QStringLiteral("vbmdata3.data")));
    EXPECT_TRUE(m_prompter.texts()[0].contains(QStringLiteral("サーバーに残して")));
}

TEST_F(ReceiveCycleTest, FullBoxStopsTheRunAndKeepsTheMail) {
    // 32767 records, as a sparse file: the box refuses the next one.
    QFile box(m_home.file("★MailData/vbmdata3.data"));
    ASSERT_TRUE(box.open(QIODevice::WriteOnly));
    ASSERT_TRUE(box.resize(qint64(32767) * kMailRecordSize));
    box.close();
    deliver(message("other@example.jp", "too many", "x"));

    const ReceiveOutcome outcome = run();

    EXPECT_TRUE(outcome.stopped);
    EXPECT_TRUE(m_deleted.isEmpty());
    EXPECT_EQ(onServer(), 1);
    ASSERT_EQ(m_prompter.shown().size(), 1);
    EXPECT_TRUE(m_prompter.texts()[0].contains(QStringLiteral("32767")));
}

TEST_F(ReceiveCycleTest, MessageThatCannotBeFetchedStaysAndTheRunGoesOn) {
    using Fault = FaultyLibrary::Fault;
    for (Fault fault : {Fault::Status, Fault::Size, Fault::Fetch}) {
        SCOPED_TRACE(int(fault));
        Mailbox(Box::OthersInbox).removeAll();
        m_prompter.clear();
        deliver(message("a@example.jp", "one", "x"));
        deliver(message("b@example.jp", "two", "x"));
        deliver(message("c@example.jp", "three", "x"));
        const int before = onServer();

        const ReceiveOutcome outcome = run(fault, 2);

        EXPECT_EQ(outcome.stored, before - 1);
        EXPECT_EQ(outcome.skipped, 1);
        EXPECT_FALSE(m_deleted.contains(2));
        EXPECT_EQ(onServer(), 1);
        EXPECT_EQ(records(Box::OthersInbox).size(), before - 1);
        ASSERT_EQ(m_prompter.shown().size(), 1);
        EXPECT_TRUE(m_prompter.texts()[0].contains(QStringLiteral("サーバーに残して")));
    }
}

TEST_F(ReceiveCycleTest, AbsurdSizeDoesNotBreakTheRun) {
    deliver(message("a@example.jp", "huge", "text that arrives whole"));
    const ReceiveOutcome outcome = run(FaultyLibrary::Fault::AbsurdSize, 1);
    EXPECT_EQ(outcome.stored, 1);
    ASSERT_EQ(records(Box::OthersInbox).size(), 1);
    EXPECT_EQ(trimSpaces(records(Box::OthersInbox)[0].body),
              QStringLiteral("text that arrives whole\r\n"));
}

TEST_F(ReceiveCycleTest, WrongPasswordShowsTheServersTextUnderError) {
    m_host.password = QStringLiteral("wrong");
    deliver(message("a@example.jp", "waiting", "x"));

    const ReceiveOutcome outcome = run();

    EXPECT_FALSE(outcome.newMail);
    ASSERT_EQ(m_prompter.shown().size(), 1);
    EXPECT_EQ(m_prompter.shown()[0].title, QStringLiteral("エラー"));
    EXPECT_TRUE(m_prompter.texts()[0].contains(QStringLiteral("Authentication failed")))
        << m_prompter.texts()[0].toStdString();
    EXPECT_EQ(onServer(), 1);
    // The account is saved before any network work, whatever the boxes hold.
    EXPECT_EQ(ReadSetting(paths::kAccountFile, QStringLiteral("NAME2")), QStringLiteral("wrong"));
    EXPECT_EQ(ReadSetting(paths::kAccountFile, QStringLiteral("NAME3")), QStringLiteral("1"));
}

TEST_F(ReceiveCycleTest, NothingHappensQuietlyWithoutServerConnectionOrAccount) {
    deliver(message("a@example.jp", "waiting", "x"));
    const struct {
        const char* name;
        std::function<void(ScriptedHost&, ServerSettings&)> setUp;
    } cases[] = {
        {"no server", [](ScriptedHost&, ServerSettings& s) { s.pop3Server.clear(); }},
        {"no connection",
         [](ScriptedHost&, ServerSettings& s) { s.pop3Server = QStringLiteral("127.0.0.1:1"); }},
        {"no password", [](ScriptedHost& h, ServerSettings&) { h.password.clear(); }},
        {"no ID", [](ScriptedHost& h, ServerSettings&) { h.userId.clear(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedHost host;
        ServerSettings settings = m_settings;
        c.setUp(host, settings);
        NMailReceiveLibrary library(m_mail);
        const ReceiveOutcome outcome = ReceiveCycle(library, host).run(settings);
        EXPECT_FALSE(outcome.newMail);
        EXPECT_TRUE(m_prompter.shown().isEmpty());
        EXPECT_EQ(onServer(), 1);
        EXPECT_EQ(ReadSetting(paths::kAccountFile, QStringLiteral("NAME")), host.userId);
        EXPECT_EQ(ReadSetting(paths::kAccountFile, QStringLiteral("NAME3")), QStringLiteral("1"));
    }
    // The session of the last case was opened and closed again: the mail is still there
    // for a proper run.
    EXPECT_EQ(run().stored, 1);
}

TEST_F(ReceiveCycleTest, MultipartAttachmentLandsInTheAttachmentFolder) {
    const QByteArray raw = "From: a@example.jp\r\n"
                           "To: alice@example.jp\r\n"
                           "Subject: picture\r\n"
                           "MIME-Version: 1.0\r\n"
                           "Content-Type: multipart/mixed; boundary=\"XYZ\"\r\n"
                           "\r\n"
                           "--XYZ\r\n"
                           "Content-Type: text/plain; charset=us-ascii\r\n"
                           "\r\n"
                           "here it is\r\n"
                           "--XYZ\r\n"
                           "Content-Type: application/octet-stream; name=\"data.bin\"\r\n"
                           "Content-Transfer-Encoding: base64\r\n"
                           "Content-Disposition: attachment; filename=\"data.bin\"\r\n"
                           "\r\n" +
                           QByteArray("\x01\x02\x03payload").toBase64() +
                           "\r\n"
                           "--XYZ--\r\n";
    deliver(raw);

    run();

    QFile file(m_home.file("添付フォルダ/data.bin"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("\x01\x02\x03payload"));
    const QList<MailRecord> others = records(Box::OthersInbox);
    ASSERT_EQ(others.size(), 1);
    // The body is the text part; the raw text said "attachment" (its disposition), so the
    // note follows it.
    EXPECT_EQ(trimSpaces(others[0].body),
              QStringLiteral("here it is\r\n") + ReceiveCycle::attachmentNote());
    EXPECT_FALSE(QFile::exists(m_home.file("添付フォルダ/0.txt")));
    EXPECT_EQ(onServer(), 0);
}

TEST_F(ReceiveCycleTest, IncompletePartialMessageIsReportedButKept) {
    deliver("From: a@example.jp\r\nSubject: part 1\r\nMIME-Version: 1.0\r\n"
            "Content-Type: message/partial; id=\"abc@test\"; number=1; total=2\r\n\r\n"
            "first half\r\n");
    // The notice waits until the session has ended, so leaving it open cannot hold the session
    // past the server's idle limit: the message is already deleted when it shows.
    struct Watching : test::ScriptedPrompter {
        std::function<void()> seen;
        void notify(const QString& text, const QString& title) override {
            seen();
            ScriptedPrompter::notify(text, title);
        }
    } watching;
    int onServerAtNotice = -1;
    watching.seen = [&] { onServerAtNotice = onServer(); };
    run();
    EXPECT_EQ(watching.texts(),
              QStringList{QStringLiteral("分割されたメールが全て揃っていません")});
    EXPECT_EQ(onServerAtNotice, 0);
    EXPECT_EQ(records(Box::OthersInbox).size(), 1);
    EXPECT_EQ(onServer(), 0);
}

} // namespace

// The sockets want an application object; the run itself needs no event loop.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
