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

static bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

int SplitCommandLine(const char *tail, char *out)
{
    int count = 0;
    const char *p = tail;
    for (;;) {
        while (IsBlank(*p))
            p++;
        if (!*p)
            return count;
        // One argument, up to a blank outside quotes or the end.
        bool quoted = false;
        while (*p && (quoted || !IsBlank(*p))) {
            size_t slashes = strspn(p, "\\");
            if (p[slashes] != '"') {
                // Backslashes not before a quote, or any other byte.
                size_t k = slashes ? slashes : 1;
                memcpy(out, p, k);
                out += k;
                p += k;
                continue;
            }
            memset(out, '\\', slashes / 2);
            out += slashes / 2;
            p += slashes;
            if (slashes % 2) {
                *out++ = '"';
            } else if (quoted && p[1] == '"') {
                *out++ = '"';
                quoted = false;
                p++;
            } else {
                quoted = !quoted;
            }
            p++;
        }
        *out++ = 0;
        count++;
    }
}
