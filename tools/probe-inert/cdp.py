"""Headless chromium driven through DevTools over --remote-debugging-pipe
(file descriptors 3 and 4, messages ended by a NUL byte): no package beyond
Python's own. One browser serves many pages; each page gets a browser
context of its own (its own cache and cookies) that goes with it.

Events are kept per session in arrival order until the page is closed.
"""
import json
import os
import select
import subprocess
import time

# A quiet browser: none of its own traffic, no prompts, any certificate
# (probe.py takes these too, with its own additions).
QUIET_FLAGS = [
    '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--disable-default-apps', '--disable-extensions', '--no-default-browser-check',
    '--disable-client-side-phishing-detection', '--disable-domain-reliability',
    '--disable-breakpad', '--ignore-certificate-errors',
    '--disable-features=NetworkTimeServiceQuerying,AutofillServerCommunication,'
    'OptimizationGuideModelDownloading,OptimizationHintsFetching,OptimizationTargetPrediction,'
    'OptimizationHints',
]
FLAGS = QUIET_FLAGS + ['--remote-debugging-pipe']


class Browser:
    def __init__(self, chromium, profile, extra=()):
        to_r, self.to_w = os.pipe()
        self.from_r, from_w = os.pipe()

        def child():
            os.dup2(to_r, 3)
            os.dup2(from_w, 4)
        self.proc = subprocess.Popen([chromium] + FLAGS + list(extra) +
                                     ['--user-data-dir=' + profile, 'about:blank'],
                                     preexec_fn=child, pass_fds=(3, 4),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_r)
        os.close(from_w)
        self.buf = b''
        self.next_id = 0
        self.answers = {}
        self.events = {}        # session -> [(method, params)]
        self.own_scripts = set()  # hashes of what the browser runs by itself

    def _pump(self, until):
        """Reads messages until `until` is past (a time) or the pipe ends;
        returns False when chromium has gone."""
        wait = max(0.0, until - time.time())
        r, _, _ = select.select([self.from_r], [], [], wait)
        if not r:
            return True
        chunk = os.read(self.from_r, 1 << 20)
        if not chunk:
            return False
        self.buf += chunk
        while b'\0' in self.buf:
            raw, self.buf = self.buf.split(b'\0', 1)
            m = json.loads(raw)
            if 'id' in m:
                self.answers[m['id']] = m
            else:
                self.events.setdefault(m.get('sessionId'), []).append(
                    (m.get('method'), m.get('params', {})))
        return True

    def call(self, method, params=None, session=None, timeout=60):
        """The result of a command; None when it failed or timed out."""
        self.next_id += 1
        n = self.next_id
        msg = {'id': n, 'method': method, 'params': params or {}}
        if session:
            msg['sessionId'] = session
        os.write(self.to_w, json.dumps(msg).encode() + b'\0')
        end = time.time() + timeout
        while n not in self.answers and time.time() < end:
            if not self._pump(min(end, time.time() + 1)):
                break
        m = self.answers.pop(n, None)
        return m.get('result') if m else None

    def wait_event(self, session, pred, timeout):
        """True once an event of the session satisfies pred (events seen
        before count too)."""
        end = time.time() + timeout
        while True:
            if any(pred(m, p) for m, p in self.events.get(session, [])):
                return True
            if time.time() >= end or not self._pump(min(end, time.time() + 1)):
                return False

    def settle(self, session, quiet):
        """Lets the page run until `quiet` seconds pass without an event."""
        end = time.time() + 30
        seen = -1
        while time.time() < end and seen != len(self.events.get(session, [])):
            seen = len(self.events.get(session, []))
            stop = time.time() + quiet
            while time.time() < stop:
                if not self._pump(stop):
                    return

    def open(self, url, domains=('Page', 'Network', 'Debugger'), load_timeout=30, quiet=0.5):
        """Opens url in a new context with the DevTools domains enabled
        before the load; answers (context, session) once it has loaded and
        gone quiet. The caller closes it with close_page."""
        ctx = self.call('Target.createBrowserContext', {'disposeOnDetach': True})['browserContextId']
        target = self.call('Target.createTarget', {'url': 'about:blank',
                                                   'browserContextId': ctx})['targetId']
        session = self.call('Target.attachToTarget', {'targetId': target,
                                                      'flatten': True})['sessionId']
        for d in domains:
            self.call(d + '.enable', session=session)
        self.events[session] = []
        self.call('Page.navigate', {'url': url}, session)
        self.wait_event(session, lambda m, p: m == 'Page.loadEventFired', load_timeout)
        self.settle(session, quiet)
        return ctx, session

    def evaluate(self, session, expression):
        r = self.call('Runtime.evaluate', {'expression': expression, 'returnByValue': True},
                      session)
        return (r or {}).get('result', {}).get('value')

    def close_page(self, ctx, session):
        self.events.pop(session, None)
        self.call('Target.disposeBrowserContext', {'browserContextId': ctx})

    def quit(self):
        try:
            os.write(self.to_w, json.dumps({'id': 0, 'method': 'Browser.close'}).encode() + b'\0')
            self.proc.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()
            self.proc.wait()
        os.close(self.to_w)
        os.close(self.from_r)
