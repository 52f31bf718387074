#!/usr/bin/env bash
# Runs KLP Config under Wine, its COM1 on the virtual unit (or on a real serial device).
#
#   ./run.sh                  COM1 is a virtual unit at address 1 with live Genisys traffic
#   ./run.sh --port DEVICE    COM1 is DEVICE (for example /dev/ttyUSB0)
#
# With a display the program's window opens there and the command ends when it is closed.
# Without one it runs on a virtual display, carries out a short session (the port opens, the
# unit's configuration is read), prints the message log and saves a screenshot.
# "CommsLog.txt" is written to the current directory. On Windows start run.cmd instead.
set -euo pipefail

usage() { sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; }

port=""
while [ $# -gt 0 ]; do
  case "$1" in
    --port) [ $# -ge 2 ] || { usage >&2; exit 2; }; port=$2; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "run.sh: unknown argument $1" >&2; usage >&2; exit 2 ;;
  esac
done

workdir=$(pwd)
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
if [ -n "$port" ] && [ ! -e "$port" ]; then
  echo "run.sh: no device $port" >&2
  exit 2
fi

tools/install-deps

# Build what is missing or out of date: the program and the driver, the unit and the shim.
build() {  # build PRESET TARGET...
  local preset=$1; shift
  [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j 2 --target "$@" >/dev/null
}
echo "Building what is missing..."
build windows KLP_V2Orizeze uidriver
build native klpsim klp_ptyshim

program=$here/build/windows/app/KLP_V2Orizeze.exe
driver=$here/build/windows/tools/uidriver/uidriver.exe
klpsim=$here/build/native/tools/klpsim/klpsim
shim=$here/build/native/tools/wine/libptyshim.so
run=$here/build/run
mkdir -p "$run"

export WINEPREFIX=$run/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset LD_PRELOAD

unit_pid=""; xvfb_pid=""; program_pid=""
# Waits up to SECONDS for the first line of FILE and leaves it in $line.
first_line() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    line=$(head -n 1 "$1" 2>/dev/null || true)
    [ -n "$line" ] && return 0
    sleep 0.1
  done
  return 1
}
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  [ -n "$unit_pid" ] && kill "$unit_pid" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# No usable display: a virtual one, and the window is driven instead of shown.
headless=""
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  headless=1
  rm -f "$run/xvfb.display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$run/xvfb.display" >/dev/null 2>&1 &
  xvfb_pid=$!
  first_line "$run/xvfb.display" 20 || { echo "run.sh: Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$line"
fi

# The prefix is made once; its services get no stdio (they would hold our pipes open).
mkdir -p "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix (once)..."
  wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w
  # This Wine build does not find its own Tahoma and Marlett where Debian puts them.
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/tahoma*.ttf /usr/share/wine/fonts/marlett.ttf \
     "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fi
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1
# Without a window manager Wine waits 2 s for each window it hides unless they are unmanaged.
managed=$([ -n "$headless" ] && echo N || echo Y)
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$managed" /f </dev/null >/dev/null 2>&1

if [ -n "$port" ]; then
  device=$(readlink -f "$port")
  echo "COM1 is $device"
else
  # The default unit at address 1, with some ordinary traffic of stations 5 and 7.
  "$klpsim" --traffic 4 --stations 5,7 >"$run/klpsim.out" 2>"$run/klpsim.log" </dev/null &
  unit_pid=$!
  first_line "$run/klpsim.out" 10 || { echo "run.sh: klpsim did not start (see $run/klpsim.log)" >&2; exit 1; }
  device=$line
  echo "COM1 is the virtual unit on $device"
fi
# The mount manager laid out com1 when the services started: point it at our device.
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$device" /f </dev/null >/dev/null 2>&1
ln -sfn "$device" "$WINEPREFIX/dosdevices/com1"

start_program() {
  (cd "$workdir" && exec env LD_PRELOAD="$shim" wine "$program" </dev/null >/dev/null 2>&1) &
  program_pid=$!
}

if [ -z "$headless" ]; then
  start_program
  wait "$program_pid" || true
  program_pid=""
  exit 0
fi

ui() { wine "$driver" --timeout 10000 "$@"; }
ui_quick() { wine "$driver" --timeout 3000 "$@" 2>/dev/null; }
start_program
ui wait-sheet
if ! ui_quick wait 0:1016 has "Opened COM1" >/dev/null; then
  ui_quick box || true  # a port that fails to open shows a box before its log line
fi
ui page 1
ui wait 1:1011 is "Set to defaults." >/dev/null
ui click 1:1006
if ! status=$(ui wait 1:1011 has "Read complete" 2>/dev/null); then
  ui_quick box || true  # "Failed to send read request packet"
  status="$(ui text 1:1011) (no answer from a unit)"
fi
shot=$run/screenshot.png
import -display "$DISPLAY" -window root "$shot"
ui page 0
echo
echo "Message log:"
ui text 0:1016
echo
echo "Configuration page: $status"
echo "Screenshot: $shot"
ui click sheet:2
wait "$program_pid" || true
program_pid=""
