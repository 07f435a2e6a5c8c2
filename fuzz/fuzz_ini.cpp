// A settings file of any bytes: reading keys may not crash, and a key written into it must
// read back as written while the file's other lines stay.
#include "settings/profile.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kiku;
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("fuzz.ini"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    for (const char* key : {"NAME", "NAME2", "name3", "SMTP", ""})
        (void)profile::readString(path, profile::kSection, QString::fromLatin1(key), 256);
    (void)profile::readString(path, QStringLiteral("OTHER"), QStringLiteral("NAME"), 8);
    const QString value = QStringLiteral("値 value=1;[x]");
    if (profile::writeString(path, profile::kSection, QStringLiteral("FUZZKEY"), value) &&
        profile::readString(path, profile::kSection, QStringLiteral("fuzzkey"), 1256) != value)
        std::abort(); // written, but reads back otherwise
    return 0;
}
