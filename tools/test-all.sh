#!/usr/bin/env bash
# Builds both forms of Webtrim and runs every test: the native suite, the
# same suite under AddressSanitizer and UBSan, the threads test under
# ThreadSanitizer, the Wine tests of the real webtrim.exe, and a short run
# of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)

bash tools/bootstrap.sh

step() { printf '\n==== %s\n' "$*"; }

step "Linux build and native tests"
cmake --preset linux >/dev/null
cmake --build --preset linux
ctest --preset linux -j2

step "Native tests under AddressSanitizer and UBSan"
cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan
ctest --preset linux-asan -j2

step "Two threads cleaning at once under ThreadSanitizer"
cmake --preset linux-tsan >/dev/null
cmake --build --preset linux-tsan
ctest --preset linux-tsan

step "Windows build and Wine tests"
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows

if [ -x fuzz/run.sh ]; then
  step "Fuzzing, a short bounded run of each target"
  fuzz/run.sh "${FUZZ_SECONDS:-30}"
fi

printf '\nAll tests ran in %d s\n' $(( $(date +%s) - start ))
