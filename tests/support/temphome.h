#pragma once

#include <QString>
#include <QTemporaryDir>

namespace kiku::test {

// A fresh program folder for one test: ★MailData, 添付フォルダ, ■TextQuickSave and Data
// exist, the program folder points at it and it is also the working directory (where
// zadiru.ini lives). Everything is removed and restored when it goes out of scope.
class TempHome {
public:
    explicit TempHome(bool withDataFolders = true);
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    QString path() const { return m_dir.path(); }
    // path() + "/" + relative, with backslashes turned into separators.
    QString file(const QString& relative) const;
    // Writes raw bytes to a file under the folder, creating parent folders.
    void writeFile(const QString& relative, const QByteArray& bytes) const;
    QByteArray readFile(const QString& relative) const;

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
    QString m_previousHome;
};

} // namespace kiku::test
