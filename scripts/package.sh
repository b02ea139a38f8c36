#!/usr/bin/env bash
# The release package: dist/VelmoraneService-<version>.zip, which unpacks
# into the installation layout below an installation root:
#   Velmorane\VelmoraneService.exe
#   Velmorane\VelmoraneConsole.exe   the operator's console: check, status, run
#   Velmorane\README.txt      the operator's short guide
#   Velmorane\operators-guide.html   the operator's guide, made from docs/operators-guide.md
#   Velmorane\lib\            empty: the application's jar files go here
#   Velmorane\plugins\        empty
# The zip holds explicit entries for the two empty directories. Beside it,
# dist/SHA256SUMS lists the checksums of the release files.
#
# Environment: BUILD_DIR (default: build), DIST_DIR (default: dist),
# VELMORANE_SKIP_BUILD=1 to package what BUILD_DIR already holds, and the
# signing key of scripts/sign.sh (VELMORANE_SIGN_PKCS12, ...): the shipped
# executables are signed when it is given, and left unsigned otherwise.
set -euo pipefail
# First of all, and without starting a program (see sign-password.sh).
case "$0" in */*) scripts_dir="${0%/*}" ;; *) scripts_dir=. ;; esac
. "$scripts_dir/sign-password.sh"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
dist="${DIST_DIR:-$root/dist}"

version="$(sed -n 's/^project(VelmoraneService VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
[ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }

if [ "${VELMORANE_SKIP_BUILD:-0}" != 1 ]; then
  BUILD_DIR="$build" "$root/scripts/build.sh" >/dev/null
fi
[ -f "$build/bin/VelmoraneService.exe" ] || { echo "$build/bin/VelmoraneService.exe is missing" >&2; exit 1; }

stage="$(mktemp -d /tmp/velmorane-package-XXXXXX)"
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/Velmorane/lib" "$stage/Velmorane/plugins"
executables=(VelmoraneService.exe VelmoraneConsole.exe)
for exe in "${executables[@]}"; do cp "$build/bin/$exe" "$stage/Velmorane/"; done
sign "${executables[@]/#/$stage/Velmorane/}"
# Notepad and every Windows editor read CR LF; the file is kept that way whatever git did to it.
sed -e 's/\r*$/\r/' -e "s/@VERSION@/$version/" "$root/packaging/README.txt" >"$stage/Velmorane/README.txt"
# The guide has one source, the Markdown; the zip carries it as a page any browser opens.
# Debian's python3 is the one python3-markdown (setup.sh) installs into.
/usr/bin/python3 "$root/scripts/guide-html.py" "$root/docs/operators-guide.md" "$version" \
  >"$stage/Velmorane/operators-guide.html"

# Same bytes for the same inputs: fixed times, fixed order, no extra attributes
# (unless signed: a signature holds the time it was made).
stamp="$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)"
find "$stage/Velmorane" -exec env TZ=UTC touch -h -d "@$stamp" {} +

mkdir -p "$dist"
zip_path="$dist/VelmoraneService-$version.zip"
rm -f "$zip_path"
(cd "$stage" && TZ=UTC zip -q -X "$zip_path" Velmorane/ "${executables[@]/#/Velmorane/}" Velmorane/README.txt \
  Velmorane/operators-guide.html Velmorane/lib/ Velmorane/plugins/)
echo "$zip_path"
"$root/scripts/sign.sh" --sums "$dist"
unzip -l "$zip_path"
