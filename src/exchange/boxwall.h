#pragma once

#include "exchange/boxexport.h"

#include <QDate>
#include <QList>
#include <QString>

namespace kiku {

// A box refuses its 32,768th record. Well before that the program says so and offers to
// move the oldest mail out into an mbox file.
namespace boxwall {

inline constexpr int kWarnAbove = 30000;
// What a box keeps after its oldest mail was moved out: room for about a year more.
inline constexpr int kKeep = 20000;

struct NearlyFull {
    Box box;
    int messages;
};
// The boxes holding more than kWarnAbove messages, in file order.
QList<NearlyFull> nearlyFullBoxes();

// The question the reminder asks about one box.
QString reminderText(const NearlyFull& box);

// Once a day: whether the reminder has not been given today, and noting that it was. The day
// is kept in a settings file of the program's own in the data folder, apart from the
// files the old program reads.
bool reminderDue(const QDate& today);
void rememberReminder(const QDate& today);

// Moves the oldest `messages` messages of `box` out into the mbox file `target`: the export
// first, made durable, and only after it has succeeded the removal from the box. A failed or
// cancelled export removes nothing; a failed removal leaves the box as it was (the export
// is then simply a copy), and the error says so.
ExportResult moveOldestToMbox(Box box, int messages, const QString& target, ExportOptions options);

} // namespace boxwall
} // namespace kiku
