// Byte classes and case folding that the passes share: ASCII letters, ASCII
// case folding by table (one load a byte), and the length of a UTF-8
// character. Pure inline functions of their arguments.
#pragma once
#include <stddef.h>
#include <stdint.h>

// An ASCII letter; any other value (a byte from 0x80 up, a code point past
// ASCII, a negative int) is not.
inline bool IsLetter(uint32_t c)
{
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

// ASCII case folding: every other byte stays as it is.
struct CaseTable {
    unsigned char of[256];
    constexpr explicit CaseTable(bool upper) : of()
    {
        for (int c = 0; c < 256; c++)
            of[c] = (unsigned char)(upper && c >= 'a' && c <= 'z'   ? c - 32
                                    : !upper && c >= 'A' && c <= 'Z' ? c + 32
                                                                     : c);
    }
};
constexpr CaseTable kUpperCase(true), kLowerCase(false);
constexpr const unsigned char *kUpper = kUpperCase.of;
constexpr const unsigned char *kLower = kLowerCase.of;

inline unsigned char Upper(unsigned char c)
{
    return kUpperCase.of[c];
}

inline unsigned char Lower(unsigned char c)
{
    return kLowerCase.of[c];
}

// The length of the UTF-8 character at p (n bytes left, n > 0), 0 when the
// bytes there are not one: no overlong forms, surrogates or code points past
// U+10FFFF.
inline size_t Utf8Length(const unsigned char *p, size_t n)
{
    unsigned char c = p[0];
    size_t length = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                  : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (length == 0 || length > n)
        return 0;
    for (size_t i = 1; i < length; i++)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] > 0x9F) || (c == 0xF0 && p[1] < 0x90) ||
        (c == 0xF4 && p[1] > 0x8F))
        return 0;
    return length;
}
