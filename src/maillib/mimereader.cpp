#include "maillib/mimereader.h"

#include <QBuffer>
#include <QList>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <optional>

// GLib names a member "signals", which Qt defines as a keyword; nothing here needs it.
#undef signals
#include <gmime/gmime.h>

namespace kiku {

namespace {

// True when every CR in the text is followed by LF and every LF follows a CR. Four
// characters are looked at together, and only a group holding one below 0x0E is looked at
// closely: CR and LF come once a line, the rest is text.
bool endsEveryLineInCrLf(const QString& text) {
    const char16_t* chars = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    const auto lineEndOk = [&](qsizetype i) {
        if (chars[i] == u'\r')
            return i + 1 < n && chars[i + 1] == u'\n';
        if (chars[i] == u'\n')
            return i > 0 && chars[i - 1] == u'\r';
        return true;
    };
    constexpr quint64 kOnes = 0x0001000100010001ULL;
    constexpr quint64 kHighs = 0x8000800080008000ULL;
    qsizetype i = 0;
    for (; i + 4 <= n; i += 4) {
        quint64 word;
        std::memcpy(&word, chars + i, sizeof word);
        // Non-zero when some lane is below 0x0E (lanes of 0x8000 and above never are).
        if (((word - kOnes * 0x0E) & ~word & kHighs) == 0)
            continue;
        for (qsizetype k = i; k < i + 4; ++k)
            if (!lineEndOk(k))
                return false;
    }
    for (; i < n; ++i)
        if (!lineEndOk(i))
            return false;
    return true;
}

// CR LF everywhere, as the stored bodies have.
QString crlf(QString text) {
    // Most text already ends every line in CR LF: nothing to do then.
    if (endsEveryLineInCrLf(text))
        return text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text;
}

void initialiseGMime() {
    static const bool done = [] {
        g_mime_init();
        return true;
    }();
    Q_UNUSED(done);
}

// Owns one reference of a GObject.
template <typename T> struct GRef {
    T* p = nullptr;
    explicit GRef(T* object = nullptr) : p(object) {}
    ~GRef() {
        if (p)
            g_object_unref(p);
    }
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
};

QByteArray bytesOf(GMimeStream* memory) {
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
}

QByteArray lower(const char* text) {
    return QByteArray(text ? text : "").trimmed().toLower();
}

// A raw header value as one line: folds undone, the white space around it gone.
QByteArray unfolded(const char* raw) {
    QByteArray value(raw ? raw : "");
    value.replace("\r\n", "");
    value.replace('\n', "");
    return value.trimmed();
}

// The raw value of the last field of that name in a part's header: the one GMime's own
// reading of the part rests on.
QByteArray lastRawField(GMimeObject* object, const char* name) {
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    QByteArray value;
    const int count = g_mime_header_list_get_count(headers);
    for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        if (g_ascii_strcasecmp(g_mime_header_get_name(header), name) == 0)
            value = unfolded(g_mime_header_get_raw_value(header));
    }
    return value;
}

qsizetype headerBytes(GMimeObject* object) {
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    qsizetype bytes = 0;
    const int count = headers ? g_mime_header_list_get_count(headers) : 0;
    for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        const char* name = g_mime_header_get_raw_name(header);
        const char* value = g_mime_header_get_raw_value(header);
        bytes += qsizetype(qstrlen(name) + qstrlen(value)) + 2;
    }
    return bytes;
}

// What one leaf part of the message is.
struct Leaf {
    GMimeObject* object = nullptr;
    const char* enclosingBoundary = nullptr; // of the multipart the part is in
    QByteArray type = "text";
    QByteArray subtype = "plain";
    QByteArray charset;
    QByteArray disposition;
    QString name;

    bool isTextBody() const {
        return type == "text" && (subtype == "plain" || subtype == "html") &&
               disposition != "attachment" && name.isEmpty();
    }
    bool isFile() const { return disposition == "attachment" || !name.isEmpty() || type != "text"; }
};

Leaf describe(GMimeObject* object) {
    Leaf leaf;
    leaf.object = object;
    if (GMimeContentType* ct = g_mime_object_get_content_type(object)) {
        leaf.type = lower(g_mime_content_type_get_media_type(ct));
        leaf.subtype = lower(g_mime_content_type_get_media_subtype(ct));
        leaf.charset = QByteArray(g_mime_content_type_get_parameter(ct, "charset")).trimmed();
    }
    leaf.disposition = lower(g_mime_object_get_disposition(object));
    leaf.name = mailtext::parameter(lastRawField(object, "Content-Disposition"), "filename");
    if (leaf.name.isEmpty())
        leaf.name = mailtext::parameter(lastRawField(object, "Content-Type"), "name");
    return leaf;
}

// A forwarded message exactly as it arrived: from its first header up to the boundary line
// of the multipart around it (whose line break belongs to the boundary), or to the end.
std::optional<QByteArrayView> forwardedBytes(GMimeMessage* message, const QByteArray& raw,
                                             const char* enclosingBoundary) {
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message));
    if (!headers || g_mime_header_list_get_count(headers) == 0)
        return std::nullopt;
    const gint64 start = g_mime_header_get_offset(g_mime_header_list_get_header_at(headers, 0));
    if (start < 0 || start > raw.size())
        return std::nullopt;
    if (!enclosingBoundary)
        return QByteArrayView(raw).sliced(qsizetype(start));
    const QByteArray marker = "\n--" + QByteArray(enclosingBoundary);
    for (qsizetype at = raw.indexOf(marker, qsizetype(start)); at >= 0;
         at = raw.indexOf(marker, at + 1)) {
        const qsizetype after = at + marker.size();
        const char next = after < raw.size() ? raw.at(after) : '\n';
        if (next == '-' || next == '\r' || next == '\n' || next == ' ' || next == '\t') {
            const qsizetype end = at > start && raw.at(at - 1) == '\r' ? at - 1 : at;
            return QByteArrayView(raw).sliced(qsizetype(start), end - qsizetype(start));
        }
    }
    return QByteArrayView(raw).sliced(qsizetype(start));
}

// Base64 as nearly every mailer writes it: lines of whole groups of four characters, no
// padding. Such lines at the start of `encoded` are decoded here, a group at a time, and
// written to `out`; the first line that is anything else (padding, a stray character, a
// group split over two lines) ends the run. Returns how many bytes of `encoded` were read:
// GMime's decoder takes over from there in the state it would have reached itself, so the
// bytes written are GMime's for any input, only faster. `written` goes false when `out`
// refused a write.
qint64 writeWholeGroupLines(QByteArrayView encoded, QIODevice& out, bool& written) {
    // Each character's six bits already in their place for its position in a group, so a
    // group is four look-ups put together; a character outside the alphabet sets the top bit.
    static constexpr quint32 kInvalid = 0x80000000u;
    static const std::array<std::array<quint32, 256>, 4> ranks = [] {
        std::array<std::array<quint32, 256>, 4> tables;
        const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int k = 0; k < 4; ++k) {
            tables[size_t(k)].fill(kInvalid);
            for (int i = 0; i < 64; ++i)
                tables[size_t(k)][static_cast<unsigned char>(alphabet[i])] = quint32(i)
                                                                             << (18 - 6 * k);
        }
        return tables;
    }();
    constexpr qsizetype kBlock = 48 * 1024;
    // A group is stored as four bytes, the last of them overwritten by the next group.
    QByteArray buffer(kBlock + 1024 + 4, Qt::Uninitialized);
    char* dst = buffer.data();
    const auto flush = [&] {
        const qint64 n = dst - buffer.constData();
        written = written && out.write(buffer.constData(), n) == n;
        dst = buffer.data();
        return written;
    };
    const char* data = encoded.data();
    const qsizetype n = encoded.size();
    qsizetype pos = 0;
    while (pos < n) {
        const char* lf = static_cast<const char*>(std::memchr(data + pos, '\n', size_t(n - pos)));
        const qsizetype next = lf ? lf - data + 1 : n;
        qsizetype length = (lf ? lf - data : n) - pos;
        if (length > 0 && data[pos + length - 1] == '\r')
            --length;
        // Groups of a line longer than the buffer's spare room go the other way.
        if (length % 4 != 0 || length / 4 * 3 > 1024)
            break;
        const auto* in = reinterpret_cast<const unsigned char*>(data + pos);
        char* at = dst;
        quint32 invalid = 0;
        for (qsizetype i = 0; i < length; i += 4) {
            const quint32 group =
                ranks[0][in[i]] | ranks[1][in[i + 1]] | ranks[2][in[i + 2]] | ranks[3][in[i + 3]];
            invalid |= group;
            const quint32 bytes = qToBigEndian(group << 8);
            std::memcpy(at, &bytes, sizeof bytes);
            at += 3;
        }
        if (invalid & kInvalid)
            break; // a character outside the alphabet: nothing of this line was kept
        dst = at;
        pos = next;
        if (dst - buffer.constData() >= kBlock && !flush())
            return pos;
    }
    flush();
    return pos;
}

// Writes the transfer-decoded bytes of a leaf into `out` a block at a time, decoded the way
// GMime's own content writer decodes them; a forwarded message exactly as it arrived.
bool writeContents(GMimeObject* object, QIODevice& out, const QByteArray& raw = {},
                   const char* enclosingBoundary = nullptr) {
    if (GMIME_IS_MESSAGE_PART(object)) {
        GMimeMessage* message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        if (!message)
            return true;
        if (std::optional<QByteArrayView> bytes = forwardedBytes(message, raw, enclosingBoundary))
            return out.write(bytes->data(), bytes->size()) == bytes->size();
        GRef<GMimeStream> formatted(g_mime_stream_mem_new());
        GMimeFormatOptions* format = g_mime_format_options_new();
        g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
        g_mime_object_write_to_stream(GMIME_OBJECT(message), format, formatted.p);
        g_mime_format_options_free(format);
        const QByteArray bytes = bytesOf(formatted.p);
        return out.write(bytes) == bytes.size();
    }
    if (!GMIME_IS_PART(object))
        return true;
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object));
    GMimeStream* source = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
    if (!source)
        return true;
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
    if (encoding == GMIME_CONTENT_ENCODING_UUENCODE) {
        // GMime looks for the "begin" line itself: its own writer, whole (uuencoded files
        // are rare and small).
        GRef<GMimeStream> decoded(g_mime_stream_mem_new());
        g_mime_data_wrapper_write_to_stream(content, decoded.p);
        const QByteArray bytes = bytesOf(decoded.p);
        return out.write(bytes) == bytes.size();
    }
    const bool encoded = encoding == GMIME_CONTENT_ENCODING_BASE64 ||
                         encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
    g_mime_stream_reset(source);
    qint64 start = 0, end = 0;
    if (encoding == GMIME_CONTENT_ENCODING_BASE64 && !raw.isEmpty() &&
        boundedMimeStreamRange(source, start, end) && end <= raw.size()) {
        bool written = true;
        const qint64 done = writeWholeGroupLines(
            QByteArrayView(raw).sliced(qsizetype(start), qsizetype(end - start)), out, written);
        if (!written)
            return false;
        g_mime_stream_seek(source, start + done, GMIME_STREAM_SEEK_SET);
    }
    GMimeEncoding state;
    g_mime_encoding_init_decode(&state, encoding);
    constexpr size_t kBlock = 64 * 1024;
    QByteArray in(qsizetype(kBlock), Qt::Uninitialized);
    QByteArray decoded(qsizetype(g_mime_encoding_outlen(&state, kBlock)), Qt::Uninitialized);
    for (;;) {
        const ssize_t n = g_mime_stream_read(source, in.data(), kBlock);
        if (n <= 0)
            break;
        if (!encoded) {
            if (out.write(in.constData(), n) != n)
                return false;
            continue;
        }
        const auto m =
            qint64(g_mime_encoding_step(&state, in.constData(), size_t(n), decoded.data()));
        if (out.write(decoded.constData(), m) != m)
            return false;
    }
    if (!encoded)
        return true;
    const auto m = qint64(g_mime_encoding_flush(&state, in.constData(), 0, decoded.data()));
    return out.write(decoded.constData(), m) == m;
}

// The transfer-decoded bytes of a leaf, whole. A part sent as it stands (7bit, 8bit,
// binary) is its own stretch of `raw`, handed out without a copy.
QByteArray contentsOf(GMimeObject* object, const QByteArray& raw) {
    GMimeDataWrapper* content =
        GMIME_IS_PART(object) ? g_mime_part_get_content(GMIME_PART(object)) : nullptr;
    GMimeStream* source = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
    qint64 start = 0, end = 0;
    if (source) {
        const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
        if (encoding != GMIME_CONTENT_ENCODING_BASE64 &&
            encoding != GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE &&
            encoding != GMIME_CONTENT_ENCODING_UUENCODE &&
            boundedMimeStreamRange(source, start, end) && end <= raw.size())
            return QByteArray::fromRawData(raw.constData() + start, qsizetype(end - start));
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeContents(object, buffer);
    return buffer.buffer();
}

QString leafText(const Leaf& leaf, const QByteArray& raw) {
    const QString text = mailtext::decode(contentsOf(leaf.object, raw), leaf.charset);
    return crlf(leaf.subtype == "html" ? mailtext::htmlToText(text) : text);
}

QString defaultName(const Leaf& leaf) {
    if (leaf.type == "message" && leaf.subtype == "rfc822")
        return QStringLiteral("message.eml");
    static const QList<QPair<QByteArray, const char*>> extensions = {
        {"image/jpeg", ".jpg"}, {"image/png", ".png"},       {"image/gif", ".gif"},
        {"image/bmp", ".bmp"},  {"application/pdf", ".pdf"}, {"text/plain", ".txt"},
        {"text/html", ".html"}, {"application/zip", ".zip"},
    };
    const QByteArray media = leaf.type + '/' + leaf.subtype;
    for (const auto& [type, ext] : extensions)
        if (type == media)
            return QStringLiteral("attachment") + QLatin1String(ext);
    return QStringLiteral("attachment.dat");
}

// The parts of a multipart in reading order: the texts a reader sees and the files.
struct Reading {
    QList<Leaf> texts;
    QList<Leaf> files;
};

// Walks a tree already known to be within the depth limit, so recursion is bounded.
void collect(GMimeObject* object, Reading& reading, const char* enclosingBoundary = nullptr) {
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        const bool alternative =
            lower(g_mime_content_type_get_media_subtype(g_mime_object_get_content_type(object))) ==
            "alternative";
        if (!alternative) {
            for (int i = 0; i < count; ++i)
                collect(g_mime_multipart_get_part(multipart, i), reading,
                        g_mime_multipart_get_boundary(multipart));
            return;
        }
        // One text of an alternative: the first that has plain text, else the first with any.
        QList<Reading> choices;
        for (int i = 0; i < count; ++i) {
            choices.append(Reading());
            collect(g_mime_multipart_get_part(multipart, i), choices.last(),
                    g_mime_multipart_get_boundary(multipart));
            reading.files += choices.last().files;
        }
        const auto hasPlain = [](const Reading& r) {
            for (const Leaf& leaf : r.texts)
                if (leaf.subtype == "plain")
                    return true;
            return false;
        };
        for (const auto& wanted : {std::function<bool(const Reading&)>(hasPlain),
                                   std::function<bool(const Reading&)>(
                                       [](const Reading& r) { return !r.texts.isEmpty(); })}) {
            for (const Reading& choice : choices) {
                if (wanted(choice)) {
                    reading.texts += choice.texts;
                    return;
                }
            }
        }
        return;
    }
    Leaf leaf = describe(object);
    leaf.enclosingBoundary = enclosingBoundary;
    if (leaf.isTextBody())
        reading.texts.append(leaf);
    else if (leaf.isFile())
        reading.files.append(leaf);
}

} // namespace

// The parsed message and what was read from it.
struct MimeMessage::Tree {
    MimeParseCost cost;
    GMimeMessage* message = nullptr;
    bool nestingOverflow = false;     // GMime gave up on the depth itself
    std::optional<QList<Leaf>> files; // the parts that are files, found once
    ~Tree() {
        if (message)
            g_object_unref(message);
    }
};

MimeMessage::MimeMessage(const QByteArray& raw, const MimeLimits& limits) : m_raw(raw) {
    readHeader();
    parse(limits);
}

MimeMessage::~MimeMessage() = default;

QString MimeMessage::limitNote() const {
    if (withinLimits())
        return {};
    return QStringLiteral("♪♪♪　このメールは構造を展開できないため（%1）、添付ファイルを展開せずに"
                          "原文のまま保存しました。♪♪♪")
        .arg(m_exceeded);
}

void MimeMessage::parse(const MimeLimits& limits) {
    initialiseGMime();
    m_tree = std::make_unique<Tree>();
    Tree& tree = *m_tree;
    GRef<GMimeStream> stream(
        newBoundedMimeStream(m_raw.constData(), m_raw.size(), limits.budget, &tree.cost));
    GRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.p));
    g_mime_parser_set_persist_stream(parser.p, TRUE); // parts read the bytes where they lie
    g_mime_parser_set_format(parser.p, GMIME_FORMAT_MESSAGE);
    GMimeParserOptions* options = g_mime_parser_options_new();
    g_mime_parser_options_set_warning_callback(
        options,
        [](gint64, GMimeParserWarning code, const gchar*, gpointer tree) {
            if (code == GMIME_CRIT_NESTING_OVERFLOW)
                static_cast<Tree*>(tree)->nestingOverflow = true;
        },
        &tree);
    tree.message = g_mime_parser_construct_message(parser.p, options);
    g_mime_parser_options_free(options);

    const QString tooDeep = QStringLiteral("入れ子が %1 段を超えています").arg(limits.maxDepth);
    if (tree.cost.exhausted) {
        m_exceeded = QStringLiteral("区切りの行が多すぎます");
        return;
    }
    if (tree.nestingOverflow) {
        m_exceeded = tooDeep;
        return;
    }
    GMimeObject* root = tree.message ? g_mime_message_get_mime_part(tree.message) : nullptr;
    if (!root)
        return; // no MIME structure at all: the body is plain text
    if (GMimeContentType* ct = g_mime_object_get_content_type(root)) {
        char* type = g_mime_content_type_get_mime_type(ct);
        m_mediaType = lower(type);
        g_free(type);
    }

    // Every limit on the tree as GMime built it, walked without recursion.
    QList<QPair<GMimeObject*, int>> pending{{root, 0}}; // object, containers around it
    int parts = 0;
    if (headerBytes(GMIME_OBJECT(tree.message)) > limits.maxHeaderBytes) {
        m_exceeded =
            QStringLiteral("ヘッダーが %1 バイトを超えています").arg(limits.maxHeaderBytes);
        return;
    }
    while (!pending.isEmpty()) {
        const auto [object, outer] = pending.takeLast();
        if (++parts > limits.maxParts) {
            m_exceeded = QStringLiteral("パートが %1 個を超えています").arg(limits.maxParts);
            return;
        }
        if (headerBytes(object) > limits.maxHeaderBytes) {
            m_exceeded =
                QStringLiteral("ヘッダーが %1 バイトを超えています").arg(limits.maxHeaderBytes);
            return;
        }
        const bool container = GMIME_IS_MULTIPART(object) || GMIME_IS_MESSAGE_PART(object);
        if (container && outer + 1 > limits.maxDepth) {
            m_exceeded = tooDeep;
            return;
        }
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            for (int i = g_mime_multipart_get_count(multipart) - 1; i >= 0; --i)
                pending.append({g_mime_multipart_get_part(multipart, i), outer + 1});
        } else if (GMIME_IS_MESSAGE_PART(object)) {
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            if (inner && headerBytes(GMIME_OBJECT(inner)) > limits.maxHeaderBytes) {
                m_exceeded =
                    QStringLiteral("ヘッダーが %1 バイトを超えています").arg(limits.maxHeaderBytes);
                return;
            }
            if (GMimeObject* body = inner ? g_mime_message_get_mime_part(inner) : nullptr)
                pending.append({body, outer + 1});
        }
    }
}

void MimeMessage::readHeader() {
    qsizetype end = m_raw.indexOf("\r\n\r\n");
    // A bare blank line counts only when it comes first: no need to look past the other.
    const qsizetype lf =
        QByteArrayView(m_raw).first(end >= 0 ? end + 2 : m_raw.size()).indexOf("\n\n");
    if (end >= 0 && (lf < 0 || end < lf)) {
        m_bodyStart = end + 4;
    } else if (lf >= 0) {
        end = lf;
        m_bodyStart = lf + 2;
    } else {
        end = m_raw.size();
        m_bodyStart = m_raw.size();
    }
    QList<QByteArray> lines;
    for (QByteArray line : m_raw.left(end).split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if ((line.startsWith(' ') || line.startsWith('\t')) && !lines.isEmpty())
            lines.last() += line; // unfold: the line break goes, the white space stays
        else
            lines.append(line);
    }
    QByteArray block;
    for (const QByteArray& line : lines) {
        if (!block.isEmpty())
            block += "\r\n";
        block += line;
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            m_fields.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    m_headerText = mailtext::sniff(block);
}

QByteArray MimeMessage::field(const QByteArray& name) const {
    for (const auto& [fieldName, value] : m_fields)
        if (fieldName.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

bool MimeMessage::hasField(const QByteArray& name) const {
    for (const auto& [fieldName, value] : m_fields)
        if (fieldName.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString MimeMessage::decodedOnce(std::optional<QString>& slot, const char* name) const {
    if (!slot)
        slot = mailtext::decodeHeader(field(name)).trimmed();
    return *slot;
}

QString MimeMessage::rawBodyText() const {
    // Read where it lies: a copy of the body would cost the message's size once more.
    if (!m_rawBodyText)
        m_rawBodyText = mailtext::sniff(
            QByteArray::fromRawData(m_raw.constData() + m_bodyStart, m_raw.size() - m_bodyStart));
    return *m_rawBodyText;
}

namespace {

// Only base64 and the white space between its lines.
bool base64OrSpace(quint8 c) {
    return quint8((c | 0x20) - 'a') < 26 || quint8(c - '0') < 10 || c == '+' || c == '/' ||
           c == '=' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The same for many bytes, sixteen at a time: the lines of a megabyte file go through here.
bool plainBase64(QByteArrayView bytes) {
    using Bytes = quint8 __attribute__((vector_size(16)));
    using Mask = qint8 __attribute__((vector_size(16)));
    const auto* data = reinterpret_cast<const quint8*>(bytes.data());
    const qsizetype n = bytes.size();
    Mask stray = {};
    qsizetype i = 0;
    for (; i + 16 <= n; i += 16) {
        Bytes c;
        std::memcpy(&c, data + i, sizeof c);
        const Bytes letter = (c | 0x20) - 'a';
        const Bytes digit = c - '0';
        stray |= ~((letter < 26) | (digit < 10) | (c == '+') | (c == '/') | (c == '=') |
                   (c == ' ') | (c == '\t') | (c == '\r') | (c == '\n'));
    }
    bool ok = true;
    for (int k = 0; k < 16; ++k)
        ok &= stray[k] == 0;
    for (; i < n; ++i)
        ok &= base64OrSpace(data[i]);
    return ok;
}

} // namespace

QString MimeMessage::rawBodyTextWithoutFileData() const {
    collectFilesOnce();
    QList<QPair<qint64, qint64>> cuts;
    for (const Leaf& leaf : std::as_const(*m_tree->files)) {
        GMimeDataWrapper* content =
            GMIME_IS_PART(leaf.object) ? g_mime_part_get_content(GMIME_PART(leaf.object)) : nullptr;
        qint64 start = 0, end = 0;
        if (!content ||
            g_mime_data_wrapper_get_encoding(content) != GMIME_CONTENT_ENCODING_BASE64 ||
            !boundedMimeStreamRange(g_mime_data_wrapper_get_stream(content), start, end) ||
            start < m_bodyStart || end > m_raw.size())
            continue;
        const QByteArrayView lines = QByteArrayView(m_raw).sliced(start, end - start);
        // glibc's memmem skips through base64 several times faster than QByteArray's search.
        static constexpr char kWord[] = "attachment";
        if (plainBase64(lines) &&
            !memmem(lines.data(), size_t(lines.size()), kWord, sizeof kWord - 1))
            cuts.append({start, end});
    }
    if (cuts.isEmpty())
        return rawBodyText();
    std::sort(cuts.begin(), cuts.end());
    QByteArray kept;
    qint64 from = m_bodyStart;
    for (const auto& [start, end] : std::as_const(cuts)) {
        if (start < from)
            continue; // within a part already left out
        kept.append(m_raw.constData() + from, start - from);
        from = end;
    }
    kept.append(m_raw.constData() + from, m_raw.size() - from);
    return mailtext::sniff(kept);
}

QString MimeMessage::text() const {
    if (m_text)
        return *m_text;
    GMimeObject* root = m_tree->message ? g_mime_message_get_mime_part(m_tree->message) : nullptr;
    if (!withinLimits()) {
        m_text = limitNote() + QStringLiteral("\r\n") + crlf(rawBodyText());
    } else if (!root) {
        m_text = crlf(rawBodyText());
    } else if (!GMIME_IS_MULTIPART(root)) {
        const Leaf leaf = describe(root);
        m_text = leaf.type == "text" ? leafText(leaf, m_raw) : QString();
    } else {
        Reading reading;
        collect(root, reading);
        QString text;
        for (const Leaf& leaf : reading.texts) {
            const QString part = leafText(leaf, m_raw);
            if (part.trimmed().isEmpty())
                continue;
            if (!text.isEmpty()) { // a blank line before each further text
                if (!text.endsWith(QLatin1String("\r\n")))
                    text += QLatin1String("\r\n");
                text += QLatin1String("\r\n");
            }
            text += part;
        }
        m_text = text;
    }
    return *m_text;
}

void MimeMessage::collectFilesOnce() const {
    if (m_tree->files)
        return;
    m_tree->files.emplace();
    GMimeObject* root = m_tree->message ? g_mime_message_get_mime_part(m_tree->message) : nullptr;
    if (!withinLimits() || !root)
        return;
    if (!GMIME_IS_MULTIPART(root)) {
        const Leaf leaf = describe(root);
        if (leaf.type != "text" || leaf.disposition == "attachment")
            m_tree->files->append(leaf);
        return;
    }
    Reading reading;
    collect(root, reading);
    *m_tree->files = std::move(reading.files);
}

QStringList MimeMessage::fileNames() const {
    collectFilesOnce();
    QStringList names;
    for (const Leaf& leaf : std::as_const(*m_tree->files))
        names << (leaf.name.isEmpty() ? defaultName(leaf) : leaf.name);
    return names;
}

bool MimeMessage::writeFile(qsizetype index, QIODevice& out) const {
    collectFilesOnce();
    if (index < 0 || index >= m_tree->files->size())
        return false;
    const Leaf& leaf = m_tree->files->at(index);
    return writeContents(leaf.object, out, m_raw, leaf.enclosingBoundary);
}

QList<MailAttachment> MimeMessage::attachments() const {
    QList<MailAttachment> files;
    const QStringList names = fileNames();
    for (qsizetype i = 0; i < names.size(); ++i) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        writeFile(i, buffer);
        files.append({names.at(i), buffer.buffer()});
    }
    return files;
}

} // namespace kiku
