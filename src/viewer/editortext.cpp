#include "viewer/editortext.h"

#include "base/codec.h"

namespace kiku::editor {

namespace {
const QString kCrLf = QStringLiteral("\r\n");
constexpr QChar kLineSeparator(0x2028);
} // namespace

QString crlfToPane(const QString& text) {
    QString pane;
    pane.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            // CR LF and a lone CR are line ends; the pane shows each as one break.
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            pane += QLatin1Char('\n');
        } else if (c == QLatin1Char('\n')) {
            pane += kLineSeparator;
        } else {
            pane += c;
        }
    }
    return pane;
}

QString paneToCrlf(const QStringList& paragraphs) {
    QString text = paragraphs.join(kCrLf);
    text.replace(kLineSeparator, QLatin1Char('\n'));
    return text;
}

QString readTextFile(const QByteArray& bytes) {
    static const QByteArray utf8Mark("\xEF\xBB\xBF");
    const QString text =
        bytes.startsWith(utf8Mark) ? QString::fromUtf8(bytes.mid(3)) : codec::fromCp932(bytes);
    QString result;
    result.reserve(text.size() + text.size() / 32 + 2);
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('\r'))
            continue;
        result += QStringView(text).mid(lineStart, i - lineStart);
        result += kCrLf;
        if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        lineStart = i + 1;
    }
    // The last line, ended or not, gets its line end too.
    if (lineStart < text.size()) {
        result += QStringView(text).mid(lineStart);
        result += kCrLf;
    }
    return result;
}

SavedText encodeForSave(const QString& text) {
    if (codec::fits(text, "CP932"))
        return {codec::toCp932(text), false};
    return {QByteArray("\xEF\xBB\xBF") + text.toUtf8(), true};
}

qint64 findFrom(const QString& text, const QString& search, qint64 from) {
    if (from < 1 || from > qint64(text.size()) + 1)
        return 0;
    if (search.isEmpty())
        return from;
    const qsizetype at = text.indexOf(search, from - 1, Qt::CaseSensitive);
    return at < 0 ? 0 : qint64(at) + 1;
}

QString withSaveHeader(const QString& subject, const QString& from, const QString& date,
                       const QString& text) {
    return QStringLiteral("Subject:  ") + subject + kCrLf + QStringLiteral("From:  ") + from +
           kCrLf + QStringLiteral("Date:  ") + date + kCrLf + QStringLiteral("Body:  ") + text;
}

QString newDocumentPath(const QString& currentPath) {
    const qsizetype slash =
        qMax(currentPath.lastIndexOf(QLatin1Char('/')), currentPath.lastIndexOf(QLatin1Char('\\')));
    // Without a separator the whole path counts as the folder part.
    return (slash < 0 ? currentPath : currentPath.left(slash + 1)) + kNewDocumentName;
}

} // namespace kiku::editor
