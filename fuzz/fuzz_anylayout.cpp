// Fuzz target: the any-layout extraction alone, with "Remove tables in the
// main part" (bit 11) from the input's options word. Whatever the page, the
// stage writes the page itself, or the page's head, a fixed wrapper, the
// chosen part less its cuts (less its tables too: then a subsequence of
// it), the wrapper's end and "</body></html>". With bit 14 it runs again
// under a memory ceiling of exactly what it took, which changes nothing,
// and one byte less, which copies the page.
#include <string.h>
#include "clean/anylayout.h"
#include "clean/passes.h"
#include "fuzz/harness.h"

static AnyLayoutResult Result;
static size_t Limit;

static void Stage(const CleanSwitches *sw, ByteStream *input, ByteStream *output)
{
    AnyLayoutExtractLimited(sw->cutTables, input, output, Limit, &Result);
}

static bool StartsWith(const std::string &s, const std::string &head)
{
    return s.size() >= head.size() && s.compare(0, head.size(), head) == 0;
}

static bool EndsWith(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// `out` is head + (part, or with cutTables a subsequence of it) + tail.
static void RequireFramed(const std::string &out, const std::string &head, const std::string &part,
                          const std::string &tail, bool cutTables)
{
    if (!cutTables) {
        Require(out == head + part + tail, "the head, the chosen bytes less the cuts, the ends");
        return;
    }
    Require(out.size() >= head.size() + tail.size() && StartsWith(out, head) && EndsWith(out, tail),
            "table cut: the head and the ends around the part");
    Require(IsSubsequence(out.substr(head.size(), out.size() - head.size() - tail.size()), part),
            "table cut: only bytes of the part, in their order");
}

static void Check(const std::string &page, const std::string &out, const AnyLayoutResult &r,
                  bool cutTables)
{
    int64_t size = (int64_t)page.size();
    if (r.outcome == kAnyLayoutNoMemory || (r.outcome == kAnyLayoutCopied && !cutTables)) {
        Require(out == page, "copied: the page unchanged");
        return;
    }
    Require(0 <= r.headEnd && r.headEnd <= r.start && r.start <= r.end + 1 && r.end < size,
            "the part lies in the page, after the head");
    std::string part;
    int64_t at = r.start;
    for (int i = 0; i < r.cutCount; i++) {
        Require(at <= r.cutStart[i] && r.cutStart[i] <= r.cutEnd[i] && r.cutEnd[i] <= r.end,
                "cuts inside the part, in order, apart");
        part += page.substr((size_t)at, (size_t)(r.cutStart[i] - at));
        at = r.cutEnd[i] + 1;
    }
    part += page.substr((size_t)at, (size_t)(r.end + 1 - at));
    if (r.outcome == kAnyLayoutCopied) {
        // The body with nothing to cut: the page, less the body's tables.
        Require(r.isRoot && r.cutCount == 0, "copied with tables cut: the root");
        RequireFramed(out, page.substr(0, (size_t)r.start), part, page.substr((size_t)r.end + 1), true);
        return;
    }
    std::string wrap, wrapEnd;
    if (!strcmp(r.tag, "TD") || !strcmp(r.tag, "TH")) {
        wrap = "<table><tr>";
        wrapEnd = "</tr></table>";
    } else if (!strcmp(r.tag, "TR") || !strcmp(r.tag, "TBODY") || !strcmp(r.tag, "THEAD") ||
               !strcmp(r.tag, "TFOOT")) {
        wrap = "<table>";
        wrapEnd = "</table>";
    }
    RequireFramed(out, page.substr(0, (size_t)r.headEnd) + wrap, part, wrapEnd + "</body></html>",
                  cutTables);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint32_t options = OptionsOf(data, size);
    std::string page = PageOf(data, size);
    bool cutTables = (options & 0x800) != 0;

    Limit = SIZE_MAX;
    std::string out = RunStage(Stage, page, options);
    AnyLayoutResult first = Result;
    Check(page, out, first, cutTables);
    Require(first.bytesScanned == (int64_t)page.size(), "the scan reads the page once");
    Require(first.bytesCopied <= 2 * (int64_t)page.size(), "the copy reads it at most twice");

    if (options & 0x4000) {
        Limit = first.memory;
        Require(RunStage(Stage, page, options) == out, "a ceiling of what it took changes nothing");
        Limit = first.memory - 1;
        Require(RunStage(Stage, page, options) == page, "below it, a copy");
    }
    return 0;
}
