// Import: an mbox written by another program (Python's mailbox) taken in through the
// program's command line, without a display, as received mail; a second import adds nothing.
#include "base/paths.h"
#include "exchange/wholemessage.h"
#include "store/mailbox.h"
#include "temphome.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

using namespace kiku;

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

// Python's mailbox writes three messages: the partner's, one with an attachment, and one
// whose text has a line beginning "From " (which the mbox must quote and we unquote).
void writeMbox(const QString& path) {
    static const char* const script = R"PY(
import mailbox, sys
from email.message import EmailMessage
box = mailbox.mbox(sys.argv[1])
def msg(frm, subject, text):
    m = EmailMessage(); m['From'] = frm; m['To'] = 'me@example.jp'; m['Subject'] = subject
    m['Date'] = 'Tue, 1 Dec 2026 10:00:00 +0900'; m.set_content(text); return m
box.add(msg('p@example.jp', 'partner', 'こんにちは'))
a = msg('a@example.jp', 'attached', 'see the file')
a.add_attachment(b'hello file', maintype='text', subtype='plain', filename='hello.txt')
box.add(a)
box.add(msg('b@example.jp', 'quoted', 'first line\nFrom here on'))
box.flush()
)PY";
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), u(script), path});
    ASSERT_TRUE(python.waitForFinished(60000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
}

QString runImport(const test::TempHome& home, const QString& path, int* exitCode) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "KIKUMAIL_HOME"})
        env.remove(QString::fromLatin1(name));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KIKU_PROGRAM), {"--home", home.path(), "--import", path});
    if (!program.waitForFinished(60000))
        return QStringLiteral("did not finish");
    *exitCode = program.exitCode();
    return QString::fromLocal8Bit(program.readAllStandardOutput() + program.readAllStandardError());
}

QList<MailRecord> records(Box box) {
    QList<MailRecord> out;
    Mailbox(box).readAll([&](int, const MailRecord& r) {
        out.append(r);
        return true;
    });
    return out;
}

} // namespace

TEST(Import, AnMboxFromAnotherProgramIsTakenInOnceAsReceivedMail) {
    test::TempHome home;
    home.writeFile(u("★MailData/iniIdPass2.ini"), "[EXEINI]\r\nNAME=p@example.jp\r\n");
    const QString mbox = home.file(u("other.mbox"));
    writeMbox(mbox);

    int exitCode = -1;
    QString said = runImport(home, mbox, &exitCode);
    EXPECT_EQ(exitCode, 0) << said.toStdString();
    EXPECT_TRUE(said.contains(u("3 通のメールを取り込みました"))) << said.toStdString();

    // Sorted and counted like received mail, the attachment written, the original kept.
    const QList<MailRecord> partner = records(Box::PartnerInbox);
    const QList<MailRecord> others = records(Box::OthersInbox);
    ASSERT_EQ(partner.size(), 1);
    ASSERT_EQ(others.size(), 2);
    EXPECT_EQ(partner[0].subject.trimmed(), u("partner"));
    EXPECT_TRUE(partner[0].body.contains(u("こんにちは")));
    EXPECT_TRUE(home.readFile(u("★MailData/iniCuntUp.ini")).contains("NAME=1"));
    EXPECT_EQ(home.readFile(u("添付フォルダ/hello.txt")), QByteArray("hello file"));
    EXPECT_TRUE(others[1].body.contains(u("first line\r\nFrom here on")))
        << others[1].body.trimmed().toStdString();
    for (const MailRecord& r : partner + others) {
        const std::optional<QByteArray> original = keptOriginal(recordDigest(r));
        ASSERT_TRUE(original.has_value());
        EXPECT_TRUE(original->contains("Subject: " + r.subject.trimmed().toUtf8()));
        EXPECT_FALSE(original->startsWith("From ")); // the mbox separator is not mail
    }

    // Again: nothing twice, nothing counted twice.
    said = runImport(home, mbox, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(said.contains(u("0 通のメールを取り込みました（取り込み済みの 3 通")))
        << said.toStdString();
    EXPECT_EQ(records(Box::PartnerInbox).size() + records(Box::OthersInbox).size(), 3);
    EXPECT_TRUE(home.readFile(u("★MailData/iniCuntUp.ini")).contains("NAME=1"));

    // What cannot be imported says so and fails.
    said = runImport(home, home.file(u("nothing-here")), &exitCode);
    EXPECT_EQ(exitCode, 1);
    EXPECT_TRUE(said.contains(u("がありません"))) << said.toStdString();
}
