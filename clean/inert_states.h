// The inert filter's tokenizer: one handler per state and Step, the
// dispatcher that hands each byte to the handler of the state.
// An internal piece of the inert filter: inert.cpp builds its pieces as
// one unit, so that the calls between them stay inline.
#pragma once
#include "clean/inert_nest.h"

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
