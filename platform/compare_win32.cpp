// Case-blind comparison of tag text under the thread's locale.
#include <windows.h>
#include "platform/compare.h"

uint32_t ThreadLocale;
// The locale decides what equals what: every position is compared.
const bool kTextCompareIsAscii = false;

void CaptureThreadLocale()
{
    ThreadLocale = GetThreadLocale();
}

// Taken before the program's entry runs. It lives here, beside the only
// user of ThreadLocale, so that the linker always keeps it.
static const bool kLocaleCaptured = (CaptureThreadLocale(), true);

bool TextEqualsIgnoreCase(const unsigned char *text, const char *token, int32_t n)
{
    (void)kLocaleCaptured;
    return CompareStringA(ThreadLocale, NORM_IGNORECASE, (const char *)text, n,
                          token, n) == CSTR_EQUAL;
}

bool NamesEqualIgnoreCase(const char *a, const char *b)
{
    return lstrcmpiA(a, b) == 0;
}
