#!/usr/bin/env python3
"""Pages as the browser itself saves them, end to end.

Single-file saves: each corpus page is served from http://page.test/ by a
local server on 127.0.0.1 (every host resolves to it; the pictures and style
sheets a page names are answered with small stand-ins, so that the save has
parts) and saved by headless chromium with DevTools Page.captureSnapshot.
The save is cleaned with the default switches and once with pictures
removed as well, and each cleaned .mhtml is opened from file:// with the
network watched. A page passes when
  - no request leaves the archive: DevTools Network events for addresses
    that are none of the archive's parts, and every request the server sees
    while it is open, are failures;
  - no script runs: every DevTools Debugger.scriptParsed before the text is
    read is one;
  - its text (document.body.innerText) holds the first and the last words of
    the same page's root part cleaned as HTML and opened in chromium.

"Complete" saves: each corpus page is written out with every reference it
loads (src, srcset, LINK href, poster, background, data, url() and @import
in styles and STYLE) turned into a file of PAGE_files/, written each way a
page writes one (plain, ./, percent-encoded, with a character reference);
style sheets reach more files through url() and @import, links (A href) to
pictures name files that no browser loads. The page is cleaned in place with
the default switches and opened from the server: every file chromium asks
for must still be there, and none of it must have gone; the files kept that
chromium never asked for are reported, not failed.

usage: saves.py [--webtrim PATH] [--corpus DIR] [--pages N,...] [--all]
                [--short] [--keep DIR]

Exits 0 when every page passes, 1 when one fails, 77 when chromium or the
corpus is missing (the default tests skip then).
"""
import argparse
import email
import html
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True      # nothing written into the source tree
import cdp       # noqa: E402
import probe     # noqa: E402

SKIP = 77
PAGE_HOST = 'page.test'
# Varied sources, encodings and ways of naming pictures and style sheets.
PAGES = ['0187_aebench.htm', '0221_postlight.htm', '0273_sakura.htm',      # the short form
         '0001_cleaneval.htm', '0106_cleanportal.htm', '0116_dragnet.htm', '0119_dragnet.htm',
         '0131_readability.htm', '0132_readability.htm', '0134_readability.htm',
         '0188_aebench.htm', '0224_postlight.htm', '0246_wpull.htm', '0250_jsoup.htm',
         '0251_nokogiri.htm', '0253_farenc.htm']
SHORT = 3
GIF = (b'GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00'
       b'\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;')
WORDS = 4           # words compared at each end of the text
# How the single-file saves are cleaned: (name, webtrim options).
# Chromium's own traffic that no switch turns off (its account check): asked
# without a Referer. A page's requests are seen by DevTools as well.
BROWSER_HOSTS = ('.google.com', '.googleapis.com', '.gvt1.com')
VARIANTS = [('default', []), ('no-pictures', ['--remove=pictures'])]


# ---- the local server -------------------------------------------------------

class Handler(probe.Handler):
    """page.test/s/T/NAME: a page to save; /r/T/NAME: a reference page;
    /c/T/...: the files of a complete save. Everything else is noted; while
    pages are being saved it is answered with a stand-in by what chromium
    accepts (a picture or a style sheet)."""

    def do_GET(self):
        host = (self.headers.get('Host') or '').split(':')[0].lower()
        path = urllib.parse.urlsplit(self.path).path
        srv = self.server
        parts = path.split('/', 3)
        if host == PAGE_HOST and len(parts) == 4 and parts[1] in ('s', 'r'):
            page = srv.pages.get((parts[2], urllib.parse.unquote(parts[3])))
            if page is not None:
                self.answer(200, page[0], page[1])
                return
        if host == PAGE_HOST and len(parts) == 4 and parts[1] == 'c' and parts[2] in srv.folders:
            rel = urllib.parse.unquote(parts[3])
            srv.log.add(srv.current, 'local', rel)
            full = os.path.join(srv.folders[parts[2]], rel)
            if os.path.isfile(full) and '..' not in rel.split('/'):
                with open(full, 'rb') as f:
                    self.answer(200, f.read(), content_type(rel))
            else:
                self.answer(404)
            return
        self.note_network(srv.current, host, path)
        accept = self.headers.get('Accept') or ''
        if srv.saving and 'image/' in accept:
            self.answer(200, GIF, 'image/gif')
        elif srv.saving and 'text/css' in accept:
            self.answer(200, b'body{margin:1px}', 'text/css')
        else:
            self.answer(404)

    do_HEAD = do_GET

    def note_network(self, token, host, path):
        own = not self.headers.get('Referer') and host.endswith(BROWSER_HOSTS)
        self.server.log.add(token, 'browser' if own else 'network', host + path)


def content_type(name):
    ext = os.path.splitext(name)[1].lower()
    return {'.css': 'text/css', '.js': 'text/javascript', '.htm': 'text/html',
            '.gif': 'image/gif', '.png': 'image/gif', '.jpg': 'image/gif'}.get(ext, 'image/gif')


def start_server(work):
    srv = probe.Server(probe.make_tls(work))
    srv.RequestHandlerClass = Handler
    srv.folders = {}
    srv.saving = False
    threading.Thread(target=srv.serve_forever, daemon=True).start()
    return srv


# ---- webtrim ----------------------------------------------------------------

def webtrim(exe, home, args, cwd=None):
    """Runs webtrim with a private home (no settings: the defaults, a trash
    of its own); answers its messages, raising when it fails."""
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, 'config'),
               XDG_DATA_HOME=os.path.join(home, 'data'), LC_ALL='C')
    os.makedirs(home, exist_ok=True)
    r = subprocess.run([exe] + args, capture_output=True, env=env, cwd=cwd, timeout=120)
    if r.returncode != 0:
        raise RuntimeError('webtrim %s: %s' % (' '.join(args), r.stderr.decode(errors='replace')))
    return (r.stdout + r.stderr).decode(errors='replace')


# ---- single-file saves ------------------------------------------------------

def archive_parts(data):
    """The archive's root part (its bytes and charset) and the addresses of
    all its parts."""
    msg = email.message_from_bytes(data)
    parts = msg.get_payload()
    root = parts[0]
    where = {p['Content-Location'] for p in parts if p['Content-Location']}
    return root.get_payload(decode=True), root.get_content_charset(), where


def words(text):
    return (text or '').split()


def holds(text_words, seq):
    return ' %s ' % ' '.join(seq) in ' %s ' % ' '.join(text_words)


BLANK_ARCHIVE = (b'From: <Saved by webtrim tests>\r\nMIME-Version: 1.0\r\n'
                 b'Content-Type: multipart/related; type="text/html"; boundary="b"\r\n\r\n'
                 b'--b\r\nContent-Type: text/html\r\nContent-Location: http://page.test/blank.htm\r\n'
                 b'\r\n<html><body><p>blank</p></body></html>\r\n--b--\r\n')


def scripts_run(browser, session, events):
    """The sources of the scripts parsed, less the browser's own (what it
    runs in an archive without a script: it rebuilds shadow roots)."""
    got = []
    for m, p in events:
        if m == 'Debugger.scriptParsed' and p.get('hash') not in browser.own_scripts:
            src = browser.call('Debugger.getScriptSource', {'scriptId': p['scriptId']}, session)
            got.append(p.get('url') or ' '.join(((src or {}).get('scriptSource') or '').split())[:80])
    return got


def learn_own_scripts(browser, work):
    """Notes the scripts chromium runs by itself in an archive."""
    path = os.path.join(work, 'blank.mhtml')
    with open(path, 'wb') as f:
        f.write(BLANK_ARCHIVE)
    ctx, session = browser.open('file://' + path)
    browser.own_scripts = {p.get('hash') for m, p in browser.events.get(session, [])
                           if m == 'Debugger.scriptParsed'}
    text = browser.evaluate(session, 'document.body ? document.body.innerText : ""')
    browser.close_page(ctx, session)
    return text == 'blank'


def open_archive(browser, srv, path, token, parts):
    """Opens a cleaned archive from file://; answers (network requests,
    scripts run, its text)."""
    url = 'file://' + urllib.parse.quote(path)
    srv.current = token
    ctx, session = browser.open(url)
    events = list(browser.events.get(session, []))
    scripts = scripts_run(browser, session, events)
    text = browser.evaluate(session, 'document.body ? document.body.innerText : ""')
    browser.close_page(ctx, session)
    network = set()
    for method, p in events:
        if method == 'Network.requestWillBeSent':
            u = p['request']['url']
            if not (u == url or u in parts or u.startswith(('data:', 'cid:', 'about:', 'blob:'))):
                network.add(u)
    network |= {w for k, w in srv.log.take(token) if k == 'network'}
    return sorted(network), scripts, text


def open_served(browser, srv, token, name, body, ctype):
    """Opens a page served from page.test; answers (network requests,
    scripts run, its text)."""
    srv.pages[(token, name)] = (body, ctype)
    srv.current = token
    ctx, session = browser.open('http://%s/r/%s/%s' % (PAGE_HOST, token, urllib.parse.quote(name)))
    events = list(browser.events.get(session, []))
    scripts = scripts_run(browser, session, events)
    text = browser.evaluate(session, 'document.body ? document.body.innerText : ""')
    browser.close_page(ctx, session)
    network = sorted({w for k, w in srv.log.take(token) if k == 'network'})
    return network, scripts, text


def snapshot(browser, srv, token, name, data):
    srv.pages[(token, name)] = (data, 'text/html')
    srv.current = token
    srv.saving = True
    ctx, session = browser.open('http://%s/s/%s/%s' % (PAGE_HOST, token, urllib.parse.quote(name)),
                                domains=('Page',), quiet=0.5)
    r = browser.call('Page.captureSnapshot', {'format': 'mhtml'}, session)
    browser.close_page(ctx, session)
    srv.saving = False
    srv.log.take(token)
    return r['data'].encode('latin-1') if r else None


def single_file(args, browser, srv, work, i, name, data, out):
    """Saves, cleans and opens one page; answers its failures."""
    token = 'm%d' % i
    saved = snapshot(browser, srv, token, name, data)
    if saved is None:
        return ['%s: chromium gave no snapshot' % name]
    folder = os.path.join(work, token)
    os.makedirs(folder)
    stem = os.path.splitext(name)[0]
    with open(os.path.join(folder, stem + '.mhtml'), 'wb') as f:
        f.write(saved)
    root, charset, _ = archive_parts(saved)
    with open(os.path.join(folder, 'root.htm'), 'wb') as f:
        f.write(root)
    home = os.path.join(work, 'home-' + token)
    webtrim(args.webtrim, home, ['-o', 'root-clean.htm', 'root.htm'], folder)
    with open(os.path.join(folder, 'root-clean.htm'), 'rb') as f:
        _, _, ref = open_served(browser, srv, token + 'r', 'root.htm', f.read(),
                                'text/html' + ('; charset=' + charset if charset else ''))
    ref = words(ref)
    failures = []
    if not ref:
        _, _, before = open_served(browser, srv, token + 'o', 'root.htm', root,
                                   'text/html' + ('; charset=' + charset if charset else ''))
        if words(before):
            failures.append('%s: the root part cleaned as HTML shows no text' % name)
        else:
            out.append('  %-22s the save itself shows no text (its scripts had emptied the page)' % name)
    for vname, opts in VARIANTS:
        cleaned = os.path.join(folder, '%s-%s.mhtml' % (stem, vname))
        webtrim(args.webtrim, home, opts + ['-o', cleaned, stem + '.mhtml'], folder)
        with open(cleaned, 'rb') as f:
            _, _, parts = archive_parts(f.read())
        network, scripts, text = open_archive(browser, srv, cleaned, token + vname, parts)
        got = words(text)
        first, last = ref[:WORDS], ref[-WORDS:]
        shown = not ref or (holds(got, first) and holds(got, last))
        out.append('  %-22s %-11s %6d bytes %2d parts  requests %d  scripts %d  text %s%s' % (
            name, vname, os.path.getsize(cleaned), len(parts), len(network), len(scripts),
            'shown' if shown else 'MISSING', ' (same as HTML)' if got == ref else ''))
        for u in network:
            failures.append('%s %s: a request leaves the archive: %s' % (name, vname, u))
        for s in scripts:
            failures.append('%s %s: a script runs: %s' % (name, vname, s))
        if not shown:
            failures.append('%s %s: the text lacks %r ... %r of the page cleaned as HTML'
                            % (name, vname, ' '.join(first), ' '.join(last)))
    if args.keep:
        shutil.copytree(folder, os.path.join(args.keep, 'single', stem), dirs_exist_ok=True)
    return failures


# ---- "complete" saves -------------------------------------------------------

TAG = re.compile(r'<([a-zA-Z][a-zA-Z0-9]*)(\s[^>]*)?>', re.S)
ATTR = re.compile(r'''(\s)([^\s"'>/=]+)(\s*=\s*)("[^"]*"|'[^']*'|[^\s"'>]+)''')
STYLE = re.compile(r'(<style\b[^>]*>)(.*?)(</style)', re.S | re.I)
CSS_URL = re.compile(r'''(url\(\s*)("[^"]*"|'[^']*'|[^)'"\s]*)(\s*\))|(@import\s+)("[^"]*"|'[^']*')''',
                     re.I)
PICTURE_EXT = ('.gif', '.png', '.jpg', '.jpeg', '.webp', '.svg', '.ico', '.bmp')
# (tag or '*', attribute) -> what the file is.
LOADS = {('img', 'src'): 'picture', ('img', 'srcset'): 'srcset', ('source', 'srcset'): 'srcset',
         ('source', 'src'): 'picture', ('input', 'src'): 'picture', ('video', 'poster'): 'picture',
         ('script', 'src'): 'script', ('iframe', 'src'): 'frame', ('frame', 'src'): 'frame',
         ('embed', 'src'): 'picture', ('object', 'data'): 'picture', ('link', 'href'): 'link',
         ('*', 'background'): 'picture', ('a', 'href'): 'anchor'}
CONTENT = {'picture': GIF, 'script': b'void 0;\n', 'frame': b'<p>a frame</p>\n'}


class Save:
    """The files of one complete save being written: one per address."""

    def __init__(self, stem, folder):
        self.stem, self.folder = stem, folder
        self.by_url = {}
        self.files = []         # paths below the page's folder

    def file_for(self, url, kind, written_in_css=False, in_attribute=True):
        """The reference to write for url (None: leave it as it is)."""
        url = html.unescape(url).strip()
        low = url.lower()
        if not url or low.startswith(('#', 'data:', 'javascript:', 'mailto:', 'about:', 'blob:')):
            return None
        path = urllib.parse.urlsplit(url).path.lower()
        if kind == 'anchor' and not path.endswith(PICTURE_EXT):
            return None
        if kind == 'link':
            kind = 'css' if path.endswith('.css') or 'css' in low or 'style' in low else 'picture'
        n = self.by_url.get(url)
        if n is None:
            n = len(self.files)
            ext = {'css': '.css', 'script': '.js', 'frame': '.htm'}.get(kind, '.gif')
            name = ('f %d%s' if n % 5 == 4 else 'f%d%s') % (n, ext)
            self.by_url[url] = n
            self.files.append(name)
            self.write(name, kind, n)
        return self.reference(self.files[n], n, in_attribute)

    def reference(self, name, n, in_attribute):
        folder = self.stem + '_files'
        quoted = urllib.parse.quote(name)
        form = n % 4
        if form == 1:
            return './%s/%s' % (folder, quoted)
        if form == 2:
            return '%s/%%%02X%s' % (folder, ord(quoted[0]), quoted[1:])
        if form == 3 and in_attribute:
            return '%s&#47;%s' % (folder, quoted)
        return '%s/%s' % (folder, quoted)

    def write(self, name, kind, n):
        if kind == 'css':
            # A chain: the sheet imports another, both name a picture.
            inner, pic, pic2 = 'f%d-i.css' % n, 'f%d bg.gif' % n, 'f%d-ii.gif' % n
            body = ('@import "%s";\nhtml{background:url("%s")}\n' % (inner, pic)).encode()
            self.put(inner, ('body{background-image:url(%s)}\n' % pic2).encode())
            self.put(pic, GIF)
            self.put(pic2, GIF)
        else:
            body = CONTENT.get(kind, GIF)
        self.put(name, body)

    def put(self, name, body):
        os.makedirs(os.path.join(self.folder, self.stem + '_files'), exist_ok=True)
        with open(os.path.join(self.folder, self.stem + '_files', name), 'wb') as f:
            f.write(body)


def rewrite_css(save, text, in_attribute):
    def one(m):
        if m.group(1):
            ref = save.file_for(m.group(2).strip('\'"'), 'picture', in_attribute=in_attribute)
            return m.group(0) if ref is None else '%s"%s"%s' % (m.group(1), ref, m.group(3))
        ref = save.file_for(m.group(5).strip('\'"'), 'css', in_attribute=in_attribute)
        return m.group(0) if ref is None else '%s"%s"' % (m.group(4), ref)
    return CSS_URL.sub(one, text)


def rewrite_tag(save, m):
    tag = m.group(1).lower()

    def attr(a):
        name, value = a.group(2).lower(), a.group(4)
        q = value[0] if value[0] in '"\'' else ''
        raw = value[1:-1] if q else value
        if name == 'style':
            new = rewrite_css(save, raw, True)
        elif name == 'srcset' and (tag, name) in LOADS:
            cands = []
            for c in html.unescape(raw).split(','):
                bits = c.split()
                ref = save.file_for(bits[0], 'picture') if bits else None
                cands.append(' '.join([ref] + bits[1:]) if ref else c.strip())
            new = ', '.join(cands)
        else:
            kind = LOADS.get((tag, name)) or LOADS.get(('*', name))
            ref = save.file_for(raw, kind) if kind else None
            if ref is None:
                return a.group(0)
            new = ref
        q = q or '"'
        return '%s%s%s%s%s%s' % (a.group(1), a.group(2), a.group(3), q, new.replace(q, '&quot;'), q)
    return '<%s%s>' % (m.group(1), ATTR.sub(attr, m.group(2) or ''))


BASE = re.compile(r'<base\b[^>]*>', re.I)


def write_complete(data, stem, folder):
    """Writes the page as a complete save into folder; answers the files.
    A BASE goes, as in a browser's save: the files are reached from the
    page's own folder."""
    save = Save(stem, folder)
    text = BASE.sub('', data.decode('latin-1'))
    out, at = [], 0
    for m in STYLE.finditer(text):
        out.append(TAG.sub(lambda t: rewrite_tag(save, t), text[at:m.start()]))
        out.append(rewrite_tag(save, TAG.match(m.group(1))) + rewrite_css(save, m.group(2), False)
                   + m.group(3))
        at = m.end()
    out.append(TAG.sub(lambda t: rewrite_tag(save, t), text[at:]))
    with open(os.path.join(folder, stem + '.htm'), 'wb') as f:
        f.write(''.join(out).encode('latin-1'))
    return listing(os.path.join(folder, stem + '_files'))


def listing(folder):
    return {os.path.relpath(os.path.join(d, f), folder) for d, _, fs in os.walk(folder) for f in fs}


def open_complete(browser, srv, token, stem):
    srv.current = token
    ctx, session = browser.open('http://%s/c/%s/%s.htm' % (PAGE_HOST, token, urllib.parse.quote(stem)),
                                domains=('Page',))
    browser.close_page(ctx, session)
    events = srv.log.take(token)
    asked = {w.split('/', 1)[1] for k, w in events
             if k == 'local' and w.startswith(stem + '_files/')}
    network = sorted({w for k, w in events if k == 'network'})
    return asked, network


def complete(args, browser, srv, work, i, name, data, out):
    token = 'c%d' % i
    stem = os.path.splitext(name)[0]
    folder = os.path.join(work, token)
    os.makedirs(folder)
    srv.folders[token] = folder
    written = write_complete(data, stem, folder)
    asked_before, _ = open_complete(browser, srv, token, stem)
    said = webtrim(args.webtrim, os.path.join(work, 'home-' + token), ['-v', stem + '.htm'], folder)
    companion = [line.strip() for line in said.splitlines() if 'companion files:' in line]
    kept = listing(os.path.join(folder, stem + '_files'))
    went = written - kept
    asked, network = open_complete(browser, srv, token, stem)
    failures = ['%s: chromium asks for %s, which went with the original' % (name, f)
                for f in sorted(asked & went)]
    failures += ['%s: chromium asks for %s, which the save never had' % (name, f)
                 for f in sorted(asked - written)]
    failures += ['%s: the cleaned complete save asks the network: %s' % (name, u) for u in network]
    unasked = sorted(kept - asked)
    out.append('  %-22s %3d files (%3d loaded before the clean); %3d went, %3d kept, %3d asked for, '
               '%d kept but never asked for' % (name, len(written), len(asked_before & written),
                                                len(went), len(kept), len(asked), len(unasked)))
    if companion and 'none removed' in companion[0]:
        out.append('      webtrim: ' + companion[0])
    if unasked and args.verbose:
        out.append('      kept, never asked for: ' + ' '.join(unasked))
    if args.keep:
        shutil.copytree(folder, os.path.join(args.keep, 'complete', stem), dirs_exist_ok=True)
    return failures


# ---- the run ----------------------------------------------------------------

def checker_sees(browser, srv):
    """The watch itself: a served page with one script and one picture from
    the network must show both."""
    body = (b'<html><body><p>control</p><script>document.title="ran"</script>'
            b'<img src="http://elsewhere.test/x.gif"></body></html>')
    network, scripts, text = open_served(browser, srv, 'control', 'c.htm', body, 'text/html')
    return bool(network) and bool(scripts) and 'control' in (text or '')


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--webtrim', default=os.path.join(ROOT, 'build', 'linux', 'webtrim'))
    ap.add_argument('--corpus', default=os.environ.get('WEBTRIM_SHARED_CORPUS',
                                                      os.path.join(ROOT, '..', 'shared', 'corpus')))
    ap.add_argument('--pages', help='corpus pages, comma-separated (default: a chosen %d)' % len(PAGES))
    ap.add_argument('--all', action='store_true', help='every corpus page')
    ap.add_argument('--short', action='store_true', help='the first %d chosen pages only' % SHORT)
    ap.add_argument('--keep', help='copy the saves and their cleaned forms into this folder')
    ap.add_argument('-v', '--verbose', action='store_true')
    args = ap.parse_args()

    chromium = shutil.which('chromium') or shutil.which('chromium-browser')
    if not chromium:
        print('skip: chromium is not installed')
        return SKIP
    if not os.path.isdir(args.corpus):
        print('skip: no corpus at %s' % args.corpus)
        return SKIP
    if args.all:
        names = sorted(n for n in os.listdir(args.corpus) if n.endswith(('.htm', '.html')))
    else:
        names = args.pages.split(',') if args.pages else PAGES[:SHORT] if args.short else PAGES
    names = [n for n in names if os.path.isfile(os.path.join(args.corpus, n))]
    if not names:
        print('skip: none of the pages is in %s' % args.corpus)
        return SKIP

    work = tempfile.mkdtemp(prefix='webtrim-saves-')
    srv = start_server(work)
    port = srv.server_address[1]
    browser = cdp.Browser(chromium, os.path.join(work, 'profile'),
                          ['--host-resolver-rules=MAP * 127.0.0.1:%d' % port])
    failures, out = [], []
    try:
        if not learn_own_scripts(browser, work) or not checker_sees(browser, srv):
            print('the watch sees no script or no request on a page that has both')
            return 1
        out.append('single-file saves (Page.captureSnapshot), cleaned and opened from file://:')
        for i, name in enumerate(names):
            with open(os.path.join(args.corpus, name), 'rb') as f:
                data = f.read()
            if data[:2] in (b'\xff\xfe', b'\xfe\xff'):
                continue            # UTF-16: webtrim leaves it as it is
            failures += single_file(args, browser, srv, work, i, name, data, out)
        out.append('complete saves (PAGE_files/), cleaned in place and opened from the server:')
        for i, name in enumerate(names):
            with open(os.path.join(args.corpus, name), 'rb') as f:
                data = f.read()
            if data[:2] in (b'\xff\xfe', b'\xfe\xff'):
                continue
            failures += complete(args, browser, srv, work, i, name, data, out)
    finally:
        browser.quit()
        srv.shutdown()
        shutil.rmtree(work, ignore_errors=True)
    print('\n'.join(out))
    for f in failures:
        print('FAIL ' + f)
    print('%d pages, %d failures' % (len(names), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
