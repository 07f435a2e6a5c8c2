#include "base/codec.h"
#include "base/text.h"

#include <gtest/gtest.h>

using namespace kiku;

TEST(Text, CutAtZeroKeepsTextBeforeTheFirstZero) {
    EXPECT_EQ(cutAtZero(QString()), QString());
    EXPECT_EQ(cutAtZero(QStringLiteral("abc")), QStringLiteral("abc"));
    EXPECT_EQ(cutAtZero(QString::fromUtf16(u"件名\0あと\0", 6)), QStringLiteral("件名"));
    EXPECT_EQ(cutAtZero(QString(QChar(0)) + QStringLiteral("x")), QString());
}

TEST(Text, TrimRemovesAsciiAndIdeographicSpacesOnly) {
    struct Case {
        QString in, out;
    } cases[] = {
        {QStringLiteral("  abc  "), QStringLiteral("abc")},
        {QStringLiteral("　 件名　 "), QStringLiteral("件名")},
        {QStringLiteral("a b　c"), QStringLiteral("a b　c")},
        {QStringLiteral("\tbody\r\n"), QStringLiteral("\tbody\r\n")},
        {QStringLiteral("　　"), QString()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(trimSpaces(c.in), c.out) << c.in.toStdString();
}

TEST(Text, LeadingNumberReadsOnlyTheNumericStart) {
    struct Case {
        const char* in;
        double value;
        qint16 rounded;
    } cases[] = {
        {"", 0, 0},
        {"abc", 0, 0},
        {"1x", 1, 1},
        {"  57", 57, 57},
        {"-3", -3, -3},
        {"2.5", 2.5, 2},
        {"3.5", 3.5, 4},
        {"1.6abc", 1.6, 2},
        {"99999", 99999, 32767},
        {"-99999", -99999, -32768},
        {"12 34", 12, 12},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(leadingNumber(QString::fromUtf8(c.in)), c.value) << c.in;
        EXPECT_EQ(leadingInt16(QString::fromUtf8(c.in)), c.rounded) << c.in;
    }
    EXPECT_EQ(leadingCount(QStringLiteral("40000")), 40000);
}

TEST(Codec, Cp932RoundTripUsesTheWindowsMappings) {
    // 0x8160 is the wave dash as Windows writes it (U+FF5E); NEC row 13 and IBM extensions.
    const QString text = QStringLiteral("日本語～①髙ｱ abc");
    const QByteArray bytes = codec::toCp932(text);
    EXPECT_EQ(bytes.left(6), QByteArray("\x93\xfa\x96\x7b\x8c\xea"));
    EXPECT_EQ(bytes.mid(6, 2), QByteArray("\x81\x60"));
    EXPECT_EQ(bytes.mid(8, 2), QByteArray("\x87\x40"));
    EXPECT_EQ(codec::fromCp932(bytes), text);
}

TEST(Codec, CharactersOutsideCp932BecomeQuestionMarks) {
    EXPECT_EQ(codec::toCp932(QStringLiteral("a😀b한c")), QByteArray("a?b?c"));
    EXPECT_FALSE(codec::fits(QStringLiteral("한"), "ISO-2022-JP"));
    EXPECT_TRUE(codec::fits(QStringLiteral("日本語"), "ISO-2022-JP"));
}

TEST(Codec, DecodesTheJapaneseMailCharsets) {
    const QString text = QStringLiteral("こんにちは世界");
    for (const char* charset : {"ISO-2022-JP", "EUC-JP", "UTF-8", "SHIFT_JIS", "CP932"}) {
        bool ok = false;
        const QByteArray bytes = codec::encode(text, charset, &ok);
        ASSERT_TRUE(ok) << charset;
        EXPECT_EQ(codec::decode(bytes, charset), text) << charset;
    }
    bool ok = true;
    codec::decode("abc", "NO-SUCH-CHARSET", &ok);
    EXPECT_FALSE(ok);
    // An invalid byte becomes one replacement character and decoding goes on.
    EXPECT_EQ(codec::decode("a\xff"
                            "b",
                            "UTF-8"),
              QStringLiteral("a\uFFFDb"));
}

TEST(Codec, FixedWidthFieldsPadAndNeverSplitACharacter) {
    EXPECT_EQ(codec::fixedWidthCp932(QStringLiteral("abc"), 6), QByteArray("abc   "));
    // A 100-character Japanese subject is 200 bytes: cut at 100 bytes = 50 characters.
    const QString subject = QString(100, QChar(0x3042)); // あ
    const QByteArray field = codec::fixedWidthCp932(subject, 100);
    ASSERT_EQ(field.size(), 100);
    EXPECT_EQ(codec::fromCp932(field), QString(50, QChar(0x3042)));
    // "a" then double-byte characters: the 50th would straddle byte 100, so it is left
    // out and the last byte padded.
    const QByteArray odd = codec::fixedWidthCp932(QStringLiteral("a") + subject, 100);
    ASSERT_EQ(odd.size(), 100);
    EXPECT_EQ(odd.at(99), ' ');
    EXPECT_EQ(codec::fromCp932(odd), QStringLiteral("a") + QString(49, QChar(0x3042)) + ' ');
    // Single-byte katakana take one byte each.
    EXPECT_EQ(codec::fixedWidthCp932(QStringLiteral("ｱｲｳ"), 3), QByteArray("\xb1\xb2\xb3"));
    EXPECT_EQ(codec::fixedWidthCp932(QString(), 0), QByteArray());
}

// The ASCII shortcuts of EUC-JP-MS and CP932 decoding must give exactly what iconv gives
// for the whole input, whatever mixture of ASCII runs, Japanese and broken sequences.
TEST(Codec, AsciiShortcutsReadExactlyAsIconvDoes) {
    quint32 state = 12345;
    const auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    const QByteArray japanese = codec::encode(QStringLiteral("日本語のメール①ｱ"), "EUC-JP-MS");
    for (int round = 0; round < 300; ++round) {
        QByteArray bytes;
        const int pieces = int(next() % 12);
        for (int p = 0; p < pieces; ++p) {
            switch (next() % 5) {
            case 0: // a long ASCII run, copied without iconv
                bytes += QByteArray(int(60 + next() % 200), char('a' + next() % 26));
                break;
            case 1: // a short one, left inside a converted piece
                bytes += QByteArray(int(1 + next() % 8), char('0' + next() % 10));
                break;
            case 2:
                bytes += japanese;
                break;
            case 3: // any high byte: lone leads, bad trails, SS2 and SS3 at odd places
                bytes += char(0x80 + next() % 128);
                break;
            default:
                bytes += "\r\n";
            }
        }
        for (const char* charset : {"EUC-JP-MS", "CP932"}) {
            SCOPED_TRACE(bytes.toHex().toStdString() + " " + charset);
            EXPECT_EQ(codec::decode(bytes, charset), codec::decodeWithoutShortcuts(bytes, charset));
        }
        const QString text = codec::decodeWithoutShortcuts(bytes, "EUC-JP-MS");
        EXPECT_EQ(codec::toCp932(text), codec::encode(text, "CP932"));
    }
    EXPECT_EQ(codec::fromCp932("plain ascii \\ ~"), QStringLiteral("plain ascii \\ ~"));
}

// CP932 by table must write exactly what iconv writes: every code point of the BMP on its
// own, and fixed-width fields of mixed text cut where the whole conversion would be cut.
TEST(Codec, Cp932TableWritesWhatIconvWrites) {
    for (uint cp = 0; cp < 0x10000; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        const QString one{QChar(char16_t(cp))};
        ASSERT_EQ(codec::toCp932(one), codec::encode(one, "CP932")) << std::hex << cp;
    }
    const QString pieces[] = {QStringLiteral("abc"),  QStringLiteral("日本語"),
                              QStringLiteral("ｱｲｳ"),  QStringLiteral("①～"),
                              QStringLiteral("😀"),    QStringLiteral("한"),
                              QString(QChar(0xD800)), QStringLiteral("\r\n")};
    quint32 state = 99;
    for (int round = 0; round < 500; ++round) {
        QString text;
        const int count = int(state % 20);
        for (int k = 0; k < count; ++k) {
            state = state * 1103515245u + 12345u;
            text += pieces[(state >> 8) % std::size(pieces)];
        }
        state = state * 1103515245u + 12345u;
        const int width = int((state >> 8) % 40);
        QByteArray expected = codec::encode(text, "CP932");
        expected.truncate(codec::cp932CutPoint(expected, width));
        expected.append(width - expected.size(), ' ');
        ASSERT_EQ(codec::fixedWidthCp932(text, width), expected)
            << text.toStdString() << " " << width;
        ASSERT_EQ(codec::toCp932(text), codec::encode(text, "CP932")) << text.toStdString();
    }
}
