#include "app/result.h"
#include <string.h>

void StartPageResult(PageResult *r)
{
    memset(r, 0, sizeof *r);
    r->outcome = kPageFailed;
    r->bytesBefore = -1;
    r->bytesAfter = -1;
    r->original = kOriginalStays;
    r->stop.id = -1;
}
