// See css.h. Three layers per byte: character references (style
// attributes only), CSS escapes, then the states of the text. A reference
// whose address turns out to be a network one is cut from its first byte
// up to the character that decided it, then character by character through
// its end, so that the bytes held back never outgrow the reference's head.
#include "clean/css.h"
#include <string.h>
#include "clean/bytes.h"

// The states, numbered for the handler table (kCssHandlers, in this order).
enum : int32_t {
    kCssText,
    kCssSlash,
    kCssComment,
    kCssCommentStar,
    kCssString,
    kCssWord,
    kCssLongWord,
    kCssAtWord,
    kCssImport,
    kCssImportWord,
    kCssUrlOpen,
    kCssUrlBare,
    kCssUrlQuoted,
    kCssUrlClose,
    kCssSetString,
    kCssSkipRule,
    kCssStateCount
};

enum { kEscapeNone = 0, kEscapeStart = 1, kEscapeHex = 2 };

static inline bool IsBlank(uint32_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

static inline bool IsDigit(uint32_t c)
{
    return c >= '0' && c <= '9';
}

static inline bool IsHex(uint32_t c)
{
    return IsDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

static inline bool IsWordStart(uint32_t c, bool escaped)
{
    return escaped || IsLetter(c) || c == '_' || c == '-' || c >= 0x80;
}

static inline bool IsWordChar(uint32_t c, bool escaped)
{
    return IsWordStart(c, escaped) || IsDigit(c);
}

static inline char LowerByte(uint32_t c)
{
    if (c >= 'A' && c <= 'Z')
        return (char)(c + 32);
    return c < 0x80 ? (char)c : (char)0x80;     // outside ASCII: matches no word of ours
}

static bool WordIs(const CssScanner *s, const char *word)
{
    return s->wordLength == (int32_t)strlen(word) && memcmp(s->word, word, strlen(word)) == 0;
}

// "image-set" with any vendor prefix.
static bool WordIsImageSet(const CssScanner *s)
{
    static const char kWord[] = "image-set";
    int32_t n = (int32_t)sizeof kWord - 1;
    return s->wordLength >= n && memcmp(s->word + s->wordLength - n, kWord, (size_t)n) == 0 &&
           (s->wordLength == n || s->word[0] == '-');
}

void StartCssScanner(CssScanner *s, bool entities)
{
    s->state = kCssText;
    s->entities = entities;
    StartCharRefs(&s->refs);
    s->escape = kEscapeNone;
    s->escapeValue = 0;
    s->escapeDigits = 0;
    s->escapeStart = 0;
    s->wordLength = 0;
    s->quote = 0;
    s->importRule = false;
    s->depth = 0;
    s->imageSetDepth = 0;
    StartUrlHead(&s->head, false);
    s->holdFrom = -1;
    s->dropping = false;
    s->cutCount = 0;
}

static void Cut(CssScanner *s, int64_t end, bool first)
{
    if (end <= s->holdFrom)
        return;
    if (s->cutCount > 0 && s->cuts[s->cutCount - 1].end == s->holdFrom) {
        s->cuts[s->cutCount - 1].end = end;
    } else {
        CssCut &c = s->cuts[s->cutCount++];
        c.start = s->holdFrom;
        c.end = end;
        c.first = first;
    }
    s->holdFrom = end;
}

static void Release(CssScanner *s)
{
    s->holdFrom = -1;
    s->dropping = false;
}

static void Hold(CssScanner *s, int64_t start)
{
    s->holdFrom = start;
    s->dropping = false;
}

// The reference ends with the character ending at `end`.
static void EndReference(CssScanner *s, int64_t end)
{
    if (s->dropping)
        Cut(s, end, false);
    Release(s);
}

static void StartAddress(CssScanner *s)
{
    StartUrlHead(&s->head, false);
}

// The address decided: a network one goes from the reference's start.
static void Decided(CssScanner *s, AddressKind k, int64_t end)
{
    if (k == kAddressNetwork) {
        s->dropping = true;
        Cut(s, end, true);
    } else if (k != kAddressUndecided && !s->dropping) {
        Release(s);
    }
}

static void AddressChar(CssScanner *s, uint32_t c, int64_t end)
{
    if (s->head.kind != kAddressUndecided || s->dropping)
        return;
    Decided(s, UrlHeadChar(&s->head, c), end);
}

static void FinishAddress(CssScanner *s, int64_t end)
{
    if (s->dropping)
        return;
    Decided(s, FinishUrlHead(&s->head), end);
}

static void Token(CssScanner *s, uint32_t c, bool escaped, int64_t start, int64_t end);

// After the address of a url( or an @import string.
static void EndAddressPart(CssScanner *s, int64_t end)
{
    if (s->importRule && s->dropping) {
        Cut(s, end, false);
        s->state = kCssSkipRule;
        return;
    }
    EndReference(s, end);
    s->state = kCssText;
}

static void Reconsume(CssScanner *s, uint32_t c, bool escaped, int64_t start, int64_t end)
{
    s->state = kCssText;
    Token(s, c, escaped, start, end);
}

static void OnText(CssScanner *s, uint32_t c, bool escaped, int64_t start, int64_t)
{
    if (!escaped) {
        switch (c) {
        case '/':
            s->state = kCssSlash;
            return;
        case '"':
        case '\'':
            s->quote = c;
            if (s->imageSetDepth > 0) {
                Hold(s, start);
                StartAddress(s);
                s->state = kCssSetString;
            } else {
                s->state = kCssString;
            }
            return;
        case '@':
            Hold(s, start);
            s->wordLength = 0;
            s->state = kCssAtWord;
            return;
        case '(':
            s->depth++;
            return;
        case ')':
            if (s->depth > 0) {
                if (s->depth == s->imageSetDepth)
                    s->imageSetDepth = 0;
                s->depth--;
            }
            return;
        }
    }
    if (IsWordStart(c, escaped)) {
        Hold(s, start);
        s->word[0] = LowerByte(c);
        s->wordLength = 1;
        s->state = kCssWord;
    }
}

// Appends to the word; false when it has grown past any word of ours.
static bool AppendWord(CssScanner *s, uint32_t c)
{
    if (s->wordLength == kCssWordMax)
        return false;
    s->word[s->wordLength++] = LowerByte(c);
    return true;
}

// A character of the word being read is taken into it; a word longer than
// any of ours stops being held and is read on as a long word. False when the
// character ends the word.
static bool TakeWordChar(CssScanner *s, uint32_t c, bool escaped)
{
    if (!IsWordChar(c, escaped))
        return false;
    if (!AppendWord(s, c)) {
        Release(s);
        s->state = kCssLongWord;
    }
    return true;
}

// "url(" read: the address follows, of an @import rule or not.
static void StartUrl(CssScanner *s, bool importRule)
{
    s->importRule = importRule;
    StartAddress(s);
    s->state = kCssUrlOpen;
}

// The handlers of the states, one each: the character c (escaped: written
// as a CSS escape, so it has no syntax) from `start` to `end`.

static void OnSlash(CssScanner *s, uint32_t c, bool escaped, int64_t start, int64_t end)
{
    if (!escaped && c == '*')
        s->state = kCssComment;
    else
        Reconsume(s, c, escaped, start, end);
}

static void OnComment(CssScanner *s, uint32_t c, bool escaped, int64_t, int64_t)
{
    if (!escaped && c == '*')
        s->state = kCssCommentStar;
}

static void OnCommentStar(CssScanner *s, uint32_t c, bool escaped, int64_t, int64_t)
{
    if (!escaped && c == '/')
        s->state = kCssText;
    else if (escaped || c != '*')
        s->state = kCssComment;
}

static void OnString(CssScanner *s, uint32_t c, bool escaped, int64_t, int64_t)
{
    if (!escaped && (c == s->quote || c == '\n'))
        s->state = kCssText;
}

// A word, up to the character after it: "url(" begins an address,
// "image-set(" a list of them.
static void OnWord(CssScanner *s, uint32_t c, bool escaped, int64_t start, int64_t end)
{
    if (TakeWordChar(s, c, escaped))
        return;
    if (!escaped && c == '(' && WordIs(s, "url")) {
        StartUrl(s, false);
        return;
    }
    Release(s);
    if (!escaped && c == '(' && WordIsImageSet(s)) {
        s->depth++;
        if (s->imageSetDepth == 0)
            s->imageSetDepth = s->depth;
        s->state = kCssText;
        return;
    }
    Reconsume(s, c, escaped, start, end);
}

static void OnLongWord(CssScanner *s, uint32_t c, bool escaped, int64_t start, int64_t end)
{
    if (!IsWordChar(c, escaped))
        Reconsume(s, c, escaped, start, end);
}

static void OnAtWord(CssScanner *s, uint32_t c, bool escaped, int64_t start, int64_t end)
{
    if (TakeWordChar(s, c, escaped))
        return;
    if (WordIs(s, "import")) {
        s->state = kCssImport;
        Token(s, c, escaped, start, end);
        return;
    }
    Release(s);
    Reconsume(s, c, escaped, start, end);
}

static void OnImport(CssScanner *s, uint32_t c, bool escaped, int64_t start, int64_t end)
{
    if (!escaped && IsBlank(c))
        return;
    if (!escaped && (c == '"' || c == '\'')) {
        s->quote = c;
        s->importRule = true;
        StartAddress(s);
        s->state = kCssUrlQuoted;
        return;
    }
    if (IsWordStart(c, escaped)) {
        s->word[0] = LowerByte(c);
        s->wordLength = 1;
        s->state = kCssImportWord;
        return;
    }
    Release(s);
    Reconsume(s, c, escaped, start, end);
}

static void OnImportWord(CssScanner *s, uint32_t c, bool escaped, int64_t start, int64_t end)
{
    if (TakeWordChar(s, c, escaped))
        return;
    if (!escaped && c == '(' && WordIs(s, "url")) {
        StartUrl(s, true);
        return;
    }
    Release(s);
    Reconsume(s, c, escaped, start, end);
}

static void OnUrlOpen(CssScanner *s, uint32_t c, bool escaped, int64_t start, int64_t end)
{
    if (!escaped && IsBlank(c))
        return;
    if (!escaped && (c == '"' || c == '\'')) {
        s->quote = c;
        s->state = kCssUrlQuoted;
        return;
    }
    s->state = kCssUrlBare;
    Token(s, c, escaped, start, end);
}

static void OnUrlBare(CssScanner *s, uint32_t c, bool escaped, int64_t, int64_t end)
{
    if (!escaped && c == ')') {
        FinishAddress(s, end);
        EndAddressPart(s, end);
    } else if (!escaped && IsBlank(c)) {
        FinishAddress(s, end);
        s->state = kCssUrlClose;
    } else {
        AddressChar(s, c, end);
    }
}

static void OnUrlQuoted(CssScanner *s, uint32_t c, bool escaped, int64_t, int64_t end)
{
    if (escaped || (c != s->quote && c != '\n')) {
        AddressChar(s, c, end);
        return;
    }
    FinishAddress(s, end);
    if (s->importRule)
        EndAddressPart(s, end);
    else
        s->state = kCssUrlClose;
}

static void OnUrlClose(CssScanner *s, uint32_t c, bool escaped, int64_t, int64_t end)
{
    if (!escaped && c == ')')
        EndAddressPart(s, end);
}

static void OnSetString(CssScanner *s, uint32_t c, bool escaped, int64_t, int64_t end)
{
    if (escaped || (c != s->quote && c != '\n')) {
        AddressChar(s, c, end);
        return;
    }
    FinishAddress(s, end);
    EndReference(s, end);
    s->state = kCssText;
}

static void OnSkipRule(CssScanner *s, uint32_t c, bool escaped, int64_t, int64_t end)
{
    if (!escaped && c == ';') {
        EndReference(s, end);
        s->state = kCssText;
    }
}

typedef void CssHandler(CssScanner *s, uint32_t c, bool escaped, int64_t start, int64_t end);

static CssHandler *const kCssHandlers[kCssStateCount] = {
    OnText,     OnSlash,    OnComment,   OnCommentStar, OnString,   OnWord,
    OnLongWord, OnAtWord,   OnImport,    OnImportWord,  OnUrlOpen,  OnUrlBare,
    OnUrlQuoted, OnUrlClose, OnSetString, OnSkipRule,
};

// The dispatcher. Text, the state most characters are read in, is handled
// in place; a reference that goes is cut through each character it reads.
static void Token(CssScanner *s, uint32_t c, bool escaped, int64_t start, int64_t end)
{
    if (s->state == kCssText) {
        OnText(s, c, escaped, start, end);
        return;
    }
    if (s->dropping && s->holdFrom >= 0)
        Cut(s, end, false);
    kCssHandlers[s->state](s, c, escaped, start, end);
}

static inline uint32_t EscapedValue(uint32_t v)
{
    return v == 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF) ? 0xFFFD : v;
}

// The CSS escape layer over one decoded character.
static void EscapeLayer(CssScanner *s, const DecodedChar &d)
{
    switch (s->escape) {
    case kEscapeNone:
        // Comments and strings read escapes too, but a comment ends at "*/"
        // whatever precedes it.
        if (d.c == '\\' && s->state != kCssComment && s->state != kCssCommentStar) {
            s->escape = kEscapeStart;
            s->escapeStart = d.start;
            return;
        }
        Token(s, d.c, false, d.start, d.end);
        return;
    case kEscapeStart:
        if (IsHex(d.c)) {
            s->escape = kEscapeHex;
            s->escapeValue = IsDigit(d.c) ? d.c - '0' : ((d.c | 0x20) - 'a' + 10);
            s->escapeDigits = 1;
            return;
        }
        s->escape = kEscapeNone;
        if (d.c == '\n' || d.c == '\r' || d.c == '\f')
            return;     // a line continued
        Token(s, d.c, true, s->escapeStart, d.end);
        return;
    case kEscapeHex:
        if (IsHex(d.c) && s->escapeDigits < 6) {
            s->escapeValue = s->escapeValue * 16 + (IsDigit(d.c) ? d.c - '0' : ((d.c | 0x20) - 'a' + 10));
            s->escapeDigits++;
            return;
        }
        s->escape = kEscapeNone;
        if (IsBlank(d.c)) {
            Token(s, EscapedValue(s->escapeValue), true, s->escapeStart, d.end);
            return;
        }
        Token(s, EscapedValue(s->escapeValue), true, s->escapeStart, d.start);
        EscapeLayer(s, d);
        return;
    }
}

static void ScanByte(CssScanner *s, unsigned char c, int64_t at)
{
    if (!s->entities || (c != '&' && s->refs.state == 0)) {
        DecodedChar d = {c, at, at + 1};
        EscapeLayer(s, d);
        return;
    }
    DecodedChar out[kRefOutMax];
    int n = CharRefByte(&s->refs, c, at, out);
    for (int i = 0; i < n; i++)
        EscapeLayer(s, out[i]);
}

void CssScannerByte(CssScanner *s, unsigned char c, int64_t at)
{
    s->cutCount = 0;
    ScanByte(s, c, at);
}

// The bytes that, in text, can do more than begin or end a word: the
// syntax of references, strings and comments, escapes, references and the
// '<' that may end a STYLE element.
struct CssSpecials {
    bool of[256];
};

static constexpr CssSpecials BuildCssSpecials()
{
    CssSpecials t = {};
    for (const char *p = "()@\\\"'/&<"; *p; p++)
        t.of[(unsigned char)*p] = true;
    return t;
}

static constexpr CssSpecials kSpecials = BuildCssSpecials();

static inline bool IsWordByte(unsigned char c)
{
    return IsWordChar(c, false);
}

size_t CssScannerRun(CssScanner *s, const unsigned char *p, size_t n, int64_t at)
{
    s->cutCount = 0;
    size_t i = 0;
    while (i < n) {
        if (s->state == kCssText && s->holdFrom < 0 && s->escape == kEscapeNone &&
            s->refs.state == 0 && !kSpecials.of[p[i]]) {
            // Up to the next special byte nothing matters but the word
            // that is still open there: bytes one at a time would end
            // every earlier word without a '(' after it.
            size_t j = i + 1;
            while (j < n && !kSpecials.of[p[j]])
                j++;
            size_t k = j;
            while (k > i && IsWordByte(p[k - 1]))
                k--;
            while (k < j && IsDigit(p[k]))
                k++;
            if (k < j) {
                Hold(s, at + (int64_t)k);
                s->wordLength = 0;
                s->state = kCssWord;
                for (size_t w = k; w < j; w++) {
                    if (!AppendWord(s, p[w])) {
                        Release(s);
                        s->state = kCssLongWord;
                        break;
                    }
                }
            }
            i = j;
            continue;
        }
        ScanByte(s, p[i], at + (int64_t)i);
        i++;
        if (s->holdFrom >= 0 && !s->dropping && at + (int64_t)i - s->holdFrom >= kCssHoldMax)
            ForceCssDecision(s, at + (int64_t)i);
        if (s->cutCount)
            return i;
    }
    return i;
}

void FinishCssScanner(CssScanner *s, int64_t at)
{
    s->cutCount = 0;
    if (s->entities) {
        DecodedChar out[kRefOutMax];
        int n = FinishCharRefs(&s->refs, at, out);
        for (int i = 0; i < n; i++)
            EscapeLayer(s, out[i]);
    }
    if (s->escape == kEscapeStart)
        Token(s, 0xFFFD, true, s->escapeStart, at);
    else if (s->escape == kEscapeHex)
        Token(s, EscapedValue(s->escapeValue), true, s->escapeStart, at);
    s->escape = kEscapeNone;
    switch (s->state) {
    case kCssUrlOpen:
    case kCssUrlBare:
    case kCssUrlQuoted:
    case kCssSetString:
        FinishAddress(s, at);
        break;
    }
    if (s->dropping && s->holdFrom >= 0)
        Cut(s, at, false);
    Release(s);
    s->state = kCssText;
}

void ForceCssDecision(CssScanner *s, int64_t at)
{
    if (s->holdFrom < 0 || s->dropping)
        return;
    switch (s->state) {
    case kCssWord:
    case kCssAtWord:
        Release(s);
        s->state = kCssLongWord;
        return;
    }
    s->dropping = true;
    Cut(s, at, true);
    if (s->state == kCssImport || s->state == kCssImportWord)
        s->state = kCssSkipRule;
}
