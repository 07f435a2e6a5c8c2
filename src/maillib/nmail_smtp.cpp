#include "maillib/mimewriter.h"
#include "maillib/nmail.h"
#include "maillib/smtpclient.h"
#include "maillib/transport.h"

namespace kiku {

namespace {

// Reads a comma-separated address list; false with `error` set when an item has no
// usable address.
bool readAddresses(const QString& text, QList<MailAddress>& out, QString& error) {
    for (const QString& item : mime::splitAddressList(text)) {
        const std::optional<MailAddress> box = mime::parseMailAddress(item);
        if (!box) {
            error = QStringLiteral("宛先のアドレスが正しくありません: %1").arg(item);
            return false;
        }
        out += *box;
    }
    return true;
}

// Envelope recipients: every address once, in order, whatever list it came from.
QStringList envelopeRecipients(const QList<QList<MailAddress>>& lists) {
    QStringList out;
    for (const auto& list : lists) {
        for (const MailAddress& box : list) {
            if (!out.contains(box.address, Qt::CaseInsensitive))
                out << box.address;
        }
    }
    return out;
}

} // namespace

int NMail::NMailSmtpSendMail(const QString& server, const QString& to, const QString& cc,
                             const QString& bcc, const QString& from, const QString& subject,
                             const QString& body, const QString& header, const QString& attachments,
                             int flag) {
    Q_UNUSED(flag);
    m_lastSent.clear();
    auto failed = [this](const QString& text) {
        setLastError(text);
        return -1;
    };

    OutgoingMessage message;
    const std::optional<MailAddress> sender = mime::parseMailAddress(from);
    if (!sender)
        return failed(QStringLiteral("送信者のアドレスが正しくありません: %1").arg(from));
    message.from = *sender;
    QList<MailAddress> blind;
    QString error;
    if (!readAddresses(to, message.to, error) || !readAddresses(cc, message.cc, error) ||
        !readAddresses(bcc, blind, error))
        return failed(error);
    const QStringList recipients = envelopeRecipients({message.to, message.cc, blind});
    if (recipients.isEmpty())
        return failed(QStringLiteral("宛先がありません"));

    const ServerAddress address = parseServerAddress(server, Protocol::Smtp);
    if (!address.valid)
        return failed(address.error);

    message.subject = subject;
    message.body = body;
    message.extraHeader = header;
    message.attachments = mime::splitAttachmentList(attachments);
    MimeWriter writer;
    const std::optional<QByteArray> bytes = writer.write(message);
    if (!bytes)
        return failed(writer.errorText());

    SmtpClient client(m_timeoutMs);
    client.setCredentials(m_smtpUserId, m_smtpPassword);
    if (!client.send(address, message.from.address, recipients, *bytes))
        return failed(client.errorText());
    setLastError(QString());
    m_lastSent = *bytes;
    return 0;
}

} // namespace kiku
