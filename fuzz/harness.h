// Shared pieces of the fuzz targets: running a stage over bytes held in
// memory, the options word taken from the front of a fuzz input, and the
// properties that every stage's output must have whatever the input.
//
// Each property is stated so that it follows from how the stages are built,
// not from what a page usually looks like:
//   - the attribute pass only removes bytes from tags, so its output is a
//     subsequence of its input;
//   - the element removal pass only drops bytes, except that a BODY tag may
//     become the fixed text "<BODY>" made of the same letters in upper case
//     (with a '>' of its own when the tag is unfinished at the page's end),
//     so its output folded to upper case is a subsequence of its input
//     folded the same way, and it holds no byte value more often than the
//     input does, the letters of the "<BODY>" texts it wrote aside;
//   - the extraction writes its input unchanged, or a prefix of it, maybe
//     its 25-byte wrapper, more of the input's bytes in their order, maybe
//     "</table>", and "</body></html>";
//   - with every switch off, the attribute pass copies its input and the
//     element removal pass copies it but for the few cases that
//     ElementsAllOff spells out;
//   - what the element removal and attribute passes count by kind adds up
//     to what they took out (StageTally).
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>
#include "clean/stream.h"
#include "app/options.h"

typedef void (*StageProc)(const CleanSwitches *, ByteStream *, ByteStream *);

// The table-rule extraction with the switches' extract and cutTables, no
// memory ceiling. The any-layout rule has its own target.
void ExtractionStage(const CleanSwitches *sw, ByteStream *input, ByteStream *output);
// The table rule's output as the chain reads it in place: the part, and the
// closing tags the chain writes behind the element pass. False when no view
// opens (the chain then reads the stage's output whole).
bool ExtractionView(const std::string &page, uint32_t options, std::string *part, std::string *tail);
// The whole clean, the stages chained as CleanStream chains them.
void WholeClean(const CleanSwitches *sw, ByteStream *input, ByteStream *output);

// The options word of a fuzz input: its first two bytes, low byte first.
// The page is what follows them.
uint32_t OptionsOf(const uint8_t *data, size_t size);
std::string PageOf(const uint8_t *data, size_t size);

// Runs the stage over `input` in memory under the switches of `options`. A
// read or write error is a failure of the harness.
std::string RunStage(StageProc stage, const std::string &input, uint32_t options);

// The whole clean of `input` from memory to memory (CleanBytes), no limit.
std::string RunCleanBytes(const std::string &input, uint32_t options);

// The same with the input read through a reader that gives at most `piece`
// bytes at a time, so that every run-at-a-time path of the stages meets
// buffer ends at every place.
std::string RunStageTrickled(StageProc stage, const std::string &input, uint32_t options,
                             size_t piece);

// Stops the fuzzer with a message when a property does not hold.
void Require(bool holds, const char *what);

std::string FoldUpper(const std::string &s);
bool IsSubsequence(const std::string &part, const std::string &whole);
size_t CountOf(const std::string &text, const std::string &needle);

// The element removal pass's output against its input, any options.
void CheckElementOutput(const std::string &input, const std::string &output);
// The extraction's output against its input, extract on.
void CheckExtractionOutput(const std::string &input, const std::string &output);
// No byte value, letters folded to upper case, occurs in `output` more often
// than in `input` plus the extraction's fixed texts.
void CheckChainCounts(const std::string &input, const std::string &output);

// What the element removal pass writes with every switch off, worked out
// independently of its state machine: the only element still looked at is
// FRAME (its flag is set while Frames is off), whose tag goes when its SRC
// value is a network address, together with a blank, a CR, or a CR and a
// line feed or blank after it. A tag unfinished at the end of the page is judged
// as if its '>' followed. Tags of 4096 bytes or more are copied unexamined.
std::string ElementsAllOff(const std::string &input);

// Runs the element removal pass (elements true) or the attribute pass over
// `input` with a tally, and requires the kinds' bytes to add up to what the
// pass took out. Answers the output.
std::string StageTally(bool elements, const std::string &input, uint32_t options);
