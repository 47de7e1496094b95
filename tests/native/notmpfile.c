/* LD_PRELOAD shim for the tests: a file system without anonymous files
   (O_TMPFILE refused, as on NFS, CIFS, FAT or FUSE); other opens go through. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/syscall.h>
#include <unistd.h>

int open(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    mode_t mode = (flags & (O_CREAT | __O_TMPFILE)) ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return (int)syscall(SYS_openat, AT_FDCWD, path, flags, mode);
}

int open64(const char *path, int flags, ...) __attribute__((alias("open")));

int openat(int dir, const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    mode_t mode = (flags & (O_CREAT | __O_TMPFILE)) ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return (int)syscall(SYS_openat, dir, path, flags, mode);
}

int openat64(int dir, const char *path, int flags, ...) __attribute__((alias("openat")));
