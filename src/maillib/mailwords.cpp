// Words of received header fields: RFC 2047 encoded words and RFC 2231 parameters, read from
// the raw field values in our own decoders.
#include "maillib/mailtext.h"

#include <QList>
#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace kiku::mailtext {

namespace {

QByteArray unquotedPrintable(const QByteArray& in, bool header) {
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in.at(i);
        if (c == '_' && header) {
            out.append(' ');
        } else if (c == '=' && i + 2 < in.size()) {
            bool ok = false;
            const int v = in.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out.append(char(v));
                i += 2;
            } else {
                out.append(c);
            }
        } else {
            out.append(c);
        }
    }
    return out;
}

QByteArray percentDecoded(const QByteArray& text) {
    return QByteArray::fromPercentEncoding(text);
}

// Calls each(key, value) for every "key=value" after the field's first ';', in order: the
// key trimmed and lowered, the value without its quotes and escapes. Blanks outside quotes
// are dropped when `dropBlanks` (the sections of an RFC 2231 value), otherwise kept.
template <class Each>
void forEachParameter(const QByteArray& fieldValue, bool dropBlanks, Each each) {
    qsizetype pos = fieldValue.indexOf(';');
    while (pos >= 0 && pos < fieldValue.size()) {
        // One "key=value" up to the next ';' outside quotes.
        qsizetype at = pos + 1;
        bool quoted = false, inValue = false;
        QByteArray key, value;
        for (; at < fieldValue.size(); ++at) {
            const char c = fieldValue.at(at);
            if (quoted) {
                if (c == '\\' && at + 1 < fieldValue.size())
                    value += fieldValue.at(++at);
                else if (c == '"')
                    quoted = false;
                else
                    value += c;
                continue;
            }
            if (c == ';')
                break;
            if (!inValue && c == '=')
                inValue = true;
            else if (inValue && c == '"')
                quoted = true;
            else if (inValue && !(dropBlanks && (c == ' ' || c == '\t')))
                value += c;
            else if (!inValue)
                key += c;
        }
        pos = at < fieldValue.size() ? at : -1;
        each(key.trimmed().toLower(), value);
    }
}

// An RFC 2231 parameter split into numbered sections ("name*0", "name*1*", ...), joined in
// the order of the numbers rather than the order they arrived in; null when the parameter
// has no numbered sections.
std::optional<QString> continuedParameter(const QByteArray& fieldValue, const QByteArray& name) {
    struct Section {
        int index;
        bool encoded;
        QByteArray value;
    };
    QList<Section> sections;
    const QByteArray prefix = name.toLower() + '*';
    forEachParameter(fieldValue, true, [&](const QByteArray& key, const QByteArray& value) {
        if (!key.startsWith(prefix))
            return;
        QByteArray number = key.mid(prefix.size());
        const bool encoded = number.endsWith('*');
        if (encoded)
            number.chop(1);
        bool ok = false;
        const int index = number.toInt(&ok);
        if (ok && index >= 0 && index < 10000 && !number.startsWith('+'))
            sections.append({index, encoded, value});
    });
    if (sections.isEmpty())
        return std::nullopt;
    std::stable_sort(sections.begin(), sections.end(),
                     [](const Section& a, const Section& b) { return a.index < b.index; });
    QByteArray charset;
    QByteArray bytes;
    for (qsizetype i = 0; i < sections.size(); ++i) {
        const Section& section = sections.at(i);
        if (!section.encoded) {
            bytes += section.value;
            continue;
        }
        QByteArray value = section.value;
        if (i == 0) { // charset'language'value
            const qsizetype first = value.indexOf('\'');
            const qsizetype second = first >= 0 ? value.indexOf('\'', first + 1) : -1;
            if (second > first) {
                charset = value.left(first);
                value = value.mid(second + 1);
            }
        }
        bytes += percentDecoded(value);
    }
    return mailtext::decode(bytes, charset);
}

// The value of parameter `name` as it stands in the field (quotes and escapes removed), and
// whether it was there; a bare "name*" gives its RFC 2231 form in `extended`.
struct Found {
    bool plain = false;
    bool extended = false;
    QByteArray plainValue;
    QByteArray extendedValue;
};

Found findParameter(const QByteArray& fieldValue, const QByteArray& name) {
    Found found;
    const QByteArray lower = name.toLower();
    forEachParameter(fieldValue, false, [&](const QByteArray& key, const QByteArray& raw) {
        const QByteArray value = raw.trimmed();
        // The first of each wins, as a reader that stops at the first match would see it.
        if (key == lower && !found.plain) {
            found.plain = true;
            found.plainValue = value;
        } else if (key == lower + '*' && !found.extended) {
            found.extended = true;
            found.extendedValue = value;
        }
    });
    return found;
}

} // namespace

QString parameter(const QByteArray& fieldValue, const QByteArray& name) {
    if (std::optional<QString> joined = continuedParameter(fieldValue, name))
        return *joined;
    const Found found = findParameter(fieldValue, name);
    if (found.extended) { // charset'language'percent-encoded
        const QByteArray& value = found.extendedValue;
        const qsizetype first = value.indexOf('\'');
        const qsizetype second = first >= 0 ? value.indexOf('\'', first + 1) : -1;
        if (second > first)
            return decode(percentDecoded(value.mid(second + 1)), value.left(first));
        return decode(percentDecoded(value), QByteArray());
    }
    if (!found.plain)
        return {};
    // Many mailers put RFC 2047 words inside the quotes.
    if (found.plainValue.contains("=?"))
        return decodeHeader(found.plainValue);
    return sniff(found.plainValue);
}

QString decodeHeader(const QByteArray& value) {
    static const QRegularExpression word(
        QStringLiteral("=\\?([^?\\s]+)\\?([BbQq])\\?([^?\\s]*)\\?="));
    // Work on Latin-1 so that regex offsets are byte offsets.
    const QString latin = QString::fromLatin1(value);
    QString out;
    QByteArray pendingBytes; // decoded bytes of adjacent words in one charset
    QByteArray pendingCharset;
    auto flush = [&] {
        if (!pendingBytes.isEmpty() || !pendingCharset.isEmpty())
            out += decode(pendingBytes, pendingCharset);
        pendingBytes.clear();
        pendingCharset.clear();
    };
    qsizetype pos = 0;
    bool lastWasWord = false;
    auto it = word.globalMatch(latin);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QByteArray between = value.mid(pos, m.capturedStart() - pos);
        // White space between two encoded words is not part of the text.
        if (!(lastWasWord && between.trimmed().isEmpty())) {
            flush();
            out += sniff(between);
        }
        QByteArray charset = m.captured(1).toLatin1();
        const qsizetype star = charset.indexOf('*'); // RFC 2231 language suffix
        if (star >= 0)
            charset.truncate(star);
        const QByteArray payload = m.captured(3).toLatin1();
        const QByteArray bytes = m.captured(2).compare(QLatin1String("B"), Qt::CaseInsensitive) == 0
                                     ? QByteArray::fromBase64(payload)
                                     : unquotedPrintable(payload, true);
        if (charset.compare(pendingCharset, Qt::CaseInsensitive) != 0)
            flush();
        pendingCharset = charset;
        pendingBytes += bytes;
        pos = m.capturedEnd();
        lastWasWord = true;
    }
    flush();
    out += sniff(value.mid(pos));
    return out;
}

} // namespace kiku::mailtext
