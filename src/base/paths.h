#pragma once

#include <QString>
#include <QStringList>

namespace kiku {

// Where the program keeps its data: the folder of the executable (for an installed program,
// $XDG_DATA_HOME/KikuMail; see installation.h), unless `--home DIR` or KIKUMAIL_HOME names
// another one (that is how every test gets a folder of its own).
class ProgramFolder {
public:
    // Chooses the folder: `home` when not empty, else $KIKUMAIL_HOME, else the folder of
    // the running executable, or the user's folder when the program is installed.
    static void initialise(const QString& home = {});
    static void set(const QString& folder);
    static QString path();

    // The program's relative forms ("\★MailData\iniCuntUp.ini", "\★MAilData\vbmdata2.data",
    // "\添付フォルダ\0.txt", "\■TextQuickSave\") made into a real path under the folder.
    // Backslashes become separators and each component is matched against what exists
    // without regard to case, so "★MailData" and "★MAilData" reach the same folder. A
    // component that does not exist yet keeps the spelling given. A trailing separator is kept.
    static QString resolve(const QString& relative);
    // The entries `names` of `folder` (a real path, as resolve() gives), each matched the way
    // resolve() matches a component, with at most one listing of the folder for all of them.
    static QStringList resolveIn(const QString& folder, const QStringList& names);

    // Reads `--home DIR` or `--home=DIR` from the command line; empty when absent.
    static QString homeFromArguments(const QStringList& arguments);
};

// Well-known relative paths of the program.
namespace paths {
inline const QString kCounterFile = QStringLiteral("\\★MailData\\iniCuntUp.ini");
inline const QString kAccountFile = QStringLiteral("\\★MailData\\iniIdPass.ini");
inline const QString kPartnerFile = QStringLiteral("\\★MailData\\iniIdPass2.ini");
// "サーバーにメールを残す" and what goes with it, apart from the four lines of zadiru.ini.
inline const QString kKeepOnServerFile = QStringLiteral("\\★MailData\\iniKeepMail.ini");
inline const QString kDataFolder = QStringLiteral("\\★MAilData\\");
// The originals of received and sent mail (store/originals.h); the program creates it.
inline const QString kOriginalsFolder = QStringLiteral("\\★MailData\\originals\\");
inline const QString kAttachmentFolder = QStringLiteral("\\添付フォルダ\\");
inline const QString kAttachmentWorkFile = QStringLiteral("\\添付フォルダ\\0.txt");
inline const QString kQuickSaveFolder = QStringLiteral("\\■TextQuickSave\\");
inline const QString kPictureFolder = QStringLiteral("\\Data\\");
// zadiru.ini is opened by its bare name in the current working directory.
inline const QString kServerSettingsFile = QStringLiteral("zadiru.ini");
} // namespace paths

} // namespace kiku
