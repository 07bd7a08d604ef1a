#!/usr/bin/env bash
# ./run's start of the built emulator (scripts/launch.sh) with the real
# emulator offscreen and the real modem simulator: TERM or HUP sent to
# ./run stops the emulator with its save, and the simulator ends with it;
# after a kill -9 of ./run, before or after it has become the emulator,
# no simulator is left and the folder is free for the next ./run. Without
# a display, ./run's few seconds offscreen end as the emulator ends: with
# status 1 when a file could not be saved, or when it was stopped before its
# screenshot, which is said.
# Usage: run_signals_test.sh SOURCE_DIR EMULATOR SIMULATOR SNAPSHOT
set -uo pipefail
source_dir=$(readlink -f "$1")
emulator=$(readlink -f "$2")
simulator=$(readlink -f "$3")
snapshot=$(readlink -f "$4")

work=$(mktemp -d)
pid=
# Whatever this test started and a failure left running goes with it: the
# last ./run (by its pid) and any simulator serving one of its folders.
cleanup() {
  local p
  trap - EXIT
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  for p in $(simulators "$work/"); do kill -KILL "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
# The pids of the simulators whose link starts with $1 (read without a
# program of its own, which would name $1 too).
simulators() {
  local cmdline args
  for cmdline in /proc/[0-9]*/cmdline; do
    mapfile -d '' -t args <"$cmdline" 2>/dev/null || continue
    [[ " ${args[*]} " == *" --link $1"* ]] && echo "${cmdline//[!0-9]/}"
  done
  return 0
}
failures=0
check() {  # check WHAT COMMAND...: the command must succeed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
# Waits for the command to succeed until the case's minute is out: a loaded
# machine only takes longer, and a failing case ends within its minute, so
# that the whole test ends within its own time and cleans up after itself.
deadline=0
case_starts() { deadline=$((SECONDS + 60)); }
within() {
  while :; do
    "$@" && return 0
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}
gone() { ! kill -0 "$1" 2>/dev/null; }
not() { ! "$@"; }
# Whether the child has ended (a child not yet waited for stays a zombie).
ended() { [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null || echo Z)" = Z ]; }
# Waits for the child within the bound of `within`, ending it when it has
# not ended by then; its status goes to $status.
reap() {
  if ! within ended "$1"; then
    echo "FAILED: $1 did not end"
    failures=$((failures + 1))
    kill -KILL "$1" 2>/dev/null
  fi
  wait "$1"
  status=$?
}
# Whether a simulator serving the folder runs: one whose link names it.
simulator_runs() { [ -n "$(simulators "$1/modem.pty")" ]; }
no_simulator() { ! simulator_runs "$1"; }
is_emulator() { [ "$(readlink "/proc/$1/exe" 2>/dev/null)" = "${2:-$emulator}" ]; }
# Two UDP ports the system has free, as the short-message bridge binds them.
free_ports() {
  python3 - <<'PY'
import socket
held, ports = [], []
while len(ports) < 2:
    four = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    four.bind(("127.0.0.1", 0))
    port = four.getsockname()[1]
    held.append(four)
    try:
        six = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    except OSError:
        six = None  # no IPv6 here
    if six:
        try:
            six.bind(("::1", port))
            held.append(six)
        except OSError:
            continue
    ports.append(port)
print(*ports)
PY
}
# Whether a UDP socket is bound to the port, seen without touching it.
port_taken() {
  local hex
  hex=$(printf '%04X' "$1")
  { cat /proc/net/udp /proc/net/udp6 2>/dev/null || true; } |
    awk -v port=":$hex" 'substr($2, length($2) - 4) == port { found = 1 } END { exit !found }'
}

# A working folder as the build makes it, with the built programs.
folder() {
  local dir=$work/$1 ports
  mkdir -p "$dir"
  ln -s "$emulator" "$dir/qor"
  ln -s "$simulator" "$dir/qor_modemsim"
  ln -s "$snapshot" "$dir/qor_snapshot"
  cp "$source_dir/dist/modem.ini" "$dir/modem.ini"
  read -r -a ports < <(free_ports)
  sed -e 's|^Skin=.*|Skin='"$source_dir"'/dist/skins/default/default.ini|' \
      -e 's|^Port=.*|Port='"${ports[0]}"'|' -e 's|^PeerPort=.*|PeerPort='"${ports[1]}"'|' \
      "$source_dir/dist/qor.ini" >"$dir/qor.ini"
  echo "$dir"
}
sms_port() { sed -n 's/^Port=//p' "$1/qor.ini"; }

# ./run's last step, as ./run takes it, with a display (offscreen here).
launch() {
  DISPLAY=:qor-test QT_QPA_PLATFORM=offscreen \
    bash -c 'set -euo pipefail; . "$1/scripts/launch.sh"; qor_launch "$2"' _ \
    "$source_dir" "$1" >"$1/out" 2>"$1/err" &
  pid=$!
}

# The emulator runs once ./run has become it and its short-message port is
# open (the port opens after the modem and the services).
# (./run without a display becomes the screenshot driver, given third).
running() { is_emulator "$1" "${3:-}" && port_taken "$2"; }

for signal in TERM HUP; do
  case_starts
  dir=$(folder "$signal")
  launch "$dir"
  check "$signal: ./run becomes the emulator, which starts" within running "$pid" "$(sms_port "$dir")"
  check "$signal: its simulator runs" simulator_runs "$dir"
  kill -s "$signal" "$pid"
  reap "$pid"
  check "$signal: the emulator stops with status 0 (it was $status)" [ "$status" -eq 0 ]
  # The security seed's save comes with every stop once the services run,
  # as they do before the port opens (the inbox's only when it changed);
  # the history's only once the browser is up, which cannot be seen from here.
  check "$signal: it saved its seed" [ -s "$dir/persistent" ]
  check "$signal: the simulator ends" within no_simulator "$dir"
  check "$signal: and its link goes" within test ! -L "$dir/modem.pty"
  cat "$dir/err"
done

# kill -9 of ./run, once it is the emulator.
case_starts
dir=$(folder kill)
launch "$dir"
check "kill -9: the emulator starts" within running "$pid" "$(sms_port "$dir")"
kill -KILL "$pid"
reap "$pid"
check "kill -9: the simulator ends" within no_simulator "$dir"
check "kill -9: and its link goes" within test ! -L "$dir/modem.pty"
check "kill -9: no emulator is left" gone "$pid"
check "kill -9: the next ./run may serve the folder" bash -c \
  '. "$1/scripts/modemsim.sh"; qor_modemsim_start "$2"; r=$?; qor_modemsim_stop "$2"; exit $r' _ \
  "$source_dir" "$dir"

# kill -9 of ./run before it has become the emulator: its simulator runs,
# the script waits (stopped here, where it would build or start).
case_starts
dir=$(folder early)
bash -c '. "$1/scripts/modemsim.sh"; qor_modemsim_start "$2" || exit 1; kill -STOP $BASHPID' _ \
  "$source_dir" "$dir" &
pid=$!
check "kill -9 early: the simulator runs" within simulator_runs "$dir"
kill -KILL "$pid"
reap "$pid"
check "kill -9 early: the simulator ends" within no_simulator "$dir"
check "kill -9 early: and its link goes" within test ! -L "$dir/modem.pty"

# Without a display: a few seconds offscreen and a screenshot. A file the
# emulator could not save (a folder stands where its persistent settings
# go) is said, and ./run's status says it; so is a screenshot that could
# not be written (a folder stands where it goes).
for broken in no persistent shot; do
  case_starts
  dir=$(folder "offscreen-$broken")
  [ "$broken" = persistent ] && mkdir "$dir/persistent"
  [ "$broken" = shot ] && mkdir "$dir/qor-screenshot.png"
  env -u DISPLAY -u WAYLAND_DISPLAY \
    bash -c 'set -euo pipefail; . "$1/scripts/launch.sh"; qor_launch "$2"' _ \
    "$source_dir" "$dir" >"$dir/out" 2>"$dir/err" &
  pid=$!
  reap "$pid"
  case $broken in
    persistent)
      check "offscreen: a screenshot is kept" [ -s "$dir/qor-screenshot.png" ]
      check "offscreen, persistent unsaved: status 1 (it was $status)" [ "$status" -eq 1 ]
      check "offscreen, persistent unsaved: it is said" grep -q "could not save persistent" "$dir/err"
      ;;
    shot)
      check "offscreen, screenshot unwritable: status 1 (it was $status)" [ "$status" -eq 1 ]
      check "offscreen, screenshot unwritable: it is said" \
        grep -q "no screenshot was kept: it could not be written to $dir/qor-screenshot.png" "$dir/err"
      ;;
    *)
      check "offscreen: a screenshot is kept" [ -s "$dir/qor-screenshot.png" ]
      check "offscreen: status 0 (it was $status)" [ "$status" -eq 0 ]
      check "offscreen: nothing is said lost" not grep -q "no screenshot" "$dir/err"
      ;;
  esac
  check "offscreen: the simulator ends" within no_simulator "$dir"
  cat "$dir/err"
done

# Without a display, its output read through a pipe whose reader has
# stopped with the pipe full (`./run 2>&1 | less`, left unread): the lines
# that do not fit are lost, never the run, which keeps its screenshot and
# ends as it would have. ./run's own start, but for its line before the
# emulator (which waits for room as any shell's would).
case_starts
dir=$(folder offscreen-unread)
mkfifo "$dir/output"
exec {unread}<>"$dir/output"
python3 - "$dir/output" <<'PY'
import os, sys
out = os.open(sys.argv[1], os.O_WRONLY | os.O_NONBLOCK)
for size in (4096, 1):
    try:
        while True:
            os.write(out, b"x" * size)
    except BlockingIOError:
        pass
PY
(
  cd "$dir" && . "$source_dir/scripts/modemsim.sh" && qor_modemsim_start "$PWD" &&
    qor_modemsim_point "$PWD" &&
    exec env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen \
      ./qor_snapshot "$PWD/qor-screenshot.png" 1
) >"$dir/output" 2>&1 &
pid=$!
reap "$pid"
exec {unread}<&-
check "offscreen, output unread: a screenshot is kept" [ -s "$dir/qor-screenshot.png" ]
check "offscreen, output unread: status 0 (it was $status)" [ "$status" -eq 0 ]
check "offscreen, output unread: the simulator ends" within no_simulator "$dir"

# Without a display, stopped before its screenshot (its seconds are made
# longer than any case runs, so the stop comes first however slow the
# machine): what it kept it saved, and that no screenshot was kept is said
# with status 1.
case_starts
dir=$(folder offscreen-stopped)
env -u DISPLAY -u WAYLAND_DISPLAY \
  bash -c 'set -euo pipefail; . "$1/scripts/launch.sh"; qor_launch "$2" 600' _ \
  "$source_dir" "$dir" >"$dir/out" 2>"$dir/err" &
pid=$!
check "offscreen, stopped early: the emulator starts" within running "$pid" "$(sms_port "$dir")" "$snapshot"
kill -TERM "$pid"
reap "$pid"
check "offscreen, stopped early: status 1 (it was $status)" [ "$status" -eq 1 ]
check "offscreen, stopped early: no screenshot" [ ! -e "$dir/qor-screenshot.png" ]
check "offscreen, stopped early: it is said" grep -q "no screenshot was kept: the emulator stopped before it was taken" "$dir/err"
check "offscreen, stopped early: it saved its seed" [ -s "$dir/persistent" ]
check "offscreen, stopped early: the simulator ends" within no_simulator "$dir"
cat "$dir/err"

[ "$failures" -eq 0 ]
