// Moves on POSIX systems, from one held folder to another: renameat2 with
// RENAME_NOREPLACE on one file system, a copy that is complete and checked
// before it gets its name across file systems.
#include "platform/move.h"
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include "platform/durable.h"
#include "platform/place.h"

static bool IsFile(int fd, const PageIdentity *id)
{
    PageIdentity now;
    return FileIdentity(fd, &now) && (!id || SameIdentity(&now, id));
}

// A rename that never replaces: 0 or the error. Where the file system
// cannot refuse to replace, the destination is claimed with an exclusive
// empty placeholder, then renamed over.
static int RenameBetween(const HeldFolder *from, const char *name, const HeldFolder *to,
                         const char *toName)
{
    int a = (int)from->handle, b = (int)to->handle;
    if (renameat2(a, name, b, toName, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    int fd = openat(b, toName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    close(fd);
    if (renameat(a, name, b, toName) == 0)
        return 0;
    int err = errno;
    unlinkat(b, toName, 0);
    return err;
}

// Copies the rest of `from` into `to`; false with errno set on failure.
static bool CopyContent(int from, int to)
{
    for (int64_t at = 0;;) {
        int64_t n = PlatformCopyRange(from, at, to, at, (int64_t)1 << 30);
        if (n > 0) {
            at += n;
            continue;
        }
        // The system will not (or the end was reached): through a buffer.
        enum { kChunk = 1 << 20 };
        char *buf = (char *)malloc(kChunk);
        if (!buf) {
            errno = ENOMEM;
            return false;
        }
        bool ok = true;
        for (;;) {
            long got = PlatformReadAt(from, buf, kChunk, at);
            if (got <= 0) {
                ok = got == 0;
                break;
            }
            if (!PlatformWriteAt(to, buf, (size_t)got, at)) {
                if (errno == 0)
                    errno = ENOSPC;
                ok = false;
                break;
            }
            at += got;
        }
        int err = errno;
        free(buf);
        errno = err;
        return ok;
    }
}

// The original's access times and modification time onto the copy.
static void KeepTimes(int from, int to)
{
    struct stat st;
    if (fstat(from, &st) == 0) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        futimens(to, times);
    }
}

// Whether the open `src`, just unlinked, still holds what the copy `toName`
// of `to` holds: no byte written through a descriptor opened before the
// move (its size and modification time as when it was checked, `id`, and
// its bytes the copy's, since times may not move within one clock tick).
static bool StillAsCopied(int src, const PageIdentity *id, const HeldFolder *to, const char *toName)
{
    PageIdentity now;
    if (!FileIdentity(src, &now) || (id && (now.size != id->size || now.modified != id->modified)))
        return false;
    int copy = openat((int)to->handle, toName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (copy < 0)
        return true;            // nothing to compare with: the check above stands
    PageIdentity copied;
    bool same = FileIdentity(copy, &copied) && copied.size == now.size;
    enum { kChunk = 64 * 1024 };
    char *a = same ? (char *)malloc(2 * kChunk) : NULL;
    for (int64_t at = 0; a && same && at < (int64_t)now.size;) {
        long n = PlatformReadAt(src, a, kChunk, at);
        long m = n > 0 ? PlatformReadAt(copy, a + kChunk, (size_t)n, at) : -1;
        same = n > 0 && m == n && memcmp(a, a + kChunk, (size_t)n) == 0;
        at += n;
    }
    free(a);
    close(copy);
    return same;
}

// Bytes reached the original after it was checked and before its unlink
// returned: the still-open original goes back, whole, from its descriptor
// (an unlinked file cannot be linked again), under its name or else a free
// visible name beside it, and then the copy goes. False when it could not
// be put back (the copy then stays, as the only whole copy there is).
static bool PutBack(int src, const HeldFolder *from, const char *name, const HeldFolder *to,
                    const char *toName)
{
    NewFile back;
    if (!CreateNewFile(from, &back))
        return false;
    bool ok = CopyContent(src, (int)back.file);
    if (ok) {
        CopyAccess(src, name, &back, false);
        KeepTimes(src, (int)back.file);
        ok = fsync((int)back.file) == 0 && FinishNewFile(&back);
    }
    if (ok && PlaceNewFile(&back, name) != 0) {
        char kept[kFolderPathSize];
        ok = KeepNewFile(&back, kept, sizeof kept);
    }
    DiscardNewFile(&back);
    if (ok) {
        unlinkat((int)to->handle, toName, 0);
        SyncHeldFolder(to);
    }
    return ok;
}

// The move to another file system. The copy is made where nobody sees it,
// complete with the original's owner, mode, times and attributes, and
// synced; it gets the free name only while the original is still the file
// that was read, and the original goes last, after one more look.
static MoveResult CopyAcross(const HeldFolder *from, const char *name, const PageIdentity *id,
                             const HeldFolder *to, const char *toName)
{
    int src = openat((int)from->handle, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (src < 0)
        return kMoveFailed;
    if (!IsFile(src, id)) {
        close(src);
        return kMovePageChanged;
    }
    NewFile copy;
    if (!CreateNewFile(to, &copy)) {
        int err = errno;
        close(src);
        errno = err;
        return kMoveFailed;
    }
    MoveResult result = kMoveFailed;
    int err = 0;
    if (!CopyContent(src, (int)copy.file)) {
        err = errno;
    } else {
        CopyAccess(src, name, &copy, false);
        KeepTimes(src, (int)copy.file);
        if (fsync((int)copy.file) != 0 || !FinishNewFile(&copy)) {
            err = errno;
        } else if (!IsFile(src, id) || (id && !EntryIsUnchanged(from, name, id))) {
            // Written to, or replaced, while it was copied: the copy is
            // not the page any more.
            result = kMovePageChanged;
        } else {
            err = PlaceNewFile(&copy, toName);
            if (err == 0) {
                // The original goes last, and only if its name still holds
                // the file that was copied, unchanged; the copy's name is
                // on the disk first, even while syncs are gathered (two file
                // systems keep no order between them). Written to until its
                // unlink returned: it comes back as it is now, and the copy
                // goes (PutBack).
                bool putBack = false;
                if (!SyncHeldFolder(to))
                    err = errno;
                else if (!IsFile(src, id) || (id && !EntryIsUnchanged(from, name, id)))
                    result = kMovePageChanged;
                else if (unlinkat((int)from->handle, name, 0) != 0)
                    err = errno;
                else
                    putBack = !StillAsCopied(src, id, to, toName) && PutBack(src, from, name, to, toName);
                if (!err && result != kMovePageChanged)
                    result = putBack ? kMovePageChanged : kMoved;
                if (result != kMoved && !putBack) {
                    unlinkat((int)to->handle, toName, 0);
                    SyncFolderLater(to);
                }
            }
        }
    }
    DiscardNewFile(&copy);
    close(src);
    if (result == kMoveFailed && err == EEXIST)
        result = kMoveNameTaken;
    errno = err;
    return result;
}

MoveResult MoveEntry(const HeldFolder *from, const char *name, const PageIdentity *id,
                     const HeldFolder *to, const char *toName)
{
    if (id && !EntryIsUnchanged(from, name, id))
        return kMovePageChanged;
    int err = RenameBetween(from, name, to, toName);
    if (err == EXDEV)
        return CopyAcross(from, name, id, to, toName);
    if (err != 0) {
        errno = err;
        return err == EEXIST ? kMoveNameTaken : kMoveFailed;
    }
    // What moved must be the file that was looked at a moment before; a
    // file slipped in between goes back where it was.
    PageIdentity moved;
    EntryKind kind = id ? LookAtEntry(to, toName, &moved) : kEntryFile;
    if (id && ((kind != kEntryFile && kind != kEntryLink) || !SameFile(&moved, id))) {
        RenameBetween(to, toName, from, name);
        return kMovePageChanged;
    }
    // The folder it left is the caller's to sync: the run puts the cleaned
    // page there next, and syncs it then.
    SyncFolderLater(to);
    return kMoved;
}
