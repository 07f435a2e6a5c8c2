// The reader of received mail: the text a reader sees and the files that go into the
// attachment folder, for the shapes real mail takes.
#include "maillib/mimereader.h"

#include <QList>
#include <gtest/gtest.h>

using namespace kiku;

namespace {

QByteArray bytesOf(int seed, int size) {
    QByteArray out(size, Qt::Uninitialized);
    quint32 s = quint32(seed) * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        out[i] = char(s >> 7);
    }
    return out;
}

QByteArray lines(const QByteArray& encoded) {
    QByteArray out;
    for (qsizetype at = 0; at < encoded.size(); at += 76)
        out += encoded.mid(at, 76) + "\r\n";
    return out;
}

// A multipart/mixed message of these parts, each its header lines and its body.
QByteArray mixed(const QList<QPair<QByteArray, QByteArray>>& parts,
                 const QByteArray& type = "multipart/mixed") {
    QByteArray raw =
        "From: a@example.jp\r\nSubject: s\r\nMIME-Version: 1.0\r\nContent-Type: " + type +
        "; boundary=\"b1\"\r\n\r\n";
    for (const auto& [headers, body] : parts)
        raw += "--b1\r\n" + headers + "\r\n" + body + "\r\n";
    return raw + "--b1--\r\n";
}

const QByteArray kPlain = "Content-Type: text/plain; charset=us-ascii\r\n";

struct Case {
    const char* name;
    QByteArray raw;
    QString text; // trimmed
    QList<QPair<QString, QByteArray>> files;
};

QList<Case> cases() {
    const QByteArray data = bytesOf(1, 20000);
    const QByteArray picture = "Content-Type: image/png; name=\"p.png\"\r\n"
                               "Content-Transfer-Encoding: base64\r\n";
    const QByteArray forwarded = "From: b@example.jp\r\nSubject: fw\r\n\r\nline one\r\n"
                                 "  spaced   line\r\n";
    return {
        {"text, picture, text",
         mixed({{kPlain, "first"}, {picture, lines(data.toBase64())}, {kPlain, "second"}}),
         QStringLiteral("first\r\n\r\nsecond"),
         {{QStringLiteral("p.png"), data}}},
        {"a list footer as a second inline text",
         mixed({{kPlain, "the message\r\n"},
                {kPlain + "Content-Disposition: inline\r\n", "--\r\nlist footer"}}),
         QStringLiteral("the message\r\n\r\n--\r\nlist footer"),
         {}},
        {"HTML alone, with named entities",
         "Content-Type: text/html; charset=utf-8\r\n\r\n"
         "<p>&copy; 2026 &hellip; &yen;100 &hearts; caf&eacute; &amp;lt; &notanentity;</p>\r\n",
         QStringLiteral("© 2026 … ¥100 ♥ café &lt; &notanentity;"),
         {}},
        {"an HTML twin is not read",
         mixed({{kPlain, "plain"}, {"Content-Type: text/html\r\n", "<p>html</p>"}},
               "multipart/alternative"),
         QStringLiteral("plain"),
         {}},
        {"a forwarded message is kept as it arrived",
         mixed({{kPlain, "see below"}, {"Content-Type: message/rfc822\r\n", forwarded}}),
         QStringLiteral("see below"),
         {{QStringLiteral("message.eml"), forwarded}}},
        {"an unnamed single-part file",
         "Content-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
             lines(data.toBase64()),
         QString(),
         {{QStringLiteral("attachment.pdf"), data}}},
    };
}

TEST(MimeReader, TextsAndFilesOfEveryShape) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const MimeMessage message(c.raw);
        EXPECT_EQ(message.text().trimmed(), c.text);
        const QList<MailAttachment> files = message.attachments();
        ASSERT_EQ(files.size(), c.files.size());
        for (qsizetype i = 0; i < files.size(); ++i) {
            EXPECT_EQ(files[i].fileName, c.files[i].first);
            EXPECT_TRUE(files[i].data == c.files[i].second) << "file " << i;
        }
    }
}

} // namespace
