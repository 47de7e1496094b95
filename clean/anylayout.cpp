// Main-part extraction for pages of any layout.
//
// One forward scan reads the page and keeps a record for every open
// container element (DIV, ARTICLE, TD, UL...) and a few closed ones. The
// text between block breaks forms blocks; each block is given the chance
// that it is main text, p, from its length, its share of link words, the
// tag that starts it and the class/id hints of its container, and adds its
// w words and p*w to the innermost open record (W and TP). A closed record
// passes its sums on to its parent. After the scan the record with the best
// TP / (W + G/4) wins (G is the whole page's TP), a few weak descendants of
// it are cut away, and the chosen bytes are copied from the page in a
// second read, between the head of the page and fixed closing tags. When
// the chosen part holds no H1, the page's headline comes before it: the last
// H1 that started after the BODY tag and before the part (each record
// remembers the last H1 before its start, and whether one starts inside
// it). A third read, of a few KiB at most, takes the part's start tag and
// first words for the report.
//
// Memory does not grow with the page: a record holds positions, sums and
// hints, never text; at most kMaxOpen containers are open and kMaxKept
// closed ones are kept (those after the first </BODY>, which no cut of the
// body can need, make room first, then those of least TP). The table cut
// of "Remove tables in the main part" runs the same lexer over the chosen
// part again and drops every table by nesting depth while copying.
//
// Everything after p is integer arithmetic: p itself comes from integer
// tables rounded to 1/256, so every build chooses the same bytes.
//
// The lexer is tolerant of broken markup. White space is 0x09-0x0D and
// 0x20. "<!--" opens a comment up to "-->" ("<!-->" and "<!--->" close at
// once); "<!", "<?" and "</" + non-letter are skipped to '>'; "<" + letter
// opens a start tag and "</" + letter an end tag; any other '<' is text.
// In a tag a quote opens a value only right after '=' and may hold '>'.
// SCRIPT and STYLE run to "</script" / "</style" + blank, '/' or '>';
// TITLE text is skipped to the next '<'.
//
// The pieces, each in its own file and built here as one unit: the tag
// table and hints (anylayout_tags.h); the limits, the chance of a block,
// the state and the reader (anylayout_internal.h); the outline of records
// and the first words (anylayout_outline.h); the lexer (anylayout_lexer.h);
// the label (anylayout_label.h). This file holds the choice, the writing and
// the stage.
#include "clean/anylayout_internal.h"
#include "clean/anylayout_outline.h"
#include "clean/anylayout_lexer.h"
#include "clean/anylayout_label.h"

namespace {

// ---------------------------------------------------------------------------
// Choice

// Whether record a scores at least as high as b: TP / (W + G/4), times 1.22
// for a record whose own hints call it an article or content.
bool ScoresAtLeast(const Record *a, const Record *b, int64_t g)
{
    uint64_t fa = (a->hints & kHintPositive) ? 122 : 100;
    uint64_t fb = (b->hints & kHintPositive) ? 122 : 100;
    uint64_t da = 1024 * (uint64_t)a->words + (uint64_t)g;     // 1024 W + G, G in 256ths
    uint64_t db = 1024 * (uint64_t)b->words + (uint64_t)g;
    return Compare(Multiply(fa * (uint64_t)a->weighted, db),
                   Multiply(fb * (uint64_t)b->weighted, da)) >= 0;
}

void SortKept(State *st)
{
    for (int i = 1; i < st->keptCount; i++) {
        Record r = st->kept[i];
        int j = i;
        for (; j > 0 && st->kept[j - 1].start > r.start; j--)
            st->kept[j] = st->kept[j - 1];
        st->kept[j] = r;
    }
}

// The weak descendants of r to cut: W >= 10 and TP below half of r's
// average rate; at most kAnyLayoutMaxCuts, those that lose most, in
// document order.
int FindCuts(const State *st, const Record *r, Cut *cuts)
{
    struct Candidate {
        Wide loss;              // TP(r) W - W(r) TP, W(r) times lambda W - TP
        const Record *record;
    } best[kAnyLayoutMaxCuts];
    int n = 0;
    int64_t skipThrough = -1;
    uint64_t rw = (uint64_t)r->words, rtp = (uint64_t)r->weighted;
    for (int i = 0; i < st->keptCount; i++) {
        const Record *d = &st->kept[i];
        if (d == r || d->start < r->contentStart || d->end > r->end || d->start <= skipThrough)
            continue;
        uint64_t dw = (uint64_t)d->words, dtp = (uint64_t)d->weighted;
        Wide expected = Multiply(rtp, dw);
        if (d->words < 10 || Compare(Multiply(2 * dtp, rw), expected) >= 0)
            continue;
        skipThrough = d->end;
        Candidate c = {Subtract(expected, Multiply(rw, dtp)), d};
        int at = n < kAnyLayoutMaxCuts ? n++ : kAnyLayoutMaxCuts;
        while (at > 0 && Compare(c.loss, best[at - 1].loss) > 0) {
            if (at < kAnyLayoutMaxCuts)
                best[at] = best[at - 1];
            at--;
        }
        if (at < kAnyLayoutMaxCuts)
            best[at] = c;
    }
    for (int i = 0; i < n; i++) {
        cuts[i].start = best[i].record->start;
        cuts[i].end = best[i].record->end;
        cuts[i].words = best[i].record->words;
    }
    for (int i = 1; i < n; i++)         // document order
        for (int j = i; j > 0 && cuts[j - 1].start > cuts[j].start; j--) {
            Cut t = cuts[j];
            cuts[j] = cuts[j - 1];
            cuts[j - 1] = t;
        }
    return n;
}

// ---------------------------------------------------------------------------
// Writing

const char kPageEnd[] = "</body></html>";

// Copies from..to, less the tables inside when `cutTables`, less the cuts
// outside the pieces.
void CopyPart(State *st, ByteStream *input, int64_t from, int64_t to, const Cut *pieces,
              int pieceCount, bool cutTables)
{
    if (!cutTables) {
        for (int i = 0; i < pieceCount; i++)
            CopyBytes(input, st->output, pieces[i].start, pieces[i].end, &st->result.bytesCopied);
        return;
    }
    StreamOpenTwin(st->copier, input);
    st->copying = true;
    st->lex = Lexer();
    st->lex.state = kLexText;
    st->partStart = from;
    st->tableDepth = 0;
    st->emitFrom = from;
    st->pieces = pieces;
    st->pieceCount = pieceCount;
    StreamSeek(input, from);
    Reader r = {input, nullptr, nullptr, to + 1, &st->result.bytesCopied};
    Lex(st, &r);
    if (st->tableDepth == 0)
        Emit(st, st->emitFrom, to);
    if (StreamReadFailed(st->copier))
        input->readError = true;
}

// ---------------------------------------------------------------------------
// The choice written out

// The scan ended: the last block ends and every record still open closes;
// the root spans the body (or, without a BODY tag, all after the head).
void CloseAll(State *st, int64_t origin, int64_t size)
{
    Record *root = &st->open[0];
    EndBlock(st);
    while (st->depth > 1) {
        const Record *top = &st->open[st->depth - 1];
        PopTo(st, st->depth - 1, st->bodyClose > top->start ? st->bodyClose - 1 : size - 1);
    }
    if (!st->bodySeen) {
        st->headEnd = st->headCloseEnd >= 0 ? st->headCloseEnd
                      : st->htmlEnd >= 0    ? st->htmlEnd
                                            : origin;
        root->start = st->headEnd;
    }
    root->contentStart = st->headEnd;
    root->end = st->bodyClose > root->start ? st->bodyClose - 1 : size - 1;
}

// The record of the best score after the head; the root unless one beats it.
const Record *BestRecord(State *st)
{
    const Record *root = &st->open[0];
    const Record *chosen = root;
    SortKept(st);
    int64_t g = root->weighted;
    for (int i = 0; i < st->keptCount; i++) {
        const Record *k = &st->kept[i];
        if (k->start >= st->headEnd && ScoresAtLeast(k, chosen, g))
            chosen = k;
    }
    return chosen;
}

// The choice, its cuts and its words into the result.
void ReportChoice(State *st, const Record *chosen, int64_t from, const Cut *cuts, int cutCount,
                         int64_t origin, int64_t size)
{
    AnyLayoutResult *res = &st->result;
    const Record *root = &st->open[0];
    bool isRoot = chosen == root;
    res->tag = kTags[chosen->tag].name;
    res->isRoot = isRoot;
    res->headEnd = st->headEnd;
    res->start = from;
    res->end = chosen->end;
    res->cutCount = cutCount;
    for (int i = 0; i < cutCount; i++) {
        res->cutStart[i] = cuts[i].start;
        res->cutEnd[i] = cuts[i].end;
        res->cutBytes += cuts[i].end - cuts[i].start + 1;
        res->wordsKept -= cuts[i].words;
    }
    res->pageWords = root->words;
    res->wordsKept += isRoot && cutCount == 0 ? root->words : chosen->words;
    res->bytesIn = size - origin;
}

// The part [from, to] less its cuts, as pieces in order; *bytes: their length.
int PiecesOf(int64_t from, int64_t to, const Cut *cuts, int cutCount, Cut *pieces, int64_t *bytes)
{
    int pieceCount = 0;
    int64_t at = from;
    for (int i = 0; i < cutCount; i++) {
        pieces[pieceCount++] = {at, cuts[i].start - 1, 0};
        at = cuts[i].end + 1;
    }
    pieces[pieceCount++] = {at, to, 0};
    *bytes = 0;
    for (int i = 0; i < pieceCount; i++)
        *bytes += pieces[i].end >= pieces[i].start ? pieces[i].end - pieces[i].start + 1 : 0;
    return pieceCount;
}

// A page without words, or all of it main text: copied unchanged, but for
// the tables of the body [from, to] when they go.
void WriteWhole(State *st, ByteStream *input, int64_t origin, int64_t size, int64_t from, int64_t to,
                       const Cut *pieces, int64_t partBytes, bool cutTables)
{
    AnyLayoutResult *res = &st->result;
    res->outcome = kAnyLayoutCopied;
    res->bytesKept = size - origin;
    if (!st->output)
        return;
    if (st->open[0].words == 0 || !cutTables || to < from) {
        CopyBytes(input, st->output, origin, size - 1, &res->bytesCopied);
        return;
    }
    CopyBytes(input, st->output, origin, from - 1, &res->bytesCopied);
    CopyPart(st, input, from, to, pieces, 1, true);
    CopyBytes(input, st->output, to + 1, size - 1, &res->bytesCopied);
    res->tableBytes = partBytes - st->emitted;
    res->bytesKept -= res->tableBytes;
}

// The headline: the last H1 after the BODY tag and before the part, when
// the part holds none; up to the part when its end tag is missing.
void FindHeadline(State *st, const Record *chosen)
{
    AnyLayoutResult *res = &st->result;
    if (chosen != &st->open[0] && !chosen->hasH1 && chosen->h1Start >= st->headEnd) {
        res->headlineAdded = true;
        res->headlineStart = chosen->h1Start;
        res->headlineEnd = chosen->h1End >= 0 ? chosen->h1End : chosen->start - 1;
    }
}

// Writes the head, the headline, and the part in what its tag needs around
// it (a cell or row in a table), then the page's end.
void WritePart(State *st, ByteStream *input, int64_t origin, int64_t from, const Record *chosen,
                      const Cut *pieces, int pieceCount, bool cutTables)
{
    AnyLayoutResult *res = &st->result;
    const char *wrapper = "", *wrapperEnd = "";
    if (chosen->tag == kTagTd || chosen->tag == kTagTh) {
        wrapper = "<table><tr>";
        wrapperEnd = "</tr></table>";
    } else if (chosen->tag == kTagTr || kTags[chosen->tag].kind == kTagTbody) {
        wrapper = "<table>";
        wrapperEnd = "</table>";
    }
    CopyBytes(input, st->output, origin, st->headEnd - 1, &res->bytesCopied);
    if (res->headlineAdded)
        CopyBytes(input, st->output, res->headlineStart, res->headlineEnd, &res->bytesCopied);
    StreamWriteText(st->output, wrapper);
    CopyPart(st, input, from, chosen->end, pieces, pieceCount, cutTables);
    StreamWriteText(st->output, wrapperEnd);
    StreamWriteText(st->output, kPageEnd);
}

void Choose(State *st, ByteStream *input, int64_t origin, int64_t size, bool cutTables)
{
    AnyLayoutResult *res = &st->result;
    const Record *root = &st->open[0];
    CloseAll(st, origin, size);
    const Record *chosen = BestRecord(st);
    Cut cuts[kAnyLayoutMaxCuts];
    int cutCount = root->words > 0 ? FindCuts(st, chosen, cuts) : 0;
    bool isRoot = chosen == root;
    int64_t from = isRoot ? root->contentStart : chosen->start;
    ReportChoice(st, chosen, from, cuts, cutCount, origin, size);
    Cut pieces[kAnyLayoutMaxCuts + 1];
    int64_t partBytes;
    int pieceCount = PiecesOf(from, chosen->end, cuts, cutCount, pieces, &partBytes);
    if (root->words == 0 || (isRoot && cutCount == 0)) {
        WriteWhole(st, input, origin, size, from, chosen->end, pieces, partBytes, cutTables);
        return;
    }
    res->outcome = kAnyLayoutPart;
    FindHeadline(st, chosen);
    int64_t headlineBytes = res->headlineAdded ? res->headlineEnd - res->headlineStart + 1 : 0;
    res->bytesKept = (st->headEnd - origin) + headlineBytes + partBytes;
    ReadLabel(st, input, chosen->start, chosen->contentStart - chosen->start);
    TakeFirstWords(st, input, pieces, pieceCount, cuts, cutCount);
    if (!st->output)
        return;
    WritePart(st, input, origin, from, chosen, pieces, pieceCount, cutTables);
    if (cutTables) {
        res->tableBytes = partBytes - st->emitted;
        res->bytesKept -= res->tableBytes;
    }
}

// Runs the stage: writes into `output`, or with none only fills the result.
void RunStage(bool cutTables, ByteStream *input, ByteStream *output, size_t memoryLimit,
              AnyLayoutResult *result)
{
    int64_t origin = StreamTell(input);
    size_t need = sizeof(State) + (cutTables ? sizeof(ByteStream) : 0);
    State *st = need <= memoryLimit ? (State *)malloc(sizeof(State)) : nullptr;
    ByteStream *copier = st && cutTables ? (ByteStream *)malloc(sizeof(ByteStream)) : nullptr;
    if (!st || (cutTables && !copier)) {
        free(st);
        if (output)
            CopyStream(input, output);
        if (result) {
            memset(result, 0, sizeof *result);
            result->outcome = kAnyLayoutNoMemory;
            result->bytesIn = StreamTell(input) - origin;
            result->bytesKept = result->bytesIn;
        }
        return;
    }
    memset(st, 0, sizeof *st);
    st->result.memory = need;
    st->output = output;
    st->copier = copier;
    BuildHintIndex(&st->hintIndex);
    for (HintCacheEntry &e : st->hintCache)
        e.length = kValueMax + 1;
    st->lex.state = kLexText;
    st->depth = 1;
    st->open[0].tag = kTagBody;
    st->open[0].start = origin;
    st->open[0].h1Start = st->open[0].h1End = -1;
    st->headEnd = origin;
    st->htmlEnd = st->headCloseEnd = st->bodyClose = -1;
    st->lastH1Start = st->lastH1End = -1;
    st->weakest = -1;

    Reader r = {input, nullptr, nullptr, INT64_MAX, &st->result.bytesScanned};
    Lex(st, &r);
    int64_t size = StreamTell(input);
    if (!StreamReadFailed(input)) {
        Choose(st, input, origin, size, cutTables);
        StreamSeek(input, size);        // the stage leaves its input at its end
    }
    if (result)
        *result = st->result;
    free(copier);
    free(st);
}

}  // namespace

// ---------------------------------------------------------------------------
// The stage

void AnyLayoutExtractLimited(bool cutTables, ByteStream *input, ByteStream *output,
                             size_t memoryLimit, AnyLayoutResult *result)
{
    RunStage(cutTables, input, output, memoryLimit, result);
}

void AnyLayoutScan(ByteStream *input, AnyLayoutResult *result)
{
    RunStage(false, input, nullptr, SIZE_MAX, result);
}

int AnyLayoutBlockWeight(int64_t words, int64_t linkWords, unsigned bits)
{
    unsigned hints = ((bits & kAnyLayoutBlockComment) ? kHintComment : 0) |
                     ((bits & kAnyLayoutBlockBoiler) ? kHintBoiler : 0) |
                     ((bits & kAnyLayoutBlockPositive) ? kHintArticle : 0);
    return BlockWeight(words, linkWords, bits & (kBlockP | kBlockLi | kBlockHeading), hints);
}

void AnyLayoutExtract(bool cutTables, ByteStream *input, ByteStream *output)
{
    AnyLayoutExtractLimited(cutTables, input, output, SIZE_MAX, nullptr);
}
