#pragma once

#include <QString>

namespace kiku {

// The reason behind a failed file operation in the user's words, from its errno value:
// Japanese for every reason a user can meet, never the system's English text.
QString systemErrorText(int error);

// What kind of thing stands at `path` when it is not what was wanted: "フォルダ",
// "名前付きパイプ", "デバイス", "ソケット" or "特殊なファイル". Empty when nothing is there
// or it is a regular file.
QString fileKindText(const QString& path);

} // namespace kiku
