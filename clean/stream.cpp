// Buffered byte streams: see stream.h.
//
// A file stream keeps a logical position, bufStart + pos, and moves data
// with positional reads and writes, so switching between reading and
// writing, or seeking, needs no file pointer of the platform's. A memory
// stream's window is its memory, so its position is pos alone.
#include "clean/stream.h"
#include <stdlib.h>
#include <string.h>
#include "platform/file.h"

static void StartStream(ByteStream *s, int kind)
{
    s->buf = s->store;
    s->pos = 0;
    s->len = 0;
    s->room = 0;
    s->mode = kStreamIdle;
    s->kind = kind;
    s->isOpen = true;
    s->atEnd = false;
    s->readError = false;
    s->writeError = false;
    s->bufStart = 0;
    s->file = -1;
    s->memSize = 0;
    s->memCapacity = 0;
    s->memOwned = false;
    s->memLimit = SIZE_MAX;
    s->overLimit = false;
    s->sink = nullptr;
    s->reader = nullptr;
    s->context = nullptr;
    s->watch = nullptr;
    s->watchContext = nullptr;
    s->writeBehind = false;
    s->writtenBehind = 0;
}

void StreamAttach(ByteStream *s, FileHandle file)
{
    StartStream(s, kStreamFile);
    s->file = file;
}

bool StreamCreateTemp(ByteStream *s)
{
    FileHandle file;
    if (!CreateTempFile(&file))
        return false;
    StreamAttach(s, file);
    return true;
}

void StreamOpenMemory(ByteStream *s, const void *data, size_t n)
{
    StartStream(s, kStreamMemory);
    s->buf = (unsigned char *)data;     // never written: not owned
    s->memSize = n;
    s->memCapacity = n;
    s->mode = kStreamReading;
    s->len = n;
}

void StreamOpenBuffer(ByteStream *s)
{
    StartStream(s, kStreamMemory);
    s->buf = nullptr;
    s->memOwned = true;
}

void StreamOpenBufferLimited(ByteStream *s, size_t limit)
{
    StreamOpenBuffer(s);
    s->memLimit = limit;
}

void StreamOpenSink(ByteStream *s, StreamSinkProc sink, void *context)
{
    StartStream(s, kStreamSink);
    s->sink = sink;
    s->context = context;
}

void StreamOpenReader(ByteStream *s, StreamReadProc reader, void *context)
{
    StartStream(s, kStreamReader);
    s->reader = reader;
    s->context = context;
}

void StreamWatchReads(ByteStream *s, StreamWatchProc watch, void *context)
{
    s->watch = watch;
    s->watchContext = context;
}

void StreamWriteBehind(ByteStream *s)
{
    s->writeBehind = s->kind == kStreamFile;
    s->writtenBehind = s->bufStart;
}

void StreamOpenTwin(ByteStream *twin, const ByteStream *of)
{
    if (of->kind == kStreamMemory)
        StreamOpenMemory(twin, of->buf, StreamMemorySize(of));
    else if (of->kind == kStreamReader)
        StreamOpenReader(twin, of->reader, of->context);
    else
        StreamAttach(twin, of->file);
}

size_t StreamMemorySize(const ByteStream *s)
{
    if (s->mode == kStreamWriting && s->pos > s->memSize)
        return s->pos;
    return s->memSize;
}

const unsigned char *StreamMemoryData(const ByteStream *s)
{
    return s->buf;
}

int64_t StreamTell(const ByteStream *s)
{
    return s->bufStart + (int64_t)s->pos;
}

bool StreamFlush(ByteStream *s)
{
    if (s->mode != kStreamWriting)
        return !s->writeError;
    if (s->kind == kStreamMemory) {
        s->memSize = StreamMemorySize(s);
        return !s->writeError;
    }
    if (s->pos == 0)
        return !s->writeError;
    if (s->kind == kStreamSink)
        s->sink(s->context, s->buf, s->pos);
    else if (!s->writeError && !PlatformWriteAt(s->file, s->buf, s->pos, s->bufStart))
        s->writeError = true;
    s->bufStart += (int64_t)s->pos;
    s->pos = 0;
    if (s->writeBehind && s->bufStart - s->writtenBehind >= kWriteBehindSpan && !s->writeError) {
        PlatformStartWriting(s->file, s->writtenBehind, s->bufStart - s->writtenBehind);
        s->writtenBehind = s->bufStart;
    }
    return !s->writeError;
}

// Leaves the current mode with the logical position kept and the window
// empty.
static void StreamGoIdle(ByteStream *s)
{
    if (s->mode == kStreamWriting)
        StreamFlush(s);
    if (s->kind != kStreamMemory) {
        s->bufStart += (int64_t)s->pos;
        s->pos = 0;
    }
    s->len = 0;
    s->room = 0;
    s->mode = kStreamIdle;
}

int StreamFill(ByteStream *s)
{
    if (!s->isOpen || s->readError)
        return -1;
    if (s->pos < s->len)
        return s->buf[s->pos++];
    if (s->mode == kStreamReading && s->atEnd)
        return -1;
    if (s->kind == kStreamSink) {
        s->readError = true;
        return -1;
    }
    StreamGoIdle(s);
    s->mode = kStreamReading;
    if (s->kind == kStreamMemory) {
        s->len = s->memSize;
    } else {
        long n = s->kind == kStreamFile
                     ? PlatformReadAt(s->file, s->buf, kStreamBufferSize, s->bufStart)
                     : s->reader(s->context, s->buf, kStreamBufferSize, s->bufStart);
        if (n < 0) {
            s->readError = true;
            return -1;
        }
        s->len = (size_t)n;
        if (s->watch)
            s->watch(s->watchContext, s->bufStart + n);
    }
    if (s->pos >= s->len) {
        s->atEnd = true;
        return -1;
    }
    return s->buf[s->pos++];
}

// Makes room for `need` bytes in a memory stream's own buffer, doubling it
// up to its limit.
static bool GrowMemory(ByteStream *s, size_t need)
{
    if (need <= s->memCapacity)
        return true;
    if (need > s->memLimit) {
        s->overLimit = true;
        s->writeError = true;
        return false;
    }
    size_t grown = s->memCapacity ? s->memCapacity : (size_t)kStreamBufferSize;
    while (grown < need && grown <= SIZE_MAX / 2)
        grown *= 2;
    if (grown > s->memLimit)
        grown = s->memLimit;
    unsigned char *p = grown >= need ? (unsigned char *)realloc(s->buf, grown) : nullptr;
    if (!p) {
        s->writeError = true;
        return false;
    }
    s->buf = p;
    s->memCapacity = grown;
    return true;
}

// Opens the window for writing at least one byte; false when nothing can
// be written.
static bool MakeRoom(ByteStream *s)
{
    if (!s->isOpen || (s->kind == kStreamMemory && !s->memOwned) || s->kind == kStreamReader) {
        s->writeError = true;
        return false;
    }
    bool starting = s->mode != kStreamWriting;
    if (starting) {
        StreamGoIdle(s);
        s->mode = kStreamWriting;
    }
    if (s->kind != kStreamMemory) {
        if (!starting)
            StreamFlush(s);
        s->room = kStreamBufferSize;
        return true;
    }
    if (s->pos == SIZE_MAX || !GrowMemory(s, s->pos + 1)) {
        s->room = 0;
        return false;
    }
    // A write past the end fills the gap with zeros, as a file would.
    if (starting && s->pos > s->memSize) {
        memset(s->buf + s->memSize, 0, s->pos - s->memSize);
        s->memSize = s->pos;
    }
    s->room = s->memCapacity;
    return true;
}

void StreamPutSlow(ByteStream *s, unsigned char c)
{
    if (s->pos >= s->room && !MakeRoom(s))
        return;
    s->buf[s->pos++] = c;
}

void StreamWrite(ByteStream *s, const void *data, size_t n)
{
    const unsigned char *p = (const unsigned char *)data;
    while (n > 0) {
        if (s->pos >= s->room) {
            // A memory stream grows once for the whole write.
            if (s->kind == kStreamMemory && s->mode == kStreamWriting && s->isOpen &&
                n <= SIZE_MAX - s->pos && GrowMemory(s, s->pos + n))
                s->room = s->memCapacity;
            else if (!MakeRoom(s))
                return;
        }
        size_t k = s->room - s->pos;
        if (k > n)
            k = n;
        memcpy(s->buf + s->pos, p, k);
        s->pos += k;
        p += k;
        n -= k;
    }
}

void StreamWriteText(ByteStream *s, const char *text)
{
    StreamWrite(s, text, strlen(text));
}

size_t StreamPeek(ByteStream *s, const unsigned char **data)
{
    if (s->pos >= s->len) {
        if (StreamFill(s) < 0)
            return 0;
        s->pos--;                   // StreamFill consumed it; leave it unread
    }
    *data = s->buf + s->pos;
    return s->len - s->pos;
}

void StreamCopyUntil(ByteStream *in, ByteStream *out, unsigned char stop)
{
    const unsigned char *from;
    size_t avail;
    while ((avail = StreamPeek(in, &from)) > 0) {
        const unsigned char *hit = (const unsigned char *)memchr(from, stop, avail);
        size_t n = hit ? (size_t)(hit - from) : avail;
        StreamWrite(out, from, n);
        in->pos += n;
        if (hit)
            return;
    }
}

bool StreamSkipUntil(ByteStream *in, unsigned char stop)
{
    const unsigned char *from;
    size_t avail;
    while ((avail = StreamPeek(in, &from)) > 0) {
        const unsigned char *hit = (const unsigned char *)memchr(from, stop, avail);
        if (hit) {
            in->pos += (size_t)(hit - from);
            return true;
        }
        in->pos += avail;
    }
    return false;
}

// Between two files the bytes past the input's window move inside the
// system (PlatformCopyRange) rather than through the two buffers; where it
// will not, they go through the buffers. Answers how many moved: 0 while
// the input's window still holds bytes, -1 when the system declined.
static int64_t CopyFileToFile(ByteStream *in, ByteStream *out, int64_t n)
{
    if (in->kind != kStreamFile || out->kind != kStreamFile || !in->isOpen || !out->isOpen ||
        in->readError || out->writeError || n < kStreamBufferSize)
        return -1;
    if (in->pos < in->len)
        return 0;
    StreamGoIdle(in);
    StreamGoIdle(out);          // writes out what it holds
    if (out->writeError)
        return -1;
    int64_t done = PlatformCopyRange(in->file, in->bufStart, out->file, out->bufStart, n);
    if (done <= 0)
        return -1;
    in->bufStart += done;
    out->bufStart += done;
    return done;
}

int64_t StreamCopyBytes(ByteStream *in, ByteStream *out, int64_t n)
{
    int64_t done = 0;
    const unsigned char *from;
    size_t avail;
    bool inSystem = true;
    while (done < n) {
        int64_t moved = inSystem ? CopyFileToFile(in, out, n - done) : 0;
        if (moved > 0) {
            done += moved;
            continue;
        }
        inSystem = moved == 0;
        if ((avail = StreamPeek(in, &from)) == 0)
            break;
        if ((int64_t)avail > n - done)
            avail = (size_t)(n - done);
        StreamWrite(out, from, avail);
        in->pos += avail;
        done += (int64_t)avail;
    }
    return done;
}

void CopyStream(ByteStream *input, ByteStream *output)
{
    StreamCopyBytes(input, output, INT64_MAX);
}

void StreamFeed(ByteStream *input, StreamSinkProc each, void *context)
{
    const unsigned char *p;
    for (size_t n; (n = StreamPeek(input, &p)) > 0;) {
        each(context, p, n);
        StreamSkip(input, n);
    }
}

bool StreamSeek(ByteStream *s, int64_t offset)
{
    if (!s->isOpen || offset < 0 || s->kind == kStreamSink)
        return false;
    if (s->kind == kStreamMemory) {
        if ((uint64_t)offset > SIZE_MAX)
            return false;
        if (s->mode != kStreamReading)
            StreamGoIdle(s);
        s->pos = (size_t)offset;
        s->atEnd = false;
        return !s->writeError;
    }
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
    if (s->kind == kStreamFile && !PlatformClose(s->file))
        ok = false;
    if (s->kind == kStreamMemory && s->memOwned)
        free(s->buf);
    s->buf = s->store;
    s->isOpen = false;
    s->mode = kStreamIdle;
    s->pos = s->len = s->room = 0;
    return ok && !s->writeError;
}
