// Disposal services on POSIX desktops: GIO moves files (across file systems
// too, never over an existing file) and sends them to the freedesktop trash.
#include "dispose/dispose.h"
#include <gio/gio.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>

const char kPathSeparator = '/';
const size_t kDestinationMax = PATH_MAX - 1;
const size_t kNameMax = NAME_MAX;

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

bool MoveOriginal(const char *from, const char *to)
{
    GFile *src = g_file_new_for_path(from);
    GFile *dst = g_file_new_for_path(to);
    gboolean ok = g_file_move(src, dst,
                              (GFileCopyFlags)(G_FILE_COPY_NOFOLLOW_SYMLINKS | G_FILE_COPY_ALL_METADATA),
                              NULL, NULL, NULL, NULL);
    g_object_unref(src);
    g_object_unref(dst);
    return ok;
}

bool RecycleOriginal(const char *path)
{
    GFile *file = g_file_new_for_path(path);
    gboolean ok = g_file_trash(file, NULL, NULL);
    g_object_unref(file);
    return ok;
}
