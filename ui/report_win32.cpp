// The report dialog (see report.h). Its template (IDD_REPORT) holds the
// largest layout: the icon and the sentence on top, the list below them,
// Copy and OK at the bottom right. As it opens it drops the list when there
// is none, makes the list shorter where the monitor's work area is lower
// than the dialog, and places itself over its owner inside that area.
#include "ui/report.h"
#include <commctrl.h>
#include <stdlib.h>
#include <string.h>
#include "platform/path_win32.h"
#include "ui/main.h"
#include "ui/resource.h"

struct ReportView {
    const char *summary;
    const ReportEntry *entries;
    int count;
    unsigned icon;
};

// A control's rectangle in its dialog's client pixels.
static RECT ChildRect(HWND dialog, int id)
{
    RECT r;
    GetWindowRect(GetDlgItem(dialog, id), &r);
    MapWindowPoints(NULL, dialog, (POINT *)&r, 2);
    return r;
}

static void MoveBy(HWND dialog, int id, int dy)
{
    RECT r = ChildRect(dialog, id);
    SetWindowPos(GetDlgItem(dialog, id), NULL, r.left, r.top + dy, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Three columns: the page's name, the reason, the page's folder (names
// come first, as the pages of one run often share their folder). A text
// cut short shows whole under the pointer.
static void FillList(HWND list, const ReportView *v)
{
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP);
    RECT client;
    GetClientRect(list, &client);
    int width = client.right - GetSystemMetrics(SM_CXVSCROLL);
    static const struct {
        const char *head;
        int share;              // of the width, in hundredths
    } kColumns[] = {{"Page", 30}, {"Reason", 45}, {"Folder", 25}};
    for (int c = 0; c < 3; c++) {
        LVCOLUMNA column;
        memset(&column, 0, sizeof column);
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.cx = width * kColumns[c].share / 100;
        column.pszText = (char *)kColumns[c].head;
        SendMessageA(list, LVM_INSERTCOLUMNA, c, (LPARAM)&column);
    }
    for (int i = 0; i < v->count; i++) {
        const char *page = v->entries[i].page, *slash = strrchr(page, '\\');
        char folder[kAnsiPathSize];
        size_t n = slash ? (size_t)(slash - page) : 0;
        n = n < sizeof folder ? n : sizeof folder - 1;
        memcpy(folder, page, n);
        folder[n] = 0;
        const char *texts[3] = {slash ? slash + 1 : page, v->entries[i].reason, folder};
        LVITEMA item;
        memset(&item, 0, sizeof item);
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = (char *)texts[0];
        SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
        for (item.iSubItem = 1; item.iSubItem < 3; item.iSubItem++) {
            item.pszText = (char *)texts[item.iSubItem];
            SendMessageA(list, LVM_SETITEMTEXTA, i, (LPARAM)&item);
        }
    }
}

// Without a list the buttons move up into its place; a dialog taller than
// the work area gives the difference out of its list. Then it is centred
// over its owner (or the work area) and kept inside the work area.
static void Fit(HWND dialog, const ReportView *v)
{
    RECT outer, list = ChildRect(dialog, IDC_REPORT_LIST), ok = ChildRect(dialog, IDOK);
    GetWindowRect(dialog, &outer);
    int height = outer.bottom - outer.top, width = outer.right - outer.left;
    int shrink = 0;
    if (v->count == 0) {
        ShowWindow(GetDlgItem(dialog, IDC_REPORT_LIST), SW_HIDE);
        ShowWindow(GetDlgItem(dialog, IDC_REPORT_COPY), SW_HIDE);
        shrink = ok.top - list.top;
    }
    HWND owner = GetWindow(dialog, GW_OWNER);
    MONITORINFO monitor;
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoA(MonitorFromWindow(owner ? owner : dialog, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT work = monitor.rcWork;
    int room = work.bottom - work.top;
    if (v->count && height > room) {
        // The list keeps at least the height of its header and a row.
        int most = list.bottom - list.top - 3 * (ok.bottom - ok.top);
        shrink = height - room < most ? height - room : most;
        SetWindowPos(GetDlgItem(dialog, IDC_REPORT_LIST), NULL, 0, 0, list.right - list.left,
                     list.bottom - list.top - shrink, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    MoveBy(dialog, IDOK, -shrink);
    MoveBy(dialog, IDC_REPORT_COPY, -shrink);
    height -= shrink;
    if (width > work.right - work.left)
        width = work.right - work.left;
    RECT over = work;
    if (owner && IsWindowVisible(owner))
        GetWindowRect(owner, &over);
    int x = (over.left + over.right - width) / 2, y = (over.top + over.bottom - height) / 2;
    x = x + width > work.right ? work.right - width : x;
    y = y + height > work.bottom ? work.bottom - height : y;
    x = x < work.left ? work.left : x;
    y = y < work.top ? work.top : y;
    SetWindowPos(dialog, NULL, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Puts the report on the clipboard as text.
static void Copy(HWND dialog, const ReportView *v)
{
    wchar_t *text = ReportText(v->summary, v->entries, v->count);
    if (!text)
        return;
    size_t bytes = (wcslen(text) + 1) * sizeof *text;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    void *to = block ? GlobalLock(block) : NULL;
    if (to) {
        memcpy(to, text, bytes);
        GlobalUnlock(block);
        if (OpenClipboard(dialog)) {
            EmptyClipboard();
            if (SetClipboardData(CF_UNICODETEXT, block))
                block = NULL;           // the clipboard's now
            CloseClipboard();
        }
    }
    if (block)
        GlobalFree(block);
    free(text);
}

static INT_PTR CALLBACK ReportProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    const ReportView *v = (const ReportView *)GetWindowLongPtrA(dialog, DWLP_USER);
    switch (message) {
    case WM_INITDIALOG: {
        v = (const ReportView *)lParam;
        SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)v);
        LPCSTR icon = v->icon == MB_ICONERROR     ? IDI_HAND
                      : v->icon == MB_ICONWARNING ? IDI_EXCLAMATION
                                                  : IDI_ASTERISK;
        SendDlgItemMessageA(dialog, IDC_REPORT_ICON, STM_SETICON, (WPARAM)LoadIconA(NULL, icon), 0);
        wchar_t sentence[1024];
        if (Utf8ToWide(v->summary, sentence, 1024))
            SetDlgItemTextW(dialog, IDC_REPORT_TEXT, sentence);
        if (v->count)
            FillList(GetDlgItem(dialog, IDC_REPORT_LIST), v);
        Fit(dialog, v);
        MessageBeep(v->icon);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, IDOK);
        else if (LOWORD(wParam) == IDC_REPORT_COPY && v)
            Copy(dialog, v);
        return TRUE;
    }
    return FALSE;
}

void ShowReport(HWND owner, const char *summary, const ReportEntry *entries, int count, unsigned icon)
{
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    ReportView v = {summary, entries, count, icon};
    if (DialogBoxParamA(Instance, MAKEINTRESOURCEA(IDD_REPORT), owner, ReportProc, (LPARAM)&v) <= 0)
        MessageBoxA(owner, summary, "Webtrim", MB_OK | icon);   // no dialog: the sentence at least
}

// `text` in code page `page` appended at `*at` of `out`, which has room.
static void AppendWide(wchar_t *out, size_t *at, const char *text, UINT page)
{
    int n = MultiByteToWideChar(page, 0, text, -1, out + *at, (int)(strlen(text) + 1));
    *at += n > 0 ? (size_t)n - 1 : 0;
    out[*at] = 0;
}

wchar_t *ReportText(const char *summary, const ReportEntry *entries, int count)
{
    // No text grows in UTF-16 beyond a unit per byte.
    size_t units = strlen(summary) + 8;
    for (int i = 0; i < count; i++)
        units += strlen(entries[i].page) + strlen(entries[i].reason) + 4;
    wchar_t *out = (wchar_t *)malloc(units * sizeof *out);
    if (!out)
        return NULL;
    size_t at = 0;
    out[0] = 0;
    AppendWide(out, &at, summary, CP_UTF8);
    AppendWide(out, &at, count ? "\r\n\r\n" : "\r\n", CP_ACP);
    for (int i = 0; i < count; i++) {
        AppendWide(out, &at, entries[i].page, CP_ACP);
        AppendWide(out, &at, "\t", CP_ACP);
        AppendWide(out, &at, entries[i].reason, CP_ACP);
        AppendWide(out, &at, "\r\n", CP_ACP);
    }
    return out;
}
