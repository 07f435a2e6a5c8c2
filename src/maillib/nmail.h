#pragma once

#include "maillib/pop3client.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>

namespace kiku {

// The mail library: POP3 (USER/PASS, APOP, STLS, POP3S) and SMTP (STARTTLS, SMTPS,
// AUTH PLAIN/LOGIN) sessions and MIME work behind the operations the program calls, under
// their long-standing names and argument order. Output "buffers" are QString references;
// a header-sized buffer holds at most NMailSetOption(1, n) - 1 characters and a body buffer
// at most the capacity the caller gives minus one, like the fixed buffers they replace.
//
// Server names: "host", "host:port", "pop3s://host[:port]", "pop3+starttls://host[:port]",
// "smtps://host[:port]", "smtp+starttls://host[:port]". A bare host is plain POP3 on 110 or
// SMTP on 25. Certificates are checked against the system's CAs plus, when present,
// "\★MailData\ca.pem" under the program folder.
class NMail : public QObject {
    Q_OBJECT
public:
    explicit NMail(QObject* parent = nullptr);
    ~NMail() override;

    // Once at start-up and once at shutdown.
    int NMailInitializeWinSock();
    int NMailEndWinSock();
    // Option 1 is the size of the header buffers the caller passes (8192).
    int NMailSetOption(int option, int value);

    // A session handle (>= 0), or -1 when the connection failed.
    int NMailPop3Connect(const QString& server);
    // A session over messages at hand (an import): served like a maildrop of that many
    // messages, each with the id "import-" + its digest, authenticated already (the count is
    // messages.size()); deletions do nothing.
    int openLocalSession(const QList<QByteArray>& messages);
    // The number of waiting messages, or a negative value when the login failed. With
    // `apop` the login really uses APOP and fails when the server offers no timestamp.
    int NMailPop3Authenticate(int handle, const QString& userId, const QString& password,
                              bool apop);
    // Status and fetch give -1 when this message could not be had, -2 when the session is
    // gone (no later message can be had either).
    int NMailPop3GetMailStatus(int handle, int number, QString& subject, QString& date,
                               QString& from, QString& header, int flag = 0);
    // The server's octet count of the message; negative when unknown.
    int NMailPop3GetMailSize(int handle, int number);
    // The body buffer takes the message text: a single part decoded, a multipart body as sent
    // but without the base64 lines of its files (MimeMessage::rawBodyTextWithoutFileData).
    int NMailPop3GetMail(int handle, int number, QString& subject, QString& date, QString& from,
                         QString& header, QString& body, int bodyCapacity, int flag = 0,
                         int flag2 = 0);
    // 1 when attachments were written into `destinationFolder`; -5 when a file could not be
    // written (every file is tried; the text of the last failure names those that failed); -6 for
    // an incomplete message/partial set; any other value: nothing to extract. The body buffer is
    // left holding the decoded text part.
    int NMailAttachmentFileFirst(int handle, QString& subject, QString& date, QString& from,
                                 QString& header, QString& body, const QString& destinationFolder,
                                 const QString& workFile, const QString& messageText, int flag = 0);
    int NMailAttachmentFileClose(int handle);
    // Marks the message for deletion; it goes when the session ends with NMailPop3Close.
    int NMailPop3DeleteMail(int handle, int number);
    int NMailPop3Close(int handle);

    // Exactly-once receiving. The server's unique id of every message, from one UIDL (see
    // Pop3Client::uniqueIds): the number of ids, -1 when the server has no UIDL, -2 when the
    // session is gone.
    int uniqueIds(int handle, QHash<int, QByteArray>& ids);
    // The messages the caller will fetch, in order: RETRs sent ahead go only to these.
    void planFetches(int handle, const QList<int>& numbers);
    // Marks for deletion a message that is not fetched because the caller keeps it already,
    // as its id says. Only a message that has an id in this session.
    int deleteStoredMail(int handle, int number);
    // The message `number` exactly as the server sent it (dot-unstuffed, CR LF), when it is the
    // one fetched last in this session; 0, or -1 when it is not at hand.
    int messageBytes(int handle, int number, QByteArray& bytes);
    // Drops the session without QUIT, so the server deletes nothing of it; keptOnServer()
    // then counts every deletion of the session.
    int abandonPop3Session(int handle);
    // How many messages marked for deletion in the session closed last are still on the
    // server: refused DELEs, or all of them when the session ended without an accepted QUIT.
    int keptOnServer() const;

    // Sends one message; negative on failure. `to` may hold several addresses separated by
    // commas; `attachments` is a comma-separated list of file paths.
    int NMailSmtpSendMail(const QString& server, const QString& to, const QString& cc,
                          const QString& bcc, const QString& from, const QString& subject,
                          const QString& body, const QString& header, const QString& attachments,
                          int flag = 0);

    // The message bytes the last successful NMailSmtpSendMail handed to the server (before
    // the transport's dot-stuffing); empty after a failure.
    QByteArray lastSentMessage() const { return m_lastSent; }

    // The text of the last failure: what failed, with the server's own reply where there is
    // one. Fills at most size - 1 characters and sets size to the length written.
    int NMailGetMessage(int handle, QString& text, int& size);

    // The account SMTP AUTH uses when the server asks for it (the POP3 account).
    void setSmtpCredentials(const QString& userId, const QString& password);
    // How long a silent server is waited for before the operation fails (30 s by default).
    void setTimeout(int milliseconds);
    int timeout() const { return m_timeoutMs; }
    // Bounds on POP3 replies (how slow and how long a reply may be); tests shorten them.
    void setPop3Limits(const Pop3Limits& limits) { m_pop3Limits = limits; }

    bool initialised() const { return m_initialised; }
    int headerBufferSize() const { return m_headerBufferSize; }
    QString lastError() const { return m_lastError; }

protected:
    void setLastError(const QString& text) { m_lastError = text; }
    // The failure of a call on a session that is not open: -1, with its text.
    int notConnected();

private:
    bool m_initialised = false;
    int m_headerBufferSize = 8192;
    int m_timeoutMs = 30000;
    Pop3Limits m_pop3Limits;
    QString m_lastError;
    QByteArray m_lastSent;
    QString m_smtpUserId;
    QString m_smtpPassword;
    // POP3 sessions and the message last fetched (nmail.cpp).
    struct ReceiveState;
    std::unique_ptr<ReceiveState> m_receive;
};

} // namespace kiku
