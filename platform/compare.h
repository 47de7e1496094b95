// Case-blind comparison of text and of file names as the platform does it.
// One implementation per platform: compare_posix.cpp and compare_win32.cpp.
#pragma once
#include <stdint.h>

// The locale of every case-blind search of tag text. Taken from the thread
// before the program's entry runs (Windows); unused elsewhere. The one
// process-wide value of a clean, set once and only read afterwards.
extern uint32_t ThreadLocale;
void CaptureThreadLocale();

// Equality of n bytes of tag text with n bytes of a token, ignoring case.
// On Windows the thread locale decides; elsewhere ASCII letters are folded
// and every other byte stands for itself.
bool TextEqualsIgnoreCase(const unsigned char *text, const char *token, int32_t n);
// True where that comparison is plain ASCII folding, so that a position
// whose first byte differs from the token's can be passed over at once.
extern const bool kTextCompareIsAscii;

inline unsigned char UpperAscii(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? (unsigned char)(c - 32) : c;
}

// Whole-string comparison of two names ignoring letter case, as the
// platform compares file names (lstrcmpiA on Windows, ASCII folding here).
bool NamesEqualIgnoreCase(const char *a, const char *b);
