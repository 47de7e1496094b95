#!/usr/bin/env bash
# The library's benchmarks: the corpus cleaned in one Python process by
# webtrim.clean, the lxml Cleaner and readability (bench/python_bench.py),
# then the Dask example on 2 workers against webtrim -j 2 over the corpus
# repeated to PAGES pages (bench/dask_bench.py).
#   bench/library.sh [RUNS] [PAGES]     defaults: 3 runs (medians), 3000 pages
# Needs the Linux build (cmake --preset linux) and, for the comparisons,
# python3-lxml, python3-readability and python3-distributed.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
pages=${2:-3000}
build=build/linux
corpus=${WEBTRIM_SHARED_CORPUS:-../shared/corpus}
[ -d "$corpus" ] || corpus=/work/shared/corpus
cmake --build "$build" --target webtrim webtrim_python >/dev/null
export PYTHONPATH=$PWD/$build/python
echo "machine: $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo
/usr/bin/python3 bench/python_bench.py --runs "$runs" "$corpus"
echo
/usr/bin/python3 bench/dask_bench.py --webtrim "$build/webtrim" --runs "$runs" --pages "$pages" "$corpus"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
