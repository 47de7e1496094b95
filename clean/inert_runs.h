// The inert filter's fast paths: tags with nothing to remove passed over
// whole, values and text read a stretch at a time, and Advance, which
// chooses between a stretch and one byte through Step.
// An internal piece of the inert filter: inert.cpp builds its pieces as
// one unit, so that the calls between them stay inline.
#pragma once
#include "clean/inert_states.h"
#include "clean/bytescan.h"

// Bytes that may begin a removal somewhere in a tag: a scheme's ':', a
// reference's '&', a url('s '('; a slash or backslash may begin "//".
enum : uint8_t {
    kMarkAlways = 1,
    kMarkSlash = 2,
};

struct TagMarks {
    uint8_t of[256];
};

static constexpr TagMarks BuildTagMarks()
{
    TagMarks t = {};
    t.of[(unsigned char)':'] = t.of[(unsigned char)'&'] = t.of[(unsigned char)'('] = kMarkAlways;
    t.of[(unsigned char)'/'] = t.of[(unsigned char)'\\'] = kMarkSlash;
    return t;
}

static constexpr TagMarks kMarks = BuildTagMarks();

// Whether [p, q) holds a mark: always one of kMarkAlways, a slash only when
// a slash, backslash, tab, LF or CR follows it.
static inline bool HasMark(const unsigned char *p, const unsigned char *q)
{
    for (; p < q; p++) {
        uint8_t m = kMarks.of[*p];
        if (m == kMarkAlways)
            return true;
        if (m == kMarkSlash && p + 1 < q &&
            (p[1] == '/' || p[1] == '\\' || p[1] == '\t' || p[1] == '\n' || p[1] == '\r'))
            return true;
    }
    return false;
}

// Whether [p, q) holds a mark that MarkByte finds: an end tag of raw text
// or foreign content, or "]]>".
static bool HoldsMark(const unsigned char *p, const unsigned char *q)
{
    for (; p + 2 < q; p++) {
        if (p[0] == ']' && p[1] == ']') {
            const unsigned char *r = p + 2;
            while (r < q && *r == ']')
                r++;
            if (r < q && *r == '>')
                return true;
        } else if (p[0] == '<' && p[1] == '/') {
            const unsigned char *r = p + 2;
            while (r < q && IsLetter(*r) && r - (p + 2) < kInertNameMax)
                r++;
            if (r < q && (IsBlank(*r) || *r == '/' || *r == '>') &&
                EndsText((const char *)p + 2, (int32_t)(r - (p + 2))) && r > p + 2)
                return true;
        }
    }
    return false;
}

// Whether the start tag's attribute named [name, nameEnd), whose value
// [value, valueEnd) holds a mark, would lose anything: the decisions of
// AttributeNameDone, ValueDecided and ChooseCss, made on the bytes at once.
static bool ValueChanges(const InertFilter *f, uint32_t tagClass, const unsigned char *name,
                         const unsigned char *nameEnd, const unsigned char *value,
                         const unsigned char *valueEnd)
{
    if (HoldsMark(value, valueEnd))
        return true;
    int32_t n = (int32_t)(nameEnd - name);
    if (n > kInertNameMax)
        n = kInertNameMax + 1;
    const AttributeRule *rule = nullptr;
    int32_t i = FindRule(kAttributeIndex, kAttributeRules, (const char *)name, n);
    if (i >= 0 && (!kAttributeRules[i].onlyOn || (kAttributeRules[i].onlyOn & tagClass)))
        rule = &kAttributeRules[i];
    if (rule && rule->use == kUseSrcdoc)
        return f->scripts;
    bool checkNetwork = f->internet && rule;
    bool checkMarkup = f->scripts && rule && rule->framePage && (tagClass & kTagFrameLike);
    // Read for a script alone, a value whose first byte is a letter other
    // than the first of javascript: and vbscript:, with no reference to
    // make it another, is none.
    unsigned char first = value < valueEnd ? (unsigned char)(*value | 0x20) : 0;
    bool scriptOnly = !checkNetwork && !checkMarkup;
    if (scriptOnly && first >= 'a' && first <= 'z' && first != 'j' && first != 'v' &&
        !memchr(value, '&', (size_t)(valueEnd - value)) && !(rule && rule->use == kUseValues))
        return f->internet && !rule && memchr(value, '(', (size_t)(valueEnd - value));
    if (checkNetwork || f->scripts) {
        AddressKind k = ReadAddress(value, (size_t)(valueEnd - value), SyntaxOf(rule), checkMarkup);
        if ((k == kAddressScript && f->scripts) || (k == kAddressMarkupData && checkMarkup) ||
            (k == kAddressNetwork && checkNetwork))
            return true;
    }
    return f->internet && (!rule || rule->use == kUseLoads) &&
           MayHoldReference(value, (size_t)(valueEnd - value));
}

// The class of the tag PlainTagEnd reads, looked up when first wanted.
static inline uint32_t ClassOf(InertFilter *f, bool *classKnown)
{
    if (!*classKnown)
        TagNameDone(f);
    *classKnown = true;
    return f->tagClass;
}

// For PlainTagEnd: the value from p (its first byte, before `end`) of the
// attribute named [name, nameEnd). Answers the byte after it, which is
// read again before an attribute (its '>', a '/', or any other), or null
// when the value would lose anything or goes past `end`.
static const unsigned char *PlainValueEnd(InertFilter *f, const unsigned char *p, const unsigned char *end,
                                          const unsigned char *name, const unsigned char *nameEnd,
                                          bool *classKnown)
{
    unsigned char c = *p;
    if (c == '"' || c == '\'') {
        bool marked;
        const unsigned char *q = p + 1 + FindValueEnd(p + 1, (size_t)(end - p - 1), c, &marked);
        if (q == end)
            return nullptr;
        if (!f->endTag && marked && ValueChanges(f, ClassOf(f, classKnown), name, nameEnd, p + 1, q))
            return nullptr;
        return q + 1;
    }
    if (c == '>')
        return p;                   // no value: the tag ends
    const unsigned char *q = p;
    while (q < end && !(kBytes.of[*q] & (kByteBlank | kByteGt)))
        q++;
    if (q == end)
        return nullptr;
    if (!f->endTag && HasMark(p, q) && ValueChanges(f, ClassOf(f, classKnown), name, nameEnd, p, q))
        return nullptr;
    return q;
}

// The light reading of a tag: the attribute states of Step without what
// they do, from p (the byte after the tag name) on. Answers the tag's '>'
// when it comes before `end` and nothing in the tag would be removed: no
// handler's name, and every value that holds a mark (FindValueEnd,
// HasMark) is one that ValueChanges keeps. Sets *selfClosing. Else null:
// Step reads the tag. The caller keeps `end` within kInertHoldMax of the
// tag's '<', so that no hold in it could have been forced.
//
// One turn of the loop is one attribute, read straight through: the blanks
// before it (kInertBeforeAttr, with a '/' that does not end the tag
// passed over as kInertSelfClosing does), its name, the blanks after it
// (kInertAfterAttrName) and, after a '=', its value (kInertBeforeValue, a
// quoted or bare value, kInertAfterValue). A byte that ends one state and
// begins an attribute in the next goes round again.
static const unsigned char *PlainTagEnd(InertFilter *f, const unsigned char *p,
                                        const unsigned char *end, bool *selfClosing)
{
    bool classKnown = false;        // f->tagClass, found when first wanted (ClassOf)
    bool handlers = f->scripts && !f->endTag;
    for (;;) {
        while (p < end && IsBlank(*p))
            p++;
        if (p >= end)
            return nullptr;
        unsigned char c = *p;
        if (c == '>') {
            *selfClosing = false;
            return p;
        }
        if (c == '/') {
            p++;
            if (p < end && *p == '>') {
                *selfClosing = true;
                return p;
            }
            continue;
        }
        // A name (a '=' here is its first byte): up to a blank, '/', '>' or '='.
        if (handlers && (c | 0x20) == 'o' && p + 2 < end && (p[1] | 0x20) == 'n' && IsLetter(p[2]))
            return nullptr;
        const unsigned char *name = p, *q = p + 1;
        while (q < end && !(kBytes.of[*q] & (kByteBlank | kByteSlash | kByteGt | kByteEquals)))
            q++;
        const unsigned char *nameEnd = q;
        if (q - p == 6 && !f->endTag && (ClassOf(f, &classKnown) & kTagIframe))
            return nullptr;         // srcdoc may be
        while (q < end && IsBlank(*q))
            q++;
        if (q >= end)
            return nullptr;
        if (*q != '=') {
            p = q;                  // '>', '/' or the next name
            continue;
        }
        p = q + 1;
        while (p < end && IsBlank(*p))
            p++;
        if (p >= end)
            return nullptr;
        p = PlainValueEnd(f, p, end, name, nameEnd, &classKnown);
        if (!p)
            return nullptr;
    }
}

// Holds the tag name [name, end) as Step reads it. The run goes on to
// runEnd: where it holds kInertNameMax bytes from the name, they are copied
// whole (the bytes past the name's length are never read).
static inline void SetTagName(InertFilter *f, const unsigned char *name, const unsigned char *end,
                              const unsigned char *runEnd)
{
    int32_t n = (int32_t)(end - name);
    if (runEnd - name >= kInertNameMax)
        memcpy(f->tagName, name, kInertNameMax);
    else
        memcpy(f->tagName, name, (size_t)(n < kInertNameMax ? n : kInertNameMax));
    f->tagNameLength = n <= kInertNameMax ? n : kInertNameMax + 1;
    f->tagClass = 0;
    f->rawElement = -1;
}

// Whether a tag whose name begins with bytes a and b (b: the byte after a
// one-letter name) may change the tokenizer's state (kLoudNames).
static inline bool MayBeLoud(unsigned char a, unsigned char b)
{
    return (kLoudNames.of[a & 31] >> (b & 31)) & 1;
}

// Whether the start tag named [name, n) is one whose attributes the tree
// reading needs (FONT, annotation-xml): then Step reads it, its name
// looked up here.
static bool NeedsAttributes(InertFilter *f, const unsigned char *name, const unsigned char *n,
                            const unsigned char *end)
{
    SetTagName(f, name, n, end);
    TagNameDone(f);
    return !f->endTag && (f->tagClass & (kTagFont | kTagAnnotation));
}

// Text from p on, with the tags in it that have nothing to remove
// (PlainTagEnd) passed over whole; stops at any other tag, with its name
// read and its next byte to go through Step, or after a '<' that begins no
// name. A tag's name is looked up only when its first two letters may be
// those of a tag that changes the state, or its attributes need it.
static const unsigned char *TextRun(InertFilter *f, const unsigned char *p, const unsigned char *end)
{
    for (;;) {
        // Tags often follow each other: no search for those.
        const unsigned char *lt = p < end && *p == '<' ? p
                                  : FindByte(p, (size_t)(end - p), '<');
        if (!lt)
            return end;
        const unsigned char *n = lt + 1;
        bool endTag = n < end && *n == '/';
        if (endTag)
            n++;
        if (n >= end || !IsLetter(*n)) {
            f->state = kInertTagOpen;
            return lt + 1;
        }
        const unsigned char *name = n;
        while (n < end && !(kBytes.of[*n] & (kByteBlank | kByteSlash | kByteGt)))
            n++;
        f->endTag = endTag;
        f->selfClosing = false;
        if (n == end) {
            SetTagName(f, name, n, end);
            f->state = kInertTagName;
            return end;
        }
        // In foreign content every tag counts.
        bool loud = f->nestDepth > 0 || MayBeLoud(name[0], name[1]);
        if (*n == '>') {
            p = n + 1;
            if (!loud)
                continue;
            SetTagName(f, name, n, end);
            TagNameDone(f);
            TagDone(f);
        } else if (loud && NeedsAttributes(f, name, n, end)) {
            f->state = kInertTagName;
            return n;           // its attributes go through Step
        } else {
            // A tag shorter than kInertHoldMax: no hold in it can be forced.
            const unsigned char *limit = end - lt > kInertHoldMax - 1 ? lt + kInertHoldMax - 1 : end;
            SetTagName(f, name, n, end);
            const unsigned char *gt = PlainTagEnd(f, n, limit, &f->selfClosing);
            if (!gt) {
                TagNameDone(f);
                f->state = kInertTagName;
                return n;       // its blank or '/' goes through Step
            }
            p = gt + 1;
            if (!loud)
                continue;
            TagNameDone(f);
            TagDone(f);
        }
        if (f->state != kInertText)
            return p;
    }
}

// A quoted or bare value from p, up to `stop` (its end, or the run's end):
// its head read, its rest passed over or through the css scanner, a
// stretch at a time. Answers where reading goes on (p itself: the byte
// goes through Step).
static const unsigned char *ValueRun(InertFilter *f, const unsigned char *p,
                                     const unsigned char *stop)
{
    int64_t at = Pos(f, p);
    if (f->fate == kFateCheck) {
        // At most up to where the hold must decide.
        size_t n = (size_t)(stop - p);
        int64_t room = f->attrHold + kInertHoldMax - at;
        if ((int64_t)n > room)
            n = (size_t)room;
        size_t k = AddressReaderSpan(&f->address, p, n);
        if (f->address.kind != kAddressUndecided)
            ValueDecided(f, f->address.kind, at + (int64_t)k);
        else
            LimitHolds(f, at + (int64_t)k);
        return p + k;
    }
    if (f->cssOn) {
        size_t k = CssScannerRun(&f->css, p, (size_t)(stop - p), at);
        ApplyCuts(f, kRemovedUrlReferences);
        return p + k;
    }
    return stop;
}

// A stretch of a value from p to `stop`, cut where the mark or META hold
// must end (LimitHolds then decides it).
static const unsigned char *WithinHolds(const InertFilter *f, const unsigned char *p,
                                        const unsigned char *stop)
{
    int64_t at = Pos(f, p);
    const int64_t holds[2] = {f->markHold, f->metaHold};
    for (int64_t hold : holds) {
        if (hold >= 0 && hold + kInertHoldMax - at < stop - p)
            stop = p + (hold + kInertHoldMax - at);
    }
    return stop;
}

// A stretch of a quoted value from p to `stop`, cut just after the first
// byte at which the mark reader could find a mark (a blank, '/' or '>'
// once a '<' or ']' has begun one), so that the mark is read before the
// style scanner's cuts write anything after it: the stretch then reads as
// its bytes would one at a time.
static const unsigned char *BeforeMarks(const InertFilter *f, const unsigned char *p,
                                        const unsigned char *stop)
{
    if (f->endTag || f->fate == kFateDrop)
        return stop;
    const unsigned char *from = p;
    if (f->markMatched == 0) {
        const unsigned char *lt = (const unsigned char *)memchr(p, '<', (size_t)(stop - p));
        const unsigned char *rb = (const unsigned char *)memchr(p, ']', (size_t)((lt ? lt : stop) - p));
        from = rb ? rb : lt;
        if (!from)
            return stop;
    }
    for (const unsigned char *q = from; q < stop; q++) {
        if (IsBlank(*q) || *q == '/' || *q == '>')
            return q + 1;
    }
    return stop;
}

// The stretches of Advance, one per state that has one. Each answers where
// reading goes on, or null when the byte at p must go through Step.

// The rest of a tag name, up to the blank, '/' or '>' that ends it.
static const unsigned char *TagNameRun(InertFilter *f, const unsigned char *p, const unsigned char *end)
{
    const unsigned char *q = p;
    while (q < end && !(kBytes.of[*q] & (kByteBlank | kByteSlash | kByteGt))) {
        if (f->tagNameLength < kInertNameMax)
            f->tagName[f->tagNameLength] = (char)*q;
        if (f->tagNameLength <= kInertNameMax)
            f->tagNameLength++;
        q++;
    }
    // A name ended by a blank or '>', as Step ends it.
    if (q < end && (IsBlank(*q) || *q == '>')) {
        TagNameDone(f);
        if (*q == '>') {
            TagDone(f);
            return q + 1;
        }
        f->state = kInertBeforeAttr;
        f->gapStart = f->endTag ? -1 : Pos(f, q);
        return q + 1;
    }
    return q != p ? q : nullptr;
}

// The rest of an attribute name; its bytes are looked at only while its
// rule is not known yet.
static const unsigned char *AttrNameRun(InertFilter *f, const unsigned char *p, const unsigned char *end)
{
    const unsigned char *q = p;
    if (f->fate == kFateCheck && f->rule == -1) {
        while (q < end && !(kBytes.of[*q] & (kByteBlank | kByteSlash | kByteGt | kByteEquals))) {
            AttributeNameByte(f, *q, Pos(f, q));
            q++;
        }
    } else {
        while (q < end && !(kBytes.of[*q] & (kByteBlank | kByteSlash | kByteGt | kByteEquals)))
            q++;
    }
    if (q == p)
        return nullptr;
    LimitHolds(f, Pos(f, q));
    return q;
}

// Blanks between attributes: the first marks where a gap begins, the
// others change nothing.
static const unsigned char *BlankRun(InertFilter *f, const unsigned char *p, const unsigned char *end)
{
    if (!IsBlank(*p) || end - p < 2 || !IsBlank(p[1]))
        return nullptr;
    Step(f, *p, Pos(f, p));
    const unsigned char *q = p + 1;
    while (q < end && IsBlank(*q))
        q++;
    LimitHolds(f, Pos(f, q));
    return q;
}

static const unsigned char *QuotedValueRun(InertFilter *f, const unsigned char *p, const unsigned char *end)
{
    const unsigned char *stop = (const unsigned char *)memchr(p, (int)f->quote, (size_t)(end - p));
    if (!stop)
        stop = end;
    stop = WithinHolds(f, p, stop);
    if (f->cssOn)
        stop = BeforeMarks(f, p, stop);
    const unsigned char *q = ValueRun(f, p, stop);
    if (f->watch)
        WatchBytes(f, p, q);
    if (!f->endTag)
        MarkSpan(f, p, q, Pos(f, p));
    if (q == p)
        return nullptr;
    LimitHolds(f, Pos(f, q));
    return q;
}

static const unsigned char *BareValueRun(InertFilter *f, const unsigned char *p, const unsigned char *end)
{
    const unsigned char *stop = p;
    while (stop < end && !(kBytes.of[*stop] & (kByteBlank | kByteGt)))
        stop++;
    stop = WithinHolds(f, p, stop);
    const unsigned char *q = ValueRun(f, p, stop);
    if (f->watch)
        WatchBytes(f, p, q);
    if (q == p)
        return nullptr;
    LimitHolds(f, Pos(f, q));
    return q;
}

// A comment, CDATA section or bogus comment up to the byte that may end
// it, which is read in the state `next`. Inside an element read both ways
// every byte goes through Step, which watches for its end tag.
static const unsigned char *SkipTo(InertFilter *f, const unsigned char *p, const unsigned char *end,
                                   unsigned char c, int32_t next)
{
    if (f->dual >= 0)
        return nullptr;
    const unsigned char *q = (const unsigned char *)memchr(p, c, (size_t)(end - p));
    if (!q)
        return end;
    f->state = next;
    return q + 1;
}

// Raw text up to its next '<', which goes through Step; a style element's
// text through the style scanner.
static const unsigned char *RawTextRun(InertFilter *f, const unsigned char *p, const unsigned char *end)
{
    const unsigned char *lt = (const unsigned char *)memchr(p, '<', (size_t)(end - p));
    const unsigned char *stop = lt ? lt : end;
    if (stop == p)
        return nullptr;
    if (!f->cssOn)
        return stop;
    size_t k = CssScannerRun(&f->css, p, (size_t)(stop - p), Pos(f, p));
    ApplyCuts(f, kRemovedCssReferences);
    return p + k;
}

// Reads bytes from p on: a stretch at a time where the state allows, else
// one through Step. Answers where reading goes on.
static const unsigned char *Advance(InertFilter *f, const unsigned char *p, const unsigned char *end)
{
    const unsigned char *q = nullptr;
    switch (f->state) {
    case kInertText: return TextRun(f, p, end);
    case kInertTagName: q = TagNameRun(f, p, end); break;
    case kInertAttrName: q = AttrNameRun(f, p, end); break;
    case kInertBeforeAttr:
    case kInertAfterAttrName:
    case kInertBeforeValue: q = BlankRun(f, p, end); break;
    case kInertValueQuoted: q = QuotedValueRun(f, p, end); break;
    case kInertValueBare: q = BareValueRun(f, p, end); break;
    case kInertComment: q = SkipTo(f, p, end, '-', kInertCommentEndDash); break;
    case kInertCdata: q = SkipTo(f, p, end, ']', kInertCdataBracket); break;
    case kInertBogusComment: q = SkipTo(f, p, end, '>', kInertText); break;
    case kInertPlainText: q = f->dual >= 0 ? nullptr : end; break;
    case kInertRawText: q = RawTextRun(f, p, end); break;
    }
    if (q)
        return q;
    unsigned char c = *p;
    int64_t at = Pos(f, p);
    while (Step(f, c, at)) {
    }
    LimitHolds(f, at + 1);
    return p + 1;
}
