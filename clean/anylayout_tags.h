// The rule for any layout: the byte classes of its lexer, the tag table,
// and the hints that class and id values give. Needs the limits of
// anylayout_internal.h, which includes it.
// An internal piece of the rule for any layout: anylayout.cpp builds its
// pieces as one unit, so that the lexer's calls into the outline stay inline.
#pragma once
#include <stdint.h>
#include <string.h>
#include "clean/bytes.h"

namespace {

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

}  // namespace
