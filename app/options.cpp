#include "app/options.h"
#include <string.h>

CleanSwitches SwitchesFromWord(uint32_t word)
{
    CleanSwitches sw;
#define WEBTRIM_SWITCH_FROM_WORD(Name, bit, field, ...) sw.field = (word & kOpt##Name) != 0;
    WEBTRIM_SWITCHES(WEBTRIM_SWITCH_FROM_WORD, WEBTRIM_SWITCH_FROM_WORD)
#undef WEBTRIM_SWITCH_FROM_WORD
    return sw;
}

Settings DefaultSettings()
{
    Settings s;
    memset(&s, 0, sizeof s);
    s.word = kDefaultOptions;
    return s;
}

const ElementKind kElementKinds[] = {
#define WEBTRIM_ELEMENT_KIND(Name, bit, field, name, ...) {name, kOpt##Name},
    WEBTRIM_SWITCHES(WEBTRIM_ELEMENT_KIND, WEBTRIM_SWITCH_NONE)
#undef WEBTRIM_ELEMENT_KIND
};
const int kElementKindCount = sizeof kElementKinds / sizeof kElementKinds[0];

const NamedSwitch kNamedSwitches[] = {
#define WEBTRIM_NAMED_SWITCH(Name, bit, field, name, onWord, offWord, ...) {name, onWord, offWord, kOpt##Name},
    WEBTRIM_SWITCHES(WEBTRIM_SWITCH_NONE, WEBTRIM_NAMED_SWITCH)
#undef WEBTRIM_NAMED_SWITCH
    {"trash", "trash", "move-to", kOptRecycleBin},
    {"preserve-time", "preserve-time", "no-preserve-time", kOptPreserveTime},
};
const int kNamedSwitchCount = sizeof kNamedSwitches / sizeof kNamedSwitches[0];

bool ParseElementList(const char *list, uint32_t *mask, const char **bad, int *badLength)
{
    uint32_t m = 0;
    const char *p = list;
    for (;;) {
        size_t n = strcspn(p, ",");
        bool known = false;
        if (n == 3 && strncmp(p, "all", 3) == 0) {
            for (int i = 0; i < kElementKindCount; i++)
                m |= kElementKinds[i].mask;
            known = true;
        }
        for (int i = 0; i < kElementKindCount && !known; i++) {
            if (strlen(kElementKinds[i].name) == n && strncmp(p, kElementKinds[i].name, n) == 0) {
                m |= kElementKinds[i].mask;
                known = true;
            }
        }
        if (!known) {
            *bad = p;
            *badLength = (int)n;
            return false;
        }
        if (!p[n])
            break;
        p += n + 1;
    }
    *mask = m;
    return true;
}
