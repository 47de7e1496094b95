// The companion folder of a page saved "complete": NAME_files (or another
// suffix a browser writes) beside NAME.htm, holding the page's pictures,
// style sheets, scripts and fonts. After the page is cleaned, every file
// below that folder that nothing reaches any more goes with the original:
// to the trash, each its own entry recorded at its own path, or with a
// target folder into TARGET/NAME_files/ under free names.
//
// Reached: named by a reference left in the cleaned page (clean/refs.h),
// resolved against the page's folder; by a reference of another page in
// the same folder; and, from those, by the references inside reached style
// sheets, SVG pictures and frames of the folder, transitively. In a call of
// many pages, also by a reference of a page of the call in another folder
// (CompanionNeighbours::farReach). A BASE in the page that points
// elsewhere, or a reference of the page that cannot be resolved, keeps the
// page's whole folder (another page's keep its own). Nothing outside the
// companion folder is touched, a link in
// it is never followed (it goes or stays as a file does), and every move
// takes the disposal's own rules (app/dispose.h): held folders, the file
// that was looked at or none.
#pragma once
#include <stdint.h>
#include "app/dispose.h"
#include "platform/folder.h"

// The suffixes of a companion folder, in the order they are looked for:
// NAME + suffix beside NAME.EXT.
extern const char *const kCompanionSuffixes[];
extern const int kCompanionSuffixCount;

// Why a companion folder kept every file, or that it was trimmed.
enum CompanionOutcome {
    kCompanionNone,             // not asked for, or the page has no companion folder
    kCompanionTrimmed,          // what nothing reaches went (perhaps nothing)
    kCompanionBaseElsewhere,    // a BASE element points elsewhere: all kept
    kCompanionUnresolved,       // a reference could not be resolved: all kept
    kCompanionUnreadable,       // a page could not be read, or the folder walked: all kept
    kCompanionNotHere,          // the platform walks no companion folders (every
                                // platform built walks them; kept for its name)
};

struct CompanionReport {
    int outcome;                // CompanionOutcome
    char folder[260 * 3 + 16];  // the companion folder's name, when there is one
    int64_t files;              // gone (or, previewed, that would go)
    int64_t bytes;
    int64_t kept;               // unreached files that stayed (changed, or could not move)
};

// Told each file that goes (or would go): its path and size.
typedef void (*CompanionProc)(void *context, const char *path, int64_t size);

// What one page reaches: the paths its references resolve to in the
// subfolders of its own folder, and those that may lie in the companion
// folder of a page of another folder (IsFarPath), each after a letter ('c'
// a style sheet, 'p' any other file), and whether it keeps every companion
// folder whole.
struct PageReach {
    char **paths;               // malloc'd, each malloc'd
    size_t count, capacity;
    int stop;                   // kCompanionTrimmed, or the outcome it forces
};
// Reads the page in `page` (from its start, not closed), which lies in the
// folder at the absolute path `folderPath`. False when memory ran out or a
// read failed (then stop is kCompanionUnreadable).
bool ReadPageReach(FileHandle page, const char *folderPath, PageReach *reach);
void FreePageReach(PageReach *reach);

// Whether `path` (absolute) may lie in the companion folder of a page that
// is not in `folderPath`: some folder on its way bears a companion
// folder's name (NAME + a suffix of kCompanionSuffixes) and does not lie
// directly in `folderPath`. Only such a reference of a page can keep a file
// that the plans of its own folder's companion folders do not see.
bool IsFarPath(const char *path, const char *folderPath);

// A call of many pages keeps what the pages of each folder reach, so that
// each page is read once however many companion folders its folder holds.
// Every member is called from any thread; the last two may be null.
struct CompanionNeighbours {
    void *context;
    // Gives `each` the reach of every page of `folder` but `pageName`
    // (.htm, .html, .plg); false when it cannot, and the planner reads the
    // folder itself.
    bool (*forEach)(void *context, const HeldFolder *folder, const char *pageName,
                    void (*each)(void *eachContext, const PageReach *reach), void *eachContext);
    // The page `pageName` of `folder` was cleaned: from now on it reaches
    // `reach`, which the call takes over (and frees).
    void (*cleaned)(void *context, const HeldFolder *folder, const char *pageName, PageReach *reach);
    // Gives `each` every far path (IsFarPath) below `root` (a companion
    // folder's path and '/') that a page of the call reaches: a page
    // cleaned as it is now, one not cleaned yet as it was (naming more than
    // it will: more is kept). Each page is read for it once in a call.
    void (*farReach)(void *context, const char *root,
                     void (*each)(void *eachContext, char kind, const char *path), void *eachContext);
    // Whether the page `pageName` of `folder`, which has no companion
    // folder, is known to reach far paths: then it is read once more after
    // its clean and told to `cleaned`, so that what it no longer names
    // can go.
    bool (*namesFar)(void *context, const HeldFolder *folder, const char *pageName);
};

// Finds the companion folder of the page `pageName` in `folder` (the first
// suffix whose entry is a folder, not a link); false when there is none.
bool FindCompanionFolder(const HeldFolder *folder, const char *pageName, char *name, size_t size);

// Trims the companion folder of the page `pageName` of `folder`, whose
// cleaned bytes `cleaned` holds (read from its start, not closed). With
// `preview` nothing moves: `each` is told what would go. Fills *report.
// `neighbours` may be null: the other pages of the folder are read then.
void TrimCompanionFolder(const HeldFolder *folder, const char *pageName, FileHandle cleaned,
                         const DisposalTarget *target, bool preview, CompanionProc each,
                         void *context, const CompanionNeighbours *neighbours,
                         CompanionReport *report);

// The words for an outcome that kept every file ("the page's BASE points
// elsewhere"), or null.
const char *CompanionKeptText(int outcome);
// Its stable name for programs: "none", "trimmed", "base-elsewhere",
// "unresolved", "unreadable", "not-here".
const char *CompanionOutcomeName(int outcome);
