// Case-blind comparison of tag text without a locale service: ASCII letters
// fold, every other byte stands for itself. Every token the passes search for
// is ASCII, so the answers match those of a locale comparison on ASCII text.
#include "platform/compare.h"

uint32_t ThreadLocale;
const bool kTextCompareIsAscii = true;

void CaptureThreadLocale()
{
}

bool TextEqualsIgnoreCase(const unsigned char *text, const char *token, int32_t n)
{
    for (int32_t i = 0; i < n; i++) {
        if (UpperAscii(text[i]) != UpperAscii((unsigned char)token[i]))
            return false;
    }
    return true;
}

bool NamesEqualIgnoreCase(const char *a, const char *b)
{
    for (;; a++, b++) {
        if (UpperAscii((unsigned char)*a) != UpperAscii((unsigned char)*b))
            return false;
        if (!*a)
            return true;
    }
}
