// See inert.h.
//
// States (InertFilter.state), after a browser's tokenizer:
//   0    text, up to a '<'
//   100  after '<'; 110 after "</"
//   120  a tag name
//   200  before an attribute name (blanks)
//   210  an attribute name
//   220  after an attribute name (blanks): '=' or the next attribute
//   230  after '=' (blanks)
//   240  a quoted value, up to its quote; 250 an unquoted value, up to a
//        blank or '>'
//   260  after a quoted value
//   270  after a '/' in a tag
//   300  after "<!"; 301 after "<!-"; 302 matching "[CDATA[" (foreign content)
//   310  after "<!--"; 311 after "<!---"
//   320  a comment; 321 after a '-' in it; 322 after "--"; 323 after "--!"
//   330  a CDATA section; 331 after a ']' in it; 332 after "]]"
//   350  a bogus comment ("<?", "<!x", "</ "), up to '>'
//   400  the content of a raw text element, up to a '<'
//   410  after its '<'; 420 matching the element's name after "</"
//   490  PLAINTEXT: the rest of the page is text
// Step hands each byte to the state's handler (On...). At each tag's '>'
// TagDone reads it as the tree builder does (the nest of foreign elements,
// InertNest) and so chooses the next state. Inside an element read both
// ways (InertFilter.dual) the states from 300 on also end at its end tag.
//
// An attribute's fate (AttributeFate) is set when its name ends (a handler
// as soon as its third letter shows it): kept, removed, or checked, which
// holds the attribute back (from the blanks before it) until its value
// decides. End tags' attributes are only read, never changed.
//
// Output: the bytes read wait in the run (or, across runs, in carry) and
// are written lazily, up to the earliest of the holds (attrHold, gapStart,
// lookHold and the style scanner's holdFrom); a removal writes what comes
// before it and drops its own bytes. While `dropping`, the bytes read are
// the rest of a removed attribute and go as they come.
//
// Invariants: no hold is ever older than kInertHoldMax bytes, so what waits
// fits in carry; a removal only ever drops bytes that are still waiting;
// every byte read is written or counted to a removal kind exactly once.
//
// The pieces, each in its own file and built here as one unit: the states,
// byte classes and rule tables (inert_rules.h); output, attribute and value
// rules and the mark reader (inert_attributes.h); the tree reading and the
// end of raw text (inert_nest.h); the handlers of the states and Step
// (inert_states.h); the fast paths and Advance (inert_runs.h).
#include "clean/inert.h"
#include <string.h>
#include "clean/bytescan.h"
#include "clean/inert_rules.h"
#include "clean/inert_attributes.h"
#include "clean/inert_nest.h"
#include "clean/inert_states.h"
#include "clean/inert_runs.h"

// ---------------------------------------------------------------------------

bool InertFilterWanted(const CleanSwitches *sw)
{
    return sw->scripts || sw->internet;
}

void StartInertFilter(InertFilter *f, const CleanSwitches *sw, ByteStream *output,
                      RemovalTally *tally)
{
    f->scripts = sw->scripts;
    f->internet = sw->internet;
    f->output = output;
    f->tally = tally;
    f->state = kInertText;
    f->tagNameLength = 0;
    f->endTag = false;
    f->selfClosing = false;
    f->tagClass = 0;
    f->nestDepth = f->nestDeeper = 0;
    f->fontBreaks = f->encodingHtml = false;
    f->dual = -1;
    f->frameset = false;
    f->closeMatched = f->cdataMatched = 0;
    f->rawForeign = false;
    f->rawEndLive = 0;
    f->attrNameLength = 0;
    f->fate = kFateKeep;
    f->rule = -1;
    f->checkNetwork = f->checkScript = f->checkMarkup = false;
    f->quote = 0;
    f->valueStart = 0;
    f->cssOn = false;
    f->rawElement = -1;
    f->rawMatched = 0;
    f->lookLength = 0;
    f->position = 0;
    f->pendingStart = 0;
    f->attrHold = -1;
    f->gapStart = -1;
    f->lookHold = -1;
    f->dropping = false;
    f->dropKind = 0;
    f->separator = -1;
    f->separatorKind = 0;
    f->separatorNext = false;
    f->metaHold = f->metaHoldEnd = f->metaNameStart = -1;
    f->metaKind = 0;
    f->metaRefresh = false;
    f->watch = kWatchNone;
    f->watchedLength = 0;
    f->attrStart = 0;
    f->markHold = f->markStart = -1;
    f->markMatched = 0;
    f->dropTail = false;
    f->run = f->runEnd = nullptr;
    f->runStart = 0;
    f->carryLength = 0;
}

// The earliest byte that must still wait, or `end`.
static int64_t EarliestHold(const InertFilter *f, int64_t end)
{
    int64_t h = end;
    if (f->attrHold >= 0 && f->attrHold < h)
        h = f->attrHold;
    if (f->gapStart >= 0 && f->gapStart < h)
        h = f->gapStart;
    if (f->lookHold >= 0 && f->lookHold < h)
        h = f->lookHold;
    if (f->metaHold >= 0 && f->metaHold < h)
        h = f->metaHold;
    if (f->markHold >= 0 && f->markHold < h)
        h = f->markHold;
    if (f->markMatched > 0 && f->markStart < h)
        h = f->markStart;
    if (f->cssOn && f->css.holdFrom >= 0 && f->css.holdFrom < h)
        h = f->css.holdFrom;
    return h;
}

void InertFilterBytes(InertFilter *f, const unsigned char *data, size_t n)
{
    f->run = data;
    f->runEnd = data + n;
    f->runStart = f->position;
    const unsigned char *p = data, *end = data + n;
    while (p < end)
        p = Advance(f, p, end);
    int64_t runEnd = f->runStart + (int64_t)n;
    f->position = runEnd;
    if (f->dropping)
        CountBytes(f, f->dropKind, DropThrough(f, runEnd));
    else
        WriteThrough(f, EarliestHold(f, runEnd));
    // What still waits moves to carry: the part of it in this run.
    int64_t from = f->pendingStart > f->runStart ? f->pendingStart : f->runStart;
    if (from < runEnd) {
        memcpy(f->carry + f->carryLength, data + (from - f->runStart), (size_t)(runEnd - from));
        f->carryLength += (int32_t)(runEnd - from);
    }
    f->run = nullptr;
}

void FinishInertFilter(InertFilter *f)
{
    static const unsigned char kNone = 0;
    f->run = f->runEnd = &kNone;
    f->runStart = f->position;
    int64_t at = f->position;
    switch (f->state) {
    case kInertAttrName:
    case kInertAfterAttrName:
    case kInertBeforeValue:
        EndDropping(f, at);
        ValuelessDone(f, at);
        break;
    case kInertValueQuoted:
    case kInertValueBare:
        EndValue(f, at, at);
        EndDropping(f, at);
        break;
    case kInertRawLt:
    case kInertRawEndName:
        RawTextMismatch(f);
        break;
    }
    f->nestDepth = f->nestDeeper = 0;
    f->dual = -1;
    FinishCss(f, at);
    EndDropping(f, at);
    ResolveSeparator(f, false);
    f->metaHold = f->markHold = -1;       // a tag the page ends in is no element
    f->markMatched = 0;
    f->attrHold = f->gapStart = f->lookHold = -1;
    WriteThrough(f, at);
    f->state = kInertText;
    f->run = nullptr;
}
