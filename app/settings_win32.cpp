// The settings store on Windows: HKEY_CURRENT_USER\Software\Halvane\Webtrim,
// w0 (REG_DWORD) = the options word, w1 (REG_SZ) = the target folder.
#include <windows.h>
#include <string.h>
#include "app/settings.h"
#include "platform/path_win32.h"

static const char kKeyPath[] = "Software\\Halvane\\Webtrim";
static const char kOptionsValue[] = "w0";
static const char kFolderValue[] = "w1";

static bool ReadStored(HKEY key, Settings *out)
{
    DWORD type = 0, options = 0, size = sizeof options;
    if (RegQueryValueExA(key, kOptionsValue, NULL, &type, (BYTE *)&options, &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof options)
        return false;
    // The folder must come back zero-terminated, and shorter than its
    // buffer of 260 characters has always asked (one byte was one character
    // then; in UTF-8 a character may take 3).
    char folder[kTargetFolderSize];
    memset(folder, 0, sizeof folder);
    size = sizeof folder;
    if (RegQueryValueExA(key, kFolderValue, NULL, &type, (BYTE *)folder, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || size >= sizeof folder ||
        folder[size - 1] != 0)
        return false;
    int units = AnsiUnits(folder);
    if (units < 0 || units + 1 >= MAX_PATH)
        return false;
    out->word = options;
    memcpy(out->targetFolder, folder, sizeof folder);
    return true;
}

bool LoadSettings(Settings *out, bool create, char *problem, size_t problemSize)
{
    if (problemSize)
        problem[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        bool ok = ReadStored(key, out);
        RegCloseKey(key);
        if (ok)
            return true;
    }
    *out = DefaultSettings();
    if (!create)
        return true;
    char noClass[] = "";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, noClass, 0, KEY_ALL_ACCESS, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return true;
    RegSetValueExA(key, kOptionsValue, 0, REG_DWORD, (const BYTE *)&out->word, sizeof out->word);
    RegSetValueExA(key, kFolderValue, 0, REG_SZ, (const BYTE *)out->targetFolder, 2);
    RegCloseKey(key);
    return true;
}

bool SaveSettings(const Settings *s, char *problem, size_t problemSize)
{
    if (problemSize)
        problem[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    RegSetValueExA(key, kOptionsValue, 0, REG_DWORD, (const BYTE *)&s->word, sizeof s->word);
    RegSetValueExA(key, kFolderValue, 0, REG_SZ, (const BYTE *)s->targetFolder,
                   (DWORD)strlen(s->targetFolder) + 1);
    RegCloseKey(key);
    return true;
}
