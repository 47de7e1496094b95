#!/usr/bin/env bash
# Checks that generated pages come out of the cleaning byte for byte as they
# did at REV, under every word of the fourteen switches: builds the cleaning
# sources of REV and of the work tree into two small programs, cleans every
# page with both and compares hashes of the results.
#   tools/same-generated.sh [--bytes] [REV] [SEEDS]   defaults: HEAD, 60 seeds (about 100 pages)
# With --bytes the work tree cleans with CleanBytes (memory to memory, no
# temporary file) and REV with CleanStream: the two must write the same.
# The pages come from fuzz/make_seeds.py, some cut off at random places
# (pages ending inside a tag) and some joined into pages of several hundred
# KiB (runs across buffer boundaries). A REV from before CleanStream is
# driven through its stages one after the other, as its run did.
set -eu
bytes=
if [ "${1:-}" = --bytes ]; then bytes=-DCLEAN_BYTES; shift; fi
rev=${1:-HEAD}
count=${2:-60}
root=$(git rev-parse --show-toplevel)
work=$(mktemp -d "${TMPDIR:-/tmp}/same-generated.XXXXXX")
trap 'git -C "$root" worktree remove --force "$work/old" >/dev/null 2>&1; rm -rf "$work"' EXIT
git -C "$root" worktree add --detach "$work/old" "$rev" >/dev/null 2>&1

cat > "$work/oldstages.cpp" <<'CPP'
// The stages of a revision before CleanStream, chained as its run did.
#include <stdio.h>
#include <string>
#include "clean/fs.h"
#include "clean/passes.h"
static std::string ReadAll(const char *path) {
    std::string s; FILE *f = fopen(path, "rb"); if (!f) return s;
    char buf[65536]; size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f); return s;
}
static uint64_t Hash(const std::string &s) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
}
static std::string Back(ByteStream *s) {
    StreamRewind(s); std::string r; int c;
    while ((c = StreamGet(s)) >= 0) r.push_back((char)c);
    return r;
}
int main(int argc, char **argv) {
    for (int i = 1; i < argc; i++) {
        std::string page = ReadAll(argv[i]);
        for (uint32_t word = 0; word < (1u << 13); word++) {
            ByteStream t0, t1, t2, t3;
            CreateTempStream(&t0); CreateTempStream(&t1); CreateTempStream(&t2); CreateTempStream(&t3);
            StreamWrite(&t0, page.data(), page.size()); StreamRewind(&t0);
            CaptureRunFlags(word); DeriveElementFlags();
            bool first = RunFlags[12] != 0;
            if (first) MainPartExtractor(RunFlags[8] != 0, RunFlags[11] != 0, &t0, &t1);
            else ElementRemovalPass(&t0, &t1);
            StreamFlush(&t1); StreamRewind(&t1);
            if (first) ElementRemovalPass(&t1, &t2);
            else MainPartExtractor(RunFlags[8] != 0, RunFlags[11] != 0, &t1, &t2);
            StreamFlush(&t2); StreamRewind(&t2);
            AttributePass(&t2, &t3);
            printf("%s %04X 0 %016llx\n", argv[i], word, (unsigned long long)Hash(Back(&t3)));
            StreamClose(&t0); StreamClose(&t1); StreamClose(&t2); StreamClose(&t3);
        }
    }
    return 0;
}
CPP

build() {  # SRC OUT DRIVER [FLAG]
  local sources=()
  for f in "$1"/clean/*.cpp; do
    case $(basename "$f") in run.cpp|report.cpp|*_win32.cpp) ;; *) sources+=("$f") ;; esac
  done
  # Since the platform's services left clean/ for a folder of their own.
  if [ -d "$1/platform" ]; then
    for f in fs_posix.cpp file_posix.cpp signals_posix.cpp compare_posix.cpp; do
      [ -f "$1/platform/$f" ] && sources+=("$1/platform/$f")
    done
  fi
  # Since the options word left clean/ for app/.
  [ -f "$1/clean/switches.cpp" ] || sources+=("$1/app/options.cpp")
  # Since web archives came into the cleaning: they need zlib.
  local libs=()
  if [ -f "$1/clean/warc.cpp" ]; then libs+=(-lz); fi
  g++ -std=c++17 -O2 -fno-exceptions ${4:-} -I"$1" "${sources[@]}" "$3" -o "$2" ${libs[@]+"${libs[@]}"}
}
if [ -f "$work/old/clean/clean.h" ]; then
  build "$work/old" "$work/old-clean" "$root/tools/cleanwords.cpp"
else
  build "$work/old" "$work/old-clean" "$work/oldstages.cpp"
fi
build "$root" "$work/new-clean" "$root/tools/cleanwords.cpp" "$bytes"

mkdir -p "$work/seeds" "$work/pages"
python3 "$root/fuzz/make_seeds.py" "$work/seeds" "$count" >/dev/null
python3 - "$work/seeds" "$work/pages" <<'PY'
import os, random, sys
seeds, pages = sys.argv[1], sys.argv[2]
rng = random.Random(7)
bodies = [open(os.path.join(seeds, n), "rb").read()[2:] for n in sorted(os.listdir(seeds))]
for i, b in enumerate(bodies):
    open(os.path.join(pages, "p%04d.htm" % i), "wb").write(b)
    if b and i % 2 == 0:
        cut = rng.randrange(len(b))
        open(os.path.join(pages, "c%04d.htm" % i), "wb").write(b[:cut])
for i in range(6):
    big = b"".join(rng.choice(bodies) for _ in range(400))
    open(os.path.join(pages, "b%04d.htm" % i), "wb").write(big[: rng.randrange(len(big) // 2, len(big))])
PY
# One page per program run, each into a file of its own.
cd "$work/pages"
ls *.htm | xargs -P "$(nproc)" -I{} sh -c '"$0" "$1" > "$1.old"; "$2" "$1" > "$1.new"' \
  "$work/old-clean" {} "$work/new-clean"
cat *.old > "$work/old.txt"
cat *.new > "$work/new.txt"
total=$(wc -l < "$work/new.txt")
diffs=$(diff "$work/old.txt" "$work/new.txt" | grep -c '^>' || true)
diff "$work/old.txt" "$work/new.txt" | grep '^>' | head -n 20
echo "same generated output: $((total - diffs)) of $total identical (REV $rev against the work tree${bytes:+, memory to memory})"
[ "$diffs" -eq 0 ]
