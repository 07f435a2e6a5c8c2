#include "compose/sendoperation.h"

#include "base/paths.h"
#include "base/prompter.h"
#include "base/text.h"
#include "maillib/nmail.h"
#include "settings/profile.h"
#include "store/addressfile.h"
#include "store/mailbox.h"
#include "store/originals.h"

#include <QDateTime>

#include <cmath>
#include <memory>
#include <random>

namespace kiku {

namespace {

// The capacity of the library's failure text.
constexpr int kBufferSize = 8192;

const QString kCrLf = QStringLiteral("\r\n");

// The address field of an address-book entry is padded with spaces at its end.
QString withoutTrailingSpaces(const QString& text) {
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.left(end);
}

// A uniform draw in [0, 1) from a generator seeded from the clock.
std::function<float()> clockSeededRandom() {
    const auto seed =
        static_cast<std::uint64_t>(QDateTime::currentMSecsSinceEpoch()) ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    auto generator =
        std::make_shared<std::mt19937>(static_cast<std::uint32_t>(seed ^ (seed >> 32)));
    return [generator]() { return std::uniform_real_distribution<float>(0.0f, 1.0f)(*generator); };
}

} // namespace

// ---------------------------------------------------------------------------------------
// NMailSendLibrary

void NMailSendLibrary::setSmtpCredentials(const QString& userId, const QString& password) {
    m_mail.setSmtpCredentials(userId, password);
}
int NMailSendLibrary::NMailSmtpSendMail(const QString& server, const QString& to, const QString& cc,
                                        const QString& bcc, const QString& from,
                                        const QString& subject, const QString& body,
                                        const QString& header, const QString& attachments,
                                        int flag) {
    return m_mail.NMailSmtpSendMail(server, to, cc, bcc, from, subject, body, header, attachments,
                                    flag);
}
int NMailSendLibrary::NMailGetMessage(int handle, QString& text, int& size) {
    return m_mail.NMailGetMessage(handle, text, size);
}
QByteArray NMailSendLibrary::sentMessage() {
    return m_mail.lastSentMessage();
}

// ---------------------------------------------------------------------------------------
// SendOperation

SendOperation::SendOperation(SendLibrary& library, SendHost& host, std::function<float()> random)
    : m_random(random ? std::move(random) : clockSeededRandom()), m_library(library), m_host(host) {
}

const QStringList& SendOperation::fortunes() {
    static const QStringList texts = {
        QStringLiteral("大吉：万事に良し！　慎重さを忘れず、尚かつアクティブに行動すれば、これまで"
                       "停滞していた問題が次々と解決されて行きます。"),
        QStringLiteral("大吉：思わぬ金運！！　浪費せず生きたお金の使い方を心がければ、これからも"
                       "金運が上昇！"),
        QStringLiteral("大吉：人間関係に好転あり。誤解から生じていた軋轢（あつれき）も解消し、お互"
                       "いが良く見えるようになって行きます。"),
        QStringLiteral("中吉：正しく可もなく不可もなし。凶事のなきことを素直に喜ぶべし。そうすれば"
                       "尚運が開けます。"),
        QStringLiteral("中吉：ほのぼの、小さな幸福感を味わえる一日。その満足を他人にも分け与えれば"
                       "、明日は更に運気アップ！"),
        QStringLiteral("中吉：万事スムーズ。しかし油断をすればたちまちにして運気下降。恐れぬことも"
                       "大事ではあるが、謙虚さを忘れずに判断・行動をすべし。"),
        QStringLiteral("中吉：両親からの教えを胸に刻んで行動すれば、意外なほどの好調に思わずニンマ"
                       "リ！　"),
        QStringLiteral("中吉：ショッピングでのストレス発散が好転の契機となる。それでも浪費に注意。"
                       "本当に必要な物に限定すべし。"),
        QStringLiteral("吉：あなたの人柄で救われる局面有り。友人を大切にすれば、思わぬ人と再会する"
                       "でしょう。"),
        QStringLiteral("吉：紛失していたにもかかわらず気づいてなかった品物が、突然手元に戻ってきま"
                       "す。忘れていたけど、案外大切なもの・・・物とは限りません。"),
        QStringLiteral("凶：鬼門「北東」注意！　部屋の北東に一掴みの盛り塩をし、お世話になった人"
                       "たちに感謝の意を心に強く念じれば、吉に転じます。"),
        QStringLiteral("凶：言動慎むべし。最大の配慮がなければ、運気、万事下降するおそれ有り。"),
    };
    return texts;
}

QString SendOperation::fortuneBanner() {
    return QStringLiteral("★★★　この占いは Kiku Lanternway「メールソフト」がアトランダムにチョイ"
                          "スしたものです（だからこそ占い♪）　送信者にも内容は判りませんので、あ"
                          "しからず・・・当たるも八卦、当たらぬも八卦。★★★");
}

int SendOperation::fortuneIndex(float r) {
    // Single precision, as the draw is: r just below 1 can round up to 13, and a generator
    // may hand back exactly 1 or a value outside its range; every draw still names a fortune.
    const float k = std::floor(r * 12.0f + 1.0f);
    if (!(k >= 1.0f)) // also NaN
        return 1;
    if (k > 12.0f)
        return 12;
    return static_cast<int>(k);
}

QString SendOperation::withFortune(const QString& body, int index) {
    const int k = qBound(1, index, 12);
    return body + kCrLf + kCrLf + fortuneBanner() + kCrLf + kCrLf + fortunes().at(k - 1);
}

QString SendOperation::sendingText() {
    return QStringLiteral("メールを送信中です。しばらくお待ち下さい。");
}

QString SendOperation::progressText(int number, int total) {
    return QStringLiteral("送信中 %1/%2").arg(number).arg(total);
}

QString SendOperation::finishedText() {
    return QStringLiteral("送信完了です。");
}

QString SendOperation::notKeptText() {
    return QStringLiteral("送信していないメールがあります。内容はそのまま残しています。");
}

QString SendOperation::listChangedText() {
    return QStringLiteral("アドレス帳が変更されていたため、一括送信は行いませんでした。名前の一覧を"
                          "読み直しましたので、確かめてからもう一度送信して下さい。");
}

SendOutcome SendOperation::run(const ServerSettings& settings) {
    SendOutcome outcome;
    m_host.setStatus(sendingText());
    m_library.setSmtpCredentials(m_host.accountUserId(), m_host.accountPassword());

    const bool bulk = m_host.bulkOn();
    // Every bulk address is read before the first message: a failure box further on lets
    // the user change the address book, which must not move a later message to someone else.
    QStringList bulkRecipients;
    if (bulk && !readBulkRecipients(bulkRecipients, outcome)) {
        m_host.setStatus(notKeptText());
        return outcome;
    }
    const int total = bulk ? int(bulkRecipients.size()) : 1;
    outcome.messages = total;

    // The body as the user wrote it. Each message gets its own fortune added to this text,
    // never to the fortune of the message before.
    const QString userBody = total > 0 ? m_host.bodyText() : QString();

    for (int i = 1; i <= total; ++i) {
        if (bulk)
            m_host.setStatus(progressText(i, total));
        sendOne(settings, bulk ? bulkRecipients.at(i - 1) : m_host.recipientText(), userBody,
                outcome);
    }

    if (outcome.keptOpen()) {
        m_host.setStatus(notKeptText());
        return outcome;
    }
    m_host.setStatus(finishedText());
    m_host.finish();
    return outcome;
}

bool SendOperation::readBulkRecipients(QStringList& recipients, SendOutcome& outcome) {
    const QList<AddressEntry> shown = m_host.nameListEntries();
    for (const AddressEntry& line : shown) {
        AddressRecord now;
        const StoreResult read = ReadAddress(line.number, now);
        if (!read) {
            Prompter::current().notify(read.error);
            outcome.noAddress = int(shown.size());
            return false;
        }
        if (now.name != line.record.name || now.address != line.record.address) {
            outcome.listChanged = true;
            m_host.nameListChanged();
            Prompter::current().notify(listChangedText());
            return false;
        }
        recipients << withoutTrailingSpaces(now.address);
    }
    return true;
}

void SendOperation::sendOne(const ServerSettings& settings, const QString& recipient,
                            const QString& userBody, SendOutcome& outcome) {
    // The recipient box decides, in bulk mode too.
    const QString recipientBox = m_host.recipientText();
    const bool toPartner = trimSpaces(m_host.partnerAddress()) == trimSpaces(recipientBox);

    // The history record first: a message that cannot be kept does not go out.
    MailRecord record;
    record.subject = trimSpaces(m_host.subjectText());
    record.from = trimSpaces(recipientBox);
    record.date = m_host.clockText();
    record.body = trimSpaces(userBody);
    record.live = 1;
    const StoreResult stored =
        Mailbox(toPartner ? Box::PartnerSent : Box::OthersSent).append(record);
    if (!stored) {
        Prompter::current().notify(stored.error +
                                   QStringLiteral("\nこのメールは送信しませんでした。"));
        ++outcome.notStored;
        return;
    }
    if (!stored.notice.isEmpty())
        Prompter::current().notify(stored.notice);

    if (toPartner)
        countPartnerSend();

    QString body = userBody;
    if (m_host.fortuneOn()) {
        body = withFortune(userBody, fortuneIndex(m_random()));
        m_host.setBodyText(body);
    }

    const qint16 result = qint16(m_library.NMailSmtpSendMail(
        settings.smtpServer, recipient, QString(), QString(), settings.senderAddress,
        m_host.subjectText(), body, QString(), m_host.attachmentText(), 0));
    if (result < 0) {
        QString text;
        int size = kBufferSize;
        m_library.NMailGetMessage(0, text, size);
        Prompter::current().notify(cutAtZero(text), QStringLiteral("送信エラー"));
        ++outcome.failed;
        return;
    }
    ++outcome.sent;
    if (const QByteArray sent = m_library.sentMessage(); !sent.isEmpty()) {
        if (const StoreResult kept = Originals::keep(recordDigest(record), sent); !kept)
            Prompter::current().notify(kept.error);
    }
}

void SendOperation::countPartnerSend() {
    const QString count = QString::number(
        leadingCount(ReadSetting(paths::kCounterFile, QStringLiteral("NAME2"))) + 1);
    // The box shows what the file holds: a count that was not saved would be gone at the
    // next start, and the heart would shrink back.
    if (!WriteSetting(paths::kCounterFile, QStringLiteral("NAME2"), count)) {
        Prompter::current().notify(QStringLiteral("ハートのカウントを保存できませんでした。"));
        return;
    }
    m_host.showSentCount(count);
}

} // namespace kiku
