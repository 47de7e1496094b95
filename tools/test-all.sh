#!/usr/bin/env bash
# Builds both forms of Webtrim and runs every test: the native suite, the
# same suite under AddressSanitizer and UBSan, the threads test under
# ThreadSanitizer, the Wine tests of the real webtrim.exe (the 64-bit build
# on every host, the 32-bit build too where the host runs 32-bit code), and
# a short run of each fuzz target.
#   WEBTRIM_WINE_X64_ONLY=1  test as on a host without 32-bit support
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

# Asked once: does this host run 32-bit code? Wine's 32-bit loader answers
# "Exec format error" where the kernel has no 32-bit support.
if [ "${WEBTRIM_WINE_X64_ONLY:-0}" != 1 ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  windows=(windows-x64 windows)
else
  windows=(windows-x64)
fi

step "Windows builds (x64 and i686) and Wine tests (${windows[*]})"
for preset in windows-x64 windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
for preset in "${windows[@]}"; do
  ctest --preset "$preset"
done
if [ ${#windows[@]} -eq 1 ]; then
  echo "Wine tests of the i686 build: skipped (this host runs no 32-bit code$([ "${WEBTRIM_WINE_X64_ONLY:-0}" = 1 ] && echo ", or WEBTRIM_WINE_X64_ONLY=1"))"
fi
tested_windows="${windows[*]}"

if [ -x fuzz/run.sh ]; then
  step "Fuzzing, a short bounded run of each target"
  fuzz/run.sh "${FUZZ_SECONDS:-30}"
fi

printf '\nWindows builds tested under Wine: %s\n' "${tested_windows// /, }"
printf 'All tests ran in %d s\n' $(( $(date +%s) - start ))
