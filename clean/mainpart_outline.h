// Main-part extraction's outline of the page and the scan that builds it:
// the table and cell nodes, their memory, the tag events that open and
// close them, and the scan over the input's bytes.
// An internal piece of main-part extraction: mainpart.cpp builds it with
// its own code as one unit, so that the scan's calls stay inline.
//
// Scan states (each byte is folded to upper case for recognition only):
//   100 text, words counted   300 another tag, up to its '>'
//       in a counting cell
//   200 after '<'
//   220 after "<T"            500 after "<B"
//   221 after "<TA"           510 after "<BO"
//   222 after "<TAB"          520 after "<BOD"
//   223 after "<TABL"         600 after "<!"
//   230 a name recognised,    610 after "<!-"
//       up to the tag's '>'   620 in a comment
//                             630 in a comment, after one '-'
//                             640 in a comment, after two or more '-'
//   700 after "<S"            720 in an element the element pass deletes,
//   710 a name of such an         up to its closing text's '<'
//       element, partly read  730 after that '<', matching the closing text
//   740 after a '<' in a comment that the element pass keeps
//   750 a SCRIPT tag, up to its '>', judged by what it loads
//
// Run before the element pass (extractFirst), the scan judges the page as
// that pass will leave it: a SCRIPT (with Scripts on, or with Internet on
// when its tag loads from the network, IsRemoteLink) and a STYLE (with
// Styles on) are passed over as the pass deletes them, recognised by the
// same rules (the name as a prefix of the tag's name, the element up to its
// closing text matched byte after byte, a byte that breaks the match not
// looked at again), so their text counts as no words and the tags in them
// are none of ours. Where that pass keeps comments it does not see them, and
// deletes such an element in a comment too, up to its closing text even
// past the comment's end: the scan looks for them in a comment and, past
// one, goes on in the comment. Judged with them, the page would lose their words only
// on a second clean and could find a main part there.

#pragma once
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include "clean/bytescan.h"
#include "clean/passes.h"

enum {
    kStateText = 100,
    kStateAfterLt = 200,
    kStateT = 220,
    kStateTA = 221,
    kStateTAB = 222,
    kStateTABL = 223,
    kStateNamed = 230,
    kStateOtherTag = 300,
    kStateB = 500,
    kStateBO = 510,
    kStateBOD = 520,
    kStateBang = 600,
    kStateBangDash = 610,
    kStateComment = 620,
    kStateCommentDash = 630,
    kStateCommentDashes = 640,
    kStateS = 700,
    kStateSkipName = 710,
    kStateSkipped = 720,
    kStateCloser = 730,
    kStateCommentLt = 740,
    kStateScriptTag = 750,
};

// Tag kinds: 0 opening or 1 closing, plus the value of the name.
enum {
    kKindClosing = 1,
    kKindBodyValue = 5,
    kKindTableValue = 10,
    kKindTrValue = 20,
    kKindTdValue = 30,
    kKindBody = 5,
    kKindBodyEnd = 6,
    kKindTable = 10,
    kKindTableEnd = 11,
    kKindTr = 20,
    kKindTrEnd = 21,
    kKindTd = 30,
    kKindTdEnd = 31,
};

// The end of a cell or table that no tag has closed yet. No closing tag can
// put an end at position 0, so the value is free.
const int64_t kNotClosed = 0;

namespace {     // the outline's types are this file's own

struct CellNode {
    CellNode *next;         // next cell of the same table
    int64_t start;          // the '<' of "<TD", or just after the BODY tag
    int64_t end;            // kNotClosed until closed
    int64_t words;
};

struct TableNode {
    TableNode *next;        // next table in creation (document) order
    CellNode *cells;
    CellNode *lastCell;     // the kept tail of `cells`
    int64_t start;          // the '<' of "<TABLE", or the BODY tag's '>'
    int64_t end;            // kNotClosed until closed
    int32_t id;             // 1, 2, 3... in creation order
    int32_t parentId;       // the table current when this one opened; 0 none
    bool isBody;            // a body pseudo-table: its first cell is the body
};

// The context of an enclosing table, saved while a nested table is open.
struct TableSaveEntry {
    int32_t id;
    bool cellIsBody;
    TableNode *table;
    CellNode *cell;
};

struct KeepRange {
    KeepRange *next;
    int64_t start;
    int64_t end;
};

// Nodes come from large chunks that are freed together.
struct PoolChunk {
    PoolChunk *next;
};
enum { kPoolChunkSize = 256 * 1024, kPoolChunkHeader = 16 };

// The outline of the page and the scan context, one per call.
struct Outline {
    PoolChunk *chunks;
    unsigned char *poolNext;
    size_t poolLeft;
    size_t memoryLeft;      // what the outline may still take from the heap
    bool outOfMemory;

    TableNode *tables;
    TableNode *lastTable;
    TableNode **byId;       // byId[id] is the table of that id
    size_t byIdCapacity;
    TableSaveEntry *stack;  // newest on top
    size_t stackDepth;
    size_t stackCapacity;

    int32_t currentId;
    TableNode *currentTable;
    CellNode *currentCell;
    bool currentIsBody;     // currentCell is the cell of a body pseudo-table
    int32_t lastId;
    bool skipScripts;       // SCRIPT elements are passed over
    bool skipStyles;        // STYLE elements are passed over
    bool skipRemoteScripts; // SCRIPT elements whose tag loads from the network
    bool skipInComments;    // and looked for in comments, which stay
    TagBuffer tag;          // such a SCRIPT tag, as the element pass holds it
    int64_t bodyDepth;
    bool counting;
    CellNode *counter;
    int endState;           // the scan's state when the input ended
    int64_t endTagStart;    // and, ended in a tag or comment, where its '<' stood
};

}  // namespace

// ---------------------------------------------------------------------------
// Memory

static bool TakeMemory(Outline *o, size_t n)
{
    if (n > o->memoryLeft) {
        o->outOfMemory = true;
        return false;
    }
    o->memoryLeft -= n;
    return true;
}

static void *PoolAlloc(Outline *o, size_t n)
{
    n = (n + 7) & ~(size_t)7;
    if (n > o->poolLeft) {
        if (o->outOfMemory || !TakeMemory(o, kPoolChunkSize))
            return nullptr;
        PoolChunk *chunk = (PoolChunk *)malloc(kPoolChunkSize);
        if (!chunk) {
            o->outOfMemory = true;
            return nullptr;
        }
        chunk->next = o->chunks;
        o->chunks = chunk;
        o->poolNext = (unsigned char *)chunk + kPoolChunkHeader;
        o->poolLeft = kPoolChunkSize - kPoolChunkHeader;
    }
    void *p = o->poolNext;
    o->poolNext += n;
    o->poolLeft -= n;
    memset(p, 0, n);
    return p;
}

// Makes room for `need` elements of `size` bytes in the array at *items.
static bool GrowArray(Outline *o, void **items, size_t *capacity, size_t size, size_t need)
{
    if (need <= *capacity)
        return true;
    size_t grown = *capacity ? *capacity : 256;
    while (grown < need)
        grown *= 2;
    if (grown > SIZE_MAX / size) {
        o->outOfMemory = true;
        return false;
    }
    if (!TakeMemory(o, (grown - *capacity) * size))
        return false;
    void *p = realloc(*items, grown * size);
    if (!p) {
        o->outOfMemory = true;
        return false;
    }
    *items = p;
    *capacity = grown;
    return true;
}

static void InitOutline(Outline *o, size_t memoryLimit)
{
    memset(o, 0, sizeof *o);
    o->memoryLeft = memoryLimit;
}

static void FreeOutline(Outline *o)
{
    free(o->stack);
    free(o->byId);
    while (o->chunks) {
        PoolChunk *next = o->chunks->next;
        free(o->chunks);
        o->chunks = next;
    }
}

// ---------------------------------------------------------------------------
// The outline

// Appends a table to the list and the index; none when memory ran out.
static TableNode *AddTable(Outline *o, int32_t id, int64_t start, int32_t parentId)
{
    if (!GrowArray(o, (void **)&o->byId, &o->byIdCapacity, sizeof(TableNode *), (size_t)id + 1))
        return nullptr;
    TableNode *t = (TableNode *)PoolAlloc(o, sizeof(TableNode));
    if (!t)
        return nullptr;
    t->start = start;
    t->end = kNotClosed;
    t->id = id;
    t->parentId = parentId;
    if (o->lastTable)
        o->lastTable->next = t;
    else
        o->tables = t;
    o->lastTable = t;
    o->byId[id] = t;
    return t;
}

// Appends a cell to the table; none without a table or memory.
static CellNode *AddCell(Outline *o, TableNode *table, int64_t start)
{
    if (!table)
        return nullptr;
    CellNode *cell = (CellNode *)PoolAlloc(o, sizeof(CellNode));
    if (!cell)
        return nullptr;
    cell->start = start;
    cell->end = kNotClosed;
    if (table->lastCell)
        table->lastCell->next = cell;
    else
        table->cells = cell;
    table->lastCell = cell;
    return cell;
}

static TableNode *FindTable(const Outline *o, int32_t id)
{
    if (id <= 0 || id > o->lastId)
        return nullptr;
    return o->byId[id];
}

static bool IsBodyTable(const TableNode *t)
{
    return t->isBody;
}

static void PushTableContext(Outline *o, int32_t id, TableNode *table, CellNode *cell)
{
    if (!GrowArray(o, (void **)&o->stack, &o->stackCapacity, sizeof(TableSaveEntry),
                   o->stackDepth + 1))
        return;
    TableSaveEntry *e = &o->stack[o->stackDepth++];
    e->id = id;
    e->cellIsBody = o->currentIsBody;
    e->table = table;
    e->cell = cell;
}

// Restores the newest saved context; false when the stack is empty. The
// restored cell is open again: a "<TD" of the nested table may have set its
// end, but its own "</TD", the next "<TD" of its table or its table's
// "</TABLE" is what ends it.
static bool PopTableContext(Outline *o)
{
    if (o->stackDepth == 0)
        return false;
    const TableSaveEntry *e = &o->stack[--o->stackDepth];
    o->currentId = e->id;
    o->currentTable = e->table;
    o->currentCell = e->cell;
    o->currentIsBody = e->cellIsBody;
    if (e->cell)
        e->cell->end = kNotClosed;
    return true;
}

// ---------------------------------------------------------------------------
// Tag events

// The "<TD" action: the open cell ends just before `start`, and a new cell
// of the current table opens there.
static void OpenCell(Outline *o, int64_t start)
{
    if (o->currentCell)
        o->currentCell->end = start - 1;
    o->currentCell = AddCell(o, o->currentTable, start);
    o->currentIsBody = false;
    if (o->currentCell) {
        o->counter = o->currentCell;
        o->counting = true;
    }
}

// The "</TD" action.
static void CloseCell(Outline *o, int64_t end)
{
    if (o->currentCell)
        o->currentCell->end = end;
    o->currentCell = nullptr;
    o->currentIsBody = false;
    o->counting = false;
    o->counter = nullptr;
}

static void OnBodyStart(Outline *o, int64_t b)
{
    if (o->bodyDepth++ != 0)
        return;
    if (o->lastId == INT32_MAX) {
        o->outOfMemory = true;
        return;
    }
    int32_t id = ++o->lastId;
    TableNode *t = AddTable(o, id, b, o->currentId);
    if (!t)
        return;
    o->currentTable = t;
    o->currentId = id;
    OpenCell(o, b + 1);
    t->isBody = o->currentIsBody = o->currentCell != nullptr;
}

static void OnBodyEnd(Outline *o, int64_t a)
{
    if (--o->bodyDepth != 0)
        return;
    if (o->currentTable) {
        o->currentTable->end = a;
        o->currentId = o->currentTable->parentId;
        o->currentTable = FindTable(o, o->currentId);
    }
    CloseCell(o, a - 1);
}

static void OnTableStart(Outline *o, int64_t a)
{
    PushTableContext(o, o->currentId, o->currentTable, o->currentCell);
    if (o->outOfMemory)
        return;
    if (o->lastId == INT32_MAX) {
        o->outOfMemory = true;
        return;
    }
    int32_t id = ++o->lastId;
    TableNode *t = AddTable(o, id, a, o->currentId);
    if (!t)
        return;
    o->currentTable = t;
    o->currentId = id;
    o->counting = false;
}

static void OnTableEnd(Outline *o, int64_t a, int64_t b)
{
    TableNode *t = o->currentTable;
    // A stray "</TABLE" directly in the body closes nothing.
    if (t && IsBodyTable(t))
        return;
    if (t) {
        // A last cell without "</TD" ends with its table.
        CellNode *cell = o->currentCell;
        if (cell && cell == t->lastCell && cell->end == kNotClosed)
            cell->end = a - 1;
        t->end = b;
    }
    if (PopTableContext(o)) {
        o->counting = o->currentId != 0;
        o->counter = o->currentId != 0 ? o->currentCell : nullptr;
    } else {
        o->currentId = t ? t->parentId : 0;
        o->currentTable = FindTable(o, o->currentId);
    }
}

static void OnTagEvent(Outline *o, int kind, int64_t a, int64_t b)
{
    switch (kind) {
    case kKindBody:
        OnBodyStart(o, b);
        break;
    case kKindBodyEnd:
        OnBodyEnd(o, a);
        break;
    case kKindTable:
        OnTableStart(o, a);
        break;
    case kKindTableEnd:
        OnTableEnd(o, a, b);
        break;
    case kKindTd:
        OpenCell(o, a);
        break;
    case kKindTdEnd:
        // A stray "</TD" in the body text does not end the body cell.
        if (!(o->currentCell && o->currentIsBody))
            CloseCell(o, b);
        break;
    default:        // TR tags, and names that only start like ours
        break;
    }
}

// ---------------------------------------------------------------------------
// Scan

// The bytes after '<' (or "</") on which TagNameState does not go
// straight to kStateOtherTag: '/', '!' and the first letters of our names.
struct FirstBytes {
    bool ours[256];
};

static constexpr FirstBytes BuildFirstBytes()
{
    FirstBytes t = {};
    for (const char *c = "/!TtBbSs"; *c; c++)
        t.ours[(unsigned char)*c] = true;
    return t;
}

static constexpr FirstBytes kFirstBytes = BuildFirstBytes();

// The states between '<' and the end of a tag name: 200, 220 to 223, 500
// to 520. Answers the next state.
static int TagNameState(int state, int c, int *kind)
{
    switch (state) {
    case kStateAfterLt:
        if (c == '/') {
            *kind = kKindClosing;
            return kStateAfterLt;
        }
        if (c == 'T')
            return kStateT;
        if (c == 'B')
            return kStateB;
        if (c == 'S' && *kind == 0)
            return kStateS;
        if (c == '!')
            return kStateBang;
        return kStateOtherTag;
    case kStateT:
        if (c == 'D') {
            *kind += kKindTdValue;
            return kStateNamed;
        }
        if (c == 'R') {
            *kind += kKindTrValue;
            return kStateNamed;
        }
        if (c == 'A') {
            *kind += kKindTableValue;
            return kStateTA;
        }
        return kStateOtherTag;
    case kStateTA:
        return c == 'B' ? kStateTAB : kStateOtherTag;
    case kStateTAB:
        return c == 'L' ? kStateTABL : kStateOtherTag;
    case kStateTABL:
        return c == 'E' ? kStateNamed : kStateOtherTag;
    case kStateB:
        if (c == 'O')
            return kStateBO;
        return c == '>' ? kStateText : kStateOtherTag;
    case kStateBO:
        return c == 'D' ? kStateBOD : kStateOtherTag;
    default:        // kStateBOD
        if (c == 'Y') {
            *kind += kKindBodyValue;
            return kStateNamed;
        }
        return kStateOtherTag;
    }
}

// The states from "<!" to the end of a comment: 600 to 640. A comment ends
// at two or more dashes followed by '>'; the dashes of "<!--" do not count.
static int CommentState(int state, int c)
{
    switch (state) {
    case kStateBang:
        return c == '-' ? kStateBangDash : kStateOtherTag;
    case kStateBangDash:
        return c == '-' ? kStateComment : kStateOtherTag;
    case kStateComment:
        return c == '-' ? kStateCommentDash : kStateComment;
    case kStateCommentDash:
        return c == '-' ? kStateCommentDashes : kStateComment;
    default:        // kStateCommentDashes
        if (c == '>')
            return kStateText;
        return c == '-' ? kStateCommentDashes : kStateComment;
    }
}

// An element the element pass deletes whole, as the scan passes over it.
namespace {
struct Skip {
    const char *name;       // the rest of its name still to read
    const char *closer;     // its closing text, upper case
    int pos;                // bytes of the closing text matched
    int resume;             // the state after it: text, or a comment's
    bool judged;            // deleted only when its tag loads from the network
};
}  // namespace

// Where a name that the byte c breaks leaves the scan: in another tag, or
// at its end when c is the '>'; in a comment, at c in the comment.
static int NameBroken(Skip *k, int c)
{
    if (k->resume == kStateComment) {
        k->resume = kStateText;
        return CommentState(kStateComment, c);
    }
    return c == '>' ? kStateText : kStateOtherTag;
}

// The states from "<S" to the end of a deleted element: 700 to 740.
static int SkipState(Outline *o, Skip *k, int state, int c)
{
    switch (state) {
    case kStateCommentLt:
        if (c != 'S')
            return CommentState(kStateComment, c);
        k->resume = kStateComment;
        return kStateS;
    case kStateS:
        if (c == 'C' && (o->skipScripts || o->skipRemoteScripts)) {
            k->judged = !o->skipScripts;
            k->name = "RIPT";
            k->closer = "</SCRIPT>";
            return kStateSkipName;
        }
        if (c == 'T' && o->skipStyles) {
            k->name = "YLE";
            k->closer = "</STYLE>";
            k->judged = false;
            return kStateSkipName;
        }
        return NameBroken(k, c);
    case kStateSkipName:
        if (c != *k->name)
            return NameBroken(k, c);
        k->pos = 0;
        if (*++k->name)
            return kStateSkipName;
        if (!k->judged)
            return kStateSkipped;
        ResetTagBuffer(&o->tag);
        for (const char *b = "<SCRIPT"; *b; b++)
            o->tag.bytes[o->tag.length++] = (unsigned char)*b;
        return kStateScriptTag;
    default: {      // kStateCloser
        if (c != k->closer[k->pos])
            return kStateSkipped;
        if (k->closer[++k->pos])
            return kStateCloser;
        int resume = k->resume;
        k->resume = kStateText;
        return resume;
    }
    }
}

// The scan spends most of its time in text, words, tags and comments that it
// does not look into. It reads the input in place, a buffer at a time,
// through a window, and passes over such runs with memchr and the word
// count over a buffer, going back to the state switch only at the bytes that
// end them.

namespace {
// The bytes [p, end) of the input's buffer are read but not yet looked at;
// `start` is where the buffer began, at input position `base`.
struct Window {
    ByteStream *input;
    const unsigned char *start;
    const unsigned char *p;
    const unsigned char *end;
    int64_t base;
};
}  // namespace

// Consumes the window and takes the next buffer; false at the end.
static bool Refill(Window *w)
{
    StreamSkip(w->input, (size_t)(w->end - w->start));
    w->base = StreamTell(w->input);
    size_t n = StreamPeek(w->input, &w->start);
    w->p = w->start;
    w->end = w->start + n;
    return n > 0;
}

// The input position of the next byte to look at.
static inline int64_t Position(const Window *w)
{
    return w->base + (w->p - w->start);
}

// Moves the window to the next `stop` byte, past it; false at the end.
static bool PassTo(Window *w, unsigned char stop)
{
    for (;;) {
        const unsigned char *hit =
            w->p < w->end ? (const unsigned char *)memchr(w->p, stop, (size_t)(w->end - w->p))
                          : nullptr;
        if (hit) {
            w->p = hit + 1;
            return true;
        }
        w->p = w->end;
        if (!Refill(w))
            return false;
    }
}

// Moves the window past the next byte that is a or b; which it was, or -1
// at the end.
static int PassToEither(Window *w, unsigned char a, unsigned char b)
{
    for (;;) {
        for (; w->p < w->end; w->p++)
            if (*w->p == a || *w->p == b)
                return *w->p++;
        if (!Refill(w))
            return -1;
    }
}

// State 750: the SCRIPT tag's bytes up to its '>' into the tag buffer, as
// the element pass collects it; the element goes when the tag loads from
// the network. A tag that fills the buffer is given up, as that pass gives
// it up, and read on as another tag. The next state, or -1 at the end.
static int ScriptTag(Outline *o, Window *w, Skip *k)
{
    TagBuffer *t = &o->tag;
    for (;;) {
        for (; w->p < w->end; w->p++) {
            unsigned char c = *w->p;
            t->bytes[t->length++] = c;
            if (t->length == kTagBufferSize) {
                w->p++;
                int resume = k->resume;
                k->resume = kStateText;
                if (resume == kStateComment)
                    return kStateComment;
                return c == '>' ? kStateText : kStateOtherTag;
            }
            if (c == '>') {
                w->p++;
                if (IsRemoteLink(t, true))
                    return kStateSkipped;
                int resume = k->resume;
                k->resume = kStateText;
                return resume;
            }
        }
        if (!Refill(w))
            return -1;
    }
}

// Text up to the next '<', past it, adding the words that end in it to
// *words when given: a word is a run of bytes other than blanks and '<',
// counted at the byte that ends it, so one cut off by the end of the input
// is not counted. False at the end.
static bool PassText(Window *w, int64_t *words)
{
    // Tags often follow each other: no text, no words.
    if (w->p < w->end && *w->p == '<') {
        w->p++;
        return true;
    }
    if (!words)
        return PassTo(w, '<');
    bool inWord = false;
    for (;;) {
        size_t n = (size_t)(w->end - w->p);
        size_t at = CountWordsUntilTag(w->p, n, &inWord, words);
        if (at < n) {
            w->p += at + 1;
            return true;
        }
        w->p = w->end;
        if (!Refill(w))
            return false;
    }
}

// Reads the whole input and builds the outline. Answers the number of bytes
// read; stops early only when memory ran out.
// The scan's end: where it stopped, and in which state.
static inline int64_t Ended(Outline *o, const Window *w, int state, int64_t tagStart)
{
    o->endState = state;
    o->endTagStart = tagStart;
    return Position(w);
}

static int64_t Scan(Outline *o, ByteStream *input)
{
    Window w = {input, nullptr, nullptr, nullptr, 0};
    int64_t uncounted = 0;
    int64_t tagStart = 0;
    int kind = 0;
    Skip skip = {nullptr, nullptr, 0, kStateText, false};
    int state = kStateText;
    for (;;) {
        switch (state) {
        case kStateText:
            // The words go to the counting cell; with the counter gone (a
            // table closed inside a cell) they are read but not kept.
            if (!PassText(&w, o->counting ? (o->counter ? &o->counter->words : &uncounted) : nullptr))
                return Ended(o, &w, state, tagStart);
            state = kStateAfterLt;
            tagStart = Position(&w) - 1;
            kind = 0;
            // Most tags are none of ours: TagNameState's first steps here.
            if (w.p < w.end && *w.p == '/') {
                w.p++;
                kind = kKindClosing;
            }
            if (w.p < w.end && !kFirstBytes.ours[*w.p]) {
                w.p++;
                state = kStateOtherTag;
            }
            break;
        case kStateOtherTag:
            if (!PassTo(&w, '>'))
                return Ended(o, &w, state, tagStart);
            state = kStateText;
            break;
        case kStateNamed:
            if (!PassTo(&w, '>'))
                return Ended(o, &w, state, tagStart);
            OnTagEvent(o, kind, tagStart, Position(&w) - 1);
            if (o->outOfMemory)
                return Ended(o, &w, state, tagStart);
            state = kStateText;
            break;
        case kStateComment:
            if (o->skipInComments) {
                int c = PassToEither(&w, '-', '<');
                if (c < 0)
                    return Ended(o, &w, state, tagStart);
                state = c == '-' ? kStateCommentDash : kStateCommentLt;
                break;
            }
            if (!PassTo(&w, '-'))
                return Ended(o, &w, state, tagStart);
            state = kStateCommentDash;
            break;
        case kStateScriptTag:
            state = ScriptTag(o, &w, &skip);
            if (state < 0)
                return Ended(o, &w, kStateScriptTag, tagStart);
            break;
        case kStateSkipped:
            if (!PassTo(&w, '<'))
                return Ended(o, &w, state, tagStart);
            skip.pos = 1;
            state = kStateCloser;
            break;
        default: {
            if (w.p == w.end && !Refill(&w))
                return Ended(o, &w, state, tagStart);
            int c = UpperAscii(*w.p++);
            if (state >= kStateS)
                state = SkipState(o, &skip, state, c);
            else if (state >= kStateBang)
                state = CommentState(state, c);
            else
                state = TagNameState(state, c, &kind);
            break;
        }
        }
    }
}

// Gives an end to every cell and table that no tag closed: the input's last
// byte. The body pseudo-table's end is the position after its part, so a
// never-closed one ends just after the last byte and its part keeps it.
static void EndOpenParts(Outline *o, int64_t size)
{
    for (TableNode *t = o->tables; t; t = t->next) {
        if (t->end == kNotClosed)
            t->end = IsBodyTable(t) ? size : size - 1;
        for (CellNode *cell = t->cells; cell; cell = cell->next)
            if (cell->end == kNotClosed)
                cell->end = size - 1;
    }
}
