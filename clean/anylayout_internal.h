// The rule for any layout: its limits, the chance that a block is main
// text, the state of one call and the reader over the input, which every
// piece (tags, outline, lexer, label) shares.
// An internal piece of the rule for any layout: anylayout.cpp builds its
// pieces as one unit, so that the lexer's calls into the outline stay inline.
#pragma once
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include "clean/anylayout.h"
#include "clean/passes.h"

namespace {

enum {
    kMaxOpen = 512,         // containers open at once; deeper ones are not recorded
    kMaxKept = 64,          // closed records kept for the choice
    kValueMax = 64,         // bytes of a class or id value looked at
    kNameMax = 10,          // longest tag name told apart (BLOCKQUOTE, FIGCAPTION)
    kAttrNameMax = 6,       // longest attribute name told apart (hidden)
    kHintCacheSize = 128,   // class and id values whose hints are remembered
    kWordsRaw = 160,        // bytes of the first words' text kept before decoding
    kTagRead = 1024,        // bytes of the chosen start tag read back for its label
};


}  // namespace

#include "clean/anylayout_tags.h"

namespace {

// ---------------------------------------------------------------------------
// The chance that a block is main text

enum BlockFlag {
    kBlockP = kAnyLayoutBlockP,
    kBlockLi = kAnyLayoutBlockLi,
    kBlockHeading = kAnyLayoutBlockHeading,
};

// 65536 ln(1 + i/64) for i = 0..64.
const int32_t kLnTable[65] = {
    0, 1016, 2017, 3002, 3973, 4930, 5873, 6802, 7719, 8623, 9515, 10394, 11262, 12119, 12965,
    13800, 14624, 15438, 16242, 17037, 17821, 18597, 19364, 20121, 20870, 21611, 22343, 23067,
    23783, 24492, 25193, 25886, 26573, 27252, 27924, 28589, 29248, 29900, 30546, 31185, 31818,
    32445, 33067, 33682, 34292, 34896, 35494, 36087, 36675, 37258, 37835, 38407, 38975, 39537,
    40095, 40648, 41196, 41740, 42280, 42815, 43345, 43872, 44394, 44912, 45426,
};
const int64_t kLn2 = 45426;     // 65536 ln 2

// 6553600 ln((k + 0.5) / (255.5 - k)) for k = 128..255: the values of z
// (scaled like BlockZ) from which p rounds up to (k + 1)/256. The
// thresholds below 128 are these negated: T(k) = -T(255 - k).
const int32_t kRoundUp[128] = {
    51200, 153607, 256033, 358489, 460990, 563547, 666173, 768881, 871683, 974592, 1077622,
    1180784, 1284092, 1387560, 1491201, 1595027, 1699053, 1803292, 1907759, 2012466, 2117430,
    2222663, 2328180, 2433998, 2540129, 2646591, 2753399, 2860568, 2968115, 3076056, 3184409,
    3293190, 3402417, 3512109, 3622283, 3732959, 3844156, 3955893, 4068191, 4181071, 4294554,
    4408663, 4523419, 4638846, 4754968, 4871811, 4989398, 5107757, 5226914, 5346899, 5467738,
    5589464, 5712105, 5835696, 5960268, 6085857, 6212498, 6340229, 6469088, 6599115, 6730353,
    6862845, 6996637, 7131776, 7268311, 7406295, 7545782, 7686829, 7829495, 7973843, 8119938,
    8267849, 8417648, 8569413, 8723223, 8879164, 9037324, 9197799, 9360689, 9526100, 9694146,
    9864947, 10038630, 10215331, 10395196, 10578380, 10765050, 10955384, 11149573, 11347825,
    11550360, 11757420, 11969266, 12186178, 12408466, 12636464, 12870537, 13111089, 13358561,
    13613440, 13876266, 14147638, 14428225, 14718775, 15020129, 15333240, 15659189, 15999212,
    16354730, 16727388, 17119107, 17532145, 17969185, 18433447, 18928842, 19460183, 20033492,
    20656434, 21338982, 22094443, 22941138, 23905283, 25026303, 26367529, 28040549, 30271557,
    33645106, 40870672,
};

[[maybe_unused]] const int64_t kZScale = 100 * 65536;     // the scale of the z values below

// 65536 ln(1 + w), within 1/10000.
int64_t Ln1p(int64_t w)
{
    uint64_t n = (uint64_t)w + 1;
    int k = 0;
    while (k < 63 && (n >> (k + 1)) != 0)
        k++;
    uint64_t rest = n - ((uint64_t)1 << k);     // n = 2^k (1 + rest / 2^k)
    uint64_t f = k >= 16 ? rest >> (k - 16) : rest << (16 - k);
    int i = (int)(f >> 10);
    int64_t part = f & 1023;
    int64_t v = kLnTable[i] + (((int64_t)kLnTable[i + 1] - kLnTable[i]) * part >> 10);
    return k * kLn2 + v;
}

// z of a block of w words, l of them in links, times kZScale.
int64_t BlockZ(int64_t w, int64_t l, unsigned flags, unsigned hints)
{
    int64_t d = (l << 16) / w;                  // link density, 65536ths
    int64_t z = -122 * 65536 + 62 * Ln1p(w) - 433 * d + ((253 * d * d) >> 16);
    int64_t b = 0;
    if (flags & kBlockP)
        b += 83;
    if (flags & kBlockLi)
        b += 68;
    if (flags & kBlockHeading)
        b += 58;
    if (hints & kHintComment)
        b -= 261;
    if (hints & kHintBoiler)
        b -= 98;
    if (hints & kHintPositive)
        b -= 15;
    return z + b * 65536;
}

// p = 1 / (1 + e^-z) rounded to 256ths: the number of thresholds z reaches.
int BlockWeight(int64_t w, int64_t l, unsigned flags, unsigned hints)
{
    int64_t z = BlockZ(w, l, flags, hints);
    int64_t a = z < 0 ? -z : z;
    // Thresholds of kRoundUp below |z| (for z < 0: below or at it).
    int lo = 0, hi = 128;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (z >= 0 ? kRoundUp[mid] <= a : kRoundUp[mid] < a)
            lo = mid + 1;
        else
            hi = mid;
    }
    return z >= 0 ? 128 + lo : 128 - lo;
}

// ---------------------------------------------------------------------------
// Exact comparison of products

struct Wide {
    uint64_t hi, lo;
};

Wide Multiply(uint64_t a, uint64_t b)
{
    uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    Wide r;
    r.lo = (mid << 32) | (p00 & 0xFFFFFFFFu);
    r.hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
    return r;
}

int Compare(Wide x, Wide y)
{
    if (x.hi != y.hi)
        return x.hi < y.hi ? -1 : 1;
    if (x.lo != y.lo)
        return x.lo < y.lo ? -1 : 1;
    return 0;
}

Wide Subtract(Wide x, Wide y)      // x >= y
{
    Wide r;
    r.lo = x.lo - y.lo;
    r.hi = x.hi - y.hi - (x.lo < y.lo ? 1 : 0);
    return r;
}

// ---------------------------------------------------------------------------
// The state of one call

struct Record {
    int64_t start;          // the '<' of its start tag (the root's: of BODY, or the head end)
    int64_t contentStart;   // just after the start tag's '>'
    int64_t end;            // its last byte, once closed
    int64_t words;          // W: words of its blocks and its descendants'
    int64_t weighted;       // TP: the same words weighted by p, in 256ths
    // The last H1 that started before it: its '<', and the '>' of its end
    // tag or -1 while it was open; -1, -1 for none.
    int64_t h1Start, h1End;
    unsigned char tag;      // TagId; kTagBody for the root
    unsigned char hints;    // its own class/id/style hints
    unsigned char inherited;// its hints and all its ancestors'
    bool hasH1;             // an H1 starts inside it
};

enum LexState {
    kLexText = 0,
    kLexLt = 100,
    kLexLtSlash = 110,
    kLexName = 200,
    kLexAttrSpace = 300,
    kLexAfterAttrName = 310,
    kLexAttrName = 320,
    kLexAfterEq = 330,
    kLexQuoted = 340,
    kLexUnquoted = 350,
    kLexSkipGt = 400,
    kLexBang = 500,
    kLexBangDash = 510,
    kLexCommentStart = 520,
    kLexCommentStartDash = 530,
    kLexComment = 540,
    kLexCommentDash = 550,
    kLexCommentDashes = 560,
    kLexRaw = 600,
    kLexRawLt = 610,
    kLexRawName = 620,
    kLexTitle = 700,
};

// Attributes whose values are read; HIDDEN and HREF count by their names.
enum AttrKind { kAttrNone, kAttrClass, kAttrId, kAttrStyle };

// The lexer's place in the page: inside a word, a tag, a comment...
struct Lexer {
    int state;              // LexState
    int text;               // TextState: the word the text stopped in
    int64_t tagStart;       // the '<' of the tag being read
    bool endTag;
    size_t nameLength;
    NameKey name;           // the first kNameMax bytes, upper-cased (KeyOfName)
    int tag;                // TagId of the tag being read
    bool collecting;        // its attributes matter
    int attr;               // AttrKind of the attribute being read
    size_t attrLength;
    NameKey attrName;       // the first kAttrNameMax bytes, lower-cased
    unsigned char quote;
    size_t valueLength;
    unsigned char value[kValueMax];
    uint32_t valueHash;     // of the value's bytes so far
    int styleMatch[2];      // bytes of "display:none", "visibility:hidden" matched
    unsigned tagHints;
    bool hasHref;
    int rawTag;             // kTagScript or kTagStyle
    size_t rawMatched;
};

// Whether the tag being read is an H1 (its tag is kTagHeading for H1-H6).
inline bool IsH1(const Lexer *x)
{
    return x->tag == kTagHeading && ((x->name.low >> 8) & 0xFF) == '1';
}

// A window onto the input's buffer, read without a call per byte.
struct Reader {
    ByteStream *s;
    const unsigned char *p;
    const unsigned char *end;
    int64_t limit;          // one past the last byte to read
    int64_t *count;         // bytes taken into the window
};

struct Cut {
    int64_t start, end;
    int64_t words;          // of a cut: its words
};

// The hints of the class and id values seen last, by a hash of the value:
// pages repeat the same few values over and over.
struct HintCacheEntry {
    unsigned char length;   // kValueMax + 1: empty
    unsigned char hints;
    unsigned char value[kValueMax];
};

struct State {
    bool copying;           // the lexer runs over the chosen part to cut tables
    Lexer lex;
    HintIndex hintIndex;
    HintCacheEntry hintCache[kHintCacheSize];

    // The scan.
    Record open[kMaxOpen + 1];  // open[0] is the root
    int depth;                  // open records, the root included
    int openOfKind[kTagCount];
    Record kept[kMaxKept];
    int keptCount;
    int weakest;                // the kept record to make room first; -1: not known
    int64_t blockWords, blockLinkWords;
    unsigned nextBlockFlags;    // P or LI, for the next block with words
    int headingDepth;
    int quietDepth;             // open elements whose text is not counted
    int linkDepth;              // the open records when a link opened; 0: no link
    bool bodySeen;
    int64_t headEnd;            // just after <BODY ...>; without BODY, set at the end
    int64_t htmlEnd;            // just after the first <HTML ...>, or -1
    int64_t headCloseEnd;       // just after the first </HEAD ...>, or -1
    int64_t bodyClose;          // the '<' of the first </BODY, or -1
    int64_t lastH1Start;        // the '<' of the last H1 so far, or -1
    int64_t lastH1End;          // the '>' of its end tag, or -1 while it is open

    // The first words of the chosen part, taken by the lexer's third run.
    bool takingWords;
    const Cut *wordCuts;        // text inside these is passed over
    int wordCutCount;
    int64_t nextText;           // just after the last text byte taken
    unsigned char words[kWordsRaw];     // the text as it stands, one blank between words
    int wordsLength;
    int wordsTaken;
    bool wordsDone;             // the words are taken (or the room is full)
    bool wordsMore;             // and more text follows them

    // The table cut while copying.
    int64_t partStart;
    int tableDepth;
    int64_t emitFrom;
    const Cut *pieces;
    int pieceCount;
    ByteStream *output;         // none for a scan that writes nothing
    ByteStream *copier;         // reads the bytes to write, beside the lexer (cutTables)
    int64_t emitted;            // bytes of the part written by the table cut

    AnyLayoutResult result;
};

// ---------------------------------------------------------------------------
// Reading

int64_t PositionOf(const Reader *r, const unsigned char *p)
{
    return r->s->bufStart + (int64_t)(p - r->s->buf);
}

// Moves the window to the stream's next unread bytes; false at the end of
// the input or the limit.
bool Refill(Reader *r)
{
    ByteStream *s = r->s;
    if (r->p)
        s->pos = (size_t)(r->p - s->buf);
    if (StreamTell(s) >= r->limit)
        return false;
    if (!(s->mode == kStreamReading && s->pos < s->len)) {
        // The fill moves the buffer: the old window is gone either way.
        r->p = r->end = nullptr;
        if (StreamFill(s) < 0)
            return false;
        s->pos--;
    }
    size_t n = s->len - s->pos;
    int64_t left = r->limit - StreamTell(s);
    if ((int64_t)n > left)
        n = (size_t)left;
    r->p = s->buf + s->pos;
    r->end = r->p + n;
    *r->count += (int64_t)n;
    return true;
}

// Gives the unread rest of the window back to the stream.
void Release(Reader *r)
{
    if (r->p)
        r->s->pos = (size_t)(r->p - r->s->buf);
}

// Copies bytes from..to (inclusive) of `in` to `out`.
void CopyBytes(ByteStream *in, ByteStream *out, int64_t from, int64_t to, int64_t *count)
{
    if (to < from)
        return;
    StreamSeek(in, from);
    Reader r = {in, nullptr, nullptr, to + 1, count};
    while (Refill(&r)) {
        StreamWrite(out, r.p, (size_t)(r.end - r.p));
        r.p = r.end;
    }
    Release(&r);
}

}  // namespace
