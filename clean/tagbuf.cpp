#include "clean/tagbuf.h"
#include <string.h>
#include "clean/address.h"
#include "clean/bytescan.h"

// The slow path of AppendTagByte: the buffer has just filled up.
bool TagBufferOverflow(TagBuffer *t, ByteStream *output)
{
    WriteTagBuffer(t, output);
    ResetTagBuffer(t);
    return true;
}

TagCollect CollectTag(TagBuffer *t, ByteStream *input, ByteStream *output)
{
    for (;;) {
        const unsigned char *p;
        size_t avail = StreamPeek(input, &p);
        if (avail == 0)
            return kTagInputEnded;
        size_t room = (size_t)(kTagBufferSize - t->length);
        size_t span = avail < room ? avail : room;
        const unsigned char *gt = (const unsigned char *)memchr(p, '>', span);
        size_t take = gt ? (size_t)(gt - p) + 1 : span;
        memcpy(t->bytes + t->length, p, take);
        t->length += (int32_t)take;
        StreamSkip(input, take);
        // The byte that fills the buffer overflows it, even a '>'.
        if (t->length == kTagBufferSize) {
            TagBufferOverflow(t, output);
            return kTagOverflowed;
        }
        if (gt)
            return kTagComplete;
    }
}

int32_t FindToken(const unsigned char *data, int32_t length, const char *token)
{
    int32_t n = (int32_t)strlen(token);
    if (length < n + 3)
        return -1;
    const unsigned char *t = (const unsigned char *)token;
    if (!kTextCompareIsAscii || n < 2) {
        for (int32_t i = 0; i <= length - n; i++)
            if (TextEqualsIgnoreCase(data + i, token, n))
                return i + n;
        return -1;
    }
    // ASCII folding, compared here: a position can only match when its
    // first two bytes equal the token's with bit 5 ignored.
    unsigned char first = (unsigned char)(t[0] | 0x20), second = (unsigned char)(t[1] | 0x20);
    size_t candidates = (size_t)(length - n + 1);
    for (size_t i = FindFoldedPair(data, candidates, first, second); i < candidates;
         i += 1 + FindFoldedPair(data + i + 1, candidates - i - 1, first, second)) {
        int32_t k = 0;
        while (k < n && UpperAscii(data[i + k]) == UpperAscii(t[k]))
            k++;
        if (k == n)
            return i + n;
    }
    return -1;
}

static inline bool IsBlank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// A value that begins at `p`: quoted (up to its quote) or bare (up to a
// blank or the '>'). Sets its extent.
static void ValueAt(const unsigned char *tag, int32_t length, int32_t p, int32_t *start,
                    int32_t *end)
{
    int32_t last = length - 1;      // the tag's '>'
    if (p < last && (tag[p] == '"' || tag[p] == '\'')) {
        const unsigned char *q =
            (const unsigned char *)memchr(tag + p + 1, tag[p], (size_t)(last - p - 1));
        *start = p + 1;
        *end = q ? (int32_t)(q - tag) : last;
        return;
    }
    int32_t q = p;
    while (q < last && !IsBlank(tag[q]))
        q++;
    *start = p;
    *end = q;
}

bool IsRemoteLink(const TagBuffer *t, bool useSrc)
{
    const unsigned char *tag = t->bytes;
    int32_t length = t->length;
    int32_t p = FindToken(tag, length, useSrc ? "SRC" : "HREF");
    if (p < 0)
        return false;
    int32_t last = length - 1;      // the tag's '>'
    while (p < last && IsBlank(tag[p]))
        p++;
    if (p >= last || tag[p] != '=')
        return false;
    p++;
    while (p < last && IsBlank(tag[p]))
        p++;
    int32_t start, end;
    ValueAt(tag, length, p, &start, &end);
    return ReadAddress(tag + start, (size_t)(end - start), kSyntaxOne, false) == kAddressNetwork;
}

// One attribute of a tag held whole: its name and value as ranges.
struct TagAttribute {
    int32_t name, nameEnd;
    int32_t value, valueEnd;    // an empty range when it has none
};

// The attribute after position *pos (0: the tag's start, whose name is
// passed over first); false when there is none.
static bool NextAttribute(const unsigned char *tag, int32_t length, int32_t *pos, TagAttribute *a)
{
    int32_t last = length - 1;
    int32_t p = *pos;
    if (p == 0) {
        p = 1;
        while (p < last && !IsBlank(tag[p]) && tag[p] != '/')
            p++;
    }
    while (p < last && (IsBlank(tag[p]) || tag[p] == '/'))
        p++;
    if (p >= last)
        return false;
    a->name = p++;
    while (p < last && !IsBlank(tag[p]) && tag[p] != '/' && tag[p] != '=')
        p++;
    a->nameEnd = p;
    a->value = a->valueEnd = p;
    int32_t q = p;
    while (q < last && IsBlank(tag[q]))
        q++;
    if (q < last && tag[q] == '=') {
        q++;
        while (q < last && IsBlank(tag[q]))
            q++;
        bool quoted = q < last && (tag[q] == '"' || tag[q] == '\'');
        ValueAt(tag, length, q, &a->value, &a->valueEnd);
        p = quoted ? a->valueEnd + 1 : a->valueEnd;
    }
    *pos = p < last ? p : last;
    return true;
}

static bool NameEquals(const unsigned char *tag, const TagAttribute &a, const char *name)
{
    int32_t n = (int32_t)strlen(name);
    if (a.nameEnd - a.name != n)
        return false;
    for (int32_t i = 0; i < n; i++)
        if (UpperAscii(tag[a.name + i]) != UpperAscii((unsigned char)name[i]))
            return false;
    return true;
}

int32_t FindAttributeName(const unsigned char *tag, int32_t length, const char *name)
{
    int32_t pos = 0;
    TagAttribute a;
    while (NextAttribute(tag, length, &pos, &a))
        if (NameEquals(tag, a, name))
            return a.nameEnd;
    return -1;
}

bool HasNetworkValue(const TagBuffer *t)
{
    int32_t pos = 0;
    TagAttribute a;
    while (NextAttribute(t->bytes, t->length, &pos, &a)) {
        if (ReadAddress(t->bytes + a.value, (size_t)(a.valueEnd - a.value), kSyntaxOne, false) ==
            kAddressNetwork)
            return true;
    }
    return false;
}

bool IsNetworkRefresh(const TagBuffer *t)
{
    const unsigned char *tag = t->bytes;
    // Of attributes named twice, the first counts.
    bool refresh = false, network = false, seenEquiv = false, seenContent = false;
    int32_t pos = 0;
    TagAttribute a;
    while (NextAttribute(tag, t->length, &pos, &a)) {
        if (!seenEquiv && NameEquals(tag, a, "http-equiv")) {
            seenEquiv = true;
            int32_t v = a.value, e = a.valueEnd;
            while (v < e && IsBlank(tag[v]))
                v++;
            while (e > v && IsBlank(tag[e - 1]))
                e--;
            refresh = e - v == 7 && TextEqualsIgnoreCase(tag + v, "refresh", 7);
        } else if (!seenContent && NameEquals(tag, a, "content")) {
            seenContent = true;
            network = ReadAddress(tag + a.value, (size_t)(a.valueEnd - a.value), kSyntaxRefresh,
                                  false) == kAddressNetwork;
        }
    }
    return refresh && network;
}
