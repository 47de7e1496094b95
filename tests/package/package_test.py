#!/usr/bin/python3
"""Tests of the Debian packages that `cpack -G DEB` makes from a build.

One runner: builds the four packages once, then for each (one row of a
table) its files, its control fields, its copyright and changelog, and
lintian's verdict (no errors; lintian is left out, with a notice, where it
is not installed).
Run: package_test.py --build DIR --source DIR
"""
import argparse, gzip, os, re, shutil, subprocess, sys, tarfile, tempfile

DOC = './usr/share/doc/%s/'
LIBDIR = './usr/lib/%s/'

# package: (files it holds besides its doc folder, control fields that must match)
PACKAGES = {
    'webtrim': (
        ['./usr/bin/webtrim', './usr/share/man/man1/webtrim.1.gz',
         './usr/share/bash-completion/completions/webtrim'],
        {'Depends': r'libglib2\.0-0', 'Section': r'^web$', 'Suggests': r'python3-webtrim'}),
    'libwebtrim1': (
        [LIBDIR + 'libwebtrim.so.1', LIBDIR + 'libwebtrim.so.1.0.0'],
        # The web archive calls bring the C++ runtime and zlib.
        {'Depends': r'^libc6 \([^)]*\), libstdc\+\+6 \([^)]*\), zlib1g \([^)]*\)$', 'Section': r'^libs$',
         'Suggests': r'webtrim'}),
    'libwebtrim-dev': (
        ['./usr/include/webtrim.h', LIBDIR + 'libwebtrim.so', LIBDIR + 'libwebtrim.a',
         LIBDIR + 'pkgconfig/webtrim.pc'],
        {'Depends': r'^libwebtrim1 \(= {version}\)$', 'Section': r'^libdevel$',
         'Suggests': r'pkg'}),
    'python3-webtrim': (
        ['./usr/lib/python3/dist-packages/webtrim.{soabi}.so',
         DOC % 'python3-webtrim' + 'examples/dask_clean.py'],
        {'Depends': r'libwebtrim1 \(>= {version}\).*python3 \(>= 3\.\d+~\), python3 \(<< 3\.\d+\)',
         'Section': r'^python$', 'Suggests': r'python3-distributed'}),
}
# Every package has these.
COMMON = {'Maintainer': r'^.+ <.+@.+>$', 'Homepage': r'^https?://', 'Source': r'^webtrim$',
          'Version': r'^{version}$', 'Priority': r'^optional$'}


def eq(got, want, what=''):
    assert got == want, '%s: got %r, want %r' % (what, got, want)


def control(deb):
    out = subprocess.run(['dpkg-deb', '-f', deb], capture_output=True, text=True,
                         check=True).stdout
    fields, name = {}, None
    for line in out.splitlines():
        if line.startswith(' '):
            fields[name] += '\n' + line
        else:
            name, _, value = line.partition(': ')
            fields[name] = value
    return fields


def contents(deb):
    """The package's files: path to bytes (None for links and folders)."""
    data = subprocess.run(['dpkg-deb', '--fsys-tarfile', deb], capture_output=True,
                          check=True).stdout
    tmp = tempfile.NamedTemporaryFile(suffix='.tar')
    tmp.write(data)
    tmp.flush()
    files = {}
    with tarfile.open(tmp.name) as t:
        for m in t.getmembers():
            files[m.name if m.name.startswith('./') else './' + m.name] = \
                t.extractfile(m).read() if m.isfile() else None
    return files


def check_package(name, deb, version, soabi):
    listed, wanted = PACKAGES[name]
    files = contents(deb)
    doc = DOC % name
    for f in listed + [doc + 'copyright', doc + 'changelog.Debian.gz']:
        f = f.format(soabi=soabi) if '{soabi}' in f else f
        f = f % ARCH if '%s' in f else f
        assert f in files, '%s lacks %s: %s' % (name, f, sorted(files))
    fields = control(deb)
    eq(fields.get('Package'), name, 'Package')
    for field, pattern in list(wanted.items()) + list(COMMON.items()):
        pattern = pattern.replace('{version}', re.escape(version))
        assert re.search(pattern, fields.get(field, ''), re.M), \
            '%s: %s %r does not match %r' % (name, field, fields.get(field), pattern)
    # The description: a synopsis, then a paragraph wrapped to fit 80 columns.
    lines = fields['Description'].split('\n')
    assert 10 < len(lines[0]) < 80 and len(lines) > 2, (name, lines)
    assert all(l.startswith(' ') and len(l) <= 80 for l in lines[1:]), (name, lines)

    copyright = files[doc + 'copyright'].decode()
    assert copyright.startswith(
        'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n'), copyright
    license = open(os.path.join(SOURCE, 'LICENSE')).read()
    holder = re.search(r'Copyright \(c\) (.*)', license).group(1)
    assert re.search(r'^Copyright: %s$' % re.escape(holder), copyright, re.M), copyright
    assert re.search(r'^License: Expat$', copyright, re.M), copyright
    assert 'Permission is hereby granted, free of charge' in copyright, copyright
    changelog = gzip.decompress(files[doc + 'changelog.Debian.gz']).decode()
    eq(changelog.split('\n')[0].split(';')[0], 'webtrim (%s) unstable' % version, name)
    return fields


def main():
    global SOURCE, ARCH
    ap = argparse.ArgumentParser()
    ap.add_argument('--build', required=True)
    ap.add_argument('--source', required=True)
    a = ap.parse_args()
    SOURCE = a.source
    ARCH = subprocess.run(['gcc', '-print-multiarch'], capture_output=True, text=True).stdout.strip()
    soabi = subprocess.run(['/usr/bin/python3', '-c',
                            'import sysconfig; print(sysconfig.get_config_var("SOABI"))'],
                           capture_output=True, text=True).stdout.strip()
    out = tempfile.mkdtemp(prefix='webtrim-packages-')
    failed = 0
    try:
        r = subprocess.run(['cpack', '-G', 'DEB', '--config',
                            os.path.join(a.build, 'CPackConfig.cmake'), '-B', out],
                           capture_output=True, text=True)
        eq(r.returncode, 0, r.stdout + r.stderr)
        debs = {f.split('_')[0]: os.path.join(out, f) for f in os.listdir(out)
                if f.endswith('.deb')}
        eq(sorted(debs), sorted(PACKAGES), 'the packages made')
        versions = {control(d)['Version'] for d in debs.values()}
        eq(len(versions), 1, 'one version for all')
        version = versions.pop()
        for name in sorted(PACKAGES):
            try:
                check_package(name, debs[name], version, soabi)
                print('ok   ', name)
            except Exception as e:
                failed += 1
                print('FAIL ', name, '\n     ', repr(e)[:2000])
        if shutil.which('lintian'):
            r = subprocess.run(['lintian', '--no-tag-display-limit'] + sorted(debs.values()),
                               capture_output=True, text=True)
            errors = [l for l in r.stdout.splitlines() if l.startswith('E:')]
            if errors or r.returncode not in (0, 1) or 'E:' in r.stderr:
                failed += 1
                print('FAIL  lintian\n     ', '\n      '.join(errors) or r.stderr)
            else:
                print('ok    lintian (%d warnings)' % sum(
                    l.startswith('W:') for l in r.stdout.splitlines()))
        else:
            print('skip  lintian: not installed (tools/bootstrap.sh installs it)')
    finally:
        shutil.rmtree(out)
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
