// See refs.h.
#include "clean/refs.h"
#include <stdlib.h>
#include <string.h>

// ---------------------------------------------------------------------------
// Characters into a reference's UTF-8

// windows-1252's characters for the bytes 0x80 to 0x9F (ISO-8859-1 has its
// C1 controls there, which no file name holds).
static const uint16_t kWindows1252High[32] = {
    0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021, 0x2C6,  0x2030, 0x160,
    0x2039, 0x152,  0x8D,   0x17D,  0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178,
};

// A reference being gathered: its UTF-8 so far, or unreadable.
struct RefText {
    char text[kRefMax];
    size_t length;
    bool bad;
    bool single;        // one address: past a '?' or '#' the rest may go
    bool cut;           // it did: the bytes past kRefMax are dropped
};

static void StartRefText(RefText *t, bool single = true)
{
    t->length = 0;
    t->bad = false;
    t->single = single;
    t->cut = false;
}

static void PutRefByte(RefText *t, unsigned char b)
{
    if (t->length >= sizeof t->text) {
        // A long query or fragment names no other file: only the path counts.
        if (!t->bad && !t->cut)
            t->cut = t->single && (memchr(t->text, '?', t->length) || memchr(t->text, '#', t->length));
        t->bad = !t->cut;
        return;
    }
    t->text[t->length++] = (char)b;
}

static void PutCodePoint(RefText *t, uint32_t c)
{
    if (c < 0x80) {
        PutRefByte(t, (unsigned char)c);
    } else if (c < 0x800) {
        PutRefByte(t, (unsigned char)(0xC0 | (c >> 6)));
        PutRefByte(t, (unsigned char)(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        PutRefByte(t, (unsigned char)(0xE0 | (c >> 12)));
        PutRefByte(t, (unsigned char)(0x80 | ((c >> 6) & 0x3F)));
        PutRefByte(t, (unsigned char)(0x80 | (c & 0x3F)));
    } else if (c < 0x110000) {
        PutRefByte(t, (unsigned char)(0xF0 | (c >> 18)));
        PutRefByte(t, (unsigned char)(0x80 | ((c >> 12) & 0x3F)));
        PutRefByte(t, (unsigned char)(0x80 | ((c >> 6) & 0x3F)));
        PutRefByte(t, (unsigned char)(0x80 | (c & 0x3F)));
    } else {
        t->bad = true;
    }
}

// Whether what one address has gathered so far says that no byte after it
// can name a file: it has come to its query or fragment, or it began with
// a scheme other than file: (as ResolveReference reads them: blanks before
// it, tabs and line breaks within passed over).
static bool PastAnyFile(const RefText *t)
{
    if (!t->single)
        return false;
    size_t i = 0, letters = 0;
    char scheme[4];
    while (i < t->length && (unsigned char)t->text[i] <= 0x20)
        i++;
    for (; i < t->length; i++) {
        char c = t->text[i];
        if (c == '?' || c == '#')
            return true;
        if (c == '\t' || c == '\n' || c == '\r')
            continue;
        bool letter = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
        if (c == ':')
            return letters > 0 && !(letters == 4 && memcmp(scheme, "file", 4) == 0);
        if (!(letter || (letters > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))))
            break;
        if (letters < 4)
            scheme[letters] = (char)(c | 0x20);
        letters++;
    }
    for (; i < t->length; i++)
        if (t->text[i] == '?' || t->text[i] == '#')
            return true;
    return false;
}

// One character of the text: `raw` when it is a byte of the input as it
// stands (not a character reference's), read in the charset. A raw byte
// the charset does not tell makes the reference unreadable, unless the
// address is past any file by then (a mailto: subject, a query): then it
// stands as U+FFFD.
static void PutRefChar(RefText *t, uint32_t c, bool raw, RefCharset charset)
{
    if (!raw || c < 0x80)
        PutCodePoint(t, c);
    else if (charset == kCharsetUtf8)
        PutRefByte(t, (unsigned char)c);
    else if (charset == kCharsetLatin)
        PutCodePoint(t, c < 0xA0 ? kWindows1252High[c - 0x80] : c);
    else if (PastAnyFile(t))
        PutCodePoint(t, 0xFFFD);
    else
        t->bad = true;
}

static bool IsBlank(uint32_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

static unsigned char Lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? (unsigned char)(c + 32) : c;
}

// ---------------------------------------------------------------------------
// Style sheet text, one character at a time

enum CssState {
    kCssText,
    kCssSlash,          // after '/': a comment may begin
    kCssComment,
    kCssCommentStar,    // a '*' in a comment
    kCssString,         // a string: a reference
    kCssWord,           // an identifier or at-keyword: "url" or "@import" may end it
    kCssUrlOpen,        // after "url(": blanks, then a quote or an unquoted address
    kCssUrl,            // an unquoted address, up to ')' or a blank
};

enum { kCssWordMax = 8 };

struct CssReader {
    int state;
    RefCharset charset;
    RefProc each;
    void *context;
    // A CSS escape: 0 none, 1 after '\', 2 in its hex digits.
    int escape;
    uint32_t escapeValue;
    int escapeDigits;
    uint32_t quote;
    char word[kCssWordMax];
    int wordLength;             // past kCssWordMax: no word of ours
    bool atKeyword;
    bool import;                // after @import: the next reference is a style sheet
    RefText ref;
};

static void StartCss(CssReader *r, RefCharset charset, RefProc each, void *context)
{
    memset(r, 0, sizeof *r);
    r->state = kCssText;
    r->charset = charset;
    r->each = each;
    r->context = context;
}

static void TellCssRef(CssReader *r)
{
    RefText *t = &r->ref;
    RefKind kind = t->bad ? kRefUnreadable : r->import ? kRefStyleSheet : kRefPlain;
    r->each(r->context, kind, t->text, t->bad ? 0 : t->length);
    r->import = false;
}

static bool IsWordChar(uint32_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c >= 0x80;
}

static int HexValue(uint32_t c)
{
    if (c >= '0' && c <= '9')
        return (int)(c - '0');
    if (c >= 'a' && c <= 'f')
        return (int)(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return (int)(c - 'A' + 10);
    return -1;
}

// The text state: what begins here.
static void CssTextChar(CssReader *r, uint32_t c)
{
    if (c == '/') {
        r->state = kCssSlash;
    } else if (c == '"' || c == '\'') {
        r->quote = c;
        StartRefText(&r->ref);
        r->state = kCssString;
    } else if (c == '@' || IsWordChar(c)) {
        r->atKeyword = c == '@';
        r->wordLength = 0;
        if (c != '@')
            r->word[r->wordLength++] = (char)Lower((unsigned char)(c < 0x80 ? c : 0x80));
        r->state = kCssWord;
    } else if (c == ';' || c == '{' || c == '}') {
        r->import = false;
    }
}

static void CssWordChar(CssReader *r, uint32_t c)
{
    if (IsWordChar(c)) {
        if (r->wordLength < kCssWordMax)
            r->word[r->wordLength] = (char)Lower((unsigned char)(c < 0x80 ? c : 0x80));
        r->wordLength++;
        return;
    }
    bool url = !r->atKeyword && r->wordLength == 3 && memcmp(r->word, "url", 3) == 0;
    if (r->atKeyword && r->wordLength == 6 && memcmp(r->word, "import", 6) == 0)
        r->import = true;
    if (c == '(' && url) {
        r->state = kCssUrlOpen;
        return;
    }
    r->state = kCssText;
    CssTextChar(r, c);
}

// A character of a reference that is not an escape's.
static void CssRefChar(CssReader *r, uint32_t c, bool raw)
{
    if (r->state == kCssString) {
        if (c == r->quote) {
            TellCssRef(r);
            r->state = kCssText;
        } else if (c == '\n') {
            // A string cut by a line break is no string.
            r->state = kCssText;
        } else {
            PutRefChar(&r->ref, c, raw, r->charset);
        }
        return;
    }
    if (c == ')' || IsBlank(c)) {
        TellCssRef(r);
        r->state = kCssText;
        return;
    }
    PutRefChar(&r->ref, c, raw, r->charset);
}

// An escape in a string or an unquoted address; false when `c` ends it
// without being taken.
static bool CssEscapeChar(CssReader *r, uint32_t c)
{
    if (r->escape == 1) {
        r->escape = 0;
        int h = HexValue(c);
        if (h >= 0) {
            r->escape = 2;
            r->escapeValue = (uint32_t)h;
            r->escapeDigits = 1;
        } else if (c != '\n') {
            PutRefChar(&r->ref, c, false, r->charset);
        }
        return true;
    }
    int h = HexValue(c);
    if (h >= 0 && r->escapeDigits < 6) {
        r->escapeValue = r->escapeValue * 16 + (uint32_t)h;
        r->escapeDigits++;
        return true;
    }
    r->escape = 0;
    uint32_t v = r->escapeValue;
    PutCodePoint(&r->ref, v == 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF) ? 0xFFFD : v);
    return IsBlank(c);          // one blank after the digits belongs to the escape
}

static void CssChar(CssReader *r, uint32_t c, bool raw)
{
    switch (r->state) {
    case kCssText:
        CssTextChar(r, c);
        return;
    case kCssSlash:
        r->state = kCssText;
        if (c == '*')
            r->state = kCssComment;
        else
            CssTextChar(r, c);
        return;
    case kCssComment:
        if (c == '*')
            r->state = kCssCommentStar;
        return;
    case kCssCommentStar:
        r->state = c == '/' ? kCssText : c == '*' ? kCssCommentStar : kCssComment;
        return;
    case kCssWord:
        CssWordChar(r, c);
        return;
    case kCssUrlOpen:
        if (IsBlank(c))
            return;
        if (c == '"' || c == '\'') {
            r->quote = c;
            StartRefText(&r->ref);
            r->state = kCssString;
            return;
        }
        StartRefText(&r->ref);
        r->state = kCssUrl;
        break;
    default:
        break;
    }
    // A string or an unquoted address.
    if (r->escape && CssEscapeChar(r, c))
        return;
    if (c == '\\') {
        r->escape = 1;
        return;
    }
    CssRefChar(r, c, raw);
}

static void FinishCss(CssReader *r)
{
    if (r->escape == 2)
        CssEscapeChar(r, ' ');
    // An address the text's end cut short is still one a browser reads.
    if (r->state == kCssString || r->state == kCssUrl)
        TellCssRef(r);
    r->state = kCssText;
    r->escape = 0;
}

bool ReadCssRefs(ByteStream *in, RefCharset charset, RefProc each, void *context)
{
    CssReader r;
    StartCss(&r, charset, each, context);
    for (int c; (c = StreamGet(in)) >= 0;)
        CssChar(&r, (uint32_t)c, true);
    FinishCss(&r);
    return !StreamReadFailed(in);
}

// ---------------------------------------------------------------------------
// Markup

enum MarkupState {
    kMuText,
    kMuTagOpen,         // after '<'
    kMuBang,            // after "<!"
    kMuBangDash,        // after "<!-"
    kMuComment,
    kMuBogus,           // up to '>': end tags, declarations, processing instructions
    kMuTagName,
    kMuBeforeAttr,
    kMuAttrName,
    kMuAfterAttrName,
    kMuBeforeValue,
    kMuValue,           // quoted (quote set) or not
    kMuRawStyle,        // a STYLE element's content, up to "</style"
    kMuRawScript,       // a SCRIPT element's content, up to "</script"
};

// What an attribute's value is to the reader.
enum AttrRole {
    kRoleNone,
    kRoleOne,           // one address
    kRoleSrcset,        // candidates: an address and its descriptors, apart by commas
    kRoleList,          // addresses apart by blanks
    kRoleStyle,         // style sheet text
};

struct AttrRoleRow {
    char name[12];              // the longest, "imagesrcset", and its zero
    AttrRole role;
};
static const AttrRoleRow kAttrRoles[] = {
    {"src", kRoleOne},          {"href", kRoleOne},        {"xlink:href", kRoleOne},
    {"poster", kRoleOne},       {"data", kRoleOne},        {"background", kRoleOne},
    {"lowsrc", kRoleOne},       {"dynsrc", kRoleOne},      {"longdesc", kRoleOne},
    {"action", kRoleOne},       {"formaction", kRoleOne},  {"codebase", kRoleOne},
    {"icon", kRoleOne},         {"manifest", kRoleOne},    {"cite", kRoleOne},
    {"srcset", kRoleSrcset},    {"imagesrcset", kRoleSrcset},
    {"archive", kRoleList},     {"style", kRoleStyle},
};

enum { kMuNameMax = 16 };

struct MarkupReader {
    int state;
    RefCharset charset;
    RefProc each;
    void *context;
    char tag[kMuNameMax];
    int tagLength;
    bool endTag;
    char attr[kMuNameMax];
    int attrLength;
    AttrRole role;
    unsigned char quote;        // of the value, or 0
    int dashes;                 // a comment's '-' in a row
    int matched;                // raw text: bytes of "</style" or "</script" matched
    CharRefDecoder refs;
    int64_t at;
    CssReader css;              // style attributes and STYLE content
    RefText value;
};

static bool TagIs(const MarkupReader *m, const char *name)
{
    return (size_t)m->tagLength == strlen(name) && memcmp(m->tag, name, (size_t)m->tagLength) == 0;
}

static void TellRef(MarkupReader *m, const char *text, size_t n, bool bad)
{
    RefKind kind = bad ? kRefUnreadable : kRefPlain;
    if (!bad && TagIs(m, "base") && m->role == kRoleOne && m->attrLength == 4)
        kind = kRefBase;
    else if (!bad && TagIs(m, "link") && m->attrLength == 4 && memcmp(m->attr, "href", 4) == 0)
        kind = kRefStyleSheet;
    m->each(m->context, kind, text, bad ? 0 : n);
}

// srcset: each candidate's address up to a blank, a trailing comma taken
// off; its descriptors up to the comma that ends the candidate.
static void TellSrcset(MarkupReader *m, const char *p, size_t n)
{
    size_t i = 0;
    while (i < n) {
        while (i < n && (IsBlank((unsigned char)p[i]) || p[i] == ','))
            i++;
        size_t start = i;
        while (i < n && !IsBlank((unsigned char)p[i]))
            i++;
        size_t end = i;
        bool commaEnded = false;
        while (end > start && p[end - 1] == ',') {
            end--;
            commaEnded = true;
        }
        if (end > start)
            TellRef(m, p + start, end - start, false);
        if (commaEnded)
            continue;
        int depth = 0;
        while (i < n && (depth > 0 || p[i] != ',')) {
            depth += p[i] == '(' ? 1 : p[i] == ')' && depth > 0 ? -1 : 0;
            i++;
        }
    }
}

static void TellList(MarkupReader *m, const char *p, size_t n)
{
    size_t i = 0;
    while (i < n) {
        while (i < n && (IsBlank((unsigned char)p[i]) || p[i] == ','))
            i++;
        size_t start = i;
        while (i < n && !IsBlank((unsigned char)p[i]) && p[i] != ',')
            i++;
        if (i > start)
            TellRef(m, p + start, i - start, false);
    }
}

static void StartValue(MarkupReader *m)
{
    m->role = kRoleNone;
    size_t n = (size_t)m->attrLength;
    for (const AttrRoleRow &row : kAttrRoles) {
        if (n > 0 && n < sizeof row.name && row.name[n] == 0 && row.name[n - 1] != 0 &&
            memcmp(m->attr, row.name, n) == 0)
            m->role = row.role;
    }
    if (m->endTag)
        m->role = kRoleNone;
    StartCharRefs(&m->refs);
    StartRefText(&m->value, m->role == kRoleOne);
    if (m->role == kRoleStyle)
        StartCss(&m->css, m->charset, m->each, m->context);
}

static void ValueChars(MarkupReader *m, const DecodedChar *out, int n)
{
    for (int i = 0; i < n; i++) {
        bool raw = out[i].end - out[i].start == 1;
        if (m->role == kRoleStyle)
            CssChar(&m->css, out[i].c, raw);
        else
            PutRefChar(&m->value, out[i].c, raw, m->charset);
    }
}

static void ValueByte(MarkupReader *m, unsigned char c)
{
    if (m->role == kRoleNone)
        return;
    DecodedChar out[kRefOutMax];
    ValueChars(m, out, CharRefByte(&m->refs, c, m->at, out));
}

static void FinishValue(MarkupReader *m)
{
    if (m->role == kRoleNone)
        return;
    DecodedChar out[kRefOutMax];
    ValueChars(m, out, FinishCharRefs(&m->refs, m->at, out));
    RefText *v = &m->value;
    switch (m->role) {
    case kRoleOne:
        TellRef(m, v->text, v->length, v->bad);
        break;
    case kRoleSrcset:
        if (v->bad)
            TellRef(m, 0, 0, true);
        else
            TellSrcset(m, v->text, v->length);
        break;
    case kRoleList:
        if (v->bad)
            TellRef(m, 0, 0, true);
        else
            TellList(m, v->text, v->length);
        break;
    case kRoleStyle:
        FinishCss(&m->css);
        break;
    default:
        break;
    }
    m->role = kRoleNone;
}

// The tag ended at its '>'.
static void EndOfTag(MarkupReader *m)
{
    m->state = kMuText;
    m->matched = 0;
    if (m->endTag)
        return;
    if (TagIs(m, "style")) {
        m->state = kMuRawStyle;
        StartCss(&m->css, m->charset, m->each, m->context);
    } else if (TagIs(m, "script")) {
        m->state = kMuRawScript;
    }
}

static void StartAttr(MarkupReader *m, unsigned char c)
{
    m->attrLength = 0;
    m->attr[m->attrLength++] = (char)Lower(c);
    m->state = kMuAttrName;
}

static void TagOpenByte(MarkupReader *m, unsigned char c)
{
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    m->tagLength = 0;
    m->endTag = false;
    if (c == '!') {
        m->state = kMuBang;
    } else if (c == '/') {
        m->endTag = true;
        m->state = kMuBogus;
    } else if (c == '?') {
        m->state = kMuBogus;
    } else if (letter) {
        m->tag[m->tagLength++] = (char)Lower(c);
        m->state = kMuTagName;
    } else {
        m->state = c == '<' ? kMuTagOpen : kMuText;
    }
}

static void TagNameByte(MarkupReader *m, unsigned char c)
{
    if (IsBlank(c) || c == '/') {
        m->state = kMuBeforeAttr;
    } else if (c == '>') {
        EndOfTag(m);
    } else if (m->tagLength < kMuNameMax) {
        m->tag[m->tagLength++] = (char)Lower(c);
    } else {
        m->tagLength = kMuNameMax;      // too long: no tag of ours (TagIs never matches)
    }
}

static void AttrNameByte(MarkupReader *m, unsigned char c)
{
    if (IsBlank(c)) {
        m->state = kMuAfterAttrName;
    } else if (c == '=') {
        m->state = kMuBeforeValue;
    } else if (c == '>') {
        EndOfTag(m);
    } else if (c == '/') {
        m->state = kMuBeforeAttr;
    } else if (m->attrLength < kMuNameMax) {
        m->attr[m->attrLength++] = (char)Lower(c);
    } else {
        m->attrLength = kMuNameMax + 1;
    }
}

static void BeforeValueByte(MarkupReader *m, unsigned char c)
{
    if (IsBlank(c))
        return;
    if (c == '>') {
        StartValue(m);
        FinishValue(m);
        EndOfTag(m);
        return;
    }
    StartValue(m);
    m->state = kMuValue;
    m->quote = c == '"' || c == '\'' ? c : 0;
    if (!m->quote)
        ValueByte(m, c);
}

static void ValueStateByte(MarkupReader *m, unsigned char c)
{
    if (m->quote ? c == m->quote : IsBlank(c) || c == '>') {
        FinishValue(m);
        if (!m->quote && c == '>')
            EndOfTag(m);
        else
            m->state = kMuBeforeAttr;
        return;
    }
    ValueByte(m, c);
}

// Raw text up to its end tag; style sheet text goes to the CSS reader as
// it comes (the end tag's own bytes too, which name nothing).
static void RawByte(MarkupReader *m, unsigned char c, const char *end)
{
    if (m->state == kMuRawStyle)
        CssChar(&m->css, c, true);
    size_t n = strlen(end);
    if (Lower(c) == (unsigned char)end[m->matched]) {
        if ((size_t)++m->matched == n) {
            if (m->state == kMuRawStyle)
                FinishCss(&m->css);
            m->endTag = true;
            m->state = kMuBogus;
        }
    } else {
        m->matched = c == '<' ? 1 : 0;
    }
}

static void MarkupByte(MarkupReader *m, unsigned char c)
{
    switch (m->state) {
    case kMuText:
        if (c == '<')
            m->state = kMuTagOpen;
        break;
    case kMuTagOpen:
        TagOpenByte(m, c);
        break;
    case kMuBang:
        m->state = c == '-' ? kMuBangDash : c == '>' ? kMuText : kMuBogus;
        break;
    case kMuBangDash:
        m->dashes = 0;
        m->state = c == '-' ? kMuComment : c == '>' ? kMuText : kMuBogus;
        break;
    case kMuComment:
        if (c == '>' && m->dashes >= 2)
            m->state = kMuText;
        m->dashes = c == '-' ? m->dashes + 1 : 0;
        break;
    case kMuBogus:
        if (c == '>')
            m->state = kMuText;
        break;
    case kMuTagName:
        TagNameByte(m, c);
        break;
    case kMuBeforeAttr:
        if (c == '>')
            EndOfTag(m);
        else if (!IsBlank(c) && c != '/')
            StartAttr(m, c);
        break;
    case kMuAttrName:
        AttrNameByte(m, c);
        break;
    case kMuAfterAttrName:
        if (c == '=')
            m->state = kMuBeforeValue;
        else if (c == '>')
            EndOfTag(m);
        else if (!IsBlank(c) && c != '/')
            StartAttr(m, c);
        break;
    case kMuBeforeValue:
        BeforeValueByte(m, c);
        break;
    case kMuValue:
        ValueStateByte(m, c);
        break;
    case kMuRawStyle:
        RawByte(m, c, "</style");
        break;
    case kMuRawScript:
        RawByte(m, c, "</script");
        break;
    }
}

// How many of the n bytes at p change nothing in the present state, so
// that they can pass unread: text up to a '<', a tag that ends at '>' or
// raw script text up to a '<' (where no end tag is half matched), and the
// value of an attribute that names nothing up to its end.
static size_t QuietRun(const MarkupReader *m, const unsigned char *p, size_t n)
{
    const void *stop = nullptr;
    switch (m->state) {
    case kMuText:
        stop = memchr(p, '<', n);
        break;
    case kMuBogus:
        stop = memchr(p, '>', n);
        break;
    case kMuRawScript:
        if (m->matched)
            return 0;
        stop = memchr(p, '<', n);
        break;
    case kMuValue:
        if (m->role != kRoleNone || !m->quote)
            return 0;
        stop = memchr(p, m->quote, n);
        break;
    default:
        return 0;
    }
    return stop ? (size_t)((const unsigned char *)stop - p) : n;
}

// How many of the n bytes at p are plain characters of a value that names
// something, taken here in one go: ASCII but '&', and not the value's end,
// while no character reference is begun. Each is what ValueByte would make
// of it: the byte itself.
static size_t PlainValueRun(MarkupReader *m, const unsigned char *p, size_t n)
{
    if (m->state != kMuValue || m->role == kRoleNone || m->role == kRoleStyle || !CharRefsIdle(&m->refs))
        return 0;
    size_t i = 0;
    for (; i < n; i++) {
        unsigned char c = p[i];
        if (c >= 0x80 || c == '&' || (m->quote ? c == m->quote : IsBlank(c) || c == '>'))
            break;
        PutRefByte(&m->value, c);
    }
    return i;
}

// The reader fed by its caller.
struct MarkupRefs {
    MarkupReader reader;
};

MarkupRefs *StartMarkupRefs(RefCharset charset, RefProc each, void *context)
{
    // Its reference buffers are too large for a thread's stack to hold twice.
    static_assert(sizeof(MarkupReader) < 3 * kRefMax, "two references held at most");
    MarkupRefs *refs = (MarkupRefs *)calloc(1, sizeof *refs);
    if (!refs)
        return nullptr;
    MarkupReader *m = &refs->reader;
    m->state = kMuText;
    m->charset = charset;
    m->each = each;
    m->context = context;
    return refs;
}

void MarkupRefsBytes(void *refs, const unsigned char *p, size_t n)
{
    MarkupReader *m = &((MarkupRefs *)refs)->reader;
    size_t i = 0;
    while (i < n) {
        size_t skip = QuietRun(m, p + i, n - i);
        if (!skip)
            skip = PlainValueRun(m, p + i, n - i);
        i += skip;
        m->at += (int64_t)skip;
        if (i < n) {
            MarkupByte(m, p[i++]);
            m->at++;
        }
    }
}

void FinishMarkupRefs(MarkupRefs *refs)
{
    if (!refs)
        return;
    MarkupReader *m = &refs->reader;
    if (m->state == kMuValue)
        FinishValue(m);
    else if (m->state == kMuRawStyle)
        FinishCss(&m->css);
    free(refs);
}

bool ReadMarkupRefs(ByteStream *in, RefCharset charset, RefProc each, void *context)
{
    MarkupRefs *m = StartMarkupRefs(charset, each, context);
    if (!m)
        return false;
    StreamFeed(in, MarkupRefsBytes, m);
    FinishMarkupRefs(m);
    return !StreamReadFailed(in);
}

// ---------------------------------------------------------------------------
// The charset

static bool StartsWithIgnoreCase(const unsigned char *p, size_t n, const char *word)
{
    size_t k = strlen(word);
    if (n < k)
        return false;
    for (size_t i = 0; i < k; i++) {
        if (Lower(p[i]) != (unsigned char)word[i])
            return false;
    }
    return true;
}

static const char *const kLatinNames[] = {
    "iso-8859-1", "iso8859-1", "latin1", "latin-1", "l1", "windows-1252", "cp1252", "x-cp1252",
    "us-ascii", "ascii", "iso_8859-1", "cp819", "ibm819",
};

RefCharset PageCharset(const unsigned char *head, size_t n)
{
    if (n >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF)
        return kCharsetUtf8;
    if (n > kCharsetLook)
        n = kCharsetLook;
    for (size_t i = 0; i < n; i++) {
        if (!StartsWithIgnoreCase(head + i, n - i, "charset"))
            continue;
        size_t j = i + 7;
        while (j < n && IsBlank(head[j]))
            j++;
        if (j >= n || head[j] != '=')
            continue;
        j++;
        while (j < n && (IsBlank(head[j]) || head[j] == '"' || head[j] == '\''))
            j++;
        size_t start = j;
        while (j < n && head[j] != '"' && head[j] != '\'' && head[j] != ';' && head[j] != '>' &&
               !IsBlank(head[j]) && head[j] != '/')
            j++;
        size_t len = j - start;
        if (len == 0)
            continue;
        if ((len == 5 && StartsWithIgnoreCase(head + start, len, "utf-8")) ||
            (len == 4 && StartsWithIgnoreCase(head + start, len, "utf8")))
            return kCharsetUtf8;
        for (const char *name : kLatinNames) {
            if (strlen(name) == len && StartsWithIgnoreCase(head + start, len, name))
                return kCharsetLatin;
        }
        return kCharsetUnknown;
    }
    return kCharsetUtf8;
}

// ---------------------------------------------------------------------------
// Resolving

struct PathOut {
    char *out;
    size_t size;
    size_t length;
    bool full;
};

static void PutPath(PathOut *o, const char *p, size_t n)
{
    if (o->length + n + 1 > o->size) {
        o->full = true;
        return;
    }
    memcpy(o->out + o->length, p, n);
    o->length += n;
    o->out[o->length] = 0;
}

// Takes the last segment off the path (never its leading "").
static void DropSegment(PathOut *o)
{
    while (o->length > 0 && o->out[o->length - 1] != '/')
        o->length--;
    if (o->length > 0)
        o->length--;
    o->out[o->length] = 0;
}

// One segment of the address, its "%XX" decoded: added to the path, or
// "." and ".." done. False for what no file name holds.
static bool PutSegment(PathOut *o, const char *p, size_t n)
{
    char seg[kRefMax];
    size_t k = 0;
    for (size_t i = 0; i < n; i++) {
        if (p[i] == '%') {
            int a = i + 1 < n ? HexValue((unsigned char)p[i + 1]) : -1;
            int b = i + 2 < n ? HexValue((unsigned char)p[i + 2]) : -1;
            if (a >= 0 && b >= 0) {
                char c = (char)(a * 16 + b);
                if (c == 0 || c == '/')
                    return false;
                seg[k++] = c;
                i += 2;
                continue;
            }
        }
        seg[k++] = p[i];
    }
    if (k == 1 && seg[0] == '.')
        return true;
    if (k == 2 && seg[0] == '.' && seg[1] == '.') {
        DropSegment(o);
        return true;
    }
    PutPath(o, "/", 1);
    PutPath(o, seg, k);
    return true;
}

// A named character reference that the decoder left as it was ("&eacute;"):
// the name it stands for is not known here.
static bool HasNamedReference(const char *p, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if (p[i] != '&')
            continue;
        size_t j = i + 1;
        while (j < n && ((p[j] >= 'a' && p[j] <= 'z') || (p[j] >= 'A' && p[j] <= 'Z') || (p[j] >= '0' && p[j] <= '9')))
            j++;
        if (j > i + 1 && j < n && p[j] == ';')
            return true;
    }
    return false;
}

RefTarget ResolveReference(const char *ref, size_t n, const char *base, char *out, size_t size)
{
    // Blanks and controls at either end; tabs and line breaks anywhere.
    char clean[kRefMax];
    size_t k = 0;
    while (n > 0 && (unsigned char)ref[0] <= 0x20) {
        ref++;
        n--;
    }
    while (n > 0 && (unsigned char)ref[n - 1] <= 0x20)
        n--;
    if (n > sizeof clean)
        return kTargetUnknown;
    for (size_t i = 0; i < n; i++) {
        if (ref[i] != '\t' && ref[i] != '\n' && ref[i] != '\r')
            clean[k++] = ref[i] == '\\' ? '/' : ref[i];
    }
    // The query and the fragment name no file.
    size_t end = 0;
    while (end < k && clean[end] != '?' && clean[end] != '#')
        end++;
    if (end == 0)
        return kTargetNone;
    // A scheme: letters, then letters, digits, '+', '-', '.', then ':'.
    size_t s = 0;
    if ((clean[0] | 0x20) >= 'a' && (clean[0] | 0x20) <= 'z') {
        while (s < end && (((clean[s] | 0x20) >= 'a' && (clean[s] | 0x20) <= 'z') || (clean[s] >= '0' && clean[s] <= '9') ||
                           clean[s] == '+' || clean[s] == '-' || clean[s] == '.'))
            s++;
        if (s < end && clean[s] == ':') {
            bool file = s == 4 && (clean[0] | 0x20) == 'f' && (clean[1] | 0x20) == 'i' &&
                        (clean[2] | 0x20) == 'l' && (clean[3] | 0x20) == 'e';
            if (!file)
                return kTargetNone;
            // file: an absolute path on this machine ("file:///x", "file://localhost/x").
            size_t at = 5;
            if (at + 1 < end && clean[at] == '/' && clean[at + 1] == '/') {
                size_t host = at + 2, slash = host;
                while (slash < end && clean[slash] != '/')
                    slash++;
                bool here = slash == host || (slash - host == 9 && memcmp(clean + host, "localhost", 9) == 0);
                if (!here)
                    return kTargetNone;     // a file of another machine
                at = slash;
            }
            if (at >= end || clean[at] != '/')
                return kTargetUnknown;
            memmove(clean, clean + at, end - at);
            end -= at;
        }
    }
    if (end >= 2 && clean[0] == '/' && clean[1] == '/')
        return kTargetNone;                 // another host
    if (HasNamedReference(clean, end))
        return kTargetUnknown;
    // An encoded slash is read as one (as some browsers read a file's
    // address; the others open nothing); an encoded NUL names no file.
    size_t w = 0;
    for (size_t i = 0; i < end; i++) {
        if (clean[i] == '%' && i + 2 < end && clean[i + 1] == '2' && (clean[i + 2] | 0x20) == 'f') {
            clean[w++] = '/';
            i += 2;
        } else if (clean[i] == '%' && i + 2 < end && clean[i + 1] == '0' && clean[i + 2] == '0') {
            return kTargetNone;
        } else {
            clean[w++] = clean[i];
        }
    }
    end = w;
    PathOut o = {out, size, 0, false};
    if (size == 0)
        return kTargetUnknown;
    out[0] = 0;
    if (clean[0] != '/')
        PutPath(&o, base, strlen(base));
    size_t i = 0;
    while (i < end) {
        while (i < end && clean[i] == '/')
            i++;
        size_t start = i;
        while (i < end && clean[i] != '/')
            i++;
        if (i > start && !PutSegment(&o, clean + start, i - start))
            return kTargetUnknown;
    }
    if (o.full)
        return kTargetUnknown;
    if (o.length == 0)
        PutPath(&o, "/", 1);
    return kTargetFile;
}
