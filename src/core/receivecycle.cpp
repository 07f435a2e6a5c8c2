#include "core/receivecycle.h"

#include "base/codec.h"
#include "base/paths.h"
#include "base/prompter.h"
#include "base/text.h"
#include "exchange/wholemessage.h"
#include "maillib/nmail.h"
#include "settings/profile.h"
#include "store/mailbox.h"
#include "store/originals.h"
#include "store/receivedids.h"

#include <QFile>

#include <climits>

namespace kiku {

namespace {

// The capacity of the four header-sized buffers and of the library's failure text.
constexpr int kBufferSize = 8192;

const QString kCrLf = QStringLiteral("\r\n");

// The library's results for "the session is gone".
constexpr int kSessionLost = -2;

void cutBuffers(QString& subject, QString& date, QString& from, QString& header) {
    subject = cutAtZero(subject);
    date = cutAtZero(date);
    from = cutAtZero(from);
    header = cutAtZero(header);
}

// The body buffer is (announced size + 1) characters; a size too large for an int is held
// at the largest capacity instead of wrapping round.
int bodyCapacity(int size) {
    return size >= INT_MAX - 1 ? INT_MAX : size + 1;
}

} // namespace

// ---------------------------------------------------------------------------------------
// NMailReceiveLibrary

int NMailReceiveLibrary::NMailPop3Connect(const QString& server) {
    return m_mail.NMailPop3Connect(server);
}
int NMailReceiveLibrary::NMailPop3Authenticate(int handle, const QString& userId,
                                               const QString& password, bool apop) {
    return m_mail.NMailPop3Authenticate(handle, userId, password, apop);
}
int NMailReceiveLibrary::NMailPop3GetMailStatus(int handle, int number, QString& subject,
                                                QString& date, QString& from, QString& header,
                                                int flag) {
    return m_mail.NMailPop3GetMailStatus(handle, number, subject, date, from, header, flag);
}
int NMailReceiveLibrary::NMailPop3GetMailSize(int handle, int number) {
    return m_mail.NMailPop3GetMailSize(handle, number);
}
int NMailReceiveLibrary::NMailPop3GetMail(int handle, int number, QString& subject, QString& date,
                                          QString& from, QString& header, QString& body,
                                          int bodyCapacity, int flag, int flag2) {
    return m_mail.NMailPop3GetMail(handle, number, subject, date, from, header, body, bodyCapacity,
                                   flag, flag2);
}
int NMailReceiveLibrary::NMailAttachmentFileFirst(int handle, QString& subject, QString& date,
                                                  QString& from, QString& header, QString& body,
                                                  const QString& destinationFolder,
                                                  const QString& workFile,
                                                  const QString& messageText, int flag) {
    return m_mail.NMailAttachmentFileFirst(handle, subject, date, from, header, body,
                                           destinationFolder, workFile, messageText, flag);
}
int NMailReceiveLibrary::NMailAttachmentFileClose(int handle) {
    return m_mail.NMailAttachmentFileClose(handle);
}
int NMailReceiveLibrary::NMailPop3DeleteMail(int handle, int number) {
    return m_mail.NMailPop3DeleteMail(handle, number);
}
int NMailReceiveLibrary::NMailPop3Close(int handle) {
    return m_mail.NMailPop3Close(handle);
}
int NMailReceiveLibrary::abandonPop3Session(int handle) {
    return m_mail.abandonPop3Session(handle);
}
int NMailReceiveLibrary::NMailGetMessage(int handle, QString& text, int& size) {
    return m_mail.NMailGetMessage(handle, text, size);
}
int NMailReceiveLibrary::keptOnServer() {
    return m_mail.keptOnServer();
}
int NMailReceiveLibrary::uniqueIds(int handle, QHash<int, QByteArray>& ids) {
    return m_mail.uniqueIds(handle, ids);
}
void NMailReceiveLibrary::planFetches(int handle, const QList<int>& numbers) {
    m_mail.planFetches(handle, numbers);
}
int NMailReceiveLibrary::deleteStoredMail(int handle, int number) {
    return m_mail.deleteStoredMail(handle, number);
}
int NMailReceiveLibrary::openLocalSession(const QList<QByteArray>& messages) {
    return m_mail.openLocalSession(messages);
}
int NMailReceiveLibrary::messageBytes(int handle, int number, QByteArray& bytes) {
    return m_mail.messageBytes(handle, number, bytes);
}

// ---------------------------------------------------------------------------------------
// ReceiveCycle

ReceiveCycle::ReceiveCycle(ReceiveLibrary& library, ReceiveHost& host)
    : m_library(library), m_host(host) {}

ReceiveCycle::~ReceiveCycle() = default;

QString ReceiveCycle::attachmentNote() {
    return QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");
}

ReceiveOutcome ReceiveCycle::run(const ServerSettings& settings) {
    return run(settings, KeepOnServer::load());
}

void ReceiveCycle::startRun(const KeepOnServer& keep, bool importing) {
    m_importing = importing;
    m_afterClose.clear();
    m_appends = std::make_unique<MailboxAppends>();
    m_originals = std::make_unique<OriginalAppends>();
    m_originalOnly.clear();
    m_countToSave.clear();
    m_keep = keep;
    m_ids.reset();
    m_serverIds.clear();
    m_idsKept.clear();
    m_idsDeleted.clear();
    m_attachmentFolder = ProgramFolder::resolve(paths::kAttachmentFolder);
    m_workFile = ProgramFolder::resolve(paths::kAttachmentWorkFile);
}

ReceiveOutcome ReceiveCycle::run(const ServerSettings& settings, const KeepOnServer& keep) {
    ReceiveOutcome outcome;
    startRun(keep, false);

    // 1, 2: the account as the boxes hold it is saved on every run, before any network work.
    const QString userId = m_host.accountUserId();
    const QString password = m_host.accountPassword();
    WriteSetting(paths::kAccountFile, QStringLiteral("NAME"), userId);
    WriteSetting(paths::kAccountFile, QStringLiteral("NAME2"), password);
    WriteSetting(paths::kAccountFile, QStringLiteral("NAME3"), QStringLiteral("1"));

    // 3, 4: no server, or no connection: nothing to say.
    if (settings.pop3Server.isEmpty())
        return outcome;
    const int handle = m_library.NMailPop3Connect(settings.pop3Server);
    if (handle < 0)
        return outcome;

    // 5, 6: without a whole account the connection is only closed again.
    if (!userId.isEmpty() && !password.isEmpty()) {
        const int waiting =
            m_library.NMailPop3Authenticate(handle, userId, password, settings.useApop != 0);
        if (waiting < 0) {
            QString text;
            int size = kBufferSize;
            m_library.NMailGetMessage(0, text, size);
            Prompter::current().notify(cutAtZero(text), QStringLiteral("エラー"));
        }
        outcome.waiting = qMax(waiting, 0);
        if (waiting > 0)
            receiveWaiting(handle, waiting, settings.pop3Server, outcome);
    }
    finishRun(handle, outcome);
    return outcome;
}

ReceiveOutcome ReceiveCycle::importMessages(const QList<QByteArray>& messages) {
    ReceiveOutcome outcome;
    // Like mail kept on a server: each message stored once, by its content, and the ids of
    // every import remembered, whatever later imports hold.
    startRun(KeepOnServer{true, 0}, true);
    const int handle = m_library.openLocalSession(messages);
    outcome.waiting = int(messages.size());
    if (!messages.isEmpty())
        receiveWaiting(handle, int(messages.size()), QString(), outcome);
    finishRun(handle, outcome);
    return outcome;
}

void ReceiveCycle::receiveWaiting(int handle, int waiting, const QString& server,
                                  ReceiveOutcome& outcome) {
    const QList<int> numbers = planRun(handle, waiting, server, outcome);
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        m_host.progress(int(i + 1), int(numbers.size()));
        const int number = numbers.at(i);
        const QByteArray id = m_serverIds.value(number);
        const Step step = m_originalOnly.contains(number)
                              ? keepOriginalOnly(handle, number, id, outcome)
                              : receiveMessage(handle, number, id, outcome);
        if (step == Step::StopStoring) {
            outcome.stopped = true;
            break;
        }
        if (step == Step::SessionLost) {
            sessionLost(handle, int(numbers.size() - i), outcome);
            break;
        }
    }
}

void ReceiveCycle::finishRun(int handle, ReceiveOutcome& outcome) {
    closeSession(handle, outcome);
    if (outcome.skipped > 0) {
        m_afterClose.append(
            QStringLiteral("%1 通のメールを受け取れませんでした。サーバーに残してあります。")
                .arg(outcome.skipped));
    }
    for (const QString& text : std::as_const(m_afterClose))
        Prompter::current().notify(text);
    m_afterClose.clear();
}

ReceiveCycle::Step ReceiveCycle::sessionLost(int, int remaining, ReceiveOutcome& outcome) {
    // Nothing more can arrive; going on would only count through the numbers.
    outcome.sessionLost = true;
    outcome.skipped += remaining;
    m_afterClose.prepend(lastLibraryText() + QLatin1Char('\n') +
                         QStringLiteral("POP3サーバーとの接続が切れたため受信を中止しました。"));
    return Step::SessionLost;
}

QList<int> ReceiveCycle::planRun(int handle, int waiting, const QString& server,
                                 ReceiveOutcome& outcome) {
    QList<int> numbers;
    const int idCount = m_library.uniqueIds(handle, m_serverIds);
    if (idCount == kSessionLost) {
        sessionLost(handle, waiting, outcome);
        return numbers;
    }
    if (idCount < 0) {
        m_serverIds.clear();
        outcome.withoutIds = true;
        if (m_keep.keep) {
            // Without ids every run would store every message again.
            m_afterClose.append(QStringLiteral(
                "POP3サーバーがメールの識別番号（UIDL）に対応していないため、「サーバーにメール"
                "を残す」では受信できません。今回は受信しませんでした。サーバー設定で「サーバー"
                "にメールを残す」を外すと受信できます。"));
            return numbers;
        }
        if (serverToldWithoutIds() != server) {
            setServerToldWithoutIds(server);
            m_afterClose.append(QStringLiteral(
                "POP3サーバーがメールの識別番号（UIDL）に対応していません。受信の途中でプロ"
                "グラムが止まると、次の受信で同じメールが二重に保存されることがあります。"));
        }
        for (int number = 1; number <= waiting; ++number)
            numbers.append(number);
        return numbers;
    }

    m_ids = std::make_unique<ReceivedIds>(m_importing ? ReceivedIds::kImportName
                                                      : ReceivedIds::kReceiveName);
    if (const StoreResult loaded = m_ids->load(); !loaded) {
        if (m_keep.keep) {
            // Without the record of what is stored, every message kept there would come again.
            m_afterClose.append(loaded.error + QLatin1Char('\n') +
                                QStringLiteral("受信を中止しました。メールはサーバーに残して"
                                               "あります。"));
            m_ids.reset();
            return numbers;
        }
        m_afterClose.append(loaded.error + QLatin1Char('\n') +
                            QStringLiteral("受信を続けますが、前回の受信で保存したメールが"
                                           "二重に保存されることがあります。"));
    }
    const qint64 oldest = m_keep.days > 0 ? ReceivedIds::now() - qint64(m_keep.days) * 86400 : 0;
    for (int number = 1; number <= waiting; ++number) {
        const QByteArray id = m_serverIds.value(number);
        if (id.isEmpty()) {
            // A message without a usable id cannot be fetched only once: kept mail waits.
            if (m_keep.keep)
                ++outcome.skipped;
            else
                numbers.append(number);
        } else if (!m_ids->contains(id)) {
            numbers.append(number);
        } else if (const QByteArray digest = m_ids->recoveredDigest(id);
                   !digest.isEmpty() && !keptOriginal(digest)) {
            // Its record was kept by a run that died before the originals were: fetched once
            // more for the original alone.
            ++outcome.storedBefore;
            m_originalOnly.insert(number, digest);
            numbers.append(number);
        } else {
            ++outcome.storedBefore;
            const bool expired = m_keep.days > 0 && m_ids->storedAt(id) < oldest;
            if ((!m_keep.keep || expired) && m_library.deleteStoredMail(handle, number) >= 0)
                m_idsDeleted.insert(id);
            else
                m_idsKept.insert(id);
        }
    }
    m_library.planFetches(handle, numbers);
    return numbers;
}

void ReceiveCycle::closeSession(int handle, ReceiveOutcome& outcome) {
    // 15: the deletions so far take effect with QUIT, even after a failed store; but only
    // once every record of the run is durable. When that cannot be done the session is
    // dropped without QUIT, and the server keeps every message of the run.
    if (keepDurably()) {
        m_library.NMailPop3Close(handle);
    } else {
        m_library.abandonPop3Session(handle);
        outcome.notDurable = true;
    }
    m_appends.reset();
    m_originals.reset();
    outcome.notDeleted = outcome.notDurable ? 0 : m_library.keptOnServer();
    if (outcome.notDeleted > 0) {
        m_afterClose.append(QStringLiteral("受信したメールをサーバーで削除できませんでした。%1 通"
                                           "はサーバーに残りました。次回の受信で重複することが"
                                           "あります。")
                                .arg(outcome.notDeleted));
    }
    // A run that could not make its records durable keeps its journal for the next run,
    // which trusts only what reached the disk.
    if (m_ids && !outcome.notDurable)
        saveIds(outcome.notDeleted == 0);
    m_ids.reset();
}

void ReceiveCycle::saveIds(bool deletionsDone) {
    // The ids of the messages still on the server; those the server let go of are dropped,
    // and so is every id it no longer lists.
    QSet<QByteArray> keep = m_idsKept;
    if (!deletionsDone)
        keep.unite(m_idsDeleted);
    if (m_importing) // an earlier import's messages are not in this one, and stay imported
        keep.unite(m_ids->allIds());
    if (const StoreResult saved = m_ids->save(keep); !saved)
        m_afterClose.append(saved.error + QLatin1Char('\n') +
                            QStringLiteral("受信したメールは保存されています。次の受信で"
                                           "確かめ直します。"));
}

QString ReceiveCycle::lastLibraryText() {
    QString text;
    int size = kBufferSize;
    m_library.NMailGetMessage(0, text, size);
    return cutAtZero(text);
}

ReceiveCycle::Step ReceiveCycle::receiveMessage(int handle, int number, const QByteArray& id,
                                                ReceiveOutcome& outcome) {
    QString subject, date, from, header;

    // 7: status.
    const int status =
        m_library.NMailPop3GetMailStatus(handle, number, subject, date, from, header, 0);
    if (status == kSessionLost)
        return Step::SessionLost;
    if (status < 0) {
        ++outcome.skipped;
        return Step::Next;
    }
    cutBuffers(subject, date, from, header);

    // 8: size and text. A message whose size or text cannot be had stays on the server.
    const int size = m_library.NMailPop3GetMailSize(handle, number);
    if (size < 0) {
        ++outcome.skipped;
        return Step::Next;
    }
    QString body;
    const int fetched = m_library.NMailPop3GetMail(handle, number, subject, date, from, header,
                                                   body, bodyCapacity(size), 0, 0);
    if (fetched == kSessionLost)
        return Step::SessionLost;
    if (fetched < 0) {
        ++outcome.skipped;
        return Step::Next;
    }
    cutBuffers(subject, date, from, header);
    const QString rawText = cutAtZero(body);

    // 9: the attachment pass.
    const qint16 attached = qint16(attachmentPass(subject, date, from, header, body));
    // Shown once the session is closed: a notice left open while the session waits would let
    // the server's idle limit end it, and the deletions of this run would be undone.
    const bool attachmentsLost = attached == -5;
    if (attachmentsLost)
        m_afterClose.append(QStringLiteral("添付ファイルをオープンできません") + QLatin1Char('\n') +
                            lastLibraryText() + QLatin1Char('\n') +
                            QStringLiteral("このメールはサーバーに残しました。次回の受信で重複"
                                           "することがあります。"));
    else if (attached == -6)
        m_afterClose.append(QStringLiteral("分割されたメールが全て揃っていません"));

    // 10, 11: the partner comparison; the sender is taken exactly as the library gave it.
    const bool fromPartner = trimSpaces(m_host.partnerAddress()) == from;
    outcome.newMail = true;

    // 12: the body, with the note when the raw text mentions "attachment".
    QString text = cutAtZero(body);
    if (rawText.contains(QLatin1String("attachment"), Qt::CaseSensitive))
        text += kCrLf + attachmentNote();

    // 13: staging, then the record.
    m_host.stage(StagedMail{subject, from, date, text});
    MailRecord record;
    record.subject = trimSpaces(subject);
    record.date = trimSpaces(date);
    record.from = trimSpaces(from);
    record.body = trimSpaces(text);
    record.live = 1;
    const Box box = fromPartner ? Box::PartnerInbox : Box::OthersInbox;
    // The id goes into the journal just before the record: a record without its line would
    // be stored again next time, a line without its record is passed over. A message whose
    // attachments were not all written is left to come again, so it gets no line.
    const bool noteId = m_ids && !id.isEmpty() && !attachmentsLost;
    QByteArray original;
    m_library.messageBytes(handle, number, original);
    // The original and the id's journal line go just before the record: a record without its
    // line would be stored again next time, a line without its record is passed over. A
    // message whose attachments were not all written is left to come again: no line.
    const StoreResult stored =
        m_appends->append(box, record, nullptr, [&](int recordNumber, const QByteArray& digest) {
            if (!original.isEmpty())
                if (StoreResult kept = m_originals->add(digest, original); !kept)
                    return kept;
            return noteId ? m_ids->noteStored(id, box, recordNumber, digest) : StoreResult{};
        });
    if (!stored) {
        m_afterClose.append(
            stored.error + QLatin1Char('\n') +
            QStringLiteral("受信を中止しました。このメールと、まだ受け取っていないメールはサー"
                           "バーに残してあります。"));
        return Step::StopStoring;
    }
    if (!stored.notice.isEmpty())
        m_afterClose.append(stored.notice);

    // 10 (after the store, so a message that was not kept is not counted either).
    if (fromPartner)
        countPartnerMail();

    // 14: only now may the server let go of it, and not at all while an attachment of it
    // exists nowhere else.
    if (attachmentsLost) {
        ++outcome.keptForAttachments;
        return Step::Next;
    }
    ++outcome.stored;
    if (m_keep.keep && !noteId)
        return Step::Next; // without its id it would come again on every run
    letGo(handle, number, noteId ? id : QByteArray());
    return Step::Next;
}

void ReceiveCycle::letGo(int handle, int number, const QByteArray& id) {
    if (m_keep.keep) {
        m_idsKept.insert(id);
        return;
    }
    if (m_library.NMailPop3DeleteMail(handle, number) >= 0 && !id.isEmpty())
        m_idsDeleted.insert(id);
}

ReceiveCycle::Step ReceiveCycle::keepOriginalOnly(int handle, int number, const QByteArray& id,
                                                  ReceiveOutcome&) {
    QString subject, date, from, header, body;
    const int size = m_library.NMailPop3GetMailSize(handle, number);
    const int fetched = m_library.NMailPop3GetMail(handle, number, subject, date, from, header,
                                                   body, bodyCapacity(qMax(size, 0)), 0, 0);
    if (fetched == kSessionLost)
        return Step::SessionLost;
    QByteArray original;
    if (fetched < 0 || m_library.messageBytes(handle, number, original) < 0) {
        m_idsKept.insert(id); // stored; it waits on the server for its original
        return Step::Next;
    }
    if (const StoreResult kept = m_originals->add(m_originalOnly.value(number), original); !kept) {
        m_afterClose.append(kept.error);
        m_idsKept.insert(id);
        return Step::StopStoring;
    }
    letGo(handle, number, id);
    return Step::Next;
}

int ReceiveCycle::attachmentPass(QString& subject, QString& date, QString& from, QString& header,
                                 QString& body) {
    // The library works on the message as it arrived; the whole-message text is handed over
    // only for a library that has not kept it. No work file is written: it would cost a
    // write and a read of every message, and nothing reads it.
    QString messageText;
    if (!m_library.keepsFetchedMessage()) {
        const qsizetype zero = body.indexOf(QChar(0));
        const QStringView text = zero < 0 ? QStringView(body) : QStringView(body).first(zero);
        messageText.reserve(header.size() + text.size() + 4);
        messageText.append(header).append(kCrLf).append(text).append(kCrLf);
    }
    const int result = m_library.NMailAttachmentFileFirst(
        0, subject, date, from, header, body, m_attachmentFolder, m_workFile, messageText, 0);
    m_library.NMailAttachmentFileClose(0);
    cutBuffers(subject, date, from, header);
    return result;
}

void ReceiveCycle::countPartnerMail() {
    // The window shows every new count at once; the file takes the last one, once, with the
    // records (keepDurably).
    m_countToSave = QString::number(leadingCount(m_host.receivedCount()) + 1);
    m_host.setReceivedCount(m_countToSave);
}

bool ReceiveCycle::keepDurably() {
    // The journal first: a line whose record did not become durable is passed over, but a
    // durable record without its line would come again.
    StoreResult durable = m_ids ? m_ids->syncJournal() : StoreResult{};
    // The originals before the records: a failure between leaves originals no record names
    // (swept later), never a record whose message left the server without its original.
    if (durable)
        durable = m_originals->commit();
    if (durable)
        durable = m_appends->commit();
    if (!durable) {
        m_afterClose.prepend(durable.error + QLatin1Char('\n') +
                             QStringLiteral("受信したメールを確実に保存できなかったため、今回の"
                                            "メールはすべてサーバーに残しました。次回の受信で"
                                            "重複することがあります。"));
        return false;
    }
    if (!m_countToSave.isEmpty() &&
        !WriteSetting(paths::kCounterFile, QStringLiteral("NAME"), m_countToSave)) {
        // The mail itself is kept: holding it on the server would only count it twice.
        m_afterClose.append(QStringLiteral("受信数 %1 をファイル iniCuntUp.ini に保存できません"
                                           "でした。")
                                .arg(m_countToSave));
    }
    return true;
}

} // namespace kiku
