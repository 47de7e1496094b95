// Disposal services on POSIX desktops: moves that never replace anything,
// across file systems by a copy that is complete before it gets its name,
// and the freedesktop trash through GIO.
#include "platform/move.h"
#include <errno.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include "platform/fs.h"
#include "platform/fs_posix.h"

const char kPathSeparator = '/';
const size_t kDestinationMax = PATH_MAX - 1;
const size_t kNameMax = NAME_MAX;

size_t PathUnits(const char *text)
{
    return strlen(text);
}

bool IsExistingFolder(const char *path)
{
    struct stat st;
    return path[0] && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

const char *FindFileName(const char *path)
{
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// Copies the rest of `from` into `to`; false with errno set on failure.
static bool CopyContent(int from, int to)
{
    enum { kChunk = 1 << 20 };
    char *buf = (char *)malloc(kChunk);
    if (!buf) {
        errno = ENOMEM;
        return false;
    }
    bool ok = true;
    for (;;) {
        ssize_t n = read(from, buf, kChunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            ssize_t w = write(to, buf + done, (size_t)(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                if (w == 0)
                    errno = ENOSPC;
                ok = false;
            } else {
                done += w;
            }
        }
        if (!ok)
            break;
    }
    int err = errno;
    free(buf);
    errno = err;
    return ok;
}

// The move to another file system. The copy is made where no one sees it
// (an anonymous file, or a hidden 0600 one), complete with the original's
// owner, mode, times and attributes, and synced; only then does it take the
// free name, and only then does the original go. Any failure leaves the
// original where it was and no copy anywhere.
static MoveResult CopyAcross(const char *from, const char *to)
{
    char folder[PATH_MAX], hidden[PATH_MAX];
    hidden[0] = 0;
    if (!FolderOf(to, folder, sizeof folder))
        return kMoveFailed;
    int src = open(from, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (src < 0)
        return kMoveFailed;
    struct stat st;
    if (fstat(src, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(src);
        errno = EINVAL;
        return kMoveFailed;
    }
    int dst = CreateAnonymousIn(folder);
    if (dst < 0)
        dst = CreateNamedTemp(folder, hidden, sizeof hidden);
    if (dst < 0) {
        int err = errno;
        close(src);
        errno = err;
        return kMoveFailed;
    }
    MoveResult result = kMoveFailed;
    int err = 0;
    bool named = false;
    if (!CopyContent(src, dst)) {
        err = errno;
    } else {
        CopyFileAttributes(src, &st, dst, true);
        if (fsync(dst) != 0)
            err = errno;
        else
            err = hidden[0] ? RenameNoReplace(hidden, to) : LinkNoReplace(dst, to);
        named = err == 0;
    }
    if (named) {
        SyncFolderOf(to);
        // The original goes last, and only if its path still names the
        // file that was copied.
        struct stat now;
        if (lstat(from, &now) != 0)
            err = errno;
        else if (now.st_dev != st.st_dev || now.st_ino != st.st_ino)
            err = EBUSY;
        else if (unlink(from) != 0)
            err = errno;
        if (err == 0)
            result = kMoved;
        else
            unlink(to);
    } else if (hidden[0]) {
        unlink(hidden);
    }
    if (hidden[0])
        ForgetNamedTemp(hidden);
    close(dst);
    close(src);
    if (result != kMoved && err == EEXIST)
        result = kMoveNameTaken;
    errno = err;
    return result;
}

MoveResult MoveOriginal(const char *from, const char *to)
{
    int err = RenameNoReplace(from, to);
    if (err == 0)
        return kMoved;
    if (err == EXDEV)
        return CopyAcross(from, to);
    errno = err;
    return err == EEXIST ? kMoveNameTaken : kMoveFailed;
}

// errno for the trash's refusal, so that the run can pass it on.
static int ErrnoOf(const GError *error)
{
    if (!error || error->domain != G_IO_ERROR)
        return EIO;
    switch (error->code) {
    case G_IO_ERROR_NOT_FOUND:
        return ENOENT;
    case G_IO_ERROR_PERMISSION_DENIED:
        return EACCES;
    case G_IO_ERROR_NOT_SUPPORTED:
        return ENOTSUP;
    case G_IO_ERROR_NO_SPACE:
        return ENOSPC;
    case G_IO_ERROR_FILENAME_TOO_LONG:
        return ENAMETOOLONG;
    default:
        return EIO;
    }
}

bool RecycleOriginal(const char *path)
{
    GFile *file = g_file_new_for_path(path);
    GError *error = NULL;
    gboolean ok = g_file_trash(file, NULL, &error);
    g_object_unref(file);
    if (!ok) {
        int err = ErrnoOf(error);
        g_clear_error(&error);
        errno = err;
    }
    return ok;
}
