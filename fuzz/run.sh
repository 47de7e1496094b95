#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz") and runs each for SECONDS seconds
# (default 30), one after the other.
#
#   fuzz/run.sh [SECONDS] [TARGET...]     TARGET: elements attributes inert mainpart anylayout chain warc mime
#
# Each target reads a writable corpus folder under the build folder first,
# which libFuzzer extends with the new inputs it finds (filled with generated
# seeds the first time), then the shared corpus of real pages, read in place
# and never copied (WEBTRIM_SHARED_CORPUS, default ../shared/corpus beside
# the checkout; skipped when absent). Crashing inputs go to
# build/fuzz/artifacts/. Exits non-zero when any target found something.
set -eu

seconds=${1:-30}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(elements attributes inert mainpart anylayout chain warc mime)

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
shared=${WEBTRIM_SHARED_CORPUS:-$root/../shared/corpus}

cd "$root"
[ -f "$build/CMakeCache.txt" ] || cmake --preset fuzz >/dev/null
cmake --build "$build" > "$build/build.log" 2>&1 || { tail -n 30 "$build/build.log"; echo "fuzz: the targets did not build" >&2; exit 1; }

mkdir -p "$build/artifacts"
status=0
summary=""
for t in "${targets[@]}"; do
  exe=$build/fuzz/fuzz_$t
  corpus=$build/corpus/$t
  if [ -z "$(ls -A "$corpus" 2>/dev/null)" ]; then
    if [ "$t" = warc ]; then
      python3 "$root/fuzz/make_seeds.py" --warc "$corpus"
    else
      python3 "$root/fuzz/make_seeds.py" "$corpus"
    fi
  fi
  dirs=("$corpus")
  # The real pages are no archives: the warc target reads its own seeds.
  [ -d "$shared" ] && [ "$t" != warc ] && dirs+=("$shared")
  log=$build/fuzz-$t.log
  rc=0
  "$exe" -max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=4096 \
    -dict="$root/fuzz/webtrim.dict" -artifact_prefix="$build/artifacts/$t-" \
    -print_final_stats=1 "${dirs[@]}" >"$log" 2>&1 || rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if [ $rc -ne 0 ]; then
    status=1
    summary+="$t: FOUND A FAILURE after ${execs:-?} executions (see $log)"$'\n'
    tail -n 40 "$log" >&2
  else
    summary+="$t: ${execs:-?} executions, no finding"$'\n'
  fi
done
printf '%s' "$summary"
exit $status
