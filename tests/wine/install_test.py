"""The Windows installer and the portable zip, under Wine: a silent
install into a fresh prefix, the Explorer command it registers used as
Explorer uses it, an upgrade in place, and the uninstaller, which must
leave nothing of its own behind."""
import concurrent.futures
import glob
import hashlib
import os
import re
import struct
import subprocess
import tempfile
import time
import unittest
import zipfile

from winetest import BUILD, KEY, Wine, read, scratch, winpath, write
import winetest

SETUP = os.environ.get("WEBTRIM_SETUP") or (glob.glob(os.path.join(BUILD, "webtrim-*-setup.exe")) + [""])[0]
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Webtrim"
ASSOCIATIONS = r"HKCU\Software\Classes\SystemFileAssociations"
EXTENSIONS = (".htm", ".html", ".plg")
VERB = r"shell\Webtrim.Clean"
INSTALLED = ("webtrim.exe", "Webtrim.html", "LICENSE.txt", "uninstall.exe")

PAGE = b"<html><head><script>track()</script></head><body><p>%02d kept</p></body></html>"
CLEANED = b"<html><head></head><body><p>%02d kept</p></body></html>"


def tree(folder):
    """Every file and folder under `folder`, relative to it."""
    found = set()
    for top, dirs, files in os.walk(folder):
        for name in dirs + files:
            found.add(os.path.relpath(os.path.join(top, name), folder))
    return found


class Installer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = Wine("install", fresh=True)
        cls.local = cls.wine.run("cmd", "/c", "echo %LOCALAPPDATA%").stdout.strip()
        cls.programs = cls.local + r"\Programs"
        cls.folder = cls.programs + r"\Webtrim"
        cls.profile = cls.wine.unix(cls.wine.run("cmd", "/c", "echo %USERPROFILE%").stdout.strip())
        appdata = cls.wine.run("cmd", "/c", "echo %APPDATA%").stdout.strip()
        cls.menu = cls.wine.unix(appdata + r"\Microsoft\Windows\Start Menu\Programs")
        cls.sendto = cls.wine.unix(appdata + r"\Microsoft\Windows\SendTo")
        cls.before = tree(cls.profile)
        cls.keys_before = cls.wine.reg_values(ASSOCIATIONS)
        cls.install = cls.wine.run(SETUP, "/S", timeout=120)

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()

    def setUp(self):
        self.dir = scratch(self.wine, self.id().split(".")[-1])

    def assertLeftNothing(self):
        """No file of the install is left in the user's profile: the
        uninstaller's own file goes once it has ended, within seconds."""
        end = time.time() + 40
        while os.path.exists(self.wine.unix(self.folder)) and time.time() < end:
            time.sleep(0.2)
        self.assertEqual(tree(self.profile) - self.before, set())

    def verb_command(self, extension):
        return self.wine.reg_values("%s\\%s\\%s\\command" % (ASSOCIATIONS, extension, VERB))[""][1]

    def test_1_silent_install_puts_files_shortcut_verb_and_uninstall_entry_in_place(self):
        self.assertEqual(self.install.returncode, 0)
        for name in INSTALLED:
            self.assertTrue(os.path.isfile(self.wine.unix(self.folder + "\\" + name)), name)
        for name in ("webtrim.exe", "LICENSE.txt"):
            self.assertEqual(read(self.wine.unix(self.folder + "\\" + name)), read(os.path.join(BUILD, name)))
        self.assertIn(b"MIT License", read(os.path.join(BUILD, "LICENSE.txt")))
        # The Start menu shortcut and the "Send To" one both start the program.
        for folder in (self.menu, self.sendto):
            shortcut = read(os.path.join(folder, "Webtrim.lnk"))
            self.assertIn((self.folder + r"\webtrim.exe").encode(), shortcut)
        exe = self.folder + r"\webtrim.exe"
        for extension in EXTENSIONS:
            verb = self.wine.reg_values("%s\\%s\\%s" % (ASSOCIATIONS, extension, VERB))
            self.assertEqual(verb[""], ("REG_SZ", "Clean with Webtrim"), extension)
            self.assertEqual(self.verb_command(extension), '"%s" "%%1"' % exe, extension)
        entry = self.wine.reg_values(UNINSTALL_KEY)
        self.assertEqual(entry["DisplayName"][1], "Webtrim")
        self.assertEqual(entry["Publisher"][1], "Halvane")
        self.assertEqual(entry["DisplayVersion"][1], "2.04.01")
        self.assertEqual(entry["InstallLocation"][1], self.folder)
        self.assertEqual(entry["UninstallString"][1], '"%s\\uninstall.exe"' % self.folder)

    def test_2_the_verb_cleans_a_page_whose_path_has_blanks_or_any_script(self):
        folder = os.path.join(self.dir, "My saved pages")
        os.makedirs(folder)
        for n, name in enumerate(["a page 01.html", "страница 页面 😀.html"], 1):
            page = os.path.join(folder, name)
            write(page, PAGE % n)
            boxes, code = self.wine.drive(self.verb_command(".html").replace("%1", winpath(page)))
            self.assertEqual((boxes, code), ([], 0), name)
            # The page's line confirms it.
            self.assertEqual([r[:2] + r[5:] for r in self.wine.reports], [("Webtrim", "information", "")])
            self.assertRegex(self.wine.reports[0][2], r"^%s: [\d,]+ KB \u2192 [\d,]+ KB; the original is in the "
                             r"Recycle Bin$" % re.escape(name))
            self.assertEqual(read(page), CLEANED % n)
            self.assertEqual(read(os.path.join(self.wine.trash, name)), PAGE % n)

    def test_2b_send_to_cleans_a_whole_selection_in_one_run(self):
        # Explorer starts the "Send To" shortcut's program once, with every
        # selected path quoted on its command line.
        pages = []
        for n, name in enumerate(["first.htm", "second page.html", "третья.htm"], 1):
            pages.append(os.path.join(self.dir, name))
            write(pages[-1], PAGE % n)
        exe = self.folder + r"\webtrim.exe"
        command = '"%s" %s' % (exe, " ".join('"%s"' % winpath(page) for page in pages))
        self.assertEqual(self.wine.drive(command), ([], 0))
        self.assertEqual([r[2] for r in self.wine.reports], ["3 pages cleaned."])
        self.assertEqual([read(page) for page in pages], [CLEANED % n for n in range(1, 4)])

    def test_3_ten_pages_cleaned_at_once_into_one_folder_lose_nothing(self):
        # Explorer starts one run per selected page: the first takes the
        # pages of the others and gives the one report. Pages of the same
        # name from ten folders go into one target folder.
        target = os.path.join(self.dir, "originals")
        os.makedirs(target)
        self.wine.reg_set("w0", "REG_DWORD", "0x000013bf")
        self.wine.reg_set("w1", "REG_SZ", winpath(target))
        pages = []
        for n in range(1, 11):
            os.makedirs(os.path.join(self.dir, "site %02d" % n))
            pages.append(os.path.join(self.dir, "site %02d" % n, "index.htm"))
            write(pages[-1], PAGE % n)
        command = self.verb_command(".htm")
        boxes, codes, reports, _ = self.wine.drive_all("\n".join(command.replace("%1", winpath(page))
                                                                 for page in pages))
        self.wine.reg_delete_key()
        self.assertEqual((boxes, codes), ([], [0] * len(pages)))
        self.assertEqual([report[2] for report in reports], ["10 pages cleaned."])
        self.assertEqual([read(page) for page in pages], [CLEANED % n for n in range(1, 11)])
        kept = sorted(read(os.path.join(target, name)) for name in os.listdir(target))
        self.assertEqual(kept, sorted(PAGE % n for n in range(1, 11)))

    def test_4_installing_again_upgrades_in_place_and_keeps_the_settings(self):
        self.wine.reg_set("w0", "REG_DWORD", "0x05000001")
        self.wine.reg_set("w1", "REG_SZ", r"C:\kept")
        for name in ("webtrim.exe", "Webtrim.html"):
            write(self.wine.unix(self.folder + "\\" + name), b"an older version")
        self.assertEqual(self.wine.run(SETUP, "/S", timeout=120).returncode, 0)
        for name in ("webtrim.exe", "Webtrim.html"):
            self.assertEqual(read(self.wine.unix(self.folder + "\\" + name)), read(os.path.join(BUILD, name)))
        self.assertEqual(self.wine.reg_query("w0"), ("REG_DWORD", "0x5000001"))
        self.assertEqual(self.wine.reg_query("w1"), ("REG_SZ", r"C:\kept"))

    def test_5_silent_uninstall_leaves_nothing_of_its_own_but_keeps_the_settings(self):
        self.wine.reg_set("w0", "REG_DWORD", "0x05000001")
        uninstaller = self.folder + r"\uninstall.exe"
        self.assertEqual(self.wine.run(self.wine.unix(uninstaller), "/S", "_?=" + self.folder).returncode, 0)
        self.assertLeftNothing()
        self.assertIsNone(self.wine.reg_values(UNINSTALL_KEY))
        self.assertEqual(self.wine.reg_values(ASSOCIATIONS), self.keys_before)
        for extension in EXTENSIONS:
            self.assertIsNone(self.wine.reg_values("%s\\%s" % (ASSOCIATIONS, extension)))
        self.assertEqual(self.wine.reg_query("w0"), ("REG_DWORD", "0x5000001"))

    def test_6_interactive_uninstall_asks_and_yes_removes_the_settings(self):
        self.assertEqual(self.wine.run(SETUP, "/S", timeout=120).returncode, 0)
        self.wine.reg_set("w0", "REG_DWORD", "0x05000001")
        command = '"%s\\uninstall.exe" _?=%s' % (self.folder, self.folder)
        with concurrent.futures.ThreadPoolExecutor(1) as pool:
            # The driver answers the question with Yes; Return presses
            # "Uninstall" on the first page. The question bears the same
            # caption and takes Return as No, its default: Return goes only
            # while the first page is the one window of that name, and again
            # only when a press seems lost.
            run = pool.submit(self.wine.drive, command, press=6)
            end = time.time() + 30
            pressed = None
            while self.wine.reg_values(KEY) is not None and time.time() < end:
                found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Webtrim Uninstall"],
                                       env=self.wine.env, capture_output=True, text=True)
                windows = found.stdout.split() if found.returncode == 0 else []
                if len(windows) == 1 and (pressed is None or time.time() - pressed > 8):
                    subprocess.run(["xdotool", "key", "Return"], env=self.wine.env, check=True)
                    pressed = time.time()
                time.sleep(0.5)
            boxes, code = run.result()
        self.assertEqual([(caption, text.split("\n")[0]) for caption, _, text in boxes],
                         [("Webtrim Uninstall", "Remove your Webtrim settings as well?")])
        # No, which keeps them, is the default button.
        self.assertEqual(self.wine.defaults, [7])
        self.assertEqual(code, 0)
        self.assertLeftNothing()
        self.assertIsNone(self.wine.reg_values(KEY))
        self.assertIsNone(self.wine.reg_values(KEY.rsplit("\\", 1)[0]))
        self.assertIsNone(self.wine.reg_values(UNINSTALL_KEY))

    def test_7_portable_zip_holds_the_program_its_help_and_a_readme(self):
        cpack = os.environ.get("WEBTRIM_CPACK", "cpack")
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([cpack, "-G", "ZIP", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", out],
                           check=True, stdout=subprocess.DEVNULL, cwd=BUILD)
            archive, = glob.glob(os.path.join(out, "*.zip"))
            with zipfile.ZipFile(archive) as z:
                names = {name.split("/", 1)[1]: name for name in z.namelist()}
                self.assertEqual(sorted(names), ["LICENSE.txt", "Readme.txt", "Webtrim.html", "webtrim.exe"])
                for name in ("webtrim.exe", "LICENSE.txt"):
                    self.assertEqual(z.read(names[name]), read(os.path.join(BUILD, name)))
                self.assertIn(b"SmartScreen", z.read(names["Readme.txt"]))
            # Its SHA-256 sum beside it, as sha256sum -c reads it.
            self.assertEqual(read(archive + ".sha256").decode(),
                             "%s  %s\n" % (hashlib.sha256(read(archive)).hexdigest(), os.path.basename(archive)))

    def test_8_the_installer_has_its_sum_beside_it_and_the_program_is_stripped(self):
        self.assertEqual(read(SETUP + ".sha256").decode(),
                         "%s  %s\n" % (hashlib.sha256(read(SETUP)).hexdigest(), os.path.basename(SETUP)))
        # The program, its installer and the installer's name are all of
        # the build's width, and so is the manifest's architecture.
        wide = winetest.LOADER.endswith("64")
        machine, arch, tag = (0x8664, b"amd64", "-x64-") if wide else (0x14C, b"x86", "-x86-")
        for path in (os.path.join(BUILD, "webtrim.exe"), SETUP):
            data = read(path)
            self.assertEqual(struct.unpack_from("<H", data, struct.unpack_from("<I", data, 0x3C)[0] + 4)[0],
                             machine, path)
        self.assertIn(tag, os.path.basename(SETUP))
        self.assertEqual(re.findall(rb'processorArchitecture="([^"]*)"', read(os.path.join(BUILD, "webtrim.exe"))),
                         [arch, arch])
        # No symbol table and no debug sections in the PE file.
        exe = read(os.path.join(BUILD, "webtrim.exe"))
        pe = struct.unpack_from("<I", exe, 0x3C)[0]
        self.assertEqual(exe[pe:pe + 4], b"PE\0\0")
        _, sections, _, symbols, count, optional, _ = struct.unpack_from("<HHIIIHH", exe, pe + 4)
        self.assertEqual((symbols, count), (0, 0))
        table = pe + 24 + optional
        names = [exe[table + 40 * i:table + 40 * i + 8].rstrip(b"\0") for i in range(sections)]
        self.assertEqual([n for n in names if n.startswith(b".debug") or n.startswith(b"/")], [])
        # Stripped, the program is some 260 KB: room to grow, but not
        # room for its symbols.
        self.assertLess(len(exe), 400 * 1024)


if __name__ == "__main__":
    unittest.main(verbosity=2)
