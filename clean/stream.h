// Buffered byte streams over files, over memory, or into a sink.
//
// The passes move one byte per call in their rare states, so reading and
// writing must cost no more than a load or a store in the common case:
// StreamGet and StreamPut are inline and leave the window (buf, pos, len,
// room) only when it runs dry or fills up. Their fast paths copy or skip
// whole runs through StreamPeek and the copy calls below.
//
// Four backends share that window:
//   - a file (StreamAttach): reads and writes at explicit offsets through a
//     64 KiB buffer, so a reader can save its position (StreamTell), come
//     back to it (StreamSeek), and one temporary file can be written,
//     rewound and read again through the same stream;
//   - memory (StreamOpenMemory, StreamOpenBuffer): the window is the memory
//     itself, a caller's bytes to read or a buffer that grows as it is
//     written and can be read back;
//   - a sink (StreamOpenSink): write only; every full buffer, and the rest
//     at a flush, goes to a procedure (the next stage of a chain);
//   - a reader (StreamOpenReader): read only, seekable; a procedure fills
//     the buffer from any offset (a view made of another stream's parts).
//
// Errors are remembered, never thrown away: a failed read looks like the end
// of the input to the pass that reads, but StreamReadFailed tells the run
// driver that it was not; a failed write or flush sets StreamWriteFailed.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "platform/file.h"         // FileHandle

enum { kStreamBufferSize = 64 * 1024 };

enum StreamMode {
    kStreamIdle = 0,
    kStreamReading = 1,
    kStreamWriting = 2,
};

enum StreamKind {
    kStreamFile = 0,
    kStreamMemory = 1,
    kStreamSink = 2,
    kStreamReader = 3,
};

typedef void (*StreamSinkProc)(void *context, const unsigned char *data, size_t n);
// Fills buf with up to n bytes from `offset`: how many (0 at the end), or
// -1 on a read error.
typedef long (*StreamReadProc)(void *context, unsigned char *buf, size_t n, int64_t offset);
// Told, after each read of a file stream, the offset its reads reached.
typedef void (*StreamWatchProc)(void *context, int64_t reached);

struct ByteStream {
    // The window. Reading: buf[pos, len) are the next bytes and room is 0.
    // Writing: buf[pos, room) is free and len is 0. Idle: both are 0.
    unsigned char *buf;
    size_t pos;
    size_t len;
    size_t room;
    int mode;                   // StreamMode
    int kind;                   // StreamKind
    bool isOpen;
    bool atEnd;                 // the last fill found the end of the input
    bool readError;
    bool writeError;
    int64_t bufStart;           // offset of buf[0]; 0 for memory
    FileHandle file;
    // Memory: the bytes held (buf is the memory), its capacity, and whether
    // the stream owns it (a buffer it grows) or reads a caller's bytes.
    size_t memSize;
    size_t memCapacity;
    bool memOwned;
    // A buffer's ceiling: its capacity never passes memLimit; a write that
    // would need more fails and sets overLimit as well as writeError.
    size_t memLimit;
    bool overLimit;
    StreamSinkProc sink;
    StreamReadProc reader;
    void *context;              // of the sink or the reader
    StreamWatchProc watch;      // file streams: told of each read (may be null)
    void *watchContext;
    // File streams written behind: the disk is asked to start writing each
    // span of kWriteBehindSpan bytes once it is written, from writtenBehind.
    bool writeBehind;
    int64_t writtenBehind;
    unsigned char store[kStreamBufferSize];     // files, sinks and readers
};

// Starts using an open file, positioned at offset 0.
void StreamAttach(ByteStream *s, FileHandle file);
// A stream over a new anonymous temporary file (the platform's
// CreateTempFile), read and write; false when none could be made.
bool StreamCreateTemp(ByteStream *s);
// Reads the n bytes at data, which must outlive the stream; not writable.
void StreamOpenMemory(ByteStream *s, const void *data, size_t n);
// An empty buffer in memory that grows as it is written; readable back.
void StreamOpenBuffer(ByteStream *s);
// The same, never holding more than `limit` bytes (StreamOverLimit).
void StreamOpenBufferLimited(ByteStream *s, size_t limit);
// Hands every written byte, in order, to sink(context, ...).
void StreamOpenSink(ByteStream *s, StreamSinkProc sink, void *context);
// Reads what reader(context, ...) gives at each offset; not writable.
void StreamOpenReader(ByteStream *s, StreamReadProc reader, void *context);
// Has watch(context, offset) told of every read of the file stream `s`
// (a run's progress); null stops it.
void StreamWatchReads(ByteStream *s, StreamWatchProc watch, void *context);
// Has the disk start writing what the file stream `s` wrote, a large span
// at a time while the stream goes on, so that the sync that makes the file
// durable finds most of it written already (a large page's flush otherwise
// waits for all of it at the end). Nothing changes for small files.
enum { kWriteBehindSpan = 8 * 1024 * 1024 };
void StreamWriteBehind(ByteStream *s);
// A second reader of what `of` reads (a file, memory or a reader), for a
// stage that reads its input at two places at once. It owns nothing: it
// needs no close, and must not outlive `of`.
void StreamOpenTwin(ByteStream *twin, const ByteStream *of);

// The bytes a memory stream holds (written or given), and how many.
const unsigned char *StreamMemoryData(const ByteStream *s);
size_t StreamMemorySize(const ByteStream *s);

int StreamFill(ByteStream *s);              // slow path of StreamGet
void StreamPutSlow(ByteStream *s, unsigned char c);

// The next byte, or -1 at the end of the input or after a read error.
inline int StreamGet(ByteStream *s)
{
    if (s->pos < s->len)
        return s->buf[s->pos++];
    return StreamFill(s);
}

inline void StreamPut(ByteStream *s, unsigned char c)
{
    if (s->pos < s->room) {
        s->buf[s->pos++] = c;
        return;
    }
    StreamPutSlow(s, c);
}

void StreamWrite(ByteStream *s, const void *data, size_t n);
void StreamWriteText(ByteStream *s, const char *text);

// The bytes ready to be read without another fill: sets *data and answers
// how many (at least one), filling the buffer first when it is empty; 0 at
// the end of the input. StreamSkip then consumes n of them.
size_t StreamPeek(ByteStream *s, const unsigned char **data);
inline void StreamSkip(ByteStream *s, size_t n) { s->pos += n; }

// Copies bytes from `in` to `out` up to the first `stop` byte or the end of
// the input, a buffer at a time; the stop byte stays unread. Equivalent to
// a StreamGet/StreamPut loop that stops in front of `stop`.
void StreamCopyUntil(ByteStream *in, ByteStream *out, unsigned char stop);
// Reads past bytes up to the first `stop` byte, which stays unread. False
// when the input ended first.
bool StreamSkipUntil(ByteStream *in, unsigned char stop);
// Copies up to n bytes; answers how many there were.
int64_t StreamCopyBytes(ByteStream *in, ByteStream *out, int64_t n);
// Copies the input from its current position to its end.
void CopyStream(ByteStream *input, ByteStream *output);
// Hands the input from its current position to its end to each(context,
// ...), a buffer at a time (what a sink would be written).
void StreamFeed(ByteStream *input, StreamSinkProc each, void *context);

int64_t StreamTell(const ByteStream *s);
// Moves the read/write position; clears the end-of-input state.
bool StreamSeek(ByteStream *s, int64_t offset);
inline bool StreamRewind(ByteStream *s) { return StreamSeek(s, 0); }

// Writes out buffered bytes. False (and StreamWriteFailed) on failure.
bool StreamFlush(ByteStream *s);
// Flushes and closes; frees a memory stream's own buffer. False when any
// write, flush or the close failed.
bool StreamClose(ByteStream *s);

inline bool StreamReadFailed(const ByteStream *s) { return s->readError; }
inline bool StreamWriteFailed(const ByteStream *s) { return s->writeError; }
// A limited buffer refused a write for its limit (not for want of memory).
inline bool StreamOverLimit(const ByteStream *s) { return s->overLimit; }
