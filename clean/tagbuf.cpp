#include "clean/tagbuf.h"
#include <string.h>

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
    if (!kTextCompareIsAscii) {
        for (int32_t i = 0; i <= length - n; i++)
            if (TextEqualsIgnoreCase(data + i, token, n))
                return i + n;
        return -1;
    }
    // ASCII folding, compared here: a position can only match when its
    // first byte equals the token's first byte with bit 5 ignored.
    unsigned char first = (unsigned char)(t[0] | 0x20);
    for (int32_t i = 0; i <= length - n; i++) {
        if ((data[i] | 0x20) != first)
            continue;
        int32_t k = 0;
        while (k < n && UpperAscii(data[i + k]) == UpperAscii(t[k]))
            k++;
        if (k == n)
            return i + n;
    }
    return -1;
}

bool IsRemoteLink(const TagBuffer *t, bool useSrc)
{
    const unsigned char *tag = t->bytes;
    int32_t length = t->length;
    int32_t p = FindToken(tag, length, useSrc ? "SRC" : "HREF");
    if (p < 0)
        return false;
    // 0: expecting '='; 1: after '=', a quote may come; 2: after the quote.
    int phase = 0;
    for (;;) {
        // The tag ends with '>', so the scan stops inside the tag text.
        if (p >= length)
            return false;
        unsigned char c = UpperAscii(tag[p++]);
        if (c == '>')
            return false;
        if (c == ' ')
            continue;
        if (phase == 0) {
            if (c != '=')
                return false;
            phase = 1;
        } else if (c == 'H') {
            break;
        } else if (phase == 1 && (c == '\'' || c == '"')) {
            phase = 2;
        } else {
            return false;
        }
    }
    // The four bytes after the 'H'. When fewer are left in the tag, the
    // window takes in its '>' and cannot match.
    if (p + 4 > length)
        return false;
    return TextEqualsIgnoreCase(tag + p, "TTP:", 4);
}
