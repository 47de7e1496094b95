#include "clean/tagbuf.h"
#include <string.h>

unsigned char TagBuffer[kTagBufferSize];
int32_t TagLength;

void ResetTagBuffer()
{
    TagLength = 0;
    TagBuffer[0] = 0;
}

// The slow path of AppendTagByte: the buffer has just filled up.
bool TagBufferOverflow(ByteStream *output)
{
    StreamWrite(output, TagBuffer, kTagBufferSize);
    ResetTagBuffer();
    return true;
}

int32_t FindToken(const unsigned char *data, int32_t length, const char *token)
{
    int32_t n = (int32_t)strlen(token);
    if (length < n + 3)
        return -1;
    // With ASCII folding, a position can only match when its first byte
    // equals the token's first byte with bit 5 ignored; the few others that
    // pass this test are decided by the full comparison.
    unsigned char first = (unsigned char)(token[0] | 0x20);
    for (int32_t i = 0; i <= length - n; i++) {
        if (kTextCompareIsAscii && (data[i] | 0x20) != first)
            continue;
        if (TextEqualsIgnoreCase(data + i, token, n))
            return i + n;
    }
    return -1;
}

bool IsRemoteLink(bool useSrc)
{
    int32_t p = FindToken(TagBuffer, TagLength, useSrc ? "SRC" : "HREF");
    if (p < 0)
        return false;
    // 0: expecting '='; 1: after '=', a quote may come; 2: after the quote.
    int phase = 0;
    for (;;) {
        // The tag ends with '>', so the scan stops inside the tag text.
        if (p >= TagLength)
            return false;
        unsigned char c = UpperAscii(TagBuffer[p++]);
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
    if (p + 4 > TagLength)
        return false;
    return TextEqualsIgnoreCase(TagBuffer + p, "TTP:", 4);
}
