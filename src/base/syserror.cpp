#include "base/syserror.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>

namespace kiku {

QString systemErrorText(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("ファイルまたはフォルダが見つかりません");
    case EACCES:
    case EPERM:
        return QStringLiteral("アクセスが拒否されました");
    case EROFS:
        return QStringLiteral("読み取り専用の場所です");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("ディスクの空き容量が足りません");
    case EIO:
        return QStringLiteral("ディスクの読み書きに失敗しました");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("ファイルが使用中です");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("開いているファイルが多すぎます");
    case EFBIG:
        return QStringLiteral("ファイルが大きすぎます");
    case ENAMETOOLONG:
        return QStringLiteral("ファイル名が長すぎます");
    case EEXIST:
        return QStringLiteral("同じ名前のファイルがすでにあります");
    case EISDIR:
        return QStringLiteral("フォルダです");
    case ELOOP:
        return QStringLiteral("リンクが循環しています");
    case EINVAL:
        return QStringLiteral("この名前や操作は使えません");
    case ENXIO:
    case ENODEV:
        return QStringLiteral("装置が見つかりません");
    case ENOMEM:
        return QStringLiteral("メモリが足りません");
    case EAGAIN:
    case EINTR:
        return QStringLiteral("一時的に使えません。もう一度やり直してください");
    case EXDEV:
        return QStringLiteral("別のドライブへは移せません");
    case ENOTEMPTY:
        return QStringLiteral("フォルダが空ではありません");
    case 0:
        return QStringLiteral("原因不明のエラーです");
    default:
        return QStringLiteral("システムエラー（番号 %1）").arg(error);
    }
}

QString fileKindText(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    if (S_ISREG(st.st_mode))
        return {};
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("フォルダ");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("名前付きパイプ");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("デバイス");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("ソケット");
    return QStringLiteral("特殊なファイル");
}

} // namespace kiku
