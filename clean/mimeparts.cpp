// See mimeparts.h.
#include "clean/mimeparts.h"
#include <stdlib.h>
#include <string.h>
#include "clean/refs.h"

namespace {

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
static bool FollowParts(Marker *m, ByteStream *input, int64_t docStart, unsigned char readBit)
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

bool MarkNamedParts(const MimeDocument *doc, ByteStream *input, int64_t docStart, ByteStream *before,
                    ByteStream *after, unsigned char *marks)
{
    memset(marks, 0, doc->listCount);
    if (doc->listOverflow || doc->listCount != (size_t)doc->parts || doc->addresses.overflow)
        return false;
    Marker m = {doc, marks, kPartNamedBefore, nullptr};
    ByteStream *pages[] = {before, after};
    const unsigned char bits[] = {kPartNamedBefore, kPartNamedAfter};
    const unsigned char readBits[] = {kPartReadBefore, kPartReadAfter};
    for (int k = 0; k < 2; k++) {
        m.bit = bits[k];
        m.base = LocationOf(doc, doc->root);
        StreamRewind(pages[k]);
        if (!ReadMarkupRefs(pages[k], CharsetOf(doc->charset), OnReference, &m) || StreamReadFailed(pages[k]) ||
            !FollowParts(&m, input, docStart, readBits[k]))
            return false;
    }
    return true;
}
