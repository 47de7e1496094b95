// Reading an address as a browser reads it, one byte at a time: whether a
// value makes the browser go to the network, run a script, or show a page
// of its own made from a data: URL. The passes decide an attribute from its
// first bytes, so every reader here decides as early as the bytes allow and
// keeps no more than a few bytes of state, whatever the value's length.
//
// Three layers, each a small state machine, each usable alone:
//   CharRefDecoder  the bytes of an attribute value to characters: numeric
//                   references (&#104; &#x68; with or without the ';') and
//                   the named ones that stand for ASCII characters
//                   (&colon; &Tab; &NewLine; &sol; ...); any other '&' text
//                   stands for itself.
//   UrlHead         the characters of one address to its kind: leading
//                   characters up to 0x20 are passed over, tab, LF and CR
//                   are ignored wherever they stand, the scheme is read in
//                   any case; "//", "\\", "/\" and "\/" begin an address on
//                   another host.
//   AddressReader   the two together over a value of one of four kinds of
//                   syntax: one address (src, href...), a list of addresses
//                   (srcset, ping, archive), a META refresh ("5; url=...")
//                   or an animation's values ("a.png;b.png").
#pragma once
#include <stddef.h>
#include <stdint.h>

// What an address is. Undecided until enough of it has been read; every
// other answer is final.
enum AddressKind {
    kAddressUndecided = 0,
    kAddressOther,          // relative, a fragment, file:, about:, any other scheme
    kAddressNetwork,        // http:, https:, ftp:, ws:, wss:, or a host of its own ("//host")
    kAddressScript,         // javascript: or vbscript:
    kAddressData,           // data: (its media type not asked for, or not markup)
    kAddressMarkupData,     // data: whose media type is HTML, XML or SVG
};

// ---------------------------------------------------------------------------
// Character references

// A decoded character and the bytes of the value it came from: [start, end)
// as positions counted by the caller.
struct DecodedChar {
    uint32_t c;
    int64_t start;
    int64_t end;
};

enum { kRefNameMax = 16 };      // the longest name that stands for an ASCII character
// The most characters one byte can give: a '&', a name cut off, its terminator.
enum { kRefOutMax = kRefNameMax + 3 };

// States (0 is plain text, the rest in address.cpp's order): after '&'; a
// name; after "&#"; after "&#x"; decimal digits; hex digits.
struct CharRefDecoder {
    int32_t state;
    int32_t nameLength;
    char name[kRefNameMax];
    uint32_t value;             // the number so far, held at 0x110000 once past
    bool hex;
    int64_t refStart;           // position of the '&'
};

void StartCharRefs(CharRefDecoder *d);
// Decodes the byte at position `at`; writes the characters it completes to
// out (at most kRefOutMax) and answers how many.
int CharRefByte(CharRefDecoder *d, unsigned char c, int64_t at, DecodedChar *out);
// The value ended at position `at`: what is still held.
int FinishCharRefs(CharRefDecoder *d, int64_t at, DecodedChar *out);
// Whether the decoder holds nothing (no reference begun): then every byte
// but '&' stands for itself, one character each.
bool CharRefsIdle(const CharRefDecoder *d);

// ---------------------------------------------------------------------------
// The head of one address

enum { kSchemeMax = 10 };       // "javascript"
enum { kUrlArchiveMax = 2048 }; // the longest address looked up among an archive's parts

struct MimeAddresses;
enum { kMediaTypeMax = 48 };    // a longer data: media type counts as markup

// States: 0 leading blanks; 100 scheme letters (a scheme longer than
// kSchemeMax is none of ours: decided); 200 after a first slash; 300 a data:
// media type; 800 a network address read to its end, as it may name a part
// of the single-file page being cleaned (SetArchiveParts); 900 decided.
struct UrlHead {
    int32_t state;
    int32_t length;
    char text[kMediaTypeMax];   // the scheme, then the media type, lower case
    bool wantDataType;          // read a data: URL's media type, or stop at "data:"
    AddressKind kind;
    // State 800: the address so far, its characters in UTF-8.
    const MimeAddresses *parts;
    bool sawHash;               // a '#' among them
    int32_t addressLength;
    char address[kUrlArchiveMax];
};

// While a single-file page is cleaned on this thread: its parts' addresses.
// A network address that names one of them is then local (kAddressOther),
// as the browser takes it from the archive; it is decided at its end, not
// at its scheme. Null (every other page) leaves every answer as it was.
void SetArchiveParts(const MimeAddresses *parts);

void StartUrlHead(UrlHead *h, bool wantDataType);
AddressKind UrlHeadChar(UrlHead *h, uint32_t c);
AddressKind FinishUrlHead(UrlHead *h);

// ---------------------------------------------------------------------------
// A whole value

enum AddressSyntax {
    kSyntaxOne = 0,         // one address
    kSyntaxList,            // addresses apart by blanks and commas; any network one counts
    kSyntaxRefresh,         // a META refresh: a time, a separator, maybe "url=", the address
    kSyntaxValues,          // animation values: addresses apart by ';' and blanks; any counts
};

struct AddressReader {
    CharRefDecoder refs;
    UrlHead head;
    int32_t syntax;         // AddressSyntax
    int32_t phase;          // list and refresh: where in the value (see address.cpp)
    int32_t matched;        // refresh: letters of "url" read
    bool firstItem;         // list: still in the first address
    bool entities;          // decode character references
    AddressKind kind;
    int64_t at;             // position of the next byte
};

void StartAddressReader(AddressReader *r, AddressSyntax syntax, bool wantDataType, bool entities);
// One byte of the value. Once decided, the answer stays.
AddressKind AddressReaderByte(AddressReader *r, unsigned char c);
// Up to n bytes of the value, stopping after the byte that decides it:
// answers how many were read (r->kind tells whether it decided).
size_t AddressReaderSpan(AddressReader *r, const unsigned char *p, size_t n);
// The value ended: its kind (kAddressOther when nothing decided it).
AddressKind FinishAddressReader(AddressReader *r);
// A whole value at once.
AddressKind ReadAddress(const unsigned char *p, size_t n, AddressSyntax syntax, bool wantDataType);
