// Held folders on POSIX systems: a descriptor per folder, found by walking
// the path one component at a time from the root, so that every link on
// the way is seen and judged on what it led to.
//
// The walk keeps the folder it stands in as an O_PATH descriptor and the
// real path that leads there. A component is opened once, never through a
// link (O_PATH|O_NOFOLLOW), and judged by fstat on that descriptor: a
// folder is entered through it; a link is read through it and its
// target's components go in front of the ones still to walk, followed by
// the link's judgement, made against the owner of what the target turned
// out to be once it is open; ".." goes back to the folder the walk came
// from, which is the real parent since every link before it was resolved.
#include "platform/folder.h"
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

const char kPathSeparator = '/';
const size_t kDestinationMax = PATH_MAX - 1;
const size_t kNameMax = NAME_MAX;

enum {
    kMaxLinks = 40,                 // as the kernel's own limit of links in a path
    kMaxDepth = kFolderPathSize / 2,    // components still to walk
};

size_t PathUnits(const char *text)
{
    return strlen(text);
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
    id->accessed = Nanoseconds(st.st_atim);
}

bool SameIdentity(const PageIdentity *a, const PageIdentity *b)
{
    return a->volume == b->volume && a->file == b->file && a->size == b->size &&
           a->modified == b->modified && a->changed == b->changed;
}

// The components still to walk, last first, so that a link's target goes
// in front by pushing its components in reverse. A null item is a link's
// judgement: when the walk pops it, the link's target has just been
// reached, and the link's owner (owners[] at the same place) is judged
// against what was opened there.
struct Pending {
    char *text;                 // owned copies of the components
    size_t used, capacity;
    int count;
    int names;                  // the items that are components, not judgements
    const char *items[kMaxDepth];
    uid_t owners[kMaxDepth];
};

static bool PushComponents(Pending *p, const char *path)
{
    // The components of `path` in order, then pushed in reverse.
    const char *starts[kMaxDepth];
    size_t lengths[kMaxDepth];
    int n = 0;
    for (const char *s = path; *s;) {
        while (*s == '/')
            s++;
        if (!*s)
            break;
        const char *e = strchr(s, '/');
        size_t len = e ? (size_t)(e - s) : strlen(s);
        if (n == kMaxDepth || p->count + n >= kMaxDepth || len > NAME_MAX) {
            errno = ENAMETOOLONG;
            return false;
        }
        starts[n] = s;
        lengths[n++] = len;
        s += len;
    }
    for (int i = n - 1; i >= 0; i--) {
        if (p->used + lengths[i] + 1 > p->capacity) {
            // The copies are only ever appended, so earlier items stay
            // valid as offsets: reallocate and move them with the text.
            size_t capacity = (p->capacity + lengths[i] + 1) * 2;
            char *grown = (char *)malloc(capacity);
            if (!grown) {
                errno = ENOMEM;
                return false;
            }
            if (p->text) {
                memcpy(grown, p->text, p->used);
                for (int k = 0; k < p->count; k++) {
                    if (p->items[k])
                        p->items[k] = grown + (p->items[k] - p->text);
                }
                free(p->text);
            }
            p->text = grown;
            p->capacity = capacity;
        }
        char *copy = p->text + p->used;
        memcpy(copy, starts[i], lengths[i]);
        copy[lengths[i]] = 0;
        p->used += lengths[i] + 1;
        p->items[p->count++] = copy;
        p->names++;
    }
    return true;
}

static bool PushJudgement(Pending *p, uid_t linkOwner)
{
    if (p->count >= kMaxDepth) {
        errno = ENAMETOOLONG;
        return false;
    }
    p->owners[p->count] = linkOwner;
    p->items[p->count++] = NULL;
    return true;
}

// Where the walk stands: one folder, held as an O_PATH descriptor, and the
// real path that leads there.
struct Walk {
    int fd;
    char path[kFolderPathSize];
    size_t pathLength;
};

static void CloseWalk(Walk *w)
{
    if (w->fd >= 0)
        close(w->fd);
    w->fd = -1;
}

static bool StartAtRoot(Walk *w)
{
    CloseWalk(w);
    w->fd = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (w->fd < 0)
        return false;
    w->path[0] = '/';
    w->path[1] = 0;
    w->pathLength = 1;
    return true;
}

static bool Enter(Walk *w, int fd, const char *name)
{
    size_t n = strlen(name);
    size_t sep = w->pathLength > 1 ? 1 : 0;
    if (w->pathLength + sep + n >= kFolderPathSize) {
        close(fd);
        errno = ENAMETOOLONG;
        return false;
    }
    if (sep)
        w->path[w->pathLength++] = '/';
    memcpy(w->path + w->pathLength, name, n + 1);
    w->pathLength += n;
    close(w->fd);
    w->fd = fd;
    return true;
}

// ".." of a folder whose every link on the way was resolved: its real
// parent, which the system knows.
static bool GoUp(Walk *w)
{
    if (w->pathLength <= 1)
        return true;                // ".." of the root is the root
    int fd = openat(w->fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    close(w->fd);
    w->fd = fd;
    char *slash = strrchr(w->path, '/');
    w->pathLength = slash == w->path ? 1 : (size_t)(slash - w->path);
    w->path[w->pathLength] = 0;
    return true;
}

// Whether a link owned by `linkOwner` may have led to a file owned by
// `targetOwner`: the runner's own links lead anywhere; another's only to
// what its owner owns (who could have made it reachable anyway).
static bool MayFollow(uid_t linkOwner, uid_t targetOwner)
{
    if (linkOwner == geteuid() || linkOwner == targetOwner)
        return true;
    errno = EACCES;
    return false;
}

// The judgements waiting on top of the pending components, made against
// the owner of what the walk just opened.
static bool Judge(Pending *p, uid_t reachedOwner)
{
    while (p->count > 0 && !p->items[p->count - 1]) {
        p->count--;
        if (!MayFollow(p->owners[p->count], reachedOwner))
            return false;
    }
    return true;
}

static bool GiveName(const char *c, char *name, size_t nameSize)
{
    size_t n = strlen(c);
    if (n >= nameSize) {
        errno = ENAMETOOLONG;
        return false;
    }
    memcpy(name, c, n + 1);
    return true;
}

// Walks `path` (made absolute) to its end. With `lastIsPage` the last
// component is not entered: it must be a file, or a link to one, and its
// resolved name goes to `name`; when a link led to it, what it was when the
// walk judged it goes to `reached` (else its volume and file are 0). Leaves
// the walk in the folder that holds it.
//
// Every component is opened once, O_PATH|O_NOFOLLOW, and everything about
// it is decided on that descriptor: a folder is entered through it, a
// link's owner comes from fstat on it and its text from readlinkat(fd, ""),
// so the link is read once; its target is then walked the same way, and
// only once the walk stands on what the target named is the link judged,
// by the owner of that opened file or folder.
static bool WalkPath(Walk *w, const char *path, bool lastIsPage, char *name, size_t nameSize,
                     PageIdentity *reached)
{
    Pending pending = {};
    bool ok = false;
    int links = 0;
    bool linkAtEnd = false;         // the components to walk come from the last one's link
    char absolute[kFolderPathSize];
    if (reached)
        memset(reached, 0, sizeof *reached);
    if (path[0] != '/') {
        if (!getcwd(absolute, sizeof absolute))
            return false;
        size_t n = strlen(absolute);
        if (n + 1 + strlen(path) >= sizeof absolute) {
            errno = ENAMETOOLONG;
            return false;
        }
        absolute[n] = '/';
        memcpy(absolute + n + 1, path, strlen(path) + 1);
        path = absolute;
    }
    if (!StartAtRoot(w) || !PushComponents(&pending, path))
        goto done;
    if (lastIsPage && pending.count == 0) {
        errno = EISDIR;             // "/" names no page
        goto done;
    }
    while (pending.count > 0) {
        const char *c = pending.items[--pending.count];
        if (!c) {
            // A link's target reached, a folder: judged by the folder's owner.
            struct stat at;
            pending.count++;
            if (fstat(w->fd, &at) != 0 || !Judge(&pending, at.st_uid))
                goto done;
            continue;
        }
        pending.names--;
        bool last = pending.names == 0;
        if (strcmp(c, ".") == 0 || strcmp(c, "..") == 0) {
            if (last && lastIsPage) {
                errno = EISDIR;
                goto done;
            }
            if (c[1] && !GoUp(w))
                goto done;
            continue;
        }
        // The page at the end is not entered: one look at it does, unless
        // it is a link, which is read through a descriptor of its own.
        struct stat st;
        bool page = last && lastIsPage;
        bool looked = page && fstatat(w->fd, c, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode);
        int fd = looked ? -1 : openat(w->fd, c, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (!looked && (fd < 0 || fstat(fd, &st) != 0)) {
            if (fd >= 0)
                close(fd);
            // No page there yet is a name all the same; the end of a link
            // that leads nowhere is not.
            if (last && lastIsPage && errno == ENOENT && !linkAtEnd)
                ok = GiveName(c, name, nameSize);
            goto done;
        }
        if (S_ISLNK(st.st_mode)) {
            char target[kFolderPathSize];
            ssize_t n = ++links > kMaxLinks ? -1 : readlinkat(fd, "", target, sizeof target - 1);
            close(fd);
            if (links > kMaxLinks)
                errno = ELOOP;
            if (n < 0)
                goto done;
            target[n] = 0;
            if (st.st_uid != geteuid() && !PushJudgement(&pending, st.st_uid))
                goto done;
            if (target[0] == '/' && !StartAtRoot(w))
                goto done;
            if (!PushComponents(&pending, target))
                goto done;
            linkAtEnd = linkAtEnd || last;
            if (last && lastIsPage && pending.names == 0) {
                errno = EISDIR;
                goto done;
            }
            continue;
        }
        if (page) {
            if (fd >= 0)
                close(fd);
            if (!Judge(&pending, st.st_uid))
                goto done;
            if (reached && linkAtEnd)
                IdentityOf(st, reached);
            ok = GiveName(c, name, nameSize);
            goto done;
        }
        if (!S_ISDIR(st.st_mode)) {
            close(fd);
            errno = ENOTDIR;
            goto done;
        }
        if (!Enter(w, fd, c))
            goto done;
    }
    ok = !lastIsPage;
    if (!ok)
        errno = EISDIR;
done:
    free(pending.text);
    return ok;
}

// Holds the folder the walk stands in: readable where the runner may list
// it (then it can be synced), else as the walk's own O_PATH descriptor.
static bool HoldWalkFolder(Walk *w, HeldFolder *folder)
{
    int fd = openat(w->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    folder->canSync = fd >= 0;
    if (fd < 0) {
        fd = w->fd;
        w->fd = -1;                 // kept: not closed with the walk
    }
    folder->handle = fd;
    folder->open = true;
    memcpy(folder->path, w->path, w->pathLength + 1);
    CloseWalk(w);
    return true;
}

bool OpenHeldFolder(const char *path, HeldFolder *folder)
{
    folder->open = false;
    folder->path[0] = 0;
    Walk w;
    w.fd = -1;
    if (!*path) {
        errno = ENOENT;
        return false;
    }
    if (!WalkPath(&w, path, false, 0, 0, 0)) {
        int err = errno;
        CloseWalk(&w);
        errno = err;
        return false;
    }
    return HoldWalkFolder(&w, folder);
}

bool OpenPageFolder(const char *pagePath, HeldFolder *folder, char *name, size_t nameSize)
{
    return OpenLinkedPageFolder(pagePath, folder, name, nameSize, 0);
}

bool OpenLinkedPageFolder(const char *pagePath, HeldFolder *folder, char *name, size_t nameSize,
                          PageIdentity *reached)
{
    folder->open = false;
    folder->path[0] = 0;
    if (nameSize)
        name[0] = 0;
    if (!*pagePath) {
        errno = ENOENT;
        return false;
    }
    size_t n = strlen(pagePath);
    Walk w;
    w.fd = -1;
    // A path that ends in '/' names a folder, never a page.
    if (pagePath[n - 1] == '/' || !WalkPath(&w, pagePath, true, name, nameSize, reached)) {
        int err = pagePath[n - 1] == '/' ? EISDIR : errno;
        CloseWalk(&w);
        errno = err;
        if (nameSize)
            name[0] = 0;
        return false;
    }
    return HoldWalkFolder(&w, folder);
}

void CloseHeldFolder(HeldFolder *folder)
{
    if (folder->open)
        close((int)folder->handle);
    folder->open = false;
}

bool SyncHeldFolder(const HeldFolder *folder)
{
    if (!folder->open || !folder->canSync)
        return true;
    int saved = errno;
    // Some file systems cannot sync a folder (EINVAL): the names are there
    // all the same.
    bool ok = fsync((int)folder->handle) == 0 || errno == EINVAL || errno == EROFS;
    if (ok)
        errno = saved;
    return ok;
}

EntryKind LookAtEntry(const HeldFolder *folder, const char *name, PageIdentity *id)
{
    struct stat st;
    if (fstatat((int)folder->handle, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return kEntryMissing;
    if (id)
        IdentityOf(st, id);
    if (S_ISREG(st.st_mode))
        return kEntryFile;
    if (S_ISDIR(st.st_mode))
        return kEntryFolder;
    if (S_ISLNK(st.st_mode))
        return kEntryLink;
    return kEntryOther;
}

bool EntryIsUnchanged(const HeldFolder *folder, const char *name, const PageIdentity *id)
{
    PageIdentity now;
    EntryKind kind = LookAtEntry(folder, name, &now);
    return (kind == kEntryFile || kind == kEntryLink) && SameIdentity(&now, id);
}

bool RemoveEntry(const HeldFolder *folder, const char *name, const PageIdentity *id)
{
    return EntryIsUnchanged(folder, name, id) && unlinkat((int)folder->handle, name, 0) == 0;
}

bool CanCreateIn(const HeldFolder *folder)
{
    return faccessat((int)folder->handle, ".", W_OK | X_OK, AT_EACCESS) == 0;
}

bool FileIdentity(FileHandle file, PageIdentity *id)
{
    struct stat st;
    if (fstat((int)file, &st) != 0)
        return false;
    IdentityOf(st, id);
    return true;
}

bool OpenEntryForReading(const HeldFolder *folder, const char *name, FileHandle *file,
                         PageIdentity *id)
{
    // O_NONBLOCK: a pipe that took the page's place does not wait for a
    // writer; O_NOFOLLOW: a link that took it fails the open.
    int fd = openat((int)folder->handle, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        close(fd);
        errno = err;
        return false;
    }
    if (id)
        IdentityOf(st, id);
    *file = fd;
    return true;
}

bool EntryPath(const HeldFolder *folder, const char *name, char *out, size_t size)
{
    size_t n = strlen(folder->path);
    bool sep = n > 0 && folder->path[n - 1] != '/';
    int len = snprintf(out, size, "%s%s%s", folder->path, sep ? "/" : "", name);
    if (len < 0 || (size_t)len >= size) {
        if (size)
            out[0] = 0;
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

const char *FindFileName(const char *path)
{
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

bool OpenSubfolder(const HeldFolder *parent, const char *name, const PageIdentity *expect,
                   HeldFolder *out)
{
    out->open = false;
    // A folder deeper than a path can spell is still walked by its
    // descriptor; its path stays empty (or not absolute), which the trash
    // refuses to record.
    EntryPath(parent, name, out->path, sizeof out->path);
    int fd = openat((int)parent->handle, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    bool canSync = fd >= 0;
    if (fd < 0 && errno == EACCES)
        fd = openat((int)parent->handle, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (expect && (fstat(fd, &st) != 0 || (uint64_t)st.st_dev != expect->volume ||
                   (uint64_t)st.st_ino != expect->file)) {
        close(fd);
        errno = ESTALE;
        return false;
    }
    out->handle = fd;
    out->open = true;
    out->canSync = canSync;
    return true;
}

bool ReadFolderNames(const HeldFolder *folder, void (*each)(void *context, const char *name),
                     void *context)
{
    int fd = openat((int)folder->handle, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *d = fd >= 0 ? fdopendir(fd) : NULL;
    if (!d) {
        int err = errno;
        if (fd >= 0)
            close(fd);
        errno = err;
        return false;
    }
    errno = 0;
    while (struct dirent *e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            each(context, e->d_name);
        errno = 0;
    }
    int err = errno;
    closedir(d);
    errno = err;
    return err == 0;
}

bool MakeSubfolder(const HeldFolder *parent, const char *name, HeldFolder *out)
{
    if (mkdirat((int)parent->handle, name, 0777) != 0 && errno != EEXIST)
        return false;
    return OpenSubfolder(parent, name, NULL, out);
}

bool RemoveEmptySubfolder(const HeldFolder *parent, const char *name)
{
    return unlinkat((int)parent->handle, name, AT_REMOVEDIR) == 0;
}

bool PathKey(const char *text, bool, char *out, size_t size)
{
    size_t n = strlen(text);
    if (n >= size) {
        errno = ENAMETOOLONG;
        return false;
    }
    memcpy(out, text, n + 1);
    return true;
}

size_t PathKeyRoot(const char *)
{
    return 0;
}
