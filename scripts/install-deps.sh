#!/usr/bin/env bash
# Installs what building, testing and benchmarking need on Debian 12.
set -euo pipefail
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake pkg-config git ca-certificates \
  libgtest-dev googletest libsoxr-dev \
  ffmpeg mediainfo libimage-exiftool-perl \
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
  gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-plugins-base-apps \
  g++-mingw-w64-i686 binutils-mingw-w64-i686 \
  clang libclang-rt-14-dev python3 python3-matplotlib time python3-gi gir1.2-gstreamer-1.0 >/dev/null
