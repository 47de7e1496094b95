// Buffered byte streams: see stream.h.
//
// The stream keeps a logical position, bufStart + pos, and moves data with
// positional reads and writes, so switching between reading and writing, or
// seeking, needs no file pointer of the platform's.
#include "clean/stream.h"
#include <string.h>
#include "clean/fs.h"

void StreamAttach(ByteStream *s, FileHandle file)
{
    s->file = file;
    s->isOpen = true;
    s->mode = kStreamIdle;
    s->bufStart = 0;
    s->pos = 0;
    s->len = 0;
    s->atEnd = false;
    s->readError = false;
    s->writeError = false;
}

int64_t StreamTell(const ByteStream *s)
{
    return s->bufStart + (int64_t)s->pos;
}

bool StreamFlush(ByteStream *s)
{
    if (s->mode != kStreamWriting || s->pos == 0)
        return !s->writeError;
    if (!s->writeError && !PlatformWriteAt(s->file, s->buf, s->pos, s->bufStart))
        s->writeError = true;
    s->bufStart += (int64_t)s->pos;
    s->pos = 0;
    return !s->writeError;
}

// Leaves the current mode with the logical position kept and the buffer empty.
static void StreamGoIdle(ByteStream *s)
{
    if (s->mode == kStreamWriting)
        StreamFlush(s);
    s->bufStart += (int64_t)s->pos;
    s->pos = 0;
    s->len = 0;
    s->mode = kStreamIdle;
}

int StreamFill(ByteStream *s)
{
    if (!s->isOpen || s->readError)
        return -1;
    if (s->mode == kStreamReading && s->pos < s->len)
        return s->buf[s->pos++];
    if (s->mode == kStreamReading && s->atEnd)
        return -1;
    StreamGoIdle(s);
    s->mode = kStreamReading;
    long n = PlatformReadAt(s->file, s->buf, kStreamBufferSize, s->bufStart);
    if (n < 0) {
        s->readError = true;
        return -1;
    }
    s->len = (size_t)n;
    if (n == 0) {
        s->atEnd = true;
        return -1;
    }
    return s->buf[s->pos++];
}

void StreamPutSlow(ByteStream *s, unsigned char c)
{
    if (!s->isOpen) {
        s->writeError = true;
        return;
    }
    if (s->mode == kStreamWriting)
        StreamFlush(s);
    else {
        StreamGoIdle(s);
        s->mode = kStreamWriting;
    }
    s->buf[s->pos++] = c;
}

void StreamWrite(ByteStream *s, const void *data, size_t n)
{
    const unsigned char *p = (const unsigned char *)data;
    while (n > 0) {
        if (s->mode != kStreamWriting || s->pos == kStreamBufferSize) {
            StreamPutSlow(s, *p++);
            n--;
            continue;
        }
        size_t room = kStreamBufferSize - s->pos;
        size_t k = n < room ? n : room;
        memcpy(s->buf + s->pos, p, k);
        s->pos += k;
        p += k;
        n -= k;
    }
}

void StreamCopyUntil(ByteStream *in, ByteStream *out, unsigned char stop)
{
    for (;;) {
        if (in->mode == kStreamReading && in->pos < in->len) {
            const unsigned char *from = in->buf + in->pos;
            size_t avail = in->len - in->pos;
            const unsigned char *hit = (const unsigned char *)memchr(from, stop, avail);
            size_t n = hit ? (size_t)(hit - from) : avail;
            StreamWrite(out, from, n);
            in->pos += n;
            if (hit)
                return;
        }
        int c = StreamFill(in);
        if (c < 0)
            return;
        in->pos--;                  // StreamFill consumed it; leave it unread
    }
}

void StreamWriteText(ByteStream *s, const char *text)
{
    StreamWrite(s, text, strlen(text));
}

bool StreamSeek(ByteStream *s, int64_t offset)
{
    if (!s->isOpen || offset < 0)
        return false;
    // A seek back into the bytes already buffered for reading (the form
    // restore of the element pass) keeps the buffer.
    if (s->mode == kStreamReading && offset >= s->bufStart &&
        offset <= s->bufStart + (int64_t)s->len) {
        s->pos = (size_t)(offset - s->bufStart);
        s->atEnd = false;
        return true;
    }
    StreamGoIdle(s);
    s->bufStart = offset;
    s->atEnd = false;
    return !s->writeError;
}

bool StreamClose(ByteStream *s)
{
    if (!s->isOpen)
        return true;
    bool ok = StreamFlush(s);
    if (!PlatformClose(s->file))
        ok = false;
    s->isOpen = false;
    s->mode = kStreamIdle;
    return ok && !s->writeError;
}
