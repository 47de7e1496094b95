"""The build of the Python module `webtrim` as a wheel: a PEP 517 backend
that needs nothing but Python, a C and a C++ compiler, the interpreter's
headers and zlib's.

    python3 -m venv v && v/bin/pip install --no-build-isolation --no-index .
    pip wheel --no-build-isolation --no-index .

pip finds it through pyproject.toml (backend-path). It compiles the module
(python/webtrim.c) together with the sources the library links (lib/, the
run and the cleaning), so that the one extension file holds the whole
cleaning and exports only its entry; then it writes the wheel itself: the
extension, METADATA, WHEEL and RECORD in a zip. The source lists are read
from the top CMakeLists.txt (CLEAN_SOURCES, RUN_SOURCES) with the Linux
files named below; a file missing from them leaves a name unresolved, which
the import made after the link reports.

Objects go to WEBTRIM_BUILD_DIR when it is set (kept, and compiled again
only when a source or a header it reads is newer), else to a temporary
folder. WEBTRIM_BUILD_JOBS: compilers at once (default: the processors).
CC and CXX name the compilers (default: the interpreter's).
"""
import base64, concurrent.futures, hashlib, io, os, re, shlex, shutil, subprocess, sys, sysconfig, \
    tarfile, tempfile, time, zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NAME = 'webtrim'
SUMMARY = 'Cleans saved web pages in memory: scripts, styles, adverts and clutter out, the main part kept'

# Beside CMakeLists.txt's lists: the Linux platform files the cleaning and
# the run link, the options, the library's C interface, and the module.
POSIX_SOURCES = [
    'clean/warc.cpp', 'platform/compare_posix.cpp', 'platform/file_posix.cpp',
    'platform/signals_posix.cpp', 'app/warcrun.cpp', 'platform/folder_posix.cpp',
    'platform/place_posix.cpp', 'platform/move_posix.cpp', 'platform/trash_posix.cpp',
    'platform/durable_posix.cpp', 'app/options.cpp', 'lib/webtrim.cpp', 'lib/warc.cpp',
]
MODULE_SOURCE = 'python/webtrim.c'


def _read(path):
    with open(os.path.join(ROOT, path), encoding='utf-8') as f:
        return f.read()


def version():
    return re.search(r'project\(webtrim VERSION ([0-9.]+)', _read('CMakeLists.txt')).group(1)


def core_sources():
    """The C++ sources of the cleaning, the run and the library, in order."""
    text = _read('CMakeLists.txt')
    found = []
    for name in ('CLEAN_SOURCES', 'RUN_SOURCES'):
        body = re.search(r'set\(%s\s+([^)]*)\)' % name, text).group(1)
        found += [w for w in body.split() if not w.startswith('#')]
    return found + [s for s in POSIX_SOURCES if s not in found]


def _tag():
    """The wheel's tag for this interpreter: cp311-cp311-linux_x86_64."""
    impl = 'cp' if sys.implementation.name == 'cpython' else sys.implementation.name[:2]
    py = '%s%d%d' % (impl, sys.version_info[0], sys.version_info[1])
    abi = py + ('d' if hasattr(sys, 'gettotalrefcount') else '')
    return '%s-%s-%s' % (py, abi, re.sub(r'[-.]', '_', sysconfig.get_platform()))


def _extension_name():
    return NAME + (sysconfig.get_config_var('EXT_SUFFIX') or '.so')


def _compiler(var, fallback):
    """CC or CXX from the environment, else the interpreter's own when this
    machine has it (a conda Python names compilers it may not have), else
    cc or c++."""
    if os.environ.get(var):
        return shlex.split(os.environ[var])
    command = shlex.split(sysconfig.get_config_var(var) or '')
    return command if command and shutil.which(command[0]) else [fallback]


def _stale(obj, dep):
    """Whether obj must be compiled again: missing, or older than a file
    its dependency list (-MMD) names."""
    if not (os.path.exists(obj) and os.path.exists(dep)):
        return True
    made = os.path.getmtime(obj)
    with open(dep) as f:
        names = f.read().replace('\\\n', ' ').split(':', 1)[-1].split()
    return any(not os.path.exists(n) or os.path.getmtime(n) > made for n in names)


def _compile(job):
    command, obj, dep, source = job
    if not _stale(obj, dep):
        return None
    r = subprocess.run(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return None if r.returncode == 0 else '%s:\n%s' % (source, r.stdout.decode(errors='replace'))


def build_extension(folder):
    """Compiles and links the module into `folder`; answers its path."""
    objects_dir = os.environ.get('WEBTRIM_BUILD_DIR')
    scratch = None if objects_dir else tempfile.mkdtemp(prefix='webtrim-build-')
    objects_dir = os.path.abspath(objects_dir or scratch)
    os.makedirs(objects_dir, exist_ok=True)
    try:
        common = ['-O3', '-DNDEBUG', '-fPIC', '-fvisibility=hidden', '-I' + ROOT,
                  '-I' + os.path.join(ROOT, 'include'), '-DWEBTRIM_VERSION="%s"' % version()]
        cxx = _compiler('CXX', 'c++') + ['-std=c++17', '-fno-exceptions', '-fvisibility-inlines-hidden']
        cc = _compiler('CC', 'cc') + ['-std=gnu99', '-I' + sysconfig.get_paths()['include']]
        jobs, objects = [], []
        for source in core_sources() + [MODULE_SOURCE]:
            stem = os.path.join(objects_dir, source.replace('/', '_'))
            obj, dep = stem + '.o', stem + '.d'
            compiler = cc if source.endswith('.c') else cxx
            jobs.append((compiler + common + ['-MMD', '-MF', dep, '-c', source, '-o', obj], obj, dep, source))
            objects.append(obj)
        workers = int(os.environ.get('WEBTRIM_BUILD_JOBS') or os.cpu_count() or 1)
        with concurrent.futures.ThreadPoolExecutor(max(1, workers)) as pool:
            failures = [f for f in pool.map(_compile, jobs) if f]
        if failures:
            raise RuntimeError('the module did not compile:\n' + '\n'.join(failures))
        # Only the module's entry is exported: the cleaning's names stay
        # inside, whatever else the process loads (libwebtrim.so.1 too).
        script = os.path.join(objects_dir, 'module.map')
        with open(script, 'w') as f:
            f.write('{ global: PyInit_%s; local: *; };\n' % NAME)
        target = os.path.join(folder, _extension_name())
        link = _compiler('CXX', 'c++') + ['-shared', '-o', target] + objects + \
            ['-Wl,--version-script=' + script, '-Wl,--as-needed', '-lz']
        r = subprocess.run(link, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if r.returncode != 0:
            raise RuntimeError('the module did not link:\n' + r.stdout.decode(errors='replace'))
        # Every name resolved: the interpreter loads it (at once, not lazily).
        check = ('import importlib.util as u, sys; s = u.spec_from_file_location(%r, sys.argv[1]); '
                 'm = u.module_from_spec(s); s.loader.exec_module(m)' % NAME)
        r = subprocess.run([sys.executable, '-c', check, target], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT)
        if r.returncode != 0:
            raise RuntimeError('the module built does not load:\n' + r.stdout.decode(errors='replace'))
        return target
    finally:
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)


# ---- The wheel's files

def _dist_info():
    return '%s-%s.dist-info' % (NAME, version())


def _metadata():
    return ('Metadata-Version: 2.1\nName: %s\nVersion: %s\nSummary: %s\nLicense: see LICENSE\n'
            'Requires-Python: >=3.10\n' % (NAME, version(), SUMMARY)).encode()


def _wheel_file(tag):
    return ('Wheel-Version: 1.0\nGenerator: webtrim_build %s\nRoot-Is-Purelib: false\nTag: %s\n'
            % (version(), tag)).encode()


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b'=').decode()
    return '%s,sha256=%s,%d\n' % (name, digest, len(data))


def _write_metadata(directory, tag):
    info = os.path.join(directory, _dist_info())
    os.makedirs(info, exist_ok=True)
    for name, data in (('METADATA', _metadata()), ('WHEEL', _wheel_file(tag))):
        with open(os.path.join(info, name), 'wb') as f:
            f.write(data)
    return _dist_info()


def _write_wheel(directory, tag, files):
    """A wheel of `files` (name in the wheel, bytes) and its dist-info."""
    info = _dist_info()
    files = list(files) + [(info + '/METADATA', _metadata()), (info + '/WHEEL', _wheel_file(tag))]
    license_path = os.path.join(ROOT, 'LICENSE')
    if os.path.exists(license_path):
        with open(license_path, 'rb') as f:
            files.append((info + '/LICENSE', f.read()))
    record = ''.join(_record_line(n, d) for n, d in files) + info + '/RECORD,,\n'
    name = '%s-%s-%s.whl' % (NAME, version(), tag)
    stamp = time.gmtime(int(os.environ.get('SOURCE_DATE_EPOCH', '315532800')))[:6]
    with zipfile.ZipFile(os.path.join(directory, name), 'w', zipfile.ZIP_DEFLATED) as z:
        for n, d in files + [(info + '/RECORD', record.encode())]:
            entry = zipfile.ZipInfo(n, stamp)
            entry.external_attr = (0o755 if n.endswith('.so') else 0o644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(entry, d)
    return name


# ---- PEP 517 and PEP 660 hooks

def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    return _write_metadata(metadata_directory, _tag())


def prepare_metadata_for_build_editable(metadata_directory, config_settings=None):
    return _write_metadata(metadata_directory, _tag())


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    folder = tempfile.mkdtemp(prefix='webtrim-wheel-')
    try:
        path = build_extension(folder)
        with open(path, 'rb') as f:
            return _write_wheel(wheel_directory, _tag(), [(os.path.basename(path), f.read())])
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    """The module built into build/python-editable of the checkout, which a
    .pth file puts on the path: build it again after changing a source."""
    folder = os.path.join(ROOT, 'build', 'python-editable')
    os.makedirs(folder, exist_ok=True)
    build_extension(folder)
    return _write_wheel(wheel_directory, _tag(), [(NAME + '_editable.pth', (folder + '\n').encode())])


def _source_files():
    """The checkout's files: git's list when there is one, else every file
    outside build/ and dot folders."""
    try:
        out = subprocess.run(['git', 'ls-files', '-z'], cwd=ROOT, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, check=True).stdout
        names = [n for n in out.decode().split('\0') if n]
        if names:
            return sorted(n for n in names if os.path.isfile(os.path.join(ROOT, n)))
    except (OSError, subprocess.CalledProcessError):
        pass
    names = []
    for top, dirs, files in os.walk(ROOT):
        dirs[:] = [d for d in dirs if not d.startswith('.') and (top != ROOT or d != 'build')]
        names += [os.path.relpath(os.path.join(top, f), ROOT) for f in files]
    return sorted(names)


def build_sdist(sdist_directory, config_settings=None):
    base = '%s-%s' % (NAME, version())
    name = base + '.tar.gz'
    with tarfile.open(os.path.join(sdist_directory, name), 'w:gz', format=tarfile.PAX_FORMAT) as t:
        info = tarfile.TarInfo(base + '/PKG-INFO')
        data = _metadata()
        info.size, info.mode = len(data), 0o644
        t.addfile(info, io.BytesIO(data))
        for n in _source_files():
            t.add(os.path.join(ROOT, n), arcname=base + '/' + n, recursive=False)
    return name
