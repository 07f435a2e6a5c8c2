#include "exchange/boxwall.h"

#include "base/paths.h"

#include <QSettings>

namespace kiku::boxwall {

namespace {

const QString kSettingsFile = QStringLiteral("\\★MailData\\KikuMailState.ini");
const QString kReminderKey = QStringLiteral("BoxWall/LastReminder");

} // namespace

QList<NearlyFull> nearlyFullBoxes() {
    QList<NearlyFull> out;
    for (Box box : boxesInFileOrder()) {
        int count = 0;
        if (Mailbox(box).count(count) && count > kWarnAbove)
            out.append({box, count});
    }
    return out;
}

QString reminderText(const NearlyFull& box) {
    return QStringLiteral("メールボックス %1 のメールが %2 件になりました。1 つのボックスには "
                          "32767 件までしか入りません。\n古い %3 件を mbox ファイルに書き出して"
                          "から、ボックスから削除しますか？")
        .arg(QString::fromLatin1(boxInfo(box.box).fileName))
        .arg(box.messages)
        .arg(box.messages - kKeep);
}

bool reminderDue(const QDate& today) {
    const QSettings settings(ProgramFolder::resolve(kSettingsFile), QSettings::IniFormat);
    return settings.value(kReminderKey).toString() != today.toString(Qt::ISODate);
}

void rememberReminder(const QDate& today) {
    QSettings settings(ProgramFolder::resolve(kSettingsFile), QSettings::IniFormat);
    settings.setValue(kReminderKey, today.toString(Qt::ISODate));
}

ExportResult moveOldestToMbox(Box box, int messages, const QString& target, ExportOptions options) {
    options.format = ExportFormat::Mbox;
    options.oldest = messages;
    ExportResult result = exportBoxes({box}, target, options);
    if (!result.ok || result.messages == 0)
        return result;
    // Exactly what went into the file goes out of the box.
    if (const StoreResult removed = Mailbox(box).removeOldest(int(result.messages)); !removed) {
        result.ok = false;
        result.error =
            removed.error + QStringLiteral("（書き出した %1 はそのまま残っています）").arg(target);
    }
    return result;
}

} // namespace kiku::boxwall
