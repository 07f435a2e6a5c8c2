#include "core/mailimport.h"

#include "base/paths.h"
#include "base/prompter.h"
#include "exchange/exportcommand.h"
#include "exchange/importsource.h"
#include "maillib/nmail.h"
#include "settings/profile.h"

#include <QDir>

namespace kiku {

SettingsReceiveHost::SettingsReceiveHost()
    : m_partner(ReadSetting(paths::kPartnerFile, QStringLiteral("NAME"))),
      m_count(ReadSetting(paths::kCounterFile, QStringLiteral("NAME"))) {}

ImportOutcome importMail(const QString& path, NMail& mail, ReceiveHost& host,
                         const std::function<bool(qint64, qint64)>& progress) {
    ImportOutcome outcome;
    ImportSource source;
    if (!source.open(path, outcome.error)) {
        outcome.ok = false;
        return outcome;
    }
    NMailReceiveLibrary library(mail);
    for (;;) {
        const QList<QByteArray> batch = source.nextBatch();
        if (batch.isEmpty())
            break;
        const ReceiveOutcome run = ReceiveCycle(library, host).importMessages(batch);
        outcome.stored += run.stored;
        outcome.before += run.storedBefore;
        if (run.stopped || run.notDurable) {
            outcome.ok = false;
            outcome.error = QStringLiteral("取り込みを中止しました。");
            break;
        }
        if (progress && !progress(source.doneBytes(), source.totalBytes())) {
            outcome.cancelled = true;
            break;
        }
    }
    outcome.leftOut = source.leftOut();
    if (outcome.ok && !source.error().isEmpty()) {
        outcome.ok = false;
        outcome.error = source.error();
    }
    return outcome;
}

namespace {

// What the run would show in message boxes goes to the terminal.
class TerminalPrompter : public Prompter {
public:
    QStringList texts;
    bool askYesNo(const QString&) override { return false; }
    void notify(const QString& text, const QString&) override { texts << text; }
};

} // namespace

CommandOutcome runImportCommand(const QStringList& arguments) {
    const qsizetype at = arguments.indexOf(QStringLiteral("--import"));
    if (at < 0 || at + 1 >= arguments.size())
        return {2, QStringLiteral("使い方: kikumail [--home DIR] --import PATH\n"
                                  "  PATH  mbox ファイル、Maildir、.eml ファイルのフォルダ、"
                                  "または .eml ファイル")};
    if (!QDir(ProgramFolder::resolve(paths::kDataFolder)).exists())
        return {1, QStringLiteral("データフォルダ ★MailData がありません: %1")
                       .arg(QDir::toNativeSeparators(ProgramFolder::path()))};
    TerminalPrompter prompter;
    Prompter::install(&prompter);
    NMail mail;
    mail.NMailInitializeWinSock();
    SettingsReceiveHost host;
    const ImportOutcome outcome = importMail(arguments.at(at + 1), mail, host);
    Prompter::install(nullptr);
    QString text = QStringLiteral("%1 通のメールを取り込みました（取り込み済みの %2 通は"
                                  "そのままです）。")
                       .arg(outcome.stored)
                       .arg(outcome.before);
    if (outcome.leftOut > 0)
        text += QStringLiteral("\n大きすぎる %1 通は取り込みませんでした。").arg(outcome.leftOut);
    for (const QString& notice : std::as_const(prompter.texts))
        text += QLatin1Char('\n') + notice;
    if (!outcome.ok)
        return {1, outcome.error + QLatin1Char('\n') + text};
    return {0, text};
}

} // namespace kiku
