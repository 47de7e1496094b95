// What the command line says of a page and of a whole call, from the
// per-page record: the lines of -v and -n, --json, the summary.
#pragma once
#include <stdint.h>
#include <string>
#include "app/result.h"
#include "cli/pages.h"

struct PageReport {
    const PageEntry *entry;
    PageResult result;
    bool inPlace;
    std::string err;                        // its warnings, in the order given
    // What a stop in the record is about when it is not the page: -o's
    // file (quoted), "standard output".
    std::string stopAbout;
    std::string companionList;              // -n -v: the companion files that would go, a line each
};

// The record's stop in words (its text, detail and the system's reason),
// as --json's "message" gives it; "" when nothing stopped the page.
std::string StopText(const PageResult &r);
// "webtrim: PAGE: " (or what the stop is about) and the stop's words, for
// standard error; "" when nothing stopped the page.
std::string StopLine(const PageReport &p);

// The lines of -v and -n for a page (empty when the level asks for none).
std::string DescribePage(const PageReport &p, const Call &call);
// One line of --json for a page.
std::string PageJson(const PageReport &p, const Call &call);

struct CallTotals {
    int pages = 0, cleaned = 0, alreadyClean = 0, refused = 0, failed = 0;
    int64_t bytesBefore = 0, bytesAfter = 0;
};
void AddToTotals(CallTotals *t, const PageResult &r);
// "288 pages: 281 cleaned, 41.2 MB → 18.0 MB; 7 already clean; 0 failed"
std::string SummaryLine(const CallTotals &t, const Call &call);
std::string SummaryJson(const CallTotals &t, const Call &call);
