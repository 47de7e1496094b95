#!/usr/bin/python3
"""The Dask example on 2 workers against `webtrim -j 2`, over the corpus
repeated to a few thousand pages in a folder tree; with --warc, the example
against its first form (a WARC reader of its own in Python, webtrim.clean
per page; from git, or --old FILE) over 4 WARC files of those pages.

    dask_bench.py --webtrim PATH [--pages N] [--runs N] [--warc [--old FILE]] CORPUS_FOLDER

webtrim cleans a fresh copy of the tree in place (originals to a private
trash, each cleaned page synced to the disk as always); dask_clean.py
cleans the tree into a mirrored one on a local cluster of 2 worker
processes of one thread each, and counts its time from its first task,
the cluster's start left out. Medians of the runs, in pages per second.
"""
import argparse, gzip, os, re, shutil, statistics, subprocess, sys, tempfile, time

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


# The example before the archives were cleaned in the core.
OLD_EXAMPLE = '847f695'


def make_warcs(corpus, pages, folder, count=4):
    """`count` WARC files (a gzip member per record) of HTML responses, the
    corpus pages repeated to `pages` in all; the pages the program refuses
    for their bytes are left out (the old example would stop at them)."""
    names = sorted(f for f in os.listdir(corpus) if f.endswith('.htm'))
    bodies = []
    for name in names:
        with open(os.path.join(corpus, name), 'rb') as f:
            data = f.read()
        head = data[:512]
        if head[:2] not in (b'\xff\xfe', b'\xfe\xff') and b'\0' not in head:
            bodies.append(data)
    paths = []
    for i in range(count):
        path = os.path.join(folder, 'crawl-%d.warc.gz' % i)
        with open(path, 'wb') as f:
            for n in range(i, pages, count):
                block = b'HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=windows-1252\r\n\r\n' + \
                    bodies[n % len(bodies)]
                head = ('WARC/1.0\r\nWARC-Type: response\r\nWARC-Record-ID: <urn:uuid:%08d-0000-0000-0000-'
                        '000000000000>\r\nWARC-Date: 2024-01-01T00:00:00Z\r\nWARC-Target-URI: http://example.org/%d'
                        '\r\nContent-Type: application/http; msgtype=response\r\nContent-Length: %d\r\n\r\n'
                        % (n, n, len(block))).encode()
                f.write(gzip.compress(head + block + b'\r\n\r\n', 6, mtime=0))
        paths.append(path)
    return paths


def run_example(example, inputs, work):
    out = os.path.join(work, 'out')
    os.sync()
    r = subprocess.run([sys.executable, example, '--workers', '2', '--threads', '1'] + inputs + [out],
                       capture_output=True, text=True, check=True)
    shutil.rmtree(out)
    return float(re.search(r'in ([0-9.]+) s:', r.stdout).group(1))


def warc_main(a, work):
    old = a.old
    if not old:
        old = os.path.join(work, 'old_dask_clean.py')
        with open(old, 'wb') as f:
            f.write(subprocess.run(['git', '-C', HERE, 'show', OLD_EXAMPLE + ':examples/dask_clean.py'],
                                   stdout=subprocess.PIPE, check=True).stdout)
    folder = os.path.join(work, 'warcs')
    os.makedirs(folder)
    inputs = make_warcs(a.corpus, a.pages, folder)
    size = sum(os.path.getsize(p) for p in inputs) / 1e6
    print('%d pages in %d WARC files, %.1f MB gzipped; median of %d runs' % (a.pages, len(inputs), size, a.runs))
    results = {}
    for name, example in [('first example', old), ('example', os.path.join(HERE, '../examples/dask_clean.py'))]:
        seconds = statistics.median(run_example(example, inputs, work) for _ in range(a.runs))
        results[name] = a.pages / seconds
        print('%-16s %8.2f s %8.0f pages/s' % (name, seconds, a.pages / seconds))
        sys.stdout.flush()
    print('the example on 2 workers: %.2fx the pages per second of its first form (target at least 1.5x)'
          % (results['example'] / results['first example']))


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
    ap.add_argument('--warc', action='store_true', help='WARC files: the example against its first form')
    ap.add_argument('--old', help='the first form of the example (default: from git, %s)' % OLD_EXAMPLE)
    a = ap.parse_args()
    work = tempfile.mkdtemp(prefix='webtrim-dask-bench-')
    try:
        if a.warc:
            return warc_main(a, work)
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
