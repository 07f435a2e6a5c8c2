#include "base/filedialogs.h"
#include "base/forms.h"
#include "base/messageboxprompter.h"
#include "base/paths.h"
#include "core/mainform.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>

namespace {
// Without a display Qt would abort with a long platform-plugin message; say it plainly.
bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}
} // namespace

int main(int argc, char** argv) {
    if (!hasDisplay()) {
        std::fputs("KikuMail needs a graphical display (DISPLAY is not set).\n", stderr);
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KikuMail"));
    kiku::ProgramFolder::initialise(
        kiku::ProgramFolder::homeFromArguments(QCoreApplication::arguments()));

    kiku::MessageBoxPrompter prompter;
    kiku::Prompter::install(&prompter);
    kiku::QtFileDialogs dialogs;
    kiku::FileDialogs::install(&dialogs);

    const QString iconFile = kiku::ProgramFolder::resolve(QStringLiteral("\\Data\\KikuMail.png"));
    if (QFileInfo::exists(iconFile))
        QApplication::setWindowIcon(QIcon(iconFile));

    kiku::MainForm* mainForm = kiku::Forms::show<kiku::MainForm>();
    // Closing the main window ends the program, whatever other windows were open.
    QObject::connect(mainForm, &QObject::destroyed, &app, &QCoreApplication::quit);

    const int result = QApplication::exec();
    kiku::Forms::closeAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    kiku::Prompter::install(nullptr);
    kiku::FileDialogs::install(nullptr);
    return result;
}
