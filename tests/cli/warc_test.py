#!/usr/bin/env python3
"""Tests of webtrim --warc: archives written here, cleaned by the program,
and read back by a reader of this file's own, record by record (lengths,
digests, Refers-To, charset, the records copied byte for byte).

Run: warc_test.py --webtrim PATH [NAME...]
"""
import argparse, base64, gzip, hashlib, json, os, re, shutil, subprocess, sys, tempfile, zlib

PAGE = (b'<html><head><title>t</title><script src="http://x/a.js"></script>\r\n'
        b'<style>p{color:red}</style></head><body><p style="color:blue">Caf\xe9 words of the page '
        b'<img src="http://x/p.gif"> and more words.</p></body></html>\n')
SKIPS = ['truncated', 'bad-length', 'bad-header', 'bad-gzip', 'bad-chunked', 'undecodable', 'too-large']


def record(typ, rid, block, fields=(), version='1.0', length=None):
    head = ['WARC/' + version, 'WARC-Type: ' + typ, 'WARC-Record-ID: <urn:uuid:%s>' % rid,
            'WARC-Date: 2024-05-0%dT00:00:00Z' % (len(rid) % 9 + 1)] + list(fields)
    head.append('Content-Length: %s' % (len(block) if length is None else length))
    return ('\r\n'.join(head) + '\r\n\r\n').encode() + block + b'\r\n\r\n'


def http(body, ctype='text/html; charset=ISO-8859-1', extra=b''):
    return b'HTTP/1.1 200 OK\r\nContent-Type: ' + ctype.encode() + b'\r\n' + extra + b'\r\n' + body


def response(rid, block, version='1.0', length=None):
    return record('response', rid, block, ['WARC-Target-URI: http://example.org/%s' % rid,
                                           'Content-Type: application/http; msgtype=response'],
                  version, length)


def chunked(body, size=50):
    parts = [b'%x\r\n' % len(body[i:i + size]) + body[i:i + size] + b'\r\n' for i in range(0, len(body), size)]
    return b''.join(parts) + b'0\r\n\r\n'


def warcinfo(version='1.0'):
    return record('warcinfo', 'info0', b'software: test\r\n', ['Content-Type: application/warc-fields'], version)


def request(rid):
    return record('request', rid, b'GET / HTTP/1.1\r\nHost: example.org\r\n\r\n',
                  ['Content-Type: application/http; msgtype=request'])


def pack(records, how):
    """The file's bytes: 'plain', 'member' (a gzip member per record) or
    'whole' (one gzip stream)."""
    if how == 'plain':
        return b''.join(records)
    if how == 'whole':
        return gzip.compress(b''.join(records), mtime=0)
    return b''.join(gzip.compress(r, mtime=0) for r in records)


def broken_member(rec):
    """A gzip member whose deflate data is damaged in its middle."""
    z = bytearray(gzip.compress(rec, mtime=0))
    for i in range(len(z) // 2, len(z) // 2 + 8):
        z[i] ^= 0x5A
    return bytes(z)


# ---- The independent reader ------------------------------------------------

def members(data):
    """The inflated bytes of a file of gzip members, or the file itself."""
    if data[:2] != b'\x1f\x8b':
        return data
    out = []
    while data:
        d = zlib.decompressobj(31)
        out.append(d.decompress(data))
        assert d.eof, 'a gzip member of the output is cut short'
        data = d.unused_data
    return b''.join(out)


def read_records(data):
    """Every record of the output, strictly: header, exact length, trailer."""
    data = members(data)
    recs, at = [], 0
    while at < len(data):
        end = data.index(b'\r\n\r\n', at)
        lines = data[at:end].decode('utf-8').split('\r\n')
        assert re.fullmatch(r'WARC/1\.[01]', lines[0]), lines[0]
        fields = {}
        for line in lines[1:]:
            name, value = line.split(':', 1)
            fields[name.lower()] = value.strip()
        n = int(fields['content-length'])
        block = data[end + 4:end + 4 + n]
        assert len(block) == n, 'a block of the output is short'
        assert data[end + 4 + n:end + 8 + n] == b'\r\n\r\n', 'no trailer after a block'
        recs.append({'raw': data[at:end + 8 + n], 'fields': fields, 'block': block, 'version': lines[0]})
        at = end + 8 + n
    return recs


def digest(b):
    return 'sha1:' + base64.b32encode(hashlib.sha1(b).digest()).decode()


def check_output(data, expected, keep=False):
    """The output against the records that must come through: a list of
    (raw record, cleaned?) in order."""
    recs = read_records(data)
    info = recs[0]
    assert info['fields']['warc-type'] == 'warcinfo', 'the first record is no warcinfo'
    assert b'software: Webtrim/' in info['block']
    info_id = info['fields']['warc-record-id']
    out = recs[1:]
    want = []
    for raw, cleaned in expected:
        if not cleaned or keep:
            want.append(('copy', raw))
        if cleaned:
            want.append(('conversion', raw))
    assert len(out) == len(want), 'records: %d, expected %d' % (len(out), len(want))
    for got, (kind, raw) in zip(out, want):
        if kind == 'copy':
            assert got['raw'] == raw, 'a record was not copied byte for byte: %r' % raw[:80]
            continue
        orig = read_records(raw)[0]
        f = got['fields']
        assert f['warc-type'] == 'conversion'
        assert f['warc-refers-to'] == orig['fields']['warc-record-id']
        assert f['warc-target-uri'] == orig['fields'].get('warc-target-uri')
        assert f['warc-date'] == orig['fields']['warc-date']
        assert f['warc-warcinfo-id'] == info_id
        assert f['warc-block-digest'] == digest(got['block']) == f['warc-payload-digest']
        assert got['version'] == orig['version']
        assert got['block'] and len(got['block']) < 400, 'the page was not cleaned'
        assert b'<script' not in got['block'].lower()
        if b'charset=ISO-8859-1' in orig['block']:
            assert f['content-type'] == 'text/html; charset=iso-8859-1', f['content-type']
    return recs


# ---- The cases -------------------------------------------------------------

def good_set(version='1.0'):
    return [(warcinfo(version), False), (request('r1'), False),
            (response('p1', http(PAGE), version), True),
            (response('p2', http(b'%PDF-1.4 not a page', 'text/html')), False),
            (response('p3', http(PAGE, 'image/png')), False),
            (record('resource', 'p4', PAGE, ['WARC-Target-URI: file:///p4', 'Content-Type: text/html'],
                    version), True),
            (response('p5', http(chunked(PAGE), extra=b'Transfer-Encoding: chunked\r\n')), True),
            (response('p6', http(gzip.compress(PAGE), extra=b'Content-Encoding: gzip\r\n')), True),
            (response('p7', http(zlib.compress(PAGE), extra=b'Content-Encoding: deflate\r\n')), True)]


CASES = []


def case(fn):
    CASES.append(fn)
    return fn


def run(*args):
    r = subprocess.run([WEBTRIM] + list(args), capture_output=True, timeout=120)
    return r.returncode, r.stdout.decode(errors='replace'), r.stderr.decode(errors='replace')


def clean_archive(tmp, data, name='in.warc.gz', out='out.warc.gz', extra=()):
    src = os.path.join(tmp, name)
    with open(src, 'wb') as f:
        f.write(data)
    dst = os.path.join(tmp, out)
    rc, so, se = run('--warc', '--json', src, '-o', dst, *extra)
    assert rc == 0, (rc, se)
    report = json.loads(so)
    with open(dst, 'rb') as f:
        return report, f.read()


def counts(report, **want):
    got = {k: v for k, v in report['skipped'].items() if v}
    want = {k.replace('_', '-'): v for k, v in want.items()}
    assert got == want, 'skipped %r, expected %r' % (got, want)


@case
def good_records_every_packing(tmp):
    """1.0 and 1.1, plain, a gzip member per record and one gzip stream:
    pages cleaned (chunked and encoded ones too), the rest copied."""
    for version in ('1.0', '1.1'):
        for how in ('plain', 'member', 'whole'):
            recs = good_set(version)
            report, out = clean_archive(tmp, pack([r for r, _ in recs], how),
                                        out='out.warc.gz' if how != 'plain' else 'out.warc')
            counts(report)
            assert report['cleaned'] == 5 and report['records'] == len(recs), report
            check_output(out, recs)
            assert (out[:2] == b'\x1f\x8b') == (how != 'plain')


@case
def keep_originals(tmp):
    recs = good_set()
    report, out = clean_archive(tmp, pack([r for r, _ in recs], 'member'), extra=['--warc-keep-originals'])
    check_output(out, recs, keep=True)


@case
def the_cleaned_page_is_the_command_lines(tmp):
    """A conversion record holds what webtrim makes of the page as a file."""
    page = os.path.join(tmp, 'page.html')
    with open(page, 'wb') as f:
        f.write(PAGE)
    rc, _, se = run(page, '-o', os.path.join(tmp, 'clean.html'))
    assert rc == 0, se
    _, out = clean_archive(tmp, pack([response('p1', http(PAGE))], 'member'))
    with open(os.path.join(tmp, 'clean.html'), 'rb') as f:
        assert read_records(out)[1]['block'] == f.read()


@case
def cleaned_responses_stay_responses(tmp):
    """--warc-response: the HTTP head kept less its framing and coding, a
    new Content-Length, the digests of the new block and body, no
    Refers-To; the page the same as in the conversion record."""
    recs = good_set()
    data = pack([r for r, _ in recs], 'member')
    _, conv = clean_archive(tmp, data)
    _, resp = clean_archive(tmp, data, out='resp.warc.gz', extra=['--warc-response'])
    conv, resp = read_records(conv)[1:], read_records(resp)[1:]
    assert len(conv) == len(resp), (len(conv), len(resp))
    checked = 0
    for c, r in zip(conv, resp):
        if c['fields']['warc-type'] != 'conversion' or r['fields']['warc-type'] != 'response':
            assert c['raw'] == r['raw'] or c['fields']['warc-type'] == 'conversion'
            continue
        checked += 1
        f = r['fields']
        assert 'warc-refers-to' not in f
        head, _, body = r['block'].partition(b'\r\n\r\n')
        assert body == c['block'], 'the pages differ'
        lines = head.decode('latin-1').split('\r\n')
        assert lines[0] == 'HTTP/1.1 200 OK'
        names = [l.split(':')[0].lower() for l in lines[1:]]
        assert 'transfer-encoding' not in names and 'content-encoding' not in names, names
        assert ('content-length: %d' % len(body)) in [l.lower() for l in lines], lines
        assert f['warc-block-digest'] == digest(r['block'])
        assert f['warc-payload-digest'] == digest(body)
        assert f['content-type'] == 'application/http; msgtype=response'
    assert checked == 4, checked
    # The resource record has no HTTP head: it is still a conversion.
    assert [r['fields']['warc-type'] for r in resp].count('conversion') == 1


BAD = [
    # name, the records (raw, cleaned?) that come through, the bad bytes, counts
    ('truncated', lambda: ([], [response('t1', http(PAGE))[:-60]]), {'truncated': 1}),
    ('bad-length-long', lambda: ([], [response('t2', http(PAGE), length=len(http(PAGE)) + 30)]),
     {'bad_length': 1}),
    ('bad-length-short', lambda: ([], [response('t3', http(PAGE), length=len(http(PAGE)) - 30)]),
     {'bad_length': 1}),
    ('bad-length-text', lambda: ([], [response('t4', http(PAGE), length='12x')]), {'bad_length': 1}),
    ('bad-header', lambda: ([], [b'WARC/1.0\r\nWARC-Type: response\r\nno colon here\r\n'
                                 b'Content-Length: 3\r\n\r\nabc\r\n\r\n']), {'bad_header': 1}),
    ('bad-header-version', lambda: ([], [b'WARC/2.0\r\nWARC-Type: response\r\n'
                                         b'Content-Length: 3\r\n\r\nabc\r\n\r\n']), {'bad_header': 1}),
    ('bad-chunked', lambda: ([(response('t5', http(PAGE, extra=b'Transfer-Encoding: chunked\r\n')), False)], []),
     {'bad_chunked': 1}),
    ('undecodable', lambda: ([(response('t6', http(b'\x0b\x80garbage', extra=b'Content-Encoding: br\r\n')),
                               False)], []), {'undecodable': 1}),
    ('bad-gzip-data', lambda: ([], [(response('t7', http(b'\x1f\x8bnot gzip at all',
                                                          extra=b'Content-Encoding: gzip\r\n')))]),
     {'undecodable': 1}),
]


@case
def bad_records_are_skipped_and_counted(tmp):
    """Each kind of bad record between good ones, in every packing: counted
    once, the good records around it all there, the file never stopped."""
    for name, make, want in BAD:
        for how in ('plain', 'member', 'whole'):
            through, bad = make()
            if name == 'bad-gzip-data':       # copied: an encoding that does not decode
                through, bad = [(bad[0], False)], []
            before = [(warcinfo(), False), (response('g1', http(PAGE)), True)]
            after = [(request('g2'), False), (response('g3', http(PAGE)), True)]
            if name == 'truncated':
                after = []                    # the file ends inside it
            recs = before + through + [(b, False) for b in bad] + after
            report, out = clean_archive(tmp, pack([r for r, _ in recs], how))
            try:
                counts(report, **want)
                check_output(out, before + through + after)
            except AssertionError as e:
                raise AssertionError('%s, %s: %s' % (name, how, e))


@case
def broken_gzip_member(tmp):
    """A damaged member costs its record only."""
    good = [(warcinfo(), False), (response('g1', http(PAGE)), True)]
    later = [(response('g3', http(PAGE)), True), (request('g4'), False)]
    data = pack([r for r, _ in good], 'member') + broken_member(response('x', http(PAGE * 20))) + \
        pack([r for r, _ in later], 'member')
    report, out = clean_archive(tmp, data)
    counts(report, bad_gzip=1)
    check_output(out, good + later)
    # Cut short inside the last member: truncated.
    report, out = clean_archive(tmp, pack([r for r, _ in good], 'member') +
                                gzip.compress(response('y', http(PAGE)))[:-30])
    counts(report, truncated=1)
    check_output(out, good)


@case
def over_the_record_limit(tmp):
    """A record past --record-limit is copied whole and counted; one cut
    short past it is dropped, never half written."""
    big = response('big', http(PAGE + b'<p>x</p>' * 200000))
    recs = [(warcinfo(), False), (big, False), (response('g1', http(PAGE)), True)]
    report, out = clean_archive(tmp, pack([r for r, _ in recs], 'member'), extra=['--record-limit', '1'])
    counts(report, too_large=1)
    check_output(out, recs)
    report, out = clean_archive(tmp, pack([r for r, _ in recs[:2]], 'plain')[:-100],
                                extra=['--record-limit', '1'])
    counts(report, too_large=1, truncated=1)
    check_output(out, recs[:1])


@case
def gzip_levels(tmp):
    """--warc-level: the same members holding the same bytes at any level
    (level 0 stored, so the largest); a level out of 0 to 9 is refused."""
    data = pack([r for r, _ in good_set()], 'member')
    _, default = clean_archive(tmp, data)
    _, six = clean_archive(tmp, data, out='six.warc.gz', extra=['--warc-level', '6'])
    assert six == default, 'level 6 is not the default'
    sizes = {}
    for level in ('0', '1', '9'):
        _, out = clean_archive(tmp, data, out='l%s.warc.gz' % level, extra=['--warc-level=' + level])
        assert members(out) == members(default), 'level %s changed the records' % level
        sizes[level] = len(out)
    assert sizes['0'] > sizes['1'] >= sizes['9'], sizes
    for bad in ('10', '-1', 'x', ''):
        rc, _, se = run('--warc', '--warc-level=' + bad, os.path.join(tmp, 'in.warc.gz'), '-o',
                        os.path.join(tmp, 'bad.warc.gz'))
        assert rc == 2 and 'compression level' in se, (bad, rc, se)


@case
def several_inputs_to_a_folder(tmp):
    """Two inputs of the same base name in two folders: two outputs, one
    each, under names that stay apart; -j 2."""
    for d in ('a', 'b'):
        os.makedirs(os.path.join(tmp, d))
        with open(os.path.join(tmp, d, 'crawl.warc.gz'), 'wb') as f:
            f.write(pack([warcinfo(), response('p-' + d, http(PAGE))], 'member'))
    os.makedirs(os.path.join(tmp, 'out'))
    rc, so, se = run('--warc', '-j', '2', '--json', os.path.join(tmp, 'a/crawl.warc.gz'),
                     os.path.join(tmp, 'b/crawl.warc.gz'), '-o', os.path.join(tmp, 'out'))
    assert rc == 0, se
    reports = [json.loads(line) for line in so.splitlines()]
    assert sorted(os.path.basename(r['output']) for r in reports) == ['crawl-2.warc.gz', 'crawl.warc.gz']
    assert sorted(os.listdir(os.path.join(tmp, 'out'))) == ['crawl-2.warc.gz', 'crawl.warc.gz']
    refers = set()
    for r in reports:
        with open(r['output'], 'rb') as f:
            refers.add(read_records(f.read())[2]['fields']['warc-refers-to'])
    assert refers == {'<urn:uuid:p-a>', '<urn:uuid:p-b>'}
    rc, _, se = run('--warc', os.path.join(tmp, 'a/crawl.warc.gz'), os.path.join(tmp, 'b/crawl.warc.gz'),
                    '-o', os.path.join(tmp, 'nowhere'))
    assert rc == 1 and 'names a folder' in se and not os.path.exists(os.path.join(tmp, 'nowhere')), se


@case
def the_output_is_never_the_input(tmp):
    src = os.path.join(tmp, 'in.warc')
    data = pack([warcinfo(), response('p1', http(PAGE))], 'plain')
    with open(src, 'wb') as f:
        f.write(data)
    os.symlink('in.warc', os.path.join(tmp, 'link.warc'))
    for out in (src, os.path.join(tmp, 'link.warc')):
        rc, _, se = run('--warc', src, '-o', out)
        assert rc == 1 and 'input itself' in se, (rc, se)
    with open(src, 'rb') as f:
        assert f.read() == data
    assert sorted(os.listdir(tmp)) == ['in.warc', 'link.warc'], os.listdir(tmp)
    rc, _, se = run('--warc', src)
    assert rc == 2 and '-o' in se


@case
def not_an_archive(tmp):
    """Files that are no archive at all end with a report, not a stop."""
    for data in (b'', b'\x1f\x8b' + b'\0' * 40, b'<html>no archive</html>', os.urandom(5000)):
        report, out = clean_archive(tmp, data)
        assert report['records'] == 0 and report['status'] == 'done'
        assert len(read_records(out)) == 1


def main():
    global WEBTRIM
    ap = argparse.ArgumentParser()
    ap.add_argument('--webtrim', required=True)
    ap.add_argument('names', nargs='*')
    args = ap.parse_args()
    WEBTRIM = os.path.abspath(args.webtrim)
    failed = 0
    for fn in CASES:
        if args.names and fn.__name__ not in args.names:
            continue
        tmp = tempfile.mkdtemp(prefix='webtrim-warc-')
        try:
            fn(tmp)
            print('ok', fn.__name__)
        except Exception as e:
            failed += 1
            print('FAIL', fn.__name__, type(e).__name__, e)
        finally:
            shutil.rmtree(tmp, ignore_errors=True)
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
