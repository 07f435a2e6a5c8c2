#include "core/boxexportui.h"

#include "base/filedialogs.h"
#include "base/prompter.h"
#include "exchange/boxwall.h"
#include "exchange/wholemessage.h"
#include "settings/serversettings.h"
#include "viewer/tyakuform.h"

#include <QAction>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QProgressDialog>
#include <QTreeWidget>

#include <functional>

namespace kiku {

namespace {

const QString kExportActionName = QStringLiteral("exportBoxAction");

// The target the user names; empty when cancelled or an existing one is not to be replaced.
// `overwrite` says whether the user agreed to replace it.
QString askTarget(QWidget* parent, const QString& suggested, bool& overwrite) {
    overwrite = false;
    const QString target = FileDialogs::current().exportTarget(parent, suggested);
    if (target.isEmpty())
        return {};
    if (QFileInfo(target).exists()) {
        if (!Prompter::current().askYesNo(QStringLiteral("%1 は既にあります。置き換えますか？")
                                              .arg(QDir::toNativeSeparators(target))))
            return {};
        overwrite = true;
    }
    return target;
}

void tellOutcome(const ExportResult& result, const QString& target) {
    if (result.cancelled)
        return;
    if (!result.ok) {
        Prompter::current().warn(QStringLiteral("書き出せませんでした: ") + result.error);
        return;
    }
    Prompter::current().notify(QStringLiteral("%1 通のメールを %2 に書き出しました。")
                                   .arg(result.messages)
                                   .arg(QDir::toNativeSeparators(target)));
}

// The options every export from a window uses: the kept originals, the account as sender.
// Nothing when the originals cannot be read: an export then would lose their headers.
std::optional<ExportOptions> programOptions(bool overwrite) {
    ExportOptions options;
    options.overwrite = overwrite;
    StoreResult loaded;
    options.originals = keptOriginals(loaded);
    if (!loaded) {
        Prompter::current().warn(QStringLiteral("書き出せませんでした: ") + loaded.error);
        return std::nullopt;
    }
    options.accountAddress = ServerSettings::current().senderAddress;
    return options;
}

// Runs `work` with a progress window that can cancel it.
ExportResult exportWithProgress(QWidget* parent, const QString& label, ExportOptions options,
                                const std::function<ExportResult(const ExportOptions&)>& work) {
    QProgressDialog progress(label, QStringLiteral("キャンセル"), 0, 100, parent);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    options.progress = [&progress](qint64 done, qint64 total) {
        // Setting the value lets the window paint and take the cancel press.
        progress.setMaximum(int(qMax<qint64>(total, 1)));
        progress.setValue(int(done));
        return !progress.wasCanceled();
    };
    return work(options);
}

} // namespace

ExportResult exportWithProgress(QWidget* parent, const QList<Box>& boxes, const QString& target,
                                ExportOptions options) {
    return exportWithProgress(parent, QStringLiteral("メールを書き出しています…"),
                              std::move(options), [&](const ExportOptions& withProgress) {
                                  return exportBoxes(boxes, target, withProgress);
                              });
}

void offerBoxExport(TyakuForm* viewer) {
    QTreeWidget* list = viewer->mailList();
    if (list->findChild<QAction*>(kExportActionName))
        return;
    auto* action = new QAction(QStringLiteral("このボックスを書き出す…"), list);
    action->setObjectName(kExportActionName);
    list->addAction(action);
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    QObject::connect(action, &QAction::triggered, viewer, [viewer = QPointer<TyakuForm>(viewer)] {
        if (viewer)
            exportBoxOnShow(viewer);
    });
}

void exportBoxOnShow(TyakuForm* viewer) {
    const std::optional<Box> box = viewer->currentBox();
    if (!box)
        return;
    QString suggested = QString::fromLatin1(boxInfo(*box).fileName);
    suggested.chop(5); // ".data"
    bool overwrite = false;
    const QString target = askTarget(viewer, suggested + QStringLiteral(".mbox"), overwrite);
    if (target.isEmpty())
        return;
    std::optional<ExportOptions> options = programOptions(overwrite);
    if (!options)
        return;
    options->format = exportFormatFor(target);
    tellOutcome(exportWithProgress(viewer, {*box}, target, *options), target);
}

void remindBeforeWall(QWidget* parent) {
    const QDate today = QDate::currentDate();
    const QList<boxwall::NearlyFull> boxes = boxwall::nearlyFullBoxes();
    if (boxes.isEmpty() || !boxwall::reminderDue(today))
        return;
    boxwall::rememberReminder(today);
    for (const boxwall::NearlyFull& nearly : boxes) {
        if (!Prompter::current().askYesNo(boxwall::reminderText(nearly)))
            continue;
        QString suggested = QString::fromLatin1(boxInfo(nearly.box).fileName);
        suggested.chop(5);
        bool overwrite = false;
        const QString target =
            askTarget(parent,
                      suggested + QStringLiteral("-") + today.toString(QStringLiteral("yyyyMMdd")) +
                          QStringLiteral(".mbox"),
                      overwrite);
        if (target.isEmpty())
            continue;
        if (exportFormatFor(target) != ExportFormat::Mbox) {
            Prompter::current().warn(
                QStringLiteral("名前が .mbox で終わる mbox ファイルを指定してください。"));
            continue;
        }
        const std::optional<ExportOptions> options = programOptions(overwrite);
        if (!options)
            continue;
        const int oldest = nearly.messages - boxwall::kKeep;
        tellOutcome(exportWithProgress(parent, QStringLiteral("古いメールを書き出しています…"),
                                       *options,
                                       [&](const ExportOptions& withProgress) {
                                           return boxwall::moveOldestToMbox(nearly.box, oldest,
                                                                            target, withProgress);
                                       }),
                    target);
    }
}

} // namespace kiku
