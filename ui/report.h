// The report of a run in a dialog of its own (report_win32.cpp): a summary
// sentence and, when there is something to list, a scrollable list of
// pages and what became of them, with Copy and OK. The dialog fits the work
// area of the monitor it is shown on, however long the list.
#pragma once
#include <windows.h>

// One row of the list. Both texts are in the ANSI code page, as the run
// gives paths and messages.
struct ReportEntry {
    const char *page;
    const char *reason;
};

// Shows the dialog owned by `owner` (null: none) and returns once it is
// closed. summary: UTF-8; icon: MB_ICONERROR, MB_ICONWARNING or
// MB_ICONINFORMATION. With no entries the dialog has no list and no Copy.
void ShowReport(HWND owner, const char *summary, const ReportEntry *entries, int count, unsigned icon);

// The text that Copy puts on the clipboard: the summary, a blank line, then
// one line per entry, page and reason parted by a tab; into `out` (UTF-16,
// CR LF line ends), which the caller frees. Null when memory ran out.
wchar_t *ReportText(const char *summary, const ReportEntry *entries, int count);
