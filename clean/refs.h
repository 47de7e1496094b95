// The references a page (or a style sheet, or an SVG picture) still makes
// to files beside it: what a browser would fetch or follow from the bytes
// as they are. The companion folder's planner (app/companion.*) reads them
// from a cleaned page, never the passes.
//
// Two readers over a stream's bytes, each a loop over named states:
//   markup  tags and their attributes: src, href, xlink:href, poster, data,
//           background, lowsrc, dynsrc, longdesc, action, formaction,
//           codebase, icon, manifest, cite (one address each), srcset and
//           imagesrcset (their candidates), archive (a list), style (read as
//           style sheet text); STYLE elements' content as style sheet text;
//           comments and SCRIPT content passed over. BASE's href is told
//           apart. Character references are decoded as in any attribute
//           value (clean/address.h); a raw byte from 0x80 up is read in the
//           page's charset (META's, else UTF-8).
//   css     url(...) in any case and every string (the addresses of
//           @import and image-set among them); comments passed over; CSS
//           escapes read as the characters they stand for.
// Each reference goes to the caller as UTF-8 characters, before any
// percent-decoding; ResolveReference then makes a path of it.
//
// Memory: a reference longer than kRefMax bytes is told as unreadable
// (or, one address with a '?' or '#' in its first kRefMax bytes, cut
// there), so a reader holds at most one reference at a time.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "clean/address.h"
#include "clean/stream.h"

enum { kRefMax = 8192 };

enum RefKind {
    kRefPlain,          // anything a browser may load or follow
    kRefStyleSheet,     // LINK's href, @import: what it names is read as a style sheet
    kRefBase,           // BASE's href: the address the others resolve against
    kRefUnreadable,     // too long, or a raw byte the charset does not tell
};

// Told each reference: `text` holds `n` bytes of UTF-8 (nothing for
// kRefUnreadable).
typedef void (*RefProc)(void *context, RefKind kind, const char *text, size_t n);

// How raw bytes from 0x80 up in a page become characters.
enum RefCharset {
    kCharsetUtf8,       // kept as they are
    kCharsetLatin,      // ISO-8859-1 and windows-1252: one character each
    kCharsetUnknown,    // any other: a reference holding one is unreadable
};

// The charset a page declares in its first kCharsetLook bytes (a META
// charset or content "...; charset=..."; a UTF-8 byte order mark), else
// UTF-8.
enum { kCharsetLook = 4096 };
RefCharset PageCharset(const unsigned char *head, size_t n);

// Reads the whole of `in` as markup (a page, an SVG picture) or as style
// sheet text. False when a read failed.
bool ReadMarkupRefs(ByteStream *in, RefCharset charset, RefProc each, void *context);
// The markup reader fed a page's bytes in pieces of any size, in order (as
// a stage writes them): FinishMarkupRefs tells what the end completes and
// frees it. Null without memory.
struct MarkupRefs;
MarkupRefs *StartMarkupRefs(RefCharset charset, RefProc each, void *context);
void MarkupRefsBytes(void *refs, const unsigned char *p, size_t n);
void FinishMarkupRefs(MarkupRefs *refs);
bool ReadCssRefs(ByteStream *in, RefCharset charset, RefProc each, void *context);

// What a reference names, read as a browser reads an address against a
// file's folder.
enum RefTarget {
    kTargetFile,        // a path on this machine: in `out`
    kTargetNone,        // no file: empty, a fragment, another scheme, another host
    kTargetUnknown,     // a relative file: address, an entity name left
                        // undecoded, too long
};
// Resolves `ref` (n bytes of UTF-8 from a reader) against the folder
// `base`, an absolute path without a slash at its end ("" for "/"): blanks
// at either end and tabs and line breaks within dropped, '\' read as '/',
// the query and fragment cut, "%2F" read as '/' ("%00": no file), "%XX"
// decoded per segment, "." and ".." segments taken away. A file: address of this machine ("file:///x",
// "file://localhost/x") is its absolute path; one of another host names
// no file here. Writes the absolute path to `out` (at most `size`
// bytes with its NUL).
RefTarget ResolveReference(const char *ref, size_t n, const char *base, char *out, size_t size);
