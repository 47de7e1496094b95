// What the command line says of a page and of the whole call, from the
// per-page record: the lines of -v and -n, one JSON object per page for
// --json, and the summary.
#include <stdio.h>
#include <string.h>
#include "cli/report.h"
#include "app/describe.h"
#include "cli/messages.h"

static const char *const kOutcomeNames[] = {"cleaned", "already-clean", "refused", "failed"};

static std::string Bytes(int64_t n)
{
    return std::to_string((long long)n) + (n == 1 || n == -1 ? " byte" : " bytes");
}

static std::string Removed(int64_t n)
{
    return n >= 0 ? Bytes(n) + " removed" : Bytes(-n) + " added";
}

static std::string ShownName(const PageReport &p)
{
    return p.entry->name == "-" ? "(standard input)" : QuoteName(p.entry->name);
}

// "scripts 12 (3.1 kB), comments 40 (1.2 kB)": the kinds that were removed.
static std::string RemovalsText(const RemovalTally &t)
{
    std::string s;
    for (int k = 0; k < kRemovalKindCount; k++) {
        if (!t.count[k])
            continue;
        if (!s.empty())
            s += ", ";
        s += std::string(kRemovalKinds[k].name) + " " + std::to_string((long long)t.count[k]) + " (" +
             SizeText(t.bytes[k]) + ")";
    }
    return s.empty() ? "nothing" : s;
}

static std::string MainPartLine(const CleanReport &c)
{
    char line[kDescribeLineMax];
    DescribeMainPart(&c, line, sizeof line);
    return line;
}

static std::string HintLine(const PageResult &r)
{
    char line[kDescribeLineMax];
    DescribeAnyLayoutHint(&r.hint, line, sizeof line);
    return line;
}

std::string DescribePage(const PageReport &p, const Call &call)
{
    const PageResult &r = p.result;
    bool verbose = call.level == kLevelVerbose;
    bool dry = call.dryRun;
    if (call.level == kLevelQuiet || (!verbose && !dry))
        return "";
    if (r.outcome == kPageRefused || r.outcome == kPageFailed)
        return "";
    std::string s = ShownName(p) + ": ";
    if (r.outcome == kPageAlreadyClean)
        s += "already clean";
    else
        s += dry ? "would be cleaned" : "cleaned";
    if (!dry && call.output && r.outcome == kPageCleaned)
        s += std::string(" into ") + (strcmp(call.output, "-") ? QuoteName(call.output) : "standard output");
    if (r.bytesBefore >= 0 && r.bytesAfter >= 0)
        s += ", " + std::to_string((long long)r.bytesBefore) + " -> " + Bytes(r.bytesAfter);
    std::string original;
    if (!p.inPlace || r.outcome == kPageAlreadyClean) {
        if (verbose)
            original = "left as it was";
    } else if (r.original == kOriginalInTrash) {
        original = dry ? "would go to the trash" : "moved to the trash";
        // Which trash, where the run says: the -v line names it.
        if (!dry && verbose && r.originalPath[0])
            original += " as " + QuoteName(r.originalPath);
    } else if (r.original == kOriginalInFolder) {
        original = (dry ? "would be moved to " : "moved to ") + QuoteName(r.originalPath);
    }
    if (!verbose) {
        // One line a page: the preview's, and the hint on its own.
        if (!original.empty())
            s += "; the original " + original;
        return s + "\n" + (r.haveHint ? "  " + HintLine(r) + "\n" : "");
    }
    s += "\n";
    if (r.haveClean) {
        const CleanReport &c = r.clean;
        s += "  removed: " + RemovalsText(c.removals) + "\n";
        std::string extraction = "  " + MainPartLine(c) + "\n";
        if (r.haveHint)
            extraction += "  " + HintLine(r) + "\n";
        std::string elements = "  elements: " + Removed(c.removed[kStageElements]) + "\n";
        bool extractFirst = call.switches.extract && call.switches.extractFirst;
        s += extractFirst ? extraction + elements : elements + extraction;
        s += "  attributes: " + Removed(c.removed[kStageAttributes]) + "\n";
    }
    if (!original.empty())
        s += "  original: " + original + "\n";
    return s;
}

static std::string Number(int64_t n)
{
    return n < 0 ? "null" : std::to_string((long long)n);
}

std::string PageJson(const PageReport &p, const Call &call)
{
    const PageResult &r = p.result;
    std::string s = "{\"version\":1,\"path\":" + JsonString(p.entry->name);
    if (r.page[0])
        s += ",\"page\":" + JsonString(r.page);
    s += std::string(",\"outcome\":\"") + kOutcomeNames[r.outcome] + "\"";
    s += std::string(",\"dry_run\":") + (call.dryRun ? "true" : "false");
    s += ",\"bytes_before\":" + Number(r.bytesBefore) + ",\"bytes_after\":" + Number(r.bytesAfter);
    s += ",\"removed\":{";
    for (int k = 0; k < kRemovalKindCount; k++) {
        const RemovalTally &t = r.clean.removals;
        s += std::string(k ? "," : "") + "\"" + kRemovalKinds[k].name + "\":{\"count\":" +
             std::to_string((long long)(r.haveClean ? t.count[k] : 0)) +
             ",\"bytes\":" + std::to_string((long long)(r.haveClean ? t.bytes[k] : 0)) + "}";
    }
    s += "}";
    if (r.haveClean) {
        const CleanReport &c = r.clean;
        s += ",\"stages\":{\"elements\":" + std::to_string((long long)c.removed[kStageElements]) +
             ",\"main_part\":" + std::to_string((long long)c.removed[kStageExtraction]) +
             ",\"attributes\":" + std::to_string((long long)c.removed[kStageAttributes]) + "}";
        const char *part = c.extraction == kExtractOff ? "off"
                           : (c.extraction == kExtractNoMainPart || c.extraction == kExtractOutOfMemory)
                               ? "whole"
                               : "cut";
        std::string described = MainPartLine(c);
        const std::string prefix = "main part: ";
        if (described.compare(0, prefix.size(), prefix) == 0)
            described.erase(0, prefix.size());
        s += std::string(",\"main_part\":{\"found\":\"") + part + "\",\"described\":" + JsonString(described);
        if (c.extraction == kExtractAnyLayoutPart && c.part.tag) {
            const AnyLayoutResult &p = c.part;
            s += ",\"element\":" + JsonString(p.tag) + ",\"label\":" + JsonString(p.label) +
                 ",\"start\":" + std::to_string((long long)p.start) +
                 ",\"end\":" + std::to_string((long long)p.end) +
                 ",\"headline_added\":" + (p.headlineAdded ? "true" : "false") +
                 ",\"bytes_kept\":" + std::to_string((long long)p.bytesKept) +
                 ",\"cuts\":" + std::to_string(p.cutCount) +
                 ",\"cut_bytes\":" + std::to_string((long long)p.cutBytes);
        }
        s += "}";
    } else {
        s += ",\"stages\":null,\"main_part\":null";
    }
    const char *place = r.original == kOriginalInTrash ? "trash"
                        : r.original == kOriginalInFolder ? "folder"
                                                          : "stays";
    s += std::string(",\"original\":{\"place\":\"") + place + "\"";
    if (r.originalPath[0])
        s += ",\"path\":" + JsonString(r.originalPath);
    s += "}";
    if (r.savedAs[0])
        s += ",\"saved_as\":" + JsonString(r.savedAs);
    s += ",\"warnings\":[";
    bool first = true;
    for (int w = 0; w < kWarningCount; w++) {
        if (r.warnings & (1u << w)) {
            s += std::string(first ? "" : ",") + "\"" + WarningName((WarningId)w) + "\"";
            first = false;
        }
    }
    s += "]";
    if (r.stop.id >= 0) {
        const char *name = MessageName(r.stop.kind, r.stop.id);
        char line[kMessageLineSize];
        FormatMessageLine(MessageText(r.stop.kind, r.stop.id), r.stop.detail, r.stop.sysError, line,
                          sizeof line);
        s += std::string(",\"error\":{\"id\":\"") + name + "\",\"message\":" + JsonString(line) +
             ",\"errno\":" + std::to_string(r.stop.sysError) + "}";
    } else {
        s += ",\"error\":null";
    }
    return s + "}\n";
}

void AddToTotals(CallTotals *t, const PageResult &r)
{
    t->pages++;
    switch (r.outcome) {
    case kPageCleaned:
        t->cleaned++;
        if (r.bytesBefore >= 0 && r.bytesAfter >= 0) {
            t->bytesBefore += r.bytesBefore;
            t->bytesAfter += r.bytesAfter;
        }
        break;
    case kPageAlreadyClean:
        t->alreadyClean++;
        break;
    case kPageRefused:
        t->refused++;
        break;
    case kPageFailed:
        t->failed++;
        break;
    }
}

std::string SummaryLine(const CallTotals &t, const Call &call)
{
    std::string s = std::to_string(t.pages) + (t.pages == 1 ? " page: " : " pages: ") +
                    std::to_string(t.cleaned) + (call.dryRun ? " would be cleaned" : " cleaned");
    if (t.cleaned)
        s += ", " + SizeText(t.bytesBefore) + " \u2192 " + SizeText(t.bytesAfter);
    s += "; " + std::to_string(t.alreadyClean) + " already clean";
    if (t.refused)
        s += "; " + std::to_string(t.refused) + " refused";
    s += "; " + std::to_string(t.failed) + " failed\n";
    return s;
}

std::string SummaryJson(const CallTotals &t, const Call &call)
{
    return "{\"version\":1,\"summary\":true,\"dry_run\":" + std::string(call.dryRun ? "true" : "false") +
           ",\"pages\":" + std::to_string(t.pages) + ",\"cleaned\":" + std::to_string(t.cleaned) +
           ",\"already_clean\":" + std::to_string(t.alreadyClean) + ",\"refused\":" +
           std::to_string(t.refused) + ",\"failed\":" + std::to_string(t.failed) +
           ",\"bytes_before\":" + std::to_string((long long)t.bytesBefore) +
           ",\"bytes_after\":" + std::to_string((long long)t.bytesAfter) + "}\n";
}
