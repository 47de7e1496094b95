// Buffered byte streams over files.
//
// The passes move one byte per call, so reading and writing must cost no
// more than a load or a store in the common case: StreamGet and StreamPut are
// inline and touch the file only when the buffer runs dry or fills up. A
// stream reads and writes at explicit offsets, so a reader can save its
// position (StreamTell) and come back to it (StreamSeek), and one temporary
// file can be written, rewound and read again through the same stream.
//
// Errors are remembered, never thrown away: a failed read looks like the end
// of the input to the pass that reads, but StreamReadFailed tells the run
// driver that it was not; a failed write or flush sets StreamWriteFailed.
#pragma once
#include <stddef.h>
#include <stdint.h>

typedef intptr_t FileHandle;        // a descriptor on POSIX, a HANDLE on Windows

enum { kStreamBufferSize = 64 * 1024 };

enum StreamMode {
    kStreamIdle = 0,
    kStreamReading = 1,
    kStreamWriting = 2,
};

struct ByteStream {
    FileHandle file;
    bool isOpen;
    int mode;                   // StreamMode
    int64_t bufStart;           // file offset of buf[0]
    size_t pos;                 // next byte of buf to read or write
    size_t len;                 // bytes of buf that hold file data (reading)
    bool atEnd;                 // the last fill found the end of the file
    bool readError;
    bool writeError;
    unsigned char buf[kStreamBufferSize];
};

// Starts using an open file, positioned at offset 0.
void StreamAttach(ByteStream *s, FileHandle file);

int StreamFill(ByteStream *s);              // slow path of StreamGet
void StreamPutSlow(ByteStream *s, unsigned char c);

// The next byte, or -1 at the end of the input or after a read error.
inline int StreamGet(ByteStream *s)
{
    if (s->mode == kStreamReading && s->pos < s->len)
        return s->buf[s->pos++];
    return StreamFill(s);
}

inline void StreamPut(ByteStream *s, unsigned char c)
{
    if (s->mode == kStreamWriting && s->pos < kStreamBufferSize) {
        s->buf[s->pos++] = c;
        return;
    }
    StreamPutSlow(s, c);
}

void StreamWrite(ByteStream *s, const void *data, size_t n);

// Copies bytes from `in` to `out` up to the first `stop` byte or the end of
// the input, a buffer at a time; the stop byte stays unread. Equivalent to
// a StreamGet/StreamPut loop that stops in front of `stop`.
void StreamCopyUntil(ByteStream *in, ByteStream *out, unsigned char stop);
void StreamWriteText(ByteStream *s, const char *text);

int64_t StreamTell(const ByteStream *s);
// Moves the read/write position; clears the end-of-input state.
bool StreamSeek(ByteStream *s, int64_t offset);
inline bool StreamRewind(ByteStream *s) { return StreamSeek(s, 0); }

// Writes out buffered bytes. False (and StreamWriteFailed) on failure.
bool StreamFlush(ByteStream *s);
// Flushes and closes. False when any write, flush or the close failed.
bool StreamClose(ByteStream *s);

inline bool StreamReadFailed(const ByteStream *s) { return s->readError; }
inline bool StreamWriteFailed(const ByteStream *s) { return s->writeError; }
