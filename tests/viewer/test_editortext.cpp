// The editor's text rules: the pane's line ends, reading and saving files, find positions,
// the save header and the new document's path.
#include "viewer/editortext.h"

#include "base/codec.h"

#include <gtest/gtest.h>

using namespace kiku;
using namespace kiku::editor;

namespace {
QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}
} // namespace

TEST(EditorText, PaneKeepsCrLfAsBreaksAndALoneLfInsideItsLine) {
    const QString pane = crlfToPane(QStringLiteral("one\r\ntwo\nstill two\r\n"));
    EXPECT_EQ(pane, QStringLiteral("one\ntwo") + QChar(0x2028) + QStringLiteral("still two\n"));
    // The pane's paragraphs come back with CR LF between them and the lone LF restored.
    EXPECT_EQ(paneToCrlf({QStringLiteral("one"),
                          QStringLiteral("two") + QChar(0x2028) + QStringLiteral("still two"),
                          QString()}),
              QStringLiteral("one\r\ntwo\nstill two\r\n"));
    // A lone CR is a line end, as in the files the editor opens.
    EXPECT_EQ(crlfToPane(QStringLiteral("a\rb")), QStringLiteral("a\nb"));
}

TEST(EditorText, ReadingSplitsAtCrAndCrLfAndEndsEveryLine) {
    const struct {
        QByteArray file;
        QString text;
    } cases[] = {
        {"", ""},
        {"last line without end", "last line without end\r\n"},
        {"a\r\nb\r\n", "a\r\nb\r\n"},
        {"a\rb", "a\r\nb\r\n"},
        {"lone\nLF stays\r\n", "lone\nLF stays\r\n"},
        {"\r\n\r\n", "\r\n\r\n"},
        {"\x82\xa0\x82\xa2\r\n\x88\xa4", u("あい\r\n愛\r\n")},
        // A UTF-8 byte-order mark makes the file UTF-8, the mark itself is dropped.
        {"\xEF\xBB\xBF\xE3\x81\x82\xF0\x9F\x8C\xB8", u("あ🌸\r\n")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(readTextFile(c.file), c.text) << c.file.toStdString();
}

TEST(EditorText, SavingUsesShiftJisUnlessACharacterDoesNotFit) {
    const SavedText plain = encodeForSave(u("あいう\r\n①"));
    EXPECT_FALSE(plain.utf8);
    EXPECT_EQ(plain.bytes, QByteArray("\x82\xa0\x82\xa2\x82\xa4\r\n\x87\x40"));
    // An emoji has no Shift-JIS code: the whole text goes as UTF-8 with its mark, never "?",
    // and reads back as it was.
    const SavedText wide = encodeForSave(u("桜🌸"));
    EXPECT_TRUE(wide.utf8);
    EXPECT_EQ(wide.bytes, QByteArray("\xEF\xBB\xBF") + u("桜🌸").toUtf8());
    EXPECT_EQ(readTextFile(wide.bytes), u("桜🌸\r\n"));
}

TEST(EditorText, FindPositions) {
    const QString text = QStringLiteral("abcabc");
    // First, next, next (nothing), then from the top again after the failed search.
    EXPECT_EQ(findFrom(text, QStringLiteral("bc"), 1), 2);
    EXPECT_EQ(findFrom(text, QStringLiteral("bc"), 2 + 2), 5);
    EXPECT_EQ(findFrom(text, QStringLiteral("bc"), 5 + 2), 0);
    EXPECT_EQ(findFrom(text, QStringLiteral("bc"), 0 + 2), 2);
    // Case and width are significant.
    EXPECT_EQ(findFrom(QStringLiteral("abc"), QStringLiteral("ABC"), 1), 0);
    EXPECT_EQ(findFrom(u("ａｂｃ"), QStringLiteral("abc"), 1), 0);
    // An empty search text is found where the search starts; a start outside finds nothing.
    EXPECT_EQ(findFrom(text, QString(), 1), 1);
    EXPECT_EQ(findFrom(text, QStringLiteral("a"), 0), 0);
    EXPECT_EQ(findFrom(text, QStringLiteral("a"), 8), 0);
    EXPECT_EQ(findFrom(text, QString(), 8), 0);
    // Positions past 16 bits.
    const QString long_ = QString(70000, QLatin1Char('x')) + QStringLiteral("needle");
    EXPECT_EQ(findFrom(long_, QStringLiteral("needle"), 1), 70001);
}

TEST(EditorText, SaveHeaderAndNewDocumentPath) {
    EXPECT_EQ(withSaveHeader(u("件名"), QStringLiteral("a@b.jp"), QStringLiteral("2026/12/08"),
                             QStringLiteral("body")),
              u("Subject:  件名\r\nFrom:  a@b.jp\r\nDate:  2026/12/08\r\nBody:  body"));
    const struct {
        const char* current;
        const char* next;
    } paths[] = {
        {"", "新規作成.TXT"},
        {"/home/k/memo.txt", "/home/k/新規作成.TXT"},
        {"C:\\Kiku\\memo.txt", "C:\\Kiku\\新規作成.TXT"},
        {"memo.txt", "memo.txt新規作成.TXT"},
    };
    for (const auto& p : paths)
        EXPECT_EQ(newDocumentPath(u(p.current)), u(p.next)) << p.current;
}
