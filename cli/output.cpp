// Where -o writes, and how, so that it never destroys what the name is:
//   - "-", /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N: that open
//     descriptor, written as it stands (a file from its offset on);
//   - a FIFO, character device or socket: opened for writing, neither
//     created nor truncated, and written;
//   - no file: a new file made whole beside it and given the name (never
//     over a file that appeared meanwhile), with the page's mode less the
//     umask;
//   - a regular file of the runner's own with one link: replaced at once
//     by a new file with its owner, mode, ACL and attributes;
//   - any other regular file (another's, or with other links), or the
//     runner's own in a folder where no new file can be made: truncated
//     and written in place, as a shell's > does, so its owner and links stay.
// The name is opened once without following it and judged on that
// descriptor; a file written in place is checked to be that file before
// it is truncated.
// A symbolic link at the name is followed under the rule for links, and
// stays a link.
#include "cli/output.h"
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

// The descriptor a name stands for, or -1.
int OutputDescriptor(const char *path)
{
    if (strcmp(path, "-") == 0 || strcmp(path, "/dev/stdout") == 0)
        return 1;
    if (strcmp(path, "/dev/stderr") == 0)
        return 2;
    const char *number = nullptr;
    if (strncmp(path, "/dev/fd/", 8) == 0)
        number = path + 8;
    else if (strncmp(path, "/proc/self/fd/", 14) == 0)
        number = path + 14;
    if (!number || !*number || strspn(number, "0123456789") != strlen(number) || strlen(number) > 9)
        return -1;
    return atoi(number);
}

// Whether the open `fd` is the file that was judged at the name.
static bool IsJudgedFile(int fd, const Output *o)
{
    PageIdentity now;
    return FileIdentity(fd, &now) && SameFile(&now, &o->at);
}

bool OpenOutput(const char *path, unsigned pageMode, Output *o)
{
    o->way = kOutputToDescriptor;
    o->fd = -1;
    o->ownFd = false;
    o->folder.open = false;
    o->name[0] = 0;
    o->mode = pageMode;
    int fd = OutputDescriptor(path);
    if (fd >= 0) {
        if (fcntl(fd, F_GETFD) < 0)
            return false;
        o->fd = fd;
        return true;
    }
    // The folder that holds the name, through a link at the name to its
    // target's (under the rule for links); the name opened once, without
    // following anything, and judged on that descriptor.
    PageIdentity reached;
    memset(&o->at, 0, sizeof o->at);
    if (!OpenLinkedPageFolder(path, &o->folder, o->name, sizeof o->name, &reached))
        return false;
    struct stat st;
    fd = openat((int)o->folder.handle, o->name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        if (errno != ENOENT || reached.file)
            return false;
        o->way = kOutputCreate;
        return true;
    }
    close(fd);
    o->at.volume = (uint64_t)st.st_dev;
    o->at.file = (uint64_t)st.st_ino;
    if (reached.file && !SameFile(&reached, &o->at)) {
        errno = EACCES;         // not what the link was judged by
        return false;
    }
    if (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : ELOOP;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        // A pipe, a device: written as it is; never renamed over. Opening a
        // FIFO waits for its reader, as a shell's redirection does.
        fd = openat((int)o->folder.handle, o->name, O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return false;
        if (!IsJudgedFile(fd, o)) {
            close(fd);
            errno = EACCES;
            return false;
        }
        o->way = kOutputToDescriptor;
        o->fd = fd;
        o->ownFd = true;
        return true;
    }
    o->way = st.st_uid == geteuid() && st.st_nlink == 1 ? kOutputReplace : kOutputTruncate;
    return true;
}

void CloseOutput(Output *o)
{
    if (o->ownFd && o->fd >= 0)
        close(o->fd);
    o->fd = -1;
    o->ownFd = false;
    CloseHeldFolder(&o->folder);
}

// Truncates and writes the judged file at the name, as a shell's > does;
// truncated only once it is known to be that file.
// The page's times on a file written (PageIdentity's units: ns).
static bool SetTimes(int fd, const PageIdentity *times)
{
    if (!times)
        return true;
    const int64_t kBillion = 1000000000;
    struct timespec t[2] = {{(time_t)(times->accessed / kBillion), (long)(times->accessed % kBillion)},
                            {(time_t)(times->modified / kBillion), (long)(times->modified % kBillion)}};
    for (struct timespec &one : t) {
        if (one.tv_nsec < 0) {
            one.tv_sec--;
            one.tv_nsec += kBillion;
        }
    }
    return futimens(fd, t) == 0;
}

static bool WriteInPlace(Output *o, int from, const PageIdentity *times)
{
    int fd = openat((int)o->folder.handle, o->name, O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (!IsJudgedFile(fd, o)) {
        close(fd);
        errno = EACCES;
        return false;
    }
    bool ok = ftruncate(fd, 0) == 0 && PlatformCopyFile(from, fd) && SetTimes(fd, times) && fdatasync(fd) == 0;
    int err = errno;
    ok = close(fd) == 0 && ok;
    if (!ok && errno == 0)
        errno = err;
    return ok;
}

bool WriteOutput(Output *o, ByteStream *cleaned, const PageIdentity *times)
{
    int from = (int)cleaned->file;
    switch (o->way) {
    case kOutputToDescriptor:
        return PlatformCopyFile(from, o->fd);
    case kOutputTruncate:
        return WriteInPlace(o, from, times);
    case kOutputCreate:
    case kOutputReplace:
        break;
    }
    NewFile nf;
    if (!CreateNewFile(&o->folder, &nf)) {
        // No new file beside it (a folder the runner may not write): the
        // runner's own file is written in place instead.
        if (o->way == kOutputReplace && (errno == EACCES || errno == EPERM || errno == EROFS))
            return WriteInPlace(o, from, times);
        return false;
    }
    bool ok = PlatformCopyFile(from, nf.file);
    if (ok && o->way == kOutputReplace) {
        FileHandle old;
        ok = OpenEntryForReading(&o->folder, o->name, &old, 0);
        if (ok) {
            CopyAccess(old, o->name, &nf, false);
            PlatformClose(old);
        }
    } else if (ok) {
        mode_t mask = umask(0);
        umask(mask);
        ok = SetNewFileMode(&nf, o->mode & 0777 & ~mask);
    }
    ok = ok && (!times || SetNewFileTimes(&nf, times)) && FinishNewFile(&nf);
    if (ok && o->way == kOutputReplace) {
        ok = ReplaceWithNewFile(&nf, o->name);
    } else if (ok) {
        int err = PlaceNewFile(&nf, o->name);
        ok = err == 0;
        errno = err;
    }
    int err = errno;
    DiscardNewFile(&nf);
    errno = err;
    return ok;
}
