#!/usr/bin/env python3
"""Opens pages in headless chromium, as a user would open them, before and
after webtrim cleans them, and counts what they load from the network and
the scripts they run.

Every host name resolves to a local server on 127.0.0.1 (chromium's
--host-resolver-rules), which answers http and https (a certificate of its
own, made here with openssl) on one port and notes every request. Each page
is served from http://page.test/ with a report-only Content-Security-Policy
that forbids every script, so that each script chromium would run (inline,
loaded, handler, javascript: address) is reported to the server and counted,
while nothing is blocked. A request to any host but page.test is a network
request; on the probe pages each vector asks for its own /probe/ path.

usage: probe.py [--webtrim PATH] [--corpus DIR] [--limit N] [--words W,...]
                [--corpus-words W,...] [--keep DIR]

The probe pages are cleaned under each of --words (default: the default
switches; those without extract; scripts and internet alone), the corpus
under each of --corpus-words (default: the default switches).

Pages are opened one at a time, each in a new empty profile: every request
the server sees while a page is open is that page's.

Chromium is installed with apt when missing (Debian's package is large: it is
not part of the default tests). Prints a table per switch word and exits 1
when a cleaned page still loads or runs anything.
"""
import argparse
import http.server
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import urllib.parse

import cdp

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
PROBES = ['probe.htm', 'probe-base.htm', 'probe-refresh.htm', 'probe-parser.htm']
PAGE_HOST = 'page.test'
DEFAULT_WORDS = ['0x100013BF', '0x100012BF', '0x10000012']   # default; without extract; scripts+internet
CHROMIUM_FLAGS = cdp.QUIET_FLAGS + ['--autoplay-policy=no-user-gesture-required', '--virtual-time-budget=4000',
                                    '--dump-dom']


def ensure_chromium():
    for name in ('chromium', 'chromium-browser'):
        path = shutil.which(name)
        if path:
            return path
    print('probe: installing chromium with apt', file=sys.stderr)
    sudo = [] if os.geteuid() == 0 else ['sudo']
    env = dict(os.environ, DEBIAN_FRONTEND='noninteractive')
    subprocess.run(sudo + ['apt-get', 'update', '-qq'], check=True, env=env)
    subprocess.run(sudo + ['apt-get', 'install', '-y', '-qq', '--no-install-recommends', 'chromium'],
                   check=True, env=env)
    return shutil.which('chromium')


class Log:
    """What the server saw, by the page that was open (its token)."""

    def __init__(self):
        self.lock = threading.Lock()
        self.by_token = {}

    def add(self, token, kind, what):
        with self.lock:
            self.by_token.setdefault(token, []).append((kind, what))

    def take(self, token):
        with self.lock:
            return self.by_token.pop(token, [])


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = 'probe'
    protocol_version = 'HTTP/1.0'

    def log_message(self, *args):
        pass

    def token(self):
        # One page is open at a time: what comes now is its doing (a
        # Referer across hosts carries no path to tell more).
        return self.server.current

    def answer(self, status, body=b'', kind='text/plain', extra=()):
        self.send_response(status)
        self.send_header('Content-Type', kind)
        self.send_header('Content-Length', str(len(body)))
        for k, v in extra:
            self.send_header(k, v)
        self.end_headers()
        if self.command != 'HEAD':
            self.wfile.write(body)

    def do_GET(self):
        host = (self.headers.get('Host') or '').split(':')[0].lower()
        path = urllib.parse.urlsplit(self.path).path
        token = self.token()
        if host == PAGE_HOST and path.startswith('/page/'):
            parts = path.split('/')
            name = urllib.parse.unquote(parts[3]) if len(parts) > 3 else ''
            page = self.server.pages.get((parts[2], name))
            if page is not None:
                csp = "script-src 'none'; script-src-attr 'none'; report-uri http://%s/__csp/%s" % (
                    PAGE_HOST, parts[2])
                self.answer(200, page, 'text/html', [('Content-Security-Policy-Report-Only', csp)])
                return
            # A relative address of the page: a file saved beside it.
            self.server.log.add(token, 'local', path)
            self.answer(404)
            return
        if host == PAGE_HOST:
            # The page's own host: its favicon, files beside it.
            self.server.log.add(token, 'local', path)
            self.answer(404)
            return
        self.note_network(token, host, path)
        self.answer(404)

    def note_network(self, token, host, path):
        # Chromium's own traffic that no flag turns off (its updater): the
        # hosts it asks while a blank page is open, asked without a Referer.
        own = host in self.server.browser_hosts and not self.headers.get('Referer')
        self.server.log.add(token, 'browser' if own else 'network', host + path)

    def do_POST(self):
        host = (self.headers.get('Host') or '').split(':')[0].lower()
        path = urllib.parse.urlsplit(self.path).path
        length = int(self.headers.get('Content-Length') or 0)
        body = self.rfile.read(length) if length else b''
        if host == PAGE_HOST and path.startswith('/__csp/'):
            self.server.log.add(path.split('/')[2], 'script', body[:2000].decode('latin-1'))
            self.answer(204)
            return
        self.note_network(self.token(), host, path)
        self.answer(404)

    do_HEAD = do_GET


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, tls):
        super().__init__(('127.0.0.1', 0), Handler)
        self.tls = tls
        self.log = Log()
        self.pages = {}
        self.current = ''
        self.browser_hosts = set()

    def get_request(self):
        sock, addr = self.socket.accept()
        sock.settimeout(10)
        try:
            first = sock.recv(1, socket.MSG_PEEK)
            if first == b'\x16':        # a TLS handshake: https or wss
                sock = self.tls.wrap_socket(sock, server_side=True)
        except (OSError, ssl.SSLError):
            pass
        return sock, addr

    def handle_error(self, request, client_address):
        pass


def make_tls(folder):
    key, cert = os.path.join(folder, 'key.pem'), os.path.join(folder, 'cert.pem')
    subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2',
                    '-subj', '/CN=probe', '-keyout', key, '-out', cert],
                   check=True, capture_output=True)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(cert, key)
    return ctx


def clean(webtrim, page, word, home):
    """The page as webtrim cleans it under the switch word; None when webtrim
    refuses it (a page stored as UTF-16 is left as it was)."""
    cfg = os.path.join(home, 'config', 'halvane')
    os.makedirs(cfg, exist_ok=True)
    with open(os.path.join(cfg, 'webtrim.ini'), 'w') as f:
        f.write('[Webtrim]\nw0=%s\nw1=\n' % word)
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, 'config'),
               XDG_DATA_HOME=os.path.join(home, 'data'))
    r = subprocess.run([webtrim, '-'], input=page, capture_output=True, env=env, timeout=120)
    if r.returncode != 0 and b'UTF-16' in r.stderr:
        return None
    if r.returncode != 0:
        raise RuntimeError('webtrim failed: %s' % r.stderr.decode(errors='replace'))
    return r.stdout


def open_page(chromium, server, token, name, work):
    """Opens the page in a fresh profile; answers what the server saw."""
    profile = tempfile.mkdtemp(prefix='profile-', dir=work)
    port = server.server_address[1]
    url = 'http://%s/page/%s/%s' % (PAGE_HOST, token, urllib.parse.quote(name))
    cmd = [chromium] + CHROMIUM_FLAGS + [
        '--user-data-dir=' + profile,
        '--host-resolver-rules=MAP * 127.0.0.1:%d' % port, url]
    try:
        subprocess.run(cmd, capture_output=True, timeout=60)
    except subprocess.TimeoutExpired:
        pass
    shutil.rmtree(profile, ignore_errors=True)
    return server.log.take(token)


def summarise(events):
    network = sorted({w for k, w in events if k == 'network'})
    # A report of a script file beside the page (a preload of it, or a
    # SCRIPT whose file the server does not have) is no script that ran.
    scripts = [w for k, w in events
               if k == 'script' and '"blocked-uri":"http://%s/' % PAGE_HOST not in w]
    probes = sorted({w.split('/probe/', 1)[1].split('/')[0] for w in network if '/probe/' in w})
    return network, scripts, probes


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--webtrim', default=os.path.join(ROOT, 'build', 'linux', 'webtrim'))
    ap.add_argument('--corpus', default=os.environ.get('WEBTRIM_SHARED_CORPUS',
                                                      os.path.join(ROOT, '..', 'shared', 'corpus')))
    ap.add_argument('--limit', type=int, default=0, help='corpus pages at most (0: all)')
    ap.add_argument('--words', default=','.join(DEFAULT_WORDS))
    ap.add_argument('--corpus-words', default=DEFAULT_WORDS[0])
    ap.add_argument('--keep', help='write the cleaned pages into this folder')
    ap.add_argument('--no-original', action='store_true', help='open the cleaned pages only')
    args = ap.parse_args()

    chromium = ensure_chromium()
    work = tempfile.mkdtemp(prefix='probe-inert-')
    server = Server(make_tls(work))
    threading.Thread(target=server.serve_forever, daemon=True).start()

    pages = [(n, open(os.path.join(HERE, n), 'rb').read()) for n in PROBES]
    if os.path.isdir(args.corpus):
        names = sorted(n for n in os.listdir(args.corpus) if n.endswith(('.htm', '.html')))
        if args.limit:
            names = names[:args.limit]
        pages += [(n, open(os.path.join(args.corpus, n), 'rb').read()) for n in names]

    words = args.words.split(',')
    corpus_words = args.corpus_words.split(',')
    variants = [] if args.no_original else [('original', None)]
    variants += [(w, w) for w in words + [c for c in corpus_words if c not in words]]
    results = {}        # (variant, page) -> (network, scripts, probes)
    jobs = []
    refused = set()     # pages webtrim does not clean
    for vname, word in variants:
        for i, (name, data) in enumerate(pages):
            if word is not None and word not in (words if name in PROBES else corpus_words):
                continue
            page = data if word is None else clean(args.webtrim, data, word, os.path.join(work, 'home'))
            if page is None:
                refused.add(name)
                continue
            if args.keep and word is not None:
                os.makedirs(os.path.join(args.keep, word), exist_ok=True)
                with open(os.path.join(args.keep, word, name), 'wb') as f:
                    f.write(page)
            token = '%s-%d' % (vname, i)
            server.pages[(token, name)] = page
            jobs.append((vname, name, token))

    # What chromium asks by itself, with a blank page open.
    server.pages[('blank', 'blank.htm')] = b'<!DOCTYPE html><title>blank</title>'
    server.current = 'blank'
    for kind, what in open_page(chromium, server, 'blank', 'blank.htm', work):
        if kind == 'network':
            server.browser_hosts.add(what.split('/', 1)[0])
    print('chromium asks by itself: %s (not counted)' % (' '.join(sorted(server.browser_hosts)) or 'nothing'))
    for vname, name, token in jobs:
        server.current = token
        results[(vname, name)] = summarise(open_page(chromium, server, token, name, work))

    failed = False
    for vname, word in variants:
        probe = [results[(vname, n)] for n, _ in pages if n in PROBES and (vname, n) in results]
        corpus = [results[(vname, n)] for n, _ in pages if n not in PROBES and (vname, n) in results]
        probe_paths = sorted({p for r in probe for p in r[2]})
        probe_scripts = sum(len(r[1]) for r in probe)
        loading = sum(1 for r in corpus if r[0])
        running = sum(1 for r in corpus if r[1])
        requests = sum(len(r[0]) for r in corpus)
        scripts = sum(len(r[1]) for r in corpus)
        print('%-10s probe pages: %2d probe paths requested, %3d script runs reported; '
              'corpus (%d pages): %3d pages load from the network (%4d addresses), '
              '%3d pages run scripts (%4d runs)' % (vname, len(probe_paths), probe_scripts,
                                                   len(corpus), loading, requests, running, scripts))
        if vname == 'original':
            print('           probe paths: %s' % ' '.join(probe_paths))
        elif probe_paths or probe_scripts or loading or running:
            failed = True
            print('           still requested: %s' % ' '.join(probe_paths))
            for n, _ in pages:
                if (vname, n) not in results:
                    continue
                net, scr, _ = results[(vname, n)]
                if net or scr:
                    print('           %s: %s %s' % (n, ' '.join(net[:5]), ' '.join(s[:80] for s in scr[:2])))
    if refused:
        print('refused by webtrim and left as they were: %s' % ' '.join(sorted(refused)))
    server.shutdown()
    shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
