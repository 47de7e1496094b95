// The run's messages: one table of errors and one of warnings, each with
// the Windows program's text and the Linux command line's, and the map from
// a clean's status to its error. Only the run and the disposal raise them;
// the passes never do. The front ends show them (a message box; a line on
// standard error) and the per-page record keeps the one that stopped a page.
#pragma once
#include <stddef.h>
#include "clean/clean.h"

// X(id, stable name, Windows text, Linux text). The name is for programs
// (--json, the library); a text of more than one line has its lines joined
// by '\n'; the Linux form joins them with blanks.
#define WEBTRIM_ERRORS(X)                                                                         \
    X(kErrCannotOpen, "cannot-open", "Cannot open this file", "Cannot open this file")                         \
    X(kErrCannotCreateTemp, "cannot-create-temporary", "Cannot create temporary file", "Cannot create a temporary file")    \
    X(kErrCannotRead, "cannot-read", "Cannot read this file", "Cannot read this file")                         \
    X(kErrCannotWritePage, "cannot-write", "Cannot write the cleaned page", "Cannot write the cleaned page")    \
    X(kErrCannotRemoveOriginal, "cannot-remove-original", "Cannot remove the original file.\nThe page was not changed.",  \
      "Cannot remove the original file.\nThe page was not changed.")                            \
    X(kErrCannotReplace, "cannot-replace", "Cannot replace the original file.\nThe cleaned page was saved as:\n",  \
      "Cannot replace the original file.\nThe cleaned page was saved as:\n")                    \
    X(kErrPageChanged, "page-changed", "The page changed while it was being cleaned.\nThe page was not changed.", \
      "The page changed while it was being cleaned.\nThe page was not changed.")                \
    X(kErrNotText, "not-text",                                                                              \
      "The page is stored as UTF-16 (or UTF-32).\nOnly pages in ASCII, UTF-8 or a single-byte "  \
      "code page can be cleaned.",                                                              \
      "stored as UTF-16 (or UTF-32); only pages in ASCII, UTF-8 or a single-byte code page can "  \
      "be cleaned")                                                                             \
    X(kErrNotWebPage, "not-a-web-page", "This file is not a web page:\n", "not a web page ")                       \
    X(kErrNotArchive, "not-an-archive", "This file is not a single-file page (MHTML) that can be read:\n",      \
      "not a single-file page (MHTML) that can be read: ")                                     \
    X(kErrInTrash, "in-trash", "The page is in the Recycle Bin.\nPages in the Recycle Bin are not cleaned.",  \
      "in the trash; pages in a trash are not cleaned")                                         \
    X(kErrNoMemory, "no-memory", "Not enough memory to clean this page", "Not enough memory to clean this page") \
    X(kErrOwnerNotKept, "owner-not-kept",                                                       \
      "Cannot give the cleaned page the page's owner.\nThe page was not changed; to write a cleaned copy, use -o.\nThe owner: ", \
      "Cannot give the cleaned page the page's owner.\nThe page was not changed; to write a cleaned copy, use -o.\nThe owner: ") \
    X(kErrAttributeNotKept, "attribute-not-kept",                                               \
      "Cannot give the cleaned page the page's attribute.\nThe page was not changed; to write a cleaned copy, use -o.\nThe attribute: ", \
      "Cannot give the cleaned page the page's attribute.\nThe page was not changed; to write a cleaned copy, use -o.\nThe attribute: ") \
    X(kErrOriginalKeptBeside, "original-kept-beside",                                           \
      "The cleaned page is in place, but the original could not be moved away.\nThe original was kept as: ", \
      "The cleaned page is in place, but the original could not be moved away.\nThe original was kept as: ") \
    X(kErrFolderMissing, "folder-missing",                                                      \
      "The folder for the originals does not exist.\nThe page was not changed.",               \
      "The folder for the originals does not exist.\nThe page was not changed.")                \
    X(kErrIsFolder, "folder-without-recursion", "This is a folder, not a web page",             \
      "a folder; to clean the pages in it and in the folders below it, use -r")                 \
    X(kErrFolderChanged, "folder-changed", "The folder of the page is no longer the one that was read", \
      "its folder is no longer the one that was read; left as it was")                          \
    X(kErrCannotOpenFolder, "cannot-open-folder", "Cannot open the folder of the page", "Cannot open its folder") \
    X(kErrSameFile, "same-file", "The same file as: ", "same file as ")

#define WEBTRIM_WARNINGS(X)                                                                       \
    X(kWarnNotPermissible, "not-permissible",                                                                        \
      "The file is not permissible.\nOnly *.htm, *.html, *.mht, *.mhtml, *.plg files are allowable.", \
      "The file is not permissible.\nOnly *.htm, *.html, *.mht, *.mhtml, *.plg files are allowable.") \
    X(kWarnFolderMissing, "folder-missing",                                                                         \
      "Choosed folder doesn't exist.\nThe original file will be sent to Recycle Bin.",           \
      "The chosen folder does not exist; the original goes to the trash.")                     \
    X(kWarnNameTooLong, "name-too-long", "The filename is too long.\nThe original file will be sent to Recycle Bin.", \
      "The file name is too long for the chosen folder; the original goes to the trash.")       \
    X(kWarnCannotMove, "cannot-move", "Cannot move the original file.\nIt will be sent to Recycle Bin.",         \
      "Cannot move the original into the chosen folder; it goes to the trash.")                 \
    X(kWarnLeftoverTrashed, "leftover-trashed",                                                 \
      "A run that was cut short left a copy of this page beside it.\nIt was put in the Recycle Bin: ", \
      "A run that was cut short left a copy of this page beside it; it was put in the trash: ") \
    X(kWarnLeftoverFound, "leftover-found",                                                     \
      "A run that was cut short left a file beside this page:\n",                             \
      "A run that was cut short left a file beside this page: ")

enum ErrorId {
#define WEBTRIM_MESSAGE_ID(id, name, windows, linux) id,
    WEBTRIM_ERRORS(WEBTRIM_MESSAGE_ID)
    kErrorCount
};

enum WarningId {
    WEBTRIM_WARNINGS(WEBTRIM_MESSAGE_ID)
#undef WEBTRIM_MESSAGE_ID
    kWarningCount
};

enum MessageKind { kMessageError, kMessageWarning };

// The stable names: "cannot-open", "folder-missing".
const char *ErrorName(ErrorId id);
const char *WarningName(WarningId id);
const char *MessageName(MessageKind kind, int id);

// The texts of this platform's front end.
const char *ErrorText(ErrorId id);
const char *WarningText(WarningId id);
const char *MessageText(MessageKind kind, int id);

// The error a clean's failure is reported as.
ErrorId ErrorOfCleanStatus(CleanStatus status);

// Second part of a message given after the original left its path: where it
// is now. The folder text is followed by the original's new path.
extern const char kOriginalInTrashText[];
extern const char kOriginalMovedToText[];

// One line of the command line's kind for a message: its text and detail,
// lines joined by blanks, and the system's reason (when sysError is not 0)
// after the first line: "Cannot remove the original file: Permission
// denied. The page was not changed."
void FormatMessageLine(const char *text, const char *detail, int sysError, char *out, size_t size);
