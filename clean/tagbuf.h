// The buffer that holds the tag a pass is looking at, and the two searches
// that the passes run over tag text. Every pass owns its buffer.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "clean/stream.h"
#include "platform/compare.h"

// A tag is never held whole once it reaches this size: the append of its
// 4096th byte writes the buffer out and empties it (see AppendTagByte).
enum { kTagBufferSize = 4096 };

struct TagBuffer {
    int32_t length;
    unsigned char bytes[kTagBufferSize];
};

inline void ResetTagBuffer(TagBuffer *t)
{
    t->length = 0;
}

// Appends one byte. When that fills the buffer, all 4096 bytes are written
// to `output` (the output of the running pass), the buffer is emptied and
// the result is true: the pass then gives up the tag, goes back to copying
// and does nothing more with this byte, so the rest of an over-long tag is
// copied unchanged and its first 4096 bytes reach the output exactly once.
bool TagBufferOverflow(TagBuffer *t, ByteStream *output);
inline bool AppendTagByte(TagBuffer *t, unsigned char byte, ByteStream *output)
{
    t->bytes[t->length++] = byte;
    return t->length == kTagBufferSize && TagBufferOverflow(t, output);
}

// What taking in more of a tag came to.
enum TagCollect {
    kTagComplete,       // its '>' is the buffer's last byte
    kTagOverflowed,     // the buffer filled, was written out and emptied
    kTagInputEnded,     // the input ended first
};

// Appends the bytes of `input` up to and including the next '>', a run at
// a time, with the same overflow as byte after byte through AppendTagByte.
TagCollect CollectTag(TagBuffer *t, ByteStream *input, ByteStream *output);

inline void WriteTagBuffer(const TagBuffer *t, ByteStream *output)
{
    StreamWrite(output, t->bytes, (size_t)t->length);
}

// Case-blind search of `token` in the `length` bytes at `data`. Answers the
// index just past the first match, or -1. A text shorter than the token plus
// three bytes is never searched.
int32_t FindToken(const unsigned char *data, int32_t length, const char *token);

// The searches below take a buffer holding one whole tag ending with its '>'.

// The first attribute whose whole name is `name` (any case), read as a
// browser splits a tag into attributes: names end at a blank, '/', '=' or
// the '>', values in quotes are passed over whole. Answers the index just
// past the name, or -1: a longer name that holds `name`, or `name` inside
// a value, is never it.
int32_t FindAttributeName(const unsigned char *tag, int32_t length, const char *name);

// Whether the value of the tag's first SRC (useSrc) or HREF, after blanks,
// '=', blanks and at most one quote, is a network address as a browser
// reads it (address.h): http:, https:, ftp:, ws:, wss: in any case, maybe
// written with character references, or "//host".
bool IsRemoteLink(const TagBuffer *t, bool useSrc);
// Whether the value of any attribute of the tag is a network address.
bool HasNetworkValue(const TagBuffer *t);
// Whether the tag (a META) is a refresh (http-equiv="refresh") whose content
// names a network address.
bool IsNetworkRefresh(const TagBuffer *t);
