#pragma once

#include "exchange/boxexport.h"

class QWidget;

namespace kiku {

class TyakuForm;

// Runs an export with a progress window (shown when it takes a moment) whose cancel button
// stops it; a cancelled export leaves nothing behind.
ExportResult exportWithProgress(QWidget* parent, const QList<Box>& boxes, const QString& target,
                                ExportOptions options);

// Adds "このボックスを書き出す…" to the context menu of the viewer's list (once): it exports
// the box on show to a file or folder the user names.
void offerBoxExport(TyakuForm* viewer);
// That command's steps, for the box on show.
void exportBoxOnShow(TyakuForm* viewer);

// Once a day, for a box past the warning mark: says so and offers to move its oldest mail
// out into an mbox file.
void remindBeforeWall(QWidget* parent);

} // namespace kiku
