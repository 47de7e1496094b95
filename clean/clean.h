// One clean of one page: the stages chained from an input stream to an
// output stream under the given switches, and what came of it.
#pragma once
#include <stdint.h>
#include "clean/anylayout.h"
#include "clean/mime.h"
#include "clean/passes.h"
#include "clean/removals.h"
#include "clean/stream.h"
#include "clean/switches.h"

enum CleanStatus {
    kCleanDone = 0,
    kCleanReadFailed,       // the input could not be read to its end
    kCleanTempFailed,       // a temporary file could not be made, written or read
    kCleanWriteFailed,      // the output lost a write
    kCleanOverLimit,        // CleanBytes: the page between two stages would pass the memory limit
    kCleanNoMemory,         // CleanBytes: no memory for the page between two stages
    kCleanStatusCount
};

enum CleanStage {
    kStageElements = 0,
    kStageExtraction,
    kStageAttributes,
    kStageCount,
};

struct CleanReport {
    CleanStatus status;
    int64_t bytesIn;            // the page's size (from where the input stood)
    int64_t bytesOut;           // what was written; bytesIn less the removed[] of the stages
    // What each stage took out: its input's size less its output's. The
    // extraction's can be negative (its fixed tags on a small page); a stage
    // that did not run took out 0.
    int64_t removed[kStageCount];
    ExtractOutcome extraction;
    // The size of the page the extraction read: the page itself when it
    // runs first, else what the element pass left of it; 0 when it is off.
    // It kept extractionIn - removed[kStageExtraction] bytes.
    int64_t extractionIn;
    AnyLayoutResult part;       // the rule for any layout: what it chose
    RemovalTally removals;      // what the element and attribute passes took out, by kind
    // A single-file page under the companion-files switch: the parts that
    // only removed elements named, left out (clean/mimeparts.h), and their
    // bytes (each part whole, its delimiter line with it).
    int64_t partsLeftOut;
    int64_t partBytesLeftOut;
};

// Cleans `input`, which is at its start, into `output` from the output's
// current position; flushes the output but leaves both open. The input must
// be seekable (a file or memory): the extraction reads it twice and the
// element pass goes back in it to restore a form. The stages pass the page
// to each other as it is written, except into the extraction, which reads
// a temporary file (so memory stays bounded by the page's tables and tags,
// not its size). Fills *report when given. Safe to run on several threads
// at once with different streams.
//
// With the rule for any layout, which judges each block against the page it
// reads, the chain runs again on its own output (through a temporary file)
// until that comes back unchanged, three runs at most, and the output is
// the last run's: so a cleaned page cleaned again comes back byte for byte.
// The report then adds up the runs (the stages' and the kinds' figures;
// bytesIn is the page's, bytesOut the last output's), with the last run's
// part; on a failure the output is left without the page.
CleanStatus CleanStream(const CleanSwitches *sw, ByteStream *input, ByteStream *output,
                        CleanReport *report);

// Cleans the `size` bytes at `page` into `output` (a buffer, a sink, any
// writable stream) as CleanStream would, byte for byte, but with no file at
// all: where CleanStream hands the page from one stage to the next through a
// temporary file, this holds it in a buffer.
//
// memoryLimit bounds, each in turn, the two things the clean holds of its
// own besides the page and the output (so it holds at most about twice the
// limit): the extraction's outline, past which the extraction copies its
// input unchanged (report->extraction is kExtractOutOfMemory, or the part's
// outcome kAnyLayoutNoMemory), and the page between two stages, past which
// the clean stops with kCleanOverLimit, the output holding what had been
// written by then. With the rule for any layout the runs' outputs are held
// too, two at a time, each within the limit. kNoMemoryLimit: as much as
// there is.
CleanStatus CleanBytes(const CleanSwitches *sw, const void *page, size_t size,
                       ByteStream *output, size_t memoryLimit, CleanReport *report);

// A single-file page (MHTML), read by ReadMimeDocument into *doc: the bytes
// before the root part's body copied as they are, the body decoded, cleaned
// as CleanStream cleans a page (a reference to one of the document's parts
// counting as local, not the network's) and encoded again the same way, and
// the rest copied as it is. A root part that cleaning leaves as it was is
// copied as it was, not encoded again. The page is decoded as the chain
// reads it and encoded as the chain writes it, so memory stays bounded as
// for a page; only when a part that may be left out comes before the root
// part is the cleaned page held in a temporary file first. The report's
// sizes are the document's; its removals are the page's. On a failure the
// output may hold a beginning of the document, as CleanStream's may.
CleanStatus CleanArchiveStream(const CleanSwitches *sw, const MimeDocument *doc, ByteStream *input,
                               ByteStream *output, CleanReport *report);
// The same from memory, as CleanBytes cleans a page: what the chain holds
// between its stages (and a cleaned page held first) bounded by memoryLimit.
CleanStatus CleanArchiveBytes(const CleanSwitches *sw, const MimeDocument *doc, const void *page,
                              size_t size, ByteStream *output, size_t memoryLimit,
                              CleanReport *report);
