#include "app/cmdline.h"
#include <string.h>

bool TakeCommandLinePath(const char *tail, char *out, size_t outSize)
{
    size_t n = strlen(tail);
    if (n + 1 > outSize)
        return false;
    memcpy(out, tail, n + 1);
    if (n > 0 && out[n - 1] == '"')
        out[--n] = 0;
    if (out[0] == '"')
        memmove(out, out + 1, n);           // the terminator moves too
    return true;
}
