#!/usr/bin/env bash
# The command line's benchmark:
#   1. the corpus pages cleaned in one call, the trash as target, against one
#      process per page, side by side (median of RUNS, trash emptied first);
#   2. how the trash's own cost grows as it fills with originals of the same
#      names (GLib tries name, name.2, name.3, ... in turn);
#   3. -o - on the large page against the in-place clean of it.
#   bench/cli.sh [RUNS] [ROUNDS]      defaults: 5 runs, 8 rounds of growth
# Needs the Linux build (cmake --preset linux && cmake --build --preset linux).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
rounds=${2:-8}
build=build/linux
webtrim=$PWD/$build/webtrim
cmake --build "$build" --target webtrim >/dev/null

corpus=${CORPUS:-../shared/corpus}
[ -d "$corpus" ] || corpus=/work/shared/corpus
pages=("$corpus"/*.htm)
count=${#pages[@]}
[ "$count" -gt 1 ] || { echo "bench/cli.sh: no corpus pages in $corpus" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/webtrim-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/config" "$work/home/data"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"

now() { date +%s.%N; }
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
fresh() { rm -rf "$work/pages" "$XDG_DATA_HOME/Trash"; mkdir "$work/pages"; cp "${pages[@]}" "$work/pages/"; }

"$webtrim" --settings >/dev/null     # the settings file, made once
echo "corpus: $count pages, $(du -sh "$corpus" | cut -f1); median of $runs runs; $(nproc) processors"
one=() each=() one1=()
for i in $(seq 1 "$runs"); do
  fresh; t0=$(now); "$webtrim" "$work/pages"/*.htm; t1=$(now)
  one+=("$(echo "$t1 - $t0" | bc)")
  fresh; t0=$(now); "$webtrim" -j 1 "$work/pages"/*.htm; t1=$(now)
  one1+=("$(echo "$t1 - $t0" | bc)")
  fresh; t0=$(now); for p in "$work/pages"/*.htm; do "$webtrim" "$p"; done; t1=$(now)
  each+=("$(echo "$t1 - $t0" | bc)")
done
m_one=$(printf '%s\n' "${one[@]}" | median)
m_one1=$(printf '%s\n' "${one1[@]}" | median)
m_each=$(printf '%s\n' "${each[@]}" | median)
printf '%-34s %8.3f s  %6.2f ms a page\n' "one call (-j default)" "$m_one" "$(echo "$m_one * 1000 / $count" | bc -l)"
printf '%-34s %8.3f s  %6.2f ms a page\n' "one call, -j 1" "$m_one1" "$(echo "$m_one1 * 1000 / $count" | bc -l)"
printf '%-34s %8.3f s  %6.2f ms a page\n' "one process per page" "$m_each" "$(echo "$m_each * 1000 / $count" | bc -l)"
printf 'one call is %.1f times faster than one process per page\n' "$(echo "$m_each / $m_one" | bc -l)"

echo
echo "the same pages in a trash that fills up (one call a round, the trash kept):"
rm -rf "$XDG_DATA_HOME/Trash"
for r in $(seq 1 "$rounds"); do
  rm -rf "$work/pages"; mkdir "$work/pages"; cp "${pages[@]}" "$work/pages/"
  t0=$(now); "$webtrim" -j 1 "$work/pages"/*.htm; t1=$(now)
  printf '  round %2d: %d originals of each name already there: %7.3f s\n' \
    "$r" $((r - 1)) "$(echo "$t1 - $t0" | bc)"
done

echo
echo "pages of one name in one call, trash emptied first (the k-th one probes k names):"
small=${pages[0]}
for n in 100 200 400 800; do
  for kind in same distinct; do
    rm -rf "$work/many" "$XDG_DATA_HOME/Trash"; mkdir "$work/many"
    for i in $(seq 1 "$n"); do
      mkdir "$work/many/$i"
      if [ "$kind" = same ]; then cp "$small" "$work/many/$i/page.htm"; else cp "$small" "$work/many/$i/page$i.htm"; fi
    done
    t0=$(now); "$webtrim" -j 1 -r "$work/many"; t1=$(now)
    secs=$(echo "$t1 - $t0" | bc)
    printf '  %4d pages, %-8s names: %7.3f s  %6.2f ms a page
' "$n" "$kind" "$secs" "$(echo "$secs * 1000 / $n" | bc -l)"
  done
done

echo
big="$work/big.htm"
for i in 1 2 3 4 5 6 7; do cat "${pages[@]}"; done > "$big"
mb=$(awk -v b="$(stat -c %s "$big")" 'BEGIN { printf "%.1f", b / 1e6 }')
echo "the large page ($mb MB, the corpus 7 times), median of $runs:"
inplace=() tostdout=()
for i in $(seq 0 "$runs"); do
  cp "$big" "$work/page.htm"; rm -rf "$XDG_DATA_HOME/Trash"; sync
  t0=$(now); "$webtrim" "$work/page.htm"; t1=$(now)
  [ "$i" -gt 0 ] && inplace+=("$(echo "$t1 - $t0" | bc)")
  cp "$big" "$work/page.htm"; rm -f "$work/out.htm"; sync
  t0=$(now); "$webtrim" -o - "$work/page.htm" > "$work/out.htm"; t1=$(now)
  [ "$i" -gt 0 ] && tostdout+=("$(echo "$t1 - $t0" | bc)")
done
m_in=$(printf '%s\n' "${inplace[@]}" | median)
m_out=$(printf '%s\n' "${tostdout[@]}" | median)
printf '  %-24s %7.3f s  %7.1f MB/s\n' "in place" "$m_in" "$(echo "$mb / $m_in" | bc -l)"
printf '  %-24s %7.3f s  %7.1f MB/s\n' "-o - (into a file)" "$m_out" "$(echo "$mb / $m_out" | bc -l)"
t0=$(now); "$webtrim" -o - "$work/page.htm" | cat > /dev/null; t1=$(now)
printf '  %-24s %7.3f s\n' "-o - (into a pipe)" "$(echo "$t1 - $t0" | bc)"
