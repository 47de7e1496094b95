"""Common ground of the Wine tests: a private Wine prefix, a private X
display, and ways to run webtrim.exe and read what it showed and stored.

The tests run the real webtrim.exe of the build they are given (32-bit or
64-bit), under Wine's loader of the same width, called by its path: Debian's
`wine` command always takes the 32-bit loader when it is installed, even on
a host that cannot run it. Each build has a prefix of its own under its
build folder (a prefix is 32- or 64-bit for good). Paths given to the
program are Windows paths on Wine's Z: drive, which maps the Linux root."""
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

BUILD = os.environ.get("WEBTRIM_WIN_BUILD", os.path.join(os.path.dirname(__file__), "../../build/windows"))
BUILD = os.path.abspath(BUILD)
EXE = os.path.join(BUILD, "webtrim.exe")
DRIVER = os.path.join(BUILD, "tests", "wine", "wtdrive.exe")
FILES = os.path.join(BUILD, "tests", "wine", "wtfile.exe")
KEY = r"HKCU\Software\Halvane\Webtrim"
# The loader of the build's width; the build's tests are given it.
LOADER = os.environ.get("WEBTRIM_WINE_LOADER", "/usr/lib/wine/wine")


def winpath(path):
    """The Windows form of a Linux path, on drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Wine:
    """A Wine prefix and an X display of this test run's own."""

    def __init__(self, name, fresh=False):
        self.root = os.path.join(BUILD, "winetest-" + name)
        if fresh:
            shutil.rmtree(self.root, ignore_errors=True)
        os.makedirs(self.root, exist_ok=True)
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": os.path.join(self.root, "prefix"),
            "WINEDEBUG": "-all",
            # No Mono, no Gecko; winemenubuilder would copy shortcuts and
            # file types into the desktop's menus.
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
            # Wine's Recycle Bin is the freedesktop trash of this home.
            "HOME": os.path.join(self.root, "home"),
            "XDG_DATA_HOME": os.path.join(self.root, "home", ".local", "share"),
            # One locale for every machine: names reach Wine in UTF-8, and
            # Wine's own folders and code page are the English ones.
            "LANG": "C.UTF-8",
            # Programs that Wine starts itself start under the same loader.
            "WINELOADER": LOADER,
        })
        for name in ("LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LANGUAGE"):
            self.env.pop(name, None)
        os.makedirs(self.env["XDG_DATA_HOME"], exist_ok=True)
        self.xvfb = None
        self._start_display()
        # A wineserver that stays between programs makes each start quick.
        # The programs that Wine keeps running beside ours (services, the
        # desktop) stay with it, so output is read from files, never pipes
        # that they would hold open.
        os.makedirs(self.env["WINEPREFIX"], exist_ok=True)
        subprocess.run(["wineserver", "-p"], env=self.env, check=False)
        subprocess.run([LOADER, "wineboot", "-i"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)

    def _start_display(self):
        r, w = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
        os.close(r)
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, check=False)
        shutil.rmtree(os.path.join(self.root, "files"), ignore_errors=True)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()

    @property
    def trash(self):
        return os.path.join(self.env["XDG_DATA_HOME"], "Trash", "files")

    def run(self, program, *args, timeout=120, env=None):
        """Runs a Windows program; gives back its exit code and standard
        output (returncode, stdout) like subprocess.run."""
        with tempfile.TemporaryFile() as out:
            r = subprocess.run([LOADER, program, *args], env=env or self.env, stdout=out,
                               stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                               timeout=timeout)
            out.seek(0)
            return subprocess.CompletedProcess(r.args, r.returncode,
                                               out.read().decode("utf-8", "replace"), "")

    def drive(self, cmdline, press=None, timeout_ms=60000, env=None):
        """Runs a raw Windows command line under the driver (with `env`
        instead of the prefix's environment, when given); gives back the
        list of message boxes (caption, icon, text) and the exit code.
        Each box's default button goes into self.defaults. The report
        dialog at a run's end is no message box: it goes into self.reports
        as (caption, icon, sentence, rectangle, work area, copied text)."""
        boxes, code, self.reports, self.defaults = self.drive_all(cmdline, press, timeout_ms, env)
        return boxes, code

    def drive_all(self, cmdline, press=None, timeout_ms=60000, env=None):
        """drive() giving boxes, exit code, reports and default buttons.
        `cmdline` may hold several command lines, one a line, started
        together: the exit code is then the list of theirs."""
        env = dict(env or self.env)
        env["WT_CMDLINE"] = cmdline
        env["WT_TIMEOUT"] = str(timeout_ms)
        if press is not None:
            env["WT_PRESS"] = str(press)
        out = self.run(DRIVER, env=env, timeout=timeout_ms / 1000 + 60).stdout
        boxes, code, reports, defaults = [], None, [], []
        for line in out.splitlines():
            parts = line.split("\t")
            if parts[0] == "BOX":
                boxes.append((parts[1], parts[2], parts[3].replace("\\n", "\n")))
                defaults.append(int(parts[4]))
            elif parts[0] == "REPORT":
                # The box just read was the report dialog.
                defaults.pop()
                reports.append(boxes.pop() + parse_report(parts))
            elif parts[0] == "EXIT":
                code = int(parts[1]) if code is None else (code if isinstance(code, list) else [code]) + [int(parts[1])]
            elif parts[0] in ("TIMEOUT", "NOSTART"):
                raise AssertionError("driver: " + line)
        return boxes, code, reports, defaults

    def clean(self, path_text, press=None):
        """Runs webtrim.exe with the given command-line tail; each message
        box's text up to the page's name and the system's reason, which
        follow a blank line (clean_full gives them)."""
        boxes, code = self.clean_full(path_text, press)
        return [(caption, icon, text.split("\n\n")[0]) for caption, icon, text in boxes], code

    def clean_full(self, path_text, press=None):
        """Runs webtrim.exe with the given command-line tail, its boxes whole."""
        return self.drive('"%s" %s' % (winpath(EXE), path_text), press=press)

    def files(self, *ops):
        """Runs wtfile.exe's operations (op, path[, value], ...); gives back
        one list of fields per operation, e.g. ["ATTR", "22"]."""
        out = self.run(FILES, *ops).stdout
        return [line.split("\t") for line in out.splitlines()]

    # Registry of the prefix.
    def reg_query(self, name, key=KEY):
        """The value's type and data as reg.exe shows them, or None."""
        return self.reg_values(key).get(name)

    def reg_values(self, key):
        """Every value of the key: {name: (type, data)}, the default value
        under ""; None when the key does not exist."""
        # Under a loaded machine reg.exe now and then fails for no reason
        # of the key's: only its own "cannot find" answer means no key.
        for _ in range(5):
            with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
                r = subprocess.run([LOADER, "reg", "query", key], env=self.env, stdout=out, stderr=err,
                                   stdin=subprocess.DEVNULL, timeout=120)
                out.seek(0)
                err.seek(0)
                stdout, stderr = out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")
            if r.returncode == 0 or "Unable to find" in stdout + stderr:
                break
            time.sleep(1)
        else:
            raise AssertionError("reg query %s failed (%d): %s" % (key, r.returncode, (stdout + stderr).strip()))
        if r.returncode != 0:
            return None
        values = {}
        for line in stdout.splitlines():
            if not line.startswith("    "):
                continue
            parts = line.strip().split("    ", 2)
            name = "" if parts[0] == "(Default)" else parts[0]
            values[name] = (parts[1], parts[2] if len(parts) > 2 else "")
        return values

    def set_browser(self, command):
        """Makes `command` the program that opens .html files. Wine reads
        file types from HKEY_CLASSES_ROOT alone."""
        self.run("reg", "add", r"HKCR\.html", "/ve", "/d", "WebtrimTest.html", "/f")
        self.run("reg", "add", r"HKCR\WebtrimTest.html\shell\open\command", "/ve", "/d", command, "/f")

    def unix(self, path):
        """The Linux path of a Windows path on drive C: or Z:."""
        drive, rest = path[0].upper(), path[3:].replace("\\", "/")
        if drive == "Z":
            return "/" + rest
        return os.path.join(self.env["WINEPREFIX"], "drive_" + drive.lower(), rest)

    def reg_set(self, name, kind, data):
        self.run("reg", "add", KEY, "/v", name, "/t", kind, "/d", data, "/f")

    def reg_delete_key(self):
        self.run("reg", "delete", KEY, "/f")


def parse_report(parts):
    """A REPORT line's fields: the dialog's rectangle, the work area of
    its monitor, and the text that Copy gave, lines without their CR."""
    text = re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), parts[3])
    return tuple(int(x) for x in parts[1].split()), tuple(int(x) for x in parts[2].split()), text


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


# A page saved "complete", and its folder: a style sheet whose chain reaches
# two pictures, two pictures of the page's own (one named in another case),
# a script, a picture nothing names in a folder of its own, and a Recycle
# Bin's folder, never entered.
SAVED_PAGE = (b'<html><head><link rel="stylesheet" href="p_files/style.css"></head><body><table><tr><td>'
              b'<p>The text of the page, long enough to stay.</p><img src="p_files/used.png">'
              b'<img src="P_Files/Logo.GIF"><script src="p_files/t.js"></script></td></tr></table></body></html>')
SAVED_FILES = {
    "used.png": b"\x89PNG used",
    "logo.gif": b"GIF89a logo",
    "t.js": b"track();" * 100,
    "style.css": b'@import "css/more.css"; body { background: url(img/bg.png) }',
    "css/more.css": b'p { background: url("../img/dot.gif") }',
    "img/bg.png": b"\x89PNG bg",
    "img/dot.gif": b"GIF89a dot",
    "img/old/unused.png": b"\x89PNG unused" * 200,
    "$Recycle.Bin/S-1-5-21/x.png": b"\x89PNG x",
}


def write_saved_page(folder):
    """The saved page in `folder`; its path."""
    for name, data in SAVED_FILES.items():
        path = os.path.join(folder, "p_files", *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write(path, data)
    write(os.path.join(folder, "p.htm"), SAVED_PAGE)
    return os.path.join(folder, "p.htm")


def folder_bytes(path):
    """Every file below `path` by its path there ('/' between names), with its bytes."""
    found = {}
    for d, _, files in os.walk(path):
        for f in files:
            found[os.path.relpath(os.path.join(d, f), path).replace(os.sep, "/")] = read(os.path.join(d, f))
    return found


def scratch(wine, name):
    """A fresh folder for one test's files."""
    path = os.path.join(wine.root, "files", name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path
