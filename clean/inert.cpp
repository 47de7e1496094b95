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
//   300  after "<!"; 301 after "<!-"
//   310  after "<!--"; 311 after "<!---"
//   320  a comment; 321 after a '-' in it; 322 after "--"; 323 after "--!"
//   350  a bogus comment ("<?", "<!x", "</ "), up to '>'
//   400  the content of a raw text element, up to a '<'
//   410  after its '<'; 420 matching the element's name after "</"
//   490  PLAINTEXT: the rest of the page is text
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
#include "clean/inert.h"
#include <string.h>
#include "clean/bytescan.h"

enum InertState {
    kInertText = 0,
    kInertTagOpen = 100,
    kInertEndTagOpen = 110,
    kInertTagName = 120,
    kInertBeforeAttr = 200,
    kInertAttrName = 210,
    kInertAfterAttrName = 220,
    kInertBeforeValue = 230,
    kInertValueQuoted = 240,
    kInertValueBare = 250,
    kInertAfterValue = 260,
    kInertSelfClosing = 270,
    kInertMarkupOpen = 300,
    kInertMarkupDash = 301,
    kInertCommentStart = 310,
    kInertCommentStartDash = 311,
    kInertComment = 320,
    kInertCommentEndDash = 321,
    kInertCommentEnd = 322,
    kInertCommentEndBang = 323,
    kInertBogusComment = 350,
    kInertRawText = 400,
    kInertRawLt = 410,
    kInertRawEndName = 420,
    kInertPlainText = 490,
};

enum AttributeFate {
    kFateKeep = 0,
    kFateDrop,
    kFateCheck,
    kFateIgnore,        // an end tag's attribute
};

// The attribute values the filter reads for what they say of their tag.
enum ValueWatch {
    kWatchNone = 0,
    kWatchEquiv,            // META http-equiv: is it "refresh"
};

// Byte classes of the tokenizer.
enum : uint8_t {
    kByteBlank = 1,
    kByteSlash = 2,
    kByteGt = 4,
    kByteEquals = 8,
};

struct ByteClasses {
    uint8_t of[256];
};

static constexpr ByteClasses BuildByteClasses()
{
    ByteClasses t = {};
    for (const char *p = " \t\n\f\r"; *p; p++)
        t.of[(unsigned char)*p] = kByteBlank;
    t.of[(unsigned char)'/'] = kByteSlash;
    t.of[(unsigned char)'>'] = kByteGt;
    t.of[(unsigned char)'='] = kByteEquals;
    return t;
}

static constexpr ByteClasses kBytes = BuildByteClasses();

static inline bool IsBlank(unsigned char c)
{
    return kBytes.of[c] == kByteBlank;
}

static constexpr int32_t NameLength(const char *name)
{
    int32_t n = 0;
    while (name[n])
        n++;
    return n;
}

// The rules of a table by the length and first letter of their names:
// bit i for entry i. Every name of ours is lower case.
struct NameIndex {
    uint32_t at[kInertNameMax + 1][32];
};

template <typename Rule, int N>
static constexpr NameIndex BuildNameIndex(const Rule (&rules)[N])
{
    NameIndex index = {};
    for (int i = 0; i < N; i++)
        index.at[NameLength(rules[i].name)][rules[i].name[0] & 31] |= 1u << i;
    return index;
}

static inline char Lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c + 32) : (char)c;
}

// The entry of `rules` named name[0, n) in any case, or -1.
template <typename Rule, int N>
static int32_t FindRule(const NameIndex &index, const Rule (&rules)[N], const char *name, int32_t n)
{
    if (n > kInertNameMax)
        return -1;
    for (uint32_t set = index.at[n][name[0] & 31]; set; set &= set - 1) {
        int i = __builtin_ctz(set);
        int32_t k = 0;
        while (k < n && rules[i].name[k] == Lower((unsigned char)name[k]))
            k++;
        if (k == n)
            return i;
    }
    return -1;
}

// What a tag name tells the filter.
enum TagClass : uint32_t {
    kTagLoadsHref = 1u << 0,    // its href loads: LINK, BASE, SVG image, use, feImage, script
    kTagFrameLike = 1u << 1,    // its src or data may be a page: IFRAME, FRAME, OBJECT, EMBED
    kTagIframe = 1u << 2,       // has srcdoc
    kTagHtml = 1u << 3,         // has manifest
    kTagMeta = 1u << 4,         // its content may be a refresh
    kTagForeign = 1u << 5,      // SVG or MathML: no raw text inside
    kTagRawText = 1u << 6,      // its content is text up to its end tag
    kTagStyle = 1u << 7,        // its content is a style sheet
    kTagPlainText = 1u << 8,    // the rest of the page is text
};

struct TagRule {
    const char *name;           // lower case
    uint32_t classes;
};

static constexpr TagRule kTagRules[] = {
    {"script", kTagLoadsHref | kTagRawText},
    {"style", kTagStyle},
    {"link", kTagLoadsHref},
    {"base", kTagLoadsHref},
    {"image", kTagLoadsHref},
    {"use", kTagLoadsHref},
    {"feimage", kTagLoadsHref},
    {"iframe", kTagFrameLike | kTagIframe | kTagRawText},
    {"frame", kTagFrameLike},
    {"object", kTagFrameLike},
    {"embed", kTagFrameLike},
    {"html", kTagHtml},
    {"meta", kTagMeta},
    {"svg", kTagForeign},
    {"math", kTagForeign},
    {"textarea", kTagRawText},
    {"title", kTagRawText},
    {"xmp", kTagRawText},
    {"noembed", kTagRawText},
    {"noframes", kTagRawText},
    {"plaintext", kTagPlainText},
};
static constexpr NameIndex kTagIndex = BuildNameIndex(kTagRules);

// The first two letters, in either case, of the tags after which the
// tokenizer's state is not text again (InertQuietTag): bit (second & 31)
// of row (first & 31).
struct LoudNames {
    uint32_t of[32];
};

static constexpr LoudNames BuildLoudNames()
{
    LoudNames t = {};
    const uint32_t loud = kTagForeign | kTagRawText | kTagStyle | kTagPlainText | kTagIframe;
    for (const TagRule &r : kTagRules)
        if (r.classes & loud)
            t.of[r.name[0] & 31] |= 1u << (r.name[1] & 31);
    return t;
}

static constexpr LoudNames kLoudNames = BuildLoudNames();

// What an attribute's value does.
enum AttributeUse {
    kUseLoads = 0,          // loads the one address it names
    kUseLoadsList,          // loads addresses from a list (srcset, ping, archive)
    kUseRefresh,            // META content: a refresh to an address
    kUseSrcdoc,             // a page of its own, scripts and all
};

struct AttributeRule {
    const char *name;       // lower case
    uint32_t onlyOn;        // TagClass bits of the tags it loads on; 0: every tag
    int32_t use;            // AttributeUse
    bool framePage;         // on a kTagFrameLike tag, a data: page counts as a script
};

// The attributes that load, and srcdoc.
static constexpr AttributeRule kAttributeRules[] = {
    {"src", 0, kUseLoads, true},
    {"data", 0, kUseLoads, true},
    {"srcset", 0, kUseLoadsList, false},
    {"imagesrcset", 0, kUseLoadsList, false},
    {"poster", 0, kUseLoads, false},
    {"background", 0, kUseLoads, false},
    {"lowsrc", 0, kUseLoads, false},
    {"dynsrc", 0, kUseLoads, false},
    {"codebase", 0, kUseLoads, false},
    {"xlink:href", 0, kUseLoads, false},
    {"ping", 0, kUseLoadsList, false},
    {"archive", 0, kUseLoadsList, false},
    {"href", kTagLoadsHref, kUseLoads, false},
    {"manifest", kTagHtml, kUseLoads, false},
    {"content", kTagMeta, kUseRefresh, false},
    {"srcdoc", kTagIframe, kUseSrcdoc, false},
};

static constexpr NameIndex kAttributeIndex = BuildNameIndex(kAttributeRules);

// The attribute names whose values are watched.
struct WatchRule {
    const char *name;
};

static constexpr WatchRule kWatchRules[] = {
    {"http-equiv"},
};
static constexpr NameIndex kWatchIndex = BuildNameIndex(kWatchRules);

static inline bool IsLetter(unsigned char c)
{
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}


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
    if (!drop)
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
    f->attrHold = -1;
    f->fate = kFateDrop;
    f->dropping = true;
    f->dropKind = kind;
}

static void StartAttribute(InertFilter *f, unsigned char c, int64_t at)
{
    ResolveSeparator(f, false);
    f->attrStart = at;
    f->watch = kWatchNone;
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
    if ((f->tagClass & kTagMeta) && f->attrNameLength == 10 &&
        FindRule(kWatchIndex, kWatchRules, f->attrName, f->attrNameLength) >= 0) {
        f->watch = kWatchEquiv;
        f->watchedLength = 0;
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
    f->valueStart = at;
    f->cssOn = false;
    if (f->fate == kFateCheck) {
        const AttributeRule *rule = f->rule >= 0 ? &kAttributeRules[f->rule] : nullptr;
        AddressSyntax syntax = kSyntaxOne;
        if (rule && rule->use == kUseLoadsList)
            syntax = kSyntaxList;
        else if (rule && rule->use == kUseRefresh)
            syntax = kSyntaxRefresh;
        StartAddressReader(&f->address, syntax, f->checkMarkup, true);
    } else if (f->fate == kFateKeep) {
        ChooseCss(f, at);
    }
}

// Value bytes read for what they say (ValueWatch), in lower case.
static void WatchBytes(InertFilter *f, const unsigned char *p, const unsigned char *q)
{
    for (; p < q && f->watchedLength <= kInertNameMax; p++) {
        if (f->watchedLength < kInertNameMax)
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
    AttributeNameDone(f, at);
    if (f->fate == kFateCheck)
        KeepAttribute(f);
    if (f->watch)
        WatchDone(f);
}

// The '>' of a tag: what its content is.
static void TagDone(InertFilter *f)
{
    ResolveSeparator(f, false);
    ResolveMeta(f, f->metaRefresh);
    f->metaRefresh = false;
    f->gapStart = -1;
    f->state = kInertText;
    uint32_t cls = f->tagClass;
    if (f->endTag) {
        if ((cls & kTagForeign) && f->foreignDepth > 0)
            f->foreignDepth--;
        return;
    }
    if ((cls & kTagForeign) && !f->selfClosing && f->foreignDepth < 1000000)
        f->foreignDepth++;
    bool foreign = f->foreignDepth > 0;
    if ((cls & kTagStyle) && !(foreign && f->selfClosing)) {
        f->state = kInertRawText;
        f->rawMatched = 0;
        if (f->internet) {
            StartCssScanner(&f->css, false);
            f->cssOn = true;
        }
    } else if ((cls & kTagPlainText) && !foreign) {
        f->state = kInertPlainText;
    } else if ((cls & kTagRawText) && !foreign) {
        f->state = kInertRawText;
        f->rawMatched = 0;
    }
}

// ---------------------------------------------------------------------------
// Raw text

static void RawTextMismatch(InertFilter *f)
{
    if (f->cssOn) {
        int64_t at = f->lookHold;
        f->lookHold = -1;
        for (int32_t i = 0; i < f->lookLength; i++)
            CssByte(f, f->look[i], at + i);
    }
    f->lookHold = -1;
    f->lookLength = 0;
    f->state = kInertRawText;
}

// ---------------------------------------------------------------------------
// One byte

// A hold that has waited kInertHoldMax bytes is decided now.
static inline void LimitHolds(InertFilter *f, int64_t next)
{
    if (f->attrHold >= 0 && next - f->attrHold >= kInertHoldMax) {
        if (f->fate == kFateCheck) {
            AttributeNameDone(f, next);
            if (f->fate == kFateCheck)
                DropAttribute(f, next, f->checkNetwork ? DropKindOf(f, kAddressNetwork)
                                                       : kRemovedScriptUrls);
        }
        f->attrHold = -1;
    }
    if (f->gapStart >= 0 && next - f->gapStart >= kInertHoldMax)
        f->gapStart = -1;
    if (f->metaHold >= 0 && next - f->metaHold >= kInertHoldMax) {
        if (f->metaHoldEnd < 0) {
            // Still in the content's value: it goes as a removed attribute does.
            f->attrHold = f->metaHold;
            f->attrStart = f->metaNameStart;
            f->metaHold = -1;
            DropAttribute(f, next, f->metaKind);
        } else {
            ResolveMeta(f, true);
        }
    }
    if (f->cssOn && f->css.holdFrom >= 0 && !f->css.dropping &&
        next - f->css.holdFrom >= kInertHoldMax) {
        ForceCssDecision(&f->css, next);
        ApplyCuts(f, CssKind(f));
    }
}

// The byte c at position `at`. False: done with it; true: it is to be read
// again in the state it left.
static bool Step(InertFilter *f, unsigned char c, int64_t at)
{
    switch (f->state) {
    case kInertText:
        if (c == '<')
            f->state = kInertTagOpen;
        return false;
    case kInertTagOpen:
        if (c == '!')
            f->state = kInertMarkupOpen;
        else if (c == '/')
            f->state = kInertEndTagOpen;
        else if (c == '?')
            f->state = kInertBogusComment;
        else if (IsLetter(c))
            StartTagName(f, c, false);
        else {
            f->state = kInertText;
            return true;
        }
        return false;
    case kInertEndTagOpen:
        if (IsLetter(c)) {
            StartTagName(f, c, true);
        } else if (c == '>') {
            f->state = kInertText;
        } else {
            f->state = kInertBogusComment;
            return true;
        }
        return false;
    case kInertTagName:
        if (IsBlank(c) || c == '/' || c == '>') {
            TagNameDone(f);
            if (c == '>')
                TagDone(f);
            else if (c == '/')
                f->state = kInertSelfClosing;
            else {
                f->state = kInertBeforeAttr;
                f->gapStart = f->endTag ? -1 : at;
            }
            return false;
        }
        if (f->tagNameLength < kInertNameMax)
            f->tagName[f->tagNameLength] = (char)c;
        if (f->tagNameLength <= kInertNameMax)
            f->tagNameLength++;
        return false;
    case kInertBeforeAttr:
        if (IsBlank(c)) {
            if (f->gapStart < 0 && !f->endTag)
                f->gapStart = at;
        } else if (c == '/') {
            f->gapStart = -1;
            f->state = kInertSelfClosing;
        } else if (c == '>') {
            TagDone(f);
        } else {
            StartAttribute(f, c, at);
            if (f->fate == kFateCheck)
                AttributeNameByte(f, c, at);
        }
        return false;
    case kInertAttrName:
        if (IsBlank(c) || c == '/' || c == '>' || c == '=') {
            AttributeNameDone(f, at);
            EndDropping(f, at);
            if (c == '=') {
                f->state = kInertBeforeValue;
                if (f->fate == kFateDrop) {
                    Remove(f, at, at + 1, f->dropKind, false);
                    f->dropping = true;
                }
            } else if (IsBlank(c)) {
                f->state = kInertAfterAttrName;
                if (f->fate != kFateCheck && !f->endTag)
                    f->gapStart = at;
            } else {
                ValuelessDone(f, at);
                if (c == '>')
                    TagDone(f);
                else
                    f->state = kInertSelfClosing;
            }
            return false;
        }
        AttributeNameByte(f, c, at);
        return false;
    case kInertAfterAttrName:
        if (IsBlank(c)) {
            if (f->gapStart < 0 && f->fate != kFateCheck && !f->endTag)
                f->gapStart = at;
            return false;
        }
        EndDropping(f, at);
        if (c == '=') {
            f->state = kInertBeforeValue;
            if (f->fate == kFateDrop) {
                int64_t from = f->gapStart >= 0 ? f->gapStart : at;
                f->gapStart = -1;
                Remove(f, from, at + 1, f->dropKind, false);
                f->dropping = true;
            } else {
                f->gapStart = -1;
            }
            return false;
        }
        if (c == '/' || c == '>') {
            ValuelessDone(f, at);
            f->gapStart = -1;
            if (c == '>')
                TagDone(f);
            else
                f->state = kInertSelfClosing;
            return false;
        }
        {
            // A new attribute; the blanks before it were the last one's
            // tail and are now its gap.
            int64_t gap = f->gapStart;
            if (f->fate == kFateCheck && f->attrHold >= 0) {
                // The blanks after the name: find where they began.
                gap = at;
                while (gap > f->attrHold && IsBlank(WaitingByte(f, gap - 1)))
                    gap--;
            }
            ValuelessDone(f, at);
            f->gapStart = gap;
            StartAttribute(f, c, at);
            if (f->fate == kFateCheck)
                AttributeNameByte(f, c, at);
        }
        return false;
    case kInertBeforeValue:
        if (IsBlank(c))
            return false;
        if (c == '>') {
            EndDropping(f, at);
            ValuelessDone(f, at);
            TagDone(f);
            return false;
        }
        if (c == '"' || c == '\'') {
            f->quote = c;
            StartValue(f, at + 1);
            f->state = kInertValueQuoted;
            return false;
        }
        f->quote = 0;
        StartValue(f, at);
        f->state = kInertValueBare;
        return true;
    case kInertValueQuoted:
        if (c == f->quote) {
            EndValue(f, at, at + 1);
            EndDropping(f, at + 1);
            f->state = kInertAfterValue;
            return false;
        }
        ValueByte(f, c, at);
        return false;
    case kInertValueBare:
        if (IsBlank(c) || c == '>') {
            EndValue(f, at, at);
            EndDropping(f, at);
            if (c == '>') {
                TagDone(f);
            } else {
                f->state = kInertBeforeAttr;
                f->gapStart = f->endTag ? -1 : at;
            }
            return false;
        }
        ValueByte(f, c, at);
        return false;
    case kInertAfterValue:
        ResolveSeparator(f, !(IsBlank(c) || c == '/' || c == '>'));
        if (IsBlank(c)) {
            f->state = kInertBeforeAttr;
            f->gapStart = f->endTag ? -1 : at;
        } else if (c == '/') {
            f->state = kInertSelfClosing;
        } else if (c == '>') {
            TagDone(f);
        } else {
            f->state = kInertBeforeAttr;
            return true;
        }
        return false;
    case kInertSelfClosing:
        if (c == '>') {
            f->selfClosing = true;
            TagDone(f);
            return false;
        }
        f->state = kInertBeforeAttr;
        return true;
    case kInertMarkupOpen:
        if (c == '-') {
            f->state = kInertMarkupDash;
            return false;
        }
        f->state = kInertBogusComment;
        return true;
    case kInertMarkupDash:
        if (c == '-') {
            f->state = kInertCommentStart;
            return false;
        }
        f->state = kInertBogusComment;
        return true;
    case kInertCommentStart:
    case kInertCommentStartDash:
        if (c == '-') {
            f->state = f->state == kInertCommentStart ? kInertCommentStartDash : kInertCommentEnd;
            return false;
        }
        if (c == '>') {
            f->state = kInertText;
            return false;
        }
        f->state = kInertComment;
        return true;
    case kInertComment:
        if (c == '-')
            f->state = kInertCommentEndDash;
        return false;
    case kInertCommentEndDash:
        if (c == '-') {
            f->state = kInertCommentEnd;
            return false;
        }
        f->state = kInertComment;
        return true;
    case kInertCommentEnd:
        if (c == '>')
            f->state = kInertText;
        else if (c == '!')
            f->state = kInertCommentEndBang;
        else if (c != '-') {
            f->state = kInertComment;
            return true;
        }
        return false;
    case kInertCommentEndBang:
        if (c == '-') {
            f->state = kInertCommentEndDash;
        } else if (c == '>') {
            f->state = kInertText;
        } else {
            f->state = kInertComment;
            return true;
        }
        return false;
    case kInertBogusComment:
        if (c == '>')
            f->state = kInertText;
        return false;
    case kInertRawText:
        if (c == '<') {
            f->state = kInertRawLt;
            f->look[0] = c;
            f->lookLength = 1;
            if (f->cssOn)
                f->lookHold = at;
        } else if (f->cssOn) {
            CssByte(f, c, at);
        }
        return false;
    case kInertRawLt:
        if (c == '/') {
            if (f->cssOn)
                f->look[f->lookLength++] = c;
            f->rawMatched = 0;
            f->state = kInertRawEndName;
            return false;
        }
        RawTextMismatch(f);
        return true;
    case kInertRawEndName: {
        const char *name = kTagRules[f->rawElement].name;
        int32_t n = (int32_t)strlen(name);
        if (f->rawMatched < n && Lower(c) == name[f->rawMatched]) {
            // Only a STYLE element's bytes are kept, to be read as style
            // text when they turn out not to end it.
            if (f->cssOn)
                f->look[f->lookLength++] = c;
            f->rawMatched++;
            return false;
        }
        if (f->rawMatched == n && (IsBlank(c) || c == '/' || c == '>')) {
            if (f->cssOn)
                FinishCss(f, f->lookHold >= 0 ? f->lookHold : at);
            f->lookHold = -1;
            f->lookLength = 0;
            f->endTag = true;
            f->selfClosing = false;
            memcpy(f->tagName, name, (size_t)n);
            f->tagNameLength = n;
            f->state = kInertTagName;
            return true;
        }
        RawTextMismatch(f);
        return true;
    }
    case kInertPlainText:
        return false;
    }
    return false;
}

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

// Whether the start tag's attribute named [name, nameEnd), whose value
// [value, valueEnd) holds a mark, would lose anything: the decisions of
// AttributeNameDone, ValueDecided and ChooseCss, made on the bytes at once.
static bool ValueChanges(const InertFilter *f, uint32_t tagClass, const unsigned char *name,
                         const unsigned char *nameEnd, const unsigned char *value,
                         const unsigned char *valueEnd)
{
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
        !memchr(value, '&', (size_t)(valueEnd - value)))
        return f->internet && !rule && memchr(value, '(', (size_t)(valueEnd - value));
    if (checkNetwork || f->scripts) {
        AddressSyntax syntax = kSyntaxOne;
        if (rule && rule->use == kUseLoadsList)
            syntax = kSyntaxList;
        else if (rule && rule->use == kUseRefresh)
            syntax = kSyntaxRefresh;
        AddressKind k = ReadAddress(value, (size_t)(valueEnd - value), syntax, checkMarkup);
        if ((k == kAddressScript && f->scripts) || (k == kAddressMarkupData && checkMarkup) ||
            (k == kAddressNetwork && checkNetwork))
            return true;
    }
    return f->internet && (!rule || rule->use == kUseLoads) &&
           MayHoldReference(value, (size_t)(valueEnd - value));
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
    bool classKnown = false;        // f->tagClass, found when first wanted
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
        if (q - p == 6 && !f->endTag) {
            if (!classKnown)
                TagNameDone(f);
            classKnown = true;
            if (f->tagClass & kTagIframe)
                return nullptr;     // srcdoc may be
        }
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
        c = *p;
        if (c == '"' || c == '\'') {
            bool marked;
            q = p + 1 + FindValueEnd(p + 1, (size_t)(end - p - 1), c, &marked);
            if (q == end)
                return nullptr;
            if (!f->endTag && marked) {
                if (!classKnown)
                    TagNameDone(f);
                classKnown = true;
                if (ValueChanges(f, f->tagClass, name, nameEnd, p + 1, q))
                    return nullptr;
            }
            // After the value: its '>', a '/', or any other byte read
            // again before an attribute.
            p = q + 1;
            continue;
        }
        if (c == '>') {
            *selfClosing = false;
            return p;
        }
        q = p;
        while (q < end && !(kBytes.of[*q] & (kByteBlank | kByteGt)))
            q++;
        if (q == end)
            return nullptr;
        if (!f->endTag && HasMark(p, q)) {
            if (!classKnown)
                TagNameDone(f);
            classKnown = true;
            if (ValueChanges(f, f->tagClass, name, nameEnd, p, q))
                return nullptr;
        }
        p = q;
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
        bool loud = MayBeLoud(name[0], name[1]);
        if (*n == '>') {
            p = n + 1;
            if (!loud)
                continue;
            SetTagName(f, name, n, end);
            TagNameDone(f);
            TagDone(f);
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

// Reads bytes from p on: a stretch at a time where the state allows, else
// one. Answers where reading goes on.
static const unsigned char *Advance(InertFilter *f, const unsigned char *p, const unsigned char *end)
{
    size_t left = (size_t)(end - p);
    const unsigned char *q = p;
    switch (f->state) {
    case kInertText:
        return TextRun(f, p, end);
    case kInertTagName:
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
        if (q != p)
            return q;
        break;
    case kInertAttrName:
        if (f->fate == kFateCheck && f->rule == -1) {
            while (q < end && !(kBytes.of[*q] & (kByteBlank | kByteSlash | kByteGt | kByteEquals))) {
                AttributeNameByte(f, *q, Pos(f, q));
                q++;
            }
        } else {
            while (q < end && !(kBytes.of[*q] & (kByteBlank | kByteSlash | kByteGt | kByteEquals)))
                q++;
        }
        if (q != p) {
            LimitHolds(f, Pos(f, q));
            return q;
        }
        break;
    case kInertBeforeAttr:
    case kInertAfterAttrName:
    case kInertBeforeValue:
        // The first blank marks where a gap begins; the others change nothing.
        if (IsBlank(*p) && left > 1 && IsBlank(p[1])) {
            Step(f, *p, Pos(f, p));
            for (q = p + 1; q < end && IsBlank(*q); q++) {
            }
            LimitHolds(f, Pos(f, q));
            return q;
        }
        break;
    case kInertValueQuoted: {
        const unsigned char *stop = (const unsigned char *)memchr(p, (int)f->quote, left);
        q = ValueRun(f, p, stop ? stop : end);
        if (f->watch)
            WatchBytes(f, p, q);
        if (q != p)
            return q;
        break;
    }
    case kInertValueBare: {
        const unsigned char *stop = p;
        while (stop < end && !(kBytes.of[*stop] & (kByteBlank | kByteGt)))
            stop++;
        q = ValueRun(f, p, stop);
        if (f->watch)
            WatchBytes(f, p, q);
        if (q != p)
            return q;
        break;
    }
    case kInertComment:
        q = (const unsigned char *)memchr(p, '-', left);
        if (!q)
            return end;
        f->state = kInertCommentEndDash;
        return q + 1;
    case kInertBogusComment:
        q = (const unsigned char *)memchr(p, '>', left);
        if (!q)
            return end;
        f->state = kInertText;
        return q + 1;
    case kInertPlainText:
        return end;
    case kInertRawText: {
        const unsigned char *lt = (const unsigned char *)memchr(p, '<', left);
        const unsigned char *stop = lt ? lt : end;
        if (f->cssOn && stop != p) {
            size_t k = CssScannerRun(&f->css, p, (size_t)(stop - p), Pos(f, p));
            ApplyCuts(f, kRemovedCssReferences);
            return p + k;
        }
        if (stop != p)
            return stop;       // the '<' itself goes through Step
        break;
    }
    }
    unsigned char c = *p;
    int64_t at = Pos(f, p);
    while (Step(f, c, at)) {
    }
    LimitHolds(f, at + 1);
    return p + 1;
}

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
    f->foreignDepth = 0;
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
    f->metaHold = f->metaHoldEnd = f->metaNameStart = -1;
    f->metaKind = 0;
    f->metaRefresh = false;
    f->watch = kWatchNone;
    f->watchedLength = 0;
    f->attrStart = 0;
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
    FinishCss(f, at);
    EndDropping(f, at);
    ResolveSeparator(f, false);
    f->metaHold = -1;       // a tag the page ends in is no element
    f->attrHold = f->gapStart = f->lookHold = -1;
    WriteThrough(f, at);
    f->state = kInertText;
    f->run = nullptr;
}
