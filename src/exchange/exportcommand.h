#pragma once

#include <QString>
#include <QStringList>

namespace kiku {

// The tasks the program does from the command line without a window. Each is decided before
// anything graphical starts, so it runs without a display.
enum class CommandLineTask {
    None,   // start the windows
    Export, // --export BOX FILE
    Import, // --import PATH
};
CommandLineTask commandLineTask(const QStringList& arguments);

struct CommandOutcome {
    int exitCode = 0;
    QString message; // for the terminal: stdout when exitCode is 0, else stderr
};

// `kikumail [--home DIR] --export BOX FILE [--overwrite]`: BOX is a box file's name
// ("vbmdata3.data") or "all", FILE ending in ".mbox" an mbox file, otherwise a folder of
// .eml files. The program folder must already be chosen (ProgramFolder::initialise); the
// account address is read from zadiru.ini in the program folder, else in the working
// directory.
CommandOutcome runExportCommand(const QStringList& arguments);

} // namespace kiku
