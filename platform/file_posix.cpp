// Open files on POSIX systems: positional reads and writes, copies inside
// the system, anonymous temporary files.
#include "platform/file.h"
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include "platform/signals.h"

bool (*FileFaultHook)(FileHandle f, bool writing, int64_t offset);

long PlatformReadAt(FileHandle f, void *buf, size_t n, int64_t offset)
{
    if (FileFaultHook && !FileFaultHook(f, false, offset))
        return -1;
    for (;;) {
        ssize_t r = pread((int)f, buf, n, (off_t)offset);
        if (r >= 0)
            return (long)r;
        if (errno != EINTR)
            return -1;
    }
}

bool PlatformWriteAt(FileHandle f, const void *buf, size_t n, int64_t offset)
{
    if (FileFaultHook && !FileFaultHook(f, true, offset))
        return false;
    const char *p = (const char *)buf;
    while (n > 0) {
        ssize_t r = pwrite((int)f, p, n, (off_t)offset);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            if (r == 0)
                errno = ENOSPC;
            return false;
        }
        p += r;
        n -= (size_t)r;
        offset += r;
    }
    return true;
}

void PlatformStartWriting(FileHandle f, int64_t offset, int64_t n)
{
#ifdef SYNC_FILE_RANGE_WRITE
    (void)sync_file_range((int)f, (off_t)offset, (off_t)n, SYNC_FILE_RANGE_WRITE);
#else
    (void)f, (void)offset, (void)n;
#endif
}

bool PlatformWriteAll(FileHandle f, const void *buf, size_t n)
{
    const char *p = (const char *)buf;
    while (n > 0) {
        ssize_t r = write((int)f, p, n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            if (r == 0)
                errno = ENOSPC;
            return false;
        }
        p += r;
        n -= (size_t)r;
    }
    return true;
}

bool PlatformCopyFile(FileHandle from, FileHandle to)
{
    struct stat st;
    if (fstat((int)from, &st) != 0)
        return false;
    off_t at = 0;
    while (at < st.st_size) {
        ssize_t n = sendfile((int)to, (int)from, &at, (size_t)(st.st_size - at));
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EINVAL || errno == ENOSYS))
            break;              // no sendfile to this output: copy by hand
        return false;
    }
    static thread_local char buf[1 << 16];
    while (at < st.st_size) {
        ssize_t n = pread((int)from, buf, sizeof buf, at);
        if (n <= 0)
            return false;
        if (!PlatformWriteAll(to, buf, (size_t)n))
            return false;
        at += n;
    }
    return true;
}

bool PlatformClose(FileHandle f)
{
    return close((int)f) == 0;
}

int64_t PlatformCopyRange(FileHandle from, int64_t fromOffset, FileHandle to,
                          int64_t toOffset, int64_t n)
{
    if (FileFaultHook)
        return -1;
    // A file of a pseudo file system may answer 0 before its end: 0 is left
    // to the reads to confirm.
    int64_t done = 0;
    while (done < n) {
        loff_t in = (loff_t)(fromOffset + done), out = (loff_t)(toOffset + done);
        size_t chunk = n - done > (int64_t)(1 << 30) ? (size_t)1 << 30 : (size_t)(n - done);
        ssize_t r = copy_file_range((int)from, &in, (int)to, &out, chunk, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += r;
    }
    return done > 0 ? done : -1;
}

int LastSystemError()
{
    return errno;
}

static const char *TempFolder()
{
    const char *dir = getenv("TMPDIR");
    return (dir && *dir) ? dir : "/tmp";
}

bool CreateTempFile(FileHandle *file)
{
    const char *dir = TempFolder();
#ifdef O_TMPFILE
    int fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        *file = fd;
        return true;
    }
#endif
    // No anonymous files here: make a named one and unlink it at once,
    // with the termination signals held in between.
    size_t n = strlen(dir);
    char *path = (char *)malloc(n + 16);
    if (!path)
        return false;
    memcpy(path, dir, n);
    memcpy(path + n, "/webtrimXXXXXX", 15);
    EnterTemporarySection();
    fd = mkostemp(path, O_CLOEXEC);
    int err = errno;
    if (fd >= 0)
        unlink(path);
    LeaveTemporarySection();
    free(path);
    if (fd < 0) {
        errno = err;
        return false;
    }
    *file = fd;
    return true;
}


void SetLastSystemError(int error)
{
    errno = error;
}

void DescribeSystemError(int error, char *out, size_t size)
{
    if (!size)
        return;
    // The GNU strerror_r answers its own string, or fills the buffer.
    const char *text = strerror_r(error, out, size);
    if (text != out)
        snprintf(out, size, "%s", text);
}
