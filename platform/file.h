// The platform's open files as the streams use them: a handle, positional
// reads and writes, and anonymous temporary files. One implementation per
// platform: file_posix.cpp and file_win32.cpp.
#pragma once
#include <stddef.h>
#include <stdint.h>

typedef intptr_t FileHandle;        // a descriptor on POSIX, a HANDLE on Windows

// Positional reads and writes: -1 on error, else the number of bytes moved
// (a read of 0 is the end of the file). Writes move everything or fail.
long PlatformReadAt(FileHandle f, void *buf, size_t n, int64_t offset);
bool PlatformWriteAt(FileHandle f, const void *buf, size_t n, int64_t offset);
bool PlatformClose(FileHandle f);

// Asks the system to start writing the n bytes at offset to the disk and
// returns without waiting; a later sync then has less to wait for. Only a
// hint: nothing where the system has no such call, and no error.
void PlatformStartWriting(FileHandle f, int64_t offset, int64_t n);

// Writes all n bytes at the file's current offset (a descriptor, a pipe, a
// terminal), again after a signal. On failure false with the system's error
// (LastSystemError); a write that moves nothing counts as a full disk
// (ENOSPC, ERROR_DISK_FULL), as it does for PlatformWriteAt. Unlike the
// positional calls it does not ask FileFaultHook.
bool PlatformWriteAll(FileHandle f, const void *buf, size_t n);

#ifndef _WIN32
// Copies the whole of `from` (from its start) to `to` at its current
// offset, inside the system where it will, else through a buffer; false
// with errno as PlatformWriteAll leaves it (or the read's).
bool PlatformCopyFile(FileHandle from, FileHandle to);
#endif

// Copies up to n bytes of `from` at fromOffset to `to` at toOffset inside
// the system, never through a buffer of ours: how many (at least one), or
// -1 where the system will not (another file system, a platform without
// it, a fault hook set, the end of `from`, an error). On -1 the caller
// copies what is left through its own reads and writes, which find the end
// or report the error as they would have.
int64_t PlatformCopyRange(FileHandle from, int64_t fromOffset, FileHandle to,
                          int64_t toOffset, int64_t n);

// Test seam: when set, every positional read and write asks it first and
// fails when it answers false (a disk error that cannot be made from outside).
extern bool (*FileFaultHook)(FileHandle f, bool writing, int64_t offset);

// An anonymous temporary file, read and write, private to this process and
// gone when closed or when the process dies.
bool CreateTempFile(FileHandle *file);

// The platform's code of the last failure: errno / GetLastError.
int LastSystemError();
void SetLastSystemError(int error);

// The system's words for an error code of LastSystemError().
void DescribeSystemError(int error, char *out, size_t size);
