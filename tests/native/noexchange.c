/* LD_PRELOAD shim for the tests: a file system that cannot exchange two
   names (renameat2 with RENAME_EXCHANGE refused, as on NFS, FAT or many FUSE
   file systems); every other rename goes through. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

int renameat2(int from, const char *old, int to, const char *new, unsigned int flags)
{
    if (flags & RENAME_EXCHANGE) {
        errno = EINVAL;
        return -1;
    }
    return (int)syscall(SYS_renameat2, from, old, to, new, flags);
}
