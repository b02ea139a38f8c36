#!/usr/bin/env bash
# The Windows Installer package: dist/<name>-<version>-x64.msi, built with
# wixl from packaging/VelmoraneService.wxs. It installs
#   %ProgramFiles%\VelmoraneService\Velmorane\VelmoraneService.exe, VelmoraneConsole.exe, README.txt,
#     operators-guide.html (made from docs/operators-guide.md, as in the zip),
#     lib\ (the baked-in jars), plugins\
#   %ProgramFiles%\VelmoraneService\jdk\jre\ (the baked-in Java runtime)
# and registers the service as "VelmoraneService.exe install" does.
#
# Usage: scripts/package-msi.sh [--lib DIR] [--runtime DIR] [--java-options "..."]
#                               [--version V] [--name NAME]
#   --lib DIR            bake in an application: the *.jar files of DIR go into lib\;
#                        the service then starts at the end of a first installation
#   --runtime DIR        a 64-bit Java runtime image (DIR\bin\server\jvm.dll) for jdk\jre\
#   --java-options TEXT  JAVA_TOOL_OPTIONS in the service's own environment
#   --version V          the package's version, major.minor.build (default: the service's)
#   --name NAME          the package's product name and file name (default: VelmoraneService)
#
# Environment: BUILD_DIR (default: build), DIST_DIR (default: dist),
# VELMORANE_SKIP_BUILD=1 to package what BUILD_DIR already holds, and the
# signing key of scripts/sign.sh: when it is given, the programs and the
# package are signed. dist/SHA256SUMS is written afresh, as by package.sh.
set -euo pipefail
# First of all, and without starting a program (see sign-password.sh).
case "$0" in */*) scripts_dir="${0%/*}" ;; *) scripts_dir=. ;; esac
. "$scripts_dir/sign-password.sh"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
dist="${DIST_DIR:-$root/dist}"
[[ "$dist" == /* ]] || dist="$PWD/$dist"

# The programs installed into Velmorane\, from the build's bin directory: the
# service first (the package registers it), then any installed beside it.
executables=(VelmoraneService.exe VelmoraneConsole.exe)

usage() {
  sed -n 's/^# \{0,1\}//; /^Usage:/,/^$/p' "$0" >&2
  exit 2
}
fail() {
  echo "package-msi.sh: $*" >&2
  exit 1
}

lib="" runtime="" java_options="" java_options_given=0 version="" name=VelmoraneService
while [ $# -gt 0 ]; do
  case "$1" in
    --lib | --runtime | --java-options | --version | --name) [ $# -ge 2 ] || usage ;;&
    --lib) lib="$2" ;;
    --runtime) runtime="$2" ;;
    --java-options) java_options="$2" java_options_given=1 ;;
    --version) version="$2" ;;
    --name) name="$2" ;;
    *) usage ;;
  esac
  shift 2
done

service_version="$(sed -n 's/^project(VelmoraneService VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
[ -n "$service_version" ] || fail "no version in CMakeLists.txt"
version="${version:-$service_version}"

# ---------------------------------------------------------------- the input
# Windows Installer compares major.minor.build only (a fourth field would be
# ignored, and two packages differing there would not upgrade one another).
number='(0|[1-9][0-9]{0,4})'
if ! [[ "$version" =~ ^$number\.$number\.$number$ ]] ||
  [ "${BASH_REMATCH[1]}" -gt 255 ] || [ "${BASH_REMATCH[2]}" -gt 255 ] || [ "${BASH_REMATCH[3]}" -gt 65535 ]; then
  fail "version '$version' is not a Windows Installer product version: major.minor.build," \
    "major and minor 0 to 255, build 0 to 65535"
fi
[[ "$name" =~ ^[A-Za-z0-9][A-Za-z0-9._-]{0,63}$ ]] ||
  fail "name '$name': letters, digits, '.', '_' and '-', at most 64, beginning with a letter or digit"
jars=()
if [ -n "$lib" ]; then
  [ -d "$lib" ] || fail "--lib $lib: no such folder"
  # The service puts every entry of lib\ whose name ends in ".jar" on the class path.
  while IFS= read -r -d '' jar; do jars+=("$jar"); done < <(find "$lib" -maxdepth 1 -xtype f -name '*.jar' -print0 | sort -z)
  [ ${#jars[@]} -gt 0 ] || fail "--lib $lib: no .jar file in that folder"
fi
if [ -n "$runtime" ]; then
  [ -f "$runtime/bin/server/jvm.dll" ] ||
    fail "--runtime $runtime: no bin/server/jvm.dll there; give the folder of a 64-bit Java runtime image"
fi
if [ "$java_options_given" = 1 ]; then
  [ -n "$java_options" ] || fail "--java-options: empty"
  [[ "$java_options" != *[[:cntrl:]]* ]] || fail "--java-options: control characters (line ends, tabs) can't go into JAVA_TOOL_OPTIONS"
fi
command -v wixl >/dev/null && command -v msibuild >/dev/null || fail "wixl and msibuild are missing: run scripts/setup.sh"

if [ "${VELMORANE_SKIP_BUILD:-0}" != 1 ]; then
  BUILD_DIR="$build" "$root/scripts/build.sh" >/dev/null
fi
[ -f "$build/bin/${executables[0]}" ] || fail "$build/bin/${executables[0]} is missing"

# ---------------------------------------------------------------- the stage
# wixl takes sources only relative to the folder it runs in.
stage="$(mktemp -d /tmp/velmorane-msi-XXXXXX)"
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/base" "$stage/lib" "$stage/root"
cp "$build/bin/${executables[0]}" "$stage/"
# Notepad and every Windows editor read CR LF; the file is kept that way whatever git did to it.
sed -e 's/\r*$/\r/' -e "s/@VERSION@/$service_version/" "$root/packaging/README.txt" >"$stage/base/README.txt"
# README.txt points to the guide beside it.
/usr/bin/python3 "$root/scripts/guide-html.py" "$root/docs/operators-guide.md" "$service_version" \
  >"$stage/base/operators-guide.html"
shipped=("$stage/${executables[0]}")
for program in "${executables[@]:1}"; do
  cp "$build/bin/$program" "$stage/base/"
  shipped+=("$stage/base/$program")
done
sign "${shipped[@]}"
[ ${#jars[@]} -eq 0 ] || cp "${jars[@]}" "$stage/lib/"
if [ -n "$runtime" ]; then
  mkdir -p "$stage/root/jdk/jre"
  cp -R "$runtime/." "$stage/root/jdk/jre/"
fi

cd "$stage"
tree="$root/packaging/file-tree.py"
python3 "$tree" BaseDir BaseFiles base >base.wxs
python3 "$tree" LibDir LibFiles lib >lib.wxs
python3 "$tree" InstallRoot RootFiles root >root.wxs
# The package's settings, included into the Product element.
python3 - "$java_options" >settings.wxi <<'EOF'
import sys
from xml.sax.saxutils import quoteattr
options = sys.argv[1]
prop = f'<Property Id="VL_JAVA_OPTIONS_DEFAULT" Value={quoteattr(options)}/>' if options else ""
print(f'<?xml version="1.0" encoding="utf-8"?>\n<Include>{prop}</Include>')
EOF

start_default=0
[ ${#jars[@]} -eq 0 ] || start_default=1
wixl -a x64 -o package.msi \
  -D ProductName="$name" -D Version="$version" -D StartDefault="$start_default" \
  -D ServiceExe=VelmoraneService.exe \
  "$root/packaging/VelmoraneService.wxs" base.wxs lib.wxs root.wxs || fail "wixl failed"

# What wixl 0.101 cannot write, set in the tables afterwards (packaging/tables.sql).
names=() texts=()
while IFS= read -r query; do
  [ -n "$query" ] && [ "${query:0:1}" != "#" ] || continue
  if [[ "$query" =~ ^(@[A-Z_]+@)\ =\ (.*)$ ]]; then
    names+=("${BASH_REMATCH[1]}") texts+=("${BASH_REMATCH[2]}")
    continue
  fi
  for i in "${!names[@]}"; do query="${query//"${names[i]}"/"${texts[i]}"}"; done
  msibuild package.msi -q "$query" || fail "msibuild failed: $query"
done <"$root/packaging/tables.sql"

sign package.msi

mkdir -p "$dist"
msi_path="$dist/$name-$version-x64.msi"
mv package.msi "$msi_path"
echo "$msi_path"
"$root/scripts/sign.sh" --sums "$dist"
