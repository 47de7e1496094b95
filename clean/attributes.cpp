// Attribute cleaning pass: the last stage of a cleaning run. Copies the page
// unchanged except inside tags, where it removes, once per tag and at the
// first occurrence of each keyword:
//   - with RunFlags[4] (Internet): a `background` attribute whose value is an
//     http: reference, then the first url(...) reference;
//   - with RunFlags[2] (Styles): the `style` attribute.
//
// States:
//   kStateText (100)  bytes go straight to the output; TagBuffer is empty.
//   kStateTag  (200)  bytes are appended to TagBuffer until a '>'.
//
// Writes: text bytes as they come; each complete tag, edited, when its '>'
// arrives; the first 4096 bytes of an over-long tag unedited (AppendTagByte),
// after which the rest of that tag is copied as text. A tag still open when
// the input ends is written as it stands, unedited.
//
// Invariants: every edit happens inside TagBuffer on a complete tag whose
// last byte is its '>', and every scan stops at that '>', so nothing is read
// or written beyond TagLength. Removals move bytes by length, so a zero byte
// in the tag is kept like any other byte.
#include <string.h>
#include "clean/passes.h"
#include "clean/tagbuf.h"

enum {
    kStateText = 100,
    kStateTag = 200,
};

// The characters that may stand between a keyword and its value.
static const char kBackgroundGap[] = " '=\"\n";
static const char kStyleGap[] = " =\"";

bool IsAssignmentGap(int32_t start, int32_t count, const char *allowed);

// True when `count` is 0, or when each of the `count` bytes of TagBuffer at
// `start` is one of the characters of `allowed` and exactly one is '='.
// A zero byte in the tag never counts as a character of the set.
bool IsAssignmentGap(int32_t start, int32_t count, const char *allowed)
{
    if (count == 0)
        return true;
    int equals = 0;
    for (int32_t i = start; i < start + count; i++) {
        unsigned char c = TagBuffer[i];
        if (c == 0 || !strchr(allowed, c))
            return false;
        if (c == '=')
            equals++;
    }
    return equals == 1;
}

// Removes the bytes [from, to) of the tag, moving the rest of it down.
static void RemoveTagRange(int32_t from, int32_t to)
{
    memmove(TagBuffer + from, TagBuffer + to, (size_t)(TagLength - to));
    TagLength -= to - from;
}

// `background`, a gap of blanks, quotes, line feeds and one '=', then an
// http: value that ends before a blank or the '>', or with a line feed.
static void RemoveRemoteBackground()
{
    int32_t x = FindToken(TagBuffer, TagLength, "background");
    if (x < 0)
        return;
    // The value search leaves out the tag's '>'.
    int32_t a = FindToken(TagBuffer + x, TagLength - x - 1, "http:");
    if (a < 0)
        return;
    if (!IsAssignmentGap(x, a - 5, kBackgroundGap))
        return;
    int32_t end = x + a;
    while (end < TagLength - 1) {
        unsigned char c = TagBuffer[end];
        if (c == ' ' || c == '>')
            break;
        end++;
        if (c == '\n')
            break;
    }
    RemoveTagRange(x - 10, end);
}

// The first "url(" through the next ')'. Without a ')' in the tag, nothing.
static void RemoveUrlReference()
{
    int32_t b = FindToken(TagBuffer, TagLength, "url(");
    if (b < 0)
        return;
    const void *close = memchr(TagBuffer + b, ')', (size_t)(TagLength - b));
    if (!close)
        return;
    int32_t end = (int32_t)((const unsigned char *)close - TagBuffer) + 1;
    RemoveTagRange(b - 4, end);
}

// `style`, blanks and double quotes around one '=', then either a value in
// double quotes (removed through the closing quote) or any other value
// (removed through its first ';', or kept when it has none).
static void RemoveStyle()
{
    int32_t d = FindToken(TagBuffer, TagLength, "style");
    if (d < 0)
        return;
    int32_t e = d;
    while (TagBuffer[e] != '=') {
        if (TagBuffer[e] == '>' || e >= TagLength - 1)
            return;
        e++;
    }
    if (!IsAssignmentGap(d, e - d + 1, kStyleGap))
        return;

    int32_t stop = e;
    int quotes = 0;
    while (TagBuffer[stop] != '>' && stop < TagLength - 1) {
        if (TagBuffer[stop++] == '"' && ++quotes == 2)
            break;
    }
    if (TagBuffer[stop - 1] == '"') {
        RemoveTagRange(d - 5, stop);
        return;
    }

    for (int32_t i = e + 1; i < TagLength; i++) {
        if (TagBuffer[i] == '>')
            return;
        if (TagBuffer[i] == ';') {
            RemoveTagRange(d - 5, i + 1);
            return;
        }
    }
}

static void WriteEditedTag(ByteStream *output)
{
    if (RunFlags[4]) {
        RemoveRemoteBackground();
        RemoveUrlReference();
    }
    if (RunFlags[2])
        RemoveStyle();
    StreamWrite(output, TagBuffer, (size_t)TagLength);
    ResetTagBuffer();
}

void AttributePass(ByteStream *input, ByteStream *output)
{
    ResetTagBuffer();
    int state = kStateText;
    int c;
    while ((c = StreamGet(input)) >= 0) {
        if (state == kStateText) {
            if (c == '<') {
                AppendTagByte('<', output);
                state = kStateTag;
            } else {
                StreamPut(output, (unsigned char)c);
                StreamCopyUntil(input, output, '<');
            }
            continue;
        }
        // kStateTag. On an overflow this byte went out with the full buffer
        // and the rest of the tag is copied as text.
        if (AppendTagByte((unsigned char)c, output)) {
            state = kStateText;
            continue;
        }
        if (c == '>') {
            WriteEditedTag(output);
            state = kStateText;
        }
    }
    // The text after the page's last '<' is never lost.
    if (state == kStateTag)
        StreamWrite(output, TagBuffer, (size_t)TagLength);
}
