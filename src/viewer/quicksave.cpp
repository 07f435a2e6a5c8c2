#include "viewer/quicksave.h"

#include "base/codec.h"
#include "base/paths.h"
#include "base/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <QTextBoundaryFinder>

namespace kiku::quicksave {

namespace {

const QString kExtension = QStringLiteral(".txt");
const QLatin1Char kReplacement('_');

QString replaceForbidden(const QString& subject) {
    QString name;
    name.reserve(subject.size());
    for (qsizetype i = 0; i < subject.size(); ++i) {
        const QChar c = subject.at(i);
        if (c.isHighSurrogate() && i + 1 < subject.size() && subject.at(i + 1).isLowSurrogate()) {
            name += c;
            name += subject.at(++i);
        } else if (c.isSurrogate() || unsafeInFileName(c)) {
            name += kReplacement; // half of a pair cannot be written either
        } else {
            name += c;
        }
    }
    return name;
}

bool isDeviceName(const QString& base) {
    static const QStringList devices = [] {
        QStringList names{QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                          QStringLiteral("NUL")};
        for (int i = 1; i <= 9; ++i) {
            names << QStringLiteral("COM%1").arg(i) << QStringLiteral("LPT%1").arg(i);
        }
        return names;
    }();
    // "CON.txt" and "con .txt" name the device too; only what comes before a dot counts.
    QString stem = base.section(QLatin1Char('.'), 0, 0);
    while (stem.endsWith(QLatin1Char(' ')))
        stem.chop(1);
    return devices.contains(stem, Qt::CaseInsensitive);
}

// The longest start of `text` made of whole characters whose encoded name fits `budget`.
QString cutToBytes(const QString& text, qsizetype budget) {
    if (QFile::encodeName(text).size() <= budget)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype fits = 0;
    qsizetype used = 0;
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end > 0; end = finder.toNextBoundary()) {
        used += QFile::encodeName(text.mid(start, end - start)).size();
        if (used > budget)
            break;
        fits = end;
        start = end;
    }
    return text.left(fits);
}

} // namespace

QString fileName(const QString& subject) {
    QString base = replaceForbidden(subject);
    if (isDeviceName(base))
        base.prepend(kReplacement);
    return cutToBytes(base, kMaxNameBytes - QFile::encodeName(kExtension).size()) + kExtension;
}

QString text(const QString& subject, const QString& from, const QString& date,
             const QString& body) {
    const QString two = QStringLiteral("  ");
    return QStringList{QStringLiteral("Subject:") + two + subject,
                       QStringLiteral("From:") + two + from, QStringLiteral("Date:") + two + date,
                       QStringLiteral("Body:") + two + body}
        .join(QStringLiteral("\r\n"));
}

QByteArray fileBytes(const QString& text) {
    const QString lines = text + QStringLiteral("\r\n");
    bool fits = false;
    QByteArray bytes = codec::encode(lines, "CP932", &fits);
    if (fits)
        return bytes;
    return QByteArray("\xEF\xBB\xBF") + lines.toUtf8();
}

QString folder() {
    const QString path = ProgramFolder::resolve(paths::kQuickSaveFolder);
    return QFileInfo(path).isDir() ? QDir::cleanPath(path) : QString();
}

bool write(const QString& path, const QString& text, QString* error) {
    const QString name = QFileInfo(path).fileName();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("ファイル %1 を ■TextQuickSave フォルダに作成できません: %2")
                     .arg(name, file.errorString());
        return false;
    }
    const QByteArray bytes = fileBytes(text);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("ファイル %1 を ■TextQuickSave フォルダに書き込めません: %2")
                     .arg(name, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

} // namespace kiku::quicksave
