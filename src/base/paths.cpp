#include "base/paths.h"

#include "base/installation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

namespace kiku {

namespace {
QString& folder() {
    static QString s_folder;
    return s_folder;
}

// The entry of `entries` whose name equals `name` without regard to case; empty when none.
QString caseMatch(const QStringList& entries, const QString& name) {
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return {};
}

QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

// Spellings found by listing a folder, keyed by the folder and the name asked for: the
// program asks for "★MAilData" and "★MailData" alike and one of them differs from the folder
// on disk, so without this every path under it would list the program folder. A remembered
// spelling is used only while that entry still exists; otherwise the folder is listed again.
class SpellingCache {
public:
    QString find(const QString& key) {
        QMutexLocker lock(&m_mutex);
        return m_spellings.value(key);
    }
    void remember(const QString& key, const QString& entry) {
        QMutexLocker lock(&m_mutex);
        if (m_spellings.size() >= 256) // names typed by the user must not make it grow forever
            m_spellings.clear();
        m_spellings.insert(key, entry);
    }
    void clear() {
        QMutexLocker lock(&m_mutex);
        m_spellings.clear();
    }

private:
    QMutex m_mutex;
    QHash<QString, QString> m_spellings;
};

SpellingCache& spellings() {
    static SpellingCache s_cache;
    return s_cache;
}

// The entry of `dir` whose name equals `name` without regard to case; `name` itself when
// an exact entry exists or none matches.
QString matchComponent(const QString& dir, const QString& name) {
    const QString prefix = dir + QLatin1Char('/');
    if (name == QLatin1String(".") || name == QLatin1String("..") ||
        QFileInfo::exists(prefix + name))
        return name;
    const QString key = prefix + name;
    const QString known = spellings().find(key);
    if (!known.isEmpty() && QFileInfo::exists(prefix + known))
        return known;
    const QString entry = caseMatch(entriesOf(dir), name);
    if (entry.isEmpty())
        return name;
    spellings().remember(key, entry);
    return entry;
}
} // namespace

void ProgramFolder::initialise(const QString& home) {
    if (!home.isEmpty()) {
        set(home);
        return;
    }
    const QString fromEnv = qEnvironmentVariable("KIKUMAIL_HOME");
    if (!fromEnv.isEmpty()) {
        set(fromEnv);
        return;
    }
    // Without an application object (some tests) the working directory stands in. An
    // installed program keeps the user's folder instead of its own.
    if (!QCoreApplication::instance()) {
        set(QDir::currentPath());
        return;
    }
    const QString executableFolder = QCoreApplication::applicationDirPath();
    set(Installation::shareFolder(executableFolder).isEmpty() ? executableFolder
                                                              : Installation::userProgramFolder());
}

void ProgramFolder::set(const QString& path) {
    folder() = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    spellings().clear();
}

QString ProgramFolder::path() {
    if (folder().isEmpty())
        initialise();
    return folder();
}

QString ProgramFolder::resolve(const QString& relative) {
    QString current = path();
    const bool trailing =
        relative.endsWith(QLatin1Char('\\')) || relative.endsWith(QLatin1Char('/'));
    QString normalised = relative;
    normalised.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = normalised.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts)
        current += QLatin1Char('/') + matchComponent(current, part);
    if (trailing)
        current += QLatin1Char('/');
    return current;
}

QStringList ProgramFolder::resolveIn(const QString& folder, const QStringList& names) {
    QStringList resolved;
    resolved.reserve(names.size());
    bool listed = false;
    QStringList entries;
    for (const QString& name : names) {
        QString entry = name;
        if (!QFileInfo::exists(folder + QLatin1Char('/') + name)) {
            if (!listed) {
                entries = entriesOf(folder);
                listed = true;
            }
            const QString match = caseMatch(entries, name);
            if (!match.isEmpty())
                entry = match;
        }
        resolved << folder + QLatin1Char('/') + entry;
    }
    return resolved;
}

QString ProgramFolder::homeFromArguments(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (a == QLatin1String("--home") && i + 1 < arguments.size())
            return arguments.at(i + 1);
        if (a.startsWith(QLatin1String("--home=")))
            return a.mid(7);
    }
    return {};
}

} // namespace kiku
