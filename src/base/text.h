#pragma once

#include <QString>

class QDateTime;

namespace kiku {

// The text before the first zero character, or the whole text when it holds none.
// Every buffer the mail library fills and every fixed-width field shown in a list goes
// through this.
QString cutAtZero(const QString& text);

// Removes leading and trailing spaces, both ASCII (U+0020) and ideographic (U+3000).
// Other white space (tabs, line breaks) is kept, as the stored formats expect.
QString trimSpaces(const QString& text);

// The leading number of a text, read the way the program always has: leading blanks are
// skipped, then an optional sign, digits and one decimal point; anything else ends it.
// "12abc" gives 12, "" and "abc" give 0.
double leadingNumber(const QString& text);

// leadingNumber rounded to the nearest integer (halves to even) and held within the
// range of a 16-bit integer, so an absurd value can never overflow a counter or a flag.
qint16 leadingInt16(const QString& text);

// leadingNumber as a 64-bit count (counters that may grow past 32767); rounds like
// leadingInt16 and never overflows.
qint64 leadingCount(const QString& text);

// The text before its first line break (CR or LF), or the whole text when it has none.
// Whatever goes into a one-line value (a settings file, a one-line field) passes here, so a
// pasted "a\r\nKEY=b" can never become a line of its own.
QString beforeLineBreak(const QString& text);

// A character no file name of ours may hold: separators, the characters Windows reserves
// (a shared drive may meet the same folder), control characters, and invisible format
// marks that can disguise an extension.
bool unsafeInFileName(QChar c);

// The main window's clock text for a moment: date and time in the system's formats,
// seconds included, without a time-zone name.
QString clockText(const QDateTime& moment);

} // namespace kiku
