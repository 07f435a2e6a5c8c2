#include "pop3_helpers.h"

#include <QStringList>

namespace kiku::test {

QString wholeMessageText(const QString& header, const QString& body) {
    QString file = header + QStringLiteral("\r\n") + body + QStringLiteral("\r\n");
    file.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = file.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    QString joined;
    for (const QString& line : lines)
        joined += line + QStringLiteral("\r\n");
    return joined;
}

QString lastMessage(NMail& mail) {
    QString text;
    int size = 8192;
    mail.NMailGetMessage(0, text, size);
    return text;
}

QByteArray crlf(const QByteArray& text) {
    QByteArray out = text;
    out.replace("\r\n", "\n");
    out.replace("\n", "\r\n");
    return out;
}

QList<ReceivedMail> receiveAll(NMail& mail, const QString& server, const QString& user,
                               const QString& password, bool apop, const QString& folder,
                               bool remove, int* count) {
    QList<ReceivedMail> received;
    const int handle = mail.NMailPop3Connect(server);
    if (handle < 0) {
        if (count)
            *count = -1;
        return received;
    }
    const int n = mail.NMailPop3Authenticate(handle, user, password, apop);
    if (count)
        *count = n;
    for (int i = 1; i <= n; ++i) {
        ReceivedMail r;
        r.status = mail.NMailPop3GetMailStatus(handle, i, r.subject, r.date, r.from, r.header, 0);
        r.size = mail.NMailPop3GetMailSize(handle, i);
        mail.NMailPop3GetMail(handle, i, r.subject, r.date, r.from, r.header, r.body, r.size + 1, 0,
                              0);
        QString body = r.body;
        r.attachmentResult = mail.NMailAttachmentFileFirst(
            0, r.subject, r.date, r.from, r.header, body, folder, folder + QStringLiteral("/0.txt"),
            wholeMessageText(r.header, r.body), 0);
        mail.NMailAttachmentFileClose(0);
        r.attachmentBody = body;
        if (remove)
            mail.NMailPop3DeleteMail(handle, i);
        received.append(r);
    }
    mail.NMailPop3Close(handle);
    return received;
}

} // namespace kiku::test
