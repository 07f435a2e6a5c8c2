#!/usr/bin/env bash
# Lays out a runnable program folder: the program, its Data/ pictures and home page, the empty data
# folders beside it. Whatever the user already has there is kept: data folders and pictures
# are only added when missing; only the program file itself is replaced by the new build.
#   scripts/assemble.sh BINARY FOLDER
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:?usage: assemble.sh BINARY FOLDER}
folder=${2:?usage: assemble.sh BINARY FOLDER}

mkdir -p "$folder/Data" "$folder/★MailData" "$folder/添付フォルダ" "$folder/■TextQuickSave"
for picture in "$top"/data/*.gif "$top"/data/*.png "$top"/data/*.html; do
  [ -e "$picture" ] || continue
  target="$folder/Data/$(basename "$picture")"
  [ -e "$target" ] || cp "$picture" "$target"
done
# Replace the program atomically, so a running copy keeps working.
install -m 0755 "$binary" "$folder/.kikumail.new"
mv -f "$folder/.kikumail.new" "$folder/kikumail"
