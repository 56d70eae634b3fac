#!/usr/bin/env bash
# Installs the Debian packages Lumivane needs to build and test, and only those that are missing.
# Safe to run any number of times. The tests also use ffmpeg and ffprobe for fixtures, lsdvd and
# libdvdread/libdvdnav to read discs back, and the locale sources (locales) to compile a German
# locale with localedef.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  qt6-base-dev
  flex bison
  libgtest-dev libgmock-dev
  ffmpeg libdvdread-dev libdvdnav-dev lsdvd xvfb xauth
  locales
)

missing=()
for p in "${packages[@]}"; do
  status="$(dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null || true)"
  [[ "$status" == *"install ok installed"* ]] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Run this script as root, or install sudo, to install them." >&2
    exit 1
  fi
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
