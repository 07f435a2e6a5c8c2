#include "maillib/nmail.h"

#include "maillib/attachmentwriter.h"
#include "maillib/mimereader.h"
#include "maillib/pop3client.h"

#include <QCryptographicHash>
#include <QHash>
#include <QIODevice>
#include <QList>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <limits>
#include <map>

namespace kiku {

namespace {

// One POP3 session and what it has learnt: the sizes from its one LIST and the message
// it fetched last, which status, size and fetch of that number all serve from.
struct Pop3Session {
    Pop3Session(int timeoutMs, const Pop3Limits& limits) : client(timeoutMs, limits) {}
    Pop3Client client;
    bool sizesRead = false;
    QHash<int, qint64> sizes;
    int cachedNumber = 0;
    // The message fetched last, parsed once for status, fetch and the attachment pass.
    std::shared_ptr<const MimeMessage> cachedMessage;
    QSet<int> fetched;          // numbers whose whole text arrived in this session
    int waiting = 0;            // what STAT announced
    int prefetchedUpTo = 0;     // the highest number whose RETR went out ahead of its turn
    QHash<int, QByteArray> ids; // the unique ids the server gave
    QList<int> plan;            // the messages the caller will fetch, in order; empty: all
    // A session over messages already at hand (an import) rather than a server: they are
    // served as a maildrop would serve them, and nothing is ever deleted.
    bool local = false;
    QList<QByteArray> localMessages;
};

// One LIST per session, even when it fails.
void readSizes(Pop3Session& s, QString& error) {
    if (s.sizesRead)
        return;
    s.sizesRead = true;
    if (!s.client.list(s.sizes, s.waiting))
        error = s.client.errorText();
}

// How far RETR may run ahead of the message being stored, when the server pipelines:
// enough small messages to hide the round trips, and two megabyte-sized ones, so the server
// is still sending while a message is taken apart and its files are written; never more
// than two large ones ahead, whose bytes wait mostly in the kernel's socket buffers.
constexpr int kPrefetchMessages = 16;
constexpr int kPrefetchLarge = 3; // the message being fetched and two after it
constexpr qint64 kPrefetchBytes = 4 * 1024 * 1024;

// The message the caller will fetch after `number`, or 0 when there is none.
int nextPlanned(const Pop3Session& s, int number) {
    if (s.plan.isEmpty())
        return number < s.waiting ? number + 1 : 0;
    const auto it = std::upper_bound(s.plan.begin(), s.plan.end(), number);
    return it == s.plan.end() ? 0 : *it;
}

// Sends RETR for `number` and for the messages the caller will fetch after it, as far as
// the window allows.
void prefetchFrom(Pop3Session& s, int number) {
    if (!s.client.pipelining())
        return;
    s.client.prefetch(number, s.sizes.value(number, -1));
    // The window is topped up once half of it is used, so that a batch of RETRs (and the
    // DELEs held back meanwhile) goes out in one write while the server still has the other
    // half to send; large messages, few to a window, are asked for one by one.
    const int before = s.client.prefetched();
    if (before > kPrefetchMessages / 2)
        return;
    for (int next = nextPlanned(s, qMax(number, s.prefetchedUpTo)); next > 0;
         next = nextPlanned(s, next)) {
        if (s.client.prefetched() >= kPrefetchMessages ||
            (s.client.prefetched() >= kPrefetchLarge &&
             s.client.prefetchedBytes() >= kPrefetchBytes))
            break;
        s.client.prefetch(next, s.sizes.value(next, -1));
        s.prefetchedUpTo = next;
    }
    if (s.client.prefetched() > before)
        s.client.sendPipelined();
}

// What the two in-boxes can hold between them (32767 records each): a server announcing
// more is broken or hostile, and its count would keep the receive loop going for days.
constexpr int kMaxWaitingMessages = 2 * 32767;

// What status and fetch give when the session is gone: no later message can arrive either.
constexpr int kSessionLost = -2;

QString cut(const QString& text, int capacity) {
    return capacity > 0 ? text.left(capacity - 1) : QString();
}

} // namespace

struct NMail::ReceiveState {
    std::map<int, std::unique_ptr<Pop3Session>> sessions;
    int nextHandle = 0;
    // The message of the last NMailPop3GetMail, for the attachment pass that follows it.
    std::shared_ptr<const MimeMessage> lastMessage;
    QString lastHeader; // the header buffer as handed out
    int lastBodyCapacity = 0;
    int lastSessionKept = 0; // deletions the server did not carry out in the last session

    Pop3Session* session(int handle) {
        const auto it = sessions.find(handle);
        return it == sessions.end() ? nullptr : it->second.get();
    }
};

NMail::NMail(QObject* parent) : QObject(parent), m_receive(std::make_unique<ReceiveState>()) {}

// A session still open here was never closed: it is dropped without QUIT, so the server
// deletes nothing.
NMail::~NMail() = default;

int NMail::NMailInitializeWinSock() {
    m_initialised = true;
    return 0;
}

int NMail::NMailEndWinSock() {
    m_receive->sessions.clear();
    m_initialised = false;
    return 0;
}

int NMail::NMailSetOption(int option, int value) {
    if (option == 1 && value > 0) {
        m_headerBufferSize = value;
        return 0;
    }
    return -1;
}

void NMail::setSmtpCredentials(const QString& userId, const QString& password) {
    m_smtpUserId = userId;
    m_smtpPassword = password;
}

void NMail::setTimeout(int milliseconds) {
    m_timeoutMs = milliseconds > 0 ? milliseconds : 30000;
}

int NMail::notConnected() {
    setLastError(QStringLiteral("POP3サーバーに接続していません"));
    return -1;
}

int NMail::NMailGetMessage(int, QString& text, int& size) {
    text = m_lastError.left(qMax(size - 1, 0));
    size = int(text.size());
    return size;
}

int NMail::NMailPop3Connect(const QString& server) {
    const ServerAddress address = parseServerAddress(server, Protocol::Pop3);
    auto session = std::make_unique<Pop3Session>(m_timeoutMs, m_pop3Limits);
    if (!session->client.connectTo(address)) {
        setLastError(session->client.errorText());
        return -1;
    }
    const int handle = m_receive->nextHandle++;
    m_receive->sessions[handle] = std::move(session);
    return handle;
}

int NMail::openLocalSession(const QList<QByteArray>& messages) {
    auto session = std::make_unique<Pop3Session>(m_timeoutMs, m_pop3Limits);
    session->local = true;
    session->localMessages = messages;
    session->waiting = int(messages.size());
    session->sizesRead = true;
    for (qsizetype i = 0; i < messages.size(); ++i) {
        const int number = int(i + 1);
        session->sizes.insert(number, messages.at(i).size());
        // The id of an imported message is its content: the same message imported twice is
        // the same message.
        session->ids.insert(number, "import-" + QCryptographicHash::hash(
                                                    messages.at(i), QCryptographicHash::Blake2b_256)
                                                    .toHex()
                                                    .left(60));
    }
    const int handle = m_receive->nextHandle++;
    m_receive->sessions[handle] = std::move(session);
    return handle;
}

int NMail::NMailPop3Authenticate(int handle, const QString& userId, const QString& password,
                                 bool apop) {
    Pop3Session* s = m_receive->session(handle);
    if (!s)
        return notConnected();
    if (!s->client.login(userId, password, apop)) {
        setLastError(s->client.errorText());
        return -1;
    }
    int count = 0;
    qint64 octets = 0;
    if (!s->client.stat(count, octets)) {
        setLastError(s->client.errorText());
        return -1;
    }
    if (count > kMaxWaitingMessages) {
        setLastError(QStringLiteral("POP3サーバーが %1 通のメールがあると答えました。受信箱に"
                                    "保存できるのは %2 通までのため、受信しません。サーバーの"
                                    "状態を確かめてください。")
                         .arg(count)
                         .arg(kMaxWaitingMessages));
        return -1;
    }
    s->waiting = count;
    return count;
}

// Fetches a message once; status, size and fetch of the same number reuse it.
static bool fetchMessage(Pop3Session& s, int number, QString& error) {
    if (s.cachedNumber == number && number > 0)
        return true;
    if (s.local) {
        if (number < 1 || number > s.localMessages.size()) {
            error = QStringLiteral("メール %1 はありません").arg(number);
            return false;
        }
        s.cachedNumber = number;
        s.cachedMessage = std::make_shared<const MimeMessage>(s.localMessages.at(number - 1));
        s.localMessages[number - 1] = QByteArray(); // the parsed message holds the bytes now
        s.fetched.insert(number);
        return true;
    }
    // The announced size bounds the reply, so LIST comes first.
    QString listError;
    readSizes(s, listError);
    if (!s.client.isConnected()) {
        // Gone before this message (a pipelined DELE may have been the last word): say why.
        error = listError.isEmpty() ? s.client.connectionLostText() : listError;
        return false;
    }
    prefetchFrom(s, number);
    QByteArray message;
    if (!s.client.retrieve(number, message, s.sizes.value(number, -1))) {
        error = s.client.errorText();
        return false;
    }
    s.cachedNumber = number;
    s.cachedMessage = std::make_shared<const MimeMessage>(message);
    s.fetched.insert(number);
    return true;
}

int NMail::NMailPop3GetMailStatus(int handle, int number, QString& subject, QString& date,
                                  QString& from, QString& header, int) {
    subject.clear();
    date.clear();
    from.clear();
    header.clear();
    Pop3Session* s = m_receive->session(handle);
    if (!s)
        return notConnected();
    QString error;
    if (!fetchMessage(*s, number, error)) {
        setLastError(error);
        return s->client.isConnected() ? -1 : kSessionLost;
    }
    const MimeMessage& message = *s->cachedMessage;
    subject = cut(message.subject(), m_headerBufferSize);
    date = cut(message.date(), m_headerBufferSize);
    from = cut(message.from(), m_headerBufferSize);
    header = cut(message.headerText(), m_headerBufferSize);
    return 0;
}

int NMail::NMailPop3GetMailSize(int handle, int number) {
    Pop3Session* s = m_receive->session(handle);
    if (!s)
        return notConnected();
    QString error;
    if (!s->local)
        readSizes(*s, error);
    if (!error.isEmpty())
        setLastError(error);
    const qint64 size = s->sizes.value(number, -1);
    return size > std::numeric_limits<int>::max() - 1 ? -1 : int(size);
}

int NMail::NMailPop3GetMail(int handle, int number, QString& subject, QString& date, QString& from,
                            QString& header, QString& body, int bodyCapacity, int, int) {
    body.clear();
    const int status = NMailPop3GetMailStatus(handle, number, subject, date, from, header);
    if (status < 0)
        return status;
    const std::shared_ptr<const MimeMessage>& message = m_receive->session(handle)->cachedMessage;
    // A multipart body stays as sent: the caller looks for "attachment" in it, and the
    // attachment pass turns it into the text part. The base64 lines of its files are left
    // out (where that cannot change what such a look finds): as text they would cost twice
    // the message in memory, and nothing reads them.
    const QString text =
        message->isMultipart() ? message->rawBodyTextWithoutFileData() : message->text();
    // No capacity means the caller could not learn the size: give the whole text rather
    // than lose it.
    body = bodyCapacity > 0 ? cut(text, bodyCapacity) : text;
    m_receive->lastMessage = message;
    m_receive->lastHeader = header;
    m_receive->lastBodyCapacity = bodyCapacity;
    return 0;
}

int NMail::NMailAttachmentFileFirst(int, QString& subject, QString& date, QString& from,
                                    QString& header, QString& body,
                                    const QString& destinationFolder, const QString&,
                                    const QString& messageText, int) {
    // The text the caller passes went through Unicode, which may have cost bytes: when it is
    // the message fetched last, read the bytes that arrived, parsed once already.
    ReceiveState& r = *m_receive;
    // The pass follows the fetch of the same message, so the bytes that arrived are used
    // whenever there are some: the text handed in may have been cut short on the way (a NUL
    // in a header field ends the header buffer) and would lose the attachments.
    const bool isLast = r.lastMessage != nullptr;
    const std::shared_ptr<const MimeMessage> kept =
        isLast ? r.lastMessage : std::make_shared<const MimeMessage>(messageText.toUtf8());
    const MimeMessage& message = *kept;
    const int capacity = isLast ? r.lastBodyCapacity : 0;

    subject = cut(message.subject(), m_headerBufferSize);
    date = cut(message.date(), m_headerBufferSize);
    from = cut(message.from(), m_headerBufferSize);
    header = cut(message.headerText(), m_headerBufferSize);

    if (message.isPartial()) {
        body = message.rawBodyText();
        if (capacity > 0)
            body = cut(body, capacity);
        setLastError(QStringLiteral("分割されたメール (message/partial) です: "
                                    "全ての部分が揃っていないため組み立てられません"));
        return -6;
    }
    // Attachments first: a structure that turns out unreadable then shows in the text.
    const QStringList files = message.fileNames();
    const QString text = message.text();
    body = capacity > 0 ? cut(text, capacity) : text;

    if (files.isEmpty())
        return 0;
    // Every file is tried, so one that cannot be written costs only itself; the message then
    // stays on the server, and the text names each one that failed.
    AttachmentWriter writer(destinationFolder);
    QStringList failures;
    for (qsizetype i = 0; i < files.size(); ++i) {
        // Streamed from the message's bytes into the file: a large file is never held whole.
        const auto fill = [&message, i](QIODevice& out) { return message.writeFile(i, out); };
        if (writer.write(files.at(i), fill).isEmpty())
            failures << writer.errorText();
    }
    if (failures.isEmpty())
        return 1;
    const qsizetype failed = failures.size();
    if (failed > 3) {
        failures.resize(3);
        failures << QStringLiteral("ほか %1 個").arg(failed - 3);
    }
    setLastError(QStringLiteral("%1 個の添付ファイルのうち %2 個を保存できませんでした:\n%3")
                     .arg(files.size())
                     .arg(failed)
                     .arg(failures.join(QLatin1Char('\n'))));
    return -5;
}

int NMail::NMailAttachmentFileClose(int) {
    m_receive->lastMessage.reset();
    m_receive->lastHeader.clear();
    m_receive->lastBodyCapacity = 0;
    return 0;
}

int NMail::NMailPop3DeleteMail(int handle, int number) {
    Pop3Session* s = m_receive->session(handle);
    if (!s)
        return notConnected();
    // The caller deletes whatever it has stored, without looking at the fetch result; a
    // message that never arrived whole must stay on the server.
    if (!s->fetched.contains(number)) {
        setLastError(QStringLiteral("メール %1 は受信できていないため削除しません").arg(number));
        return -1;
    }
    if (s->cachedNumber == number) {
        s->cachedNumber = 0;
        s->cachedMessage.reset();
    }
    if (s->local)
        return 0;
    if (!s->client.deleteMessage(number)) {
        setLastError(s->client.errorText());
        return -1;
    }
    return 0;
}

int NMail::uniqueIds(int handle, QHash<int, QByteArray>& ids) {
    ids.clear();
    Pop3Session* s = m_receive->session(handle);
    if (!s)
        return notConnected();
    if (s->local) {
        ids = s->ids;
        return int(ids.size());
    }
    bool supported = false;
    if (!s->client.uniqueIds(s->ids, s->waiting, supported)) {
        setLastError(s->client.errorText());
        return s->client.isConnected() ? -1 : kSessionLost;
    }
    if (!supported)
        return -1;
    ids = s->ids;
    return int(ids.size());
}

void NMail::planFetches(int handle, const QList<int>& numbers) {
    if (Pop3Session* s = m_receive->session(handle)) {
        s->plan = numbers;
        std::sort(s->plan.begin(), s->plan.end());
    }
}

int NMail::deleteStoredMail(int handle, int number) {
    Pop3Session* s = m_receive->session(handle);
    if (!s)
        return notConnected();
    if (!s->ids.contains(number)) {
        setLastError(QStringLiteral("メール %1 は識別番号がないため削除しません").arg(number));
        return -1;
    }
    if (s->local)
        return 0;
    if (!s->client.deleteMessage(number)) {
        setLastError(s->client.errorText());
        return -1;
    }
    return 0;
}

int NMail::messageBytes(int handle, int number, QByteArray& bytes) {
    bytes.clear();
    Pop3Session* s = m_receive->session(handle);
    if (!s || s->cachedNumber != number || !s->cachedMessage)
        return -1;
    bytes = s->cachedMessage->raw();
    return 0;
}

int NMail::keptOnServer() const {
    return m_receive->lastSessionKept;
}

int NMail::NMailPop3Close(int handle) {
    const auto it = m_receive->sessions.find(handle);
    if (it == m_receive->sessions.end())
        return notConnected();
    const bool ok = it->second->local || it->second->client.quit();
    m_receive->lastSessionKept = it->second->local ? 0 : it->second->client.deletionsUndone();
    if (!ok)
        setLastError(it->second->client.errorText());
    m_receive->sessions.erase(it);
    return ok ? 0 : -1;
}

int NMail::abandonPop3Session(int handle) {
    const auto it = m_receive->sessions.find(handle);
    if (it == m_receive->sessions.end())
        return notConnected();
    it->second->client.abort();
    m_receive->lastSessionKept = it->second->client.deletionsUndone();
    m_receive->sessions.erase(it);
    return 0;
}

} // namespace kiku
