#include "platform/path_win32.h"

// Declared for Vista and later; only passed where the code page is UTF-8,
// which no older system gives.
#ifndef WC_ERR_INVALID_CHARS
#define WC_ERR_INVALID_CHARS 0x80
#endif

int AnsiUnits(const char *text)
{
    int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, NULL, 0);
    return n > 0 ? n - 1 : -1;
}

bool AnsiToWide(const char *text, wchar_t *out, int outUnits)
{
    if (outUnits <= 0)
        return false;
    int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, out, outUnits);
    if (n <= 0) {
        out[0] = 0;
        return false;
    }
    return true;
}

bool WideToAnsi(const wchar_t *text, char *out, size_t outSize)
{
    if (outSize == 0)
        return false;
    int size = outSize > 0x7FFFFFFF ? 0x7FFFFFFF : (int)outSize;
    // UTF-8 can write every character but a lone surrogate; a legacy code
    // page reports the characters it lacks, and must not pick a look-alike.
    BOOL lost = FALSE;
    int n = GetACP() == CP_UTF8
        ? WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, out, size, NULL, NULL)
        : WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, out, size, NULL, &lost);
    if (n <= 0 || lost) {
        out[0] = 0;
        return false;
    }
    return true;
}

bool Utf8ToWide(const char *text, wchar_t *out, int outUnits)
{
    if (outUnits <= 0)
        return false;
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out, outUnits);
    if (n <= 0) {
        out[0] = 0;
        return false;
    }
    return true;
}
