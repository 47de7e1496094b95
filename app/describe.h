// The main part of a cleaned page in words for people: the "main part:"
// line of a verbose report and of a preview, the Windows result line's part,
// and the hint that the rule for any layout would cut a page that the table
// rule kept whole. Pure functions of a clean's report: they format into the
// caller's buffer and read nothing else. Sizes are in the short decimal style
// (FormatSize, app/result.h).
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "clean/clean.h"

// A line below, with its NUL, fits in this many bytes.
enum { kDescribeLineMax = 320 };

// "main part: " and then
//   "not looked for"                       the extraction was off;
//   "kept whole"                           nothing was cut: every word
//                                          stayed (any layout), or what
//                                          stayed reads as the page's size
//                                          (the table rule); with the tables
//                                          of the body cut: "kept whole but
//                                          for 2 tables (3.1 kB)";
//   "<div id="body"> "First words…" (41.2 kB of 188 kB kept; headline added;
//    3 cuts, 6.1 kB)"                      the rule for any layout cut it;
//   "a table cell (12.0 kB of 40.3 kB kept)"   the table rule cut it (or
//                                          "the body without its tables",
//                                          "a table of main cells").
// Writes at most `size` bytes with the NUL (cut short when smaller than
// kDescribeLineMax) and answers the length written.
size_t DescribeMainPart(const CleanReport *report, char *out, size_t size);

// What DescribeMainPart says, in one word for --json: "off" (not looked
// for), "whole" (it says "kept whole"), "cut".
const char *MainPartFound(const CleanReport *report);

// Whether a clean is one to offer --any-layout for: the table rule looked
// for the main part and kept all of the page or nearly all
// (kHintNearlyWhole percent or more). A scan of the page (AnyLayoutScan)
// then tells ShouldHintAnyLayout whether the rule for any layout would cut
// it: keep kHintWouldCut percent of it or less.
enum { kHintNearlyWhole = 90, kHintWouldCut = 80 };
bool WorthAnyLayoutScan(const CleanReport *report);
bool ShouldHintAnyLayout(const CleanReport *report, const AnyLayoutResult *scan);

// "hint: --any-layout would keep <div class="content"> "First words…"
// (27.9 kB of 37.7 kB)", from the scan.
size_t DescribeAnyLayoutHint(const AnyLayoutResult *scan, char *out, size_t size);
