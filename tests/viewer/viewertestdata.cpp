#include "viewertestdata.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>

namespace kiku::test {

MailRecord mail(const QString& subject, const QString& from, const QString& date,
                const QString& body) {
    MailRecord record;
    record.subject = subject;
    record.from = from;
    record.date = date;
    record.body = body;
    return record;
}

QString boxFile(Box box) {
    return QStringLiteral("\\★MailData\\") + QLatin1String(boxInfo(box).fileName);
}

void writeBox(const TempHome& home, Box box, const QList<MailRecord>& records) {
    QByteArray bytes;
    for (const MailRecord& record : records)
        bytes += encodeMail(record, boxInfo(box).layout);
    home.writeFile(boxFile(box), bytes);
}

bool copyPictures(const TempHome& home) {
    const QString source = qEnvironmentVariable("KIKU_SOURCE_DIR");
    if (source.isEmpty())
        return false;
    const QDir data(source + QStringLiteral("/data"));
    const QStringList pictures = data.entryList({QStringLiteral("*.gif")}, QDir::Files);
    for (const QString& name : pictures)
        QFile::copy(data.filePath(name), home.file(QStringLiteral("Data/") + name));
    return !pictures.isEmpty();
}

QImage dataPicture(const TempHome& home, const QString& name) {
    // Through a pixmap, as the controls load them, so the two compare pixel for pixel.
    return QPixmap(home.file(QStringLiteral("Data/") + name)).toImage();
}

} // namespace kiku::test
