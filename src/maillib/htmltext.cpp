// HTML mail made into the plain text the boxes keep.
#include "maillib/htmlentities.h"
#include "maillib/mailtext.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstring>

namespace kiku::mailtext {

namespace {

// The characters of "&name;" (name without the marks), or nothing for a name HTML lacks.
QString namedEntity(QStringView name) {
    if (name.isEmpty() || name.size() > 40)
        return {};
    const QByteArray key = name.toLatin1();
    const auto* begin = std::begin(html::kNamedEntities);
    const auto* end = std::end(html::kNamedEntities);
    const auto* it =
        std::lower_bound(begin, end, key, [](const html::NamedEntity& e, const QByteArray& k) {
            return std::strcmp(e.name, k.constData()) < 0;
        });
    if (it == end || key != it->name)
        return {};
    const char32_t chars[2] = {it->first, it->second};
    return QString::fromUcs4(chars, it->second ? 2 : 1);
}

// Every character reference resolved in one pass, so "&amp;lt;" stays "&lt;".
QString resolveReferences(const QString& text) {
    static const QRegularExpression reference(
        QStringLiteral("&(?:#[xX]([0-9A-Fa-f]{1,8})|#([0-9]{1,8})|([A-Za-z][A-Za-z0-9]{0,39}));"));
    QString out;
    out.reserve(text.size());
    qsizetype pos = 0;
    auto it = reference.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        QString resolved;
        if (m.capturedLength(1) > 0 || m.capturedLength(2) > 0) {
            bool ok = false;
            const uint code = m.capturedLength(1) > 0 ? m.capturedView(1).toUInt(&ok, 16)
                                                      : m.capturedView(2).toUInt(&ok, 10);
            if (ok && code > 0 && code <= 0x10FFFF) {
                const char32_t c = code;
                resolved = QString::fromUcs4(&c, 1);
            }
        } else if (m.capturedView(3) == u"nbsp") {
            resolved = QStringLiteral(" "); // a space in the boxes, as it always was
        } else {
            resolved = namedEntity(m.capturedView(3));
        }
        if (resolved.isNull())
            continue; // not a reference: left as written
        out += QStringView(text).sliced(pos, m.capturedStart() - pos);
        out += resolved;
        pos = m.capturedEnd();
    }
    out += QStringView(text).sliced(pos);
    return out;
}

} // namespace

QString htmlToText(const QString& html) {
    static const QRegularExpression hidden(QStringLiteral("<(script|style|head)\\b.*?</\\1\\s*>"),
                                           QRegularExpression::CaseInsensitiveOption |
                                               QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression breaks(QStringLiteral("<(br|/p|/div|/tr|/li|/h[1-6])\\b[^>]*>"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    static const QRegularExpression newlines(QStringLiteral("[\\r\\n]+"));
    QString text = html;
    text.remove(hidden);
    text.replace(newlines, QStringLiteral(" "));
    text.replace(breaks, QStringLiteral("\n"));
    text.remove(tags);
    return resolveReferences(text).trimmed();
}

} // namespace kiku::mailtext
