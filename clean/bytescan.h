// Scans over runs of bytes that the passes would otherwise make byte by
// byte: the words of a cell's text, and the end of a tag. Sixteen bytes at a
// time where the processor has SSE2, one at a time elsewhere; the answers
// are the same.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Word counting in text: a word is a run of bytes other than blanks (space,
// CR, LF, tab) and '<', counted at the byte that ends it. Reads p[0, n) up to
// the first '<'; answers its index, or n when there is none. Adds the words
// that end before it or at it to *words; *inWord says whether the byte
// before p[0] was a word byte and, when the answer is n, whether p[n - 1]
// is.
size_t CountWordsUntilTag(const unsigned char *p, size_t n, bool *inWord, int64_t *words);

// The index of the first '>' in p[0, n), or n. Sets *marked when one of
// the bytes before it, with bit 5 set (a letter in lower case), is in
// `marks`, a zero-terminated list of one to four such bytes.
size_t FindTagEnd(const unsigned char *p, size_t n, const char *marks, bool *marked);
