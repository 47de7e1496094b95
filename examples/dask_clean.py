#!/usr/bin/python3
"""Cleans saved web pages by the thousand on a Dask cluster with webtrim.

    dask_clean.py [OPTIONS] INPUT... OUTPUT

INPUT is a folder (every .htm, .html and .plg file below it) or WARC files
(.warc or .warc.gz). The pages of a folder are cleaned in batches, a task
per batch, each into the same place below OUTPUT. The HTML responses of a
WARC file are cleaned by one task, which writes OUTPUT/NAME.warc.gz: a
`conversion` record for each, referring to the original by its record id.
The page is what `webtrim` itself writes under the same options. At the end
the run says how many pages it cleaned and how many per second (the
cluster's start left out).

Without --scheduler it starts a cluster of its own on this machine
(--workers processes, --threads each). The workers need the `webtrim`
module (python3-webtrim) and, for folders, the same file system.

The cleaning itself is clean_pages(), which takes and gives (key, page)
pairs: the same function serves Spark's mapPartitions (see README.md).
"""
import argparse, base64, gzip, hashlib, io, os, sys, time, uuid, zlib

import webtrim

PAGE_SUFFIXES = ('.htm', '.html', '.plg')


# ---------------------------------------------------------------------------
# The cleaning, as any engine calls it

def clean_pages(pairs, **options):
    """Cleans (key, page bytes) pairs; yields (key, cleaned page) pairs."""
    for key, page in pairs:
        yield key, webtrim.clean(page, **options)


# ---------------------------------------------------------------------------
# A small WARC reader: records, gzip members, chunked bodies, HTML responses

class WarcRecord:
    def __init__(self, headers, block):
        self.headers = headers      # field names in lower case
        self.block = block

    def get(self, name, default=None):
        return self.headers.get(name.lower(), default)


def open_warc(path):
    """The file's bytes, whether its records are gzip members or plain."""
    f = open(path, 'rb')
    if f.peek(2)[:2] == b'\x1f\x8b':
        return gzip.GzipFile(fileobj=f)     # reads member after member
    return f


def read_records(stream):
    """Yields each record of a WARC stream."""
    while True:
        line = stream.readline()
        if not line:
            return
        if not line.strip():
            continue                        # the blank lines between records
        if not line.startswith(b'WARC/'):
            raise ValueError('not a WARC record: %r' % line[:40])
        headers = {}
        while True:
            line = stream.readline()
            if not line or not line.strip():
                break
            name, _, value = line.decode('utf-8', 'replace').partition(':')
            headers[name.strip().lower()] = value.strip()
        length = int(headers.get('content-length', '0'))
        block = stream.read(length)
        if len(block) < length:
            raise ValueError('a WARC record ends early')
        yield WarcRecord(headers, block)


def dechunk(body):
    """The body of a chunked transfer, as far as its chunks go."""
    out, at = [], 0
    while at < len(body):
        end = body.find(b'\r\n', at)
        if end < 0:
            break
        size = int(body[at:end].split(b';')[0].strip() or b'0', 16)
        if size == 0:
            break
        out.append(body[end + 2:end + 2 + size])
        at = end + 2 + size + 2
    return b''.join(out)


def http_page(record):
    """The HTML page an HTTP response record holds, or None: (status line,
    page bytes)."""
    if record.get('WARC-Type') != 'response' or \
            not record.get('Content-Type', '').startswith('application/http'):
        return None
    head, sep, body = record.block.partition(b'\r\n\r\n')
    if not sep:
        return None
    lines = head.split(b'\r\n')
    parts = lines[0].split(None, 2)
    if len(parts) < 2 or not parts[1].isdigit() or not 200 <= int(parts[1]) < 300:
        return None
    fields = {}
    for line in lines[1:]:
        name, _, value = line.partition(b':')
        fields[name.strip().lower()] = value.strip().lower()
    kind = fields.get(b'content-type', b'')
    if not (kind.startswith(b'text/html') or kind.startswith(b'application/xhtml+xml')):
        return None
    if b'chunked' in fields.get(b'transfer-encoding', b''):
        body = dechunk(body)
    coding = fields.get(b'content-encoding', b'')
    try:
        if coding in (b'gzip', b'x-gzip'):
            body = zlib.decompress(body, 47)
        elif coding == b'deflate':
            body = zlib.decompress(body)
    except zlib.error:
        return None
    return body


def warc_html_pages(path):
    """Yields (record, page) for each HTML response of a WARC file."""
    with open_warc(path) as stream:
        for record in read_records(stream):
            page = http_page(record)
            if page is not None:
                yield record, page


def warc_record(fields, block):
    """One record as a gzip member of its own."""
    head = ['WARC/1.1'] + ['%s: %s' % kv for kv in fields]
    digest = base64.b32encode(hashlib.sha1(block).digest()).decode()
    head += ['WARC-Block-Digest: sha1:' + digest, 'Content-Length: %d' % len(block)]
    data = ('\r\n'.join(head) + '\r\n\r\n').encode() + block + b'\r\n\r\n'
    return gzip.compress(data, compresslevel=6, mtime=0)


def now():
    return time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime())


# ---------------------------------------------------------------------------
# The tasks

def clean_file_batch(paths, root, out, options):
    """Cleans a batch of page files below root into the same places below
    out: (pages, bytes in, bytes out)."""
    names = [os.path.relpath(p, root) for p in paths]
    pairs = []
    for path, name in zip(paths, names):
        with open(path, 'rb') as f:
            pairs.append((name, f.read()))
    size_in = sum(len(p) for _, p in pairs)
    size_out = 0
    for name, cleaned in clean_pages(pairs, **options):
        target = os.path.join(out, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, 'wb') as f:
            f.write(cleaned)
        size_out += len(cleaned)
    return len(pairs), size_in, size_out


def clean_warc(path, target, options, batch):
    """Cleans the HTML responses of one WARC file, a batch at a time, into
    conversion records in target: (pages, bytes in, bytes out)."""
    pages = size_in = size_out = 0
    with open(target + '.part', 'wb') as out:
        out.write(warc_record([
            ('WARC-Type', 'warcinfo'), ('WARC-Record-ID', '<urn:uuid:%s>' % uuid.uuid4()),
            ('WARC-Date', now()), ('WARC-Filename', os.path.basename(target)),
            ('Content-Type', 'application/warc-fields')],
            ('software: webtrim %s (dask_clean.py)\r\nformat: WARC File Format 1.1\r\n'
             'description: the HTML responses of %s, cleaned\r\n'
             % (webtrim.__version__, os.path.basename(path))).encode()))
        records = warc_html_pages(path)
        while True:
            chunk = [r for _, r in zip(range(batch), records)]
            if not chunk:
                break
            pairs = [(record, page) for record, page in chunk]
            for record, cleaned in clean_pages(pairs, **options):
                fields = [('WARC-Type', 'conversion'),
                          ('WARC-Record-ID', '<urn:uuid:%s>' % uuid.uuid4()),
                          ('WARC-Date', now()),
                          ('WARC-Refers-To', record.get('WARC-Record-ID', '')),
                          ('WARC-Target-URI', record.get('WARC-Target-URI', '')),
                          ('Content-Type', 'text/html')]
                out.write(warc_record(fields, cleaned))
                size_out += len(cleaned)
            pages += len(chunk)
            size_in += sum(len(p) for _, p in chunk)
    os.replace(target + '.part', target)
    return pages, size_in, size_out


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
            targets = [os.path.join(os.path.abspath(a.output),
                                    os.path.basename(p).rsplit('.warc', 1)[0] + '.warc.gz')
                       for p in a.inputs]
            futures = client.map(clean_warc, [os.path.abspath(p) for p in a.inputs], targets,
                                 options=options, batch=a.batch, pure=False)
        pages = size_in = size_out = 0
        for future in as_completed(futures):
            n, b_in, b_out = future.result()
            pages, size_in, size_out = pages + n, size_in + b_in, size_out + b_out
        seconds = time.monotonic() - start
    finally:
        client.close()
        if cluster:
            cluster.close()
    print('cleaned %d pages (%.1f MB into %.1f MB) in %.2f s: %.0f pages/s'
          % (pages, size_in / 1e6, size_out / 1e6, seconds, pages / seconds if seconds else 0))
    return 0


if __name__ == '__main__':
    sys.exit(main())
