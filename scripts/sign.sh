#!/usr/bin/env bash
# Authenticode signatures and checksums for the release scripts.
#
#   scripts/sign.sh FILE...      signs each file in place: executables, DLLs,
#                                Windows Installer packages (SHA-256)
#   scripts/sign.sh --password-fd N FILE...
#                                the same, the password read from descriptor N
#                                (to its end) instead of VELMORANE_SIGN_PASSWORD:
#                                how package.sh and package-msi.sh hand it on
#   scripts/sign.sh --sums DIR   writes DIR/SHA256SUMS over every other file
#                                in DIR (sha256sum's format)
#
# The signing key comes from the environment only, never from the command line:
#   VELMORANE_SIGN_PKCS12         PKCS#12 file (.pfx/.p12): the private key, the
#                                 code-signing certificate and its intermediates
#   VELMORANE_SIGN_PASSWORD       its password (set it empty for none)
#   VELMORANE_SIGN_TIMESTAMP_URL  optional RFC 3161 time-stamping server; nothing
#                                 is sent anywhere unless it is set
# Without VELMORANE_SIGN_PKCS12 the files stay as they are and one line on
# stderr says so.
{ set +x; } 2>/dev/null   # the password never reaches a trace
set -euo pipefail

if [ "${1:-}" = --sums ]; then
  dir="${2:?usage: sign.sh --sums DIR}"
  tmp="$(mktemp "$dir/.SHA256SUMS.XXXXXX")"
  (cd "$dir" && find . -maxdepth 1 -type f ! -name SHA256SUMS ! -name '.SHA256SUMS.*' -printf '%f\n' |
    LC_ALL=C sort | xargs -r -d '\n' sha256sum --) >"$tmp"
  chmod 644 "$tmp"
  mv "$tmp" "$dir/SHA256SUMS"
  exit 0
fi

# The password: from the descriptor a packaging script gives, else from the
# environment. Either way it stays in this shell: no child gets it in its
# environment, and osslsigncode reads it from a pipe written by the shell's own
# printf, so it is on no command line and in no file.
password_set=""
if [ "${1:-}" = --password-fd ]; then
  [[ "${2:-}" =~ ^[0-9]+$ ]] || { echo "usage: sign.sh --password-fd N FILE..." >&2; exit 2; }
  fd="$2"
  IFS= read -r -d '' password <&"$fd" || true
  exec {fd}<&-
  password_set=1
  shift 2
elif [ -n "${VELMORANE_SIGN_PASSWORD+set}" ]; then
  password="$VELMORANE_SIGN_PASSWORD"
  password_set=1
fi
unset VELMORANE_SIGN_PASSWORD

[ $# -gt 0 ] || { echo "usage: sign.sh [--password-fd N] FILE... | sign.sh --sums DIR" >&2; exit 2; }
names="$(for file in "$@"; do printf ' %s' "${file##*/}"; done)"

if [ -z "${VELMORANE_SIGN_PKCS12:-}" ]; then
  echo "Not signed (VELMORANE_SIGN_PKCS12 is not set):$names" >&2
  exit 0
fi
[ -r "$VELMORANE_SIGN_PKCS12" ] || { echo "sign.sh: cannot read $VELMORANE_SIGN_PKCS12" >&2; exit 1; }
[ -n "$password_set" ] || { echo "sign.sh: VELMORANE_SIGN_PASSWORD is not set" >&2; exit 1; }
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is not installed" >&2; exit 1; }

timestamp=()
[ -z "${VELMORANE_SIGN_TIMESTAMP_URL:-}" ] || timestamp=(-ts "$VELMORANE_SIGN_TIMESTAMP_URL")

for file in "$@"; do
  # osslsigncode writes only new files: the signed copy is made beside the
  # original, in a folder of its own, and then replaces it.
  work="$(mktemp -d "$file.signing.XXXXXX")"
  if ! output="$(osslsigncode sign -pkcs12 "$VELMORANE_SIGN_PKCS12" -readpass <(printf '%s' "$password") \
      -h sha256 -n VelmoraneService "${timestamp[@]}" -in "$file" -out "$work/signed" 2>&1)"; then
    rm -rf "$work"
    echo "sign.sh: signing $file failed:" >&2
    echo "$output" >&2
    exit 1
  fi
  chmod --reference="$file" "$work/signed"
  mv "$work/signed" "$file"
  rmdir "$work"
done
echo "Signed (Authenticode SHA-256${VELMORANE_SIGN_TIMESTAMP_URL:+, time-stamped}):$names" >&2
