#!/usr/bin/python3
"""The Dask example on 2 workers against `webtrim -j 2`, over the corpus
repeated to a few thousand pages in a folder tree.

    dask_bench.py --webtrim PATH [--pages N] [--runs N] CORPUS_FOLDER

webtrim cleans a fresh copy of the tree in place (originals to a private
trash, each cleaned page synced to the disk as always); dask_clean.py
cleans the tree into a mirrored one on a local cluster of 2 worker
processes of one thread each, and counts its time from its first task,
the cluster's start left out. Medians of the runs, in pages per second.
"""
import argparse, os, re, shutil, statistics, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))


def make_tree(corpus, pages, root):
    names = sorted(f for f in os.listdir(corpus) if f.endswith('.htm'))
    made = 0
    while made < pages:
        folder = os.path.join(root, 'copy%03d' % (made // len(names)))
        os.makedirs(folder)
        for name in names[:pages - made]:
            shutil.copyfile(os.path.join(corpus, name), os.path.join(folder, name))
            made += 1
    return made


def run_webtrim(webtrim, tree, work):
    copy = os.path.join(work, 'inplace')
    shutil.copytree(tree, copy)
    home = os.path.join(work, 'home')
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + '/config',
               XDG_DATA_HOME=home + '/data')
    os.sync()
    start = time.monotonic()
    subprocess.run([webtrim, '-q', '-j', '2', '--defaults', '-r', copy], env=env, check=True)
    seconds = time.monotonic() - start
    shutil.rmtree(copy)
    shutil.rmtree(home)
    return seconds


def run_dask(tree, work):
    out = os.path.join(work, 'out')
    os.sync()
    r = subprocess.run([sys.executable, os.path.join(HERE, '../examples/dask_clean.py'),
                        '--workers', '2', '--threads', '1', tree, out],
                       capture_output=True, text=True, check=True)
    shutil.rmtree(out)
    m = re.search(r'in ([0-9.]+) s:', r.stdout)
    return float(m.group(1))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('corpus')
    ap.add_argument('--webtrim', required=True)
    ap.add_argument('--pages', type=int, default=3000)
    ap.add_argument('--runs', type=int, default=3)
    a = ap.parse_args()
    work = tempfile.mkdtemp(prefix='webtrim-dask-bench-')
    try:
        tree = os.path.join(work, 'tree')
        pages = make_tree(a.corpus, a.pages, tree)
        size = sum(os.path.getsize(os.path.join(d, f))
                   for d, _, fs in os.walk(tree) for f in fs) / 1e6
        print('%d pages, %.1f MB; median of %d runs' % (pages, size, a.runs))
        results = {}
        for name, run in [('webtrim -j 2', lambda: run_webtrim(a.webtrim, tree, work)),
                          ('dask, 2 workers', lambda: run_dask(tree, work))]:
            seconds = statistics.median(run() for _ in range(a.runs))
            results[name] = pages / seconds
            print('%-16s %8.2f s %8.0f pages/s' % (name, seconds, pages / seconds))
            sys.stdout.flush()
        print('dask on 2 workers: %.0f%% of the pages per second of webtrim -j 2'
              % (100 * results['dask, 2 workers'] / results['webtrim -j 2']))
    finally:
        shutil.rmtree(work)


if __name__ == '__main__':
    main()
