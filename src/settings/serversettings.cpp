#include "settings/serversettings.h"

#include "base/codec.h"
#include "base/paths.h"
#include "base/text.h"
#include "settings/profile.h"

#include <QFile>
#include <QSaveFile>

namespace kiku {

ServerSettings& ServerSettings::current() {
    static ServerSettings s_settings;
    return s_settings;
}

ServerSettings LoadServerSettings(const QString& filePath) {
    ServerSettings settings;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return settings;
    QString text = codec::fromCp932(file.readAll());
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QString key = line.left(5);
        const QString value = line.mid(5, 100);
        if (key == QLatin1String("SMTP="))
            settings.smtpServer = value;
        else if (key == QLatin1String("POP3="))
            settings.pop3Server = value;
        else if (key == QLatin1String("MAIL="))
            settings.senderAddress = value;
        else if (key == QLatin1String("APOP="))
            settings.useApop = leadingInt16(value);
    }
    return settings;
}

bool SaveServerSettings(const ServerSettings& settings, const QString& filePath) {
    // Exactly four lines: a value never brings a line break of its own into the file.
    const QString text =
        QLatin1String("SMTP=") + beforeLineBreak(settings.smtpServer) + QLatin1String("\r\n") +
        QLatin1String("POP3=") + beforeLineBreak(settings.pop3Server) + QLatin1String("\r\n") +
        QLatin1String("MAIL=") + beforeLineBreak(settings.senderAddress) + QLatin1String("\r\n") +
        QLatin1String("APOP=") + QString::number(settings.useApop) + QLatin1String("\r\n");
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(codec::toCp932(text));
    return file.commit();
}

KeepOnServer KeepOnServer::load() {
    KeepOnServer k;
    k.keep = ReadSetting(paths::kKeepOnServerFile, QStringLiteral("KEEP")).trimmed() ==
             QLatin1String("1");
    k.days =
        qBound(0, ReadSetting(paths::kKeepOnServerFile, QStringLiteral("DAYS")).toInt(), kMaxDays);
    return k;
}

bool KeepOnServer::save() const {
    return WriteSetting(paths::kKeepOnServerFile, QStringLiteral("KEEP"),
                        keep ? QStringLiteral("1") : QStringLiteral("0")) &&
           WriteSetting(paths::kKeepOnServerFile, QStringLiteral("DAYS"),
                        QString::number(qBound(0, days, kMaxDays)));
}

QString serverToldWithoutIds() {
    return ReadSetting(paths::kKeepOnServerFile, QStringLiteral("NOUIDL"));
}

void setServerToldWithoutIds(const QString& server) {
    WriteSetting(paths::kKeepOnServerFile, QStringLiteral("NOUIDL"), server);
}

} // namespace kiku
