// New files on POSIX systems: an O_TMPFILE file in the held folder (or a
// hidden ".wtXXXXXX" where the file system has none), linked under a hidden
// name once whole, then renamed to its real name, every step relative to
// the folder's descriptor.
#include "platform/place.h"
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>
#include "platform/durable.h"
#include "platform/signals.h"

enum {
    kNameTries = 100,
    // Names "wtNNNNNN.htm" for a cleaned page kept beside the page: the
    // process and the attempt spread over six digits.
    kKeptNameSpace = 1000000,
    kKeptNameStep = 104729,
    kKeptNameProcessStep = 7919,
};

static const char kAccessAcl[] = "system.posix_acl_access";

static int Folder(const NewFile *nf)
{
    return (int)nf->folder->handle;
}

// A hidden name that no other run of this or another process is likely to
// try at the same moment: ".wt" and six letters from the process, the
// thread's counter and the clock.
static void HiddenName(char *out, size_t size, int attempt)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static thread_local unsigned counter;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned long long x = (unsigned long long)getpid() * 0x9E3779B97F4A7C15ull ^
                           (unsigned long long)now.tv_nsec * 0xBF58476D1CE4E5B9ull ^
                           (unsigned long long)(++counter + (unsigned)attempt) * 0x94D049BB133111EBull ^
                           (unsigned long long)(uintptr_t)&counter;
    char letters[7];
    for (int i = 0; i < 6; i++) {
        letters[i] = kLetters[x % (sizeof kLetters - 1)];
        x /= sizeof kLetters - 1;
    }
    letters[6] = 0;
    snprintf(out, size, ".wt%s", letters);
}

void LeftoverName(const char *pageName, char *out, size_t size)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned long long x = 0xcbf29ce484222325ull;     // FNV-1a
    for (const unsigned char *p = (const unsigned char *)pageName; *p; p++)
        x = (x ^ *p) * 0x100000001b3ull;
    char letters[7];
    for (int i = 0; i < 6; i++) {
        letters[i] = kLetters[x % (sizeof kLetters - 1)];
        x /= sizeof kLetters - 1;
    }
    letters[6] = 0;
    snprintf(out, size, ".wt%s", letters);
}

bool CreateNewFile(const HeldFolder *folder, NewFile *nf)
{
    return CreateNewFileFor(folder, NULL, nf);
}

bool CreateNewFileFor(const HeldFolder *folder, const char *pageName, NewFile *nf)
{
    nf->folder = folder;
    nf->open = false;
    nf->created = false;
    nf->placed = false;
    nf->exchanged = false;
    nf->tempSlot = -1;
    nf->hiddenName[0] = 0;
    nf->ownName[0] = 0;
    nf->lostKind = kKeptAll;
    nf->lost[0] = 0;
    if (pageName)
        LeftoverName(pageName, nf->ownName, sizeof nf->ownName);
    int fd = -1;
#ifdef O_TMPFILE
    fd = openat((int)folder->handle, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (fd < 0) {
        // No anonymous files here: a hidden name, entered among the
        // temporaries that a signal removes as it is made.
        for (int i = 0; i < kNameTries && fd < 0; i++) {
            char name[sizeof nf->hiddenName];
            // Never the page's leftover name yet: that name only ever
            // holds a whole file (FinishNewFile gives it).
            HiddenName(name, sizeof name, i);
            EnterTemporarySection();
            fd = openat((int)folder->handle, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0600);
            if (fd >= 0) {
                memcpy(nf->hiddenName, name, strlen(name) + 1);
                nf->tempSlot = NoteTemporary(folder->handle, name);
            }
            LeaveTemporarySection();
            if (fd < 0 && errno != EEXIST)
                return false;
        }
        if (fd < 0)
            return false;
    }
    // Under way while it is open: a run that finds the page's leftover
    // name leaves a locked file alone.
    if (pageName)
        (void)flock(fd, LOCK_EX | LOCK_NB);
    nf->file = fd;
    nf->open = true;
    nf->created = true;
    return true;
}

bool IsNewFileUnderWay(FileHandle file)
{
    if (flock((int)file, LOCK_SH | LOCK_NB) != 0)
        return errno == EWOULDBLOCK;
    flock((int)file, LOCK_UN);
    return false;
}

// The extended attributes of `from` onto `to`. False when `exact` asks for
// the ACL and it could not be made the same, or a user.* attribute could
// not be set (its name then goes to nf->lost).
static bool CopyExtendedAttributes(int from, int to, bool exact, NewFile *nf)
{
    bool hasAcl = false, ok = true;
    ssize_t n = flistxattr(from, NULL, 0);
    char *names = n > 0 ? (char *)malloc((size_t)n) : NULL;
    if (names)
        n = flistxattr(from, names, (size_t)n);
    else if (n > 0)
        ok = !exact;
    for (ssize_t at = 0; names && at < n; at += (ssize_t)strlen(names + at) + 1) {
        const char *name = names + at;
        bool acl = strcmp(name, kAccessAcl) == 0;
        hasAcl = hasAcl || acl;
        ssize_t size = fgetxattr(from, name, NULL, 0);
        char *value = size >= 0 ? (char *)malloc(size > 0 ? (size_t)size : 1) : NULL;
        if (value)
            size = fgetxattr(from, name, value, (size_t)size);
        // What the runner may not set (trusted.*, another's security
        // label, a file system without them) is skipped; the ACL is not.
        bool set = value && size >= 0 && fsetxattr(to, name, value, (size_t)size, 0) == 0;
        if (acl && !set && exact)
            ok = false;
        if (!set && exact && strncmp(name, "user.", 5) == 0 && nf->lostKind == kKeptAll) {
            int err = errno;
            nf->lostKind = kLostAttribute;
            snprintf(nf->lost, sizeof nf->lost, "%s", name);
            ok = false;
            errno = err;
        }
        free(value);
    }
    free(names);
    if (!hasAcl && fremovexattr(to, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP &&
        exact)
        ok = false;
    return ok;
}

// "owner:group" by name where the system knows them, else by number.
static void OwnerText(uid_t uid, gid_t gid, char *out, size_t size)
{
    char buf[4096], user[256], group[256];
    struct passwd pw, *pwFound = NULL;
    struct group gr, *grFound = NULL;
    if (getpwuid_r(uid, &pw, buf, sizeof buf, &pwFound) == 0 && pwFound)
        snprintf(user, sizeof user, "%s", pwFound->pw_name);
    else
        snprintf(user, sizeof user, "%u", (unsigned)uid);
    if (getgrgid_r(gid, &gr, buf, sizeof buf, &grFound) == 0 && grFound)
        snprintf(group, sizeof group, "%s", grFound->gr_name);
    else
        snprintf(group, sizeof group, "%u", (unsigned)gid);
    snprintf(out, size, "%.120s:%.120s", user, group);
}

bool CopyAccess(FileHandle like, const char *likeName, NewFile *nf, bool exact)
{
    (void)likeName;
    int from = (int)like, to = (int)nf->file;
    struct stat st, now;
    if (fstat(from, &st) != 0 || fstat(to, &now) != 0)
        return false;
    // Owner first: giving a file away clears its set-id bits, and the ACL
    // and mode below must be set by the new owner's rules.
    bool ownerKept = true;
    if ((now.st_uid != st.st_uid || now.st_gid != st.st_gid) && fchown(to, st.st_uid, st.st_gid) != 0) {
        ownerKept = false;
        // The runner may not give the file away, but the group may be one
        // of the runner's own.
        if (now.st_gid != st.st_gid)
            (void)fchown(to, (uid_t)-1, st.st_gid);
    }
    // The attributes before the mode: a read-only mode would refuse the
    // user.* attributes of a runner without privileges.
    if (!ownerKept && exact) {
        int err = errno;
        nf->lostKind = kLostOwner;
        OwnerText(st.st_uid, st.st_gid, nf->lost, sizeof nf->lost);
        errno = err;
        return false;
    }
    bool ok = CopyExtendedAttributes(from, to, exact, nf);
    // Set-id bits only on a file that kept its owner.
    if (fchmod(to, st.st_mode & (ownerKept ? 07777 : 0777)) != 0 && exact)
        ok = false;
    if (!ok && errno == 0)
        errno = EPERM;
    return ok;
}

bool SetNewFileMode(NewFile *nf, unsigned mode)
{
    return fchmod((int)nf->file, (mode_t)mode) == 0;
}

bool SetNewFileTimes(NewFile *nf, const PageIdentity *like)
{
    const int64_t kBillion = 1000000000;
    struct timespec t[2];
    t[0].tv_sec = (time_t)(like->accessed / kBillion);
    t[0].tv_nsec = (long)(like->accessed % kBillion);
    t[1].tv_sec = (time_t)(like->modified / kBillion);
    t[1].tv_nsec = (long)(like->modified % kBillion);
    for (struct timespec &one : t) {
        if (one.tv_nsec < 0) {          // before 1970
            one.tv_sec--;
            one.tv_nsec += kBillion;
        }
    }
    return futimens((int)nf->file, t) == 0;
}

bool FinishNewFile(NewFile *nf)
{
    // On the disk before it takes a name: after a power cut the name holds
    // the old file or the whole new one, never an empty file.
    if (fdatasync((int)nf->file) != 0)
        return false;
    if (nf->hiddenName[0]) {
        // Whole now: it takes the page's leftover name where it is free.
        EnterTemporarySection();
        if (nf->ownName[0] && renameat2(Folder(nf), nf->hiddenName, Folder(nf), nf->ownName, RENAME_NOREPLACE) == 0) {
            ForgetTemporary(nf->tempSlot);
            memcpy(nf->hiddenName, nf->ownName, sizeof nf->hiddenName);
            nf->tempSlot = NoteTemporary(nf->folder->handle, nf->hiddenName);
        }
        LeaveTemporarySection();
        return true;
    }
    char proc[64];
    snprintf(proc, sizeof proc, "/proc/self/fd/%d", (int)nf->file);
    for (int i = 0; i < kNameTries; i++) {
        char name[sizeof nf->hiddenName];
        if (i == 0 && nf->ownName[0])
            memcpy(name, nf->ownName, sizeof name);
        else
            HiddenName(name, sizeof name, i);
        EnterTemporarySection();
        int got = linkat(AT_FDCWD, proc, Folder(nf), name, AT_SYMLINK_FOLLOW);
#ifdef AT_EMPTY_PATH
        if (got != 0 && errno != EEXIST)
            got = linkat((int)nf->file, "", Folder(nf), name, AT_EMPTY_PATH);
#endif
        if (got == 0) {
            memcpy(nf->hiddenName, name, strlen(name) + 1);
            nf->tempSlot = NoteTemporary(nf->folder->handle, name);
        }
        LeaveTemporarySection();
        if (got == 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Renames `from` to `to` in one folder, never over anything there: 0 or the
// error. Where the file system cannot refuse to replace, the name is first
// claimed with an exclusive empty placeholder, then renamed over.
static int RenameNoReplace(int folder, const char *from, const char *to)
{
    if (renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    int fd = openat(folder, to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    close(fd);
    if (renameat(folder, from, folder, to) == 0)
        return 0;
    int err = errno;
    unlinkat(folder, to, 0);
    return err;
}

static void CloseNewFile(NewFile *nf)
{
    if (nf->open) {
        nf->open = false;
        PlatformClose(nf->file);
    }
}

static void Named(NewFile *nf)
{
    ForgetTemporary(nf->tempSlot);
    nf->tempSlot = -1;
    nf->hiddenName[0] = 0;
    nf->placed = true;
    SyncFolderLater(nf->folder);
    CloseNewFile(nf);
}

int PlaceNewFile(NewFile *nf, const char *name)
{
    if (!nf->hiddenName[0])
        return EINVAL;
    int err = RenameNoReplace(Folder(nf), nf->hiddenName, name);
    if (err == 0)
        Named(nf);
    return err;
}

bool ReplaceWithNewFile(NewFile *nf, const char *name)
{
    if (!nf->hiddenName[0]) {
        errno = EINVAL;
        return false;
    }
    if (renameat(Folder(nf), nf->hiddenName, Folder(nf), name) != 0)
        return false;
    Named(nf);
    return true;
}

int ExchangeWithNewFile(NewFile *nf, const char *name)
{
    if (!nf->hiddenName[0])
        return EINVAL;
    if (renameat2(Folder(nf), nf->hiddenName, Folder(nf), name, RENAME_EXCHANGE) != 0)
        return errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ? kExchangeRefused : errno;
    // The hidden name holds the old file now: a signal must not remove it.
    ForgetTemporary(nf->tempSlot);
    nf->tempSlot = -1;
    nf->exchanged = true;
    return 0;
}

int UndoExchange(NewFile *nf, const char *name)
{
    if (!nf->exchanged)
        return EINVAL;
    EnterTemporarySection();
    int err = renameat2(Folder(nf), nf->hiddenName, Folder(nf), name, RENAME_EXCHANGE) == 0 ? 0 : errno;
    if (err == 0) {
        nf->exchanged = false;
        nf->tempSlot = NoteTemporary(nf->folder->handle, nf->hiddenName);
    }
    LeaveTemporarySection();
    return err;
}

void ExchangeDone(NewFile *nf)
{
    nf->exchanged = false;
    Named(nf);
}

bool KeepNewFile(NewFile *nf, char *out, size_t size)
{
    if (size)
        out[0] = 0;
    for (int i = 0; nf->hiddenName[0] && i < kNameTries; i++) {
        char name[32];
        snprintf(name, sizeof name, "wt%06ld.htm",
                 (long)(((long)getpid() * kKeptNameProcessStep + (long)i * kKeptNameStep) % kKeptNameSpace));
        if (RenameNoReplace(Folder(nf), nf->hiddenName, name) == 0) {
            EntryPath(nf->folder, name, out, size);
            Named(nf);
            return true;
        }
    }
    // Kept under its hidden name, if it has one: neither DiscardNewFile
    // nor a signal may remove it now.
    if (nf->hiddenName[0]) {
        EntryPath(nf->folder, nf->hiddenName, out, size);
        ForgetTemporary(nf->tempSlot);
        nf->tempSlot = -1;
        nf->placed = true;
    }
    CloseNewFile(nf);
    return false;
}

void DiscardNewFile(NewFile *nf)
{
    if (!nf->created)
        return;
    if (!nf->placed && !nf->exchanged && nf->hiddenName[0]) {
        unlinkat(Folder(nf), nf->hiddenName, 0);
        ForgetTemporary(nf->tempSlot);
        nf->tempSlot = -1;
        nf->hiddenName[0] = 0;
    }
    CloseNewFile(nf);
    nf->created = false;
}
