#include "clean/removals.h"

const RemovalKindInfo kRemovalKinds[kRemovalKindCount] = {
#define WEBTRIM_REMOVAL_INFO(id, name, what) {name, what},
    WEBTRIM_REMOVAL_KINDS(WEBTRIM_REMOVAL_INFO)
#undef WEBTRIM_REMOVAL_INFO
};
