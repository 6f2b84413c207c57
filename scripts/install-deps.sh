#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian 12 machine.
# Idempotent: packages already present are not fetched again.
set -euo pipefail

packages=(
  cmake ninja-build make g++ pkg-config python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  googletest libgtest-dev
  openjdk-17-jdk-headless openjdk-17-jre
  libgtk-3-0 xdotool
  libopenjfx-java libopenjfx-jni
  clang-14 libfuzzer-14-dev libclang-rt-14-dev
  wine wine64 wine32:i386 xvfb xauth x11-utils
  wixl msitools lintian desktop-file-utils binutils osslsigncode openssl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
