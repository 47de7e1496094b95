// Moving the untouched original out of the way before the cleaned page takes
// its path: into TargetFolder under the first free name (name, ~1_name, ...
// ~998_name), or into the Recycle Bin (the desktop trash elsewhere).
#pragma once
#include <stddef.h>

// Reads CurrentFile, CleanOptions bit 28 and TargetFolder. Problems with the
// folder are reported as warnings and end in the Recycle Bin; the outcome is
// not returned (the caller looks whether the original is still there).
void DisposeOriginal();

// What the platform provides.
extern const char kPathSeparator;          // '\\' on Windows, '/' elsewhere
extern const size_t kDestinationMax;       // longest destination path
extern const size_t kNameMax;              // longest file name

bool IsExistingFolder(const char *path);
const char *FindFileName(const char *path);
// Moves the file; never replaces anything at `to`.
bool MoveOriginal(const char *from, const char *to);
// Moves the file into the Recycle Bin or trash. False when it stayed.
bool RecycleOriginal(const char *path);
