#include "maillib/mimestream.h"

#include <QByteArrayView>

#include <algorithm>
#include <array>
#include <cstring>

// GLib names a member "signals", which Qt defines as a keyword; nothing here needs it.
#undef signals
#include <gmime/gmime.h>

namespace kiku {

// The bytes a root stream and its substreams share.
struct MimeStreamSource {
    const char* data = nullptr;
    gint64 size = 0;
};

} // namespace kiku

extern "C" {

typedef struct {
    GMimeStream parent;
    kiku::MimeStreamSource source;
    // Only the root stream (the one the parser reads) keeps a budget.
    kiku::MimeParseBudget budget;
    kiku::MimeParseCost* cost;
    gint64 scanned;         // bytes of the root stream looked at for the budget
    qint64 multipartFields; // lines naming a multipart type so far
} KikuBoundedStream;

typedef struct {
    GMimeStreamClass parent_class;
} KikuBoundedStreamClass;

G_DEFINE_TYPE(KikuBoundedStream, kiku_bounded_stream, GMIME_TYPE_STREAM)

} // extern "C"

namespace {

KikuBoundedStream* self(GMimeStream* stream) {
    return reinterpret_cast<KikuBoundedStream*>(stream);
}

gint64 upperBound(GMimeStream* stream) {
    const gint64 size = self(stream)->source.size;
    return stream->bound_end == -1 ? size : std::min(stream->bound_end, size);
}

// Whether "multipart", in any case, follows the line's first colon. Looked for by skipping
// (Horspool) on the window's last byte: a message's text lines hold colons too.
bool containsMultipart(const char* line, qsizetype length) {
    static const char word[] = "multipart";
    constexpr qsizetype n = sizeof(word) - 1;
    static const std::array<quint8, 256> skip = [] {
        std::array<quint8, 256> table;
        table.fill(quint8(n));
        for (qsizetype i = 0; i + 1 < n; ++i) {
            table[quint8(word[i])] = quint8(n - 1 - i);
            table[quint8(word[i] - 'a' + 'A')] = quint8(n - 1 - i);
        }
        return table;
    }();
    const char* colon = static_cast<const char*>(std::memchr(line, ':', size_t(length)));
    if (!colon)
        return false;
    const char* end = line + length;
    for (const char* p = colon; end - p >= n; p += skip[quint8(p[n - 1])]) {
        if (qstrnicmp(p, n, word, n) == 0)
            return true;
    }
    return false;
}

// Counts the boundary work of the lines that start before `until`.
void account(KikuBoundedStream* s, gint64 until) {
    if (!s->cost || s->cost->exhausted)
        return;
    const char* data = s->source.data;
    const gint64 size = s->source.size;
    gint64 pos = s->scanned;
    while (pos < until && pos < size) {
        const char* lf =
            static_cast<const char*>(std::memchr(data + pos, '\n', size_t(size - pos)));
        const gint64 end = lf ? lf - data : size;
        const qsizetype length = qsizetype(end - pos);
        if (length >= 2 && data[pos] == '-' && data[pos + 1] == '-') {
            s->cost->boundaryChecks += std::min<qint64>(s->multipartFields, 1024);
        } else if (length >= 9 && containsMultipart(data + pos, length)) {
            ++s->multipartFields;
        }
        pos = end + 1;
        if (s->cost->boundaryChecks > s->budget.boundaryChecks) {
            s->cost->exhausted = true;
            break;
        }
    }
    s->scanned = pos;
}

ssize_t streamRead(GMimeStream* stream, char* buf, size_t len) {
    KikuBoundedStream* s = self(stream);
    if (s->cost && s->cost->exhausted)
        return 0;
    const gint64 end = upperBound(stream);
    if (stream->position >= end)
        return 0;
    const size_t n = size_t(std::min<gint64>(gint64(len), end - stream->position));
    if (s->cost) {
        account(s, stream->position + gint64(n));
        if (s->cost->exhausted)
            return 0;
    }
    std::memcpy(buf, s->source.data + stream->position, n);
    stream->position += gint64(n);
    return ssize_t(n);
}

ssize_t streamWrite(GMimeStream*, const char*, size_t) {
    return -1;
}

int streamFlush(GMimeStream*) {
    return 0;
}

int streamClose(GMimeStream*) {
    return 0;
}

gboolean streamEos(GMimeStream* stream) {
    KikuBoundedStream* s = self(stream);
    return (s->cost && s->cost->exhausted) || stream->position >= upperBound(stream);
}

int streamReset(GMimeStream* stream) {
    stream->position = stream->bound_start;
    return 0;
}

gint64 streamSeek(GMimeStream* stream, gint64 offset, GMimeSeekWhence whence) {
    gint64 target = offset;
    if (whence == GMIME_STREAM_SEEK_CUR)
        target = stream->position + offset;
    else if (whence == GMIME_STREAM_SEEK_END)
        target = upperBound(stream) + offset;
    if (target < stream->bound_start || target > upperBound(stream))
        return -1;
    stream->position = target;
    return target;
}

gint64 streamTell(GMimeStream* stream) {
    return stream->position;
}

gint64 streamLength(GMimeStream* stream) {
    return upperBound(stream) - stream->bound_start;
}

GMimeStream* newStream(const kiku::MimeStreamSource& source, gint64 start, gint64 end) {
    auto* s =
        static_cast<KikuBoundedStream*>(g_object_new(kiku_bounded_stream_get_type(), nullptr));
    s->source = source;
    s->cost = nullptr;
    s->scanned = start;
    s->multipartFields = 0;
    g_mime_stream_construct(&s->parent, start, end);
    return &s->parent;
}

GMimeStream* streamSubstream(GMimeStream* stream, gint64 start, gint64 end) {
    return newStream(self(stream)->source, start, end);
}

} // namespace

extern "C" {

static void kiku_bounded_stream_class_init(KikuBoundedStreamClass* klass) {
    GMimeStreamClass* c = GMIME_STREAM_CLASS(klass);
    c->read = streamRead;
    c->write = streamWrite;
    c->flush = streamFlush;
    c->close = streamClose;
    c->eos = streamEos;
    c->reset = streamReset;
    c->seek = streamSeek;
    c->tell = streamTell;
    c->length = streamLength;
    c->substream = streamSubstream;
}

static void kiku_bounded_stream_init(KikuBoundedStream*) {}

} // extern "C"

namespace kiku {

GMimeStream* newBoundedMimeStream(const char* data, qint64 size, const MimeParseBudget& budget,
                                  MimeParseCost* cost) {
    GMimeStream* stream = newStream(MimeStreamSource{data, size}, 0, size);
    KikuBoundedStream* s = self(stream);
    s->budget = budget;
    s->cost = cost;
    return stream;
}

bool boundedMimeStreamRange(GMimeStream* stream, qint64& start, qint64& end) {
    if (!stream || !G_TYPE_CHECK_INSTANCE_TYPE(stream, kiku_bounded_stream_get_type()))
        return false;
    start = stream->bound_start;
    end = upperBound(stream);
    return start >= 0 && start <= end;
}

} // namespace kiku
