#!/usr/bin/env bash
# Installs every Debian package that building, running and testing KikuMail need, and does
# nothing else: it never starts, stops, restarts or disables a service and ends no process.
# The tests and the demo run private Dovecot instances on ports of their own, so a system
# Dovecot may be running or not. Idempotent and quick: apt-get is only called when something
# is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  qt6-pdf-dev qt6-image-formats-plugins
  libgl-dev
  libgmime-3.0-dev libssl-dev
  libgtest-dev googletest
  dovecot-core dovecot-pop3d
  python3-aiosmtpd
  mpop msmtp
  openssl
  python3-pil
  poppler-utils
  xvfb xauth
  fonts-noto-cjk
  desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# Packages that ship a service (Dovecot) would start it from their post-install script. A
# policy-rc.d that refuses every action keeps the install from starting, stopping or
# restarting any service; it exists only while apt-get runs, and one the system already has
# is left as it is.
policy=/usr/sbin/policy-rc.d
ours=""
if [ ! -e "$policy" ]; then
  blocker=$(mktemp)
  printf '#!/bin/sh\n# Placed by KikuMail'"'"'s scripts/setup.sh while it installs packages.\nexit 101\n' >"$blocker"
  $SUDO install -m 0755 "$blocker" "$policy"
  rm -f "$blocker"
  ours=$policy
  trap '$SUDO rm -f "$ours"' EXIT
fi
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
if [ -n "$ours" ]; then
  $SUDO rm -f "$ours"
  trap - EXIT
fi
exit 0
