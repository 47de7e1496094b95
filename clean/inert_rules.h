// The inert filter's vocabulary: its states, the fates of attributes, the
// byte classes, and the tables of tags, attributes and watched values with
// the index that looks names up in them.
// An internal piece of the inert filter: inert.cpp builds its pieces as
// one unit, so that the calls between them stay inline.
#pragma once
#include <stdint.h>
#include <string.h>
#include "clean/inert.h"

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
