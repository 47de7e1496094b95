// The Linux command line: what its parts (main, pages, messages) share.
#pragma once
#include <stdint.h>
#include <string>
#include <vector>
#include "clean/stream.h"

// ---- Messages

enum MessageLevelValue { kLevelQuiet, kLevelNormal, kLevelVerbose };
// Set once before any page is cleaned.
extern int MessageLevel;

// The page the calling thread is working on. Messages name it, and the sink
// notes what the warnings said about the original.
struct PageContext {
    const char *name;           // as the user gave it
    bool originalToTrash;       // a folder warning sent the original to the trash
    int stops;                  // errors (and refusals) reported for this page
};
extern thread_local PageContext *CurrentPage;

// A message of the command line itself, in the form the run's messages
// take: "webtrim: PAGE: text: reason" (no page part without a current
// page). Errors always show; warnings not with -q.
void CommandLineError(const char *text, int sysError = 0);
void CommandLineWarning(const char *text);

// The message line for a text of the run: its lines joined by blanks, the
// system's reason after the first line. Used by the sink; kept apart so
// that it can be read on its own.
std::string FormatMessageText(const char *text, const char *detail, int sysError);

// Writes a whole report block at once, so that blocks of pages cleaned at
// the same time do not interleave. To standard output, or to standard error
// while standard output carries a cleaned page.
void WriteReport(const std::string &block);
extern bool ReportToStderr;

// ---- Cleaning one page

enum ExtractionOutcome { kExtractionOff, kExtractionWhole, kExtractionCut };

// What -v tells about a page, from what the clean reported; -1 where a
// figure is not known.
struct PageFigures {
    int64_t bytesBefore = -1;
    int64_t bytesAfter = -1;
    bool haveStages = false;
    bool extractFirst = false;
    int64_t elementsRemoved = 0;
    int64_t extractionRemoved = 0;
    int64_t attributesRemoved = 0;
    ExtractionOutcome extraction = kExtractionOff;
    std::string chosen;         // any layout: the element kept and its cuts
};

enum OriginalPlace { kOriginalStays, kOriginalInTrash, kOriginalInFolder };

struct PageResult {
    bool cleaned = false;
    PageFigures figures;
    OriginalPlace place = kOriginalStays;
    std::string where;          // the folder and name, for kOriginalInFolder
};

// Cleans `page` (a stream at its start) into `out` with the options word,
// with the stages of a run in the order that the word gives. Reports its own
// errors. True when the whole page went through every stage and into `out`.
bool CleanPageToStream(ByteStream *page, uint32_t options, ByteStream *out, PageFigures *fig);

// Cleans the page at `path` in place with CleanOptions and TargetFolder,
// as the run does, and says what happened. The figures of the stages are
// filled when wantStages is set (it costs a second pass over the page).
bool CleanOnePage(const char *path, bool wantStages, PageResult *r);

// ---- A call over many pages

struct PageEntry {
    std::string name;           // as the user gave it; "-" is standard input
    bool known = false;         // dev and ino hold the file's identity
    uint64_t dev = 0, ino = 0;
};

struct CallOptions {
    bool dryRun = false;
    const char *output = nullptr;   // -o: a path, "-" for standard output
    int jobs = 1;
};

// Cleans every page as the call asks; the exit status (0 or 1).
int CleanPages(const std::vector<PageEntry> &pages, const CallOptions &call);

// ---- Help

void PrintHelp();
void PrintVersion();
