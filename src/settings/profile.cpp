#include "settings/profile.h"

#include "base/codec.h"
#include "base/paths.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace kiku {

namespace {

// Splits file text into lines, accepting CR LF, LF or CR as line ends.
QStringList splitLines(const QString& text) {
    QString unified = text;
    unified.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    unified.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = unified.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the line end of the last line
    return lines;
}

QString blankTrimmed(const QString& s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && (s.at(b) == QLatin1Char(' ') || s.at(b) == QLatin1Char('\t')))
        ++b;
    while (e > b && (s.at(e - 1) == QLatin1Char(' ') || s.at(e - 1) == QLatin1Char('\t')))
        --e;
    return s.mid(b, e - b);
}

// "[name]" (blanks around allowed) gives name; anything else gives a null string.
QString sectionName(const QString& line) {
    const QString t = blankTrimmed(line);
    if (t.startsWith(QLatin1Char('[')) && t.contains(QLatin1Char(']')))
        return blankTrimmed(t.mid(1, t.indexOf(QLatin1Char(']')) - 1));
    return {};
}

bool isKeyLine(const QString& line, const QString& key, QString* value) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    if (blankTrimmed(line.left(eq)).compare(key, Qt::CaseInsensitive) != 0)
        return false;
    if (value) {
        QString v = blankTrimmed(line.mid(eq + 1));
        // The platform drops one pair of enclosing quotes.
        if (v.size() >= 2 && ((v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"'))) ||
                              (v.startsWith(QLatin1Char('\'')) && v.endsWith(QLatin1Char('\'')))))
            v = v.mid(1, v.size() - 2);
        *value = v;
    }
    return true;
}

QStringList readLines(const QString& filePath) {
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return splitLines(codec::fromCp932(file.readAll()));
}

} // namespace

namespace profile {

QString readString(const QString& filePath, const QString& section, const QString& key,
                   int bufferSize) {
    if (bufferSize < 1)
        return {};
    bool inSection = false;
    for (const QString& line : readLines(filePath)) {
        const QString name = sectionName(line);
        if (!name.isNull()) {
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        QString value;
        if (inSection && isKeyLine(line, key, &value))
            return value.left(bufferSize - 1);
    }
    return {};
}

bool writeString(const QString& filePath, const QString& section, const QString& key,
                 const QString& value) {
    QStringList lines = readLines(filePath);
    const QString newLine = key + QLatin1Char('=') + value;
    qsizetype sectionStart = -1; // index of the section header
    qsizetype sectionEnd = -1;   // index after its last non-empty line
    bool replaced = false;
    for (qsizetype i = 0; i < lines.size() && !replaced; ++i) {
        const QString name = sectionName(lines.at(i));
        if (!name.isNull()) {
            if (sectionStart >= 0)
                break; // the next section begins
            if (name.compare(section, Qt::CaseInsensitive) == 0) {
                sectionStart = i;
                sectionEnd = i + 1;
            }
            continue;
        }
        if (sectionStart < 0)
            continue;
        if (isKeyLine(lines.at(i), key, nullptr)) {
            lines[i] = newLine;
            replaced = true;
        } else if (!blankTrimmed(lines.at(i)).isEmpty()) {
            sectionEnd = i + 1;
        }
    }
    if (!replaced) {
        if (sectionStart < 0) {
            lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
            lines.append(newLine);
        } else {
            lines.insert(sectionEnd, newLine);
        }
    }

    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(codec::toCp932(lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n")));
    return file.commit();
}

} // namespace profile

QString ReadSetting(const QString& relativeFile, const QString& key) {
    const bool account =
        QFileInfo(QString(relativeFile).replace(QLatin1Char('\\'), QLatin1Char('/')))
            .fileName()
            .compare(QLatin1String("iniIdPass.ini"), Qt::CaseInsensitive) == 0;
    return profile::readString(ProgramFolder::resolve(relativeFile), profile::kSection, key,
                               account ? 256 : 1256);
}

bool WriteSetting(const QString& relativeFile, const QString& key, const QString& value) {
    return profile::writeString(ProgramFolder::resolve(relativeFile), profile::kSection, key,
                                value);
}

} // namespace kiku
