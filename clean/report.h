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

// Shows the error text, followed by `detail` when given.
void ReportError(ErrorId id, const char *detail = 0);
void ReportWarning(WarningId id);

// The platform's message sink: a modal box captioned "Webtrim" owned by the
// main window on Windows, a line on standard error elsewhere.
void ShowMessage(const char *text, unsigned style);

// Tells the main window that a run has started (it flashes the picture).
// Does nothing when there is no window.
void NotifyRunStarted();
