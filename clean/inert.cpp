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
    kInertCdataOpen = 302,
    kInertCommentStart = 310,
    kInertCommentStartDash = 311,
    kInertComment = 320,
    kInertCommentEndDash = 321,
    kInertCommentEnd = 322,
    kInertCommentEndBang = 323,
    kInertCdata = 330,
    kInertCdataBracket = 331,
    kInertCdataEnd = 332,
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
    kWatchEncoding,         // annotation-xml encoding: is it HTML
    kWatchFont,             // FONT color, face, size: only there at all
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

// The rules of a table by the first letter of their names: bit i for
// entry i (up to 128 entries). Every name of ours is lower case.
struct NameIndex {
    uint64_t at[32][2];
};

template <typename Rule, int N>
static constexpr NameIndex BuildNameIndex(const Rule (&rules)[N])
{
    static_assert(N <= 128, "a name table holds 128 names at most");
    NameIndex index = {};
    for (int i = 0; i < N; i++)
        index.at[rules[i].name[0] & 31][i >> 6] |= 1ull << (i & 63);
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
    for (int w = 0; w < 2; w++) {
        for (uint64_t set = index.at[name[0] & 31][w]; set; set &= set - 1) {
            int i = w * 64 + __builtin_ctzll(set);
            const char *r = rules[i].name;
            int32_t k = 0;
            while (k < n && r[k] && r[k] == Lower((unsigned char)name[k]))
                k++;
            if (k == n && r[k] == 0)
                return i;
        }
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
    kTagNoscript = 1u << 9,     // raw text with scripting on, markup with it off
    kTagBreakout = 1u << 10,    // a start tag of it leaves foreign content
    kTagFont = 1u << 11,        // leaves foreign content with color, face or size
    kTagVoid = 1u << 12,        // an HTML element with no content
    kTagSvgPoint = 1u << 13,    // SVG foreignObject, desc, title: HTML inside
    kTagMathText = 1u << 14,    // MathML mi, mo, mn, ms, mtext: HTML tags inside
    kTagMathKeep = 1u << 15,    // mglyph, malignmark: foreign even there
    kTagAnnotation = 1u << 16,  // annotation-xml: HTML inside when its encoding says so
    kTagAnimation = 1u << 17,   // set, animate...: to, from, by, values may be an address
    kTagFrameset = 1u << 18,    // FRAMESET
};

struct TagRule {
    const char *name;           // lower case
    uint32_t classes;
};

const uint32_t kBreak = kTagBreakout;
const uint32_t kBreakVoid = kTagBreakout | kTagVoid;

static constexpr TagRule kTagRules[] = {
    {"script", kTagLoadsHref | kTagRawText},
    {"style", kTagStyle},
    {"link", kTagLoadsHref | kTagVoid},
    {"base", kTagLoadsHref | kTagVoid},
    {"image", kTagLoadsHref | kTagVoid},
    {"use", kTagLoadsHref},
    {"feimage", kTagLoadsHref},
    {"iframe", kTagFrameLike | kTagIframe | kTagRawText},
    {"frame", kTagFrameLike | kTagVoid},
    {"object", kTagFrameLike},
    {"embed", kTagFrameLike | kBreakVoid},
    {"html", kTagHtml},
    {"meta", kTagMeta | kBreakVoid},
    {"svg", kTagForeign},
    {"math", kTagForeign},
    {"textarea", kTagRawText},
    {"title", kTagRawText | kTagSvgPoint},
    {"xmp", kTagRawText},
    {"noembed", kTagRawText},
    {"noframes", kTagRawText},
    {"plaintext", kTagPlainText},
    {"noscript", kTagNoscript},
    {"frameset", kTagFrameset},
    {"font", kTagFont},
    {"foreignobject", kTagSvgPoint},
    {"desc", kTagSvgPoint},
    {"mi", kTagMathText},
    {"mo", kTagMathText},
    {"mn", kTagMathText},
    {"ms", kTagMathText},
    {"mtext", kTagMathText},
    {"mglyph", kTagMathKeep},
    {"malignmark", kTagMathKeep},
    {"annotation-xml", kTagAnnotation},
    {"set", kTagAnimation},
    {"animate", kTagAnimation},
    {"animatemotion", kTagAnimation},
    {"animatetransform", kTagAnimation},
    {"animatecolor", kTagAnimation},
    {"b", kBreak}, {"big", kBreak}, {"blockquote", kBreak}, {"body", kBreak},
    {"br", kBreakVoid}, {"center", kBreak}, {"code", kBreak}, {"dd", kBreak},
    {"div", kBreak}, {"dl", kBreak}, {"dt", kBreak}, {"em", kBreak},
    {"h1", kBreak}, {"h2", kBreak}, {"h3", kBreak}, {"h4", kBreak}, {"h5", kBreak},
    {"h6", kBreak}, {"head", kBreak}, {"hr", kBreakVoid}, {"i", kBreak},
    {"img", kBreakVoid}, {"li", kBreak}, {"listing", kBreak}, {"menu", kBreak},
    {"nobr", kBreak}, {"ol", kBreak}, {"p", kBreak}, {"pre", kBreak},
    {"ruby", kBreak}, {"s", kBreak}, {"small", kBreak}, {"span", kBreak},
    {"strong", kBreak}, {"strike", kBreak}, {"sub", kBreak}, {"sup", kBreak},
    {"table", kBreak}, {"tt", kBreak}, {"u", kBreak}, {"ul", kBreak}, {"var", kBreak},
    {"area", kTagVoid}, {"col", kTagVoid}, {"input", kTagVoid}, {"source", kTagVoid},
    {"track", kTagVoid}, {"wbr", kTagVoid}, {"param", kTagVoid}, {"keygen", kTagVoid},
    {"basefont", kTagVoid}, {"bgsound", kTagVoid},
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
    const uint32_t loud =
        kTagForeign | kTagRawText | kTagStyle | kTagPlainText | kTagIframe | kTagNoscript | kTagFrameset;
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
    kUseValues,             // an animation's values: any of them may be loaded
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
    {"attributionsrc", 0, kUseLoadsList, false},
    // What an animation sets: an address when it animates one (href,
    // xlink:href; the attributeName may come after these, so any).
    {"to", kTagAnimation, kUseLoads, false},
    {"from", kTagAnimation, kUseLoads, false},
    {"by", kTagAnimation, kUseLoads, false},
    {"values", kTagAnimation, kUseValues, false},
};

static constexpr NameIndex kAttributeIndex = BuildNameIndex(kAttributeRules);

// The attribute names whose values are watched.
struct WatchRule {
    const char *name;
    uint32_t on;            // TagClass bits of the tags where it counts
    int32_t watch;          // ValueWatch
};

static constexpr WatchRule kWatchRules[] = {
    {"http-equiv", kTagMeta, kWatchEquiv},
    {"encoding", kTagAnnotation, kWatchEncoding},
    {"color", kTagFont, kWatchFont},
    {"face", kTagFont, kWatchFont},
    {"size", kTagFont, kWatchFont},
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

// ---------------------------------------------------------------------------
// The tree reading: which tags the browser's tree builder reads as HTML and
// which as foreign content, after the rules for SVG and MathML. HTML
// elements are not followed (every one of them reads its tags as HTML),
// except those open at an integration point, which are only counted.

enum NestSpace : uint8_t {
    kSpaceSvg = 0,
    kSpaceMath,
};

enum NestPoint : uint8_t {
    kPointNone = 0,
    kPointHtml,             // foreignObject, desc, SVG title, annotation-xml of HTML
    kPointText,             // mi, mo, mn, ms, mtext
    kPointAnnotation,       // annotation-xml of anything else: an svg start tag is HTML
};

// A tag name's key: its first kInertNameMax bytes in lower case and its
// length (kInertNameMax + 1 for any longer name).
static constexpr uint32_t NameKey(const char *name, int32_t length)
{
    uint32_t h = 2166136261u ^ (uint32_t)length;
    int32_t n = length < kInertNameMax ? length : kInertNameMax;
    for (int32_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)name[i];
        h = (h ^ (uint32_t)(c >= 'A' && c <= 'Z' ? c + 32 : c)) * 16777619u;
    }
    return h;
}

static constexpr uint32_t kStyleName = NameKey("style", 5);

static uint32_t NestName(const InertFilter *f)
{
    return NameKey(f->tagName, f->tagNameLength);
}

static InertNest *NestTop(InertFilter *f)
{
    return f->nestDepth > 0 && f->nestDeeper == 0 ? &f->nest[f->nestDepth - 1] : nullptr;
}

// Whether the current node is an HTML element (or there is no foreign
// element open): then "<![CDATA[" is a bogus comment.
static bool CurrentIsHtml(InertFilter *f)
{
    if (f->nestDepth == 0)
        return true;
    InertNest *top = NestTop(f);
    return top && top->html > 0;
}

// Whether the start tag just read goes to the HTML rules.
static bool StartTagIsHtml(InertFilter *f, uint32_t cls)
{
    if (CurrentIsHtml(f))
        return true;
    InertNest *top = NestTop(f);
    if (!top)
        return false;
    switch (top->point) {
    case kPointHtml:
        return true;
    case kPointText:
        return !(cls & kTagMathKeep);
    case kPointAnnotation:
        return (cls & kTagForeign) && f->tagNameLength == 3;        // svg
    }
    return false;
}

static void PushNest(InertFilter *f, uint8_t space, uint8_t point)
{
    if (f->nestDepth == kInertNestMax) {
        if (f->nestDeeper < 1000000)
            f->nestDeeper++;
        return;
    }
    InertNest *n = &f->nest[f->nestDepth++];
    n->name = NestName(f);
    n->space = space;
    n->point = point;
    n->html = 0;
}

// A breakout tag: foreign elements close up to an integration point.
static void LeaveForeign(InertFilter *f)
{
    f->nestDeeper = 0;
    while (f->nestDepth > 0 && f->nest[f->nestDepth - 1].point != kPointHtml &&
           f->nest[f->nestDepth - 1].point != kPointText)
        f->nestDepth--;
}

// What a foreign element is as an integration point.
static uint8_t PointOf(const InertFilter *f, uint8_t space, uint32_t cls)
{
    if (space == kSpaceSvg)
        return (cls & kTagSvgPoint) ? kPointHtml : kPointNone;
    if (cls & kTagMathText)
        return kPointText;
    if (cls & kTagAnnotation)
        return f->encodingHtml ? kPointHtml : kPointAnnotation;
    return kPointNone;
}

// The tokenizer after an HTML start tag whose content is raw text.
static void StartRawText(InertFilter *f, bool style, bool foreign)
{
    f->state = kInertRawText;
    f->rawMatched = 0;
    f->rawForeign = foreign;
    if (style && f->internet) {
        StartCssScanner(&f->css, false);
        f->cssOn = true;
    }
}

static void HtmlStartTag(InertFilter *f, uint32_t cls)
{
    InertNest *top = NestTop(f);
    if (cls & kTagForeign) {
        if (!f->selfClosing)
            PushNest(f, (uint8_t)(f->tagName[0] == 's' || f->tagName[0] == 'S' ? kSpaceSvg : kSpaceMath),
                     kPointNone);
        return;
    }
    // Every HTML element but a void one stays open, a '/' or not.
    if (top && !(cls & kTagVoid) && top->html < 1000000)
        top->html++;
    if (cls & kTagFrameset)
        f->frameset = true;
    if (!(cls & (kTagRawText | kTagStyle | kTagPlainText | kTagNoscript)))
        return;
    // NOSCRIPT, and after a FRAMESET every such tag but NOFRAMES (which the
    // browser ignores there, unless it ignored the FRAMESET): markup that
    // ends where the raw text would.
    bool ignored = f->frameset && strcmp(kTagRules[f->rawElement].name, "noframes") != 0;
    if ((cls & kTagNoscript) || ignored) {
        f->dual = f->rawElement;
        f->closeMatched = 0;
    } else if (cls & kTagPlainText) {
        f->state = kInertPlainText;
    } else {
        StartRawText(f, cls & kTagStyle, false);
    }
}

static void ForeignStartTag(InertFilter *f, uint32_t cls)
{
    if (f->selfClosing)
        return;
    InertNest *top = NestTop(f);
    uint8_t space = top ? top->space : (uint8_t)kSpaceSvg;
    PushNest(f, space, top ? PointOf(f, space, cls) : (uint8_t)kPointNone);
    // A foreign STYLE's text is a style sheet, its tags are tags.
}

static void ForeignEndTag(InertFilter *f)
{
    const char *known = f->rawElement >= 0 ? kTagRules[f->rawElement].name : "";
    if (strcmp(known, "p") == 0 || strcmp(known, "br") == 0) {
        LeaveForeign(f);        // "</p>" and "</br>"
        return;
    }
    if (f->nestDeeper > 0) {
        f->nestDeeper--;
        return;
    }
    uint32_t name = NestName(f);
    for (int32_t i = f->nestDepth - 1; i >= 0; i--) {
        if (f->nest[i].name == name) {
            f->nestDepth = i;
            return;
        }
        if (i > 0 && f->nest[i - 1].html > 0)
            return;             // an HTML element comes next: the HTML rules, which close nothing of ours
    }
}

// An end tag read as HTML closes HTML elements only: never one of ours,
// which are all special, nor past them. One of their names is ignored.
static void HtmlEndTag(InertFilter *f)
{
    InertNest *top = NestTop(f);
    if (!top || top->html == 0)
        return;
    uint32_t name = NestName(f);
    for (int32_t i = 0; i < f->nestDepth; i++)
        if (f->nest[i].name == name)
            return;
    top->html--;
}

// The '>' of a tag: what the tree builder does with it, and so what the
// tokenizer reads next.
static void TagDone(InertFilter *f)
{
    ResolveSeparator(f, false);
    ResolveMeta(f, f->metaRefresh);
    f->metaRefresh = false;
    f->gapStart = -1;
    f->state = kInertText;
    f->rawForeign = false;
    uint32_t cls = f->tagClass;
    bool breaks = (cls & kTagBreakout) || ((cls & kTagFont) && f->fontBreaks);
    if (f->endTag) {
        if (f->dual >= 0 && f->rawElement == f->dual)
            f->dual = -1;
        if (!CurrentIsHtml(f))
            ForeignEndTag(f);
        else
            HtmlEndTag(f);
    } else if (StartTagIsHtml(f, cls)) {
        HtmlStartTag(f, cls);
    } else if (breaks) {
        LeaveForeign(f);
        HtmlStartTag(f, cls);
    } else {
        ForeignStartTag(f, cls);
    }
    f->fontBreaks = f->encodingHtml = false;
    // Back inside a foreign STYLE after a tag in it.
    InertNest *top = NestTop(f);
    if (f->state == kInertText && top && top->html == 0 && top->name == kStyleName)
        StartRawText(f, true, true);
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

// The tokenizer goes on in the end tag of `name` (lower case), its name read.
static void EnterEndTag(InertFilter *f, const char *name)
{
    int32_t n = (int32_t)strlen(name);
    f->endTag = true;
    f->selfClosing = false;
    memcpy(f->tagName, name, (size_t)n);
    f->tagNameLength = n;
    f->state = kInertTagName;
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
    if (f->markHold >= 0 && next - f->markHold >= kInertHoldMax)
        f->markHold = -1;
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

// The handlers of the states, one each: the byte c at position `at`.
// False: done with it; true: it is to be read again in the state it left.

static bool OnText(InertFilter *f, unsigned char c, int64_t)
{
    if (c == '<')
        f->state = kInertTagOpen;
    return false;
}

static bool OnTagOpen(InertFilter *f, unsigned char c, int64_t)
{
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
}

static bool OnEndTagOpen(InertFilter *f, unsigned char c, int64_t)
{
    if (IsLetter(c)) {
        StartTagName(f, c, true);
    } else if (c == '>') {
        f->state = kInertText;
    } else {
        f->state = kInertBogusComment;
        return true;
    }
    return false;
}

static bool OnTagName(InertFilter *f, unsigned char c, int64_t at)
{
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
}

static bool OnBeforeAttr(InertFilter *f, unsigned char c, int64_t at)
{
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
}

static bool OnAttrName(InertFilter *f, unsigned char c, int64_t at)
{
    if (!(IsBlank(c) || c == '/' || c == '>' || c == '=')) {
        AttributeNameByte(f, c, at);
        return false;
    }
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

static bool OnAfterAttrName(InertFilter *f, unsigned char c, int64_t at)
{
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
    // A new attribute; the blanks before it were the last one's tail and
    // are now its gap.
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
    return false;
}

static bool OnBeforeValue(InertFilter *f, unsigned char c, int64_t at)
{
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
}

static bool OnValueQuoted(InertFilter *f, unsigned char c, int64_t at)
{
    if (c == f->quote) {
        EndValue(f, at, at + 1);
        EndDropping(f, f->dropTail ? at : at + 1);
        f->dropTail = false;
        f->state = kInertAfterValue;
        return false;
    }
    ValueByte(f, c, at);
    if (!f->endTag && f->fate != kFateDrop)
        MarkByte(f, c, at);
    return false;
}

static bool OnValueBare(InertFilter *f, unsigned char c, int64_t at)
{
    if (!(IsBlank(c) || c == '>')) {
        ValueByte(f, c, at);
        return false;
    }
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

static bool OnAfterValue(InertFilter *f, unsigned char c, int64_t at)
{
    // After a removed attribute's quote: the blank set apart goes unless an
    // attribute follows that is kept (KeepAttribute writes it).
    if (IsBlank(c) || c == '/' || c == '>')
        ResolveSeparator(f, false);
    else
        f->separatorNext = f->separator >= 0;
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
}

static bool OnSelfClosing(InertFilter *f, unsigned char c, int64_t)
{
    if (c == '>') {
        f->selfClosing = true;
        TagDone(f);
        return false;
    }
    f->state = kInertBeforeAttr;
    return true;
}

// After "<!": a comment, a CDATA section (only in foreign content), or a
// bogus comment.
static bool OnMarkupOpen(InertFilter *f, unsigned char c, int64_t)
{
    if (c == '-') {
        f->state = kInertMarkupDash;
        return false;
    }
    if (c == '[' && !CurrentIsHtml(f)) {
        f->state = kInertCdataOpen;
        f->cdataMatched = 1;
        return false;
    }
    f->state = kInertBogusComment;
    return true;
}

static bool OnMarkupDash(InertFilter *f, unsigned char c, int64_t)
{
    if (c == '-') {
        f->state = kInertCommentStart;
        return false;
    }
    f->state = kInertBogusComment;
    return true;
}

// "[CDATA[", in this case only.
static bool OnCdataOpen(InertFilter *f, unsigned char c, int64_t)
{
    static const char kOpen[] = "[CDATA[";
    if (c != (unsigned char)kOpen[f->cdataMatched]) {
        f->state = kInertBogusComment;
        return true;
    }
    if (++f->cdataMatched == 7)
        f->state = kInertCdata;
    return false;
}

static bool OnCommentStart(InertFilter *f, unsigned char c, int64_t)
{
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
}

static bool OnComment(InertFilter *f, unsigned char c, int64_t)
{
    if (c == '-')
        f->state = kInertCommentEndDash;
    return false;
}

static bool OnCommentEndDash(InertFilter *f, unsigned char c, int64_t)
{
    if (c == '-') {
        f->state = kInertCommentEnd;
        return false;
    }
    f->state = kInertComment;
    return true;
}

static bool OnCommentEnd(InertFilter *f, unsigned char c, int64_t)
{
    if (c == '>')
        f->state = kInertText;
    else if (c == '!')
        f->state = kInertCommentEndBang;
    else if (c != '-') {
        f->state = kInertComment;
        return true;
    }
    return false;
}

static bool OnCommentEndBang(InertFilter *f, unsigned char c, int64_t)
{
    if (c == '-') {
        f->state = kInertCommentEndDash;
    } else if (c == '>') {
        f->state = kInertText;
    } else {
        f->state = kInertComment;
        return true;
    }
    return false;
}

static bool OnCdata(InertFilter *f, unsigned char c, int64_t)
{
    if (c == ']')
        f->state = kInertCdataBracket;
    return false;
}

static bool OnCdataBracket(InertFilter *f, unsigned char c, int64_t)
{
    if (c == ']') {
        f->state = kInertCdataEnd;
        return false;
    }
    f->state = kInertCdata;
    return true;
}

static bool OnCdataEnd(InertFilter *f, unsigned char c, int64_t)
{
    if (c == '>')
        f->state = kInertText;
    else if (c != ']') {
        f->state = kInertCdata;
        return true;
    }
    return false;
}

static bool OnBogusComment(InertFilter *f, unsigned char c, int64_t)
{
    if (c == '>')
        f->state = kInertText;
    return false;
}

static bool OnRawText(InertFilter *f, unsigned char c, int64_t at)
{
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
}

static bool OnRawLt(InertFilter *f, unsigned char c, int64_t at)
{
    if (f->rawForeign && (IsLetter(c) || c == '/' || c == '!' || c == '?')) {
        // A foreign STYLE's text ends at any tag.
        FinishCss(f, f->lookHold >= 0 ? f->lookHold : at);
        f->lookHold = -1;
        f->lookLength = 0;
        f->rawForeign = false;
        f->state = kInertTagOpen;
        return true;
    }
    if (c == '/') {
        if (f->cssOn)
            f->look[f->lookLength++] = c;
        f->rawMatched = 0;
        f->rawEndLive = 1u | (f->dual >= 0 ? 2u : 0u);
        f->state = kInertRawEndName;
        return false;
    }
    RawTextMismatch(f);
    return true;
}

// The name after "</" in raw text: the element's own, or that of the
// element read both ways (InertFilter.dual), which ends it in one reading.
static bool OnRawEndName(InertFilter *f, unsigned char c, int64_t at)
{
    const char *name = kTagRules[f->rawElement].name;
    const char *dual = f->dual >= 0 ? kTagRules[f->dual].name : "";
    int32_t n = (int32_t)strlen(name), d = (int32_t)strlen(dual), m = f->rawMatched;
    if (IsBlank(c) || c == '/' || c == '>') {
        const char *ends = nullptr;
        if ((f->rawEndLive & 1) && m == n)
            ends = name;
        else if ((f->rawEndLive & 2) && m == d)
            ends = dual;
        if (!ends) {
            RawTextMismatch(f);
            return true;
        }
        if (f->cssOn)
            FinishCss(f, f->lookHold >= 0 ? f->lookHold : at);
        f->lookHold = -1;
        f->lookLength = 0;
        EnterEndTag(f, ends);
        return true;
    }
    char l = Lower(c);
    if (m >= n || name[m] != l)
        f->rawEndLive &= ~1u;
    if (m >= d || dual[m] != l)
        f->rawEndLive &= ~2u;
    if (!f->rawEndLive) {
        RawTextMismatch(f);
        return true;
    }
    // Only a STYLE element's bytes are kept, to be read as style text when
    // they turn out not to end it.
    if (f->cssOn)
        f->look[f->lookLength++] = c;
    f->rawMatched++;
    return false;
}

static bool OnPlainText(InertFilter *, unsigned char, int64_t)
{
    return false;
}

// Inside the element read both ways, in a state whose bytes hide tags:
// whether c completes "</" and its name and the byte after it, which then
// begins that end tag.
static bool DualEnds(InertFilter *f, unsigned char c)
{
    const char *name = kTagRules[f->dual].name;
    int32_t n = (int32_t)strlen(name), m = f->closeMatched;
    if (m == n + 2) {
        f->closeMatched = 0;
        if (IsBlank(c) || c == '/' || c == '>') {
            EnterEndTag(f, name);
            return true;
        }
    }
    m = f->closeMatched;
    char want = m == 0 ? '<' : m == 1 ? '/' : name[m - 2];
    if (Lower(c) == want)
        f->closeMatched++;
    else
        f->closeMatched = c == '<' ? 1 : 0;
    return false;
}

static bool HidesTags(int32_t state)
{
    return (state >= kInertMarkupOpen && state <= kInertBogusComment) || state == kInertPlainText;
}

// The dispatcher: the byte to the handler of the state.
static bool Step(InertFilter *f, unsigned char c, int64_t at)
{
    if (f->dual >= 0) {
        if (!HidesTags(f->state))
            f->closeMatched = 0;
        else if (DualEnds(f, c))
            return true;
    }
    switch (f->state) {
    case kInertText: return OnText(f, c, at);
    case kInertTagOpen: return OnTagOpen(f, c, at);
    case kInertEndTagOpen: return OnEndTagOpen(f, c, at);
    case kInertTagName: return OnTagName(f, c, at);
    case kInertBeforeAttr: return OnBeforeAttr(f, c, at);
    case kInertAttrName: return OnAttrName(f, c, at);
    case kInertAfterAttrName: return OnAfterAttrName(f, c, at);
    case kInertBeforeValue: return OnBeforeValue(f, c, at);
    case kInertValueQuoted: return OnValueQuoted(f, c, at);
    case kInertValueBare: return OnValueBare(f, c, at);
    case kInertAfterValue: return OnAfterValue(f, c, at);
    case kInertSelfClosing: return OnSelfClosing(f, c, at);
    case kInertMarkupOpen: return OnMarkupOpen(f, c, at);
    case kInertMarkupDash: return OnMarkupDash(f, c, at);
    case kInertCdataOpen: return OnCdataOpen(f, c, at);
    case kInertCommentStart:
    case kInertCommentStartDash: return OnCommentStart(f, c, at);
    case kInertComment: return OnComment(f, c, at);
    case kInertCommentEndDash: return OnCommentEndDash(f, c, at);
    case kInertCommentEnd: return OnCommentEnd(f, c, at);
    case kInertCommentEndBang: return OnCommentEndBang(f, c, at);
    case kInertCdata: return OnCdata(f, c, at);
    case kInertCdataBracket: return OnCdataBracket(f, c, at);
    case kInertCdataEnd: return OnCdataEnd(f, c, at);
    case kInertBogusComment: return OnBogusComment(f, c, at);
    case kInertRawText: return OnRawText(f, c, at);
    case kInertRawLt: return OnRawLt(f, c, at);
    case kInertRawEndName: return OnRawEndName(f, c, at);
    case kInertPlainText: return OnPlainText(f, c, at);
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
        if (!stop)
            stop = end;
        stop = WithinHolds(f, p, stop);
        if (f->cssOn)
            stop = BeforeMarks(f, p, stop);
        q = ValueRun(f, p, stop);
        if (f->watch)
            WatchBytes(f, p, q);
        if (!f->endTag)
            MarkSpan(f, p, q, Pos(f, p));
        if (q != p) {
            LimitHolds(f, Pos(f, q));
            return q;
        }
        break;
    }
    case kInertValueBare: {
        const unsigned char *stop = p;
        while (stop < end && !(kBytes.of[*stop] & (kByteBlank | kByteGt)))
            stop++;
        stop = WithinHolds(f, p, stop);
        q = ValueRun(f, p, stop);
        if (f->watch)
            WatchBytes(f, p, q);
        if (q != p)
            LimitHolds(f, Pos(f, q));
        if (q != p)
            return q;
        break;
    }
    case kInertComment:
        if (f->dual >= 0)
            break;
        q = (const unsigned char *)memchr(p, '-', left);
        if (!q)
            return end;
        f->state = kInertCommentEndDash;
        return q + 1;
    case kInertCdata:
        if (f->dual >= 0)
            break;
        q = (const unsigned char *)memchr(p, ']', left);
        if (!q)
            return end;
        f->state = kInertCdataBracket;
        return q + 1;
    case kInertBogusComment:
        if (f->dual >= 0)
            break;
        q = (const unsigned char *)memchr(p, '>', left);
        if (!q)
            return end;
        f->state = kInertText;
        return q + 1;
    case kInertPlainText:
        if (f->dual >= 0)
            break;
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
