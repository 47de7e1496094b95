// File services of a cleaning run on POSIX systems.
#include "clean/fs.h"
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

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
        if (r <= 0)
            return false;
        p += r;
        n -= (size_t)r;
        offset += r;
    }
    return true;
}

bool PlatformClose(FileHandle f)
{
    return close((int)f) == 0;
}

PageKind ProbePage(const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return kPageMissing;
    return S_ISREG(st.st_mode) ? kPageRegular : kPageNotRegular;
}

bool OpenPageForReading(const char *path, ByteStream *s)
{
    // O_NONBLOCK: should a pipe have taken the page's place since the probe,
    // opening it does not wait for a writer.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    StreamAttach(s, fd);
    return true;
}

static const char *TempFolder()
{
    const char *dir = getenv("TMPDIR");
    return (dir && *dir) ? dir : "/tmp";
}

bool CreateTempStream(ByteStream *s)
{
    const char *dir = TempFolder();
#ifdef O_TMPFILE
    int fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        StreamAttach(s, fd);
        return true;
    }
#endif
    // No anonymous files here: make a named one and unlink it at once.
    size_t n = strlen(dir);
    char *path = (char *)malloc(n + 16);
    if (!path)
        return false;
    memcpy(path, dir, n);
    memcpy(path + n, "/webtrimXXXXXX", 15);
    fd = mkostemp(path, O_CLOEXEC);
    if (fd >= 0)
        unlink(path);
    free(path);
    if (fd < 0)
        return false;
    StreamAttach(s, fd);
    return true;
}

bool PathExists(const char *path)
{
    struct stat st;
    return lstat(path, &st) == 0;
}

// The folder part of a path, "." when it has none.
static void FolderOf(const char *path, char *out, size_t size)
{
    const char *slash = strrchr(path, '/');
    if (!slash) {
        snprintf(out, size, ".");
        return;
    }
    size_t n = (size_t)(slash - path);
    if (n == 0)
        n = 1;                              // the root folder
    if (n >= size)
        n = size - 1;
    memcpy(out, path, n);
    out[n] = 0;
}

bool CreateNewPage(const char *pagePath, NewPage *np)
{
    np->created = false;
    np->placed = false;
    np->tempPath[0] = 0;
    char folder[sizeof np->tempPath];
    FolderOf(pagePath, folder, sizeof folder);
    if (strlen(folder) + 12 >= sizeof np->tempPath)
        return false;

    int fd = -1;
#ifdef O_TMPFILE
    fd = open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#endif
    if (fd < 0) {
        // A short hidden name in the same folder, with the mode a new file
        // gets: 0666 less the umask.
        size_t n = strlen(folder);          // checked above: room for the name
        memcpy(np->tempPath, folder, n);
        memcpy(np->tempPath + n, "/.wtXXXXXX", 11);
        fd = mkostemp(np->tempPath, O_CLOEXEC);
        if (fd < 0) {
            np->tempPath[0] = 0;
            return false;
        }
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }
    StreamAttach(&np->stream, fd);
    np->created = true;
    return true;
}

bool FinishNewPage(NewPage *np)
{
    return StreamFlush(&np->stream) && !StreamWriteFailed(&np->stream);
}

// Links the anonymous file at `to`; fails when something is there.
static bool LinkAnonymous(int fd, const char *to)
{
    char proc[64];
    snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, proc, AT_FDCWD, to, AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno == EEXIST)
        return false;
#ifdef AT_EMPTY_PATH
    return linkat(fd, "", AT_FDCWD, to, AT_EMPTY_PATH) == 0;
#else
    return false;
#endif
}

static bool MoveNoReplace(const char *from, const char *to)
{
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    // File systems without RENAME_NOREPLACE: a hard link fails rather than
    // overwrite.
    if (link(from, to) != 0)
        return false;
    unlink(from);
    return true;
}

bool PlaceNewPage(NewPage *np, const char *pagePath, char *savedAs, size_t savedAsSize)
{
    if (savedAsSize)
        savedAs[0] = 0;
    int fd = (int)np->stream.file;
    bool ok;
    if (np->tempPath[0])
        ok = MoveNoReplace(np->tempPath, pagePath);
    else
        ok = LinkAnonymous(fd, pagePath);
    if (ok) {
        np->placed = true;
        np->tempPath[0] = 0;
        return StreamClose(&np->stream);
    }
    // Something took the page's path meanwhile: keep the cleaned page under
    // a free name of its own beside it.
    if (!np->tempPath[0]) {
        char folder[sizeof np->tempPath];
        FolderOf(pagePath, folder, sizeof folder);
        for (int i = 0; i < 100 && !np->tempPath[0]; i++) {
            char name[sizeof np->tempPath + 32];
            snprintf(name, sizeof name, "%s/wt%06ld.htm", folder,
                     (long)((getpid() * 7919L + i * 104729L) % 1000000));
            size_t n = strlen(name);
            if (n < sizeof np->tempPath && LinkAnonymous(fd, name))
                memcpy(np->tempPath, name, n + 1);
        }
    }
    if (np->tempPath[0]) {
        snprintf(savedAs, savedAsSize, "%s", np->tempPath);
        np->placed = true;                  // kept: Discard must not remove it
    }
    StreamClose(&np->stream);
    return false;
}

void DiscardNewPage(NewPage *np)
{
    if (!np->created)
        return;
    if (!np->placed && np->tempPath[0])
        unlink(np->tempPath);
    if (np->stream.isOpen) {
        // Nothing of it is wanted any more: drop the buffer before closing.
        np->stream.pos = 0;
        StreamClose(&np->stream);
    }
    np->created = false;
}
