#!/usr/bin/python3
"""Tests of the Python module `webtrim`, as Debian's python3 imports it.

One table-driven runner: the pages the module writes against what the
program writes in place under the same options, the figures of a Result,
the option names and the errors, the inputs it takes, and two threads in
the library at once (a preloaded shim holds each clean until both stand in
it, which they can only if the module lets go of the interpreter's lock).
Without --module, the runner tests the module the interpreter itself
imports (from a venv); with --install-into DIR, it makes that venv in DIR,
builds a wheel and installs the checkout with pip, offline, and runs again
in it.
Run: webtrim_test.py [--module DIR] --webtrim PATH --shim PATH [--library PATH] [--source DIR]
                     [--install-into DIR] [NAME...]
"""
import argparse, contextlib, ctypes, gzip, json, mmap, os, pickle, shutil, subprocess, sys, tempfile, \
    threading, time

CASES = []


def case(fn):
    CASES.append(fn)
    return fn


def eq(got, want, what=''):
    assert got == want, '%s: got %r, want %r' % (what, got, want)


PAGE = (b'<html><head><title>t</title><style>p{color:red}</style><script>x</script>'
        b'</head><body bgcolor=black><table><tr><td>menu</td></tr></table>'
        b'<table><tr><td><div class=article><p style="color:blue">The council met on '
        b'Tuesday and voted, after a long debate, to keep the old bridge open.</p>'
        b'<!-- note --><img src="p.gif"><p>More prose follows, with commas, and words.</p>'
        b'</div><form action=a><input></form></td></tr></table></body></html>')

# The same options for the module and for the command line.
OPTION_SETS = [
    ({}, []),
    ({'remove': 'pictures', 'any_layout': True}, ['--remove=pictures', '--any-layout']),
    ({'keep': ['scripts', 'styles'], 'extract_first': False, 'cut_tables': True},
     ['--keep=scripts,styles', '--extract-last', '--cut-tables']),
    ({'remove': 'all', 'extract': False, 'avoid_bad_colors': True},
     ['--remove=all', '--no-extract', '--avoid-bad-colors']),
    ({'keep': 'all', 'any_layout': True, 'extract_first': False},
     ['--keep=all', '--any-layout', '--extract-last']),
]


def corpus():
    d = os.environ.get('WEBTRIM_SHARED_CORPUS') or os.path.join(SOURCE, '../shared/corpus')
    return sorted(os.path.join(d, f) for f in os.listdir(d) if f.endswith('.htm')) \
        if os.path.isdir(d) else []


@contextlib.contextmanager
def home_in(folder):
    """A home of the module's own for a while: its trash below `folder`."""
    saved = {k: os.environ.get(k) for k in ('HOME', 'XDG_DATA_HOME')}
    os.environ.update(HOME=folder, XDG_DATA_HOME=folder + '/data')
    try:
        yield
    finally:
        for k, v in saved.items():
            if v is None:
                os.environ.pop(k, None)
            else:
                os.environ[k] = v


def run_program(folder, options):
    """Cleans every page below folder in place with the program, in a home
    of its own, with the defaults and then `options`."""
    home = tempfile.mkdtemp(prefix='webtrim-home-')
    try:
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + '/config',
                   XDG_DATA_HOME=home + '/data', LC_ALL='C')
        r = subprocess.run([WEBTRIM, '-q', '--defaults'] + options + ['-r', folder],
                           capture_output=True, env=env, timeout=600)
        eq(r.returncode, 0, r.stderr.decode(errors='replace'))
    finally:
        shutil.rmtree(home)


@case
def pages_as_the_program_writes_them(tmp):
    pages = corpus()[:: 1 if FULL else 4] or []
    pages = [(os.path.basename(p), open(p, 'rb').read()) for p in pages]
    pages.append(('page.htm', PAGE))
    pages.append(('empty.htm', b''))
    for n, (kwargs, options) in enumerate(OPTION_SETS):
        folder = os.path.join(tmp, 'set%d' % n)
        os.makedirs(folder)
        for name, data in pages:
            with open(os.path.join(folder, name), 'wb') as f:
                f.write(data)
        run_program(folder, options)
        for name, data in pages:
            try:
                cleaned = webtrim.clean(data, **kwargs)
            except webtrim.Error as e:          # refused for its bytes, as the program left it
                eq((e.outcome, e.name), ('refused', 'not-text'), name)
                cleaned = data
            with open(os.path.join(folder, name), 'rb') as f:
                eq(cleaned, f.read(), '%s under %s' % (name, options))


@case
def result_figures(tmp):
    for kwargs, _ in OPTION_SETS:
        r = webtrim.clean_result(PAGE, **kwargs)
        what = repr(kwargs)
        assert isinstance(r, webtrim.Result), what
        eq(r.page, webtrim.clean(PAGE, **kwargs), what)
        eq((r.bytes_in, r.bytes_out), (len(PAGE), len(r.page)), what)
        eq(r.removed_by_elements + r.removed_by_extraction + r.removed_by_attributes,
           len(PAGE) - len(r.page), what)
        eq(sorted(r.removals), sorted(webtrim.REMOVAL_KINDS), what)
        eq(sorted(r.removal_bytes), sorted(webtrim.REMOVAL_KINDS), what)
        assert all(v >= 0 for v in r.removals.values()), what
    eq(webtrim.clean_result(PAGE, extract=False).extraction, 'off')
    eq(webtrim.clean_result(PAGE).extraction, 'wrapped-cell')
    r = webtrim.clean_result(PAGE, any_layout=True)
    eq((r.outcome, r.extraction), ('cleaned', 'any-layout-part'))
    start, end, tag = r.part
    eq((tag, PAGE[start:start + 5]), ('DIV', b'<div '), 'the part lies in the page given')
    assert PAGE[start:end].endswith(b'</div>'), PAGE[start:end]
    eq(webtrim.clean_result(PAGE).part, None)


@case
def options_by_name(tmp):
    eq(list(webtrim.DEFAULTS), list(webtrim.OPTIONS))
    assert all(type(v) is bool and k.isidentifier() for k, v in webtrim.DEFAULTS.items()), webtrim.DEFAULTS
    same = [
        ({'remove': 'pictures,forms'}, {'remove': ['pictures', 'forms']}),
        ({'remove': ('pictures',)}, {'remove': iter(['pictures'])}),
        ({'remove': 'scripts', 'keep': 'scripts'}, {'keep': 'scripts'}),       # keep comes last
        ({'keep': 'all', 'remove': 'styles'}, {'keep': 'all'}),
        ({'extract': None, 'remove': None}, {}),
        (webtrim.DEFAULTS, {}),                                                # the defaults round-trip
        ({'pictures': True, 'scripts': False}, {'remove': 'pictures', 'keep': 'scripts'}),
        ({'remove': 'pictures', 'pictures': False}, {}),                       # the keywords come last
        ({'keep': 'any_layout,cut-tables'}, {'any_layout': False, 'cut_tables': False}),
    ]
    for a, b in same:
        eq(webtrim.clean(PAGE, **a), webtrim.clean(PAGE, **b), '%r and %r' % (a, b))
    differ = [({'remove': 'pictures'}, {}), ({'keep': 'styles'}, {}), ({'extract': False}, {})]
    for a, b in differ:
        assert webtrim.clean(PAGE, **a) != webtrim.clean(PAGE, **b), (a, b)


@case
def errors_carry_the_message_texts(tmp):
    bad = [
        (lambda: webtrim.clean(PAGE, remove='pictres'), webtrim.Error,
         "No option has that name: 'pictres'", 'option'),
        (lambda: webtrim.clean(PAGE, keep=['all', 'any-layout', 'trash']), webtrim.Error,
         "No option has that name: 'trash'", 'option'),
        (lambda: webtrim.clean(PAGE * 4000, extract_first=False, memory_limit=100000),
         webtrim.Error, 'The page would pass the memory limit between two stages', 'memory-limit'),
        (lambda: webtrim.clean('<p>text</p>'), TypeError, None, None),
        (lambda: webtrim.clean(PAGE, remove=[3]), TypeError, None, None),
        (lambda: webtrim.clean(PAGE, memory_limit=-1), ValueError, None, None),
        # The cleaned page counts against the limit too.
        (lambda: webtrim.clean(PAGE * 40, memory_limit=len(webtrim.clean(PAGE * 40)) - 1), webtrim.Error,
         'The page would pass the memory limit between two stages: the cleaned page', 'memory-limit'),
        (lambda: webtrim.clean(PAGE, tables=True), TypeError, None, None),
        (lambda: webtrim.clean(PAGE, False), TypeError, None, None),
        (lambda: webtrim.clean(PAGE, data=PAGE), TypeError, None, None),
        # Options are typed: a switch takes True or False (None: its default).
        (lambda: webtrim.clean(PAGE, any_layout=1), TypeError, None, None),
        (lambda: webtrim.clean(PAGE, pictures='no'), TypeError, None, None),
        (lambda: webtrim.clean(PAGE, force=0), TypeError, None, None),
        (lambda: webtrim.clean(PAGE, memory_limit=True), TypeError, None, None),
        (lambda: webtrim.clean(PAGE, **{'any-layout': True}), TypeError, None, None),
        (lambda: webtrim.clean_file('x.htm', move_to='k', keep_originals=True), TypeError, None, None),
        (lambda: webtrim.warc.clean_file('a', 'b', response='yes'), TypeError, None, None),
        (lambda: webtrim.warc.clean_file('a', 'b', level='1'), TypeError, None, None),
        (lambda: webtrim.warc.clean_file('a', 'b', level=True), TypeError, None, None),
        (lambda: webtrim.warc.clean_file('a', 'b', level=10), ValueError, None, None),
        (lambda: webtrim.warc.clean_file('a', 'b', level=-1), ValueError, None, None),
        # A single-file page cut short is not cleaned.
        (lambda: webtrim.clean(b'Content-Type: multipart/related; boundary=b\r\n\r\n--b\r\n'
                               b'Content-Type: text/html\r\n\r\n<p>cut'), webtrim.Error,
         'Not a single-file page (MHTML) that can be read', 'not-an-archive'),
    ]
    for call, kind, text, name in bad:
        try:
            call()
        except kind as e:
            if text is not None:
                eq((str(e), e.name, e.code), (text, name, e.code))
                assert isinstance(e.code, int) and e.code > 0
            continue
        raise AssertionError('no %s for %s' % (kind.__name__, text))
    # A limit the clean fits in changes nothing, the cleaned page's own size included.
    eq(webtrim.clean(PAGE, memory_limit=1 << 24), webtrim.clean(PAGE))
    eq(webtrim.clean(PAGE * 40, memory_limit=len(webtrim.clean(PAGE * 40))), webtrim.clean(PAGE * 40))


@case
def any_buffer_is_a_page(tmp):
    want = webtrim.clean(PAGE)
    path = os.path.join(tmp, 'p.htm')
    with open(path, 'wb') as f:
        f.write(PAGE)
    with open(path, 'rb') as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as m:
        eq(webtrim.clean(m), want, 'mmap')
    for given in [bytearray(PAGE), memoryview(b'xx' + PAGE)[2:], memoryview(bytearray(PAGE))]:
        eq(webtrim.clean(given), want, type(given).__name__)
    eq(webtrim.clean(data=PAGE), want, 'by keyword')
    eq(webtrim.clean(b''), b'', 'empty')


@case
def clean_file_does_what_the_program_does(tmp):
    """clean_file in place: the same cleaned page and trashed original as the
    program, a page left as it is when clean, refusals and failures as
    webtrim.Error with the program's message, and move_to's free names."""
    home = os.path.join(tmp, 'home')
    os.makedirs(home)
    saved = {k: os.environ.get(k) for k in ('HOME', 'XDG_DATA_HOME')}
    os.environ.update(HOME=home, XDG_DATA_HOME=home + '/data')
    try:
        for n, (kwargs, options) in enumerate(OPTION_SETS):
            folder = os.path.join(tmp, 'f%d' % n)
            os.makedirs(folder)
            for name in ('a.htm', 'b.htm'):
                with open(os.path.join(folder, name), 'wb') as f:
                    f.write(PAGE)
            run_program(folder + '/a.htm', options)
            r = webtrim.clean_file(os.path.join(folder, 'b.htm'), **kwargs)
            with open(os.path.join(folder, 'a.htm'), 'rb') as a, open(os.path.join(folder, 'b.htm'), 'rb') as b:
                want = a.read()
                eq(b.read(), want, options)
            eq((r.outcome, r.original, r.bytes_in, r.bytes_out), ('cleaned', 'trash', len(PAGE), len(want)), options)
            with open(r.original_path, 'rb') as f:
                eq(f.read(), PAGE, options)
            eq(r.page, os.path.join(folder, 'b.htm'))
            again = webtrim.clean_file(os.path.join(folder, 'b.htm'), **kwargs)
            eq((again.outcome, again.original, again.original_path), ('already-clean', 'stays', None), options)
        # Into a folder, under free names; a missing folder says so and
        # sends the original to the trash.
        kept = os.path.join(tmp, 'kept')
        os.makedirs(kept)
        for i in range(2):
            page = os.path.join(tmp, 'p%d' % i, 'page.htm')
            os.makedirs(os.path.dirname(page))
            with open(page, 'wb') as f:
                f.write(PAGE)
            r = webtrim.clean_file(page, move_to=kept)
            eq((r.original, r.original_path), ('folder', os.path.join(kept, ['page.htm', '~1_page.htm'][i])))
        with open(os.path.join(tmp, 'p0', 'page.htm'), 'wb') as f:
            f.write(PAGE)
        # A move_to that does not exist is an error: nothing moves.
        try:
            webtrim.clean_file(os.path.join(tmp, 'p0', 'page.htm'), move_to=os.path.join(tmp, 'nowhere'))
            raise AssertionError('no error for a missing move_to')
        except webtrim.Error as e:
            eq((e.name, e.outcome), ('folder-missing', 'failed'))
        with open(os.path.join(tmp, 'p0', 'page.htm'), 'rb') as f:
            eq(f.read(), PAGE)
        # Refused and failed: the program's words after the path, the page
        # untouched; a system error is the OSError it names too.
        with open(os.path.join(tmp, 'wide.htm'), 'wb') as f:
            f.write(b'\xff\xfe<\0p\0>\0')
        for path, name, outcome, message in [
                (os.path.join(tmp, 'notes.txt'), 'not-permissible', 'refused',
                 'The file is not permissible. Only *.htm, *.html, *.mht, *.mhtml, *.plg files are allowable.'),
                (os.path.join(tmp, 'gone.htm'), 'cannot-open', 'failed',
                 'Cannot open this file: No such file or directory'),
                (os.path.join(tmp, 'wide.htm'), 'not-text', 'refused',
                 'stored as UTF-16 (or UTF-32); only pages in ASCII, UTF-8 or a single-byte code page '
                 'can be cleaned')]:
            try:
                webtrim.clean_file(path)
                raise AssertionError('no error for ' + path)
            except webtrim.Error as e:
                eq((str(e), e.name, e.outcome, e.path), (path + ': ' + message, name, outcome, path))
                eq(isinstance(e, OSError), e.errno != 0, path)
        with open(os.path.join(tmp, 'wide.htm'), 'rb') as f:
            eq(f.read(), b'\xff\xfe<\0p\0>\0')
    finally:
        for k, v in saved.items():
            if v is None:
                os.environ.pop(k, None)
            else:
                os.environ[k] = v


# What becomes of a page, by each reader: (name, bytes (None: no file),
# options as keywords, as switches; the outcome and the original's place or
# the error's name they all give).
VOCABULARY = [
    ('page.htm', PAGE, {}, [], ('cleaned', 'trash')),
    ('same.htm', b'<p>x</p>', {}, [], ('already-clean', 'stays')),
    ('part.htm', PAGE, {'any_layout': True, 'move_to': 'kept'}, ['--any-layout', '--move-to=kept'],
     ('cleaned', 'folder')),
    ('wide.htm', b'\xff\xfe<\0p\0>\0', {}, [], ('refused', 'not-text')),
    ('be.htm', b'\0<\0p\0>', {}, [], ('refused', 'not-text')),
    ('doc.html', b'%PDF-1.7\n<p>x</p>', {}, [], ('refused', 'not-a-web-page')),
    ('shot.htm', b'\x89PNG\r\n\x1a\n', {'pictures': False}, ['--keep=pictures'], ('refused', 'not-a-web-page')),
    ('notes.txt', PAGE, {}, [], ('refused', 'not-permissible')),
    ('gone.htm', None, {}, [], ('failed', 'cannot-open')),
    # With a companion folder (made for a page that names one): its counts too.
    ('saved.htm', PAGE.replace(b'</body>', b'<script src="saved_files/t.js"></script></body>'), {}, [],
     ('cleaned', 'trash')),
]


@case
def one_vocabulary(tmp):
    """The same words from every reader: the program's --json, clean_file's
    FileResult or Error, clean_result's Result or Error, and the library's
    wt_*_name calls, whose names the module lists."""
    if LIBRARY:
        lib = ctypes.CDLL(LIBRARY)
        for call, names in [('wt_page_name', webtrim.OUTCOMES), ('wt_original_name', webtrim.PLACES),
                            ('wt_outcome_name', webtrim.EXTRACTIONS), ('wt_removal_name', webtrim.REMOVAL_KINDS)]:
            f = getattr(lib, call)
            f.restype = ctypes.c_char_p
            got = []
            while f(len(got)):
                got.append(f(len(got)).decode())
            eq(tuple(got), names, call)
    os.makedirs(os.path.join(tmp, 'kept'))
    for name, data, kwargs, options, want in VOCABULARY:
        for who in ('program', 'module'):
            if data is not None:
                os.makedirs(os.path.join(tmp, who), exist_ok=True)
                with open(os.path.join(tmp, who, name), 'wb') as f:
                    f.write(data)
                if b'_files/' in data:
                    os.makedirs(os.path.join(tmp, who, 'saved_files'), exist_ok=True)
                    for companion in ('t.js', 'unused.css'):
                        with open(os.path.join(tmp, who, 'saved_files', companion), 'wb') as f:
                            f.write(b'x' * 10)
        env = dict(os.environ, HOME=tmp, XDG_DATA_HOME=tmp + '/data', XDG_CONFIG_HOME=tmp + '/config', LC_ALL='C')
        r = subprocess.run([WEBTRIM, '--defaults', '--json'] + options + [os.path.join(tmp, 'program', name)],
                           capture_output=True, env=env, cwd=tmp, timeout=300)
        line = json.loads(r.stdout.decode().splitlines()[0])
        named = {k: os.path.join(tmp, v) if k == 'move_to' else v for k, v in kwargs.items()}
        with home_in(tmp):
            try:
                fr = webtrim.clean_file(os.path.join(tmp, 'module', name), **named)
                file_words = (fr.outcome, fr.original)
                eq(list(fr.removals), list(line['removed']), name)
                eq({k: (fr.removals[k], fr.removal_bytes[k]) for k in fr.removals},
                   {k: (v['count'], v['bytes']) for k, v in line['removed'].items()}, name)
                eq(fr.extraction, line['main_part']['extraction'], name)
                companion = line['companion_files'] or {'outcome': 'none', 'count': 0, 'bytes': 0}
                eq((fr.companion_outcome, fr.companion_files, fr.companion_bytes),
                   (companion['outcome'], companion['count'], companion['bytes']), name)
                assert fr.companion_files == 2 or b'_files/' not in data, name
            except webtrim.Error as e:
                file_words = (e.outcome, e.name)
                eq((e.errno, isinstance(e, OSError)), (line['error']['errno'], line['error']['errno'] != 0), name)
                eq(str(e), os.path.join(tmp, 'module', name) + ': ' + line['error']['message'], name)
                back = pickle.loads(pickle.dumps(e))        # as a Dask worker's error comes back
                eq((type(back), str(back), back.name, back.path), (type(e), str(e), e.name, e.path), name)
        eq(file_words, want, name + ' by clean_file')
        eq((line['outcome'], (line['error'] or {}).get('id') or line['original']['place']), want,
           name + ' by the program')
        assert want[0] in webtrim.OUTCOMES and (want[1] in webtrim.PLACES or line['error']), name
        # In memory: the words of what the bytes are (a name or a path is not
        # the memory clean's to refuse).
        if data is None or name.endswith('.txt'):
            continue
        kwargs = {k: v for k, v in kwargs.items() if k != 'move_to'}
        try:
            r = webtrim.clean_result(data, **kwargs)
            eq((r.outcome, r.extraction, list(r.removals)),
               (want[0], line['main_part']['extraction'], list(line['removed'])), name)
        except webtrim.Error as e:
            eq((e.outcome, e.name, str(e), isinstance(e, OSError)), want + (line['error']['message'], False), name)
        eq(webtrim.clean(data, force=True, **kwargs), webtrim.clean_result(data, force=True, **kwargs).page, name)


@case
def threads_clean_at_once(tmp):
    """The shim lets the cleans go on only when two stand in the library at
    once: both threads finish only if the lock was released for the clean."""
    if not MODULE:
        print('skip  threads_clean_at_once: the installed module holds the library within')
        return
    script = '''
import sys, threading, webtrim
page = sys.stdin.buffer.read()
out, errors = [], []
def work():
    try:
        out.append(webtrim.clean(page))
    except Exception as e:
        errors.append(e)
threads = [threading.Thread(target=work) for _ in range(2)]
[t.start() for t in threads]
[t.join() for t in threads]
assert not errors, "the two cleans never stood in the library at once: %r" % errors
assert out == [webtrim.clean(page)] * 2
'''
    env = dict(os.environ, PYTHONPATH=MODULE, WEBTRIM_HOLD_CALLS='2', WEBTRIM_HOLD_SECONDS='60',
               LD_PRELOAD=(os.environ.get('LD_PRELOAD', '') + ' ' + SHIM).strip())
    r = subprocess.run([sys.executable, '-c', script], input=PAGE, capture_output=True, env=env,
                       timeout=300)
    eq(r.returncode, 0, r.stderr.decode(errors='replace'))
    # The shim itself: one thread alone is held and then failed.
    env['WEBTRIM_HOLD_SECONDS'] = '1'
    r = subprocess.run([sys.executable, '-c', 'import webtrim; webtrim.clean(b"")'],
                       capture_output=True, env=env, timeout=300)
    assert r.returncode != 0 and b'Cannot write the cleaned page' in r.stderr, r.stderr


@case
def threads_write_what_one_writes(tmp):
    pages = [PAGE * k for k in (1, 30, 200)] + [open(p, 'rb').read() for p in corpus()[:12]]
    want = [webtrim.clean(p, any_layout=bool(i % 2)) for i, p in enumerate(pages)]
    got, threads = {}, []

    def work(t):
        got[t] = [webtrim.clean(p, any_layout=bool(i % 2)) for i, p in enumerate(pages)]

    for t in range(4):
        threads.append(threading.Thread(target=work, args=(t,)))
        threads[-1].start()
    for t in threads:
        t.join()
    for t in range(4):
        eq(got[t], want, 'thread %d' % t)


def warc(fields, block):
    """A WARC record, written here by hand."""
    head = ''.join('%s: %s\r\n' % kv for kv in fields)
    return ('WARC/1.0\r\n%sContent-Length: %d\r\n\r\n' % (head, len(block))).encode() + \
        block + b'\r\n\r\n'


def response(uri, body, status=b'200 OK', kind=b'text/html; charset=utf-8', extra=b''):
    """A response record: (record id, its bytes)."""
    rid = '<urn:uuid:%032x>' % abs(hash((uri, body, status, kind)))
    http = b'HTTP/1.1 ' + status + b'\r\nContent-Type: ' + kind + b'\r\n' + extra + b'\r\n' + body
    return rid, warc([('WARC-Type', 'response'), ('WARC-Record-ID', rid),
                      ('WARC-Target-URI', uri), ('WARC-Date', '2024-01-02T03:04:05Z'),
                      ('Content-Type', 'application/http; msgtype=response')], http)


def chunked(body, size):
    parts = [body[i:i + size] for i in range(0, len(body), size)]
    return b''.join(b'%x;ext=1\r\n%s\r\n' % (len(p), p) for p in parts) + b'0\r\n\r\n'


def run_example(tmp, args):
    env = dict(os.environ, PYTHONPATH=MODULE) if MODULE else dict(os.environ)
    r = subprocess.run([sys.executable, os.path.join(SOURCE, 'examples/dask_clean.py'),
                        '--workers', '2', '--batch', '7'] + args, capture_output=True, env=env,
                       cwd=tmp, timeout=600)
    eq(r.returncode, 0, r.stderr.decode(errors='replace')[-3000:])
    return r.stdout.decode()


def read_warc_records(path):
    """(headers, block) of each record of a file of gzip members."""
    data, records = gzip.open(path).read(), []
    while data.strip():
        head, _, rest = data.partition(b'\r\n\r\n')
        fields = dict(l.split(': ', 1) for l in head.decode().split('\r\n')[1:])
        n = int(fields['Content-Length'])
        records.append((fields, rest[:n]))
        data = rest[n:].lstrip(b"\r\n")
    return records


@case
def dask_example_writes_what_the_program_writes(tmp):
    try:
        import distributed  # noqa: F401
    except ImportError:
        print('skip  dask_example_writes_what_the_program_writes: no python3-distributed')
        return
    pages = [(os.path.basename(p), open(p, 'rb').read()) for p in corpus()[:40]]
    pages += [('page.htm', PAGE), ('upper.HTML', PAGE.upper()), ('empty.html', b'')]
    kwargs, options = OPTION_SETS[2]

    # A folder tree, mirrored.
    tree, expect = os.path.join(tmp, 'tree'), os.path.join(tmp, 'expect')
    for i, (name, data) in enumerate(pages):
        for top in (tree, expect):
            path = os.path.join(top, 'd%d' % (i % 3), 'e' * (i % 2), name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, 'wb') as f:
                f.write(data)
    with open(os.path.join(tree, 'notes.txt'), 'wb') as f:
        f.write(b'not a page')
    with open(os.path.join(tree, 'd1', 'wide.htm'), 'wb') as f:       # the program refuses it
        f.write(b'\xff\xfe<\0p\0>\0')
    run_program(expect, options)
    out = run_example(tmp, options + [tree, 'out'])
    assert 'cleaned %d pages' % len(pages) in out and 'refused 1 ' in out, out
    assert not os.path.exists(os.path.join(tmp, 'out', 'd1', 'wide.htm'))
    for top, _, files in os.walk(expect):
        for f in files:
            rel = os.path.relpath(os.path.join(top, f), expect)
            with open(os.path.join(expect, rel), 'rb') as a, open(os.path.join(tmp, 'out', rel), 'rb') as b:
                eq(b.read(), a.read(), rel)
    assert not os.path.exists(os.path.join(tmp, 'out', 'notes.txt'))

    # WARC files: gzip members, one gzip stream, plain; what is not an HTML
    # response is left out.
    html = {}
    records = {'a.warc.gz': [], 'b.warc.gz': [], 'c.warc': []}
    for i, (name, data) in enumerate(pages):
        uri = 'http://example.org/%d/%s' % (i, name)
        extra, body = b'', data
        if i % 4 == 1:
            extra, body = b'Transfer-Encoding: chunked\r\n', chunked(data, 1000 + i)
        elif i % 4 == 2:
            extra, body = b'Content-Encoding: gzip\r\n', gzip.compress(data)
        rid, record = response(uri, body, extra=extra)
        html[rid] = (uri, data)
        records[sorted(records)[i % 3]].append(record)
    for skipped in [response('http://example.org/p.png', b'\x89PNG', kind=b'image/png')[1],
                    response('http://example.org/gone', PAGE, status=b'404 Not Found')[1],
                    warc([('WARC-Type', 'request'), ('WARC-Record-ID', '<urn:uuid:1>'),
                          ('Content-Type', 'application/http; msgtype=request')],
                         b'GET / HTTP/1.1\r\n\r\n')]:
        for name in records:
            records[name].insert(1, skipped)
    with open(os.path.join(tmp, 'a.warc.gz'), 'wb') as f:
        f.write(b''.join(gzip.compress(r) for r in records['a.warc.gz']))
    with open(os.path.join(tmp, 'b.warc.gz'), 'wb') as f:
        f.write(gzip.compress(b''.join(records['b.warc.gz'])))
    with open(os.path.join(tmp, 'c.warc'), 'wb') as f:
        f.write(b''.join(records['c.warc']))
    out = run_example(tmp, options + ['a.warc.gz', 'b.warc.gz', 'c.warc', 'warcs'])
    # The HTML pages, the 404 page among them, become conversion records;
    # the picture and the request are copied as they were.
    assert 'cleaned %d pages' % (len(pages) + 3) in out, out
    assert '%d records read' % (len(pages) + 9) in out, out
    missing = response('http://example.org/gone', PAGE, status=b'404 Not Found')[0]
    folder = os.path.join(tmp, 'from-warc')
    os.makedirs(folder)
    got = {}
    for name in sorted(records):
        converted = read_warc_records(os.path.join(tmp, 'warcs', name.split('.')[0] + '.warc.gz'))
        eq(converted[0][0]['WARC-Type'], 'warcinfo')
        eq(sorted(f['WARC-Type'] for f, _ in converted[1:]).count('conversion'),
           len(records[name]) - 2)
        for fields, block in converted[1:]:
            if fields['WARC-Type'] != 'conversion' or fields['WARC-Refers-To'] == missing:
                continue
            uri, data = html[fields['WARC-Refers-To']]
            eq(fields['WARC-Target-URI'], uri)
            got[fields['WARC-Refers-To']] = block
    eq(sorted(got), sorted(html))
    names = {rid: 'p%03d.htm' % i for i, rid in enumerate(sorted(html))}
    for rid, (uri, data) in html.items():
        with open(os.path.join(folder, names[rid]), 'wb') as f:
            f.write(data)
    run_program(folder, options)
    for rid in html:
        with open(os.path.join(folder, names[rid]), 'rb') as f:
            eq(got[rid], f.read(), html[rid][0])


@case
def warc_clean_file_writes_what_the_program_writes(tmp):
    """webtrim.warc.clean_file and webtrim --warc: the same archive byte for
    byte, the same counts, bad records and all; the input is never the output."""
    rid, good = response('http://example.org/a', PAGE, kind=b'text/html; charset=ISO-8859-1')
    _, chunk = response('http://example.org/b', chunked(PAGE, 40), extra=b'Transfer-Encoding: chunked\r\n')
    _, brotli = response('http://example.org/c', b'\x0bxx', extra=b'Content-Encoding: br\r\n')
    _, cut = response('http://example.org/d', PAGE)
    data = b''.join(gzip.compress(r) for r in (good, chunk, brotli)) + gzip.compress(cut)[:-20]
    src = os.path.join(tmp, 'in.warc.gz')
    with open(src, 'wb') as f:
        f.write(data)
    report = webtrim.warc.clean_file(src, os.path.join(tmp, 'py.warc.gz'), remove='pictures',
                                     extract=False)
    r = subprocess.run([WEBTRIM, '-q', '--defaults', '--remove=pictures', '--no-extract', '--warc', src,
                        '-o', os.path.join(tmp, 'cli.warc.gz')], capture_output=True)
    eq(r.returncode, 0, r.stderr)
    with open(os.path.join(tmp, 'py.warc.gz'), 'rb') as a, open(os.path.join(tmp, 'cli.warc.gz'), 'rb') as b:
        eq(a.read(), b.read(), 'the archives')
    # At another gzip level: the same as the program's, the same records.
    webtrim.warc.clean_file(src, os.path.join(tmp, 'py1.warc.gz'), remove='pictures', extract=False, level=1)
    r = subprocess.run([WEBTRIM, '-q', '--defaults', '--remove=pictures', '--no-extract', '--warc', src,
                        '--warc-level', '1', '-o', os.path.join(tmp, 'cli1.warc.gz')], capture_output=True)
    eq(r.returncode, 0, r.stderr)
    with open(os.path.join(tmp, 'py1.warc.gz'), 'rb') as a, open(os.path.join(tmp, 'cli1.warc.gz'), 'rb') as b:
        eq(a.read(), b.read(), 'the archives at level 1')
    eq(read_warc_records(os.path.join(tmp, 'py1.warc.gz')), read_warc_records(os.path.join(tmp, 'py.warc.gz')))
    eq((report.records, report.cleaned, report.passed), (3, 2, 1))
    eq({k: v for k, v in report.skipped.items() if v}, {'undecodable': 1, 'truncated': 1})
    records = read_warc_records(os.path.join(tmp, 'py.warc.gz'))
    eq([f['WARC-Type'] for f, _ in records], ['warcinfo', 'conversion', 'conversion', 'response'])
    eq(records[1][0]['WARC-Refers-To'], rid)
    eq(records[1][0]['Content-Type'], 'text/html; charset=iso-8859-1')
    try:
        webtrim.warc.clean_file(src, src)
        raise AssertionError('the input was taken as the output')
    except webtrim.Error as e:
        eq((e.name, e.path), ('same-as-input', src))
    eq(open(src, 'rb').read(), data)
    # records(): the same reader, from Python; bad records counted.
    reader = webtrim.warc.records(src)
    eq([(r.type, r.target_uri) for r in reader],
       [('response', 'http://example.org/a'), ('response', 'http://example.org/b'),
        ('response', 'http://example.org/c')])
    eq({k: v for k, v in reader.skipped.items() if v}, {'truncated': 1})
    got = [(r.type, r.block) for r in webtrim.warc.records(os.path.join(tmp, 'py.warc.gz'))]
    eq([(t, b) for t, b in got], [(f['WARC-Type'], b) for f, b in records])
    try:
        webtrim.warc.records(os.path.join(tmp, 'missing.warc'))
        raise AssertionError('a missing archive was opened')
    except FileNotFoundError as e:
        eq(e.filename, os.path.join(tmp, 'missing.warc'))


def install_and_run(venv, a):
    """Makes a venv in `venv`, builds a wheel of the checkout and installs
    the checkout into it with pip, offline, and runs these tests in it: the
    exit status of that run."""
    shutil.rmtree(venv, ignore_errors=True)
    env = dict(os.environ, WEBTRIM_BUILD_DIR=os.path.join(venv, 'objects'), PIP_DISABLE_PIP_VERSION_CHECK='1')
    python = os.path.join(venv, 'bin', 'python')
    pip = [python, '-m', 'pip', '--no-cache-dir', '--quiet']
    steps = [('venv', [sys.executable, '-m', 'venv', venv]),
             ('wheel', pip + ['wheel', '--no-build-isolation', '--no-index', '-w', os.path.join(venv, 'wheels'),
                              a.source]),
             ('install', pip + ['install', '--no-build-isolation', '--no-index', a.source])]
    for what, command in steps:
        start = time.monotonic()
        r = subprocess.run(command, env=env, cwd=venv if what != 'venv' else None, timeout=1200)
        print('%-8s %.0f s' % (what, time.monotonic() - start))
        if r.returncode:
            return r.returncode
    wheels = os.listdir(os.path.join(venv, 'wheels'))
    assert len(wheels) == 1 and wheels[0].startswith('webtrim-'), wheels
    command = [python, os.path.abspath(__file__), '--webtrim', a.webtrim, '--shim', a.shim, '--source', a.source]
    if a.library:
        command += ['--library', a.library]
    start = time.monotonic()
    r = subprocess.run(command + (['--full'] if a.full else []) + a.names, cwd=venv, timeout=1200)
    print('tests    %.0f s' % (time.monotonic() - start))
    return r.returncode


def main():
    global webtrim, WEBTRIM, SHIM, MODULE, SOURCE, FULL, LIBRARY
    ap = argparse.ArgumentParser()
    ap.add_argument('--module', help='the folder holding the built module (else the one installed)')
    ap.add_argument('--library', help='libwebtrim.so.1, whose names the module must give')
    ap.add_argument('--install-into', metavar='DIR', help='a venv to make, install into and test in')
    ap.add_argument('--webtrim', required=True)
    ap.add_argument('--shim', required=True)
    ap.add_argument('--source', default=os.path.join(os.path.dirname(__file__), '../..'))
    ap.add_argument('--full', action='store_true', help='every corpus page, not every fourth')
    ap.add_argument('names', nargs='*')
    a = ap.parse_args()
    a.source, a.webtrim, a.shim = os.path.abspath(a.source), os.path.abspath(a.webtrim), os.path.abspath(a.shim)
    a.library = a.library and os.path.abspath(a.library)
    if a.install_into:
        sys.exit(install_and_run(os.path.abspath(a.install_into), a))
    MODULE, WEBTRIM, SHIM, SOURCE, FULL, LIBRARY = (a.module and os.path.abspath(a.module), a.webtrim, a.shim,
                                                    a.source, a.full, a.library)
    if MODULE:
        sys.path.insert(0, MODULE)
    import webtrim
    globals()['webtrim'] = webtrim
    if not MODULE:
        # The module pip installed, not one from the build folder.
        assert sys.prefix != sys.base_prefix and webtrim.__file__.startswith(sys.prefix), webtrim.__file__
    failed = 0
    for fn in CASES:
        if a.names and fn.__name__ not in a.names:
            continue
        tmp = tempfile.mkdtemp(prefix='webtrim-py-')
        try:
            fn(tmp)
            print('ok   ', fn.__name__)
        except Exception as e:
            failed += 1
            print('FAIL ', fn.__name__, '\n     ', repr(e)[:2000])
        finally:
            shutil.rmtree(tmp)
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
