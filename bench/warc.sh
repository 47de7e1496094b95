#!/usr/bin/env bash
# The web archive benchmark: a WARC of the corpus pages (response records,
# a gzip member each) repeated to SIZE megabytes of pages, cleaned by
# `webtrim --warc -j 1`, against the round trip no cleaner can beat,
# `zcat IN | gzip -6 > /dev/null` (the output's level), pinned to one core.
# Wall times are the median of RUNS, CPU times (user and system, the
# pipeline's two processes together) of one more run each; the peak memory
# is /usr/bin/time's. On a loaded machine the CPU times say more.
#   bench/warc.sh [RUNS] [SIZE]      defaults: 3 runs, 100 MB
# WEBTRIM=PATH times another build of the program (an older one, say) and
# LEVEL=N both sides at compression level N (the program's default is 6).
# Needs the Linux build (cmake --preset linux && cmake --build --preset linux).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
size=${2:-100}
build=build/linux
level=${LEVEL:-}
webtrim=${WEBTRIM:-$PWD/$build/webtrim}
[ -n "${WEBTRIM:-}" ] || cmake --build "$build" --target webtrim >/dev/null
levelArg=() zlevel=6
[ -z "$level" ] || { levelArg=(--warc-level "$level"); zlevel=$level; }

corpus=${CORPUS:-../shared/corpus}
[ -d "$corpus" ] || corpus=/work/shared/corpus
work=$(mktemp -d "${TMPDIR:-/tmp}/webtrim-warc-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/config" "$work/home/data"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"

# The pages are read in place; only the archive is written, to the work folder.
python3 - "$corpus" "$work/in.warc.gz" "$size" <<'PY'
import gzip, os, sys
corpus, out, size = sys.argv[1], sys.argv[2], int(sys.argv[3]) << 20
pages = [open(os.path.join(corpus, n), 'rb').read() for n in sorted(os.listdir(corpus))
         if n.lower().endswith(('.htm', '.html'))]
total, n = 0, 0
with open(out, 'wb') as f:
    while total < size:
        for p in pages:
            n += 1
            block = b'HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=windows-1252\r\n\r\n' + p
            head = ('WARC/1.0\r\nWARC-Type: response\r\nWARC-Record-ID: <urn:uuid:00000000-0000-0000-0000-%012d>\r\n'
                    'WARC-Date: 2024-01-01T00:00:00Z\r\nWARC-Target-URI: http://example.org/%d\r\n'
                    'Content-Type: application/http; msgtype=response\r\nContent-Length: %d\r\n\r\n'
                    % (n, n, len(block))).encode()
            f.write(gzip.compress(head + block + b'\r\n\r\n', 6, mtime=0))
            total += len(block)
print('archive: %d records, %.1f MB of pages, %.1f MB gzipped' % (n, total / 1e6, os.path.getsize(out) / 1e6))
PY

now() { date +%s.%N; }
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
times_w=() times_z=()
for _ in $(seq "$runs"); do
  t0=$(now); taskset -c 0 sh -c "zcat '$work/in.warc.gz' | gzip -$zlevel > /dev/null"; t1=$(now)
  times_z+=("$(echo "$t1 - $t0" | bc)")
  t0=$(now); "$webtrim" -q --warc "${levelArg[@]}" -j 1 "$work/in.warc.gz" -o "$work/out.warc.gz"; t1=$(now)
  times_w+=("$(echo "$t1 - $t0" | bc)")
done
z=$(printf '%s\n' "${times_z[@]}" | median)
w=$(printf '%s\n' "${times_w[@]}" | median)
/usr/bin/time -v "$webtrim" --warc "${levelArg[@]}" -j 1 "$work/in.warc.gz" -o "$work/out.warc.gz" 2> "$work/time.txt" >"$work/report.txt"
cat "$work/report.txt"
peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
cpu=$(awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } END { print u + s }' "$work/time.txt")
/usr/bin/time -v taskset -c 0 sh -c "zcat '$work/in.warc.gz' | gzip -$zlevel > /dev/null" 2> "$work/ztime.txt"
zcpu=$(awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } END { print u + s }' "$work/ztime.txt")
echo "zcat | gzip -$zlevel, one core:     ${z} s (median of $runs), ${zcpu} s CPU"
echo "webtrim --warc -j 1:          ${w} s (median of $runs), ${cpu} s CPU"
echo "speed against the round trip: $(echo "scale=2; $z / $w" | bc)x by wall time, $(echo "scale=2; $zcpu / $cpu" | bc)x by CPU time (target at least 0.6x)"
echo "peak memory:                  $((peak / 1024)) MB (target under 100 MB)"
