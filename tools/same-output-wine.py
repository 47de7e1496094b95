#!/usr/bin/python3
"""Checks that webtrim.exe cleans every page byte for byte as another
program does: revision REV's webtrim.exe, the native Linux program of the work
tree, or the work tree's other Windows build. The Windows form reads the
page's bytes through its own comparison (the thread locale and its code
page), which the native comparison of same-output.sh never exercises.

    tools/same-output-wine.py [--arch x86_64|i686] [--against rev|native|i686]
                              [--rev REV] [--words N] [--pages N] [--lang L]...

Builds webtrim.exe for --arch (default x86_64, which runs on any host with
Debian's wine64) from the work tree, and the program it is compared with:
webtrim.exe of the same width at REV (default HEAD; --against rev, the
default), the native webtrim (--against native), or the i686 webtrim.exe
(--against i686, on a host that runs 32-bit code). Makes a private Wine
prefix of each width needed in a temporary folder; then, for each option word
and each page of ../shared/corpus, cleans a copy with each program (one
process per page, two at a time) and compares the pages and exit codes.

The option words are those of same-output.sh (the default, each switch
flipped from it, all off, all on...), the first N of them with --words. The
original goes into a folder rather than the Recycle Bin (bit 28 cleared):
where it goes does not change the cleaned page. --lang runs the whole round
again under each Wine locale named (its legacy ANSI code page: en_US for
1252, ru_RU for 1251, ja_JP for 932...); the default is en_US.

Prints each difference and, last, "same output under Wine: N of M identical".
Exit status 0 when all are."""
import argparse
import concurrent.futures
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = subprocess.run(["git", "rev-parse", "--show-toplevel"], capture_output=True, text=True,
                      check=True).stdout.strip()
CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "corpus")
TOOLCHAIN = os.path.join(ROOT, "cmake", "toolchain-mingw.cmake")
LOADERS = {"x86_64": "/usr/lib/wine/wine64", "i686": "/usr/lib/wine/wine"}
KEY = r"HKCU\Software\Halvane\Webtrim"


def words():
    """The 27 option words of same-output.sh, in its order."""
    found = [0x100013BF, 0x10000000, 0x10001FFF]
    found += [0x100013BF ^ (1 << b) for b in range(13)]
    found += [0x10000000 | (1 << 8) | (1 << b) for b in range(11)]
    return found


def build(source, out, arch=None):
    """Builds webtrim.exe for `arch`, or the native webtrim when arch is
    None; gives back the program's path."""
    log = out + ".log"
    configure = ["cmake", "-S", source, "-B", out, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"]
    if arch:
        configure += ["-DCMAKE_TOOLCHAIN_FILE=" + TOOLCHAIN, "-DWEBTRIM_WIN_ARCH=" + arch]
        # Trees from before the 64-bit build wrote the 32-bit manifest's
        # architecture into the resource itself.
        manifest = os.path.join(source, "ui", "webtrim.manifest")
        if arch == "x86_64" and os.path.exists(manifest):
            with open(manifest) as f:
                text = f.read()
            with open(manifest, "w") as f:
                f.write(text.replace('processorArchitecture="x86"', 'processorArchitecture="amd64"'))
    else:
        configure += ["-DWEBTRIM_TESTS=OFF"]
    with open(log, "w") as f:
        ok = subprocess.run(configure, stdout=f, stderr=f).returncode == 0 and \
            subprocess.run(["cmake", "--build", out, "--target", "webtrim", "-j2"], stdout=f,
                           stderr=f).returncode == 0
    if not ok:
        sys.exit("build of %s failed: see %s" % (source, log))
    return os.path.join(out, "webtrim.exe" if arch else "webtrim")


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Prefix:
    """A private Wine prefix, without a display: the runs open no window."""

    def __init__(self, root, lang, loader):
        self.loader = loader
        self.env = dict(os.environ)
        self.env.update({"WINEPREFIX": os.path.join(root, "prefix"), "WINEDEBUG": "-all", "WINELOADER": loader,
                         "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
                         "LANG": lang + ".UTF-8", "LC_ALL": lang + ".UTF-8"})
        self.env.pop("DISPLAY", None)
        os.makedirs(root, exist_ok=True)
        self.run("wineboot", "-i")
        subprocess.run(["wineserver", "-p"], env=self.env, check=False)

    def run(self, *args):
        return subprocess.run([self.loader, *args], env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, check=False)

    def set_word(self, word, target):
        """The option word, with the originals going into `target`."""
        self.run("reg", "add", KEY, "/v", "w0", "/t", "REG_DWORD", "/d", "0x%08x" % (word & ~0xF0000000), "/f")
        self.run("reg", "add", KEY, "/v", "w1", "/t", "REG_SZ", "/d", winpath(target), "/f")

    def clean(self, exe, page):
        return self.run(exe, winpath(page))


class Native:
    """The native program, in a home of its own: its settings file holds
    the option word, and the originals go to that home's trash."""

    def __init__(self, root, exe):
        self.root, self.exe = root, exe
        self.env = dict(os.environ)
        self.env.update({"HOME": root, "XDG_CONFIG_HOME": os.path.join(root, "cfg"),
                         "XDG_DATA_HOME": os.path.join(root, "data"), "TMPDIR": os.path.join(root, "tmp")})
        for sub in ("cfg/webtrim", "tmp"):
            os.makedirs(os.path.join(root, sub), exist_ok=True)

    def set_word(self, word, target):
        with open(os.path.join(self.root, "cfg", "webtrim", "webtrim.ini"), "w") as f:
            f.write("[Webtrim]\nw0=0x%08X\nw1=\n" % word)

    def clean(self, exe, page):
        return subprocess.run([exe, page], env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def close(self):
        pass


def one_round(programs, word, pages, work):
    """Cleans every page under `word` with both programs; gives back the
    list of differences and the number of pages both cleaned."""
    target = os.path.join(work, "originals")
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target)
    for _, host, _ in programs:
        host.set_word(word, target)

    def clean(page):
        name = os.path.basename(page)
        results = []
        for side, host, exe in programs:
            folder = os.path.join(work, side)
            os.makedirs(folder, exist_ok=True)
            copy = os.path.join(folder, name)
            shutil.copyfile(page, copy)
            code = host.clean(exe, copy)
            with open(copy, "rb") as f:
                results.append((code, f.read()))
            os.remove(copy)
        if results[0] != results[1]:
            return "differs: %s w0=0x%08X (exit %d and %d)" % (name, word, results[0][0], results[1][0])
        return "cleaned" if results[0][0] == 0 else "failed alike"

    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        outcomes = list(pool.map(clean, pages))
    return [d for d in outcomes if d.startswith("differs")], outcomes.count("cleaned")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--arch", choices=sorted(LOADERS), default="x86_64")
    parser.add_argument("--against", choices=("rev", "native", "i686"), default="rev")
    parser.add_argument("--rev", default="HEAD")
    parser.add_argument("--words", type=int, default=27, help="the first N option words (1 to 27)")
    parser.add_argument("--pages", type=int, default=0, help="every k-th page, so that N are left (0: all)")
    parser.add_argument("--lang", action="append", help="Wine locale, e.g. ru_RU (repeatable)")
    args = parser.parse_args()
    if not os.path.isdir(CORPUS):
        sys.exit("no corpus at " + CORPUS)
    pages = sorted(os.path.join(CORPUS, n) for n in os.listdir(CORPUS) if n.endswith((".htm", ".html")))
    if args.pages:
        pages = pages[::max(1, len(pages) // args.pages)][:args.pages]
    chosen = words()[:args.words]
    work = tempfile.mkdtemp(prefix="same-output-wine.")
    old_tree = os.path.join(work, "old")
    try:
        new = build(ROOT, os.path.join(work, "b-new"), args.arch)
        if args.against == "rev":
            subprocess.run(["git", "-C", ROOT, "worktree", "add", "--detach", old_tree, args.rev],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            other, other_arch = build(old_tree, os.path.join(work, "b-old"), args.arch), args.arch
        elif args.against == "native":
            other, other_arch = build(ROOT, os.path.join(work, "b-native")), None
        else:
            other, other_arch = build(ROOT, os.path.join(work, "b-i686"), "i686"), "i686"
        total, cleaned, diffs = 0, 0, []
        for lang in args.lang or ["en_US"]:
            hosts = [Prefix(os.path.join(work, lang, args.arch), lang, LOADERS[args.arch])]
            if other_arch is None:
                hosts.append(Native(os.path.join(work, lang, "native"), other))
            elif other_arch != args.arch:
                hosts.append(Prefix(os.path.join(work, lang, other_arch), lang, LOADERS[other_arch]))
            else:
                hosts.append(hosts[0])
            programs = [(args.against, hosts[1], other), ("new", hosts[0], new)]
            try:
                for word in chosen:
                    found, done = one_round(programs, word, pages, os.path.join(work, lang, "pages"))
                    print("%s w0=0x%08X: %d of %d pages alike" % (lang, word, len(pages) - len(found), len(pages)),
                          file=sys.stderr, flush=True)
                    diffs += found
                    cleaned += done
                    total += len(pages)
            finally:
                for host in hosts:
                    host.close()
        for d in diffs[:20]:
            print(d)
        against = "REV " + args.rev if args.against == "rev" else args.against
        print("same output under Wine: %d of %d identical, %d of them cleaned (%s against the work "
              "tree's %s build; %d words, %d pages, locales %s)" % (
                  total - len(diffs), total, cleaned, against, args.arch, len(chosen), len(pages),
                  " ".join(args.lang or ["en_US"])))
        return 0 if not diffs else 1
    finally:
        subprocess.run(["git", "-C", ROOT, "worktree", "remove", "--force", old_tree],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
