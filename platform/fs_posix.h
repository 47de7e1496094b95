// File services that the POSIX disposal shares with the run's write-back.
#pragma once
#include <stddef.h>
#include <sys/stat.h>

// Moves `from` to `to`, never over anything there: 0, or the errno (EEXIST
// when the name is taken). Where the file system cannot refuse to replace,
// the name is claimed with an exclusive empty placeholder first.
int RenameNoReplace(const char *from, const char *to);

// Gives the anonymous file `fd` the name `to`, never over anything there:
// 0, or the errno.
int LinkNoReplace(int fd, const char *to);

// The folder part of a path, "." when it has none; false when too long.
bool FolderOf(const char *path, char *out, size_t size);

// Syncs the folder that holds `path`, so a name just made there lasts.
void SyncFolderOf(const char *path);

// An anonymous file in `folder`, or -1 (the file system has none, or the
// folder refuses).
int CreateAnonymousIn(const char *folder);

// A named temporary ".wtXXXXXX" in `folder`, mode 0600, removed by a
// termination signal until ForgetNamedTemp; its path goes to `path`.
// -1 on failure.
int CreateNamedTemp(const char *folder, char *path, size_t size);
void ForgetNamedTemp(const char *path);

// Gives `to` what the file `from` (described by *st) has: owner and group
// where the runner may set them, extended attributes and ACL (an inherited
// ACL is removed when `from` has none), mode bits, and with `withTimes` its
// access and modification times.
void CopyFileAttributes(int from, const struct stat *st, int to, bool withTimes);
