// Large base64 bodies are decoded without vmime's help (the skeleton): every reading must be
// the one vmime gives for the whole message, whether the cut applies or is refused.
#include "maillib/mimereader.h"

#include <QList>
#include <gtest/gtest.h>

#include <limits>

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

QByteArray lines(const QByteArray& encoded, const char* lineEnd = "\r\n") {
    QByteArray out;
    for (qsizetype at = 0; at < encoded.size(); at += 76)
        out += encoded.mid(at, 76) + lineEnd;
    return out;
}

QByteArray multipart(const QByteArray& fileHeaders, const QByteArray& fileBody,
                     const QByteArray& after = "--b1--\r\n") {
    return "From: a@example.jp\r\nSubject: s\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
           "--b1\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nthe text\r\n"
           "--b1\r\n" +
           fileHeaders + "\r\n" + fileBody + after;
}

struct Reading {
    QList<MailAttachment> files;
    QString text;
};

Reading read(const QByteArray& raw, qsizetype smallestCut) {
    MimeLimits limits;
    limits.smallestCut = smallestCut;
    const MimeMessage message(raw, limits);
    Reading r;
    r.files = message.attachments(); // in the attachment pass's order
    r.text = message.text();
    return r;
}

struct Case {
    const char* name;
    QByteArray raw;
    QByteArray expectedFile; // null: only the comparison with vmime's reading
};

QList<Case> cases() {
    const QByteArray data = bytesOf(1, 20000);
    const QByteArray clean = lines(data.toBase64());
    const QByteArray octet = "Content-Type: application/octet-stream; name=\"f.bin\"\r\n"
                             "Content-Transfer-Encoding: base64\r\n";
    QByteArray spaced = clean;
    spaced.insert(100, ' ');
    QByteArray padded = lines(bytesOf(2, 9001).toBase64() + "AAAA");
    QByteArray withDash = clean;
    withDash.insert(clean.indexOf("\r\n") + 2, "--notaboundary\r\n");
    const QByteArray text = QStringLiteral("長いテキスト attachment ").repeated(400).toUtf8();
    return {
        {"clean base64 file", multipart(octet, clean), data},
        {"upper-case encoding with spaces",
         multipart("Content-Type: image/png\r\nContent-Transfer-Encoding:  BASE64 \r\n", clean),
         data},
        {"last part without a closing boundary", multipart(octet, clean, ""), data},
        {"single-part file",
         "From: a@example.jp\r\nContent-Type: application/pdf\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n" +
             clean,
         data},
        {"stray space", multipart(octet, spaced), {}},
        {"padding inside", multipart(octet, padded), {}},
        {"dash line inside", multipart(octet, withDash), {}},
        {"bare line feeds", multipart(octet, lines(data.toBase64(), "\n")), {}},
        {"quoted-printable is left alone",
         multipart("Content-Type: application/octet-stream\r\n"
                   "Content-Transfer-Encoding: quoted-printable\r\n",
                   clean),
         {}},
        {"text part in base64",
         multipart(
             "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n",
             lines(text.toBase64())),
         {}},
        {"inside a forwarded message",
         multipart("Content-Type: message/rfc822\r\n",
                   "From: b@example.jp\r\nContent-Type: application/zip\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\n" +
                       clean),
         {}},
        {"forged placeholder",
         multipart(octet, "kikuskeleton0x0\r\n" + lines(bytesOf(3, 30).toBase64())),
         {}},
        {"long single-part text without an encoding",
         "From: a@example.jp\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n" + text,
         {}},
        {"long single-part 8bit Shift_JIS",
         "From: a@example.jp\r\nContent-Type: text/plain; charset=Shift_JIS\r\n"
         "Content-Transfer-Encoding: 8bit\r\n\r\n" +
             QByteArray("\x93\xfa\x96\x7b\x8c\xea\r\n").repeated(2000),
         {}},
        {"long single-part quoted-printable",
         "From: a@example.jp\r\nContent-Type: text/plain; charset=UTF-8\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
             QByteArray("=E6=97=A5 soft=\r\nbreak\r\n").repeated(500),
         {}},
        {"header line without a colon",
         "From: a@example.jp\r\nnot a field\r\nContent-Type: text/html\r\n\r\n" +
             QByteArray("<p>x</p>\r\n").repeated(1000),
         {}},
        {"two Content-Type fields, the first a multipart without boundary",
         "From: a@example.jp\r\nContent-Type: multipart/mixed; x=y\r\n"
         "Content-Type: text/plain\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nguess me\r\n"
         "--b--\r\n" +
             text,
         {}},
        {"blank first line", "\nContent-Type: application/octet-stream\r\n\r\n" + clean, {}},
        {"empty header", "\r\n\r\n<b>not a header</b>\r\n", {}},
        {"empty first line", "\r\nSubject: late\r\n\r\nbody\r\n", {}},
        {"well-formed encoded words",
         "From: =?UTF-8?Q?=E5=B1=B1?= <y@example.jp>\r\nSubject: =?ISO-2022-JP?B?GyRCJEYbKEI=?= "
         "x\r\n"
         "Content-Type: text/plain; charset=\"UTF-8\"\r\n\r\n" +
             text,
         {}},
        {"broken encoded word", "Subject: =?ISO-2022-JP?B?G=?=\r\n\r\nbody\r\n", {}},
        {"8-bit subject", "Subject: \xe6\x97\xa5\r\nContent-Type: text/plain\r\n\r\nbody\r\n", {}},
        {"trailing semicolon and odd spacing",
         "Content-Type: TEXT/Plain;\r\nContent-Transfer-Encoding:  8BIT \r\n\r\nbody\r\n",
         {}},
        {"charset with spaces", "Content-Type: text/plain; charset = utf-8\r\n\r\nbody\r\n", {}},
        {"named single part", "Content-Type: application/pdf; name=\"r.pdf\"\r\n\r\n%PDF\r\n", {}},
        {"unnamed single part", "Content-Type: application/pdf\r\n\r\n%PDF\r\n", "%PDF\r\n"},
        {"folded content type",
         "Content-Type: text/plain;\r\n charset=ISO-2022-JP\r\n\r\n\x1b$B$3\x1b(B\r\n",
         {}},
        {"line of white space before the blank line",
         "Subject: s\r\nX-Odd: a\n \r\n\r\n--i\r\nbody that vmime may start a line earlier\r\n",
         {}},
        {"two files and an empty one",
         multipart(octet, clean,
                   "--b1\r\n" + octet + "\r\n\r\n--b1\r\n" + octet + "\r\n" + clean + "--b1--\r\n"),
         data},
    };
}

TEST(MimeSkeleton, EveryReadingIsTheOneOfTheWholeMessage) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const Reading cut = read(c.raw, 16); // with every shortcut past vmime
        const Reading whole = read(c.raw, std::numeric_limits<qsizetype>::max());
        EXPECT_EQ(cut.text, whole.text);
        ASSERT_EQ(cut.files.size(), whole.files.size());
        for (qsizetype i = 0; i < cut.files.size(); ++i) {
            EXPECT_EQ(cut.files[i].fileName, whole.files[i].fileName);
            EXPECT_TRUE(cut.files[i].data == whole.files[i].data) << "file " << i;
        }
        if (!c.expectedFile.isNull()) {
            ASSERT_FALSE(cut.files.isEmpty());
            EXPECT_TRUE(cut.files.constFirst().data == c.expectedFile);
        }
    }
}

} // namespace
