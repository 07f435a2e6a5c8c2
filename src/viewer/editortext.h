#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kiku::editor {

// The reading pane keeps a CR LF as a paragraph break. A lone LF is not a line end in the
// texts this editor opens, so the pane holds it as a line separator (U+2028) inside its line,
// and it comes back as a lone LF.
QString crlfToPane(const QString& text);
// The pane's paragraphs (each may hold U+2028) joined with CR LF; U+2028 back to LF.
QString paneToCrlf(const QStringList& paragraphs);

// A text file as the editor opens it: UTF-8 when it starts with the UTF-8 byte-order mark
// (the mark dropped), Shift-JIS otherwise; split into lines at CR LF or a lone CR (a lone
// LF stays inside its line), and every line, the last included, followed by CR LF.
QString readTextFile(const QByteArray& bytes);

// The bytes a text is saved as: Shift-JIS when every character fits; otherwise UTF-8 with
// a byte-order mark, so that nothing turns into "?" and the file opens back as it was.
struct SavedText {
    QByteArray bytes;
    bool utf8 = false;
};
SavedText encodeForSave(const QString& text);

// The 1-based position of `search` in `text` at or after the 1-based position `from`, or 0.
// Characters compare exactly. An empty search text is found at `from` while `from` lies
// within the text or just after it; a start before 1 or past the end finds nothing.
qint64 findFrom(const QString& text, const QString& search, qint64 from);

// The block "名前を付けて保存" puts before the pane text.
QString withSaveHeader(const QString& subject, const QString& from, const QString& date,
                       const QString& text);

// Where "新規作成" writes: the folder part of the current path (up to and including its
// last separator, "/" or "\"; the whole path when it has none), then "新規作成.TXT".
QString newDocumentPath(const QString& currentPath);
inline const QString kNewDocumentName = QStringLiteral("新規作成.TXT");

} // namespace kiku::editor
