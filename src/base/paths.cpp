#include "base/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace kiku {

namespace {
QString& folder() {
    static QString s_folder;
    return s_folder;
}

// The entry of `dir` whose name equals `name` without regard to case; `name` itself when
// an exact entry exists or none matches.
QString matchComponent(const QString& dir, const QString& name) {
    if (name == QLatin1String(".") || name == QLatin1String("..") ||
        QFileInfo::exists(dir + QLatin1Char('/') + name))
        return name;
    const QStringList entries =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return name;
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
    // Without an application object (some tests) the working directory stands in.
    set(QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                     : QDir::currentPath());
}

void ProgramFolder::set(const QString& path) {
    folder() = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
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
