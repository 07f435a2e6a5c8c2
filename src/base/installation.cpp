#include "base/installation.h"

#include "base/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef KIKU_SHARE_FROM_BIN
#define KIKU_SHARE_FROM_BIN "../share/kikumail"
#endif

namespace kiku {

QString Installation::shareFolder(const QString& executableFolder) {
    const QDir beside(executableFolder);
    if (beside.exists(QStringLiteral("Data")))
        return {};
    const QString share =
        QDir::cleanPath(beside.absoluteFilePath(QStringLiteral(KIKU_SHARE_FROM_BIN)));
    return QFileInfo(share + QStringLiteral("/Data")).isDir() ? share : QString();
}

QString Installation::userProgramFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/KikuMail");
}

QString Installation::layOut(const QString& folder, const QString& pictures) {
    if (!QDir().mkpath(folder))
        return QDir::toNativeSeparators(folder);
    const QStringList wanted{QStringLiteral("★MailData"), QStringLiteral("添付フォルダ"),
                             QStringLiteral("■TextQuickSave"), QStringLiteral("Data")};
    const QStringList present = ProgramFolder::resolveIn(folder, wanted);
    for (const QString& path : present) {
        if (!QDir().mkpath(path))
            return QDir::toNativeSeparators(path);
    }
    const QString data = present.last();
    const QStringList files = QDir(pictures).entryList(QDir::Files);
    const QStringList targets = ProgramFolder::resolveIn(data, files);
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (QFileInfo::exists(targets.at(i)))
            continue;
        QFile source(pictures + QLatin1Char('/') + files.at(i));
        if (!source.copy(targets.at(i)))
            return QDir::toNativeSeparators(targets.at(i)) + QStringLiteral(": ") +
                   source.errorString();
        // Installed files are read-only; the user's copies are the user's to change.
        QFile::setPermissions(targets.at(i), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }
    return {};
}

} // namespace kiku
