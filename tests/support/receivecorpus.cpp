#include "receivecorpus.h"

namespace kiku::test::corpus {

namespace {

// A small deterministic generator, so that every run builds the same bytes.
class Sequence {
public:
    explicit Sequence(quint32 seed) : m_state(seed * 2654435761u + 1) {}
    quint32 next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }

private:
    quint32 m_state;
};

const QByteArray kToJis = "\x1b$B";
const QByteArray kToAscii = "\x1b(B";

// One line of `characters` JIS X 0208 characters (kanji of rows 16 to 46 and hiragana) as
// ISO-2022-JP, escapes included.
QByteArray jisLine(Sequence& seq, int characters) {
    QByteArray line = kToJis;
    for (int c = 0; c < characters; ++c) {
        const quint32 r = seq.next();
        if (r % 3 == 0) {
            line += char(0x24);
            line += char(0x21 + (r >> 8) % 0x53); // あ … ん
        } else {
            line += char(0x30 + (r >> 8) % 0x1f);
            line += char(0x21 + (r >> 16) % 0x5e);
        }
    }
    return line + kToAscii;
}

// "=?ISO-2022-JP?B?...?=" of a few characters.
QByteArray encodedWord(Sequence& seq, int characters) {
    return "=?ISO-2022-JP?B?" + jisLine(seq, characters).toBase64() + "?=";
}

QByteArray header(const QString& from, const QByteArray& subject, int i,
                  const QByteArray& contentType) {
    return "From: " + from.toUtf8() +
           "\r\n"
           "To: alice@example.jp\r\n"
           "Subject: " +
           subject +
           "\r\n"
           "Date: Mon, 1 Jan 2024 10:00:00 +0900\r\n"
           "Message-ID: <corpus" +
           QByteArray::number(i) +
           "@example.jp>\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: " +
           contentType + "\r\n";
}

QByteArray base64Lines(const QByteArray& data) {
    const QByteArray encoded = data.toBase64();
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / 76 * 2 + 2);
    for (qsizetype at = 0; at < encoded.size(); at += 76)
        out += encoded.mid(at, 76) + "\r\n";
    return out;
}

QByteArray bytesOf(Sequence& seq, int size) {
    QByteArray data(size, Qt::Uninitialized);
    for (int k = 0; k < size; ++k)
        data[k] = char(seq.next() >> 11);
    return data;
}

} // namespace

QByteArray smallMessage(int i, const QString& from) {
    Sequence seq{quint32(i)};
    QByteArray body;
    for (int line = 0; line < 12; ++line)
        body += jisLine(seq, 30) + "\r\n";
    body += ".a line that starts with a dot\r\n";
    body += "line " + QByteArray::number(i) + "\r\n";
    return header(from, "benchmark " + encodedWord(seq, 6) + " " + QByteArray::number(i), i,
                  "text/plain; charset=ISO-2022-JP") +
           "\r\n" + body;
}

QByteArray japaneseTextMessage(int i, const QString& from) {
    Sequence seq(quint32(i) + 100000);
    QByteArray body;
    body.reserve(52 * 1024);
    if (i % 3 == 0)
        body += "See the attachment below.\r\n";
    while (body.size() < 50 * 1024)
        body += jisLine(seq, 34) + "\r\n";
    return header(from, encodedWord(seq, 10), i, "text/plain; charset=ISO-2022-JP") +
           "Content-Transfer-Encoding: 7bit\r\n\r\n" + body;
}

QByteArray attachmentMessage(int i, const QString& from, int attachmentBytes) {
    Sequence seq(quint32(i) + 200000);
    QByteArray raw =
        header(from, encodedWord(seq, 8), i, "multipart/mixed; boundary=\"=_corpus_boundary\"");
    raw += "\r\n"
           "This is a multi-part message in MIME format.\r\n"
           "--=_corpus_boundary\r\n"
           "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
           "Content-Transfer-Encoding: 7bit\r\n"
           "\r\n";
    for (int line = 0; line < 5; ++line)
        raw += jisLine(seq, 20) + "\r\n";
    raw += "--=_corpus_boundary\r\n"
           "Content-Type: application/octet-stream; name=\"data" +
           QByteArray::number(i) +
           ".bin\"\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"data" +
           QByteArray::number(i) + ".bin\"\r\n\r\n";
    raw += base64Lines(bytesOf(seq, attachmentBytes));
    raw += "--=_corpus_boundary--\r\n";
    return raw;
}

QList<QByteArray> variedMessages() {
    QList<QByteArray> out;
    const QString other = QStringLiteral("Other Sender <other@example.jp>");
    for (int i = 0; i < 4; ++i) {
        out << smallMessage(i, i % 2 ? kPartner : other);
        out << japaneseTextMessage(i, i % 2 ? other : kPartner);
    }
    out << attachmentMessage(1, other, 300000) << attachmentMessage(2, kPartner, 1);
    Sequence seq(7);

    // Charsets and transfer encodings of single-part text.
    const QString utf8Text = QStringLiteral("日本語のテキスト、UTF-8 で。\r\n二行目です。\r\n");
    const auto single = [&](int i, const QByteArray& type, const QByteArray& encoding,
                            const QByteArray& body) {
        return header(other, "single " + QByteArray::number(i), 1000 + i, type) +
               (encoding.isEmpty() ? QByteArray()
                                   : "Content-Transfer-Encoding: " + encoding + "\r\n") +
               "\r\n" + body;
    };
    const QByteArray utf8 = utf8Text.toUtf8();
    out << single(1, "text/plain; charset=UTF-8", "base64", base64Lines(utf8));
    out << single(2, "text/plain; charset=UTF-8", "quoted-printable",
                  "=E6=97=A5=E6=9C=AC=E8=AA=9E soft=\r\nbreak and attachment =3D done\r\n");
    out << single(3, "text/plain; charset=UTF-8", "8bit", utf8);
    out << single(4, "text/plain; charset=Shift_JIS", "8bit",
                  QByteArray("\x83\x56\x83\x74\x83\x67\x82\x69\x82\x68\x82\x72\x82\xcc\x96\x7b"
                             "\x95\xb6\x82\xc5\x82\xb7\x81\x42\x87\x40\x87\x41\x87\x42\r\n"));
    out << single(5, "text/plain; charset=EUC-JP", "8bit",
                  QByteArray("\xa3\xc5\xa3\xd5\xa3\xc3\xa1\xdd\xa3\xca\xa3\xd0\xa4\xce\xcb\xdc"
                             "\xca\xb8\xa4\xc7\xa4\xb9\xa1\xa3\r\n"));
    out << single(6, "text/plain", "", "no charset at all, plain ASCII, attachment\r\n");
    out << single(7, "text/html; charset=UTF-8", "",
                  QStringLiteral("<html><body><p>こんにちは<br>世界 &amp; 友</p></body></html>\r\n")
                      .toUtf8());
    out << single(8, "application/pdf; name=\"report.pdf\"", "base64",
                  base64Lines("%PDF-1.4 not really a pdf"));

    // Long fields: subject past the record's width, a body far past it.
    QByteArray longSubject = "long subject";
    while (longSubject.size() < 400)
        longSubject += " " + encodedWord(seq, 5);
    out << header(kPartner, longSubject, 2000, "text/plain; charset=ISO-2022-JP") + "\r\n" +
               jisLine(seq, 10) + "\r\n";

    // Multipart shapes.
    const auto part = [](const QByteArray& headers, const QByteArray& body) {
        return headers + "\r\n" + body;
    };
    const auto multipart = [&](int i, const QString& from, const QByteArray& subtype,
                               const QList<QByteArray>& parts) {
        const QByteArray boundary = "b" + QByteArray::number(i);
        QByteArray raw = header(from, "multipart " + QByteArray::number(i), 3000 + i,
                                "multipart/" + subtype + "; boundary=\"" + boundary + "\"") +
                         "\r\npreamble\r\n";
        for (const QByteArray& p : parts)
            raw += "--" + boundary + "\r\n" + p;
        return raw + "--" + boundary + "--\r\nepilogue\r\n";
    };
    const QByteArray textPart =
        part("Content-Type: text/plain; charset=ISO-2022-JP\r\n", jisLine(seq, 12) + "\r\n");
    const QByteArray htmlPart = part("Content-Type: text/html; charset=UTF-8\r\n"
                                     "Content-Transfer-Encoding: quoted-printable\r\n",
                                     "<p>=E3=81=82 attachment</p>\r\n");
    out << multipart(1, other, "alternative", {textPart, htmlPart});
    out << multipart(2, kPartner, "alternative", {htmlPart});
    out << multipart(
        3, other, "mixed",
        {textPart,
         part("Content-Type: application/octet-stream\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment; filename=\"../../evil.txt\"\r\n",
              base64Lines("escape attempt")),
         part("Content-Type: application/octet-stream\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment; filename=\"same.txt\"\r\n",
              base64Lines("first")),
         part("Content-Type: application/octet-stream\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment; filename=\"same.txt\"\r\n",
              base64Lines("second")),
         part("Content-Type: text/plain; charset=UTF-8\r\n"
              "Content-Disposition: attachment; filename*=UTF-8''%E6%97%A5%E6%9C%AC.txt\r\n",
              utf8),
         part("Content-Type: image/png\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: inline; filename=\"=?ISO-2022-JP?B?" +
                  jisLine(seq, 4).toBase64() + "?=.png\"\r\n",
              base64Lines(bytesOf(seq, 5000)))});
    const QByteArray inner =
        header(other, "forwarded", 4000, "multipart/mixed; boundary=\"inner\"") +
        "\r\n--inner\r\n" + textPart + "--inner\r\n" +
        part("Content-Type: application/zip; name=\"inner.zip\"\r\n"
             "Content-Transfer-Encoding: base64\r\n",
             base64Lines(bytesOf(seq, 3000))) +
        "--inner--\r\n";
    out << multipart(
        4, other, "mixed",
        {part("Content-Type: text/plain; charset=us-ascii\r\n", "see forwarded message\r\n"),
         part("Content-Type: message/rfc822\r\n", inner)});
    out << multipart(5, kPartner, "mixed",
                     {part("Content-Type: multipart/alternative; boundary=\"deep\"\r\n",
                           "--deep\r\n" + textPart + "--deep\r\n" + htmlPart + "--deep--\r\n"),
                      part("Content-Type: text/csv; name=\"table.csv\"\r\n"
                           "Content-Disposition: attachment\r\n",
                           "a,b,c\r\n1,2,3\r\n")});
    // A multipart whose text mentions "attachment" but carries none.
    out << multipart(6, other, "mixed",
                     {part("Content-Type: text/plain; charset=us-ascii\r\n",
                           "I forgot the attachment, sorry.\r\n")});
    // Base64 body that breaks in odd places and an unknown charset label.
    out << single(9, "text/plain; charset=x-unknown", "base64",
                  utf8.toBase64().insert(7, "\r\n").append("\r\n"));
    // An incomplete message/partial.
    out << header(other, "part 1 of 2", 5000,
                  "message/partial; id=\"corpus@test\"; number=1; total=2") +
               "\r\nfirst half\r\n";
    // Headers folded, repeated and with odd spacing; sender exactly the partner with spaces
    // around it (the comparison takes the decoded field trimmed).
    out << "From:    " + kPartner.toUtf8() +
               "   \r\n"
               "Subject: folded\r\n subject =?UTF-8?B?" +
               QStringLiteral("折り返し").toUtf8().toBase64() +
               "?=\r\n"
               "Subject: second subject ignored\r\n"
               "Date:\tTue, 2 Jan 2024 11:00:00 +0900\r\n"
               "\r\n"
               "body after folded header\r\n";
    // No header fields the record keeps; an empty body.
    out << QByteArray("X-Nothing: here\r\n\r\n");
    return out;
}

} // namespace kiku::test::corpus
