#!/usr/bin/env python3
"""Tests of the real Linux program, as a user runs it.

Every case runs in a private folder with its own HOME, settings and trash,
removed afterwards. Run: cli_test.py --webtrim PATH --source DIR --build DIR [NAME...]
"""
import argparse, json, os, pty, re, select, shutil, stat, subprocess, sys, tempfile, threading, time

PAGE = (b'<html><head><title>t</title><style>p{color:red}</style>\r\n'
        b'<script src="http://x/a.js"></script><meta name=keywords content=x>\r\n'
        b'</head><body bgcolor=black><!-- note --><p style="color:blue">Words of the page '
        b'<img src="http://x/p.gif"> and more words.</p><form><input></form></body></html>\n')

DEFAULT_W0 = 0x100053BF
JOBS = '2'
CASES = []


def case(fn):
    CASES.append(fn)
    return fn


class Env:
    """A private home: settings, trash and pages under one folder."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix='webtrim-cli-')
        self.env = dict(os.environ, HOME=self.root + '/home',
                        XDG_CONFIG_HOME=self.root + '/home/config',
                        XDG_DATA_HOME=self.root + '/home/data', LC_ALL='C')
        os.makedirs(self.root + '/home')
        self.settings = self.root + '/home/config/webtrim/webtrim.ini'
        self.trash = self.root + '/home/data/Trash/files'
        self.mounts = []            # file systems the case mounted, unmounted at its end

    def path(self, name):
        return os.path.join(self.root, name)

    def write(self, name, data=PAGE):
        p = self.path(name)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, 'wb') as f:
            f.write(data)
        return p

    def read(self, name):
        with open(self.path(name), 'rb') as f:
            return f.read()

    def run(self, *args, stdin=b'', strace=None):
        """The program's status, output and messages; under strace with the
        given strace options, when given."""
        cmd = (['strace', '-f', '-qq'] + strace if strace is not None else []) + [WEBTRIM]
        env = self.env
        if strace is not None:      # LeakSanitizer cannot stop the world under a tracer
            env = dict(env, ASAN_OPTIONS=(env.get('ASAN_OPTIONS', '') + ':detect_leaks=0').lstrip(':'))
        r = subprocess.run(cmd + list(args), input=stdin, capture_output=True,
                           env=env, cwd=self.root, timeout=120)
        return r.returncode, r.stdout, r.stderr.decode(errors='replace')

    def cleaned(self, data=PAGE, *options):
        """What the program makes of `data` (standard input to standard output)."""
        st, out, err = self.run(*options, '-', stdin=data)
        assert st == 0, err
        return out

    def trashed(self):
        return sorted(os.listdir(self.trash)) if os.path.isdir(self.trash) else []

    def tree(self):
        return sorted((d, tuple(sorted(f))) for d, _, f in os.walk(self.root))

    def close(self):
        for where in reversed(self.mounts):
            subprocess.run(['umount', where], check=True)
        shutil.rmtree(self.root)


def eq(got, want, what=''):
    assert got == want, '%s: got %r, want %r' % (what, got, want)


def settings_w0(env, *options):
    st, out, err = env.run(*options, '--settings')
    eq(st, 0, err)
    return int(re.search(rb'^w0 +(0x[0-9A-F]+)$', out, re.M).group(1), 16)


@case
def several_pages_one_bad(env):
    clean = env.cleaned()
    for n in 'abc':
        env.write(n + '.htm')
    st, _, err = env.run('a.htm', 'missing.htm', 'b.htm', 'c.htm')
    eq(st, 1)
    eq(err, 'webtrim: missing.htm: Cannot open this file: No such file or directory\n')
    for n in 'abc':
        eq(env.read(n + '.htm'), clean, n)
    eq(len(env.trashed()), 3)


@case
def messages_name_the_page_and_reason(env):
    os.makedirs(env.path('dir.htm'))
    os.makedirs(env.path('site'))
    for args, want in [
            (['dir.htm'], 'webtrim: dir.htm: a folder; to clean the pages in it and in the folders '
                          'below it, use -r\n'),
            (['notes.txt'], 'webtrim: notes.txt: The file is not permissible. '
                            'Only *.htm, *.html, *.mht, *.mhtml, *.plg files are allowable.\n'),
            (['--remove=scirpts', 'x.htm'], "webtrim: unknown kind of element scirpts; did you mean "
             "scripts?\nKinds: comments, scripts, styles, forms, internet, meta, pictures, modules, "
             "frames, companion-files, all\nTry 'webtrim --help' for more information.\n")]:
        st, _, err = env.run(*args)
        eq((st, err), (2 if '--remove=scirpts' in args else 1, want), args)
    # A missing folder for the originals is said once, before any page.
    for n in 'abc':
        env.write(n + '.htm')
    nowhere = env.path('nowhere')
    st, out, err = env.run('--move-to', nowhere, 'a.htm', 'b.htm', 'c.htm')
    eq((st, err), (0, 'webtrim: %s: The chosen folder does not exist; '
                      'the original goes to the trash.\n' % nowhere))
    eq(out, b'3 pages: 3 cleaned, %s \xe2\x86\x92 %s; 0 already clean; 0 failed\n'
       % (size_text(3 * len(PAGE)).encode(), size_text(3 * len(env.cleaned())).encode()))
    env.write('p.htm')
    eq(env.run('-q', '--move-to', nowhere, 'p.htm')[::2], (0, ''))
    # ~ after '=' is the home folder, as the shell would have made it.
    os.makedirs(env.path('home/orig'))
    env.write('p.htm')
    eq(env.run('--move-to=~/orig', 'p.htm')[::2], (0, ''))
    eq(os.listdir(env.path('home/orig')), ['p.htm'])


def size_text(n):
    return ('1 byte' if n == 1 else '%d bytes' % n) if n < 1000 else '%.1f kB' % (n / 1e3)


@case
def dashes_and_quotes_are_names(env):
    clean = env.cleaned()
    for name in ['-x.htm', '"q.htm', 'a b.htm']:
        env.write(name)
    env.write('q.htm', b'<p>untouched')
    st, _, err = env.run('--', '-x.htm', '"q.htm', 'a b.htm')
    eq(st, 0, err)
    for name in ['-x.htm', '"q.htm', 'a b.htm']:
        eq(env.read(name), clean, name)
    eq(env.run('q.htm"')[0], 1)             # not a page name, not q.htm
    eq(env.read('q.htm'), b'<p>untouched')
    eq(env.run('-x.htm')[0], 2)
    eq(env.run('a', 'b.htm')[0], 1)        # two pages, neither exists


@case
def page_named_twice_is_cleaned_once(env):
    env.write('p.htm')
    os.symlink('p.htm', env.path('link.htm'))
    st, _, err = env.run('p.htm', './p.htm', 'link.htm', env.path('p.htm'))
    eq(st, 0, err)
    eq(env.read('p.htm'), env.cleaned())
    eq(env.trashed(), ['p.htm'])


@case
def output_elsewhere_equals_in_place(env):
    env.write('p.htm')
    st, to_stdout, err = env.run('-o', '-', 'p.htm')
    eq((st, env.read('p.htm')), (0, PAGE), err)
    st, _, err = env.run('-o', 'out/c.htm', 'p.htm')
    eq(st, 1)                                # no folder "out"
    old = os.umask(0o027)
    try:
        st, _, err = env.run('-o', 'c.htm', 'p.htm')
    finally:
        os.umask(old)
    eq((st, env.read('c.htm'), os.stat(env.path('c.htm')).st_mode & 0o777),
       (0, to_stdout, 0o640), err)
    eq(env.run('-o', './p.htm', 'p.htm')[0], 2)
    eq(env.run('-o', 'x.htm', 'p.htm', 'c.htm')[0], 2)
    eq(env.trashed(), [])
    eq(env.run('p.htm')[0], 0)
    eq(env.read('p.htm'), to_stdout)


@case
def dry_run_changes_and_creates_nothing(env):
    env.write('p.htm')
    before = env.tree()
    st, out, err = env.run('-n', '-v', '--remove=pictures', '--save', 'p.htm')
    eq((st, err), (0, ''))
    eq(env.tree(), before)
    assert not os.path.exists(env.settings)
    assert ('p.htm: would be cleaned, %d \u2192 %d bytes' % (len(PAGE), len(env.cleaned()))).encode() in out, out
    assert b'elements: ' in out and b'would go to the trash' in out, out


@case
def save_then_settings(env):
    folder = env.path('orig')
    st, _, err = env.run('--keep=forms,meta', '--cut-tables', '--move-to', folder, '--save')
    eq(st, 0, err)
    st, out, _ = env.run('--settings')
    text = out.decode()
    assert re.search(r'^settings file +%s$' % re.escape(env.settings), text, re.M), text
    for name, state in [('forms', 'off'), ('meta', 'off'), ('cut-tables', 'on'),
                        ('trash', 'off'), ('comments', 'on')]:
        assert re.search(r'^%s +%s$' % (name, state), text, re.M), (name, text)
    assert 'originals go to   %s' % folder in text, text
    ini = open(env.settings).read()
    assert re.search(r'^w0=0x%08X$' % (DEFAULT_W0 & ~0x10000828 | 0x800), ini, re.M), ini
    assert re.search(r'^w1=%s$' % re.escape(folder), ini, re.M), ini


# Each option and what it does to the default options word.
OPTION_BITS = [
    (['--remove=pictures'], lambda w: w | 0x40),
    (['--remove=all', '--keep=comments'], lambda w: (w | 0x2FF) & ~0x1),
    (['--keep=comments,scripts,styles,forms,internet,meta,pictures,modules,frames'],
     lambda w: w & ~0x2FF),
    (['--no-extract'], lambda w: w & ~0x100),
    (['--no-extract', '--extract'], lambda w: w),
    (['--cut-tables'], lambda w: w | 0x800),
    (['--cut-tables', '--no-cut-tables'], lambda w: w),
    (['--extract-last'], lambda w: w & ~0x1000),
    (['--extract-last', '--extract-first'], lambda w: w),
    (['--avoid-bad-colors'], lambda w: w | 0x400),
    (['--avoid-bad-colors', '--no-avoid-bad-colors'], lambda w: w),
    (['--any-layout'], lambda w: w | 0x2000),
    (['--any-layout', '--table-layout'], lambda w: w),
    (['--keep=companion-files'], lambda w: w & ~0x4000),
    (['--move-to=/x'], lambda w: w & ~0x10000000),
    (['--move-to=/x', '--trash'], lambda w: w),
    (['--remove=pictures', '--any-layout', '--no-extract', '--defaults'], lambda w: w),
]


@case
def every_option_sets_its_bit(env):
    for args, change in OPTION_BITS:
        eq(settings_w0(env, *args), change(DEFAULT_W0), args)


@case
def wrong_use_is_status_2(env):
    env.write('p.htm')
    for args in [['--remove=pictures,bogus', 'p.htm'], ['-j', 'x', 'p.htm'], ['--jobs=-1', 'p.htm'],
                 ['--move-to=/' + 'x' * 259, 'p.htm'], [], ['--no-trash', 'p.htm'],
                 ['-o', '-', '-', '--files-from=-']]:
        st, _, err = env.run(*args)
        eq(st, 2, args)
        assert err.startswith('webtrim: ') and 'webtrim --help' in err, err
    eq(env.read('p.htm'), PAGE)
    eq(env.run('--move-to=/' + 'x' * 258, '--settings')[0], 0)


@case
def parallel_jobs_give_the_same_pages(env):
    corpus = os.path.join(SOURCE, '..', 'shared', 'corpus')
    names = sorted(os.listdir(corpus))[:40] if os.path.isdir(corpus) else []
    pages = [open(os.path.join(corpus, n), 'rb').read() for n in names] or \
            [PAGE.replace(b'more', b'more' * i) for i in range(40)]
    for jobs in ['1', '4']:
        for i, data in enumerate(pages):
            env.write('j%s/%02d.htm' % (jobs, i), data)
        os.makedirs(env.path('orig' + jobs))
        st, _, err = env.run('-j', jobs, '--move-to', env.path('orig' + jobs), '-r', 'j' + jobs)
        eq(st, 0, err)
    for i, data in enumerate(pages):
        eq(env.read('j4/%02d.htm' % i), env.read('j1/%02d.htm' % i), i)
        eq(env.read('orig4/%02d.htm' % i), data, i)


@case
def signal_during_parallel_pages_loses_nothing(env):
    """SIGTERM just as a page's original has gone to the trash, its cleaned
    page not yet placed (the move's return is held back): the pages under
    way are finished, no new one starts, then the signal ends the program."""
    for i in range(12):
        env.write('p/%02d.htm' % i)
    cmd = ['strace', '-f', '-qq', '-y', '-o', '/dev/stderr', '-e', 'trace=execve,renameat2',
           '-e', 'inject=renameat2:delay_exit=300000', WEBTRIM, '-j', JOBS, '-r', 'p']
    proc = subprocess.Popen(cmd, stderr=subprocess.PIPE, env=env.env, cwd=env.root)
    pid = None
    for line in proc.stderr:
        pid = pid or int(line.split()[0])
        if b'Trash/files>' in line:
            os.kill(pid, 15)
            break
    proc.stderr.read()
    proc.wait()
    cleaned = [i for i in range(12) if env.read('p/%02d.htm' % i) != PAGE]
    assert 1 <= len(cleaned) <= 4, cleaned
    eq(len(env.trashed()), len(cleaned))
    eq(sorted(os.listdir(env.path('p'))), ['%02d.htm' % i for i in range(12)])


@case
def pages_are_reported_after_the_sync_that_covers_them(env):
    """The folders the pages changed are synced once a batch (32 pages),
    and a page's report is written only after a sync of its folder that
    follows its placing, with one thread or several, to the trash or to
    --move-to. A failed sync fails the pages it covers, with the system's
    error; their originals stay in the trash with their records."""
    sync = re.compile(r'^\d+ +fsync\(\d+<([^>]*)>(\) += -?\d+| <unfinished)')
    place = re.compile(r'^\d+ +renameat2\(\d+<([^>]*)>, "\.wt[^"]*", \d+<[^>]*>, "([^"]*)"')
    report = re.compile(r'^\d+ +write\(1<[^>]*>, "\{\\"version\\":1,\\"path\\":\\"[^"]*\\",\\"page\\":\\"([^\\]*)\\"')
    os.makedirs(env.path('orig'))
    trashed = 0
    for pages, jobs, to, inject, want in [(40, '1', 'trash', None, 'cleaned'),
                                          (3, '1', 'trash', 'fsync:error=EIO', 'failed'),
                                          (40, JOBS, 'trash', None, 'cleaned'),
                                          (40, JOBS, 'folder', None, 'cleaned')]:
        folder = 'p%d-%s-%s' % (pages, jobs, to)
        for i in range(pages):
            env.write('%s/%02d.htm' % (folder, i))
        log = env.path(folder + '.log')
        trace = ['-y', '-s', '256', '-o', log, '-e', 'trace=fsync,renameat2,write']
        where = ['--move-to', env.path('orig')] if to == 'folder' else []
        st, out, err = env.run('--json', '-j', jobs, *where, '-r', folder,
                               strace=trace + (['-e', 'inject=' + inject] if inject else []))
        eq(st, 0 if want == 'cleaned' else 1, err)
        placed, synced_since, reported, syncs = {}, set(), [], []
        for line in open(log, errors='replace'):
            m = sync.match(line)
            if m and '/config/' not in m.group(1):     # the settings' first save
                syncs.append(m.group(1))
                for name, where in list(placed.items()):
                    if where == m.group(1):
                        synced_since.add(name)
            m = place.match(line)
            if m:
                placed[m.group(1) + '/' + m.group(2)] = m.group(1)
            m = report.match(line)
            if m:
                assert m.group(1) in synced_since, 'reported before its folder was synced: ' + m.group(1)
                reported.append(m.group(1))
        eq(len(reported), pages)
        # Its folder and the trash's files/ and info/ (or the --move-to
        # folder): one sync each a batch (of 32 pages, or less where a
        # second passed), never one a page.
        folders = 3 if to == 'trash' else 2
        for f in set(syncs):
            assert (pages + 31) // 32 <= syncs.count(f) <= max(1, pages // 4), syncs
        eq(len(set(syncs)), folders, syncs)
        if jobs == '1':
            batches = [syncs[i:i + folders] for i in range(0, len(syncs), folders)]
            eq([len(set(b)) for b in batches], [folders] * len(batches), syncs)
        results = [json.loads(l) for l in out.decode().splitlines()[:-1]]
        eq(sorted(r['outcome'] for r in results), [want] * pages)
        trashed += pages if to == 'trash' else 0
        eq(len(env.trashed()), trashed)
        for r in results:
            eq(r['original']['place'], to, r)
            with open(r['original']['path'], 'rb') as f:
                eq(f.read(), PAGE, r['original']['path'])
            if to == 'trash':
                info = r['original']['path'].replace('/files/', '/info/') + '.trashinfo'
                assert 'Path=' + r['page'] + '\n' in open(info).read(), info
        if want == 'failed':
            eq(err.count('Cannot write the cleaned page: Input/output error'), pages, err)
            eq(err.count('The original is in the trash.'), pages, err)


@case
def pages_named_by_path_in_several_folders(env):
    """The folder of the pages named by their paths is held from one page
    to the next of the same folder part: pages of two folders in turn, a
    link to a page of the other folder (cleaned at its target, the link
    stays a link), relative and absolute names, one thread or several."""
    for jobs in ['1', JOBS]:
        top = 'j' + jobs
        for n in ['a/1.htm', 'a/2.htm', 'b/1.htm', 'b/2.htm', 'c.htm']:
            env.write(top + '/' + n)
        os.symlink('../b/2.htm', env.path(top + '/a/to-b.htm'))
        names = [top + '/' + n for n in ['a/1.htm', 'a/to-b.htm', 'b/1.htm', 'a/2.htm']]
        st, out, err = env.run('--json', '-j', jobs, *names, env.path(top + '/c.htm'))
        eq(st, 0, err)
        pages = [json.loads(l)['page'] for l in out.decode().splitlines()[:-1]]
        eq(pages, [env.path(top + '/' + n) for n in ['a/1.htm', 'b/2.htm', 'b/1.htm', 'a/2.htm', 'c.htm']])
        for n in ['a/1.htm', 'a/2.htm', 'b/1.htm', 'b/2.htm', 'c.htm']:
            eq(env.read(top + '/' + n), env.cleaned(), n)
        eq(os.readlink(env.path(top + '/a/to-b.htm')), '../b/2.htm')
    eq(len(env.trashed()), 10)


@case
def copies_inside_the_system_as_through_buffers(env):
    """Stretches of 64 KiB and more move between two files inside the system
    (copy_file_range); where it refuses, at once or after a first stretch,
    the bytes go through the buffers: the same page either way."""
    text = b'word ' * 80000
    inner = b'<table><tr><td>in</td></tr></table>'
    pages = {'whole': b'<html><body>' + text + b'</body></html>',
             'cut': b'<html><body><table><tr><td>' + text + inner + text + inner + text +
                    b'</td><td>x</td></tr></table></body></html>'}
    # With styles, internet and scripts kept there is no attribute stage, so
    # the extraction's stretches can go to the output file directly.
    options = ['--extract', '--extract-last', '--cut-tables', '--keep=styles,internet,scripts']
    for name, data in pages.items():
        want = env.cleaned(data, *options)
        env.write(name + '.htm', data)
        for inject in ['', 'copy_file_range:error=EXDEV', 'copy_file_range:error=EIO:when=2+']:
            log = env.path('log')
            st, _, err = env.run(*options, '-o', 'out.htm', name + '.htm', strace=[
                '-o', log, '-e', 'trace=copy_file_range'] + (['-e', 'inject=' + inject] if inject else []))
            eq((st, env.read('out.htm') == want), (0, True), (name, inject, err))
            copied = re.findall(r'copy_file_range\(.*\) = ([0-9]+)$', open(log).read(), re.M)
            assert any(int(n) > 0 for n in copied) == (inject != 'copy_file_range:error=EXDEV'), \
                (name, inject, copied)


@case
def recursive_skips_target_folder_and_trash(env):
    env.write('site/a.htm')
    env.write('site/deep/b.HTML')
    env.write('site/deep/notes.txt', b'<p>text')
    env.write('site/orig/old.htm')
    env.write('site/.Trash-1000/files/t.htm')
    os.symlink(env.path('outside'), env.path('site/linked'))
    env.write('outside/c.htm')
    st, out, err = env.run('-r', '-v', '--move-to', env.path('site/orig'), 'site')
    eq(st, 0, err)
    clean = env.cleaned()
    eq([env.read(n) for n in ['site/a.htm', 'site/deep/b.HTML']], [clean, clean])
    for untouched in ['site/orig/old.htm', 'site/.Trash-1000/files/t.htm', 'outside/c.htm']:
        eq(env.read(untouched), PAGE, untouched)
    eq(sorted(os.listdir(env.path('site/orig'))), ['a.htm', 'b.HTML', 'old.htm'])
    assert b'original: moved to %s/site/orig/a.htm' % env.root.encode() in out, out
    env.write('p.htm')
    eq(env.run('p.htm')[0], 0)              # its original goes to the home trash
    eq(env.run('-r', '-v', 'home'), (0, b'', ''))
    eq(open(os.path.join(env.trash, 'p.htm'), 'rb').read(), PAGE)


@case
def recursive_never_enters_a_trash(env):
    """-r leaves every trash alone, at any depth: by name, by being a known
    home trash (here the case's own, with no record in it), or by shape (a
    folder holding files/ beside info/ with a .trashinfo); a folder only
    named like a trash's part is walked."""
    record = b'[Trash Info]\nPath=/x.htm\nDeletionDate=2026-01-01T00:00:00\n'
    kept = ['t/home/u/.local/share/Trash/files/a.htm', 't/d/.Trash-1000/files/b.htm', 't/d/.Trash/c.htm',
            't/d/e/shaped/files/d.htm', 'home/data/Trash/files/e.htm']
    for name in kept:
        env.write(name)
    env.write('t/home/u/.local/share/Trash/info/a.htm.trashinfo', record)
    env.write('t/d/e/shaped/info/d.htm.trashinfo', record)
    env.write('t/d/e/shaped/page.htm')          # a trash's own files are no pages either
    env.write('t/plain/files/f.htm')
    env.write('t/plain/info/notes.txt', b'not a record')
    st, _, err = env.run('-r', 't', 'home')
    eq((st, err), (0, ''))
    for name in kept + ['t/d/e/shaped/page.htm']:
        eq(env.read(name), PAGE, name)
    eq(env.read('t/plain/files/f.htm'), env.cleaned())
    # A trash named itself is said and left.
    for name in ['t/d/e/shaped', 't/d/.Trash']:
        eq(env.run('-r', name), (0, b'', 'webtrim: %s: Skipped: a trash; pages in a trash are not cleaned.\n' % name))


@case
def recursive_holds_a_bounded_number_of_folders(env):
    """5000 folders under a limit of 256 open files: every page is cleaned.
    A folder let go of after the walk is opened again by name, checked to
    be the one the walk read: one put in its place meanwhile (while the
    first page's move is held back) is left as it is."""
    for i in range(5000):
        os.makedirs(env.path('t/%02d/%03d' % (i // 100, i % 100)))
        if i % 10 == 0:
            env.write('t/%02d/%03d/p.htm' % (i // 100, i % 100))
    r = subprocess.run(['prlimit', '--nofile=256', WEBTRIM, '-q', '-j', JOBS, '-r', 't'],
                       capture_output=True, env=env.env, cwd=env.root, timeout=120)
    eq((r.returncode, r.stderr), (0, b''))
    clean = env.cleaned()
    for i in range(0, 5000, 10):
        eq(env.read('t/%02d/%03d/p.htm' % (i // 100, i % 100)), clean, i)
    eq(len(env.trashed()), 500)
    for i in range(100):
        env.write('s/f%02d/p.htm' % i)
    cmd = ['strace', '-f', '-qq', '-o', '/dev/stderr', '-e', 'trace=renameat2',
           '-e', 'inject=renameat2:delay_exit=2000000:when=1', WEBTRIM, '-j', '1', '-r', 's']
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env.env, cwd=env.root)
    for line in proc.stderr:
        if b'renameat2(' in line:
            os.rename(env.path('s/f90'), env.path('s/f90.old'))
            env.write('s/f90/p.htm')
            break
    err = proc.stderr.read().decode(errors='replace')
    eq(proc.wait(), 1, err)
    assert 'webtrim: s/f90/p.htm: its folder is no longer the one that was read; left as it was\n' in err, err
    eq((env.read('s/f90/p.htm'), env.read('s/f90.old/p.htm')), (PAGE, PAGE))
    eq([i for i in range(100) if i != 90 and env.read('s/f%02d/p.htm' % i) != clean], [])


@case
def root_with_a_users_environment_uses_its_own_trash(env):
    """Root run with another user's home or data folder in its environment
    (sudo -E) puts originals in its own home's trash (from the password
    database; here a private folder mounted over it), never in a folder
    that user owns; with its own folders it uses the trash they name."""
    if os.geteuid() != 0 or subprocess.run(['unshare', '-m', 'true']).returncode != 0:
        return
    own = env.path('roothome')
    os.makedirs(own)
    home = os.path.expanduser('~root')
    os.makedirs(env.path('user/data'))
    os.makedirs(env.path('mine/data'))
    os.makedirs(env.path('user/rootowned/data'))
    for d in ['user', 'user/data']:
        os.chown(env.path(d), 65534, 65534)
    os.chmod(env.root, 0o755)
    for n, (extra, trash) in enumerate([
            ({'XDG_DATA_HOME': env.path('user/data')}, home),
            ({'HOME': env.path('user'), 'XDG_DATA_HOME': ''}, home),
            ({'XDG_DATA_HOME': env.path('user/rootowned/data')}, home),
            ({'XDG_DATA_HOME': env.path('mine/data')}, env.path('mine/data')[:-5])]):
        page = env.write('p%d.htm' % n)
        r = subprocess.run(['unshare', '-m', 'sh', '-c', 'mount --bind "$0" "$1" && exec "$2" -v "$3"',
                            own, home, WEBTRIM, page], capture_output=True, timeout=60,
                           env=dict(env.env, **extra), cwd=env.root)
        want = os.path.join(trash, 'data/Trash/files' if trash != home else '.local/share/Trash/files',
                            'p%d.htm' % n)
        eq(r.returncode, 0, (extra, r.stderr))
        assert b'original: moved to the trash as %s\n' % want.encode() in r.stdout, (extra, r.stdout)
        where = want if trash != home else want.replace(home, own, 1)
        eq(open(where, 'rb').read(), PAGE, extra)
    eq(sorted(os.listdir(env.path('user/data'))), [])
    # -r never enters the home trash of a user the password database names
    # (root's, mounted over its home, with no record in it to show its shape).
    env.write('other/.local/share/Trash/files/kept.htm')
    env.write('other/site/a.htm')
    r = subprocess.run(['unshare', '-m', 'sh', '-c', 'mount --bind "$0" "$1" && exec "$2" -r "$1"',
                        env.path('other'), home, WEBTRIM], capture_output=True, timeout=60,
                       env=env.env, cwd=env.root)
    eq((r.returncode, r.stderr), (0, b''))
    eq((env.read('other/.local/share/Trash/files/kept.htm'), env.read('other/site/a.htm')),
       (PAGE, env.cleaned()))


@case
def killed_at_each_call_of_the_place_step(env):
    """SIGKILL at each system call from the exchange of names on (the trash
    and --move-to): the path always holds a whole page, old or new; an
    original swapped out and left under the page's hidden name is put into
    the trash, as the page, by the next run, which says so."""
    clean = env.cleaned()
    os.makedirs(env.path('old'))
    for target in [[], ['--move-to', env.path('old')]]:
        env.write('p.htm')
        log = env.path('log')
        eq(env.run(*target, 'p.htm', strace=['-o', log])[0], 0)
        calls = [re.match(r'(\d+) +(\w+)\(', line).groups() for line in open(log)
                 if re.match(r'\d+ +\w+\(', line)]
        start = next(i for i, (_, name) in enumerate(calls) if name == 'renameat2')
        for k in range(start, len(calls)):
            pid, name = calls[k]
            nth = sum(1 for c in calls[:k + 1] if c == (pid, name))
            shutil.rmtree(env.root + '/home/data', ignore_errors=True)
            for f in os.listdir(env.path('old')):
                os.remove(env.path('old/' + f))
            for f in os.listdir(env.root):
                if f.startswith('.wt'):
                    os.remove(env.path(f))
            env.write('p.htm')
            env.run(*target, 'p.htm', strace=['-e', 'inject=%s:signal=KILL:when=%d' % (name, nth)])
            what = (target, k, name, nth)
            now = env.read('p.htm')         # there, and whole
            assert now in (PAGE, clean), what
            left = [f for f in os.listdir(env.root) if f.startswith('.wt')]
            st, _, err = env.run(*target, 'p.htm')
            eq(st, 0, (what, err))
            eq(env.read('p.htm'), clean, what)
            eq([f for f in os.listdir(env.root) if f.startswith('.wt')], [], what)
            kept = [open(os.path.join(env.trash, f), 'rb').read() for f in env.trashed()] + \
                   [env.read('old/' + f) for f in os.listdir(env.path('old'))]
            assert PAGE in kept, (what, left, err)
            eq('cut short' in err, bool(left), (what, err))


@case
def an_owner_or_attribute_that_cannot_be_kept_stops_the_page(env):
    """A group member cleaning a shared group-writable page of root's (the
    new page would be the member's), and a user.* attribute the new page
    cannot take: refused, named, -o suggested; the page stays as it was."""
    import grp, pwd
    group = grp.getgrnam('users')
    nobody = pwd.getpwnam('nobody')
    os.chmod(env.root, 0o755)
    shared = env.write('shared/p.htm')
    for path, mode in [(env.path('shared'), 0o2775), (shared, 0o664)]:
        os.chown(path, 0, group.gr_gid)
        os.chmod(path, mode)
    member = ['setpriv', '--reuid', str(nobody.pw_uid), '--regid', str(nobody.pw_gid),
              '--groups', str(group.gr_gid), WEBTRIM]
    r = subprocess.run(member + ['shared/p.htm'], capture_output=True, env=env.env, cwd=env.root, timeout=60)
    eq((r.returncode, r.stderr.decode()), (1, "webtrim: shared/p.htm: Cannot give the cleaned page the page's "
       "owner: Operation not permitted. The page was not changed; to write a cleaned copy, use -o. "
       "The owner: root:users\n"))
    st = os.stat(shared)
    eq((env.read('shared/p.htm'), st.st_uid, st.st_gid, os.listdir(env.path('shared'))),
       (PAGE, 0, group.gr_gid, ['p.htm']))
    r = subprocess.run(member + ['-o', 'shared/mine.htm', 'shared/p.htm'], capture_output=True, env=env.env,
                       cwd=env.root, timeout=60)
    eq((r.returncode, env.read('shared/mine.htm')), (0, env.cleaned()), r.stderr)

    page = env.write('a.htm')
    try:
        os.setxattr(page, 'user.xdg.origin.url', b'http://x/a.htm')
    except OSError:
        return                      # no user attributes on this file system
    st, _, err = env.run('a.htm', strace=['-o', '/dev/null', '-e', 'inject=fsetxattr:error=ENOSPC'])
    eq((st, err), (1, "webtrim: a.htm: Cannot give the cleaned page the page's attribute: No space left on "
                      "device. The page was not changed; to write a cleaned copy, use -o. The attribute: "
                      "user.xdg.origin.url\n"))
    eq((env.read('a.htm'), os.getxattr(page, 'user.xdg.origin.url'), env.trashed()),
       (PAGE, b'http://x/a.htm', []))


@case
def names_and_paths_too_long_for_the_trash_name_move_to(env):
    """A name too long for the trash's record (NAME.trashinfo), and a page
    deeper than a path can be recorded whole (Path= is always absolute):
    not trashed, said with --move-to, which cleans them."""
    long = 'a' * 247 + '.htm'
    env.write(long)
    fd = os.open(env.root, os.O_RDONLY)
    for i in range(22):             # 22 folders of 200 letters: past 4096 bytes
        os.mkdir('d' * 199 + str(i % 10), dir_fd=fd)
        fd, old = os.open('d' * 199 + str(i % 10), os.O_RDONLY, dir_fd=fd), fd
        os.close(old)
    deep = os.open('p.htm', os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
    os.write(deep, PAGE)
    os.close(deep)
    hint = 'Cannot remove the original file: File name too long. The page was not changed. The trash ' \
           'cannot record so long a name or path; to move the original elsewhere, use --move-to.\n'
    os.makedirs(env.path('old'))
    for target in [[], ['--move-to', env.path('old')]]:
        st, _, err = env.run(*target, long, '-r', 'd' * 199 + '0')
        os.lseek(fd, 0, 0)
        page = os.read(os.open('p.htm', os.O_RDONLY, dir_fd=fd), 1 << 20)
        if not target:
            eq((st, err.count(hint), env.read(long), page, env.trashed()), (1, 2, PAGE, PAGE, []), err)
        else:
            eq((st, env.read(long), page, sorted(os.listdir(env.path('old')))),
               (0, env.cleaned(), env.cleaned(), [long, 'p.htm']), err)
    os.close(fd)


@case
def a_file_system_of_unknown_type_trashes_at_home(env):
    """fstatfs fails on the page's folder of another file system: its type
    is unknown, so the original goes to the home trash (by copy), never to
    a trash that may not outlive a restart."""
    if not mount_for_test(env, 'ext4', 'disk'):
        return
    env.write('disk/p.htm')
    st, _, err = env.run('disk/p.htm', strace=['-o', '/dev/null', '-e', 'inject=fstatfs:error=EIO'])
    eq((st, err, env.trashed(), os.path.exists(env.path('disk/.Trash-0'))), (0, '', ['p.htm'], False))


@case
def orphan_trash_records_older_than_the_run_go(env):
    """A record in info/ without its file in files/ (a run cut short between
    the two) goes with the next run that uses that trash, when it is older
    than the run; a record with its file, and a newer one, stay."""
    info = env.root + '/home/data/Trash/info'
    os.makedirs(info)
    os.makedirs(env.trash)
    env.write('home/data/Trash/files/kept.htm')
    for name, age in [('orphan.htm', -3600), ('kept.htm', -3600), ('newer.htm', 3600)]:
        path = env.write('home/data/Trash/info/%s.trashinfo' % name, b'[Trash Info]\nPath=/x\n')
        os.utime(path, (time.time() + age, time.time() + age))
    env.write('p.htm')
    eq(env.run('p.htm')[0], 0)
    eq(sorted(os.listdir(info)), ['kept.htm.trashinfo', 'newer.htm.trashinfo', 'p.htm.trashinfo'])


@case
def hidden_files_left_beside_pages_are_named_or_taken_up(env):
    """A hidden .wtXXXXXX of no page in the list is named by -v, once per
    folder, and stays; a page's own leftover (the original a killed run
    swapped out) is named by -n and put into the trash, as the page, by a
    real run."""
    clean = env.cleaned()
    env.write('site/a.htm', clean)
    env.write('site/b.htm', clean)
    env.write('site/.wtAbC123', b'half')
    st, out, err = env.run('-v', 'site/a.htm', 'site/b.htm')
    eq((st, err), (0, 'webtrim: %s/site/.wtAbC123: a hidden file that a run cut short left; it is not removed\n'
                   % env.root))
    eq(env.run('site/a.htm'), (0, b'', ''))
    # The leftover of a.htm: its name from the page's, as a killed run left it.
    env.write('site/a.htm')
    # Killed as the original would leave the hidden name (the second rename).
    env.run('site/a.htm', strace=['-o', '/dev/null', '-e', 'inject=renameat2:signal=KILL:when=2'])
    left = [f for f in os.listdir(env.path('site')) if f.startswith('.wt') and f != '.wtAbC123']
    eq((env.read('site/a.htm'), len(left)), (clean, 1))
    eq(open(env.path('site/' + left[0]), 'rb').read(), PAGE)
    st, _, err = env.run('-n', 'site/a.htm')
    eq((st, err), (0, 'webtrim: site/a.htm: A run that was cut short left a file beside this page: '
                      '%s/site/%s\n' % (env.root, left[0])))
    # The killed run's record, made before its move, is an orphan older
    # than the next run: it goes, and its name is free again.
    orphan = env.root + '/home/data/Trash/info/a.htm.trashinfo'
    os.utime(orphan, (time.time() - 60, time.time() - 60))
    st, _, err = env.run('site/a.htm')
    eq((st, err), (0, 'webtrim: site/a.htm: A run that was cut short left a copy of this page beside it; it was '
                      'put in the trash: %s/a.htm\n' % env.trash))
    eq((env.trashed(), open(env.trash + '/a.htm', 'rb').read(), sorted(os.listdir(env.path('site')))),
       (['a.htm'], PAGE, ['.wtAbC123', 'a.htm', 'b.htm']))
    eq(re.findall(r'^Path=(.*)$', open(orphan).read(), re.M), [env.root + '/site/a.htm'])


@case
def output_onto_ones_own_file_in_a_folder_one_cannot_write(env):
    """-o onto the runner's own file in a folder where no new file can be
    made beside it: written in place, as the shell's > does."""
    import pwd
    nobody = pwd.getpwnam('nobody')
    os.chmod(env.root, 0o755)
    env.write('p.htm')
    out = env.write('ro/mine.htm', b'old')
    os.chown(out, nobody.pw_uid, nobody.pw_gid)
    os.chmod(env.path('ro'), 0o755)
    r = subprocess.run(['setpriv', '--reuid', str(nobody.pw_uid), '--regid', str(nobody.pw_gid), '--clear-groups',
                        WEBTRIM, '-o', 'ro/mine.htm', 'p.htm'], capture_output=True, env=env.env, cwd=env.root,
                       timeout=60)
    st = os.stat(out)
    eq((r.returncode, env.read('ro/mine.htm'), st.st_uid, os.listdir(env.path('ro'))),
       (0, env.cleaned(), nobody.pw_uid, ['mine.htm']), r.stderr)


def mount_for_test(env, kind, name):
    """An ext4 image on a loop device or a tmpfs at env.path(name); False
    where this machine cannot mount (not root, no loop devices)."""
    where = env.path(name)
    os.makedirs(where)
    if kind == 'ext4':
        image = env.path(name + '.img')
        with open(image, 'wb') as f:
            f.truncate(8 << 20)
        ok = subprocess.run(['mkfs.ext4', '-q', '-F', image], capture_output=True).returncode == 0 and \
            subprocess.run(['mount', '-o', 'loop', image, where], capture_output=True).returncode == 0
    else:
        ok = subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=4m', 'tmpfs', where],
                            capture_output=True).returncode == 0
    if ok:
        env.mounts.append(where)
    return ok


def trash_tool(env, *cmd, stdin=b''):
    """A trash tool of the desktop in this case's home; gio in a session bus
    of its own, where its trash service runs."""
    if cmd[0] == 'gio':
        cmd = ('dbus-run-session', '--') + cmd
    r = subprocess.run(cmd, input=stdin, capture_output=True, env=env.env, cwd=env.root, timeout=60)
    return r.returncode, r.stdout.decode(errors='replace')


@case
def trash_tools_list_and_restore_what_was_trashed(env):
    """What the program trashes, the desktop's tools list with where it came
    from and put back there: from the home's file system, from the trash at
    the top of another one, from the home trash where a tmpfs page was copied."""
    places = [('home', 'h/pages')]
    if mount_for_test(env, 'ext4', 'ext4'):
        places.append(('top of an ext4', 'ext4/pages'))
    if mount_for_test(env, 'tmpfs', 'tmpfs'):
        places.append(('tmpfs, copied home', 'tmpfs/pages'))
    for place, folder in places:
        for restorer in ['gio', 'trash-cli']:
            page = env.write('%s/%s %s.htm' % (folder, restorer, '%'))
            st, _, err = env.run(page)
            eq((st, err), (0, ''), place)
            st, listed = trash_tool(env, 'trash-list')
            assert st == 0 and re.search(r'^\S+ \S+ %s$' % re.escape(page), listed, re.M), (place, listed)
            st, listed = trash_tool(env, 'gio', 'trash', '--list')
            uri = [line.split('\t')[0] for line in listed.splitlines() if line.endswith('\t' + page)]
            assert st == 0 and len(uri) == 1, (place, listed)
            os.unlink(page)
            if restorer == 'gio':
                st, out = trash_tool(env, 'gio', 'trash', '--restore', uri[0])
            else:
                st, out = trash_tool(env, 'trash-restore', os.path.dirname(page), stdin=b'0\n')
            eq((st, open(page, 'rb').read()), (0, PAGE), (place, restorer, out))
            st, listed = trash_tool(env, 'trash-list')
            assert page not in listed, (place, restorer, listed)


@case
def one_call_holds_the_trash_of_each_file_system(env):
    """A call opens the trash of each file system once and keeps it for
    every page after: pages of the home's file system, of an ext4 (its
    trash at its top) and of a tmpfs (the home trash, by copy), in turn,
    each go to their own trash with their own record; a page inside the
    home trash named in the same call is still refused."""
    tops = [('h', None)]
    if mount_for_test(env, 'ext4', 'ext4'):
        tops.append(('ext4', 'ext4/.Trash-%d' % os.geteuid()))
    if mount_for_test(env, 'tmpfs', 'tmpfs'):
        tops.append(('tmpfs', None))
    env.write('h/0.htm')
    eq(env.run('h/0.htm')[0], 0)                 # the home trash is made
    names = [top + '/%d.htm' % i for i in range(1, 3) for top, _ in tops]
    for n in names:
        env.write(n)
    inside = env.path('home/data/Trash/files/0.htm')
    log = env.path('log')
    st, out, err = env.run('--json', '-j', '1', *names, inside,
                           strace=['-o', log, '-e', 'trace=mkdirat'])
    eq(st, 1, err)
    results = [json.loads(l) for l in out.decode().splitlines()[:-1]]
    eq([r['outcome'] for r in results], ['cleaned'] * len(names) + ['refused'])
    eq(results[-1]['error']['id'], 'in-trash')
    # files/ and info/ made (or found) once for each file system's pages,
    # not once a page.
    made = [l for l in open(log) if re.search(r'mkdirat\(\d+, "(files|info)"', l)]
    eq(len(made), 2 * len(tops), made)
    for n, r in zip(names, results):
        trash = dict(tops)[n.split('/')[0]]
        files = env.path(trash + '/files') if trash else env.trash
        eq(os.path.dirname(r['original']['path']), files, n)
        with open(r['original']['path'], 'rb') as f:
            eq(f.read(), PAGE, n)
        info = r['original']['path'].replace('/files/', '/info/') + '.trashinfo'
        recorded = n.split('/', 1)[1] if trash else env.path(n)
        assert 'Path=%s\n' % recorded in open(info).read(), (n, open(info).read())
        eq(env.read(n), env.cleaned(), n)


@case
def page_lists_from_a_file(env):
    env.write('a.htm')
    env.write('b c.htm')
    env.write('list0', b'a.htm\0b c.htm\0')
    eq(env.run('-0', '--files-from=list0')[0], 0)
    eq(env.read('b c.htm'), env.cleaned())
    env.write('a.htm')
    st, _, err = env.run('--files-from=-', stdin=b'a.htm\nmissing.htm\n')
    eq((st, err.count('\n')), (1, 1), err)
    eq(env.read('a.htm'), env.cleaned())


@case
def help_man_page_and_completion_agree(env):
    st, out, _ = env.run('--help')
    eq(st, 0)
    helptext = out.decode()
    options = set(re.findall(r'--[a-z][a-z0-9-]*', helptext))
    assert len(options) > 25, options
    man = open(os.path.join(SOURCE, 'doc/webtrim.1')).read().replace('\\-', '-')
    completion = open(os.path.join(SOURCE, 'completion/webtrim.bash')).read()
    for o in sorted(options):
        assert o in man, 'man page lacks ' + o
        assert o in completion or o in ('--help',), 'completion lacks ' + o
    r = subprocess.run(['man', '--warnings', '-l', os.path.join(SOURCE, 'doc/webtrim.1')],
                       capture_output=True, env=dict(env.env, MANWIDTH='80'))
    eq((r.returncode, r.stderr), (0, b''))
    assert b'EXIT STATUS' in r.stdout
    st, out, _ = env.run('--version')
    assert st == 0 and out.startswith(b'webtrim '), out


@case
def companion_files_go_each_on_its_own(env):
    """The files of p_files/ that the cleaned page no longer reaches go to
    the trash one by one, each recorded at its own path; -n -v lists them
    first and changes nothing; a settings word saved before the switch keeps
    the folder whole."""
    page = (b'<html><body><table><tr><td><p>The text of the page, long enough to stay.</p>'
            b'<img src="p_files/kept%20one.png"><script src="p_files/t.js"></script></td></tr></table>'
            b'</body></html>')
    def make():
        env.write('site/p.htm', page)
        for name in ['kept one.png', 't.js', 'sub/unused.css']:
            env.write('site/p_files/' + name, b'x' * 10)
    make()
    before = env.tree()
    st, out, err = env.run('-n', '-v', 'site/p.htm')
    eq(st, 0, err)
    text = out.decode()
    assert 'companion files 2 (20 bytes) would go from p_files:' in text, text
    assert '/site/p_files/t.js (10 bytes)' in text and '/site/p_files/sub/unused.css' in text, text
    eq(env.tree(), before)
    st, out, err = env.run('-v', '--json', 'site/p.htm')
    eq(st, 0, err)
    report = json.loads(out.decode().splitlines()[0])
    eq(report['companion_files'], {'folder': 'p_files', 'outcome': 'trimmed', 'count': 2, 'bytes': 20,
                                   'kept': 0})
    eq(sorted(os.listdir(env.path('site/p_files'))), ['kept one.png'])
    eq(env.trashed(), ['p.htm', 't.js', 'unused.css'])
    info = env.root + '/home/data/Trash/info/'
    for name, where in [('t.js', 'site/p_files/t.js'), ('unused.css', 'site/p_files/sub/unused.css')]:
        assert 'Path=%s\n' % env.path(where) in open(info + name + '.trashinfo').read(), name
    shutil.rmtree(env.path('site'))
    make()
    os.makedirs(os.path.dirname(env.settings), exist_ok=True)
    with open(env.settings, 'w') as f:
        f.write('[Webtrim]\nw0=0x100013BF\nw1=\n')
    st, out, err = env.run('-v', 'site/p.htm')
    eq(st, 0, err)
    assert 'companion' not in out.decode(), out
    eq(sorted(os.listdir(env.path('site/p_files'))), ['kept one.png', 'sub', 't.js'])


# A page saved "complete" and its folder: the picture it shows stays; its
# script, its style sheets (gone with styles) and what they name, and a
# picture nothing names, go.
SAVED_PAGE = (b'<html><head><link rel="stylesheet" href="p_files/style.css"></head><body><table><tr><td>'
              b'<p>The text of the page, long enough to stay.</p><img src="p_files/used.png">'
              b'<script src="p_files/t.js"></script></td></tr></table></body></html>')
SAVED_FILES = {
    'used.png': b'\x89PNG used',
    't.js': b'track();',
    'style.css': b'@import "css/more.css"; body { background: url(img/bg.png) }',
    'css/more.css': b'p { background: url("../img/dot.gif") }',
    'img/bg.png': b'\x89PNG bg',
    'img/dot.gif': b'GIF89a dot',
    'img/old/unused.png': b'\x89PNG unused',
}


def write_saved_page(env, folder):
    env.write(folder + '/p.htm', SAVED_PAGE)
    for name, data in SAVED_FILES.items():
        env.write(folder + '/p_files/' + name, data)


def folder_bytes(path):
    """Every file below `path` by its path there, with its bytes."""
    found = {}
    for d, _, files in os.walk(path):
        for f in files:
            with open(os.path.join(d, f), 'rb') as fh:
                found[os.path.relpath(os.path.join(d, f), path)] = fh.read()
    return found


@case
def companion_files_come_back_from_the_trash(env):
    """After a default clean of a "complete" save, each companion file that
    went is its own trash entry: trash-restore and gio put each back where
    it was, the emptied folders made again, byte for byte. A trash inside
    the folder is never entered."""
    trash = '.Trash-%d/files/old.png' % os.geteuid()
    for restorer in ['trash-cli', 'gio']:
        folder = 'site-' + restorer
        write_saved_page(env, folder)
        env.write(folder + '/p_files/' + trash, b'trashed before')
        st, _, err = env.run(folder + '/p.htm')
        eq((st, err), (0, ''), restorer)
        companion = env.path(folder + '/p_files')
        eq(folder_bytes(companion), {'used.png': SAVED_FILES['used.png'], trash: b'trashed before'}, restorer)
        shutil.rmtree(os.path.join(companion, os.path.dirname(os.path.dirname(trash))))
        eq(os.listdir(companion), ['used.png'], restorer)
        st, listed = trash_tool(env, 'gio', 'trash', '--list')
        gone = {line.split('\t')[1]: line.split('\t')[0] for line in listed.splitlines()
                if line.split('\t')[1].startswith(companion + '/')}
        eq(sorted(gone), sorted(companion + '/' + n for n in SAVED_FILES if n != 'used.png'), restorer)
        for path, uri in sorted(gone.items()):
            if restorer == 'gio':
                st, out = trash_tool(env, 'gio', 'trash', '--restore', uri)
            else:
                st, out = trash_tool(env, 'trash-restore', companion, stdin=b'0\n')
            eq(st, 0, (restorer, path, out))
        eq(folder_bytes(companion), SAVED_FILES, restorer)
        st, listed = trash_tool(env, 'trash-list')
        assert companion not in listed, (restorer, listed)


@case
def a_companion_folder_shared_by_pages_of_a_walk(env):
    """-r: a file that another page of the folder names stays, whichever
    page is cleaned first; one that no page names goes."""
    body = b'<html><body><table><tr><td><p>The text of the page, long enough to stay.</p>%s</td></tr></table></body></html>'
    env.write('site/p.htm', body % b'<img src="p_files/a.png">')
    env.write('site/q.htm', body % b'<img src="./p_files/sub/../shared.png"><img src="q_files/b.png">')
    env.write('site/r.htm', body % b'<img src="r_files/c.png">')
    for name in ['p_files/a.png', 'p_files/shared.png', 'p_files/gone.png', 'q_files/b.png', 'q_files/x.png',
                 'r_files/c.png', 'r_files/y.png']:
        env.write('site/' + name, b'x')
    os.makedirs(env.path('old'))
    st, out, err = env.run('-r', '-v', '--move-to', env.path('old'), 'site')
    eq(st, 0, err)
    eq(sorted(os.listdir(env.path('site/p_files'))), ['a.png', 'shared.png'])
    eq(sorted(os.listdir(env.path('site/q_files'))), ['b.png'])
    eq(sorted(os.listdir(env.path('site/r_files'))), ['c.png'])
    eq(sorted(os.listdir(env.path('old/p_files'))), ['gone.png'])


@case
def companion_files_named_from_another_folder_of_the_run(env):
    """-r over two folders: a file of site/p_files/ that a page of other/
    names stays; one that no page names goes; one that only the other
    page's script named stays while that page waits for its clean (its
    original names more than it will) and goes once it was cleaned first."""
    body = b'<html><body><table><tr><td><p>The text of the page, long enough to stay.</p>%s</td></tr></table></body></html>'
    for order, gone in [(('site', 'other'), ['gone.png']),
                        (('other', 'site'), ['gone.png', 'only-script.js']),
                        (('site/p.htm', 'other/deeper/b.htm'), ['gone.png'])]:
        shutil.rmtree(env.path('site'), ignore_errors=True)
        shutil.rmtree(env.path('old'), ignore_errors=True)
        env.write('site/p.htm', body % b'<img src="p_files/a.png">')
        env.write('other/deeper/b.htm', body % (b'<img src="../../site/p_files/sub/%70ic.png">'
                                                b'<script src="../../site/p_files/only-script.js"></script>'))
        for name in ['a.png', 'sub/pic.png', 'gone.png', 'only-script.js']:
            env.write('site/p_files/' + name, b'x')
        os.makedirs(env.path('old'))
        args = [o.replace('other', 'other/deeper') if o == 'other' else o for o in order]
        st, out, err = env.run('-j', '1', '-r', '-v', '--move-to', env.path('old'), *args)
        eq(st, 0, (order, err))
        eq(sorted(os.listdir(env.path('old/p_files'))), gone, order)
        assert os.path.exists(env.path('site/p_files/sub/pic.png')), order
        assert b'%70ic.png' in env.read('other/deeper/b.htm'), order


def corpus_pages(n):
    """Up to n real pages (the shared corpus), else generated ones."""
    corpus = os.path.join(SOURCE, '..', 'shared', 'corpus')
    names = sorted(f for f in os.listdir(corpus) if '.htm' in f)[:n] if os.path.isdir(corpus) else []
    return [open(os.path.join(corpus, f), 'rb').read() for f in names] or \
        [PAGE.replace(b'more', b'more ' * i) for i in range(n)]


@case
def reports_in_the_order_given_and_as_json(env):
    """-v with many jobs: the same report, page by page in the list's order,
    three times; --json: a line per page that parses and agrees with the
    files, then a summary that agrees with the lines."""
    pages = corpus_pages(30) + [PAGE.replace(b'<!-- note -->', b'')]
    outs = []
    for run in range(3):
        for i, data in enumerate(pages):
            env.write('r%d/%02d.htm' % (run, i), data)
        st, out, err = env.run('-v', '-j', '4', *['r%d/%02d.htm' % (run, i) for i in range(len(pages))])
        eq(st, 0, err)
        # Each run's originals take the next free names in the trash.
        outs.append(re.sub(rb'(Trash/files/\d\d)(\.\d)?\.htm', rb'\1.htm', out.replace(b'r%d/' % run, b'')))
    eq(outs[1], outs[0])
    eq(outs[2], outs[0])
    names = re.findall(rb'^(\d\d)\.htm: ', outs[0], re.M)
    eq(names, [b'%02d' % i for i in range(len(pages))])
    assert re.search(rb'^%d pages: \d+ cleaned, .* \xe2\x86\x92 .*; \d+ already clean; 0 failed$'
                     % len(pages), outs[0], re.M), outs[0][-300:]
    for i, data in enumerate(pages):
        env.write('j/%02d.htm' % i, data)
    env.write('j/bad.htm', b'\xff\xfe<\0p\0>\0')
    os.makedirs(env.path('orig'))
    st, out, err = env.run('--json', '-j', '3', '--move-to', env.path('orig'), '-r', 'j')
    eq(st, 1, err)
    lines = [json.loads(l) for l in out.decode('utf-8', 'surrogateescape').splitlines()]
    summary = lines.pop()
    eq(len(lines), len(pages) + 1)
    eq([l['path'] for l in lines], ['j/%02d.htm' % i for i in range(len(pages))] + ['j/bad.htm'])
    kinds = None
    for l, data in zip(lines, pages):
        eq((l['version'], l['bytes_before']), (1, len(data)), l['path'])
        now = env.read(l['path'])
        if l['outcome'] == 'already-clean':
            eq((now, l['original']['place']), (data, 'stays'), l['path'])
            continue
        eq((l['outcome'], l['bytes_after'], l['error']), ('cleaned', len(now), None), l['path'])
        eq(open(l['original']['path'], 'rb').read(), data, l['path'])
        kinds = kinds or sorted(l['removed'])
        eq(sorted(l['removed']), kinds)
        st = l['stages']
        eq(st['elements'] + st['main_part'] + st['attributes'], len(data) - len(now), l['path'])
    eq((lines[-1]['outcome'], lines[-1]['error']['id']), ('refused', 'not-text'))
    assert lines[-1]['error']['message'].startswith('stored as UTF-16'), lines[-1]
    eq(summary['pages'], len(lines))
    for key, outcome in [('cleaned', 'cleaned'), ('already_clean', 'already-clean'), ('refused', 'refused')]:
        eq(summary[key], sum(l['outcome'] == outcome for l in lines), key)
    eq(summary['bytes_after'], sum(l['bytes_after'] for l in lines if l['outcome'] == 'cleaned'))
    assert 'scripts' in kinds and 'comments' in kinds, kinds


@case
def odd_names_are_quoted_and_json_keeps_their_bytes(env):
    cases = [('a b.htm', "'a b.htm'"), ("it's.htm", '"it\'s.htm"'), ('a\nb.htm', "'a'$'\\n''b.htm'"),
             ('\x1b[31m.htm', "$'\\033''[31m.htm'"), ('caf\xe9.htm', 'caf\xe9.htm')]
    for name, shown in cases:
        st, _, err = env.run(name)
        eq((st, err), (1, 'webtrim: %s: Cannot open this file: No such file or directory\n' % shown), name)
    raw = b'bad\xff.htm'
    env.write(raw.decode('utf-8', 'surrogateescape'))
    st, out, err = env.run('--json', os.fsdecode(raw))
    eq(st, 0, err)
    line = json.loads(out.splitlines()[0])
    eq(os.fsencode(line['path']), raw)


@case
def a_list_with_nul_bytes_needs_dash_0(env):
    env.write('a.htm')
    env.write('b.htm')
    env.write('list0', b'a.htm\0b.htm\0')
    st, _, err = env.run('--files-from=list0')
    eq((st, err.splitlines()[0]), (2, 'webtrim: list0: the list holds NUL bytes; read a list of names '
                                      'that end in NUL with -0 (--null)'))
    eq((env.read('a.htm'), env.read('b.htm')), (PAGE, PAGE))


@case
def two_names_of_one_file_are_cleaned_once_and_said(env):
    env.write('a.htm')
    os.link(env.path('a.htm'), env.path('b.htm'))
    st, _, err = env.run('a.htm', 'b.htm')
    eq((st, err), (0, 'webtrim: b.htm: same file as a.htm; left as it was (it still names the original)\n'))
    eq(env.read('a.htm'), env.cleaned())


@case
def every_outcome_says_one_record_in_text_and_json(env):
    """For each outcome, standard error's line is --json's message with the
    page's name before it; -n gives one line a page (its sizes as the summary
    gives them), the hint only with -v."""
    links = b''.join(b'<a href="/l%d">link %d</a> ' % (i, i) for i in range(40))
    words = b' '.join(b'word%d' % (i % 50) for i in range(600))
    hinted = (b'<html><body><div class=nav>' + links + b'</div><div id="main"><p>' + words + b'</p><p>' +
              words + b'</p></div><div class=foot>' + links + b'</div></body></html>\n')
    env.write('hinted.htm', hinted)
    env.write('clean.htm', env.cleaned())
    env.write('utf16.htm', b'\xff\xfe<\0p\0>\0')
    env.write('notes.txt')
    env.write('home/data/Trash/files/t.htm')
    os.makedirs(env.path('folder'))
    cases = [       # name, outcome, error id
        ('hinted.htm', 'cleaned', None), ('clean.htm', 'already-clean', None),
        ('utf16.htm', 'refused', 'not-text'), ('notes.txt', 'refused', 'not-permissible'),
        ('folder', 'refused', 'folder-without-recursion'), ('missing.htm', 'failed', 'cannot-open'),
        ('home/data/Trash/files/t.htm', 'refused', 'in-trash')]
    names = [c[0] for c in cases]
    st, out, err = env.run('-n', '--json', *names)
    eq(st, 1, err)
    lines = [json.loads(l) for l in out.decode().splitlines()]
    summary = lines.pop()
    eq(summary['pages'], len(cases))
    text_err = env.run('-n', *names)[2]
    want_err = ''
    for (name, outcome, error), l in zip(cases, lines):
        eq((l['path'], l['outcome'], l['error'] and l['error']['id']), (name, outcome, error), l)
        if error:
            want_err += 'webtrim: %s: %s\n' % (name, l['error']['message'])
        if l['stages']:
            taken = sum(k['bytes'] for k in l['removed'].values()) + l['stages']['main_part']
            eq(taken, l['bytes_before'] - l['bytes_after'], name)
    eq(err, want_err)
    eq(text_err, want_err)
    eq(lines[0]['main_part']['found'], 'whole')
    # -n: one line a page, then the summary; the hint is -v's.
    st, out, _ = env.run('-n', 'hinted.htm', 'clean.htm')
    eq(out.decode().splitlines(), [
        'hinted.htm: would be cleaned, %s \u2192 %s; the original would go to the trash'
        % (size_text(len(hinted)), size_text(lines[0]['bytes_after'])),
        'clean.htm: already clean, %s \u2192 %s' % (size_text(len(env.cleaned())), size_text(len(env.cleaned()))),
        '2 pages: 1 would be cleaned, %s \u2192 %s; 1 already clean; 0 failed'
        % (size_text(len(hinted)), size_text(lines[0]['bytes_after']))])
    st, out, _ = env.run('-n', '-v', 'hinted.htm')
    text = out.decode()
    assert 'hinted.htm: would be cleaned, %d \u2192 %d bytes\n' % (len(hinted), lines[0]['bytes_after']) in text, text
    assert '\n  main part: kept whole; %s removed\n  hint: --any-layout would keep <div id="main">' \
        % size_text(lines[0]['stages']['main_part']) in text, text


@case
def preserve_time_keeps_the_pages_times(env):
    """-p: the cleaned page has the page's modification and access times as
    they were before it was read; without it, the time of the clean. A
    setting like the others: --save keeps it, --no-preserve-time clears it."""
    then = (978307200123456789, 981234567987654321)     # atime, mtime in ns
    for args, kept in [([], False), (['-p'], True), (['--preserve-time'], True),
                       (['-p', '--no-preserve-time'], False)]:
        p = env.write('p.htm')
        os.utime(p, ns=then)
        st, _, err = env.run(*args, 'p.htm')
        eq(st, 0, err)
        got = os.stat(p)            # before a read moves the access time
        eq((got.st_atime_ns, got.st_mtime_ns) == then, kept, args)
        eq(env.read('p.htm'), env.cleaned())
        if not kept:
            assert got.st_mtime > time.time() - 600, got
    st, _, err = env.run('-p', '--save')
    eq(st, 0, err)
    assert re.search(rb'^preserve-time +on$', env.run('--settings')[1], re.M)
    p = env.write('q.htm')
    os.utime(p, ns=then)
    eq(env.run('q.htm')[0], 0)
    eq((os.stat(p).st_atime_ns, os.stat(p).st_mtime_ns), then)
    # -o: a file written gets the page's times too, a new one or one
    # written over; the page itself is only read.
    p = env.write('r.htm')
    for n in range(2):
        os.utime(p, ns=then)
        eq(env.run('-p', '-o', 'out.htm', 'r.htm')[0], 0)
        got = os.stat(env.path('out.htm'))
        eq(((got.st_atime_ns, got.st_mtime_ns), env.read('out.htm')), (then, env.cleaned()), n)
    # A page already clean is not touched at all: its times stay anyway.
    os.utime(p, ns=(then[0] + 1, then[1] + 1))
    st, out, err = env.run('-v', '--no-preserve-time', 'q.htm')
    eq((st, os.stat(p).st_mtime_ns), (0, then[1] + 1), err)


@case
def a_write_error_on_standard_output_is_an_error(env):
    env.write('p.htm')
    with open('/dev/full', 'wb') as full:
        r = subprocess.run([WEBTRIM, '-v', 'p.htm'], stdout=full, stderr=subprocess.PIPE,
                           env=env.env, cwd=env.root)
    eq((r.returncode, r.stderr), (1, b'webtrim: write error on standard output: No space left on device\n'))
    env.write('q.htm')
    with open('/dev/full', 'wb') as full:
        r = subprocess.run([WEBTRIM, '-o', '-', 'q.htm'], stdout=full, stderr=subprocess.PIPE,
                           env=env.env, cwd=env.root)
    eq((r.returncode, r.stderr), (1, b'webtrim: standard output: Cannot write the cleaned page: '
                                     b'No space left on device\n'))


@case
def output_never_destroys_what_it_names(env):
    """-o onto descriptors, devices, FIFOs, links, new files and other users'
    files: written as a shell's redirection would, never renamed over."""
    env.write('p.htm')
    os.chmod(env.path('p.htm'), 0o600)
    clean = env.cleaned()
    # A descriptor by its name: standard output, and /dev/fd/N of a pipe.
    with open(env.path('out.txt'), 'wb') as f:
        f.write(b'head:')
        f.flush()
        r = subprocess.run([WEBTRIM, '-o', '/dev/stdout', 'p.htm'], stdout=f, env=env.env, cwd=env.root)
    eq((r.returncode, env.read('out.txt')), (0, b'head:' + clean))
    rd, wr = os.pipe()
    r = subprocess.run([WEBTRIM, '-o', '/dev/fd/%d' % wr, 'p.htm'], pass_fds=[wr], env=env.env, cwd=env.root)
    os.close(wr)
    eq((r.returncode, os.read(rd, 1 << 20)), (0, clean))
    os.close(rd)
    # A device node and a FIFO of the test's own: written to, never replaced.
    dev = env.path('null')
    os.mknod(dev, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
    eq(env.run('-o', dev, 'p.htm')[0], 0)
    assert stat.S_ISCHR(os.lstat(dev).st_mode)
    fifo = env.path('fifo')
    os.mkfifo(fifo)
    got = []
    reader = threading.Thread(target=lambda: got.append(open(fifo, 'rb').read()))
    reader.start()
    eq(env.run('-o', fifo, 'p.htm')[0], 0)
    reader.join()
    eq((got, stat.S_ISFIFO(os.lstat(fifo).st_mode)), ([clean], True))
    # A new file: the page's mode less the umask; an existing one of the
    # runner's keeps its mode; a link stays a link.
    old = os.umask(0o022)
    try:
        eq(env.run('-o', 'new.htm', 'p.htm')[0], 0)
        env.write('mine.htm', b'old')
        os.chmod(env.path('mine.htm'), 0o640)
        eq(env.run('-o', 'mine.htm', 'p.htm')[0], 0)
    finally:
        os.umask(old)
    eq(oct(os.stat(env.path('new.htm')).st_mode & 0o777), oct(0o600))
    eq((env.read('mine.htm'), oct(os.stat(env.path('mine.htm')).st_mode & 0o777)), (clean, oct(0o640)))
    os.symlink('mine.htm', env.path('link.htm'))
    eq(env.run('-o', 'link.htm', 'p.htm')[0], 0)
    assert os.path.islink(env.path('link.htm'))
    # Another user's file and a file with two names: written in place.
    env.write('theirs.htm', b'old')
    os.chown(env.path('theirs.htm'), 65534, 65534)
    env.write('twice.htm', b'old')
    os.link(env.path('twice.htm'), env.path('twice2.htm'))
    for name in ['theirs.htm', 'twice.htm']:
        ino = os.stat(env.path(name)).st_ino
        eq(env.run('-o', name, 'p.htm')[0], 0, name)
        eq((env.read(name), os.stat(env.path(name)).st_ino), (clean, ino), name)
    eq(os.stat(env.path('theirs.htm')).st_uid, 65534)
    eq(env.read('twice2.htm'), clean)
    eq(env.read('p.htm'), PAGE)


@case
def completion_works_in_a_real_bash(env):
    """Tab in an interactive bash on a terminal, with the script loaded:
    bash splits --opt=value at the '=', and without '=' among its word
    breaks it does not."""
    script = os.path.abspath(os.path.join(SOURCE, 'completion/webtrim.bash'))
    env.write('page.htm')
    os.makedirs(env.path('sub'))
    for breaks, line, want in [
            ('', 'webtrim --remove=sc', 'webtrim --remove=scripts'),
            ('', 'webtrim --keep=scripts,st', 'webtrim --keep=scripts,styles'),
            ('', 'webtrim --move-to=su', 'webtrim --move-to=sub/'),
            ('', 'webtrim --remove sty', 'webtrim --remove styles'),
            ('', 'webtrim --js', 'webtrim --json '),
            ('', 'webtrim pa', 'webtrim page.htm '),
            ('COMP_WORDBREAKS=${COMP_WORDBREAKS//=}; ', 'webtrim --remove=sc', 'webtrim --remove=scripts'),
            ('COMP_WORDBREAKS=${COMP_WORDBREAKS//=}; ', 'webtrim --move-to=su', 'webtrim --move-to=sub/')]:
        eq(bash_completes(script, breaks, line, env.root), want, (breaks, line))


def bash_completes(script, setup, line, cwd):
    """What an interactive bash shows after `line` and a Tab."""
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(cwd)
        os.execve('/bin/bash', ['bash', '--norc', '--noprofile', '-i'],
                  {'PATH': os.environ['PATH'], 'TERM': 'dumb', 'PS1': '$ ', 'HOME': cwd})

    def read_until(pattern, limit=5.0):
        out, end = b'', time.time() + limit
        while time.time() < end and not re.search(pattern, out):
            if select.select([fd], [], [], 0.05)[0]:
                try:
                    out += os.read(fd, 4096)
                except OSError:
                    break
        return out
    read_until(rb'\$ $')
    os.write(fd, b'bind "set bell-style none"; %s source %s; echo ready\n' % (setup.encode(), script.encode()))
    read_until(rb'ready\r\n\$ $')
    os.write(fd, line.encode() + b'\t')
    shown = read_until(rb'(?!)', 1.0).decode(errors='replace')
    os.write(fd, b'\x15exit\n')
    read_until(rb'(?!)', 0.3)
    os.close(fd)
    os.waitpid(pid, 0)
    return shown.split('\r\n')[-1]


@case
def cleaned_pages_are_inert(env):
    # The static check: after a clean, no tag keeps an event handler, a
    # javascript: address or a network address in an attribute that loads
    # (inertcheck.py, its own reading of the page), for the probe pages
    # under the default switches, without extract, and with scripts and
    # internet alone, and for the corpus under the default switches.
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import inertcheck
    probes = os.path.join(SOURCE, 'tools', 'probe-inert')
    pages = [os.path.join(probes, n) for n in sorted(os.listdir(probes)) if n.endswith('.htm')]
    assert len(pages) >= 3, pages
    probe = open(os.path.join(probes, 'probe.htm'), 'rb').read()
    assert len(inertcheck.findings(probe)) > 60, 'the checker sees the probe page\'s vectors'
    def use(w0):
        os.makedirs(os.path.dirname(env.settings), exist_ok=True)
        with open(env.settings, 'w') as f:
            f.write('[Webtrim]\nw0=%s\nw1=\n' % w0)
    for w0 in ('0x%08X' % DEFAULT_W0, '0x%08X' % (DEFAULT_W0 & ~0x100), '0x10000012'):
        use(w0)
        for p in pages:
            out = env.cleaned(open(p, 'rb').read())
            eq(inertcheck.findings(out), [], '%s under %s' % (os.path.basename(p), w0))
    corpus = os.path.join(SOURCE, '..', 'shared', 'corpus')
    if not os.path.isdir(corpus):
        return
    use('0x%08X' % DEFAULT_W0)
    names = sorted(n for n in os.listdir(corpus) if n.endswith('.htm'))
    refused = []
    for n in names:
        st, out, err = env.run('-', stdin=open(os.path.join(corpus, n), 'rb').read())
        if st != 0 and 'UTF-16' in err:
            refused.append(n)      # not cleaned, so not written: nothing to check
            continue
        eq(st, 0, (n, err))
        eq(inertcheck.findings(out), [], n)
    assert len(refused) <= 2, refused


def archive(root, parts=(), cte='quoted-printable', eol=b'\r\n', boundary=b'----B'):
    """A single-file page as browsers write one: root is the HTML page,
    parts are (headers, body) of the other parts."""
    import quopri, base64
    if cte == 'quoted-printable':
        body = quopri.encodestring(root.replace(b'\n', b'\r\n'))
    elif cte == 'base64':
        body = base64.encodebytes(root).rstrip(b'\n').replace(b'\n', eol)
    else:
        body = root
    lines = [b'From: <Saved by Blink>', b'MIME-Version: 1.0',
             b'Content-Type: multipart/related;', b'\ttype="text/html";', b'\tboundary="' + boundary + b'"', b'',
             b'--' + boundary, b'Content-Type: text/html', b'Content-Transfer-Encoding: ' + cte.encode(),
             b'Content-Location: http://x/page.htm', b'', body]
    for headers, data in parts:
        lines += [b'--' + boundary, headers, b'', data]
    return eol.join(lines + [b'--' + boundary + b'--', b''])


def archive_root(data):
    """The root part's decoded page and what stands before and after it."""
    import quopri, base64
    head_end = data.index(b'\r\n\r\n', data.index(b'Content-Transfer-Encoding')) + 4
    end = data.index(b'\r\n--', head_end)
    cte = re.search(rb'Content-Transfer-Encoding: (\S+)', data[:head_end]).group(1)
    body = data[head_end:end]
    page = quopri.decodestring(body) if cte == b'quoted-printable' else \
        base64.b64decode(body) if cte == b'base64' else body
    return data[:head_end], page, data[end:]


ARCHIVE_ROOT = (b'<html><head><title>t</title><script src="http://x/a.js"></script></head>\n'
                b'<body><p>Words of the single page</p><img src="http://x/page_files/p.png">'
                b'<img src="http://ads.example/t.gif"><img src="cid:pic@x"> '
                + b'long ' * 40 + b'<scr' + b'ipt>alert(1)</script></body></html>\n')
ARCHIVE_PARTS = [(b'Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n'
                  b'Content-Location: http://x/page_files/p.png', b'iVBORw0KGgoAAAA='),
                 (b'Content-Type: image/png\r\nContent-ID: <pic@x>', b'\x89PNG raw bytes =\r\n')]


@case
def single_file_pages_are_cleaned_part_by_part(env):
    keep_pictures = ['--keep=pictures', '--no-extract']
    for cte in ('quoted-printable', 'base64', '8bit'):
        doc = archive(ARCHIVE_ROOT, ARCHIVE_PARTS, cte)
        env.write('sub/a.mht', doc)
        env.write('sub/deeper/b.MHTML', doc)
        env.write('renamed.htm', doc)       # known by its first bytes
        st, out, err = env.run(*keep_pictures, '-r', 'sub', 'renamed.htm')
        eq((st, err), (0, ''), cte)
        for name in ('sub/a.mht', 'sub/deeper/b.MHTML', 'renamed.htm'):
            got = env.read(name)
            head, page, tail = archive_root(got)
            want_head, _, want_tail = archive_root(doc)
            eq((head, tail), (want_head, want_tail), (cte, name))
            for gone in (b'script', b'ads.example'):
                assert gone not in page, (cte, name, page)
            for kept in (b'http://x/page_files/p.png', b'cid:pic@x', b'Words of the single page'):
                assert kept in page, (cte, name, kept, page)
            if cte == 'quoted-printable':
                assert all(len(l) <= 76 for l in got.split(b'\r\n')), got
        eq(env.cleaned(doc, *keep_pictures), env.read('renamed.htm'), cte)
    eq(len(env.trashed()), 9)
    # Nothing to take out: left as it is.
    clean = archive(b'<html><body><p>plain =\n</p></body></html>\n', ARCHIVE_PARTS)
    env.write('clean.mht', clean)
    eq(env.run('--no-extract', 'clean.mht')[::2], (0, ''))
    eq(env.read('clean.mht'), clean)


@case
def single_file_pages_leave_out_the_parts_only_removed_elements_named(env):
    """The script part whose SCRIPT went is left out and counted as a
    companion file (-n -v, --json); the picture parts stay; with the switch
    off every part stays."""
    script = (b'Content-Type: text/javascript\r\nContent-Location: http://x/a.js', b'alert(2)')
    doc = archive(ARCHIVE_ROOT, ARCHIVE_PARTS + [script])
    gone = b'------B\r\n' + script[0] + b'\r\n\r\n' + script[1] + b'\r\n'
    assert gone in doc
    env.write('a.mht', doc)
    st, out, err = env.run('-n', '-v', '--keep=pictures', 'a.mht')
    eq((st, err), (0, ''))
    assert 'companion files 1 (%d bytes) would be left out of the page' % len(gone) in out.decode(), out
    eq(env.read('a.mht'), doc)
    st, out, err = env.run('--json', '--keep=pictures', 'a.mht')
    eq((st, err), (0, ''))
    eq(json.loads(out.decode().splitlines()[0])['companion_files'],
       {'folder': '', 'outcome': 'trimmed', 'count': 1, 'bytes': len(gone), 'kept': 0})
    got = env.read('a.mht')
    assert gone not in got and b'alert(2)' not in got, got
    eq(archive_root(got)[2], archive_root(doc)[2].replace(gone, b''))
    env.write('a.mht', doc)
    eq(env.run('--keep=pictures,companion-files', 'a.mht')[::2], (0, ''))
    assert gone in env.read('a.mht')


@case
def single_file_pages_not_understood_are_refused(env):
    good = archive(ARCHIVE_ROOT, ARCHIVE_PARTS)
    for data, reason in [
            (b'<html><body>an HTML page</body></html>', 'it does not begin with MIME header fields'),
            (good.replace(b'\tboundary="----B"', b'\tcharset=x'), 'it has no boundary'),
            (good[:good.rindex(b'------B--')], 'a part is not terminated'),
            (good.replace(b'Content-Type: text/html', b'Content-Type: text/plain'),
             'its root part is not text/html'),
            (good.replace(b'multipart/related', b'multipart/mixed'), 'it is not multipart/related')]:
        env.write('bad.mht', data)
        st, out, err = env.run('bad.mht')
        eq((st, err), (1, 'webtrim: bad.mht: not a single-file page (MHTML) that can be read: %s\n'
                       % reason), reason)
        eq(env.read('bad.mht'), data, reason)
    eq(env.trashed(), [])


@case
def a_page_saved_by_chromium_as_one_file(env):
    """A page of the probe set saved by headless chromium (DevTools
    Page.captureSnapshot over --remote-debugging-pipe), cleaned: only the
    root part changes and the parts only removed elements named go, its
    pictures stay, and it is inert."""
    chromium = shutil.which('chromium')
    if not chromium:
        print('skip  chromium is not installed')
        return
    page = env.write('page.htm', b'<html><head><title>c</title><script>document.title="s"</script>'
                     b'<style>p{color:red}</style></head><body><p onclick="x()">Chromium saved this page '
                     b'<img src="pic.gif"> <iframe src="http://127.0.0.1:9/f"></iframe></p></body></html>')
    env.write('pic.gif', b'GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01'
              b'\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;')
    snapshot = chromium_snapshot(chromium, 'file://' + page, env.path('profile'))
    if snapshot is None:
        print('skip  chromium gave no snapshot')
        return
    env.write('saved.mhtml', snapshot)
    boundary = re.search(rb'boundary="([^"]+)"', snapshot).group(1)
    parts = snapshot.split(b'--' + boundary)[2:]
    # Without the companion-files switch every part after the root's stays
    # as it was; with it, the parts that only removed elements named (the
    # frame, the style sheets) go whole, the picture stays.
    st, _, err = env.run('--keep=pictures,companion-files', '--no-extract', 'saved.mhtml')
    eq((st, err), (0, ''))
    eq(env.read('saved.mhtml').split(b'--' + boundary)[2:], parts)
    env.write('saved.mhtml', snapshot)
    st, out, err = env.run('--keep=pictures', '--no-extract', '--json', 'saved.mhtml')
    eq((st, err), (0, ''))
    got = env.read('saved.mhtml')
    left = got.split(b'--' + boundary)[2:]
    gone = [p for p in parts if p not in left]
    eq([p for p in parts if p in left], left)
    assert [p for p in left if b'pic.gif' in p] and [p for p in gone if b'frame-' in p], left
    eq(json.loads(out.decode().splitlines()[0])['companion_files']['count'], len(gone))
    root = got.split(b'--' + boundary)[1]
    import quopri
    html = quopri.decodestring(root.split(b'\r\n\r\n', 1)[1])
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import inertcheck
    eq(inertcheck.findings(html), [])
    assert b'Chromium saved this page' in html and b'pic.gif' in html, html
    assert b'<script' not in html.lower() and b'onclick' not in html.lower(), html


def chromium_snapshot(chromium, url, profile):
    """The MHTML snapshot of url, from chromium driven through its pipe."""
    import json as js
    to_r, to_w = os.pipe()
    from_r, from_w = os.pipe()
    def child():
        os.dup2(to_r, 3)
        os.dup2(from_w, 4)
    proc = subprocess.Popen([chromium, '--headless', '--no-sandbox', '--disable-gpu',
                             '--remote-debugging-pipe', '--user-data-dir=' + profile, 'about:blank'],
                            preexec_fn=child, pass_fds=(3, 4), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(to_r)
    os.close(from_w)
    buf = b''
    ids = [0]

    def call(method, params=None, session=None):
        ids[0] += 1
        msg = {'id': ids[0], 'method': method, 'params': params or {}}
        if session:
            msg['sessionId'] = session
        os.write(to_w, js.dumps(msg).encode() + b'\0')
        return ids[0]

    def wait(pred, timeout=60):
        nonlocal buf
        end = time.time() + timeout
        while time.time() < end:
            while b'\0' in buf:
                raw, buf = buf.split(b'\0', 1)
                m = js.loads(raw)
                if pred(m):
                    return m
            r, _, _ = select.select([from_r], [], [], 1)
            if r:
                chunk = os.read(from_r, 1 << 20)
                if not chunk:
                    return None
                buf += chunk
        return None
    try:
        n = call('Target.createTarget', {'url': 'about:blank'})
        m = wait(lambda m: m.get('id') == n)
        if not m or 'result' not in m:
            return None
        n = call('Target.attachToTarget', {'targetId': m['result']['targetId'], 'flatten': True})
        m = wait(lambda m: m.get('id') == n)
        session = m['result']['sessionId']
        n = call('Page.enable', session=session)
        wait(lambda m: m.get('id') == n)
        call('Page.navigate', {'url': url}, session)
        wait(lambda m: m.get('method') == 'Page.loadEventFired')
        n = call('Page.captureSnapshot', {'format': 'mhtml'}, session)
        m = wait(lambda m: m.get('id') == n)
        return m['result']['data'].encode('latin-1') if m and 'result' in m else None
    finally:
        proc.kill()
        proc.wait()
        os.close(to_w)
        os.close(from_r)


def main():
    global WEBTRIM, SOURCE, BUILD
    ap = argparse.ArgumentParser()
    ap.add_argument('--webtrim', required=True)
    ap.add_argument('--source', required=True)
    ap.add_argument('--build', required=True)
    ap.add_argument('names', nargs='*')
    a = ap.parse_args()
    WEBTRIM, SOURCE, BUILD = os.path.abspath(a.webtrim), a.source, a.build
    failed = 0
    for fn in CASES:
        if a.names and fn.__name__ not in a.names:
            continue
        env = Env()
        try:
            fn(env)
            print('ok   ', fn.__name__)
        except Exception as e:
            failed += 1
            print('FAIL ', fn.__name__, '\n     ', repr(e)[:2000])
        finally:
            env.close()
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
