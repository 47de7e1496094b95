// One cleaning run of one page in place.
#pragma once
#include <stdint.h>
#include "clean/clean.h"
#include "app/dispose.h"

// Accepts names ending in .htm, .html or .plg, in any case.
bool IsPageName(const char *path);

// What a run in place did, for a caller that says more than the messages.
struct InPlaceResult {
    bool cleaned;               // the cleaned page stands at the page's path
    CleanReport clean;          // the stages' figures (when they ran)
    DisposalOutcome disposal;   // where the original went (when it went)
};

// Cleans the page at `path` in place under the options word `options`
// (its switches, and bit 28 for the original's way out) and the target
// folder: the stages into a new file beside the page, the disposal of the
// original, the write-back. Reports every problem itself. True when the
// cleaned page now stands at the path. Owns all its state: runs on several
// threads at once clean different pages independently.
bool CleanPageInPlace(const char *path, uint32_t options, const char *targetFolder,
                      InPlaceResult *result);

// The same for the process-wide page, options word and target folder of
// the window and the Windows command line.
bool CleaningRun();
