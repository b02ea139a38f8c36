#!/usr/bin/env bash
# The main job: builds everything, then runs VelmoraneService as its users do,
# under Wine. It lays out an installation tree with the example Java
# application and a jvm.dll (the bridge to the Linux JVM), installs the
# service, starts it through the Service Control Manager, shows the
# application's heartbeat and the service's log, stops the service, shows
# the application's orderly end and the STOPPED state, and removes the
# service again. The Wine prefix and the log stay for a look afterwards.
#
# Environment:
#   VELMORANE_DEMO_DIR    where the prefix and the captured output go
#                         (default: $HOME/.velmorane-demo); made afresh on every run
#   VELMORANE_SKIP_BUILD  1: use what BUILD_DIR already holds, build nothing
#   BUILD_DIR             the build tree (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
demo="${VELMORANE_DEMO_DIR:-${HOME:-/tmp}/.velmorane-demo}"
prefix="$demo/prefix"
out="$demo/output"
marker="$demo/.velmorane-demo"

# The installation as an operator lays it out: the installation root C:\Apps\
# holds Velmorane\ and jdk\. The Java runtime is laid out as a Java 9 or later
# runtime image unpacked as jdk\jre\, which the service finds without any
# setting: jvm.dll in jdk\jre\bin\server\, vcruntime140.dll in jdk\jre\bin\.
win_root='C:\Apps\'
win_exe="${win_root}Velmorane\\VelmoraneService.exe"
win_heartbeat="${win_root}Velmorane\\heartbeat.txt"
unix_root="$prefix/drive_c/Apps"
unix_base="$unix_root/Velmorane"
unix_runtime_bin="$unix_root/jdk/jre/bin"
unix_jvm_dir="$unix_runtime_bin/server"
unix_log="$prefix/drive_c/windows/temp/velmoraneservice.log"
# Wine ends a session (and the services in it) when its last ordinary process
# ends; this process keeps the session for the length of the run (an hour at most).
win_keeper='C:\velmorane-demo\holdfile.exe'
win_keeper_file='C:\velmorane-demo\session.lock'
win_scmctl='C:\velmorane-demo\scmctl.exe'
service=VelmoraneService

step=0
say() { printf '%s\n' "$*"; }
heading() { step=$((step + 1)); printf '\n== %d. %s\n' "$step" "$*"; }
fail() { printf '\nFAILED: %s\n' "$*" >&2; printf 'Prefix and output kept in %s\n' "$demo" >&2; exit 1; }
show() { sed -e 's/\r$//' -e 's/^/    /' "$@"; }

# ---------------------------------------------------------------- build
if [ "${VELMORANE_SKIP_BUILD:-0}" != 1 ]; then
  heading "Build (installs missing Debian packages first)"
  BUILD_DIR="$build" "$root/scripts/build.sh" >"/tmp/velmorane-main-job-build.$$.log" 2>&1 ||
    { tail -30 "/tmp/velmorane-main-job-build.$$.log" >&2; fail "the build failed"; }
  say "Built in $build"
  rm -f "/tmp/velmorane-main-job-build.$$.log"
fi
for file in bin/VelmoraneService.exe bin/holdfile.exe bin/scmctl.exe jvmbridge/jvm.dll.so examples/velmorane-example.jar; do
  [ -f "$build/$file" ] || fail "$build/$file is missing; run without VELMORANE_SKIP_BUILD"
done

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Runs a Windows program to its end. Its output goes to files, never to a
# pipe: the services of a session keep the descriptors of the process that
# started it. Sets $last to the stdout file; returns the program's exit code.
count=0
wine_run() {
  local name="$1"
  shift
  count=$((count + 1))
  last="$out/$(printf '%02d' "$count")-$name.out"
  wine "$@" </dev/null >"$last" 2>"${last%.out}.err"
}

# Polls `sc query` until the service is in state $1 (1 STOPPED, 4 RUNNING) or
# $2 seconds have passed; $last is then the last answer.
wait_state() {
  local wanted="$1" seconds="$2" state
  last="$out/sc-query.out"
  for _ in $(seq $((seconds * 4))); do
    wine sc query "$service" </dev/null >"$last" 2>"$out/sc-query.err" || true
    state="$(sed -n 's/.*STATE *: *\([0-9]*\).*/\1/p' "$last" | head -1)"
    [ "$state" = "$wanted" ] && return 0
    sleep 0.25
  done
  return 1
}

heartbeat_beat() {
  [ -f "$unix_base/heartbeat.txt" ] || return 0
  sed -n 's/.*beat \([0-9]*\) at.*/\1/p' "$unix_base/heartbeat.txt" | head -1
}

# The application rewrites the file every second; a read may catch it empty.
show_heartbeat() {
  local text=""
  for _ in $(seq 20); do
    text="$(cat "$unix_base/heartbeat.txt" 2>/dev/null || true)"
    [ -n "$text" ] && break
    sleep 0.05
  done
  printf '%s\n' "$text" | show
}

keeper_pid=""
end_session() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$keeper_pid" ]; then
    wait "$keeper_pid" 2>/dev/null || true
    keeper_pid=""
  fi
}
trap end_session EXIT

# ---------------------------------------------------------------- prefix
# The steps of the tests' Wine session (tests/common/winesession.py), in shell:
# a fresh prefix, a persistent server, a keeper for the session, the SCM
# answering before anything is installed, and only this prefix's server ended.
heading "Wine prefix"
if [ -e "$demo" ]; then
  [ -f "$marker" ] || [ -z "$(ls -A "$demo")" ] ||
    fail "$demo exists and was not made by this script; choose another VELMORANE_DEMO_DIR"
  [ -d "$prefix" ] && WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$demo"
fi
mkdir -p "$out"
touch "$marker"
say "Creating $prefix"
wineboot -i </dev/null >"$out/00-wineboot.out" 2>&1 || fail "wineboot failed, see $out/00-wineboot.out"
# The session that wineboot started is still winding down; a service
# installed into it is unknown to the next one (sc start: error 1060). End it
# and start a fresh session that lasts for the whole run.
wineserver -k >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1 || true

mkdir -p "$prefix/drive_c/velmorane-demo"
cp "$build/bin/holdfile.exe" "$build/bin/scmctl.exe" "$prefix/drive_c/velmorane-demo/"
count=1
last="$out/01-session.out"
wine "$win_keeper" "$win_keeper_file" 3600 rwd </dev/null >"$last" 2>"$out/01-session.err" &
keeper_pid=$!
for _ in $(seq 600); do
  grep -q held "$last" 2>/dev/null && break
  kill -0 "$keeper_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q held "$last" || fail "the Wine session did not start"
# The Service Control Manager answers (here: "no such service") once services.exe is up.
for _ in $(seq 300); do
  wine "$win_scmctl" query "$service" </dev/null >"$out/01-scm.out" 2>&1 && break
  grep -q "error=1060" "$out/01-scm.out" && break
  sleep 0.2
done

# ---------------------------------------------------------------- layout
heading "Installation tree"
mkdir -p "$unix_base/lib" "$unix_base/plugins" "$unix_jvm_dir"
cp "$build/bin/VelmoraneService.exe" "$unix_base/"
cp "$build/examples/velmorane-example.jar" "$unix_base/lib/"
cp "$build/jvmbridge/jvm.dll.so" "$unix_jvm_dir/jvm.dll"
# Wine's own C runtime library stands in for the one a Java runtime ships.
cp "$prefix/drive_c/windows/system32/vcruntime140.dll" "$unix_runtime_bin/"
say "    ${win_root}Velmorane\\VelmoraneService.exe"
say "    ${win_root}Velmorane\\lib\\velmorane-example.jar     the example Java application"
say "    ${win_root}Velmorane\\plugins\\"
say "    ${win_root}jdk\\jre\\bin\\vcruntime140.dll            the runtime's C library"
say "    ${win_root}jdk\\jre\\bin\\server\\jvm.dll              the JVM (a bridge to the Linux JVM of this machine)"

# ---------------------------------------------------------------- install
heading "Install: $win_exe install"
wine_run install "$win_exe" install || true
show "$last"
grep -q "$service installed successfully" "$last" || fail "install did not succeed"

# ---------------------------------------------------------------- start
heading "Start through the Service Control Manager: sc start $service"
wine_run sc-start sc start "$service" || { show "$last"; fail "sc start failed"; }
show "$last"
wait_state 4 60 || fail "the service did not reach RUNNING"
say "  sc query $service:"
show "$last"

heading "The Java application runs: ${win_heartbeat}"
for _ in $(seq 240); do
  beat="$(heartbeat_beat)"
  [ -n "$beat" ] && [ "$beat" -ge 3 ] && break
  sleep 0.25
done
beat="$(heartbeat_beat)"
[ -n "$beat" ] && [ "$beat" -ge 3 ] || fail "no heartbeat from the Java application"
show_heartbeat
sleep 2
show_heartbeat

heading "The service's log: c:\\windows\\temp\\velmoraneservice.log"
show "$unix_log"
log_lines_at_start="$(wc -l <"$unix_log")"
say "  (The \"Failed\" lines are not errors: the service tries its places in order. The runtime's"
say "   C library loaded at the fifth place, jvm.dll at the third, the server VM.)"

# ---------------------------------------------------------------- stop
heading "Stop through the Service Control Manager: sc stop $service"
wine_run sc-stop sc stop "$service" || { show "$last"; fail "sc stop failed"; }
show "$last"
wait_state 1 40 || fail "the service did not reach STOPPED"
say "  sc query $service:"
show "$last"
say "  New records in the log:"
tail -n +"$((log_lines_at_start + 1))" "$unix_log" | show
say "  The Java application's last heartbeat:"
show_heartbeat
grep -q "^stopped in order" "$unix_base/heartbeat.txt" || fail "the Java application did not stop in order"
grep -q "Shutdown method called on class" "$unix_log" || fail "shutdown() was not called"

# ---------------------------------------------------------------- uninstall
heading "Remove: $win_exe uninstall"
wine_run uninstall "$win_exe" uninstall || true
show "$last"
grep -q "$service removed successfully" "$last" || fail "uninstall did not succeed"

end_session
heading "Done"
say "Wine prefix:        $prefix"
say "Installation tree:  $unix_root  (${win_root})"
say "Service log:        $unix_log"
say "Heartbeat file:     $unix_base/heartbeat.txt"
say "Captured output:    $out"
say "Look around with e.g.  WINEPREFIX=$prefix wine cmd"
