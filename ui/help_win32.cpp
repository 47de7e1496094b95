// Help. The help is one HTML page beside the program, with an anchor named
// after each help context ("Webtrim.html#11"). A file: URL given to
// ShellExecute loses its #anchor, so the URL goes on the command line of
// the program that opens .html files; only when there is none does
// ShellExecute open the page, at its top. The WinHelp file of old is used
// only when it lies beside the program and the page does not.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <stdio.h>
#include <string.h>
#include "ui/help.h"
#include "ui/main.h"

static const char kCaption[] = "Webtrim";
static const char kNoHelp[] = "Cannot find the help file\n";

enum { kUrlSize = 3 * kHelpPathSize + 32, kCommandSize = 4096 };

static bool IsFile(const char *path)
{
    DWORD attributes = path[0] ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The file: URL of a local or UNC path, with the anchor of `context`
// unless it is the top. Bytes that would end or change the URL (blanks,
// %, #, ?, controls) are percent-encoded; bytes above 127 stay as they
// are: CreateProcessA reads the command line in the ANSI code page (UTF-8
// where the manifest's code page is in effect), as the path was written, and
// hands the browser its characters.
static bool MakeUrl(const char *path, int context, char *url, size_t size)
{
    // \\server\share becomes file://server/share, C:\x file:///C:/x.
    const char *head = path[0] == '\\' && path[1] == '\\' ? "file:" : "file:///";
    size_t n = strlen(head);
    if (n >= size)
        return false;
    memcpy(url, head, n + 1);
    for (const char *p = path; *p; p++) {
        unsigned char c = (unsigned char)*p;
        char piece[4] = {(char)c, 0};
        if (c == '\\')
            piece[0] = '/';
        else if (c <= 0x20 || c == '%' || c == '#' || c == '?' || c == '"' || c == 0x7F)
            snprintf(piece, sizeof piece, "%%%02X", c);
        size_t k = strlen(piece);
        if (n + k >= size)
            return false;
        memcpy(url + n, piece, k + 1);
        n += k;
    }
    if (context != kHelpContents) {
        int k = snprintf(url + n, size - n, "#%d", context);
        if (k < 0 || (size_t)k >= size - n)
            return false;
    }
    return true;
}

// The command line that opens `url` in the program registered for .html
// files: its command with %1 (or %L) replaced by the URL, or the URL
// appended when the command has no place for it. %* and other
// placeholders, which name nothing here, are dropped.
static bool BrowserCommand(const char *url, char *command, size_t size)
{
    char registered[kCommandSize], expanded[kCommandSize];
    DWORD length = sizeof registered;
    if (AssocQueryStringA(0, ASSOCSTR_COMMAND, ".html", NULL, registered, &length) != S_OK)
        return false;
    DWORD n = ExpandEnvironmentStringsA(registered, expanded, sizeof expanded);
    if (n == 0 || n > sizeof expanded)
        return false;
    size_t out = 0, urlLength = strlen(url);
    bool placed = false;
    for (const char *p = expanded; *p; p++) {
        const char *piece = p;
        size_t k = 1;
        if (*p == '%' && p[1]) {
            char what = *++p;
            if (what == '1' || what == 'L' || what == 'l') {
                piece = url, k = urlLength, placed = true;
            } else if (what == '%') {
                k = 1;
            } else if ((what >= '0' && what <= '9') || (what >= 'A' && what <= 'Z') ||
                       (what >= 'a' && what <= 'z') || what == '*') {
                k = 0;
            } else {
                piece = p - 1, k = 2;
            }
        }
        if (out + k >= size)
            return false;
        memcpy(command + out, piece, k);
        out += k;
    }
    if (!placed) {
        if (out + urlLength + 4 >= size)
            return false;
        out += (size_t)sprintf(command + out, " \"%s\"", url);
    }
    command[out] = 0;
    return true;
}

static bool StartBrowser(const char *url)
{
    char command[kCommandSize];
    if (!BrowserCommand(url, command, sizeof command))
        return false;
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

static void OpenHelpPage(HWND owner, int context)
{
    char url[kUrlSize];
    if (MakeUrl(HelpPagePath, context, url, sizeof url) && StartBrowser(url))
        return;
    ShellExecuteA(owner, "open", HelpPagePath, NULL, NULL, SW_SHOWNORMAL);
}

static void ReportNoHelp(HWND owner)
{
    char text[sizeof kNoHelp + kHelpPathSize];
    snprintf(text, sizeof text, "%s%s", kNoHelp, HelpPagePath);
    MessageBoxA(owner, text, kCaption, MB_OK | MB_ICONWARNING);
}

void OpenHelp(HWND owner, int context)
{
    if (IsFile(HelpPagePath))
        OpenHelpPage(owner, context);
    else if (IsFile(HelpFilePath))
        WinHelpA(NULL, HelpFilePath, HELP_CONTEXT, context);
    else
        ReportNoHelp(owner);
}

void OpenControlHelp(HWND owner, HWND item, const DWORD *helpIds)
{
    if (!IsFile(HelpPagePath) && IsFile(HelpFilePath)) {
        WinHelpA(item, HelpFilePath, HELP_WM_HELP, (ULONG_PTR)helpIds);
        return;
    }
    // A control without a context of its own gets the top of the page.
    int id = GetDlgCtrlID(item), context = kHelpContents;
    for (const DWORD *pair = helpIds; pair[0] != 0; pair += 2) {
        if ((int)pair[0] == id) {
            context = (int)pair[1];
            break;
        }
    }
    OpenHelp(owner, context);
}
