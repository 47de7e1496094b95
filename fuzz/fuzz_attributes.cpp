// Fuzz target: the attribute pass alone, under the options word in the
// input's first two bytes, again over its own output, and with Styles and
// Internet off, where it copies its input.
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

    Require(RunStage(AttributePass, page, options & ~(kOptStyles | kOptInternet)) == page,
            "attribute pass, Styles and Internet off: a copy of the input");
    size_t piece = 1 + ((options >> 13) & 7) * 3;
    Require(RunStageTrickled(AttributePass, page, options, piece) == out,
            "the same output whatever the read sizes");
    return 0;
}
