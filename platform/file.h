// The platform's open files as the streams use them: a handle, positional
// reads and writes, and anonymous temporary files. One implementation per
// platform: fs_posix.cpp and fs_win32.cpp.
#pragma once
#include <stddef.h>
#include <stdint.h>

typedef intptr_t FileHandle;        // a descriptor on POSIX, a HANDLE on Windows

// Positional reads and writes: -1 on error, else the number of bytes moved
// (a read of 0 is the end of the file). Writes move everything or fail.
long PlatformReadAt(FileHandle f, void *buf, size_t n, int64_t offset);
bool PlatformWriteAt(FileHandle f, const void *buf, size_t n, int64_t offset);
bool PlatformClose(FileHandle f);

// Test seam: when set, every positional read and write asks it first and
// fails when it answers false (a disk error that cannot be made from outside).
extern bool (*FileFaultHook)(FileHandle f, bool writing, int64_t offset);

// An anonymous temporary file, read and write, private to this process and
// gone when closed or when the process dies.
bool CreateTempFile(FileHandle *file);
