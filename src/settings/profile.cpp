#include "settings/profile.h"

#include "base/codec.h"
#include "base/paths.h"
#include "base/text.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

#include <utility>

namespace kiku {

namespace {

// One line of a settings file as it stands on disk: its bytes and its own line end ("\r\n",
// "\n", "\r", or nothing for a last line without one). A rewrite puts back every line it does
// not change exactly as it was, bytes that are not valid Shift-JIS included.
struct RawLine {
    QByteArray bytes;
    QByteArray end;
};

// The file's bytes: an optional UTF-8 byte-order mark, then its lines.
struct RawFile {
    QByteArray byteOrderMark;
    QList<RawLine> lines;
};

const QByteArray kUtf8Bom("\xEF\xBB\xBF");
const QByteArray kCrLf("\r\n");

// Splits at CR LF, LF or CR. Neither byte ever occurs inside a Shift-JIS double-byte
// character (trail bytes are 0x40 and above), so splitting the raw bytes is safe.
RawFile splitRaw(QByteArray bytes) {
    RawFile file;
    if (bytes.startsWith(kUtf8Bom)) {
        file.byteOrderMark = kUtf8Bom;
        bytes.remove(0, kUtf8Bom.size());
    }
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype i = start;
        while (i < bytes.size() && bytes.at(i) != '\r' && bytes.at(i) != '\n')
            ++i;
        RawLine line{bytes.mid(start, i - start), {}};
        if (i < bytes.size()) {
            const qsizetype endLength =
                (bytes.at(i) == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n') ? 2 : 1;
            line.end = bytes.mid(i, endLength);
            i += endLength;
        }
        file.lines.append(line);
        start = i;
    }
    return file;
}

RawFile readRaw(const QString& filePath) {
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return splitRaw(file.readAll());
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
QString sectionName(const RawLine& line) {
    const QString t = blankTrimmed(codec::fromCp932(line.bytes));
    if (t.startsWith(QLatin1Char('[')) && t.contains(QLatin1Char(']')))
        return blankTrimmed(t.mid(1, t.indexOf(QLatin1Char(']')) - 1));
    return {};
}

// The byte position of the "=" of a key line whose key is `key`, or -1. "=" (0x3D) is never
// part of a Shift-JIS double-byte character, so the first one in the bytes is the real one.
qsizetype keyEquals(const RawLine& line, const QString& key) {
    const qsizetype eq = line.bytes.indexOf('=');
    if (eq < 0)
        return -1;
    if (blankTrimmed(codec::fromCp932(line.bytes.left(eq))).compare(key, Qt::CaseInsensitive) != 0)
        return -1;
    return eq;
}

QString valueOf(const RawLine& line, qsizetype eq) {
    QString v = blankTrimmed(codec::fromCp932(line.bytes.mid(eq + 1)));
    // The platform drops one pair of enclosing quotes.
    if (v.size() >= 2 && ((v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"'))) ||
                          (v.startsWith(QLatin1Char('\'')) && v.endsWith(QLatin1Char('\'')))))
        v = v.mid(1, v.size() - 2);
    return v;
}

// The lines [first, end) of the first section called `section`; first = end = -1 when the
// file has none. Later sections of the same name are not looked at, as with the platform's
// own profile functions.
std::pair<qsizetype, qsizetype> findSection(const RawFile& file, const QString& section) {
    for (qsizetype i = 0; i < file.lines.size(); ++i) {
        const QString name = sectionName(file.lines.at(i));
        if (name.isNull() || name.compare(section, Qt::CaseInsensitive) != 0)
            continue;
        qsizetype end = i + 1;
        while (end < file.lines.size() && sectionName(file.lines.at(end)).isNull())
            ++end;
        return {i, end};
    }
    return {-1, -1};
}

// Gives the line a line end if it has none, so that something can follow it.
void endLine(RawLine& line) {
    if (line.end.isEmpty())
        line.end = kCrLf;
}

} // namespace

namespace profile {

QString readString(const QString& filePath, const QString& section, const QString& key,
                   int bufferSize) {
    if (bufferSize < 1)
        return {};
    const RawFile file = readRaw(filePath);
    const auto [header, end] = findSection(file, section);
    for (qsizetype i = header + 1; header >= 0 && i < end; ++i) {
        const qsizetype eq = keyEquals(file.lines.at(i), key);
        if (eq >= 0)
            return valueOf(file.lines.at(i), eq).left(bufferSize - 1);
    }
    return {};
}

bool writeString(const QString& filePath, const QString& section, const QString& key,
                 const QString& value) {
    // A value is one line: whatever follows a line break would become lines of its own.
    const QByteArray encoded = codec::toCp932(beforeLineBreak(value));
    RawFile file = readRaw(filePath);
    const auto [header, end] = findSection(file, section);

    bool replaced = false;
    qsizetype lastFilled = header; // the section's last non-empty line
    for (qsizetype i = header + 1; header >= 0 && i < end && !replaced; ++i) {
        RawLine& line = file.lines[i];
        const qsizetype eq = keyEquals(line, key);
        if (eq >= 0) {
            // The key keeps the file's own spelling; only the value changes.
            line.bytes = line.bytes.left(eq + 1) + encoded;
            replaced = true;
        } else if (!blankTrimmed(codec::fromCp932(line.bytes)).isEmpty()) {
            lastFilled = i;
        }
    }
    if (!replaced) {
        const QByteArray keyBytes = codec::toCp932(beforeLineBreak(key));
        const RawLine newLine{keyBytes + '=' + encoded, kCrLf};
        if (header < 0) {
            if (!file.lines.isEmpty())
                endLine(file.lines.last());
            file.lines.append(RawLine{'[' + codec::toCp932(beforeLineBreak(section)) + ']', kCrLf});
            file.lines.append(newLine);
        } else {
            endLine(file.lines[lastFilled]);
            file.lines.insert(lastFilled + 1, newLine);
        }
    }

    QByteArray bytes = file.byteOrderMark;
    for (const RawLine& line : std::as_const(file.lines))
        bytes += line.bytes + line.end;
    QSaveFile out(filePath);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(bytes);
    return out.commit();
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
