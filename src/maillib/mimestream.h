#pragma once

#include <QByteArray>
#include <QtGlobal>

typedef struct _GMimeStream GMimeStream;

namespace kiku {

// What GMime may spend on one message. GMime compares every line that starts with "--"
// against each boundary open at that point, so a message of a thousand nested multiparts
// followed by millions of "--x" lines costs seconds; the stream it reads from counts that
// work as the bytes go by and ends the message early once the budget is spent.
struct MimeParseBudget {
    // Boundary comparisons: for each "--" line, the multipart fields read before it (at
    // most the 1,024 levels GMime opens). About 5 ns each.
    qint64 boundaryChecks = 100 * 1000 * 1000;
};

// What the stream found while GMime read it.
struct MimeParseCost {
    qint64 boundaryChecks = 0;
    bool exhausted = false; // the budget ran out: GMime saw the message cut short
};

// A read-only, seekable GMime stream over `size` bytes at `data`, which the caller keeps
// alive and unchanged for as long as GMime holds the stream or any part read from it.
// Substreams (GMime's parts) read the same bytes without copying them. `cost` is updated
// as the root stream is read; it must outlive the stream.
GMimeStream* newBoundedMimeStream(const char* data, qint64 size, const MimeParseBudget& budget,
                                  MimeParseCost* cost);

// Where a stream made by newBoundedMimeStream, or a part of one, lies in its bytes (from
// `start` up to `end`); false for any other stream.
bool boundedMimeStreamRange(GMimeStream* stream, qint64& start, qint64& end);

} // namespace kiku
