"""webtrim.exe in command-line mode under Wine: paths, settings in the
registry, disposal into a folder or the Recycle Bin, and the exact texts
of its message boxes."""
import os
import shutil
import subprocess
import tempfile
import unittest

from winetest import Wine, read, scratch, winpath
import winetest

PAGE = b"<html><body>hello</body></html>"
HERE = os.path.dirname(os.path.abspath(__file__))
LINUX_EXE = os.environ.get("WEBTRIM_LINUX_EXE", os.path.join(HERE, "../../build/linux/webtrim"))
CORPUS = os.path.join(HERE, "../../../shared/corpus")


def linux_clean(data, w0):
    """The page as the Linux program cleans it under the options word w0."""
    with tempfile.TemporaryDirectory() as home:
        os.makedirs(os.path.join(home, "cfg", "halvane"))
        with open(os.path.join(home, "cfg", "halvane", "webtrim.ini"), "w") as f:
            f.write("[Webtrim]\nw0=0x%08X\nw1=\n" % w0)
        page = os.path.join(home, "page.htm")
        write(page, data)
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "cfg"),
                   XDG_DATA_HOME=os.path.join(home, "data"))
        subprocess.run([LINUX_EXE, page], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return read(page)
NOT_PERMISSIBLE = "The file is not permissible.\nOnly *.htm, *.html, *.plg files are allowable"


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

    def trashed(self, name):
        return os.path.join(self.wine.trash, name)

    def assertCleanedToTrash(self, page):
        self.assertEqual(read(page), PAGE)
        trashed = self.trashed(os.path.basename(page))
        self.assertTrue(os.path.exists(trashed), "original not in the trash")
        self.assertEqual(read(trashed), PAGE)
        shutil.rmtree(os.path.dirname(self.wine.trash))

    def test_first_start_creates_the_settings(self):
        boxes, code = self.wine.clean(winpath(os.path.join(self.dir, "x.txt")))
        self.assertEqual(code, 1)
        self.assertEqual(self.wine.reg_query("w0"), ("REG_DWORD", "0x100013bf"))
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
        self.assertEqual(read(page), PAGE)
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
            self.assertEqual(self.wine.reg_query("w0"), ("REG_DWORD", "0x100013bf"), (name, kind))
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


if __name__ == "__main__":
    unittest.main(verbosity=2)
