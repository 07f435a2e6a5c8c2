// Decoding of received mail and the attachment pass, through a real Dovecot.
#include "base/codec.h"
#include "dovecotserver.h"
#include "maillib/nmail.h"
#include "pop3_helpers.h"
#include "temphome.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace kiku;
using namespace kiku::test;

namespace {

QByteArray b64Word(const char* charset, const QByteArray& bytes) {
    return QByteArray("=?") + charset + "?B?" + bytes.toBase64() + "?=";
}

QByteArray iso2022jp(const QString& text) {
    return codec::encode(text, "ISO-2022-JP");
}

// "①" is row 13 of the NEC extensions: glibc cannot write it in ISO-2022-JP, mailers do.
const QByteArray kCircledOne = "\x1b$B-!\x1b(B";

QByteArray percent(const QByteArray& bytes) {
    return bytes.toPercentEncoding();
}

QByteArray binary(int seed, int size) {
    QByteArray out;
    for (int i = 0; i < size; ++i)
        out += char((i * 7 + seed) & 0xFF);
    return out;
}

QByteArray base64Lines(const QByteArray& data) {
    const QByteArray b64 = data.toBase64();
    QByteArray out;
    for (qsizetype i = 0; i < b64.size(); i += 76)
        out += b64.mid(i, 76) + "\r\n";
    return out;
}

struct Part {
    QByteArray headers; // without the final blank line
    QByteArray body;
};

QByteArray multipart(const QByteArray& subject, const QList<Part>& parts,
                     const QByteArray& type = "multipart/mixed") {
    QByteArray m = "From: sender@example.jp\r\nSubject: " + subject +
                   "\r\nMIME-Version: 1.0\r\nContent-Type: " + type +
                   "; boundary=\"=_kiku_b\"\r\n\r\nThis is a multi-part message.\r\n";
    for (const Part& p : parts)
        m += "--=_kiku_b\r\n" + p.headers + "\r\n\r\n" + p.body + "\r\n";
    return m + "--=_kiku_b--\r\n";
}

Part textPart(const QString& text) {
    return {"Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit",
            iso2022jp(text)};
}

Part filePart(const QByteArray& dispositionParams, const QByteArray& data,
              const QByteArray& type = "application/octet-stream") {
    return {"Content-Type: " + type + "\r\nContent-Disposition: attachment" + dispositionParams +
                "\r\nContent-Transfer-Encoding: base64",
            base64Lines(data)};
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Every file under `root`, relative paths.
QStringList filesUnder(const QString& root) {
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

class Pop3Mime : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = new DovecotServer;
        ASSERT_TRUE(s_server->start()) << s_server->error().toStdString();
    }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(s_server);
        m_mail.NMailSetOption(1, 8192);
        m_mail.setTimeout(5000);
    }
    // Delivers the messages, receives them all as the program does and deletes them.
    QList<ReceivedMail> receive(const QList<QByteArray>& messages, const QString& folder = {}) {
        for (const QByteArray& m : messages)
            EXPECT_TRUE(s_server->addMessage(QStringLiteral("alice"), m));
        int count = 0;
        const QList<ReceivedMail> mails =
            receiveAll(m_mail, QStringLiteral("127.0.0.1:%1").arg(s_server->port()),
                       QStringLiteral("alice"), QStringLiteral("secret"), false,
                       folder.isEmpty() ? attachmentFolder() : folder, true, &count);
        EXPECT_EQ(count, messages.size());
        EXPECT_EQ(s_server->messageCount(QStringLiteral("alice")), 0);
        return mails;
    }
    QString attachmentFolder() const { return m_home.file(QStringLiteral("添付フォルダ")); }

    static DovecotServer* s_server;
    TempHome m_home;
    NMail m_mail;
};

DovecotServer* Pop3Mime::s_server = nullptr;

TEST_F(Pop3Mime, JapaneseHeadersAreDecoded) {
    const QString utf8Text = QStringLiteral("絵文字😀と한글");
    const QByteArray utf8 = utf8Text.toUtf8();
    struct Case {
        QByteArray subject;
        QString expected;
    } cases[] = {
        {b64Word("ISO-2022-JP", iso2022jp(QStringLiteral("日本語の件名"))),
         QStringLiteral("日本語の件名")},
        {b64Word("Shift_JIS", codec::toCp932(QStringLiteral("表示テスト～"))),
         QStringLiteral("表示テスト～")},
        {b64Word("UTF-8", utf8), utf8Text},
        {"=?utf-8?Q?" + utf8.toPercentEncoding("", "", '=') + "_x?=",
         utf8Text + QStringLiteral(" x")},
        // One character split over two words, with folding white space between them.
        {b64Word("UTF-8", utf8.left(4)) + "\r\n " + b64Word("UTF-8", utf8.mid(4)), utf8Text},
        {"Re: " + b64Word("iso-2022-jp", iso2022jp(QStringLiteral("お知らせ"))) + " (2)",
         QStringLiteral("Re: お知らせ (2)")},
        {codec::toCp932(QStringLiteral("生のシフトJIS件名")), QStringLiteral("生のシフトJIS件名")},
        {QStringLiteral("生のUTF-8件名").toUtf8(), QStringLiteral("生のUTF-8件名")},
        {iso2022jp(QStringLiteral("生のJIS件名")), QStringLiteral("生のJIS件名")},
        {b64Word("EUC-JP", codec::encode(QStringLiteral("ＥＵＣの件名"), "EUC-JP")),
         QStringLiteral("ＥＵＣの件名")},
    };
    QList<QByteArray> messages;
    for (const Case& c : cases)
        messages << "From: " + b64Word("ISO-2022-JP", iso2022jp(QStringLiteral("山田太郎"))) +
                        " <taro@example.jp>\r\nDate: Tue, 2 Jan 2024 09:00:00 +0900\r\nSubject: " +
                        c.subject + "\r\n\r\nbody\r\n";
    messages << "From: \"Yamada, Taro\"\r\n  <taro@example.jp>\r\nSubject: plain\r\n\r\nbody\r\n";
    const QList<ReceivedMail> mails = receive(messages);
    ASSERT_EQ(mails.size(), messages.size());
    for (int i = 0; i < int(std::size(cases)); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(mails[i].subject, cases[i].expected);
        EXPECT_EQ(mails[i].from, QStringLiteral("山田太郎 <taro@example.jp>"));
        EXPECT_EQ(mails[i].date, QStringLiteral("Tue, 2 Jan 2024 09:00:00 +0900"));
    }
    // The sender as it stands, only unfolded: partner matching compares it exactly.
    EXPECT_EQ(mails.last().from, QStringLiteral("\"Yamada, Taro\"  <taro@example.jp>"));
}

TEST_F(Pop3Mime, JapaneseBodiesAreDecoded) {
    const QString text = QStringLiteral("こんにちは、表示テスト。\r\n二行目です\r\n");
    const QByteArray utf8 = text.toUtf8();
    QByteArray qp;
    for (char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        qp +=
            (u >= 0x80 || c == '=') ? "=" + QByteArray::number(u, 16).toUpper() : QByteArray(1, c);
        if (qp.size() - qp.lastIndexOf('\n') > 70)
            qp += "=\r\n"; // soft line break
    }
    struct Case {
        QByteArray headers;
        QByteArray body;
        QString expected;
    } cases[] = {
        // JIS 0x2141 is the wave dash CP932 writes as 0x8160, U+FF5E.
        {"Content-Type: text/plain; charset=ISO-2022-JP",
         iso2022jp(text) + kCircledOne + "\x1b$B!A\x1b(B\r\n", text + QStringLiteral("①～\r\n")},
        {"", iso2022jp(text), text}, // no label at all: the escapes tell
        {"Content-Type: text/plain", iso2022jp(text), text},
        {"Content-Type: text/plain; charset=Shift_JIS\r\nContent-Transfer-Encoding: 8bit",
         codec::toCp932(text + QStringLiteral("～①\r\n")), text + QStringLiteral("～①\r\n")},
        {"Content-Type: text/plain; charset=\"EUC-JP\"\r\nContent-Transfer-Encoding: 8bit",
         codec::encode(text, "EUC-JP"), text},
        {"Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64",
         base64Lines(utf8), text},
        {"Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable",
         qp, text},
    };
    QList<QByteArray> messages;
    for (const Case& c : cases)
        messages << "From: a@example.jp\r\nSubject: body\r\nMIME-Version: 1.0\r\n" + c.headers +
                        (c.headers.isEmpty() ? "" : "\r\n") + "\r\n" + c.body;
    const QList<ReceivedMail> mails = receive(messages);
    ASSERT_EQ(mails.size(), messages.size());
    for (int i = 0; i < int(std::size(cases)); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(mails[i].body, cases[i].expected);
        EXPECT_EQ(mails[i].attachmentResult, 0);
        EXPECT_EQ(mails[i].attachmentBody, cases[i].expected);
    }
}

TEST_F(Pop3Mime, JapaneseNamedAttachmentsAreWrittenWithTheirBytes) {
    const QByteArray pdf = binary(1, 1000);
    const QByteArray png = binary(2, 777);
    const QByteArray txt = binary(3, 256);
    const QByteArray name2231 = QStringLiteral("見積書（第２版）.pdf").toUtf8();
    const QByteArray message = multipart(
        b64Word("ISO-2022-JP", iso2022jp(QStringLiteral("添付あり"))),
        {{"Content-Type: text/plain; charset=ISO-2022-JP",
          iso2022jp(QStringLiteral("本文です")) + kCircledOne + "\r\n"},
         // RFC 2231 with continuations and a charset.
         filePart(";\r\n filename*0*=UTF-8''" + percent(name2231.left(12)) +
                      ";\r\n filename*1*=" + percent(name2231.mid(12)),
                  pdf),
         // RFC 2047 in the name parameter, as many Japanese mailers write it.
         {"Content-Type: image/png;\r\n name=\"" +
              b64Word("ISO-2022-JP", iso2022jp(QStringLiteral("写真"))) +
              ".png\"\r\nContent-Transfer-Encoding: base64",
          base64Lines(png)},
         // RFC 2231 in ISO-2022-JP.
         filePart("; filename*=ISO-2022-JP'ja'" + percent(iso2022jp(QStringLiteral("資料.txt"))),
                  txt)});
    const QList<ReceivedMail> mails = receive({message});
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails[0].subject, QStringLiteral("添付あり"));
    EXPECT_TRUE(mails[0].body.contains(QStringLiteral("Content-Disposition: attachment")));
    EXPECT_EQ(mails[0].attachmentResult, 1);
    EXPECT_EQ(mails[0].attachmentBody, QStringLiteral("本文です①\r\n"));
    const QString folder = attachmentFolder();
    EXPECT_EQ(filesUnder(folder),
              (QStringList{QStringLiteral("写真.png"), QStringLiteral("見積書（第２版）.pdf"),
                           QStringLiteral("資料.txt")}));
    EXPECT_EQ(readAll(folder + QStringLiteral("/見積書（第２版）.pdf")), pdf);
    EXPECT_EQ(readAll(folder + QStringLiteral("/写真.png")), png);
    EXPECT_EQ(readAll(folder + QStringLiteral("/資料.txt")), txt);
}

TEST_F(Pop3Mime, HostileNamesStayInsideTheFolder) {
    // The attachment folder sits two levels down so that "../../x" has somewhere to go.
    const QString root = m_home.file(QStringLiteral("outer"));
    const QString folder = root + QStringLiteral("/inner/添付");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QByteArray names[] = {
        "; filename=\"../../x\"",
        "; filename=\"/etc/passwd\"",
        "; filename*=UTF-8''a%5Cb",
        "; filename*=UTF-8''..%2F..%2F..%2Fescape.txt",
        "; filename*=UTF-8''evil%0D%0Aname%07%1B.txt",
        "; filename=\"..\"",
        "; filename=\".hidden\"",
        "; filename*=UTF-8''invoice%E2%80%AEfdp.exe", // a right-to-left override
        "",                                           // no name at all
    };
    QList<Part> parts{textPart(QStringLiteral("本文"))};
    for (int i = 0; i < int(std::size(names)); ++i)
        parts << filePart(names[i], binary(i, 50 + i));
    const QList<ReceivedMail> mails = receive({multipart("hostile", parts)}, folder);
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails[0].attachmentResult, 1);

    // Everything landed directly in the folder, nothing anywhere above it.
    EXPECT_EQ(filesUnder(root).size(), qsizetype(std::size(names)));
    const QStringList written = filesUnder(folder);
    ASSERT_EQ(written.size(), qsizetype(std::size(names)));
    QList<QByteArray> contents;
    for (const QString& name : written) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_FALSE(name.contains(QLatin1Char('/')));
        EXPECT_FALSE(name.contains(QLatin1Char('\\')));
        EXPECT_FALSE(name.contains(QStringLiteral("..")));
        EXPECT_FALSE(name.startsWith(QLatin1Char('.')));
        for (QChar c : name) {
            EXPECT_GE(c.unicode(), 0x20);
            EXPECT_NE(c.unicode(), 0x202E);
        }
        contents << readAll(folder + QLatin1Char('/') + name);
    }
    for (int i = 0; i < int(std::size(names)); ++i)
        EXPECT_TRUE(contents.contains(binary(i, 50 + i))) << i;
}

TEST_F(Pop3Mime, ExistingFilesAreNotOverwritten) {
    const QString folder = attachmentFolder();
    m_home.writeFile(QStringLiteral("添付フォルダ/report.txt"), "keep me");
    const QByteArray message = multipart(
        "twice", {textPart(QStringLiteral("本文")), filePart("; filename=\"report.txt\"", "first"),
                  filePart("; filename=\"report.txt\"", "second")});
    const QList<ReceivedMail> mails = receive({message});
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails[0].attachmentResult, 1);
    EXPECT_EQ(readAll(folder + QStringLiteral("/report.txt")), QByteArray("keep me"));
    EXPECT_EQ(readAll(folder + QStringLiteral("/report(1).txt")), QByteArray("first"));
    EXPECT_EQ(readAll(folder + QStringLiteral("/report(2).txt")), QByteArray("second"));
}

TEST_F(Pop3Mime, UnwritableFolderGivesMinusFive) {
    const QByteArray message = multipart(
        "attached", {textPart(QStringLiteral("本文")), filePart("; filename=\"a.bin\"", "data")});
    QStringList folders{m_home.file(QStringLiteral("no such folder"))};
    // A regular file where the folder should be stops even root.
    m_home.writeFile(QStringLiteral("plainfile"), "x");
    folders << m_home.file(QStringLiteral("plainfile"));
    if (::geteuid() != 0) { // root writes into read-only folders anyway
        const QString readOnly = m_home.file(QStringLiteral("readonly"));
        QDir().mkpath(readOnly);
        QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner);
        folders << readOnly;
    }
    for (const QString& folder : folders) {
        SCOPED_TRACE(folder.toStdString());
        const QList<ReceivedMail> mails = receive({message}, folder);
        ASSERT_EQ(mails.size(), 1);
        EXPECT_EQ(mails[0].attachmentResult, -5);
        EXPECT_TRUE(lastMessage(m_mail).contains(QStringLiteral("添付")))
            << lastMessage(m_mail).toStdString();
        EXPECT_EQ(mails[0].attachmentBody, QStringLiteral("本文"));
    }
}

// The fetched body of a multipart leaves out the base64 lines of its files, but only where
// the look for "attachment" and the cut at a zero character find the same either way.
TEST_F(Pop3Mime, FetchedBodyLeavesOutOnlyFileLinesNoLookCanTell) {
    const QByteArray data = binary(5, 3000);
    const struct {
        QByteArray fileLines;
        bool keptInBody;
    } cases[] = {
        {base64Lines(data), false},
        {"QUJDattachmentRA==\r\n", true}, // base64 that spells the word
        {QByteArray("QUJD\0RA==\r\n", 12), true},
        {"QUJD\x82\xa0RA==\r\n", true},
        {base64Lines(data).insert(1001, '*'), true}, // deep inside the lines
        {base64Lines(data).insert(1002, '\xe1'), true},
    };
    QList<QByteArray> messages;
    for (const auto& c : cases)
        messages << multipart("file", {textPart(QStringLiteral("本文")),
                                       {"Content-Type: application/octet-stream; name=\"a.bin\"\r\n"
                                        "Content-Transfer-Encoding: base64",
                                        c.fileLines},
                                       textPart(QStringLiteral("署名"))});
    const QList<ReceivedMail> mails = receive(messages);
    ASSERT_EQ(mails.size(), messages.size());
    for (int i = 0; i < int(std::size(cases)); ++i) {
        SCOPED_TRACE(i);
        const QString firstLine = QString::fromLatin1(cases[i].fileLines.left(4));
        EXPECT_EQ(mails[i].body.contains(firstLine), cases[i].keptInBody);
        EXPECT_TRUE(mails[i].body.contains(QStringLiteral("name=\"a.bin\"")));
        EXPECT_TRUE(mails[i].body.contains(QStringLiteral("--=_kiku_b--")));
        EXPECT_EQ(mails[i].attachmentResult, 1);
        EXPECT_EQ(mails[i].attachmentBody, QStringLiteral("本文\r\n\r\n署名"));
    }
    EXPECT_EQ(readAll(attachmentFolder() + QStringLiteral("/a.bin")), data);
}

// A file the disk refuses half-way (here the file size limit) is reported and removed.
TEST_F(Pop3Mime, FileCutShortOnDiskIsReportedAndRemoved) {
    const QByteArray message =
        multipart("large", {textPart(QStringLiteral("本文")),
                            filePart("; filename=\"big.bin\"", binary(9, 600 * 1024))});
    ASSERT_TRUE(s_server->addMessage(QStringLiteral("alice"), message));
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = before;
    limited.rlim_cur = 200 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    int count = 0;
    const QList<ReceivedMail> mails = receiveAll(
        m_mail, QStringLiteral("127.0.0.1:%1").arg(s_server->port()), QStringLiteral("alice"),
        QStringLiteral("secret"), false, attachmentFolder(), true, &count);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails[0].attachmentResult, -5);
    EXPECT_TRUE(lastMessage(m_mail).contains(QStringLiteral("big.bin")))
        << lastMessage(m_mail).toStdString();
    EXPECT_EQ(filesUnder(attachmentFolder()), QStringList());
}

TEST_F(Pop3Mime, PartialMessageGivesMinusSix) {
    const QByteArray message =
        "From: a@example.jp\r\nSubject: part 1 of 2\r\nMIME-Version: 1.0\r\n"
        "Content-Type: message/partial; id=\"abc@example.jp\"; number=1; "
        "total=2\r\n\r\nFrom: a@example.jp\r\nSubject: whole\r\n\r\nfirst half\r\n";
    const QList<ReceivedMail> mails = receive({message});
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails[0].attachmentResult, -6);
    EXPECT_FALSE(lastMessage(m_mail).isEmpty());
    EXPECT_TRUE(filesUnder(attachmentFolder()).isEmpty());
}

TEST_F(Pop3Mime, AttachmentPassReadsTheBytesThatArrived) {
    // An 8-bit part does not survive Unicode and a CP932 work file; the pass must use the
    // fetched bytes, not the text handed back.
    QByteArray eightBit;
    for (int b = 0x80; b <= 0xFF; ++b)
        eightBit += char(b);
    const QByteArray message =
        multipart("8bit", {textPart(QStringLiteral("本文")),
                           {"Content-Type: application/octet-stream\r\n"
                            "Content-Disposition: attachment; filename=\"raw.bin\"\r\n"
                            "Content-Transfer-Encoding: 8bit",
                            eightBit}});
    const QList<ReceivedMail> mails = receive({message});
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails[0].attachmentResult, 1);
    EXPECT_EQ(readAll(attachmentFolder() + QStringLiteral("/raw.bin")), eightBit);
}

TEST_F(Pop3Mime, AttachmentPassParsesPassedTextOfAnotherMessage) {
    // Nothing fetched: the text handed in is all there is.
    const QByteArray data = binary(9, 300);
    const QByteArray message = multipart(
        b64Word("UTF-8", QStringLiteral("別のメール").toUtf8()),
        {textPart(QStringLiteral("別の本文")),
         filePart("; filename*=UTF-8''" + percent(QStringLiteral("別.bin").toUtf8()), data)});
    QString subject, date, from, header, body;
    const int result =
        m_mail.NMailAttachmentFileFirst(0, subject, date, from, header, body, attachmentFolder(),
                                        QString(), QString::fromUtf8(message), 0);
    m_mail.NMailAttachmentFileClose(0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(subject, QStringLiteral("別のメール"));
    EXPECT_EQ(body, QStringLiteral("別の本文"));
    EXPECT_EQ(readAll(attachmentFolder() + QStringLiteral("/別.bin")), data);
}

TEST_F(Pop3Mime, AlternativeWithoutAttachmentsGivesItsText) {
    const QByteArray message =
        multipart("alt",
                  {{"Content-Type: text/html; charset=UTF-8",
                    QStringLiteral("<html><body><p>ＨＴＭＬ</p></body></html>").toUtf8()},
                   {"Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64",
                    base64Lines(QStringLiteral("プレーン\r\n").toUtf8())}},
                  "multipart/alternative");
    const QByteArray htmlOnly =
        multipart("html",
                  {{"Content-Type: text/html; charset=UTF-8",
                    QStringLiteral("<p>一行目<br>二行目 &amp; &#x2460;</p>").toUtf8()}},
                  "multipart/alternative");
    const QList<ReceivedMail> mails = receive({message, htmlOnly});
    ASSERT_EQ(mails.size(), 2);
    EXPECT_EQ(mails[0].attachmentResult, 0);
    EXPECT_EQ(mails[0].attachmentBody, QStringLiteral("プレーン\r\n"));
    EXPECT_EQ(mails[1].attachmentResult, 0);
    EXPECT_EQ(mails[1].attachmentBody, QStringLiteral("一行目\r\n二行目 & ①"));
    EXPECT_TRUE(filesUnder(attachmentFolder()).isEmpty());
}

} // namespace
