// See mimeparts.h.
#include "clean/mimeparts.h"
#include <stdlib.h>
#include <string.h>
#include "clean/bytescan.h"
#include "clean/refs.h"

namespace {

// Up to this many parts left unnamed by the cleaned page, the original
// page is searched for their addresses rather than read for its references.
enum { kFewCandidates = 8 };

struct Marker {
    const MimeDocument *doc;
    unsigned char *marks;
    unsigned char bit;          // kPartNamedBefore or kPartNamedAfter
    const char *base;           // the Content-Location of what is read, or null
};

}  // namespace

// The length of the scheme of an address ("http" of "http://x"), or 0.
static size_t SchemeLength(const char *a, size_t n)
{
    size_t i = 0;
    while (i < n && ((a[i] >= 'a' && a[i] <= 'z') || (a[i] >= 'A' && a[i] <= 'Z') ||
                     (i > 0 && ((a[i] >= '0' && a[i] <= '9') || a[i] == '+' || a[i] == '-' || a[i] == '.'))))
        i++;
    return i > 0 && i < n && a[i] == ':' ? i : 0;
}

// Takes the "." and ".." segments out of the path that begins at out[from].
static void RemoveDotSegments(char *out, size_t from)
{
    char *path = out + from;
    size_t w = 0;
    for (size_t r = 0; path[r];) {
        // One segment: path[r] is its '/'.
        size_t e = r + 1;
        while (path[e] && path[e] != '/' && path[e] != '?')
            e++;
        size_t k = e - r - 1;
        bool last = !path[e] || path[e] == '?';
        if (k == 1 && path[r + 1] == '.') {
            if (last)
                path[w++] = '/';
        } else if (k == 2 && path[r + 1] == '.' && path[r + 2] == '.') {
            while (w > 0 && path[--w] != '/') {
            }
            if (last)
                path[w++] = '/';
        } else {
            memmove(path + w, path + r, e - r);
            w += e - r;
        }
        r = e;
        if (path[r] == '?') {
            size_t q = strlen(path + r);
            memmove(path + w, path + r, q);
            w += q;
            break;
        }
    }
    path[w] = 0;
}

bool JoinAddress(const char *ref, size_t n, const char *base, char *out, size_t size)
{
    if (SchemeLength(ref, n)) {
        if (n >= size)
            return false;
        memcpy(out, ref, n);
        out[n] = 0;
        return true;
    }
    size_t baseLength = base ? strlen(base) : 0;
    size_t scheme = SchemeLength(base, baseLength);
    if (!scheme || baseLength < scheme + 3 || base[scheme + 1] != '/' || base[scheme + 2] != '/')
        return false;       // no base, or one without a host: nothing is joined
    size_t host = scheme + 3;
    size_t authorityEnd = host + strcspn(base + host, "/?#");
    // What of the base stays: its scheme, its scheme and host, or its folder.
    size_t keep;
    bool slash = false;
    if (n >= 2 && ref[0] == '/' && ref[1] == '/') {
        keep = scheme + 1;
    } else if (n && ref[0] == '/') {
        keep = authorityEnd;
    } else {
        size_t pathEnd = authorityEnd + strcspn(base + authorityEnd, "?#");
        keep = pathEnd;
        while (keep > authorityEnd && base[keep - 1] != '/')
            keep--;
        if (keep == authorityEnd)
            slash = true;
    }
    size_t total = keep + (slash ? 1 : 0) + n;
    if (total >= size)
        return false;
    memcpy(out, base, keep);
    if (slash)
        out[keep] = '/';
    memcpy(out + keep + (slash ? 1 : 0), ref, n);
    out[total] = 0;
    size_t path = host + strcspn(out + host, "/?#");
    if (out[path] == '/')
        RemoveDotSegments(out, path);
    return true;
}

// The part an address names, or -1.
static long PartNamed(const Marker *m, const char *text, size_t n)
{
    while (n && (unsigned char)text[0] <= 0x20) {
        text++;
        n--;
    }
    const char *hash = (const char *)memchr(text, '#', n);
    if (hash)
        n = (size_t)(hash - text);
    while (n && (unsigned char)text[n - 1] <= 0x20)
        n--;
    if (!n)
        return -1;
    const MimeAddresses *a = &m->doc->addresses;
    long part = MimePartOf(a, text, n);
    char full[kMimeAddressMax];
    if (part < 0 && n >= 2 && text[0] == '/' && text[1] == '/') {
        static const char *const kSchemes[] = {"http:", "https:"};
        for (const char *scheme : kSchemes) {
            size_t k = strlen(scheme);
            if (part < 0 && n + k < sizeof full) {
                memcpy(full, scheme, k);
                memcpy(full + k, text, n);
                part = MimePartOf(a, full, n + k);
            }
        }
    }
    if (part < 0 && JoinAddress(text, n, m->base, full, sizeof full))
        part = MimePartOf(a, full, strlen(full));
    return part;
}

static void OnReference(void *context, RefKind kind, const char *text, size_t n)
{
    Marker *m = (Marker *)context;
    if (kind == kRefUnreadable || kind == kRefBase)
        return;
    long part = PartNamed(m, text, n);
    if (part >= 0 && (size_t)part < m->doc->listCount)
        m->marks[part] |= m->bit;
}

static const char *LocationOf(const MimeDocument *doc, size_t index)
{
    int64_t at = doc->list[index].location;
    return at >= 0 ? doc->addresses.text + at : nullptr;
}

static RefCharset CharsetOf(const char *name)
{
    static const char *const kLatin[] = {"iso-8859-1", "latin1", "windows-1252", "us-ascii"};
    for (const char *latin : kLatin)
        if (strcmp(name, latin) == 0)
            return kCharsetLatin;
    return !name[0] || strcmp(name, "utf-8") == 0 || strcmp(name, "utf8") == 0 ? kCharsetUtf8 : kCharsetUnknown;
}

// Reads the parts named under m->bit that may name others, each once, until
// no new one is named.
static bool FollowNamed(Marker *m, ByteStream *input, int64_t docStart, unsigned char readBit)
{
    const MimeDocument *doc = m->doc;
    ByteStream *view = (ByteStream *)malloc(sizeof *view);
    if (!view)
        return false;
    bool ok = true, more = true;
    while (ok && more) {
        more = false;
        for (size_t i = 0; ok && i < doc->listCount; i++) {
            const MimePart *p = &doc->list[i];
            unsigned char mark = m->marks[i];
            if (i == doc->root || p->kind == kPartOther || !p->knownEncoding || !(mark & m->bit) ||
                (mark & readBit))
                continue;
            m->marks[i] |= readBit;
            more = true;
            MimeLayout layout;
            MimeView *v = MimeOpenView(view, input, docStart + p->bodyStart, docStart + p->bodyEnd, p->encoding,
                                       &layout);
            if (!v) {
                ok = false;
                break;
            }
            m->base = LocationOf(doc, i);
            ok = p->kind == kPartStyleSheet ? ReadCssRefs(view, kCharsetUtf8, OnReference, m)
                                            : ReadMarkupRefs(view, kCharsetUtf8, OnReference, m);
            ok = ok && !StreamReadFailed(view);
            StreamClose(view);
            MimeCloseView(v);
        }
    }
    free(view);
    return ok;
}

// The text by which the original page is searched for a part's address:
// an http: or https: address from its "//", so that either scheme and none
// match.
static const char *SearchedText(const char *address)
{
    if (strncmp(address, "http://", 7) == 0)
        return address + 5;
    if (strncmp(address, "https://", 8) == 0)
        return address + 6;
    return address;
}

// Whether the k bytes of `text` occur in the n bytes at p (k > 0): places
// where its first and last bytes stand are looked for, then compared.
static bool Contains(const unsigned char *p, size_t n, const char *text, size_t k)
{
    const unsigned char first = (unsigned char)text[0], last = (unsigned char)text[k - 1];
    for (size_t at = 0, places = n - k + 1; k <= n && at < places; at++) {
        at += FindSpacedPair(p + at, places - at, first, last, k - 1);
        if (at < places && memcmp(p + at, text, k) == 0)
            return true;
    }
    return false;
}

// The parts other than the root that have an address and no mark in
// `unless` (in the marks when it is not 0): how many, the first
// kFewCandidates of them listed.
static size_t AddressedParts(const MimeDocument *doc, unsigned char unless, size_t *listed,
                             const unsigned char *marks = nullptr)
{
    size_t count = 0;
    for (size_t i = 0; i < doc->listCount; i++) {
        const MimePart *p = &doc->list[i];
        if (i == doc->root || (p->location < 0 && p->id < 0) || (unless && (marks[i] & unless)))
            continue;
        if (count < kFewCandidates)
            listed[count] = i;
        count++;
    }
    return count;
}

// A search of a page for a few parts' addresses as they are written, fed
// its bytes in order in pieces of any size: each piece is searched, and so
// are the places where an address may begin in the bytes before it and end
// in it (the edge: the last longest - 1 bytes held, then as many of it).
struct PartSearch {
    size_t count;               // addresses looked for
    const char *texts[2 * kFewCandidates];
    size_t lengths[2 * kFewCandidates];
    size_t parts[2 * kFewCandidates];
    bool found[2 * kFewCandidates];
    size_t left;                // addresses not found yet
    size_t longest;
    int64_t next;               // the offset of the next byte to be fed
    bool gap;                   // bytes went by unsearched
    size_t held;
    unsigned char edge[2 * kMimeAddressMax];
};

// A search for the addresses of the listed parts, or null without memory.
static PartSearch *NewSearch(const MimeDocument *doc, const size_t *listed, size_t count)
{
    PartSearch *s = (PartSearch *)calloc(1, sizeof *s);
    if (!s)
        return nullptr;
    s->longest = 1;
    for (size_t c = 0; c < count; c++) {
        const MimePart *p = &doc->list[listed[c]];
        const int64_t addresses[] = {p->location, p->id};
        for (int64_t at : addresses) {
            if (at < 0)
                continue;
            size_t i = s->count++;
            s->texts[i] = SearchedText(doc->addresses.text + at);
            s->lengths[i] = strlen(s->texts[i]);
            s->longest = s->lengths[i] > s->longest ? s->lengths[i] : s->longest;
            s->parts[i] = listed[c];
        }
    }
    s->left = s->count;
    return s;
}

static void SearchPiece(PartSearch *s, const unsigned char *p, size_t n)
{
    for (size_t i = 0; i < s->count; i++)
        if (!s->found[i] && s->lengths[i] <= n && Contains(p, n, s->texts[i], s->lengths[i])) {
            s->found[i] = true;
            s->left--;
        }
}

void PartSearchBytes(void *context, int64_t offset, const unsigned char *p, size_t n)
{
    PartSearch *s = (PartSearch *)context;
    s->gap = s->gap || offset != s->next;
    s->next = offset + (int64_t)n;
    if (!s->left || s->gap)
        return;
    size_t keep = s->longest - 1;   // at most kMimeAddressMax - 1
    size_t take = n < keep ? n : keep;
    memcpy(s->edge + s->held, p, take);
    if (s->held)
        SearchPiece(s, s->edge, s->held + take);
    SearchPiece(s, p, n);
    size_t have = s->held + take;
    s->held = have < keep ? have : keep;
    if (n >= keep)
        memcpy(s->edge, p + n - keep, keep);
    else
        memmove(s->edge, s->edge + have - s->held, s->held);
}

PartSearch *StartPartSearch(const MimeDocument *doc)
{
    size_t addressed[kFewCandidates];
    size_t count = AddressedParts(doc, 0, addressed);
    return count == 0 || count > kFewCandidates ? nullptr : NewSearch(doc, addressed, count);
}

void FreePartSearch(PartSearch *s)
{
    free(s);
}

bool PartSearchFoundNone(const PartSearch *s)
{
    return !s->gap && s->left == s->count;
}

bool PartSearchFoundNamedAfter(const PartSearch *s, const unsigned char *marks)
{
    for (size_t i = 0; i < s->count; i++)
        if (s->gap || (s->found[i] && !(marks[s->parts[i]] & kPartNamedAfter)))
            return false;
    return true;
}

struct PartNamer {
    Marker marker;
    MarkupRefs *refs;
};

PartNamer *StartNamingParts(const MimeDocument *doc, unsigned char *marks)
{
    PartNamer *n = (PartNamer *)calloc(1, sizeof *n);
    if (!n)
        return nullptr;
    memset(marks, 0, doc->listCount);
    n->marker = {doc, marks, kPartNamedAfter, LocationOf(doc, doc->root)};
    n->refs = StartMarkupRefs(CharsetOf(doc->charset), OnReference, &n->marker);
    if (!n->refs) {
        free(n);
        return nullptr;
    }
    return n;
}

void NamePartsBytes(void *namer, const unsigned char *p, size_t n)
{
    MarkupRefsBytes(((PartNamer *)namer)->refs, p, n);
}

void EndNamingParts(PartNamer *n)
{
    if (!n)
        return;
    FinishMarkupRefs(n->refs);
    free(n);
}

// Marks under `bit` what a search found (a whole one: none when bytes went
// by unsearched).
static void MarkFound(Marker *m, const PartSearch *s)
{
    for (size_t i = 0; !s->gap && i < s->count; i++)
        if (s->found[i])
            m->marks[s->parts[i]] |= m->bit;
}

// Marks under `bit` each listed part whose address occurs in `page`, read
// from its start, as it is written.
static bool MarkLiterals(Marker *m, ByteStream *page, const size_t *listed, size_t count)
{
    PartSearch *s = NewSearch(m->doc, listed, count);
    if (!s)
        return false;
    StreamRewind(page);
    const unsigned char *data;
    for (size_t got; (got = StreamPeek(page, &data)) > 0 && s->left;) {
        PartSearchBytes(s, s->next, data, got);
        StreamSkip(page, got);
    }
    MarkFound(m, s);
    free(s);
    return !StreamReadFailed(page);
}

// Marks what the page `page`, read from its start, names under m->bit (when
// it is not null: else that is marked already), and what that names in
// turn.
static bool MarkNamedByPage(Marker *m, ByteStream *page, ByteStream *input, int64_t docStart, unsigned char readBit)
{
    m->base = LocationOf(m->doc, m->doc->root);
    if (page) {
        StreamRewind(page);
        if (!ReadMarkupRefs(page, CharsetOf(m->doc->charset), OnReference, m) || StreamReadFailed(page))
            return false;
    }
    return FollowNamed(m, input, docStart, readBit);
}

bool MarkNamedMimeBodies(const MimeDocument *doc, ByteStream *input, int64_t docStart, ByteStream *before,
                         const PartSearch *search, ByteStream *after, unsigned char *marks)
{
    if (after)
        memset(marks, 0, doc->listCount);
    if (doc->listOverflow || doc->listCount != (size_t)doc->parts || doc->addresses.overflow)
        return false;
    size_t listed[kFewCandidates];
    size_t count = AddressedParts(doc, 0, listed);
    Marker m = {doc, marks, kPartNamedBefore, LocationOf(doc, doc->root)};
    if (count == 0)
        return true;
    if (count <= kFewCandidates) {
        // A few: the original page is searched for their addresses as they
        // are written in it (a reference written otherwise misses, and the
        // part stays), or was as it was decoded. Only when it names one of
        // them need the cleaned page be read.
        if (search && !search->gap)
            MarkFound(&m, search);
        else if (!MarkLiterals(&m, before, listed, count))
            return false;
        if (!FollowNamed(&m, input, docStart, kPartReadBefore))
            return false;
        bool any = false;
        for (size_t i = 0; i < doc->listCount; i++)
            any = any || (i != doc->root && (marks[i] & kPartNamedBefore));
        m.bit = kPartNamedAfter;
        return !any || MarkNamedByPage(&m, after, input, docStart, kPartReadAfter);
    }
    // More: what the cleaned page names first, as only a part it does not
    // name may go; then the original page, searched as above for the few
    // it leaves unnamed, or read for the many.
    m.bit = kPartNamedAfter;
    if (!MarkNamedByPage(&m, after, input, docStart, kPartReadAfter))
        return false;
    count = AddressedParts(doc, kPartNamedAfter, listed, marks);
    if (count == 0)
        return true;
    m.bit = kPartNamedBefore;
    if (count <= kFewCandidates)
        return MarkLiterals(&m, before, listed, count) && FollowNamed(&m, input, docStart, kPartReadBefore);
    return MarkNamedByPage(&m, before, input, docStart, kPartReadBefore);
}
