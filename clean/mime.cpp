// The MIME reader and the codecs of mime.h.
//
// The reader is a state machine over lines; each state has its handler:
//   kTopHeaders   the document's header fields, up to the first blank line
//   kPreamble     text before the first delimiter ("--" boundary)
//   kPartHeaders  a part's header fields, up to its blank line
//   kPartBody     a part's body, up to the next delimiter
//   kEpilogue     after the close delimiter ("--" boundary "--"): ignored
// Invariants: a line is handed over whole, with its offset and its line
// end's length, but only its first kLineKeep bytes are kept (a header field
// or a delimiter is never longer; a body line may be); one header field,
// unfolded, is held at a time (at most kFieldMax bytes, the rest cut); a
// part's body ends where the line end before its delimiter begins, as the
// delimiter owns that line end. The document is understood only when it
// ends after a close delimiter; anything else is a status that refuses it.
#include "clean/mime.h"
#include <stdlib.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include "clean/bytes.h"
#include "clean/bytescan.h"

namespace {

enum { kLineKeep = 1024, kFieldMax = 4096, kBoundaryMax = 200, kIdMax = 512 };

enum MimeState {
    kTopHeaders = 0,
    kPreamble,
    kPartHeaders,
    kPartBody,
    kEpilogue,
    kMimeStateCount
};

struct Line {
    int64_t start;
    int64_t length;             // without its line end
    int eol;                    // 0 (the last line), 1 (LF) or 2 (CR LF)
    size_t keep;                // bytes kept in text
    unsigned char text[kLineKeep];
};

// What the reader knows of the part it is in.
struct Part {
    char type[64];              // "text/html", lower case
    char charset[40];
    char id[kIdMax];            // without its angle brackets
    MimeEncoding encoding;
    bool knownEncoding;
    int64_t bodyStart;
    int64_t start;              // its delimiter line
    int64_t location;           // its Content-Location in the addresses' text, or -1
    int64_t cid;                // its "cid:" address there, or -1
};

struct Reader {
    MimeDocument *doc;
    MimeState state;
    char field[kFieldMax + 1];
    size_t fieldLength;
    bool sawField;
    char topType[64];
    char boundary[kBoundaryMax + 1];
    size_t boundaryLength;
    char start[kIdMax];         // the start parameter, without angle brackets
    Part part;
    bool haveRoot;
    int prevEol;                // the line end of the line before
    Part root;
    int64_t rootEnd;
};

}  // namespace

static bool IsBlank(unsigned char c)
{
    return c == ' ' || c == '\t';
}

// Reads one line into *line; false at the end of the input.
static bool ReadLine(ByteStream *in, Line *line)
{
    line->start = StreamTell(in);
    line->length = 0;
    line->eol = 0;
    line->keep = 0;
    bool any = false;
    unsigned char last = 0;
    const unsigned char *p;
    size_t n;
    while ((n = StreamPeek(in, &p)) > 0) {
        any = true;
        const unsigned char *nl = (const unsigned char *)memchr(p, '\n', n);
        size_t take = nl ? (size_t)(nl - p) : n;
        if (line->keep < (size_t)kLineKeep) {
            size_t room = (size_t)kLineKeep - line->keep;
            size_t k = take < room ? take : room;
            memcpy(line->text + line->keep, p, k);
            line->keep += k;
        }
        if (take)
            last = p[take - 1];
        line->length += (int64_t)take;
        if (nl) {
            StreamSkip(in, take + 1);
            line->eol = 1;
            if (line->length > 0 && last == '\r') {
                line->eol = 2;
                line->length--;
                if ((int64_t)line->keep > line->length)
                    line->keep = (size_t)line->length;
            }
            return true;
        }
        StreamSkip(in, take);
    }
    return any;
}

static void CopyLower(char *to, size_t size, const char *from, size_t n)
{
    if (n >= size)
        n = size - 1;
    for (size_t i = 0; i < n; i++)
        to[i] = (char)Lower((unsigned char)from[i]);
    to[n] = 0;
}

static bool StartsWithIgnoringCase(const char *text, size_t n, const char *prefix)
{
    size_t k = strlen(prefix);
    if (n < k)
        return false;
    for (size_t i = 0; i < k; i++)
        if (Lower((unsigned char)text[i]) != (unsigned char)prefix[i])
            return false;
    return true;
}

// Trims blanks from both ends of [*p, *p + *n).
static void Trim(const char **p, size_t *n)
{
    while (*n && IsBlank((unsigned char)**p)) {
        (*p)++;
        (*n)--;
    }
    while (*n && IsBlank((unsigned char)(*p)[*n - 1]))
        (*n)--;
}

// Copies an identifier without its angle brackets and blanks.
static void CopyId(char *to, size_t size, const char *from, size_t n)
{
    Trim(&from, &n);
    if (n && from[0] == '<') {
        from++;
        n--;
    }
    if (n && from[n - 1] == '>')
        n--;
    if (n >= size)
        n = size - 1;
    memcpy(to, from, n);
    to[n] = 0;
}

// A parameter of a Content-Type value ("; name=value" or "; name=\"value\""),
// copied into `to` as it stands; false when there is none.
static bool Parameter(const char *value, size_t n, const char *name, char *to, size_t size)
{
    size_t k = strlen(name);
    bool quoted = false;
    for (size_t i = 0; i < n; i++) {
        char c = value[i];
        if (c == '"')
            quoted = !quoted;
        if (quoted || c != ';')
            continue;
        size_t j = i + 1;
        while (j < n && IsBlank((unsigned char)value[j]))
            j++;
        if (!StartsWithIgnoringCase(value + j, n - j, name))
            continue;
        j += k;
        while (j < n && IsBlank((unsigned char)value[j]))
            j++;
        if (j >= n || value[j] != '=')
            continue;
        j++;
        while (j < n && IsBlank((unsigned char)value[j]))
            j++;
        size_t len = 0;
        if (j < n && value[j] == '"') {
            j++;
            while (j + len < n && value[j + len] != '"')
                len++;
        } else {
            while (j + len < n && value[j + len] != ';' && !IsBlank((unsigned char)value[j + len]))
                len++;
        }
        if (len >= size)
            return false;
        memcpy(to, value + j, len);
        to[len] = 0;
        return true;
    }
    return false;
}

// The media type of a Content-Type value, lower case.
static void MediaType(const char *value, size_t n, char *to, size_t size)
{
    Trim(&value, &n);
    size_t len = 0;
    while (len < n && value[len] != ';' && !IsBlank((unsigned char)value[len]))
        len++;
    CopyLower(to, size, value, len);
}

// ---------------------------------------------------------------------------
// The parts' addresses

// Each address is kept as its text, a 0 byte, and the index of its part in
// four bytes (kPartIndexSize); answers its offset, or -1 when not kept.
enum { kPartIndexSize = 4 };

static int64_t AddAddress(MimeAddresses *a, const char *prefix, const char *text, size_t n, uint32_t part)
{
    size_t k = strlen(prefix);
    size_t whole = n + k + 1 + kPartIndexSize;
    if (n == 0 || n + k >= kMimeAddressMax)
        return -1;
    if (a->size + whole > kMimeAddressesMax) {
        a->overflow = true;
        return -1;
    }
    if (a->size + whole > a->capacity) {
        size_t cap = a->capacity ? a->capacity * 2 : 4096;
        while (cap < a->size + whole)
            cap *= 2;
        char *t = (char *)realloc(a->text, cap);
        if (!t) {
            a->overflow = true;
            return -1;
        }
        a->text = t;
        a->capacity = cap;
    }
    if (a->count == a->offsetCapacity) {
        size_t cap = a->offsetCapacity ? a->offsetCapacity * 2 : 64;
        uint32_t *o = (uint32_t *)realloc(a->offsets, cap * sizeof *o);
        if (!o) {
            a->overflow = true;
            return -1;
        }
        a->offsets = o;
        a->offsetCapacity = cap;
    }
    int64_t at = (int64_t)a->size;
    a->offsets[a->count++] = (uint32_t)a->size;
    memcpy(a->text + a->size, prefix, k);
    memcpy(a->text + a->size + k, text, n);
    a->size += k + n;
    a->text[a->size++] = 0;
    memcpy(a->text + a->size, &part, kPartIndexSize);
    a->size += kPartIndexSize;
    return at;
}

// A heap sort of the offsets by the addresses they point to (no state
// outside the record, so threads may read documents at once).
static void SortAddresses(MimeAddresses *a)
{
    uint32_t *o = a->offsets;
    const char *t = a->text;
    size_t n = a->count;
    for (size_t start = n / 2; start-- > 0;) {
        for (size_t root = start;;) {
            size_t child = 2 * root + 1;
            if (child >= n)
                break;
            if (child + 1 < n && strcmp(t + o[child], t + o[child + 1]) < 0)
                child++;
            if (strcmp(t + o[root], t + o[child]) >= 0)
                break;
            uint32_t s = o[root];
            o[root] = o[child];
            o[child] = s;
            root = child;
        }
    }
    for (size_t end = n; end-- > 1;) {
        uint32_t s = o[0];
        o[0] = o[end];
        o[end] = s;
        for (size_t root = 0;;) {
            size_t child = 2 * root + 1;
            if (child >= end)
                break;
            if (child + 1 < end && strcmp(t + o[child], t + o[child + 1]) < 0)
                child++;
            if (strcmp(t + o[root], t + o[child]) >= 0)
                break;
            uint32_t x = o[root];
            o[root] = o[child];
            o[child] = x;
            root = child;
        }
    }
}

// The index of the first address (in sorted order) not below the n bytes
// at `text`: one that `text` begins is below it, one that begins with it
// is not.
static size_t FirstNotBelow(const MimeAddresses *a, const char *text, size_t n)
{
    size_t lo = 0, hi = a->count;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        const char *s = a->text + a->offsets[mid];
        size_t m = strlen(s);
        int c = memcmp(s, text, m < n ? m : n);
        if (c < 0 || (c == 0 && m < n))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

bool MimeHasAddress(const MimeAddresses *a, const char *address, size_t n)
{
    return MimePartOf(a, address, n) >= 0;
}

bool MimeHasAddressPrefix(const MimeAddresses *a, const char *prefix, size_t n)
{
    size_t at = FirstNotBelow(a, prefix, n);
    if (at == a->count)
        return false;
    const char *s = a->text + a->offsets[at];
    return strlen(s) >= n && memcmp(s, prefix, n) == 0;
}

long MimePartOf(const MimeAddresses *a, const char *address, size_t n)
{
    size_t at = FirstNotBelow(a, address, n);
    if (at == a->count)
        return -1;
    const char *s = a->text + a->offsets[at];
    size_t m = strlen(s);
    if (m != n || memcmp(s, address, n) != 0)
        return -1;
    uint32_t part;
    memcpy(&part, s + m + 1, kPartIndexSize);
    return (long)part;
}

// ---------------------------------------------------------------------------
// Header fields

// The held field is complete: what it says of the document or the part.
static void TakeField(Reader *r)
{
    if (!r->sawField)
        return;
    r->sawField = false;
    const char *f = r->field;
    size_t n = r->fieldLength;
    const char *colon = (const char *)memchr(f, ':', n);
    if (!colon)
        return;
    size_t nameLength = (size_t)(colon - f);
    const char *value = colon + 1;
    size_t vn = n - nameLength - 1;
    Trim(&value, &vn);
    char name[40];
    CopyLower(name, sizeof name, f, nameLength);
    if (r->state == kTopHeaders) {
        if (strcmp(name, "content-type") != 0)
            return;
        MediaType(value, vn, r->topType, sizeof r->topType);
        if (Parameter(value, vn, "boundary", r->boundary, sizeof r->boundary))
            r->boundaryLength = strlen(r->boundary);
        char start[kIdMax];
        if (Parameter(value, vn, "start", start, sizeof start))
            CopyId(r->start, sizeof r->start, start, strlen(start));
        return;
    }
    Part *p = &r->part;
    if (strcmp(name, "content-type") == 0) {
        MediaType(value, vn, p->type, sizeof p->type);
        char charset[sizeof p->charset];
        if (Parameter(value, vn, "charset", charset, sizeof charset))
            CopyLower(p->charset, sizeof p->charset, charset, strlen(charset));
    } else if (strcmp(name, "content-transfer-encoding") == 0) {
        char e[24];
        CopyLower(e, sizeof e, value, vn);
        p->knownEncoding = true;
        if (strcmp(e, "quoted-printable") == 0)
            p->encoding = kMimeQuotedPrintable;
        else if (strcmp(e, "base64") == 0)
            p->encoding = kMimeBase64;
        else if (strcmp(e, "7bit") == 0 || strcmp(e, "8bit") == 0 || strcmp(e, "binary") == 0)
            p->encoding = kMimeIdentity;
        else
            p->knownEncoding = false;
    } else if (strcmp(name, "content-id") == 0) {
        CopyId(p->id, sizeof p->id, value, vn);
        int64_t at = AddAddress(&r->doc->addresses, "cid:", p->id, strlen(p->id), (uint32_t)r->doc->parts);
        if (p->cid < 0)
            p->cid = at;
    } else if (strcmp(name, "content-location") == 0) {
        int64_t at = AddAddress(&r->doc->addresses, "", value, vn, (uint32_t)r->doc->parts);
        if (p->location < 0)
            p->location = at;
    }
}

// A header line: a new field, or (beginning with a blank) more of the held one.
static bool HeaderLine(Reader *r, const Line *line)
{
    const char *t = (const char *)line->text;
    size_t n = line->keep;
    if (n && IsBlank((unsigned char)t[0]) && r->sawField) {
        size_t room = (size_t)kFieldMax - r->fieldLength;
        size_t k = n < room ? n : room;
        memcpy(r->field + r->fieldLength, t, k);
        r->fieldLength += k;
        return true;
    }
    TakeField(r);
    if (!memchr(t, ':', n))
        return false;
    r->fieldLength = n < (size_t)kFieldMax ? n : (size_t)kFieldMax;
    memcpy(r->field, t, r->fieldLength);
    r->sawField = true;
    return true;
}

// 0: no delimiter; 1: a delimiter; 2: the close delimiter.
static int Delimiter(const Reader *r, const Line *line)
{
    size_t b = r->boundaryLength;
    if (line->length < (int64_t)(2 + b) || line->text[0] != '-' || line->text[1] != '-' ||
        memcmp(line->text + 2, r->boundary, b) != 0 || (int64_t)line->keep != line->length)
        return 0;
    size_t i = 2 + b;
    int kind = 1;
    if (i + 1 < line->keep && line->text[i] == '-' && line->text[i + 1] == '-') {
        kind = 2;
        i += 2;
    }
    for (; i < line->keep; i++)
        if (!IsBlank(line->text[i]))
            return 0;
    return kind;
}

static void StartPart(Reader *r, const Line *line)
{
    memset(&r->part, 0, sizeof r->part);
    r->part.knownEncoding = true;
    r->part.start = line->start;
    r->part.location = -1;
    r->part.cid = -1;
    r->state = kPartHeaders;
}

static MimePartKind KindOf(const char *type)
{
    if (strcmp(type, "text/css") == 0)
        return kPartStyleSheet;
    static const char *const kMarkup[] = {"text/html", "application/xhtml+xml", "image/svg+xml", "text/xml",
                                          "application/xml"};
    for (const char *markup : kMarkup)
        if (strcmp(type, markup) == 0)
            return kPartMarkup;
    return kPartOther;
}

// The part that ended at `line` (its body at [bodyStart, end)) into the list.
static void ListPart(MimeDocument *d, const Part *part, const Line *line, int64_t end)
{
    if (d->listOverflow)
        return;
    if (d->listCount == d->listCapacity) {
        size_t cap = d->listCapacity ? 2 * d->listCapacity : 16;
        MimePart *list = cap <= (size_t)kMimeListMax ? (MimePart *)realloc(d->list, cap * sizeof *list) : nullptr;
        if (!list) {
            d->listOverflow = true;
            return;
        }
        d->list = list;
        d->listCapacity = cap;
    }
    MimePart *p = &d->list[d->listCount++];
    p->start = part->start;
    p->end = line->start;
    p->bodyStart = part->bodyStart;
    p->bodyEnd = end;
    p->encoding = part->encoding;
    p->knownEncoding = part->knownEncoding;
    p->kind = KindOf(part->type);
    p->location = part->location;
    p->id = part->cid;
}

// The part's body ended where `line`, its delimiter, began.
static void EndPart(Reader *r, const Line *line)
{
    MimeDocument *d = r->doc;
    int64_t end = line->start - r->prevEol;
    if (end < r->part.bodyStart)
        end = r->part.bodyStart;
    bool isRoot = !r->haveRoot && (r->start[0] ? strcmp(r->part.id, r->start) == 0 : d->parts == 0);
    if (isRoot) {
        r->root = r->part;
        r->rootEnd = end;
        r->haveRoot = true;
        d->root = (size_t)d->parts;
    }
    ListPart(d, &r->part, line, end);
    d->parts++;
}

// ---------------------------------------------------------------------------
// The states' handlers: each takes one line and answers the next state.

static MimeState OnTopHeaders(Reader *r, const Line *line)
{
    if (line->length == 0) {
        TakeField(r);
        MimeDocument *d = r->doc;
        if (strcmp(r->topType, "multipart/related") != 0)
            d->status = kMimeNotMultipart;
        else if (r->boundaryLength == 0)
            d->status = kMimeNoBoundary;
        return kPreamble;
    }
    if (!HeaderLine(r, line) || line->keep != (size_t)line->length)
        r->doc->status = kMimeNoHeaders;
    return kTopHeaders;
}

static MimeState OnPreamble(Reader *r, const Line *line)
{
    int kind = Delimiter(r, line);
    if (kind == 1) {
        StartPart(r, line);
        return kPartHeaders;
    }
    if (kind == 2)
        return kEpilogue;
    return kPreamble;
}

static MimeState OnPartHeaders(Reader *r, const Line *line)
{
    if (line->length == 0) {
        TakeField(r);
        r->part.bodyStart = line->start + line->eol;
        return kPartBody;
    }
    HeaderLine(r, line);
    return kPartHeaders;
}

static MimeState OnPartBody(Reader *r, const Line *line)
{
    int kind = Delimiter(r, line);
    if (kind == 0)
        return kPartBody;
    EndPart(r, line);
    if (kind == 2)
        return kEpilogue;
    StartPart(r, line);
    return kPartHeaders;
}

static MimeState OnEpilogue(Reader *r, const Line *line)
{
    (void)r;
    (void)line;
    return kEpilogue;
}

// In a part's body, at the start of a line: passes over the lines that
// cannot be a delimiter (those not beginning with '-') without handing them
// over, and stops at the start of the next line that may be one (or at the
// end), with prevEol the line end before it.
static void SkipBodyLines(Reader *r, ByteStream *in)
{
    bool atLineStart = true;
    int last = 0;
    const unsigned char *p;
    size_t n;
    while ((n = StreamPeek(in, &p)) > 0) {
        if (atLineStart && p[0] == '-')
            return;
        // The first "\n-": a '-' after a LF.
        const unsigned char *end = p + n, *dash = p + 1 + FindSpacedPair(p, n - 1, '\n', '-', 1);
        if (dash < end) {
            int before = dash - 1 > p ? dash[-2] : last;
            r->prevEol = before == '\r' ? 2 : 1;
            StreamSkip(in, (size_t)(dash - p));
            return;
        }
        const unsigned char *nl = end - 1;
        while (nl > p && *nl != '\n')
            nl--;
        if (*nl == '\n') {
            int before = nl > p ? nl[-1] : last;
            r->prevEol = before == '\r' ? 2 : 1;
        }
        atLineStart = p[n - 1] == '\n';
        last = p[n - 1];
        StreamSkip(in, n);
    }
}

typedef MimeState (*LineHandler)(Reader *r, const Line *line);
static const LineHandler kHandlers[kMimeStateCount] = {
    OnTopHeaders, OnPreamble, OnPartHeaders, OnPartBody, OnEpilogue,
};

MimeStatus ReadMimeDocument(ByteStream *in, MimeDocument *doc)
{
    memset(doc, 0, sizeof *doc);
    Reader *r = (Reader *)calloc(1, sizeof *r);
    Line *line = (Line *)malloc(sizeof *line);
    if (!r || !line) {
        free(r);
        free(line);
        doc->status = kMimeReadFailed;
        return doc->status;
    }
    r->doc = doc;
    r->state = kTopHeaders;
    while (doc->status == kMimeOk) {
        if (r->state == kPartBody)
            SkipBodyLines(r, in);
        if (!ReadLine(in, line))
            break;
        r->state = kHandlers[r->state](r, line);
        r->prevEol = line->eol;
    }
    if (StreamReadFailed(in))
        doc->status = kMimeReadFailed;
    if (doc->status == kMimeOk) {
        if (r->state == kTopHeaders)
            doc->status = r->sawField ? kMimeUnterminated : kMimeNoHeaders;
        else if (r->state == kPreamble || (r->state == kEpilogue && doc->parts == 0))
            doc->status = kMimeNoParts;
        else if (r->state != kEpilogue)
            doc->status = kMimeUnterminated;
        else if (!r->haveRoot)
            doc->status = kMimeNoRoot;
        else if (strcmp(r->root.type, "text/html") != 0)
            doc->status = kMimeRootNotHtml;
        else if (!r->root.knownEncoding)
            doc->status = kMimeBadEncoding;
    }
    if (doc->status == kMimeOk) {
        doc->rootStart = r->root.bodyStart;
        doc->rootEnd = r->rootEnd;
        doc->encoding = r->root.encoding;
        memcpy(doc->charset, r->root.charset, sizeof doc->charset);
        SortAddresses(&doc->addresses);
    }
    free(r);
    free(line);
    return doc->status;
}

void FreeMimeDocument(MimeDocument *doc)
{
    free(doc->list);
    doc->list = nullptr;
    doc->listCount = doc->listCapacity = 0;
    free(doc->addresses.text);
    free(doc->addresses.offsets);
    memset(&doc->addresses, 0, sizeof doc->addresses);
}

const char *MimeStatusText(MimeStatus status)
{
    static const char *const kTexts[kMimeStatusCount] = {
        "",
        "it does not begin with MIME header fields",
        "it is not multipart/related",
        "it has no boundary",
        "it has no parts",
        "a part is not terminated",
        "no part has the start parameter's Content-ID",
        "its root part is not text/html",
        "its root part's transfer encoding is unknown",
        "it could not be read",
    };
    return status >= 0 && status < kMimeStatusCount ? kTexts[status] : "";
}

bool LooksLikeMime(const unsigned char *head, size_t n)
{
    // Header fields from the first byte (no markup before them), one of
    // them a Content-Type of multipart/related.
    size_t i = 0;
    while (i < n) {
        size_t end = i;
        while (end < n && head[end] != '\n')
            end++;
        size_t len = end - i;
        if (len && head[end - 1] == '\r')
            len--;
        if (len == 0)
            return false;
        const char *t = (const char *)head + i;
        if (!IsBlank(head[i])) {
            size_t k = 0;
            while (k < len && t[k] != ':' && t[k] > ' ' && t[k] < 127)
                k++;
            if (k == 0 || k == len || t[k] != ':')
                return false;
            if (StartsWithIgnoringCase(t, len, "content-type:")) {
                const char *v = t + 13;
                size_t vn = len - 13;
                Trim(&v, &vn);
                return StartsWithIgnoringCase(v, vn, "multipart/related");
            }
        }
        i = end + 1;
    }
    return false;
}

// ---------------------------------------------------------------------------
// The codecs

// The value of each byte as a hex digit, -1 for a byte that is none.
struct HexDigits {
    signed char of[256];
};

static constexpr HexDigits BuildHexDigits()
{
    HexDigits t = {};
    for (int c = 0; c < 256; c++)
        t.of[c] = (signed char)(c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1);
    return t;
}

static constexpr HexDigits kHexDigits = BuildHexDigits();

static int HexValue(int c)
{
    return kHexDigits.of[(unsigned char)c];
}

// Copies the bytes at p up to the first '=' (at most n) to o and answers
// how many. Sixteen (SSE2) or eight at a time while as many remain: they
// are stored whole
// even when a '=' is among them, so o must have room for n bytes (the bytes
// stored after the run are written over by what follows it).
static size_t CopyUntilEquals(const unsigned char *p, size_t n, unsigned char *o)
{
    size_t run = 0;
#if defined(__SSE2__)
    const __m128i equals = _mm_set1_epi8('=');
    for (; run + 16 <= n; run += 16) {
        __m128i x = _mm_loadu_si128((const __m128i *)(p + run));
        _mm_storeu_si128((__m128i *)(o + run), x);
        int hit = _mm_movemask_epi8(_mm_cmpeq_epi8(x, equals));
        if (hit)
            return run + (size_t)__builtin_ctz((unsigned)hit);
    }
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    for (; run + 8 <= n; run += 8) {
        uint64_t x;
        memcpy(&x, p + run, 8);
        memcpy(o + run, &x, 8);
        uint64_t eq = x ^ (ones * '=');
        uint64_t hit = (eq - ones) & ~eq & highs;   // exact at its lowest byte
        if (hit)
            return run + (size_t)__builtin_ctzll(hit) / 8;
    }
#endif
    for (; run < n && p[run] != '='; run++)
        o[run] = p[run];
    return run;
}

// Quoted-printable decoding. States: kQpText; kQpEquals after '='; kQpHex
// after '=' and one hex digit (held); kQpSoft after '=' and blanks or a CR,
// waiting for the LF of a soft line break. Hard line breaks are written as
// they stand, so the encoder writes them back the same.
enum QpState { kQpText = 0, kQpEquals, kQpHex, kQpSoft };

// One byte in a state other than kQpText's run of plain bytes, written at
// *o: at most three bytes (a '=' and a digit held from before, then c).
static void QpDecodeByte(int *state, int *held, int c, unsigned char **o)
{
    for (bool again = true; again;) {
        again = false;
        switch (*state) {
        case kQpText:
            if (c == '=')
                *state = kQpEquals;
            else
                *(*o)++ = (unsigned char)c;
            break;
        case kQpEquals:
            if (HexValue(c) >= 0) {
                *held = c;
                *state = kQpHex;
            } else if (c == '\n') {
                *state = kQpText;
            } else if (c == '\r' || IsBlank((unsigned char)c)) {
                *state = kQpSoft;
            } else {
                *(*o)++ = '=';
                *state = kQpText;
                again = true;
            }
            break;
        case kQpHex:
            if (HexValue(c) >= 0) {
                *(*o)++ = (unsigned char)(HexValue(*held) * 16 + HexValue(c));
            } else {
                *(*o)++ = '=';
                *(*o)++ = (unsigned char)*held;
                again = true;
            }
            *state = kQpText;
            break;
        default:  // kQpSoft
            if (c == '\n') {
                *state = kQpText;
            } else if (c != '\r' && !IsBlank((unsigned char)c)) {
                *(*o)++ = '=';
                *state = kQpText;
                again = true;
            }
            break;
        }
    }
}

#if defined(__SSE2__)
// The places of the '=' among the 64 bytes at p (a bit each).
static uint64_t EqualsIn64(const unsigned char *p)
{
    const __m128i equals = _mm_set1_epi8('=');
    return (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128((const __m128i *)p), equals))
         | (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128((const __m128i *)(p + 16)), equals)) << 16
         | (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128((const __m128i *)(p + 32)), equals)) << 32
         | (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128((const __m128i *)(p + 48)), equals)) << 48;
}

// Stores the 64 bytes at p at o.
static void Copy64(unsigned char *o, const unsigned char *p)
{
    __m128i a = _mm_loadu_si128((const __m128i *)p), b = _mm_loadu_si128((const __m128i *)(p + 16)),
            c = _mm_loadu_si128((const __m128i *)(p + 32)), d = _mm_loadu_si128((const __m128i *)(p + 48));
    _mm_storeu_si128((__m128i *)o, a);
    _mm_storeu_si128((__m128i *)(o + 16), b);
    _mm_storeu_si128((__m128i *)(o + 32), c);
    _mm_storeu_si128((__m128i *)(o + 48), d);
}

// Markup written as quoted-printable has a '=' every thirty bytes or so
// ("=3D" for each attribute's '=', and a soft break on every line). Asking
// of each sixteen bytes whether one holds a '=' is then a guess the
// processor loses about as often as it wins; asked of sixty-four, the
// answer is nearly always yes. So the '=' of each window of 64 bytes are
// found at once, from one mask, and taken in turn: the plain bytes before
// each are stored 64 at a time (what follows writes over the rest), and the
// sequence after it is read without a branch: "=XX" gives its byte, a soft
// break none. A window is taken while it and the next one lie in the
// stretch, so every store and every read has its room. Stops there, or at
// a '=' that is neither (left for the careful path, which goes on from *at
// and *out).
static void QpDecodeWindows(const unsigned char *p, size_t n, size_t *at, unsigned char **out)
{
    size_t i = *at, base = i;
    unsigned char *o = *out;
    for (; base + 128 + 2 <= n; base += 64) {
        uint64_t hits = EqualsIn64(p + base) >> (i - base) << (i - base);
        while (hits) {
            size_t k = base + (size_t)__builtin_ctzll(hits);
            hits &= hits - 1;
            Copy64(o, p + i);
            o += k - i;
            int c1 = p[k + 1], c2 = p[k + 2], hi = HexValue(c1), lo = HexValue(c2);
            bool hex = (hi | lo) >= 0, crlf = (c1 == '\r') & (c2 == '\n'), lf = c1 == '\n';
            size_t step = (size_t)(hex | crlf) * 3 + (size_t)lf * 2;
            if (step == 0) {
                *at = k;
                *out = o;
                return;
            }
            *o = (unsigned char)(hi * 16 + lo);
            o += hex;
            i = k + step;
        }
        if (i < base + 64) {
            Copy64(o, p + i);
            o += base + 64 - i;
            i = base + 64;
        }
    }
    *at = i;
    *out = o;
}
#endif

// Decodes one stretch of the body into dst, which has room for n + 2 bytes
// (a stretch gives back no more than its bytes and a sequence held from
// before: the output never runs more than 2 bytes ahead of the input, so
// the stores past a run have their room). Plain runs go up to the next '='
// at once, and "=XX" and a soft break that lie whole in the stretch are
// read in place; everything else goes through QpDecodeByte. Answers the
// bytes written.
static size_t QpDecodeStretch(int *state, int *held, const unsigned char *p, size_t n, unsigned char *dst)
{
    unsigned char *o = dst;
    for (size_t i = 0; i < n;) {
#if defined(__SSE2__)
        if (*state == kQpText) {
            QpDecodeWindows(p, n, &i, &o);
            if (i == n)
                break;
        }
#endif
        if (*state != kQpText) {
            // Rare: a sequence cut by the stretch's end, or not a sequence.
            QpDecodeByte(state, held, p[i++], &o);
            continue;
        }
        size_t run = CopyUntilEquals(p + i, n - i, o);
        o += run;
        i += run;
        if (i == n)
            break;
        int hi = i + 2 < n ? HexValue(p[i + 1]) : -1, lo = hi >= 0 ? HexValue(p[i + 2]) : -1;
        if (lo >= 0) {
            *o++ = (unsigned char)(hi * 16 + lo);
            i += 3;
        } else if (i + 2 < n && p[i + 1] == '\r' && p[i + 2] == '\n') {
            i += 3;
        } else if (i + 1 < n && p[i + 1] == '\n') {
            i += 2;
        } else {
            *state = kQpEquals;
            i++;
        }
    }
    return (size_t)(o - dst);
}

// The layout as the body's first line shows it: the line end of its first
// line (quoted-printable) and its characters (base64).
static void QpLayout(MimeDecoder *d, const unsigned char *p, size_t n, MimeLayout *layout)
{
    if (d->layoutSeen)
        return;
    if (const unsigned char *nl = (const unsigned char *)memchr(p, '\n', n)) {
        d->layoutSeen = true;
        layout->crlf = (nl > p ? nl[-1] : d->prev) == '\r';
    }
    d->prev = p[n - 1];
}

static int Base64Value(int c)
{
    return c >= 'A' && c <= 'Z' ? c - 'A' : c >= 'a' && c <= 'z' ? c - 'a' + 26 : c >= '0' && c <= '9' ? c - '0' + 52
         : c == '+' ? 62 : c == '/' ? 63 : -1;
}

// Base64 decoding: every byte outside the alphabet is passed over, the
// first '=' ends the data. The first line's length is the encoder's.
static size_t Base64Stretch(MimeDecoder *d, const unsigned char *p, size_t n, unsigned char *dst, MimeLayout *layout)
{
    unsigned char *o = dst;
    for (size_t i = 0; i < n; i++) {
        int c = p[i];
        if (!d->layoutSeen && (c == '\n' || c == '\r')) {
            d->layoutSeen = true;
            layout->crlf = c == '\r';
            layout->lineLength = d->lineChars;
        }
        int v = Base64Value(c);
        if (v < 0 || d->ended) {
            d->ended = d->ended || c == '=';
            if (!d->layoutSeen && c == '=')
                d->lineChars++;
            continue;
        }
        if (!d->layoutSeen)
            d->lineChars++;
        d->bits = d->bits << 6 | (uint32_t)v;
        if (++d->count == 4) {
            *o++ = (unsigned char)(d->bits >> 16);
            *o++ = (unsigned char)(d->bits >> 8);
            *o++ = (unsigned char)d->bits;
            d->bits = 0;
            d->count = 0;
        }
    }
    return (size_t)(o - dst);
}

void MimeStartDecoder(MimeDecoder *d, MimeEncoding encoding, MimeLayout *layout)
{
    memset(d, 0, sizeof *d);
    d->encoding = encoding;
    d->state = kQpText;
    layout->encoding = encoding;
    layout->crlf = true;
    layout->lineLength = 0;
}

size_t MimeDecodeStretch(MimeDecoder *d, const unsigned char *p, size_t n, unsigned char *dst, MimeLayout *layout)
{
    if (n == 0)
        return 0;
    if (d->encoding == kMimeQuotedPrintable) {
        QpLayout(d, p, n, layout);
        return QpDecodeStretch(&d->state, &d->held, p, n, dst);
    }
    if (d->encoding == kMimeBase64)
        return Base64Stretch(d, p, n, dst, layout);
    memcpy(dst, p, n);
    return n;
}

size_t MimeDecodeEnd(MimeDecoder *d, unsigned char *dst)
{
    unsigned char *o = dst;
    if (d->encoding == kMimeQuotedPrintable) {
        if (d->state == kQpEquals) {
            *o++ = '=';
        } else if (d->state == kQpHex) {
            *o++ = '=';
            *o++ = (unsigned char)d->held;
        }
        d->state = kQpText;
    } else if (d->encoding == kMimeBase64) {
        if (d->count == 2) {
            *o++ = (unsigned char)(d->bits >> 4);
        } else if (d->count == 3) {
            *o++ = (unsigned char)(d->bits >> 10);
            *o++ = (unsigned char)(d->bits >> 2);
        }
        d->count = 0;
    }
    return (size_t)(o - dst);
}

void MimeReadLayout(ByteStream *in, int64_t start, int64_t end, MimeEncoding encoding, MimeLayout *layout)
{
    MimeDecoder d;
    MimeStartDecoder(&d, encoding, layout);
    if (encoding != kMimeQuotedPrintable && encoding != kMimeBase64)
        return;
    enum { kPiece = 512 };          // the first line is all it needs
    unsigned char decoded[kPiece + 2];
    StreamSeek(in, start);
    const unsigned char *p;
    size_t got;
    while (!d.layoutSeen && start < end && (got = StreamPeek(in, &p)) > 0) {
        if ((int64_t)got > end - start)
            got = (size_t)(end - start);
        if (got > kPiece)
            got = kPiece;
        MimeDecodeStretch(&d, p, got, decoded, layout);
        StreamSkip(in, got);
        start += (int64_t)got;
    }
}

void MimeDecode(MimeEncoding encoding, ByteStream *in, int64_t n, ByteStream *out, MimeLayout *layout)
{
    unsigned char decoded[kMimeStretch + 2];
    MimeDecoder d;
    MimeStartDecoder(&d, encoding, layout);
    const unsigned char *p;
    size_t got;
    while (n > 0 && (got = StreamPeek(in, &p)) > 0) {
        if ((int64_t)got > n)
            got = (size_t)n;
        if (got > kMimeStretch)
            got = kMimeStretch;
        StreamWrite(out, decoded, MimeDecodeStretch(&d, p, got, decoded, layout));
        StreamSkip(in, got);
        n -= (int64_t)got;
    }
    StreamWrite(out, decoded, MimeDecodeEnd(&d, decoded));
}

// ---------------------------------------------------------------------------
// The decoded view

namespace {
// Where decoding can start again: the decoder as it stood before the body
// byte `encoded`, which gives the decoded bytes from `decoded` on.
struct Mark {
    int64_t decoded;
    int64_t encoded;
    MimeDecoder decoder;
};

// One place of reading: a decoder and the stretch it decoded last, the
// decoded bytes [stageStart, stageStart + stageLength).
struct Cursor {
    MimeDecoder decoder;
    int64_t encoded;            // the next body byte to decode
    bool ended;                 // the decoder's last bytes are in the stage
    int64_t stageStart;
    size_t stageLength;
    unsigned char stage[kMimeStretch + 2];
    uint64_t used;              // when it last served a read
};
}  // namespace

enum { kMarkEvery = 64 * 1024 };

struct MimeView {
    ByteStream *stream;         // the view's own stream
    ByteStream *in;
    int64_t start, end;         // the body in `in`
    MimeLayout *layout;
    Mark *marks;                // ascending; marks[0] is the body's start
    size_t markCount, markCapacity;
    Cursor cursors[2];          // two readers at once (the stream and a comparison)
    uint64_t clock;
    bool failed;
    int64_t told;               // decoded bytes the watch was told of
    MimeWatchProc watch;
    void *watchContext;
    bool toldAll;               // the body's end was decoded and told
    unsigned char *held;        // the whole decoded body, when held (MimeHoldView)
    size_t heldLength;
};

static void Restart(Cursor *c, const Mark *m)
{
    c->decoder = m->decoder;
    c->encoded = m->encoded;
    c->ended = false;
    c->stageStart = m->decoded;
    c->stageLength = 0;
}

// Notes a mark where the marks have not reached yet.
static void NoteMark(MimeView *v, const Cursor *c)
{
    const Mark *last = &v->marks[v->markCount - 1];
    if (c->stageStart < last->decoded + kMarkEvery)
        return;
    if (v->markCount == v->markCapacity) {
        size_t more = v->markCapacity * 2;
        Mark *grown = (Mark *)realloc(v->marks, more * sizeof *grown);
        if (!grown)
            return;             // decoding again from further back is slower, not wrong
        v->marks = grown;
        v->markCapacity = more;
    }
    v->marks[v->markCount++] = {c->stageStart, c->encoded, c->decoder};
}

// Tells the watch the bytes of the cursor's stage it was not told of. A
// cursor decodes on from a mark, and marks lie no further than the bytes
// told, so a stage that passes them begins at or before them.
static void TellWatch(MimeView *v, const Cursor *c, const unsigned char *stage)
{
    int64_t end = c->stageStart + (int64_t)c->stageLength;
    if (end <= v->told)
        return;
    int64_t from = c->stageStart > v->told ? c->stageStart : v->told;
    if (v->watch)
        v->watch(v->watchContext, from, stage + (from - c->stageStart), (size_t)(end - from));
    v->told = end;
}

// Decodes the stretch after the cursor's stage, of at most `most` body
// bytes, into `stage` (c->stage, or a reader's buffer, with room for
// most + 2 bytes); false at the end of the body (or on a read error).
static bool NextStage(MimeView *v, Cursor *c, unsigned char *stage, size_t most = kMimeStretch)
{
    c->stageStart += (int64_t)c->stageLength;
    c->stageLength = 0;
    while (c->stageLength == 0) {
        if (c->ended) {
            v->toldAll = v->toldAll || c->stageStart >= v->told;
            return false;
        }
        NoteMark(v, c);
        const unsigned char *p = nullptr;
        size_t n = 0;
        if (c->encoded < v->end && StreamSeek(v->in, c->encoded))
            n = StreamPeek(v->in, &p);
        if ((int64_t)n > v->end - c->encoded)
            n = (size_t)(v->end - c->encoded);
        if (n > most)
            n = most;
        if (n == 0) {
            if (StreamReadFailed(v->in))
                v->failed = true;
            c->stageLength = MimeDecodeEnd(&c->decoder, stage);
            c->ended = true;
            continue;
        }
        c->stageLength = MimeDecodeStretch(&c->decoder, p, n, stage, v->layout);
        c->encoded += (int64_t)n;
    }
    TellWatch(v, c, stage);
    return true;
}

// The cursor to read `offset` with: the one whose stage holds it or lies
// before it nearest, else the one used least lately, restarted from the
// last mark before the offset.
static Cursor *CursorFor(MimeView *v, int64_t offset)
{
    Cursor *best = nullptr;
    for (Cursor &c : v->cursors)
        if (c.stageStart <= offset && offset - c.stageStart < kMarkEvery && (!best || c.stageStart > best->stageStart))
            best = &c;
    if (!best) {
        best = v->cursors[0].used <= v->cursors[1].used ? &v->cursors[0] : &v->cursors[1];
        size_t lo = 0, hi = v->markCount;   // the last mark at or before offset
        while (hi - lo > 1) {
            size_t mid = lo + (hi - lo) / 2;
            if (v->marks[mid].decoded <= offset)
                lo = mid;
            else
                hi = mid;
        }
        Restart(best, &v->marks[lo]);
    }
    best->used = ++v->clock;
    return best;
}

enum { kInPlaceLeast = 1024 };

// Reads decoded bytes at `offset` into buf: n of them (fewer only at the
// body's end) when `fill`, else as soon as there are some.
static long ReadSome(MimeView *v, unsigned char *buf, size_t n, int64_t offset, bool fill)
{
    if (v->held) {
        size_t from = offset < (int64_t)v->heldLength ? (size_t)offset : v->heldLength;
        size_t take = v->heldLength - from < n ? v->heldLength - from : n;
        memcpy(buf, v->held + from, take);
        return (long)take;
    }
    Cursor *c = CursorFor(v, offset);
    size_t got = 0;
    while (got < n && (fill || got == 0)) {
        int64_t at = offset + (int64_t)got;
        // Read in order with room for a stretch of some length: decoded in
        // place, the cursor's stage left empty after it.
        if (at == c->stageStart + (int64_t)c->stageLength && n - got >= kInPlaceLeast + 2) {
            size_t most = n - got - 2 < kMimeStretch ? n - got - 2 : (size_t)kMimeStretch;
            if (!NextStage(v, c, buf + got, most))
                return v->failed ? -1 : (long)got;
            got += c->stageLength;
            c->stageStart += (int64_t)c->stageLength;
            c->stageLength = 0;
            continue;
        }
        while (at >= c->stageStart + (int64_t)c->stageLength)
            if (!NextStage(v, c, c->stage))
                return v->failed ? -1 : (long)got;
        size_t from = (size_t)(at - c->stageStart);
        size_t take = c->stageLength - from < n - got ? c->stageLength - from : n - got;
        memcpy(buf + got, c->stage + from, take);
        got += take;
    }
    return (long)got;
}

static long ReadDecoded(void *context, unsigned char *buf, size_t n, int64_t offset)
{
    return ReadSome((MimeView *)context, buf, n, offset, true);
}

MimeView *MimeOpenView(ByteStream *view, ByteStream *in, int64_t start, int64_t end, MimeEncoding encoding,
                       MimeLayout *layout)
{
    MimeView *v = (MimeView *)calloc(1, sizeof *v);
    Mark *marks = (Mark *)malloc(16 * sizeof *marks);
    if (!v || !marks) {
        free(v);
        free(marks);
        return nullptr;
    }
    v->stream = view;
    v->in = in;
    v->start = start;
    v->end = end;
    v->layout = layout;
    v->marks = marks;
    v->markCapacity = 16;
    v->markCount = 1;
    MimeStartDecoder(&marks[0].decoder, encoding, layout);
    marks[0].decoded = 0;
    marks[0].encoded = start;
    for (Cursor &c : v->cursors)
        Restart(&c, &marks[0]);
    StreamOpenReader(view, ReadDecoded, v);
    return v;
}

long MimeViewRead(MimeView *v, int64_t offset, unsigned char *buf, size_t n)
{
    return ReadSome(v, buf, n, offset, false);
}

void MimeWatchView(MimeView *v, MimeWatchProc watch, void *context)
{
    v->watch = watch;
    v->watchContext = context;
}

bool MimeHoldView(MimeView *v, size_t atMost)
{
    if (v->held || v->end - v->start > (int64_t)atMost || v->told > 0)
        return false;
    // Decoded bytes are never more than the encoded ones they come from, so
    // a read of room for the body and two bytes more reads to its end.
    size_t room = (size_t)(v->end - v->start) + 2;
    unsigned char *held = (unsigned char *)malloc(room);
    long length = held ? ReadSome(v, held, room, 0, true) : -1;
    if (length < 0) {
        free(held);             // the stream's reads meet the failure again
        return false;
    }
    v->held = held;
    v->heldLength = (size_t)length;
    StreamOpenMemory(v->stream, held, v->heldLength);
    return true;
}

bool MimeViewToldAll(const MimeView *v)
{
    return v->toldAll && !v->failed;
}

bool MimeFinishView(MimeView *v)
{
    if (v->toldAll)
        return !v->failed;      // decoded to its end already: nothing is left to tell
    Cursor *c = CursorFor(v, v->marks[v->markCount - 1].decoded);
    while (NextStage(v, c, c->stage)) {
    }
    return !v->failed;
}

void MimeCloseView(MimeView *v)
{
    if (!v)
        return;
    free(v->marks);
    free(v->held);
    free(v);
}

// Quoted-printable encoding: a line holds at most 75 characters before its
// soft break '=' (76 with it); '=', control bytes and bytes from 0x80 up are
// written =XX; a blank is held until the next byte says whether a line end
// follows (then it is written =20 or =09); a CR is held until the next byte
// says whether it begins a CR LF (a hard line break, written as it stands,
// as is a lone LF) or stands alone (=0D).
// What it writes gathers in `buf` (a line and its break at most at a time)
// and goes to the stream when the next piece would not fit, and at the end.
enum { kQpBuffer = 8 * 1024, kQpPieceMax = 80 };
struct QpEncoder {
    ByteStream *out;
    const char *softBreak;
    size_t softLength;
    int column;
    int blank;                  // a held blank, or 0
    bool cr;                    // a held CR
    size_t used;
    unsigned char buf[kQpBuffer];
};

static void QpFlush(QpEncoder *e)
{
    StreamWrite(e->out, e->buf, e->used);
    e->used = 0;
}

// Appends n bytes (at most kQpPieceMax).
static void QpPut(QpEncoder *e, const void *p, size_t n)
{
    if (e->used + n > kQpBuffer)
        QpFlush(e);
    memcpy(e->buf + e->used, p, n);
    e->used += n;
}

static void QpToken(QpEncoder *e, const char *token, int n)
{
    if (e->column + n > 75) {
        QpPut(e, e->softBreak, e->softLength);
        e->column = 0;
    }
    QpPut(e, token, (size_t)n);
    e->column += n;
}

static void QpEscaped(QpEncoder *e, int c)
{
    static const char kHex[] = "0123456789ABCDEF";
    char t[3] = {'=', kHex[c >> 4], kHex[c & 15]};
    QpToken(e, t, 3);
}

// The held blank, before a line end (escaped) or not.
static void QpFlushBlank(QpEncoder *e, bool beforeLineEnd)
{
    if (!e->blank)
        return;
    if (beforeLineEnd) {
        QpEscaped(e, e->blank);
    } else {
        char t = (char)e->blank;
        QpToken(e, &t, 1);
    }
    e->blank = 0;
}

static void QpByte(QpEncoder *e, int c)
{
    if (e->cr) {
        e->cr = false;
        if (c == '\n') {
            QpFlushBlank(e, true);
            QpPut(e, "\r\n", 2);
            e->column = 0;
            return;
        }
        QpFlushBlank(e, false);
        QpEscaped(e, '\r');
    }
    if (c == '\r') {
        e->cr = true;
    } else if (c == '\n') {
        QpFlushBlank(e, true);
        QpPut(e, "\n", 1);
        e->column = 0;
    } else {
        QpFlushBlank(e, false);
        if (c == ' ' || c == '\t') {
            e->blank = c;
        } else if (c < 33 || c > 126 || c == '=') {
            QpEscaped(e, c);
        } else {
            char t = (char)c;
            QpToken(e, &t, 1);
        }
    }
}

// The bytes written as they are: printable ASCII but '=', and the blanks
// (a blank is, unless a line end follows it).
struct PlainBytes {
    bool of[256];
};

static constexpr PlainBytes BuildPlainBytes()
{
    PlainBytes t = {};
    for (int c = 33; c <= 126; c++)
        t.of[c] = c != '=';
    t.of[(unsigned char)' '] = t.of[(unsigned char)'\t'] = true;
    return t;
}

static constexpr PlainBytes kPlain = BuildPlainBytes();

// The bytes always written =XX: '=', control bytes but the blanks and the
// line ends, and bytes from 0x7F up.
static constexpr PlainBytes BuildEscapedBytes()
{
    PlainBytes t = {};
    for (int c = 0; c < 256; c++)
        t.of[c] = c == '=' || c > 126 || (c < 32 && c != '\t' && c != '\r' && c != '\n');
    return t;
}

static constexpr PlainBytes kEscaped = BuildEscapedBytes();

// Copies the run of plain bytes at p, at most `limit` of them, to o and
// answers its length; p has `avail` bytes (at least limit) to read. Sixteen
// at a time (SSE2) while as many can be read, stored whole: o must have
// room for limit + 15 bytes. Then one by one.
static size_t CopyPlainRun(const unsigned char *p, size_t limit, size_t avail, unsigned char *o)
{
    size_t run = 0;
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(0x1F), tilde = _mm_set1_epi8(0x7F), equals = _mm_set1_epi8('=');
    const __m128i tab = _mm_set1_epi8('\t');
    for (; run < limit && avail - run >= 16; run += 16) {
        __m128i x = _mm_loadu_si128((const __m128i *)(p + run));
        _mm_storeu_si128((__m128i *)(o + run), x);
        // Signed: a byte from 0x80 up is below 0x1F.
        __m128i plain = _mm_or_si128(_mm_andnot_si128(_mm_cmpeq_epi8(x, equals),
                                                      _mm_and_si128(_mm_cmpgt_epi8(x, space), _mm_cmplt_epi8(x, tilde))),
                                     _mm_cmpeq_epi8(x, tab));
        unsigned stop = ~(unsigned)_mm_movemask_epi8(plain) & 0xFFFF;
        if (limit - run < 16)
            stop |= 0xFFFFu << (limit - run);
        if (stop)
            return run + (size_t)__builtin_ctz(stop);
    }
#else
    // Eight at a time while none is below a space, above '~' or '=' (a tab
    // goes on one by one).
    (void)avail;
    const uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    for (; run + 8 <= limit; run += 8) {
        uint64_t x;
        memcpy(&x, p + run, 8);
        uint64_t below = (x - ones * 32) & ~x & highs;             // a byte < 0x20
        uint64_t above = ((x + ones * (127 - 126)) | x) & highs;    // a byte > 0x7E
        uint64_t eq = x ^ (ones * '=');
        uint64_t equals = (eq - ones) & ~eq & highs;                // a '='
        if (below | above | equals)
            break;
        memcpy(o + run, &x, 8);
    }
#endif
    for (; run < limit && kPlain.of[p[run]]; run++)
        o[run] = p[run];
    return run;
}

// A line's worth and a store of sixteen bytes past it: the room kept free
// in the encoder's buffer before each piece.
enum { kQpRoom = 2 * kQpPieceMax + 16 };

static void QpEncodePiece(QpEncoder *e, const unsigned char *p, size_t n)
{
    static const char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < n;) {
        if (e->used > kQpBuffer - kQpRoom)
            QpFlush(e);
        if (e->blank || e->cr) {
            QpByte(e, p[i++]);
            continue;
        }
        unsigned char c = p[i];
        if (kEscaped.of[c]) {
            // A run of bytes written =XX (text in another script than
            // Latin, or a '='): three bytes each, in place.
            for (; i < n && kEscaped.of[p[i]]; i++) {
                if (e->column + 3 > 75) {
                    QpPut(e, e->softBreak, e->softLength);
                    e->column = 0;
                }
                if (e->used + 3 > kQpBuffer)
                    QpFlush(e);
                e->buf[e->used] = '=';
                e->buf[e->used + 1] = (unsigned char)kHex[p[i] >> 4];
                e->buf[e->used + 2] = (unsigned char)kHex[p[i] & 15];
                e->used += 3;
                e->column += 3;
            }
            continue;
        }
        // A line end with nothing held: written as it stands.
        if (c == '\n' || (c == '\r' && i + 1 < n && p[i + 1] == '\n')) {
            size_t k = c == '\n' ? 1 : 2;
            memcpy(e->buf + e->used, p + i, k);
            e->used += k;
            e->column = 0;
            i += k;
            continue;
        }
        if (!kPlain.of[c]) {        // a CR alone, or last in the piece
            QpByte(e, p[i++]);
            continue;
        }
        // A run of plain bytes with nothing held (p[i] at least): as much of
        // it as the line takes, copied in place. Blanks at its end go one by
        // one when a line end may follow them (a CR, a LF, or the piece's
        // end). The bytes written =XX and the line ends are asked for first:
        // they are most of what stops a run.
        if (e->column >= 75) {
            QpPut(e, e->softBreak, e->softLength);
            e->column = 0;
        }
        size_t room = (size_t)(75 - e->column), limit = n - i < room ? n - i : room;
        size_t run = CopyPlainRun(p + i, limit, n - i, e->buf + e->used);
        if (IsBlank(p[i + run - 1]) && (i + run == n || p[i + run] == '\r' || p[i + run] == '\n'))
            while (run > 0 && IsBlank(p[i + run - 1]))
                run--;
        if (run == 0) {             // blanks before a line end
            QpByte(e, p[i++]);
            continue;
        }
        e->used += run;
        e->column += (int)run;
        i += run;
    }
}

static void QpEncodeEnd(QpEncoder *e)
{
    if (e->cr) {
        QpFlushBlank(e, false);
        QpEscaped(e, '\r');
    }
    QpFlushBlank(e, true);
    QpFlush(e);
}

// Base64 encoding: groups of three bytes, four characters each, a line
// end after each lineLength characters (none when it is 0).
struct Base64Encoder {
    ByteStream *out;
    const char *eol;
    int64_t lineLength;
    int64_t column;
    unsigned char group[3];
    int held;
};

static void Base64Group(Base64Encoder *e)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const unsigned char *g = e->group;
    int held = e->held;
    char t[4];
    t[0] = kAlphabet[g[0] >> 2];
    t[1] = kAlphabet[(g[0] & 3) << 4 | (held > 1 ? g[1] >> 4 : 0)];
    t[2] = held > 1 ? kAlphabet[(g[1] & 15) << 2 | (held > 2 ? g[2] >> 6 : 0)] : '=';
    t[3] = held > 2 ? kAlphabet[g[2] & 63] : '=';
    for (int i = 0; i < 4; i++) {
        if (e->lineLength > 0 && e->column == e->lineLength) {
            StreamWriteText(e->out, e->eol);
            e->column = 0;
        }
        StreamPut(e->out, (unsigned char)t[i]);
        e->column++;
    }
    e->held = 0;
}

static void Base64EncodePiece(Base64Encoder *e, const unsigned char *p, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        e->group[e->held++] = p[i];
        if (e->held == 3)
            Base64Group(e);
    }
}

struct MimeEncoder {
    MimeEncoding encoding;
    ByteStream *out;
    QpEncoder qp;
    Base64Encoder base64;
};

MimeEncoder *MimeStartEncoder(const MimeLayout *layout, ByteStream *out)
{
    MimeEncoder *e = (MimeEncoder *)calloc(1, sizeof *e);
    if (!e)
        return nullptr;
    e->encoding = layout->encoding;
    e->out = out;
    e->qp.out = out;
    e->qp.softBreak = layout->crlf ? "=\r\n" : "=\n";
    e->qp.softLength = strlen(e->qp.softBreak);
    e->base64.out = out;
    e->base64.eol = layout->crlf ? "\r\n" : "\n";
    e->base64.lineLength = layout->lineLength;
    return e;
}

void MimeEncodeBytes(void *encoder, const unsigned char *p, size_t n)
{
    MimeEncoder *e = (MimeEncoder *)encoder;
    if (e->encoding == kMimeQuotedPrintable)
        QpEncodePiece(&e->qp, p, n);
    else if (e->encoding == kMimeBase64)
        Base64EncodePiece(&e->base64, p, n);
    else
        StreamWrite(e->out, p, n);
}

void MimeEndEncoder(MimeEncoder *e)
{
    if (!e)
        return;
    if (e->encoding == kMimeQuotedPrintable)
        QpEncodeEnd(&e->qp);
    else if (e->encoding == kMimeBase64 && e->base64.held)
        Base64Group(&e->base64);
    free(e);
}

bool MimeEncode(const MimeLayout *layout, ByteStream *in, ByteStream *out)
{
    MimeEncoder *e = MimeStartEncoder(layout, out);
    if (!e)
        return false;
    StreamFeed(in, MimeEncodeBytes, e);
    MimeEndEncoder(e);
    return true;
}
