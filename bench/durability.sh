#!/usr/bin/env bash
# What keeping pages and originals safe costs a call in trash mode: the
# corpus pages (those the program cleans: the UTF-16 one left out), -j 1,
# counted by strace -f -c over the whole run: system calls per page,
# file-data syncs per page (fdatasync, and fsync of files) and folder syncs
# (fsync of folders, syncfs); then the wall time, interleaved run by run
# with another build of the program when one is given.
#   bench/durability.sh [OTHER_WEBTRIM] [RUNS]     defaults: none, 5 runs
# Needs the Linux build and strace.
set -euo pipefail
cd "$(dirname "$0")/.."
other=${1:-}
runs=${2:-5}
webtrim=$PWD/build/linux/webtrim
cmake --build build/linux --target webtrim >/dev/null

corpus=${CORPUS:-../shared/corpus}
[ -d "$corpus" ] || corpus=/work/shared/corpus
work=$(mktemp -d "${TMPDIR:-/tmp}/webtrim-durability-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/config" "$work/home/data"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"

# Only the pages the program cleans, found once.
cleanable=()
for p in "$corpus"/*.htm; do
  head -c 2 "$p" | od -An -tx1 | grep -Eq 'ff fe|fe ff' || cleanable+=("$p")
done

fresh() {
  rm -rf "$work/pages" "$XDG_DATA_HOME/Trash"
  mkdir "$work/pages"
  cp "${cleanable[@]}" "$work/pages/"
}

# Counts for one program: calls, file-data syncs and folder syncs, a page.
count() {
  local program=$1 log=$work/strace.log
  fresh
  local pages
  pages=$(ls "$work/pages" | wc -l)
  "$program" --settings >/dev/null
  strace -f -qq -o "$log" -e trace=fsync,fdatasync,syncfs -y "$program" -q -j 1 "$work/pages"/*.htm || true
  local files='fsync\([0-9]+<[^>]*(\.(htm|html|plg|trashinfo)| \(deleted\))>'
  local fileSyncs data folders
  fileSyncs=$(grep -Ec "$files" "$log" || true)
  data=$(($(grep -Ec 'fdatasync\(' "$log" || true) + fileSyncs))
  folders=$(($(grep -Ec 'syncfs\(|[^a]fsync\(' "$log" || true) - fileSyncs))
  fresh
  strace -f -c -o "$log" "$program" -q -j 1 "$work/pages"/*.htm || true
  local calls
  calls=$(awk '$NF == "total" { print $(NF - 2) }' "$log")
  printf '%-40s %d pages: %.1f calls, %.2f file-data syncs, %.2f folder syncs a page (%d folder syncs)\n' \
    "$program" "$pages" "$(echo "$calls / $pages" | bc -l)" "$(echo "$data / $pages" | bc -l)" \
    "$(echo "$folders / $pages" | bc -l)" "$folders"
}

now() { date +%s.%N; }
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

count "$webtrim"
[ -z "$other" ] || count "$other"

mine=() theirs=()
for i in $(seq 1 "$runs"); do
  fresh; t0=$(now); "$webtrim" -q -j 1 "$work/pages"/*.htm || true; t1=$(now)
  mine+=("$(echo "$t1 - $t0" | bc)")
  if [ -n "$other" ]; then
    fresh; t0=$(now); "$other" -q -j 1 "$work/pages"/*.htm || true; t1=$(now)
    theirs+=("$(echo "$t1 - $t0" | bc)")
  fi
done
m=$(printf '%s\n' "${mine[@]}" | median)
echo "wall, -j 1, median of $runs: this build ${m}s"
if [ -n "$other" ]; then
  o=$(printf '%s\n' "${theirs[@]}" | median)
  echo "wall, -j 1, median of $runs: $other ${o}s (ratio $(echo "scale=2; $m / $o" | bc))"
fi
