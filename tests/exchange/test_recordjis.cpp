// The short ways of building a message from a record, against the long ways they stand in
// for: the text taken to ISO-2022-JP straight from its CP932 bytes rather than through
// Unicode and iconv, and the common header date read without Qt's general parser.
#include "base/codec.h"
#include "base/text.h"
#include "exchange/recordjis.h"
#include "exchange/recordmessage.h"
#include "maillib/jischaracters.h"
#include "maillib/mimewriter.h"
#include "store/fielddecode.h"
#include "store/mailrecord.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace kiku;

namespace {

// What the writer makes of the text the viewer shows, when it goes as ISO-2022-JP.
std::optional<QByteArray> longWay(const QByteArray& bytes) {
    QString text = trimSpaces(decodeCp932Field(bytes.constData(), bytes.size()));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'))
        .replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    if (!mime::fitsIso2022Jp(text))
        return std::nullopt;
    return codec::encode(mime::toJisForms(text), "ISO-2022-JP");
}

// `record` with `bytes` written at the start of one of its fields.
QByteArray withField(QByteArray record, FieldSpan span, const QByteArray& bytes) {
    return record.replace(span.offset, bytes.size(), bytes);
}

bool inFormulaRows(uchar lead) {
    return (lead >= 0x81 && lead <= 0x84) || (lead >= 0x88 && lead <= 0xEA);
}

TEST(RecordJis, EveryDoubleByteCharacterMatchesTheLongWay) {
    int converted = 0;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (!codec::isCp932LeadByte(uchar(lead)))
            continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            const QByteArray bytes = "a" + QByteArray(1, char(lead)) + char(trail) + "b";
            const std::optional<QByteArray> fast = iso2022JpText(bytes);
            const std::optional<QByteArray> slow = longWay(bytes);
            const QString where = QString::number(lead << 8 | trail, 16);
            if (fast) {
                ASSERT_TRUE(slow) << qPrintable(where) << " does not go as ISO-2022-JP";
                ASSERT_EQ(*fast, *slow) << qPrintable(where);
                ++converted;
            } else if (slow && inFormulaRows(uchar(lead))) {
                ADD_FAILURE() << qPrintable(where)
                              << " in a JIS X 0208 row is left to the long way";
            }
        }
    }
    EXPECT_EQ(converted, 6879); // every character of JIS X 0208
}

TEST(RecordJis, EverySingleByteMatchesTheLongWay) {
    for (int b = 1; b < 0x100; ++b) {
        const QByteArray bytes = "\x82\xA0" + QByteArray(1, char(b)) + "\x82\xA0";
        const std::optional<QByteArray> fast = iso2022JpText(bytes);
        if (fast)
            EXPECT_EQ(std::optional(*fast), longWay(bytes)) << b;
        else
            EXPECT_TRUE(b >= 0x80 || b == 0x1B || b == 0x0E || b == 0x0F || b == '\r' || b == '\n')
                << b << " is ASCII";
    }
}

// A message without its Message-ID, which is new on every call.
QByteArray withoutMessageId(QByteArray message) {
    static const QRegularExpression id(QStringLiteral("\r\nMessage-ID:[^\r]*(\r\n [^\r]*)*"));
    return QString::fromLatin1(message).remove(id).toLatin1();
}

TEST(RecordJis, MessagesMatchTheLongWay) {
    struct Case {
        std::string what;
        QByteArray body; // CP932 bytes, padded to the field's width
        bool fast;       // taken straight to ISO-2022-JP
    };
    QList<Case> cases{
        {"ASCII with every kind of line end", "line1\r\nFrom me\rthree\nfour\r\n\r\n", true},
        {"kana and kanji", "\x96\x7B\x95\xB6\x82\xC5\x82\xB7\x81\x42\r\nabc\x93\xFA", true},
        {"characters Windows writes differently",
         "\x81\x60\x81\x61\x81\x7C\x81\x91\x81\x92\x81\xCA", true},
        {"spaces at both ends", "  \x81\x40 a \x81\x40\x81\x40  \x81\x40", true},
        {"only spaces", "  \x81\x40 ", true},
        {"line ends before trailing spaces", "\x82\xA0\r\n\r\r\n \x81\x40\n\x81\x40 ", true},
        {"a CR at the end", "\x82\xA0\r", true},
        {"half a character at the end", "abc\x93\xFA\x82", true},
        {"a zero ends the text", QByteArray("abc\0\x82\xA0", 6), true},
        {"a line too long for 7bit", "\x82\xA0" + QByteArray(1200, 'x'), true},
        {"control characters", "a\x01\x7F\tb", true},
        {"half-width katakana", "\xB1\xB2", false},
        {"NEC row 13", "\x87\x40", false},
        {"NEC-selected IBM extension", "\xEE\xE0", false},
        {"IBM extension that JIS holds", "\xEE\xF9", false},
        {"user-defined area", "\xF0\x40", false},
        {"broken bytes", "a\x80\xA0\xFD", false},
        {"escape", "a\x1B$Bb", false},
    };
    // Random mixtures of the pieces where runs begin and end: kana and ASCII, spaces of both
    // widths, every kind of line end, half a character at the end.
    const QList<QByteArray> pieces{" ",        "\x81\x40", "\r",        "\n",
                                   "\r\n",     "a",        "From ",     "\x82\xA0",
                                   "\x96\x7B", "\x81\x42", "\x81\x40 ", "  \r\n"};
    QRandomGenerator random(22);
    for (int k = 0; k < 300; ++k) {
        QByteArray body;
        for (int j = random.bounded(12); j >= 0; --j)
            body += pieces.at(random.bounded(pieces.size()));
        if (random.bounded(5) == 0)
            body += '\x93'; // half a character
        cases.append({"mixture " + body.toHex().toStdString(), body, true});
    }
    const MailLayout& layout = mailLayout(RecordLayout::Standard);
    MailRecord r;
    r.subject = QStringLiteral("件名");
    r.from = QStringLiteral("山田 <taro@example.jp>");
    const QByteArray blank = encodeMail(r, RecordLayout::Standard);
    const QDateTime date(QDate(2024, 3, 5), QTime(14, 3, 22));
    for (const Case& c : cases) {
        const QByteArray bytes = withField(blank, layout.body, c.body);
        const RecordFields fields = recordFields(bytes.constData(), RecordLayout::Standard);
        EXPECT_EQ(iso2022JpText(fields.body).has_value(), c.fast) << c.what;
        for (Box box : {Box::OthersInbox, Box::OthersSent}) {
            const QByteArray fast = messageFromRecord(fields, box, "me@example.jp", date);
            const QByteArray slow = messageFromRecord(
                viewedMail(bytes.constData(), RecordLayout::Standard), box, "me@example.jp", date);
            EXPECT_EQ(withoutMessageId(fast), withoutMessageId(slow)) << c.what;
            EXPECT_NE(withoutMessageId(fast), fast) << "no Message-ID";
        }
    }
}

// The text of a field ends at its last byte that is not padding, wherever that falls among
// the blocks the padding is skipped in.
TEST(RecordJis, TextEndsWhereThePaddingStarts) {
    const MailLayout& layout = mailLayout(RecordLayout::Standard);
    const QByteArray blank = encodeMail(MailRecord(), RecordLayout::Standard);
    const int width = layout.body.width;
    // The blocks are counted from the end of the field: lengths at their edges.
    for (const int length :
         {0, 1, 7, 8, 9, width % 2048 - 128, width % 2048 - 1, width % 2048, width % 2048 + 1,
          width - 2048, width - 128, width - 8, width - 1, width}) {
        QByteArray text(length, 'x');
        if (length > 2)
            text[length / 2] = ' '; // inside the text: not padding
        const QByteArray bytes = withField(blank, layout.body, text);
        EXPECT_EQ(recordFields(bytes.constData(), RecordLayout::Standard).body, text) << length;
    }
}

TEST(RecordJis, SubjectsMatchTheLongWay) {
    const auto cp932 = [](const QString& text) { return codec::encode(text, "CP932"); };
    const QString notice = QStringLiteral("お知らせ：会議の日程について（第12回）");
    struct Case {
        const char* what;
        QByteArray subject; // CP932 bytes
        bool fast;          // encoded words made from its JIS characters
    };
    const QList<Case> cases{
        {"kana and kanji", cp932(notice), true},
        {"folded over many lines", cp932(notice.repeated(5)), true},
        {"ASCII and kanji by turns", cp932(QStringLiteral("a漢b字c").repeated(30)), true},
        {"characters Windows writes differently", cp932(QStringLiteral("Re: ～−∥￠￣￢ 確認")),
         true},
        {"spaces at both ends", cp932(QStringLiteral("　 件名 　 ")), true},
        {"control characters", cp932(QStringLiteral("a\tb\x01件名")), true},
        {"what looks like an encoded word", "=?ISO-2022-JP?B?GyRC?= abc", true},
        {"ASCII without a space to fold at", QByteArray(120, 'x'), true},
        {"half a character at the end", cp932(QStringLiteral("件名")) + '\x8C', true},
        {"half-width katakana", cp932(QStringLiteral("ｱｲｳ 件名")), false},
        {"NEC row 13", cp932(QStringLiteral("①件名")), false},
        {"escape", "a\x1B$Bb", false},
    };
    const MailLayout& layout = mailLayout(RecordLayout::Standard);
    MailRecord r;
    r.from = QStringLiteral("taro@example.jp");
    r.body = QStringLiteral("本文");
    const QByteArray blank = encodeMail(r, RecordLayout::Standard);
    const QDateTime date(QDate(2024, 3, 5), QTime(14, 3, 22));
    for (const Case& c : cases) {
        const QByteArray bytes = withField(blank, layout.subject, c.subject);
        const RecordFields fields = recordFields(bytes.constData(), RecordLayout::Standard);
        EXPECT_EQ(mime::jisCharacters(fields.subject).has_value(), c.fast) << c.what;
        // The account changes from one message to the next: its addresses follow.
        const QString account = ((&c - cases.data()) & 1) ? "me@example.jp" : "you@example.jp";
        const QByteArray fast = messageFromRecord(fields, Box::OthersInbox, account, date);
        const QByteArray slow = messageFromRecord(
            viewedMail(bytes.constData(), RecordLayout::Standard), Box::OthersInbox, account, date);
        EXPECT_EQ(withoutMessageId(fast), withoutMessageId(slow)) << c.what;
        EXPECT_TRUE(fast.contains("\r\nTo: " + account.toLatin1() + "\r\n")) << c.what;
    }
}

TEST(RecordJis, HeaderDatesReadAsQtReadsThem) {
    const QStringList texts{
        "Tue, 05 Mar 2024 14:03:22 +0900",  "5 Mar 2024 14:03 -0330",
        "Mon, 1 Jan 2024 00:00:00 +0000",   "Sun, 31 Dec 2023 23:59:59 -1200",
        "Fri, 05 Mar 2024 14:03:22 +0900", // a day name that does not match the date
        "Thu, 29 Feb 2024 10:00:00 +1400",  "Wed, 29 Feb 2023 10:00:00 +0900",
        "Tue, 05 Mar 2024 24:00:00 +0900",  "Tue, 05 Mar 2024 14:03:60 +0900",
        "Tue, 05 Mar 2024 14:03:22 +0960",  "Tue, 05 Mar 2024 14:03:22 +09000",
        "Tue, 05 Mar 20245 14:03:22 +0900", "Tue, 05 Mar 2024 14:03:22",
    };
    static const QRegularExpression dayName(QStringLiteral("^[A-Za-z]+,\\s*"));
    for (const QString& text : texts) {
        QDateTime want = QDateTime::fromString(text, Qt::RFC2822Date);
        if (!want.isValid())
            want = QDateTime::fromString(QString(text).remove(dayName), Qt::RFC2822Date);
        if (want.isValid() && want.date().year() > 9999)
            want = {}; // not taken for a record's date
        const QDateTime got = parseRecordDate(text);
        ASSERT_EQ(got.isValid(), want.isValid()) << qPrintable(text);
        if (want.isValid()) {
            EXPECT_EQ(got, want) << qPrintable(text);
            EXPECT_EQ(got.offsetFromUtc(), want.offsetFromUtc()) << qPrintable(text);
        }
    }
}

// Every text read by parseRecordDate as the general parsers alone read it: header dates with
// one-digit times, zone names and comments, day names that do not fit, clock texts and the
// fixed forms, and text that is no date.
TEST(RecordJis, RecordDatesMatchTheLongWay) {
    const QStringList texts{
        "Mon, 1 Jan 2024 10:1:00 +0900",
        "Mon, 1 Jan 2024 1:01:00 +0900",
        "Mon, 1 Jan 2024 10:01:0 +0900",
        "Mon, 1 Jan 2024 10:1 +0900",
        "1 Jan 2024 10:1:00 +0900",
        "Mon, 1 Jan 2024 10:01:00 +0900",
        "Mon, 1 Jan 2024 10:1:00 JST",
        "Mon, 1 Jan 2024 10:01:00 JST",
        "Mon, 1 Jan 2024 10:1:00",
        "Mon, 1 Jan 2024 10:01:00 (JST) +0900",
        "Mon,  1 Jan 2024 10:01:00 +0900",
        "Monday, 1 Jan 2024 10:01:00 +0900",
        "Mon 1 Jan 2024 10:01:00 +0900",
        "Fri, 1 Jan 1800 10:00:00 +0000",
        "Mon, 1 Jan 2024 10:1:00 +0960",
        "Mon, 31 Feb 2024 10:1:00 +0900",
        "5 Mar 2024 14:03:22",
        "2024/3/5 14:03:22",
        "2024/3/5 14:03",
        "2024-3-5 14:03:22",
        "2024-03-05T14:03:22",
        "2024年3月5日 14:03:22",
        "2024年3月5日 14時03分22秒",
        "昨日",
        "tomorrow",
        "  Mon, 1 Jan 2024 10:1:00 +0900  ",
    };
    for (const QString& text : texts) {
        const QDateTime quick = parseRecordDate(text);
        const QDateTime slow = parseRecordDateLongWay(text);
        ASSERT_EQ(quick.isValid(), slow.isValid()) << qPrintable(text);
        EXPECT_EQ(quick, slow) << qPrintable(text);
        EXPECT_EQ(quick.offsetFromUtc(), slow.offsetFromUtc()) << qPrintable(text);
    }
    EXPECT_TRUE(parseRecordDate(QStringLiteral("2024/3/5 14:03:22")).isValid());
}

} // namespace
