// The inert filter: the part of the attribute stage that keeps a cleaned
// page from running code or loading from the network when it is opened.
// It reads the page as a browser's tokenizer does, following the switches
// the browser's tree builder makes in it: quoted values may hold a '>';
// comments and the content of SCRIPT, STYLE, TEXTAREA and the like are not
// tags, but inside SVG and MathML they are (there STYLE's text is still a
// style sheet, and a CDATA section hides tags up to "]]>"), except at the
// integration points (foreignObject, desc, title; mi, mo, mn, ms, mtext;
// annotation-xml of HTML); the HTML tags and "</p>", "</br>" that close
// foreign content close it; PLAINTEXT makes the rest text. Where the
// browser may read the bytes two ways, they are cleaned under both:
// NOSCRIPT (and, after a FRAMESET, TITLE, STYLE and the like) is read as
// markup that ends at its end tag wherever that stands, and a quoted value
// holding the end tag of a raw text or foreign element, or "]]>", goes with
// its attribute (from the mark on when the attribute is longer than the
// hold). It removes, in start tags:
//   - with Scripts: event-handler attributes (a name of "on" and a letter,
//     any case); any attribute whose value is a javascript: or vbscript:
//     URL (in any item of an animation's values); IFRAME srcdoc; a data:
//     URL of HTML, XML or SVG in src or data of IFRAME, FRAME, OBJECT and
//     EMBED;
//   - with Internet: the attributes that load what their value names when
//     that is a network address (AttributeRules in inert.cpp: among them an
//     animation's to, from, by and values, and attributionsrc), a META
//     refresh's content (held until the tag shows whether its http-equiv
//     is refresh), every url(...) and image-set string with a network
//     address in a value, and in STYLE content the @import rules and
//     url(...) with one.
// Everything else passes through byte for byte.
//
// Each attribute is decided from its name and the first bytes of its value,
// which are held back until they decide it (kInertHoldMax at most; a value
// that has not decided by then is removed when it was being checked): the
// rest of a kept value streams through, the rest of a removed one is passed
// over. So tags of any length are cleaned, in bounded memory. A removed
// attribute goes with the blanks before it, but for one kept when a kept
// attribute follows its quote with nothing between them.
//
// It is a filter over runs of bytes like the attribute pass's, and writes
// the same whatever the sizes of the runs.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "clean/address.h"
#include "clean/css.h"
#include "clean/removals.h"
#include "clean/stream.h"
#include "clean/switches.h"

enum { kInertHoldMax = kCssHoldMax };   // bytes held back at most while a decision is open
enum { kInertNameMax = 16 };        // of a tag or attribute name, enough for every rule
enum { kInertLookMax = 12 };        // "</plaintext" and the byte after it
enum { kInertNestMax = 32 };
enum { kInertWatchMax = 24 };       // "application/xhtml+xml" and more        // foreign elements followed one by one

// A foreign (SVG or MathML) element open, as the browser's tree builder
// holds it: enough to know, at each tag, whether the tag is read as HTML
// (where raw text and PLAINTEXT switch the tokenizer) or as foreign
// content (where a CDATA section may begin), and which end tag closes it.
struct InertNest {
    uint32_t name;                  // NestName of its lower-case name
    uint8_t space;                  // NestSpace (inert.cpp)
    uint8_t point;                  // NestPoint: what kind of integration point it is
    int32_t html;                   // HTML elements open above it (at an integration point)
};

struct InertFilter {
    bool scripts;
    bool internet;
    ByteStream *output;
    RemovalTally *tally;
    int32_t state;                  // InertState (inert.cpp)

    // The tag being read.
    char tagName[kInertNameMax];
    int32_t tagNameLength;          // kInertNameMax + 1: longer than any name of ours
    bool endTag;
    bool selfClosing;
    uint32_t tagClass;              // TagClass bits
    // The tree reading. Invariant: nestDeeper > 0 only when nestDepth is
    // kInertNestMax, and then the current node is a plain foreign element.
    InertNest nest[kInertNestMax];
    int32_t nestDepth;
    int32_t nestDeeper;             // foreign elements open past kInertNestMax
    bool fontBreaks;                // the FONT being read has color, face or size
    bool encodingHtml;              // the annotation-xml being read is HTML
    // NOSCRIPT is raw text with scripting on and markup with it off; after
    // a FRAMESET the browser ignores TITLE, STYLE and the like (unless it
    // ignored the FRAMESET). Such an element is read as markup that ends,
    // as the raw text would, at the first end tag of its name wherever it
    // stands: in text that hides tags (comments, CDATA, raw text,
    // PLAINTEXT) closeMatched counts the bytes of "</name" read.
    int32_t dual;                   // its index in the tag table, or -1
    bool frameset;                  // a FRAMESET start tag was read as HTML
    int32_t closeMatched;
    int32_t cdataMatched;           // bytes of "[CDATA[" after "<!"
    // Both readings: a quoted value that holds an end tag of raw text or
    // foreign content ("</title ", "</svg>"...) or "]]>" may be read by the
    // browser as the end of that text, and the rest of the value as tags.
    // markHold holds a start tag's attribute from its blanks until its
    // quoted value has shown none (or kInertHoldMax bytes); markMatched
    // counts the bytes of a mark being read from markStart.
    int64_t markHold;
    int64_t markStart;
    int32_t markMatched;
    bool dropTail;                  // the value goes from a mark on, its quote stays
    char markName[kInertNameMax];

    bool rawForeign;                // the raw text is a foreign STYLE's: a tag ends it
    uint32_t rawEndLive;            // raw text end names still matching: 1 the element, 2 dual

    // The attribute being read.
    int64_t attrStart;              // its name's first byte
    char attrName[kInertNameMax];
    int32_t attrNameLength;
    int32_t fate;                   // AttributeFate
    int32_t rule;                   // index in AttributeRules, or -1
    bool checkNetwork;              // what its value is read for
    bool checkScript;
    bool checkMarkup;
    uint32_t quote;                 // of the value
    int64_t valueStart;
    AddressReader address;
    bool cssOn;                     // the value (or STYLE content) goes through css
    CssScanner css;

    // Raw text (SCRIPT, STYLE, TEXTAREA...): the element and how much of
    // its end tag has been matched.
    int32_t rawElement;
    int32_t rawMatched;
    unsigned char look[kInertLookMax];
    int32_t lookLength;

    // Output. Bytes before pendingStart are written or dropped; the others
    // read so far wait in carry (those of earlier runs) or in the run.
    int64_t position;               // of the next byte read
    int64_t pendingStart;
    int64_t attrHold;               // start of the attribute held back, or -1
    int64_t gapStart;               // start of the blanks before the next attribute, or -1
    int64_t lookHold;               // a '<' that may end a STYLE element, or -1
    bool dropping;                  // the bytes read go (the rest of a removed attribute)
    int32_t dropKind;               // RemovalKind they count to
    // The last blank before a removed attribute, taken out of the waiting
    // bytes: written when a kept attribute follows the removed ones with
    // nothing between them (after a quote), else dropped. -1: none.
    int32_t separator;
    int32_t separatorKind;
    bool separatorNext;             // it waits on the attribute beginning now
    // A META content that would go as a refresh, held (from its blanks to
    // metaHoldEnd) until the tag shows whether it is one: an http-equiv of
    // "refresh" before or after it. -1: none.
    int64_t metaHold;
    int64_t metaHoldEnd;
    int64_t metaNameStart;
    int32_t metaKind;
    bool metaRefresh;               // this META's http-equiv is "refresh"
    // A value read for what it says (ValueWatch in inert.cpp): its first
    // bytes in lower case, and its length up to kInertWatchMax + 1.
    int32_t watch;
    char watched[kInertWatchMax];
    int32_t watchedLength;
    const unsigned char *run;       // the run being read, [run, runEnd)
    const unsigned char *runEnd;
    int64_t runStart;
    int32_t carryLength;
    unsigned char carry[kInertHoldMax];
};

// Whether the switches give the filter anything to do.
bool InertFilterWanted(const CleanSwitches *sw);
void StartInertFilter(InertFilter *f, const CleanSwitches *sw, ByteStream *output,
                      RemovalTally *tally);
void InertFilterBytes(InertFilter *f, const unsigned char *data, size_t n);
void FinishInertFilter(InertFilter *f);
