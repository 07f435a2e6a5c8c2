#include "base/filedialogs.h"
#include "base/forms.h"
#include "base/installation.h"
#include "base/messageboxprompter.h"
#include "base/paths.h"
#include "core/mailimport.h"
#include "core/mainform.h"
#include "exchange/exportcommand.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>

#include <cstdio>

namespace {
// Without a display Qt would abort with a long platform-plugin message; say it plainly.
bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// A task of the command line: no window, no display needed.
int runCommandLineTask(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("KikuMail"));
    const QStringList arguments = QCoreApplication::arguments();
    kiku::ProgramFolder::initialise(kiku::ProgramFolder::homeFromArguments(arguments));
    kiku::CommandOutcome outcome;
    switch (kiku::commandLineTask(arguments)) {
    case kiku::CommandLineTask::Export:
        outcome = kiku::runExportCommand(arguments);
        break;
    case kiku::CommandLineTask::Import:
        outcome = kiku::runImportCommand(arguments);
        break;
    case kiku::CommandLineTask::None:
        return 0;
    }
    std::fputs(outcome.message.toLocal8Bit().append('\n').constData(),
               outcome.exitCode == 0 ? stdout : stderr);
    return outcome.exitCode;
}

bool hasCommandLineTask(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return kiku::commandLineTask(arguments) != kiku::CommandLineTask::None;
}
} // namespace

int main(int argc, char** argv) {
    if (hasCommandLineTask(argc, argv))
        return runCommandLineTask(argc, argv);
    if (!hasDisplay()) {
        std::fputs("KikuMail needs a graphical display (DISPLAY is not set).\n", stderr);
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KikuMail"));
    // The desktop entry and icon of the installed program carry this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.kikumail.KikuMail"));
    kiku::ProgramFolder::initialise(
        kiku::ProgramFolder::homeFromArguments(QCoreApplication::arguments()));

    kiku::MessageBoxPrompter prompter;
    kiku::Prompter::install(&prompter);
    kiku::QtFileDialogs dialogs;
    kiku::FileDialogs::install(&dialogs);

    // Installed, the program folder is laid out from the installed pictures on the first
    // start, and it is where zadiru.ini is read, whatever folder the desktop started us in.
    const QString share = kiku::Installation::shareFolder(QCoreApplication::applicationDirPath());
    if (!share.isEmpty()) {
        const QString failed = kiku::Installation::layOut(kiku::ProgramFolder::path(),
                                                          share + QStringLiteral("/Data"));
        if (!failed.isEmpty())
            kiku::Prompter::current().notify(
                QStringLiteral("プログラムフォルダを用意できません：") + failed);
        QDir::setCurrent(kiku::ProgramFolder::path());
    }

    const QString iconFile = kiku::ProgramFolder::resolve(QStringLiteral("\\Data\\KikuMail.png"));
    if (QFileInfo::exists(iconFile))
        QApplication::setWindowIcon(
            QIcon::fromTheme(QGuiApplication::desktopFileName(), QIcon(iconFile)));

    kiku::MainForm* mainForm = kiku::Forms::show<kiku::MainForm>();
    // Closing the main window ends the program, whatever other windows were open.
    QObject::connect(mainForm, &QObject::destroyed, &app, &QCoreApplication::quit);
    // For the installation test only: start, then close the main window as a user would.
    if (const int quitAfter = qEnvironmentVariableIntValue("KIKU_TEST_QUIT_AFTER_MS");
        quitAfter > 0)
        QTimer::singleShot(quitAfter, mainForm, &QWidget::close);

    const int result = QApplication::exec();
    kiku::Forms::closeAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    kiku::Prompter::install(nullptr);
    kiku::FileDialogs::install(nullptr);
    return result;
}
