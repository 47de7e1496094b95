// The pages named on the Windows command line.
#pragma once
#include <stddef.h>

// Copies the command-line tail into `out` as a path: a trailing double quote
// is cut off, then a leading one. False when it does not fit, so that a
// long path is refused rather than cut into another file's name.
bool TakeCommandLinePath(const char *tail, char *out, size_t outSize);

// Splits a command-line tail into its arguments as CommandLineToArgvW splits
// the arguments after a program's name:
//   - blanks and tabs outside quotes separate arguments;
//   - a double quote starts or ends a quoted part and is dropped;
//   - inside a quoted part, two double quotes give one and end the part;
//   - 2n backslashes before a double quote give n backslashes and the quote
//     acts as above; 2n+1 give n backslashes and a double quote as it is;
//   - any other backslash stands for itself.
// Writes the arguments one after another into `out`, each ended by a zero,
// and gives their count. `out` needs at most strlen(tail) + 1 bytes: no
// argument is longer than its text, and each zero but the last takes the
// place of a blank.
int SplitCommandLine(const char *tail, char *out);
