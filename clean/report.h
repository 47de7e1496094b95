// The run's message boxes: fixed texts, one list of errors and one of
// warnings. Only the run driver and the disposal report; the passes never do.
#pragma once

enum ErrorId {
    kErrCannotOpen,
    kErrCannotCreateTemp,
    kErrCannotRead,
    kErrCannotWritePage,
    kErrCannotRemoveOriginal,
    kErrCannotReplace,
    kErrorCount
};

enum WarningId {
    kWarnNotPermissible,
    kWarnFolderMissing,
    kWarnNameTooLong,
    kWarnCannotMove,
    kWarningCount
};

// Message box styles, as the Windows message box takes them.
enum {
    kBoxPlain = 0x00,
    kBoxError = 0x10,      // MB_ICONERROR
    kBoxWarning = 0x30,    // MB_ICONWARNING
};

extern const char *const kErrorTexts[kErrorCount];
extern const char *const kWarningTexts[kWarningCount];

enum MessageKind { kMessageError, kMessageWarning };

// sysError: errno (Linux) / GetLastError (Windows) of the failure, 0 when
// there is none. The error text is followed by `detail` when given.
void ReportError(ErrorId id, const char *detail = 0, int sysError = 0);
void ReportWarning(WarningId id);

// The platform's sink. Windows: a message box with kErrorTexts[id] (+ detail)
// / kWarningTexts[id] (sysError unused). Linux: one line on standard error,
// in the command line's own wording, naming the page and the reason.
void ShowMessage(MessageKind kind, int id, const char *detail, int sysError);

// Tells the main window that a run has started (it flashes the picture).
// Does nothing when there is no window.
void NotifyRunStarted();
