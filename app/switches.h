// The options word's switches by name: the element kinds that --remove and
// --keep take, and the other switches with their on and off spellings.
// One table serves the parser, --settings, and the tests that hold the man
// page and the completion to it.
#pragma once
#include <stdint.h>

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
