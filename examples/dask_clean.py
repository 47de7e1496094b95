#!/usr/bin/python3
"""Cleans saved web pages by the thousand on a Dask cluster with webtrim.

    dask_clean.py [OPTIONS] INPUT... OUTPUT

INPUT is a folder (every .htm, .html and .plg file below it) or WARC files
(.warc or .warc.gz). The pages of a folder are cleaned in batches, a task
per batch, each into the same place below OUTPUT, which must lie outside
the folder. Each WARC file is one task, webtrim.warc.clean_file, which
writes OUTPUT/NAME.warc.gz as `webtrim --warc` does (a `conversion` record
for each HTML page, every other record copied, bad records skipped and
counted); two inputs of one base name get NAME.warc.gz and NAME-2.warc.gz.
The page is what `webtrim` itself writes under the same options. At the end
the run says how many pages it cleaned and how many per second (the
cluster's start left out), and for archives the records skipped by reason.

Without --scheduler it starts a cluster of its own on this machine
(--workers processes, --threads each). The workers need the `webtrim`
module (python3-webtrim) and, for folders, the same file system.

The cleaning itself is clean_pages(), which takes and gives (key, page)
pairs: the same function serves Spark's mapPartitions (see README.md).
"""
import argparse, os, sys, time

import webtrim
import webtrim.warc

PAGE_SUFFIXES = ('.htm', '.html', '.plg')


# ---------------------------------------------------------------------------
# The cleaning, as any engine calls it

def clean_pages(pairs, refused=None, **options):
    """Cleans (key, page bytes) pairs; yields (key, cleaned page) pairs. A
    page the program refuses for its bytes (UTF-16 or UTF-32, a PDF, a
    picture) is left out, its key added to the list `refused` when given."""
    for key, page in pairs:
        try:
            yield key, webtrim.clean(page, **options)
        except webtrim.Error as e:
            if e.outcome != 'refused':
                raise
            if refused is not None:
                refused.append(key)


# ---------------------------------------------------------------------------
# The tasks

def clean_file_batch(paths, root, out, options):
    """Cleans a batch of page files below root into the same places below
    out: (pages, bytes in, bytes out, pages refused). A page refused is
    not written."""
    names = [os.path.relpath(p, root) for p in paths]
    pairs = []
    for path, name in zip(paths, names):
        with open(path, 'rb') as f:
            pairs.append((name, f.read()))
    size_in, size_out, refused = 0, 0, []
    sizes = dict(pairs)
    for name, cleaned in clean_pages(pairs, refused, **options):
        size_in += len(sizes[name])
        target = os.path.join(out, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, 'wb') as f:
            f.write(cleaned)
        size_out += len(cleaned)
    return len(pairs) - len(refused), size_in, size_out, len(refused)


def clean_warc(path, target, options):
    """Cleans one WARC file into a new one at target, in the core (no WARC
    parsing here): the webtrim.warc.WarcReport as a dict. A bad record is
    skipped or copied and counted, never stopping the file; the output takes
    its name only once whole."""
    return dict(zip(WARC_FIELDS, webtrim.warc.clean_file(path, target, **options)))


WARC_FIELDS = ('input', 'output', 'records', 'cleaned', 'passed', 'skipped', 'bytes_in', 'bytes_out',
               'page_bytes_in', 'page_bytes_out')


def warc_targets(inputs, output):
    """One output per input, named after its base name, kept apart when two
    inputs share one (crawl.warc.gz, crawl-2.warc.gz)."""
    taken, targets = set(), []
    for p in inputs:
        base = os.path.basename(p)
        for end in ('.gz', '.warc'):
            if base.lower().endswith(end):
                base = base[:-len(end)]
        name, n = base + '.warc.gz', 2
        while name in taken:
            name, n = '%s-%d.warc.gz' % (base, n), n + 1
        taken.add(name)
        targets.append(os.path.join(output, name))
    return targets


# ---------------------------------------------------------------------------
# The run

def is_warc(path):
    return path.endswith('.warc') or path.endswith('.warc.gz')


def page_files(folder):
    found = []
    for top, dirs, files in os.walk(folder):
        dirs.sort()
        found += [os.path.join(top, f) for f in sorted(files) if f.lower().endswith(PAGE_SUFFIXES)]
    return found


def options_of(a):
    options = {}
    for name in ('remove', 'keep', 'extract', 'cut_tables', 'extract_first', 'any_layout',
                 'avoid_bad_colors'):
        if getattr(a, name) is not None:
            options[name] = getattr(a, name)
    return options


def parse_arguments(argv):
    ap = argparse.ArgumentParser(description=__doc__.split('\n\n')[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('inputs', nargs='+', metavar='INPUT', help='a folder, or WARC files')
    ap.add_argument('output', metavar='OUTPUT', help='the folder to write into')
    ap.add_argument('--scheduler', help='the address of a running Dask scheduler')
    ap.add_argument('--workers', type=int, default=2, help='worker processes of a local cluster')
    ap.add_argument('--threads', type=int, default=1, help='threads of each local worker')
    ap.add_argument('--batch', type=int, default=64, help='pages per task (default 64)')
    ap.add_argument('--remove', help='kinds of element to remove, as webtrim --remove takes them')
    ap.add_argument('--keep', help='kinds of element to keep')
    for name, on, off in [('extract', '--extract', '--no-extract'),
                          ('cut_tables', '--cut-tables', '--no-cut-tables'),
                          ('extract_first', '--extract-first', '--extract-last'),
                          ('any_layout', '--any-layout', '--table-layout'),
                          ('avoid_bad_colors', '--avoid-bad-colors', '--no-avoid-bad-colors')]:
        ap.add_argument(on, dest=name, action='store_true', default=None)
        ap.add_argument(off, dest=name, action='store_false')
    a = ap.parse_args(argv)
    folders = [p for p in a.inputs if os.path.isdir(p)]
    if folders and len(a.inputs) > 1 or not folders and not all(map(is_warc, a.inputs)):
        ap.error('give one folder, or WARC files (.warc, .warc.gz)')
    if folders:
        inside = os.path.relpath(os.path.realpath(a.output), os.path.realpath(folders[0]))
        if inside == '.' or not inside.startswith('..'):
            ap.error('the output folder lies inside the input folder')
    return a


def main(argv=None):
    from distributed import Client, LocalCluster, as_completed
    a = parse_arguments(argv)
    options = options_of(a)
    webtrim.clean(b'', **options)           # a wrong option name stops us here
    os.makedirs(a.output, exist_ok=True)
    cluster = None
    if a.scheduler:
        client = Client(a.scheduler)
    else:
        cluster = LocalCluster(n_workers=a.workers, threads_per_worker=a.threads,
                               processes=True, dashboard_address=None)
        client = Client(cluster)
    try:
        start = time.monotonic()
        if os.path.isdir(a.inputs[0]):
            root = os.path.abspath(a.inputs[0])
            files = page_files(root)
            batches = [files[i:i + a.batch] for i in range(0, len(files), a.batch)]
            futures = client.map(clean_file_batch, batches, root=root,
                                 out=os.path.abspath(a.output), options=options, pure=False)
        else:
            targets = warc_targets(a.inputs, os.path.abspath(a.output))
            futures = client.map(clean_warc, [os.path.abspath(p) for p in a.inputs], targets,
                                 options=options, pure=False)
        pages = size_in = size_out = records = refused = 0
        skipped = {}
        for future in as_completed(futures):
            result = future.result()
            if isinstance(result, dict):        # an archive's report
                n, b_in, b_out = result['cleaned'], result['page_bytes_in'], result['page_bytes_out']
                records += result['records']
                for reason, count in result['skipped'].items():
                    skipped[reason] = skipped.get(reason, 0) + count
            else:
                n, b_in, b_out, r = result
                refused += r
            pages, size_in, size_out = pages + n, size_in + b_in, size_out + b_out
        seconds = time.monotonic() - start
    finally:
        client.close()
        if cluster:
            cluster.close()
    print('cleaned %d pages (%.1f MB into %.1f MB) in %.2f s: %.0f pages/s'
          % (pages, size_in / 1e6, size_out / 1e6, seconds, pages / seconds if seconds else 0))
    if refused:
        print('refused %d files that are no pages to clean (UTF-16 or UTF-32, or binary)' % refused)
    if not os.path.isdir(a.inputs[0]):
        print('%d records read; skipped or copied as they were: %s'
              % (records, ', '.join('%s %d' % kv for kv in sorted(skipped.items())) or 'none'))
    return 0


if __name__ == '__main__':
    sys.exit(main())
