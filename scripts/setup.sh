#!/usr/bin/env bash
# Installs every Debian package that building, running and testing KikuMail need.
# Idempotent and quick: apt-get is only called when something is missing.
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
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# Dovecot's own service is not wanted: the tests start private instances.
if command -v systemctl >/dev/null 2>&1; then $SUDO systemctl disable --now dovecot >/dev/null 2>&1 || true; fi
if pgrep -x dovecot >/dev/null 2>&1; then $SUDO pkill -x dovecot || true; fi
exit 0
