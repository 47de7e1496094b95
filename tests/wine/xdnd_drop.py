"""A small X11 drag-and-drop (XDND) source: drops files on whatever X
window lies under a screen point, the way a file manager does.

Wine's X11 driver takes such a drop and hands it to a window that accepts
files as WM_DROPFILES. Run with Debian's python3 (python3-xlib):

    /usr/bin/python3 xdnd_drop.py X Y PATH...      (DISPLAY from the environment)

or call drop(display_name, x, y, paths) from a test."""
import sys
import time
import urllib.parse

from Xlib import X, display
from Xlib.protocol import event

XDND_VERSION = 5


class DropError(Exception):
    pass


def _uri_list(paths):
    return "".join("file://%s\r\n" % urllib.parse.quote(p) for p in paths).encode()


def _aware_window(d, root, x, y):
    """The outermost window under (x, y) that says it takes XDND drops."""
    aware = d.intern_atom("XdndAware")
    window = root
    while True:
        child = window.translate_coords(root, x, y).child
        if not child or child.id == 0:
            return None
        if child.get_full_property(aware, X.AnyPropertyType) is not None:
            return child
        window = child


class _Source:
    def __init__(self, d, paths):
        self.d = d
        self.root = d.screen().root
        self.data = _uri_list(paths)
        self.atoms = {name: d.intern_atom(name) for name in (
            "XdndEnter", "XdndPosition", "XdndStatus", "XdndDrop", "XdndFinished",
            "XdndLeave", "XdndSelection", "XdndActionCopy", "XdndTypeList", "text/uri-list")}
        self.window = self.root.create_window(-10, -10, 1, 1, 0, X.CopyFromParent,
                                              event_mask=X.PropertyChangeMask)
        self.window.set_selection_owner(self.atoms["XdndSelection"], X.CurrentTime)
        d.sync()

    def send(self, target, kind, data):
        ev = event.ClientMessage(window=target, client_type=self.atoms[kind],
                                 data=(32, data))
        target.send_event(ev, event_mask=X.NoEventMask)
        self.d.flush()

    def answer(self, ev):
        """Gives the file list to a program that asked for the selection."""
        ok = ev.target == self.atoms["text/uri-list"]
        prop = ev.property if ev.property != X.NONE else ev.target
        if ok:
            ev.requestor.change_property(prop, ev.target, 8, self.data)
        reply = event.SelectionNotify(time=ev.time, requestor=ev.requestor,
                                      selection=ev.selection, target=ev.target,
                                      property=prop if ok else X.NONE)
        ev.requestor.send_event(reply, event_mask=X.NoEventMask)
        self.d.flush()

    def wait_for(self, kind, seconds):
        """Serves selection requests until a client message `kind` comes."""
        end = time.time() + seconds
        while time.time() < end:
            while self.d.pending_events():
                ev = self.d.next_event()
                if ev.type == X.SelectionRequest:
                    self.answer(ev)
                elif ev.type == X.ClientMessage and ev.client_type == self.atoms[kind]:
                    return ev
            time.sleep(0.005)
        return None


def drop(display_name, x, y, paths, timeout=10.0):
    """Moves the pointer to (x, y) and drops the files there. Returns True
    when the target took the drop (its XdndStatus accepted it)."""
    d = display.Display(display_name)
    try:
        root = d.screen().root
        root.warp_pointer(x, y)
        d.sync()
        time.sleep(0.3)         # let the program see the pointer move
        target = _aware_window(d, root, x, y)
        if target is None:
            raise DropError("no XDND-aware window at %d,%d" % (x, y))
        src = _Source(d, paths)
        uri = src.atoms["text/uri-list"]
        src.send(target, "XdndEnter", [src.window.id, XDND_VERSION << 24, uri, 0, 0])
        src.send(target, "XdndPosition", [src.window.id, 0, (x << 16) | y, X.CurrentTime,
                                          src.atoms["XdndActionCopy"]])
        status = src.wait_for("XdndStatus", timeout)
        if status is None:
            raise DropError("no XdndStatus from the target")
        accepted = bool(status.data[1][1] & 1)
        if not accepted:
            src.send(target, "XdndLeave", [src.window.id, 0, 0, 0, 0])
            return False
        src.send(target, "XdndDrop", [src.window.id, 0, X.CurrentTime, 0, 0])
        # The drop is finished once the program has read the files; it may
        # then be busy with a message box, so the answer is not awaited long.
        src.wait_for("XdndFinished", timeout)
        return True
    finally:
        d.close()


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    took = drop(None, int(sys.argv[1]), int(sys.argv[2]), sys.argv[3:])
    print("accepted" if took else "refused")
