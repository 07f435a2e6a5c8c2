#include "exchange/exportcommand.h"

#include "base/paths.h"
#include "exchange/boxexport.h"
#include "exchange/wholemessage.h"
#include "settings/serversettings.h"

#include <QDir>
#include <QFileInfo>

namespace kiku {

namespace {

const QString kUsage = QStringLiteral(
    "使い方: kikumail [--home DIR] --export BOX FILE [--overwrite]\n"
    "  BOX  vbmdata2.data … vbmdata6.data のどれか、または all\n"
    "  FILE .mbox で終わる名前なら mbox ファイル、それ以外は .eml ファイルのフォルダ");

} // namespace

CommandLineTask commandLineTask(const QStringList& arguments) {
    for (const QString& a : arguments.mid(1)) {
        if (a == QLatin1String("--export"))
            return CommandLineTask::Export;
        if (a == QLatin1String("--import"))
            return CommandLineTask::Import;
    }
    return CommandLineTask::None;
}

CommandOutcome runExportCommand(const QStringList& arguments) {
    const qsizetype at = arguments.indexOf(QStringLiteral("--export"));
    if (at < 0 || at + 2 >= arguments.size() ||
        arguments.at(at + 1).startsWith(QLatin1String("--")) ||
        arguments.at(at + 2).startsWith(QLatin1String("--")))
        return {2, kUsage};
    const QString boxName = arguments.at(at + 1);
    const QString target = arguments.at(at + 2);

    QList<Box> boxes;
    if (boxName.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
        boxes = boxesInFileOrder();
    } else if (const std::optional<Box> box = boxFromFileName(boxName)) {
        boxes = {*box};
    } else {
        return {2, QStringLiteral("%1 というメールボックスはありません。\n").arg(boxName) + kUsage};
    }

    ExportOptions options;
    options.format = exportFormatFor(target);
    options.overwrite = arguments.contains(QStringLiteral("--overwrite"));
    StoreResult loaded;
    options.originals = keptOriginals(loaded);
    if (!loaded)
        return {1, QStringLiteral("書き出せませんでした: ") + loaded.error};
    const QString ownSettings = QDir(ProgramFolder::path()).filePath(paths::kServerSettingsFile);
    options.accountAddress =
        LoadServerSettings(QFileInfo::exists(ownSettings) ? ownSettings
                                                          : paths::kServerSettingsFile)
            .senderAddress;

    const ExportResult result = exportBoxes(boxes, target, options);
    if (!result.ok)
        return {1, QStringLiteral("書き出せませんでした: ") + result.error};
    return {0, QStringLiteral("%1 通のメールを %2 に書き出しました。")
                   .arg(result.messages)
                   .arg(QDir::toNativeSeparators(target))};
}

} // namespace kiku
