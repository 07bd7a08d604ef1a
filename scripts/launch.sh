# ./run's start of the built emulator, sourced by ./run and by its test.

. "$(dirname "${BASH_SOURCE[0]}")/modemsim.sh"

# qor_launch DIR [SECONDS]: starts the modem simulator for the working folder
# DIR, points DIR/modem.ini at it, and replaces this shell by the emulator
# (with a display) or by SECONDS (3 unless given) of it offscreen (without
# one). The shell becomes the emulator, so whatever is sent to it (Ctrl+C,
# TERM, HUP) reaches the emulator, which stops in order and saves; the
# simulator ends when the emulator has ended, however it ends.
qor_launch() {
  local dir=$1 seconds=${2:-3} modemsim=0
  cd "$dir" || return 1
  # Set before the start: a Ctrl+C while the simulator comes up stops it
  # too. The emulator itself ends the simulator once it has taken over.
  trap 'qor_modemsim_stop "$PWD"' EXIT
  qor_modemsim_start "$PWD" || modemsim=$?
  case $modemsim in
    0)
      qor_modemsim_point "$PWD"
      ;;
    1)
      echo "./run: another ./run's modem simulator serves $PWD; its link stays and this emulator finds the modem taken." >&2
      qor_modemsim_point "$PWD"
      ;;
    *) echo "./run: the modem simulator did not start." >&2 ;;
  esac
  trap - EXIT
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec ./qor
  fi
  # No display: run it offscreen for a few seconds and keep what it showed.
  echo "No display: running the emulator offscreen."
  QT_QPA_PLATFORM=offscreen exec ./qor_snapshot "$PWD/qor-screenshot.png" "$seconds"
}
