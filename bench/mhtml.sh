#!/usr/bin/env bash
# Single-file pages against their HTML: the corpus pages joined into one
# large page, and the same page as the root part of a single-file page
# (quoted-printable, as browsers write it, with a picture part beside it),
# each cleaned with -o under the defaults, ten times a run; then each corpus
# page alone, as HTML and as a single-file page, one call per page. Times
# are the processor's (user + system, so a loaded machine or a slow disk
# counts less), median of RUNS, the two forms timed in turn; the ratio is
# single-file speed / HTML speed (1.00 is as fast), the median of the runs'.
# Then each page alone again in one process, through the library.
#   bench/mhtml.sh [RUNS]      default: 5 runs
# Needs the Linux build (cmake --preset linux && cmake --build --preset linux).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
webtrim=$PWD/build/linux/webtrim
cmake --build build/linux --target webtrim webtrim_python >/dev/null

corpus=${CORPUS:-../shared/corpus}
[ -d "$corpus" ] || corpus=/work/shared/corpus
work=$(mktemp -d "${TMPDIR:-/tmp}/webtrim-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/config" "$work/home/data" "$work/out"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"

python3 - "$corpus" "$work" <<'PY'
import os, quopri, sys
corpus, work = sys.argv[1:]
page = b''
for name in sorted(n for n in os.listdir(corpus) if n.endswith('.htm')):
    data = open(os.path.join(corpus, name), 'rb').read()
    if data[:2] not in (b'\xff\xfe', b'\xfe\xff') and data[1:2] != b'\0':
        page += data                # UTF-16 pages are refused either way
open(os.path.join(work, 'page.htm'), 'wb').write(page)
doc = (b'From: <Saved by Blink>\r\nMIME-Version: 1.0\r\nContent-Type: multipart/related;\r\n'
       b'\ttype="text/html";\r\n\tboundary="----B"\r\n\r\n------B\r\nContent-Type: text/html\r\n'
       b'Content-Transfer-Encoding: quoted-printable\r\nContent-Location: http://x/page.htm\r\n\r\n'
       + quopri.encodestring(page) + b'\r\n------B\r\nContent-Type: image/png\r\n'
       b'Content-Transfer-Encoding: base64\r\nContent-Location: http://x/a.png\r\n\r\n'
       + b'iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==\r\n' * 50
       + b'------B--\r\n')
open(os.path.join(work, 'page.mht'), 'wb').write(doc)
os.makedirs(os.path.join(work, 'pages'))
for name in sorted(n for n in os.listdir(corpus) if n.endswith('.htm')):
    data = open(os.path.join(corpus, name), 'rb').read()
    if data[:2] in (b'\xff\xfe', b'\xfe\xff') or data[1:2] == b'\0':
        continue
    open(os.path.join(work, 'pages', name), 'wb').write(data)
    open(os.path.join(work, 'pages', name[:-4] + '.mht'), 'wb').write(
        doc[:doc.index(b'\r\n\r\n', doc.index(b'------B')) + 4] + quopri.encodestring(data) + b'\r\n------B--\r\n')
PY

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
time_one() {  # REPEAT PAGE...: processor seconds to clean each with -o, one call each, per repeat
  local repeat=$1
  shift
  /usr/bin/time -f '%U %S' -o "$work/time" bash -c 'o=$1; r=$2; shift 2; for i in $(seq "$r"); do
    for p; do "$0" -q -o "$o/out/${p##*/}" "$p"; done; done' "$webtrim" "$work" "$repeat" "$@"
  awk -v r="$repeat" '{ print ($1 + $2) / r }' "$work/time"
}
# The large page ten times a run (the clock counts hundredths of a second);
# the two forms in turn, so that a machine that slows down or speeds up
# meanwhile weighs on both; the ratio is the median of the runs' ratios.
: > "$work/pairs"
: > "$work/page-pairs"
for i in $(seq "$runs"); do
  echo "$(time_one 10 "$work/page.htm") $(time_one 10 "$work/page.mht")" >> "$work/pairs"
  echo "$(time_one 1 "$work"/pages/*.htm) $(time_one 1 "$work"/pages/*.mht)" >> "$work/page-pairs"
done
html=$(awk '{ print $1 }' "$work/pairs" | median)
mht=$(awk '{ print $2 }' "$work/pairs" | median)
ratio=$(awk '{ print $1 / $2 }' "$work/pairs" | median)
phtml=$(awk '{ print $1 }' "$work/page-pairs" | median)
pmht=$(awk '{ print $2 }' "$work/page-pairs" | median)
pratio=$(awk '{ print $1 / $2 }' "$work/page-pairs" | median)
printf 'page: %d bytes of HTML, %d as a single-file page\n' "$(wc -c < "$work/page.htm")" "$(wc -c < "$work/page.mht")"
printf 'as HTML:        %.3f s (%.1f MB/s of HTML)\nas single-file: %.3f s (%.1f MB/s of HTML)\nspeed ratio:    %.2f (single-file / HTML)\n' \
  "$html" "$(echo "$(wc -c < "$work/page.htm") / $html / 1000000" | bc -l)" \
  "$mht" "$(echo "$(wc -c < "$work/page.htm") / $mht / 1000000" | bc -l)" "$ratio"
printf 'pages one by one (%d): as HTML %.3f s, as single-file %.3f s, speed ratio %.2f\n' \
  "$(ls "$work"/pages/*.htm | wc -l)" "$phtml" "$pmht" "$pratio"

# Each page alone again, in one process through the library (webtrim.clean),
# where no start of a program and no file's reading weighs on either form:
# processor time of the calls alone, the two forms in turn, median of the
# runs' ratios. (The large page is left out here: the fresh memory for its
# 15 MB result, the same for both forms, can cost as much as the clean
# itself, and swings from call to call.)
PYTHONPATH=$PWD/build/linux/python /usr/bin/python3 - "$work" "$runs" <<'PY'
import os, statistics, sys, time
import webtrim
work, runs = sys.argv[1], int(sys.argv[2])
names = sorted(n[:-4] for n in os.listdir(os.path.join(work, 'pages')) if n.endswith('.htm'))
html, mht = ([open(os.path.join(work, 'pages', n + ext), 'rb').read() for n in names] for ext in ('.htm', '.mht'))
def seconds(batch):
    start = time.process_time()
    for page in batch:
        webtrim.clean(page)
    return time.process_time() - start
pairs = [(seconds(html), seconds(mht)) for _ in range(runs)]
print('library, pages one by one: as HTML %.3f s, as single-file %.3f s, speed ratio %.2f' % (
    statistics.median(h for h, m in pairs), statistics.median(m for h, m in pairs),
    statistics.median(h / m for h, m in pairs)))
PY
