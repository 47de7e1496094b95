// Fuzz target: the element removal pass alone, under the options word in the
// input's first two bytes, again over its own output, and with every switch
// off against the copy that ElementsAllOff describes.
#include "clean/passes.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint32_t options = OptionsOf(data, size);
    std::string page = PageOf(data, size);

    std::string out = RunStage(ElementRemovalPass, page, options);
    CheckElementOutput(page, out);

    std::string again = RunStage(ElementRemovalPass, out, options);
    CheckElementOutput(out, again);

    Require(RunStage(ElementRemovalPass, page, 0) == ElementsAllOff(page),
            "element removal, all switches off: the input but for remote FRAME tags "
            "and an unfinished tag at the end");
    Require(StageTally(true, page, options) == out, "element removal: the same output when counting");
    size_t piece = 1 + ((options >> 13) & 7) * 3;
    Require(RunStageTrickled(ElementRemovalPass, page, options, piece) == out,
            "the same output whatever the read sizes");
    return 0;
}
