// Paths and texts on Windows between the ANSI code page and UTF-16.
//
// The program keeps every path as text in the ANSI code page, as the "A"
// calls take it. The manifest asks for UTF-8 as that code page: Windows 10
// version 1903 and later give it, so any name can be written; older systems
// keep the user's legacy code page, where a name with characters outside it
// cannot be named at all. Where an "A" call would lose characters or cut a
// long UTF-8 path (a fixed buffer of MAX_PATH bytes), the "W" call is made
// and its text converted here.
//
// The system measures a path in UTF-16 units: MAX_PATH of them, the zero
// included. One unit takes at most 3 bytes in UTF-8 (a pair of units, 4) and
// 2 in a legacy code page, so kAnsiPathSize bytes hold any path it takes.
#pragma once
#include <windows.h>
#include <stddef.h>

enum { kAnsiPathSize = 3 * MAX_PATH };

// The length of `text` in UTF-16 units, or -1 when it is not valid text in
// the ANSI code page.
int AnsiUnits(const char *text);

// `text` in UTF-16 into `out` (outUnits units, the zero included); false when
// it is not valid text in the ANSI code page or does not fit.
bool AnsiToWide(const char *text, wchar_t *out, int outUnits);

// `text` in the ANSI code page into `out`; false when it does not fit, or
// when a character has no form in the code page (the text would then name
// another file, or none).
bool WideToAnsi(const wchar_t *text, char *out, size_t outSize);

// UTF-8 text into UTF-16, for what is shown on the screen whatever the code
// page; false when it is not valid UTF-8 or does not fit.
bool Utf8ToWide(const char *text, wchar_t *out, int outUnits);
