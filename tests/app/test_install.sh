#!/usr/bin/env bash
# The installed program: `cmake --install` into a temporary root lays out the executable,
# its pictures, a valid desktop entry and metainfo and the hicolor icons; the installed
# program, started on a fresh XDG_DATA_HOME, lays out its program folder there on the first
# start and leaves what the user changed alone on the next.
#   tests/app/test_install.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: test_install.sh BUILD_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

root=$work/root
DESTDIR=$root cmake --install "$build" >/dev/null
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
top=$root$prefix
id=io.github.kikumail.KikuMail

[ -x "$top/bin/kikumail" ] || fail "no $prefix/bin/kikumail"
desktop-file-validate "$top/share/applications/$id.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$top/share/metainfo/$id.metainfo.xml" >/dev/null ||
  fail "metainfo: $(appstreamcli validate --no-net "$top/share/metainfo/$id.metainfo.xml")"
for size in 16 22 24 32 48 64 128 256; do
  icon=$top/share/icons/hicolor/${size}x${size}/apps/$id.png
  file "$icon" | grep -q "PNG image data, $size x $size" || fail "icon $size: $(file "$icon")"
done
for picture in R.gif Background.gif KikuMail.html KikuMail.png; do
  [ -f "$top/share/kikumail/Data/$picture" ] || fail "no installed picture $picture"
done

# First start, from a folder elsewhere, as a desktop launcher starts it.
run() {
  (cd "$work" && env -u KIKUMAIL_HOME XDG_DATA_HOME="$work/xdg" HOME="$work/home" \
     QT_QPA_PLATFORM=offscreen KIKU_TEST_QUIT_AFTER_MS=300 "$top/bin/kikumail")
}
mkdir -p "$work/home"
run || fail "the installed program did not start and end cleanly"
home=$work/xdg/KikuMail
for folder in "★MailData" "添付フォルダ" "■TextQuickSave" "Data"; do
  [ -d "$home/$folder" ] || fail "no $folder in the program folder"
done
cmp -s "$home/Data/R.gif" "$top/share/kikumail/Data/R.gif" || fail "pictures not copied"
[ "$(ls "$home/Data" | wc -l)" -eq "$(ls "$top/share/kikumail/Data" | wc -l)" ] ||
  fail "not every picture was copied"

# The next start keeps the user's own picture, settings and data folder spelling.
printf 'mine' >"$home/Data/R.gif"
rm "$home/Data/New.gif"
mv "$home/★MailData" "$home/★MAilData"
printf 'SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=me@example.jp\r\nAPOP=0\r\n' \
  >"$home/zadiru.ini"
run || fail "the second start failed"
[ "$(cat "$home/Data/R.gif")" = mine ] || fail "the user's picture was overwritten"
[ -f "$home/Data/New.gif" ] || fail "a missing picture was not added again"
[ ! -e "$home/★MailData" ] || fail "a second data folder was made beside ★MAilData"
grep -q '^POP3=pop.example.jp' "$home/zadiru.ini" || fail "zadiru.ini changed"
echo "installed program: every check passed"
