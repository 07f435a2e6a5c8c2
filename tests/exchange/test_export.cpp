// Export of the boxes, read back by another program (Python's mailbox and email modules), the
// command line without a display, and moving old mail out of a nearly full box.
#include "base/text.h"
#include "exchange/boxexport.h"
#include "exchange/boxwall.h"
#include "exchange/exportcommand.h"
#include "exchange/recordmessage.h"
#include "exchange/wholemessage.h"
#include "store/originals.h"
#include "store/storetest.h"
#include "temphome.h"

#include <QDir>
#include <QDirIterator>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace kiku;
using kiku::test::TempHome;

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

// One stored message and what the viewer shows of it (body line breaks as LF).
struct Stored {
    Box box;
    MailRecord record;
    QString subject, address, body;
    QString isoDate; // the moment the Date names; empty: only a valid Date is asked for
};

MailRecord record(QString subject, QString date, QString from, QString body) {
    MailRecord r;
    r.subject = std::move(subject);
    r.date = std::move(date);
    r.from = std::move(from);
    r.body = std::move(body);
    return r;
}

QList<Stored> corpus() {
    const QDateTime sentAt(QDate(2024, 3, 5), QTime(14, 3, 22));
    const QString longSubject = QString(60, QChar(0x3042)); // 120 bytes: 50 characters kept
    return {
        {Box::PartnerInbox,
         record(u("花子より　 "), u("Tue, 05 Mar 2024 14:03:22 +0900 (JST)"),
                u("花子 <hanako@kiku.demo>  "),
                u("　こんにちは\r\nFrom the station\r\n>From here  ")),
         u("花子より"), u("花子 <hanako@kiku.demo>"), u("こんにちは\nFrom the station\n>From here"),
         u("2024-03-05T14:03:22+09:00")},
        {Box::OthersInbox,
         record(u("Re: plain ascii"), u("Mon, 1 Jan 2024 09:00:00 GMT"), u("taro@example.jp"),
                u("line1\r\nFrom me\r\n>>From you\r\nFrom")),
         u("Re: plain ascii"), u("taro@example.jp"), u("line1\nFrom me\n>>From you\nFrom"),
         u("2024-01-01T09:00:00Z")},
        {Box::OthersInbox,
         record(u("件名") + QChar(0) + u("ごみ"), u("いつか"), u("次郎 <jiro@example.jp>"),
                u("丸数字 ①髙 付き\r\nFrom 二行目")),
         u("件名"),
         u("次郎 <jiro@example.jp>"),
         u("丸数字 ①髙 付き\nFrom 二行目"),
         {}},
        {Box::PartnerSent,
         record(u("お返事"), clockText(sentAt), u("hanako@kiku.demo"), u("送りました")),
         u("お返事"), u("hanako@kiku.demo"), u("送りました"), u("2024-03-05T14:03:22")},
        {Box::OthersSent,
         record(longSubject, u("2024/03/05 9:03:22"), u("さくら <sakura@example.jp>"),
                u("From: not a header\r\nFrom x")),
         QString(50, QChar(0x3042)), u("さくら <sakura@example.jp>"),
         u("From: not a header\nFrom x"), u("2024-03-05T09:03:22")},
        {Box::Storage,
         record(u("保管 原本"), u("Wed, 6 Mar 2024 08:00:00 +0900"), u("orig@example.jp"),
                u("短い本文")),
         u("保管 原本"),
         u("orig@example.jp"),
         u("原本の本文\nFrom the original"),
         {}},
    };
}

// The original kept for the storage-box message: 8-bit, with its own header.
QByteArray storageOriginal() {
    return "From: orig@example.jp\r\nTo: me@example.jp\r\nSubject: =?UTF-8?B?" +
           u("保管 原本").toUtf8().toBase64() +
           "?=\r\nDate: Wed, 6 Mar 2024 08:00:00 +0900\r\nMIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" +
           u("原本の本文\r\nFrom the original\r\n").toUtf8();
}

void store(const QList<Stored>& mail) {
    for (const Stored& m : mail)
        ASSERT_TRUE(Mailbox(m.box).append(m.record).ok);
}

// Reads an export as another client would and compares it with `expected`; "" when equal,
// else what differs.
QString readBack(const QString& target, const QList<Stored>& expected) {
    QJsonArray want;
    for (const Stored& m : expected)
        want.append(QJsonObject{{"sent", m.box == Box::PartnerSent || m.box == Box::OthersSent},
                                {"subject", m.subject},
                                {"address", m.address},
                                {"body", m.body},
                                {"date", m.isoDate}});
    static const char* const script = R"PY(
import email, email.policy, email.utils, datetime, json, mailbox, os, re, sys
target, want = sys.argv[1], json.loads(sys.argv[2])
if target.endswith('.mbox'):
    box = mailbox.mbox(target, create=False)
    # mboxrd: one '>' less on every quoted From line
    raws = [re.sub(rb'(?m)^>(>*From )', rb'\1', box.get_bytes(k)) for k in box.keys()]
else:
    raws = [open(os.path.join(d, f), 'rb').read() for d, _, fs in sorted(os.walk(target)) for f in sorted(fs)]
msgs = [email.message_from_bytes(r, policy=email.policy.default) for r in raws]
bad = [] if len(msgs) == len(want) else ['%d messages, %d wanted' % (len(msgs), len(want))]
for i, (m, w) in enumerate(zip(msgs, want)):
    addr = m['To' if w['sent'] else 'From'].addresses[0]
    body = m.get_content().replace('\r\n', '\n').rstrip('\n')
    date = m['Date'].datetime
    if m['Subject'] != w['subject']: bad.append('%d subject %r' % (i, m['Subject']))
    if (addr.display_name, addr.addr_spec) != email.utils.parseaddr(w['address']): bad.append('%d address %r' % (i, str(addr)))
    if body != w['body'].rstrip('\n'): bad.append('%d body %r' % (i, body))
    if date is None: bad.append('%d date %r' % (i, m['Date']))
    elif w['date']:
        d = datetime.datetime.fromisoformat(w['date'].replace('Z', '+00:00'))
        if d.tzinfo is None: d = d.astimezone()
        if d != date: bad.append('%d date %s' % (i, date))
print('\n'.join(bad))
)PY";
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"), QString::fromUtf8(script), target,
                  QString::fromUtf8(QJsonDocument(want).toJson(QJsonDocument::Compact))});
    if (!python.waitForFinished(60000))
        return QStringLiteral("python did not finish");
    return QString::fromUtf8(python.readAllStandardOutput() + python.readAllStandardError())
        .trimmed();
}

// What a folder holds, names only, hidden ones included.
QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

TEST(Export, EveryBoxReadsBackAsTheViewerShowsIt) {
    TempHome home;
    const QList<Stored> mail = corpus();
    store(mail);
    QList<Stored> inFileOrder;
    for (Box box : boxesInFileOrder())
        for (const Stored& m : mail)
            if (m.box == box)
                inFileOrder.append(m);

    ExportOptions options;
    options.accountAddress = u("me@example.jp");
    // The storage box's message has its original kept; the others are built from records.
    for (const Stored& m : mail)
        if (m.box == Box::Storage && m.record.subject.startsWith(u("保管")))
            ASSERT_TRUE(Originals::keep(recordDigest(m.record), storageOriginal()).ok);
    StoreResult loaded;
    options.originals = keptOriginals(loaded);
    ASSERT_TRUE(loaded.ok) << loaded.error.toStdString();
    for (const QString name : {u("all.mbox"), u("all-eml")}) {
        SCOPED_TRACE(name.toStdString());
        const QString target = home.file(name);
        options.format = exportFormatFor(target);
        const ExportResult result = exportBoxes(boxesInFileOrder(), target, options);
        ASSERT_TRUE(result.ok) << result.error.toStdString();
        EXPECT_EQ(result.messages, mail.size());
        EXPECT_EQ(readBack(target, inFileOrder).toStdString(), "");
    }
    // The .eml of a kept original is that original, byte for byte.
    EXPECT_EQ(home.readFile(u("all-eml/vbmdata6/00001.eml")), storageOriginal());

    // One box alone, all its messages and nothing else.
    const QString one = home.file(u("others.mbox"));
    options.format = ExportFormat::Mbox;
    ASSERT_TRUE(exportBoxes({Box::OthersInbox}, one, options).ok);
    EXPECT_EQ(readBack(one, {mail[1], mail[2]}).toStdString(), "");
}

// The Subject lines of an mbox, in order.
static QStringList subjectsOf(const QByteArray& mbox) {
    QStringList subjects;
    for (const QByteArray& line : mbox.split('\n'))
        if (line.startsWith("Subject: "))
            subjects.append(QString::fromLatin1(line.mid(9)).trimmed());
    return subjects;
}

// A box of several chunks (its records are read a megabyte at a time while the messages of the
// last chunk are built): the messages come out in order, each from its original where one is
// kept and can be read, else from its record; "oldest" and a cancel stop where they should.
TEST(Export, ABoxOfManyChunksInOrderWithItsOriginals) {
    TempHome home;
    QHash<QByteArray, QByteArray> originals; // by digest
    const auto original = [](int n) {
        return "From: b@example.jp\r\nSubject: original " + QByteArray::number(n) +
               "\r\n\r\nkept\r\n";
    };
    for (int n = 1; n <= 70; ++n) {
        const MailRecord r = record(u("message %1").arg(n), u("Mon, 1 Jan 2024 10:00:00 +0900"),
                                    u("a@example.jp"), u("text %1").arg(n));
        ASSERT_TRUE(Mailbox(Box::OthersInbox).append(r).ok);
        if (n % 10 == 0)
            originals.insert(recordDigest(r), original(n));
    }
    ExportOptions options;
    options.accountAddress = u("me@example.jp");
    options.originals = [&](const QByteArray& digest) -> std::optional<QByteArray> {
        if (originals.contains(digest))
            return originals.value(digest);
        return std::nullopt;
    };
    const auto expected = [](int count) {
        QStringList subjects;
        for (int n = 1; n <= count; ++n)
            subjects.append(QStringLiteral("%1 %2").arg(n % 10 ? "message" : "original").arg(n));
        return subjects;
    };
    const struct {
        int oldest;
        int cancelAt; // 0: not cancelled
        int messages;
    } cases[] = {{0, 0, 70}, {31, 0, 31}, {32, 0, 32}, {33, 0, 33}, {0, 40, 0}, {0, 70, 0}};
    // The originals are looked up on the worker with the system's file operations, and by the
    // reading thread with file operations that must stay on one thread (a test's fake).
    struct OneThreadFileOps : FileOps {};
    OneThreadFileOps oneThread;
    for (const bool fake : {false, true})
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "oldest " << c.oldest << " cancel " << c.cancelAt
                                            << (fake ? " on one thread" : ""));
            std::optional<ScopedFileOps> scope;
            if (fake)
                scope.emplace(oneThread);
            ASSERT_EQ(FileOps::current().threadSafe(), !fake);
            const QString target = home.file(u("out.mbox"));
            options.oldest = c.oldest;
            options.progress = [&](qint64 done, qint64) {
                return c.cancelAt == 0 || done < c.cancelAt;
            };
            const ExportResult result = exportBoxes({Box::OthersInbox}, target, options);
            if (c.cancelAt) {
                EXPECT_TRUE(result.cancelled);
                EXPECT_EQ(result.messages, c.cancelAt);
                EXPECT_FALSE(QFile::exists(target));
                continue;
            }
            ASSERT_TRUE(result.ok) << result.error.toStdString();
            EXPECT_EQ(result.messages, c.messages);
            EXPECT_EQ(subjectsOf(home.readFile(u("out.mbox"))), expected(c.messages));
            QFile::remove(target);
        }
    // In a folder each file has its record's number; a kept original is itself, byte for byte.
    options.oldest = 0;
    options.progress = {};
    options.format = ExportFormat::EmlFolder;
    ASSERT_TRUE(exportBoxes({Box::OthersInbox}, home.file(u("out-eml")), options).ok);
    EXPECT_EQ(home.readFile(u("out-eml/00060.eml")), original(60));
    for (const int n : {1, 32, 33, 45, 65, 70})
        EXPECT_EQ(subjectsOf(home.readFile(u("out-eml/%1.eml").arg(n, 5, 10, QLatin1Char('0')))),
                  QStringList{expected(n).last()})
            << n;
}

TEST(Export, MboxrdQuotesEveryFromLine) {
    const struct {
        const char* message;
        const char* mbox;
    } cases[] = {
        {"From x\r\n", ">From x\n\n"},
        {">From x\r\n>>From y\n", ">>From x\n>>>From y\n\n"},
        {"From:\r\n From x\r\nFromage\r\nfrom x", "From:\n From x\nFromage\nfrom x\n\n"},
        {"a\r\n\r\nFrom ", "a\n\n>From \n\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mboxrdQuoted(c.message), QByteArray(c.mbox)) << c.message;

    // The quoting goes several bytes to a step: random mixtures of the pieces that matter,
    // at every length across those steps, against the rule applied one line at a time.
    const auto lineByLine = [](const QByteArray& message) {
        if (message.isEmpty())
            return QByteArray("\n");
        QByteArray out;
        QList<QByteArray> lines = message.split('\n');
        if (message.endsWith('\n'))
            lines.removeLast();
        for (QByteArray line : lines) {
            if (line.endsWith('\r'))
                line.chop(1);
            qsizetype q = 0;
            while (q < line.size() && line[q] == '>')
                ++q;
            out += (line.mid(q).startsWith("From ") ? ">" : "") + line + '\n';
        }
        return out + '\n';
    };
    const QList<QByteArray> pieces{"From ", ">", "\r\n", "\n", "\r", "x", "Fro", "m ", "abcdefgh"};
    QRandomGenerator random(22);
    for (int i = 0; i < 6000; ++i) {
        QByteArray message;
        for (int n = random.bounded(24); n > 0; --n)
            message += pieces.at(random.bounded(int(pieces.size())));
        ASSERT_EQ(mboxrdQuoted(message), lineByLine(message)) << message.toPercentEncoding().data();
    }
}

TEST(Export, MboxSeparatorLinesNameSenderAndMomentInUtc) {
    TempHome home;
    for (const char* date : {"Tue, 5 Mar 2024 08:03:22 +0900", "Fri, 15 Nov 2024 23:59:09 -0100"})
        ASSERT_TRUE(Mailbox(Box::OthersInbox)
                        .append(record(u("件名"), u(date), u("taro@example.jp"), u("本文")))
                        .ok);
    ExportOptions options;
    options.format = ExportFormat::Mbox;
    ASSERT_TRUE(exportBoxes({Box::OthersInbox}, home.file(u("one.mbox")), options).ok);
    const QList<QByteArray> lines = home.readFile(u("one.mbox")).split('\n');
    QList<QByteArray> separators;
    for (const QByteArray& line : lines)
        if (line.startsWith("From "))
            separators += line;
    EXPECT_EQ(separators, QList<QByteArray>({"From taro@example.jp Mon Mar  4 23:03:22 2024",
                                             "From taro@example.jp Sat Nov 16 00:59:09 2024"}));
}

TEST(Export, EnvelopeSenderIsTheFirstFromAddress) {
    const struct {
        const char* message;
        const char* sender;
    } cases[] = {
        {"Date: x\r\nFrom: taro@example.jp\r\n\r\n", "taro@example.jp"},
        {"FROM:   Taro <taro@example.jp>  \r\nFrom: b@c\r\n", "taro@example.jp"},
        {"from: \"a@b\" <taro@example.jp>\r\n", "a@b"},
        {"From: a@b, c@d\r\n", "a@b"},
        {"From: nobody\r\nFrom: b@c\r\n", "MAILER-DAEMON"},
        {"Subject: x\r\n\r\nFrom: b@c\r\n", "MAILER-DAEMON"},
        {"From:", "MAILER-DAEMON"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(envelopeSender(c.message), QByteArray(c.sender)) << c.message;

    // The address is read by hand: random From fields against the rule written as a regular
    // expression, the leftmost "<local@domain>" or bare local@domain.
    static const QRegularExpression rule(
        QStringLiteral("<([^<>\\s]+@[^<>\\s]+)>|([^<>\\s\"]+@[^<>\\s\",]+)"));
    const auto byRule = [](const QByteArray& value) {
        const QRegularExpressionMatch m = rule.match(QString::fromLatin1(value.trimmed()));
        if (!m.hasMatch())
            return QByteArray("MAILER-DAEMON");
        return (m.captured(1).isEmpty() ? m.captured(2) : m.captured(1)).toLatin1();
    };
    const QByteArray alphabet("<>@\",  \t\v\rab.\x85\xA0");
    QRandomGenerator random(5);
    for (int i = 0; i < 20000; ++i) {
        QByteArray value;
        for (int n = random.bounded(14); n > 0; --n)
            value += alphabet.at(random.bounded(int(alphabet.size())));
        ASSERT_EQ(envelopeSender("From:" + value + "\r\n\r\n"), byRule(value))
            << value.toPercentEncoding().data();
    }
}

TEST(Export, RefusesToOverwriteAndACancelLeavesNothing) {
    TempHome home;
    store(corpus());
    for (const QString name : {u("x.mbox"), u("x-eml")}) {
        SCOPED_TRACE(name.toStdString());
        const QString target = home.file(u("out/") + name);
        ASSERT_TRUE(QDir().mkpath(home.file(u("out"))));
        ExportOptions options;
        options.format = exportFormatFor(target);

        // Cancelled at the second message: nothing under any name.
        options.progress = [](qint64 done, qint64) { return done < 2; };
        ExportResult cancelled = exportBoxes(boxesInFileOrder(), target, options);
        EXPECT_TRUE(cancelled.cancelled);
        EXPECT_FALSE(cancelled.ok);
        EXPECT_EQ(entries(home.file(u("out"))), QStringList());

        // An existing target is refused and left as it was, unless replacing is asked for.
        home.writeFile(u("out/") + name, "mine");
        options.progress = {};
        const ExportResult refused = exportBoxes(boxesInFileOrder(), target, options);
        EXPECT_FALSE(refused.ok);
        EXPECT_TRUE(refused.error.contains(u("既にあります"))) << refused.error.toStdString();
        EXPECT_EQ(home.readFile(u("out/") + name), QByteArray("mine"));
        EXPECT_EQ(entries(home.file(u("out"))), QStringList{name});

        QFile::remove(target);
        if (options.format == ExportFormat::EmlFolder)
            ASSERT_TRUE(QDir().mkpath(target)); // a folder is replaced by a folder
        options.overwrite = true;
        ASSERT_TRUE(exportBoxes(boxesInFileOrder(), target, options).ok);
        EXPECT_EQ(entries(home.file(u("out"))), QStringList{name});
        QDir(home.file(u("out"))).removeRecursively();
    }
}

// A file the system takes no more of (the disk full, a quota) fails the export with a
// sentence that says so, and leaves nothing under any name.
TEST(Export, AWriteTheSystemRefusesLeavesNothing) {
    TempHome home;
    store(corpus());
    ExportOptions options;
    // One message far beyond the limit below, among the small ones.
    options.originals = [](const QByteArray&) -> std::optional<QByteArray> {
        return "Subject: large\r\n\r\n" + QByteArray(300 * 1024, 'x') + "\r\n";
    };
    ASSERT_TRUE(QDir().mkpath(home.file(u("out"))));
    std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    for (const QString& name : {u("x.mbox"), u("x-eml")}) {
        SCOPED_TRACE(name.toStdString());
        options.format = exportFormatFor(name);
        rlimit small = saved;
        small.rlim_cur = 64 * 1024;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const ExportResult result =
            exportBoxes(boxesInFileOrder(), home.file(u("out/") + name), options);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.error.contains(u("書き出せません"))) << result.error.toStdString();
        EXPECT_EQ(entries(home.file(u("out"))), QStringList());
    }
}

TEST(Export, CommandLineWithoutDisplay) {
    TempHome home;
    store(corpus());
    home.writeFile(u("zadiru.ini"), "MAIL=me@example.jp\r\n");
    const QString noData = QTemporaryDir().path(); // never created: no data folder
    const struct {
        QStringList arguments;
        int exitCode;
        const char* says;
    } cases[] = {
        {{"--export", "vbmdata3.data", home.file("a.mbox")}, 0, "2 通のメールを"},
        {{"--export", "all", home.file("a.mbox")}, 1, "既にあります"},
        {{"--export", "all", home.file("a.mbox"), "--overwrite"}, 0, "6 通のメールを"},
        {{"--export", "ALL", home.file("eml")}, 0, "6 通のメールを"},
        {{"--export", "vbmdata9.data", home.file("b.mbox")},
         2,
         "vbmdata9.data というメールボックスはありません"},
        {{"--export", "all"}, 2, "使い方"},
        {{"--export", "all", home.file("none/b.mbox")}, 1, "がありません"},
    };
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "KIKUMAIL_HOME"})
        env.remove(QString::fromLatin1(name));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(KIKU_PROGRAM),
                      QStringList{QStringLiteral("--home"), home.path()} + c.arguments);
        ASSERT_TRUE(program.waitForFinished(60000));
        EXPECT_EQ(program.exitCode(), c.exitCode);
        const QString out = QString::fromLocal8Bit(
            c.exitCode == 0 ? program.readAllStandardOutput() : program.readAllStandardError());
        EXPECT_TRUE(out.contains(u(c.says))) << out.toStdString();
    }
    // The sent mail names the account from zadiru.ini as its sender.
    EXPECT_TRUE(home.readFile(u("eml/vbmdata4/00001.eml")).contains("From: me@example.jp"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KIKU_PROGRAM),
                  {"--home", noData, "--export", "all", home.file("c.mbox")});
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_FALSE(QFile::exists(home.file("c.mbox")));
}

namespace {

// Notes, at the first change the store makes to a box file, whether the export is complete
// under its final name by then.
class WatchingFileOps : public FileOps {
public:
    WatchingFileOps(QString box, QString mbox, int failRenames)
        : m_box(QFile::encodeName(box)), m_mbox(std::move(mbox)), m_failRenames(failRenames) {}
    bool changed = false;
    bool exportWholeAtChange = false;

    int open(const char* path, int flags, int mode) override {
        if ((flags & (O_WRONLY | O_RDWR)) && m_box == path)
            seen();
        return FileOps::open(path, flags, mode);
    }
    int rename(const char* from, const char* to) override {
        if (m_box == from || m_box == to)
            seen();
        if (m_failRenames-- > 0) {
            errno = EIO;
            return -1;
        }
        return FileOps::rename(from, to);
    }

private:
    void seen() {
        if (changed)
            return;
        changed = true;
        exportWholeAtChange = readBack(m_mbox, {}).startsWith(u("2 messages"));
    }
    QByteArray m_box;
    QString m_mbox;
    int m_failRenames;
};

} // namespace

TEST(BoxWall, OnceADayAboveThirtyThousand) {
    TempHome home;
    const QString box = test::dataFile(u("vbmdata3.data"));
    ASSERT_TRUE(test::writeBytes(box, {}));
    ASSERT_EQ(::truncate(QFile::encodeName(box).constData(), qint64(30000) * kMailRecordSize), 0);
    EXPECT_TRUE(boxwall::nearlyFullBoxes().isEmpty());
    ASSERT_EQ(::truncate(QFile::encodeName(box).constData(), qint64(30001) * kMailRecordSize), 0);
    const QList<boxwall::NearlyFull> nearly = boxwall::nearlyFullBoxes();
    ASSERT_EQ(nearly.size(), 1);
    EXPECT_EQ(nearly[0].box, Box::OthersInbox);
    EXPECT_EQ(nearly[0].messages, 30001);

    const QDate day(2024, 3, 5);
    const QStringList before = entries(home.file(u("★MailData")));
    EXPECT_TRUE(boxwall::reminderDue(day));
    boxwall::rememberReminder(day);
    EXPECT_FALSE(boxwall::reminderDue(day));
    EXPECT_TRUE(boxwall::reminderDue(day.addDays(1)));
    // One file of the program's own beside the box files; none of the others is touched.
    QStringList after = entries(home.file(u("★MailData")));
    EXPECT_EQ(after.size(), before.size() + 1);
    for (const QString& name : before)
        after.removeOne(name);
    EXPECT_FALSE(after.value(0).endsWith(u(".data"))) << after.value(0).toStdString();
    for (const char* described :
         {"iniCuntUp.ini", "iniIdPass.ini", "iniIdPass2.ini", "VBMASTER.INI"})
        EXPECT_FALSE(after.value(0).compare(QLatin1String(described), Qt::CaseInsensitive) == 0);
}

TEST(BoxWall, OldestMailLeavesOnlyAfterItsCopyIsOnDisk) {
    const struct {
        const char* name;
        bool exportFails; // the mbox's folder is missing
        int failRenames;  // the box's rewrite fails
        bool removed;
    } cases[] = {
        {"moved", false, 0, true},
        {"export fails", true, 0, false},
        {"removal fails", false, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempHome home;
        const QList<Stored> mail = corpus();
        for (int i = 0; i < 4; ++i)
            ASSERT_TRUE(Mailbox(Box::OthersInbox).append(mail[i].record).ok);
        const QByteArray boxBefore = test::boxBytes(Box::OthersInbox);
        const QString mbox = home.file(c.exportFails ? u("gone/old.mbox") : u("old.mbox"));
        WatchingFileOps ops(test::dataFile(u("vbmdata3.data")), mbox, c.failRenames);
        ExportResult result;
        {
            ScopedFileOps scoped(ops);
            result = boxwall::moveOldestToMbox(Box::OthersInbox, 2, mbox, {});
        }
        EXPECT_EQ(result.ok, c.removed) << result.error.toStdString();
        EXPECT_EQ(ops.changed, !c.exportFails); // a failed export leaves the box untouched
        if (ops.changed)
            EXPECT_TRUE(ops.exportWholeAtChange);
        int count = 0;
        ASSERT_TRUE(Mailbox(Box::OthersInbox).count(count).ok);
        if (c.removed) {
            EXPECT_EQ(count, 2);
            EXPECT_EQ(test::boxBytes(Box::OthersInbox), boxBefore.mid(2 * kMailRecordSize));
        } else {
            EXPECT_EQ(test::boxBytes(Box::OthersInbox), boxBefore);
        }
        EXPECT_EQ(QFile::exists(mbox), !c.exportFails);
        if (!c.exportFails)
            EXPECT_EQ(readBack(mbox, {mail[0], mail[1]}).toStdString(), "");
        if (c.failRenames)
            EXPECT_TRUE(result.error.contains(u("old.mbox"))) << result.error.toStdString();
    }
}
