// Fuzz target: the three stages chained one after the other, each over
// the whole output of the one before (the extraction's closing tags after
// the element pass when it reads the part in place), in both orders (extraction first and
// element removal first) under the options word in the input's first two
// bytes. Every stage's output is checked against its own input, the results
// against each other where the options make them equal, and the whole clean
// (CleanStream, whose stages pass the page on as it is written and read the
// extraction's output in place) against the chain in the order the options
// choose, and the clean from memory to memory (CleanBytes) against it, with
// and without the rule for any layout.
#include "app/options.h"
#include "clean/passes.h"
#include "fuzz/harness.h"

static std::string Chain(const std::string &page, uint32_t options, bool extractFirst)
{
    std::string first, second;
    if (extractFirst) {
        first = RunStage(ExtractionStage, page, options);
        CheckExtractionOutput(page, first);
        // The element pass reads the part; the closing tags follow its output.
        std::string part = first, tail;
        if ((options & kOptExtract) && ExtractionView(page, options, &part, &tail))
            Require(part + tail == first, "chain: the view reads what the extraction writes");
        else
            part = first, tail.clear();
        second = RunStage(ElementRemovalPass, part, options);
        CheckElementOutput(part, second);
        second += tail;
    } else {
        first = RunStage(ElementRemovalPass, page, options);
        CheckElementOutput(page, first);
        second = RunStage(ExtractionStage, first, options);
        CheckExtractionOutput(first, second);
    }
    std::string last = RunStage(AttributePass, second, options);
    Require(IsSubsequence(last, second),
            "chain: the attribute pass only leaves bytes of tags out");
    CheckChainCounts(page, last);
    return last;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The rule for any layout (bit 13) has a target of its own; here bit 13
    // only chooses read sizes, with the two bits above it.
    uint32_t options = OptionsOf(data, size) & ~(uint32_t)kOptAnyLayout;
    size_t piece = 1 + ((OptionsOf(data, size) >> 13) & 7) * 3;
    std::string page = PageOf(data, size);

    std::string extractFirst = Chain(page, options, true);
    std::string deleteFirst = Chain(page, options, false);
    std::string whole = RunStage(WholeClean, page, options);
    Require(whole == (options & kOptExtractFirst ? extractFirst : deleteFirst),
            "chain: the whole clean writes what the stages write one after the other");
    Require(RunStageTrickled(WholeClean, page, options, piece) == whole,
            "chain: the whole clean writes the same whatever the read sizes");
    Require(RunCleanBytes(page, options) == whole,
            "chain: the clean from memory writes what the clean of streams writes");
    Require(RunCleanBytes(page, options | kOptAnyLayout) ==
                RunStage(WholeClean, page, options | kOptAnyLayout),
            "chain: so it does with the rule for any layout");

    if (!(options & kOptExtract)) {
        Require(extractFirst == deleteFirst, "chain, extraction off: the order does not matter");
        if (!(options & (kOptStyles | kOptInternet | kOptScripts)))
            Require(extractFirst == RunStage(ElementRemovalPass, page, options),
                    "chain, extraction, Styles, Internet and Scripts off: the element "
                    "removal's output");
    }
    return 0;
}
