// Windows has no folder to sync: a name is on the disk with its file's
// flush, so there is nothing to gather.
#include "platform/durable.h"

bool SyncFolderLater(const HeldFolder *folder, bool)
{
    return SyncHeldFolder(folder);
}

void GatherFolderSyncs(bool)
{
}

bool FlushFolderSyncs(int *error)
{
    *error = 0;
    return true;
}
