// What the platform provides for moving an original away: moves that never
// replace anything, the Recycle Bin (the desktop trash elsewhere), and the
// rules of names and paths. One implementation per platform:
// dispose_posix.cpp and dispose_win32.cpp.
#pragma once
#include <stddef.h>

extern const char kPathSeparator;          // '\\' on Windows, '/' elsewhere
extern const size_t kDestinationMax;       // longest destination path, in PathUnits
extern const size_t kNameMax;              // longest file name, in PathUnits

// The length of a path or name as the two limits above count it: bytes
// here, UTF-16 units on Windows (where a path's text may be UTF-8).
size_t PathUnits(const char *text);

bool IsExistingFolder(const char *path);
const char *FindFileName(const char *path);

enum MoveResult { kMoved, kMoveNameTaken, kMoveFailed };
// Moves `from` to `to` and never replaces anything at `to`: kMoveNameTaken
// when `to` exists (the caller then tries the next free name), kMoveFailed on
// any other failure, leaving no file of its own behind. Across file systems
// the original is copied with its owner, mode, times and extended
// attributes, flushed, given the free name, and only then removed.
MoveResult MoveOriginal(const char *from, const char *to);
// Moves the file into the Recycle Bin or trash. False when it stayed.
bool RecycleOriginal(const char *path);
