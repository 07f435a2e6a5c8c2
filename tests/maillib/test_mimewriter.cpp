#include "maillib/mimewriter.h"

#include "maillib/jischaracters.h"

#include "maillib/mimereader.h"

#include "base/codec.h"
#include "base/syserror.h"
#include "test_mimewriter_parse.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <sys/stat.h>

using kiku::MailAddress;
using kiku::MimeWriter;
using kiku::OutgoingMessage;
using kiku::test::parseMail;
using kiku::test::rawHeaderField;
namespace codec = kiku::codec;
namespace mime = kiku::mime;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

OutgoingMessage simpleMessage() {
    OutgoingMessage m;
    m.from = {QString(), QStringLiteral("taro@example.jp")};
    m.to = {{QString(), QStringLiteral("hanako@example.com")}};
    m.subject = QStringLiteral("hello");
    m.body = QStringLiteral("body\r\n");
    return m;
}

QByteArray written(const OutgoingMessage& m) {
    MimeWriter writer;
    const std::optional<QByteArray> bytes = writer.write(m);
    EXPECT_TRUE(bytes.has_value()) << writer.errorText().toStdString();
    return bytes.value_or(QByteArray());
}

QByteArray headerBlock(const QByteArray& message) {
    return message.left(message.indexOf("\r\n\r\n") + 2);
}

// Every line of the message is 7-bit and ends in CR LF; header lines, the parts' too, stay
// under 76.
void expectWellFormed(const QByteArray& message) {
    for (char c : message)
        ASSERT_EQ(uchar(c) & 0x80, 0) << "8-bit byte in message";
    qsizetype start = 0;
    bool inHeader = true;
    while (start < message.size()) {
        const qsizetype end = message.indexOf('\n', start);
        ASSERT_GT(end, start) << "message does not end in a line break";
        ASSERT_EQ(message.at(end - 1), '\r') << "bare LF at " << end;
        const QByteArray line = message.mid(start, end - 1 - start);
        ASSERT_FALSE(line.contains('\r')) << "bare CR in line: " << line.toStdString();
        if (line.isEmpty())
            inHeader = false;
        if (line.startsWith("--")) // a part's own header lines follow its boundary
            inHeader = true;
        if (inHeader)
            EXPECT_LT(line.size(), 76) << line.toStdString();
        else
            EXPECT_LE(line.size(), 998);
        start = end + 1;
    }
}

// Each ISO-2022-JP word must decode on its own and return to ASCII before it ends.
void expectBalancedJisWords(const QByteArray& header) {
    static const QRegularExpression word(
        QStringLiteral("=\\?ISO-2022-JP\\?B\\?([A-Za-z0-9+/=]+)\\?="));
    int count = 0;
    for (const auto& m : word.globalMatch(QString::fromLatin1(header))) {
        ++count;
        const QByteArray bytes = QByteArray::fromBase64(m.captured(1).toLatin1());
        const qsizetype lastShift = bytes.lastIndexOf("\x1b$B");
        if (lastShift >= 0)
            EXPECT_GT(bytes.lastIndexOf("\x1b(B"), lastShift) << "word ends in JIS state";
        EXPECT_FALSE(kiku::codec::decode(bytes, "ISO-2022-JP").contains(QChar(0xFFFD)));
    }
    EXPECT_GT(count, 0) << "no ISO-2022-JP word in " << header.toStdString();
}

TEST(MimeWriter, SubjectChoosesCharsetAndReadsBack) {
    struct Case {
        QString subject;
        QString expected;            // as a reader decodes it
        const char* charsetInHeader; // nullptr: written as plain ASCII
    };
    const QString longJapanese =
        u("長い件名のテスト：") + u("日本語の文字がたくさん並んでいます。").repeated(4);
    const QString pastedUrl = QStringLiteral("see https://example.com/") +
                              QStringLiteral("a1b2c3").repeated(50) + QStringLiteral(" please");
    const QList<Case> cases = {
        {QStringLiteral("Meeting at 10:00"), QStringLiteral("Meeting at 10:00"), nullptr},
        {QStringLiteral("a long plain subject ").repeated(8).trimmed(),
         QStringLiteral("a long plain subject ").repeated(8).trimmed(), nullptr},
        {QStringLiteral("a  b   c ").repeated(20).trimmed(),
         QStringLiteral("a  b   c ").repeated(20).trimmed(), "ISO-2022-JP"},
        {u("こんにちは"), u("こんにちは"), "ISO-2022-JP"},
        {u("Re: 会議の件 (10:00～)"), u("Re: 会議の件 (10:00～)"), "ISO-2022-JP"},
        {longJapanese, longJapanese, "ISO-2022-JP"},
        {u("안녕하세요 한국어"), u("안녕하세요 한국어"), "UTF-8"},
        {u("絵文字😀入り ").repeated(8), u("絵文字😀入り ").repeated(8), "UTF-8"},
        {u("半角ｶﾀｶﾅ"), u("半角ｶﾀｶﾅ"), "UTF-8"},
        {QStringLiteral("=?UTF-8?B?Zm9v?= literal"), QStringLiteral("=?UTF-8?B?Zm9v?= literal"),
         "ISO-2022-JP"},
        // A run with nothing to fold at goes as encoded words; "Subject: " takes 9 of 75.
        {QStringLiteral("x").repeated(66), QStringLiteral("x").repeated(66), nullptr},
        {QStringLiteral("x").repeated(67), QStringLiteral("x").repeated(67), "ISO-2022-JP"},
        {QStringLiteral("x").repeated(69), QStringLiteral("x").repeated(69), "ISO-2022-JP"},
        {QStringLiteral("x").repeated(989), QStringLiteral("x").repeated(989), "ISO-2022-JP"},
        {QStringLiteral("x").repeated(1200), QStringLiteral("x").repeated(1200), "ISO-2022-JP"},
        {pastedUrl, pastedUrl, "ISO-2022-JP"},
        {u("改行なし").repeated(300), u("改行なし").repeated(300), "ISO-2022-JP"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.subject.toStdString());
        OutgoingMessage m = simpleMessage();
        m.subject = c.subject;
        const QByteArray message = written(m);
        expectWellFormed(message);
        const QByteArray field = rawHeaderField(message, "Subject");
        if (c.charsetInHeader) {
            EXPECT_TRUE(field.startsWith(QByteArray("=?") + c.charsetInHeader + "?B?"));
            if (QByteArray(c.charsetInHeader) == "ISO-2022-JP")
                expectBalancedJisWords(headerBlock(message));
        } else {
            EXPECT_EQ(QString::fromLatin1(field), c.subject.trimmed());
        }
        // Readers differ on whether JIS 0x2141 is U+301C or U+FF5E; both are the same mark.
        EXPECT_EQ(mime::toJisForms(parseMail(message).subject), mime::toJisForms(c.expected))
            << headerBlock(message).toStdString();
        // Our own reader, which trims the subject for the list.
        EXPECT_EQ(mime::toJisForms(kiku::MimeMessage(message).subject()),
                  mime::toJisForms(c.expected.trimmed()));
    }
}

TEST(MimeWriter, LineBreaksInSubjectCannotStartNewHeaderLines) {
    OutgoingMessage m = simpleMessage();
    m.subject = QStringLiteral("hi\r\nBcc: victim@example.com");
    const QByteArray message = written(m);
    expectWellFormed(message);
    EXPECT_TRUE(rawHeaderField(message, "Bcc").isEmpty());
    EXPECT_EQ(parseMail(message).subject, m.subject);
}

TEST(MimeWriter, BodyCharsetAndLineEnds) {
    struct Case {
        QString body;
        QString expected;
        const char* charset;
        const char* encoding;
    };
    const QString longLine = u("改行のない長い段落。").repeated(60); // > 998 bytes in JIS
    const QList<Case> cases = {
        {u("本文です。\n二行目\r\n.三行目\rおわり\n"),
         u("本文です。\r\n二行目\r\n.三行目\r\nおわり\r\n"), "iso-2022-jp", "7bit"},
        {u("ASCII only\n"), u("ASCII only\r\n"), "iso-2022-jp", "7bit"},
        {u("～は波ダッシュ\r\n"), u("〜は波ダッシュ\r\n"), "iso-2022-jp", "7bit"},
        {u("한국어 본문\n"), u("한국어 본문\r\n"), "utf-8", "base64"},
        {u("emoji 😀 and 日本語\n"), u("emoji 😀 and 日本語\r\n"), "utf-8", "base64"},
        {longLine + u("\r\n"), longLine + u("\r\n"), "iso-2022-jp", "base64"},
        // The 7-bit limit of 998 bytes to a line, wherever the longest line is.
        {QString(998, 'x') + u("\r\ny\r\n"), QString(998, 'x') + u("\r\ny\r\n"), "iso-2022-jp",
         "7bit"},
        {u("y\r\n") + QString(999, 'x') + u("\r\ny\r\n"),
         u("y\r\n") + QString(999, 'x') + u("\r\ny\r\n"), "iso-2022-jp", "base64"},
        {u("y\r\n") + QString(999, 'x'), u("y\r\n") + QString(999, 'x'), "iso-2022-jp", "base64"},
        // Far into a text: after many short lines, after lines just at the limit.
        {u("y\r\n").repeated(700) + QString(999, 'x') + u("\r\n"),
         u("y\r\n").repeated(700) + QString(999, 'x') + u("\r\n"), "iso-2022-jp", "base64"},
        {(QString(998, 'x') + u("\r\n")).repeated(3), (QString(998, 'x') + u("\r\n")).repeated(3),
         "iso-2022-jp", "7bit"},
        {(QString(997, 'x') + u("\r\n")).repeated(2) + QString(999, 'x'),
         (QString(997, 'x') + u("\r\n")).repeated(2) + QString(999, 'x'), "iso-2022-jp", "base64"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body.left(40).toStdString());
        OutgoingMessage m = simpleMessage();
        m.body = c.body;
        const QByteArray message = written(m);
        expectWellFormed(message);
        const auto parsed = parseMail(message);
        EXPECT_EQ(parsed.bodyCharset, QString::fromLatin1(c.charset));
        EXPECT_EQ(parsed.bodyEncoding, QString::fromLatin1(c.encoding));
        EXPECT_EQ(parsed.body, c.expected);
    }
}

// Lines end at CR LF pairs only; whether they all fit a limit is found by looking back from
// the farthest place each may end: random texts at small limits against the lines split out.
TEST(MimeWriter, LinesFitWhereTheLongestLineDoes) {
    const QList<QByteArray> pieces{"\r\n", "\r", "\n", "x", "xxxx", "\r\r\n"};
    QRandomGenerator random(998);
    for (int i = 0; i < 20000; ++i) {
        QByteArray text;
        for (int n = random.bounded(10); n > 0; --n)
            text += pieces.at(random.bounded(int(pieces.size())));
        qsizetype longest = 0;
        for (const QString& line : QString::fromLatin1(text).split(u("\r\n")))
            longest = qMax(longest, line.size());
        for (qsizetype limit = 0; limit <= 9; ++limit)
            ASSERT_EQ(mime::linesFit(text, limit), longest <= limit)
                << text.toPercentEncoding().data() << " limit " << limit;
    }
}

// Encoded words of JIS X 0208 text are made without the converter: every word must hold
// exactly the bytes the converter writes for its characters, next to ASCII on either side,
// and as many characters as fit.
TEST(MimeWriter, JisWordsHoldWhatTheConverterWrites) {
    int fast = 0;
    for (char16_t c = 0x80; c < 0xFFFF; ++c) {
        if (QChar(c).isSurrogate())
            continue;
        const QString text = u("a") + QChar(c) + u("~") + QChar(c) + QChar(c) + u("\\b");
        if (!mime::jisCharacters(text))
            continue;
        ++fast;
        const QString forms = mime::toJisForms(text);
        QString read;
        const int room = 34 + c % 2 * 6; // a word of exactly 34 characters is common
        for (const QByteArray& word : mime::encodedWords(text, room, room)) {
            ASSERT_TRUE(word.startsWith("=?ISO-2022-JP?B?") && word.endsWith("?=")) << int(c);
            const QByteArray bytes = QByteArray::fromBase64(word.mid(16).chopped(2));
            const QString run = codec::decode(bytes, "ISO-2022-JP");
            ASSERT_EQ(codec::encode(run, "ISO-2022-JP"), bytes) << int(c);
            read += run;
            if (read.size() < forms.size()) {
                // One character more would not have fitted.
                const QByteArray longer = codec::encode(run + forms.at(read.size()), "ISO-2022-JP");
                ASSERT_GT(18 + (longer.size() + 2) / 3 * 4, room) << int(c);
            }
        }
        ASSERT_EQ(read, forms) << int(c);
    }
    // Every character of JIS X 0208, and the six that toJisForms turns into one of them.
    EXPECT_EQ(fast, 6879 + 6);
    EXPECT_FALSE(mime::jisCharacters(u("半角ｶﾅ")));
    EXPECT_FALSE(mime::jisCharacters(u("a\x1b$B")));
}

TEST(MimeWriter, AddressHeadersCarryNamesAndAllRecipients) {
    OutgoingMessage m = simpleMessage();
    m.from = {u("山田 太郎"), QStringLiteral("taro@example.jp")};
    m.to = {{u("鈴木 花子"), QStringLiteral("hanako@example.com")},
            {QStringLiteral("Smith, John"), QStringLiteral("john@example.org")},
            {QString(), QStringLiteral("plain@example.net")},
            {u("김민준"), QStringLiteral("kim@example.kr")},
            {QStringLiteral("A Very Long Department Name ").repeated(5).trimmed(),
             QStringLiteral("dept@example.jp")},
            {QStringLiteral("NoSpaceName").repeated(30), QStringLiteral("long@example.jp")}};
    m.cc = {{QStringLiteral("Copy Person"), QStringLiteral("cc@example.com")}};
    const QByteArray message = written(m);
    expectWellFormed(message);
    const auto parsed = parseMail(message);
    EXPECT_EQ(parsed.from.name, u("山田 太郎"));
    EXPECT_EQ(parsed.from.address, QStringLiteral("taro@example.jp"));
    ASSERT_EQ(parsed.to.size(), m.to.size());
    for (qsizetype i = 0; i < m.to.size(); ++i) {
        EXPECT_EQ(parsed.to[i].name, m.to[i].displayName);
        EXPECT_EQ(parsed.to[i].address, m.to[i].address);
    }
    ASSERT_EQ(parsed.cc.size(), 1);
    EXPECT_EQ(parsed.cc[0].address, QStringLiteral("cc@example.com"));
    EXPECT_TRUE(rawHeaderField(message, "Bcc").isEmpty());
}

TEST(MimeWriter, DateAndMessageId) {
    const QDateTime tokyo(QDate(2024, 3, 5), QTime(14, 3, 22), QTimeZone(9 * 3600));
    EXPECT_EQ(mime::rfc5322Date(tokyo), QByteArray("Tue, 05 Mar 2024 14:03:22 +0900"));
    const QDateTime newfoundland(QDate(2023, 12, 31), QTime(23, 59, 1),
                                 QTimeZone(-(3 * 3600 + 1800)));
    EXPECT_EQ(mime::rfc5322Date(newfoundland), QByteArray("Sun, 31 Dec 2023 23:59:01 -0330"));

    OutgoingMessage m = simpleMessage();
    m.date = tokyo;
    EXPECT_EQ(rawHeaderField(written(m), "Date"), QByteArray("Tue, 05 Mar 2024 14:03:22 +0900"));
    m.date = {};
    const QDateTime parsedNow = QDateTime::fromString(
        QString::fromLatin1(rawHeaderField(written(m), "Date")), Qt::RFC2822Date);
    EXPECT_LE(qAbs(parsedNow.secsTo(QDateTime::currentDateTime())), 5);

    QSet<QByteArray> ids;
    for (int i = 0; i < 50; ++i)
        ids.insert(rawHeaderField(written(m), "Message-ID"));
    EXPECT_EQ(ids.size(), 50);
    EXPECT_TRUE(ids.begin()->endsWith("@example.jp>")) << ids.begin()->toStdString();
    m.from.address = QStringLiteral("local-user");
    EXPECT_TRUE(rawHeaderField(written(m), "Message-ID").endsWith("@localhost>"));
}

class MimeAttachments : public ::testing::Test {
protected:
    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QTemporaryDir m_dir;
};

TEST_F(MimeAttachments, PartsReadBackWithNamesTypesAndBytes) {
    QByteArray binary;
    for (int i = 0; i < 5000; ++i)
        binary += char(i * 7);
    const QString longName =
        u("とても長い日本語のファイル名の添付ファイルです_令和六年度_報告書_最終版.pdf");
    const QString longAscii = QStringLiteral("quarterly report ").repeated(8) +
                              QStringLiteral("x").repeated(100) + QStringLiteral(".csv");
    const QList<std::pair<QString, QByteArray>> files = {
        {QStringLiteral("photo.png"), binary},
        {u("見積書.txt"), u("見積\r\n").toUtf8()},
        {longName, QByteArray("%PDF-1.4\n")},
        {QStringLiteral("quote\"d name.bin"), QByteArray(1, '\0')},
        {QStringLiteral("empty.dat"), QByteArray()},
        {longAscii, QByteArray("long")},
    };
    OutgoingMessage m = simpleMessage();
    m.body = u("添付します。\r\n");
    for (const auto& [name, bytes] : files)
        m.attachments += file(name, bytes);

    const QByteArray message = written(m);
    expectWellFormed(message);
    const auto parsed = parseMail(message);
    EXPECT_EQ(parsed.body, m.body);
    ASSERT_EQ(parsed.attachments.size(), files.size());
    const QList<kiku::MailAttachment> ownReader = kiku::MimeMessage(message).attachments();
    const QStringList types = {QStringLiteral("image/png"),
                               QStringLiteral("text/plain"),
                               QStringLiteral("application/pdf"),
                               QStringLiteral("application/octet-stream"),
                               QStringLiteral("application/octet-stream"),
                               QStringLiteral("text/csv")};
    for (qsizetype i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].first.toStdString());
        EXPECT_EQ(parsed.attachments[i].name, files[i].first);
        EXPECT_EQ(parsed.attachments[i].bytes, files[i].second);
        EXPECT_EQ(parsed.attachments[i].contentType, types[i]);
        EXPECT_EQ(ownReader.value(i).fileName, files[i].first);
    }
    // Programs that ignore RFC 2231 read the encoded-word fallback: it must name the file too.
    static const QRegularExpression fallback(QStringLiteral("filename=\"([^\"]*)\""));
    QStringList fallbackNames;
    QString unfolded =
        QString::fromLatin1(message).replace(QStringLiteral("\r\n "), QStringLiteral(" "));
    for (const auto& match : fallback.globalMatch(unfolded)) {
        fallbackNames += kiku::test::decodedWords(match.captured(1));
    }
    ASSERT_EQ(fallbackNames.size(), files.size());
    EXPECT_EQ(fallbackNames[1], files[1].first);
    EXPECT_EQ(fallbackNames[2], longName);
    EXPECT_EQ(fallbackNames[5], longAscii);
    EXPECT_TRUE(message.contains("filename*=UTF-8''%E8%A6%8B%E7%A9%8D%E6%9B%B8.txt"));
}

TEST_F(MimeAttachments, UnreadableFileFailsWithItsPath) {
    const QString good = file(QStringLiteral("a.txt"), "a");
    struct Case {
        QString list;
        QString named;
    };
    const QString fifo = m_dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    struct Why {
        QString list;
        QString named;
        QString reason; // in Japanese, never the system's English
    };
    const QList<Why> why = {
        {m_dir.path(), m_dir.path(), u("フォルダです")},
        // A pipe is no folder, and reading it would block the send for good.
        {fifo, fifo, u("名前付きパイプです")},
        {QStringLiteral("/proc/self/mem"), QStringLiteral("/proc/self/mem"),
         u("ディスクの読み書きに失敗しました")},
    };
    for (const Why& c : why) {
        SCOPED_TRACE(c.named.toStdString());
        OutgoingMessage m = simpleMessage();
        m.attachments = mime::splitAttachmentList(c.list);
        MimeWriter writer;
        EXPECT_FALSE(writer.write(m).has_value());
        EXPECT_TRUE(writer.errorText().contains(c.named)) << writer.errorText().toStdString();
        EXPECT_TRUE(writer.errorText().contains(c.reason)) << writer.errorText().toStdString();
    }
    const QList<Case> cases = {
        {good + QStringLiteral(",") + m_dir.filePath(u("無い.txt")), m_dir.filePath(u("無い.txt"))},
    };
    for (const Case& c : cases) {
        OutgoingMessage m = simpleMessage();
        m.attachments = mime::splitAttachmentList(c.list);
        MimeWriter writer;
        EXPECT_FALSE(writer.write(m).has_value());
        EXPECT_TRUE(writer.errorText().contains(c.named)) << writer.errorText().toStdString();
    }
}

TEST(SystemErrorText, NoReasonIsGivenInEnglish) {
    for (int error = 0; error < 134; ++error) {
        const QString text = kiku::systemErrorText(error);
        SCOPED_TRACE(error);
        EXPECT_FALSE(text.isEmpty());
        EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2,}"))))
            << text.toStdString();
    }
}

TEST(MimeHelpers, AttachmentListTrimsAndDropsEmptyItems) {
    EXPECT_EQ(mime::splitAttachmentList(QStringLiteral(" /a/b.txt , ,/c d/e.png,")),
              (QStringList{QStringLiteral("/a/b.txt"), QStringLiteral("/c d/e.png")}));
    EXPECT_TRUE(mime::splitAttachmentList(QStringLiteral(" , ")).isEmpty());
}

TEST(MimeHelpers, QuotedAttachmentPathsKeepTheirCommas) {
    const struct {
        QString text;
        QStringList paths;
    } cases[] = {
        {u("\"/tmp/見積, 改訂.pdf\",/a/b.txt"), {u("/tmp/見積, 改訂.pdf"), u("/a/b.txt")}},
        {u(" \"/x/say \"\"hi\"\".txt\" , \"/y/,\""), {u("/x/say \"hi\".txt"), u("/y/,")}},
        {u("/plain/a\"b.txt,/c.txt"), {u("/plain/a\"b.txt"), u("/c.txt")}},
        {u("\" /lead and trail/ \""), {u(" /lead and trail/ ")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(mime::splitAttachmentList(c.text), c.paths);
        // The list written back reads as the same paths, and a plain path stays plain.
        EXPECT_EQ(mime::splitAttachmentList(mime::joinAttachmentList(c.paths)), c.paths);
    }
    EXPECT_EQ(mime::joinAttachmentList({u("/a/b.txt"), u("/c d/e.png")}), u("/a/b.txt,/c d/e.png"));
}

TEST(MimeHelpers, AddressListSplitsOnlyAtTopLevelCommas) {
    EXPECT_EQ(mime::splitAddressList(u("a@b.jp, \"Smith, John\" <j@x.org>,,山田 <y@z.jp> ,")),
              (QStringList{QStringLiteral("a@b.jp"), QStringLiteral("\"Smith, John\" <j@x.org>"),
                           u("山田 <y@z.jp>")}));
}

TEST(MimeHelpers, MailboxParsingRejectsWhatCouldBendACommand) {
    struct Case {
        const char* text;
        bool ok;
        const char* name;
        const char* address;
    };
    const Case cases[] = {
        {"a@b.jp", true, "", "a@b.jp"},
        {"  <a@b.jp>  ", true, "", "a@b.jp"},
        {"山田 太郎 <taro@example.jp>", true, "山田 太郎", "taro@example.jp"},
        {"\"Smith, \\\"JJ\\\"\" <j@x.org>", true, "Smith, \"JJ\"", "j@x.org"},
        {"", false, "", ""},
        {"Taro Yamada", false, "", ""},
        {"a@b.jp>\r\nRCPT TO:<x@y", false, "", ""},
        {"<a@b.jp\r\nDATA>", false, "", ""},
        {"a@b.jp\r\nRCPT TO:<x@evil>", false, "", ""},
        {"たろう@example.jp", false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto box = mime::parseMailAddress(u(c.text));
        ASSERT_EQ(box.has_value(), c.ok);
        if (box) {
            EXPECT_EQ(box->displayName, u(c.name));
            EXPECT_EQ(box->address, u(c.address));
        }
    }
    // Longer than an SMTP path may be: no header line could carry it whole.
    const QString domain = QStringLiteral("@example.jp");
    EXPECT_TRUE(mime::parseMailAddress(QStringLiteral("a").repeated(254 - 11) + domain));
    EXPECT_FALSE(mime::parseMailAddress(QStringLiteral("a").repeated(255 - 11) + domain));
}

// The character checks of addresses, names and Message-ID domains, against the rules as
// regular expressions, over random texts of the characters that matter.
TEST(MimeHelpers, CharacterChecksFollowTheirRules) {
    const QRegularExpression sendable(QStringLiteral("^[!#-'*-+\\-./0-9=?@A-Z^-~]+$"));
    const QRegularExpression hostName(QStringLiteral("^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)*$"));
    const QRegularExpression plainPhrase(QStringLiteral("^[A-Za-z0-9!#$%&'*+/=?^_`{|}~ -]+$"));
    QString everyAscii;
    for (char16_t c = 1; c < 0x80; ++c)
        everyAscii += QChar(c);
    const QString alphabet = everyAscii + u("é山");
    QRandomGenerator random(2822);
    const auto randomText = [&](int most) {
        QString text;
        for (int n = 1 + random.bounded(most); n > 0; --n)
            text += alphabet.at(random.bounded(int(alphabet.size())));
        return text;
    };
    for (int i = 0; i < 5000; ++i) {
        const QString address = randomText(4) + u("@b.jp");
        SCOPED_TRACE(address.toStdString());
        const bool takesAngleForm = address.trimmed().endsWith(QLatin1Char('>'));
        if (!takesAngleForm)
            ASSERT_EQ(mime::parseMailAddress(address).has_value(),
                      sendable.match(address.trimmed()).hasMatch());

        OutgoingMessage m = simpleMessage();
        const QString domain = randomText(6).replace(u("\r"), u(".")).replace(u("\n"), u("."));
        m.from.address = u("u@") + domain;
        const QByteArray id = rawHeaderField(written(m), "Message-ID");
        ASSERT_EQ(id.endsWith("@" + domain.toLatin1() + ">"), hostName.match(domain).hasMatch())
            << id.toStdString();

        const QString name = randomText(6).replace(u("\r"), u(" ")).replace(u("\n"), u(" "));
        m.from = {name, u("a@b.jp")};
        const QByteArray from = rawHeaderField(written(m), "From");
        if (!from.contains("=?") && name.trimmed() == name && !name.contains(u("  ")))
            ASSERT_EQ(from.startsWith('"'), !plainPhrase.match(name).hasMatch())
                << from.toStdString();
    }
}

TEST(MimeWriter, ExtraHeaderLines) {
    OutgoingMessage m = simpleMessage();
    m.extraHeader = u("X-Priority: 1\nReply-To: back@example.jp\r\nX-Note: 日本語のメモ\n");
    const QByteArray message = written(m);
    expectWellFormed(message);
    EXPECT_EQ(rawHeaderField(message, "X-Priority"), QByteArray("1"));
    EXPECT_EQ(rawHeaderField(message, "Reply-To"), QByteArray("back@example.jp"));
    EXPECT_TRUE(rawHeaderField(message, "X-Note").startsWith("=?ISO-2022-JP?B?"));

    for (const char* bad :
         {"not a header line", "Subject: second subject", "Content-Type: text/html"}) {
        OutgoingMessage b = simpleMessage();
        b.extraHeader = u(bad);
        MimeWriter writer;
        EXPECT_FALSE(writer.write(b).has_value()) << bad;
        EXPECT_FALSE(writer.errorText().isEmpty());
    }
}

TEST(MimeHelpers, ContentTypeFromExtension) {
    EXPECT_EQ(mime::contentTypeFor(QStringLiteral("a.JPG")), QByteArray("image/jpeg"));
    EXPECT_EQ(mime::contentTypeFor(u("書類.xlsx")),
              QByteArray("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"));
    EXPECT_EQ(mime::contentTypeFor(QStringLiteral("noext")),
              QByteArray("application/octet-stream"));
    EXPECT_EQ(mime::contentTypeFor(QStringLiteral("x.unknownext")),
              QByteArray("application/octet-stream"));
}

} // namespace
