#!/usr/bin/env bash
# Regenerates the README's pictures of every window (docs/*.png): builds, assembles a
# throw-away demo program folder, starts the demo's servers for it and lets kikushots open
# each window under Xvfb and save it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" test
folder=$(mktemp -d)
trap 'kill "${demo:-0}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$folder"' EXIT
"$top/scripts/assemble.sh" "$top/build/test/kikumail" "$folder"
# The demo's servers run until their standard input closes.
coproc DEMO { /usr/bin/python3 "$top/scripts/demo.py" "$folder" --servers-only; }
demo=$DEMO_PID
read -r ready _ <&"${DEMO[0]}"
[ "$ready" = READY ] || { echo "the demo servers did not start" >&2; exit 1; }
# Grown hearts for the picture of the main window (the folder is thrown away afterwards).
printf '[EXEINI]\r\nNAME=250\r\nNAME2=240\r\n' > "$folder/★MailData/iniCuntUp.ini"
export ASAN_OPTIONS=detect_leaks=0
xvfb-run -a -s "-screen 0 1280x1024x24" "$top/build/test/tools/kikushots" "$folder" "$top/docs"
