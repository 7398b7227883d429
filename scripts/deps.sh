#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent: it does nothing when all are
# present, and runs apt-get update only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libgl-dev
  zlib1g-dev libdeflate-dev libsodium-dev libisofs-dev libburn-dev libacl1-dev libjte-dev libbz2-dev libxxhash-dev
  googletest libgtest-dev
  xorriso genisoimage
  xvfb xauth imagemagick fonts-dejavu-core
  clang libclang-rt-14-dev openssl
  pigz dar time
  exfat-fuse exfatprogs fuse mount
  adwaita-icon-theme desktop-file-utils shared-mime-info appstream man-db xdg-utils dpkg-dev file dbus-daemon
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
