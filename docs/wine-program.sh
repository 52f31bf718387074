# Shell functions that run KLP_V2Orizeze.exe under Wine and drive it with the UI driver;
# sourced by docs/take-screenshots and the package test. Needs a Wine session (WINEPREFIX,
# DISPLAY, a running wineserver) and sets: driver (path of uidriver.exe) before use.

program_pid=""
program_log=""

# drive ARGS...: one UI driver command; its errors go to the program's log for a post-mortem.
drive() { wine "$driver" "$@" 2>>"${program_log:-/dev/null}" </dev/null; }

# start_program EXE FOLDER: starts the program with FOLDER as its current directory and waits
# for its sheet.
start_program() {
  program_log="$2/program.log"
  (cd "$2" && exec wine "$1" >"$program_log" 2>&1 </dev/null) &
  program_pid=$!
  drive --timeout 20000 wait-sheet
}

# settle_comms: waits until the automatic open of the first port has been reported in the log.
# When it fails a message box comes first and the log line only once it has been answered.
settle_comms() {
  local i
  for i in $(seq 60); do
    if drive --timeout 1000 wait 0:1016 re 'Opened|Failed to open' >/dev/null 2>&1; then
      return 0
    fi
    drive --timeout 500 box >/dev/null 2>&1 || true
  done
  echo "the Comms page never reported its port" >&2
  return 1
}

# stop_program: presses Close and waits for the process; kills it if it does not go.
stop_program() {
  [ -n "$program_pid" ] || return 0
  if kill -0 "$program_pid" 2>/dev/null; then
    drive --timeout 3000 click sheet:2 >/dev/null 2>&1 || true
    drive --timeout 10000 gone >/dev/null 2>&1 || kill "$program_pid" 2>/dev/null || true
  fi
  wait "$program_pid" 2>/dev/null || true
  program_pid=""
}
