// The inert filter's output (bytes written lazily up to the earliest hold,
// removals, the style scanner's cuts) and its rules for tags, attributes and
// values: an attribute's fate from its name, its value read as an address
// or as style text, and the mark reader that finds the end of raw text or
// foreign content inside a value.
// An internal piece of the inert filter: inert.cpp builds its pieces as
// one unit, so that the calls between them stay inline.
#pragma once
#include "clean/inert_rules.h"

// ---------------------------------------------------------------------------
// Output

static void CountBytes(InertFilter *f, int32_t kind, int64_t n)
{
    if (f->tally)
        f->tally->bytes[kind] += n;
}

static inline int64_t Pos(const InertFilter *f, const unsigned char *p)
{
    return f->runStart + (p - f->run);
}

// Writes the waiting bytes before `to`.
static void WriteThrough(InertFilter *f, int64_t to)
{
    int64_t n = to - f->pendingStart;
    if (n <= 0)
        return;
    if (f->carryLength > 0) {
        int32_t k = n < f->carryLength ? (int32_t)n : f->carryLength;
        StreamWrite(f->output, f->carry, (size_t)k);
        memmove(f->carry, f->carry + k, (size_t)(f->carryLength - k));
        f->carryLength -= k;
        f->pendingStart += k;
        n -= k;
    }
    if (n > 0) {
        StreamWrite(f->output, f->run + (f->pendingStart - f->runStart), (size_t)n);
        f->pendingStart += n;
    }
}

// Drops the waiting bytes before `to`; answers how many.
static int64_t DropThrough(InertFilter *f, int64_t to)
{
    int64_t n = to - f->pendingStart;
    if (n <= 0)
        return 0;
    int32_t k = n < f->carryLength ? (int32_t)n : f->carryLength;
    memmove(f->carry, f->carry + k, (size_t)(f->carryLength - k));
    f->carryLength -= k;
    f->pendingStart = to;
    return n;
}

// Removes the waiting bytes [from, to) as one thing of `kind` (counted
// when `first`, else added to the thing before it).
static void Remove(InertFilter *f, int64_t from, int64_t to, int32_t kind, bool first)
{
    WriteThrough(f, from);
    int64_t n = DropThrough(f, to);
    if (first && f->tally)
        f->tally->count[kind]++;
    CountBytes(f, kind, n);
}

// The rest of a removed attribute went up to `to`.
static void EndDropping(InertFilter *f, int64_t to)
{
    if (!f->dropping)
        return;
    CountBytes(f, f->dropKind, DropThrough(f, to));
    f->dropping = false;
}

// The waiting byte at `at` (at >= pendingStart).
static unsigned char WaitingByte(const InertFilter *f, int64_t at)
{
    int64_t i = at - f->pendingStart;
    if (i < f->carryLength)
        return f->carry[i];
    return f->run[at - f->runStart];
}

static void ApplyCuts(InertFilter *f, int32_t kind)
{
    for (int32_t i = 0; i < f->css.cutCount; i++)
        Remove(f, f->css.cuts[i].start, f->css.cuts[i].end, kind, f->css.cuts[i].first);
    f->css.cutCount = 0;
}

// What css cuts count as: a reference in a STYLE element or in a tag.
static int32_t CssKind(const InertFilter *f)
{
    return f->state >= kInertRawText ? kRemovedCssReferences : kRemovedUrlReferences;
}

static void CssByte(InertFilter *f, unsigned char c, int64_t at)
{
    CssScannerByte(&f->css, c, at);
    if (f->css.cutCount)
        ApplyCuts(f, CssKind(f));
}

static void FinishCss(InertFilter *f, int64_t at)
{
    if (!f->cssOn)
        return;
    FinishCssScanner(&f->css, at);
    ApplyCuts(f, CssKind(f));
    f->cssOn = false;
}

// ---------------------------------------------------------------------------
// Tags and attributes

static void StartTagName(InertFilter *f, unsigned char c, bool endTag)
{
    f->endTag = endTag;
    f->selfClosing = false;
    f->tagName[0] = (char)c;
    f->tagNameLength = 1;
    f->state = kInertTagName;
}

static void TagNameDone(InertFilter *f)
{
    f->rawElement = FindRule(kTagIndex, kTagRules, f->tagName, f->tagNameLength);
    f->tagClass = f->rawElement >= 0 ? kTagRules[f->rawElement].classes : 0;
}

static bool IsHandlerName(const InertFilter *f)
{
    return f->attrNameLength >= 3 && (f->attrName[0] | 0x20) == 'o' &&
           (f->attrName[1] | 0x20) == 'n' && IsLetter((unsigned char)f->attrName[2]);
}

// The blank set apart before a removed attribute: written when `write`,
// else dropped with it.
static void ResolveSeparator(InertFilter *f, bool write)
{
    if (f->separator < 0)
        return;
    unsigned char c = (unsigned char)f->separator;
    if (write)
        StreamWrite(f->output, &c, 1);
    else
        CountBytes(f, f->separatorKind, 1);
    f->separator = -1;
}

// Removes [from, to) of an attribute whose name begins at nameStart: when
// blanks come before the name, the last of them is set apart, so that what
// follows the attribute is never glued to what came before it.
static void RemoveAttributeBytes(InertFilter *f, int64_t from, int64_t nameStart, int64_t to,
                                 int32_t kind)
{
    if (from >= nameStart || f->separator >= 0) {
        Remove(f, from, to, kind, true);
        return;
    }
    Remove(f, from, nameStart - 1, kind, true);
    f->separator = WaitingByte(f, nameStart - 1);
    f->separatorKind = kind;
    DropThrough(f, nameStart);
    Remove(f, nameStart, to, kind, false);
}

// The held META content goes (`drop`) or stays. Every byte of it is still
// waiting, and so is the byte after it: when that byte begins another
// attribute, the last blank before the content stays.
static void ResolveMeta(InertFilter *f, bool drop)
{
    if (f->metaHold < 0)
        return;
    int64_t from = f->metaHold, name = f->metaNameStart, to = f->metaHoldEnd;
    f->metaHold = -1;
    // Still in its value, the content is the attribute being removed.
    if (!drop || to < 0)
        return;
    unsigned char next = WaitingByte(f, to);
    if (from < name && !(IsBlank(next) || next == '/' || next == '>')) {
        Remove(f, from, name - 1, f->metaKind, true);
        WriteThrough(f, name);
        Remove(f, name, to, f->metaKind, false);
    } else {
        Remove(f, from, to, f->metaKind, true);
    }
}

// The attribute goes: what was held of it now, the rest as it comes.
static void DropAttribute(InertFilter *f, int64_t through, int32_t kind)
{
    ResolveMeta(f, true);
    RemoveAttributeBytes(f, f->attrHold, f->attrStart, through, kind);
    f->attrHold = f->markHold = -1;
    f->markMatched = 0;
    f->fate = kFateDrop;
    f->dropping = true;
    f->dropKind = kind;
}

static void StartAttribute(InertFilter *f, unsigned char c, int64_t at)
{
    // A blank set apart waits on this attribute only when it follows the
    // removed one's quote straight away.
    if (!f->separatorNext)
        ResolveSeparator(f, false);
    f->separatorNext = false;
    f->attrStart = at;
    f->watch = kWatchNone;
    f->markMatched = 0;
    f->markHold = f->endTag ? -1 : f->gapStart >= 0 ? f->gapStart : at;
    f->attrHold = f->gapStart >= 0 ? f->gapStart : at;
    f->gapStart = -1;
    f->attrName[0] = (char)c;
    f->attrNameLength = 0;
    f->fate = f->endTag ? kFateIgnore : kFateCheck;
    f->rule = -1;
    f->state = kInertAttrName;
    if (f->endTag)
        f->attrHold = -1;
}

static void KeepAttribute(InertFilter *f)
{
    ResolveSeparator(f, true);
    f->attrHold = -1;
    f->fate = kFateKeep;
}

// The name has ended (or has grown past every name of ours): the fate.
static void AttributeNameDone(InertFilter *f, int64_t at)
{
    if (f->fate != kFateCheck || f->rule != -1)
        return;
    const AttributeRule *rule = nullptr;
    int32_t i = FindRule(kAttributeIndex, kAttributeRules, f->attrName, f->attrNameLength);
    if (i >= 0 && (!kAttributeRules[i].onlyOn || (kAttributeRules[i].onlyOn & f->tagClass)))
        rule = &kAttributeRules[i];
    f->rule = rule ? i : -2;        // -2: looked up, none
    if (f->tagClass & (kTagMeta | kTagFont | kTagAnnotation)) {
        int32_t w = FindRule(kWatchIndex, kWatchRules, f->attrName, f->attrNameLength);
        if (w >= 0 && (kWatchRules[w].on & f->tagClass)) {
            if (kWatchRules[w].watch == kWatchFont)
                f->fontBreaks = true;
            f->watch = kWatchRules[w].watch;
            f->watchedLength = 0;
        }
    }
    if (rule && rule->use == kUseSrcdoc) {
        if (f->scripts)
            DropAttribute(f, at, kRemovedScriptUrls);
        else
            KeepAttribute(f);
        return;
    }
    f->checkNetwork = f->internet && rule;
    f->checkMarkup = f->scripts && rule && rule->framePage && (f->tagClass & kTagFrameLike);
    f->checkScript = f->scripts;
    if (!f->checkNetwork && !f->checkScript)
        KeepAttribute(f);
}

// A name byte: a handler is known by its third letter.
static void AttributeNameByte(InertFilter *f, unsigned char c, int64_t at)
{
    if (f->attrNameLength < kInertNameMax)
        f->attrName[f->attrNameLength] = (char)c;
    if (f->attrNameLength <= kInertNameMax)
        f->attrNameLength++;
    if (f->fate != kFateCheck || f->rule != -1)
        return;
    if (f->attrNameLength == 3 && f->scripts && IsHandlerName(f)) {
        DropAttribute(f, at + 1, kRemovedHandlers);
        return;
    }
    if (f->attrNameLength > kInertNameMax)
        AttributeNameDone(f, at + 1);
}

// How an attribute's value is read for addresses.
static AddressSyntax SyntaxOf(const AttributeRule *rule)
{
    if (!rule)
        return kSyntaxOne;
    switch (rule->use) {
    case kUseLoadsList:
        return kSyntaxList;
    case kUseRefresh:
        return kSyntaxRefresh;
    case kUseValues:
        return kSyntaxValues;
    }
    return kSyntaxOne;
}

static int32_t DropKindOf(const InertFilter *f, AddressKind k)
{
    if (k != kAddressNetwork)
        return kRemovedScriptUrls;
    if (f->rule >= 0 && strcmp(kAttributeRules[f->rule].name, "background") == 0)
        return kRemovedBackgrounds;
    return kRemovedNetworkAttributes;
}

static bool Removes(const InertFilter *f, AddressKind k)
{
    return (k == kAddressScript && f->checkScript) || (k == kAddressMarkupData && f->checkMarkup) ||
           (k == kAddressNetwork && f->checkNetwork);
}

// Whether n bytes of a value may hold a url( or image-set( reference: a
// '(' as it stands or as a character reference.
static bool MayHoldReference(const unsigned char *p, size_t n)
{
    if (memchr(p, '(', n))
        return true;
    for (const unsigned char *a = (const unsigned char *)memchr(p, '&', n); a;
         a = (const unsigned char *)memchr(a + 1, '&', n - (size_t)(a + 1 - p))) {
        if (a + 1 < p + n && (a[1] == '#' || (a[1] | 0x20) == 'l'))
            return true;
    }
    return false;
}

// A kept value from `from` on: whether it goes through the css scanner,
// which then reads the bytes of it already read. A value seen whole in
// this run without a reference in it does not.
static void ChooseCss(InertFilter *f, int64_t from)
{
    f->cssOn = false;
    if (!f->internet || (f->rule >= 0 && kAttributeRules[f->rule].use != kUseLoads))
        return;
    if (f->valueStart >= f->runStart) {
        const unsigned char *v = f->run + (f->valueStart - f->runStart);
        const unsigned char *q = f->run + (from - f->runStart), *stop = nullptr;
        if (f->quote) {
            stop = (const unsigned char *)memchr(q, (int)f->quote, (size_t)(f->runEnd - q));
        } else {
            for (stop = q; stop < f->runEnd && !(kBytes.of[*stop] & (kByteBlank | kByteGt)); stop++) {
            }
            if (stop == f->runEnd)
                stop = nullptr;
        }
        if (stop && !MayHoldReference(v, (size_t)(stop - v)))
            return;
    }
    StartCssScanner(&f->css, true);
    f->cssOn = true;
    for (int64_t at = f->valueStart; at < from; at++)
        CssByte(f, WaitingByte(f, at), at);
}

// The value decided the attribute at `through` (the bytes before it read).
// A META content goes only as a refresh: until the tag shows that it is
// one, it waits (ResolveMeta).
static void ValueDecided(InertFilter *f, AddressKind k, int64_t through)
{
    if (Removes(f, k) && f->rule >= 0 && kAttributeRules[f->rule].use == kUseRefresh &&
        !f->metaRefresh && f->metaHold < 0) {
        f->metaHold = f->attrHold;
        f->metaNameStart = f->attrStart;
        f->metaHoldEnd = -1;
        f->metaKind = DropKindOf(f, k);
        ResolveSeparator(f, true);
        f->attrHold = -1;
        f->fate = kFateKeep;
        return;
    }
    if (Removes(f, k)) {
        DropAttribute(f, through, DropKindOf(f, k));
        return;
    }
    KeepAttribute(f);
    ChooseCss(f, through);
}

static void StartValue(InertFilter *f, int64_t at)
{
    if (!f->quote)
        f->markHold = -1;       // a bare value ends where any reading ends it
    f->valueStart = at;
    f->cssOn = false;
    if (f->fate == kFateCheck) {
        const AttributeRule *rule = f->rule >= 0 ? &kAttributeRules[f->rule] : nullptr;
        StartAddressReader(&f->address, SyntaxOf(rule), f->checkMarkup, true);
    } else if (f->fate == kFateKeep) {
        ChooseCss(f, at);
    }
}

// Whether name[0, n) is that of an element whose end tag ends raw text or
// foreign content.
static bool EndsText(const char *name, int32_t n)
{
    int32_t i = FindRule(kTagIndex, kTagRules, name, n);
    return i >= 0 && (kTagRules[i].classes & (kTagRawText | kTagStyle | kTagNoscript | kTagForeign));
}

// A mark in a quoted value (InertFilter.markHold): the attribute goes, whole
// when its bytes still wait, else from the mark to its quote.
static void MarkFound(InertFilter *f, int64_t at)
{
    int32_t kind = f->scripts ? kRemovedHandlers : kRemovedNetworkAttributes;
    if (f->cssOn) {
        f->cssOn = false;
        f->css.cutCount = 0;
    }
    int64_t from = f->markHold >= f->pendingStart ? f->markHold : f->markStart;
    bool whole = f->markHold >= f->pendingStart;
    f->markMatched = 0;
    f->attrHold = from;
    DropAttribute(f, at + 1, kind);
    f->dropTail = !whole;
}

// The mark reader, one byte of a quoted value: '<', '/', a name and a blank,
// '/' or '>' after it; or "]]>".
static void MarkByte(InertFilter *f, unsigned char c, int64_t at)
{
    int32_t m = f->markMatched;
    if (m >= 2 && m < 100) {
        if (IsLetter(c) && m - 2 < kInertNameMax) {
            f->markName[m - 2] = Lower(c);
            f->markMatched++;
            return;
        }
        if ((IsBlank(c) || c == '/' || c == '>') && m > 2 && EndsText(f->markName, m - 2)) {
            MarkFound(f, at);
            return;
        }
    } else if (m == 1 && c == '/') {
        f->markMatched = 2;
        return;
    } else if (m >= 100 && c == ']') {
        f->markMatched = 101;
        return;
    } else if (m == 101 && c == '>') {
        MarkFound(f, at);
        return;
    }
    f->markMatched = 0;
    if (c == '<' || c == ']') {
        f->markMatched = c == '<' ? 1 : 100;
        f->markStart = at;
    }
}

// The bytes [p, q) of a quoted value at `at` through the mark reader,
// passing over those that begin none.
static void MarkSpan(InertFilter *f, const unsigned char *p, const unsigned char *q, int64_t at)
{
    const unsigned char *start = p;
    while (p < q && f->fate != kFateDrop) {
        if (f->markMatched == 0) {
            const unsigned char *lt = (const unsigned char *)memchr(p, '<', (size_t)(q - p));
            const unsigned char *rb = (const unsigned char *)memchr(p, ']', (size_t)((lt ? lt : q) - p));
            const unsigned char *next = rb ? rb : lt;
            if (!next)
                return;
            p = next;
        }
        MarkByte(f, *p, at + (p - start));
        p++;
    }
}

// Value bytes read for what they say (ValueWatch), in lower case.
static void WatchBytes(InertFilter *f, const unsigned char *p, const unsigned char *q)
{
    for (; p < q && f->watchedLength <= kInertWatchMax; p++) {
        if (f->watchedLength < kInertWatchMax)
            f->watched[f->watchedLength] = Lower(*p);
        f->watchedLength++;
    }
}

static bool WatchedIs(const InertFilter *f, const char *word)
{
    int32_t n = NameLength(word);
    return f->watchedLength == n && memcmp(f->watched, word, (size_t)n) == 0;
}

// A watched value has ended: what it says of the tag.
static void WatchDone(InertFilter *f)
{
    int32_t watch = f->watch;
    f->watch = kWatchNone;
    if (watch == kWatchEquiv && WatchedIs(f, "refresh")) {
        f->metaRefresh = true;
        ResolveMeta(f, true);
    }
    if (watch == kWatchEncoding && (WatchedIs(f, "text/html") || WatchedIs(f, "application/xhtml+xml")))
        f->encodingHtml = true;
}

static void ValueByte(InertFilter *f, unsigned char c, int64_t at)
{
    if (f->watch)
        WatchBytes(f, &c, &c + 1);
    if (f->fate == kFateCheck) {
        AddressKind k = AddressReaderByte(&f->address, c);
        if (k != kAddressUndecided)
            ValueDecided(f, k, at + 1);
    } else if (f->cssOn) {
        CssByte(f, c, at);
    }
}

// The value's bytes end before `at`; the attribute's before `attrEnd`.
static void EndValue(InertFilter *f, int64_t at, int64_t attrEnd)
{
    f->markHold = -1;
    f->markMatched = 0;
    if (f->fate == kFateCheck)
        ValueDecided(f, FinishAddressReader(&f->address), at);
    FinishCss(f, at);
    if (f->metaHold >= 0 && f->metaHoldEnd < 0)
        f->metaHoldEnd = attrEnd;
    if (f->watch)
        WatchDone(f);
}

// An attribute without a value ended.
static void ValuelessDone(InertFilter *f, int64_t at)
{
    f->markHold = -1;
    AttributeNameDone(f, at);
    if (f->fate == kFateCheck)
        KeepAttribute(f);
    if (f->watch)
        WatchDone(f);
}
