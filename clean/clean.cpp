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

// The root part is read through a view that decodes it as the chain reads
// it; the cleaned page is held (a temporary file, or memory for a page in
// memory) until it is known to differ from the decoded one: then it is
// encoded in place of the root part's body, else that body is copied.
static CleanStatus RunArchive(const CleanSwitches *sw, const MimeDocument *doc, ByteStream *input,
                              ByteStream *output, bool inMemory, size_t memoryLimit, CleanReport *report)
{
    CleanReport r = CleanReport();
    r.extraction = kExtractOff;
    int64_t inStart = StreamTell(input);
    int64_t outStart = StreamTell(output);
    // Two stream buffers: too large for a thread's stack.
    ByteStream *between = (ByteStream *)calloc(2, sizeof(ByteStream));
    MimeLayout layout;
    MimeView *view = between ? MimeOpenView(&between[0], input, inStart + doc->rootStart, inStart + doc->rootEnd,
                                            doc->encoding, &layout)
                             : nullptr;
    if (!view) {
        free(between);
        r.status = kCleanNoMemory;
        if (report)
            *report = r;
        return r.status;
    }
    ByteStream &decoded = between[0], &cleaned = between[1];
    bool haveCleaned = OpenStage(&cleaned, inMemory, memoryLimit);
    r.status = haveCleaned ? kCleanDone : kCleanTempFailed;
    unsigned char *marks = nullptr;
    // The parts' addresses are looked for in the page as the passes have
    // it decoded, when they are few.
    bool partCheck = sw->companionFiles && doc->listCount > 1;
    PartSearch *search = partCheck ? StartPartSearch(doc) : nullptr;
    if (search)
        MimeWatchView(view, PartSearchBytes, search);
    if (r.status == kCleanDone) {
        SetArchiveParts(&doc->addresses);
        if (Settles(sw))
            Settle(sw, &decoded, &cleaned, inMemory, memoryLimit, &r);
        else
            RunChain(sw, &decoded, &cleaned, inMemory, memoryLimit, &r);
        SetArchiveParts(nullptr);
        StreamFlush(&cleaned);
        if (r.status == kCleanDone)
            r.status = !MimeFinishView(view) ? kCleanReadFailed : BetweenFailure(&cleaned, inMemory);
        else if (r.status == kCleanWriteFailed || r.status == kCleanReadFailed)
            r.status = StreamReadFailed(&decoded) ? kCleanReadFailed
                     : inMemory                   ? BetweenFailure(&cleaned, inMemory)
                                                  : kCleanTempFailed;
    }
    bool same = r.status == kCleanDone && SameStreams(&decoded, &cleaned);
    if (r.status == kCleanDone && StreamReadFailed(&decoded))
        r.status = kCleanReadFailed;
    // The parts that only removed elements named go with them.
    if (r.status == kCleanDone && !same && partCheck) {
        marks = (unsigned char *)malloc(doc->listCount);
        if (marks && !MarkNamedMimeBodies(doc, input, inStart, &decoded, search, &cleaned, marks)) {
            free(marks);
            marks = nullptr;
        }
        if (StreamReadFailed(&decoded) || StreamReadFailed(input))
            r.status = kCleanReadFailed;
        for (size_t i = 0; marks && i < doc->listCount; i++)
            if (PartLeftOut(doc, marks, i)) {
                r.partsLeftOut++;
                r.partBytesLeftOut += doc->list[i].end - doc->list[i].start;
            }
    }
    if (r.status == kCleanDone) {
        CopyWithoutLeftOut(doc, marks, input, inStart, 0, doc->rootStart, output);
        r.status = StreamReadFailed(input) ? kCleanReadFailed : kCleanDone;
    }
    if (r.status == kCleanDone) {
        if (same) {
            StreamSeek(input, inStart + doc->rootStart);
            StreamCopyBytes(input, output, doc->rootEnd - doc->rootStart);
        } else {
            StreamRewind(&cleaned);
            MimeEncode(&layout, &cleaned, output);
            r.status = BetweenFailure(&cleaned, inMemory);
        }
    }
    if (r.status == kCleanDone) {
        CopyWithoutLeftOut(doc, marks, input, inStart, doc->rootEnd, -1, output);
        StreamFlush(output);
        r.status = StreamReadFailed(input) ? kCleanReadFailed : StreamWriteFailed(output) ? kCleanWriteFailed : kCleanDone;
    }
    StreamClose(&decoded);
    if (haveCleaned)
        StreamClose(&cleaned);
    MimeCloseView(view);
    FreePartSearch(search);
    free(between);
    free(marks);
    r.bytesIn = StreamTell(input) - inStart;
    r.bytesOut = StreamTell(output) - outStart;
    if (report)
        *report = r;
    return r.status;
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
