#pragma once

#include "settings/serversettings.h"
#include "store/addressfile.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace kiku {

class NMail;

// The mail-library operations a send calls, under the library's own names. The program hands
// its NMail over through NMailSendLibrary; tests may wrap it to make a call fail.
class SendLibrary {
public:
    virtual ~SendLibrary() = default;
    // The account SMTP AUTH uses when the server asks for it (the POP3 account).
    virtual void setSmtpCredentials(const QString& userId, const QString& password) = 0;
    virtual int NMailSmtpSendMail(const QString& server, const QString& to, const QString& cc,
                                  const QString& bcc, const QString& from, const QString& subject,
                                  const QString& body, const QString& header,
                                  const QString& attachments, int flag) = 0;
    virtual int NMailGetMessage(int handle, QString& text, int& size) = 0;
    // The bytes the last accepted send handed to the SMTP server, kept as the original of
    // its sent-box record; empty when the library cannot tell.
    virtual QByteArray sentMessage() { return {}; }
};

// The program's NMail behind SendLibrary.
class NMailSendLibrary final : public SendLibrary {
public:
    explicit NMailSendLibrary(NMail& mail) : m_mail(mail) {}
    void setSmtpCredentials(const QString& userId, const QString& password) override;
    int NMailSmtpSendMail(const QString& server, const QString& to, const QString& cc,
                          const QString& bcc, const QString& from, const QString& subject,
                          const QString& body, const QString& header, const QString& attachments,
                          int flag) override;
    int NMailGetMessage(int handle, QString& text, int& size) override;
    QByteArray sentMessage() override;

private:
    NMail& m_mail;
};

// What a send reads from and writes to the windows: the compose window's fields (read at the
// moment they are used), the account and partner windows, the main window's clock and
// sent-count box, and the compose window's status line. The compose window implements it;
// tests fake it.
class SendHost {
public:
    virtual ~SendHost() = default;

    // The compose window.
    virtual QString recipientText() = 0;
    virtual QString subjectText() = 0;
    virtual QString bodyText() = 0;
    virtual void setBodyText(const QString& text) = 0;
    virtual QString attachmentText() = 0;
    virtual bool fortuneOn() = 0;
    virtual bool bulkOn() = 0;
    // The name list as it was filled: per line, the address-book record number
    // (RecordNumbers) and the record as it was read then.
    virtual QList<AddressEntry> nameListEntries() = 0;
    // The address book no longer holds what the name list shows: fill the list again.
    virtual void nameListChanged() = 0;
    // The status line, painted at once (the send does not yield to the event loop).
    virtual void setStatus(const QString& text) = 0;
    // Empties recipient, subject, body and attachment list, clears the fortune and bulk
    // options and closes the window. Not called when a message could not be kept: the
    // window then stays open with everything in it.
    virtual void finish() = 0;

    // The account window's ID and password boxes, for SMTP AUTH.
    virtual QString accountUserId() = 0;
    virtual QString accountPassword() = 0;
    // The partner window's address box as it stands (the send trims it).
    virtual QString partnerAddress() = 0;
    // The main window's clock text, and its sent-count box (left alone when there is no
    // main window).
    virtual QString clockText() = 0;
    virtual void showSentCount(const QString& text) = 0;
};

// How a send ended.
struct SendOutcome {
    int messages = 0;         // messages the run meant to send (1, or the bulk count)
    int sent = 0;             // accepted by the server
    int failed = 0;           // refused or not delivered ("送信エラー" shown)
    int notStored = 0;        // history record could not be written: reported, not sent
    int noAddress = 0;        // bulk: the address-book entry could not be read: reported, not sent
    bool listChanged = false; // bulk: the address book changed under the list: nothing sent
    // The window stays open: something the user wrote was not kept.
    bool keptOpen() const { return notStored > 0 || noAddress > 0 || listChanged; }
};

// One press of the compose window's send button: for each message decide whether it goes to
// the special partner, count it, store it in the partner or others sent box, add the fortune
// when asked, and hand it to the mail library; then say "送信完了です。" and close the window.
// Runs on the calling thread without yielding to the event loop.
//
// A message the server accepted keeps the bytes it was handed as the original of its record
// (Originals::keep); one that could not be kept is reported, the send still counts as done.
//
// The count and the history record are written before the hand-over, so a message whose send
// fails is still stored and counted; a message whose record cannot be written is reported and
// not sent (and not counted), so nothing goes out that the user cannot find again, and the
// window then stays open with everything the user wrote. A bulk send reads every address
// before the first message, and only when each line of the name list still names the record
// it showed; otherwise it sends nothing and the list is filled again.
class SendOperation {
public:
    // `random` draws one uniform number in [0, 1) per fortune; by default a generator seeded
    // from the clock.
    SendOperation(SendLibrary& library, SendHost& host, std::function<float()> random = {});

    SendOutcome run(const ServerSettings& settings);

    // The twelve fortunes (index 1 … 12 is entry 0 … 11), the banner before them, and the
    // index a draw r in [0, 1) gives: floor(r × 12 + 1), held in 1 … 12.
    static const QStringList& fortunes();
    static QString fortuneBanner();
    static int fortuneIndex(float r);
    // The body with one fortune appended: body, CR LF CR LF, banner, CR LF CR LF, fortune.
    static QString withFortune(const QString& body, int index);

    static QString sendingText(); // "メールを送信中です。しばらくお待ち下さい。"
    static QString progressText(int number, int total); // "送信中 3/120"
    static QString finishedText();                      // "送信完了です。"
    static QString notKeptText();     // the status line when the window stays open
    static QString listChangedText(); // the word when the address book changed under the list

private:
    // Steps of one message after its recipient is known.
    void sendOne(const ServerSettings& settings, const QString& recipient, const QString& userBody,
                 SendOutcome& outcome);
    void countPartnerSend();
    // The bulk recipients, one per line of the name list; false when they cannot be trusted.
    bool readBulkRecipients(QStringList& recipients, SendOutcome& outcome);

    std::function<float()> m_random;
    SendLibrary& m_library;
    SendHost& m_host;
};

} // namespace kiku
