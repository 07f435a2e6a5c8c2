// A received message of any bytes: read it, take its text, and write its attachments into
// a temporary folder. Nothing may crash, and nothing may land outside the folder. The text
// must say why when the structure was not taken apart.
#include "maillib/attachmentwriter.h"
#include "maillib/mimereader.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir folder;
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    const kiku::MimeMessage message(raw);
    (void)message.subject();
    (void)message.from();
    (void)message.date();
    (void)message.headerText();
    (void)message.isPartial();
    (void)message.rawBodyText();
    (void)message.text();
    kiku::AttachmentWriter writer(folder.path());
    const QString home = QDir(folder.path()).absolutePath();
    for (const kiku::MailAttachment& file : message.attachments()) {
        const QString path = writer.write(file.fileName, file.data);
        if (path.isEmpty())
            continue;
        if (QFileInfo(path).absolutePath() != home)
            std::abort(); // a name escaped the attachment folder
        QFile::remove(path);
    }
    if (!message.withinLimits() && !message.text().startsWith(message.limitNote()))
        std::abort(); // a message stored as sent carries its note
    return 0;
}
