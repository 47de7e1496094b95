// Attribute cleaning pass: the last stage of a cleaning run. Copies the page
// unchanged except inside tags, where it removes, in rounds:
//   - with Internet: the first attribute named `background` when its value
//     is an http: reference, then the first url(...) reference;
//   - with Styles: the first attribute named `style`.
// An attribute rule acts only on an attribute whose whole name is its
// keyword, in any case (`data-style` and a `style` inside a value are not
// one). A round that removed something is followed by another on what it
// left, until a round removes nothing: so the tags it writes are the ones
// it would write again if it read them (a clean of its own output changes
// nothing), whether a tag held two style attributes or two url( references.
// What it writes then goes through the inert filter (inert.h), which with
// Scripts or Internet reads every tag as a browser does and removes what
// would run or load from the network. Every removal is counted by kind.
//
// The pass is a filter over runs of bytes (AttributeFilterBytes), so that it
// can take the previous stage's output as it is written, and its states
// carry over from one run to the next:
//   text (inTag false)  bytes go to the output; the tag buffer is empty.
//   tag  (inTag true)   a tag that began in an earlier run: its bytes so far
//                       are in the tag buffer, more are appended to its '>'.
// Within a run, a tag whose '>' is in the same run is looked at where it
// lies; only a tag that one of the keywords occurs in is copied into the
// buffer and edited. Unchanged bytes are written a stretch at a time.
//
// Writes (into the inert filter when it runs): text bytes as they come; each complete tag, edited, when its '>'
// arrives; the first 4096 bytes of an over-long tag unedited (the append of
// its 4096th byte overflows the tag buffer), after which the rest of that tag is copied as text. A tag still open when
// the input ends is written as it stands, unedited.
//
// Invariants: every edit happens inside the tag buffer on a complete tag
// whose last byte is its '>', and every scan stops at that '>', so nothing
// is read or written beyond its length. A tag in which no keyword occurs is
// never changed by the edits, so passing it over unexamined is the same as
// editing it. Removals move bytes by length, so a zero byte in the tag is
// kept like any other byte.
#include <string.h>
#include "clean/passes.h"

// Bytes on their way out: through the inert filter when it runs.
static void Emit(AttributeFilter *f, const unsigned char *p, size_t n)
{
    if (f->inertOn)
        InertFilterBytes(&f->inert, p, n);
    else
        StreamWrite(f->output, p, n);
}

static void Count(AttributeFilter *f, RemovalKind kind, int32_t bytes)
{
    if (bytes > 0)
        TallyRemoval(f->tally, kind, bytes);
}

// The characters that may stand between a keyword and its value.
static const char kBackgroundGap[] = " '=\"\n";
static const char kStyleGap[] = " =\"";

// True when `count` is 0, or when each of the `count` bytes of the tag at
// `start` is one of the characters of `allowed` and exactly one is '='.
// A zero byte in the tag never counts as a character of the set.
static bool IsAssignmentGap(const TagBuffer *t, int32_t start, int32_t count,
                            const char *allowed)
{
    if (count == 0)
        return true;
    int equals = 0;
    for (int32_t i = start; i < start + count; i++) {
        unsigned char c = t->bytes[i];
        if (c == 0 || !strchr(allowed, c))
            return false;
        if (c == '=')
            equals++;
    }
    return equals == 1;
}

// Removes the bytes [from, to) of the tag, moving the rest of it down;
// answers how many.
static int32_t RemoveTagRange(TagBuffer *t, int32_t from, int32_t to)
{
    memmove(t->bytes + from, t->bytes + to, (size_t)(t->length - to));
    t->length -= to - from;
    return to - from;
}

// An attribute named `background`, a gap of blanks, quotes, line feeds and one '=', then an
// http: value that ends before a blank or the '>', or with a line feed.
// Each Remove* answers how many bytes it removed.
static int32_t RemoveRemoteBackground(TagBuffer *t)
{
    unsigned char *tag = t->bytes;
    int32_t x = FindAttributeName(tag, t->length, "background");
    if (x < 0)
        return 0;
    // The value search leaves out the tag's '>'.
    int32_t a = FindToken(tag + x, t->length - x - 1, "http:");
    if (a < 0)
        return 0;
    if (!IsAssignmentGap(t, x, a - 5, kBackgroundGap))
        return 0;
    int32_t end = x + a;
    while (end < t->length - 1) {
        unsigned char c = tag[end];
        if (c == ' ' || c == '>')
            break;
        end++;
        if (c == '\n')
            break;
    }
    return RemoveTagRange(t, x - 10, end);
}

// The first "url(" through the next ')'. Without a ')' in the tag, nothing.
static int32_t RemoveUrlReference(TagBuffer *t)
{
    unsigned char *tag = t->bytes;
    int32_t b = FindToken(tag, t->length, "url(");
    if (b < 0)
        return 0;
    const void *close = memchr(tag + b, ')', (size_t)(t->length - b));
    if (!close)
        return 0;
    int32_t end = (int32_t)((const unsigned char *)close - tag) + 1;
    return RemoveTagRange(t, b - 4, end);
}

// An attribute named `style`, blanks and double quotes around one '=', then either a value in
// double quotes (removed through the closing quote) or any other value
// (removed through its first ';', or kept when it has none).
static int32_t RemoveStyle(TagBuffer *t)
{
    unsigned char *tag = t->bytes;
    int32_t d = FindAttributeName(tag, t->length, "style");
    if (d < 0)
        return 0;
    int32_t e = d;
    while (tag[e] != '=') {
        if (tag[e] == '>' || e >= t->length - 1)
            return 0;
        e++;
    }
    if (!IsAssignmentGap(t, d, e - d + 1, kStyleGap))
        return 0;

    // Through the second double quote from the '=', or up to the first '>'
    // (or the tag's last byte) when there are fewer before it.
    const unsigned char *gt = (const unsigned char *)memchr(tag + e, '>', (size_t)(t->length - 1 - e));
    int32_t limit = gt ? (int32_t)(gt - tag) : t->length - 1;
    int32_t stop = limit;
    const unsigned char *q = (const unsigned char *)memchr(tag + e, '"', (size_t)(limit - e));
    if (q)
        q = (const unsigned char *)memchr(q + 1, '"', (size_t)(tag + limit - (q + 1)));
    if (q)
        stop = (int32_t)(q - tag) + 1;
    if (tag[stop - 1] == '"')
        return RemoveTagRange(t, d - 5, stop);

    for (int32_t i = e + 1; i < t->length; i++) {
        if (tag[i] == '>')
            return 0;
        if (tag[i] == ';')
            return RemoveTagRange(t, d - 5, i + 1);
    }
    return 0;
}

// Whether the first `n` bytes at p equal the upper-case ASCII token.
static inline bool EqualsUpperAscii(const unsigned char *p, const char *token, int32_t n)
{
    for (int32_t k = 0; k < n; k++)
        if (UpperAscii(p[k]) != (unsigned char)token[k])
            return false;
    return true;
}

// The keywords by a byte of theirs that is rare in tags, either case: the
// 'K' of "background" (bit 0), the '(' of "url(" (bit 1) and the 'Y' of
// "style" (bit 2). Most tags hold none of them.
struct KeywordAnchors {
    unsigned char of[256];
};

static constexpr KeywordAnchors BuildKeywordAnchors()
{
    KeywordAnchors anchors = {};
    anchors.of[(unsigned char)'k'] = anchors.of[(unsigned char)'K'] = 1;
    anchors.of[(unsigned char)'('] = 2;
    anchors.of[(unsigned char)'y'] = anchors.of[(unsigned char)'Y'] = 4;
    return anchors;
}

static constexpr KeywordAnchors kAnchors = BuildKeywordAnchors();

// Whether the token of `n` bytes, whose anchor byte is its byte `at`, lies
// in the tag around the anchor found at j.
static inline bool TokenAround(const unsigned char *tag, int32_t length, int32_t j,
                               const char *token, int32_t at, int32_t n)
{
    int32_t i = j - at;
    return i >= 0 && i + n <= length && EqualsUpperAscii(tag + i, token, n);
}

// The keywords, as bits of a set.
enum {
    kHasBackground = 1,
    kHasUrl = 2,
    kHasStyle = 4,
    kHasAny = kHasBackground | kHasUrl | kHasStyle,
};

// Which keywords the switches look for occur in the `length` bytes of a
// whole tag at `tag`, by FindToken's rules; none: no edit can change it.
// With ASCII folding, one pass over the tag looks for all three, from
// `from` on, and only for `possible` (kHas* bits): a keyword's anchor never
// lies before the first byte of its pair (FindTagEnd), and a keyword whose
// pair is not in the tag is not either.
static unsigned KeywordsIn(const AttributeFilter *f, const unsigned char *tag, int32_t length,
                           int32_t from, unsigned possible)
{
    unsigned found = 0;
    if (!kTextCompareIsAscii) {
        if (f->internet && FindToken(tag, length, "background") >= 0)
            found |= kHasBackground;
        if (f->internet && FindToken(tag, length, "url(") >= 0)
            found |= kHasUrl;
        if (f->styles && FindToken(tag, length, "style") >= 0)
            found |= kHasStyle;
        return found;
    }
    // A keyword is looked for only in a tag at least 3 bytes longer than it.
    unsigned wanted = 0;
    if (f->internet && length >= 10 + 3)
        wanted |= kHasBackground;
    if (f->internet && length >= 4 + 3)
        wanted |= kHasUrl;
    if (f->styles && length >= 5 + 3)
        wanted |= kHasStyle;
    wanted &= possible;
    for (int32_t j = from; j < length && found != wanted; j++) {
        unsigned k = kAnchors.of[tag[j]] & wanted & ~found;
        if (!k)
            continue;
        if ((k & kHasBackground) && TokenAround(tag, length, j, "BACKGROUND", 3, 10))
            found |= kHasBackground;
        if ((k & kHasUrl) && TokenAround(tag, length, j, "URL(", 3, 4))
            found |= kHasUrl;
        if ((k & kHasStyle) && TokenAround(tag, length, j, "STYLE", 2, 5))
            found |= kHasStyle;
    }
    return found;
}

// The tag buffer holds a whole tag: edit it in rounds until one removes
// nothing, write it, empty the buffer. An edit whose keyword the tag lacks
// does nothing, unless an edit before it joined bytes that now spell it.
// Every round that goes on has shortened the tag, so the rounds end.
static void WriteEditedTag(AttributeFilter *f, unsigned found)
{
    TagBuffer *t = &f->tag;
    int32_t length = t->length;
    for (;;) {
        int32_t before = t->length;
        if (f->internet) {
            if (found & kHasBackground)
                Count(f, kRemovedBackgrounds, RemoveRemoteBackground(t));
            if ((found & kHasUrl) || t->length != length)
                Count(f, kRemovedUrlReferences, RemoveUrlReference(t));
        }
        if (f->styles && ((found & kHasStyle) || t->length != length))
            Count(f, kRemovedStyleAttributes, RemoveStyle(t));
        if (t->length == before)
            break;
    }
    Emit(f, t->bytes, (size_t)t->length);
    ResetTagBuffer(t);
}

bool AttributeStageWanted(const CleanSwitches *sw)
{
    return sw->styles || sw->internet || InertFilterWanted(sw);
}

void StartAttributeFilter(AttributeFilter *f, const CleanSwitches *sw, ByteStream *output,
                          RemovalTally *tally)
{
    f->styles = sw->styles;
    f->internet = sw->internet;
    f->inTag = false;
    f->output = output;
    f->tally = tally;
    f->inertOn = InertFilterWanted(sw);
    if (f->inertOn)
        StartInertFilter(&f->inert, sw, output, tally);
    // Two bytes in a row of each keyword, rare in tags, folded to lower
    // case: "kg" of background, "l(" of url(, "yl" of style.
    SetBytePairs(&f->keywordPairs, f->internet ? (f->styles ? "kgl(yl" : "kgl(") : "yl");
    f->pairKeywords[0] = f->internet ? kHasBackground : kHasStyle;
    f->pairKeywords[1] = kHasUrl;
    f->pairKeywords[2] = kHasStyle;
    ResetTagBuffer(&f->tag);
}

// A tag begun in an earlier run: takes its bytes from [p, end) up to its
// '>', or until the buffer fills. Answers where the text goes on.
static const unsigned char *ContinueTag(AttributeFilter *f, const unsigned char *p,
                                        const unsigned char *end)
{
    TagBuffer *t = &f->tag;
    size_t room = (size_t)(kTagBufferSize - t->length);
    size_t span = (size_t)(end - p) < room ? (size_t)(end - p) : room;
    const unsigned char *gt = (const unsigned char *)memchr(p, '>', span);
    size_t take = gt ? (size_t)(gt - p) + 1 : span;
    memcpy(t->bytes + t->length, p, take);
    t->length += (int32_t)take;
    if (t->length == kTagBufferSize) {
        // On an overflow the tag goes out unedited; the rest of it is text.
        Emit(f, t->bytes, (size_t)t->length);
        ResetTagBuffer(t);
        f->inTag = false;
    } else if (gt) {
        WriteEditedTag(f, kHasAny);
        f->inTag = false;
    }
    return p + take;
}

void AttributeFilterBytes(AttributeFilter *f, const unsigned char *p, size_t n)
{
    const unsigned char *end = p + n;
    if (f->inTag) {
        p = ContinueTag(f, p, end);
        if (f->inTag)
            return;
    }
    if (!f->styles && !f->internet) {
        Emit(f, p, (size_t)(end - p));
        return;
    }
    const unsigned char *unwritten = p;
    while (p < end) {
        // Under ASCII folding a tag without a pair of the keywords needs no
        // edit: those go by in one call. (Under a locale's comparison
        // every tag is looked at.)
        if (kTextCompareIsAscii) {
            p += SkipPlainTags(&f->keywordPairs, p, (size_t)(end - p), kTagBufferSize);
            if (p == end)
                break;
        }
        const unsigned char *lt = FindByte(p, (size_t)(end - p), '<');
        if (!lt)
            break;
        size_t avail = (size_t)(end - lt);
        size_t span = avail < (size_t)kTagBufferSize ? avail : (size_t)kTagBufferSize;
        size_t firstPair;
        size_t k = FindTagEnd(&f->keywordPairs, lt + 1, span - 1, &firstPair);
        if (k < span - 1) {
            const unsigned char *gt = lt + 1 + k;
            int32_t length = (int32_t)(gt - lt) + 1;
            p = gt + 1;
            // A tag of 4096 bytes overflows the buffer: it goes out unedited.
            // Under a locale's comparison other bytes may match a keyword's
            // letters: there every tag is looked at.
            unsigned found = 0;
            if (length < kTagBufferSize && (firstPair < k || !kTextCompareIsAscii)) {
                // The pairs from the first on, to know which keywords may be there.
                unsigned pairs = firstPair < k ? PairsIn(&f->keywordPairs, lt + firstPair,
                                                         (size_t)length - firstPair)
                                               : 0;
                unsigned possible = 0;
                for (int i = 0; i < 3; i++)
                    if (pairs & (1u << i))
                        possible |= f->pairKeywords[i];
                found = KeywordsIn(f, lt, length, (int32_t)firstPair, possible);
            }
            if (found) {
                Emit(f, unwritten, (size_t)(lt - unwritten));
                memcpy(f->tag.bytes, lt, (size_t)length);
                f->tag.length = length;
                WriteEditedTag(f, found);
                unwritten = p;
            }
        } else if (avail >= kTagBufferSize) {
            p = lt + kTagBufferSize;        // overflowed unedited; the rest is text
        } else {
            // The tag goes on in the next run.
            Emit(f, unwritten, (size_t)(lt - unwritten));
            memcpy(f->tag.bytes, lt, avail);
            f->tag.length = (int32_t)avail;
            f->inTag = true;
            return;
        }
    }
    Emit(f, unwritten, (size_t)(end - unwritten));
}

void AttributeFilterSink(void *filter, const unsigned char *data, size_t n)
{
    AttributeFilterBytes((AttributeFilter *)filter, data, n);
}

void FinishAttributeFilter(AttributeFilter *f)
{
    // The text after the page's last '<' is never lost.
    if (f->inTag)
        Emit(f, f->tag.bytes, (size_t)f->tag.length);
    f->inTag = false;
    ResetTagBuffer(&f->tag);
    if (f->inertOn)
        FinishInertFilter(&f->inert);
}

void AttributePass(const CleanSwitches *sw, ByteStream *input, ByteStream *output)
{
    AttributePass(sw, input, output, nullptr);
}

void AttributePass(const CleanSwitches *sw, ByteStream *input, ByteStream *output,
                   RemovalTally *tally)
{
    AttributeFilter f;
    StartAttributeFilter(&f, sw, output, tally);
    const unsigned char *data;
    size_t n;
    while ((n = StreamPeek(input, &data)) > 0) {
        AttributeFilterBytes(&f, data, n);
        StreamSkip(input, n);
    }
    FinishAttributeFilter(&f);
}
