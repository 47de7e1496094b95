#include "app/options.h"
#include <string.h>

CleanSwitches SwitchesFromWord(uint32_t word)
{
    CleanSwitches sw;
    sw.comments = (word & kOptComments) != 0;
    sw.scripts = (word & kOptScripts) != 0;
    sw.styles = (word & kOptStyles) != 0;
    sw.forms = (word & kOptForms) != 0;
    sw.internet = (word & kOptInternet) != 0;
    sw.meta = (word & kOptMeta) != 0;
    sw.pictures = (word & kOptPictures) != 0;
    sw.modules = (word & kOptModules) != 0;
    sw.extract = (word & kOptExtract) != 0;
    sw.frames = (word & kOptFrames) != 0;
    sw.badColors = (word & kOptBadColors) != 0;
    sw.cutTables = (word & kOptCutTables) != 0;
    sw.extractFirst = (word & kOptExtractFirst) != 0;
    sw.anyLayout = (word & kOptAnyLayout) != 0;
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
    {"comments", kOptComments},
    {"scripts", kOptScripts},
    {"styles", kOptStyles},
    {"forms", kOptForms},
    {"internet", kOptInternet},
    {"meta", kOptMeta},
    {"pictures", kOptPictures},
    {"modules", kOptModules},
    {"frames", kOptFrames},
};
const int kElementKindCount = sizeof kElementKinds / sizeof kElementKinds[0];

const NamedSwitch kNamedSwitches[] = {
    {"extract", "extract", "no-extract", kOptExtract},
    {"cut-tables", "cut-tables", "no-cut-tables", kOptCutTables},
    {"extract-first", "extract-first", "extract-last", kOptExtractFirst},
    {"any-layout", "any-layout", "table-layout", kOptAnyLayout},
    {"avoid-bad-colors", "avoid-bad-colors", "no-avoid-bad-colors", kOptBadColors},
    {"trash", "trash", "move-to", kOptRecycleBin},
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
