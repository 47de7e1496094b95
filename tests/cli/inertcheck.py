#!/usr/bin/env python3
"""Looks through a page, with Python's own HTML parser, for what would run
code or load from the network when the page is opened: event handlers,
javascript: and vbscript: values, srcdoc, data: pages in frames and modules,
attributes that load from a network address, network url(...), image-set
strings and @import in style attributes and STYLE elements, a META refresh
to a network address.

A reading of its own, written apart from the program's, so that the two
check each other. It follows the switches of the browser's tree builder that
decide what is a tag: SVG and MathML, where no element is raw text but at
their integration points and a CDATA section hides tags, the tags that
close them, NOSCRIPT (raw text with scripting on: the page is read both
with it on and off). Run as a script: inertcheck.py PAGE... prints each
finding and exits 1 when there is any.
"""
import html.parser
import re
import sys

NETWORK_SCHEMES = ('http:', 'https:', 'ftp:', 'ws:', 'wss:')
SCRIPT_SCHEMES = ('javascript:', 'vbscript:')
# Attributes that load the address they hold, on every tag.
LOADING = {'src', 'data', 'poster', 'background', 'lowsrc', 'dynsrc', 'codebase', 'xlink:href'}
LOADING_LISTS = {'srcset', 'imagesrcset', 'ping', 'archive', 'attributionsrc'}
# What an animation sets may be an address it loads (an href animated).
ANIMATIONS = {'set', 'animate', 'animatemotion', 'animatetransform', 'animatecolor'}
HREF_LOADS = {'link', 'base', 'image', 'use', 'feimage', 'script'}
FRAME_LIKE = {'iframe', 'frame', 'object', 'embed'}
RAW_TEXT = ('script', 'style', 'textarea', 'title', 'xmp', 'iframe', 'noembed', 'noframes')
# The HTML start tags that close SVG and MathML (FONT only with color, face
# or size), the HTML elements without content, the integration points.
BREAKOUT = set('b big blockquote body br center code dd div dl dt em embed h1 h2 h3 h4 h5 h6 head '
               'hr i img li listing menu meta nobr ol p pre ruby s small span strong strike sub '
               'sup table tt u ul var'.split())
VOID = set('area base br col embed hr img input link meta source track wbr param keygen frame '
           'basefont bgsound image'.split())
SVG_POINTS = {'foreignobject', 'desc', 'title'}
MATH_TEXT_POINTS = {'mi', 'mo', 'mn', 'ms', 'mtext'}


def url_text(value):
    """An address as a browser reads it: leading characters up to 0x20 off,
    tab, LF and CR taken out, lower case."""
    v = value.lstrip(''.join(chr(i) for i in range(0x21)))
    return re.sub('[\t\n\r]', '', v).lower()


def is_network(value):
    u = url_text(value)
    return u.startswith(NETWORK_SCHEMES) or (len(u) >= 2 and u[0] in '/\\' and u[1] in '/\\')


def is_script(value):
    return url_text(value).startswith(SCRIPT_SCHEMES)


def is_markup_data(value):
    u = url_text(value)
    if not u.startswith('data:'):
        return False
    media = re.split('[,;]', u[5:], maxsplit=1)[0]
    return any(w in media for w in ('html', 'xml', 'svg'))


def list_items(value):
    return [v for v in re.split(r'[\s,]+', value) if v]


def refresh_url(content):
    """The address of a META refresh's content, or None."""
    m = re.match(r'\s*[0-9.]+\s*(?:[;,]|\s)\s*(.*)$', content or '', re.S)
    if not m:
        return None
    rest = m.group(1)
    u = re.match(r'url\s*=\s*(.*)$', rest, re.I | re.S)
    if u:
        rest = u.group(1)
    if rest[:1] in ('"', "'"):
        rest = rest[1:].split(rest[0], 1)[0]
    return rest


def css_unescape(text):
    def one(m):
        if m.group(1):
            v = int(m.group(1), 16)
            return chr(v) if 0 < v <= 0x10FFFF and not 0xD800 <= v <= 0xDFFF else '\ufffd'
        return m.group(2)
    return re.sub(r'\\(?:([0-9a-fA-F]{1,6})[ \t\n\r\f]?|([^\n0-9a-fA-F]))', one, text)


def css_findings(css):
    """Network references in style sheet text."""
    css = re.sub(r'/\*.*?(\*/|$)', ' ', css, flags=re.S)
    found = []
    for m in re.finditer(r'(?<![\w-])url\(\s*(?:"([^"]*)"|\'([^\']*)\'|([^)\s]*))', css_unescape(css), re.I):
        addr = next(g for g in m.groups() if g is not None)
        if is_network(addr):
            found.append('url(%s)' % addr)
    for m in re.finditer(r'@import\s+(?:url\(\s*)?["\']?([^"\')\s;]*)', css_unescape(css), re.I):
        if is_network(m.group(1)):
            found.append('@import %s' % m.group(1))
    for m in re.finditer(r'image-set\(([^;{}]*)', css_unescape(css), re.I):
        for s in re.findall(r'"([^"]*)"|\'([^\']*)\'', m.group(1)):
            addr = s[0] or s[1]
            if is_network(addr):
                found.append('image-set %s' % addr)
    return found


class Checker(html.parser.HTMLParser):
    CDATA_CONTENT_ELEMENTS = RAW_TEXT + ('plaintext',)

    def __init__(self, scripting):
        if scripting:
            self.CDATA_CONTENT_ELEMENTS = Checker.CDATA_CONTENT_ELEMENTS + ('noscript',)
        super().__init__(convert_charrefs=True)
        self.findings = []
        self.in_style = False
        # Foreign elements open, and the HTML ones open inside them:
        # (name, 'svg' | 'math' | 'html', HTML integration point).
        self.nest = []
        self.tag_is_html = True

    def current_is_html(self):
        return not self.nest or self.nest[-1][1] == 'html'

    def start_is_html(self, tag):
        if self.current_is_html():
            return True
        name, space, point = self.nest[-1]
        if space == 'math' and name in MATH_TEXT_POINTS and tag not in ('mglyph', 'malignmark'):
            return True
        if space == 'math' and name == 'annotation-xml' and tag == 'svg':
            return True
        return point

    def leave_foreign(self):
        while self.nest and self.nest[-1][1] != 'html' and not self.nest[-1][2] and not (
                self.nest[-1][1] == 'math' and self.nest[-1][0] in MATH_TEXT_POINTS):
            self.nest.pop()

    def tree_start(self, tag, attrs, self_closing):
        names = {n for n, _ in attrs}
        html = self.start_is_html(tag)
        if not html and (tag in BREAKOUT or (tag == 'font' and names & {'color', 'face', 'size'})):
            self.leave_foreign()
            html = True
        self.tag_is_html = html
        if html:
            if tag in ('svg', 'math'):
                if not self_closing:
                    self.nest.append((tag, tag, False))
            elif self.nest and tag not in VOID:
                self.nest.append((tag, 'html', False))
            return
        if self_closing:
            return
        space = self.nest[-1][1]
        encoding = (dict(attrs).get('encoding') or '').lower()
        point = ((space == 'svg' and tag in SVG_POINTS) or
                 (space == 'math' and tag == 'annotation-xml' and
                  encoding in ('text/html', 'application/xhtml+xml')))
        self.nest.append((tag, space, point))

    def set_cdata_mode(self, elem):
        # Inside SVG and MathML no element is raw text; STYLE's content is
        # still a style sheet.
        if self.tag_is_html:
            super().set_cdata_mode(elem)

    def parse_html_declaration(self, i):
        # "<![CDATA[" begins a section up to "]]>" in foreign content and a
        # bogus comment up to '>' elsewhere.
        if self.rawdata.startswith('<![', i):
            if not self.current_is_html() and self.rawdata.startswith('<![CDATA[', i):
                j = self.rawdata.find(']]>', i + 9)
                return -1 if j < 0 else j + 3
            j = self.rawdata.find('>', i + 2)
            return -1 if j < 0 else j + 1
        return super().parse_html_declaration(i)

    def note(self, tag, what):
        self.findings.append('<%s> %s' % (tag, what))

    def handle_starttag(self, tag, attrs):
        self.check(tag, attrs)
        self.tree_start(tag, attrs, False)
        self.in_style = tag == 'style'

    def handle_startendtag(self, tag, attrs):
        self.check(tag, attrs)
        self.tree_start(tag, attrs, True)
        # A '/' does not close an HTML element: raw text all the same.
        if self.tag_is_html and tag in self.CDATA_CONTENT_ELEMENTS:
            self.set_cdata_mode(tag)
            self.in_style = tag == 'style'

    def handle_endtag(self, tag):
        self.in_style = False
        if self.current_is_html():
            # Closes an HTML element of that name, never a foreign one.
            for k in range(len(self.nest) - 1, -1, -1):
                if self.nest[k][1] != 'html':
                    return
                if self.nest[k][0] == tag:
                    del self.nest[k:]
                    return
            return
        if tag in ('p', 'br'):
            self.leave_foreign()
            return
        for k in range(len(self.nest) - 1, -1, -1):
            if self.nest[k][0] == tag:
                del self.nest[k:]
                return
            if k > 0 and self.nest[k - 1][1] == 'html':
                return

    def handle_data(self, data):
        if self.in_style:
            for f in css_findings(data):
                self.note('style', f)

    def check(self, tag, attrs):
        names = {n for n, _ in attrs}
        for name, value in attrs:
            value = value or ''
            if re.match('on[a-z]', name):
                self.note(tag, 'handler %s' % name)
            elif is_script(value):
                self.note(tag, 'script value %s=%r' % (name, value[:60]))
            elif name == 'srcdoc' and tag == 'iframe':
                self.note(tag, 'srcdoc')
            elif name in ('src', 'data') and tag in FRAME_LIKE and is_markup_data(value):
                self.note(tag, 'data: page in %s' % name)
            elif (name in LOADING or (name == 'href' and tag in HREF_LOADS) or
                  (name == 'manifest' and tag == 'html')) and is_network(value):
                self.note(tag, 'loads %s=%r' % (name, value[:60]))
            elif name in LOADING_LISTS and any(is_network(v) for v in list_items(value)):
                self.note(tag, 'loads %s=%r' % (name, value[:60]))
            elif tag in ANIMATIONS and name in ('to', 'from', 'by', 'values') and any(
                    is_network(v) or is_script(v) for v in value.split(';')):
                self.note(tag, 'animates to %s=%r' % (name, value[:60]))
            if name == 'style' or 'url(' in value.lower():
                for f in css_findings(value):
                    self.note(tag, '%s in %s' % (f, name))
        if tag == 'meta' and 'http-equiv' in names:
            d = dict(attrs)
            if (d.get('http-equiv') or '').strip().lower() == 'refresh':
                url = refresh_url(d.get('content'))
                if url is not None and (is_network(url) or is_script(url)):
                    self.note(tag, 'refresh to %r' % url[:60])


def findings(page):
    """What the page would run or load, as a list of short texts: read with
    scripting on and off, what either reading finds."""
    found = []
    for scripting in (True, False):
        c = Checker(scripting)
        c.feed(page.decode('latin-1'))
        c.close()
        found += [f for f in c.findings if f not in found]
    return found


def main(paths):
    bad = 0
    for p in paths:
        with open(p, 'rb') as f:
            for what in findings(f.read()):
                print('%s: %s' % (p, what))
                bad += 1
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
