// The desktop trash on POSIX desktops, through GIO for now.
#include "platform/trash.h"
#include <errno.h>
#include <gio/gio.h>
#include <string.h>

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

TrashResult TrashEntry(const HeldFolder *from, const char *name, const PageIdentity *id,
                       TrashedFile *out)
{
    out->path[0] = 0;
    if (id && !EntryIsUnchanged(from, name, id))
        return kTrashPageChanged;
    char path[sizeof out->path];
    if (!EntryPath(from, name, path, sizeof path))
        return kTrashFailed;
    GFile *file = g_file_new_for_path(path);
    GError *error = NULL;
    gboolean ok = g_file_trash(file, NULL, &error);
    g_object_unref(file);
    if (!ok) {
        int err = ErrnoOf(error);
        g_clear_error(&error);
        errno = err;
        return kTrashFailed;
    }
    return kTrashed;
}

bool RestoreTrashed(const TrashedFile *, const HeldFolder *, const char *)
{
    errno = ENOTSUP;
    return false;
}

bool IsInsideTrash(const HeldFolder *)
{
    return false;
}
