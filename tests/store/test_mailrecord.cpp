#include "base/codec.h"
#include "base/text.h"
#include "store/fielddecode.h"
#include "store/mailrecord.h"

#include <QList>
#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace kiku;

namespace {

QByteArray field(const QByteArray& content, int width) {
    return content + QByteArray(width - content.size(), ' ');
}

// A record laid out byte by byte the way the Windows program writes it.
QByteArray windowsRecord(const QByteArray& subject, const QByteArray& date, const QByteArray& from,
                         const QByteArray& body, RecordLayout layout, qint16 live) {
    QByteArray liveBytes(2, '\0');
    liveBytes[0] = char(live & 0xFF);
    liveBytes[1] = char((live >> 8) & 0xFF);
    if (layout == RecordLayout::Standard)
        return field(subject, 100) + field(date, 90) + field(from, 90) + field(body, 32000) +
               "\r\n" + liveBytes;
    return field(subject, 100) + field(from, 90) + field(body, 32000) + "\r\n" + field(date, 90) +
           liveBytes;
}

} // namespace

TEST(MailRecord, StandardLayoutBytes) {
    MailRecord r;
    r.subject = QStringLiteral("abc");
    r.date = QStringLiteral("D");
    r.from = QStringLiteral("F");
    r.body = QStringLiteral("B");
    const QByteArray bytes = encodeMail(r, RecordLayout::Standard);
    ASSERT_EQ(bytes.size(), 32284);
    EXPECT_EQ(bytes.mid(0, 100), field("abc", 100));
    EXPECT_EQ(bytes.mid(100, 90), field("D", 90));
    EXPECT_EQ(bytes.mid(190, 90), field("F", 90));
    EXPECT_EQ(bytes.mid(280, 32000), field("B", 32000));
    EXPECT_EQ(bytes.mid(32280, 2), QByteArray("\r\n"));
    EXPECT_EQ(bytes.mid(32282, 2), QByteArray("\x01\x00", 2));
}

TEST(MailRecord, PartnerSendLayoutKeepsDateBehindTheLineBreak) {
    MailRecord r;
    r.subject = QStringLiteral("abc");
    r.date = QStringLiteral("2024/01/02 03:04:05");
    r.from = QStringLiteral("partner@example.jp");
    r.body = QStringLiteral("body");
    r.live = 258; // 0x0102: checks the byte order too
    const QByteArray bytes = encodeMail(r, RecordLayout::PartnerSend);
    ASSERT_EQ(bytes.size(), 32284);
    EXPECT_EQ(bytes.mid(0, 100), field("abc", 100));
    EXPECT_EQ(bytes.mid(100, 90), field("partner@example.jp", 90));
    EXPECT_EQ(bytes.mid(190, 32000), field("body", 32000));
    EXPECT_EQ(bytes.mid(32190, 2), QByteArray("\r\n"));
    EXPECT_EQ(bytes.mid(32192, 90), field("2024/01/02 03:04:05", 90));
    EXPECT_EQ(bytes.mid(32282, 2), QByteArray("\x02\x01", 2));
    // Both layouts map onto the same fields.
    EXPECT_EQ(
        decodeMail(bytes.constData(), RecordLayout::PartnerSend),
        decodeMail(encodeMail(r, RecordLayout::Standard).constData(), RecordLayout::Standard));
}

TEST(MailRecord, DigestFollowsTheFourFieldsOnly) {
    const MailRecord r{QStringLiteral("件名"), QStringLiteral("D"), QStringLiteral("F"),
                       QStringLiteral("本文"), 1};
    MailRecord stored = r;
    stored.live = 7; // the storage box numbers its records
    const QByteArray digest = recordDigest(r);
    EXPECT_EQ(digest.size(), 32);
    EXPECT_EQ(recordDigest(encodeMail(stored, RecordLayout::PartnerSend).constData(),
                           RecordLayout::PartnerSend),
              digest);
    for (QString MailRecord::*field :
         {&MailRecord::subject, &MailRecord::date, &MailRecord::from, &MailRecord::body}) {
        MailRecord other = r;
        other.*field += QLatin1Char('x');
        EXPECT_NE(recordDigest(other), digest);
    }
    // The link to originals already on disk: BLAKE2b-256 over each field's length (two bytes,
    // little-endian) and its Shift-JIS bytes without the padding, as Python's hashlib gives it.
    const MailRecord known{
        QStringLiteral("件名 "), QStringLiteral("Mon, 1 Jan 2024 10:00:00 +0900"),
        QStringLiteral("山田 <a@example.jp>"), QStringLiteral("本文です。\r\n  次の行"), 1};
    EXPECT_EQ(recordDigest(known).toHex(),
              "8eace925f6d50be9aabe27dc0dbebfd59d704a385e1a2b5acf36c4c30c55769d");
    // Fields are told apart by their place, not run together.
    EXPECT_NE(recordDigest(MailRecord{QStringLiteral("ab"), {}, {}, {}, 1}),
              recordDigest(MailRecord{QStringLiteral("a"), QStringLiteral("b"), {}, {}, 1}));
}

// The digest links records to their originals on disk, so the padding it leaves out must be
// exactly the trailing spaces, wherever the text ends against the blocks the search skips.
TEST(MailRecord, UnpaddedLengthIsTheTextWithoutItsTrailingSpaces) {
    for (const int width : {0, 1, 7, 8, 9, 127, 128, 129, 2047, 2048, 2049, 4224, 32000}) {
        for (int text = 0; text <= width; text += text < 140 ? 1 : 997) {
            for (const char last : {'x', ' ', '\0'}) {
                QByteArray field(width, ' ');
                for (int i = 0; i < text; ++i)
                    field[i] = i % 3 == 1 ? ' ' : char('a' + i % 26); // spaces inside
                if (text > 0)
                    field[text - 1] = last;
                qsizetype expected = field.size();
                while (expected > 0 && field[expected - 1] == ' ')
                    --expected;
                ASSERT_EQ(unpaddedLength(field.constData(), width), expected)
                    << "width " << width << " text " << text << " last " << int(last);
            }
        }
    }
}

TEST(MailRecord, ShiftJisRecordWrittenOnWindowsReadsBackAndReencodesToTheSameBytes) {
    // テスト件名～①髙≒ｶﾅ＼ / 山田太郎 <taro@example.jp> / 本文です。CR LF 二行目
    const QByteArray subject("\x83\x65\x83\x58\x83\x67\x8c\x8f\x96\xbc\x81\x60\x87\x40\xfb\xfc"
                             "\x81\xe0\xb6\xc5\x81\x5f");
    const QByteArray from("\x8e\x52\x93\x63\x91\xbe\x98\x59 <taro@example.jp>");
    const QByteArray date("Tue, 02 Jan 2024 09:30:00 +0900");
    const QByteArray body("\x96\x7b\x95\xb6\x82\xc5\x82\xb7\x81\x42\r\n\x93\xf1\x8d\x73\x96\xda");
    const QString subjectText = QStringLiteral("テスト件名～①髙≒ｶﾅ＼");
    for (RecordLayout layout : {RecordLayout::Standard, RecordLayout::PartnerSend}) {
        for (qint16 live : {qint16(1), qint16(3), qint16(-2)}) {
            const QByteArray bytes = windowsRecord(subject, date, from, body, layout, live);
            const MailRecord r = decodeMail(bytes.constData(), layout);
            EXPECT_EQ(trimSpaces(r.subject), subjectText);
            EXPECT_EQ(r.subject.size(), subjectText.size() + (100 - subject.size()));
            EXPECT_EQ(trimSpaces(r.from), QStringLiteral("山田太郎 <taro@example.jp>"));
            EXPECT_EQ(trimSpaces(r.date), QString::fromLatin1(date));
            EXPECT_EQ(trimSpaces(r.body), QStringLiteral("本文です。\r\n二行目"));
            EXPECT_EQ(r.live, live);
            EXPECT_EQ(encodeMail(r, layout), bytes);
        }
    }
}

TEST(MailRecord, LongJapaneseSubjectIsCutAtTheFieldWidthWithoutSplittingACharacter) {
    MailRecord r;
    r.subject = QString(100, QChar(0x3042)); // 100 × "あ" = 200 bytes in Shift-JIS
    QByteArray bytes = encodeMail(r, RecordLayout::Standard);
    QByteArray expected;
    for (int i = 0; i < 50; ++i)
        expected += "\x82\xa0";
    EXPECT_EQ(bytes.mid(0, 100), expected);
    EXPECT_EQ(bytes.mid(100, 90), QByteArray(90, ' ')); // Date untouched by the overflow

    // An odd byte budget: the double-byte character that would straddle the end is left
    // out and its place padded.
    r.subject = QStringLiteral("a") + QString(60, QChar(0x3042));
    bytes = encodeMail(r, RecordLayout::Standard);
    EXPECT_EQ(bytes.mid(0, 1), QByteArray("a"));
    EXPECT_EQ(bytes.mid(1, 98), expected.left(98));
    EXPECT_EQ(bytes.at(99), ' ');
}

TEST(MailRecord, CharactersOutsideShiftJisBecomeQuestionMarks) {
    MailRecord r;
    r.subject = QStringLiteral("a😀b");
    const QByteArray bytes = encodeMail(r, RecordLayout::Standard);
    EXPECT_EQ(bytes.mid(0, 4), QByteArray("a?b "));
}

TEST(FieldDecode, HalfCharacterAtTheEndOfAFieldReadsAsNothing) {
    // Fields written by the older program: text cut at the byte width, so the field ends in
    // the lead byte of a double-byte character. A byte that only looks like a lead byte
    // because it is the trail byte of the character before is no half character.
    QByteArray subject;
    for (int i = 0; i < 49; ++i)
        subject += "\x82\xa0"; // あ
    subject += "a\x82";        // 100 bytes, the last one the first half of あ
    struct Case {
        const char* name;
        QByteArray bytes;
        QString text;
        QString beforeZero;
    };
    const Case cases[] = {
        {"subject field of 100 bytes", subject, QString(49, QChar(0x3042)) + QStringLiteral("a"),
         QString(49, QChar(0x3042)) + QStringLiteral("a")},
        {"lone lead byte only", QByteArray("\x83"), QString(), QString()},
        {"after ASCII", QByteArray("abc\x83"), QStringLiteral("abc"), QStringLiteral("abc")},
        {"trail byte in the lead range", QByteArray("\x82\xa0\x82\x81"), QStringLiteral("あａ"),
         QStringLiteral("あａ")},
        {"half character before a zero byte", QByteArray("\x82\xa0\x82\x00xyz", 7),
         QStringLiteral("あ\ufffd") + QChar(0) + QStringLiteral("xyz"), QStringLiteral("あ")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decodeCp932Field(c.bytes.constData(), c.bytes.size()), c.text) << c.name;
        EXPECT_EQ(decodeCp932FieldCutAtZero(c.bytes.constData(), c.bytes.size()), c.beforeZero)
            << c.name;
    }
}

TEST(FieldDecode, HalfCharacterSurvivesARewriteWithoutAQuestionMark) {
    // Read and written back (what a move to the storage box does): the half character
    // becomes padding, never "?".
    QByteArray record = encodeMail(MailRecord{}, RecordLayout::Standard);
    record.replace(0, 100, QByteArray(99, 'x') + "\x82");
    const MailRecord read = decodeMail(record.constData(), RecordLayout::Standard);
    EXPECT_EQ(read.subject, QString(99, QLatin1Char('x')));
    const QByteArray again = encodeMail(read, RecordLayout::Standard);
    EXPECT_EQ(again.mid(0, 100), QByteArray(99, 'x') + " ");
}

TEST(FieldDecode, AgreesWithTheCodecOnAnyBytes) {
    // Text, broken sequences, lone lead bytes at the end, zero bytes, high single bytes.
    // Only a half character at the very end differs: it is left out before decoding.
    QList<QByteArray> samples = {
        QByteArray("plain ascii   "),
        QByteArray("\x83\x65\x83\x58\x83\x67"),
        QByteArray("\x83"),
        QByteArray("abc\x83"),
        QByteArray("\x83\x0a\x41"),
        QByteArray("\x80\xa0\xfd\xfe\xff"),
        QByteArray("\x82\xa0\x00\x82\xa0", 5),
        QByteArray("\xf0\x40\xf9\xfc"), // user-defined area
        QByteArray("\xa1\xdf\xb6"),
        QByteArray(),
    };
    QRandomGenerator random(1234);
    for (int i = 0; i < 2000; ++i) {
        QByteArray b(int(random.bounded(1, 40)), Qt::Uninitialized);
        for (char& c : b)
            c = char(random.bounded(256));
        samples.append(b);
    }
    const auto whole = [](const QByteArray& b) {
        return b.left(codec::cp932CutPoint(b, b.size()));
    };
    for (const QByteArray& b : samples) {
        EXPECT_EQ(decodeCp932Field(b.constData(), b.size()), codec::fromCp932(whole(b)))
            << b.toHex(' ').toStdString();
        const QByteArray beforeZero = b.left(b.indexOf('\0') < 0 ? b.size() : b.indexOf('\0'));
        EXPECT_EQ(decodeCp932FieldCutAtZero(b.constData(), b.size()),
                  codec::fromCp932(whole(beforeZero)))
            << b.toHex(' ').toStdString();
    }
}
