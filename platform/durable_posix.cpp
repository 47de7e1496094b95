// Folder syncs on POSIX systems, at once or gathered: while gathering, a
// folder is kept by a descriptor of its own (the run closes its own soon
// after), one per folder by device and inode, and the flush fsyncs each.
#include "platform/durable.h"
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

enum {
    // More distinct folders than this in one batch are synced at once:
    // the descriptors kept stay well within the open-file limit.
    kMaxKept = 64,
};

struct KeptFolder {
    dev_t dev;
    ino_t ino;
    int fd;
    bool borrowed;      // the caller's descriptor, open for the call: not closed here
};

struct Gathered {
    pthread_mutex_t lock;
    bool on;
    int count;
    KeptFolder kept[kMaxKept];
};
static Gathered gathered = {PTHREAD_MUTEX_INITIALIZER, false, 0, {}};

// Keeps the folder for the flush: false when it cannot be kept (then it
// is synced at once). Called with the lock held.
static bool Keep(Gathered *g, const HeldFolder *folder, bool forCall)
{
    int handle = (int)folder->handle;
    for (int i = 0; forCall && i < g->count; i++) {
        if (g->kept[i].borrowed && g->kept[i].fd == handle)
            return true;
    }
    struct stat st;
    if (!forCall && fstat(handle, &st) != 0)
        return false;
    for (int i = 0; !forCall && i < g->count; i++) {
        if (!g->kept[i].borrowed && g->kept[i].dev == st.st_dev && g->kept[i].ino == st.st_ino)
            return true;
    }
    if (g->count == kMaxKept)
        return false;
    int fd = forCall ? handle : fcntl(handle, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return false;
    g->kept[g->count++] = {forCall ? 0 : st.st_dev, forCall ? 0 : st.st_ino, fd, forCall};
    return true;
}

bool SyncFolderLater(const HeldFolder *folder, bool forCall)
{
    if (!folder->open || !folder->canSync)
        return true;
    Gathered *g = &gathered;
    int saved = errno;
    pthread_mutex_lock(&g->lock);
    bool kept = g->on && Keep(g, folder, forCall);
    pthread_mutex_unlock(&g->lock);
    errno = saved;
    return kept || SyncHeldFolder(folder);
}

bool FlushFolderSyncs(int *error)
{
    Gathered *g = &gathered;
    KeptFolder taken[kMaxKept];
    pthread_mutex_lock(&g->lock);
    int n = g->count;
    for (int i = 0; i < n; i++)
        taken[i] = g->kept[i];
    g->count = 0;
    pthread_mutex_unlock(&g->lock);
    // In the order they were kept: a page's trash record before its file,
    // its file before its folder.
    *error = 0;
    for (int i = 0; i < n; i++) {
        // Some file systems cannot sync a folder (EINVAL): the names are
        // there all the same.
        if (fsync(taken[i].fd) != 0 && errno != EINVAL && errno != EROFS && !*error)
            *error = errno;
        if (!taken[i].borrowed)
            close(taken[i].fd);
    }
    return *error == 0;
}

void GatherFolderSyncs(bool on)
{
    Gathered *g = &gathered;
    pthread_mutex_lock(&g->lock);
    g->on = on;
    pthread_mutex_unlock(&g->lock);
    int error;
    if (!on)
        FlushFolderSyncs(&error);
}
