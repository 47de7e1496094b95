// The path named on the command line.
#pragma once
#include <stddef.h>

// Copies the command-line tail into `out` as a path: a trailing double quote
// is cut off, then a leading one. False when it does not fit, so that a
// long path is refused rather than cut into another file's name.
bool TakeCommandLinePath(const char *tail, char *out, size_t outSize);
