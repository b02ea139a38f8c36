# Sourced by the packaging scripts, first thing. The signing password is read
# once, here, and taken out of the environment before any program runs:
# nothing the script starts (the build, python3, wixl, msibuild, zip) gets
# it. sign.sh receives it on descriptor 3, from a pipe the shell's own printf
# writes: on no command line, in no file. `sign` runs sign.sh with it.
sign_password="${VELMORANE_SIGN_PASSWORD-}" sign_password_set="${VELMORANE_SIGN_PASSWORD+1}"
unset VELMORANE_SIGN_PASSWORD
sign() {
  if [ -n "$sign_password_set" ]; then
    "$root/scripts/sign.sh" --password-fd 3 "$@" 3< <(printf '%s' "$sign_password")
  else
    "$root/scripts/sign.sh" "$@"
  fi
}
