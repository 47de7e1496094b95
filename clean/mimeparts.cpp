// See mimeparts.h.
#include "clean/mimeparts.h"
#include <stdlib.h>
#include <string.h>
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

// Whether the k bytes of `text` occur in the n bytes at `p` (k > 0).
static bool Contains(const unsigned char *p, size_t n, const char *text, size_t k)
{
    const unsigned char *end = p + n;
    for (const unsigned char *at = p; (size_t)(end - at) >= k;) {
        at = (const unsigned char *)memchr(at, (unsigned char)text[0], (size_t)(end - at) - k + 1);
        if (!at)
            return false;
        if (memcmp(at, text, k) == 0)
            return true;
        at++;
    }
    return false;
}

// Marks under `bit` each candidate part (not named after) whose address
// occurs in `page`, read from its start, as it is written: the stream is
// read once, a window at a time, each window overlapping the last by the
// longest address.
static bool MarkLiterals(Marker *m, ByteStream *page, const size_t *candidates, size_t count)
{
    const MimeDocument *doc = m->doc;
    const char *texts[2 * kFewCandidates];
    size_t lengths[2 * kFewCandidates], parts[2 * kFewCandidates], n = 0, longest = 1;
    for (size_t c = 0; c < count; c++) {
        const MimePart *p = &doc->list[candidates[c]];
        const int64_t addresses[] = {p->location, p->id};
        for (int64_t at : addresses) {
            if (at < 0)
                continue;
            texts[n] = SearchedText(doc->addresses.text + at);
            lengths[n] = strlen(texts[n]);
            longest = lengths[n] > longest ? lengths[n] : longest;
            parts[n++] = candidates[c];
        }
    }
    enum { kWindow = 64 * 1024 };
    unsigned char *window = (unsigned char *)malloc(kWindow + longest);
    if (!window)
        return false;
    StreamRewind(page);
    size_t held = 0;
    for (;;) {
        const unsigned char *data;
        size_t got = StreamPeek(page, &data);
        if (!got)
            break;
        size_t take = got < (size_t)kWindow ? got : (size_t)kWindow;
        memcpy(window + held, data, take);
        StreamSkip(page, take);
        size_t have = held + take;
        for (size_t i = 0; i < n; i++)
            if (!(m->marks[parts[i]] & m->bit) && lengths[i] <= have &&
                Contains(window, have, texts[i], lengths[i]))
                m->marks[parts[i]] |= m->bit;
        held = have < longest - 1 ? have : longest - 1;
        memmove(window, window + have - held, held);
    }
    free(window);
    return !StreamReadFailed(page);
}

bool MarkNamedMimeBodies(const MimeDocument *doc, ByteStream *input, int64_t docStart, ByteStream *before,
                    ByteStream *after, unsigned char *marks)
{
    memset(marks, 0, doc->listCount);
    if (doc->listOverflow || doc->listCount != (size_t)doc->parts || doc->addresses.overflow)
        return false;
    // What the cleaned page names first: only a part it does not name may go.
    Marker m = {doc, marks, kPartNamedAfter, LocationOf(doc, doc->root)};
    StreamRewind(after);
    if (!ReadMarkupRefs(after, CharsetOf(doc->charset), OnReference, &m) || StreamReadFailed(after) ||
        !FollowNamed(&m, input, docStart, kPartReadAfter))
        return false;
    size_t candidates[kFewCandidates], count = 0;
    bool few = true;
    for (size_t i = 0; i < doc->listCount && few; i++) {
        const MimePart *p = &doc->list[i];
        if (i == doc->root || (marks[i] & kPartNamedAfter) || (p->location < 0 && p->id < 0))
            continue;
        if (count == kFewCandidates)
            few = false;
        else
            candidates[count++] = i;
    }
    if (few && count == 0)
        return true;
    // Then the original page: for a few parts, by their addresses as they
    // are written in it (a reference written otherwise misses, and the
    // part stays); for more, by its references.
    m.bit = kPartNamedBefore;
    m.base = LocationOf(doc, doc->root);
    bool ok;
    if (few) {
        ok = MarkLiterals(&m, before, candidates, count);
    } else {
        StreamRewind(before);
        ok = ReadMarkupRefs(before, CharsetOf(doc->charset), OnReference, &m) && !StreamReadFailed(before);
    }
    return ok && FollowNamed(&m, input, docStart, kPartReadBefore);
}
