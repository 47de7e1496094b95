"""webtrim.exe in command-line mode under Wine: paths, settings in the
registry, disposal into a folder or the Recycle Bin, and the exact texts
of its message boxes."""
import concurrent.futures
import hashlib
import os
import random
import re
import shutil
import subprocess
import tempfile
import time
import unittest
import urllib.parse

from winetest import SAVED_FILES, SAVED_PAGE, Wine, folder_bytes, read, scratch, winpath, write_saved_page
import winetest

# A page with something to remove, and what a default clean leaves of it (a
# page that cleaning leaves as it is is not touched at all).
PAGE = b"<html><body>hello<!-- note --></body></html>"
CLEANED = b"<html><body>hello</body></html>"
HERE = os.path.dirname(os.path.abspath(__file__))
LINUX_EXE = os.environ.get("WEBTRIM_LINUX_EXE", os.path.join(HERE, "../../build/linux/webtrim"))
CORPUS = os.path.join(HERE, "../../../shared/corpus")


def linux_clean(data, w0):
    """The page as the Linux program cleans it under the options word w0."""
    with tempfile.TemporaryDirectory() as home:
        os.makedirs(os.path.join(home, "cfg", "webtrim"))
        with open(os.path.join(home, "cfg", "webtrim", "webtrim.ini"), "w") as f:
            f.write("[Webtrim]\nw0=0x%08X\nw1=\n" % w0)
        page = os.path.join(home, "page.htm")
        write(page, data)
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "cfg"),
                   XDG_DATA_HOME=os.path.join(home, "data"))
        subprocess.run([LINUX_EXE, page], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return read(page)
NOT_PERMISSIBLE = "The file is not permissible.\nOnly *.htm, *.html, *.mht, *.mhtml, *.plg files are allowable."
CANNOT_MOVE = ("Webtrim", "warning", "Cannot move the original file.\nIt will be sent to Recycle Bin.")
CANNOT_REMOVE = ("Webtrim", "error", "Cannot remove the original file.\nThe page was not changed.")
CHANGED = "The page changed while it was being cleaned.\nThe page was not changed."
IN_RECYCLE_BIN = ("Webtrim", "error", "The page is in the Recycle Bin.\nPages in the Recycle Bin are not cleaned.")
# The shell asks before it deletes for good what the Recycle Bin refused;
# the driver answers No.
DELETE_FOR_GOOD = ("Confirm file deletion", "none", "")
ZONE = "[ZoneTransfer]\\nZoneId=3\\nHostUrl=http://example.org/page.htm\\n"
READONLY, HIDDEN, SYSTEM, ARCHIVE = 0x1, 0x2, 0x4, 0x20
# What of the saved page's folder nothing reaches once styles are kept and
# the script is gone.
SAVED_GONE = ["img/old/unused.png", "t.js"]
# The default switches, styles kept, companion files trimmed; to the
# Recycle Bin (bit 28) or a folder.
STYLES_KEPT = 0x000053BB
RECYCLE_BIN = 0x10000000


def recycle_bin_entries(trash):
    """Wine's Recycle Bin, the freedesktop trash of the prefix's home: each
    entry's name there and the Linux path it came from."""
    info = os.path.join(os.path.dirname(trash), "info")
    entries = {}
    for record in os.listdir(info) if os.path.isdir(info) else []:
        with open(os.path.join(info, record), encoding="utf-8") as f:
            text = f.read()
        path = re.search(r"^Path=(.*)$", text, re.M).group(1)
        entries[urllib.parse.unquote(path)] = record[:-len(".trashinfo")]
    return entries



def write(path, data=PAGE):
    winetest.write(path, data)


class CommandLine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = Wine("cli")

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()

    def setUp(self):
        self.dir = scratch(self.wine, self.id().split(".")[-1])
        self.wine.reg_delete_key()
        shutil.rmtree(os.path.dirname(self.wine.trash), ignore_errors=True)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def trashed(self, name):
        return os.path.join(self.wine.trash, name)

    def assertCleanedToTrash(self, *pages):
        for page in pages:
            self.assertEqual(read(page), CLEANED)
            trashed = self.trashed(os.path.basename(page))
            self.assertTrue(os.path.exists(trashed), "original not in the trash: " + page)
            self.assertEqual(read(trashed), PAGE)
        shutil.rmtree(os.path.dirname(self.wine.trash))

    def test_first_start_creates_the_settings(self):
        boxes, code = self.wine.clean(winpath(os.path.join(self.dir, "x.txt")))
        self.assertEqual(code, 1)
        self.assertEqual(self.wine.reg_query("w0"), ("REG_DWORD", "0x100053bf"))
        self.assertEqual(self.wine.reg_query("w1"), ("REG_SZ", ""))

    def test_path_with_blanks_quoted_unquoted_and_half_quoted(self):
        folder = os.path.join(self.dir, "My pages")
        os.makedirs(folder)
        page = os.path.join(folder, "my page.htm")
        for form in ('"%s"', "%s", '"%s'):
            write(page)
            boxes, code = self.wine.clean(form % winpath(page))
            self.assertEqual((boxes, code), ([], 0), form)
            self.assertCleanedToTrash(page)

    def test_text_file_is_refused_with_a_warning(self):
        path = os.path.join(self.dir, "notes.txt")
        write(path, b"plain")
        boxes, code = self.wine.clean(winpath(path))
        self.assertEqual(boxes, [("Webtrim", "warning", NOT_PERMISSIBLE)])
        self.assertEqual(code, 1)
        self.assertEqual(read(path), b"plain")

    def test_missing_page_is_an_error(self):
        boxes, code = self.wine.clean(winpath(os.path.join(self.dir, "gone.htm")))
        self.assertEqual(boxes, [("Webtrim", "error", "Cannot open this file")])
        self.assertEqual(code, 1)

    def test_a_box_names_the_page_and_the_reason(self):
        # The message's own text first, then the page, then the system's
        # reason: a missing page, a locked one, a page of another volume's
        # folder that cannot be moved.
        gone = winpath(os.path.join(self.dir, "gone.htm"))
        boxes, code = self.wine.clean_full(gone)
        self.assertEqual((boxes, code), ([("Webtrim", "error", "Cannot open this file\n\n%s\nFile not found" % gone)], 1))
        wide = os.path.join(self.dir, "wide.htm")
        write(wide, b"\xff\xfe<\0p\0>\0")
        boxes, code = self.wine.clean_full(winpath(wide))
        self.assertEqual((boxes, code), ([("Webtrim", "error", "The page is stored as UTF-16 (or UTF-32).\nOnly "
                                           "pages in ASCII, UTF-8 or a single-byte code page can be cleaned.\n\n"
                                           + winpath(wide))], 1))

    def test_page_that_cleaning_leaves_as_it_is_is_left_alone(self):
        page = os.path.join(self.dir, "page.htm")
        write(page, CLEANED)
        before = os.stat(page)
        for _ in range(2):
            boxes, code = self.wine.clean(winpath(page))
            self.assertEqual((boxes, code), ([], 0))
        after = os.stat(page)
        self.assertEqual((read(page), after.st_ino, after.st_mtime_ns),
                         (CLEANED, before.st_ino, before.st_mtime_ns))
        self.assertFalse(os.path.exists(self.wine.trash), "something reached the Recycle Bin")
        self.assertEqual(os.listdir(self.dir), ["page.htm"])

    def test_pages_that_are_no_text_are_refused(self):
        page = os.path.join(self.dir, "page.htm")
        for data, text in [
                (b"\xff\xfe<\0p\0>\0", "The page is stored as UTF-16 (or UTF-32).\nOnly pages in ASCII, "
                                       "UTF-8 or a single-byte code page can be cleaned."),
                (b"%PDF-1.4 <html><!-- c -->", "This file is not a web page:\n(PDF document)")]:
            write(page, data)
            boxes, code = self.wine.clean(winpath(page))
            self.assertEqual((boxes, code), ([("Webtrim", "error", text)], 1))
            self.assertEqual(read(page), data)
        self.assertFalse(os.path.exists(self.wine.trash))

    def test_folder_target_takes_the_first_free_name(self):
        target = os.path.join(self.dir, "old")
        os.makedirs(target)
        write(os.path.join(target, "page.htm"), b"older")
        write(os.path.join(target, "~1_page.htm"), b"oldest")
        self.wine.reg_set("w0", "REG_DWORD", "0x000013bf")
        self.wine.reg_set("w1", "REG_SZ", winpath(target) + "\\")
        page = os.path.join(self.dir, "page.htm")
        write(page)
        boxes, code = self.wine.clean(winpath(page))
        self.assertEqual((boxes, code), ([], 0))
        self.assertEqual(read(page), CLEANED)
        self.assertEqual(read(os.path.join(target, "~2_page.htm")), PAGE)
        self.assertEqual(read(os.path.join(target, "page.htm")), b"older")

    def test_missing_folder_warns_and_uses_the_recycle_bin(self):
        self.wine.reg_set("w0", "REG_DWORD", "0x000013bf")
        self.wine.reg_set("w1", "REG_SZ", winpath(os.path.join(self.dir, "nowhere")))
        page = os.path.join(self.dir, "lost.htm")
        write(page)
        boxes, code = self.wine.clean(winpath(page))
        self.assertEqual(boxes, [("Webtrim", "warning",
                                  "Choosed folder doesn't exist.\n"
                                  "The original file will be sent to Recycle Bin.")])
        self.assertEqual(code, 0)
        self.assertCleanedToTrash(page)

    def test_bad_stored_settings_fall_back_to_the_defaults(self):
        bad = [
            ("w0", "REG_SZ", "0x13bf"),          # wrong type
            ("w0", "REG_BINARY", "bf13"),        # two bytes only
            ("w1", "REG_SZ", "x" * 300),         # longer than the folder buffer
            ("w1", "REG_BINARY", "41424344"),    # no terminating zero
            ("w1", "REG_DWORD", "5"),
        ]
        for name, kind, data in bad:
            self.wine.reg_set("w0", "REG_DWORD", "0x05000001")
            self.wine.reg_set("w1", "REG_SZ", "C:\\kept")
            self.wine.reg_set(name, kind, data)
            boxes, code = self.wine.clean(winpath(os.path.join(self.dir, "x.txt")))
            self.assertEqual([b[2] for b in boxes], [NOT_PERMISSIBLE], (name, kind))
            self.assertEqual(self.wine.reg_query("w0"), ("REG_DWORD", "0x100053bf"), (name, kind))
            self.assertEqual(self.wine.reg_query("w1"), ("REG_SZ", ""), (name, kind))

    def test_good_stored_settings_are_kept(self):
        self.wine.reg_set("w0", "REG_DWORD", "0x05000001")
        self.wine.reg_set("w1", "REG_SZ", "C:\\kept")
        self.wine.clean(winpath(os.path.join(self.dir, "x.txt")))
        self.assertEqual(self.wine.reg_query("w0"), ("REG_DWORD", "0x5000001"))
        self.assertEqual(self.wine.reg_query("w1"), ("REG_SZ", "C:\\kept"))

    def test_too_long_path_is_refused_not_cut(self):
        page = os.path.join(self.dir, "p" * 300 + ".htm")
        boxes, code = self.wine.clean(winpath(page))
        self.assertEqual(boxes, [("Webtrim", "error", "Cannot open this file")])
        self.assertEqual(code, 1)

    def test_names_in_many_scripts_in_every_path(self):
        # Pages named in Cyrillic, CJK, Greek and emoji, in folders so
        # named, quoted and not, into the Recycle Bin and into a target
        # folder whose name is Cyrillic and Chinese (read from the settings).
        folder = os.path.join(self.dir, "папка 文件夹")
        target = os.path.join(self.dir, "оригиналы 原件")
        os.makedirs(folder)
        os.makedirs(target)
        names = ["статья 😀.html", "記事 テスト.htm", "Ελληνικά.plg", "ok 🧹🧹.HTM"]
        for name in names:
            page = os.path.join(folder, name)
            for form in ('"%s"', "%s"):
                write(page)
                boxes, code = self.wine.clean(form % winpath(page))
                self.assertEqual((boxes, code), ([], 0), (name, form))
                self.assertCleanedToTrash(page)
        self.wine.reg_set("w0", "REG_DWORD", "0x000013bf")
        self.wine.reg_set("w1", "REG_SZ", winpath(target))
        for name in names:
            write(os.path.join(folder, name))
            self.assertEqual(self.wine.clean('"%s"' % winpath(os.path.join(folder, name))), ([], 0), name)
            self.assertEqual(read(os.path.join(target, name)), PAGE)
        # A missing page of such a name is refused as any missing page is.
        boxes, code = self.wine.clean('"%s"' % winpath(os.path.join(folder, "нет.htm")))
        self.assertEqual((boxes, code), ([("Webtrim", "error", "Cannot open this file")], 1))

    def test_several_pages_on_one_command_line(self):
        # As "Send To" hands over a selection: each path quoted. A missing
        # piece is refused on its own; the others are cleaned.
        pages = [os.path.join(self.dir, name) for name in ("one.htm", "two pages.html", "три.htm")]
        for page in pages:
            write(page)
        line = " ".join('"%s"' % winpath(page) for page in pages)
        self.assertEqual(self.wine.clean(line), ([], 0))
        # No window: a report says what the run did.
        self.assertEqual([r[:3] + r[5:] for r in self.wine.reports],
                         [("Webtrim", "information", "3 pages cleaned.", "")])
        self.assertCleanedToTrash(*pages)
        for page in pages:
            write(page)
        missing = winpath(os.path.join(self.dir, "gone.htm"))
        boxes, code = self.wine.clean_full('%s "%s" "%s"' % (missing, winpath(pages[0]), winpath(pages[1])))
        # The pages not cleaned are listed in the report: each named, with
        # its message and the system's reason.
        self.assertEqual((boxes, code), ([], 1))
        self.assertEqual([r[:3] + r[5:] for r in self.wine.reports],
                         [("Webtrim", "error", "2 pages cleaned, 1 failed.",
                           "2 pages cleaned, 1 failed.\n\n%s\tCannot open this file: File not found\n" % missing)])
        self.assertFalse(os.path.exists(self.trashed(os.path.basename(pages[2]))))
        self.assertCleanedToTrash(*pages[:2])
        # A page whose path has blanks, unquoted, is still one page.
        write(pages[1])
        self.assertEqual(self.wine.clean(winpath(pages[1])), ([], 0))
        self.assertCleanedToTrash(pages[1])

    def test_a_folder_sent_asks_before_its_pages_are_cleaned(self):
        tree = os.path.join(self.dir, "сохранённые pages")
        os.makedirs(os.path.join(tree, "sub"))
        pages = [os.path.join(tree, "a.htm"), os.path.join(tree, "sub", "b.html")]
        for page in pages:
            write(page)
        write(os.path.join(tree, "notes.txt"), b"plain")
        # The Recycle Bin's folders are never entered, at any depth.
        binned = [os.path.join(tree, "$Recycle.Bin", "x.htm"), os.path.join(tree, "sub", "RECYCLER", "y.htm"),
                  os.path.join(tree, "sub", "deeper", "recycled", "z.htm")]
        for page in binned:
            os.makedirs(os.path.dirname(page), exist_ok=True)
            write(page)
        question = ("Webtrim", "question",
                    "Clean the 2 pages in %s and the folders below it?" % winpath(tree))
        # No: nothing is cleaned.
        self.assertEqual(self.wine.clean('"%s"' % winpath(tree), press=7), ([question], 1))
        self.assertFalse(os.path.exists(self.wine.trash))
        # Yes: both pages, the text file left alone, and the report.
        self.assertEqual(self.wine.clean('"%s"' % winpath(tree), press=6), ([question], 0))
        self.assertEqual([r[2] for r in self.wine.reports], ["2 pages cleaned."])
        self.assertCleanedToTrash(*pages)
        self.assertEqual(read(os.path.join(tree, "notes.txt")), b"plain")
        for page in binned:
            self.assertEqual(read(page), PAGE, page)
        # Nor is one sent itself.
        sent = os.path.dirname(binned[0])
        self.assertEqual(self.wine.clean('"%s"' % winpath(sent)),
                         ([("Webtrim", "information", "There are no pages to clean in %s and the folders below it."
                            % winpath(sent))], 1))
        self.assertEqual(read(binned[0]), PAGE)

    @unittest.skipUnless(os.path.exists(LINUX_EXE) and os.path.isdir(CORPUS),
                         "needs the Linux build and the shared corpus")
    def test_any_layout_extraction_writes_what_linux_writes(self):
        # The choice is integer arithmetic after a table-rounded p, so both
        # forms must cut the same bytes.
        names = sorted(n for n in os.listdir(CORPUS) if n.endswith(".htm"))[::29]
        for w0 in (0x100033BF, 0x10003BBF):
            self.wine.reg_set("w0", "REG_DWORD", "0x%08x" % w0)
            self.wine.reg_set("w1", "REG_SZ", "")
            for name in names:
                original = read(os.path.join(CORPUS, name))
                page = os.path.join(self.dir, "page.htm")
                write(page, original)
                self.assertEqual(self.wine.clean(winpath(page)), ([], 0), name)
                self.assertEqual(read(page), linux_clean(original, w0), (name, hex(w0)))
                self.assertLess(len(read(page)), len(original), name)


class CodePage(unittest.TestCase):
    """The manifest makes UTF-8 the program's ANSI code page; tag text must
    still compare as it did under the user's legacy code page, which
    CompareStringA of the thread locale used. wtcompare.exe carries the
    program's manifest, wtcompare_ansi.exe none."""

    TOKENS = [b"script", b"STYLE", b"background", b"http:", b"url(", b"SRC", b"HREF", b"TTP:",
              b"ae", b"ss", b"oe"]
    # Bytes that read differently in UTF-8 and in a legacy code page: a
    # ligature or sharp s with a soft hyphen (equal to "ae", "ss" in 1252),
    # their UTF-8 forms, lead and trail bytes of Shift-JIS, lone bytes.
    TRAPS = [b"\xe6\xad", b"\xdf\xad", b"\xc3\xa6", b"\xc3\x9f", b"\xad", b"\xe6", b"\x9c",
             b"\xc5\x93", b"\x82\xa0", b"\x93\xfa", b"\xe2\x80\x8b", b"\xef\xbc\xa1"]
    LOCALES = ["en_US", "ru_RU", "ja_JP", "el_GR"]

    @classmethod
    def setUpClass(cls):
        cls.wine = Wine("codepage")

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()

    def cases(self):
        found = []
        for token in self.TOKENS:
            found.append((token.upper(), token))
            for trap in self.TRAPS:
                for at in range(len(token) - len(trap) + 1):
                    found.append((token[:at] + trap + token[at + len(trap):], token))
        return found

    def compare(self, program, lang, listing):
        env = dict(self.wine.env, LANG=lang + ".UTF-8", LC_ALL=lang + ".UTF-8")
        out = self.wine.run(os.path.join(winetest.BUILD, "tests", "wine", program), winpath(listing),
                            env=env).stdout.split("\n")
        self.assertTrue(out[0].startswith("ACP "), out[:2])
        return int(out[0].split()[1]), [tuple(int(x) for x in line.split()) for line in out[1:] if line.strip()]

    def test_tag_text_compares_as_under_the_legacy_code_page(self):
        cases = self.cases()
        listing = os.path.join(scratch(self.wine, "codepage"), "cases.txt")
        with open(listing, "w") as f:
            f.writelines("%s %s\n" % (text.hex(), token.hex()) for text, token in cases)
        for lang in self.LOCALES:
            with self.subTest(lang=lang):
                acp, legacy = self.compare("wtcompare_ansi.exe", lang, listing)
                self.assertNotEqual(acp, 65001)
                utf8_acp, utf8 = self.compare("wtcompare.exe", lang, listing)
                self.assertEqual(utf8_acp, 65001, "the manifest's code page is not in effect")
                self.assertEqual(len(legacy), len(cases))
                self.assertEqual(len(utf8), len(cases))
                # Without the manifest the comparison is CompareStringA's.
                self.assertEqual([m for m, _ in legacy], [s for _, s in legacy])
                # With it, still the legacy CompareStringA's answer.
                wrong = [(text, token) for (text, token), (m, _), (_, s) in zip(cases, utf8, legacy) if m != s]
                self.assertEqual(wrong, [])
                # CompareStringA itself answers otherwise under UTF-8 for
                # some of these texts: the cases can tell the two apart.
                self.assertTrue(any(u != s for (_, u), (_, s) in zip(utf8, legacy)))


class Split(unittest.TestCase):
    """The command line is split as CommandLineToArgvW splits it: every tail
    of up to six characters from blanks, tabs, quotes, backslashes and a
    letter, and some longer ones, split both ways under Wine."""

    @classmethod
    def setUpClass(cls):
        cls.wine = Wine("cli")

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()

    def test_split_agrees_with_command_line_to_argv(self):
        tails = [""]
        for _ in range(6):
            tails += [t + c for t in tails if len(t) == len(tails[-1]) for c in ' \t"\\a']
        tails = sorted(set(tails))
        rng = random.Random(22)
        tails += ["".join(rng.choice(' \t"\\ab\u0444') for _ in range(rng.randint(7, 24))) for _ in range(2000)]
        listing = os.path.join(scratch(self.wine, "split"), "tails.txt")
        with open(listing, "w") as f:
            f.writelines(t.encode().hex() + "\n" for t in tails)
        out = self.wine.run(os.path.join(winetest.BUILD, "tests", "wine", "wtargv.exe"),
                            winpath(listing)).stdout.splitlines()
        self.assertEqual(len(out), 2 * len(tails))
        differ = [(tail, mine, system) for tail, mine, system in zip(tails, out[0::2], out[1::2])
                  if mine.split()[1:] != system.split()[1:]]
        self.assertEqual(differ[:5], [], "%d of %d tails split otherwise" % (len(differ), len(tails)))


def digest(path):
    return hashlib.sha256(read(path)).hexdigest()


class Disposal(unittest.TestCase):
    """Where the original goes and what the cleaned page keeps of it."""

    @classmethod
    def setUpClass(cls):
        cls.wine = Wine("disposal")

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()

    def setUp(self):
        self.dir = scratch(self.wine, self.id().split(".")[-1])
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.wine.reg_delete_key()
        self.addCleanup(shutil.rmtree, os.path.dirname(self.wine.trash), ignore_errors=True)

    def to_folder(self, winfolder):
        self.wine.reg_set("w0", "REG_DWORD", "0x000013bf")
        self.wine.reg_set("w1", "REG_SZ", winfolder)

    def other_volume(self):
        """A folder on another file system (tmpfs), as Wine's drive T:."""
        folder = tempfile.mkdtemp(prefix="webtrim-wine-", dir="/dev/shm")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        drive = os.path.join(self.wine.env["WINEPREFIX"], "dosdevices", "t:")
        if os.path.lexists(drive):
            os.remove(drive)
        os.symlink(folder, drive)
        self.addCleanup(os.remove, drive)
        return folder, "T:\\"

    def test_parallel_runs_into_one_folder_lose_no_original(self):
        kept = os.path.join(self.dir, "kept")
        os.makedirs(kept)
        write(os.path.join(kept, "page.htm"), b"older")
        self.to_folder(winpath(kept))
        pages = []
        for i in range(12):
            os.makedirs(os.path.join(self.dir, "p%02d" % i))
            page = os.path.join(self.dir, "p%02d" % i, "page.htm")
            write(page, b"<html><body>page %d<!-- c --></body></html>" % i)
            pages.append(page)
        originals = sorted(digest(p) for p in pages) + [digest(os.path.join(kept, "page.htm"))]
        with concurrent.futures.ThreadPoolExecutor(len(pages)) as pool:
            results = list(pool.map(lambda p: self.wine.clean(winpath(p)), pages))
        self.assertEqual(results, [([], 0)] * len(pages))
        names = sorted(os.listdir(kept))
        self.assertEqual(names, sorted(["page.htm"] + ["~%d_page.htm" % n for n in range(1, 13)]))
        self.assertEqual(sorted(digest(os.path.join(kept, n)) for n in names), sorted(originals))
        for page in pages:
            self.assertEqual(os.listdir(os.path.dirname(page)), ["page.htm"])

    def test_cleaned_page_keeps_attributes_dacl_and_zone_stream(self):
        other, other_win = self.other_volume()
        # (disposal, Windows attributes, Linux mode behind the DACL)
        cases = [
            ("recycle bin", HIDDEN | ARCHIVE, 0o644),
            ("same volume", READONLY | HIDDEN, 0o600),
            ("other volume", READONLY | SYSTEM | ARCHIVE, 0o600),
            ("other volume", HIDDEN, 0o644),
        ]
        for where, attributes, mode in cases:
            with self.subTest(where=where, attributes=attributes, mode=oct(mode)):
                folder = tempfile.mkdtemp(dir=self.dir)
                page = os.path.join(folder, "page.htm")
                stream = winpath(page) + ":Zone.Identifier"
                write(page)
                os.chmod(page, mode)
                if where == "recycle bin":
                    self.wine.reg_delete_key()
                    kept, kept_win = self.wine.trash, None
                elif where == "same volume":
                    kept = os.path.join(folder, "kept")
                    os.makedirs(kept)
                    kept_win = winpath(kept)
                else:
                    kept, kept_win = other, other_win
                if kept_win:
                    self.to_folder(kept_win)
                before = self.wine.files("write", stream, ZONE, "setattr", winpath(page),
                                         "%x" % attributes, "dacl", winpath(page), "attr", winpath(page))
                self.assertEqual(before[:2], [["OK"], ["OK"]])
                # Wine shows every file with the archive attribute.
                self.assertEqual(before[3], ["ATTR", "%x" % (attributes | ARCHIVE)])
                # Wine keeps a stream as a file of its own beside the page,
                # which stays when the page moves: the cleaned page's stream
                # must be a new file, written for it.
                stream_file = os.stat(page + ":Zone.Identifier").st_ino

                boxes, code = self.wine.clean(winpath(page))
                self.assertEqual((boxes, code), ([], 0))

                after = self.wine.files("attr", winpath(page), "read", stream, "dacl", winpath(page))
                self.assertEqual(after[0], ["ATTR", "%x" % (attributes | ARCHIVE)])
                self.assertEqual(after[1], ["DATA", ZONE])
                self.assertEqual(after[2], before[2])
                self.assertNotEqual(os.stat(page + ":Zone.Identifier").st_ino, stream_file)
                self.assertEqual(os.stat(page).st_mode & 0o7, mode & 0o7, "others' access changed")
                self.assertEqual(read(page), CLEANED)
                self.assertEqual(sorted(os.listdir(folder)),
                                 sorted(["page.htm", "page.htm:Zone.Identifier"] +
                                        (["kept"] if where == "same volume" else [])))
                # The original, whole and with its attributes, and nothing else.
                self.assertEqual(os.listdir(kept), ["page.htm"])
                self.assertEqual(read(os.path.join(kept, "page.htm")), PAGE)
                if kept_win:
                    moved = kept_win.rstrip("\\") + "\\page.htm"
                    self.assertEqual(self.wine.files("attr", moved), [before[3]])
                for name in os.listdir(kept):
                    os.chmod(os.path.join(kept, name), 0o644)
                    os.remove(os.path.join(kept, name))

    def test_page_changed_while_copied_to_another_volume_stays(self):
        """Held when the copy on the other volume is whole: the page is
        written to, then replaced; each time the copy goes, the page stays as
        the other program left it, and nothing reaches the Recycle Bin."""
        other, other_win = self.other_volume()
        self.to_folder(other_win)
        page = os.path.join(self.dir, "page.htm")
        flag = os.path.join(self.dir, "copied.flag")
        for change in ("append", "replace"):
            write(page)
            env = dict(self.wine.env, WEBTRIM_HOLD_COPIED=winpath(flag))
            with concurrent.futures.ThreadPoolExecutor(1) as pool:
                run = pool.submit(self.wine.drive, '"%s" %s' % (winpath(winetest.EXE), winpath(page)),
                                  env=env)
                for _ in range(6000):
                    if os.path.exists(flag) or run.done():
                        break
                    time.sleep(0.01)
                self.assertTrue(os.path.exists(flag), "the move never held")
                now = PAGE + b"more" if change == "append" else b"<p>replaced</p>"
                if change == "append":
                    with open(page, "ab") as f:
                        f.write(b"more")
                else:
                    write(page + ".new", now)
                    os.replace(page + ".new", page)
                os.remove(flag)
                boxes, code = run.result()
            boxes = [(c, i, t.split("\n\n")[0]) for c, i, t in boxes]
            self.assertEqual((boxes, code), ([("Webtrim", "error", CHANGED)], 1), change)
            self.assertEqual(read(page), now, change)
            self.assertEqual(os.listdir(other), [], change)
            self.assertEqual(sorted(os.listdir(self.dir)), ["page.htm"], change)
            self.assertFalse(os.path.exists(self.wine.trash), change)

    def test_original_that_cannot_leave_another_volume_leaves_no_copy(self):
        other, other_win = self.other_volume()
        self.to_folder(other_win)
        page = os.path.join(self.dir, "page.htm")
        original = b"<html><!-- note --><body>stays</body></html>"
        write(page, original)
        # An immutable file may be read and copied, but neither renamed nor
        # deleted: the copy in the target folder must go again.
        if subprocess.run(["chattr", "+i", page], stderr=subprocess.DEVNULL).returncode:
            self.skipTest("chattr +i is not available here")
        self.addCleanup(subprocess.run, ["chattr", "-i", page])
        boxes, code = self.wine.clean(winpath(page))
        # The run's own messages come after it has returned: the shell's
        # question, asked during the run, comes first.
        self.assertEqual((boxes, code), ([DELETE_FOR_GOOD, CANNOT_MOVE, CANNOT_REMOVE], 1))
        self.assertEqual(read(page), original)
        self.assertEqual(os.listdir(self.dir), ["page.htm"])
        self.assertEqual(os.listdir(other), [])

    def test_pages_inside_a_recycle_bin_are_refused(self):
        drive_c = os.path.join(self.wine.env["WINEPREFIX"], "drive_c")
        cases = [("$Recycle.Bin\\S-1-5-21-1-1000", True), ("RECYCLER\\S-1-5-21", True),
                 ("recycled", True), ("$Recycle.Bin.old\\pages", False)]
        for folder, refused in cases:
            with self.subTest(folder=folder):
                top = os.path.join(drive_c, folder.split("\\")[0])
                self.addCleanup(shutil.rmtree, top, True)
                where = os.path.join(drive_c, *folder.split("\\"))
                os.makedirs(where, exist_ok=True)
                page = os.path.join(where, "page.htm")
                write(page)
                boxes, code = self.wine.clean("C:\\%s\\page.htm" % folder)
                if refused:
                    self.assertEqual((boxes, code), ([IN_RECYCLE_BIN], 1))
                    self.assertEqual(read(page), PAGE)
                    self.assertEqual(os.listdir(where), ["page.htm"])
                    self.assertFalse(os.path.exists(self.wine.trash), "something went to the trash")
                else:
                    self.assertEqual((boxes, code), ([], 0))
                    self.assertEqual(read(page), CLEANED)
                    self.assertEqual(read(os.path.join(self.wine.trash, "page.htm")), PAGE)

    def test_companion_folder_of_a_complete_save(self):
        """What the cleaned page no longer reaches leaves its folder, each
        file on its own: into the Recycle Bin, whose records put each back
        where it was, or into TARGET\\p_files\\... The folder it emptied
        goes; what the page, its style sheets or a Recycle Bin's folder
        holds stays."""
        cases = [("Recycle Bin", RECYCLE_BIN | STYLES_KEPT, None),
                 ("target folder", STYLES_KEPT, "kept")]
        for what, w0, target in cases:
            with self.subTest(what):
                base = os.path.join(self.dir, what)
                page = write_saved_page(base)
                companion = os.path.join(base, "p_files")
                if target:
                    os.makedirs(os.path.join(self.dir, target))
                self.wine.reg_set("w0", "REG_DWORD", "0x%08x" % w0)
                self.wine.reg_set("w1", "REG_SZ", winpath(os.path.join(self.dir, target)) if target else "")
                self.assertEqual(self.wine.clean(winpath(page)), ([], 0))
                self.assertNotIn(b"t.js", read(page))
                kept = {n: d for n, d in SAVED_FILES.items() if n not in SAVED_GONE}
                self.assertEqual(folder_bytes(companion), kept)
                self.assertFalse(os.path.exists(os.path.join(companion, "img", "old")))
                gone = {n: SAVED_FILES[n] for n in SAVED_GONE}
                if target:
                    moved = os.path.join(self.dir, target)
                    self.assertEqual(sorted(os.listdir(moved)), ["p.htm", "p_files"])
                    self.assertEqual(folder_bytes(os.path.join(moved, "p_files")), gone)
                    continue
                entries = recycle_bin_entries(self.wine.trash)
                wanted = [os.path.join(companion, *n.split("/")) for n in SAVED_GONE]
                self.assertEqual(sorted(entries), sorted(wanted + [page]))
                # Each back from its record, as the Recycle Bin's Restore does.
                for path in wanted:
                    os.makedirs(os.path.dirname(path), exist_ok=True)
                    os.rename(os.path.join(self.wine.trash, entries[path]), path)
                self.assertEqual(folder_bytes(companion), SAVED_FILES)


    def test_companion_names_compare_as_the_file_system_compares_them(self):
        """A reference reaches a file as Windows opens it: in any case, in
        any script (percent-encoded UTF-8), by a file: address with its
        drive or by a path from the drive's root."""
        base = os.path.join(self.dir, "Сохранённые")
        files = {"Картинка.PNG": b"kept 1", "ROOTED.gif": b"kept 2", "Drive.gif": b"kept 3",
                 "Старая.png": b"gone 1", "unused.gif": b"gone 2"}
        for name, data in files.items():
            os.makedirs(os.path.join(base, "Стр_files"), exist_ok=True)
            write(os.path.join(base, "Стр_files", name), data)
        rooted = "/" + winpath(os.path.join(base, "Стр_files", "rooted.gif"))[3:].replace("\\", "/")
        drive = "file:///" + winpath(os.path.join(base, "стр_FILES", "drive.GIF")).replace("\\", "/")
        refs = ["%D1%81%D1%82%D1%80_files/%D0%BA%D0%B0%D1%80%D1%82%D0%B8%D0%BD%D0%BA%D0%B0.png", rooted, drive]
        page = os.path.join(base, "Стр.htm")
        write(page, b"<html><body><table><tr><td><p>The text of the page, long enough to stay.</p>" +
              b"".join(b'<img src="%s">' % urllib.parse.quote(r, safe="/:%").encode() for r in refs) +
              b"<script src='unused.js'></script></td></tr></table></body></html>")
        self.wine.reg_set("w0", "REG_DWORD", "0x%08x" % (RECYCLE_BIN | STYLES_KEPT))
        self.wine.reg_set("w1", "REG_SZ", "")
        self.assertEqual(self.wine.clean(winpath(page)), ([], 0))
        self.assertEqual(folder_bytes(os.path.join(base, "Стр_files")),
                         {n: d for n, d in files.items() if d.startswith(b"kept")})
        self.assertEqual(sorted(os.listdir(self.wine.trash)), sorted(["Старая.png", "unused.gif", "Стр.htm"]))

if __name__ == "__main__":
    unittest.main(verbosity=2)
