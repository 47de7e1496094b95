// The parts of a single-file page (MHTML) that only removed elements named:
// what the companion-files switch leaves out of the cleaned document, as
// it sends a complete save's unreached companion files away.
//
// A part is named when a reference of the root page, or of a part named
// from there (a style sheet's url() and @import, a frame's or an SVG
// picture's markup), transitively, resolves to it: its Content-Location
// as written, or "cid:" and its Content-ID, after the fragment is cut; a
// reference without a host ("//host/a.png") taking http: or https:; a
// relative one resolved against the Content-Location of the page or part
// that makes it. A part goes only when the original root page named it and
// the cleaned one no longer does. A part that nothing named even before
// (a browser's own bookkeeping, extra parts) stays, and so does the root.
// With at most kFewCandidates parts that have an address, the original
// page is only searched for those addresses as written (an http: one from
// its "//"), so a part that it named otherwise (relative, encoded) stays;
// and the cleaned page is read only when the original names one of them.
// With more, the cleaned page is read first, then the original page is
// searched so for the few it leaves unnamed, or read for the many.
//
// Memory: a byte a part, and one reference at a time (clean/refs.h); each
// part that may name others is decoded once for each of the two pages.
#pragma once
#include <stdint.h>
#include "clean/mime.h"
#include "clean/stream.h"

enum {
    kPartNamedBefore = 1,       // by the original page or what it named
    kPartNamedAfter = 2,        // by the cleaned page or what it names
    kPartReadBefore = 4,        // its own references read for the first
    kPartReadAfter = 8,
};

// The search of the original page for a few parts' addresses, made while
// the passes read it: StartPartSearch gives one for `doc` when it has
// between one and kFewCandidates parts with an address (else null, as
// without memory), PartSearchBytes is fed the decoded root page from its
// start (a MimeWatchProc), and MarkNamedMimeBodies takes what it found.
struct PartSearch;
PartSearch *StartPartSearch(const MimeDocument *doc);
void PartSearchBytes(void *search, int64_t offset, const unsigned char *p, size_t n);
void FreePartSearch(PartSearch *search);
// Whether a search that was fed the whole page found none of the addresses
// (then no part can go).
bool PartSearchFoundNone(const PartSearch *search);
// Whether the cleaned page names (marks under kPartNamedAfter) every part
// such a search found: then none can go, as what those name in turn is
// named after too, and the rest of the cleaned page need not be read.
bool PartSearchFoundNamedAfter(const PartSearch *search, const unsigned char *marks);

// What the cleaned page names, told as the passes write it (a
// StreamSinkProc's pieces): marks (doc->listCount bytes) take
// kPartNamedAfter for each part its references name. EndNamingParts tells
// what the page's end completes and frees it; MarkNamedMimeBodies then takes
// the marks with no `after` page. Null without memory.
struct PartNamer;
PartNamer *StartNamingParts(const MimeDocument *doc, unsigned char *marks);
void NamePartsBytes(void *namer, const unsigned char *p, size_t n);
void EndNamingParts(PartNamer *namer);

// Marks each listed part of `doc` in marks[i] (doc->listCount bytes):
// `before` is the root page decoded, `after` the cleaned page, both read
// from their starts; the other parts are decoded from `input`, where the
// document begins at `docStart`. `search`, when it is not null, was fed
// the whole root page, so `before` is not searched again. Without `after`,
// marks hold what the cleaned page names already (a PartNamer's). False
// when a read failed or the parts were not all listed (then nothing may
// go).
bool MarkNamedMimeBodies(const MimeDocument *doc, ByteStream *input, int64_t docStart, ByteStream *before,
                         const PartSearch *search, ByteStream *after, unsigned char *marks);

// Whether the part at `index` goes: named before, not after, not the root.
inline bool PartLeftOut(const MimeDocument *doc, const unsigned char *marks, size_t index)
{
    return index != doc->root && (marks[index] & kPartNamedBefore) && !(marks[index] & kPartNamedAfter);
}

// Resolves `ref` (n bytes) against the absolute address `base` (may be
// null or ""), as a browser joins them: an address with a scheme stays as
// it is, "//host/x" takes the base's scheme, "/x" its scheme and host,
// anything else its folder; "." and ".." segments taken away. Writes the
// address to `out` (at most `size` bytes with its NUL); false when it does
// not fit or there is no base to resolve against.
bool JoinAddress(const char *ref, size_t n, const char *base, char *out, size_t size);
