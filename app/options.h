// The options word and its names, and the settings of a user.
//
// The word is what the settings store keeps and the window edits: fifteen
// switches in bits 0 to 14 (a word stored before bit 14 was a switch has it
// clear, so a user's old settings keep their companion folders whole), the picture's colour scheme in bits 24 to 27,
// where the original goes in bit 28, and whether a cleaned page keeps the
// page's times in bit 29. A clean reads only the switches,
// as named fields taken from the word once (SwitchesFromWord).
#pragma once
#include <stdint.h>
#include "clean/switches.h"

// The bits of the switches, kOptComments to kOptAnyLayout, from the table
// of clean/switches.h; then the bits of the word that are not a clean's.
enum : uint32_t {
#define WEBTRIM_SWITCH_BIT(Name, bit, ...) kOpt##Name = 1u << bit,
    WEBTRIM_SWITCHES(WEBTRIM_SWITCH_BIT, WEBTRIM_SWITCH_BIT)
#undef WEBTRIM_SWITCH_BIT
    kOptSchemeShift   = 24,
    kOptSchemeMask    = 0xFu << kOptSchemeShift,
    kOptRecycleBin    = 1u << 28,
    kOptPreserveTime  = 1u << 29,       // a cleaned page keeps the page's times
};

#define WEBTRIM_SWITCH_ONE(...) +1
enum { kSwitchCount = 0 WEBTRIM_SWITCHES(WEBTRIM_SWITCH_ONE, WEBTRIM_SWITCH_ONE) };  // bits 0 to 14
#undef WEBTRIM_SWITCH_ONE
const uint32_t kSwitchMask = (1u << kSwitchCount) - 1;
// The switches the passes read: all but the companion folder's, which
// acts after the clean and never changes a cleaned page's bytes.
const uint32_t kPassSwitchMask = kSwitchMask & ~kOptCompanionFiles;

// The switches a new user starts with, and "Default" restores.
#define WEBTRIM_SWITCH_DEFAULT_E(Name, bit, field, name, on, ...) | (on ? kOpt##Name : 0u)
#define WEBTRIM_SWITCH_DEFAULT_S(Name, bit, field, name, onWord, offWord, on, ...) | (on ? kOpt##Name : 0u)
const uint32_t kDefaultSwitches = 0u WEBTRIM_SWITCHES(WEBTRIM_SWITCH_DEFAULT_E, WEBTRIM_SWITCH_DEFAULT_S);
#undef WEBTRIM_SWITCH_DEFAULT_E
#undef WEBTRIM_SWITCH_DEFAULT_S
static_assert(kDefaultSwitches == (kOptComments | kOptScripts | kOptStyles | kOptForms | kOptInternet |
                                   kOptMeta | kOptModules | kOptExtract | kOptFrames | kOptExtractFirst |
                                   kOptCompanionFiles),
              "the defaults users have always started with, and the companion folder trimmed");
#define WEBTRIM_SWITCH_OR(Name, ...) | kOpt##Name
static_assert((0u WEBTRIM_SWITCHES(WEBTRIM_SWITCH_OR, WEBTRIM_SWITCH_OR)) == kSwitchMask,
              "the switches fill bits 0 up, each its own bit");
#undef WEBTRIM_SWITCH_OR
// The first word: those switches, scheme 0, originals to the trash.
const uint32_t kDefaultOptions = kOptRecycleBin | kDefaultSwitches;

// The switches on the Advanced page.
const uint32_t kAdvancedMask = kOptComments | kOptScripts | kOptStyles | kOptForms | kOptInternet |
                               kOptMeta | kOptModules | kOptFrames | kOptExtractFirst | kOptCompanionFiles;
// The low half of the word, which "Default" resets: the switches and the
// unused bits above them.
const uint32_t kResetMask = 0xFFFFu;

CleanSwitches SwitchesFromWord(uint32_t word);

// "Default": the low 16 bits take their defaults; scheme and target stay.
inline uint32_t ResetWord(uint32_t word)
{
    return (word & ~kResetMask) | kDefaultSwitches;
}

#ifdef _WIN32
// The target folder keeps its limit of 259 characters (settings_win32.cpp):
// in the ANSI code page, which may be UTF-8, up to 3 bytes each.
enum { kTargetFolderSize = 3 * 260 };
#else
// The target folder is stored as a 260-byte zero-terminated string.
enum { kTargetFolderSize = 260 };
#endif

// What a user keeps between runs: the word and the folder originals go to.
struct Settings {
    uint32_t word;
    char targetFolder[kTargetFolderSize];
};

// The first settings of a user: the default word, no folder.
Settings DefaultSettings();

// ---- The switches by name: the element kinds that --remove and --keep
// take, and the other switches with their on and off spellings, both from
// the table of clean/switches.h (kNamedSwitches ends with "trash" and
// "preserve-time", which are the word's and not a clean's). They serve the parser, --settings, the
// library, and the tests that hold the man page and the completion to them.

struct ElementKind {
    const char *name;           // as --remove and --keep take it
    uint32_t mask;
};
extern const ElementKind kElementKinds[];
extern const int kElementKindCount;

struct NamedSwitch {
    const char *name;           // as --settings prints it
    const char *onOption;       // the long option that sets the bit
    const char *offOption;      // the one that clears it
    uint32_t mask;
};
extern const NamedSwitch kNamedSwitches[];
extern const int kNamedSwitchCount;

// Parses a comma-separated list of element kinds into their masks. False,
// with the first unknown name in *bad, when a name is not a kind; "all"
// names every kind.
bool ParseElementList(const char *list, uint32_t *mask, const char **bad, int *badLength);
