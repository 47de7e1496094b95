// The desktop trash on POSIX desktops, kept as the desktops keep it, so that
// their file managers, `gio trash` and trash-cli list and restore what the
// program put there.
//
// A trash is a folder with two folders in it: files/ holds the trashed
// files, info/ one NAME.trashinfo per file NAME, saying where it was and
// when it left ("[Trash Info]", "Path=...", "DeletionDate=...").
//
// Which trash:
//   - a page on the file system of the home trash ($XDG_DATA_HOME/Trash,
//     by default ~/.local/share/Trash; as root, or with another user's
//     home in the environment, only where the folders on the way to it
//     are the runner's, else the runner's own home's) goes there, by a
//     rename;
//   - a page on another file system goes to the trash at the top of that
//     file system, $topdir/.Trash/$uid (when .Trash is a real folder with
//     the sticky bit and $uid in it a real folder of the runner's), else
//     $topdir/.Trash-$uid (a real folder of the runner's), by a rename;
//   - a page on a tmpfs or ramfs (whose trash would vanish at the next
//     start), or of a type that cannot be told (fstatfs fails), or on a
//     file system whose top takes no trash (read-only,
//     another owner's), goes to the home trash by the copy that moves use
//     across file systems: synced, checked against the page, and the page
//     removed only after a last look.
// The folders a trash is made of are made 0700 where missing and opened
// without following a link (but the home trash's own path, which follows
// the runner's links under the rule of held folders).
//
// The order of a trashing: the info file first, under a NAME that no other
// info file has (O_EXCL), written and on the disk with its folder; then the
// page moves from its held folder to files/NAME, never over anything
// (MoveEntry: the page's identity checked just before, and the file that
// arrived checked after); files/ is synced. If the move fails, the info
// file goes. A crash leaves at worst an info file for a page that never
// left, never a trashed file with no record of where it came from. Where
// the caller gathers folder syncs (durable.h), info/ and files/ are synced
// once for a batch of pages, before any of them is reported: the info
// file's content is on the disk before the move all the same, and a file
// system that journals its names in order (ext4, XFS) still never shows
// the move without the info file's name after a crash.
#include "platform/trash.h"
#include <dirent.h>
#include <errno.h>
#include <pthread.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>
#include "platform/durable.h"
#include "platform/file.h"
#include "platform/move.h"

static const char kFilesFolder[] = "files";
static const char kInfoFolder[] = "info";
static const char kInfoSuffix[] = ".trashinfo";
// The file systems whose content does not outlive a restart.
static const unsigned long kTmpfsMagic = 0x01021994;
static const unsigned long kRamfsMagic = 0x858458f6;

enum {
    kPlainNumbers = 100,      // names tried in order: page.htm, page.2.htm ... page.100.htm
    kScatteredNumbers = 100,  // then numbers taken from the clock
};

// A trash ready to take a file: its two folders held, and where the Path=
// of its info files counts from.
struct Trash {
    HeldFolder files, info;
    char top[kFolderPathSize];  // "" for the home trash (Path= absolute), else its $topdir
    bool held;                  // the call's, closed by HoldTrashes(false)
};

static void CloseTrash(Trash *t)
{
    if (t->held)
        return;
    CloseHeldFolder(&t->files);
    CloseHeldFolder(&t->info);
}

enum {
    kHeldTrashes = 8,           // file systems whose trash a call holds
    kOutsideFolders = 64,       // folders a call remembers outside every trash
};

// What a call holds between HoldTrashes(true) and HoldTrashes(false): the
// trash chosen for the pages of each file system, open; the home trash's
// device and identity; the folders already found outside every trash.
struct TrashHold {
    pthread_mutex_t lock;
    bool on;
    int trashes;
    dev_t devs[kHeldTrashes];           // a page's file system ...
    Trash held[kHeldTrashes];           // ... and its trash
    bool homeDevKnown, homeDevFound;
    dev_t homeDev;
    bool homeIdKnown;
    dev_t homeIdDev;
    ino_t homeIdIno;
    int outside;
    dev_t outsideDev[kOutsideFolders];
    ino_t outsideIno[kOutsideFolders];
};
static TrashHold hold = {PTHREAD_MUTEX_INITIALIZER, false, 0, {}, {}, false, false, 0, false, 0, 0, 0, {}, {}};

void HoldTrashes(bool on)
{
    TrashHold *h = &hold;
    pthread_mutex_lock(&h->lock);
    for (int i = 0; i < h->trashes; i++) {
        h->held[i].held = false;
        CloseTrash(&h->held[i]);
    }
    h->trashes = 0;
    h->homeDevKnown = h->homeIdKnown = false;
    h->outside = 0;
    h->on = on;
    pthread_mutex_unlock(&h->lock);
}

// Whether nobody but the runner (and root) can change the folders on the
// way to `path`: each one there, links resolved, is theirs and writable by
// no one else, unless sticky.
static bool WayIsRunners(const char *path)
{
    char have[kFolderPathSize], real[PATH_MAX];
    snprintf(have, sizeof have, "%s", path);
    // The deepest folder of the path that is there; the rest the run makes.
    while (!realpath(have, real)) {
        char *slash = strrchr(have, '/');
        // A file on the way (ENOTDIR) makes the trash fail as it would.
        if ((errno != ENOENT && errno != ENOTDIR) || !slash || slash == have)
            return errno == ENOTDIR;
        *slash = 0;
    }
    uid_t me = geteuid();
    for (size_t n = 1, end = strlen(real);; n++) {
        if (n == end || real[n] == '/') {
            char saved = real[n];
            real[n] = 0;
            struct stat st;
            bool mine = lstat(real, &st) == 0 && (st.st_uid == me || st.st_uid == 0) &&
                        (!(st.st_mode & (S_IWGRP | S_IWOTH)) || (st.st_mode & S_ISVTX));
            real[n] = saved;
            if (!mine)
                return false;
        }
        if (n >= end)
            return true;
    }
}

// The home trash's path: $XDG_DATA_HOME/Trash, else ~/.local/share/Trash.
// As root, or when the home the environment names is another user's (sudo
// -E, su without -), that one only where the way to it is the runner's;
// else the runner's own home's, from the password database, so that
// nobody else can read or take the originals.
static bool FindHomeTrashPath(const char *data, const char *home, char *out, size_t size)
{
    const char *base = data && data[0] == '/' ? data : home && home[0] == '/' ? home : NULL;
    int n = -1;
    if (base) {
        n = base == data ? snprintf(out, size, "%s/Trash", data)
                         : snprintf(out, size, "%s/.local/share/Trash", home);
        struct stat st;
        uid_t me = geteuid();
        bool othersHome = me == 0 || stat(base, &st) != 0 || st.st_uid != me;
        if (n >= 0 && (size_t)n < size && othersHome && !WayIsRunners(out))
            base = NULL;
    }
    if (!base) {
        struct passwd pw, *found = NULL;
        char buf[4096];
        if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &found) != 0 || !found || found->pw_dir[0] != '/') {
            errno = ENOENT;
            return false;
        }
        n = snprintf(out, size, "%s/.local/share/Trash", found->pw_dir);
    }
    if (n < 0 || (size_t)n >= size) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

// The answer of FindHomeTrashPath, kept for the environment it was found
// for: each page asks, and the way to it is looked at once.
struct HomeTrashAnswer {
    pthread_mutex_t lock;
    bool known, found;
    int error;
    char data[kFolderPathSize], home[kFolderPathSize], path[kFolderPathSize];
};
static HomeTrashAnswer homeTrashAnswer = {PTHREAD_MUTEX_INITIALIZER, false, false, 0, "", "", ""};

static bool HomeTrashPath(char *out, size_t size)
{
    const char *data = getenv("XDG_DATA_HOME");
    const char *home = getenv("HOME");
    HomeTrashAnswer *a = &homeTrashAnswer;
    pthread_mutex_lock(&a->lock);
    bool same = a->known && strcmp(a->data, data ? data : "") == 0 && strcmp(a->home, home ? home : "") == 0;
    if (!same) {
        a->found = FindHomeTrashPath(data, home, a->path, sizeof a->path);
        a->error = errno;
        // An environment too long to keep is looked at again each time.
        a->known = snprintf(a->data, sizeof a->data, "%s", data ? data : "") < (int)sizeof a->data &&
                   snprintf(a->home, sizeof a->home, "%s", home ? home : "") < (int)sizeof a->home;
    }
    bool found = a->found && snprintf(out, size, "%s", a->path) < (int)size;
    int err = !a->found ? a->error : found ? 0 : ENAMETOOLONG;
    pthread_mutex_unlock(&a->lock);
    if (!found)
        errno = err;
    return found;
}

// The folder `name` of `parent`, made 0700 when `make` and it is missing,
// opened never through a link: for reading, so that it can be synced, or
// only to work in where the runner may not list it (a shared .Trash).
static bool OpenTrashFolder(int parent, const char *parentPath, const char *name, bool make, HeldFolder *out)
{
    out->open = false;
    if (make && mkdirat(parent, name, 0700) != 0 && errno != EEXIST)
        return false;
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    bool canSync = fd >= 0;
    if (fd < 0 && errno == EACCES)
        fd = openat(parent, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    HeldFolder at;
    at.open = false;
    snprintf(at.path, sizeof at.path, "%s", parentPath);
    if (!EntryPath(&at, name, out->path, sizeof out->path)) {
        close(fd);
        return false;
    }
    out->handle = fd;
    out->open = true;
    out->canSync = canSync;
    return true;
}

// files/ and info/ of the trash folder `trash`, made where missing.
static bool OpenTrashParts(const HeldFolder *trash, Trash *t)
{
    t->info.open = false;
    if (!OpenTrashFolder((int)trash->handle, trash->path, kFilesFolder, true, &t->files))
        return false;
    if (!OpenTrashFolder((int)trash->handle, trash->path, kInfoFolder, true, &t->info)) {
        int err = errno;
        CloseHeldFolder(&t->files);
        errno = err;
        return false;
    }
    return true;
}

// Opens the home trash folder; with `make`, makes it (and the folders above
// it) 0700 where missing.
static bool OpenHomeTrashFolder(bool make, HeldFolder *trash)
{
    char path[kFolderPathSize];
    if (!HomeTrashPath(path, sizeof path))
        return false;
    if (OpenHeldFolder(path, trash))
        return true;
    if (!make || errno != ENOENT)
        return false;
    // The deepest folder of the path that is there, then the rest made
    // below it one by one.
    size_t have = strlen(path);
    HeldFolder at;
    for (;;) {
        while (have > 1 && path[have - 1] != '/')
            have--;
        have = have > 1 ? have - 1 : 1;
        char saved = path[have];
        path[have] = 0;
        bool opened = OpenHeldFolder(path, &at);
        path[have] = saved;
        if (opened)
            break;
        if (errno != ENOENT || have == 1)
            return false;
    }
    const char *rest = path + have;
    while (*rest) {
        while (*rest == '/')
            rest++;
        size_t n = strcspn(rest, "/");
        if (n == 0)
            break;
        char name[kFolderPathSize];
        memcpy(name, rest, n);
        name[n] = 0;
        HeldFolder next;
        bool ok = OpenTrashFolder((int)at.handle, at.path, name, true, &next);
        int err = errno;
        CloseHeldFolder(&at);
        if (!ok) {
            errno = err;
            return false;
        }
        at = next;
        rest += n;
    }
    *trash = at;
    return true;
}

static bool OpenHomeTrash(Trash *t)
{
    t->top[0] = 0;
    HeldFolder trash;
    if (!OpenHomeTrashFolder(true, &trash))
        return false;
    bool ok = OpenTrashParts(&trash, t);
    int err = errno;
    CloseHeldFolder(&trash);
    errno = err;
    return ok;
}

// The device of the home trash, or of the deepest folder on its way that
// is there when it is not made yet.
static bool FindHomeTrashDevice(dev_t *dev)
{
    char path[kFolderPathSize];
    if (!HomeTrashPath(path, sizeof path))
        return false;
    for (size_t n = strlen(path);;) {
        struct stat st;
        if (stat(path, &st) == 0) {
            *dev = st.st_dev;
            return true;
        }
        while (n > 1 && path[n - 1] != '/')
            n--;
        if (n <= 1)
            return false;
        path[--n] = 0;
    }
}

// The same, looked at once for a call that holds its trashes.
static bool HomeTrashDevice(dev_t *dev)
{
    TrashHold *h = &hold;
    pthread_mutex_lock(&h->lock);
    bool known = h->on && h->homeDevKnown, found = h->homeDevFound;
    *dev = h->homeDev;
    pthread_mutex_unlock(&h->lock);
    if (known)
        return found;
    found = FindHomeTrashDevice(dev);
    pthread_mutex_lock(&h->lock);
    if (h->on && !h->homeDevKnown) {
        h->homeDevKnown = true;
        h->homeDevFound = found;
        h->homeDev = *dev;
    }
    pthread_mutex_unlock(&h->lock);
    return found;
}

// A mount point as /proc/self/mountinfo writes it: blanks, tabs, line
// breaks and backslashes as three octal digits after a backslash.
static void Unescape(char *s)
{
    char *to = s;
    for (const char *from = s; *from;) {
        if (from[0] == '\\' && from[1] >= '0' && from[1] <= '3' && from[2] >= '0' && from[2] <= '7' &&
            from[3] >= '0' && from[3] <= '7') {
            *to++ = (char)((from[1] - '0') * 64 + (from[2] - '0') * 8 + (from[3] - '0'));
            from += 4;
        } else {
            *to++ = *from++;
        }
    }
    *to = 0;
}

// Whether `top` is `path` or a folder above it.
static bool IsAtOrAbove(const char *top, const char *path)
{
    size_t n = strlen(top);
    if (strcmp(top, "/") == 0)
        return path[0] == '/';
    return strncmp(top, path, n) == 0 && (path[n] == '/' || path[n] == 0);
}

// The top of the file system `dev` that `path` lies on: the deepest of its
// mount points above `path`.
static bool FindTopdir(dev_t dev, const char *path, char *top, size_t size)
{
    FILE *f = fopen("/proc/self/mountinfo", "re");
    if (!f)
        return false;
    bool found = false;
    size_t best = 0;
    char *line = NULL;
    size_t capacity = 0;
    while (getline(&line, &capacity, f) > 0) {
        // ID PARENT MAJOR:MINOR ROOT MOUNTPOINT ...
        unsigned major, minor;
        int point = 0, pointEnd = 0;
        if (sscanf(line, "%*u %*u %u:%u %*s %n%*s%n", &major, &minor, &point, &pointEnd) != 2 ||
            pointEnd <= point || makedev(major, minor) != dev)
            continue;
        line[pointEnd] = 0;
        char *mountPoint = line + point;
        Unescape(mountPoint);
        size_t n = strlen(mountPoint);
        if (IsAtOrAbove(mountPoint, path) && (!found || n > best) && n < size) {
            memcpy(top, mountPoint, n + 1);
            best = n;
            found = true;
        }
    }
    free(line);
    fclose(f);
    if (!found)
        errno = ENOENT;
    return found;
}

// The top of the file system that the held folder lies on, held.
static bool OpenTopdir(const HeldFolder *folder, dev_t dev, HeldFolder *top)
{
    char path[kFolderPathSize];
    if (!FindTopdir(dev, folder->path, path, sizeof path) || !OpenHeldFolder(path, top))
        return false;
    struct stat st;
    if (fstat((int)top->handle, &st) != 0 || st.st_dev != dev) {
        CloseHeldFolder(top);
        errno = EXDEV;
        return false;
    }
    return true;
}

// $topdir/.Trash/$uid, where an administrator made .Trash for every user;
// else $topdir/.Trash-$uid. Each a real folder, owned by the runner (and
// .Trash sticky, so that nobody takes another's folder away).
static bool OpenTopdirTrash(const HeldFolder *top, Trash *t)
{
    char uid[32];
    snprintf(uid, sizeof uid, "%u", (unsigned)geteuid());
    struct stat st;
    HeldFolder shared, own;
    if (OpenTrashFolder((int)top->handle, top->path, ".Trash", false, &shared)) {
        bool sticky = fstat((int)shared.handle, &st) == 0 && (st.st_mode & S_ISVTX);
        bool ok = sticky && OpenTrashFolder((int)shared.handle, shared.path, uid, true, &own);
        CloseHeldFolder(&shared);
        if (ok) {
            ok = fstat((int)own.handle, &st) == 0 && st.st_uid == geteuid() && OpenTrashParts(&own, t);
            CloseHeldFolder(&own);
            if (ok)
                return true;
        }
    }
    char name[48];
    snprintf(name, sizeof name, ".Trash-%s", uid);
    if (!OpenTrashFolder((int)top->handle, top->path, name, true, &own))
        return false;
    bool ok = fstat((int)own.handle, &st) == 0 && st.st_uid == geteuid();
    if (!ok)
        errno = EACCES;
    ok = ok && OpenTrashParts(&own, t);
    int err = errno;
    CloseHeldFolder(&own);
    errno = err;
    return ok;
}

// The trash for a page of the held folder, by the rules at the top.
static bool FindTrash(const HeldFolder *from, const struct stat &st, Trash *t)
{
    struct statfs fs;
    dev_t home;
    if (HomeTrashDevice(&home) && home == st.st_dev)
        return OpenHomeTrash(t);
    // A file system of unknown type is taken for one whose trash may not
    // outlive a restart.
    bool passing = fstatfs((int)from->handle, &fs) != 0 ||
        (unsigned long)fs.f_type == kTmpfsMagic || (unsigned long)fs.f_type == kRamfsMagic;
    HeldFolder top;
    if (!passing && OpenTopdir(from, st.st_dev, &top)) {
        bool ok = OpenTopdirTrash(&top, t);
        if (ok)
            snprintf(t->top, sizeof t->top, "%s", top.path);
        CloseHeldFolder(&top);
        if (ok)
            return true;
    }
    return OpenHomeTrash(t);
}

// When this program started: a record older than that, without its file,
// is no run's under way.
static const time_t kStartedAt = time(NULL);

// The trashes swept in this process, by (device, inode) of their info/.
enum { kSweptMax = 16 };
static pthread_mutex_t SweptLock = PTHREAD_MUTEX_INITIALIZER;
static dev_t SweptDevice[kSweptMax];
static ino_t SweptInode[kSweptMax];
static int SweptCount;

// Whether info/ is swept here for the first time (then it is noted).
static bool FirstSweep(int info)
{
    struct stat st;
    if (fstat(info, &st) != 0)
        return false;
    pthread_mutex_lock(&SweptLock);
    bool first = SweptCount < kSweptMax;
    for (int i = 0; i < SweptCount && first; i++)
        first = !(SweptDevice[i] == st.st_dev && SweptInode[i] == st.st_ino);
    if (first) {
        SweptDevice[SweptCount] = st.st_dev;
        SweptInode[SweptCount++] = st.st_ino;
    }
    pthread_mutex_unlock(&SweptLock);
    return first;
}

// Removes, once per trash and process, the records left without their
// file (a run cut short between its record and its move) that are older
// than this run, so that no other run is still about to move their file.
static void SweepOrphanRecords(const Trash *t)
{
    if (!t->info.canSync || !FirstSweep((int)t->info.handle))
        return;
    int fd = openat((int)t->info.handle, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *d = fd >= 0 ? fdopendir(fd) : NULL;
    if (!d) {
        if (fd >= 0)
            close(fd);
        return;
    }
    bool removed = false;
    size_t suffix = sizeof kInfoSuffix - 1;
    while (struct dirent *e = readdir(d)) {
        size_t n = strlen(e->d_name);
        char name[sizeof e->d_name];
        struct stat st;
        if (n <= suffix || strcmp(e->d_name + n - suffix, kInfoSuffix) != 0)
            continue;
        memcpy(name, e->d_name, n - suffix);
        name[n - suffix] = 0;
        if (fstatat((int)t->files.handle, name, &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
            continue;
        if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_mtime < kStartedAt && unlinkat(fd, e->d_name, 0) == 0)
            removed = true;
    }
    closedir(d);
    if (removed)
        SyncHeldFolder(&t->info);
}

// Whether the held trash `t`, kept for the file system `dev`, is the one
// for a page of `from` on `dev`: a trash at a top (whose Path= counts from
// there) only for the folders below that top, as a file system mounted
// twice has two.
static bool TrashFits(const Trash *t, dev_t trashDev, const HeldFolder *from, dev_t dev)
{
    return trashDev == dev && (!t->top[0] || IsAtOrAbove(t->top, from->path));
}

// The trash for a page of the held folder: the one the call holds for its
// file system, else found by the rules at the top (and held from then on,
// while the call holds its trashes).
static bool ChooseTrash(const HeldFolder *from, Trash *t)
{
    t->top[0] = 0;
    t->files.open = t->info.open = false;
    t->held = false;
    struct stat st;
    if (fstat((int)from->handle, &st) != 0)
        return false;
    TrashHold *h = &hold;
    pthread_mutex_lock(&h->lock);
    for (int i = 0; h->on && i < h->trashes; i++) {
        if (TrashFits(&h->held[i], h->devs[i], from, st.st_dev)) {
            *t = h->held[i];
            pthread_mutex_unlock(&h->lock);
            return true;
        }
    }
    pthread_mutex_unlock(&h->lock);
    if (!FindTrash(from, st, t))
        return false;
    pthread_mutex_lock(&h->lock);
    bool taken = false;
    for (int i = 0; i < h->trashes; i++)
        taken = taken || TrashFits(&h->held[i], h->devs[i], from, st.st_dev);
    if (h->on && !taken && h->trashes < kHeldTrashes) {
        t->held = true;
        h->devs[h->trashes] = st.st_dev;
        h->held[h->trashes++] = *t;
    }
    pthread_mutex_unlock(&h->lock);
    return true;
}

// The name of the `n`th try for a file `name` in the trash: the name
// itself, then the number before the extension (page.2.htm).
static bool TrashName(const char *name, unsigned long n, char *out, size_t size)
{
    if (n <= 1)
        return snprintf(out, size, "%s", name) < (int)size;
    const char *dot = strrchr(name, '.');
    if (!dot || dot == name)
        dot = name + strlen(name);
    int len = snprintf(out, size, "%.*s.%lu%s", (int)(dot - name), name, n, dot);
    return len > 0 && (size_t)len < size;
}

// The number of the `i`th try: in order, then scattered by the clock, so
// that a trash with many pages of one name is not searched name by name.
static unsigned long TryNumber(int i)
{
    if (i < kPlainNumbers)
        return (unsigned long)i + 1;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned long long x =
        ((unsigned long long)now.tv_nsec ^ (unsigned long long)getpid() << 20) * 0x9E3779B97F4A7C15ull;
    return kPlainNumbers + 1 + (unsigned long)((x >> 24) % 1000000000ull);
}

// The bytes of `in` with every byte but the unreserved ones and '/' as %XX.
static bool PercentEncode(const char *in, char *out, size_t size)
{
    static const char kHex[] = "0123456789ABCDEF";
    size_t at = 0;
    for (const unsigned char *p = (const unsigned char *)in; *p; p++) {
        bool plain = (*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') ||
            strchr("-._~/", *p) != NULL;
        if (at + (plain ? 1 : 3) >= size) {
            errno = ENAMETOOLONG;
            return false;
        }
        if (plain) {
            out[at++] = (char)*p;
        } else {
            out[at++] = '%';
            out[at++] = kHex[*p >> 4];
            out[at++] = kHex[*p & 15];
        }
    }
    out[at] = 0;
    return true;
}

// Makes info/NAME.trashinfo, never over another one, saying that `path`
// left now, and puts it on the disk: 0 or the error (EEXIST: NAME is taken).
// `held`: info/ is the call's, open until its end (HoldTrashes).
static int WriteInfo(const HeldFolder *info, bool held, const char *infoName, const char *path)
{
    char encoded[3 * kFolderPathSize + 64];
    if (!PercentEncode(path, encoded, sizeof encoded))
        return errno;
    char date[32];
    time_t now = time(NULL);
    struct tm local;
    if (!localtime_r(&now, &local) || strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local) == 0)
        return EINVAL;
    char text[sizeof encoded + 96];
    int len = snprintf(text, sizeof text, "[Trash Info]\nPath=%s\nDeletionDate=%s\n", encoded, date);
    int fd = openat((int)info->handle, infoName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int err = PlatformWriteAll((FileHandle)fd, text, (size_t)len) ? 0 : errno;
    if (!err && fdatasync(fd) != 0)
        err = errno;
    close(fd);
    if (!err && !SyncFolderLater(info, held))
        err = errno;
    if (err)
        unlinkat((int)info->handle, infoName, 0);
    return err;
}

TrashResult TrashEntry(const HeldFolder *from, const char *name, const PageIdentity *id, TrashedFile *out)
{
    return TrashEntryAs(from, name, name, id, out);
}

TrashResult TrashEntryAs(const HeldFolder *from, const char *name, const char *asName,
                         const PageIdentity *id, TrashedFile *out)
{
    out->path[0] = 0;
    out->name[0] = 0;
    // The page's identity is checked by the move, just before it renames.
    // Path= must say where the page was, whole: a folder whose path was
    // too long to keep (a deep walk) gives none, and the page stays.
    char pagePath[kFolderPathSize + 256];
    if (from->path[0] != '/' || !EntryPath(from, asName, pagePath, sizeof pagePath)) {
        errno = ENAMETOOLONG;
        return kTrashFailed;
    }
    Trash t;
    if (!ChooseTrash(from, &t))
        return kTrashFailed;
    SweepOrphanRecords(&t);
    // Path=: absolute for the home trash, from the top for the others.
    const char *recorded = pagePath;
    if (t.top[0])
        recorded += strcmp(t.top, "/") == 0 ? 1 : strlen(t.top) + 1;
    TrashResult result = kTrashFailed;
    int err = EEXIST;
    for (int i = 0; i < kPlainNumbers + kScatteredNumbers; i++) {
        char trashName[sizeof out->name], infoName[sizeof out->name + sizeof kInfoSuffix];
        if (!TrashName(asName, TryNumber(i), trashName, sizeof trashName)) {
            err = ENAMETOOLONG;
            break;
        }
        snprintf(infoName, sizeof infoName, "%s%s", trashName, kInfoSuffix);
        err = WriteInfo(&t.info, t.held, infoName, recorded);
        if (err == EEXIST)
            continue;
        if (err)
            break;
        MoveResult moved = MoveEntry(from, name, id, &t.files, trashName);
        err = errno;
        if (moved == kMoved) {
            result = kTrashed;
            snprintf(out->name, sizeof out->name, "%s", trashName);
            EntryPath(&t.files, trashName, out->path, sizeof out->path);
            if (LookAtEntry(&t.files, trashName, &out->id) != kEntryFile)
                memset(&out->id, 0, sizeof out->id);
            err = 0;
            break;
        }
        unlinkat((int)t.info.handle, infoName, 0);
        if (moved == kMovePageChanged) {
            result = kTrashPageChanged;
            break;
        }
        if (moved != kMoveNameTaken)
            break;
        err = EEXIST;
    }
    CloseTrash(&t);
    errno = err;
    return result;
}

bool RestoreTrashed(const TrashedFile *trashed, const HeldFolder *to, const char *name)
{
    // The trash folder from the trashed file's path: .../files/NAME.
    char trash[sizeof trashed->path];
    size_t n = strlen(trashed->path), nameLength = strlen(trashed->name);
    size_t cut = sizeof kFilesFolder + nameLength;  // "files/" + NAME
    if (!trashed->name[0] || n <= cut || strcmp(trashed->path + n - nameLength, trashed->name) != 0) {
        errno = ENOENT;
        return false;
    }
    memcpy(trash, trashed->path, n - cut);
    trash[n - cut - 1] = 0;
    HeldFolder folder;
    Trash t;
    if (!OpenHeldFolder(trash, &folder))
        return false;
    bool ok = OpenTrashFolder((int)folder.handle, folder.path, kFilesFolder, false, &t.files);
    t.info.open = false;
    t.held = false;
    ok = ok && OpenTrashFolder((int)folder.handle, folder.path, kInfoFolder, false, &t.info);
    CloseHeldFolder(&folder);
    // Only the file that was trashed, as it was left there.
    PageIdentity now;
    if (ok &&
        (LookAtEntry(&t.files, trashed->name, &now) != kEntryFile || !SameIdentity(&now, &trashed->id))) {
        errno = ENOENT;
        ok = false;
    }
    ok = ok && MoveEntry(&t.files, trashed->name, &now, to, name) == kMoved;
    if (ok) {
        char infoName[sizeof trashed->name + sizeof kInfoSuffix];
        snprintf(infoName, sizeof infoName, "%s%s", trashed->name, kInfoSuffix);
        unlinkat((int)t.info.handle, infoName, 0);
        SyncFolderLater(&t.info);
    }
    int err = errno;
    CloseTrash(&t);
    errno = err;
    return ok;
}

// Whether `name` is the name of a trash at the top of a file system:
// .Trash, or .Trash- and a number.
static bool IsTopdirTrashName(const char *name, size_t n)
{
    if (n == 6 && memcmp(name, ".Trash", 6) == 0)
        return true;
    if (n <= 7 || memcmp(name, ".Trash-", 7) != 0)
        return false;
    for (size_t i = 7; i < n; i++) {
        if (name[i] < '0' || name[i] > '9')
            return false;
    }
    return true;
}

// Whether the folder `parent`, whose path is `parentPath`, is the top of
// its file system.
static bool IsTopdir(int parent, const char *parentPath)
{
    struct stat st, top;
    if (fstat(parent, &st) != 0)
        return false;
    char path[kFolderPathSize];
    if (!FindTopdir(st.st_dev, parentPath[0] ? parentPath : "/", path, sizeof path) || lstat(path, &top) != 0)
        return false;
    return top.st_dev == st.st_dev && top.st_ino == st.st_ino;
}

// The home trash's identity, where it is there (a call that holds its
// trashes looks for it until it is found, then keeps it).
static bool HomeTrashIdentity(dev_t *dev, ino_t *ino)
{
    TrashHold *h = &hold;
    pthread_mutex_lock(&h->lock);
    bool known = h->on && h->homeIdKnown;
    *dev = h->homeIdDev;
    *ino = h->homeIdIno;
    pthread_mutex_unlock(&h->lock);
    if (known)
        return true;
    struct stat home;
    HeldFolder homeTrash;
    bool have = OpenHomeTrashFolder(false, &homeTrash);
    if (have) {
        have = fstat((int)homeTrash.handle, &home) == 0;
        CloseHeldFolder(&homeTrash);
    }
    if (!have)
        return false;
    *dev = home.st_dev;
    *ino = home.st_ino;
    pthread_mutex_lock(&h->lock);
    if (h->on) {
        h->homeIdKnown = true;
        h->homeIdDev = home.st_dev;
        h->homeIdIno = home.st_ino;
    }
    pthread_mutex_unlock(&h->lock);
    return true;
}

// Whether the folder (`self` its fstat) or one above it is the home trash
// or a .Trash* at the top of its file system, by identity. The folders
// above are walked up by "..", which needs no path; the names come from
// the folder's path, checked against the folder the walk stands in.
static bool WalkUpToTrash(const HeldFolder *folder, const struct stat &self)
{
    dev_t homeDev;
    ino_t homeIno;
    bool haveHome = HomeTrashIdentity(&homeDev, &homeIno);
    char path[kFolderPathSize];
    snprintf(path, sizeof path, "%s", folder->path);
    size_t length = strlen(path);
    int own = (int)folder->handle, at = own;   // the folder's own descriptor stays open
    struct stat st = self;
    bool inside = false;
    while (!inside) {
        if (haveHome && st.st_dev == homeDev && st.st_ino == homeIno) {
            inside = true;
            break;
        }
        int parent = openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        struct stat up;
        if (parent < 0 || fstat(parent, &up) != 0 || (up.st_dev == st.st_dev && up.st_ino == st.st_ino)) {
            if (parent >= 0)
                close(parent);
            break;  // the root
        }
        // This folder's name in the path, and the path of the one above.
        size_t slash = length;
        while (slash > 0 && path[slash - 1] != '/')
            slash--;
        const char *name = path + slash;
        size_t nameLength = length - slash;
        struct stat entry;
        if (slash > 0 && IsTopdirTrashName(name, nameLength)) {
            path[length] = 0;
            bool same = fstatat(parent, name, &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
                entry.st_dev == st.st_dev && entry.st_ino == st.st_ino;
            path[slash > 1 ? slash - 1 : 1] = 0;
            inside = same && IsTopdir(parent, path);
        }
        length = slash > 1 ? slash - 1 : (slash == 1 ? 1 : 0);
        path[length] = 0;
        if (at != own)
            close(at);
        at = parent;
        st = up;
    }
    if (at != own)
        close(at);
    return inside;
}

bool IsInsideTrash(const HeldFolder *folder)
{
    int saved = errno;
    struct stat st;
    if (fstat((int)folder->handle, &st) != 0) {
        errno = saved;
        return false;
    }
    // A folder this call already found outside every trash stays so for
    // the call (only a rename of it or of a folder above could change it).
    TrashHold *h = &hold;
    pthread_mutex_lock(&h->lock);
    bool known = false;
    for (int i = 0; h->on && i < h->outside && !known; i++)
        known = h->outsideDev[i] == st.st_dev && h->outsideIno[i] == st.st_ino;
    pthread_mutex_unlock(&h->lock);
    bool inside = !known && WalkUpToTrash(folder, st);
    if (!known && !inside) {
        pthread_mutex_lock(&h->lock);
        if (h->on && h->outside < kOutsideFolders) {
            h->outsideDev[h->outside] = st.st_dev;
            h->outsideIno[h->outside++] = st.st_ino;
        }
        pthread_mutex_unlock(&h->lock);
    }
    errno = saved;
    return inside;
}

// ---- The trashes a walk skips

static void AddKnownTrash(KnownTrashes *known, size_t *room, const char *path)
{
    // The trash itself is a real folder: a link in its place names nothing.
    struct stat st, self;
    if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode) || lstat(path, &self) != 0 || S_ISLNK(self.st_mode))
        return;
    for (size_t i = 0; i < known->count; i++) {
        if (known->keys[i].volume == (uint64_t)st.st_dev && known->keys[i].file == (uint64_t)st.st_ino)
            return;
    }
    if (known->count == *room) {
        size_t grown = *room ? 2 * *room : 16;
        TrashKey *more = (TrashKey *)realloc(known->keys, grown * sizeof *more);
        if (!more)
            return;
        known->keys = more;
        *room = grown;
    }
    known->keys[known->count++] = {(uint64_t)st.st_dev, (uint64_t)st.st_ino};
}

void FindKnownTrashes(KnownTrashes *known)
{
    known->keys = NULL;
    known->count = 0;
    size_t room = 0;
    char path[kFolderPathSize];
    // The runner's own, and the one the environment names where that differs.
    if (HomeTrashPath(path, sizeof path))
        AddKnownTrash(known, &room, path);
    const char *data = getenv("XDG_DATA_HOME");
    if (data && data[0] == '/' && snprintf(path, sizeof path, "%s/Trash", data) < (int)sizeof path)
        AddKnownTrash(known, &room, path);
    const char *home = getenv("HOME");
    if (home && home[0] == '/' &&
        snprintf(path, sizeof path, "%s/.local/share/Trash", home) < (int)sizeof path)
        AddKnownTrash(known, &room, path);
    setpwent();
    while (struct passwd *pw = getpwent()) {
        if (pw->pw_dir && pw->pw_dir[0] == '/' &&
            snprintf(path, sizeof path, "%s/.local/share/Trash", pw->pw_dir) < (int)sizeof path)
            AddKnownTrash(known, &room, path);
    }
    endpwent();
}

void FreeKnownTrashes(KnownTrashes *known)
{
    free(known->keys);
    known->keys = NULL;
    known->count = 0;
}

// Whether the folder `info` of the folder `fd` holds a NAME.trashinfo.
static bool HoldsTrashInfo(int fd)
{
    int infoFd = openat(fd, kInfoFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR *d = infoFd >= 0 ? fdopendir(infoFd) : NULL;
    if (!d) {
        if (infoFd >= 0)
            close(infoFd);
        return false;
    }
    bool found = false;
    size_t suffix = sizeof kInfoSuffix - 1;
    while (struct dirent *e = readdir(d)) {
        size_t n = strlen(e->d_name);
        if (n > suffix && strcmp(e->d_name + n - suffix, kInfoSuffix) == 0) {
            found = true;
            break;
        }
    }
    closedir(d);
    return found;
}

bool IsTrashFolder(const char *name, const HeldFolder *folder, const KnownTrashes *known)
{
    if (IsTopdirTrashName(name, strlen(name)))
        return true;
    if (!folder || !folder->open)
        return false;
    int saved = errno;
    int fd = (int)folder->handle;
    struct stat st, files, info;
    bool trash = false;
    if (known && fstat(fd, &st) == 0) {
        for (size_t i = 0; i < known->count && !trash; i++) {
            const TrashKey &k = known->keys[i];
            trash = k.volume == (uint64_t)st.st_dev && k.file == (uint64_t)st.st_ino;
        }
    }
    if (!trash && fstatat(fd, kFilesFolder, &files, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(files.st_mode) &&
        fstatat(fd, kInfoFolder, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode))
        trash = HoldsTrashInfo(fd);
    errno = saved;
    return trash;
}
