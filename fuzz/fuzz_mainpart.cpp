// Fuzz target: the main-part extraction alone. The options word in the
// input's first two bytes gives "Remove tables in the main part" (bit 11)
// and, in bits 13 to 15, a ceiling on the outline's memory; the extraction
// itself is always on, and also run off, where it must copy.
#include <stdint.h>
#include "app/options.h"
#include "clean/passes.h"
#include "fuzz/harness.h"

static size_t MemoryLimit = SIZE_MAX;

static void LimitedExtraction(const CleanSwitches *sw, ByteStream *input, ByteStream *output)
{
    ExtractMainPart(sw, input, output, MemoryLimit);
}

// Small enough to fail at the first table, inside the first chunk of nodes,
// and a little further on.
static const size_t kLimits[8] = {SIZE_MAX, 1024, 300 * 1024, 600 * 1024,
                                  SIZE_MAX, SIZE_MAX, SIZE_MAX, SIZE_MAX};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint32_t options = OptionsOf(data, size) | kOptExtract;
    std::string page = PageOf(data, size);

    std::string out = RunStage(ExtractionStage, page, options);
    CheckExtractionOutput(page, out);

    std::string again = RunStage(ExtractionStage, out, options);
    CheckExtractionOutput(out, again);

    size_t piece = 1 + ((options >> 13) & 7) * 3;
    Require(RunStageTrickled(ExtractionStage, page, options, piece) == out,
            "extraction: the same output whatever the read sizes");

    Require(RunStage(ExtractionStage, page, options & ~kOptExtract) == page,
            "extraction off: a copy of the input");

    // Without memory for its outline the stage copies; with enough it
    // answers as without a ceiling.
    MemoryLimit = kLimits[(options >> 13) & 7];
    if (MemoryLimit != SIZE_MAX) {
        std::string limited = RunStage(LimitedExtraction, page, options);
        Require(limited == out || limited == page,
                "extraction under a memory ceiling: its usual output or a copy");
    }
    return 0;
}
