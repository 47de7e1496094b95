// When the names a run made in a folder reach the disk: at once (each
// folder synced where it changed, as the library and Windows do), or paid
// once for a batch of pages (a group commit, as the command line does).
// One implementation per platform: durable_posix.cpp, durable_win32.cpp.
//
// While folder syncs are gathered, SyncFolderLater keeps the folder (a
// descriptor of its own, one per folder by volume and file) instead of
// syncing it; FlushFolderSyncs then syncs each kept folder once. A page is
// whole on the disk, its new page and its original's new place, only after
// the flush that follows its run: the caller reports it done only then.
// Safe from any thread.
#pragma once
#include "platform/folder.h"

// Syncs the folder now, or keeps it for the next flush while gathering.
// False (with the error) only when a sync made now failed. `forCall`: the
// caller holds the folder open until gathering ends, so that its handle
// alone names it (nothing to look up or duplicate).
bool SyncFolderLater(const HeldFolder *folder, bool forCall = false);

// Starts (true) or ends (false) gathering. Ending flushes what is kept.
void GatherFolderSyncs(bool on);

// Syncs every folder kept since the last flush, once each, and lets go of
// them. True when every sync held; else false with the first error in
// *error (every folder is tried all the same).
bool FlushFolderSyncs(int *error);
