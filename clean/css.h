// Finding, in style sheet text, the references that load from the network:
// url(...) (in any case, escaped or not), the strings of image-set(...),
// and @import rules. A state machine over the text's bytes, fed one at a
// time with their positions (counted by the caller); it tells the caller
// which stretches to remove, and how far back it may still need bytes.
//
// The text is a style attribute's value (character references decoded
// first, as a browser does) or a STYLE element's content (taken as it is).
// Comments and ordinary strings are passed over; CSS escapes ("\75 rl(",
// "\68ttp") are read as the characters they stand for.
//
// States (CssScanner.state), each read by its own handler:
//   text
//   slash: after '/', a comment may begin
//   comment; comment star: a '*' in it
//   string: an ordinary string
//   word: an identifier; "url" or "...image-set" may follow with '('
//   long word: an identifier too long to matter
//   at-word: an at-keyword; "import" may follow
//   import: @import, before its address
//   import word: @import, an identifier that may be "url"
//   url open: after "url(", before the address
//   url bare: an unquoted address, up to ')' or a blank
//   url quoted: a quoted address (url( or @import)
//   url close: after the address, up to ')'
//   set string: a string inside image-set(...), an address
//   skip rule: the rest of a removed @import rule, up to ';'
//
// A reference begins at the first byte of its name (or quote) and ends
// after its ')', its ';' or its closing quote, or where the text ends; it is
// removed whole when its address is a network one (kAddressNetwork). Up to
// that decision, the bytes from holdFrom on may still go.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "clean/address.h"

enum { kCssWordMax = 20 };          // "-webkit-image-set" and room to spare
// A reference that has not decided after this many bytes goes (ForceCssDecision).
enum { kCssHoldMax = 4096 };

// A stretch to remove: [start, end).
struct CssCut {
    int64_t start;
    int64_t end;
    bool first;                     // the first cut of its reference
};

struct CssScanner {
    int32_t state;
    bool entities;                  // decode character references first
    CharRefDecoder refs;
    // A CSS escape being read: 0 none, 1 after '\', 2 in its hex digits.
    int32_t escape;
    uint32_t escapeValue;
    int32_t escapeDigits;
    int64_t escapeStart;
    char word[kCssWordMax];
    int32_t wordLength;
    uint32_t quote;                 // of the string being read
    bool importRule;                // the address belongs to an @import
    int32_t depth;                  // parentheses open
    int32_t imageSetDepth;          // the depth inside image-set(...), or 0
    UrlHead head;
    int64_t holdFrom;               // start of a reference that may go, or -1
    bool dropping;                  // that reference goes, through its end
    // The cuts found by the last byte fed (at most two).
    int32_t cutCount;
    CssCut cuts[2];
};

void StartCssScanner(CssScanner *s, bool entities);
// One byte of the text, at position `at`. Afterwards s->cuts[0,
// s->cutCount) are the stretches to remove, in order.
void CssScannerByte(CssScanner *s, unsigned char c, int64_t at);
// The same over up to n bytes from position `at`, a stretch at a time where
// nothing can happen, stopping after the first byte that gave cuts; a
// reference undecided after kCssHoldMax bytes is decided then. Answers how
// many bytes were read.
size_t CssScannerRun(CssScanner *s, const unsigned char *p, size_t n, int64_t at);
// The text ended at position `at` (its last byte is before it).
void FinishCssScanner(CssScanner *s, int64_t at);
// The reference held since holdFrom has grown too long to wait for (`at`:
// the position after the last byte fed): it is removed (when it is an
// address) or let go (a mere word).
void ForceCssDecision(CssScanner *s, int64_t at);
