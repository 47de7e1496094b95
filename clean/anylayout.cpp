// Main-part extraction for pages of any layout.
//
// One forward scan reads the page and keeps a record for every open
// container element (DIV, ARTICLE, TD, UL...) and a few closed ones. The
// text between block breaks forms blocks; each block is given the chance
// that it is main text, p, from its length, its share of link words, the
// tag that starts it and the class/id hints of its container, and adds its
// w words and p*w to the innermost open record (W and TP). A closed record
// passes its sums on to its parent. After the scan the record with the best
// TP / (W + G/4) wins (G is the whole page's TP), a few weak descendants of
// it are cut away, and the chosen bytes are copied from the page in a
// second read, between the head of the page and fixed closing tags. When
// the chosen part holds no H1, the page's headline comes before it: the last
// H1 that started after the BODY tag and before the part (each record
// remembers the last H1 before its start, and whether one starts inside
// it). A third read, of a few KiB at most, takes the part's start tag and
// first words for the report.
//
// Memory does not grow with the page: a record holds positions, sums and
// hints, never text; at most kMaxOpen containers are open and kMaxKept
// closed ones are kept (those after the first </BODY>, which no cut of the
// body can need, make room first, then those of least TP). The table cut
// of "Remove tables in the main part" runs the same lexer over the chosen
// part again and drops every table by nesting depth while copying.
//
// Everything after p is integer arithmetic: p itself comes from integer
// tables rounded to 1/256, so every build chooses the same bytes.
//
// The lexer is tolerant of broken markup. White space is 0x09-0x0D and
// 0x20. "<!--" opens a comment up to "-->" ("<!-->" and "<!--->" close at
// once); "<!", "<?" and "</" + non-letter are skipped to '>'; "<" + letter
// opens a start tag and "</" + letter an end tag; any other '<' is text.
// In a tag a quote opens a value only right after '=' and may hold '>'.
// SCRIPT and STYLE run to "</script" / "</style" + blank, '/' or '>';
// TITLE text is skipped to the next '<'.
#include "clean/anylayout.h"
#include <stdlib.h>
#include <string.h>
#include "clean/passes.h"

namespace {

enum {
    kMaxOpen = 512,         // containers open at once; deeper ones are not recorded
    kMaxKept = 64,          // closed records kept for the choice
    kValueMax = 64,         // bytes of a class or id value looked at
    kNameMax = 10,          // longest tag name told apart (BLOCKQUOTE, FIGCAPTION)
    kAttrNameMax = 6,       // longest attribute name told apart (hidden)
    kHintCacheSize = 128,   // class and id values whose hints are remembered
    kWordsRaw = 160,        // bytes of the first words' text kept before decoding
    kTagRead = 1024,        // bytes of the chosen start tag read back for its label
};

// ---------------------------------------------------------------------------
// Bytes and tags

enum ByteClass {
    kClassWordy = 1,        // an ASCII letter or digit, or a byte from 0x80 up
    kClassSpace = 2,
    kClassLt = 4,
    kClassGt = 8,
    kClassSlash = 16,
    kClassEq = 32,
};

struct ByteClasses {
    unsigned char of[256];
    constexpr ByteClasses() : of()
    {
        for (int c = 0; c < 256; c++) {
            bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            of[c] = (unsigned char)((alnum || c >= 0x80) ? kClassWordy
                                    : (c >= 0x09 && c <= 0x0D) || c == ' ' ? kClassSpace
                                    : c == '<' ? kClassLt
                                    : c == '>' ? kClassGt
                                    : c == '/' ? kClassSlash
                                    : c == '=' ? kClassEq : 0);
        }
    }
};
constexpr ByteClasses kBytes;

inline bool IsLetter(int c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// ASCII case folding, one load a byte.
struct CaseTable {
    unsigned char of[256];
    constexpr explicit CaseTable(bool upper) : of()
    {
        for (int c = 0; c < 256; c++)
            of[c] = (unsigned char)(upper && c >= 'a' && c <= 'z'   ? c - 32
                                    : !upper && c >= 'A' && c <= 'Z' ? c + 32
                                                                     : c);
    }
};
constexpr CaseTable kUpperCase(true), kLowerCase(false);
const unsigned char *const kUpper = kUpperCase.of;
const unsigned char *const kLower = kLowerCase.of;

inline unsigned char Upper(unsigned char c)
{
    return kUpper[c];
}

inline unsigned char Lower(unsigned char c)
{
    return kLower[c];
}

enum TagId {
    kTagOther = 0,
    // Containers: the elements that get records.
    kTagDiv, kTagArticle, kTagMain, kTagSection, kTagTd, kTagTh, kTagTr, kTagTable,
    kTagTbody, kTagThead, kTagTfoot, kTagUl, kTagOl, kTagDl, kTagBlockquote, kTagCenter,
    kTagAside, kTagNav, kTagHeader, kTagFooter,
    // Other block breaks.
    kTagP, kTagLi, kTagDt, kTagDd, kTagHeading, kTagHr, kTagPre, kTagAddress, kTagFigure,
    kTagFigcaption, kTagCaption, kTagForm, kTagFieldset, kTagLegend, kTagOption, kTagSelect,
    kTagTextarea, kTagIframe,
    // Text not counted.
    kTagNoscript, kTagButton, kTagNoembed, kTagTemplate,
    // The rest that the scan looks at.
    kTagA, kTagBody, kTagHead, kTagHtml, kTagScript, kTagStyle, kTagTitle,
    kTagCount
};

enum TagFlag {
    kFlagContainer = 1,
    kFlagBreak = 2,         // ends the current text block
    kFlagNoCount = 4,       // its text is not counted
    kFlagTablePart = 8,     // TD TH TR TBODY THEAD TFOOT: closed within their table
};

struct TagInfo {
    const char *name;
    unsigned char flags;
    unsigned char kind;     // the tag it pairs with: TH with TD, THEAD and TFOOT with TBODY
};

constexpr unsigned char kBox = kFlagContainer | kFlagBreak;
constexpr unsigned char kCell = kBox | kFlagTablePart;

constexpr TagInfo kTags[kTagCount] = {
    {"", 0, kTagOther},
    {"DIV", kBox, kTagDiv}, {"ARTICLE", kBox, kTagArticle}, {"MAIN", kBox, kTagMain},
    {"SECTION", kBox, kTagSection}, {"TD", kCell, kTagTd}, {"TH", kCell, kTagTd},
    {"TR", kCell, kTagTr}, {"TABLE", kBox, kTagTable}, {"TBODY", kCell, kTagTbody},
    {"THEAD", kCell, kTagTbody}, {"TFOOT", kCell, kTagTbody}, {"UL", kBox, kTagUl},
    {"OL", kBox, kTagOl}, {"DL", kBox, kTagDl}, {"BLOCKQUOTE", kBox, kTagBlockquote},
    {"CENTER", kBox, kTagCenter}, {"ASIDE", kBox, kTagAside}, {"NAV", kBox, kTagNav},
    {"HEADER", kBox, kTagHeader}, {"FOOTER", kBox, kTagFooter},
    {"P", kFlagBreak, kTagP}, {"LI", kFlagBreak, kTagLi}, {"DT", kFlagBreak, kTagDt},
    {"DD", kFlagBreak, kTagDd}, {"H1", kFlagBreak, kTagHeading}, {"HR", kFlagBreak, kTagHr},
    {"PRE", kFlagBreak, kTagPre}, {"ADDRESS", kFlagBreak, kTagAddress},
    {"FIGURE", kFlagBreak, kTagFigure}, {"FIGCAPTION", kFlagBreak, kTagFigcaption},
    {"CAPTION", kFlagBreak, kTagCaption}, {"FORM", kFlagBreak, kTagForm},
    {"FIELDSET", kFlagBreak, kTagFieldset}, {"LEGEND", kFlagBreak, kTagLegend},
    {"OPTION", kFlagBreak, kTagOption}, {"SELECT", kFlagBreak | kFlagNoCount, kTagSelect},
    {"TEXTAREA", kFlagBreak | kFlagNoCount, kTagTextarea},
    {"IFRAME", kFlagBreak | kFlagNoCount, kTagIframe},
    {"NOSCRIPT", kFlagNoCount, kTagNoscript}, {"BUTTON", kFlagNoCount, kTagButton},
    {"NOEMBED", kFlagNoCount, kTagNoembed}, {"TEMPLATE", kFlagNoCount, kTagTemplate},
    {"A", 0, kTagA}, {"BODY", 0, kTagBody}, {"HEAD", 0, kTagHead}, {"HTML", 0, kTagHtml},
    {"SCRIPT", 0, kTagScript}, {"STYLE", 0, kTagStyle}, {"TITLE", 0, kTagTitle},
};

enum { kLetters = 26, kLetterPairs = 26 * 26 };

// The group of a name under an index by its first `keyLength` letters (1
// or 2; `base`: 'A' or 'a').
int GroupOf(const char *name, char base, int keyLength)
{
    int g = name[0] - base;
    return keyLength == 1 ? g : g * kLetters + (name[1] - base);
}

// Groups the names `from` .. `to` - 1 by their first letter, or their first
// two: those of group G are order[first[G] .. first[G+1]).
void BuildLetterIndex(int from, int to, char base, int keyLength, const char *(*nameOf)(int),
                      unsigned short *first, unsigned char *order, unsigned char *length)
{
    int groups = keyLength == 1 ? kLetters : kLetterPairs;
    unsigned short next[kLetterPairs + 1] = {0};
    for (int i = from; i < to; i++) {
        next[GroupOf(nameOf(i), base, keyLength) + 1]++;
        length[i] = (unsigned char)strlen(nameOf(i));
    }
    first[0] = 0;
    for (int g = 1; g <= groups; g++)
        first[g] = (unsigned short)(first[g - 1] + next[g]);
    memcpy(next, first, (size_t)groups * sizeof next[0]);
    for (int i = from; i < to; i++)
        order[next[GroupOf(nameOf(i), base, keyLength)]++] = (unsigned char)i;
}

// A name as two numbers: its bytes 0-7 and 8-15 (zero past its end), the
// first byte lowest; in the table of tags, with its length in the top byte
// of the second.
enum { kTagSlots = 128 };

struct NameKey {
    uint64_t low, high;
};

constexpr NameKey KeyOfName(const char *name)
{
    NameKey k = {0, 0};
    size_t n = 0;
    for (; name[n]; n++)
        (n < 8 ? k.low : k.high) |= (uint64_t)(unsigned char)name[n] << (8 * (n % 8));
    k.high |= (uint64_t)n << 56;
    return k;
}

constexpr unsigned SlotOfKey(uint64_t low)
{
    return (unsigned)((low * 0x9E3779B97F4A7C15ull) >> 57);     // 7 bits: kTagSlots
}

// The tags by their names, open addressing from SlotOfKey; kTagOther marks
// a free slot.
struct TagTable {
    NameKey key[kTagSlots];
    unsigned char tag[kTagSlots];
    constexpr TagTable() : key{}, tag{}
    {
        for (NameKey &k : key)
            k = NameKey{0, 0};
        for (int t = 1; t < kTagCount; t++) {
            NameKey k = KeyOfName(kTags[t].name);
            unsigned slot = SlotOfKey(k.low);
            while (tag[slot] != kTagOther)
                slot = (slot + 1) % kTagSlots;
            key[slot] = k;
            tag[slot] = (unsigned char)t;
        }
    }
};
constexpr TagTable kTagsByName;

// The tag named by the key of an upper-cased name of `n` bytes (n <=
// kNameMax).
TagId LookUpTag(NameKey name, size_t n)
{
    if (n == 2 && (name.low & 0xFF) == 'H' && (name.low >> 8) >= '1' && (name.low >> 8) <= '6')
        return kTagHeading;
    name.high |= (uint64_t)n << 56;
    for (unsigned slot = SlotOfKey(name.low); kTagsByName.tag[slot] != kTagOther;
         slot = (slot + 1) % kTagSlots) {
        const NameKey &e = kTagsByName.key[slot];
        if (e.low == name.low && e.high == name.high)
            return (TagId)kTagsByName.tag[slot];
    }
    return kTagOther;
}

// ---------------------------------------------------------------------------
// Hints from class and id values

enum Hint {
    kHintArticle = 1,
    kHintContent = 2,
    kHintComment = 4,
    kHintBoiler = 8,
    kHintPositive = kHintArticle | kHintContent,
};

// A token matches a word when it holds it anywhere, or, for a prefix word,
// when it starts with it.
struct HintWord {
    const char *text;
    unsigned char hint;
    bool prefix;
};

const HintWord kHintWords[] = {
    {"article", kHintArticle, false}, {"hentry", kHintArticle, false},
    {"story", kHintArticle, false}, {"post", kHintArticle, true}, {"entry", kHintArticle, true},
    {"blog", kHintArticle, true},
    {"content", kHintContent, false}, {"main", kHintContent, true}, {"body", kHintContent, true},
    {"text", kHintContent, true}, {"detail", kHintContent, true},
    {"permalink", kHintContent, true},
    {"comment", kHintComment, false}, {"disqus", kHintComment, false},
    {"respond", kHintComment, false}, {"replies", kHintComment, false},
    {"reply", kHintComment, true}, {"discuss", kHintComment, true},
    {"reaction", kHintComment, true}, {"talkback", kHintComment, true},
    // Navigation.
    {"breadcrumb", kHintBoiler, false}, {"pagination", kHintBoiler, false},
    {"navigation", kHintBoiler, false}, {"navbar", kHintBoiler, false},
    {"menu", kHintBoiler, false}, {"nav", kHintBoiler, true}, {"pager", kHintBoiler, true},
    {"paging", kHintBoiler, true}, {"skip", kHintBoiler, true}, {"tab", kHintBoiler, true},
    // Side columns.
    {"sidebar", kHintBoiler, false}, {"widget", kHintBoiler, false},
    {"side", kHintBoiler, true}, {"aside", kHintBoiler, true}, {"rail", kHintBoiler, true},
    // Page foot and head.
    {"footer", kHintBoiler, false}, {"copyright", kHintBoiler, false},
    {"foot", kHintBoiler, true}, {"bottom", kHintBoiler, true}, {"legal", kHintBoiler, true},
    {"disclaimer", kHintBoiler, true},
    {"header", kHintBoiler, false}, {"masthead", kHintBoiler, false},
    {"banner", kHintBoiler, false}, {"head", kHintBoiler, true}, {"top", kHintBoiler, true},
    {"logo", kHintBoiler, true}, {"brand", kHintBoiler, true},
    // Sharing.
    {"social", kHintBoiler, false}, {"share", kHintBoiler, false},
    {"sharing", kHintBoiler, false}, {"addthis", kHintBoiler, false},
    {"bookmark", kHintBoiler, false}, {"tool", kHintBoiler, true}, {"print", kHintBoiler, true},
    {"email", kHintBoiler, true}, {"facebook", kHintBoiler, true},
    {"twitter", kHintBoiler, true}, {"tweet", kHintBoiler, true},
    // Advertising.
    {"advert", kHintBoiler, false}, {"sponsor", kHintBoiler, false},
    {"promo", kHintBoiler, false}, {"outbrain", kHintBoiler, false},
    {"taboola", kHintBoiler, false}, {"adsense", kHintBoiler, false},
    {"ad", kHintBoiler, true}, {"ads", kHintBoiler, true}, {"adv", kHintBoiler, true},
    {"dfp", kHintBoiler, true},
    // Links to elsewhere.
    {"related", kHintBoiler, false}, {"recommend", kHintBoiler, false},
    {"popular", kHintBoiler, false}, {"trending", kHintBoiler, false},
    {"more", kHintBoiler, true}, {"also", kHintBoiler, true}, {"tag", kHintBoiler, true},
    {"categor", kHintBoiler, true}, {"archive", kHintBoiler, true},
    // Hidden.
    {"hidden", kHintBoiler, false}, {"invisible", kHintBoiler, false},
    {"hide", kHintBoiler, true},
};
enum { kHintWordCount = sizeof kHintWords / sizeof kHintWords[0] };

// The words grouped by their first two letters (every word has two or
// more, all of them letters), built once per call.
struct HintIndex {
    unsigned short first[kLetterPairs + 1];     // by their first two letters
    unsigned char order[kHintWordCount];
    unsigned char length[kHintWordCount];
};

const char *HintWordText(int i)
{
    return kHintWords[i].text;
}

void BuildHintIndex(HintIndex *x)
{
    BuildLetterIndex(0, kHintWordCount, 'a', 2, HintWordText, x->first, x->order, x->length);
}

unsigned TokenHints(const HintIndex *x, const unsigned char *t, size_t n)
{
    unsigned hints = 0;
    for (size_t i = 0; i + 1 < n; i++) {
        if (t[i] < 'a' || t[i] > 'z' || t[i + 1] < 'a' || t[i + 1] > 'z')
            continue;
        int pair = (t[i] - 'a') * kLetters + (t[i + 1] - 'a');
        for (int j = x->first[pair]; j < x->first[pair + 1]; j++) {
            int w = x->order[j];
            if ((kHintWords[w].prefix && i != 0) || x->length[w] > n - i)
                continue;
            if (memcmp(t + i, kHintWords[w].text, x->length[w]) == 0)
                hints |= kHintWords[w].hint;
        }
    }
    return hints;
}

// The hints of a lower-cased value, cut into tokens at every byte that is
// not a letter or digit.
unsigned ValueHints(const HintIndex *x, const unsigned char *v, size_t n)
{
    unsigned hints = 0;
    size_t i = 0;
    while (i < n) {
        while (i < n && !((v[i] >= 'a' && v[i] <= 'z') || (v[i] >= '0' && v[i] <= '9')))
            i++;
        size_t from = i;
        while (i < n && ((v[i] >= 'a' && v[i] <= 'z') || (v[i] >= '0' && v[i] <= '9')))
            i++;
        if (i > from)
            hints |= TokenHints(x, v + from, i - from);
    }
    return hints;
}

// ---------------------------------------------------------------------------
// The chance that a block is main text

enum BlockFlag {
    kBlockP = kAnyLayoutBlockP,
    kBlockLi = kAnyLayoutBlockLi,
    kBlockHeading = kAnyLayoutBlockHeading,
};

// 65536 ln(1 + i/64) for i = 0..64.
const int32_t kLnTable[65] = {
    0, 1016, 2017, 3002, 3973, 4930, 5873, 6802, 7719, 8623, 9515, 10394, 11262, 12119, 12965,
    13800, 14624, 15438, 16242, 17037, 17821, 18597, 19364, 20121, 20870, 21611, 22343, 23067,
    23783, 24492, 25193, 25886, 26573, 27252, 27924, 28589, 29248, 29900, 30546, 31185, 31818,
    32445, 33067, 33682, 34292, 34896, 35494, 36087, 36675, 37258, 37835, 38407, 38975, 39537,
    40095, 40648, 41196, 41740, 42280, 42815, 43345, 43872, 44394, 44912, 45426,
};
const int64_t kLn2 = 45426;     // 65536 ln 2

// 6553600 ln((k + 0.5) / (255.5 - k)) for k = 128..255: the values of z
// (scaled like BlockZ) from which p rounds up to (k + 1)/256. The
// thresholds below 128 are these negated: T(k) = -T(255 - k).
const int32_t kRoundUp[128] = {
    51200, 153607, 256033, 358489, 460990, 563547, 666173, 768881, 871683, 974592, 1077622,
    1180784, 1284092, 1387560, 1491201, 1595027, 1699053, 1803292, 1907759, 2012466, 2117430,
    2222663, 2328180, 2433998, 2540129, 2646591, 2753399, 2860568, 2968115, 3076056, 3184409,
    3293190, 3402417, 3512109, 3622283, 3732959, 3844156, 3955893, 4068191, 4181071, 4294554,
    4408663, 4523419, 4638846, 4754968, 4871811, 4989398, 5107757, 5226914, 5346899, 5467738,
    5589464, 5712105, 5835696, 5960268, 6085857, 6212498, 6340229, 6469088, 6599115, 6730353,
    6862845, 6996637, 7131776, 7268311, 7406295, 7545782, 7686829, 7829495, 7973843, 8119938,
    8267849, 8417648, 8569413, 8723223, 8879164, 9037324, 9197799, 9360689, 9526100, 9694146,
    9864947, 10038630, 10215331, 10395196, 10578380, 10765050, 10955384, 11149573, 11347825,
    11550360, 11757420, 11969266, 12186178, 12408466, 12636464, 12870537, 13111089, 13358561,
    13613440, 13876266, 14147638, 14428225, 14718775, 15020129, 15333240, 15659189, 15999212,
    16354730, 16727388, 17119107, 17532145, 17969185, 18433447, 18928842, 19460183, 20033492,
    20656434, 21338982, 22094443, 22941138, 23905283, 25026303, 26367529, 28040549, 30271557,
    33645106, 40870672,
};

[[maybe_unused]] const int64_t kZScale = 100 * 65536;     // the scale of the z values below

// 65536 ln(1 + w), within 1/10000.
int64_t Ln1p(int64_t w)
{
    uint64_t n = (uint64_t)w + 1;
    int k = 0;
    while (k < 63 && (n >> (k + 1)) != 0)
        k++;
    uint64_t rest = n - ((uint64_t)1 << k);     // n = 2^k (1 + rest / 2^k)
    uint64_t f = k >= 16 ? rest >> (k - 16) : rest << (16 - k);
    int i = (int)(f >> 10);
    int64_t part = f & 1023;
    int64_t v = kLnTable[i] + (((int64_t)kLnTable[i + 1] - kLnTable[i]) * part >> 10);
    return k * kLn2 + v;
}

// z of a block of w words, l of them in links, times kZScale.
int64_t BlockZ(int64_t w, int64_t l, unsigned flags, unsigned hints)
{
    int64_t d = (l << 16) / w;                  // link density, 65536ths
    int64_t z = -122 * 65536 + 62 * Ln1p(w) - 433 * d + ((253 * d * d) >> 16);
    int64_t b = 0;
    if (flags & kBlockP)
        b += 83;
    if (flags & kBlockLi)
        b += 68;
    if (flags & kBlockHeading)
        b += 58;
    if (hints & kHintComment)
        b -= 261;
    if (hints & kHintBoiler)
        b -= 98;
    if (hints & kHintPositive)
        b -= 15;
    return z + b * 65536;
}

// p = 1 / (1 + e^-z) rounded to 256ths: the number of thresholds z reaches.
int BlockWeight(int64_t w, int64_t l, unsigned flags, unsigned hints)
{
    int64_t z = BlockZ(w, l, flags, hints);
    int64_t a = z < 0 ? -z : z;
    // Thresholds of kRoundUp below |z| (for z < 0: below or at it).
    int lo = 0, hi = 128;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (z >= 0 ? kRoundUp[mid] <= a : kRoundUp[mid] < a)
            lo = mid + 1;
        else
            hi = mid;
    }
    return z >= 0 ? 128 + lo : 128 - lo;
}

// ---------------------------------------------------------------------------
// Exact comparison of products

struct Wide {
    uint64_t hi, lo;
};

Wide Multiply(uint64_t a, uint64_t b)
{
    uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    Wide r;
    r.lo = (mid << 32) | (p00 & 0xFFFFFFFFu);
    r.hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
    return r;
}

int Compare(Wide x, Wide y)
{
    if (x.hi != y.hi)
        return x.hi < y.hi ? -1 : 1;
    if (x.lo != y.lo)
        return x.lo < y.lo ? -1 : 1;
    return 0;
}

Wide Subtract(Wide x, Wide y)      // x >= y
{
    Wide r;
    r.lo = x.lo - y.lo;
    r.hi = x.hi - y.hi - (x.lo < y.lo ? 1 : 0);
    return r;
}

// ---------------------------------------------------------------------------
// The state of one call

struct Record {
    int64_t start;          // the '<' of its start tag (the root's: of BODY, or the head end)
    int64_t contentStart;   // just after the start tag's '>'
    int64_t end;            // its last byte, once closed
    int64_t words;          // W: words of its blocks and its descendants'
    int64_t weighted;       // TP: the same words weighted by p, in 256ths
    // The last H1 that started before it: its '<', and the '>' of its end
    // tag or -1 while it was open; -1, -1 for none.
    int64_t h1Start, h1End;
    unsigned char tag;      // TagId; kTagBody for the root
    unsigned char hints;    // its own class/id/style hints
    unsigned char inherited;// its hints and all its ancestors'
    bool hasH1;             // an H1 starts inside it
};

enum LexState {
    kLexText = 0,
    kLexLt = 100,
    kLexLtSlash = 110,
    kLexName = 200,
    kLexAttrSpace = 300,
    kLexAfterAttrName = 310,
    kLexAttrName = 320,
    kLexAfterEq = 330,
    kLexQuoted = 340,
    kLexUnquoted = 350,
    kLexSkipGt = 400,
    kLexBang = 500,
    kLexBangDash = 510,
    kLexCommentStart = 520,
    kLexCommentStartDash = 530,
    kLexComment = 540,
    kLexCommentDash = 550,
    kLexCommentDashes = 560,
    kLexRaw = 600,
    kLexRawLt = 610,
    kLexRawName = 620,
    kLexTitle = 700,
};

// Attributes whose values are read; HIDDEN and HREF count by their names.
enum AttrKind { kAttrNone, kAttrClass, kAttrId, kAttrStyle };

// The lexer's place in the page: inside a word, a tag, a comment...
struct Lexer {
    int state;              // LexState
    int text;               // TextState: the word the text stopped in
    int64_t tagStart;       // the '<' of the tag being read
    bool endTag;
    size_t nameLength;
    NameKey name;           // the first kNameMax bytes, upper-cased (KeyOfName)
    int tag;                // TagId of the tag being read
    bool collecting;        // its attributes matter
    int attr;               // AttrKind of the attribute being read
    size_t attrLength;
    NameKey attrName;       // the first kAttrNameMax bytes, lower-cased
    unsigned char quote;
    size_t valueLength;
    unsigned char value[kValueMax];
    uint32_t valueHash;     // of the value's bytes so far
    int styleMatch[2];      // bytes of "display:none", "visibility:hidden" matched
    unsigned tagHints;
    bool hasHref;
    int rawTag;             // kTagScript or kTagStyle
    size_t rawMatched;
};

// Whether the tag being read is an H1 (its tag is kTagHeading for H1-H6).
inline bool IsH1(const Lexer *x)
{
    return x->tag == kTagHeading && ((x->name.low >> 8) & 0xFF) == '1';
}

// A window onto the input's buffer, read without a call per byte.
struct Reader {
    ByteStream *s;
    const unsigned char *p;
    const unsigned char *end;
    int64_t limit;          // one past the last byte to read
    int64_t *count;         // bytes taken into the window
};

struct Cut {
    int64_t start, end;
    int64_t words;          // of a cut: its words
};

// The hints of the class and id values seen last, by a hash of the value:
// pages repeat the same few values over and over.
struct HintCacheEntry {
    unsigned char length;   // kValueMax + 1: empty
    unsigned char hints;
    unsigned char value[kValueMax];
};

struct State {
    bool copying;           // the lexer runs over the chosen part to cut tables
    Lexer lex;
    HintIndex hintIndex;
    HintCacheEntry hintCache[kHintCacheSize];

    // The scan.
    Record open[kMaxOpen + 1];  // open[0] is the root
    int depth;                  // open records, the root included
    int openOfKind[kTagCount];
    Record kept[kMaxKept];
    int keptCount;
    int weakest;                // the kept record to make room first; -1: not known
    int64_t blockWords, blockLinkWords;
    unsigned nextBlockFlags;    // P or LI, for the next block with words
    int headingDepth;
    int quietDepth;             // open elements whose text is not counted
    int linkDepth;              // the open records when a link opened; 0: no link
    bool bodySeen;
    int64_t headEnd;            // just after <BODY ...>; without BODY, set at the end
    int64_t htmlEnd;            // just after the first <HTML ...>, or -1
    int64_t headCloseEnd;       // just after the first </HEAD ...>, or -1
    int64_t bodyClose;          // the '<' of the first </BODY, or -1
    int64_t lastH1Start;        // the '<' of the last H1 so far, or -1
    int64_t lastH1End;          // the '>' of its end tag, or -1 while it is open

    // The first words of the chosen part, taken by the lexer's third run.
    bool takingWords;
    const Cut *wordCuts;        // text inside these is passed over
    int wordCutCount;
    int64_t nextText;           // just after the last text byte taken
    unsigned char words[kWordsRaw];     // the text as it stands, one blank between words
    int wordsLength;
    int wordsTaken;
    bool wordsDone;             // the words are taken (or the room is full)
    bool wordsMore;             // and more text follows them

    // The table cut while copying.
    int64_t partStart;
    int tableDepth;
    int64_t emitFrom;
    const Cut *pieces;
    int pieceCount;
    ByteStream *output;         // none for a scan that writes nothing
    ByteStream *copier;         // reads the bytes to write, beside the lexer (cutTables)
    int64_t emitted;            // bytes of the part written by the table cut

    AnyLayoutResult result;
};

// ---------------------------------------------------------------------------
// Reading

int64_t PositionOf(const Reader *r, const unsigned char *p)
{
    return r->s->bufStart + (int64_t)(p - r->s->buf);
}

// Moves the window to the stream's next unread bytes; false at the end of
// the input or the limit.
bool Refill(Reader *r)
{
    ByteStream *s = r->s;
    if (r->p)
        s->pos = (size_t)(r->p - s->buf);
    if (StreamTell(s) >= r->limit)
        return false;
    if (!(s->mode == kStreamReading && s->pos < s->len)) {
        // The fill moves the buffer: the old window is gone either way.
        r->p = r->end = nullptr;
        if (StreamFill(s) < 0)
            return false;
        s->pos--;
    }
    size_t n = s->len - s->pos;
    int64_t left = r->limit - StreamTell(s);
    if ((int64_t)n > left)
        n = (size_t)left;
    r->p = s->buf + s->pos;
    r->end = r->p + n;
    *r->count += (int64_t)n;
    return true;
}

// Gives the unread rest of the window back to the stream.
void Release(Reader *r)
{
    if (r->p)
        r->s->pos = (size_t)(r->p - r->s->buf);
}

// Copies bytes from..to (inclusive) of `in` to `out`.
void CopyBytes(ByteStream *in, ByteStream *out, int64_t from, int64_t to, int64_t *count)
{
    if (to < from)
        return;
    StreamSeek(in, from);
    Reader r = {in, nullptr, nullptr, to + 1, count};
    while (Refill(&r)) {
        StreamWrite(out, r.p, (size_t)(r.end - r.p));
        r.p = r.end;
    }
    Release(&r);
}

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

// ---------------------------------------------------------------------------
// The lexer
//
// Lex is a loop that refills the window and hands it to the helper of the
// lexer's state; each helper reads what it can from p, acts on it, sets the
// next state and answers where it stopped. A helper that leaves its byte
// for the next state answers p unchanged (the next helper looks at it
// again). The states, in the order a page meets them:
//   0    text: blanks and words up to the next '<', sixteen bytes at a
//        time (CountWordyWords); `text` says whether the text stopped
//        inside a word, and whether that word holds a letter, digit or high
//        byte so far.
//   100  after '<': markup when a letter, '/', '!' or '?' follows, else
//        the '<' is a byte of the word (back to 0).
//   110  after "</".
//   200  a tag's name (the first kNameMax bytes kept, upper-cased).
//   300  between attributes; 310 the same just after an attribute's name,
//        where '=' gives it a value.
//   320  an attribute's name (the first kAttrNameMax bytes, lower-cased).
//   330  after '='; 340 a quoted value, 350 an unquoted one.
//   400  markup skipped up to its '>'.
//   500  after "<!"; 510 after "<!-".
//   520  after "<!--"; 530 after "<!---" (both close at a '>').
//   540  a comment; 550 after its '-'; 560 after "--" (a '>' closes it).
//   600  SCRIPT or STYLE text; 610 after its '<'; 620 after "</", with
//        rawMatched bytes of the element's name matched.
//   700  TITLE text, skipped to the next '<'.
// Every tag's event comes at its '>'. A word is counted at its first
// letter, digit or high byte, in the block of the tags before it (nothing
// happens between that byte and the word's end that could change the
// block). The table cut runs the lexer again over the chosen part
// (`copying`: no words, the tags to OnCopiedTag), and so does the taking of
// the part's first words (`takingWords`: text to TakeText).

// Counts `n` words of the text of the current block.
inline void CountWords(State *st, int64_t n)
{
    if (n == 0 || st->copying || st->quietDepth > 0)
        return;
    st->blockWords += n;
    if (st->linkDepth > 0)
        st->blockLinkWords += n;
}

// Markup ends the word the text stopped in (counted already when it holds a
// wordy byte).
inline void EndWord(State *st)
{
    st->lex.text = kTextBetweenWords;
}

// Moves p past the next `c` before `end`; false, with p at end, when
// there is none.
inline bool SkipPast(const unsigned char **p, const unsigned char *end, unsigned char c)
{
    const unsigned char *q = (const unsigned char *)memchr(*p, c, (size_t)(end - *p));
    *p = q ? q + 1 : end;
    return q != nullptr;
}

const unsigned char *LexLt(State *st, const Reader *r, const unsigned char *p,
                           const unsigned char *end);

// State 0: the text up to the next '<', its words counted sixteen bytes at
// a time (CountWordyWords).
const unsigned char *LexText(State *st, const Reader *r, const unsigned char *p,
                             const unsigned char *end)
{
    Lexer *x = &st->lex;
    int64_t words = 0;
    // Tags often follow each other with no text between.
    size_t n = *p == '<' ? 0 : CountWordyWords(p, (size_t)(end - p), &x->text, &words);
    if (st->takingWords)
        TakeText(st, PositionOf(r, p), p, n);
    p += n;
    CountWords(st, words);
    if (p == end)
        return p;
    x->tagStart = PositionOf(r, p);
    x->state = kLexLt;
    return ++p < end ? LexLt(st, r, p, end) : p;
}

// Adds the bytes from..to to a name of which *length bytes came before,
// keeping the first `room` bytes of it (room <= 16) in the key, mapped
// through `fold`. *length counts them all.
inline void KeepPrefix(NameKey *key, size_t room, size_t *length, const unsigned char *from,
                       const unsigned char *to, const unsigned char *fold)
{
    size_t n = (size_t)(to - from);
    for (size_t i = *length; i < room && from < to; i++) {
        uint64_t b = (uint64_t)fold[*from++] << (8 * (i % 8));
        if (i < 8)
            key->low |= b;
        else
            key->high |= b;
    }
    *length += n;
}

void BeginName(Lexer *x, bool endTag)
{
    x->endTag = endTag;
    x->nameLength = 0;
    x->name = NameKey{0, 0};
    x->state = kLexName;
}

const unsigned char *LexName(State *st, const Reader *r, const unsigned char *p,
                             const unsigned char *end);

// State 100.
const unsigned char *LexLt(State *st, const Reader *r, const unsigned char *p,
                           const unsigned char *end)
{
    Lexer *x = &st->lex;
    unsigned char c = *p;
    if (IsLetter(c)) {
        EndWord(st);
        BeginName(x, false);
        return LexName(st, r, p, end);
    }
    if (c == '/' || c == '!' || c == '?') {
        EndWord(st);
        x->state = c == '/' ? kLexLtSlash : c == '!' ? kLexBang : kLexSkipGt;
        return p + 1;
    }
    if (x->text == kTextBetweenWords)
        x->text = kTextInWord;          // the '<' starts a word
    if (st->takingWords)
        TakeText(st, x->tagStart, (const unsigned char *)"<", 1);
    x->state = kLexText;
    return p;
}

// State 110.
const unsigned char *LexLtSlash(State *st, const unsigned char *p)
{
    if (IsLetter(*p))
        BeginName(&st->lex, true);
    else
        st->lex.state = kLexSkipGt;
    return p;
}

void NameDone(State *st)
{
    Lexer *x = &st->lex;
    x->tag = x->nameLength <= kNameMax ? LookUpTag(x->name, x->nameLength) : kTagOther;
    x->collecting = !st->copying && !x->endTag &&
                    ((kTags[x->tag].flags & kFlagContainer) || x->tag == kTagA);
    x->attr = kAttrNone;
    x->tagHints = 0;
    x->hasHref = false;
}

void AttrNameDone(State *st)
{
    Lexer *x = &st->lex;
    x->attr = kAttrNone;
    if (!x->collecting)
        return;
    static constexpr uint64_t kClass = KeyOfName("class").low, kId = KeyOfName("id").low,
                              kStyle = KeyOfName("style").low, kHidden = KeyOfName("hidden").low,
                              kHref = KeyOfName("href").low;
    // Names longer than kAttrNameMax keep only their first bytes: their
    // length tells them apart.
    uint64_t name = x->attrLength <= kAttrNameMax ? x->attrName.low : 0;
    if (name == kClass)
        x->attr = kAttrClass;
    else if (name == kId)
        x->attr = kAttrId;
    else if (name == kStyle)
        x->attr = kAttrStyle;
    else if (name == kHidden)
        x->tagHints |= kHintBoiler;
    else if (name == kHref)
        x->hasHref = true;
    x->valueLength = 0;
    x->valueHash = 0;
    x->styleMatch[0] = x->styleMatch[1] = 0;
}

void ValueBytes(Lexer *x, const unsigned char *p, size_t n)
{
    if (x->attr == kAttrClass || x->attr == kAttrId) {
        size_t room = kValueMax - x->valueLength;
        if (n > room)
            n = room;
        uint32_t h = x->valueHash;
        for (size_t i = 0; i < n; i++) {
            unsigned char c = Lower(p[i]);
            x->value[x->valueLength++] = c;
            h = (h ^ c) * 16777619u;
        }
        x->valueHash = h;
    } else if (x->attr == kAttrStyle) {
        static const char *const kHidden[2] = {"display:none", "visibility:hidden"};
        static const int kHiddenLength[2] = {12, 17};
        for (size_t i = 0; i < n; i++) {
            if (kBytes.of[p[i]] & kClassSpace)
                continue;
            unsigned char c = Lower(p[i]);
            for (int k = 0; k < 2; k++) {
                int &m = x->styleMatch[k];
                if (m == kHiddenLength[k])
                    continue;
                m = c == (unsigned char)kHidden[k][m] ? m + 1 : c == (unsigned char)kHidden[k][0];
                if (m == kHiddenLength[k])
                    x->tagHints |= kHintBoiler;
            }
        }
    }
}

// The hints of the value just read, from the cache when it holds them.
unsigned CachedValueHints(State *st)
{
    const Lexer *x = &st->lex;
    HintCacheEntry *e = &st->hintCache[(x->valueHash ^ (x->valueHash >> 16)) % kHintCacheSize];
    if (e->length != x->valueLength || memcmp(e->value, x->value, x->valueLength) != 0) {
        e->length = (unsigned char)x->valueLength;
        memcpy(e->value, x->value, x->valueLength);
        e->hints = (unsigned char)ValueHints(&st->hintIndex, x->value, x->valueLength);
    }
    return e->hints;
}

void ValueDone(State *st)
{
    Lexer *x = &st->lex;
    if (x->attr == kAttrClass || x->attr == kAttrId)
        x->tagHints |= CachedValueHints(st);
    x->attr = kAttrNone;
}

// The tag ends at `gt`: its event, then what follows it.
void TagDone(State *st, int64_t gt)
{
    Lexer *x = &st->lex;
    if (st->takingWords)
        ;                               // TakeText sees the gap
    else if (st->copying)
        OnCopiedTag(st, x->tag, x->endTag, x->tagStart, gt);
    else if (x->endTag)
        OnEndTag(st, x->tag, x->tagStart, gt);
    else
        OnStartTag(st, x->tag, x->tagStart, gt);
    x->state = kLexText;
    if (!x->endTag) {
        if (x->tag == kTagScript || x->tag == kTagStyle) {
            x->state = kLexRaw;
            x->rawTag = x->tag;
        } else if (x->tag == kTagTitle) {
            x->state = kLexTitle;
        }
    }
}

const unsigned char *LexAttributes(State *st, const Reader *r, const unsigned char *p,
                                   const unsigned char *end);

// State 200.
const unsigned char *LexName(State *st, const Reader *r, const unsigned char *p,
                             const unsigned char *end)
{
    Lexer *x = &st->lex;
    const unsigned char *from = p;
    while (p < end && !(kBytes.of[*p] & (kClassSpace | kClassGt | kClassSlash)))
        p++;
    KeepPrefix(&x->name, kNameMax, &x->nameLength, from, p, kUpper);
    if (p == end)
        return p;
    NameDone(st);
    if (*p == '>') {
        TagDone(st, PositionOf(r, p));
        return p + 1;
    }
    x->state = kLexAttrSpace;
    return ++p < end ? LexAttributes(st, r, p, end) : p;
}

// States 300 and 310.
const unsigned char *LexAttrSpace(State *st, const Reader *r, const unsigned char *p,
                                  const unsigned char *end)
{
    Lexer *x = &st->lex;
    while (p < end && (kBytes.of[*p] & (kClassSpace | kClassSlash)))
        p++;
    if (p == end)
        return p;
    if (*p == '>') {
        TagDone(st, PositionOf(r, p));
        return p + 1;
    }
    if (*p == '=') {
        if (x->state == kLexAttrSpace)
            x->attr = kAttrNone;        // a value without a name
        x->state = kLexAfterEq;
        return p + 1;
    }
    x->attrLength = 0;
    x->attrName = NameKey{0, 0};
    x->state = kLexAttrName;
    return p;
}

// State 320.
const unsigned char *LexAttrName(State *st, const unsigned char *p, const unsigned char *end)
{
    Lexer *x = &st->lex;
    const unsigned char *from = p;
    while (p < end && !(kBytes.of[*p] & (kClassSpace | kClassGt | kClassSlash | kClassEq)))
        p++;
    KeepPrefix(&x->attrName, kAttrNameMax, &x->attrLength, from, p, kLower);
    if (p == end)
        return p;
    if (x->attrLength > kAttrNameMax)
        x->attrLength = kAttrNameMax + 1;
    AttrNameDone(st);
    x->state = kLexAfterAttrName;
    return p;
}

// State 330.
const unsigned char *LexAfterEq(State *st, const Reader *r, const unsigned char *p,
                                const unsigned char *end)
{
    Lexer *x = &st->lex;
    while (p < end && kBytes.of[*p] == kClassSpace)
        p++;
    if (p == end)
        return p;
    if (*p == '"' || *p == '\'') {
        x->quote = *p;
        x->state = kLexQuoted;
        return p + 1;
    }
    if (*p == '>') {
        ValueDone(st);
        TagDone(st, PositionOf(r, p));
        return p + 1;
    }
    x->state = kLexUnquoted;
    return p;
}

// State 340.
const unsigned char *LexQuoted(State *st, const unsigned char *p, const unsigned char *end)
{
    Lexer *x = &st->lex;
    const unsigned char *q = (const unsigned char *)memchr(p, x->quote, (size_t)(end - p));
    const unsigned char *stop = q ? q : end;
    if (x->attr != kAttrNone)
        ValueBytes(x, p, (size_t)(stop - p));
    if (!q)
        return end;
    ValueDone(st);
    x->state = kLexAttrSpace;
    return q + 1;
}

// State 350.
const unsigned char *LexUnquoted(State *st, const Reader *r, const unsigned char *p,
                                 const unsigned char *end)
{
    Lexer *x = &st->lex;
    const unsigned char *from = p;
    while (p < end && !(kBytes.of[*p] & (kClassSpace | kClassGt)))
        p++;
    if (x->attr != kAttrNone)
        ValueBytes(x, from, (size_t)(p - from));
    if (p == end)
        return p;
    ValueDone(st);
    if (*p == '>')
        TagDone(st, PositionOf(r, p));
    else
        x->state = kLexAttrSpace;
    return p + 1;
}

// States 300 to 350: a tag's attributes, from state to state while the
// window lasts, up to the tag's '>' (after which TagDone has set the state
// that follows the tag). The usual order, a name, '=' and a value, goes
// from one helper to the next without a new dispatch.
const unsigned char *LexAttributes(State *st, const Reader *r, const unsigned char *p,
                                   const unsigned char *end)
{
    const Lexer *x = &st->lex;
    while (p < end) {
        switch (x->state) {
        case kLexAttrSpace:
        case kLexAfterAttrName:
            p = LexAttrSpace(st, r, p, end);
            if (p == end || x->state != kLexAttrName)
                break;
            [[fallthrough]];
        case kLexAttrName:
            p = LexAttrName(st, p, end);
            if (p == end)
                break;
            p = LexAttrSpace(st, r, p, end);    // kLexAfterAttrName
            if (p == end || x->state != kLexAfterEq)
                break;
            [[fallthrough]];
        case kLexAfterEq:
            p = LexAfterEq(st, r, p, end);
            if (p == end)
                break;
            if (x->state == kLexQuoted)
                p = LexQuoted(st, p, end);
            else if (x->state == kLexUnquoted)
                p = LexUnquoted(st, r, p, end);
            break;
        case kLexQuoted:
            p = LexQuoted(st, p, end);
            break;
        case kLexUnquoted:
            p = LexUnquoted(st, r, p, end);
            break;
        default:
            return p;
        }
    }
    return p;
}

// State 400.
const unsigned char *LexSkipGt(State *st, const unsigned char *p, const unsigned char *end)
{
    if (SkipPast(&p, end, '>'))
        st->lex.state = kLexText;
    return p;
}

// States 500 and 510: "<!--" opens a comment, anything else is skipped.
const unsigned char *LexBang(State *st, const unsigned char *p)
{
    Lexer *x = &st->lex;
    if (*p != '-') {
        x->state = kLexSkipGt;
        return p;
    }
    x->state = x->state == kLexBang ? kLexBangDash : kLexCommentStart;
    return p + 1;
}

// States 520 and 530: "<!-->" and "<!--->" close at once.
const unsigned char *LexCommentStart(State *st, const unsigned char *p)
{
    Lexer *x = &st->lex;
    if (*p == '>') {
        x->state = kLexText;
        return p + 1;
    }
    if (*p == '-') {
        x->state = x->state == kLexCommentStart ? kLexCommentStartDash : kLexCommentDashes;
        return p + 1;
    }
    x->state = kLexComment;
    return p;
}

// States 540, 550 and 560: the comment runs to "--" and '>'.
const unsigned char *LexComment(State *st, const unsigned char *p, const unsigned char *end)
{
    Lexer *x = &st->lex;
    switch (x->state) {
    case kLexComment:
        if (SkipPast(&p, end, '-'))
            x->state = kLexCommentDash;
        return p;
    case kLexCommentDash:
        if (*p != '-') {
            x->state = kLexComment;
            return p;
        }
        x->state = kLexCommentDashes;
        return p + 1;
    default:                            // kLexCommentDashes
        if (*p == '>')
            x->state = kLexText;
        else if (*p != '-')
            x->state = kLexComment;
        return *p == '>' || *p == '-' ? p + 1 : p;
    }
}

// States 600, 610 and 620: SCRIPT and STYLE run to "</script" or
// "</style" and a blank, '/' or '>'.
const unsigned char *LexRaw(State *st, const unsigned char *p, const unsigned char *end)
{
    Lexer *x = &st->lex;
    switch (x->state) {
    case kLexRaw:
        if (SkipPast(&p, end, '<'))
            x->state = kLexRawLt;
        return p;
    case kLexRawLt:
        if (*p != '/') {
            x->state = kLexRaw;
            return p;
        }
        x->rawMatched = 0;
        x->state = kLexRawName;
        return p + 1;
    default: {                          // kLexRawName
        const char *want = x->rawTag == kTagScript ? "SCRIPT" : "STYLE";
        size_t length = x->rawTag == kTagScript ? 6 : 5;
        while (p < end && x->rawMatched < length && Upper(*p) == (unsigned char)want[x->rawMatched]) {
            p++;
            x->rawMatched++;
        }
        if (p == end)
            return p;
        if (x->rawMatched == length && (kBytes.of[*p] & (kClassSpace | kClassSlash | kClassGt)))
            x->state = kLexSkipGt;      // the end tag, skipped to its '>'
        else
            x->state = kLexRaw;
        return p;
    }
    }
}

// State 700.
const unsigned char *LexTitle(State *st, const unsigned char *p, const unsigned char *end)
{
    const unsigned char *q = (const unsigned char *)memchr(p, '<', (size_t)(end - p));
    if (!q)
        return end;
    st->lex.state = kLexText;
    return q;
}

// Hands the window, which holds at least one byte, to the state's helper.
const unsigned char *LexStep(State *st, const Reader *r, const unsigned char *p,
                             const unsigned char *end)
{
    switch (st->lex.state) {
    case kLexText:
        return LexText(st, r, p, end);
    case kLexLt:
        return LexLt(st, r, p, end);
    case kLexLtSlash:
        return LexLtSlash(st, p);
    case kLexName:
        return LexName(st, r, p, end);
    case kLexAttrSpace:
    case kLexAfterAttrName:
    case kLexAttrName:
    case kLexAfterEq:
    case kLexQuoted:
    case kLexUnquoted:
        return LexAttributes(st, r, p, end);
    case kLexSkipGt:
        return LexSkipGt(st, p, end);
    case kLexBang:
    case kLexBangDash:
        return LexBang(st, p);
    case kLexCommentStart:
    case kLexCommentStartDash:
        return LexCommentStart(st, p);
    case kLexComment:
    case kLexCommentDash:
    case kLexCommentDashes:
        return LexComment(st, p, end);
    case kLexRaw:
    case kLexRawLt:
    case kLexRawName:
        return LexRaw(st, p, end);
    default:                            // kLexTitle
        return LexTitle(st, p, end);
    }
}

// Reads the input up to the reader's limit or end.
void Lex(State *st, Reader *r)
{
    while (!st->wordsDone && (r->p < r->end || Refill(r)))
        r->p = LexStep(st, r, r->p, r->end);
    Release(r);
    EndWord(st);
}

// ---------------------------------------------------------------------------
// Choice

// Whether record a scores at least as high as b: TP / (W + G/4), times 1.22
// for a record whose own hints call it an article or content.
bool ScoresAtLeast(const Record *a, const Record *b, int64_t g)
{
    uint64_t fa = (a->hints & kHintPositive) ? 122 : 100;
    uint64_t fb = (b->hints & kHintPositive) ? 122 : 100;
    uint64_t da = 1024 * (uint64_t)a->words + (uint64_t)g;     // 1024 W + G, G in 256ths
    uint64_t db = 1024 * (uint64_t)b->words + (uint64_t)g;
    return Compare(Multiply(fa * (uint64_t)a->weighted, db),
                   Multiply(fb * (uint64_t)b->weighted, da)) >= 0;
}

void SortKept(State *st)
{
    for (int i = 1; i < st->keptCount; i++) {
        Record r = st->kept[i];
        int j = i;
        for (; j > 0 && st->kept[j - 1].start > r.start; j--)
            st->kept[j] = st->kept[j - 1];
        st->kept[j] = r;
    }
}

// The weak descendants of r to cut: W >= 10 and TP below half of r's
// average rate; at most kAnyLayoutMaxCuts, those that lose most, in
// document order.
int FindCuts(const State *st, const Record *r, Cut *cuts)
{
    struct Candidate {
        Wide loss;              // TP(r) W - W(r) TP, W(r) times lambda W - TP
        const Record *record;
    } best[kAnyLayoutMaxCuts];
    int n = 0;
    int64_t skipThrough = -1;
    uint64_t rw = (uint64_t)r->words, rtp = (uint64_t)r->weighted;
    for (int i = 0; i < st->keptCount; i++) {
        const Record *d = &st->kept[i];
        if (d == r || d->start < r->contentStart || d->end > r->end || d->start <= skipThrough)
            continue;
        uint64_t dw = (uint64_t)d->words, dtp = (uint64_t)d->weighted;
        Wide expected = Multiply(rtp, dw);
        if (d->words < 10 || Compare(Multiply(2 * dtp, rw), expected) >= 0)
            continue;
        skipThrough = d->end;
        Candidate c = {Subtract(expected, Multiply(rw, dtp)), d};
        int at = n < kAnyLayoutMaxCuts ? n++ : kAnyLayoutMaxCuts;
        while (at > 0 && Compare(c.loss, best[at - 1].loss) > 0) {
            if (at < kAnyLayoutMaxCuts)
                best[at] = best[at - 1];
            at--;
        }
        if (at < kAnyLayoutMaxCuts)
            best[at] = c;
    }
    for (int i = 0; i < n; i++) {
        cuts[i].start = best[i].record->start;
        cuts[i].end = best[i].record->end;
        cuts[i].words = best[i].record->words;
    }
    for (int i = 1; i < n; i++)         // document order
        for (int j = i; j > 0 && cuts[j - 1].start > cuts[j].start; j--) {
            Cut t = cuts[j];
            cuts[j] = cuts[j - 1];
            cuts[j - 1] = t;
        }
    return n;
}

// ---------------------------------------------------------------------------
// Writing

const char kPageEnd[] = "</body></html>";

// Copies from..to, less the tables inside when `cutTables`, less the cuts
// outside the pieces.
void CopyPart(State *st, ByteStream *input, int64_t from, int64_t to, const Cut *pieces,
              int pieceCount, bool cutTables)
{
    if (!cutTables) {
        for (int i = 0; i < pieceCount; i++)
            CopyBytes(input, st->output, pieces[i].start, pieces[i].end, &st->result.bytesCopied);
        return;
    }
    StreamOpenTwin(st->copier, input);
    st->copying = true;
    st->lex = Lexer();
    st->lex.state = kLexText;
    st->partStart = from;
    st->tableDepth = 0;
    st->emitFrom = from;
    st->pieces = pieces;
    st->pieceCount = pieceCount;
    StreamSeek(input, from);
    Reader r = {input, nullptr, nullptr, to + 1, &st->result.bytesCopied};
    Lex(st, &r);
    if (st->tableDepth == 0)
        Emit(st, st->emitFrom, to);
    if (StreamReadFailed(st->copier))
        input->readError = true;
}

// ---------------------------------------------------------------------------
// The part described for people

// Up to n bytes of `in` from `from` into buf; how many.
size_t ReadBack(ByteStream *in, int64_t from, unsigned char *buf, size_t n, int64_t *count)
{
    StreamSeek(in, from);
    Reader r = {in, nullptr, nullptr, from + (int64_t)n, count};
    size_t got = 0;
    while (Refill(&r)) {
        memcpy(buf + got, r.p, (size_t)(r.end - r.p));
        got += (size_t)(r.end - r.p);
        r.p = r.end;
    }
    Release(&r);
    return got;
}

// The length of the UTF-8 character at p (n bytes left), 0 when the bytes
// there are not one.
size_t Utf8Length(const unsigned char *p, size_t n)
{
    unsigned char c = p[0];
    size_t length = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                  : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (length == 0 || length > n)
        return 0;
    for (size_t i = 1; i < length; i++)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    // No overlong forms, surrogates or code points past U+10FFFF.
    if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] > 0x9F) || (c == 0xF0 && p[1] < 0x90) ||
        (c == 0xF4 && p[1] > 0x8F))
        return 0;
    return length;
}

// Writes the n bytes at `in` into out as text for people (bytes below 0x20
// and bytes that are not UTF-8 as \xNN), whole characters only, in at most
// `room` bytes and a NUL. False when not all of them fit.
bool EscapeText(const unsigned char *in, size_t n, char *out, size_t room)
{
    static const char kHex[] = "0123456789ABCDEF";
    size_t o = 0, i = 0;
    while (i < n) {
        size_t length = in[i] >= 0x20 ? Utf8Length(in + i, n - i) : 0;
        size_t need = length ? length : 4;
        if (o + need > room)
            break;
        if (length) {
            memcpy(out + o, in + i, length);
        } else {
            out[o] = '\\';
            out[o + 1] = 'x';
            out[o + 2] = kHex[in[i] >> 4];
            out[o + 3] = kHex[in[i] & 15];
            length = 1;
        }
        o += need;
        i += length;
    }
    out[o] = '\0';
    return i == n;
}

const char kEllipsis[] = "\xE2\x80\xA6";

// The UTF-8 bytes of code point u into out (room for 4); how many.
size_t PutUtf8(uint32_t u, unsigned char *out)
{
    if (u < 0x80) {
        out[0] = (unsigned char)u;
        return 1;
    }
    if (u < 0x800) {
        out[0] = (unsigned char)(0xC0 | u >> 6);
        out[1] = (unsigned char)(0x80 | (u & 0x3F));
        return 2;
    }
    if (u < 0x10000) {
        out[0] = (unsigned char)(0xE0 | u >> 12);
        out[1] = (unsigned char)(0x80 | (u >> 6 & 0x3F));
        out[2] = (unsigned char)(0x80 | (u & 0x3F));
        return 3;
    }
    out[0] = (unsigned char)(0xF0 | u >> 18);
    out[1] = (unsigned char)(0x80 | (u >> 12 & 0x3F));
    out[2] = (unsigned char)(0x80 | (u >> 6 & 0x3F));
    out[3] = (unsigned char)(0x80 | (u & 0x3F));
    return 4;
}

struct NamedReference {
    const char *name;
    uint32_t code;
};

const NamedReference kReferences[] = {
    {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", ' '},
    {"ndash", 0x2013}, {"mdash", 0x2014}, {"hellip", 0x2026}, {"lsquo", 0x2018},
    {"rsquo", 0x2019}, {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"laquo", 0xAB}, {"raquo", 0xBB},
    {"copy", 0xA9}, {"middot", 0xB7}, {"bull", 0x2022},
};

// The code point of the reference "&...;" at p (n bytes left) and its
// length, or 0 for none this decodes.
size_t Reference(const unsigned char *p, size_t n, uint32_t *code)
{
    const unsigned char *semi = (const unsigned char *)memchr(p, ';', n < 12 ? n : 12);
    if (!semi || semi - p < 3)
        return 0;
    size_t length = (size_t)(semi - p) + 1;
    if (p[1] == '#') {
        bool hex = p[2] == 'x' || p[2] == 'X';
        uint32_t u = 0;
        const unsigned char *q = p + (hex ? 3 : 2);
        if (q == semi)
            return 0;
        for (; q < semi; q++) {
            int d = *q >= '0' && *q <= '9'                ? *q - '0'
                    : hex && (*q | 0x20) >= 'a' && (*q | 0x20) <= 'f' ? (*q | 0x20) - 'a' + 10
                                                                     : -1;
            if (d < 0 || u > 0x10FFFF)
                return 0;
            u = u * (hex ? 16 : 10) + (uint32_t)d;
        }
        if (u == 0 || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF))
            return 0;
        *code = u;
        return length;
    }
    for (const NamedReference &r : kReferences) {
        size_t k = strlen(r.name);
        if (k == length - 2 && memcmp(p + 1, r.name, k) == 0) {
            *code = r.code;
            return length;
        }
    }
    return 0;
}

// The words taken, their references decoded and blanks made single, into
// the result.
void FinishWords(State *st)
{
    // A reference that the room cut in two goes.
    if (st->wordsMore)
        for (int i = st->wordsLength - 1; i >= 0 && i >= st->wordsLength - 12; i--) {
            if (st->words[i] == ';' || IsBlank(st->words[i]))
                break;
            if (st->words[i] == '&') {
                st->wordsLength = i;
                break;
            }
        }
    unsigned char text[kWordsRaw];
    size_t n = 0;
    for (int i = 0; i < st->wordsLength;) {
        uint32_t code;
        size_t length = st->words[i] == '&' ? Reference(st->words + i, (size_t)(st->wordsLength - i), &code)
                                             : 0;
        unsigned char one[4];
        size_t k = length ? PutUtf8(code, one) : 1;
        if (!length) {
            one[0] = st->words[i];
            length = 1;
        }
        for (size_t j = 0; j < k; j++)
            if (!(IsBlank(one[j]) && (n == 0 || text[n - 1] == ' ')))
                text[n++] = IsBlank(one[j]) ? ' ' : one[j];
        i += (int)length;
    }
    while (n > 0 && text[n - 1] == ' ')
        n--;
    AnyLayoutResult *res = &st->result;
    res->moreWords = st->wordsMore;
    if (!EscapeText(text, n, res->firstWords, kAnyLayoutWordsBytes - 1))
        res->moreWords = true;
}

// Takes the first words of the pieces, reading no further than
// kWordsReadMax bytes into them.
void TakeFirstWords(State *st, ByteStream *input, const Cut *pieces, int pieceCount,
                    const Cut *cuts, int cutCount)
{
    int64_t from = pieces[0].start, to = pieces[pieceCount - 1].end;
    if (to < from)
        return;
    st->copying = true;
    st->takingWords = true;
    st->wordCuts = cuts;
    st->wordCutCount = cutCount;
    st->nextText = from;
    st->lex = Lexer();
    st->lex.state = kLexText;
    StreamSeek(input, from);
    int64_t limit = to + 1 < from + kWordsReadMax ? to + 1 : from + kWordsReadMax;
    Reader r = {input, nullptr, nullptr, limit, &st->result.bytesReadBack};
    Lex(st, &r);
    if (!st->wordsDone && limit < to + 1)
        st->wordsMore = true;
    st->wordsDone = false;
    st->takingWords = false;
    st->copying = false;
    FinishWords(st);
}

// Whether the n bytes at p, folded to lower case, are `name`.
bool IsName(const unsigned char *p, size_t n, const char *name)
{
    if (strlen(name) != n)
        return false;
    for (size_t i = 0; i < n; i++)
        if (Lower(p[i]) != (unsigned char)name[i])
            return false;
    return true;
}

// The label of the chosen element: its start tag at `at` (`n` bytes long)
// as its name, id and class.
void ReadLabel(State *st, ByteStream *input, int64_t at, int64_t n)
{
    AnyLayoutResult *res = &st->result;
    unsigned char tag[kTagRead];
    size_t got = n > 0 ? ReadBack(input, at, tag, n < kTagRead ? (size_t)n : (size_t)kTagRead,
                                  &res->bytesReadBack)
                       : 0;
    if (got < 2 || tag[0] != '<') {
        strcpy(res->label, "<body>");   // the root of a page without BODY
        return;
    }
    const unsigned char *id = nullptr, *cls = nullptr;
    size_t idLength = 0, clsLength = 0;
    size_t i = 1;
    auto stops = [&](unsigned char c) { return IsBlank(c) || c == '/' || c == '>'; };
    while (i < got && !stops(tag[i]))
        i++;
    size_t nameLength = i - 1;
    for (;;) {
        while (i < got && (IsBlank(tag[i]) || tag[i] == '/'))
            i++;
        if (i >= got || tag[i] == '>')
            break;
        size_t name = i;
        while (i < got && !stops(tag[i]) && tag[i] != '=')
            i++;
        size_t attrLength = i - name;
        while (i < got && IsBlank(tag[i]))
            i++;
        const unsigned char *value = nullptr;
        size_t valueLength = 0;
        if (i < got && tag[i] == '=') {
            i++;
            while (i < got && IsBlank(tag[i]))
                i++;
            if (i < got && (tag[i] == '"' || tag[i] == '\'')) {
                unsigned char quote = tag[i++];
                value = tag + i;
                while (i < got && tag[i] != quote)
                    i++;
                valueLength = (size_t)(tag + i - value);
                i++;
            } else {
                value = tag + i;
                while (i < got && !IsBlank(tag[i]) && tag[i] != '>')
                    i++;
                valueLength = (size_t)(tag + i - value);
            }
        }
        if (value && !id && IsName(tag + name, attrLength, "id")) {
            id = value;
            idLength = valueLength;
        } else if (value && !cls && IsName(tag + name, attrLength, "class")) {
            cls = value;
            clsLength = valueLength;
        }
    }
    // "<name id="..." class="...">", then escaped and cut to fit.
    unsigned char text[2 * kTagRead];
    size_t t = 0;
    auto put = [&](const void *p, size_t k) {
        memcpy(text + t, p, k);
        t += k;
    };
    put("<", 1);
    put(tag + 1, nameLength);
    if (id) {
        put(" id=\"", 5);
        put(id, idLength);
        put("\"", 1);
    }
    if (cls) {
        put(" class=\"", 8);
        put(cls, clsLength);
        put("\"", 1);
    }
    put(">", 1);
    if (!EscapeText(text, t, res->label, kAnyLayoutLabelMax)) {
        EscapeText(text, t, res->label, kAnyLayoutLabelMax - (sizeof kEllipsis - 1));
        strcat(res->label, kEllipsis);
    }
}

// ---------------------------------------------------------------------------
// The choice written out

void Choose(State *st, ByteStream *input, int64_t origin, int64_t size, bool cutTables)
{
    AnyLayoutResult *res = &st->result;
    Record *root = &st->open[0];
    // The last block, and every record still open.
    EndBlock(st);
    while (st->depth > 1) {
        const Record *top = &st->open[st->depth - 1];
        PopTo(st, st->depth - 1, st->bodyClose > top->start ? st->bodyClose - 1 : size - 1);
    }
    if (!st->bodySeen) {
        st->headEnd = st->headCloseEnd >= 0 ? st->headCloseEnd
                      : st->htmlEnd >= 0    ? st->htmlEnd
                                            : origin;
        root->start = st->headEnd;
    }
    root->contentStart = st->headEnd;
    root->end = st->bodyClose > root->start ? st->bodyClose - 1 : size - 1;

    const Record *chosen = root;
    SortKept(st);
    int64_t g = root->weighted;
    for (int i = 0; i < st->keptCount; i++) {
        const Record *k = &st->kept[i];
        if (k->start >= st->headEnd && ScoresAtLeast(k, chosen, g))
            chosen = k;
    }
    Cut cuts[kAnyLayoutMaxCuts];
    int cutCount = root->words > 0 ? FindCuts(st, chosen, cuts) : 0;
    bool isRoot = chosen == root;
    int64_t from = isRoot ? root->contentStart : chosen->start;
    res->tag = kTags[chosen->tag].name;
    res->isRoot = isRoot;
    res->headEnd = st->headEnd;
    res->start = from;
    res->end = chosen->end;
    res->cutCount = cutCount;
    for (int i = 0; i < cutCount; i++) {
        res->cutStart[i] = cuts[i].start;
        res->cutEnd[i] = cuts[i].end;
        res->cutBytes += cuts[i].end - cuts[i].start + 1;
        res->wordsKept -= cuts[i].words;
    }
    res->pageWords = root->words;
    res->wordsKept += isRoot && cutCount == 0 ? root->words : chosen->words;
    res->bytesIn = size - origin;

    // The part less its cuts.
    Cut pieces[kAnyLayoutMaxCuts + 1];
    int pieceCount = 0;
    int64_t at = from;
    for (int i = 0; i < cutCount; i++) {
        pieces[pieceCount++] = {at, cuts[i].start - 1, 0};
        at = cuts[i].end + 1;
    }
    pieces[pieceCount++] = {at, chosen->end, 0};
    int64_t partBytes = 0;
    for (int i = 0; i < pieceCount; i++)
        partBytes += pieces[i].end >= pieces[i].start ? pieces[i].end - pieces[i].start + 1 : 0;

    if (root->words == 0 || (isRoot && cutCount == 0)) {
        // A page without words, or all of it main text: unchanged, but for
        // the tables of the body when they go.
        res->outcome = kAnyLayoutCopied;
        res->bytesKept = size - origin;
        if (!st->output)
            return;
        if (root->words == 0 || !cutTables || chosen->end < from) {
            CopyBytes(input, st->output, origin, size - 1, &res->bytesCopied);
            return;
        }
        CopyBytes(input, st->output, origin, from - 1, &res->bytesCopied);
        CopyPart(st, input, from, chosen->end, pieces, 1, true);
        CopyBytes(input, st->output, chosen->end + 1, size - 1, &res->bytesCopied);
        res->tableBytes = partBytes - st->emitted;
        res->bytesKept -= res->tableBytes;
        return;
    }

    res->outcome = kAnyLayoutPart;
    // The headline: the last H1 after the BODY tag and before the part, when
    // the part holds none; up to the part when its end tag is missing.
    if (!isRoot && !chosen->hasH1 && chosen->h1Start >= st->headEnd) {
        res->headlineAdded = true;
        res->headlineStart = chosen->h1Start;
        res->headlineEnd = chosen->h1End >= 0 ? chosen->h1End : chosen->start - 1;
    }
    int64_t headlineBytes = res->headlineAdded ? res->headlineEnd - res->headlineStart + 1 : 0;
    res->bytesKept = (st->headEnd - origin) + headlineBytes + partBytes;
    ReadLabel(st, input, chosen->start, chosen->contentStart - chosen->start);
    TakeFirstWords(st, input, pieces, pieceCount, cuts, cutCount);
    if (!st->output)
        return;

    const char *wrapper = "", *wrapperEnd = "";
    if (chosen->tag == kTagTd || chosen->tag == kTagTh) {
        wrapper = "<table><tr>";
        wrapperEnd = "</tr></table>";
    } else if (chosen->tag == kTagTr || kTags[chosen->tag].kind == kTagTbody) {
        wrapper = "<table>";
        wrapperEnd = "</table>";
    }
    CopyBytes(input, st->output, origin, st->headEnd - 1, &res->bytesCopied);
    if (res->headlineAdded)
        CopyBytes(input, st->output, res->headlineStart, res->headlineEnd, &res->bytesCopied);
    StreamWriteText(st->output, wrapper);
    CopyPart(st, input, from, chosen->end, pieces, pieceCount, cutTables);
    StreamWriteText(st->output, wrapperEnd);
    StreamWriteText(st->output, kPageEnd);
    if (cutTables) {
        res->tableBytes = partBytes - st->emitted;
        res->bytesKept -= res->tableBytes;
    }
}

// Runs the stage: writes into `output`, or with none only fills the result.
void RunStage(bool cutTables, ByteStream *input, ByteStream *output, size_t memoryLimit,
              AnyLayoutResult *result)
{
    int64_t origin = StreamTell(input);
    size_t need = sizeof(State) + (cutTables ? sizeof(ByteStream) : 0);
    State *st = need <= memoryLimit ? (State *)malloc(sizeof(State)) : nullptr;
    ByteStream *copier = st && cutTables ? (ByteStream *)malloc(sizeof(ByteStream)) : nullptr;
    if (!st || (cutTables && !copier)) {
        free(st);
        if (output)
            CopyStream(input, output);
        if (result) {
            memset(result, 0, sizeof *result);
            result->outcome = kAnyLayoutNoMemory;
            result->bytesIn = StreamTell(input) - origin;
            result->bytesKept = result->bytesIn;
        }
        return;
    }
    memset(st, 0, sizeof *st);
    st->result.memory = need;
    st->output = output;
    st->copier = copier;
    BuildHintIndex(&st->hintIndex);
    for (HintCacheEntry &e : st->hintCache)
        e.length = kValueMax + 1;
    st->lex.state = kLexText;
    st->depth = 1;
    st->open[0].tag = kTagBody;
    st->open[0].start = origin;
    st->open[0].h1Start = st->open[0].h1End = -1;
    st->headEnd = origin;
    st->htmlEnd = st->headCloseEnd = st->bodyClose = -1;
    st->lastH1Start = st->lastH1End = -1;
    st->weakest = -1;

    Reader r = {input, nullptr, nullptr, INT64_MAX, &st->result.bytesScanned};
    Lex(st, &r);
    int64_t size = StreamTell(input);
    if (!StreamReadFailed(input)) {
        Choose(st, input, origin, size, cutTables);
        StreamSeek(input, size);        // the stage leaves its input at its end
    }
    if (result)
        *result = st->result;
    free(copier);
    free(st);
}

}  // namespace

// ---------------------------------------------------------------------------
// The stage

void AnyLayoutExtractLimited(bool cutTables, ByteStream *input, ByteStream *output,
                             size_t memoryLimit, AnyLayoutResult *result)
{
    RunStage(cutTables, input, output, memoryLimit, result);
}

void AnyLayoutScan(ByteStream *input, AnyLayoutResult *result)
{
    RunStage(false, input, nullptr, SIZE_MAX, result);
}

int AnyLayoutBlockWeight(int64_t words, int64_t linkWords, unsigned bits)
{
    unsigned hints = ((bits & kAnyLayoutBlockComment) ? kHintComment : 0) |
                     ((bits & kAnyLayoutBlockBoiler) ? kHintBoiler : 0) |
                     ((bits & kAnyLayoutBlockPositive) ? kHintArticle : 0);
    return BlockWeight(words, linkWords, bits & (kBlockP | kBlockLi | kBlockHeading), hints);
}

void AnyLayoutExtract(bool cutTables, ByteStream *input, ByteStream *output)
{
    AnyLayoutExtractLimited(cutTables, input, output, SIZE_MAX, nullptr);
}
