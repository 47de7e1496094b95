// The disposal of the original: the plan (the free name in the target
// folder, or the trash and why) and the moves that carry it out.
#include "app/dispose.h"
#include <stdio.h>
#include <string.h>
#include "platform/file.h"
#include "platform/move.h"

void OpenDisposalTarget(bool toTrash, const char *folder, DisposalTarget *target)
{
    target->toTrash = toTrash;
    target->folderMissing = false;
    target->folder.open = false;
    target->folder.path[0] = 0;
    if (toTrash)
        return;
    // An empty folder names none; a file, or a folder the runner may not
    // enter, is no folder for the originals either.
    if (!folder[0] || !OpenHeldFolder(folder, &target->folder)) {
        target->toTrash = true;
        target->folderMissing = true;
    }
}

void CloseDisposalTarget(DisposalTarget *target)
{
    CloseHeldFolder(&target->folder);
}

void PlanDisposal(const DisposalTarget *target, const char *pageName, int first,
                  DisposalPlan *plan)
{
    plan->toTrash = true;
    plan->warning = -1;
    plan->number = -1;
    plan->name[0] = 0;
    plan->where[0] = 0;
    if (target->toTrash)
        return;
    const char *folder = target->folder.path;
    size_t folderLen = strlen(folder);
    bool needSeparator = folderLen == 0 || folder[folderLen - 1] != kPathSeparator;
    size_t destLen = folderLen + (needSeparator ? 1 : 0);
    size_t nameLen = strlen(pageName);
    // The limits count in the platform's units, the buffers in bytes.
    size_t folderUnits = PathUnits(folder) + (needSeparator ? 1 : 0);
    size_t nameUnits = PathUnits(pageName);
    for (int n = first;; n++) {
        char prefix[16] = "";
        if (n > 0)
            snprintf(prefix, sizeof prefix, "~%d_", n);
        size_t prefixLen = strlen(prefix);
        if (prefixLen + folderUnits + nameUnits > kDestinationMax || prefixLen + nameUnits > kNameMax ||
            prefixLen + nameLen >= sizeof plan->name ||
            destLen + prefixLen + nameLen >= sizeof plan->where) {
            plan->warning = kWarnNameTooLong;
            return;
        }
        if (n >= kMaxNameNumber) {
            plan->warning = kWarnCannotMove;
            return;
        }
        memcpy(plan->name, prefix, prefixLen);
        memcpy(plan->name + prefixLen, pageName, nameLen + 1);
        // A name seen taken is skipped at once; the move itself decides for
        // the others, since another run may take a name after this look.
        if (LookAtEntry(&target->folder, plan->name, 0) != kEntryMissing)
            continue;
        plan->toTrash = false;
        plan->number = n;
        EntryPath(&target->folder, plan->name, plan->where, sizeof plan->where);
        return;
    }
}

void DisposeOriginal(const DisposalTarget *target, const HeldFolder *folder, const char *name,
                     const PageIdentity *id, DisposalOutcome *out)
{
    DisposeOriginalAs(target, folder, name, name, id, out);
}

void DisposeOriginalAs(const DisposalTarget *target, const HeldFolder *folder, const char *name,
                       const char *asName, const PageIdentity *id, DisposalOutcome *out)
{
    out->kind = kDisposalFailed;
    out->warnings = 0;
    out->error = 0;
    out->where[0] = 0;
    out->name[0] = 0;
    out->trashed.path[0] = 0;
    DisposalPlan plan;
    PlanDisposal(target, asName, 0, &plan);
    while (!plan.toTrash) {
        MoveResult r = MoveEntry(folder, name, id, &target->folder, plan.name);
        if (r == kMoved) {
            out->kind = kDisposedToFolder;
            memcpy(out->where, plan.where, strlen(plan.where) + 1);
            memcpy(out->name, plan.name, strlen(plan.name) + 1);
            return;
        }
        if (r == kMovePageChanged) {
            // Never to the trash after that: the page stays as it is.
            out->kind = kDisposalPageChanged;
            return;
        }
        if (r == kMoveNameTaken) {
            PlanDisposal(target, asName, plan.number + 1, &plan);
            continue;
        }
        out->error = LastSystemError();
        plan.toTrash = true;
        plan.warning = kWarnCannotMove;
    }
    if (plan.warning >= 0)
        out->warnings |= 1u << plan.warning;
    switch (TrashEntryAs(folder, name, asName, id, &out->trashed)) {
    case kTrashed:
        out->kind = kDisposedToTrash;
        out->error = 0;
        memcpy(out->where, out->trashed.path, strlen(out->trashed.path) + 1);
        return;
    case kTrashPageChanged:
        out->kind = kDisposalPageChanged;
        return;
    case kTrashFailed:
        out->error = LastSystemError();
        return;
    }
}

bool BringBackOriginal(const DisposalTarget *target, const DisposalOutcome *out,
                       const HeldFolder *folder, const char *name)
{
    if (out->kind == kDisposedToFolder)
        return MoveEntry(&target->folder, out->name, 0, folder, name) == kMoved;
    if (out->kind == kDisposedToTrash)
        return RestoreTrashed(&out->trashed, folder, name);
    return false;
}
