// What the command line says of a page and of the whole call, from the
// per-page record: the lines of -v and -n, one JSON object per page for
// --json, and the summary.
#include <stdio.h>
#include <string.h>
#include "cli/report.h"
#include "app/describe.h"
#include "app/json.h"
#include "app/result.h"
#include "cli/messages.h"

static std::string Removed(int64_t n)
{
    return n >= 0 ? SizeText(n) + " removed" : SizeText(-n) + " added";
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

std::string StopText(const PageResult &r)
{
    if (r.stop.id < 0)
        return "";
    char line[kMessageLineSize];
    FormatMessageLine(MessageText(r.stop.kind, r.stop.id), r.stop.detail, r.stop.sysError, line, sizeof line);
    return line;
}

std::string StopLine(const PageReport &p)
{
    if (p.result.stop.id < 0)
        return "";
    std::string about = p.stopAbout.empty() ? QuoteName(p.entry->name) : p.stopAbout;
    return "webtrim: " + about + ": " + StopText(p.result) + "\n";
}

// -v: the companion folder's line ("companion files 41 (2.3 MB)"), and
// with -n the files that would go; or why the folder stays whole.
static std::string CompanionLines(const PageReport &p, bool dry)
{
    const CompanionReport &c = p.result.companion;
    if (c.outcome == kCompanionNone)
        return "";
    std::string folder = QuoteName(c.folder);
    if (c.outcome != kCompanionTrimmed)
        return "  companion files: none removed from " + folder + " (" + CompanionKeptText(c.outcome) + ")\n";
    // A single-file page's parts left out have no folder.
    std::string s = "  companion files " + std::to_string((long long)c.files) + " (" + SizeText(c.bytes) + ")" +
                    (!c.folder[0] ? (dry ? " would be left out of the page" : " left out of the page")
                                  : (dry ? " would go from " : " went from ") + folder);
    if (c.kept)
        s += "; " + std::to_string((long long)c.kept) + " stayed (changed, or could not be moved)";
    return s + (dry && c.files ? ":\n" + p.companionList : "\n");
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
    // Exact bytes on -v's line only; else as the summary gives sizes.
    if (r.bytesBefore >= 0 && r.bytesAfter >= 0)
        s += ", " + (verbose ? std::to_string((long long)r.bytesBefore) + kSizeArrow +
                                   std::to_string((long long)r.bytesAfter) + " bytes"
                             : SizeText(r.bytesBefore) + kSizeArrow + SizeText(r.bytesAfter));
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
        // One line a page: the hint is -v's.
        if (!original.empty())
            s += "; the original " + original;
        return s + "\n";
    }
    s += "\n";
    if (r.haveClean) {
        const CleanReport &c = r.clean;
        s += "  removed: " + RemovalsText(c.removals) + "\n";
        // The description, and the bytes the stage took: "kept whole" may
        // still drop a few (the fixed tags it writes, blanks at the end).
        std::string extraction = "  " + MainPartLine(c) +
                                 (c.extraction != kExtractOff ? "; " + Removed(c.removed[kStageExtraction]) : "") + "\n";
        if (r.haveHint)
            extraction += "  " + HintLine(r) + "\n";
        std::string elements = "  elements: " + Removed(c.removed[kStageElements]) + "\n";
        bool extractFirst = call.switches.extract && call.switches.extractFirst;
        s += extractFirst ? extraction + elements : elements + extraction;
        s += "  attributes: " + Removed(c.removed[kStageAttributes]) + "\n";
    }
    if (!original.empty())
        s += "  original: " + original + "\n";
    s += CompanionLines(p, dry);
    return s;
}

// The clean's figures: what each stage removed and how the main part
// was taken.
static void CleanJson(JsonWriter *w, const CleanReport &c)
{
    JsonOpenObject(w, "stages");
    JsonNumber(w, "elements", c.removed[kStageElements]);
    JsonNumber(w, "main_part", c.removed[kStageExtraction]);
    JsonNumber(w, "attributes", c.removed[kStageAttributes]);
    JsonCloseObject(w);
    JsonOpenObject(w, "main_part");
    JsonText(w, "found", MainPartFound(&c));
    JsonText(w, "extraction", ExtractionName(c.extraction));
    std::string described = MainPartLine(c);
    const std::string prefix = "main part: ";
    if (described.compare(0, prefix.size(), prefix) == 0)
        described.erase(0, prefix.size());
    JsonText(w, "described", described.data(), described.size());
    if (c.extraction == kExtractAnyLayoutPart && c.part.tag) {
        const AnyLayoutResult &p = c.part;
        JsonText(w, "element", p.tag);
        JsonText(w, "label", p.label);
        JsonNumber(w, "start", p.start);
        JsonNumber(w, "end", p.end);
        JsonBool(w, "headline_added", p.headlineAdded);
        JsonNumber(w, "bytes_kept", p.bytesKept);
        JsonNumber(w, "cuts", p.cutCount);
        JsonNumber(w, "cut_bytes", p.cutBytes);
    }
    JsonCloseObject(w);
}

std::string PageJson(const PageReport &p, const Call &call)
{
    const PageResult &r = p.result;
    std::string s;
    JsonWriter w;
    JsonStart(&w, &s);
    JsonOpenObject(&w, nullptr);
    JsonNumber(&w, "version", 1);
    JsonText(&w, "path", p.entry->name.data(), p.entry->name.size());
    if (r.page[0])
        JsonText(&w, "page", r.page);
    JsonText(&w, "outcome", PageOutcomeName(r.outcome));
    JsonBool(&w, "dry_run", call.dryRun);
    JsonNumberOrNull(&w, "bytes_before", r.bytesBefore);
    JsonNumberOrNull(&w, "bytes_after", r.bytesAfter);
    JsonOpenObject(&w, "removed");
    for (int k = 0; k < kRemovalKindCount; k++) {
        const RemovalTally &t = r.clean.removals;
        JsonOpenObject(&w, RemovalKindName(k));
        JsonNumber(&w, "count", r.haveClean ? t.count[k] : 0);
        JsonNumber(&w, "bytes", r.haveClean ? t.bytes[k] : 0);
        JsonCloseObject(&w);
    }
    JsonCloseObject(&w);
    if (r.haveClean) {
        CleanJson(&w, r.clean);
    } else {
        JsonNull(&w, "stages");
        JsonNull(&w, "main_part");
    }
    JsonOpenObject(&w, "original");
    JsonText(&w, "place", OriginalPlaceName(r.original));
    if (r.originalPath[0])
        JsonText(&w, "path", r.originalPath);
    JsonCloseObject(&w);
    if (r.savedAs[0])
        JsonText(&w, "saved_as", r.savedAs);
    if (r.companion.outcome != kCompanionNone) {
        JsonOpenObject(&w, "companion_files");
        JsonText(&w, "folder", r.companion.folder);
        JsonText(&w, "outcome", CompanionOutcomeName(r.companion.outcome));
        JsonNumber(&w, "count", r.companion.files);
        JsonNumber(&w, "bytes", r.companion.bytes);
        JsonNumber(&w, "kept", r.companion.kept);
        JsonCloseObject(&w);
    } else {
        JsonNull(&w, "companion_files");
    }
    JsonOpenArray(&w, "warnings");
    for (int k = 0; k < kWarningCount; k++)
        if (r.warnings & (1u << k))
            JsonText(&w, nullptr, WarningName((WarningId)k));
    JsonCloseArray(&w);
    if (r.stop.id >= 0) {
        JsonOpenObject(&w, "error");
        JsonText(&w, "id", MessageName(r.stop.kind, r.stop.id));
        std::string line = StopText(r);
        JsonText(&w, "message", line.data(), line.size());
        JsonNumber(&w, "errno", r.stop.sysError);
        JsonCloseObject(&w);
    } else {
        JsonNull(&w, "error");
    }
    JsonCloseObject(&w);
    return s + "\n";
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
        s += ", " + SizeText(t.bytesBefore) + kSizeArrow + SizeText(t.bytesAfter);
    s += "; " + std::to_string(t.alreadyClean) + " already clean";
    if (t.refused)
        s += "; " + std::to_string(t.refused) + " refused";
    s += "; " + std::to_string(t.failed) + " failed\n";
    return s;
}

std::string SummaryJson(const CallTotals &t, const Call &call)
{
    std::string s;
    JsonWriter w;
    JsonStart(&w, &s);
    JsonOpenObject(&w, nullptr);
    JsonNumber(&w, "version", 1);
    JsonBool(&w, "summary", true);
    JsonBool(&w, "dry_run", call.dryRun);
    JsonNumber(&w, "pages", t.pages);
    JsonNumber(&w, "cleaned", t.cleaned);
    JsonNumber(&w, "already_clean", t.alreadyClean);
    JsonNumber(&w, "refused", t.refused);
    JsonNumber(&w, "failed", t.failed);
    JsonNumber(&w, "bytes_before", t.bytesBefore);
    JsonNumber(&w, "bytes_after", t.bytesAfter);
    JsonCloseObject(&w);
    return s + "\n";
}
