// Fuzz target: the attribute pass alone (with its inert filter under Scripts
// and Internet), under the options word in the input's first two bytes,
// again over its own output, with its removals counted, and with Styles,
// Internet and Scripts off, where it copies its input; the style rule alone
// over its own output gives it back.
#include "app/options.h"
#include "clean/passes.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint32_t options = OptionsOf(data, size);
    std::string page = PageOf(data, size);
    std::string out = RunStage(AttributePass, page, options);
    // Only bytes of complete tags are ever left out.
    Require(IsSubsequence(out, page), "attribute pass: output within the input");

    std::string again = RunStage(AttributePass, out, options);
    Require(IsSubsequence(again, out), "attribute pass over its own output: within it");

    Require(RunStage(AttributePass, page, options & ~(kOptStyles | kOptInternet | kOptScripts)) == page,
            "attribute pass, Styles, Internet and Scripts off: a copy of the input");

    // The style rule alone (Internet and Scripts off) acts in rounds until
    // none applies: over its own output it changes nothing.
    uint32_t stylesOnly = options & ~(kOptInternet | kOptScripts);
    std::string styled = RunStage(AttributePass, page, stylesOnly);
    Require(RunStage(AttributePass, styled, stylesOnly) == styled,
            "attribute pass, the style rule alone: its output is a fixed point");
    Require(StageTally(false, page, options) == out, "attribute pass: the same output when counting");
    size_t piece = 1 + ((options >> 13) & 7) * 3;
    Require(RunStageTrickled(AttributePass, page, options, piece) == out,
            "the same output whatever the read sizes");
    return 0;
}
