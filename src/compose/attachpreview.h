#pragma once

#include <QByteArray>
#include <QString>

namespace kiku {

// What the attachment browser does with a file that is not a picture.
enum class PageKind {
    Html, // shown in the page area as a page (nothing remote fetched, no script run)
    Text, // shown in the page area as plain text
    Pdf,  // read in the page area, every page
    Other // the open/save panel
};

// The kind of a file from its name and its first bytes (a few kilobytes suffice).
PageKind pageKind(const QString& fileName, const QByteArray& head);

// The most of a file the page area reads; a longer page shows its beginning.
constexpr qint64 kPageReadLimit = 4 * 1024 * 1024;

// The text of an HTML page or a text file, whatever Japanese encoding it was written in: a
// byte-order mark or a page's own charset declaration first, then valid UTF-8, ISO-2022-JP
// (it carries escape sequences), EUC-JP when it decodes cleanly, and Shift-JIS otherwise.
QString decodePageText(const QByteArray& bytes, bool html);

// The full path of `fileName` in `folder` as the file list builds it: a folder that ends in
// a separator (a root such as "C:\" or "/") loses it first ("C:\" keeps only "C:"), so the
// path never has a doubled separator.
QString attachmentPath(const QString& folder, const QString& fileName);

// The scrolling caption's next top (twips) on each tick: up by 10 until it stands at the
// preview's top, then back to 1920.
int nextCaptionTop(int top);
constexpr int kCaptionDesignTop = 3120;
constexpr int kCaptionRestartTop = 1920;
constexpr int kPreviewTop = 120;

// Whether the file may be handed to the desktop to open: its content (its first bytes, a
// few kilobytes) shows a document, picture, sound, film or archive, and its name does not
// make it something else. The program never runs a file itself.
bool mayHandToDesktop(const QString& fileName, const QByteArray& head);

} // namespace kiku
