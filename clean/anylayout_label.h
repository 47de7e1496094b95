// The rule for any layout: the chosen part described for people (its start
// tag as a label, its first words).
// An internal piece of the rule for any layout: anylayout.cpp builds its
// pieces as one unit, so that the lexer's calls into the outline stay inline.
#pragma once
#include "clean/anylayout_lexer.h"

namespace {

// ---------------------------------------------------------------------------
// The part described for people

// Up to n bytes of `in` from `from` into buf; how many.
size_t ReadBack(ByteStream *in, int64_t from, unsigned char *buf, size_t n, int64_t *count)
{
    StreamSeek(in, from);
    Reader r = {in, nullptr, nullptr, from + (int64_t)n, count};
    size_t got = 0;
    while (Refill(&r)) {
        memcpy(buf + got, r.p, (size_t)(r.end - r.p));
        got += (size_t)(r.end - r.p);
        r.p = r.end;
    }
    Release(&r);
    return got;
}

// Writes the n bytes at `in` into out as text for people (bytes below 0x20
// and bytes that are not UTF-8 as \xNN), whole characters only, in at most
// `room` bytes and a NUL. False when not all of them fit.
bool EscapeText(const unsigned char *in, size_t n, char *out, size_t room)
{
    static const char kHex[] = "0123456789ABCDEF";
    size_t o = 0, i = 0;
    while (i < n) {
        size_t length = in[i] >= 0x20 ? Utf8Length(in + i, n - i) : 0;
        size_t need = length ? length : 4;
        if (o + need > room)
            break;
        if (length) {
            memcpy(out + o, in + i, length);
        } else {
            out[o] = '\\';
            out[o + 1] = 'x';
            out[o + 2] = kHex[in[i] >> 4];
            out[o + 3] = kHex[in[i] & 15];
            length = 1;
        }
        o += need;
        i += length;
    }
    out[o] = '\0';
    return i == n;
}

const char kEllipsis[] = "\xE2\x80\xA6";

// The UTF-8 bytes of code point u into out (room for 4); how many.
size_t PutUtf8(uint32_t u, unsigned char *out)
{
    if (u < 0x80) {
        out[0] = (unsigned char)u;
        return 1;
    }
    if (u < 0x800) {
        out[0] = (unsigned char)(0xC0 | u >> 6);
        out[1] = (unsigned char)(0x80 | (u & 0x3F));
        return 2;
    }
    if (u < 0x10000) {
        out[0] = (unsigned char)(0xE0 | u >> 12);
        out[1] = (unsigned char)(0x80 | (u >> 6 & 0x3F));
        out[2] = (unsigned char)(0x80 | (u & 0x3F));
        return 3;
    }
    out[0] = (unsigned char)(0xF0 | u >> 18);
    out[1] = (unsigned char)(0x80 | (u >> 12 & 0x3F));
    out[2] = (unsigned char)(0x80 | (u >> 6 & 0x3F));
    out[3] = (unsigned char)(0x80 | (u & 0x3F));
    return 4;
}

struct NamedReference {
    const char *name;
    uint32_t code;
};

const NamedReference kReferences[] = {
    {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", ' '},
    {"ndash", 0x2013}, {"mdash", 0x2014}, {"hellip", 0x2026}, {"lsquo", 0x2018},
    {"rsquo", 0x2019}, {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"laquo", 0xAB}, {"raquo", 0xBB},
    {"copy", 0xA9}, {"middot", 0xB7}, {"bull", 0x2022},
};

// The code point of the reference "&...;" at p (n bytes left) and its
// length, or 0 for none this decodes.
size_t Reference(const unsigned char *p, size_t n, uint32_t *code)
{
    const unsigned char *semi = (const unsigned char *)memchr(p, ';', n < 12 ? n : 12);
    if (!semi || semi - p < 3)
        return 0;
    size_t length = (size_t)(semi - p) + 1;
    if (p[1] == '#') {
        bool hex = p[2] == 'x' || p[2] == 'X';
        uint32_t u = 0;
        const unsigned char *q = p + (hex ? 3 : 2);
        if (q == semi)
            return 0;
        for (; q < semi; q++) {
            int d = *q >= '0' && *q <= '9'                ? *q - '0'
                    : hex && (*q | 0x20) >= 'a' && (*q | 0x20) <= 'f' ? (*q | 0x20) - 'a' + 10
                                                                     : -1;
            if (d < 0 || u > 0x10FFFF)
                return 0;
            u = u * (hex ? 16 : 10) + (uint32_t)d;
        }
        if (u == 0 || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF))
            return 0;
        *code = u;
        return length;
    }
    for (const NamedReference &r : kReferences) {
        size_t k = strlen(r.name);
        if (k == length - 2 && memcmp(p + 1, r.name, k) == 0) {
            *code = r.code;
            return length;
        }
    }
    return 0;
}

// The words taken, their references decoded and blanks made single, into
// the result.
void FinishWords(State *st)
{
    // A reference that the room cut in two goes.
    if (st->wordsMore)
        for (int i = st->wordsLength - 1; i >= 0 && i >= st->wordsLength - 12; i--) {
            if (st->words[i] == ';' || IsBlank(st->words[i]))
                break;
            if (st->words[i] == '&') {
                st->wordsLength = i;
                break;
            }
        }
    unsigned char text[kWordsRaw];
    size_t n = 0;
    for (int i = 0; i < st->wordsLength;) {
        uint32_t code;
        size_t length = st->words[i] == '&' ? Reference(st->words + i, (size_t)(st->wordsLength - i), &code)
                                             : 0;
        unsigned char one[4];
        size_t k = length ? PutUtf8(code, one) : 1;
        if (!length) {
            one[0] = st->words[i];
            length = 1;
        }
        for (size_t j = 0; j < k; j++)
            if (!(IsBlank(one[j]) && (n == 0 || text[n - 1] == ' ')))
                text[n++] = IsBlank(one[j]) ? ' ' : one[j];
        i += (int)length;
    }
    while (n > 0 && text[n - 1] == ' ')
        n--;
    AnyLayoutResult *res = &st->result;
    res->moreWords = st->wordsMore;
    if (!EscapeText(text, n, res->firstWords, kAnyLayoutWordsBytes - 1))
        res->moreWords = true;
}

// Takes the first words of the pieces, reading no further than
// kWordsReadMax bytes into them.
void TakeFirstWords(State *st, ByteStream *input, const Cut *pieces, int pieceCount,
                    const Cut *cuts, int cutCount)
{
    int64_t from = pieces[0].start, to = pieces[pieceCount - 1].end;
    if (to < from)
        return;
    st->copying = true;
    st->takingWords = true;
    st->wordCuts = cuts;
    st->wordCutCount = cutCount;
    st->nextText = from;
    st->lex = Lexer();
    st->lex.state = kLexText;
    StreamSeek(input, from);
    int64_t limit = to + 1 < from + kWordsReadMax ? to + 1 : from + kWordsReadMax;
    Reader r = {input, nullptr, nullptr, limit, &st->result.bytesReadBack};
    Lex(st, &r);
    if (!st->wordsDone && limit < to + 1)
        st->wordsMore = true;
    st->wordsDone = false;
    st->takingWords = false;
    st->copying = false;
    FinishWords(st);
}

// Whether the n bytes at p, folded to lower case, are `name`.
bool IsName(const unsigned char *p, size_t n, const char *name)
{
    if (strlen(name) != n)
        return false;
    for (size_t i = 0; i < n; i++)
        if (Lower(p[i]) != (unsigned char)name[i])
            return false;
    return true;
}

// Bytes of the start tag read for the label.
struct LabelSpan {
    const unsigned char *p;         // null: none
    size_t n;
};

inline bool EndsLabelName(unsigned char c)
{
    return IsBlank(c) || c == '/' || c == '>';
}

// The attribute at tag[*at], after its blanks: its name and, after a '=',
// its value, quoted or bare (value->p null without one). Leaves *at after
// it.
void ReadLabelAttribute(const unsigned char *tag, size_t got, size_t *at, LabelSpan *name, LabelSpan *value)
{
    size_t i = *at;
    name->p = tag + i;
    while (i < got && !EndsLabelName(tag[i]) && tag[i] != '=')
        i++;
    name->n = (size_t)(tag + i - name->p);
    while (i < got && IsBlank(tag[i]))
        i++;
    *value = LabelSpan{nullptr, 0};
    if (i < got && tag[i] == '=') {
        i++;
        while (i < got && IsBlank(tag[i]))
            i++;
        if (i < got && (tag[i] == '"' || tag[i] == '\'')) {
            unsigned char quote = tag[i++];
            value->p = tag + i;
            while (i < got && tag[i] != quote)
                i++;
            value->n = (size_t)(tag + i - value->p);
            i++;
        } else {
            value->p = tag + i;
            while (i < got && !IsBlank(tag[i]) && tag[i] != '>')
                i++;
            value->n = (size_t)(tag + i - value->p);
        }
    }
    *at = i;
}

// "<name id="..." class="...">" into the result's label, escaped and cut
// to fit.
void WriteLabel(AnyLayoutResult *res, LabelSpan name, LabelSpan id, LabelSpan cls)
{
    unsigned char text[2 * kTagRead];
    size_t t = 0;
    auto put = [&](const void *p, size_t k) {
        memcpy(text + t, p, k);
        t += k;
    };
    put("<", 1);
    put(name.p, name.n);
    if (id.p) {
        put(" id=\"", 5);
        put(id.p, id.n);
        put("\"", 1);
    }
    if (cls.p) {
        put(" class=\"", 8);
        put(cls.p, cls.n);
        put("\"", 1);
    }
    put(">", 1);
    if (!EscapeText(text, t, res->label, kAnyLayoutLabelMax)) {
        EscapeText(text, t, res->label, kAnyLayoutLabelMax - (sizeof kEllipsis - 1));
        strcat(res->label, kEllipsis);
    }
}

// The label of the chosen element: its start tag at `at` (`n` bytes long)
// as its name, id and class.
void ReadLabel(State *st, ByteStream *input, int64_t at, int64_t n)
{
    AnyLayoutResult *res = &st->result;
    unsigned char tag[kTagRead];
    size_t got = n > 0 ? ReadBack(input, at, tag, n < kTagRead ? (size_t)n : (size_t)kTagRead,
                                  &res->bytesReadBack)
                       : 0;
    if (got < 2 || tag[0] != '<') {
        strcpy(res->label, "<body>");   // the root of a page without BODY
        return;
    }
    size_t i = 1;
    while (i < got && !EndsLabelName(tag[i]))
        i++;
    LabelSpan name = {tag + 1, i - 1}, id = {nullptr, 0}, cls = {nullptr, 0};
    for (;;) {
        while (i < got && (IsBlank(tag[i]) || tag[i] == '/'))
            i++;
        if (i >= got || tag[i] == '>')
            break;
        LabelSpan attr, value;
        ReadLabelAttribute(tag, got, &i, &attr, &value);
        if (value.p && !id.p && IsName(attr.p, attr.n, "id"))
            id = value;
        else if (value.p && !cls.p && IsName(attr.p, attr.n, "class"))
            cls = value;
    }
    WriteLabel(res, name, id, cls);
}

}  // namespace
