// Web archive files (WARC 1.0 and 1.1) read and written a record at a time,
// in bounded memory: the source (whole-file gzip, one gzip member per record,
// or none), the record reader, the writer, and the HTTP message inside a
// response record (its head, a chunked body, a Content-Encoding).
//
// The source (WarcSource) is a state machine over the raw bytes:
//   kSourceProbe    at a member's start or the file's: gzip magic or not
//   kSourcePlain    a file with no gzip: bytes pass as they are
//   kSourceMember   inflating a gzip member
//   kSourceResync   after a broken member: looking for the next magic
//   kSourceEnd      nothing more
// Invariant: the bytes it gives are the inflated members in order; at a
// broken member it gives nothing more (broken is set) until the reader has
// dropped its record and called WarcSourceResume.
//
// The reader (WarcReader) is a second one over the source's bytes:
//   kReadSeek       between records: blank lines, then "WARC/"
//   kReadHeader     the header lines, up to the blank line
//   kReadBlock      Content-Length bytes, held when within the limit
//   kReadTrailer    the two line ends after the block
//   kReadResync     after a bad record: looking for a line "WARC/1."
//   kReadEnd        the source is done
// Invariants: the reader holds at most one record's header (kMaxHeader)
// and one block within the limit; a record whose block passes the limit is
// handed over unread (WarcRecord.held false) and its block copied through by
// WarcCopyBlock; every byte of the source belongs to a record given, a
// record skipped (its reason counted once), or the blank lines between.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>
#include <zlib.h>
#include "clean/stream.h"

// Why a record was skipped or not cleaned. The names are the report's.
#define WARC_SKIPS(X)                                                        \
    X(kSkipTruncated, "truncated")     /* the file ends inside it */         \
    X(kSkipBadLength, "bad-length")    /* no number, or no end where it says */ \
    X(kSkipBadHeader, "bad-header")    /* not WARC header lines */           \
    X(kSkipBadGzip, "bad-gzip")        /* its gzip member is broken */       \
    X(kSkipBadChunked, "bad-chunked")  /* chunked, but not in chunks: copied */ \
    X(kSkipUndecodable, "undecodable") /* a Content-Encoding not undone: copied */ \
    X(kSkipTooLarge, "too-large")      /* past the record limit: copied */

enum WarcSkip {
#define WARC_SKIP_ENUM(id, name) id,
    WARC_SKIPS(WARC_SKIP_ENUM)
#undef WARC_SKIP_ENUM
    kWarcSkipCount
};
extern const char *const kWarcSkipNames[kWarcSkipCount];

enum { kWarcBufferSize = 64 * 1024, kMaxHeader = 64 * 1024 };
enum { kDefaultRecordLimit = 32 * 1024 * 1024 };

struct WarcSource {
    ByteStream *raw;
    int state;                  // kSource...
    z_stream z;
    bool zOpen;
    bool gzipped;               // the file began with a gzip member
    bool broken;                // a member broke: nothing until WarcSourceResume
    bool cutShort;              // the file ended inside a member
    int64_t rawRead;            // raw bytes consumed
    int64_t members;
};

void WarcSourceOpen(WarcSource *s, ByteStream *raw);
void WarcSourceClose(WarcSource *s);
// Up to n inflated bytes into buf: how many; 0 at the end or at a break.
size_t WarcSourceRead(WarcSource *s, unsigned char *buf, size_t n);
void WarcSourceResume(WarcSource *s);

struct WarcRecord {
    std::string head;           // as read: "WARC/" up to and with the blank line
    int version;                // 10 or 11
    std::string type, id, targetUri, date, contentType, concurrentTo;
    int64_t length;             // Content-Length
    bool held;                  // block holds the block; else WarcCopyBlock
    std::string block;
};

struct WarcReader {
    WarcSource source;
    int state;                  // kRead...
    size_t limit;               // the largest block held
    // Bytes given back to be read again (a bad record's block, when the
    // next record may start inside it), then the buffer from the source.
    std::string pending;
    size_t pendingPos;
    unsigned char *buf;
    size_t pos, len;
    bool sourceDone;
    int64_t skipped[kWarcSkipCount];
    int64_t records;            // records given
    int64_t largeLeft;          // a large record's block bytes not yet copied
};

enum WarcNext { kWarcEnd = 0, kWarcGot = 1 };

// The reader over `raw` (a file, memory, any readable stream), holding
// blocks up to `limit` bytes.
bool WarcReaderOpen(WarcReader *r, ByteStream *raw, size_t limit);
void WarcReaderClose(WarcReader *r);
// The next good record (kWarcGot), skipping and counting bad ones; kWarcEnd
// after the last. A record not held must have its block copied by
// WarcCopyBlock before the next call (or it is read past).
int WarcReadRecord(WarcReader *r, WarcRecord *rec);

// The writer: plain, or each record a gzip member at `level`.
struct WarcWriter {
    ByteStream *out;
    bool gzip;
    int level;
    z_stream z;
    bool zOpen;
    bool failed;
    unsigned char *zbuf;
    int64_t records;
};
bool WarcWriterOpen(WarcWriter *w, ByteStream *out, bool gzip, int level);
void WarcWriterClose(WarcWriter *w);
void WarcBeginRecord(WarcWriter *w);
void WarcPut(WarcWriter *w, const void *data, size_t n);
void WarcEndRecord(WarcWriter *w);          // the record's trailer is the caller's
// Copies the block of a record not held, and its trailer, to the writer
// (which is inside the record); false when the block or trailer ended
// early (counted: truncated or bad-length).
bool WarcCopyBlock(WarcReader *r, WarcRecord *rec, WarcWriter *w);

// The HTTP message of a response record.
struct HttpHead {
    size_t size;                // its head: status line, fields, blank line
    std::string contentType, transferEncoding, contentEncoding;
};
// False when the block does not begin with an HTTP head.
bool ParseHttpHead(const unsigned char *p, size_t n, HttpHead *head);
// The body of a chunked message; false when it is not in chunks.
bool Dechunk(const unsigned char *p, size_t n, std::string *out, size_t limit);
// Undoes a Content-Encoding (identity, gzip, x-gzip, deflate): 0, or
// kSkipUndecodable, or kSkipTooLarge when it would pass `limit`.
int DecodeContent(const std::string &encoding, const unsigned char *p, size_t n, std::string *out,
                  size_t limit);

// The value of a header field (case-insensitive name) in `head` (lines of
// "Name: value"), trimmed; false when absent.
bool HeaderField(const char *head, size_t n, const char *name, std::string *value);
// The charset parameter of a Content-Type, lower case; "" when none.
std::string CharsetOf(const std::string &contentType);
