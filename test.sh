#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every test:
# native unit tests, the same under ASan/UBSan and ThreadSanitizer, the fuzzers for a bounded
# time, the Windows build with its tests under Wine, and the end-to-end tests.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps
jobs=$(nproc)

step() { printf '\n=== %s ===\n' "$*"; }

for preset in native sanitize tsan; do
  step "$preset: build and test"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

step "fuzz: build and run each fuzzer for a bounded time"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
tools/run-fuzzers build/fuzz

step "windows: build, then test under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
tools/wine/wine-session ctest --preset windows -j "$jobs" -LE e2e

# The real program under Wine against klpsim of the native build above; each test brings its
# own prefix, display and wineserver and runs alone.
step "end-to-end: the program under Wine and Xvfb against the virtual unit"
ctest --preset windows -L e2e
