// The receive cycle against POP3 servers and messages that misbehave on purpose: every run
// must end, in bounded memory, losing nothing, and telling the user what was left behind.
#include "base/text.h"
#include "core/receivecycle.h"
#include "dovecotserver.h"
#include "hostileservers.h"
#include "maillib/nmail.h"
#include "plainreceivehost.h"
#include "scriptedprompter.h"
#include "store/mailbox.h"
#include "temphome.h"

#include <QDir>
#include <QFile>
#include <functional>
#include <gtest/gtest.h>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using namespace kiku;
using namespace kiku::test;

namespace {

class CountingHost : public PlainReceiveHost {
public:
    int progressCalls = 0;
    void progress(int, int) override { ++progressCalls; }
};

QByteArray plainMessage(const QByteArray& subject, const QByteArray& extraHeader = {}) {
    return "From: sender@example.jp\r\nTo: alice@example.jp\r\nSubject: " + subject +
           "\r\nDate: Tue, 1 Dec 2026 10:00:00 +0900\r\n" + extraHeader + "\r\nbody of " + subject +
           "\r\n";
}

// A message with attachments: each (name parameters, bytes) a base64 part after a text part.
QByteArray withAttachments(const QByteArray& subject,
                           const QList<QPair<QByteArray, QByteArray>>& files,
                           const QByteArray& extraHeader = {}) {
    QByteArray raw = "From: sender@example.jp\r\nTo: alice@example.jp\r\nSubject: " + subject +
                     "\r\n" + extraHeader +
                     "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b0\"\r\n\r\n"
                     "--b0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nthe text\r\n";
    for (const auto& [params, data] : files)
        raw += "--b0\r\nContent-Type: application/octet-stream\r\n"
               "Content-Disposition: attachment; " +
               params + "\r\nContent-Transfer-Encoding: base64\r\n\r\n" + data.toBase64() + "\r\n";
    return raw + "--b0--\r\n";
}

QList<MailRecord> records(Box box) {
    QList<MailRecord> out;
    Mailbox(box).readAll([&](int, const MailRecord& r) {
        out.append(r);
        return true;
    });
    return out;
}

class HostileReceive : public testing::Test {
protected:
    void SetUp() override {
        m_mail.NMailInitializeWinSock();
        m_mail.NMailSetOption(1, 8192);
        m_mail.setTimeout(1500);
        m_settings.pop3Server = m_server.address();
    }

    ReceiveOutcome run(const KeepOnServer& keep = KeepOnServer()) {
        NMailReceiveLibrary library(m_mail);
        return ReceiveCycle(library, m_host).run(m_settings, keep);
    }
    QString attachmentFolder() const { return m_home.file(QStringLiteral("添付フォルダ")); }
    QStringList attachments() const { return QDir(attachmentFolder()).entryList(QDir::Files); }
    QString notices() const { return m_prompter.texts().join(QLatin1Char('\n')); }

    TempHome m_home;
    ScriptedPrompter m_prompter;
    NMail m_mail;
    CountingHost m_host;
    ServerSettings m_settings;
    HostilePop3Server m_server; // last: it serves from a thread
};

// --- 1: a message built to crash the parser is stored as text with a note -------------

QByteArray nestedMultipart(int depth) {
    QByteArray head, tail;
    for (int i = 0; i < depth; ++i) {
        head += "Content-Type: multipart/mixed; boundary=\"n" + QByteArray::number(i) +
                "\"\r\n\r\n--n" + QByteArray::number(i) + "\r\n";
        tail = "\r\n--n" + QByteArray::number(i) + "--\r\n" + tail;
    }
    return "From: deep@example.jp\r\nSubject: deep\r\nMIME-Version: 1.0\r\n" + head +
           "Content-Type: application/octet-stream\r\nContent-Disposition: attachment; "
           "filename=\"inner.bin\"\r\n\r\nattachment inside\r\n" +
           tail;
}

QByteArray nestedMessages(int depth) {
    QByteArray raw = "From: deep@example.jp\r\nSubject: deep\r\nMIME-Version: 1.0\r\n";
    for (int i = 0; i < depth; ++i)
        raw += "Content-Type: message/rfc822\r\n\r\nSubject: level\r\n";
    return raw + "\r\nthe innermost text\r\n";
}

QByteArray manyParts(int parts) {
    QByteArray raw = "From: wide@example.jp\r\nSubject: wide\r\nMIME-Version: 1.0\r\n"
                     "Content-Type: multipart/mixed; boundary=w\r\n\r\n";
    for (int i = 0; i < parts; ++i)
        raw += "--w\r\nContent-Type: text/plain\r\n\r\np\r\n";
    return raw + "--w--\r\n";
}

QByteArray hugePartHeader() {
    QByteArray raw = "From: tall@example.jp\r\nSubject: tall\r\nMIME-Version: 1.0\r\n"
                     "Content-Type: multipart/mixed; boundary=t\r\n\r\n--t\r\n";
    const QByteArray field = "X-Filler: " + QByteArray(990, 'x') + "\r\n";
    for (int i = 0; i < 1200; ++i)
        raw += field;
    return raw + "Content-Type: text/plain\r\n\r\ntext\r\n--t--\r\n";
}

TEST_F(HostileReceive, MessagesBeyondTheMimeLimitsAreStoredAsTextWithANote) {
    const struct {
        const char* what;
        QByteArray raw;
        const char* limit;
    } cases[] = {
        {"multipart nested 3000 deep", nestedMultipart(3000), "入れ子が 32 段"},
        {"message/rfc822 nested 3000 deep", nestedMessages(3000), "入れ子が 32 段"},
        {"25000 parts", manyParts(25000), "パートが 20000 個"},
        {"a part header over 1 MiB", hugePartHeader(), "ヘッダーが 1048576 バイト"},
    };
    m_host.partner = QStringLiteral("partner@example.jp"); // everything goes to the others box
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_server.addMessage(c.raw);
        const ReceiveOutcome outcome = run();
        EXPECT_EQ(outcome.stored, 1);
        const QList<MailRecord> stored = records(Box::OthersInbox);
        ASSERT_FALSE(stored.isEmpty());
        const QString body = trimSpaces(stored.constLast().body);
        EXPECT_TRUE(body.startsWith(QStringLiteral("♪♪♪　このメールは構造を展開できないため")))
            << body.left(200).toStdString();
        EXPECT_TRUE(body.contains(QString::fromUtf8(c.limit))) << body.left(200).toStdString();
        // Taken off the server: it cannot crash the next run either.
        EXPECT_EQ(m_server.messageCount(), 0);
        EXPECT_TRUE(attachments().isEmpty());
    }
}

TEST_F(HostileReceive, NestingWithinTheLimitsStillGivesItsAttachment) {
    m_server.addMessage(nestedMultipart(20));
    const ReceiveOutcome outcome = run();
    EXPECT_EQ(outcome.stored, 1);
    EXPECT_EQ(attachments(), QStringList{QStringLiteral("inner.bin")});
    EXPECT_EQ(m_home.readFile(QStringLiteral("添付フォルダ/inner.bin")), "attachment inside\r\n");
}

// --- 2: replies that never end are cut off ---------------------------------------------

TEST_F(HostileReceive, EndlessRepliesEndTheSessionInsteadOfFillingMemory) {
    const struct {
        const char* command;
        const char* expected; // in the notices
    } cases[] = {
        {"RETR", "応答が大きすぎる"},
        {"LIST", "応答が大きすぎる"},
        {"UIDL", "応答が大きすぎる"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        m_prompter.clear();
        m_server.clearRules();
        m_server.addMessage(plainMessage("kept"));
        // 300 MiB at most, so the test ends even when nothing stops the client.
        m_server.on(c.command, hostile::flood("+OK\r\n", "x" + QByteArray(1000, 'y') + "\r\n",
                                              300LL * 1024 * 1024));
        const ReceiveOutcome outcome = run();
        EXPECT_EQ(outcome.stored, 0);
        EXPECT_TRUE(notices().contains(QString::fromUtf8(c.expected))) << notices().toStdString();
        EXPECT_EQ(m_server.messageCount(), 1);
        m_server.clearRules();
        run(); // the honest server gives it up now
        EXPECT_EQ(m_server.messageCount(), 0);
    }
}

// Ids that cannot tell messages apart are never trusted: a message without a usable one is
// received as before, or, when mail stays on the server, left there rather than stored on
// every run.
TEST_F(HostileReceive, UnusableIdsAreNeverTrusted) {
    const QByteArray mixed = "+OK\r\n1 good-id\r\n2 same\r\n3 same\r\n4 bad\x01id\r\n"
                             "0 zero\r\n99 far\r\n4 second-id-for-4\r\n.\r\n";
    const struct {
        const char* name;
        QByteArray uidl;
        bool keep;
        int stored; // by the first run
        const char* notice;
    } cases[] = {
        {"no UIDL", "-ERR unknown command\r\n", false, 4, "UIDL）に対応していません"},
        {"no UIDL, kept", "-ERR unknown command\r\n", true, 0, "では受信できません"},
        {"duplicates and junk", mixed, false, 4, ""},
        {"duplicates and junk, kept", mixed, true, 1, "受け取れませんでした"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempHome home;
        m_prompter.clear();
        m_server.clearRules();
        for (const char* subject : {"m1", "m2", "m3", "m4"})
            m_server.addMessage(plainMessage(subject));
        m_server.on("UIDL", hostile::reply(c.uidl));
        const KeepOnServer keep{c.keep, 0};
        EXPECT_EQ(run(keep).stored, c.stored);
        EXPECT_TRUE(notices().contains(QString::fromUtf8(c.notice))) << notices().toStdString();
        // Nothing comes twice; a new message (no id in the listing) only when mail is not kept.
        m_prompter.clear();
        m_server.addMessage(plainMessage("m5"));
        EXPECT_EQ(run(keep).stored, c.keep ? 0 : 1);
        EXPECT_EQ(m_server.messageCount(), c.keep ? 5 : 0);
        EXPECT_EQ(records(Box::OthersInbox).size(), c.stored + (c.keep ? 0 : 1));
        // The lack of UIDL is told once a server.
        EXPECT_FALSE(notices().contains(QStringLiteral("に対応していません。")))
            << notices().toStdString();
        m_server.clearRules();
        run(); // the honest server gives them up now
    }
}

// --- 3: a server that answers too slowly, or announces too much, or goes -----------------

TEST_F(HostileReceive, ReplyDrippingOneLineAtATimeHitsTheDeadline) {
    m_server.addMessage(plainMessage("slow"));
    // One line every 300 ms keeps the per-line timeout (1.5 s) happy for 30 s.
    m_server.on("RETR", hostile::drip("+OK\r\n", "more\r\n", 300, 100, ".\r\n"));
    const ReceiveOutcome outcome = run();
    EXPECT_EQ(outcome.stored, 0);
    EXPECT_TRUE(notices().contains(QStringLiteral("応答が時間内に終わらない")))
        << notices().toStdString();
    EXPECT_EQ(m_server.messageCount(), 1);
}

TEST_F(HostileReceive, ServerSlowerThanTheFloorOrPastTheCapEndsTheSession) {
    const struct {
        const char* what;
        HostileAction retr;
        const char* expected;
    } cases[] = {
        // 7 bytes every 200 ms never bring 1 KB in a second; the announced 100 MB would
        // allow hours.
        {"one short line at a time", hostile::drip("+OK\r\n", "more\r\n", 200, 100, ".\r\n"),
         "応答が遅すぎる"},
        // 2 KB every 100 ms beat the floor, but not the 3 s cap.
        {"steady but endless",
         hostile::drip("+OK\r\n", QByteArray(2000, 'x') + "\r\n", 100, 100, ".\r\n"),
         "応答が時間内に終わらない"},
    };
    Pop3Limits limits;
    limits.floorWindowMs = 1000;
    limits.capMs = 3000;
    m_mail.setPop3Limits(limits);
    m_mail.setTimeout(5000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_prompter.clear();
        m_server.clearRules();
        if (m_server.messageCount() == 0)
            m_server.addMessage(plainMessage("slow"));
        m_server.on("LIST", hostile::reply("+OK\r\n1 100000000\r\n.\r\n"));
        m_server.on("RETR", c.retr);
        const ReceiveOutcome outcome = run();
        EXPECT_EQ(outcome.stored, 0);
        EXPECT_TRUE(notices().contains(QString::fromUtf8(c.expected))) << notices().toStdString();
        EXPECT_EQ(m_server.messageCount(), 1);
    }
}

TEST_F(HostileReceive, AbsurdMessageCountIsRefused) {
    m_server.addMessage(plainMessage("one"));
    m_server.on("STAT", hostile::reply("+OK 2000000000 1\r\n"));
    const ReceiveOutcome outcome = run();
    EXPECT_EQ(outcome.waiting, 0);
    EXPECT_EQ(m_host.progressCalls, 0);
    ASSERT_EQ(m_prompter.shown().size(), 1);
    EXPECT_EQ(m_prompter.shown()[0].title, QStringLiteral("エラー"));
    EXPECT_TRUE(notices().contains(QStringLiteral("2000000000 通"))) << notices().toStdString();
    EXPECT_EQ(m_server.messageCount(), 1);
}

TEST_F(HostileReceive, LoopStopsWhenTheSessionIsGoneAndSaysWhy) {
    const struct {
        const char* what;
        bool pipelining;
        const char* command;
        int skipped;
    } cases[] = {
        {"RETR, one command at a time", false, "RETR", 60000},
        {"RETR, pipelined", true, "RETR", 60000},
        {"DELE, pipelined", true, "DELE", 59998},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_server.clearRules();
        while (m_server.messageCount() > 0)
            run(); // what the case before left on the server
        m_prompter.clear();
        m_server.addMessage(plainMessage("one"));
        m_server.addMessage(plainMessage("two"));
        if (c.pipelining)
            m_server.on("CAPA", hostile::reply("+OK\r\nPIPELINING\r\n.\r\n"));
        m_server.on("STAT", hostile::reply("+OK 60000 6000000\r\n"));
        m_server.on(c.command, hostile::hangUp());
        const ReceiveOutcome outcome = run();
        EXPECT_TRUE(outcome.sessionLost);
        EXPECT_EQ(outcome.skipped, c.skipped);
        const QString lost = QStringLiteral("接続が切れたため受信を中止しました");
        ASSERT_TRUE(notices().contains(lost)) << notices().toStdString();
        for (const QString& text : m_prompter.texts())
            if (text.contains(lost)) { // the reason comes first, never an empty line
                EXPECT_FALSE(text.section(QLatin1Char('\n'), 0, 0).trimmed().isEmpty())
                    << text.toStdString();
            }
    }
}

// --- 4: attachments are never lost ------------------------------------------------------

TEST_F(HostileReceive, TakenNamesNeverRunOut) {
    // Ten thousand earlier copies of the name every mailer uses.
    QDir dir(attachmentFolder());
    QFile(dir.filePath(QStringLiteral("image001.png"))).open(QIODevice::WriteOnly);
    for (int n = 1; n <= 9999; ++n)
        QFile(dir.filePath(QStringLiteral("image001(%1).png").arg(n))).open(QIODevice::WriteOnly);
    m_server.addMessage(withAttachments("pictures", {{"filename=\"image001.png\"", "first"},
                                                     {"filename=\"image001.png\"", "second"}}));
    const ReceiveOutcome outcome = run();
    EXPECT_EQ(outcome.stored, 1);
    EXPECT_TRUE(m_prompter.shown().isEmpty()) << notices().toStdString();
    const QStringList names = attachments();
    EXPECT_EQ(names.size(), 10002);
    QList<QByteArray> contents;
    for (const QString& name : names) {
        const QByteArray bytes = m_home.readFile(QStringLiteral("添付フォルダ/") + name);
        if (!bytes.isEmpty()) {
            contents << bytes;
            EXPECT_TRUE(name.startsWith(QStringLiteral("image001(")) &&
                        name.endsWith(QStringLiteral(").png")))
                << name.toStdString();
        }
    }
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents, (QList<QByteArray>{"first", "second"}));
}

TEST_F(HostileReceive, AnAttachmentNamedLikeTheOldWorkFileIsKept) {
    m_server.addMessage(withAttachments("zero", {{"filename=\"0.txt\"", "kept bytes"}}));
    EXPECT_EQ(run().stored, 1);
    EXPECT_EQ(m_home.readFile(QStringLiteral("添付フォルダ/0.txt")), "kept bytes");
    EXPECT_EQ(m_server.messageCount(), 0);
}

TEST_F(HostileReceive, MessageWhoseAttachmentsCannotBeWrittenStaysOnTheServer) {
    ASSERT_TRUE(QDir(attachmentFolder()).removeRecursively());
    m_server.addMessage(withAttachments("report", {{"filename=\"report.pdf\"", "pdf bytes"}}));
    const ReceiveOutcome outcome = run();
    EXPECT_EQ(outcome.keptForAttachments, 1);
    EXPECT_EQ(records(Box::OthersInbox).size(), 1); // stored all the same
    EXPECT_EQ(m_server.messageCount(), 1);
    const QString text = notices();
    EXPECT_TRUE(text.contains(QStringLiteral("添付ファイルをオープンできません")));
    EXPECT_TRUE(text.contains(QStringLiteral("添付フォルダ"))) << text.toStdString(); // why
    EXPECT_TRUE(text.contains(QStringLiteral("サーバーに残しました"))) << text.toStdString();
}

TEST_F(HostileReceive, NulInAnotherHeaderFieldDoesNotCutTheAttachmentPass) {
    m_server.addMessage(withAttachments("nul", {{"filename=\"kept.bin\"", "kept bytes"}},
                                        QByteArray("X-Junk: a\0b\r\n", 13)));
    const ReceiveOutcome outcome = run();
    EXPECT_EQ(outcome.stored, 1) << notices().toStdString();
    EXPECT_EQ(m_home.readFile(QStringLiteral("添付フォルダ/kept.bin")), "kept bytes");
    const QList<MailRecord> stored = records(Box::OthersInbox);
    ASSERT_EQ(stored.size(), 1);
    EXPECT_TRUE(trimSpaces(stored[0].body).startsWith(QStringLiteral("the text")))
        << stored[0].body.left(200).toStdString();
}

TEST_F(HostileReceive, ContinuationsAreJoinedByTheirIndex) {
    const struct {
        QByteArray params;
        QString expected;
    } cases[] = {
        {"filename*1=\"world.txt\"; filename*0=\"hello-\"", QStringLiteral("hello-world.txt")},
        {"filename*2=\".txt\"; filename*0*=UTF-8''%E5%90%8D; filename*1*=%E5%89%8D",
         QStringLiteral("名前.txt")},
        {"filename*10=\"k.txt\"; filename*2=\"c\"; filename*0=\"a\"; filename*1=\"b\"; "
         "filename*3=\"d\"; filename*4=\"e\"; filename*5=\"f\"; filename*6=\"g\"; "
         "filename*7=\"h\"; filename*8=\"i\"; filename*9=\"j\"",
         QStringLiteral("abcdefghijk.txt")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.params.toStdString());
        QDir(attachmentFolder()).removeRecursively();
        QDir().mkpath(attachmentFolder());
        m_server.addMessage(withAttachments("named", {{c.params, "data"}}));
        run();
        EXPECT_EQ(attachments(), QStringList{c.expected});
    }
}

// --- 6: deletions the server did not carry out are reported -----------------------------

TEST_F(HostileReceive, RefusedOrUndoneDeletionsAreReported) {
    const QByteArray pipelining = "+OK\r\nPIPELINING\r\n.\r\n";
    const struct {
        const char* what;
        QByteArray capa;
        QByteArray command;
        HostileAction action;
        const char* kept;
        int left;
    } cases[] = {
        {"DELE refused", {}, "DELE 2", hostile::reply("-ERR locked\r\n"), "1 通", 1},
        {"DELE refused, pipelined", pipelining, "DELE 2", hostile::reply("-ERR locked\r\n"), "1 通",
         1},
        {"dropped after two", {}, "RETR 3", hostile::hangUp(), "2 通", 3},
        {"dropped after two, pipelined", pipelining, "RETR 3", hostile::hangUp(), "2 通", 3},
        {"QUIT refused", {}, "QUIT", hostile::reply("-ERR cannot update\r\n"), "3 通", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_prompter.clear();
        m_server.clearRules();
        while (m_server.messageCount() > 0)
            run();
        for (const char* subject : {"one", "two", "three"})
            m_server.addMessage(plainMessage(subject));
        if (!c.capa.isEmpty())
            m_server.on("CAPA", hostile::reply(c.capa));
        m_server.on(c.command, c.action);
        m_prompter.clear();
        run();
        EXPECT_EQ(m_server.messageCount(), c.left);
        EXPECT_TRUE(notices().contains(QString::fromUtf8(c.kept) +
                                       QStringLiteral("はサーバーに残りました。次回の受信で重複"
                                                      "することがあります。")))
            << notices().toStdString();
    }
}

} // namespace

namespace {

// With PIPELINING the next RETRs go out while a message is stored; a refusal among them costs
// only that message, and no message is deleted before its own RETR was answered.
TEST_F(HostileReceive, PipelinedRetrievalKeepsOrderAndSkipsOnlyARefusedMessage) {
    m_server.on("CAPA", hostile::reply("+OK\r\nPIPELINING\r\n.\r\n"));
    m_server.on("RETR 2", hostile::reply("-ERR busy\r\n"));
    for (const char* subject : {"one", "two", "three", "four"})
        m_server.addMessage(plainMessage(subject));

    const ReceiveOutcome outcome = run();

    EXPECT_EQ(outcome.stored, 3);
    EXPECT_EQ(outcome.skipped, 1);
    EXPECT_EQ(m_server.messageCount(), 1);
    QStringList subjects;
    for (const MailRecord& r : records(Box::OthersInbox))
        subjects << trimSpaces(r.subject);
    EXPECT_EQ(subjects, (QStringList{"one", "three", "four"}));
    EXPECT_TRUE(notices().contains(QStringLiteral("1 通のメールを受け取れませんでした")));
    // The RETRs ran ahead of the deletions, each DELE after its own RETR, and none for 2.
    const QList<QByteArray> commands = m_server.commands();
    const auto at = [&](const QByteArray& c) { return commands.indexOf(c); };
    EXPECT_LT(at("RETR 4"), at("DELE 1"));
    for (const QByteArray n : {"1", "3", "4"})
        EXPECT_LT(at("RETR " + n), at("DELE " + n)) << n.constData();
    EXPECT_EQ(at("DELE 2"), -1);
    EXPECT_LT(at("DELE 4"), at("QUIT"));
}

} // namespace

namespace {

// --- 7: structures built to crash or stall the parser, through a real Dovecot ------------

// `depth` nested multiparts, each level's Content-Type spelt by `spell` (from the boundary).
QByteArray spelledNesting(int depth, const std::function<QByteArray(const QByteArray&)>& spell) {
    QByteArray raw = "From: deep@example.jp\r\nSubject: deep\r\nMIME-Version: 1.0\r\n";
    raw.reserve(depth * 90);
    for (int i = 0; i < depth; ++i) {
        const QByteArray b = "n" + QByteArray::number(i);
        raw += spell(b) + "\r\n\r\n--" + b + "\r\n";
    }
    return raw + "Content-Type: text/plain\r\n\r\ninnermost\r\n";
}

QByteArray boundaryFlood() {
    QByteArray raw = spelledNesting(
        1100, [](const QByteArray& b) { return "Content-Type: multipart/mixed; boundary=" + b; });
    raw += QByteArray("--x\r\n").repeated(2000000);
    return raw;
}

TEST(HostileMime, SpellingsDepthsAndFloodsAreStoredAsTextWithANote) {
    const std::function<QByteArray(const QByteArray&)> spellings[] = {
        [](const QByteArray& b) { return "Content-Type : multipart/mixed; boundary=\"" + b + '"'; },
        [](const QByteArray& b) {
            return "Content-Type: multipart/mixed; boundary=\"" + b +
                   "\"\r\nContent-Type: text/plain";
        },
        [](const QByteArray& b) {
            return "Content-Type: multipart/mixed; boundary = \"" + b + '"';
        },
        [](const QByteArray& b) {
            return "Content-Type: multipart/mixed; boundary*0=\"" + b + '"';
        },
        [](const QByteArray& b) {
            return "Content-Type: multipart/mixed; x-decoy=\"boundary=zz\"; boundary=\"" + b + '"';
        },
    };
    struct Case {
        QByteArray name, raw;
        const char* start; // of the stored body
    };
    QList<Case> cases;
    const char* note = "♪♪♪　このメールは構造を展開できないため";
    for (int s = 0; s < 5; ++s)
        for (const int depth : {3000, 5000, 50000})
            cases.append({"spelling " + QByteArray::number(s) + " at " + QByteArray::number(depth),
                          spelledNesting(depth, spellings[s]),
                          // Of two Content-Type fields the last counts: a text, as it was sent.
                          s == 1 ? "--n0\r\nContent-Type: multipart/mixed" : note});
    cases.append({"25000 siblings", manyParts(25000), note});
    cases.append({"1100 boundaries, then 2 million dash lines", boundaryFlood(), note});

    test::TempHome home;
    ScriptedPrompter prompter;
    CountingHost host;
    host.partner = QStringLiteral("partner@example.jp");
    test::DovecotServer server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    ServerSettings settings;
    settings.pop3Server = QStringLiteral("127.0.0.1:%1").arg(server.port());
    host.userId = QStringLiteral("alice");
    host.password = QStringLiteral("secret");
    NMail mail;
    mail.NMailInitializeWinSock();
    mail.NMailSetOption(1, 8192);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.constData());
        ASSERT_TRUE(server.addMessage(QStringLiteral("alice"), c.raw));
        NMailReceiveLibrary library(mail);
        const ReceiveOutcome outcome = ReceiveCycle(library, host).run(settings);
        EXPECT_EQ(outcome.stored, 1);
        EXPECT_EQ(server.messageCount(QStringLiteral("alice")), 0);
        const QList<MailRecord> stored = records(Box::OthersInbox);
        ASSERT_FALSE(stored.isEmpty());
        const QString body = trimSpaces(stored.constLast().body);
        EXPECT_TRUE(body.startsWith(QString::fromUtf8(c.start))) << body.left(200).toStdString();
        EXPECT_TRUE(QDir(home.file(QStringLiteral("添付フォルダ"))).isEmpty());
    }
}

} // namespace
