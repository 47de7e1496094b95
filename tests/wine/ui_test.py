"""webtrim.exe's main window under Wine, driven as a user drives it: mouse
clicks and keys from xdotool, files dropped by an X11 drag-and-drop client,
pixels read from screenshots, message boxes read from the real boxes.

wtui.exe reports what the window shows (controls, check marks, texts, tab
rectangles) and watches the screen pixel during a flash; wtdrive.exe starts
webtrim.exe, reads and answers its message boxes and gives its exit code.
Screenshots are kept under <build>/winetest-ui/screens."""
import os
import queue
import re
import shutil
import subprocess
import threading
import time
import unittest

import xdnd_drop
from winetest import (BUILD, DRIVER, EXE, LOADER, SAVED_FILES, SAVED_PAGE, Wine, folder_bytes, read, scratch,
                      winpath, write_saved_page)
import winetest

WTUI = os.path.join(BUILD, "tests", "wine", "wtui.exe")
RECORDER = os.path.join(BUILD, "tests", "wine", "wtrecord.exe")      # stands in for the browser
WINE_FONTS = "/usr/share/wine/fonts"

DEFAULT = 0x100053BF
DARK = {"red": (128, 0, 0), "green": (0, 128, 0), "blue": (0, 0, 128)}
BRIGHT = {"red": (255, 0, 0), "green": (0, 255, 0), "blue": (0, 0, 255)}
YELLOW = (255, 255, 0)

PAGE = b"<html><head><script>alert(1)</script></head><body><!-- note --><p>Kept text</p></body></html>"
NOT_ON_PICTURE = ("Webtrim", "none", "Please place your file to the picture")
NOT_PERMISSIBLE = ("Webtrim", "warning",
                   "The file is not permissible.\nOnly *.htm, *.html, *.mht, *.mhtml, *.plg files are allowable.")
CANNOT_OPEN = ("Webtrim", "error", "Cannot open this file")

# Control ids.
EXIT, OPEN, DEFAULT_BUTTON, SAVE, RESULT = 2, 1003, 1004, 1007, 1034
EXTRACT, CUT_TABLES, PICTURES, BAD_COLORS, ANY_LAYOUT = 1008, 1009, 1010, 1011, 1028
ADVANCED_BOXES = [1012, 1013, 1014, 1015, 1016, 1017, 1018, 1019, 1020, 1030]
STYLES, COMMENTS = 1012, 1016
RECYCLE, FOLDER, BROWSE, TARGET_TEXT, KEEP_TIME = 1021, 1022, 1003, 1024, 1029
RED, GREEN, BLUE = 1025, 1026, 1027
HELP = 1005
CANCEL_RUN = 1035
STOP_QUESTION = ("Stop cleaning?\n\nThe page in hand is finished; the pages after it are left as they are.")
# A page stored as UTF-16, which is not cleaned.
WIDE_PAGE = "<html><body>wide</body></html>".encode("utf-16")
TABS = ["Main", "Advanced", "Target", "Color", "About"]


def write(path, data=PAGE):
    winetest.write(path, data)


def explorer_size(n):
    """A size as Explorer's Size column and the result line give it."""
    return "{:,} KB".format((n + 1023) // 1024)


def prepare_desktop(wine):
    """Wine's own fonts ("MS Sans Serif", Marlett for the caption buttons)
    go into the prefix, where Wine looks for them, and Wine draws the
    window frames itself, as there is no window manager on the display."""
    fonts = os.path.join(wine.env["WINEPREFIX"], "drive_c", "windows", "Fonts")
    if os.path.isdir(WINE_FONTS) and os.path.isdir(fonts):
        for name in os.listdir(WINE_FONTS):
            if not os.path.exists(os.path.join(fonts, name)):
                shutil.copy(os.path.join(WINE_FONTS, name), fonts)
    for value in ("Decorated", "Managed"):
        wine.run("reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", value, "/t", "REG_SZ",
                 "/d", "N", "/f")


class Program:
    """webtrim.exe with an empty command line, run under wtdrive: its
    message boxes are read and answered with OK as they come.

    wtdrive writes into a file, read here as it grows: processes that Wine
    starts beside ours could keep a pipe open past the end."""

    def __init__(self, wine, exe=EXE, env=None):
        env = dict(env or wine.env)
        env["WT_CMDLINE"] = '"%s"' % winpath(exe)
        env["WT_TIMEOUT"] = "180000"
        self.path = os.path.join(wine.root, "wtdrive.out")
        self.out = open(self.path, "w")
        self.proc = subprocess.Popen([LOADER, DRIVER], env=env, stdin=subprocess.DEVNULL,
                                     stdout=self.out, stderr=subprocess.DEVNULL)
        self.lines = queue.Queue()
        self.code = None
        self.stop = threading.Event()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        with open(self.path, encoding="utf-8", errors="replace") as f:
            part = ""
            while not self.stop.is_set():
                chunk = f.readline()
                if not chunk:
                    time.sleep(0.05)
                    continue
                part += chunk
                if part.endswith("\n"):
                    self.lines.put(part.rstrip("\n"))
                    if part.startswith("EXIT\t"):
                        return
                    part = ""

    def _next(self, timeout):
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            return "WAIT"

    def next_box(self, timeout=20):
        """The next message box: caption, icon, text."""
        line = self._next(timeout)
        if not line.startswith("BOX\t"):
            raise AssertionError("expected a message box, got %r" % line)
        parts = line.split("\t")
        return parts[1], parts[2], parts[3].replace("\\n", "\n")

    def next_report(self, timeout=20):
        """The REPORT line that follows a report dialog's box: its
        rectangle, its monitor's work area, the text Copy gave."""
        line = self._next(timeout)
        if not line.startswith("REPORT\t"):
            raise AssertionError("expected a report, got %r" % line)
        return winetest.parse_report(line.split("\t"))

    def assert_quiet(self, seconds=1.5):
        """No message box comes, and the program goes on running."""
        line = self._next(seconds)
        if line != "WAIT":
            raise AssertionError("unexpected %r" % line)

    def exit_code(self, timeout=20):
        line = self._next(timeout)
        if not line.startswith("EXIT\t"):
            raise AssertionError("expected the program's end, got %r" % line)
        self.code = int(line.split("\t")[1])
        self.finish()
        return self.code

    def finish(self):
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.stop.set()
        self.reader.join()
        self.out.close()


class Looker:
    """wtui.exe, asked about the window one command at a time."""

    def __init__(self, wine):
        self.proc = subprocess.Popen([LOADER, WTUI], env=wine.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True, encoding="utf-8", errors="replace", bufsize=1)

    def send(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def read_until(self, mark):
        lines = []
        while True:
            line = self.proc.stdout.readline()
            if not line:
                raise AssertionError("wtui ended")
            line = line.rstrip("\r\n")
            if line == mark:
                return lines
            lines.append(line)

    def ask(self, command):
        self.send(command)
        return self.read_until("END")

    def close(self):
        try:
            self.send("quit")
            self.proc.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()
            self.proc.wait()
        self.proc.stdin.close()
        self.proc.stdout.close()


class State:
    """What wtui saw: the window, its controls and the tabs."""

    def __init__(self, lines):
        self.controls, self.tab_items, self.edits = [], [], {}
        for line in lines:
            kind = line.split(" ", 1)[0]
            if kind == "MAIN":
                v = [int(x) for x in line.split()[1:]]
                self.hwnd, self.window = v[0], tuple(v[1:5])
                self.origin, self.client = (v[5], v[6]), (v[7], v[8])
                self.enabled = v[9] == 1        # false while a message box is open
            elif kind == "CTL":
                p = line.split(" ", 12)
                self.controls.append({
                    "hwnd": int(p[1]), "parent": int(p[2]), "id": int(p[3]), "class": p[4],
                    "rect": tuple(int(x) for x in p[5:9]), "visible": p[9] == "1",
                    "enabled": p[10] == "1", "checked": p[11] == "1",
                    "text": unescape(p[12]) if len(p) > 12 else ""})
            elif kind == "TAB":
                self.tab_count, self.current_tab = (int(x) for x in line.split()[1:3])
            elif kind == "TABITEM":
                p = line.split(" ", 6)
                self.tab_items.append((tuple(int(x) for x in p[2:6]), unescape(p[6]) if len(p) > 6 else ""))
            elif kind == "EDIT":
                i, first, count = (int(x) for x in line.split()[1:4])
                self.edits[i] = (first, count)
        self.tab = next(c for c in self.controls if c["class"] == "SysTabControl32")
        # The page is a child of the window, lying over the tab control.
        pages = [c for c in self.controls if c["class"] == "#32770" and c["parent"] == self.hwnd]
        self.pages = pages
        self.page = pages[0]["hwnd"] if len(pages) == 1 else None

    def main_control(self, ident):
        return next(c for c in self.controls if c["parent"] == self.hwnd and c["id"] == ident)

    def page_control(self, ident):
        return next(c for c in self.controls if c["parent"] == self.page and c["id"] == ident)

    def page_ids(self):
        return [c["id"] for c in self.controls if c["parent"] == self.page]

    def picture(self):
        """The drop picture in screen pixels (left, top, right, bottom),
        right and bottom excluded: 5 pixels in from the client area's
        edges, from the tab control and from the result line below it."""
        ox, oy = self.origin
        tab_x = self.tab["rect"][0] - ox
        return ox + 5, oy + 5, ox + tab_x - 5, self.main_control(RESULT)["rect"][1] - 5


def unescape(text):
    r"""Undoes wtui's escapes: \\, \n, \r, \t."""
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def centre(rect):
    return (rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2


class Screenshot:
    def __init__(self, env, path, crop):
        subprocess.run(["import", "-window", "root", path + ".full.png"], env=env, check=True)
        raw = subprocess.run(["convert", path + ".full.png", "-depth", "8", "rgb:-"],
                             capture_output=True, check=True).stdout
        size = subprocess.run(["identify", "-format", "%w %h", path + ".full.png"],
                              capture_output=True, text=True, check=True).stdout.split()
        self.width, self.height = int(size[0]), int(size[1])
        self.raw = raw
        l, t, r, b = crop
        subprocess.run(["convert", path + ".full.png", "-crop", "%dx%d+%d+%d" % (r - l, b - t, l, t),
                        "+repage", path + ".png"], check=True)
        os.remove(path + ".full.png")

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.raw[i:i + 3])

    def count(self, colour, rect):
        l, t, r, b = rect
        return sum(1 for y in range(t, b) for x in range(l, r) if self.pixel(x, y) == colour)


class WindowTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = Wine("ui")
        prepare_desktop(cls.wine)
        cls.looker = Looker(cls.wine)
        cls.screens = os.path.join(cls.wine.root, "screens")
        os.makedirs(cls.screens, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        cls.looker.close()
        cls.wine.close()

    def setUp(self):
        self.dir = scratch(self.wine, self.id().split(".")[-1])
        self.wine.reg_delete_key()
        shutil.rmtree(os.path.dirname(self.wine.trash), ignore_errors=True)
        self.program = None

    def tearDown(self):
        if self.program and self.program.code is None:
            # Everything in the prefix ends; a fresh server and wtui follow.
            self.program.proc.kill()
            self.program.finish()
            self.restart_wine()

    def restart_wine(self):
        self.looker.close()
        subprocess.run(["wineserver", "-k"], env=self.wine.env, check=False)
        subprocess.run(["wineserver", "-p"], env=self.wine.env, check=False)
        self.__class__.looker = Looker(self.wine)

    # The program and the window.
    def start(self, **program):
        self.program = Program(self.wine, **program)
        found = self.looker.ask("find")
        self.assertTrue(found and found[0].startswith("MAIN"), found)
        return self.state()

    def state(self):
        return State(self.looker.ask("state"))

    def until(self, test, what, timeout=8.0):
        """Asks for the window's state until test(state) holds."""
        end = time.time() + timeout
        while True:
            st = self.state()
            if test(st):
                return st
            if time.time() > end:
                self.fail("the window never showed " + what)
            time.sleep(0.2)

    def xdo(self, *args):
        subprocess.run(["xdotool", *[str(a) for a in args]], env=self.wine.env, check=True,
                       stdout=subprocess.DEVNULL)

    def window_exists(self, title, visible=True):
        shown = ["--onlyvisible"] if visible else []
        return subprocess.run(["xdotool", "search", *shown, "--name", "^%s$" % title],
                              env=self.wine.env, capture_output=True).returncode == 0

    def wait_window(self, title, present=True, visible=True, timeout=15.0):
        """Waits until a top-level window of that title is there (or gone)."""
        end = time.time() + timeout
        while self.window_exists(title, visible) != present:
            if time.time() > end:
                self.fail("window %r never %s" % (title, "came" if present else "went"))
            time.sleep(0.1)

    def click(self, x, y):
        self.xdo("mousemove", x, y, "click", 1)

    def click_main(self, st, ident):
        self.click(*centre(st.main_control(ident)["rect"]))

    def click_page(self, st, ident):
        self.click(*centre(st.page_control(ident)["rect"]))

    def open_tab(self, st, index):
        self.click(*centre(st.tab_items[index][0]))
        return self.until(lambda s: s.current_tab == index and s.page is not None
                          and s.page != st.page, "the %s page" % TABS[index])

    def toggle(self, st, ident):
        """Clicks a check box or radio button and waits for its new mark."""
        was = st.page_control(ident)["checked"]
        self.click_page(st, ident)
        want = not was if ident < RECYCLE or ident in (ANY_LAYOUT, KEEP_TIME) else True
        return self.until(lambda s: s.page_control(ident)["checked"] == want, "box %d" % ident)

    def shot(self, st, name):
        l, t, r, b = st.window
        return Screenshot(self.wine.env, os.path.join(self.screens, name),
                          (max(l - 8, 0), max(t - 8, 0), r + 8, b + 8))

    def screen_shot(self, name):
        """The whole screen, for dialogs that lie outside the window."""
        return Screenshot(self.wine.env, os.path.join(self.screens, name), (0, 0, 1024, 768))

    def box(self, whole=False):
        """The next message box; waits until it is answered and gone. Its
        text up to the page's name and the system's reason, which follow a
        blank line, unless `whole`."""
        seen = self.program.next_box()
        self.until(lambda s: s.enabled, "the window enabled again")
        return seen if whole else (seen[0], seen[1], seen[2].split("\n\n")[0])

    def drop(self, point, *paths):
        xdnd_drop.drop(self.wine.env["DISPLAY"], point[0], point[1], list(paths))

    def options(self):
        value = self.wine.reg_query("w0")
        return int(value[1], 16) if value else None

    def save(self, st, expected):
        """Presses "Save" and waits for the registry to hold `expected`."""
        self.click_main(st, SAVE)
        end = time.time() + 8
        while self.options() != expected and time.time() < end:
            time.sleep(0.2)
        self.assertEqual("%08x" % self.options(), "%08x" % expected)

    def end_with_escape(self):
        self.xdo("key", "Escape")
        self.assertEqual(self.program.exit_code(), 1)

    # ------------------------------------------------------------ tests

    def test_01_window_tabs_and_pages_show_the_defaults(self):
        st = self.start()
        self.assertEqual(self.options(), DEFAULT)           # first start wrote the defaults
        self.assertEqual(st.tab_count, 5)
        self.assertEqual([text for _, text in st.tab_items], TABS)
        self.assertEqual(st.current_tab, 0)
        self.assertFalse(st.main_control(1033)["visible"])
        self.assertEqual(st.main_control(EXIT)["text"], "E&xit")

        # Main page: only "Extract the main part" checked.
        self.assertEqual(st.page_ids(), [EXTRACT, CUT_TABLES, PICTURES, BAD_COLORS, ANY_LAYOUT])
        marks = {i: st.page_control(i)["checked"] for i in st.page_ids()}
        self.assertEqual(marks, {EXTRACT: True, CUT_TABLES: False, PICTURES: False, BAD_COLORS: False,
                                 ANY_LAYOUT: False})
        self.assertEqual(st.page_control(EXTRACT)["text"], "&Extract the main part of the web page")

        # The picture: dark red, exactly where it belongs, yellow prompt
        # starting a quarter of the way down.
        shot = self.shot(st, "page-main")
        l, t, r, b = st.picture()
        for x, y in ((l, t), (r - 1, t), (l, b - 1), (r - 1, b - 1), (l + 1, t + 1)):
            self.assertEqual(shot.pixel(x, y), DARK["red"], (x, y))
        for x, y in ((l - 1, t + 10), (r, t + 10), (l + 10, t - 1), (l + 10, b)):
            self.assertNotEqual(shot.pixel(x, y), DARK["red"], (x, y))
        prompt_top = t + (b - st.origin[1] - 5) // 4
        self.assertEqual(shot.count(YELLOW, (l, t, r, prompt_top)), 0)
        self.assertGreater(shot.count(YELLOW, (l, prompt_top, r, b)), 150)

        # Advanced page: all nine boxes checked.
        st = self.open_tab(st, 1)
        self.assertEqual(sorted(i for i in st.page_ids() if i != -1), ADVANCED_BOXES)
        self.assertTrue(all(st.page_control(i)["checked"] for i in ADVANCED_BOXES))
        self.assertEqual(st.page_control(-1)["text"], " Delete ")
        self.shot(st, "page-advanced")

        # Target page: the Recycle Bin.
        st = self.open_tab(st, 2)
        self.assertTrue(st.page_control(RECYCLE)["checked"])
        self.assertFalse(st.page_control(FOLDER)["checked"])
        self.assertFalse(st.page_control(BROWSE)["enabled"])
        self.assertEqual(st.page_control(TARGET_TEXT)["text"], "Recycle Bin")
        self.shot(st, "page-target")

        # Color page: red.
        st = self.open_tab(st, 3)
        self.assertEqual([st.page_control(i)["checked"] for i in (RED, GREEN, BLUE)], [True, False, False])
        self.shot(st, "page-color")

        # About page.
        st = self.open_tab(st, 4)
        texts = [c["text"] for c in st.controls if c["parent"] == st.page and c["class"] == "Static"]
        self.assertIn("Webtrim Version 2.04.01", texts)
        self.shot(st, "page-about")

        # Escape ends the dialog with 1; nothing is saved.
        self.end_with_escape()

    def test_02_boxes_change_the_word_save_writes_it_default_resets_it(self):
        # Blue, target folder, and bit 22, which no control shows.
        self.wine.reg_set("w0", "REG_DWORD", "0x024013bf")
        self.wine.reg_set("w1", "REG_SZ", r"C:\kept")
        st = self.start()
        st = self.toggle(st, PICTURES)
        # Enter on a check box does nothing: no default button.
        self.xdo("key", "Return")
        self.program.assert_quiet(0.5)
        self.assertTrue(self.state().page_control(PICTURES)["checked"])
        self.save(st, 0x024013BF | 0x40)

        st = self.open_tab(st, 1)
        st = self.toggle(st, COMMENTS)
        st = self.toggle(st, STYLES)
        self.save(st, (0x024013BF | 0x40) & ~0x5)

        # Coming back to a page shows the word of the moment.
        st = self.open_tab(st, 0)
        self.assertTrue(st.page_control(PICTURES)["checked"])

        # "Default" refreshes the shown page at once and keeps bits 16 to
        # 31 (scheme, target, bit 22); the folder stays as it was.
        self.click_main(st, DEFAULT_BUTTON)
        st = self.until(lambda s: not s.page_control(PICTURES)["checked"], "Main page reset")
        self.assertTrue(st.page_control(EXTRACT)["checked"])
        self.save(st, 0x024053BF)
        self.assertEqual(self.wine.reg_query("w1"), ("REG_SZ", r"C:\kept"))

        st = self.open_tab(st, 1)
        st = self.toggle(st, STYLES)
        self.click_main(st, DEFAULT_BUTTON)
        st = self.until(lambda s: s.page_control(STYLES)["checked"], "Advanced page reset")

        # A change without "Save", then the Close box: result 1, the stored
        # word is the last saved one.
        st = self.toggle(st, COMMENTS)
        point = self.looker.ask("close")[0].split()
        self.assertEqual(point[0], "CLOSE")
        self.click(int(point[1]), int(point[2]))
        self.assertEqual(self.program.exit_code(), 1)
        self.assertEqual(self.options(), 0x024053BF)

    def test_03_target_page_folder_and_browser(self):
        long_folder = "C:\\" + "\\".join(["a folder with a long name %02d" % i for i in range(8)])
        self.wine.reg_set("w1", "REG_SZ", long_folder)
        # "Folder" clears bits 28, 30 and 31; bit 29 is "Keep the page's date".
        self.wine.reg_set("w0", "REG_DWORD", "0xf00013bf")
        home = self.wine.env["HOME"]
        shutil.rmtree(os.path.join(home, "Kept originals"), ignore_errors=True)
        os.makedirs(os.path.join(home, "Kept originals"))
        st = self.open_tab(self.start(), 2)

        # "Folder": "..." on, the stored folder shown from its last line.
        st = self.toggle(st, FOLDER)
        self.assertFalse(st.page_control(RECYCLE)["checked"])
        self.assertTrue(st.page_control(BROWSE)["enabled"])
        self.assertEqual(st.page_control(TARGET_TEXT)["text"], long_folder)
        first, count = st.edits[TARGET_TEXT]
        self.assertGreater(count, 2)
        self.assertGreater(first, 0)
        self.shot(st, "target-folder")
        self.assertTrue(st.page_control(KEEP_TIME)["checked"])
        self.save(st, 0x200013BF)

        # "Recycle Bin" again; the box clears bit 29.
        st = self.toggle(st, RECYCLE)
        self.assertFalse(st.page_control(BROWSE)["enabled"])
        self.assertEqual(st.page_control(TARGET_TEXT)["text"], "Recycle Bin")
        st = self.toggle(st, KEEP_TIME)
        self.assertFalse(st.page_control(KEEP_TIME)["checked"])
        self.save(st, 0x100013BF)

        # The folder browser, driven by keys: cancelling changes nothing,
        # choosing a folder stores it and shows it.
        st = self.toggle(st, FOLDER)
        self.browse(st, ["Escape"])
        self.assertEqual(self.state().page_control(TARGET_TEXT)["text"], long_folder)
        self.browse(st, ["Tab", "Tab", "type:Kept", "shot:folder-browser", "Return"])
        chosen = self.until(lambda s: s.page_control(TARGET_TEXT)["text"] != long_folder,
                            "the chosen folder").page_control(TARGET_TEXT)["text"]
        self.assertTrue(chosen.endswith("\\Desktop\\Kept originals"), chosen)
        self.save(st, 0x000013BF)
        self.assertEqual(self.wine.reg_query("w1"), ("REG_SZ", chosen))
        self.program.assert_quiet(0.2)
        self.end_with_escape()

    def browse(self, st, keys):
        self.click_page(st, BROWSE)
        self.wait_window("Browse for Folder")
        time.sleep(0.8)
        for key in keys:
            if key.startswith("type:"):
                self.xdo("type", "--delay", 60, key[5:])
            elif key.startswith("shot:"):
                self.screen_shot(key[5:])
            else:
                self.xdo("key", key)
            time.sleep(0.3)
        self.wait_window("Browse for Folder", present=False)

    def test_04_color_page_repaints_the_picture_at_once(self):
        st = self.open_tab(self.start(), 3)
        l, t, r, b = st.picture()
        for ident, name in ((GREEN, "green"), (BLUE, "blue"), (RED, "red")):
            st = self.toggle(st, ident)
            time.sleep(0.3)
            shot = self.shot(st, "color-" + name)
            self.assertEqual(shot.pixel(l + 3, t + 3), DARK[name])
            self.assertEqual(shot.pixel(r - 3, b - 3), DARK[name])
            self.assertGreater(shot.count(YELLOW, (l, t, r, b)), 150)
        st = self.toggle(st, GREEN)
        self.save(st, 0x110053BF)
        # Escape saves nothing.
        self.toggle(st, BLUE)
        self.end_with_escape()
        self.assertEqual(self.options(), 0x110053BF)

    def test_05_stored_scheme_5_shows_and_paints_blue(self):
        self.wine.reg_set("w0", "REG_DWORD", "0x150013bf")
        self.wine.reg_set("w1", "REG_SZ", "")
        st = self.open_tab(self.start(), 3)
        self.assertEqual([st.page_control(i)["checked"] for i in (RED, GREEN, BLUE)], [False, False, True])
        l, t, r, b = st.picture()
        self.assertEqual(self.shot(st, "color-scheme5").pixel(l + 3, t + 3), DARK["blue"])
        self.click_page(st, BLUE)
        self.save(st, 0x120013BF)
        self.end_with_escape()

    def test_06_a_page_dropped_on_the_picture_is_cleaned_with_a_flash(self):
        page = os.path.join(self.dir, "dropped page.htm")
        write(page)
        st = self.start()
        l, t, r, b = st.picture()
        watch = (l + 3, t + 3)
        flash_bmp = os.path.join(self.screens, "flash.bmp")
        if os.path.exists(flash_bmp):
            os.remove(flash_bmp)
        self.looker.send("poll %d %d 5000 %s" % (watch[0], watch[1], winpath(flash_bmp)))
        self.looker.read_until("READY")
        self.drop(((l + r) // 2, t + 20), page)
        seen = [line.split() for line in self.looker.read_until("END")]
        colours = [(int(ms), tuple(bytes.fromhex(c))) for _, ms, c in seen]
        sequence = [c for _, c in colours]
        self.assertEqual(sequence, [DARK["red"], BRIGHT["red"], DARK["red"]], colours)
        flash_ms = colours[2][0] - colours[1][0]
        self.assertTrue(100 <= flash_ms <= 1500, "flash lasted %d ms" % flash_ms)
        subprocess.run(["convert", flash_bmp, os.path.join(self.screens, "flash.png")], check=True)
        raw = subprocess.run(["convert", flash_bmp, "-depth", "8", "rgb:-"], capture_output=True,
                             check=True).stdout
        width = st.window[2] - st.window[0]
        x, y = watch[0] - st.window[0], watch[1] - st.window[1]
        self.assertEqual(tuple(raw[(y * width + x) * 3:(y * width + x) * 3 + 3]), BRIGHT["red"])

        self.program.assert_quiet(0.5)
        cleaned = read(page)
        self.assertNotIn(b"<script", cleaned)
        self.assertIn(b"Kept text", cleaned)
        self.assertEqual(read(os.path.join(self.wine.trash, "dropped page.htm")), PAGE)
        self.click_main(self.state(), EXIT)
        self.assertEqual(self.program.exit_code(), 1)

    def test_07_refused_drops(self):
        page = os.path.join(self.dir, "page.htm")
        other = os.path.join(self.dir, "other.htm")
        text = os.path.join(self.dir, "notes.txt")
        folder = os.path.join(self.dir, "a folder")
        deep = os.path.join(self.dir, "d" * 120)
        long_page = os.path.join(deep, "p" * 150 + ".htm")
        os.makedirs(folder)
        os.makedirs(deep)
        for path in (page, other, long_page):
            write(path)
        write(text, b"plain")
        self.assertGreater(len(winpath(long_page)), 260)
        st = self.start()
        l, t, r, b = st.picture()
        inside = ((l + r) // 2, t + 20)
        on_tabs = centre(st.tab["rect"])

        # The position test comes first, so two files dropped off the
        # picture give the position message.
        for point, paths in ((on_tabs, [page]), (on_tabs, [page, other]),
                             ((l, t + 20), [page]), ((r, t + 20), [page])):
            self.drop(point, *paths)
            self.assertEqual(self.box(), NOT_ON_PICTURE, point)
        # Just inside the left edge the drop is on the picture.
        self.drop((l + 1, t + 20), text)
        self.assertEqual(self.box(), NOT_PERMISSIBLE)
        self.drop(inside, folder)
        self.assertEqual(self.box(), ("Webtrim", "information", "There are no pages to clean in %s and "
                                      "the folders below it." % winpath(folder)))
        # A path longer than the buffer is refused whole.
        self.drop(inside, long_page)
        self.assertEqual(self.box(), CANNOT_OPEN)
        self.program.assert_quiet(0.5)
        for path in (page, other, long_page):
            self.assertEqual(read(path), PAGE)
        self.assertFalse(os.path.exists(self.wine.trash) and os.listdir(self.wine.trash))
        self.end_with_escape()

    def test_08_open_button_cleans_the_chosen_page_cancel_does_nothing(self):
        page = os.path.join(self.dir, "opened.htm")
        write(page)
        st = self.start()
        self.click_main(st, OPEN)
        self.wait_window("Open")
        time.sleep(0.8)
        self.screen_shot("open-dialog")
        self.xdo("key", "Escape")
        self.program.assert_quiet(1.0)
        self.assertEqual(read(page), PAGE)

        self.click_main(st, OPEN)
        self.wait_window("Open")
        time.sleep(0.8)
        self.xdo("type", "--delay", 20, winpath(page))
        self.xdo("key", "Return")
        trashed = os.path.join(self.wine.trash, "opened.htm")
        end = time.time() + 15
        while not os.path.exists(trashed) and time.time() < end:
            time.sleep(0.1)
        self.program.assert_quiet(0.5)
        self.assertNotIn(b"<script", read(page))
        self.assertEqual(read(trashed), PAGE)
        self.end_with_escape()

    def test_11_manifest_in_effect_and_every_text_fits_at_four_dpis(self):
        # The manifest is stored as it is written.
        program = read(EXE)
        for part in (b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"',
                     b'level="asInvoker"', b">true</dpiAware>", b">system</dpiAwareness>",
                     b">UTF-8</activeCodePage>",
                     b"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", b"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                     b"{1f676c76-80e1-4239-95bb-83d0f6d0da78}", b"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"):
            self.assertIn(part, program)

        # At each DPI every control lies inside the window or the tab
        # control, and every text fits its control: on each page, and the
        # result line after a clean. 144 dpi grows the window, the prompt
        # and the tab captions against 96.
        seen = {}
        try:
            for dpi in (96, 120, 144, 192):
                with self.subTest(dpi=dpi):
                    self.wine.run("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t",
                                  "REG_DWORD", "/d", str(dpi), "/f")
                    self.restart_wine()
                    seen[dpi] = self.window_at_this_dpi(dpi)
        finally:
            self.wine.run("reg", "delete", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/f")
            self.restart_wine()
        yellow, tab_height, width = seen[96]
        self.assertGreater(seen[144][2], 1.3 * width)
        self.assertGreater(seen[144][0], 1.8 * yellow)
        self.assertGreater(seen[144][1], 1.3 * tab_height)

    def window_at_this_dpi(self, dpi):
        """Checks the window at the DPI in effect; gives back the prompt's
        yellow pixels, the tab captions' height and the client width."""
        page = os.path.join(self.dir, "page %d.htm" % dpi)
        write(page)
        st = self.start()
        # Only common controls 6, which the manifest asks for, answer
        # BCM_GETIDEALSIZE.
        self.assertEqual(self.looker.ask("ideal %d" % EXIT)[0].split()[1], "1")
        measures = (self.prompt_pixels(st, "dpi-%d" % dpi), self.tab_height(st), st.client[0])
        ox, oy = st.origin
        client = (ox, oy, ox + st.client[0], oy + st.client[1])
        for tab in range(len(TABS)):
            if tab:
                st = self.open_tab(st, tab)
            for c in st.controls:
                outer = client if c["parent"] == st.hwnd else st.tab["rect"] if c["parent"] == st.page else None
                if outer and c["visible"]:
                    l, t, r, b = c["rect"]
                    self.assertTrue(outer[0] <= l and outer[1] <= t and r <= outer[2] and b <= outer[3],
                                    (dpi, c["id"], c["class"], c["rect"], outer))
            self.assert_texts_fit(st, "%d dpi, %s page" % (dpi, TABS[tab]))
            self.shot(st, "dpi-%d-%s" % (dpi, TABS[tab].lower()))
        l, t, r, b = st.picture()
        self.drop(((l + r) // 2, t + 20), page)
        st = self.until(lambda s: s.main_control(RESULT)["text"], "the result line")
        self.assertTrue(st.main_control(RESULT)["text"].startswith("page %d.htm: " % dpi))
        self.assert_texts_fit(st, "%d dpi, result line" % dpi)
        self.shot(st, "dpi-%d-result" % dpi)
        self.end_with_escape()
        return measures

    def assert_texts_fit(self, st, where):
        """Every text of the window and its page fits its control, as the
        control measures it (a button) or in its font (a static)."""
        for line in self.looker.ask("fit"):
            _, ident, kind, need_w, need_h, have_w, have_h = line.split()
            ident, need_w, need_h, have_w, have_h = (int(x) for x in (ident, need_w, need_h, have_w, have_h))
            control = next((c for c in st.controls if c["id"] == ident and c["class"] == kind), {"text": "?"})
            self.assertLessEqual(need_w, have_w, (where, ident, control["text"]))
            self.assertLessEqual(need_h, have_h, (where, ident, control["text"]))

    def prompt_pixels(self, st, name):
        """The yellow pixels of the prompt: left of the tab control."""
        ox, oy = st.origin
        return self.shot(st, name).count(YELLOW, (ox, oy, st.tab["rect"][0], st.picture()[3]))

    def tab_height(self, st):
        l, t, r, b = st.tab_items[0][0]
        return b - t

    def test_09_help_and_f1_open_the_page_at_the_topic_tooltips_name_the_buttons(self):
        # Beside a copy of the program in a folder whose name a URL must
        # encode; a recording program stands in for the browser.
        folder = os.path.join(self.dir, "Help test #1 100% справка")
        os.makedirs(folder)
        for name in ("webtrim.exe", "Webtrim.html"):
            shutil.copy(os.path.join(BUILD, name), folder)
        record = os.path.join(self.dir, "browser.txt")
        self.wine.set_browser('"%s" --url "%%1"' % winpath(RECORDER))
        env = dict(self.wine.env, WT_RECORD=winpath(record))
        st = self.start(exe=os.path.join(folder, "webtrim.exe"), env=env)
        page = "file:///" + (winpath(folder) + "\\Webtrim.html").replace("\\", "/").replace(
            "%", "%25").replace(" ", "%20").replace("#", "%23")

        def advanced_frames(st):
            return self.toggle(self.open_tab(st, 1), 1017)
        cases = [
            ("Help button", lambda st: self.click_main(st, HELP) or st, ""),
            ("F1 on Remove pictures", lambda st: self.toggle(st, PICTURES), "#8"),
            ("F1 on Frames", advanced_frames, "#11"),
        ]
        for n, (what, act, anchor) in enumerate(cases, 1):
            st = act(st)
            if what.startswith("F1"):
                self.xdo("key", "F1")
            end = time.time() + 10
            while time.time() < end and (not os.path.exists(record) or len(read(record).splitlines()) < n):
                time.sleep(0.1)
            lines = read(record).decode().splitlines() if os.path.exists(record) else []
            self.assertEqual(lines[n - 1:], ['"%s" --url "%s%s"' % (winpath(RECORDER), page, anchor)], what)

        # Every help context of the window has its section in the page.
        source = read(os.path.join(os.path.dirname(__file__), "..", "..", "ui", "mainwnd_win32.cpp")).decode()
        table = source[source.index("HelpIdTable[] = {"):].split("};")[0]
        contexts = re.findall(r"IDC_\w+, (\d+)", table)
        self.assertGreaterEqual(len(contexts), 17)
        for context in contexts:
            self.assertIn(b'id="%s"' % context.encode(), read(os.path.join(folder, "Webtrim.html")))

        # The two buttons that show only an icon have tooltips.
        for ident, text in ((OPEN, "Open a page to clean"), (HELP, "Help")):
            self.xdo("mousemove", *centre(st.main_control(ident)["rect"]))
            end = time.time() + 8
            while ("TIP " + text) not in self.looker.ask("tip") and time.time() < end:
                time.sleep(0.2)
            self.assertIn("TIP " + text, self.looker.ask("tip"))
        self.shot(st, "tooltip")
        self.program.assert_quiet(0.5)
        self.click_main(st, EXIT)
        self.assertEqual(self.program.exit_code(), 1)

    def test_10_any_layout_box_follows_extract_and_default(self):
        st = self.start()
        box = st.page_control(ANY_LAYOUT)
        self.assertEqual(box["text"], "Find the main part in &any layout")
        self.assertTrue(box["enabled"])
        # Below the four boxes, on the page and inside the tab's frame.
        above = st.page_control(BAD_COLORS)["rect"]
        page = next(c for c in st.controls if c["hwnd"] == st.page)["rect"]
        self.assertGreaterEqual(box["rect"][1], above[3])
        self.assertEqual(box["rect"][0], above[0])
        self.assertLessEqual(box["rect"][3], page[3])
        self.assertLess(page[3], st.tab["rect"][3])
        st = self.toggle(st, ANY_LAYOUT)
        self.shot(st, "page-main-any-layout")
        self.save(st, DEFAULT | 0x2000)

        # Without "Extract" the box is greyed, keeps its mark and its bit,
        # and ignores clicks; so it is when the page is built afresh.
        st = self.toggle(st, EXTRACT)
        st = self.until(lambda s: not s.page_control(ANY_LAYOUT)["enabled"], "the box greyed")
        self.assertTrue(st.page_control(ANY_LAYOUT)["checked"])
        self.click_page(st, ANY_LAYOUT)
        self.program.assert_quiet(0.5)
        self.assertTrue(self.state().page_control(ANY_LAYOUT)["checked"])
        self.save(st, (DEFAULT | 0x2000) & ~0x100)
        st = self.open_tab(self.open_tab(st, 1), 0)
        self.assertFalse(st.page_control(ANY_LAYOUT)["enabled"])
        self.shot(st, "page-main-any-layout-greyed")

        # "Default" clears bit 13 and, with "Extract" back on, enables the box.
        self.click_main(st, DEFAULT_BUTTON)
        st = self.until(lambda s: s.page_control(ANY_LAYOUT)["enabled"], "the box enabled again")
        self.assertFalse(st.page_control(ANY_LAYOUT)["checked"])
        self.assertTrue(st.page_control(EXTRACT)["checked"])
        self.save(st, DEFAULT)
        self.end_with_escape()

    # ------------------------------------------------------ keyboard and names

    def focused(self, previous=None, timeout=5.0):
        """The control with the focus: its id, "tabs" for the tab strip;
        waits until it is another than `previous`."""
        end = time.time() + timeout
        while True:
            _, hwnd, ident, kind = self.looker.ask("focus")[0].split()
            now = "tabs" if kind == "SysTabControl32" else int(ident) if int(hwnd) else None
            if now != previous or time.time() > end:
                return now
            time.sleep(0.1)

    def key(self, name, previous):
        self.xdo("key", name)
        return self.focused(previous)

    def test_12_the_keyboard_reaches_every_control_and_page(self):
        st = self.start()
        # The Open button has the focus; Tab goes on as the screen reads:
        # Help beside it, the tab strip, the page, then the other buttons
        # from left to right, and round.
        now = self.focused()
        self.assertEqual(now, OPEN)
        order = []
        for _ in range(11):
            now = self.key("Tab", now)
            order.append(now)
        self.assertEqual(order, [HELP, "tabs", EXTRACT, CUT_TABLES, PICTURES, BAD_COLORS, ANY_LAYOUT,
                                 DEFAULT_BUTTON, SAVE, EXIT, OPEN])
        self.assertEqual(self.key("shift+Tab", now), EXIT)

        # On the tab strip the arrow keys go through all five pages and
        # keep the focus there.
        now = self.key("Tab", self.key("Tab", self.key("Tab", EXIT)))
        self.assertEqual(now, "tabs")
        for key, tabs in (("Right", [1, 2, 3, 4, 4]), ("Left", [3, 2, 1, 0])):
            for tab in tabs:
                self.xdo("key", key)
                st = self.until(lambda s: s.current_tab == tab and s.page is not None, "page %d" % tab)
                self.assertEqual(self.focused(), "tabs", (key, tab))
        self.assertEqual(st.page_ids(), [EXTRACT, CUT_TABLES, PICTURES, BAD_COLORS, ANY_LAYOUT])

        # Ctrl+Tab and Ctrl+Page Down, with the focus on the page, show the
        # next page, round the five, and give the focus to the tab strip.
        now = self.key("Tab", "tabs")
        self.assertEqual(now, EXTRACT)
        for key, tab in (("ctrl+Tab", 1), ("ctrl+Next", 2), ("ctrl+Prior", 1), ("ctrl+shift+Tab", 0),
                         ("ctrl+shift+Tab", 4), ("ctrl+Tab", 0), ("ctrl+Prior", 4), ("ctrl+Next", 0)):
            self.xdo("key", key)
            st = self.until(lambda s: s.current_tab == tab and s.page is not None, key)
            self.assertEqual(self.focused(), "tabs", key)

        # Access keys: a box, a button, the Target page's radio buttons and,
        # for "...", Alt+B.
        self.xdo("key", "alt+p")
        st = self.until(lambda s: s.page_control(PICTURES)["checked"], "Alt+P checking the box")
        self.assertEqual(self.focused(), PICTURES)
        self.xdo("key", "alt+s")
        end = time.time() + 8
        while self.options() != DEFAULT | 0x40 and time.time() < end:
            time.sleep(0.2)
        self.assertEqual(self.options(), DEFAULT | 0x40)
        self.xdo("key", "ctrl+Next", "ctrl+Next")
        st = self.until(lambda s: s.current_tab == 2 and s.page is not None, "the Target page")
        self.xdo("key", "alt+f")
        st = self.until(lambda s: s.page_control(FOLDER)["checked"], "Alt+F choosing Folder")
        self.assertTrue(st.page_control(BROWSE)["enabled"])
        self.xdo("key", "alt+b")
        self.wait_window("Browse for Folder")
        time.sleep(0.5)
        self.xdo("key", "Escape")
        self.wait_window("Browse for Folder", present=False)
        self.xdo("key", "alt+r")
        st = self.until(lambda s: s.page_control(RECYCLE)["checked"], "Alt+R choosing the Recycle Bin")
        self.program.assert_quiet(0.3)
        self.end_with_escape()

    def test_13_access_keys_are_unique_on_each_page_the_icon_buttons_have_names(self):
        st = self.start()
        # The visible texts are those of old; only the & marks are new.
        buttons = {OPEN: "Open a page to clean", HELP: "Help", DEFAULT_BUTTON: "Default", SAVE: "Save",
                   EXIT: "Exit"}
        for ident, text in buttons.items():
            self.assertEqual(st.main_control(ident)["text"].replace("&", ""), text)
        # A screen reader reads the icon buttons' names.
        for ident in (OPEN, HELP):
            self.assertEqual(self.looker.ask("name %d" % ident), ["NAME 1 " + buttons[ident]])
        visible = {
            0: ["Extract the main part of the web page", "Remove tables in the main part", "Remove pictures",
                "Try to avoid of bad page colors", "Find the main part in any layout"],
            1: ["Styles", "Scripts", "Build-in modules", "Forms", "Commentaries", "Frames", "Metatags", "Unused files",
                "Elements that require Internet connection", "Extract main part before deleting"],
            2: ["Recycle Bin", "Folder", "...", "Keep the page's date"],
            3: ["Red", "Green", "Blue"],
            4: [],
        }
        for tab in range(len(TABS)):
            if tab:
                st = self.open_tab(st, tab)
            controls = [c for c in st.controls if c["parent"] == st.page and c["class"] == "Button" and c["id"] != -1]
            self.assertEqual([c["text"].replace("&", "") for c in controls], visible[tab], TABS[tab])
            keys = []
            for c in controls + [st.main_control(i) for i in buttons]:
                marked = re.findall(r"&(.)", c["text"])
                if c["text"] == "...":
                    marked = ["b"]          # Alt+B, which the window handles itself
                self.assertEqual(len(marked), 1, c["text"])
                keys.append(marked[0].lower())
            self.assertEqual(len(keys), len(set(keys)), (TABS[tab], keys))
        self.end_with_escape()

    # ------------------------------------------------------------- result line

    def result_line(self, before):
        """The next text of the result line once a run has ended (a line of
        progress, "2 of 2 pages: b.htm", is passed over); its arrow is
        written "->" where the font has none (Wine's Tahoma)."""
        progress = re.compile(r"\d+ of \d+ pages: ")
        def shown(s):
            return s.main_control(RESULT)["text"].replace(" -> ", " \u2192 ")
        return shown(self.until(lambda s: shown(s) != before and not progress.match(shown(s)), "a new result line"))

    def test_14_the_result_line_says_what_became_of_each_page(self):
        folder = os.path.join(self.dir, "Папка 文件夹")
        kept = os.path.join(self.dir, "оригиналы")
        os.makedirs(folder)
        os.makedirs(kept)
        page = os.path.join(folder, "статья 😀.html")
        text = os.path.join(folder, "notes.txt")
        write(page)
        write(text, b"plain")
        st = self.start()
        self.assertEqual(st.main_control(RESULT)["text"], "")
        l, t, r, b = st.picture()
        inside = ((l + r) // 2, t + 20)

        # A clean into the Recycle Bin, of a page whose name is Cyrillic
        # and an emoji, in a folder named in two scripts.
        self.drop(inside, page)
        line = self.result_line("")
        cleaned = len(read(page))
        self.assertLess(cleaned, len(PAGE))
        self.assertEqual(line, "статья 😀.html: %s \u2192 %s; the original is in the Recycle Bin"
                         % (explorer_size(len(PAGE)), explorer_size(cleaned)))
        self.assertEqual(read(os.path.join(self.wine.trash, "статья 😀.html")), PAGE)

        # A page that is not one: the run's warning, then the line.
        self.drop(inside, text)
        # (the driver shows a line break as \n: so is the "\n" of "\notes.txt")
        shown = winpath(text).replace("\\n", "\n")
        self.assertEqual(self.box(whole=True), NOT_PERMISSIBLE[:2] + (NOT_PERMISSIBLE[2] + "\n\n" + shown,))
        line = self.result_line(line)
        self.assertEqual(line, "notes.txt: The file is not permissible")

        # Into a folder named in Cyrillic: the line names where the
        # original went.
        self.end_with_escape()
        self.wine.reg_set("w0", "REG_DWORD", "0x000013bf")
        self.wine.reg_set("w1", "REG_SZ", winpath(kept))
        write(page)
        st = self.start()
        self.drop(inside, page)
        line = self.result_line("")
        self.assertEqual(line, "статья 😀.html: %s \u2192 %s; the original was moved to %s"
                         % (explorer_size(len(PAGE)), explorer_size(cleaned),
                            winpath(os.path.join(kept, "статья 😀.html"))))
        self.assertEqual(read(os.path.join(kept, "статья 😀.html")), PAGE)
        self.end_with_escape()

    def test_15_several_files_and_a_folder_dropped_at_once(self):
        tree = os.path.join(self.dir, "saved pages")
        kept = os.path.join(tree, "kept")               # where originals go: not walked
        outside = os.path.join(self.dir, "elsewhere")
        for folder in (os.path.join(tree, "sub", "deep"), kept, outside):
            os.makedirs(folder)
        first = os.path.join(self.dir, "a.htm")
        second = os.path.join(self.dir, "статья.html")
        text = os.path.join(self.dir, "notes.txt")
        below = [os.path.join(tree, "1.htm"), os.path.join(tree, "sub", "文件.html"),
                 os.path.join(tree, "sub", "deep", "x.PLG")]
        for path in [first, second] + below + [os.path.join(kept, "old.htm"), os.path.join(outside, "o.htm")]:
            write(path)
        write(text, b"plain")
        write(os.path.join(tree, "readme.txt"), b"plain")
        # A link to a folder is not followed (Wine does not even list it).
        os.symlink(outside, os.path.join(tree, "link"))
        self.wine.reg_set("w0", "REG_DWORD", "0x000013bf")
        self.wine.reg_set("w1", "REG_SZ", winpath(kept))

        # The driver answers the question with Yes.
        st = self.start(env=dict(self.wine.env, WT_PRESS="6"))
        l, t, r, b = st.picture()
        self.drop(((l + r) // 2, t + 20), first, second, text, tree)
        # The question comes before anything is cleaned, the warning of the
        # text file when its turn comes.
        self.assertEqual(self.program.next_box(),
                         ("Webtrim", "question", "Clean the 3 pages in %s and the folders below it?" % winpath(tree)))
        # The pages not cleaned are listed in one report at the end.
        self.assertEqual(self.program.next_box(), ("Webtrim", "error", "5 pages cleaned, 1 failed."))
        _, _, copied = self.program.next_report()
        self.assertEqual(copied, "5 pages cleaned, 1 failed.\n\n%s\t%s\n"
                         % (winpath(text), NOT_PERMISSIBLE[2].replace("\n", " ")))
        self.assertEqual(self.result_line(""), "5 pages cleaned, 1 failed: notes.txt")
        cleaned = [first, second] + below
        for path in cleaned:
            self.assertNotIn(b"<script", read(path), path)
        # Cleaned in order: each page written no earlier than the one before.
        times = [os.stat(path).st_mtime_ns for path in cleaned]
        self.assertEqual(times, sorted(times))
        for path in (os.path.join(kept, "old.htm"), os.path.join(outside, "o.htm")):
            self.assertEqual(read(path), PAGE)
        self.assertEqual(sorted(os.listdir(kept)),
                         sorted(["old.htm", "a.htm", "статья.html", "1.htm", "文件.html", "x.PLG"]))
        self.end_with_escape()

    def test_16_counts_in_the_singular_and_the_new_line_under_any_box(self):
        one = os.path.join(self.dir, "one")
        os.makedirs(one)
        page, second, text = os.path.join(one, "a.htm"), os.path.join(self.dir, "b.htm"), \
            os.path.join(self.dir, "notes.txt")
        write(page)
        write(second)
        write(text, b"plain")
        st = self.start(env=dict(self.wine.env, WT_PRESS="6"))
        l, t, r, b = st.picture()
        inside = ((l + r) // 2, t + 20)
        self.drop(inside, one)
        self.assertEqual(self.program.next_box(),
                         ("Webtrim", "question", "Clean the 1 page in %s and the folders below it?" % winpath(one)))
        line = self.result_line("")
        self.assertTrue(line.startswith("a.htm: "), line)
        # a.htm is clean now: one of each, in the singular.
        self.drop(inside, page, second)
        line = self.result_line(line)
        self.assertEqual(line, "1 page cleaned, 1 already clean")
        # While a box is open the line already tells of its run.
        write(second)
        for dropped, want in (((text,), "notes.txt: The file is not permissible"),
                              ((second, text), "1 page cleaned, 1 failed: notes.txt")):
            self.drop(inside, *dropped)
            self.program.next_box()
            self.assertEqual(self.state().main_control(RESULT)["text"], want)
            if len(dropped) > 1:
                self.program.next_report()
            self.until(lambda s: s.enabled, "the window enabled again")
        self.end_with_escape()

    def test_17_a_long_run_answers_shows_progress_and_stops_on_cancel_or_close(self):
        folder, kept = os.path.join(self.dir, "many"), os.path.join(self.dir, "kept")
        os.makedirs(folder)
        os.makedirs(kept)
        pages = [os.path.join(folder, "p%03d.htm" % i) for i in range(300)]
        for path in pages:
            write(path)
        self.wine.reg_set("w0", "REG_DWORD", "0x000013bf")
        self.wine.reg_set("w1", "REG_SZ", winpath(kept))
        question = ("Webtrim", "question", "Clean the 300 pages in %s and the folders below it?" % winpath(folder))
        progress = re.compile(r"(\d+) of 300 pages: p(\d{3})\.htm$")
        st = self.start(env=dict(self.wine.env, WT_PRESS="6"))
        l, t, r, b = st.picture()
        inside = ((l + r) // 2, t + 20)
        self.drop(inside, folder)
        self.assertEqual(self.program.next_box(), question)
        st = self.until(lambda s: progress.match(s.main_control(RESULT)["text"]), "the progress")
        shown = progress.match(st.main_control(RESULT)["text"])
        self.assertEqual(int(shown.group(1)) - 1, int(shown.group(2)))
        # Cancel takes Default's place; Open waits for the run's end.
        self.assertTrue(st.main_control(CANCEL_RUN)["visible"])
        self.assertFalse(st.main_control(DEFAULT_BUTTON)["visible"])
        self.assertFalse(st.main_control(OPEN)["enabled"])
        self.shot(st, "progress")
        # The window answers within a second all through.
        calls, unanswered, slowest = (int(x) for x in self.looker.ask("alive 1500")[0].split()[1:])
        self.assertGreater(calls, 10)
        self.assertEqual(unanswered, 0)
        self.assertLess(slowest, 1000)

        self.click_main(st, CANCEL_RUN)
        summary = re.compile(r"(\d+) pages? cleaned; stopped, (\d+) pages? left as (?:it was|they were)$")
        st = self.until(lambda s: summary.match(s.main_control(RESULT)["text"]), "the summary")
        shown = summary.match(st.main_control(RESULT)["text"])
        done = int(shown.group(1))
        self.assertEqual(done + int(shown.group(2)), 300)
        self.assertLess(done, 300)
        # The pages before the stop are cleaned, those after it untouched.
        self.assertEqual([b"<script" not in read(path) for path in pages], [True] * done + [False] * (300 - done))
        self.assertEqual(len(os.listdir(kept)), done)
        self.assertFalse(st.main_control(CANCEL_RUN)["visible"])
        self.assertTrue(st.main_control(DEFAULT_BUTTON)["visible"])
        self.assertTrue(st.main_control(OPEN)["enabled"])
        # The focus, on Cancel since the run began, is back on Open.
        self.assertEqual(self.focused(), OPEN)
        self.program.assert_quiet(0.3)

        # Closing during a run asks; Yes stops it, and its report comes
        # before the window ends.
        self.drop(inside, folder)
        self.assertEqual(self.program.next_box(), question)
        self.until(lambda s: progress.match(s.main_control(RESULT)["text"]), "the progress")
        self.xdo("key", "Escape")
        self.assertEqual(self.program.next_box(), ("Webtrim", "question", STOP_QUESTION))
        caption, icon, text = self.program.next_box()
        self.assertEqual((caption, icon), ("Webtrim", "information"))
        self.assertRegex(text, r"^(\d+ pages? cleaned, )?\d+ already clean; stopped, \d+ pages? left as")
        self.assertEqual(self.program.next_report()[2], "")
        self.assertEqual(self.program.exit_code(), 1)

    def test_18_many_failures_give_one_report_inside_the_screen(self):
        folder = os.path.join(self.dir, "wide")
        os.makedirs(folder)
        for i in range(40):
            winetest.write(os.path.join(folder, "w%02d.htm" % i), WIDE_PAGE)
        for name in ("a.htm", "b.htm"):
            write(os.path.join(folder, name))
        st = self.start(env=dict(self.wine.env, WT_PRESS="6"))
        l, t, r, b = st.picture()
        self.drop(((l + r) // 2, t + 20), folder)
        self.program.next_box()
        self.assertEqual(self.program.next_box(), ("Webtrim", "error", "2 pages cleaned, 40 failed."))
        rect, work, copied = self.program.next_report()
        self.assertTrue(work[0] <= rect[0] < rect[2] <= work[2] and work[1] <= rect[1] < rect[3] <= work[3],
                        (rect, work))
        reason = "The page is stored as UTF-16 (or UTF-32). Only pages in ASCII, UTF-8 or a single-byte " \
                 "code page can be cleaned."
        self.assertEqual(copied, "2 pages cleaned, 40 failed.\n\n" + "".join(
            "%s\t%s\n" % (winpath(os.path.join(folder, "w%02d.htm" % i)), reason) for i in range(40)))
        self.until(lambda s: s.enabled, "the window enabled again")
        self.assertEqual(self.state().main_control(RESULT)["text"],
                         "2 pages cleaned, 40 failed: " + ", ".join("w%02d.htm" % i for i in range(40)))
        self.end_with_escape()

    def test_19_the_result_line_counts_the_companion_files_that_went(self):
        # New settings trim the folder: with the styles go the style sheets
        # and what they name, with the script its file.
        page = write_saved_page(self.dir)
        companion = os.path.join(self.dir, "p_files")
        kept = ["$Recycle.Bin/S-1-5-21/x.png", "logo.gif", "used.png"]
        gone = [n for n in SAVED_FILES if n not in kept]
        st = self.start()
        l, t, r, b = st.picture()
        self.drop(((l + r) // 2, t + 20), page)
        line = self.result_line("")
        self.assertEqual(line, "p.htm: %s \u2192 %s; companion files %d (%s); the original is in the Recycle Bin"
                         % (explorer_size(len(SAVED_PAGE)), explorer_size(len(read(page))), len(gone),
                            explorer_size(sum(len(SAVED_FILES[n]) for n in gone))))
        self.assertEqual(sorted(folder_bytes(companion)), kept)
        self.assertEqual(sorted(os.listdir(self.wine.trash)), sorted(set(n.split("/")[-1] for n in gone) | {"p.htm"}))
        self.end_with_escape()


if __name__ == "__main__":
    unittest.main(verbosity=2)
