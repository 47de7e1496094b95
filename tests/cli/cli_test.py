#!/usr/bin/env python3
"""Tests of the real Linux program, as a user runs it.

Every case runs in a private folder with its own HOME, settings and trash,
removed afterwards. Run: cli_test.py --webtrim PATH --source DIR --build DIR [NAME...]
"""
import argparse, os, re, shutil, subprocess, sys, tempfile

PAGE = (b'<html><head><title>t</title><style>p{color:red}</style>\r\n'
        b'<script src="http://x/a.js"></script><meta name=keywords content=x>\r\n'
        b'</head><body bgcolor=black><!-- note --><p style="color:blue">Words of the page '
        b'<img src="http://x/p.gif"> and more words.</p><form><input></form></body></html>\n')

DEFAULT_W0 = 0x100013BF
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
        self.settings = self.root + '/home/config/halvane/webtrim.ini'
        self.trash = self.root + '/home/data/Trash/files'

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
    for args, want in [
            (['dir.htm'], 'webtrim: dir.htm: Cannot open this file: Is a directory\n'),
            (['notes.txt'], 'webtrim: notes.txt: The file is not permissible. '
                            'Only *.htm, *.html, *.plg files are allowable.\n')]:
        st, _, err = env.run(*args)
        eq((st, err), (1, want), args)
    env.write('p.htm')
    st, _, err = env.run('--move-to', env.path('nowhere'), 'p.htm')
    eq((st, err), (0, 'webtrim: p.htm: The chosen folder does not exist; '
                      'the original goes to the trash.\n'))
    env.write('p.htm')
    eq(env.run('-q', '--move-to', env.path('nowhere'), 'p.htm')[::2], (0, ''))


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
    assert b'p.htm: would be cleaned, %d -> %d bytes' % (len(PAGE), len(env.cleaned())) in out, out
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
    cmd = ['strace', '-f', '-qq', '-o', '/dev/stderr', '-e', 'trace=execve,rename',
           '-e', 'inject=rename:delay_exit=300000', WEBTRIM, '-j', JOBS, '-r', 'p']
    proc = subprocess.Popen(cmd, stderr=subprocess.PIPE, env=env.env, cwd=env.root)
    pid = None
    for line in proc.stderr:
        pid = pid or int(line.split()[0])
        if b'Trash/files/' in line:
            os.kill(pid, 15)
            break
    proc.stderr.read()
    proc.wait()
    cleaned = [i for i in range(12) if env.read('p/%02d.htm' % i) != PAGE]
    assert 1 <= len(cleaned) <= 4, cleaned
    eq(len(env.trashed()), len(cleaned))
    eq(sorted(os.listdir(env.path('p'))), ['%02d.htm' % i for i in range(12)])


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
def debian_package_contents(env):
    out = env.path('pkg')
    r = subprocess.run(['cpack', '-G', 'DEB', '--config', os.path.join(BUILD, 'CPackConfig.cmake'),
                        '-B', out], capture_output=True, text=True)
    eq(r.returncode, 0, r.stdout + r.stderr)
    deb = [f for f in os.listdir(out) if f.endswith('.deb')][0]
    listing = subprocess.run(['dpkg-deb', '-c', os.path.join(out, deb)],
                             capture_output=True, text=True).stdout
    for f in ['./usr/bin/webtrim', './usr/share/man/man1/webtrim.1.gz',
              './usr/share/bash-completion/completions/webtrim']:
        assert f in listing, (f, listing)
    fields = subprocess.run(['dpkg-deb', '-f', os.path.join(out, deb)],
                            capture_output=True, text=True).stdout
    assert re.search(r'^Depends:.*libglib2\.0-0', fields, re.M), fields
    assert re.search(r'^Maintainer: .+<.+@.+>', fields, re.M), fields


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
    for n in names:
        out = env.cleaned(open(os.path.join(corpus, n), 'rb').read())
        eq(inertcheck.findings(out), [], n)


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
