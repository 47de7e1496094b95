// Single-file pages (MHTML): a MIME multipart/related document whose root
// part is the HTML page and whose other parts are what the page loads.
//
// The reader goes over the document once, a line at a time, and keeps no
// more than one header field and the parts' names: where the root part's
// body begins and ends, how it is encoded, and the address of every part
// (its Content-Location, and "cid:" with its Content-ID), so that the
// cleaning can tell a reference into the archive from one to the network.
// The codecs decode the root part's body to the page and encode the cleaned
// page the same way again, a byte at a time, each a small state machine.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "clean/stream.h"

enum MimeStatus {
    kMimeOk = 0,
    kMimeNoHeaders,         // the document does not begin with MIME header fields
    kMimeNotMultipart,      // its type is not multipart/related
    kMimeNoBoundary,        // no boundary parameter
    kMimeNoParts,           // no delimiter line
    kMimeUnterminated,      // a part's headers, or the last part, never end
    kMimeNoRoot,            // the start parameter names no part
    kMimeRootNotHtml,       // the root part is not text/html
    kMimeBadEncoding,       // the root part's transfer encoding is not one of ours
    kMimeReadFailed,
    kMimeStatusCount
};

enum MimeEncoding {
    kMimeIdentity = 0,      // 7bit, 8bit, binary, or none given
    kMimeQuotedPrintable,
    kMimeBase64,
};

enum { kMimeAddressMax = 2048 };        // a longer address is no part's
enum { kMimeAddressesMax = 1 << 20 };   // the bytes of the parts' addresses kept

// The parts' addresses, sorted, for MimeHasAddress.
struct MimeAddresses {
    char *text;                 // the addresses, each ended by a 0 byte
    size_t size;
    size_t capacity;
    uint32_t *offsets;          // into text, sorted by the addresses
    size_t count;
    size_t offsetCapacity;
    bool overflow;              // some addresses were not kept (kMimeAddressesMax)
};

// What a part's body is read as when something names it: its references
// may name other parts.
enum MimePartKind {
    kPartOther = 0,
    kPartStyleSheet,            // text/css
    kPartMarkup,                // text/html, image/svg+xml and other markup
};

enum { kMimeListMax = 1 << 16 };       // parts beyond are not listed

// One part as the reader found it: [start, end) is the whole of it, from
// its delimiter line to the next delimiter line (the line end before that
// one included), so that the document without that range is the document
// without the part.
struct MimePart {
    int64_t start, end;
    int64_t bodyStart, bodyEnd;
    MimeEncoding encoding;
    bool knownEncoding;
    MimePartKind kind;
    int64_t location;           // its Content-Location in addresses.text, or -1
    int64_t id;                 // its "cid:" address there, or -1
};

struct MimeDocument {
    MimeStatus status;
    int64_t rootStart;          // the root part's body: [rootStart, rootEnd)
    int64_t rootEnd;
    MimeEncoding encoding;
    int parts;
    char charset[40];           // the root part's charset parameter, lower case; "" when none
    MimeAddresses addresses;
    // The parts in the document's order (malloc'd), the root among them;
    // none listed when there were more than kMimeListMax or memory ran out.
    MimePart *list;
    size_t listCount, listCapacity;
    bool listOverflow;
    size_t root;                // the root part's index in `list`
};

// Reads the document from the stream's current position (its start) to its
// end and fills *doc; its addresses must be freed (FreeMimeDocument) whatever
// the status.
MimeStatus ReadMimeDocument(ByteStream *in, MimeDocument *doc);
void FreeMimeDocument(MimeDocument *doc);
// One short phrase for a status: "no boundary".
const char *MimeStatusText(MimeStatus status);
// Whether the first bytes of a document look like MIME header fields with
// a multipart/related type (a single-file page whatever its name).
bool LooksLikeMime(const unsigned char *head, size_t n);

// Whether the address (n bytes, characters decoded) is one of the parts'.
bool MimeHasAddress(const MimeAddresses *a, const char *address, size_t n);
// Whether an address begins with the n bytes at `prefix`.
bool MimeHasAddressPrefix(const MimeAddresses *a, const char *prefix, size_t n);
// The index (in MimeDocument::list) of the part with that address, or -1.
long MimePartOf(const MimeAddresses *a, const char *address, size_t n);

// ---------------------------------------------------------------------------
// The codecs

// Decodes n bytes of the body from `in` into `out`. Fills the encoder's
// layout taken from the body: the line end of its lines and, for base64,
// its line length.
struct MimeLayout {
    MimeEncoding encoding;
    bool crlf;                  // its line ends are CR LF (else LF)
    int64_t lineLength;         // base64: characters a line; 0 for one line
};
void MimeDecode(MimeEncoding encoding, ByteStream *in, int64_t n, ByteStream *out, MimeLayout *layout);

// The decoder underneath, a stretch of the body at a time: its whole state
// (a copy of it decodes on from where it stood) and what it has seen of
// the layout.
struct MimeDecoder {
    MimeEncoding encoding;
    int state, held;            // quoted-printable: the state and a held digit
    uint32_t bits;              // base64: the bits of a group and their count
    int count;
    bool ended;                 // base64: a '=' was read
    bool layoutSeen;            // the first line end was read
    int prev;                   // the last byte of the stretch before
    int64_t lineChars;          // base64: characters of the first line so far
};
enum { kMimeStretch = 16 * 1024 };      // the stretch that MimeDecodeStretch takes at most
void MimeStartDecoder(MimeDecoder *d, MimeEncoding encoding, MimeLayout *layout);
// Decodes n body bytes into dst, which has room for n + 2 bytes; answers
// how many it wrote.
size_t MimeDecodeStretch(MimeDecoder *d, const unsigned char *p, size_t n, unsigned char *dst, MimeLayout *layout);
// At the body's end: the bytes the decoder still holds (at most 2).
size_t MimeDecodeEnd(MimeDecoder *d, unsigned char *dst);

// The layout of the body [start, end) of `in` as decoding it fills it in,
// read from its first line only (all of it when it has no line end).
void MimeReadLayout(ByteStream *in, int64_t start, int64_t end, MimeEncoding encoding, MimeLayout *layout);

// A seekable stream of the decoded body [start, end) of `in`, decoded as it
// is read: no copy of the page is made. Marks every 64 KiB of decoded bytes
// keep a seek backwards short, and two cursors let two readers of the
// stream (a stage and its twin) go on side by side. `in` must stay open and
// be left to the view while it is read; the layout is filled as the first
// line goes by (MimeFinishView reads to the end, so it is whole). Null when
// memory for it cannot be had.
struct MimeView;
MimeView *MimeOpenView(ByteStream *view, ByteStream *in, int64_t start, int64_t end, MimeEncoding encoding,
                       MimeLayout *layout);
// Reads decoded bytes at `offset` into buf, at most n and at least one but
// at the body's end: answers how many, 0 at the body's end, -1 when reading
// the body failed. Unlike the stream, which fills its whole buffer, a read
// in order of a kilobyte or more decodes what it gives and no further.
long MimeViewRead(MimeView *v, int64_t offset, unsigned char *buf, size_t n);
// Has watch(context, offset, ...) told each decoded byte once, in order,
// with its offset in the decoded body, the first time any reader of the
// view decodes it: a search of the whole body needs no read of its own.
// Bytes decoded before the watch began are not told (the first offset told
// is then past 0). MimeFinishView tells the rest.
typedef void (*MimeWatchProc)(void *context, int64_t offset, const unsigned char *p, size_t n);
void MimeWatchView(MimeView *v, MimeWatchProc watch, void *context);
// Decodes the whole body now and holds it, when it is at most `atMost`
// bytes as encoded and nothing was read yet: the view's stream then reads
// the held bytes themselves, so a page read twice (a plan, then the clean)
// is decoded once. The watch is told as the body is decoded. False when the
// body is larger, or memory or its reading failed: the view decodes as it
// is read, as before.
bool MimeHoldView(MimeView *v, size_t atMost);
// Whether the whole body was decoded (and so told) already.
bool MimeViewToldAll(const MimeView *v);
// Decodes what was not read yet; false when reading the body failed.
bool MimeFinishView(MimeView *v);
void MimeCloseView(MimeView *v);

// Encodes the rest of `in` into `out` under the layout; false without
// memory for the encoder.
bool MimeEncode(const MimeLayout *layout, ByteStream *in, ByteStream *out);
// The same fed in pieces of any size, in order (what a stage writes):
// MimeEndEncoder writes what it still holds and frees it. The output is the
// same however the bytes are cut. Null without memory.
struct MimeEncoder;
MimeEncoder *MimeStartEncoder(const MimeLayout *layout, ByteStream *out);
void MimeEncodeBytes(void *encoder, const unsigned char *p, size_t n);
void MimeEndEncoder(MimeEncoder *encoder);
