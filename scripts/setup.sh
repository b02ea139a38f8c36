#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine (run as root,
# or with sudo available). Does nothing when everything is there already.
set -euo pipefail

packages=(
  cmake make gcc g++ python3 python3-pytest python3-markdown
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  gcc-mingw-w64-i686-posix
  wine wine64 wine64-tools libwine-dev
  openjdk-17-jdk-headless googletest
  zip unzip locales osslsigncode openssl strace
  wixl msitools gnuplot-nox
  clang-14 libclang-rt-14-dev
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# The unit tests also run with a double-byte ANSI code page, which Wine takes
# from the Unix locale; that locale must exist for file names to work in it.
need_locale() { ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; }
make_locale() { need_locale && $sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 || true; }

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  make_locale
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
make_locale
