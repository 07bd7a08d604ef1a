# The modem simulator ./run starts beside the emulator, sourced by ./run and
# by its test. Needs setsid and flock (util-linux).

# qor_modemsim_start DIR: starts DIR/qor_modemsim with its link DIR/modem.pty
# and waits until the link names its terminal. The simulator gets a session
# of its own, so that Ctrl+C in the terminal reaches only the emulator; the
# caller stops it with qor_modemsim_stop, or it stops by itself when the
# calling shell (or the program that shell execs) ends. Only
# one ./run serves a folder: the one holding a lock on DIR itself. Answers
# 0 when started (QOR_MODEMSIM_PID is set), 1 when another ./run's simulator
# serves DIR (its link is left alone), 2 when the simulator did not come up.
qor_modemsim_start() {
  local dir=$1 out
  QOR_MODEMSIM_PID=
  QOR_MODEMSIM_TTY=
  exec {QOR_MODEMSIM_LOCK}<"$dir"
  if ! flock -n "$QOR_MODEMSIM_LOCK"; then
    exec {QOR_MODEMSIM_LOCK}>&-
    QOR_MODEMSIM_LOCK=
    return 1
  fi
  out=$(mktemp)
  # The simulator's parent is this shell (taken here: a background child's
  # own expansions see the child), or what it becomes by exec: the
  # simulator ends with it, however it ends.
  local parent=$BASHPID
  # Not in job-control mode, a background child leads no process group, so
  # setsid makes the session in place and $! is the simulator itself. It
  # does not inherit the lock: the folder is served for as long as this
  # shell, or what it execs, holds it.
  setsid "$dir/qor_modemsim" --link "$dir/modem.pty" --parent "$parent" >"$out" {QOR_MODEMSIM_LOCK}>&- &
  QOR_MODEMSIM_PID=$!
  for _ in $(seq 100); do
    # It prints its terminal once the link is made.
    QOR_MODEMSIM_TTY=$(head -n 1 "$out")
    [ -n "$QOR_MODEMSIM_TTY" ] && [ "$(readlink "$dir/modem.pty")" = "$QOR_MODEMSIM_TTY" ] && break
    kill -0 "$QOR_MODEMSIM_PID" 2>/dev/null || break
    QOR_MODEMSIM_TTY=
    sleep 0.05
  done
  rm -f "$out"
  if [ -z "$QOR_MODEMSIM_TTY" ]; then
    qor_modemsim_stop "$dir"
    return 2
  fi
}

# qor_modemsim_stop DIR: stops the simulator qor_modemsim_start started and
# lets go of the folder. The link goes only while it still names that
# simulator's terminal: one another simulator made since stays.
qor_modemsim_stop() {
  local dir=$1
  if [ -n "${QOR_MODEMSIM_PID:-}" ]; then
    kill "$QOR_MODEMSIM_PID" 2>/dev/null || true
    wait "$QOR_MODEMSIM_PID" 2>/dev/null || true
    if [ -n "${QOR_MODEMSIM_TTY:-}" ] && [ "$(readlink "$dir/modem.pty")" = "$QOR_MODEMSIM_TTY" ]; then
      rm -f "$dir/modem.pty"
    fi
  fi
  QOR_MODEMSIM_PID=
  QOR_MODEMSIM_TTY=
  if [ -n "${QOR_MODEMSIM_LOCK:-}" ]; then
    exec {QOR_MODEMSIM_LOCK}>&-
    QOR_MODEMSIM_LOCK=
  fi
}

# qor_modemsim_point DIR: names the link DIR/modem.pty as the modem's port in
# DIR/modem.ini. Every ./run does it, also one that finds the folder served:
# its configure has just put the shipped modem.ini (port=COM1) back, and its
# emulator must find the served modem taken, not open whatever COM1 is here.
qor_modemsim_point() {
  local dir=$1
  sed -i '/^\[modem\]/,/^\[/ s|^port=.*|port='"$dir"'/modem.pty|' "$dir/modem.ini"
}
