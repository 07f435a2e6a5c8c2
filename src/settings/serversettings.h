#pragma once

#include <QString>

namespace kiku {

// The four server settings of zadiru.ini, loaded once at start-up and replaced by the
// server window.
struct ServerSettings {
    QString smtpServer;
    QString pop3Server;
    QString senderAddress;
    qint16 useApop = 0; // non-zero: log in with APOP

    // The settings of the running program.
    static ServerSettings& current();
};

// Parses the option file (by default zadiru.ini in the working directory). Lines whose first
// five characters are exactly "SMTP=", "POP3=", "MAIL=" or "APOP=" set the value from
// characters 6 to 105; the last such line of a key wins. A missing file gives empty settings.
ServerSettings LoadServerSettings(const QString& filePath = QStringLiteral("zadiru.ini"));

// Rewrites the option file with exactly the four lines SMTP=, POP3=, MAIL=, APOP= (CR LF),
// atomically. Returns false when the file could not be written.
bool SaveServerSettings(const ServerSettings& settings,
                        const QString& filePath = QStringLiteral("zadiru.ini"));

// "サーバーにメールを残す": received mail stays on the server, each message fetched once by
// its unique id, and is deleted there `days` days after it was stored (0: never). Off by
// default. Kept in "\★MailData\iniKeepMail.ini" (keys KEEP and DAYS), a settings file of
// its own.
struct KeepOnServer {
    bool keep = false;
    int days = 0;

    static KeepOnServer load();
    bool save() const;
    // The longest wait the days box offers (ten years).
    static constexpr int kMaxDays = 3650;
};

// The POP3 server the user was last told has no UIDL, so that it is said once a server.
QString serverToldWithoutIds();
void setServerToldWithoutIds(const QString& server);

} // namespace kiku
