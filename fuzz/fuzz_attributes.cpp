// Fuzz target: the attribute pass alone, under the options word in the
// input's first two bytes, again over its own output, and with Styles and
// Internet off against the copy that AttributesAllOff describes.
#include "app/options.h"
#include "clean/passes.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint32_t options = OptionsOf(data, size);
    std::string page = PageOf(data, size);
    std::string plain = AttributesAllOff(page);

    std::string out = RunStage(AttributePass, page, options);
    // Only bytes of complete tags are ever left out.
    Require(IsSubsequence(out, plain), "attribute pass: output within the plain copy");

    std::string again = RunStage(AttributePass, out, options);
    Require(IsSubsequence(again, AttributesAllOff(out)),
            "attribute pass over its own output: output within the plain copy");

    Require(RunStage(AttributePass, page, options & ~(kOptStyles | kOptInternet)) == plain,
            "attribute pass, Styles and Internet off: the input but for an unfinished "
            "tag at the end");
    return 0;
}
