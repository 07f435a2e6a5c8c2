// The reader of received mail: the text a reader sees and the files that go into the
// attachment folder, for the shapes real mail takes.
#include "maillib/mimereader.h"

#include "base/codec.h"

#include <QList>
#include <gtest/gtest.h>

// GLib names a member "signals", which Qt defines as a keyword; nothing here needs it.
#undef signals
#include <gmime/gmime.h>

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

// GMime's own decoding of the message's first file: what every base64 file must come out
// as, however the sender wrote it.
QByteArray gmimeDecoded(const QByteArray& raw) {
    g_mime_init();
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(raw.constData(), size_t(raw.size()));
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    GMimeObject* file =
        g_mime_multipart_get_part(GMIME_MULTIPART(g_mime_message_get_mime_part(message)), 1);
    GMimeStream* out = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(GMIME_PART(file)), out);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
    const QByteArray decoded(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
    for (gpointer object : {gpointer(out), gpointer(message), gpointer(parser), gpointer(stream)})
        g_object_unref(object);
    return decoded;
}

TEST(MimeReader, Base64FilesComeOutAsGMimeDecodesThem) {
    const QByteArray clean = lines(bytesOf(2, 3000).toBase64()); // ends in "=" padding
    const QByteArray middle = clean.left(clean.size() / 2);
    const QByteArray rest = clean.mid(clean.size() / 2);
    const QByteArray oneLine = bytesOf(3, 5000).toBase64() + "\r\n";
    QByteArray lfOnly = clean;
    lfOnly.replace("\r\n", "\n");
    const struct {
        const char* name;
        QByteArray body;
    } cases[] = {
        {"whole lines, padded at the end", clean},
        {"two padding characters", lines(bytesOf(4, 3001).toBase64())},
        {"line feeds alone", lfOnly},
        {"a group split over two lines", middle + "QUJ\r\nD" + rest},
        {"a stray character", middle + "QU*JD\r\n" + rest},
        {"a space at a line's end", middle + "QUJD \r\n" + rest},
        {"padding in the middle", middle + "QQ==\r\n" + rest},
        {"no line end at the end", clean.chopped(2)},
        {"one line longer than any buffer", oneLine},
        {"nothing", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray raw = mixed({{kPlain, "text"},
                                      {"Content-Type: application/octet-stream; name=\"f.bin\"\r\n"
                                       "Content-Transfer-Encoding: base64\r\n",
                                       c.body}});
        const QList<MailAttachment> files = MimeMessage(raw).attachments();
        ASSERT_EQ(files.size(), 1);
        const QByteArray expected = gmimeDecoded(raw);
        EXPECT_EQ(files[0].data.size(), expected.size());
        EXPECT_TRUE(files[0].data == expected);
    }
}

// ISO-2022-JP by table must read exactly as the converter reads the same text made into
// EUC-JP: pairs of every row (some with no character), spaces and controls inside a
// two-byte run, lines that end without returning to ASCII, escapes cut short, half pairs.
TEST(MimeReader, Iso2022jpByTableReadsAsTheConverterDoes) {
    quint32 state = 4242;
    const auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    const QByteArray pieces[] = {"abc ",   "\r\n",   "\t",     " ",    "\x1b(B", "\x1b(J",
                                 "\x1b$B", "\x1b$@", "\x1b$ ", "\x7f", "!"};
    for (int round = 0; round < 400; ++round) {
        QByteArray iso;
        const int count = int(next() % 30);
        for (int k = 0; k < count; ++k) {
            if (next() % 2 == 0) {
                iso += pieces[next() % std::size(pieces)];
                continue;
            }
            const int pairs = int(1 + next() % 6);
            for (int p = 0; p < pairs; ++p) // rows 1 to 84, a few past the last one used
                iso += char(0x21 + next() % 88) + QByteArray(1, char(0x21 + next() % 94));
        }
        if (next() % 8 == 0)
            iso += '\x1b';
        // The converter's input: each pair read in a two-byte run gets its high bits.
        QByteArray euc;
        bool jis = false;
        for (qsizetype i = 0; i < iso.size(); ++i) {
            const char c = iso.at(i);
            const QByteArray seq = iso.mid(i + 1, 2);
            if (c == '\x1b' && (seq == "(B" || seq == "(J")) {
                jis = false;
                i += 2;
            } else if (c == '\x1b' && (seq == "$B" || seq == "$@")) {
                jis = true;
                i += 2;
            } else if (c == '\r' || c == '\n') {
                jis = false;
                euc += c;
            } else if (jis && c > 0x20 && c < 0x7f && i + 1 < iso.size()) {
                euc += char(c | 0x80);
                euc += char(iso.at(++i) | 0x80);
            } else if (!(jis && c > 0x20 && c < 0x7f)) {
                euc += c;
            }
        }
        SCOPED_TRACE(iso.toHex().toStdString());
        const QByteArray mail = "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" + iso;
        QString expected = codec::decodeWithoutShortcuts(euc, "EUC-JP-MS");
        expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        expected.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        expected.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
        EXPECT_EQ(MimeMessage(mail).text(), expected);
    }
}

// Every line of the text ends in CR LF, wherever a lone CR or LF falls among the characters.
TEST(MimeReader, EveryLineEndBecomesCrLf) {
    for (const QByteArray end : {"\n", "\r", "\r\n", "\n\r", "\r\r\n"}) {
        for (int at = 0; at <= 9; ++at) {
            QByteArray body = "abcdefghi";
            body.insert(at, end);
            const QString text =
                MimeMessage("Content-Type: text/plain; charset=us-ascii\r\n\r\n" + body).text();
            QString expected = QString::fromLatin1(body);
            expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            expected.replace(QLatin1Char('\r'), QLatin1Char('\n'));
            expected.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
            EXPECT_EQ(text, expected) << body.toHex().toStdString();
        }
    }
}

// A line counts as a multipart field for the parse budget when "multipart", in any case,
// follows its colon; each "--" line then costs one check per such field.
TEST(MimeReader, ParseBudgetCountsEveryMultipartFieldSpelling) {
    const struct {
        const char* contentType;
        bool counted;
    } cases[] = {
        {"multipart/mixed", true},
        {"MuLtIpArT/mixed", true},
        {"text/plain; note=\"mult multip multipar multipart\"", true},
        {"text/plain; note=\"ttttttttt mmmmmmmmm ultipart multipar\"", false},
        {"multi-part/mixed", false},
        {"text/plain\r\nX-Multipart: none", false},
    };
    MimeLimits limits;
    limits.budget.boundaryChecks = 5;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.contentType);
        const QByteArray raw = QByteArray("Content-Type: ") + c.contentType +
                               "; boundary=b\r\n\r\n" + QByteArray("--x\r\n").repeated(10);
        EXPECT_EQ(MimeMessage(raw, limits).withinLimits(), !c.counted);
    }
}

} // namespace
