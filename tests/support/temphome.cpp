#include "temphome.h"

#include "base/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kiku::test {

TempHome::TempHome(bool withDataFolders)
    : m_previousDir(QDir::currentPath()), m_previousHome(ProgramFolder::path()) {
    if (withDataFolders) {
        QDir root(m_dir.path());
        for (const char* name : {"★MailData", "添付フォルダ", "■TextQuickSave", "Data"})
            root.mkpath(QString::fromUtf8(name));
    }
    ProgramFolder::set(m_dir.path());
    QDir::setCurrent(m_dir.path());
}

TempHome::~TempHome() {
    QDir::setCurrent(m_previousDir);
    ProgramFolder::set(m_previousHome);
}

QString TempHome::file(const QString& relative) const {
    QString r = relative;
    r.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (r.startsWith(QLatin1Char('/')))
        r.remove(0, 1);
    return m_dir.path() + QLatin1Char('/') + r;
}

void TempHome::writeFile(const QString& relative, const QByteArray& bytes) const {
    const QString path = file(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

QByteArray TempHome::readFile(const QString& relative) const {
    QFile f(file(relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace kiku::test
