# Sourced by the packaging scripts, first thing. The signing password is read
# once, here, and taken out of the environment before any program runs:
# nothing the script starts (the build, python3, wixl, msibuild, zip) gets
# it. sign.sh receives it on descriptor 3, from a pipe the shell's own printf
# writes: on no command line, in no file. `sign` runs sign.sh with it.
# Under `bash -x` both the assignment and that printf would print it: tracing
# is off while they run and comes back as it was afterwards.
case $- in *x*) sign_trace=1 ;; *) sign_trace="" ;; esac
{ set +x; } 2>/dev/null
sign_password="${VELMORANE_SIGN_PASSWORD-}" sign_password_set="${VELMORANE_SIGN_PASSWORD+1}"
unset VELMORANE_SIGN_PASSWORD
[ -z "$sign_trace" ] || set -x
sign() {
  local trace="" rc=0
  case $- in *x*) trace=1 ;; esac
  { set +x; } 2>/dev/null
  if [ -n "$sign_password_set" ]; then
    "$root/scripts/sign.sh" --password-fd 3 "$@" 3< <(printf '%s' "$sign_password") || rc=$?
  else
    "$root/scripts/sign.sh" "$@" || rc=$?
  fi
  [ -z "$trace" ] || set -x
  return "$rc"
}
