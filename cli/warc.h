// The command line's --warc: web archives cleaned into new archives, one
// output per input, several at once with -j.
#pragma once
#include <stddef.h>
#include <string>
#include <vector>
#include "cli/pages.h"

struct WarcCall {
    bool keepOriginals = false;
    bool asResponse = false;            // --warc-response
    size_t recordLimit = 0;             // 0: the default
    int level = -1;                     // --warc-level, 0 to 9; -1: the default
};

// Cleans every archive named, into call.output (a file for one input, or a
// folder); reports each, and answers the exit status.
int CleanWarcFiles(const std::vector<std::string> &inputs, const Call &call, const WarcCall &warc,
                   const char *version);

// The output's name in a folder for the input `input`, made unique among
// `taken` (which it joins): its base name as an archive, "-2", "-3"...
// before the ending when the base names of two inputs are the same.
std::string WarcOutputName(const std::string &input, std::vector<std::string> *taken);
