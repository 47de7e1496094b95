#!/usr/bin/python3
"""Checks that webtrim.exe cleans every page byte for byte as revision REV's
webtrim.exe does, both run under Wine: the Windows form reads the page's bytes
through its own comparison (the thread locale and its code page), which the
native comparison of same-output.sh never exercises.

    tools/same-output-wine.py [--rev REV] [--words N] [--pages N] [--lang L]...

Builds webtrim.exe at REV (default HEAD) and from the work tree, into a
temporary folder; makes a private Wine prefix there; then, for each option
word and each page of ../shared/corpus, cleans a copy with each program (one
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
TOOLCHAIN = "cmake/toolchain-mingw-i686.cmake"
KEY = r"HKCU\Software\Halvane\Webtrim"


def words():
    """The 27 option words of same-output.sh, in its order."""
    found = [0x100013BF, 0x10000000, 0x10001FFF]
    found += [0x100013BF ^ (1 << b) for b in range(13)]
    found += [0x10000000 | (1 << 8) | (1 << b) for b in range(11)]
    return found


def build(source, out):
    log = out + ".log"
    with open(log, "w") as f:
        ok = subprocess.run(["cmake", "-S", source, "-B", out, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                             "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source, TOOLCHAIN)],
                            stdout=f, stderr=f).returncode == 0 and \
            subprocess.run(["cmake", "--build", out, "--target", "webtrim", "-j2"], stdout=f,
                           stderr=f).returncode == 0
    if not ok:
        sys.exit("build of %s failed: see %s" % (source, log))
    return os.path.join(out, "webtrim.exe")


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Prefix:
    """A private Wine prefix, without a display: the runs open no window."""

    def __init__(self, root, lang):
        self.env = dict(os.environ)
        self.env.update({"WINEPREFIX": os.path.join(root, "prefix"), "WINEDEBUG": "-all",
                         "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
                         "LANG": lang + ".UTF-8", "LC_ALL": lang + ".UTF-8"})
        self.env.pop("DISPLAY", None)
        os.makedirs(root, exist_ok=True)
        self.run("wineboot", "-i")
        subprocess.run(["wineserver", "-p"], env=self.env, check=False)

    def run(self, *args):
        return subprocess.run(["wine", *args], env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, check=False)


def one_round(prefix, programs, word, pages, work):
    """Cleans every page under `word` with both programs; gives back the
    list of differences and the number of pages both cleaned."""
    target = os.path.join(work, "originals")
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target)
    prefix.run("reg", "add", KEY, "/v", "w0", "/t", "REG_DWORD", "/d", "0x%08x" % (word & ~0xF0000000), "/f")
    prefix.run("reg", "add", KEY, "/v", "w1", "/t", "REG_SZ", "/d", winpath(target), "/f")

    def clean(page):
        name = os.path.basename(page)
        results = []
        for side, exe in programs:
            folder = os.path.join(work, side)
            os.makedirs(folder, exist_ok=True)
            copy = os.path.join(folder, name)
            shutil.copyfile(page, copy)
            code = prefix.run(exe, winpath(copy))
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
        subprocess.run(["git", "-C", ROOT, "worktree", "add", "--detach", old_tree, args.rev],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        programs = [("old", build(old_tree, os.path.join(work, "b-old"))),
                    ("new", build(ROOT, os.path.join(work, "b-new")))]
        total, cleaned, diffs = 0, 0, []
        for lang in args.lang or ["en_US"]:
            prefix = Prefix(os.path.join(work, lang), lang)
            try:
                for word in chosen:
                    found, done = one_round(prefix, programs, word, pages, os.path.join(work, lang, "pages"))
                    print("%s w0=0x%08X: %d of %d pages alike" % (lang, word, len(pages) - len(found), len(pages)),
                          file=sys.stderr, flush=True)
                    diffs += found
                    cleaned += done
                    total += len(pages)
            finally:
                prefix.close()
        for d in diffs[:20]:
            print(d)
        print("same output under Wine: %d of %d identical, %d of them cleaned (REV %s against the work "
              "tree; %d words, %d pages, locales %s)" % (total - len(diffs), total, cleaned, args.rev,
                                                          len(chosen), len(pages), " ".join(args.lang or ["en_US"])))
        return 0 if not diffs else 1
    finally:
        subprocess.run(["git", "-C", ROOT, "worktree", "remove", "--force", old_tree],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
