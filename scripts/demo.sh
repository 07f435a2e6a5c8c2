#!/usr/bin/env bash
# The demo: assembles a demo program folder, starts a private POP3 and SMTP server on
# 127.0.0.1 for it and starts KikuMail there; closing KikuMail (or Ctrl-C) stops both.
#   scripts/demo.sh BINARY     (./run --demo calls it)
# The folder is build/demo/KikuMail, or $KIKUMAIL_HOME; its mail is kept between runs.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:?usage: demo.sh BINARY}
folder=${KIKUMAIL_HOME:-$top/build/demo/KikuMail}
"$top/scripts/assemble.sh" "$binary" "$folder"
echo "Demo program folder: $folder"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "KikuMail needs a graphical display, and none is set (DISPLAY is empty)." >&2
  exit 1
fi
exec /usr/bin/python3 "$top/scripts/demo.py" "$folder" --program "$folder/kikumail"
