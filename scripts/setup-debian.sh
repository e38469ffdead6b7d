#!/usr/bin/env bash
# Installs what building and running the applet under Wine needs on Debian 12,
# and only what is missing. Run as root.
#   scripts/setup-debian.sh [more packages...]
set -euo pipefail

packages=(cmake make g++-mingw-w64-i686-posix wine wine32:i386 xvfb xdotool x11-utils
          googletest imagemagick procps libxinerama1:i386 fonts-wqy-microhei nsis wixl msitools python3
          osslsigncode openssl 7zip "$@")

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "These packages are missing; run this as root to install them." >&2
  exit 1
fi
dpkg --add-architecture i386
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
