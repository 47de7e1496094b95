// The stage chain: see clean.h.
//
// The extraction, when on, comes first or second (extractFirst) and always
// reads a seekable stream. First, it only scans the page: the element pass
// then reads the extraction's output in place, through a view made of the
// page's kept ranges and the wrapper's opening tags, and the closing tags
// follow its output (an element deleted up to the end of the part ends
// there, before them). Second, it reads a temporary file
// that the element pass wrote. The stage before the attribute pass writes
// into it through a sink, and the attribute pass into the output, so the
// page is written once into a temporary file at most. A stage that would
// only copy (the extraction when off, the attribute pass with Styles,
// Internet and Scripts off) is left out of the chain. CleanBytes runs the
// same chain over memory, with a buffer in place of the temporary file.
#include "clean/clean.h"
#include "clean/mimeparts.h"
#include <stdlib.h>
#include <string.h>
#include "clean/address.h"
#include "clean/anylayout.h"

namespace {

// The chain's streams and what is known of its outcome so far.
struct Chain {
    const CleanSwitches *sw;
    ByteStream *input;
    ByteStream *output;
    ByteStream *last;           // where the stage before the attribute pass writes
    AttributeFilter filter;
    ByteStream toFilter;
    ByteStream temp;            // between two stages: a temporary file, or a buffer
    bool tempOpen;
    bool inMemory;              // the page between two stages is held in a buffer
    size_t memoryLimit;         // of the extraction's outline, and of that buffer
    CleanReport report;
};

}  // namespace

// The first of the chain's problems, in the order a run reports them.
static CleanStatus Failure(Chain *c)
{
    if (StreamReadFailed(c->input))
        return kCleanReadFailed;
    if (c->tempOpen && (StreamReadFailed(&c->temp) || StreamWriteFailed(&c->temp))) {
        if (!c->inMemory)
            return kCleanTempFailed;
        return StreamOverLimit(&c->temp) ? kCleanOverLimit : kCleanNoMemory;
    }
    if (StreamWriteFailed(c->output))
        return kCleanWriteFailed;
    return kCleanDone;
}

// The extraction stage writing its output: the rule for any layout when
// chosen, else the table rule.
static ExtractOutcome Extract(Chain *c, ByteStream *input, ByteStream *output)
{
    if (!c->sw->anyLayout)
        return ExtractMainPart(c->sw, input, output, c->memoryLimit);
    AnyLayoutResult *part = &c->report.part;
    AnyLayoutExtractLimited(c->sw->cutTables, input, output, c->memoryLimit, part);
    switch (part->outcome) {
    case kAnyLayoutPart:
        return kExtractAnyLayoutPart;
    case kAnyLayoutNoMemory:
        return kExtractOutOfMemory;
    default:
        return kExtractNoMainPart;
    }
}

// The two stages through the temporary file, the extraction first or second.
static void RunThroughTemp(Chain *c, int64_t *middle)
{
    const CleanSwitches *sw = c->sw;
    if (c->inMemory) {
        StreamOpenBufferLimited(&c->temp, c->memoryLimit);
    } else if (!StreamCreateTemp(&c->temp)) {
        c->report.status = kCleanTempFailed;
        return;
    }
    c->tempOpen = true;
    if (sw->extractFirst)
        c->report.extraction = Extract(c, c->input, &c->temp);
    else
        ElementRemovalPass(sw, c->input, &c->temp, &c->report.removals);
    StreamFlush(&c->temp);
    c->report.status = Failure(c);
    if (c->report.status != kCleanDone)
        return;
    *middle = StreamTell(&c->temp);
    StreamRewind(&c->temp);
    if (sw->extractFirst)
        ElementRemovalPass(sw, &c->temp, c->last, &c->report.removals);
    else
        c->report.extraction = Extract(c, &c->temp, c->last);
}

// The extraction first, as a view that the element pass reads.
static void RunThroughView(Chain *c, int64_t *middle)
{
    MainPartView *view = OpenMainPartView(c->sw, c->input, c->memoryLimit, &c->report.extraction);
    if (!view) {
        StreamSeek(c->input, 0);
        RunThroughTemp(c, middle);
        return;
    }
    c->report.status = Failure(c);
    if (c->report.status == kCleanDone) {
        ByteStream *page = MainPartViewStream(view);
        ElementRemovalPass(c->sw, page, c->last, &c->report.removals);
        *middle = StreamTell(page);
        if (const char *tail = MainPartViewTail(view)) {
            size_t n = strlen(tail);
            StreamWrite(c->last, tail, n);
            *middle += (int64_t)n;
        }
    }
    CloseMainPartView(view);
}

static CleanStatus RunChain(const CleanSwitches *sw, ByteStream *input, ByteStream *output,
                            bool inMemory, size_t memoryLimit, CleanReport *report)
{
    Chain c;
    c.sw = sw;
    c.input = input;
    c.output = output;
    c.last = output;
    c.tempOpen = false;
    c.inMemory = inMemory;
    c.memoryLimit = memoryLimit;
    c.report = CleanReport();
    c.report.extraction = kExtractOff;

    int64_t inStart = StreamTell(input);
    int64_t outStart = StreamTell(output);
    bool attributes = AttributeStageWanted(sw);
    if (attributes) {
        StartAttributeFilter(&c.filter, sw, output, &c.report.removals);
        StreamOpenSink(&c.toFilter, AttributeFilterSink, &c.filter);
        c.last = &c.toFilter;
    }

    int64_t middle = -1;        // the size of the temporary file's page
    // The view reads the table rule's output in place; the rule for any
    // layout writes its output through the temporary file.
    if (sw->extract && sw->extractFirst && !sw->anyLayout)
        RunThroughView(&c, &middle);
    else if (sw->extract)
        RunThroughTemp(&c, &middle);
    else
        ElementRemovalPass(sw, input, c.last, &c.report.removals);

    int64_t beforeAttributes = StreamTell(c.last) - (attributes ? 0 : outStart);
    if (attributes) {
        StreamClose(&c.toFilter);
        FinishAttributeFilter(&c.filter);
    }
    StreamFlush(output);
    if (c.report.status == kCleanDone)
        c.report.status = Failure(&c);
    if (c.tempOpen)
        StreamClose(&c.temp);

    CleanReport &r = c.report;
    r.bytesIn = StreamTell(input) - inStart;
    r.bytesOut = StreamTell(output) - outStart;
    if (r.status == kCleanDone) {
        int64_t afterFirst = middle >= 0 ? middle : beforeAttributes;
        bool extractFirst = sw->extract && sw->extractFirst;
        r.removed[extractFirst ? kStageExtraction : kStageElements] = r.bytesIn - afterFirst;
        if (middle >= 0)
            r.removed[extractFirst ? kStageElements : kStageExtraction] = middle - beforeAttributes;
        r.removed[kStageAttributes] = beforeAttributes - r.bytesOut;
        if (sw->extract)
            r.extractionIn = extractFirst ? r.bytesIn : middle;
    }
    if (report)
        *report = r;
    return r.status;
}

// ---------------------------------------------------------------------------
// Settling: the rule for any layout judges each block against the page it
// reads, so on its own output (the part, without the rest of the page) it
// may choose a smaller part or cut again. Where it runs, the chain runs
// again on its own output until that comes back unchanged, kSettleRuns
// times at most; the output is the last one written. The table rule and
// the passes need no second run: their output cleaned again comes back.

enum { kSettleRuns = 3 };

static bool Settles(const CleanSwitches *sw)
{
    return sw->extract && sw->anyLayout;
}

// A place for one run's output: a temporary file, or a buffer in memory.
static bool OpenStage(ByteStream *s, bool inMemory, size_t memoryLimit)
{
    if (inMemory) {
        StreamOpenBufferLimited(s, memoryLimit);
        return true;
    }
    return StreamCreateTemp(s);
}

// Whether two streams hold the same bytes; both are read from their start.
static bool SameStreams(ByteStream *a, ByteStream *b)
{
    StreamRewind(a);
    StreamRewind(b);
    for (;;) {
        const unsigned char *x, *y;
        size_t n = StreamPeek(a, &x), m = StreamPeek(b, &y);
        if (n == 0 || m == 0)
            return n == m && !StreamReadFailed(a) && !StreamReadFailed(b);
        size_t k = n < m ? n : m;
        if (memcmp(x, y, k) != 0)
            return false;
        StreamSkip(a, k);
        StreamSkip(b, k);
    }
}

// A later run's figures added to the first's: what each stage took out
// and what it was, by kind; the part is the last run's choice.
static void AddRun(CleanReport *total, const CleanReport *run)
{
    for (int k = 0; k < kStageCount; k++)
        total->removed[k] += run->removed[k];
    for (int k = 0; k < kRemovalKindCount; k++) {
        total->removals.count[k] += run->removals.count[k];
        total->removals.bytes[k] += run->removals.bytes[k];
    }
    total->bytesOut = run->bytesOut;
    if (run->removed[kStageExtraction] != 0) {
        total->extraction = run->extraction;
        total->part = run->part;
    }
}

// The failure of a run's own output stream: as the chain names its temp.
static CleanStatus StageFailure(const ByteStream *s, bool inMemory)
{
    if (!inMemory)
        return kCleanTempFailed;
    return StreamOverLimit(s) ? kCleanOverLimit : kCleanNoMemory;
}

static CleanStatus Settle(const CleanSwitches *sw, ByteStream *input, ByteStream *output,
                          bool inMemory, size_t memoryLimit, CleanReport *report)
{
    CleanReport total = CleanReport();
    ByteStream last, next;
    if (!OpenStage(&last, inMemory, memoryLimit)) {
        total.status = kCleanTempFailed;
        if (report)
            *report = total;
        return total.status;
    }
    RunChain(sw, input, &last, inMemory, memoryLimit, &total);
    for (int run = 2; run <= kSettleRuns && total.status == kCleanDone; run++) {
        CleanReport again;
        StreamRewind(&last);
        if (!OpenStage(&next, inMemory, memoryLimit)) {
            total.status = kCleanTempFailed;
            break;
        }
        // A failure of a later run is the run's: its input is our own.
        if (RunChain(sw, &last, &next, inMemory, memoryLimit, &again) != kCleanDone) {
            total.status = again.status == kCleanReadFailed ? StageFailure(&last, inMemory)
                           : again.status == kCleanWriteFailed ? StageFailure(&next, inMemory)
                                                               : again.status;
            StreamClose(&next);
            break;
        }
        bool same = SameStreams(&last, &next);
        if (same) {
            StreamClose(&next);
            break;
        }
        AddRun(&total, &again);
        StreamClose(&last);
        last = next;
    }
    if (total.status == kCleanDone) {
        StreamRewind(&last);
        CopyStream(&last, output);
        StreamFlush(output);
        if (StreamReadFailed(&last))
            total.status = StageFailure(&last, inMemory);
        else if (StreamWriteFailed(output))
            total.status = kCleanWriteFailed;
    }
    StreamClose(&last);
    if (report)
        *report = total;
    return total.status;
}

CleanStatus CleanStream(const CleanSwitches *sw, ByteStream *input, ByteStream *output,
                        CleanReport *report)
{
    if (Settles(sw))
        return Settle(sw, input, output, false, kNoMemoryLimit, report);
    return RunChain(sw, input, output, false, kNoMemoryLimit, report);
}

CleanStatus CleanBytes(const CleanSwitches *sw, const void *page, size_t size,
                       ByteStream *output, size_t memoryLimit, CleanReport *report)
{
    ByteStream input;
    StreamOpenMemory(&input, page, size);
    if (Settles(sw))
        return Settle(sw, &input, output, true, memoryLimit, report);
    return RunChain(sw, &input, output, true, memoryLimit, report);
}

// ---------------------------------------------------------------------------
// Single-file pages

static CleanStatus BetweenFailure(const ByteStream *s, bool inMemory)
{
    if (!StreamReadFailed(s) && !StreamWriteFailed(s))
        return kCleanDone;
    if (!inMemory)
        return kCleanTempFailed;
    return StreamOverLimit(s) ? kCleanOverLimit : kCleanNoMemory;
}

// Copies the document's bytes [from, to) (to -1: its end) from `input`,
// where it begins at `docStart`, into `output`, less the parts that `marks`
// leaves out (none when it is null).
static void CopyWithoutLeftOut(const MimeDocument *doc, const unsigned char *marks, ByteStream *input, int64_t docStart,
                      int64_t from, int64_t to, ByteStream *output)
{
    StreamSeek(input, docStart + from);
    int64_t at = from;
    for (size_t i = 0; marks && i < doc->listCount; i++) {
        const MimePart *p = &doc->list[i];
        if (!PartLeftOut(doc, marks, i) || p->start < at || (to >= 0 && p->end > to))
            continue;
        StreamCopyBytes(input, output, p->start - at);
        StreamSeek(input, docStart + p->end);
        at = p->end;
    }
    if (to >= 0)
        StreamCopyBytes(input, output, to - at);
    else
        CopyStream(input, output);
}

// One single-file page's clean: the root part is read through a view that
// decodes it as the chain reads it.
struct Archive {
    const CleanSwitches *sw;
    const MimeDocument *doc;
    ByteStream *input, *output;
    bool inMemory;
    size_t memoryLimit;
    int64_t inStart;
    MimeView *view;
    ByteStream *decoded;        // the view
    ByteStream *cleaned;        // what the chain writes
    MimeLayout layout;          // the root part's, filled as it is decoded
    bool partCheck;             // parts may be left out
    PartSearch *search;         // for the parts' addresses, as the page is decoded
    unsigned char *marks;       // the parts named before and after, or null
    CleanReport r;
};

// Runs the chain (settling where it does) from the decoded page into
// a->cleaned, and decodes whatever of the page it did not read.
static void CleanRoot(Archive *a)
{
    CleanReport &r = a->r;
    SetArchiveParts(&a->doc->addresses);
    if (Settles(a->sw))
        Settle(a->sw, a->decoded, a->cleaned, a->inMemory, a->memoryLimit, &r);
    else
        RunChain(a->sw, a->decoded, a->cleaned, a->inMemory, a->memoryLimit, &r);
    SetArchiveParts(nullptr);
    StreamFlush(a->cleaned);
    if (r.status == kCleanDone)
        r.status = !MimeFinishView(a->view) ? kCleanReadFailed : BetweenFailure(a->cleaned, a->inMemory);
    else if (r.status == kCleanWriteFailed || r.status == kCleanReadFailed)
        r.status = StreamReadFailed(a->decoded) ? kCleanReadFailed
                 : a->inMemory                  ? BetweenFailure(a->cleaned, a->inMemory)
                                                : kCleanTempFailed;
    if (r.status == kCleanDone && StreamReadFailed(a->decoded))
        r.status = kCleanReadFailed;
}

// Marks the parts named before and after (in a->marks, which hold what the
// cleaned page names when `cleaned` is null); a failure to mark them lets
// every part stay, a failure to read fails the clean.
static void MarkParts(Archive *a, ByteStream *cleaned)
{
    if (!MarkNamedMimeBodies(a->doc, a->input, a->inStart, a->decoded, a->search, cleaned, a->marks)) {
        free(a->marks);
        a->marks = nullptr;
    }
    if (StreamReadFailed(a->decoded) || StreamReadFailed(a->input))
        a->r.status = kCleanReadFailed;
}

// The root part's body as it was, for a page that cleaning left the same.
static void CopyRootBody(Archive *a)
{
    StreamSeek(a->input, a->inStart + a->doc->rootStart);
    StreamCopyBytes(a->input, a->output, a->doc->rootEnd - a->doc->rootStart);
}

// Counts the parts the marks leave out.
static void CountLeftOut(Archive *a)
{
    for (size_t i = 0; a->marks && i < a->doc->listCount; i++)
        if (PartLeftOut(a->doc, a->marks, i)) {
            a->r.partsLeftOut++;
            a->r.partBytesLeftOut += a->doc->list[i].end - a->doc->list[i].start;
        }
}

// When no part that may be left out comes before the root part, the
// document's bytes up to the root's body are written first, as they are,
// and the cleaned page is encoded as the chain writes it, no copy held.
// While it is the same as the decoded page it is only compared with it;
// from the first piece that differs, the decoded page's bytes that were the
// same are encoded, then each piece. Its references are told to the part
// namer as they go by, unless the original page named no part (its search
// was whole and found none when the first piece came), and until the
// cleaned page has named every part the original did (then none can go).
struct DirectSink {
    Archive *a;
    MimeEncoder *encoder;       // once the cleaned page differs
    int64_t same;               // bytes the same as the decoded page so far
    bool readFailed;            // reading the decoded page to compare
    bool differs;
    bool decided;               // whether the references are wanted
    bool searchWhole;           // the search had the whole page then
    bool namedEnough;           // the cleaned page names all it found
    PartNamer *namer;
    bool noMemory;
};

static bool RootComesFirst(const MimeDocument *doc)
{
    for (size_t i = 0; i < doc->listCount; i++)
        if (i != doc->root && doc->list[i].start < doc->rootEnd)
            return false;
    return true;
}

static void DecideNaming(DirectSink *s)
{
    Archive *a = s->a;
    if (s->decided)
        return;
    s->decided = true;
    s->searchWhole = a->search && MimeViewToldAll(a->view);
    if (!a->partCheck || (s->searchWhole && PartSearchFoundNone(a->search)))
        return;
    a->marks = (unsigned char *)malloc(a->doc->listCount);
    s->namer = a->marks ? StartNamingParts(a->doc, a->marks) : nullptr;
    if (!s->namer) {
        free(a->marks);         // nothing may go
        a->marks = nullptr;
    }
}

// The decoded page is read to compare with, or to encode, a little at a
// time, so that a page that differs early is not decoded further for it.
enum { kCompareChunk = 4096 };

// Reads the decoded page at `at` as MimeViewRead does, noting a failure.
static long ReadToCompare(DirectSink *s, int64_t at, unsigned char *buf, size_t n)
{
    long got = MimeViewRead(s->a->view, at, buf, n);
    if (got < 0)
        s->readFailed = true;
    return got;
}

// Whether the n bytes at p are the decoded page's next ones.
static bool SameAsDecoded(DirectSink *s, const unsigned char *p, size_t n)
{
    unsigned char decoded[kCompareChunk];
    for (int64_t at = s->same; n > 0;) {
        long got = ReadToCompare(s, at, decoded, n < sizeof decoded ? n : sizeof decoded);
        if (got <= 0 || memcmp(decoded, p, (size_t)got) != 0)
            return false;
        at += got;
        p += got;
        n -= (size_t)got;
    }
    return true;
}

static void StartEncoding(DirectSink *s)
{
    Archive *a = s->a;
    s->differs = true;
    s->encoder = MimeStartEncoder(&a->layout, a->output);
    if (!s->encoder) {
        s->noMemory = true;
        return;
    }
    unsigned char decoded[kCompareChunk];
    for (int64_t at = 0; at < s->same;) {
        int64_t left = s->same - at;
        long got = ReadToCompare(s, at, decoded, left < (int64_t)sizeof decoded ? (size_t)left : sizeof decoded);
        if (got <= 0)
            break;              // a read failure: the view says so
        MimeEncodeBytes(s->encoder, decoded, (size_t)got);
        at += got;
    }
}

static void DirectBytes(void *context, const unsigned char *p, size_t n)
{
    DirectSink *s = (DirectSink *)context;
    DecideNaming(s);
    if (s->namer && !s->namedEnough) {
        NamePartsBytes(s->namer, p, n);
        s->namedEnough = s->searchWhole && PartSearchFoundNamedAfter(s->a->search, s->a->marks);
    }
    if (!s->differs) {
        if (SameAsDecoded(s, p, n)) {
            s->same += (int64_t)n;
            return;
        }
        StartEncoding(s);
    }
    if (s->encoder)
        MimeEncodeBytes(s->encoder, p, n);
}

static void CleanDirect(Archive *a)
{
    CleanReport &r = a->r;
    const MimeDocument *doc = a->doc;
    MimeReadLayout(a->input, a->inStart + doc->rootStart, a->inStart + doc->rootEnd, doc->encoding, &a->layout);
    CopyWithoutLeftOut(doc, nullptr, a->input, a->inStart, 0, doc->rootStart, a->output);
    if (StreamReadFailed(a->input)) {
        r.status = kCleanReadFailed;
        return;
    }
    DirectSink s = {};
    s.a = a;
    StreamOpenSink(a->cleaned, DirectBytes, &s);
    CleanRoot(a);
    StreamClose(a->cleaned);
    if (r.status != kCleanDone) {
        MimeEndEncoder(s.encoder);
        EndNamingParts(s.namer);
        return;
    }
    DecideNaming(&s);
    bool same = false;
    if (!s.differs) {
        // The cleaned page ended the same so far: the same page, or the
        // decoded one's beginning.
        unsigned char next;
        same = ReadToCompare(&s, s.same, &next, 1) == 0;
        if (!same)
            StartEncoding(&s);
    }
    MimeEndEncoder(s.encoder);
    EndNamingParts(s.namer);
    if (r.status == kCleanDone && s.noMemory)
        r.status = kCleanNoMemory;
    if (r.status == kCleanDone && s.readFailed)
        r.status = kCleanReadFailed;
    if (r.status == kCleanDone && same)
        CopyRootBody(a);
    if (r.status == kCleanDone && !same && a->marks)
        MarkParts(a, nullptr);
    if (same) {
        free(a->marks);         // nothing went from the page, so nothing goes
        a->marks = nullptr;
    }
}

// Else the cleaned page is held (a temporary file, or memory for a page in
// memory) until it is known to differ from the decoded one and what it
// names is read: then it is encoded in place of the root part's body, else
// that body is copied.
static void CleanStaged(Archive *a)
{
    CleanReport &r = a->r;
    const MimeDocument *doc = a->doc;
    bool haveCleaned = OpenStage(a->cleaned, a->inMemory, a->memoryLimit);
    if (!haveCleaned) {
        r.status = kCleanTempFailed;
        return;
    }
    CleanRoot(a);
    bool same = r.status == kCleanDone && SameStreams(a->decoded, a->cleaned);
    if (r.status == kCleanDone && StreamReadFailed(a->decoded))
        r.status = kCleanReadFailed;
    if (r.status == kCleanDone && !same && a->partCheck) {
        a->marks = (unsigned char *)malloc(doc->listCount);
        if (a->marks)
            MarkParts(a, a->cleaned);
    }
    if (r.status == kCleanDone) {
        CopyWithoutLeftOut(doc, a->marks, a->input, a->inStart, 0, doc->rootStart, a->output);
        r.status = StreamReadFailed(a->input) ? kCleanReadFailed : kCleanDone;
    }
    if (r.status == kCleanDone) {
        if (same) {
            CopyRootBody(a);
        } else {
            StreamRewind(a->cleaned);
            r.status = !MimeEncode(&a->layout, a->cleaned, a->output) ? kCleanNoMemory
                                                                       : BetweenFailure(a->cleaned, a->inMemory);
        }
    }
    StreamClose(a->cleaned);
}

// A root part of up to this many bytes (and no more than a clean in memory
// may hold) is decoded once and held while it is cleaned, not decoded
// again for each reading of it.
enum { kHoldDecodedAtMost = 2 * 1024 * 1024 };

static CleanStatus RunArchive(const CleanSwitches *sw, const MimeDocument *doc, ByteStream *input,
                              ByteStream *output, bool inMemory, size_t memoryLimit, CleanReport *report)
{
    Archive *a = (Archive *)calloc(1, sizeof *a);
    // Two stream buffers: too large for a thread's stack.
    ByteStream *between = (ByteStream *)calloc(2, sizeof(ByteStream));
    MimeView *view = nullptr;
    if (a && between) {
        a->sw = sw;
        a->doc = doc;
        a->input = input;
        a->output = output;
        a->inMemory = inMemory;
        a->memoryLimit = memoryLimit;
        a->inStart = StreamTell(input);
        a->decoded = &between[0];
        a->cleaned = &between[1];
        view = MimeOpenView(a->decoded, input, a->inStart + doc->rootStart, a->inStart + doc->rootEnd,
                            doc->encoding, &a->layout);
    }
    if (!view) {
        free(a);
        free(between);
        CleanReport r = CleanReport();
        r.extraction = kExtractOff;
        r.status = kCleanNoMemory;
        if (report)
            *report = r;
        return r.status;
    }
    a->view = view;
    a->r.extraction = kExtractOff;
    int64_t outStart = StreamTell(output);
    // The parts' addresses are looked for in the page as the passes have
    // it decoded, when they are few.
    a->partCheck = sw->companionFiles && doc->listCount > 1;
    a->search = a->partCheck ? StartPartSearch(doc) : nullptr;
    if (a->search)
        MimeWatchView(view, PartSearchBytes, a->search);
    MimeHoldView(view, inMemory && memoryLimit < kHoldDecodedAtMost ? memoryLimit : (size_t)kHoldDecodedAtMost);
    if (!a->partCheck || RootComesFirst(doc))
        CleanDirect(a);
    else
        CleanStaged(a);
    CleanReport &r = a->r;
    if (r.status == kCleanDone) {
        CountLeftOut(a);
        CopyWithoutLeftOut(doc, a->marks, input, a->inStart, doc->rootEnd, -1, output);
        StreamFlush(output);
        r.status = StreamReadFailed(input) ? kCleanReadFailed : StreamWriteFailed(output) ? kCleanWriteFailed : kCleanDone;
    }
    StreamClose(a->decoded);
    MimeCloseView(view);
    FreePartSearch(a->search);
    free(a->marks);
    r.bytesIn = StreamTell(input) - a->inStart;
    r.bytesOut = StreamTell(output) - outStart;
    if (report)
        *report = r;
    CleanStatus status = r.status;
    free(between);
    free(a);
    return status;
}

CleanStatus CleanArchiveStream(const CleanSwitches *sw, const MimeDocument *doc, ByteStream *input,
                               ByteStream *output, CleanReport *report)
{
    return RunArchive(sw, doc, input, output, false, kNoMemoryLimit, report);
}

CleanStatus CleanArchiveBytes(const CleanSwitches *sw, const MimeDocument *doc, const void *page,
                              size_t size, ByteStream *output, size_t memoryLimit, CleanReport *report)
{
    ByteStream input;
    StreamOpenMemory(&input, page, size);
    return RunArchive(sw, doc, &input, output, true, memoryLimit, report);
}
