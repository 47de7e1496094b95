// Main-part extraction for pages of any layout: the article is found among
// DIV, ARTICLE, table and list containers alike by how much of its text
// reads like running prose. See anylayout.cpp.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "clean/stream.h"

enum {
    kAnyLayoutMaxCuts = 4,
    kAnyLayoutLabelMax = 60,        // bytes of AnyLayoutResult.label, NUL not counted
    kAnyLayoutWordsMax = 8,         // words of AnyLayoutResult.firstWords
    kAnyLayoutWordsBytes = 100,     // its size, NUL included
};

// What the stage did, for a verbose report and for tests.
enum AnyLayoutOutcome {
    kAnyLayoutCopied = 0,       // the page unchanged (no word, or the root and no cut)
    kAnyLayoutPart = 1,         // the head, the chosen part less its cuts, the fixed ends
    kAnyLayoutNoMemory = 2,     // the state did not fit the memory limit: copied
};

// Positions are offsets in the input, ranges inclusive. The two texts are
// for people: NUL-terminated, bytes below 0x20 and bytes that are not
// UTF-8 written as \xNN.
struct AnyLayoutResult {
    int outcome;                // AnyLayoutOutcome
    const char *tag;            // the chosen element's name, "BODY" for the root
    bool isRoot;
    int64_t headEnd;            // the head is the page's bytes before this
    int64_t start, end;         // its bytes (the root: its content), inclusive
    int cutCount;
    int64_t cutStart[kAnyLayoutMaxCuts], cutEnd[kAnyLayoutMaxCuts];
    int64_t cutBytes;           // the bytes of the cuts together
    // The page's headline, written before the part when the part holds no
    // H1: the last H1 between the BODY tag and the part.
    bool headlineAdded;
    int64_t headlineStart, headlineEnd;
    // "Remove tables in the main part": the tables left out, and their bytes.
    int tablesCut;
    int64_t tableBytes;
    int64_t pageWords;          // the words the rule counted in the page's body
    int64_t wordsKept;          // those in the part less its cuts (all: nothing cut)
    int64_t bytesIn;            // the page's size from where the stage began
    int64_t bytesKept;          // the page's own bytes written: all, or the head,
                                // the headline and the part less cuts and tables
    // The chosen element's start tag as its name, id and class, e.g.
    // <div id="main" class="story">, read back from the page (<body> for a
    // page without a BODY tag); past kAnyLayoutLabelMax bytes, cut to end
    // in an ellipsis (U+2026).
    char label[kAnyLayoutLabelMax + 1];
    // Its first words (up to kAnyLayoutWordsMax, outside its cuts, tags
    // skipped, character references decoded, one blank between them), and
    // whether more follow.
    char firstWords[kAnyLayoutWordsBytes];
    bool moreWords;
    // Work counters, which bound time and memory without timing anything.
    int64_t bytesScanned;       // bytes the scan read (the page from where it stood)
    int64_t bytesCopied;        // bytes read again to write the output
    int64_t bytesReadBack;      // bytes read again for the label and first words (a few KiB)
    int64_t stackSteps;         // open records visited by closing searches
    int64_t recordsClosed;      // containers recorded and closed
    int keptHigh;               // most closed records held at once
    size_t memory;              // heap the stage held
};

// Cuts the page down to its main part. The input is read from its current
// position, which must be seekable, and left at its end; with cutTables
// every table inside the chosen part is left out too.
void AnyLayoutExtract(bool cutTables, ByteStream *input, ByteStream *output);

// The same choice without writing anything: fills *result as
// AnyLayoutExtract would (without a table cut). It costs a scan of the page
// and a few reads of the chosen part's start.
void AnyLayoutScan(ByteStream *input, AnyLayoutResult *result);

// The chance that a block is main text, in 256ths, from its words, its
// words in links and the kAnyLayoutBlock bits that describe it.
enum AnyLayoutBlockBit {
    kAnyLayoutBlockP = 1,           // after <P>
    kAnyLayoutBlockLi = 2,          // after <LI>
    kAnyLayoutBlockHeading = 4,     // inside H1-H6
    kAnyLayoutBlockComment = 8,     // its container's hints: comments
    kAnyLayoutBlockBoiler = 16,     // navigation, side column, adverts...
    kAnyLayoutBlockPositive = 32,   // article or content
};
int AnyLayoutBlockWeight(int64_t words, int64_t linkWords, unsigned bits);

// The same with a ceiling on the heap the stage may take (past it the page
// is copied unchanged) and an optional account of what it did.
void AnyLayoutExtractLimited(bool cutTables, ByteStream *input, ByteStream *output,
                             size_t memoryLimit, AnyLayoutResult *result);
