// A received message of any bytes: read it, take its text, and write its attachments into
// a temporary folder. Nothing may crash, and nothing may land outside the folder. The text
// and the files must also come out the same whether large base64 bodies are cut out of what
// vmime parses or not.
#include "maillib/attachmentwriter.h"
#include "maillib/mimereader.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <limits>

namespace {

// What the attachment pass takes from a message, in the order it takes it.
struct Reading {
    QList<kiku::MailAttachment> files;
    QString text;
    bool operator==(const Reading& other) const {
        if (text != other.text || files.size() != other.files.size())
            return false;
        for (qsizetype i = 0; i < files.size(); ++i) {
            if (files[i].fileName != other.files[i].fileName ||
                files[i].data != other.files[i].data)
                return false;
        }
        return true;
    }
};

Reading read(const QByteArray& raw, qsizetype smallestCut) {
    kiku::MimeLimits limits;
    limits.smallestCut = smallestCut;
    const kiku::MimeMessage message(raw, limits);
    Reading r;
    r.files = message.attachments();
    r.text = message.text();
    return r;
}

} // namespace

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
    // Cutting even the smallest bodies must not change what is read.
    if (!(read(raw, 4) == read(raw, std::numeric_limits<qsizetype>::max())))
        std::abort();
    return 0;
}
