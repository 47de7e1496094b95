// File services of a cleaning run on POSIX systems.
#include "platform/fs.h"
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include "platform/fs_posix.h"

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

// Termination signals. A named temporary is entered in a fixed table before
// it exists, so the handler has only to unlink what the table holds: no
// allocation, no locks, nothing but async-signal-safe calls.
enum { kNamedTempSlots = 4, kNamedTempPathSize = 4096 + 16 };
static char NamedTemps[kNamedTempSlots][kNamedTempPathSize];
static volatile sig_atomic_t NamedTempUsed[kNamedTempSlots];
static volatile sig_atomic_t Holding;        // the original is away: defer
static volatile sig_atomic_t DeferredSignal;
static const int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};
static bool HandlersInstalled;
static sigset_t HeldMask;

static void TerminationSet(sigset_t *set)
{
    sigemptyset(set);
    for (int sig : kTerminationSignals)
        sigaddset(set, sig);
}

// Removes the named temporaries and ends the program by the signal itself,
// so that the exit status reads 128 + its number.
static void EndBySignal(int sig)
{
    for (int i = 0; i < kNamedTempSlots; i++) {
        if (NamedTempUsed[i])
            unlink(NamedTemps[i]);
    }
    signal(sig, SIG_DFL);
    raise(sig);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, NULL);
}

static void OnTerminationSignal(int sig)
{
    // A thread that does not block the signal (a library's) may take it
    // while the original is away: it waits for the hold to end.
    if (Holding) {
        DeferredSignal = sig;
        return;
    }
    EndBySignal(sig);
}

static void InstallTerminationHandlers()
{
    if (HandlersInstalled)
        return;
    HandlersInstalled = true;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnTerminationSignal;
    TerminationSet(&sa.sa_mask);
    for (int sig : kTerminationSignals) {
        struct sigaction old;
        // A signal ignored from the start (nohup) stays ignored.
        if (sigaction(sig, NULL, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        sigaction(sig, &sa, NULL);
    }
}

void HoldTerminationSignals(bool hold)
{
    if (hold == (Holding != 0))
        return;
    InstallTerminationHandlers();
    if (hold) {
        sigset_t set;
        TerminationSet(&set);
        sigprocmask(SIG_BLOCK, &set, &HeldMask);
        Holding = 1;
        return;
    }
    Holding = 0;
    int deferred = DeferredSignal;
    DeferredSignal = 0;
    if (deferred)
        EndBySignal(deferred);
    sigprocmask(SIG_SETMASK, &HeldMask, NULL);   // a pending signal arrives here
}

int CreateNamedTemp(const char *folder, char *path, size_t size)
{
    if ((size_t)snprintf(path, size, "%s/.wtXXXXXX", folder) >= size ||
        strlen(path) >= kNamedTempPathSize) {
        errno = ENAMETOOLONG;
        return -1;
    }
    InstallTerminationHandlers();
    // Blocked while the file comes to exist and enters the table, so that
    // neither a file without an entry nor an entry for another's file (a
    // name mkostemp rejected) is ever seen by the handler.
    sigset_t set, old;
    TerminationSet(&set);
    sigprocmask(SIG_BLOCK, &set, &old);
    int fd = mkostemp(path, O_CLOEXEC);         // mode 0600
    int err = errno;
    if (fd >= 0) {
        for (int i = 0; i < kNamedTempSlots; i++) {
            if (!NamedTempUsed[i]) {
                memcpy(NamedTemps[i], path, strlen(path) + 1);
                NamedTempUsed[i] = 1;
                break;
            }
        }
    }
    sigprocmask(SIG_SETMASK, &old, NULL);
    errno = err;
    return fd;
}

void ForgetNamedTemp(const char *path)
{
    for (int i = 0; i < kNamedTempSlots; i++) {
        if (NamedTempUsed[i] && strcmp(NamedTemps[i], path) == 0)
            NamedTempUsed[i] = 0;
    }
}

PageKind ProbePage(const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return kPageMissing;
    return S_ISREG(st.st_mode) ? kPageRegular : kPageNotRegular;
}

static int64_t Nanoseconds(const struct timespec &t)
{
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

static void IdentityOf(const struct stat &st, PageIdentity *id)
{
    id->volume = (uint64_t)st.st_dev;
    id->file = (uint64_t)st.st_ino;
    id->size = (uint64_t)st.st_size;
    id->modified = Nanoseconds(st.st_mtim);
    id->changed = Nanoseconds(st.st_ctim);
}

bool OpenPageForReading(const char *path, FileHandle *file, PageIdentity *id)
{
    // O_NONBLOCK: should a pipe have taken the page's place since the probe,
    // opening it does not wait for a writer.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EISDIR;
        return false;
    }
    if (id)
        IdentityOf(st, id);
    *file = fd;
    return true;
}

bool IsSamePage(const char *path, const PageIdentity *id)
{
    struct stat st;
    if (lstat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    PageIdentity now;
    IdentityOf(st, &now);
    return now.volume == id->volume && now.file == id->file && now.size == id->size &&
           now.modified == id->modified && now.changed == id->changed;
}

// Appends `tail` to the folder of `base` (the link's own folder), or takes
// it alone when it is absolute.
static bool JoinLinkTarget(const char *base, const char *tail, char *out, size_t size)
{
    if (tail[0] == '/')
        return (size_t)snprintf(out, size, "%s", tail) < size;
    char folder[PATH_MAX];
    if (!FolderOf(base, folder, sizeof folder))
        return false;
    return (size_t)snprintf(out, size, "%s/%s", folder, tail) < size;
}

bool ResolvePagePath(const char *path, char *out, size_t outSize)
{
    char cur[PATH_MAX], next[PATH_MAX], target[PATH_MAX];
    if ((size_t)snprintf(cur, sizeof cur, "%s", path) >= sizeof cur)
        return false;
    for (int hops = 0; hops < 40; hops++) {
        struct stat link, dest;
        if (lstat(cur, &link) != 0 || !S_ISLNK(link.st_mode))
            return (size_t)snprintf(out, outSize, "%s", cur) < outSize;
        if (stat(cur, &dest) != 0)
            return false;                   // dangling
        // Followed only when the link could not have been planted by
        // someone else to make the runner write where they cannot.
        if (link.st_uid != geteuid() && link.st_uid != dest.st_uid) {
            errno = EACCES;
            return false;
        }
        ssize_t n = readlink(cur, target, sizeof target - 1);
        if (n < 0)
            return false;
        target[n] = 0;
        if (!JoinLinkTarget(cur, target, next, sizeof next))
            return false;
        memcpy(cur, next, strlen(next) + 1);
    }
    errno = ELOOP;
    return false;
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
    sigset_t set, old;
    TerminationSet(&set);
    sigprocmask(SIG_BLOCK, &set, &old);
    fd = mkostemp(path, O_CLOEXEC);
    int err = errno;
    if (fd >= 0)
        unlink(path);
    sigprocmask(SIG_SETMASK, &old, NULL);
    free(path);
    if (fd < 0) {
        errno = err;
        return false;
    }
    *file = fd;
    return true;
}

bool PathExists(const char *path)
{
    struct stat st;
    return lstat(path, &st) == 0;
}

bool FolderOf(const char *path, char *out, size_t size)
{
    const char *slash = strrchr(path, '/');
    if (!slash)
        return (size_t)snprintf(out, size, ".") < size;
    size_t n = (size_t)(slash - path);
    if (n == 0)
        n = 1;                              // the root folder
    if (n >= size) {
        errno = ENAMETOOLONG;
        return false;
    }
    memcpy(out, path, n);
    out[n] = 0;
    return true;
}

void SyncFolderOf(const char *path)
{
    char folder[PATH_MAX];
    if (!FolderOf(path, folder, sizeof folder))
        return;
    int saved = errno;
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        // Some file systems cannot sync a folder (EINVAL); the name is
        // there all the same, so nothing is reported.
        fsync(fd);
        close(fd);
    }
    errno = saved;
}

int CreateAnonymousIn(const char *folder)
{
#ifdef O_TMPFILE
    return open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
#else
    (void)folder;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

// The extended attributes of `from` onto `to`; an ACL that `to` inherited
// from its folder's default ACL goes when `from` has none.
static void CopyExtendedAttributes(int from, int to)
{
    static const char kAccessAcl[] = "system.posix_acl_access";
    bool hasAcl = false;
    ssize_t n = flistxattr(from, NULL, 0);
    char *names = n > 0 ? (char *)malloc((size_t)n) : NULL;
    if (names)
        n = flistxattr(from, names, (size_t)n);
    for (ssize_t at = 0; names && at < n; at += (ssize_t)strlen(names + at) + 1) {
        const char *name = names + at;
        if (strcmp(name, kAccessAcl) == 0)
            hasAcl = true;
        ssize_t size = fgetxattr(from, name, NULL, 0);
        if (size < 0)
            continue;
        char *value = (char *)malloc(size > 0 ? (size_t)size : 1);
        if (!value)
            continue;
        size = fgetxattr(from, name, value, (size_t)size);
        // What the runner may not set (trusted.*, another's security
        // label, a file system without them) is skipped.
        if (size >= 0)
            fsetxattr(to, name, value, (size_t)size, 0);
        free(value);
    }
    free(names);
    if (!hasAcl)
        fremovexattr(to, kAccessAcl);
}

void CopyFileAttributes(int from, const struct stat *st, int to, bool withTimes)
{
    int saved = errno;
    // Owner first: giving a file away clears its set-id bits, and the
    // ACL and mode below must be set by the new owner's rules.
    bool ownerKept = true;
    struct stat now;
    if (fstat(to, &now) == 0 && (now.st_uid != st->st_uid || now.st_gid != st->st_gid) &&
        fchown(to, st->st_uid, st->st_gid) != 0) {
        ownerKept = false;
        // The runner may not give the file away, but the group may be one
        // of the runner's own.
        if (now.st_gid != st->st_gid)
            fchown(to, (uid_t)-1, st->st_gid);
    }
    // The attributes before the mode: a read-only mode would refuse the
    // user.* attributes of a runner without privileges.
    CopyExtendedAttributes(from, to);
    // Set-id bits only on a file that kept its owner.
    fchmod(to, st->st_mode & (ownerKept ? 07777 : 0777));
    if (withTimes) {
        struct timespec times[2] = {st->st_atim, st->st_mtim};
        futimens(to, times);
    }
    errno = saved;
}

bool CreateNewPage(const char *pagePath, NewPage *np)
{
    np->open = false;
    np->created = false;
    np->placed = false;
    np->tempPath[0] = 0;
    char folder[sizeof np->tempPath];
    if (!FolderOf(pagePath, folder, sizeof folder))
        return false;
    int fd = CreateAnonymousIn(folder);
    if (fd < 0)
        fd = CreateNamedTemp(folder, np->tempPath, sizeof np->tempPath);
    if (fd < 0) {
        np->tempPath[0] = 0;
        return false;
    }
    np->file = fd;
    np->open = true;
    np->created = true;
    return true;
}

bool KeepPageAttributes(const char *pagePath, NewPage *np)
{
    int from = open(pagePath, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (from < 0)
        return false;
    struct stat st;
    bool ok = fstat(from, &st) == 0;
    if (ok)
        CopyFileAttributes(from, &st, (int)np->file, false);
    close(from);
    return ok;
}

bool FinishNewPage(NewPage *np)
{
    // On the disk before it takes the page's name: after a power cut the
    // path holds the original or the whole cleaned page, never an empty file.
    return fdatasync((int)np->file) == 0;
}

int LinkNoReplace(int fd, const char *to)
{
    char proc[64];
    snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, proc, AT_FDCWD, to, AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno == EEXIST)
        return EEXIST;
#ifdef AT_EMPTY_PATH
    if (linkat(fd, "", AT_FDCWD, to, AT_EMPTY_PATH) == 0)
        return 0;
#endif
    return errno;
}

int RenameNoReplace(const char *from, const char *to)
{
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // The file system cannot refuse to replace: claim the name with an
    // exclusive empty file, then rename over that. A hard link would do
    // without the placeholder, but FAT has none and fs.protected_hardlinks
    // refuses links to other users' files.
    int fd = open(to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    close(fd);
    if (rename(from, to) == 0)
        return 0;
    int err = errno;
    unlink(to);
    return err;
}

// Gives the new page the name `to`: 0, or the errno.
static int ClaimName(NewPage *np, const char *to)
{
    if (np->tempPath[0])
        return RenameNoReplace(np->tempPath, to);
    return LinkNoReplace((int)np->file, to);
}

bool PlaceNewPage(NewPage *np, const char *pagePath, char *savedAs, size_t savedAsSize)
{
    if (savedAsSize)
        savedAs[0] = 0;
    int err = ClaimName(np, pagePath);
    if (err == 0) {
        ForgetNamedTemp(np->tempPath);
        np->tempPath[0] = 0;
        np->placed = true;
        SyncFolderOf(pagePath);
        np->open = false;
        PlatformClose(np->file);        // flushed and synced already
        return true;
    }
    // Something took the page's path meanwhile: keep the cleaned page under
    // a free name of its own beside it.
    char folder[sizeof np->tempPath];
    char name[sizeof np->tempPath + 32];
    bool kept = false;
    if (FolderOf(pagePath, folder, sizeof folder)) {
        for (int i = 0; i < 100 && !kept; i++) {
            snprintf(name, sizeof name, "%s/wt%06ld.htm", folder,
                     (long)((getpid() * 7919L + i * 104729L) % 1000000));
            kept = strlen(name) < sizeof np->tempPath && ClaimName(np, name) == 0;
        }
    }
    if (kept) {
        ForgetNamedTemp(np->tempPath);
        memcpy(np->tempPath, name, strlen(name) + 1);
        SyncFolderOf(name);
    }
    if (np->tempPath[0]) {
        // Kept, under the free name or its hidden one: Discard must not
        // remove it, nor a signal.
        ForgetNamedTemp(np->tempPath);
        snprintf(savedAs, savedAsSize, "%s", np->tempPath);
        np->placed = true;
    }
    np->open = false;
    PlatformClose(np->file);
    errno = err;
    return false;
}

void DiscardNewPage(NewPage *np)
{
    if (!np->created)
        return;
    if (!np->placed && np->tempPath[0]) {
        unlink(np->tempPath);
        ForgetNamedTemp(np->tempPath);
    }
    if (np->open) {
        np->open = false;
        PlatformClose(np->file);
    }
    np->created = false;
}
