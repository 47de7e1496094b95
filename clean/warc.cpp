// The WARC source, reader and writer, and the HTTP message inside a
// response record: see warc.h for the states and invariants.
#include "clean/warc.h"
#include <stdlib.h>
#include <string.h>
#include "clean/bytes.h"

const char *const kWarcSkipNames[kWarcSkipCount] = {
#define WARC_SKIP_NAME(id, name) name,
    WARC_SKIPS(WARC_SKIP_NAME)
#undef WARC_SKIP_NAME
};

// ---- The source -----------------------------------------------------------

enum { kSourceProbe, kSourcePlain, kSourceMember, kSourceResync, kSourceEnd };

static void Consume(WarcSource *s, size_t n)
{
    StreamSkip(s->raw, n);
    s->rawRead += (int64_t)n;
}

void WarcSourceOpen(WarcSource *s, ByteStream *raw)
{
    memset(s, 0, sizeof *s);
    s->raw = raw;
    s->state = kSourceProbe;
    s->zOpen = inflateInit2(&s->z, 16 + MAX_WBITS) == Z_OK;
}

void WarcSourceClose(WarcSource *s)
{
    if (s->zOpen)
        inflateEnd(&s->z);
    s->zOpen = false;
}

// At the file's start or after a member: a gzip member, plain bytes (only at
// the start), the end, or what is neither (a break).
static void SourceProbe(WarcSource *s)
{
    const unsigned char *p;
    size_t n = StreamPeek(s->raw, &p);
    if (n == 0) {
        s->state = kSourceEnd;
        return;
    }
    bool magic = p[0] == 0x1F && (n < 2 || p[1] == 0x8B);
    if (s->rawRead == 0 && !s->gzipped) {
        s->gzipped = magic;
        s->state = magic ? kSourceMember : kSourcePlain;
    } else if (magic) {
        s->state = kSourceMember;
    } else {
        s->broken = true;
        s->state = kSourceResync;
    }
    if (s->state == kSourceMember) {
        if (!s->zOpen) {
            s->broken = true;
            s->state = kSourceEnd;
            return;
        }
        inflateReset(&s->z);
        s->members++;
    }
}

static size_t SourcePlain(WarcSource *s, unsigned char *buf, size_t n)
{
    const unsigned char *p;
    size_t have = StreamPeek(s->raw, &p);
    if (have == 0) {
        s->state = kSourceEnd;
        return 0;
    }
    size_t take = have < n ? have : n;
    memcpy(buf, p, take);
    Consume(s, take);
    return take;
}

static size_t SourceMember(WarcSource *s, unsigned char *buf, size_t n)
{
    const unsigned char *p;
    size_t have = StreamPeek(s->raw, &p);
    if (have == 0) {
        s->cutShort = true;
        s->state = kSourceEnd;
        return 0;
    }
    if (have > UINT32_MAX)
        have = UINT32_MAX;
    s->z.next_in = (Bytef *)p;
    s->z.avail_in = (uInt)have;
    s->z.next_out = buf;
    s->z.avail_out = (uInt)(n < UINT32_MAX ? n : UINT32_MAX);
    int rc = inflate(&s->z, Z_NO_FLUSH);
    Consume(s, have - s->z.avail_in);
    size_t got = (size_t)(s->z.next_out - buf);
    if (rc == Z_STREAM_END)
        s->state = kSourceProbe;
    else if (rc != Z_OK && !(rc == Z_BUF_ERROR && got > 0)) {
        s->broken = true;
        s->state = kSourceResync;
    }
    return got;
}

// Past the broken member's first byte, up to the next gzip magic.
static void SourceResync(WarcSource *s)
{
    const unsigned char *p;
    size_t n = StreamPeek(s->raw, &p);
    if (n == 0) {
        s->state = kSourceEnd;
        return;
    }
    Consume(s, 1);
    for (;;) {
        n = StreamPeek(s->raw, &p);
        if (n == 0) {
            s->state = kSourceEnd;
            return;
        }
        const unsigned char *hit = (const unsigned char *)memchr(p, 0x1F, n);
        if (!hit) {
            Consume(s, n);
            continue;
        }
        Consume(s, (size_t)(hit - p));
        n = StreamPeek(s->raw, &p);
        if (n < 3 || (p[1] == 0x8B && p[2] == 8)) {
            s->state = kSourceProbe;
            return;
        }
        Consume(s, 1);
    }
}

size_t WarcSourceRead(WarcSource *s, unsigned char *buf, size_t n)
{
    while (!s->broken && n > 0) {
        size_t got = 0;
        switch (s->state) {
        case kSourceProbe:
            SourceProbe(s);
            break;
        case kSourcePlain:
            got = SourcePlain(s, buf, n);
            break;
        case kSourceMember:
            got = SourceMember(s, buf, n);
            break;
        case kSourceResync:
            SourceResync(s);
            break;
        default:
            return 0;
        }
        if (got)
            return got;
    }
    return 0;
}

void WarcSourceResume(WarcSource *s)
{
    s->broken = false;
}

// ---- The reader -----------------------------------------------------------

enum { kReadSeek, kReadHeader, kReadBlock, kReadLarge, kReadTrailer, kReadResync, kReadEnd };
enum { kContinue = -1 };

bool WarcReaderOpen(WarcReader *r, ByteStream *raw, size_t limit)
{
    WarcSourceOpen(&r->source, raw);
    r->state = kReadSeek;
    r->limit = limit;
    r->pending.clear();
    r->pendingPos = 0;
    r->buf = (unsigned char *)malloc(kWarcBufferSize);
    r->pos = r->len = 0;
    r->sourceDone = false;
    memset(r->skipped, 0, sizeof r->skipped);
    r->records = 0;
    r->largeLeft = 0;
    return r->buf != nullptr && r->source.zOpen;
}

void WarcReaderClose(WarcReader *r)
{
    WarcSourceClose(&r->source);
    free(r->buf);
    r->buf = nullptr;
    std::string().swap(r->pending);
}

// The bytes ready to read (pending first), at least one; 0 at the end of
// the source or at a break.
static size_t ReaderPeek(WarcReader *r, const unsigned char **p)
{
    if (r->pendingPos < r->pending.size()) {
        *p = (const unsigned char *)r->pending.data() + r->pendingPos;
        return r->pending.size() - r->pendingPos;
    }
    if (r->pos < r->len) {
        *p = r->buf + r->pos;
        return r->len - r->pos;
    }
    if (r->sourceDone || !r->buf)
        return 0;
    r->pos = 0;
    r->len = WarcSourceRead(&r->source, r->buf, kWarcBufferSize);
    if (r->len == 0) {
        r->sourceDone = true;
        return 0;
    }
    *p = r->buf;
    return r->len;
}

static void ReaderSkip(WarcReader *r, size_t n)
{
    if (r->pendingPos < r->pending.size()) {
        r->pendingPos += n;
        if (r->pendingPos >= r->pending.size()) {
            r->pending.clear();
            r->pendingPos = 0;
        }
    } else {
        r->pos += n;
    }
}

// Up to n bytes appended to `out` (null: dropped): how many.
static size_t ReaderTake(WarcReader *r, size_t n, std::string *out)
{
    size_t done = 0;
    while (done < n) {
        const unsigned char *p;
        size_t have = ReaderPeek(r, &p);
        if (have == 0)
            break;
        size_t take = have < n - done ? have : n - done;
        if (out)
            out->append((const char *)p, take);
        ReaderSkip(r, take);
        done += take;
    }
    return done;
}

// The source ended or broke under a record: the reason (a break is the
// gzip member's fault), and back to a fresh start after a break.
static int EndedInside(WarcReader *r)
{
    if (r->source.broken) {
        r->skipped[kSkipBadGzip]++;
        WarcSourceResume(&r->source);
        r->sourceDone = false;
        r->pending.clear();
        r->pendingPos = 0;
        r->state = kReadSeek;
    } else {
        r->skipped[kSkipTruncated]++;       // the file, or its last gzip member, ends early
        r->state = kReadEnd;
    }
    return kContinue;
}

// A bad record: counted, and its bytes after the first given back to be
// searched for the next record.
static int Reject(WarcReader *r, int reason, const std::string &giveBack, size_t from)
{
    r->skipped[reason]++;
    std::string rest = r->pending.substr(r->pendingPos);
    r->pending = giveBack.size() > from ? giveBack.substr(from) : std::string();
    r->pending += rest;
    r->pendingPos = 0;
    r->state = kReadResync;
    return kContinue;
}

static int ReadSeek(WarcReader *r, WarcRecord *rec)
{
    for (;;) {
        const unsigned char *p;
        size_t n = ReaderPeek(r, &p);
        if (n == 0) {
            if (r->source.broken)
                return EndedInside(r);
            r->state = kReadEnd;
            return kContinue;
        }
        size_t i = 0;
        while (i < n && (p[i] == '\r' || p[i] == '\n'))
            i++;
        ReaderSkip(r, i);
        if (i < n) {
            rec->head.clear();
            r->state = p[i] == 'W' ? kReadHeader : kReadResync;
            if (r->state == kReadResync)
                r->skipped[kSkipBadHeader]++;
            return kContinue;
        }
    }
}

static bool EndsHeader(const std::string &h)
{
    size_t n = h.size();
    return (n >= 2 && h[n - 1] == '\n' && h[n - 2] == '\n') ||
           (n >= 4 && memcmp(h.data() + n - 4, "\r\n\r\n", 4) == 0);
}

static bool ParseNumber(const std::string &text, int64_t *value)
{
    if (text.empty() || text.size() > 18)
        return false;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

static int ReadHeader(WarcReader *r, WarcRecord *rec)
{
    for (;;) {
        const unsigned char *p;
        size_t n = ReaderPeek(r, &p);
        if (n == 0)
            return EndedInside(r);
        const unsigned char *nl = (const unsigned char *)memchr(p, '\n', n);
        size_t take = nl ? (size_t)(nl - p) + 1 : n;
        rec->head.append((const char *)p, take);
        ReaderSkip(r, take);
        if (rec->head.size() > kMaxHeader)
            return Reject(r, kSkipBadHeader, rec->head, 1);
        if (nl && EndsHeader(rec->head))
            break;
    }
    const std::string &h = rec->head;
    if (h.compare(0, 8, "WARC/1.0") == 0)
        rec->version = 10;
    else if (h.compare(0, 8, "WARC/1.1") == 0)
        rec->version = 11;
    else
        return Reject(r, kSkipBadHeader, h, 1);
    size_t lineEnd = h.find('\n');
    size_t first = 8;
    if (h[first] == '\r')
        first++;
    if (first != lineEnd)
        return Reject(r, kSkipBadHeader, h, 1);
    // Every line a field or the continuation of one.
    for (size_t at = lineEnd + 1; at < h.size();) {
        size_t end = h.find('\n', at);
        size_t stop = end > at && h[end - 1] == '\r' ? end - 1 : end;
        if (stop > at && h[at] != ' ' && h[at] != '\t' &&
            memchr(h.data() + at, ':', stop - at) == nullptr)
            return Reject(r, kSkipBadHeader, h, 1);
        at = end + 1;
    }
    const char *fields = h.data() + lineEnd + 1;
    size_t fieldsSize = h.size() - lineEnd - 1;
    std::string length;
    if (!HeaderField(fields, fieldsSize, "WARC-Type", &rec->type) ||
        !HeaderField(fields, fieldsSize, "WARC-Record-ID", &rec->id) || rec->type.empty() ||
        rec->id.empty())
        return Reject(r, kSkipBadHeader, h, 1);
    if (!HeaderField(fields, fieldsSize, "Content-Length", &length) || !ParseNumber(length, &rec->length))
        return Reject(r, kSkipBadLength, h, 1);
    rec->targetUri.clear();
    rec->date.clear();
    rec->contentType.clear();
    rec->concurrentTo.clear();
    HeaderField(fields, fieldsSize, "WARC-Target-URI", &rec->targetUri);
    HeaderField(fields, fieldsSize, "WARC-Date", &rec->date);
    HeaderField(fields, fieldsSize, "Content-Type", &rec->contentType);
    HeaderField(fields, fieldsSize, "WARC-Concurrent-To", &rec->concurrentTo);
    rec->block.clear();
    rec->held = (uint64_t)rec->length <= r->limit;
    r->state = kReadBlock;
    return kContinue;
}

static int ReadBlock(WarcReader *r, WarcRecord *rec)
{
    if (!rec->held) {
        r->largeLeft = rec->length;
        r->state = kReadLarge;
        r->records++;
        return kWarcGot;
    }
    rec->block.reserve((size_t)rec->length);
    if (ReaderTake(r, (size_t)rec->length, &rec->block) < (size_t)rec->length)
        return EndedInside(r);
    r->state = kReadTrailer;
    return kContinue;
}

// A record handed over unread and not copied: its block is read past.
static int ReadLarge(WarcReader *r, WarcRecord *rec)
{
    while (r->largeLeft > 0) {
        size_t part = r->largeLeft > (1 << 30) ? (1 << 30) : (size_t)r->largeLeft;
        size_t got = ReaderTake(r, part, nullptr);
        r->largeLeft -= (int64_t)got;
        if (got < part)
            return EndedInside(r);
    }
    rec->block.clear();
    r->state = kReadTrailer;
    return kContinue;
}

// The two line ends after the block; the record is given when they are there.
static int ReadTrailer(WarcReader *r, WarcRecord *rec)
{
    std::string end;
    ReaderTake(r, 4, &end);
    if (end == "\r\n\r\n") {
        r->state = kReadSeek;
        if (!rec->held)
            return kContinue;           // given already, before its block
        r->records++;
        return kWarcGot;
    }
    if (end.size() < 4)                     // the source ended or broke first
        return EndedInside(r);
    return Reject(r, kSkipBadLength, rec->block + end, rec->held ? 1 : 0);
}

// Up to the next line that begins "WARC/1.", which stays to be read.
static int ReadResync(WarcReader *r, WarcRecord *)
{
    static const char kMark[] = "\nWARC/1.";
    const size_t markSize = sizeof kMark - 1;
    size_t matched = 0;
    for (;;) {
        const unsigned char *p;
        size_t n = ReaderPeek(r, &p);
        if (n == 0) {
            if (r->source.broken) {
                WarcSourceResume(&r->source);
                r->sourceDone = false;
                r->state = kReadSeek;
            } else {
                r->state = kReadEnd;
            }
            return kContinue;
        }
        size_t i = 0;
        if (matched == 0) {
            const unsigned char *nl = (const unsigned char *)memchr(p, '\n', n);
            if (!nl) {
                ReaderSkip(r, n);
                continue;
            }
            i = (size_t)(nl - p);
        }
        for (; i < n; i++) {
            if (p[i] == (unsigned char)kMark[matched]) {
                matched++;
            } else {
                matched = p[i] == '\n' ? 1 : 0;
                continue;
            }
            if (matched == markSize) {
                ReaderSkip(r, i + 1);
                std::string rest = r->pending.substr(r->pendingPos);
                r->pending = "WARC/1." + rest;
                r->pendingPos = 0;
                r->state = kReadSeek;
                return kContinue;
            }
        }
        ReaderSkip(r, n);
    }
}

static int ReadEnd(WarcReader *, WarcRecord *)
{
    return kWarcEnd;
}

typedef int (*ReadHandler)(WarcReader *r, WarcRecord *rec);
static const ReadHandler kReadHandlers[] = {
    ReadSeek, ReadHeader, ReadBlock, ReadLarge, ReadTrailer, ReadResync, ReadEnd,
};

int WarcReadRecord(WarcReader *r, WarcRecord *rec)
{
    for (;;) {
        int result = kReadHandlers[r->state](r, rec);
        if (result != kContinue)
            return result;
    }
}

// ---- The writer -----------------------------------------------------------

bool WarcWriterOpen(WarcWriter *w, ByteStream *out, bool gzip, int level)
{
    memset(w, 0, sizeof *w);
    w->out = out;
    w->gzip = gzip;
    w->level = level;
    if (!gzip)
        return true;
    w->zbuf = (unsigned char *)malloc(kWarcBufferSize);
    w->zOpen = deflateInit2(&w->z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    w->failed = !w->zOpen || !w->zbuf;
    return !w->failed;
}

void WarcWriterClose(WarcWriter *w)
{
    if (w->zOpen)
        deflateEnd(&w->z);
    w->zOpen = false;
    free(w->zbuf);
    w->zbuf = nullptr;
}

void WarcBeginRecord(WarcWriter *w)
{
    if (w->gzip && w->zOpen)
        deflateReset(&w->z);
}

static void Deflate(WarcWriter *w, const void *data, size_t n, int flush)
{
    if (w->failed)
        return;
    w->z.next_in = (Bytef *)data;
    w->z.avail_in = (uInt)n;
    for (;;) {
        w->z.next_out = w->zbuf;
        w->z.avail_out = kWarcBufferSize;
        int rc = deflate(&w->z, flush);
        StreamWrite(w->out, w->zbuf, kWarcBufferSize - w->z.avail_out);
        if (rc == Z_STREAM_ERROR) {
            w->failed = true;
            return;
        }
        if (flush == Z_FINISH ? rc == Z_STREAM_END : w->z.avail_in == 0 && w->z.avail_out != 0)
            return;
    }
}

void WarcPut(WarcWriter *w, const void *data, size_t n)
{
    if (!w->gzip) {
        StreamWrite(w->out, data, n);
        return;
    }
    const unsigned char *p = (const unsigned char *)data;
    while (n > 0) {
        size_t part = n > (1u << 30) ? (1u << 30) : n;
        Deflate(w, p, part, Z_NO_FLUSH);
        p += part;
        n -= part;
    }
}

void WarcEndRecord(WarcWriter *w)
{
    if (w->gzip)
        Deflate(w, "", 0, Z_FINISH);
    w->records++;
}

bool WarcCopyBlock(WarcReader *r, WarcRecord *rec, WarcWriter *w)
{
    if (r->state != kReadLarge)
        return false;
    // Held aside in a temporary file until its end is seen, so that the
    // output never holds part of a record.
    ByteStream *spill = (ByteStream *)malloc(sizeof(ByteStream));
    if (!spill || !StreamCreateTemp(spill)) {
        free(spill);
        return false;
    }
    bool whole = true;
    while (r->largeLeft > 0) {
        const unsigned char *p;
        size_t n = ReaderPeek(r, &p);
        if (n == 0) {
            whole = false;
            break;
        }
        size_t take = (int64_t)n < r->largeLeft ? n : (size_t)r->largeLeft;
        StreamWrite(spill, p, take);
        ReaderSkip(r, take);
        r->largeLeft -= (int64_t)take;
    }
    if (!whole) {
        EndedInside(r);
    } else {
        r->state = kReadTrailer;
        ReadTrailer(r, rec);
        whole = r->state == kReadSeek;
    }
    if (whole && StreamFlush(spill) && StreamRewind(spill) && !StreamWriteFailed(spill)) {
        WarcBeginRecord(w);
        WarcPut(w, rec->head.data(), rec->head.size());
        for (;;) {
            const unsigned char *p;
            size_t n = StreamPeek(spill, &p);
            if (n == 0)
                break;
            WarcPut(w, p, n);
            StreamSkip(spill, n);
        }
        WarcPut(w, "\r\n\r\n", 4);
        WarcEndRecord(w);
        whole = !StreamReadFailed(spill);
    }
    StreamClose(spill);
    free(spill);
    return whole;
}

// ---- HTTP -----------------------------------------------------------------

static std::string Trim(const char *p, size_t n)
{
    while (n && (*p == ' ' || *p == '\t'))
        p++, n--;
    while (n && (p[n - 1] == ' ' || p[n - 1] == '\t' || p[n - 1] == '\r'))
        n--;
    return std::string(p, n);
}

bool HeaderField(const char *head, size_t n, const char *name, std::string *value)
{
    size_t nameSize = strlen(name);
    for (size_t at = 0; at < n;) {
        const char *line = head + at;
        const char *nl = (const char *)memchr(line, '\n', n - at);
        size_t lineSize = nl ? (size_t)(nl - line) : n - at;
        if (lineSize > nameSize && line[nameSize] == ':') {
            size_t i = 0;
            while (i < nameSize && Lower((unsigned char)line[i]) == Lower((unsigned char)name[i]))
                i++;
            if (i == nameSize) {
                *value = Trim(line + nameSize + 1, lineSize - nameSize - 1);
                return true;
            }
        }
        at += lineSize + 1;
    }
    return false;
}

bool ParseHttpHead(const unsigned char *p, size_t n, HttpHead *head)
{
    if (n < 5 || memcmp(p, "HTTP/", 5) != 0)
        return false;
    size_t end = 0;
    for (size_t i = 0; i + 1 < n; i++) {
        if (p[i] != '\n')
            continue;
        if (p[i + 1] == '\n') {
            end = i + 2;
            break;
        }
        if (p[i + 1] == '\r' && i + 2 < n && p[i + 2] == '\n') {
            end = i + 3;
            break;
        }
    }
    if (end == 0)
        return false;
    head->size = end;
    const char *h = (const char *)p;
    head->contentType.clear();
    head->transferEncoding.clear();
    head->contentEncoding.clear();
    HeaderField(h, end, "Content-Type", &head->contentType);
    HeaderField(h, end, "Transfer-Encoding", &head->transferEncoding);
    HeaderField(h, end, "Content-Encoding", &head->contentEncoding);
    return true;
}

static int HexValue(unsigned char c)
{
    return c >= '0' && c <= '9' ? c - '0' : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10 : -1;
}

bool Dechunk(const unsigned char *p, size_t n, std::string *out, size_t limit)
{
    out->clear();
    size_t at = 0;
    for (;;) {
        uint64_t size = 0;
        size_t digits = 0;
        while (at < n && HexValue(p[at]) >= 0) {
            size = size * 16 + (uint64_t)HexValue(p[at++]);
            if (++digits > 15)
                return false;
        }
        if (digits == 0)
            return false;
        const unsigned char *nl = (const unsigned char *)memchr(p + at, '\n', n - at);
        if (!nl)
            return false;
        // Only extensions (";...") or blanks between the size and the line end.
        for (size_t i = at; p + i < nl; i++)
            if (p[i] == ';')
                break;
            else if (p[i] != ' ' && p[i] != '\t' && p[i] != '\r')
                return false;
        at = (size_t)(nl - p) + 1;
        if (size == 0)
            return true;                // trailers, if any, are not kept
        if (size > n - at || out->size() + size > limit)
            return false;
        out->append((const char *)p + at, (size_t)size);
        at += (size_t)size;
        if (at < n && p[at] == '\r')
            at++;
        if (at >= n || p[at] != '\n')
            return false;
        at++;
    }
}

static int Inflate(const unsigned char *p, size_t n, std::string *out, size_t limit, int windowBits)
{
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit2(&z, windowBits) != Z_OK)
        return kSkipUndecodable;
    out->clear();
    unsigned char piece[16384];
    z.next_in = (Bytef *)p;
    z.avail_in = (uInt)n;
    int rc;
    do {
        z.next_out = piece;
        z.avail_out = sizeof piece;
        rc = inflate(&z, Z_NO_FLUSH);
        size_t got = sizeof piece - z.avail_out;
        if (out->size() + got > limit) {
            inflateEnd(&z);
            return kSkipTooLarge;
        }
        out->append((const char *)piece, got);
    } while (rc == Z_OK);
    inflateEnd(&z);
    return rc == Z_STREAM_END ? 0 : kSkipUndecodable;
}

int DecodeContent(const std::string &encoding, const unsigned char *p, size_t n, std::string *out,
                  size_t limit)
{
    std::string e;
    for (char c : encoding)
        e += (char)Lower((unsigned char)c);
    if (e.empty() || e == "identity") {
        if (n > limit)
            return kSkipTooLarge;
        out->assign((const char *)p, n);
        return 0;
    }
    if (n > UINT32_MAX)
        return kSkipTooLarge;
    if (e == "gzip" || e == "x-gzip")
        return Inflate(p, n, out, limit, 16 + MAX_WBITS);
    if (e == "deflate") {
        int rc = Inflate(p, n, out, limit, MAX_WBITS);
        return rc == kSkipUndecodable ? Inflate(p, n, out, limit, -MAX_WBITS) : rc;
    }
    return kSkipUndecodable;
}

std::string CharsetOf(const std::string &contentType)
{
    std::string lower;
    for (char c : contentType)
        lower += (char)Lower((unsigned char)c);
    size_t at = lower.find("charset=");
    if (at == std::string::npos)
        return "";
    at += 8;
    size_t end = at;
    if (at < lower.size() && (lower[at] == '"' || lower[at] == '\''))
        end = ++at;
    while (end < lower.size() && lower[end] != ';' && lower[end] != '"' && lower[end] != '\'' &&
           lower[end] != ' ' && lower[end] != '\t')
        end++;
    return lower.substr(at, end - at);
}
