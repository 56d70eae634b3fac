#!/usr/bin/env bash
# Installs the Debian packages Lumivane needs to build and test, and only those that are missing.
# Safe to run any number of times.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  qt6-base-dev
  flex bison
  libgtest-dev libgmock-dev
  ffmpeg libdvdread-dev libdvdnav-dev lsdvd xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
