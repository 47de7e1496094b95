// The rule for any layout: the lexer, a loop handing its state to one
// small named helper at a time.
// An internal piece of the rule for any layout: anylayout.cpp builds its
// pieces as one unit, so that the lexer's calls into the outline stay inline.
#pragma once
#include "clean/anylayout_outline.h"

namespace {

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

}  // namespace
