#include "compose/attachpreview.h"

#include "base/codec.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>

namespace kiku {

namespace {

bool startsWithNoCase(const QByteArray& bytes, const char* prefix) {
    return bytes.left(qsizetype(qstrlen(prefix))).toLower() == QByteArray(prefix);
}

// The first bytes without a byte-order mark and leading white space.
QByteArray contentStart(const QByteArray& head) {
    QByteArray start = head.left(512);
    if (start.startsWith("\xEF\xBB\xBF"))
        start.remove(0, 3);
    return start.trimmed();
}

// Plain text: no zero bytes and hardly any control characters besides the usual ones (tab,
// line ends, form feed and the escape of ISO-2022-JP).
bool looksLikeText(const QByteArray& head) {
    if (head.isEmpty())
        return true;
    int controls = 0;
    for (const char c : head) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 0)
            return false;
        if (b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f' && b != 0x1B)
            ++controls;
    }
    return controls * 100 < head.size();
}

bool isValidUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

// The charset a page declares in its first kilobytes (<meta charset=...> or the
// http-equiv content type), lower case; empty when none.
QByteArray declaredCharset(const QByteArray& bytes) {
    static const QRegularExpression meta(
        QStringLiteral("<meta[^>]*charset\\s*=\\s*[\"']?([A-Za-z0-9_.:-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = meta.match(QString::fromLatin1(bytes.left(4096)));
    return match.hasMatch() ? match.captured(1).toLatin1().toLower() : QByteArray();
}

} // namespace

PageKind pageKind(const QString& fileName, const QByteArray& head) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    const QByteArray start = contentStart(head);
    if (suffix == QLatin1String("pdf") || start.startsWith("%PDF-"))
        return PageKind::Pdf;
    static const QStringList htmlSuffixes = {QStringLiteral("htm"), QStringLiteral("html"),
                                             QStringLiteral("xhtml"), QStringLiteral("shtml")};
    if (htmlSuffixes.contains(suffix) || startsWithNoCase(start, "<!doctype html") ||
        startsWithNoCase(start, "<html"))
        return PageKind::Html;
    if (looksLikeText(head))
        return PageKind::Text;
    return PageKind::Other;
}

QString decodePageText(const QByteArray& bytes, bool html) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(QStringDecoder::Utf16);
        return decoder.decode(bytes);
    }
    if (html) {
        const QByteArray charset = declaredCharset(bytes);
        bool known = false;
        if (!charset.isEmpty()) {
            const QString text = codec::decode(bytes, charset, &known);
            if (known)
                return text;
        }
    }
    // ISO-2022-JP is seven-bit, so it would pass for UTF-8: its escapes tell it first.
    if (bytes.contains("\x1B$B") || bytes.contains("\x1B$@") || bytes.contains("\x1B(J"))
        return codec::decode(bytes, "ISO-2022-JP");
    if (isValidUtf8(bytes))
        return QString::fromUtf8(bytes);
    bool known = false;
    const QString euc = codec::decode(bytes, "EUC-JP", &known);
    const QString sjis = codec::fromCp932(bytes);
    // Whichever reads with fewer undecodable bytes; Shift-JIS when both read alike.
    if (known && euc.count(QChar(0xFFFD)) < sjis.count(QChar(0xFFFD)))
        return euc;
    return sjis;
}

QString attachmentPath(const QString& folder, const QString& fileName) {
    const bool drive = folder.size() >= 2 && folder.at(1) == QLatin1Char(':');
    const QChar separator = drive ? QLatin1Char('\\') : QLatin1Char('/');
    QString base = folder;
    if (base.endsWith(QLatin1Char('\\')) || base.endsWith(QLatin1Char('/')))
        base = drive ? base.left(2) : base.chopped(1);
    return base + separator + fileName;
}

int nextCaptionTop(int top) {
    return top != kPreviewTop ? top - 10 : kCaptionRestartTop;
}

namespace {

// Whether a content type is a document, picture, sound, film or archive: something the
// desktop opens in a viewer, never a program, script or launcher.
bool isDocumentType(const QMimeType& type) {
    static const QStringList prefixes = {QStringLiteral("image/"), QStringLiteral("audio/"),
                                         QStringLiteral("video/")};
    static const QStringList documents = {
        QStringLiteral("text/plain"),
        QStringLiteral("text/csv"),
        QStringLiteral("application/pdf"),
        QStringLiteral("application/rtf"),
        QStringLiteral("application/msword"),
        QStringLiteral("application/vnd.ms-excel"),
        QStringLiteral("application/vnd.ms-powerpoint"),
        QStringLiteral("application/zip"),
        QStringLiteral("application/gzip"),
        QStringLiteral("application/x-tar"),
        QStringLiteral("application/x-compressed-tar"),
        QStringLiteral("application/x-bzip"),
        QStringLiteral("application/x-bzip2"),
        QStringLiteral("application/x-xz"),
        QStringLiteral("application/x-7z-compressed"),
        QStringLiteral("application/vnd.rar"),
        QStringLiteral("application/x-rar"),
        QStringLiteral("application/x-lzh-compressed"),
    };
    static const QStringList documentFamilies = {
        QStringLiteral("application/vnd.oasis.opendocument."),
        QStringLiteral("application/vnd.openxmlformats-officedocument."),
    };
    const QString name = type.name();
    const auto startsWith = [&name](const QString& prefix) { return name.startsWith(prefix); };
    return documents.contains(name) || std::any_of(prefixes.begin(), prefixes.end(), startsWith) ||
           std::any_of(documentFamilies.begin(), documentFamilies.end(), startsWith);
}

} // namespace

bool mayHandToDesktop(const QString& fileName, const QByteArray& head) {
    const QMimeDatabase types;
    if (!isDocumentType(types.mimeTypeForData(head)))
        return false;
    // The desktop may go by the name, so the name must not say "program" either.
    const QMimeType byName = types.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    return byName.isDefault() || isDocumentType(byName);
}

} // namespace kiku
