#pragma once

#include <QString>

namespace kiku {

// How the program was put on the machine. Built and assembled (./run), the executable lies
// in its program folder beside Data/. Installed (cmake --install, the .deb), it lies in
// <prefix>/bin with its pictures in <prefix>/share/kikumail/Data, and the program folder is
// the user's own, $XDG_DATA_HOME/KikuMail, laid out on the first start.
class Installation {
public:
    // <prefix>/share/kikumail for an installed executable in `executableFolder`; empty when
    // the folder has a Data/ folder of its own or no installed share folder lies beside it,
    // and then the executable's folder is the program folder.
    static QString shareFolder(const QString& executableFolder);
    // $XDG_DATA_HOME/KikuMail, or ~/.local/share/KikuMail when XDG_DATA_HOME is not set.
    static QString userProgramFolder();
    // Adds what `folder` lacks: the folder itself, the three data folders and Data/ with every
    // file of `pictures` that Data/ does not hold yet. Nothing that exists is overwritten, and
    // a data folder spelt otherwise ("★MAilData") counts as there. Empty when all is in place,
    // otherwise the path that could not be made and why.
    static QString layOut(const QString& folder, const QString& pictures);
};

} // namespace kiku
