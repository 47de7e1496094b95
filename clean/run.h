// One cleaning run of the page named by CurrentFile.
#pragma once

// Accepts names ending in .htm, .html or .plg, in any case.
bool IsPageName(const char *path);

// Cleans CurrentFile in place: the stages, the disposal of the original and
// the write-back. Reports every problem itself. True when the cleaned page
// now stands at CurrentFile; false when the run stopped.
bool CleaningRun();
