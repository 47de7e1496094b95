// Case-blind comparison of tag text under the thread's locale.
//
// The page's bytes are read in the code page that the comparison has always
// read them in, not in the process's ANSI code page: where the manifest makes
// that UTF-8, a byte above 0x7F would otherwise start a UTF-8 sequence (or
// stand for U+FFFD), and a page would be cleaned differently than before.
#include <windows.h>
#include <stdlib.h>
#include "platform/compare.h"

uint32_t ThreadLocale;
// The locale decides what equals what: every position is compared.
const bool kTextCompareIsAscii = false;

// The code page the page's bytes are read in (see CaptureThreadLocale).
static UINT TextCodePage;

// The ANSI code page of programs that ask for none: GetACP() unless this
// process was given UTF-8 by its manifest, else the code page of the
// system's locale, which GetACP() gives them.
static UINT LegacyAnsiCodePage()
{
    UINT acp = GetACP();
    if (acp != CP_UTF8)
        return acp;
    DWORD cp = 0;
    if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       (LPWSTR)&cp, sizeof cp / sizeof(wchar_t)) && cp != 0)
        return cp;
    return acp;
}

// CompareStringA reads its text in the ANSI code page when given the user's
// own locale, and in the locale's code page for any other.
void CaptureThreadLocale()
{
    ThreadLocale = GetThreadLocale();
    DWORD cp = 0;
    if (ThreadLocale != GetUserDefaultLCID() &&
        GetLocaleInfoW(ThreadLocale, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER, (LPWSTR)&cp,
                       sizeof cp / sizeof(wchar_t)) && cp != 0)
        TextCodePage = cp;
    else
        TextCodePage = LegacyAnsiCodePage();
}

// Taken before the program's entry runs. It lives here, beside the only
// user of ThreadLocale, so that the linker always keeps it.
static const bool kLocaleCaptured = (CaptureThreadLocale(), true);

enum { kShortText = 64 };   // units converted on the stack; the tokens are shorter

// n bytes in UTF-16, as CompareStringA converts them: every ANSI code page
// keeps the bytes below 0x80 as they are. Gives the units written, 0 when
// none or when `out` is too small.
static int Widen(const unsigned char *bytes, int32_t n, wchar_t *out, int outUnits)
{
    bool ascii = true;
    for (int32_t i = 0; i < n && ascii; i++)
        ascii = bytes[i] < 0x80;
    if (!ascii)
        return MultiByteToWideChar(TextCodePage, 0, (const char *)bytes, n, out, outUnits);
    if (n > outUnits)
        return 0;
    for (int32_t i = 0; i < n; i++)
        out[i] = bytes[i];
    return n;
}

static bool EqualWide(const wchar_t *a, int na, const wchar_t *b, int nb)
{
    return CompareStringW(ThreadLocale, NORM_IGNORECASE, a, na, b, nb) == CSTR_EQUAL;
}

bool TextEqualsIgnoreCase(const unsigned char *text, const char *token, int32_t n)
{
    (void)kLocaleCaptured;
    if (n <= 0)
        return EqualWide(L"", 0, L"", 0);
    wchar_t a[kShortText], b[kShortText];
    if (n <= kShortText) {
        int na = Widen(text, n, a, kShortText);
        int nb = Widen((const unsigned char *)token, n, b, kShortText);
        return EqualWide(a, na, b, nb);
    }
    // Never for the program's own tokens; kept for any caller.
    wchar_t *la = (wchar_t *)malloc(2 * sizeof(wchar_t) * (size_t)n);
    if (!la)
        return false;
    int na = Widen(text, n, la, n);
    int nb = Widen((const unsigned char *)token, n, la + n, n);
    bool equal = EqualWide(la, na, la + n, nb);
    free(la);
    return equal;
}

bool NamesEqualIgnoreCase(const char *a, const char *b)
{
    return lstrcmpiA(a, b) == 0;
}
