// The run's messages: fixed texts, one list of errors and one of warnings.
// Only the run driver and the disposal report; the passes never do.
#pragma once

enum ErrorId {
    kErrCannotOpen,
    kErrCannotCreateTemp,
    kErrCannotRead,
    kErrCannotWritePage,
    kErrCannotRemoveOriginal,
    kErrCannotReplace,
    kErrPageChanged,
    kErrorCount
};

enum WarningId {
    kWarnNotPermissible,
    kWarnFolderMissing,
    kWarnNameTooLong,
    kWarnCannotMove,
    kWarningCount
};

enum MessageKind { kMessageError, kMessageWarning };

extern const char *const kErrorTexts[kErrorCount];
extern const char *const kWarningTexts[kWarningCount];

// Second part of a message given after the original left its path: where it
// is now. The folder text is followed by the original's new path.
extern const char kOriginalInTrashText[];
extern const char kOriginalMovedToText[];

// Shows the error text, followed by `detail` when given. sysError: errno
// (Linux) / GetLastError (Windows) of the failure, 0 when there is none.
void ReportError(ErrorId id, const char *detail = 0, int sysError = 0);
void ReportWarning(WarningId id);

// The platform's sink. Windows: a modal box captioned "Webtrim" with
// kErrorTexts[id] (+ detail) or kWarningTexts[id] (sysError unused). Linux:
// one line on standard error, in the command line's own wording, naming the
// page and the reason.
void ShowMessage(MessageKind kind, int id, const char *detail, int sysError);

// Tells the main window that a run has started (it flashes the picture).
// Does nothing when there is no window.
void NotifyRunStarted();
