#!/usr/bin/env bash
# ./run's handling of the modem simulator (scripts/modemsim.sh) with the real
# simulator: Ctrl+C in the terminal does not reach it, a second ./run in the
# same folder leaves the first one's link alone, and a stop removes only the
# link its own simulator made. Usage: modemsim_test.sh SOURCE_DIR SIMULATOR
set -uo pipefail
# In a process group of its own, which stands for the terminal's: Ctrl+C is
# a SIGINT to the whole group.
if [ -z "${QOR_MODEMSIM_TEST_GROUP:-}" ]; then
  QOR_MODEMSIM_TEST_GROUP=1 exec setsid -w bash "$0" "$@"
fi
source_dir=$1
simulator=$2
. "$source_dir/scripts/modemsim.sh"

dir=$(mktemp -d)
others=()
cleanup() {
  for pid in "${others[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "$dir"
}
trap cleanup EXIT
ln -s "$simulator" "$dir/qor_modemsim"
link=$dir/modem.pty

failures=0
check() {  # check WHAT COMMAND...: the command must succeed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
alive() { kill -0 "$1" 2>/dev/null; }
gone() { ! kill -0 "$1" 2>/dev/null; }
names() { [ "$(readlink "$link")" = "$1" ]; }
no_link() { [ ! -L "$link" ]; }

# Started, the link names the simulator's terminal.
qor_modemsim_start "$dir"
check "the first start succeeds" [ $? -eq 0 ]
first=$QOR_MODEMSIM_PID
first_tty=$QOR_MODEMSIM_TTY
check "the link names the simulator's terminal" names "$first_tty"
check "the terminal is a character device" [ -c "$first_tty" ]

# Ctrl+C in the terminal: the emulator gets it, the simulator does not.
trap '' INT
kill -INT 0
sleep 0.2
check "Ctrl+C to the terminal's group leaves the simulator running" alive "$first"
check "and its link in place" names "$first_tty"

# A second ./run in the same folder starts nothing and, ending, removes
# nothing.
(
  qor_modemsim_start "$dir"
  echo "second=$?" >"$dir/second"
  qor_modemsim_stop "$dir"
)
check "a second start finds the folder served" grep -qx "second=1" "$dir/second"
# Its build has just put the shipped modem.ini back (port=COM1): it points it
# at the served link, so its emulator finds that modem taken rather than
# opening whatever COM1 is on this machine.
cp "$source_dir/dist/modem.ini" "$dir/modem.ini"
( qor_modemsim_point "$dir" )
check "the second ./run's modem.ini names the served link" \
  grep -qx "port=$link" "$dir/modem.ini"
check "and only the modem's port" grep -qx "port=IP" "$dir/modem.ini"
check "the first simulator runs on" alive "$first"
check "its link stays" names "$first_tty"

# The stop ends the simulator and removes its link.
qor_modemsim_stop "$dir"
check "the stop ends the simulator" gone "$first"
check "and removes its link" no_link
check "and lets go of the folder" bash -c '. "$1"; qor_modemsim_start "$2"; r=$?; qor_modemsim_stop "$2"; exit $r' _ \
  "$source_dir/scripts/modemsim.sh" "$dir"

# A link another simulator made since (one started by hand) is not ours:
# neither the stop nor the simulator itself removes it.
qor_modemsim_start "$dir"
ours=$QOR_MODEMSIM_PID
"$simulator" --link "$link" >"$dir/by_hand" &
by_hand=$!
others+=("$by_hand")
for _ in $(seq 100); do
  by_hand_tty=$(head -n 1 "$dir/by_hand")
  [ -n "$by_hand_tty" ] && names "$by_hand_tty" && break
  sleep 0.05
done
qor_modemsim_stop "$dir"
check "the stop ends its own simulator" gone "$ours"
check "and leaves the link another simulator made" names "$by_hand_tty"
kill "$by_hand"
wait "$by_hand"
check "that simulator removes its own link when it stops" no_link

# A link left by a simulator that was killed is replaced.
ln -s /dev/pts/qor-gone "$link"
qor_modemsim_start "$dir"
check "a start over a dangling link succeeds" [ $? -eq 0 ]
check "and the link names the new terminal" names "$QOR_MODEMSIM_TTY"
qor_modemsim_stop "$dir"
check "which its stop removes" no_link

# A stop sent as soon as the simulator has printed its terminal ends it,
# every time: the answering thread runs by then, and the stop must not be
# taken there while the main thread waits on.
stuck=0
for _ in $(seq 100); do
  : >"$dir/quick"
  "$simulator" >"$dir/quick" &
  quick=$!
  until [ -s "$dir/quick" ] || gone "$quick"; do :; done
  kill -TERM "$quick" 2>/dev/null
  for _ in $(seq 250); do gone "$quick" && break; sleep 0.02; done
  if alive "$quick"; then stuck=$((stuck + 1)); kill -KILL "$quick"; fi
  wait "$quick" 2>/dev/null
done
check "a stop sent as soon as it starts ends it every time" [ "$stuck" -eq 0 ]

[ "$failures" -eq 0 ]
