// The inert filter's tree reading (HTML or foreign content, after each
// tag's '>') and the end of raw text.
// An internal piece of the inert filter: inert.cpp builds its pieces as
// one unit, so that the calls between them stay inline.
#pragma once
#include "clean/inert_attributes.h"

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
