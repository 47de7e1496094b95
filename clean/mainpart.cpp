// Main-part extraction: cuts a page down to the table cell that holds most
// of its words, or to the one table that holds several such cells.
//
// The stage works in two phases. The scan reads the whole input once and
// builds a light outline of the page: a TableNode for every TABLE tag and
// one for the outermost BODY tag (the body pseudo-table, whose first cell,
// the body cell, receives the words written directly in the body), a
// CellNode for every TD tag, and the number of words of every cell. The
// outcome is then chosen from the word counts, and the chosen byte ranges
// (KeepRanges) are copied from the input, which is seeked and never held in
// memory, followed by a few fixed closing tags.
//
// What it writes: with extract off, with no main part, or when memory for
// the outline cannot be had, the input unchanged. Otherwise the head of the
// page up to the first table node (through the BODY tag's '>' in the usual
// page, or up to just before the first "<TABLE" when a table comes first),
// then for WrappedCell the 25 bytes "<table cellpadding=6><tr>", the chosen
// cell or table (without the tables inside it when cutTables is on), then
// for WrappedCell "</table>", and always "</body></html>".
//
// Invariants: positions are 64-bit offsets from the input's start and every
// range is inclusive at both ends; the table list is in the document order
// of the opening tags, every cell list in document order; the current table
// is always the table whose id is the current table id (none for id 0), so
// it can be found again through the id index; once the scan is over, every
// cell and table has an end; the KeepRanges are disjoint and ascending, so
// the output is made of the input's own bytes in their order plus the fixed
// tags. Nothing recurses over the nesting depth; memory is one node per
// table and cell, the id index and the stack of open tables, all freed
// before the stage returns.
//
// The outline and the scan that builds it are in mainpart_outline.h, built
// here as one unit.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include "clean/bytescan.h"
#include "clean/passes.h"
#include "clean/mainpart_outline.h"

enum Outcome {
    kOutcomeNone = 0,
    kOutcomeBareCell = 1,
    kOutcomeWrappedCell = 2,
    kOutcomeWholeTable = 3,
};

const char kWrapperStart[] = "<table cellpadding=6><tr>";
const char kWrapperEnd[] = "</table>";
const char kPageEnd[] = "</body></html>";
const char kWrappedTail[] = "</table></body></html>";     // kWrapperEnd, then kPageEnd

// ---------------------------------------------------------------------------
// Choice

namespace {
struct Choice {
    int outcome;
    TableNode *table;
    CellNode *cell;
};
}  // namespace

static Choice ChooseOutcome(const Outline *o)
{
    Choice none = {kOutcomeNone, nullptr, nullptr};
    int64_t most = 0;
    for (const TableNode *t = o->tables; t; t = t->next)
        for (const CellNode *cell = t->cells; cell; cell = cell->next)
            if (cell->words > most)
                most = cell->words;
    int64_t threshold = most / 5;

    Choice choice = none;
    for (TableNode *t = o->tables; t; t = t->next) {
        for (CellNode *cell = t->cells; cell; cell = cell->next) {
            if (cell->words <= threshold)
                continue;
            if (!choice.table) {
                choice.outcome = kOutcomeWrappedCell;
                choice.table = t;
                choice.cell = cell;
            } else if (t == choice.table) {
                choice.outcome = kOutcomeWholeTable;
            } else {
                return none;
            }
        }
    }
    // A cell of the body stands in the page as it is, without a wrapper.
    if (choice.outcome == kOutcomeWrappedCell && IsBodyTable(choice.table))
        choice.outcome = kOutcomeBareCell;
    return choice;
}

// ---------------------------------------------------------------------------
// Writing

static KeepRange *AddKeepRange(Outline *o, KeepRange **last, int64_t start)
{
    KeepRange *r = (KeepRange *)PoolAlloc(o, sizeof(KeepRange));
    if (!r)
        return nullptr;
    r->start = start;
    if (*last)
        (*last)->next = r;
    *last = r;
    return r;
}

// How the output of a part that no tag closed ends (decided before
// EndOpenParts). Such a part runs to the page's end; on a second clean it
// would run on through the fixed closing tags and gain them once more, and
// again on every clean after, unless they close it. Only "</body>" can,
// and only for the body's own part at BODY depth 1: there the part ends
// before a tag or comment left unfinished at the page's end (which would
// take the closing tags in), and the closing tags follow. Any other part
// left open ends the output as it ends the page, without them. Either way
// the output cleaned again is itself.
enum PartEnd {
    kPartEndClosed,         // the part closed, or the body's at depth 1: closing tags
    kPartEndBeforeTag,      // the body's, up to the unfinished tag; closing tags
    kPartEndOpen,           // no closing tags
};

static PartEnd EndOfPart(const Outline *o, const Choice *choice)
{
    if (choice->outcome == kOutcomeNone)
        return kPartEndClosed;
    int64_t end = choice->outcome == kOutcomeWholeTable ? choice->table->end : choice->cell->end;
    if (end != kNotClosed)
        return kPartEndClosed;
    if (!IsBodyTable(choice->table) || o->bodyDepth != 1)
        return kPartEndOpen;
    return o->endState == kStateText ? kPartEndClosed : kPartEndBeforeTag;
}

// The ranges to write: the head, then the part less the tables cut from it.
// None when memory ran out.
static KeepRange *BuildKeepRanges(Outline *o, const Choice *choice, bool cutTables)
{
    const TableNode *first = o->tables;
    KeepRange *last = nullptr;
    KeepRange *head = AddKeepRange(o, &last, 0);
    if (!head)
        return nullptr;
    // The head ends with the BODY tag's '>', or just before a first table.
    head->end = IsBodyTable(first) ? first->start : first->start - 1;

    int64_t c, e;
    if (choice->outcome != kOutcomeWholeTable) {
        c = choice->cell->start;
        e = choice->cell->end;
    } else if (IsBodyTable(choice->table)) {
        // The body's bytes lie strictly between its bounds.
        c = choice->table->start + 1;
        e = choice->table->end - 1;
    } else {
        c = choice->table->start;
        e = choice->table->end;
    }
    KeepRange *open = AddKeepRange(o, &last, c);
    if (!open)
        return nullptr;
    if (cutTables) {
        // A table that starts where the last one cut ended is cut too (the
        // part's own start is the chosen table's, or the body's).
        bool afterCut = false;
        for (const TableNode *t = o->tables; t; t = t->next) {
            if ((t->start > c || (afterCut && t->start == c)) && t->end < e) {
                afterCut = true;
                open->end = t->start - 1;
                c = t->end + 1;
                open = AddKeepRange(o, &last, c);
                if (!open)
                    return nullptr;
            }
        }
    }
    open->end = e;
    return head;
}

static void CopyRange(ByteStream *input, ByteStream *output, int64_t start, int64_t end)
{
    if (end < start)
        return;
    StreamSeek(input, start);
    StreamCopyBytes(input, output, end - start + 1);
}

static void WriteKeepRanges(const KeepRange *ranges, int outcome, bool closing,
                            ByteStream *input, ByteStream *output)
{
    for (const KeepRange *r = ranges; r; r = r->next) {
        CopyRange(input, output, r->start, r->end);
        if (r == ranges && outcome == kOutcomeWrappedCell)
            StreamWrite(output, kWrapperStart, sizeof kWrapperStart - 1);
    }
    if (!closing)
        return;
    if (outcome == kOutcomeWrappedCell)
        StreamWrite(output, kWrapperEnd, sizeof kWrapperEnd - 1);
    StreamWrite(output, kPageEnd, sizeof kPageEnd - 1);
}

// ---------------------------------------------------------------------------
// The plan: the scan and the choice, shared by the stage and the view

namespace {
struct Plan {
    Outline outline;
    int64_t size;           // the input's size
    Choice choice;
    KeepRange *ranges;      // none: the input is the output
    bool closing;           // the fixed closing tags end the output
    ExtractOutcome outcome;
};
}  // namespace

// Reads the whole input from its start and decides what to keep.
static void MakePlan(Plan *p, const CleanSwitches *sw, ByteStream *input, size_t memoryLimit)
{
    InitOutline(&p->outline, memoryLimit);
    p->outline.skipScripts = sw->extractFirst && sw->scripts;
    p->outline.skipStyles = sw->extractFirst && sw->styles;
    p->outline.skipRemoteScripts = sw->extractFirst && !sw->scripts && sw->internet;
    p->outline.skipInComments =
        (p->outline.skipScripts || p->outline.skipStyles || p->outline.skipRemoteScripts) &&
        !(sw->comments && sw->scripts);
    p->size = Scan(&p->outline, input);
    p->choice = {kOutcomeNone, nullptr, nullptr};
    p->ranges = nullptr;
    p->closing = true;
    if (!p->outline.outOfMemory) {
        p->choice = ChooseOutcome(&p->outline);
        PartEnd partEnd = EndOfPart(&p->outline, &p->choice);
        p->closing = partEnd != kPartEndOpen;
        EndOpenParts(&p->outline, p->size);
        if (p->choice.outcome != kOutcomeNone)
            p->ranges = BuildKeepRanges(&p->outline, &p->choice, sw->cutTables);
        // The part's ranges end before the unfinished tag.
        if (p->ranges && partEnd == kPartEndBeforeTag)
            for (KeepRange *r = p->ranges->next; r; r = r->next)
                if (r->end >= p->outline.endTagStart)
                    r->end = p->outline.endTagStart - 1;
    }
    if (p->ranges)
        p->outcome = p->choice.outcome == kOutcomeBareCell      ? kExtractBareCell
                     : p->choice.outcome == kOutcomeWrappedCell ? kExtractWrappedCell
                                                                : kExtractWholeTable;
    else
        p->outcome = p->outline.outOfMemory ? kExtractOutOfMemory : kExtractNoMainPart;
}

// ---------------------------------------------------------------------------
// The stage

ExtractOutcome ExtractMainPart(const CleanSwitches *sw, ByteStream *input, ByteStream *output,
                               size_t memoryLimit)
{
    if (!sw->extract) {
        CopyStream(input, output);
        return kExtractOff;
    }
    Plan plan;
    MakePlan(&plan, sw, input, memoryLimit);
    StreamSeek(input, 0);
    if (plan.ranges) {
        WriteKeepRanges(plan.ranges, plan.choice.outcome, plan.closing, input, output);
        StreamSeek(input, plan.size);   // leaves the input at its end, as a copy does
    } else {
        CopyStream(input, output);
    }
    FreeOutline(&plan.outline);
    return plan.outcome;
}

// ---------------------------------------------------------------------------
// The view: the stage's output read in place, piece by piece, as
// WriteKeepRanges would write it

namespace {
// A stretch of the output: `length` bytes from `text`, or from the input at
// `from` when text is none. `at` is where it starts in the output.
struct Piece {
    int64_t at;
    int64_t length;
    int64_t from;
    const char *text;
};
}  // namespace

struct MainPartView {
    Plan plan;
    ByteStream *input;
    Piece *pieces;
    size_t count;
    size_t current;         // the piece the last read ended in
    const char *tail;       // the fixed closing tags after the stream; none without pieces
    ByteStream stream;
};

static void AddPiece(MainPartView *v, int64_t *at, int64_t from, int64_t length, const char *text)
{
    if (length <= 0)
        return;
    Piece &p = v->pieces[v->count++];
    p.at = *at;
    p.length = length;
    p.from = from;
    p.text = text;
    *at += length;
}

// The pieces of the output, in the order WriteKeepRanges writes them; a
// range is cut at the input's end, as CopyRange stops there. False when
// there is no memory for them.
static bool BuildPieces(MainPartView *v)
{
    const Plan &plan = v->plan;
    size_t ranges = 0;
    for (const KeepRange *r = plan.ranges; r; r = r->next)
        ranges++;
    v->pieces = (Piece *)malloc((ranges + 1) * sizeof(Piece));
    if (!v->pieces)
        return false;
    bool wrapped = plan.choice.outcome == kOutcomeWrappedCell;
    int64_t at = 0;
    for (const KeepRange *r = plan.ranges; r; r = r->next) {
        int64_t end = r->end < plan.size - 1 ? r->end : plan.size - 1;
        AddPiece(v, &at, r->start, end - r->start + 1, nullptr);
        if (r == plan.ranges && wrapped)
            AddPiece(v, &at, 0, sizeof kWrapperStart - 1, kWrapperStart);
    }
    // The closing tags are the view's tail, apart from its stream.
    v->tail = !plan.closing ? nullptr : wrapped ? kWrappedTail : kPageEnd;
    return true;
}

// Copies up to n bytes of the input from `from` into buf; how many there
// were, or -1 on a read error.
static long ReadInputAt(ByteStream *input, int64_t from, unsigned char *buf, size_t n)
{
    StreamSeek(input, from);
    size_t done = 0;
    const unsigned char *data;
    size_t avail;
    while (done < n && (avail = StreamPeek(input, &data)) > 0) {
        if (avail > n - done)
            avail = n - done;
        memcpy(buf + done, data, avail);
        StreamSkip(input, avail);
        done += avail;
    }
    return StreamReadFailed(input) ? -1 : (long)done;
}

// The view's StreamReadProc.
static long ReadView(void *context, unsigned char *buf, size_t n, int64_t offset)
{
    MainPartView *v = (MainPartView *)context;
    // Reads go forward but for a form restore: look from the last piece on,
    // or search from the start when the offset lies before it.
    size_t i = v->current < v->count && v->pieces[v->current].at <= offset ? v->current : 0;
    while (i < v->count && offset >= v->pieces[i].at + v->pieces[i].length)
        i++;
    size_t done = 0;
    for (; i < v->count && done < n; i++) {
        const Piece &p = v->pieces[i];
        int64_t skip = offset - p.at;
        size_t k = (size_t)(p.length - skip) < n - done ? (size_t)(p.length - skip) : n - done;
        if (p.text) {
            memcpy(buf + done, p.text + skip, k);
        } else {
            long got = ReadInputAt(v->input, p.from + skip, buf + done, k);
            if (got < 0)
                return -1;
            if ((size_t)got < k) {      // the input became shorter than it was
                done += (size_t)got;
                break;
            }
        }
        v->current = i;
        done += k;
        offset += (int64_t)k;
    }
    return (long)done;
}

MainPartView *OpenMainPartView(const CleanSwitches *sw, ByteStream *input, size_t memoryLimit,
                               ExtractOutcome *outcome)
{
    MainPartView *v = (MainPartView *)malloc(sizeof(MainPartView));
    if (!v)
        return nullptr;
    v->input = input;
    v->pieces = nullptr;
    v->count = 0;
    v->current = 0;
    v->tail = nullptr;
    MakePlan(&v->plan, sw, input, memoryLimit);
    *outcome = v->plan.outcome;
    bool pieces = v->plan.ranges && BuildPieces(v);
    // The pieces are all the view needs of the outline.
    FreeOutline(&v->plan.outline);
    if (v->plan.ranges && !pieces) {
        free(v);
        StreamSeek(input, 0);
        return nullptr;
    }
    if (pieces)
        StreamOpenReader(&v->stream, ReadView, v);
    else
        StreamSeek(input, 0);
    return v;
}

ByteStream *MainPartViewStream(MainPartView *v)
{
    // Without pieces the output is the input itself, read where it lies.
    return v->pieces ? &v->stream : v->input;
}

const char *MainPartViewTail(const MainPartView *v)
{
    return v->tail;
}

void CloseMainPartView(MainPartView *v)
{
    if (v->pieces)
        StreamClose(&v->stream);
    StreamSeek(v->input, v->plan.size);     // the input read to its end
    free(v->pieces);
    free(v);
}
