// See describe.h. Numbers are written by hand, not with printf: the Windows
// C library's printf does not take every 64-bit format.
#include "app/describe.h"
#include "app/result.h"
#include <string.h>

namespace {

// Text appended into a caller's buffer, cut short at its end.
struct Line {
    char *out;
    size_t size;
    size_t length;
};

void Put(Line *l, const char *text)
{
    if (l->size == 0)
        return;
    size_t n = strlen(text);
    size_t room = l->size > l->length ? l->size - 1 - l->length : 0;
    if (n > room)
        n = room;
    memcpy(l->out + l->length, text, n);
    l->length += n;
    l->out[l->length] = '\0';
}

void PutNumber(Line *l, int64_t n)
{
    char digits[kNumberTextMax];
    Put(l, FormatNumber(n, digits));
}

void PutSize(Line *l, int64_t bytes)
{
    char text[kSizeTextMax];
    FormatSize(bytes, kSizeStyleHere, text, sizeof text);
    Put(l, text);
}

// "41.2 kB of 188 kB"
void PutShare(Line *l, int64_t kept, int64_t of)
{
    PutSize(l, kept);
    Put(l, " of ");
    PutSize(l, of);
}

// <div id="body"> "First words…"
void PutPart(Line *l, const AnyLayoutResult *p)
{
    Put(l, p->label);
    if (p->firstWords[0]) {
        Put(l, " \"");
        Put(l, p->firstWords);
        Put(l, p->moreWords ? "\xE2\x80\xA6\"" : "\"");
    }
}

// Whether the rule for any layout left every word of the page in.
bool KeptWhole(const AnyLayoutResult *p)
{
    return p->outcome != kAnyLayoutPart || p->wordsKept >= p->pageWords;
}

void PutTables(Line *l, const AnyLayoutResult *p)
{
    PutNumber(l, p->tablesCut);
    Put(l, p->tablesCut == 1 ? " table" : " tables");
    Put(l, " cut, ");
    PutSize(l, p->tableBytes);
}

const char *TableRulePart(ExtractOutcome outcome)
{
    switch (outcome) {
    case kExtractBareCell:
        return "the body without its tables";
    case kExtractWrappedCell:
        return "a table cell";
    default:
        return "a table of main cells";
    }
}

}  // namespace

// The table rule kept the page whole: what it kept reads as the page's
// size, or is more (the cell's new table around a small page).
static bool TableRuleKeptWhole(const CleanReport *report)
{
    int64_t kept = report->extractionIn - report->removed[kStageExtraction];
    char a[kSizeTextMax], b[kSizeTextMax];
    FormatSize(kept, kSizeStyleHere, a, sizeof a);
    FormatSize(report->extractionIn, kSizeStyleHere, b, sizeof b);
    return kept >= report->extractionIn || strcmp(a, b) == 0;
}

const char *MainPartFound(const CleanReport *report)
{
    switch (report->extraction) {
    case kExtractOff:
        return "off";
    case kExtractNoMainPart:
    case kExtractOutOfMemory:
    case kExtractAnyLayoutPart:
        return KeptWhole(&report->part) ? "whole" : "cut";
    default:
        return TableRuleKeptWhole(report) ? "whole" : "cut";
    }
}

size_t DescribeMainPart(const CleanReport *report, char *out, size_t size)
{
    Line l = {out, size, 0};
    if (size)
        out[0] = '\0';
    Put(&l, "main part: ");
    const AnyLayoutResult *p = &report->part;
    switch (report->extraction) {
    case kExtractOff:
        Put(&l, "not looked for");
        return l.length;
    case kExtractNoMainPart:
    case kExtractOutOfMemory:
    case kExtractAnyLayoutPart:
        if (KeptWhole(p)) {
            Put(&l, "kept whole");
            if (p->tablesCut > 0) {
                Put(&l, " but for ");
                PutNumber(&l, p->tablesCut);
                Put(&l, p->tablesCut == 1 ? " table (" : " tables (");
                PutSize(&l, p->tableBytes);
                Put(&l, ")");
            }
            return l.length;
        }
        PutPart(&l, p);
        Put(&l, " (");
        PutShare(&l, p->bytesKept, p->bytesIn);
        Put(&l, " kept");
        if (p->headlineAdded)
            Put(&l, "; headline added");
        if (p->cutCount > 0) {
            Put(&l, "; ");
            PutNumber(&l, p->cutCount);
            Put(&l, p->cutCount == 1 ? " cut, " : " cuts, ");
            PutSize(&l, p->cutBytes);
        }
        if (p->tablesCut > 0) {
            Put(&l, "; ");
            PutTables(&l, p);
        }
        Put(&l, ")");
        return l.length;
    default: {
        int64_t kept = report->extractionIn - report->removed[kStageExtraction];
        if (TableRuleKeptWhole(report)) {
            Put(&l, "kept whole");
            return l.length;
        }
        Put(&l, TableRulePart(report->extraction));
        Put(&l, " (");
        PutShare(&l, kept, report->extractionIn);
        Put(&l, " kept)");
        return l.length;
    }
    }
}

bool WorthAnyLayoutScan(const CleanReport *report)
{
    int64_t in = report->extractionIn;
    switch (report->extraction) {
    case kExtractNoMainPart:
    case kExtractOutOfMemory:
        return report->part.bytesIn == 0;           // the table rule, not any layout
    case kExtractBareCell:
    case kExtractWrappedCell:
    case kExtractWholeTable:
        return in > 0 && (in - report->removed[kStageExtraction]) * 100 >= in * kHintNearlyWhole;
    default:
        return false;
    }
}

bool ShouldHintAnyLayout(const CleanReport *report, const AnyLayoutResult *scan)
{
    return WorthAnyLayoutScan(report) && scan->outcome == kAnyLayoutPart && !KeptWhole(scan) &&
           scan->bytesKept * 100 <= scan->bytesIn * kHintWouldCut;
}

size_t DescribeAnyLayoutHint(const AnyLayoutResult *scan, char *out, size_t size)
{
    Line l = {out, size, 0};
    if (size)
        out[0] = '\0';
    Put(&l, "hint: --any-layout would keep ");
    PutPart(&l, scan);
    Put(&l, " (");
    PutShare(&l, scan->bytesKept, scan->bytesIn);
    Put(&l, ")");
    return l.length;
}
