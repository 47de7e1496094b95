// The stages of a clean. Each reads its input from the input's current
// position until a read yields no byte and writes its output from the
// output's current position; none reports an error (the caller looks at the
// streams' error states afterwards). Each keeps its state in the call, so
// any number of them may run at once on different streams.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "clean/bytescan.h"
#include "clean/inert.h"
#include "clean/removals.h"
#include "clean/stream.h"
#include "clean/switches.h"
#include "clean/tagbuf.h"

// The passes that take a RemovalTally add what they remove to it, by kind;
// without one (or with null) they count nothing.

// Deletes the elements the switches choose. Goes back in its input to
// restore a FORM that holds a table, so the input must be seekable.
void ElementRemovalPass(const CleanSwitches *sw, ByteStream *input, ByteStream *output);
void ElementRemovalPass(const CleanSwitches *sw, ByteStream *input, ByteStream *output,
                        RemovalTally *tally);

// Strips style attributes, url( references and http: backgrounds from tags,
// then (inert.h) what in them would run or load from the network.
void AttributePass(const CleanSwitches *sw, ByteStream *input, ByteStream *output);
void AttributePass(const CleanSwitches *sw, ByteStream *input, ByteStream *output,
                   RemovalTally *tally);

// The same pass as a filter that takes its input in runs as they come (the
// sink of the stage before it): start, any number of runs, finish.
struct AttributeFilter {
    bool styles;
    bool internet;
    bool inTag;                 // a tag goes on past the last run
    bool inertOn;               // what it writes goes through `inert`
    ByteStream *output;
    RemovalTally *tally;
    BytePairs keywordPairs;     // a tag holding none of them needs no edit
    unsigned pairKeywords[3];   // the keyword (kHas* bit) each pair belongs to
    TagBuffer tag;
    InertFilter inert;
};
// Whether the switches give the attribute stage anything to do.
bool AttributeStageWanted(const CleanSwitches *sw);
void StartAttributeFilter(AttributeFilter *f, const CleanSwitches *sw, ByteStream *output,
                          RemovalTally *tally = nullptr);
void AttributeFilterBytes(AttributeFilter *f, const unsigned char *data, size_t n);
void FinishAttributeFilter(AttributeFilter *f);
// AttributeFilterBytes as a StreamSinkProc.
void AttributeFilterSink(void *filter, const unsigned char *data, size_t n);

// What the extraction did.
enum ExtractOutcome {
    kExtractOff = 0,            // extract is off: the input copied
    kExtractNoMainPart,         // no single main part: the input copied
    kExtractOutOfMemory,        // the outline outgrew its memory: the input copied
    kExtractBareCell,           // a cell of the body, standing bare
    kExtractWrappedCell,        // a table cell, in a table of its own
    kExtractWholeTable,         // the table that holds the main cells
    kExtractAnyLayoutPart,      // any layout: the chosen element less its cuts
};

// Cuts the page down to its main cell or table (extract, cutTables). The
// input is at its start and is read twice, so it must be seekable; the
// stage leaves it at its end. The outline takes no more than memoryLimit
// bytes of heap (kNoMemoryLimit: as much as it can get); past it the stage
// copies its input unchanged, as when memory runs out.
const size_t kNoMemoryLimit = SIZE_MAX;
ExtractOutcome ExtractMainPart(const CleanSwitches *sw, ByteStream *input, ByteStream *output,
                               size_t memoryLimit);

// The same stage without writing its output: scans the input (at its
// start) and opens a view that reads the output in place, made of the
// input's own ranges and the fixed tags, read and seekable like a file. The
// input must stay open and unread by others until the view is closed, which
// leaves it at its end. None when there is no memory for the view.
struct MainPartView;
MainPartView *OpenMainPartView(const CleanSwitches *sw, ByteStream *input, size_t memoryLimit,
                               ExtractOutcome *outcome);
ByteStream *MainPartViewStream(MainPartView *view);
// The fixed closing tags that end the stage's output, which the view's
// stream leaves out: the stage after it writes them behind its own output,
// so that an element it deletes up to the end of the part cannot take them
// (the same page cleaned again keeps them). None when the view is the
// input itself.
const char *MainPartViewTail(const MainPartView *view);
void CloseMainPartView(MainPartView *view);
