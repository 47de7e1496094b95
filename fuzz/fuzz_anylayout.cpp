// Fuzz target: the any-layout extraction alone, with "Remove tables in the
// main part" (bit 11) from the input's options word. Whatever the page, the
// stage writes the page itself, or the page's head, maybe its headline (an
// H1 between the head and the part), a fixed wrapper, the chosen part less
// its cuts (less its tables too: then a subsequence of it), the wrapper's
// end and "</body></html>"; its label and first words are text for people
// (UTF-8 without bytes below 0x20, within their sizes); a scan that writes
// nothing makes the same choice. With bit 14 it runs again under a memory
// ceiling of exactly what it took, which changes nothing, and one byte
// less, which copies the page; with bit 15, reading the page a few bytes at
// a time changes nothing.
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

// Text for people: valid UTF-8, no byte below 0x20, NUL within `size`.
static void RequireText(const char *text, size_t size, const char *what)
{
    size_t n = strnlen(text, size);
    Require(n < size, what);
    const unsigned char *p = (const unsigned char *)text;
    for (size_t i = 0; i < n;) {
        Require(p[i] >= 0x20, what);
        size_t length = p[i] < 0x80 ? 1 : p[i] >= 0xC2 && p[i] <= 0xDF ? 2 : p[i] >= 0xE0 && p[i] <= 0xEF ? 3
                      : p[i] >= 0xF0 && p[i] <= 0xF4 ? 4 : 0;
        Require(length > 0 && i + length <= n, what);
        for (size_t k = 1; k < length; k++)
            Require((p[i + k] & 0xC0) == 0x80, what);
        i += length;
    }
}

static void Check(const std::string &page, const std::string &out, const AnyLayoutResult &r,
                  bool cutTables)
{
    Require(r.bytesIn == (int64_t)page.size() || r.outcome == kAnyLayoutNoMemory, "the page's size");
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
    std::string headline;
    if (r.headlineAdded) {
        Require(r.headEnd <= r.headlineStart && r.headlineStart <= r.headlineEnd && r.headlineEnd < r.start,
                "the headline lies between the head and the part");
        headline = page.substr((size_t)r.headlineStart, (size_t)(r.headlineEnd - r.headlineStart + 1));
        Require(headline.size() >= 3 && (headline[1] | 0x20) == 'h' && headline[2] == '1',
                "the headline is an H1");
    }
    RequireFramed(out, page.substr(0, (size_t)r.headEnd) + headline + wrap, part,
                  wrapEnd + "</body></html>", cutTables);
    Require(r.bytesKept == (int64_t)(out.size() - wrap.size() - wrapEnd.size() - 14),
            "the bytes kept are the page's bytes written");
    RequireText(r.label, sizeof r.label, "the label is text");
    RequireText(r.firstWords, sizeof r.firstWords, "the first words are text");
    Require(r.label[0] == '<', "the label is a tag");
}

static void Scan(const CleanSwitches *, ByteStream *input, ByteStream *)
{
    AnyLayoutScan(input, &Result);
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

    if (!cutTables && first.outcome != kAnyLayoutNoMemory) {
        RunStage(Scan, page, options);
        Require(Result.outcome == first.outcome && Result.start == first.start && Result.end == first.end &&
                    Result.cutCount == first.cutCount && Result.headlineAdded == first.headlineAdded &&
                    Result.bytesKept == first.bytesKept && !strcmp(Result.label, first.label) &&
                    !strcmp(Result.firstWords, first.firstWords),
                "a scan makes the stage's choice");
    }
    if (options & 0x8000)
        Require(RunStageTrickled(Stage, page, options, 1 + page.size() % 13) == out,
                "read a few bytes at a time, the same output");
    if (options & 0x4000) {
        Limit = first.memory;
        Require(RunStage(Stage, page, options) == out, "a ceiling of what it took changes nothing");
        Limit = first.memory - 1;
        Require(RunStage(Stage, page, options) == page, "below it, a copy");
    }
    return 0;
}
