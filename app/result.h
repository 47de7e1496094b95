// What came of one page: the record that a run in place (and a clean to
// another file, or a preview) fills, and that every report reads: the
// command line's lines and --json, the Windows result line, the library's
// result. One place for the figures of a page.
#pragma once
#include <stdint.h>
#include "app/companion.h"
#include "app/messages.h"
#include "clean/clean.h"
#include "platform/folder.h"

enum PageOutcome {
    kPageCleaned,       // the cleaned page stands at its path (or went where asked)
    kPageAlreadyClean,  // cleaning would change no byte: nothing was written or moved
    kPageRefused,       // not a page to clean: its name, its bytes, where it lies
    kPageFailed,        // an error stopped it; `stop` says which
};

enum OriginalPlace {
    kOriginalStays,     // where it was (nothing moved, or it was brought back)
    kOriginalInTrash,
    kOriginalInFolder,
};

enum { kResultPathSize = kFolderPathSize + 64 };

struct PageStop {
    int id;                     // ErrorId, or kWarnNotPermissible for a name refused; -1: none
    MessageKind kind;
    int sysError;               // errno / GetLastError where it happened, 0 when none
    char detail[kResultPathSize * 2];
};

struct PageResult {
    PageOutcome outcome;
    char page[kResultPathSize];     // the page as cleaned: a link's target, absolute
    int64_t bytesBefore;            // the page's size; -1 when it was not read
    int64_t bytesAfter;             // the cleaned page's; -1 when none was made
    bool haveClean;                 // the stages ran: `clean` holds their figures
    CleanReport clean;
    OriginalPlace original;
    char originalPath[kResultPathSize]; // where the original is now, when known
    char savedAs[kResultPathSize];  // a cleaned page kept under another name
    unsigned warnings;              // bit w: warning w was given for the page
    PageStop stop;                  // what stopped the page (refused, failed)
    // Asked for (PageJob.wantHint): the table rule kept the page (nearly)
    // whole and the rule for any layout would cut it; `hint` is what that
    // rule's scan chose.
    bool haveHint;
    AnyLayoutResult hint;
    // The page's companion folder (PageJob's switches.companionFiles):
    // what went with the original, or why all of it stayed.
    CompanionReport companion;
};

// A record before anything happened: nothing known, nothing stopped.
void StartPageResult(PageResult *r);

// ---- The record's names, the same for every reader: --json, the
// library, the Python module. Each answers null for a value out of range.

// "cleaned", "already-clean", "refused", "failed".
const char *PageOutcomeName(int outcome);
// Where the original is: "stays", "trash", "folder".
const char *OriginalPlaceName(int place);
// How the main part was taken (ExtractOutcome): "off", "no-main-part",
// "out-of-memory", "bare-cell", "wrapped-cell", "whole-table", "any-layout-part".
const char *ExtractionName(int extraction);
// The kinds of removal ("comments", "style-attributes"): clean/removals.h's.
const char *RemovalKindName(int kind);

// ---- A size for people, in the one style of each platform:
enum SizeStyle {
    // "1 byte", "812 bytes", "41.2 kB", "188.0 kB", "18.0 MB": SI units of
    // 1000 up to GB, always one decimal; a negative size keeps its sign (the
    // command line).
    kSizeDecimal,
    // "0 KB", "1 KB", "41 KB", "1,235 KB": whole units of 1024, any part of
    // one counting as one, with thousands grouped, as the Size column of
    // the Windows file windows shows a file (the Windows program).
    kSizeExplorer,
};
#ifdef _WIN32
const SizeStyle kSizeStyleHere = kSizeExplorer;
#else
const SizeStyle kSizeStyleHere = kSizeDecimal;
#endif
// Between a size before and a size after, in every report: " \u2192 ".
extern const char kSizeArrow[];
// Writes at most `size` bytes with the NUL (cut short) and answers the
// length written. 32 bytes hold any size in any style.
enum { kSizeTextMax = 32 };
size_t FormatSize(int64_t bytes, SizeStyle style, char *out, size_t size);

// `n` in decimal, written by hand (not every C library's printf takes a
// 64-bit format) at the end of `digits`; answers where the text starts.
enum { kNumberTextMax = 24 };
const char *FormatNumber(int64_t n, char (&digits)[kNumberTextMax]);
