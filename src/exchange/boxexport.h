#pragma once

#include "store/mailbox.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace kiku {

// Where the original of a stored message comes from, when one is kept: its bytes as the
// server sent them (or as they were handed to the SMTP server), found by the record's digest
// (recordDigest), or nothing, and then the message is built from its record. The program
// hands keptOriginals (exchange/wholemessage.h).
using OriginalSource = std::function<std::optional<QByteArray>(const QByteArray& digest)>;

enum class ExportFormat {
    Mbox,      // one file, mboxrd quoting
    EmlFolder, // a folder of NNNNN.eml files (one sub-folder per box when all five go)
};
// A target whose name ends in ".mbox" (any case) is an mbox file, anything else a folder.
ExportFormat exportFormatFor(const QString& target);

struct ExportOptions {
    ExportFormat format = ExportFormat::Mbox;
    // Replace an existing target; without it an existing file or folder is refused.
    bool overwrite = false;
    // The account's own address (zadiru.ini MAIL): the sender of sent mail.
    QString accountAddress;
    // Empty: every message is built from its record. Called from one thread at a time,
    // not always the caller's: from the export's worker where the file operations allow.
    OriginalSource originals;
    // Only the oldest `oldest` messages of each box; 0 = all of them.
    int oldest = 0;
    // Called after each message with the messages done and the total; false cancels.
    std::function<bool(qint64 done, qint64 total)> progress;
};

struct ExportResult {
    bool ok = false;
    bool cancelled = false;
    QString error; // a Japanese sentence for the user; empty when ok or cancelled
    qint64 messages = 0;
};

// Writes the messages of `boxes` (in that order, each oldest first) to `target`. The output
// is built under a temporary name beside the target and renamed into place only when whole
// and on disk (file data and folder entry synced), so the target never holds half an export;
// a failure or a cancel leaves no trace.
ExportResult exportBoxes(const QList<Box>& boxes, const QString& target,
                         const ExportOptions& options);

// The five boxes in the order of their file names (vbmdata2 … vbmdata6), for "all".
QList<Box> boxesInFileOrder();
// The box a file name names ("vbmdata3.data", any case), or nothing.
std::optional<Box> boxFromFileName(const QString& name);

// One message in mbox form: its line ends made LF, every line that starts with zero or more
// '>' and "From " given one more '>', and a final empty line; the "From " separator line is
// not included.
QByteArray mboxrdQuoted(const QByteArray& message);

} // namespace kiku
