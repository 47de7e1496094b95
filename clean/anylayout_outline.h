// The rule for any layout: the outline of open and kept records as tags
// open and close, and the first words of the chosen part.
// An internal piece of the rule for any layout: anylayout.cpp builds its
// pieces as one unit, so that the lexer's calls into the outline stay inline.
#pragma once
#include "clean/anylayout_internal.h"

namespace {

// ---------------------------------------------------------------------------
// Records

void EndBlock(State *st)
{
    if (st->blockWords > 0) {
        Record *top = &st->open[st->depth - 1];
        unsigned flags = st->nextBlockFlags | (st->headingDepth > 0 ? kBlockHeading : 0);
        int p = BlockWeight(st->blockWords, st->blockLinkWords, flags, top->inherited);
        top->words += st->blockWords;
        top->weighted += p * st->blockWords;
        st->nextBlockFlags = 0;
    }
    st->blockWords = 0;
    st->blockLinkWords = 0;
}

// Whether a goes before b when a kept record must make room: records that
// start after the first </BODY>, then the smaller TP.
bool KeptBefore(const State *st, const Record *a, const Record *b)
{
    bool aOut = st->bodyClose >= 0 && a->start > st->bodyClose;
    bool bOut = st->bodyClose >= 0 && b->start > st->bodyClose;
    if (aOut != bOut)
        return aOut;
    return a->weighted < b->weighted;
}

// Keeps a closed record for the choice, in place of the weakest kept one
// when all places are taken.
void Keep(State *st, const Record *r)
{
    if (r->words == 0)
        return;             // it can neither win nor be cut
    if (st->keptCount < kMaxKept) {
        st->kept[st->keptCount++] = *r;
        if (st->keptCount > st->result.keptHigh)
            st->result.keptHigh = st->keptCount;
        return;
    }
    if (st->weakest < 0) {
        st->weakest = 0;
        for (int i = 1; i < kMaxKept; i++)
            if (KeptBefore(st, &st->kept[i], &st->kept[st->weakest]))
                st->weakest = i;
    }
    if (KeptBefore(st, &st->kept[st->weakest], r)) {
        st->kept[st->weakest] = *r;
        st->weakest = -1;
    }
}

// Closes the open records from the top down to index `to`, all ending at `end`.
void PopTo(State *st, int to, int64_t end)
{
    while (st->depth > to) {
        Record *r = &st->open[--st->depth];
        Record *parent = &st->open[st->depth - 1];
        r->end = end;
        parent->words += r->words;
        parent->weighted += r->weighted;
        parent->hasH1 = parent->hasH1 || r->hasH1;
        st->openOfKind[kTags[r->tag].kind]--;
        st->result.recordsClosed++;
        Keep(st, r);
    }
    if (st->linkDepth > st->depth)
        st->linkDepth = 0;      // a link ends with its container
}

// The index of the open record of `kind` that a tag closes, searching down
// from the top and no further than a record of a `stop` kind; 0 for none.
int FindOpen(State *st, int kind, bool stopAtCells)
{
    if (st->openOfKind[kind] == 0)
        return 0;
    for (int i = st->depth - 1; i > 0; i--) {
        st->result.stackSteps++;
        int k = kTags[st->open[i].tag].kind;
        if (k == kind)
            return i;
        if (k == kTagTable || (stopAtCells && k == kTagTd))
            return 0;
    }
    return 0;
}

void OnStartTag(State *st, int tag, int64_t a, int64_t b)
{
    const TagInfo &info = kTags[tag];
    if (info.flags & kFlagBreak)
        EndBlock(st);
    if (info.flags & kFlagContainer) {
        if (st->depth > kMaxOpen)
            return;
        if (info.flags & kFlagTablePart) {
            int i = FindOpen(st, info.kind, false);
            if (i > 0)
                PopTo(st, i, a - 1);
        }
        Record *parent = &st->open[st->depth - 1];
        Record *r = &st->open[st->depth++];
        r->start = a;
        r->contentStart = b + 1;
        r->end = -1;
        r->words = 0;
        r->weighted = 0;
        r->h1Start = st->lastH1Start;
        r->h1End = st->lastH1End;
        r->hasH1 = false;
        r->tag = (unsigned char)tag;
        r->hints = (unsigned char)st->lex.tagHints;
        r->inherited = (unsigned char)(parent->inherited | st->lex.tagHints);
        st->openOfKind[info.kind]++;
        return;
    }
    switch (tag) {
    case kTagP:
        st->nextBlockFlags = kBlockP;
        break;
    case kTagLi:
        st->nextBlockFlags = kBlockLi;
        break;
    case kTagHeading:
        st->headingDepth++;
        if (IsH1(&st->lex)) {
            st->lastH1Start = a;
            st->lastH1End = -1;
            st->open[st->depth - 1].hasH1 = true;
        }
        break;
    case kTagA:
        st->linkDepth = st->lex.hasHref ? st->depth : 0;
        break;
    case kTagBody:
        if (!st->bodySeen) {
            st->bodySeen = true;
            st->open[0].start = a;
            st->headEnd = b + 1;
        }
        break;
    case kTagHtml:
        if (st->htmlEnd < 0)
            st->htmlEnd = b + 1;
        break;
    }
    if (info.flags & kFlagNoCount)
        st->quietDepth++;
}

void OnEndTag(State *st, int tag, int64_t a, int64_t b)
{
    const TagInfo &info = kTags[tag];
    if (info.flags & kFlagBreak)
        EndBlock(st);
    if (info.flags & kFlagContainer) {
        int i = tag == kTagTable ? FindOpen(st, kTagTable, false)
                                 : FindOpen(st, info.kind, !(info.flags & kFlagTablePart));
        if (i > 0)
            PopTo(st, i, b);
        return;
    }
    switch (tag) {
    case kTagHeading:
        if (st->headingDepth > 0)
            st->headingDepth--;
        if (IsH1(&st->lex) && st->lastH1Start >= 0 && st->lastH1End < 0)
            st->lastH1End = b;
        break;
    case kTagA:
        st->linkDepth = 0;
        break;
    case kTagBody:
        if (st->bodyClose < 0) {
            st->bodyClose = a;
            st->weakest = -1;   // what comes after it makes room first now
        }
        break;
    case kTagHead:
        if (st->headCloseEnd < 0)
            st->headCloseEnd = b + 1;
        break;
    }
    if ((info.flags & kFlagNoCount) && st->quietDepth > 0)
        st->quietDepth--;
}

// The table cut: drops every table that opens inside the part, up to its
// matching end tag (or the part's end), and writes what stays.
void Emit(State *st, int64_t from, int64_t to)
{
    for (int i = 0; i < st->pieceCount; i++) {
        int64_t a = from > st->pieces[i].start ? from : st->pieces[i].start;
        int64_t b = to < st->pieces[i].end ? to : st->pieces[i].end;
        CopyBytes(st->copier, st->output, a, b, &st->result.bytesCopied);
        if (b >= a)
            st->emitted += b - a + 1;
    }
}

void OnCopiedTag(State *st, int tag, bool endTag, int64_t a, int64_t b)
{
    if (tag != kTagTable)
        return;
    if (!endTag) {
        if (a == st->partStart)
            return;             // the part is this table
        if (st->tableDepth++ == 0) {
            Emit(st, st->emitFrom, a - 1);
            st->result.tablesCut++;
        }
    } else if (st->tableDepth > 0 && --st->tableDepth == 0) {
        st->emitFrom = b + 1;
    }
}

// ---------------------------------------------------------------------------
// The first words of the chosen part
//
// A third run of the lexer over the part's start gives TakeText its text
// runs (markup, scripts and comments left out). The bytes are kept as they
// stand, blanks and markup as one blank between words, until a word past
// kAnyLayoutWordsMax starts, the room is full or kWordsReadMax bytes were
// read; FinishWords then decodes and escapes them.

enum { kWordsReadMax = 16 * 1024 };

inline bool IsBlank(unsigned char c)
{
    return kBytes.of[c] == kClassSpace;
}

// A break between words: markup, or text the part leaves out.
void WordBreak(State *st)
{
    if (st->wordsLength > 0 && st->words[st->wordsLength - 1] != ' ')
        st->words[st->wordsLength++] = ' ';
}

bool InWordCut(const State *st, int64_t at)
{
    for (int i = 0; i < st->wordCutCount; i++)
        if (at >= st->wordCuts[i].start && at <= st->wordCuts[i].end)
            return true;
    return false;
}

// The text at `at`..`at` + n - 1, `p` its bytes.
void TakeText(State *st, int64_t at, const unsigned char *p, size_t n)
{
    if (at != st->nextText)
        WordBreak(st);          // markup came between
    st->nextText = at + (int64_t)n;
    for (size_t i = 0; i < n && !st->wordsDone; i++) {
        if (IsBlank(p[i]) || InWordCut(st, at + (int64_t)i)) {
            WordBreak(st);
            continue;
        }
        bool starts = st->wordsLength == 0 || st->words[st->wordsLength - 1] == ' ';
        if (starts && st->wordsTaken == kAnyLayoutWordsMax) {
            st->wordsMore = true;
            st->wordsDone = true;
            break;
        }
        if (st->wordsLength + 1 >= kWordsRaw) {
            st->wordsMore = true;
            st->wordsDone = true;
            break;
        }
        st->wordsTaken += starts;
        st->words[st->wordsLength++] = p[i];
    }
}

}  // namespace
