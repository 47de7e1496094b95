#!/usr/bin/env bash
# The benchmark: a whole command-line clean of a large page (default options,
# then with "Find the main part in any layout") against a byte-at-a-time copy
# and cp, then each stage alone and the whole chain of stages (CleanStream,
# file to file), each against the byte copy, then the extractions over a page
# of a million small cells.
#   bench/run.sh [SIZE_MB] [RUNS]     defaults: 300 MB, 5 runs (median)
# The page is the shared corpus (WEBTRIM_SHARED_CORPUS, or ../shared/corpus)
# repeated up to SIZE_MB; 216 is the corpus seven times.
# Needs the Linux build (cmake --preset linux && cmake --build --preset linux).
set -euo pipefail
cd "$(dirname "$0")/.."
size_mb=${1:-300}
runs=${2:-5}
build=build/linux
cmake --build "$build" --target webtrim bytecopy passbench >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/webtrim-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/config" "$work/home/data" "$work/any/webtrim"
printf '[Webtrim]\nw0=0x100033BF\nw1=\n' > "$work/any/webtrim/webtrim.ini"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"

# The large page: the shared corpus of real pages over and over, or a
# generated page of tables, cells, tags and text when the corpus is absent.
big="$work/big.htm"
corpus=${WEBTRIM_SHARED_CORPUS:-../shared/corpus}
if ls "$corpus"/*.htm >/dev/null 2>&1; then
  cat "$corpus"/*.htm > "$work/one.htm"
else
  /usr/bin/python3 - "$work/one.htm" <<'PY'
import random, sys
random.seed(1)
words = "the quick brown fox jumps over a lazy dog and runs far away".split()
out = ["<html><head><style>p{color:red}</style><script>var a=1;</script></head><body>"]
for t in range(2000):
    out.append('<table width="100%"><tr>')
    for c in range(5):
        out.append('<td style="color:blue" background="http://x/b.gif">')
        out.append(" ".join(random.choice(words) for _ in range(random.randint(2, 60))))
        out.append('<a href="http://x/%d">link</a><img src="p%d.gif"><!-- c --></td>' % (c, c))
    out.append("</tr></table>\n")
out.append("</body></html>\n")
open(sys.argv[1], "w").write("".join(out))
PY
fi
: > "$big"
while [ "$(stat -c %s "$big")" -lt $((size_mb * 1000000)) ]; do cat "$work/one.htm" >> "$big"; done
bytes=$(stat -c %s "$big")
mb=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }')
echo "page: $mb MB; median of $runs runs after one warm-up run"

# Seconds of one command, measured with GNU time; peak memory in KiB.
timed() { /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null; cat "$work/time"; }
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

cp "$big" "$work/page.htm"
measure() {   # name, then the command; prints "name seconds peakKiB"
  local name=$1; shift
  local secs=() peak=0
  for i in $(seq 0 "$runs"); do
    cp "$big" "$work/page.htm"; rm -rf "$XDG_DATA_HOME/Trash"; rm -f "$work/out"
    read -r s m < <(timed "$@")
    [ "$i" -gt 0 ] && secs+=("$s")
    [ "$m" -gt "$peak" ] && peak=$m
  done
  echo "$name $(printf '%s\n' "${secs[@]}" | median) $peak"
}

results=$(
  measure webtrim "$build/webtrim" "$work/page.htm"
  measure any-layout env XDG_CONFIG_HOME="$work/any" "$build/webtrim" "$work/page.htm"
  measure bytecopy sh -c "$build/bench/bytecopy < '$big' > '$work/out'"
  measure cp cp "$big" "$work/out"
)
echo "$results" | awk -v mb="$mb" '
  { name[NR] = $1; s[NR] = $2; peak[NR] = $3; at[$1] = NR }
  END {
    printf "%-10s %8s %10s %12s\n", "command", "seconds", "MB/s", "peak memory"
    for (i = 1; i <= NR; i++)
      printf "%-10s %8.2f %10.1f %9d KiB\n", name[i], s[i], (s[i] > 0 ? mb / s[i] : 0), peak[i]
    b = s[at["bytecopy"]]; c = s[at["cp"]]
    for (i = 1; i <= 2; i++)
      if (b > 0 && c > 0)
        printf "%s takes %.2f times the byte copy and %.2f times cp (speed %.2fx the byte copy)\n", name[i], s[i] / b, s[i] / c, b / s[i]
  }'

# The durability flush on its own: the wall-clock time one run spends in
# fdatasync (the cleaned page) and fsync (its folder), against the run's median.
if command -v strace >/dev/null; then
  cp "$big" "$work/page.htm"; rm -rf "$XDG_DATA_HOME/Trash"
  strace -f -w -c --seccomp-bpf -e trace=fdatasync,fsync -o "$work/sync" \
    "$build/webtrim" "$work/page.htm" >/dev/null
  flush=$(awk '$NF == "total" { print $2 }' "$work/sync")
  echo "$results" | awk -v f="${flush:-0}" '$1 == "webtrim" && $2 > 0 {
    printf "durability flush (fdatasync + folder fsync): %.2f s, %.1f%% of the webtrim run\n", f, 100 * f / $2 }'
else
  echo "durability flush: not measured (no strace)"
fi

echo
copy_mbs=$(echo "$results" | awk -v mb="$mb" '$1 == "bytecopy" && $2 > 0 { printf "%.1f", mb / $2 }')
echo "stages alone and the chain, file to file (default options, median of 3; x: times the byte copy):"
for stage in copy elements attributes extract anylayout clean memory; do
  for i in 1 2 3; do "$build/bench/passbench" "$stage" "$big"; done |
    awk '{ print $2 }' | median |
    awk -v s="$stage" -v c="$copy_mbs" '{ printf "  %-11s %8.1f MB/s %6.2fx\n", s, $1, (c > 0 ? $1 / c : 0) }'
done

echo
/usr/bin/python3 - "$work/cells.htm" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    f.write("<html><body><table>")
    for i in range(1000000):
        f.write("<tr><td>w%d x</td></tr>" % (i % 97))
    f.write("</table></body></html>")
PY
cells_mb=$(awk -v b="$(stat -c %s "$work/cells.htm")" 'BEGIN { printf "%.1f", b / 1e6 }')
echo "a page of 1,000,000 small cells ($cells_mb MB):"
for stage in copy extract anylayout; do
  for i in 1 2 3; do "$build/bench/passbench" "$stage" "$work/cells.htm"; done |
    awk '{ print $2 }' | median | awk -v s="$stage" '{ printf "  %-11s %8.1f MB/s\n", s, $1 }'
done
for stage in extract anylayout; do
  read -r s m < <(timed "$build/bench/passbench" "$stage" "$work/cells.htm")
  echo "  $stage peak memory: $m KiB"
done
