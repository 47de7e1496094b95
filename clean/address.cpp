// See address.h.
//
// Character references: only the names that stand for ASCII characters are
// known here. Any other name stands for itself, which reads the same as the
// character it would be: a '&' and a character outside ASCII both end a
// scheme and neither is a blank, so no answer below can differ. For the same
// reason a name that is not closed by ';' stands for itself, except the four
// old names (amp, lt, gt, quot, in either case) that browsers still take
// without it when no '=', letter or digit follows.
#include "clean/address.h"
#include <string.h>
#include "clean/mime.h"

// The parts of the single-file page being cleaned on this thread, or null.
static thread_local const MimeAddresses *t_archiveParts;

void SetArchiveParts(const MimeAddresses *parts)
{
    t_archiveParts = parts;
}

// The states, numbered for the handler table (kRefHandlers, in this order).
enum : int32_t {
    kRefText,
    kRefAmpersand,
    kRefName,
    kRefHash,
    kRefHashX,
    kRefDecimal,
    kRefHex,
    kRefStateCount
};

struct NamedRef {
    const char *name;
    const char *text;       // one or two ASCII characters
    bool legacy;            // also taken without the ';'
};

// The named references that stand for ASCII characters.
static const NamedRef kNamedRefs[] = {
    {"Tab", "\t", false},        {"NewLine", "\n", false},     {"excl", "!", false},
    {"quot", "\"", true},        {"QUOT", "\"", true},         {"num", "#", false},
    {"dollar", "$", false},      {"percnt", "%", false},       {"amp", "&", true},
    {"AMP", "&", true},          {"apos", "'", false},         {"lpar", "(", false},
    {"rpar", ")", false},        {"ast", "*", false},          {"midast", "*", false},
    {"plus", "+", false},        {"comma", ",", false},        {"period", ".", false},
    {"sol", "/", false},         {"colon", ":", false},        {"semi", ";", false},
    {"lt", "<", true},           {"LT", "<", true},            {"equals", "=", false},
    {"gt", ">", true},           {"GT", ">", true},            {"quest", "?", false},
    {"commat", "@", false},      {"lsqb", "[", false},         {"lbrack", "[", false},
    {"bsol", "\\", false},       {"rsqb", "]", false},         {"rbrack", "]", false},
    {"Hat", "^", false},         {"lowbar", "_", false},       {"UnderBar", "_", false},
    {"grave", "`", false},       {"DiacriticalGrave", "`", false},
    {"lcub", "{", false},        {"lbrace", "{", false},       {"verbar", "|", false},
    {"vert", "|", false},        {"VerticalLine", "|", false}, {"rcub", "}", false},
    {"rbrace", "}", false},      {"fjlig", "fj", false},
};

static constexpr bool IsAsciiAlpha(uint32_t c)
{
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

static constexpr bool IsAsciiDigit(uint32_t c)
{
    return c >= '0' && c <= '9';
}

static inline bool IsHexDigit(uint32_t c)
{
    return IsAsciiDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

static inline uint32_t LowerAscii(uint32_t c)
{
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

static const NamedRef *FindNamedRef(const char *name, int32_t n)
{
    for (const NamedRef &r : kNamedRefs)
        if ((int32_t)strlen(r.name) == n && memcmp(r.name, name, (size_t)n) == 0)
            return &r;
    return nullptr;
}

void StartCharRefs(CharRefDecoder *d)
{
    d->state = kRefText;
    d->nameLength = 0;
    d->value = 0;
    d->hex = false;
    d->refStart = 0;
}

static inline int Put(DecodedChar *out, int n, uint32_t c, int64_t start, int64_t end)
{
    out[n].c = c;
    out[n].start = start;
    out[n].end = end;
    return n + 1;
}

// The bytes since the '&' as they were: the '&', the '#' and 'x' or the
// name read so far, one character per byte.
static int PutLiteral(CharRefDecoder *d, DecodedChar *out, int n)
{
    int64_t at = d->refStart;
    n = Put(out, n, '&', at, at + 1);
    at++;
    if (d->state == kRefHash || d->state == kRefHashX) {
        n = Put(out, n, '#', at, at + 1);
        at++;
        if (d->state == kRefHashX)
            n = Put(out, n, d->hex ? 'x' : 'X', at, at + 1);
        return n;
    }
    for (int32_t i = 0; i < d->nameLength; i++, at++)
        n = Put(out, n, (unsigned char)d->name[i], at, at + 1);
    return n;
}

// A number as the character it stands for; what is not a character becomes
// U+FFFD. (0x80 to 0x9F stand for other characters outside ASCII.)
static uint32_t NumberChar(uint32_t v)
{
    if (v == 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
        return 0xFFFD;
    return v;
}

// A byte in the plain state: a '&' starts a reference.
static int PlainByte(CharRefDecoder *d, unsigned char c, int64_t at, DecodedChar *out, int n)
{
    if (c == '&') {
        d->state = kRefAmpersand;
        d->refStart = at;
        d->nameLength = 0;
        return n;
    }
    return Put(out, n, c, at, at + 1);
}

// The bytes since the '&' stand for themselves, and so does c after them.
static int StandsForItself(CharRefDecoder *d, unsigned char c, int64_t at, DecodedChar *out)
{
    int n = PutLiteral(d, out, 0);
    d->state = kRefText;
    return PlainByte(d, c, at, out, n);
}

// The handlers of the states, one each: the byte c at position `at`; each
// answers how many characters it put in out.

static int OnRefText(CharRefDecoder *d, unsigned char c, int64_t at, DecodedChar *out)
{
    return PlainByte(d, c, at, out, 0);
}

static int OnRefAmpersand(CharRefDecoder *d, unsigned char c, int64_t at, DecodedChar *out)
{
    if (c == '#') {
        d->state = kRefHash;
        return 0;
    }
    if (IsAsciiAlpha(c) || IsAsciiDigit(c)) {
        d->state = kRefName;
        d->name[0] = (char)c;
        d->nameLength = 1;
        return 0;
    }
    return StandsForItself(d, c, at, out);
}

// A known name ended by c: its text, then c unless it is the ';'.
static int PutNamed(CharRefDecoder *d, const NamedRef *r, unsigned char c, int64_t at, DecodedChar *out)
{
    int64_t end = c == ';' ? at + 1 : at;
    int n = 0;
    for (const char *t = r->text; *t; t++)
        n = Put(out, n, (unsigned char)*t, d->refStart, end);
    d->state = kRefText;
    return c == ';' ? n : PlainByte(d, c, at, out, n);
}

// A name longer than any we know stands for itself.
static int OnRefName(CharRefDecoder *d, unsigned char c, int64_t at, DecodedChar *out)
{
    bool nameByte = IsAsciiAlpha(c) || IsAsciiDigit(c);
    if (nameByte && d->nameLength < kRefNameMax) {
        d->name[d->nameLength++] = (char)c;
        return 0;
    }
    if (!nameByte) {
        const NamedRef *r = FindNamedRef(d->name, d->nameLength);
        if (r && (c == ';' || (r->legacy && c != '=')))
            return PutNamed(d, r, c, at, out);
    }
    return StandsForItself(d, c, at, out);
}

static int OnRefHash(CharRefDecoder *d, unsigned char c, int64_t at, DecodedChar *out)
{
    if (c == 'x' || c == 'X') {
        d->state = kRefHashX;
        d->hex = c == 'x';
        return 0;
    }
    if (IsAsciiDigit(c)) {
        d->state = kRefDecimal;
        d->value = c - '0';
        return 0;
    }
    return StandsForItself(d, c, at, out);
}

static int OnRefHashX(CharRefDecoder *d, unsigned char c, int64_t at, DecodedChar *out)
{
    if (IsHexDigit(c)) {
        d->state = kRefHex;
        d->value = IsAsciiDigit(c) ? c - '0' : (LowerAscii(c) - 'a' + 10);
        return 0;
    }
    return StandsForItself(d, c, at, out);
}

// Decimal or hex digits; any other byte ends the number.
static int OnRefNumber(CharRefDecoder *d, unsigned char c, int64_t at, DecodedChar *out)
{
    bool hex = d->state == kRefHex;
    if (hex ? IsHexDigit(c) : IsAsciiDigit(c)) {
        uint32_t digit = IsAsciiDigit(c) ? c - '0' : (LowerAscii(c) - 'a' + 10);
        uint32_t v = d->value * (hex ? 16 : 10) + digit;
        d->value = d->value >= 0x110000 || v >= 0x110000 ? 0x110000 : v;
        return 0;
    }
    int64_t end = c == ';' ? at + 1 : at;
    int n = Put(out, 0, NumberChar(d->value), d->refStart, end);
    d->state = kRefText;
    return c == ';' ? n : PlainByte(d, c, at, out, n);
}

typedef int RefHandler(CharRefDecoder *d, unsigned char c, int64_t at, DecodedChar *out);

static RefHandler *const kRefHandlers[kRefStateCount] = {
    OnRefText, OnRefAmpersand, OnRefName, OnRefHash, OnRefHashX, OnRefNumber, OnRefNumber,
};

// The dispatcher; a byte outside a reference is handled in place.
int CharRefByte(CharRefDecoder *d, unsigned char c, int64_t at, DecodedChar *out)
{
    if (d->state == kRefText)
        return PlainByte(d, c, at, out, 0);
    return kRefHandlers[d->state](d, c, at, out);
}

bool CharRefsIdle(const CharRefDecoder *d)
{
    return d->state == kRefText;
}

int FinishCharRefs(CharRefDecoder *d, int64_t at, DecodedChar *out)
{
    int n = 0;
    switch (d->state) {
    case kRefAmpersand:
        n = Put(out, 0, '&', d->refStart, d->refStart + 1);
        break;
    case kRefName: {
        const NamedRef *r = FindNamedRef(d->name, d->nameLength);
        if (r && r->legacy) {
            for (const char *t = r->text; *t; t++)
                n = Put(out, n, (unsigned char)*t, d->refStart, at);
        } else {
            n = PutLiteral(d, out, 0);
        }
        break;
    }
    case kRefHash:
    case kRefHashX:
        n = PutLiteral(d, out, 0);
        break;
    case kRefDecimal:
    case kRefHex:
        n = Put(out, 0, NumberChar(d->value), d->refStart, at);
        break;
    }
    d->state = kRefText;
    return n;
}

// ---------------------------------------------------------------------------
// UrlHead

enum {
    kHeadLeading = 0,
    kHeadScheme = 100,
    kHeadSlash = 200,
    kHeadMediaType = 300,
    kHeadArchive = 800,     // a network address that may name a part of the archive
    kHeadDecided = 900,
};

struct SchemeKind {
    const char *scheme;
    int32_t length;
    AddressKind kind;
};

// The schemes that decide; every other one is kAddressOther. "data" is
// read on when the caller asks for its media type.
static const SchemeKind kSchemes[] = {
    {"http", 4, kAddressNetwork},       {"https", 5, kAddressNetwork},
    {"ftp", 3, kAddressNetwork},        {"ws", 2, kAddressNetwork},
    {"wss", 3, kAddressNetwork},        {"javascript", 10, kAddressScript},
    {"vbscript", 8, kAddressScript},    {"data", 4, kAddressData},
};

static AddressKind Decide(UrlHead *h, AddressKind kind)
{
    h->kind = kind;
    h->state = kHeadDecided;
    return kind;
}

// A network address while a single-file page is cleaned: read to its end,
// where FinishUrlHead looks it up among the archive's parts.
static AddressKind StartArchiveAddress(UrlHead *h, const char *head)
{
    h->parts = t_archiveParts;
    if (!h->parts)
        return Decide(h, kAddressNetwork);
    size_t n = strlen(head);
    memcpy(h->address, head, n);
    h->addressLength = (int32_t)n;
    h->sawHash = false;
    h->state = kHeadArchive;
    return kAddressUndecided;
}

// Whether a part's address may begin with the address read so far, or with
// it after http: or https: for one without a scheme ("//host/..."), as its
// end is looked up (FinishArchiveAddress).
static bool MayNamePart(const UrlHead *h)
{
    const char *a = h->address;
    size_t n = (size_t)h->addressLength;
    if (MimeHasAddressPrefix(h->parts, a, n))
        return true;
    if (n < 2 || a[0] != '/')
        return false;
    static const char *const kSchemes[] = {"http:", "https:"};
    for (const char *scheme : kSchemes) {
        size_t k = strlen(scheme);
        char full[kUrlArchiveMax];
        if (n + k > kUrlArchiveMax)
            continue;
        memcpy(full, scheme, k);
        memcpy(full + k, a, n);
        if (MimeHasAddressPrefix(h->parts, full, n + k))
            return true;
    }
    return false;
}

static AddressKind ArchiveChar(UrlHead *h, uint32_t c)
{
    unsigned char bytes[4];
    int n = 0;
    if (c == '\\')
        c = '/';    // as a browser reads an http: address
    if (c < 0x80) {
        bytes[n++] = (unsigned char)c;
    } else if (c < 0x800) {
        bytes[n++] = (unsigned char)(0xC0 | c >> 6);
        bytes[n++] = (unsigned char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        bytes[n++] = (unsigned char)(0xE0 | c >> 12);
        bytes[n++] = (unsigned char)(0x80 | (c >> 6 & 0x3F));
        bytes[n++] = (unsigned char)(0x80 | (c & 0x3F));
    } else {
        bytes[n++] = (unsigned char)(0xF0 | c >> 18);
        bytes[n++] = (unsigned char)(0x80 | (c >> 12 & 0x3F));
        bytes[n++] = (unsigned char)(0x80 | (c >> 6 & 0x3F));
        bytes[n++] = (unsigned char)(0x80 | (c & 0x3F));
    }
    // Too long for any part's address: the network's.
    if (h->addressLength + n > kUrlArchiveMax)
        return Decide(h, kAddressNetwork);
    memcpy(h->address + h->addressLength, bytes, (size_t)n);
    h->addressLength += n;
    // At each '/' before any '#' (whatever follows, the address looked up
    // then begins with what was read), an address that no part's begins
    // with is decided: most of another host's or folder's part here.
    h->sawHash = h->sawHash || c == '#';
    if (c == '/' && !h->sawHash && !MayNamePart(h))
        return Decide(h, kAddressNetwork);
    return kAddressUndecided;
}

// The whole address read: a part's is local, any other the network's.
static AddressKind FinishArchiveAddress(UrlHead *h)
{
    const char *a = h->address;
    size_t n = (size_t)h->addressLength;
    const char *hash = (const char *)memchr(a, '#', n);
    if (hash)
        n = (size_t)(hash - a);
    while (n && (unsigned char)a[n - 1] <= 0x20)
        n--;
    bool local = MimeHasAddress(h->parts, a, n);
    // An address on another host without a scheme ("//host/a.png") takes
    // the page's, which is one of these two.
    if (!local && n >= 2 && a[0] == '/') {
        static const char *const kSchemes[] = {"http:", "https:"};
        for (const char *scheme : kSchemes) {
            size_t k = strlen(scheme);
            if (local || n + k > kUrlArchiveMax)
                continue;
            char full[kUrlArchiveMax];
            memcpy(full, scheme, k);
            memcpy(full + k, a, n);
            local = MimeHasAddress(h->parts, full, n + k);
        }
    }
    return Decide(h, local ? kAddressOther : kAddressNetwork);
}

void StartUrlHead(UrlHead *h, bool wantDataType)
{
    h->state = kHeadLeading;
    h->length = 0;
    h->wantDataType = wantDataType;
    h->kind = kAddressUndecided;
}

static bool Contains(const char *text, int32_t n, const char *word)
{
    int32_t k = (int32_t)strlen(word);
    for (int32_t i = 0; i + k <= n; i++)
        if (memcmp(text + i, word, (size_t)k) == 0)
            return true;
    return false;
}

static AddressKind DecideMediaType(UrlHead *h)
{
    bool markup = Contains(h->text, h->length, "html") || Contains(h->text, h->length, "xml") ||
                  Contains(h->text, h->length, "svg");
    return Decide(h, markup ? kAddressMarkupData : kAddressData);
}

static AddressKind DecideScheme(UrlHead *h)
{
    for (const SchemeKind &s : kSchemes) {
        if (s.length != h->length || memcmp(s.scheme, h->text, (size_t)h->length))
            continue;
        if (s.kind == kAddressData && h->wantDataType) {
            h->state = kHeadMediaType;
            h->length = 0;
            return kAddressUndecided;
        }
        if (s.kind == kAddressNetwork && t_archiveParts) {
            char head[kSchemeMax + 2];
            memcpy(head, h->text, (size_t)h->length);
            head[h->length] = ':';
            head[h->length + 1] = 0;
            return StartArchiveAddress(h, head);
        }
        return Decide(h, s.kind);
    }
    return Decide(h, kAddressOther);
}

static inline bool IsSchemeChar(uint32_t c)
{
    return IsAsciiAlpha(c) || IsAsciiDigit(c) || c == '+' || c == '-' || c == '.';
}

AddressKind UrlHeadChar(UrlHead *h, uint32_t c)
{
    if (h->state == kHeadDecided)
        return h->kind;
    // A browser takes tab, LF and CR out of an address before reading it.
    if (c == '\t' || c == '\n' || c == '\r')
        return kAddressUndecided;
    switch (h->state) {
    case kHeadLeading:
        if (c <= 0x20)
            return kAddressUndecided;
        if (IsAsciiAlpha(c)) {
            h->text[0] = (char)LowerAscii(c);
            h->length = 1;
            h->state = kHeadScheme;
            return kAddressUndecided;
        }
        if (c == '/' || c == '\\') {
            h->state = kHeadSlash;
            return kAddressUndecided;
        }
        return Decide(h, kAddressOther);
    case kHeadScheme:
        if (c == ':')
            return DecideScheme(h);
        // A scheme longer than any of ours is none of them.
        if (!IsSchemeChar(c) || h->length == kSchemeMax)
            return Decide(h, kAddressOther);
        h->text[h->length++] = (char)LowerAscii(c);
        return kAddressUndecided;
    case kHeadSlash:
        if (c == '/' || c == '\\') {
            char head[3] = {'/', '/', 0};
            return StartArchiveAddress(h, head);
        }
        return Decide(h, kAddressOther);
    case kHeadArchive:
        return ArchiveChar(h, c);
    case kHeadMediaType:
        if (c == ',' || c == ';')
            return DecideMediaType(h);
        if (c <= 0x20)
            return kAddressUndecided;
        // A media type longer than any real one is taken for markup.
        if (h->length == kMediaTypeMax)
            return Decide(h, kAddressMarkupData);
        h->text[h->length++] = (char)LowerAscii(c);
        return kAddressUndecided;
    }
    return h->kind;
}

AddressKind FinishUrlHead(UrlHead *h)
{
    if (h->state == kHeadMediaType)
        return DecideMediaType(h);
    if (h->state == kHeadArchive)
        return FinishArchiveAddress(h);
    if (h->state != kHeadDecided)
        return Decide(h, kAddressOther);
    return h->kind;
}

// ---------------------------------------------------------------------------
// AddressReader

// List phases.
enum {
    kListBetween = 0,       // blanks and commas before an address
    kListItem = 100,        // an address being read
    kListItemRest = 110,    // the rest of an address already decided
};

// Refresh phases: the value is "[blanks] time [blanks] [; or ,] [blanks]
// [url [blanks] = [blanks]] [quote] address".
// Numbered for the handler table (kRefreshHandlers, in this order).
enum : int32_t {
    kRefreshLeading,
    kRefreshTime,
    kRefreshAfterTime,
    kRefreshAfterSeparator,
    kRefreshUrlWord,            // `matched` letters of "url" read
    kRefreshAfterUrlWord,
    kRefreshAfterUrlBlank,      // "url" and a blank: either "url =" or an address "url ..."
    kRefreshAfterEquals,
    kRefreshAddress,
    kRefreshQuoted,             // the address ends at the quote held in `matched`
    kRefreshDone,
    kRefreshPhaseCount
};

static inline bool IsHtmlBlank(uint32_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

void StartAddressReader(AddressReader *r, AddressSyntax syntax, bool wantDataType, bool entities)
{
    StartCharRefs(&r->refs);
    StartUrlHead(&r->head, wantDataType);
    r->syntax = syntax;
    r->phase = 0;
    r->matched = 0;
    r->firstItem = true;
    r->entities = entities;
    r->kind = kAddressUndecided;
    r->at = 0;
}

static AddressKind Settle(AddressReader *r, AddressKind kind)
{
    r->kind = kind;
    return kind;
}

// Whether a script address counts in the current list item: in the first
// (where a srcset or ping would take it), or anywhere in animation values.
static inline bool ScriptCounts(const AddressReader *r)
{
    return r->firstItem || r->syntax == kSyntaxValues;
}

// The current list address ended.
static AddressKind EndListItem(AddressReader *r)
{
    AddressKind k = FinishUrlHead(&r->head);
    if (k == kAddressNetwork || (k == kAddressScript && ScriptCounts(r)))
        return Settle(r, k);
    r->firstItem = false;
    r->phase = kListBetween;
    return kAddressUndecided;
}

static AddressKind ListChar(AddressReader *r, uint32_t c)
{
    bool apart = IsHtmlBlank(c) || c == (r->syntax == kSyntaxValues ? ';' : ',');
    switch (r->phase) {
    case kListBetween:
        if (apart)
            return kAddressUndecided;
        StartUrlHead(&r->head, r->head.wantDataType);
        r->phase = kListItem;
        // fall through
    case kListItem: {
        if (apart)
            return EndListItem(r);
        AddressKind k = UrlHeadChar(&r->head, c);
        if (k == kAddressNetwork || (k == kAddressScript && ScriptCounts(r)))
            return Settle(r, k);
        if (k != kAddressUndecided)
            r->phase = kListItemRest;
        return kAddressUndecided;
    }
    case kListItemRest:
        if (apart) {
            r->firstItem = false;
            r->phase = kListBetween;
        }
        return kAddressUndecided;
    }
    return kAddressUndecided;
}

static AddressKind HeadChar(AddressReader *r, uint32_t c)
{
    AddressKind k = UrlHeadChar(&r->head, c);
    if (k != kAddressUndecided) {
        r->phase = kRefreshDone;
        return Settle(r, k);
    }
    return k;
}

// The letters of "url" read so far turned out to begin the address itself.
static AddressKind FeedUrlWord(AddressReader *r, bool blankAfter)
{
    static const char kWord[] = "url";
    AddressKind k = kAddressUndecided;
    for (int32_t i = 0; i < r->matched && k == kAddressUndecided; i++)
        k = HeadChar(r, (unsigned char)kWord[i]);
    if (k == kAddressUndecided && blankAfter)
        k = HeadChar(r, ' ');
    r->phase = kRefreshAddress;
    return k;
}

// The handlers of the refresh phases, one each.

static AddressKind OnRefreshLeading(AddressReader *r, uint32_t c)
{
    if (IsHtmlBlank(c))
        return kAddressUndecided;
    if (IsAsciiDigit(c) || c == '.') {
        r->phase = kRefreshTime;
        return kAddressUndecided;
    }
    return Settle(r, kAddressOther);
}

static AddressKind OnRefreshTime(AddressReader *r, uint32_t c)
{
    if (IsAsciiDigit(c) || c == '.')
        return kAddressUndecided;
    if (c == ';' || c == ',') {
        r->phase = kRefreshAfterSeparator;
        return kAddressUndecided;
    }
    if (IsHtmlBlank(c)) {
        r->phase = kRefreshAfterTime;
        return kAddressUndecided;
    }
    return Settle(r, kAddressOther);
}

static AddressKind OnRefreshAfterEquals(AddressReader *r, uint32_t c)
{
    if (IsHtmlBlank(c))
        return kAddressUndecided;
    if (c == '"' || c == '\'') {
        r->phase = kRefreshQuoted;
        r->matched = (int32_t)c;
        return kAddressUndecided;
    }
    r->phase = kRefreshAddress;
    return HeadChar(r, c);
}

// The letters of "url" read so far, and a blank when blankAfter, begin the
// address; c follows them.
static AddressKind NotUrlWord(AddressReader *r, uint32_t c, bool blankAfter)
{
    if (FeedUrlWord(r, blankAfter) != kAddressUndecided)
        return r->kind;
    return HeadChar(r, c);
}

static AddressKind OnRefreshUrlWord(AddressReader *r, uint32_t c)
{
    if (LowerAscii(c) == (uint32_t)"url"[r->matched]) {
        if (++r->matched == 3)
            r->phase = kRefreshAfterUrlWord;
        return kAddressUndecided;
    }
    if (r->matched == 0) {
        r->phase = kRefreshAfterEquals;     // no "url=": a quote may still come
        return OnRefreshAfterEquals(r, c);
    }
    return NotUrlWord(r, c, false);
}

static AddressKind OnRefreshAfterTime(AddressReader *r, uint32_t c)
{
    if (IsHtmlBlank(c))
        return kAddressUndecided;
    if (c == ';' || c == ',') {
        r->phase = kRefreshAfterSeparator;
        return kAddressUndecided;
    }
    r->phase = kRefreshUrlWord;
    return OnRefreshUrlWord(r, c);
}

static AddressKind OnRefreshAfterSeparator(AddressReader *r, uint32_t c)
{
    if (IsHtmlBlank(c))
        return kAddressUndecided;
    r->phase = kRefreshUrlWord;
    return OnRefreshUrlWord(r, c);
}

// After "url" (and a blank when blankBefore): an '=' or the address.
static AddressKind UrlWordEnded(AddressReader *r, uint32_t c, bool blankBefore)
{
    if (c == '=') {
        r->phase = kRefreshAfterEquals;
        r->matched = 0;
        return kAddressUndecided;
    }
    return NotUrlWord(r, c, blankBefore);
}

static AddressKind OnRefreshAfterUrlWord(AddressReader *r, uint32_t c)
{
    if (IsHtmlBlank(c)) {
        r->phase = kRefreshAfterUrlBlank;
        return kAddressUndecided;
    }
    return UrlWordEnded(r, c, false);
}

static AddressKind OnRefreshAfterUrlBlank(AddressReader *r, uint32_t c)
{
    if (IsHtmlBlank(c))
        return kAddressUndecided;
    return UrlWordEnded(r, c, true);
}

static AddressKind OnRefreshAddress(AddressReader *r, uint32_t c)
{
    return HeadChar(r, c);
}

static AddressKind OnRefreshQuoted(AddressReader *r, uint32_t c)
{
    if (c == (uint32_t)r->matched) {
        r->phase = kRefreshDone;
        return Settle(r, FinishUrlHead(&r->head));
    }
    return HeadChar(r, c);
}

static AddressKind OnRefreshDone(AddressReader *r, uint32_t)
{
    return r->kind;
}

typedef AddressKind RefreshHandler(AddressReader *r, uint32_t c);

static RefreshHandler *const kRefreshHandlers[kRefreshPhaseCount] = {
    OnRefreshLeading, OnRefreshTime,         OnRefreshAfterTime,     OnRefreshAfterSeparator,
    OnRefreshUrlWord, OnRefreshAfterUrlWord, OnRefreshAfterUrlBlank, OnRefreshAfterEquals,
    OnRefreshAddress, OnRefreshQuoted,       OnRefreshDone,
};

// The dispatcher for refresh values.
static AddressKind RefreshChar(AddressReader *r, uint32_t c)
{
    return kRefreshHandlers[r->phase](r, c);
}

static AddressKind ReaderChar(AddressReader *r, uint32_t c)
{
    switch (r->syntax) {
    case kSyntaxList:
    case kSyntaxValues:
        return ListChar(r, c);
    case kSyntaxRefresh:
        return RefreshChar(r, c);
    default: {
        AddressKind k = UrlHeadChar(&r->head, c);
        return k == kAddressUndecided ? k : Settle(r, k);
    }
    }
}

AddressKind AddressReaderByte(AddressReader *r, unsigned char c)
{
    if (r->kind != kAddressUndecided)
        return r->kind;
    int64_t at = r->at++;
    // A byte outside a reference stands for itself.
    if (!r->entities || (c != '&' && r->refs.state == kRefText))
        return ReaderChar(r, c);
    DecodedChar out[kRefOutMax];
    int n = CharRefByte(&r->refs, c, at, out);
    for (int i = 0; i < n && r->kind == kAddressUndecided; i++)
        ReaderChar(r, out[i].c);
    return r->kind;
}

// Scheme bytes: letters, digits, '+', '-', '.'.
struct SchemeBytes {
    bool of[256];
};

static constexpr SchemeBytes BuildSchemeBytes()
{
    SchemeBytes t = {};
    for (int c = 0; c < 256; c++)
        t.of[c] = IsAsciiAlpha((uint32_t)c) || IsAsciiDigit((uint32_t)c) || c == '+' || c == '-' || c == '.';
    return t;
}

static constexpr SchemeBytes kSchemeBytes = BuildSchemeBytes();

size_t AddressReaderSpan(AddressReader *r, const unsigned char *p, size_t n)
{
    size_t i = 0;
    while (i < n && r->kind == kAddressUndecided) {
        // Most values are a word or a path: the scheme's letters one after
        // the other, as UrlHeadChar would take them, up to the byte that
        // decides.
        if (r->syntax == kSyntaxOne && r->refs.state == kRefText && r->head.state == kHeadScheme) {
            UrlHead *h = &r->head;
            size_t from = i;
            while (i < n && kSchemeBytes.of[p[i]] && h->length < kSchemeMax)
                h->text[h->length++] = (char)LowerAscii(p[i++]);
            r->at += (int64_t)(i - from);
            if (i == n)
                break;
        }
        AddressReaderByte(r, p[i++]);
    }
    return i;
}

AddressKind FinishAddressReader(AddressReader *r)
{
    if (r->kind != kAddressUndecided)
        return r->kind;
    if (r->entities) {
        DecodedChar out[kRefOutMax];
        int n = FinishCharRefs(&r->refs, r->at, out);
        for (int i = 0; i < n && r->kind == kAddressUndecided; i++)
            ReaderChar(r, out[i].c);
        if (r->kind != kAddressUndecided)
            return r->kind;
    }
    switch (r->syntax) {
    case kSyntaxList:
    case kSyntaxValues:
        if (r->phase == kListItem)
            EndListItem(r);
        break;
    case kSyntaxRefresh:
        if (r->phase == kRefreshUrlWord || r->phase == kRefreshAfterUrlWord ||
            r->phase == kRefreshAfterUrlBlank) {
            FeedUrlWord(r, r->phase == kRefreshAfterUrlBlank);
            if (r->kind != kAddressUndecided)
                return r->kind;
        }
        if (r->phase == kRefreshAddress || r->phase == kRefreshQuoted)
            Settle(r, FinishUrlHead(&r->head));
        break;
    default:
        Settle(r, FinishUrlHead(&r->head));
        break;
    }
    if (r->kind == kAddressUndecided)
        r->kind = kAddressOther;
    return r->kind;
}

AddressKind ReadAddress(const unsigned char *p, size_t n, AddressSyntax syntax, bool wantDataType)
{
    AddressReader r;
    StartAddressReader(&r, syntax, wantDataType, true);
    for (size_t i = 0; i < n && r.kind == kAddressUndecided; i++)
        AddressReaderByte(&r, p[i]);
    return FinishAddressReader(&r);
}
