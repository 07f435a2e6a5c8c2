#pragma once

#include <QString>

namespace kiku {

// Private-profile (INI) files in Shift-JIS with CR LF lines, read and written the way the
// program always has: one section, keys matched without regard to case, the empty text for
// anything absent, files created on write, every line a write does not change kept byte for
// byte. A value is always one line: a line break in it ends the value.
namespace profile {

// The section every settings file of the program uses.
inline const QString kSection = QStringLiteral("EXEINI");

// Reads `key` of `section` from the file at `filePath`, as into a buffer of `bufferSize`
// characters: at most bufferSize - 1 characters come back. Absent means empty.
QString readString(const QString& filePath, const QString& section, const QString& key,
                   int bufferSize);

// Writes key=value into `section`, creating the file, the section or the key as needed and
// replacing the value of an existing key in place. The file is replaced atomically, so a
// crash leaves either the old or the new file. Returns false when it could not be written.
bool writeString(const QString& filePath, const QString& section, const QString& key,
                 const QString& value);

} // namespace profile

// The program's settings reads and writes, on a relative path such as
// "\★MailData\iniIdPass.ini" under the program folder and section EXEINI. Reads of
// iniIdPass.ini use a 256-character buffer (255 characters at most), others 1256.
QString ReadSetting(const QString& relativeFile, const QString& key);
bool WriteSetting(const QString& relativeFile, const QString& key, const QString& value);

} // namespace kiku
