#!/usr/bin/env python3
"""Cleans every corpus page with two webtrim programs (an older revision and
the work tree) under the option words of same-output.sh, and explains each
difference: every byte the older one keeps and the newer one drops must be a
removal of one of the kinds that make a page inert. Prints the count of
removals per kind, and every stretch it cannot explain.

usage: classify.py OLD_WEBTRIM NEW_WEBTRIM [--corpus DIR] [--words W,...]

A stretch dropped by the newer program is explained as, in this order:
  - a whole tag (IMG, SCRIPT element, IFRAME element, EMBED, FRAME, BASE,
    LINK, OBJECT or APPLET element, META refresh) whose address is a network
    one, with the blank after it;
  - attributes, each with the blanks before it: an event handler, a value
    that is a javascript:/vbscript: address or a data: page, srcdoc, or a
    loading attribute with a network address (background counted apart);
  - url(...), image-set strings or @import rules with a network address.
The addresses are read by inertcheck.py's own reader.
"""
import argparse
import concurrent.futures
import difflib
import html
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'cli'))
import inertcheck  # noqa: E402

DEFAULT = 0x100013BF


def same_output_words():
    words = [DEFAULT, 0x10000000, 0x10001FFF]
    words += [DEFAULT ^ (1 << b) for b in range(13)]
    words += [0x10000000 | (1 << 8) | (1 << b) for b in range(11)]
    return words


def clean(prog, page, word, home):
    cfg = os.path.join(home, 'config', 'halvane')
    os.makedirs(cfg, exist_ok=True)
    with open(os.path.join(cfg, 'webtrim.ini'), 'w') as f:
        f.write('[Webtrim]\nw0=0x%08X\nw1=\n' % word)
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, 'config'),
               XDG_DATA_HOME=os.path.join(home, 'data'))
    r = subprocess.run([prog, '-'], input=page, capture_output=True, env=env, timeout=120)
    return r.returncode, r.stdout


def is_subsequence(part, whole):
    """Whether `part` is `whole` with bytes left out (a run at a time)."""
    i = 0
    for k in range(len(part)):
        i = whole.find(part[k:k + 1], i)
        if i < 0:
            return False
        i += 1
    return True


def greedy_spans(old, new, base):
    """Stretches of the short `old` that the short `new` leaves out (by
    position in the page, from `base`), or None."""
    # One stretch at the start or at the end: most removals are one tag
    # or one attribute with the blanks around it.
    if len(new) < len(old):
        if old.endswith(new):
            return [(base, base + len(old) - len(new))]
        if old.startswith(new):
            return [(base + len(new), base + len(old))]
    spans, i, k = [], 0, 0
    while k < len(new):
        if i < len(old) and old[i] == new[k]:
            i += 1
            k += 1
            continue
        # Where `new` goes on: of the places in `old` after i where its next
        # bytes stand, the one from which the two agree the longest.
        best, j = -1, -1
        for size in (8, 4, 2, 1):
            key = new[k:k + size]
            at = old.find(key, i + 1)
            while at >= 0:
                n = 0
                while at + n < len(old) and k + n < len(new) and old[at + n] == new[k + n]:
                    n += 1
                if n > best:
                    best, j = n, at
                if k + n == len(new):
                    break
                at = old.find(key, at + 1)
            if j >= 0:
                break
        if j < 0:
            return None
        spans.append((base + i, base + j))
        i = j
    if i < len(old):
        spans.append((base + i, base + len(old)))
    return spans


TOKEN = re.compile(rb'<[^>]*>?|[^<]+')


def dropped_spans(old, new):
    """The stretches of `old` that `new` leaves out, when `new` is `old`
    with stretches left out; None when it is not. Tags and text are lined
    up first, then the bytes of what changed."""
    a = [m.span() for m in TOKEN.finditer(old)]
    b = [m.span() for m in TOKEN.finditer(new)]
    ta = [old[x:y] for x, y in a]
    tb = [new[x:y] for x, y in b]
    # Each change with a token of its neighbours on both sides, for the
    # bytes to line up; changes that then touch are taken together.
    regions = []
    for op, i1, i2, j1, j2 in difflib.SequenceMatcher(None, ta, tb, autojunk=False).get_opcodes():
        if op == 'equal':
            continue
        # (An 'insert' too: tags split at a '>' inside a removed value line
        # up otherwise; the bytes decide.)
        r = [max(i1 - 1, 0), min(i2 + 1, len(a)), max(j1 - 1, 0), min(j2 + 1, len(b))]
        if regions and r[0] <= regions[-1][1]:
            regions[-1][1], regions[-1][3] = r[1], r[3]
        else:
            regions.append(r)
    spans = []
    for i1, i2, j1, j2 in regions:
        start, end = a[i1][0], a[i2 - 1][1]
        got = new[b[j1][0]:b[j2 - 1][1]] if j2 > j1 else b''
        part = greedy_spans(old[start:end], got, start)
        if part is None:
            return None
        spans += part
    return spans


ATTR = re.compile(rb'''[\s/]*([^\s/>=]+)(?:\s*=\s*("[^"]*"|'[^']*'|[^\s>]*))?''', re.S)
TAG_KINDS = {b'img': 'pictures', b'script': 'scripts', b'iframe': 'frames', b'frame': 'frames',
             b'embed': 'modules', b'object': 'modules', b'applet': 'modules', b'base': 'base',
             b'link': 'links', b'meta': 'meta'}


def text(b):
    return html.unescape(b.decode('latin-1'))


def attribute_kind(tag, name, value):
    name = name.lower()
    v = text(value.strip(b'"\'')) if value is not None else ''
    if re.match(r'on[a-z]', name):
        return 'handlers'
    if inertcheck.is_script(v) or name == 'srcdoc' or (name in ('src', 'data') and inertcheck.is_markup_data(v)):
        return 'script-urls'
    items = inertcheck.list_items(v) if name in inertcheck.LOADING_LISTS else [v]
    if name == 'content' and tag == 'meta':
        items = [inertcheck.refresh_url(v) or '']
    if any(inertcheck.is_network(x) for x in items):
        return 'backgrounds' if name == 'background' else 'network-attributes'
    return None


def tag_of(old, at):
    """The name of the tag that position `at` of `old` stands in, if any."""
    lt = old.rfind(b'<', 0, at)
    gt = old.rfind(b'>', 0, at)
    if lt < 0 or gt > lt:
        return None
    m = re.match(rb'<([a-zA-Z][^\s/>]*)', old[lt:])
    return m.group(1).lower().decode('latin-1') if m else None


def explain(old, i, j):
    """The kinds of the removals that make up old[i:j], or None. A stretch
    may be lined up a few bytes off (when the bytes around it repeat it):
    each way of lining it up is tried."""
    starts = [i]
    a, b = i, j
    while a > 0 and old[a - 1] == old[b - 1] and len(starts) < 64:
        a, b = a - 1, b - 1
        starts.append(a)
    a, b = i, j
    while b < len(old) and old[a] == old[b] and len(starts) < 128:
        a, b = a + 1, b + 1
        starts.append(a)
    for s in starts:
        kinds = explain_at(old, s, s + (j - i))
        if kinds:
            return kinds
    return None


def explain_at(old, i, j):
    span = old[i:j]
    # A whole tag or element with a network address, and the blank after it.
    m = re.match(rb'<([a-zA-Z]+)', span)
    if m and m.group(1).lower() in TAG_KINDS:
        found = inertcheck.findings(span + b'>')
        refresh = m.group(1).lower() == b'meta'
        if found or re.search(rb'(?i)(src|href|data|codebase|archive|content)\s*=\s*["\']?\s*(https?:|//|\\\\|ftp:|wss?:|&#)', span):
            return [TAG_KINDS[m.group(1).lower()]] if not refresh or b'efresh' in span.lower() else None
    tag = tag_of(old, i)
    if tag:
        kinds, p = [], 0
        while p < len(span):
            a = ATTR.match(span, p)
            if not a or a.end() == p:
                break
            k = attribute_kind(tag, a.group(1).decode('latin-1'), a.group(2))
            if not k:
                break
            kinds.append(k)
            p = a.end()
        # The blanks of a removal may align after it rather than before.
        if kinds and not span[p:].strip():
            return kinds
        # A style sheet reference inside an attribute value.
        if re.fullmatch(rb'''(?is)(url\(.*|\s*["'].*["'])''', span) and (
                inertcheck.css_findings(text(span) + ')') or inertcheck.css_findings('image-set(' + text(span) + ')')):
            return ['url-references']
        return None
    # Inside a STYLE element.
    if re.match(rb'(?is)(@import|url\()', span) and inertcheck.css_findings(text(span) + ')'):
        return ['css-references']
    return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('old')
    ap.add_argument('new')
    ap.add_argument('--corpus', default=os.environ.get('WEBTRIM_SHARED_CORPUS',
                                                      os.path.join(ROOT, '..', 'shared', 'corpus')))
    ap.add_argument('--words', help='option words, comma-separated (default: same-output.sh\'s 27)')
    args = ap.parse_args()
    words = [int(w, 16) for w in args.words.split(',')] if args.words else same_output_words()
    names = sorted(n for n in os.listdir(args.corpus) if n.endswith(('.htm', '.html')))
    home = tempfile.mkdtemp(prefix='classify-')

    def one(case):
        name, word = case
        page = open(os.path.join(args.corpus, name), 'rb').read()
        h = os.path.join(home, '%s-%x' % (name, word))
        return case, clean(args.old, page, word, h + '-old'), clean(args.new, page, word, h + '-new')

    counts, differ, unexplained, total, subsequence = {}, set(), [], 0, 0
    cases = [(n, w) for w in words for n in names]
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        for (name, word), (st_old, old), (st_new, new) in pool.map(one, cases):
            total += 1
            if (st_old, old) == (st_new, new):
                continue
            differ.add((name, word))
            if st_old != st_new or not is_subsequence(new, old):
                unexplained.append('%s w0=0x%08X: not only removals' % (name, word))
                continue
            subsequence += 1
            spans = dropped_spans(old, new)
            if spans is None:
                unexplained.append('%s w0=0x%08X: removals only, not lined up' % (name, word))
                continue
            for i, j in spans:
                kinds = explain(old, i, j)
                if not kinds:
                    unexplained.append('%s w0=0x%08X: %r' % (name, word, old[i:j][:300]))
                    continue
                for k in kinds:
                    counts[k] = counts.get(k, 0) + 1
    print('pages and words that differ: %d of %d (%d pages); the newer output is the older one '
          'with bytes left out in %d' % (len(differ), total, len({n for n, _ in differ}), subsequence))
    for k in sorted(counts):
        print('  %-20s %6d' % (k, counts[k]))
    # What is not a removal first, all of it; then stretches not explained.
    unexplained.sort(key=lambda u: 'not only removals' not in u)
    print('unexplained: %d (%d not only removals)' % (
        len(unexplained), sum('not only removals' in u for u in unexplained)))
    for u in unexplained[:60]:
        print('  ' + u)
    return 1 if unexplained else 0


if __name__ == '__main__':
    sys.exit(main())
