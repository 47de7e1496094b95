// The options word and the switches of a clean.
//
// The word is what the settings store keeps and the window edits: fourteen
// switches in bits 0 to 13, the picture's colour scheme in bits 24 to 27,
// and where the original goes in bit 28. A clean reads only the switches,
// as named fields taken from the word once (SwitchesFromWord).
#pragma once
#include <stdint.h>

enum : uint32_t {
    kOptComments      = 1u << 0,
    kOptScripts       = 1u << 1,
    kOptStyles        = 1u << 2,
    kOptForms         = 1u << 3,
    kOptInternet      = 1u << 4,
    kOptMeta          = 1u << 5,
    kOptPictures      = 1u << 6,
    kOptModules       = 1u << 7,
    kOptExtract       = 1u << 8,
    kOptFrames        = 1u << 9,
    kOptBadColors     = 1u << 10,
    kOptCutTables     = 1u << 11,
    kOptExtractFirst  = 1u << 12,
    kOptAnyLayout     = 1u << 13,
    kOptSchemeShift   = 24,
    kOptSchemeMask    = 0xFu << kOptSchemeShift,
    kOptRecycleBin    = 1u << 28,
};

enum { kSwitchCount = 14 };                             // bits 0 to 13
const uint32_t kSwitchMask = (1u << kSwitchCount) - 1;

// The switches a new user starts with, and "Default" restores.
const uint32_t kDefaultSwitches = kOptComments | kOptScripts | kOptStyles | kOptForms |
                                  kOptInternet | kOptMeta | kOptModules | kOptExtract |
                                  kOptFrames | kOptExtractFirst;
// The first word: those switches, scheme 0, originals to the trash.
const uint32_t kDefaultOptions = kOptRecycleBin | kDefaultSwitches;

struct CleanSwitches {
    bool comments;          // delete comments (with scripts only)
    bool scripts;           // delete SCRIPT elements
    bool styles;            // delete STYLE, stylesheet links, style attributes
    bool forms;             // delete FORM elements outside tables
    bool internet;          // delete whatever loads from the Internet
    bool meta;              // delete META tags
    bool pictures;          // delete IMG tags
    bool modules;           // delete OBJECT, EMBED, APPLET
    bool extract;           // cut the page to its main part
    bool frames;            // delete frames
    bool badColors;         // rewrite BODY without its attributes
    bool cutTables;         // remove the tables inside the main part
    bool extractFirst;      // extract before deleting elements
    bool anyLayout;         // find the main part in any layout, not only tables
};

CleanSwitches SwitchesFromWord(uint32_t word);
