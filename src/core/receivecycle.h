#pragma once

#include "settings/serversettings.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>

namespace kiku {

class NMail;
class MailboxAppends;
class OriginalAppends;
class ReceivedIds;

// The mail-library operations one receive run calls, under the library's own names. The
// program hands its NMail over through NMailReceiveLibrary; tests may wrap that to make one
// call fail.
class ReceiveLibrary {
public:
    virtual ~ReceiveLibrary() = default;
    virtual int NMailPop3Connect(const QString& server) = 0;
    virtual int NMailPop3Authenticate(int handle, const QString& userId, const QString& password,
                                      bool apop) = 0;
    virtual int NMailPop3GetMailStatus(int handle, int number, QString& subject, QString& date,
                                       QString& from, QString& header, int flag) = 0;
    virtual int NMailPop3GetMailSize(int handle, int number) = 0;
    virtual int NMailPop3GetMail(int handle, int number, QString& subject, QString& date,
                                 QString& from, QString& header, QString& body, int bodyCapacity,
                                 int flag, int flag2) = 0;
    virtual int NMailAttachmentFileFirst(int handle, QString& subject, QString& date, QString& from,
                                         QString& header, QString& body,
                                         const QString& destinationFolder, const QString& workFile,
                                         const QString& messageText, int flag) = 0;
    virtual int NMailAttachmentFileClose(int handle) = 0;
    virtual int NMailPop3DeleteMail(int handle, int number) = 0;
    virtual int NMailPop3Close(int handle) = 0;
    virtual int NMailGetMessage(int handle, QString& text, int& size) = 0;
    // After NMailPop3Close: messages marked for deletion that are still on the server.
    virtual int keptOnServer() = 0;
    // Drops the session without QUIT: the server deletes nothing of it.
    virtual int abandonPop3Session(int handle) = 0;
    // Exactly-once receiving (NMail::uniqueIds, planFetches, deleteStoredMail).
    virtual int uniqueIds(int handle, QHash<int, QByteArray>& ids) = 0;
    virtual void planFetches(int handle, const QList<int>& numbers) = 0;
    virtual int deleteStoredMail(int handle, int number) = 0;
    // The original of the message fetched last (NMail::messageBytes).
    virtual int messageBytes(int handle, int number, QByteArray& bytes) = 0;
    // A session over messages at hand, for an import (NMail::openLocalSession).
    virtual int openLocalSession(const QList<QByteArray>& messages) = 0;
    // True when NMailAttachmentFileFirst reads the message fetched last as it arrived, so
    // the whole-message text (twice the message in memory) need not be built for it.
    virtual bool keepsFetchedMessage() { return false; }
};

// The program's NMail behind ReceiveLibrary.
class NMailReceiveLibrary final : public ReceiveLibrary {
public:
    explicit NMailReceiveLibrary(NMail& mail) : m_mail(mail) {}
    int NMailPop3Connect(const QString& server) override;
    int NMailPop3Authenticate(int handle, const QString& userId, const QString& password,
                              bool apop) override;
    int NMailPop3GetMailStatus(int handle, int number, QString& subject, QString& date,
                               QString& from, QString& header, int flag) override;
    int NMailPop3GetMailSize(int handle, int number) override;
    int NMailPop3GetMail(int handle, int number, QString& subject, QString& date, QString& from,
                         QString& header, QString& body, int bodyCapacity, int flag,
                         int flag2) override;
    int NMailAttachmentFileFirst(int handle, QString& subject, QString& date, QString& from,
                                 QString& header, QString& body, const QString& destinationFolder,
                                 const QString& workFile, const QString& messageText,
                                 int flag) override;
    int NMailAttachmentFileClose(int handle) override;
    int NMailPop3DeleteMail(int handle, int number) override;
    int NMailPop3Close(int handle) override;
    int NMailGetMessage(int handle, QString& text, int& size) override;
    int keptOnServer() override;
    int abandonPop3Session(int handle) override;
    int uniqueIds(int handle, QHash<int, QByteArray>& ids) override;
    void planFetches(int handle, const QList<int>& numbers) override;
    int deleteStoredMail(int handle, int number) override;
    int messageBytes(int handle, int number, QByteArray& bytes) override;
    int openLocalSession(const QList<QByteArray>& messages) override;
    bool keepsFetchedMessage() override { return true; }

private:
    NMail& m_mail;
};

// A received message as it is put into the viewer's staging boxes and reading pane.
struct StagedMail {
    QString subject;
    QString from;
    QString date;
    QString body;
};

// What a receive run reads from and writes to the windows: the account window's boxes, the
// partner window's address box, the viewer's staging boxes and the main window's received
// count box. Each value is read at the moment the run needs it.
class ReceiveHost {
public:
    virtual ~ReceiveHost() = default;
    // The current text of the account window's ID and password boxes.
    virtual QString accountUserId() = 0;
    virtual QString accountPassword() = 0;
    // The partner window's address box as it stands (the run trims it).
    virtual QString partnerAddress() = 0;
    // The main window's received-count box (Text1).
    virtual QString receivedCount() = 0;
    virtual void setReceivedCount(const QString& text) = 0;
    // Fills the viewer's subject, address and date boxes and reading pane, and sets its
    // count box to the number of lines in its list.
    virtual void stage(const StagedMail& mail) = 0;
    // Message `number` of `total` is about to be transferred. Must not run the event loop.
    virtual void progress(int number, int total) = 0;
};

// How a run ended.
struct ReceiveOutcome {
    bool newMail = false;       // at least one message was fetched
    int waiting = 0;            // messages the server announced
    int stored = 0;             // stored (and deleted on the server unless kept there)
    int storedBefore = 0;       // not fetched: stored by an earlier run, as their ids say
    int skipped = 0;            // could not be fetched; left on the server
    int keptForAttachments = 0; // stored, but left on the server: attachments not all written
    int notDeleted = 0;         // marked for deletion, but the server kept them
    bool stopped = false;     // storing failed; that message and the later ones stay on the server
    bool sessionLost = false; // the connection went; the later messages stay on the server
    bool notDurable = false;  // the records could not be made durable: all stays on the server
    bool withoutIds = false;  // the server has no UIDL: an interrupted run may bring duplicates
};

// One press of the receive button, up to the status line (which the main window shows):
// save the account, log in, and for every waiting message fetch it, run the attachment pass,
// sort it into the partner or others in-box, count the partner's mail and delete it on the
// server. Runs on the calling thread without yielding to the event loop.
//
// A message is deleted on the server only after its record has been stored, and those
// deletions take effect (QUIT) only after every record of the run has been made durable,
// with one sync per box just before QUIT; the counter file is written once then too. When
// that sync fails the session is dropped without QUIT and the server keeps every message. When
// storing fails (or the box is full) the run stops with a message and that message and every later
// one stay on the server; the session is still closed properly so earlier deletions take
// effect. A message whose status, size or text cannot be fetched is left on the server and
// the run goes on with the next one; when the session itself is gone the run stops there.
// A message whose attachments could not all be written is stored but stays on the server
// (a duplicate record next time is better than a lost file). Deletions the server did not
// carry out are reported once the session is closed.
//
// Exactly once: when the server gives unique ids (UIDL), a message whose id ReceivedIds knows
// as stored is not fetched again; it is only deleted on the server (or, with "サーバーにメー
// ルを残す", left there until it is older than the days set). Each new message's id goes into
// the journal just before its record, the journal is synced just before the boxes, and the
// known ids are saved after QUIT. A crash at any point therefore neither loses a message
// (nothing leaves the server before its record is durable) nor stores one twice (an id counts
// once its record is in the box). Without UIDL the run is as before, and the user is told
// once that an interrupted run may bring duplicates; mail cannot then be kept on the server.
class ReceiveCycle {
public:
    ReceiveCycle(ReceiveLibrary& library, ReceiveHost& host);
    ~ReceiveCycle();

    // With the "keep on server" setting as saved.
    ReceiveOutcome run(const ServerSettings& settings);
    ReceiveOutcome run(const ServerSettings& settings, const KeepOnServer& keep);
    // Messages from another program (an mbox, a Maildir, .eml files) taken in as if received:
    // partner sorting and counting, attachments, originals, the same durability. A message
    // imported before (the same bytes) is not stored again; the ids of imports are kept
    // apart from the server's (imported-ids.txt).
    ReceiveOutcome importMessages(const QList<QByteArray>& messages);

    // The note appended to the body of mail that mentions "attachment".
    static QString attachmentNote();

private:
    // Steps 7 to 14 for one message; false stops the run.
    enum class Step { Next, StopStoring, SessionLost };
    void startRun(const KeepOnServer& keep, bool importing);
    void receiveWaiting(int handle, int waiting, const QString& server, ReceiveOutcome& outcome);
    void finishRun(int handle, ReceiveOutcome& outcome);
    Step receiveMessage(int handle, int number, const QByteArray& id, ReceiveOutcome& outcome);
    Step keepOriginalOnly(int handle, int number, const QByteArray& id, ReceiveOutcome& outcome);
    // Lets the server go of a stored message, unless mail is kept there.
    void letGo(int handle, int number, const QByteArray& id);
    // Which waiting messages to fetch; those stored already are deleted on the server as the
    // setting says. Empty when nothing may be fetched.
    QList<int> planRun(int handle, int waiting, const QString& server, ReceiveOutcome& outcome);
    Step sessionLost(int handle, int remaining, ReceiveOutcome& outcome);
    void closeSession(int handle, ReceiveOutcome& outcome);
    void saveIds(bool deletionsDone);
    QString lastLibraryText();
    int attachmentPass(QString& subject, QString& date, QString& from, QString& header,
                       QString& body);
    void countPartnerMail();
    bool keepDurably();

    ReceiveLibrary& m_library;
    ReceiveHost& m_host;
    QStringList m_afterClose;                     // messages that wait until the session is closed
    std::unique_ptr<MailboxAppends> m_appends;    // the records of the run, durable at the end
    std::unique_ptr<OriginalAppends> m_originals; // their originals, durable with them
    QString m_countToSave;                        // the partner count the file takes at the end
    KeepOnServer m_keep;
    bool m_importing = false;
    std::unique_ptr<ReceivedIds> m_ids;    // set when the server gives unique ids
    QHash<int, QByteArray> m_serverIds;    // the id of each waiting message
    QSet<QByteArray> m_idsKept;            // stored, and still on the server after this run
    QSet<QByteArray> m_idsDeleted;         // stored, and marked for deletion in this run
    QHash<int, QByteArray> m_originalOnly; // stored by a run that died before it kept their
                                           // originals: fetched for the original alone
    QString m_attachmentFolder;
    QString m_workFile;
};

} // namespace kiku
