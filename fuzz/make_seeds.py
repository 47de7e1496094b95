#!/usr/bin/env python3
"""Writes generated seed inputs for the fuzz targets into a folder.

Each seed is a fuzz input: two bytes of options word (low byte first), then
a small page built from fragments that reach the states of the stages:
deleted and kept elements, comments, forms with and without table tags,
nested objects and tables, style and background attributes, over-long tags.
The output is the same on every run (fixed random seed).

With --warc, the seeds are small web archives for the warc target instead:
a packing byte (fuzz_warc.cpp), a byte for the damage, then records of every
kind, some of them bad.

usage: make_seeds.py [--warc] FOLDER [COUNT]
"""
import os
import random
import sys

OPTIONS = [0x0000, 0x13BF, 0x1FFF, 0x0FFF, 0x0100, 0x0900, 0x0004, 0x0010,
           0x0014, 0x0001 | 0x0002, 0x0040, 0x0200, 0x0400, 0x0008, 0x0080,
           0x8000, 0xC800]

WORDS = ["alpha", "beta", "gamma", "&nbsp;", "delta", "x", "text,", "1999"]

FRAGMENTS = [
    "<!-- a comment -->", "<!-->", "<!--->", "<!-- <td> x --->y -->",
    "<!DOCTYPE html>", "<style>p{color:red}</style>", "<STYLE><</STYLE></STYLE>",
    "<script>var a = '<td>';</script>\r\n", "<script src=\"http://x/a.js\"></script>",
    "<SCRIPT >x</SCRIPT >", "<form action=a><input name=q></form> ",
    "<form><table><tr><td>in form</td></tr></table></form>", "<form><th>h</form>",
    "<base href=\"http://x/\">", "<BASEFONT SIZE=3>", "<img src=a.gif>",
    "<IMG SRC='HTTP://x/b.gif'>\r\n", "<img lowsrc=a.gif src=http:b.gif>",
    "<frame src=http:f.htm>", "<FRAME SRC=local.htm>", "<frameset><frame src=a><frameset></frameset>more</frameset>", "<noframes>no</noframes>",
    "<iframe src=\"http:i\">x</iframe>", "<link rel=stylesheet href=a.css>",
    "<LINK REL=STYLESHEET HREF=\"http:b.css\">", "<meta charset=utf-8>",
    "<meta name=keywords content=x>", "<meta http-equiv=content-style-type>",
    "<object><object>in</object></object> ", "<object data=http:o></ /object>",
    "<embed src=http:e>", "<applet code=a>x</applet>", "<applet code=http:a></applet>",
    "<body bgcolor=black text=white>", "</body>", "<p style=\"color:red\">",
    "<p style=color:red;margin:0>", "<p style='a:b; c:d'>", "<p class=mystyle style=\"x\">",
    "<td background=\"http:b.gif\">", "<td backgroundhttp:xyz>",
    "<div style=\"background: url(http:b.gif) repeat\">", "<i style=\"a:url(x)\" title=\"url(y)\">",
    "<td fontstyle=\"x\">", "<a <b>", "<a href=h>", "<tdx>", "<TABLEAU>", "< td>", "</ td>",
    "<b>bold</b>", "<br>", "\r\n", "\n", "\t", " ", "\x00", "\xff\xfe",
    "<h1>The headline</h1>", "<H1 class=\"title\">An open headline", "</h1>", "<h2>Sub</h2>",
    "<div class=\"nav\"><a href=/a>a</a> <a href=/b>b</a> <a href=/c>c</a></div>",
    "<div class=\"article\"><p>alpha beta gamma delta alpha beta gamma delta alpha beta</p>",
    "<div id=\"x\x01\xff\">caf\xe9 &amp; &#8217;&bogus</div>",
    # What runs or loads when the page is opened.
    '<img src=a.gif onerror="go()">', '<body ONLOAD=x>', '<a href="javascript:x">j</a>',
    '<a href=" &#106;avascript:x" title="a>b" onclick=y>', '<img src="https://x/a.png">',
    '<img src=//x/b.png srcset="a.png 1x, https://x/c.png 2x">', '<video poster=//x/p src=v.mp4></video>',
    '<iframe srcdoc="<b>x</b>"></iframe>', '<iframe src="data:text/html,<script>x</script>"></iframe>',
    '<object data="//x/o.swf"></object>', '<link rel=icon href=HTTPS://x/f.ico>',
    '<svg><image href="//x/i.png"/><use xlink:href="https://x/s.svg#a"/></svg>',
    '<meta http-equiv=refresh content="0;url=https://x/">', '<base href="\\\\x\\">',
    '<p style="a:url(b);c:url(\'//d\');e:image-set(\\"//f\\" 1x)">',
    '<style>@import url(https://x/a.css);p{background:url(//x/b.png)}</style>',
    '<img src=ht&Tab;tps&colon;//x>', '<textarea><img src=//x></textarea>', '<xmp><a onclick=x></xmp>',
    '<noscript><img src=//x/n.gif></noscript>', '<!-- <img src=//x> --!>',
    '<div title="' + 'A' * 4200 + '" onclick=x>', '<a ping="a https://x/p" href=b>',
]


def words(rng):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(0, 12)))


def table(rng, depth):
    out = ["<table border=1>"]
    for _ in range(rng.randint(1, 3)):
        out.append("<tr>")
        for _ in range(rng.randint(1, 3)):
            cell = words(rng)
            if depth < 3 and rng.random() < 0.3:
                cell += table(rng, depth + 1)
            if rng.random() < 0.3:
                cell += rng.choice(FRAGMENTS)
            out.append("<td>" + cell + ("</td>" if rng.random() < 0.8 else ""))
        out.append("</tr>")
    if rng.random() < 0.9:
        out.append("</table>")
    return "".join(out)


def page(rng):
    head = "<html><head><title>t</title>" + "".join(
        rng.choice(FRAGMENTS) for _ in range(rng.randint(0, 3))) + "</head>"
    parts = []
    for _ in range(rng.randint(1, 6)):
        r = rng.random()
        if r < 0.4:
            parts.append(table(rng, 0))
        elif r < 0.7:
            parts.append(words(rng))
        else:
            parts.append(rng.choice(FRAGMENTS))
    body = "<body>" if rng.random() < 0.8 else ""
    tail = "</body></html>" if rng.random() < 0.7 else ""
    text = head + body + "".join(parts) + tail
    if rng.random() < 0.05:
        # A tag around the 4096-byte limit of the tag buffer.
        text += "<frame src=http:x " + "a" * rng.choice([4070, 4077, 4078, 4079, 5000]) + ">"
    return text


def warc_record(rng, i):
    body = page(rng).encode("latin-1")
    kind = rng.choice(["page", "page", "chunked", "request", "resource", "bad"])
    if kind == "chunked":
        body = b"".join(b"%x\r\n" % len(body[j:j + 40]) + body[j:j + 40] + b"\r\n"
                        for j in range(0, len(body), 40)) + b"0\r\n\r\n"
    http = (b"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n" +
            (b"Transfer-Encoding: chunked\r\n" if kind == "chunked" else b"") + b"\r\n" + body)
    typ, block = ("request", b"GET / HTTP/1.1\r\n\r\n") if kind == "request" else \
        ("resource", body) if kind == "resource" else ("response", http)
    length = len(block) + (rng.choice([-9, 7]) if kind == "bad" else 0)
    head = ("WARC/1.%d\r\nWARC-Type: %s\r\nWARC-Record-ID: <urn:uuid:%d>\r\n"
            "WARC-Target-URI: http://x/%d\r\nContent-Type: %s\r\nContent-Length: %d\r\n\r\n"
            % (rng.randint(0, 1), typ, i, i,
               "text/html" if typ == "resource" else "application/http; msgtype=" + typ, length))
    return head.encode() + block + b"\r\n\r\n"


ENCODINGS = ["quoted-printable", "base64", "7bit", "8bit", "binary"]


def archive(rng, html):
    """A single-file page (MIME multipart/related) whose root part is html,
    for the MIME reader's target (a folder whose name ends in "mime")."""
    import base64
    import quopri
    eol = rng.choice(["\r\n", "\n"])
    enc = rng.choice(ENCODINGS)
    raw = html.encode("latin-1")
    if enc == "quoted-printable":
        body = quopri.encodestring(raw).decode("latin-1")
    elif enc == "base64":
        body = base64.encodebytes(raw).decode("ascii").rstrip("\n")
    else:
        body = html
    start = rng.random() < 0.3
    head = ["From: <Saved by Blink>", "MIME-Version: 1.0",
            "Content-Type: multipart/related;", '\ttype="text/html";', '\tboundary="----B"' +
            ('; start="<root@x>"' if start else ""), ""]
    picture = ["------B", "Content-Type: image/png", "Content-Transfer-Encoding: base64",
               "Content-Location: http://x/b.gif", "", "iVBORw0KGgo="]
    root = ["------B", "Content-Type: text/html", "Content-ID: <root@x>",
            "Content-Transfer-Encoding: " + enc, "Content-Location: http://x/page.htm", "", body]
    parts = picture + root if start else root + picture
    doc = eol.join(head + parts + ["------B--", ""])
    return doc[: rng.randrange(len(doc) + 1)] if rng.random() < 0.1 else doc


def main():
    if sys.argv[1] == "--warc":
        folder = sys.argv[2]
        count = int(sys.argv[3]) if len(sys.argv) > 3 else 100
        os.makedirs(folder, exist_ok=True)
        rng = random.Random(20261208)
        for i in range(count):
            records = b"".join(warc_record(rng, i * 10 + j) for j in range(rng.randint(1, 4)))
            with open(os.path.join(folder, "seed-%04d" % i), "wb") as f:
                f.write(bytes([rng.randrange(128), rng.randrange(256)]) + records)
        return
    folder = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(20240611)
    for i in range(count):
        opts = OPTIONS[i % len(OPTIONS)]
        text = page(rng)
        if os.path.basename(os.path.normpath(folder)).endswith("mime"):
            text = archive(rng, text)
        data = bytes([opts & 0xFF, opts >> 8]) + text.encode("latin-1")
        with open(os.path.join(folder, "seed-%04d" % i), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
