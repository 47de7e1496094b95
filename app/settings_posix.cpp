// The settings store on POSIX desktops: an ini file,
// ${XDG_CONFIG_HOME:-$HOME/.config}/halvane/webtrim.ini, group [Webtrim],
// w0 = the options word as 0x%08X, w1 = the target folder, escaped so that
// any bytes a path can hold survive the UTF-8-only key file format.
#include "app/settings.h"
#include <errno.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <stdlib.h>
#include <string.h>
#include "app/options.h"

static const char kVendorFolder[] = "halvane";
static const char kFileName[] = "webtrim.ini";
static const char kGroup[] = "Webtrim";
static const char kOptionsKey[] = "w0";
static const char kFolderKey[] = "w1";

// The settings folder. Read from the environment on every call (GLib keeps
// the first answer for the life of the process).
static char *SettingsFolder()
{
    const char *config = getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return g_build_filename(config, kVendorFolder, NULL);
    const char *home = getenv("HOME");
    if (!home || !*home)
        home = g_get_home_dir();
    return g_build_filename(home, ".config", kVendorFolder, NULL);
}

static char *SettingsPath()
{
    char *folder = SettingsFolder();
    char *path = g_build_filename(folder, kFileName, NULL);
    g_free(folder);
    return path;
}

// An unsigned 32-bit number written in any C base, and nothing else.
static bool ParseOptionsWord(const char *text, uint32_t *out)
{
    while (*text == ' ' || *text == '\t')
        text++;
    if (!*text || *text == '-' || *text == '+')
        return false;
    char *end;
    errno = 0;
    unsigned long long v = strtoull(text, &end, 0);
    while (*end == ' ' || *end == '\t')
        end++;
    if (errno || *end || v > 0xFFFFFFFFull)
        return false;
    *out = (uint32_t)v;
    return true;
}

// The folder as the value of w1: C escapes for control bytes, quotes,
// backslashes and bytes from 0x7F up, and for leading blanks too, which the
// key file would otherwise drop when it reads the value back.
static char *EscapeFolder(const char *folder)
{
    size_t blanks = strspn(folder, " ");
    char *rest = g_strescape(folder + blanks, NULL);
    GString *value = g_string_new(NULL);
    for (size_t i = 0; i < blanks; i++)
        g_string_append(value, "\\040");
    g_string_append(value, rest);
    g_free(rest);
    return g_string_free(value, FALSE);
}

// A value that EscapeFolder can have written: it does not end in a lone
// backslash, which would start an escape with nothing to escape.
static bool IsWholeEscape(const char *value)
{
    size_t n = strlen(value), backslashes = 0;
    while (backslashes < n && value[n - 1 - backslashes] == '\\')
        backslashes++;
    return backslashes % 2 == 0;
}

static bool WriteSettings(GKeyFile *kf, const char *path)
{
    char word[16];
    g_snprintf(word, sizeof word, "0x%08X", CleanOptions);
    g_key_file_set_value(kf, kGroup, kOptionsKey, word);
    char *escaped = EscapeFolder(TargetFolder);
    g_key_file_set_value(kf, kGroup, kFolderKey, escaped);
    g_free(escaped);
    gsize len = 0;
    char *data = g_key_file_to_data(kf, &len, NULL);
    // Written to a new file and renamed over the old one.
    gboolean ok = g_file_set_contents(path, data, (gssize)len, NULL);
    g_free(data);
    return ok;
}

static bool LoadStored(GKeyFile *kf, const char *path)
{
    // Anything but a file (a pipe would block the start-up) is a failed load.
    if (!g_file_test(path, G_FILE_TEST_IS_REGULAR))
        return false;
    if (!g_key_file_load_from_file(kf, path, G_KEY_FILE_KEEP_COMMENTS, NULL))
        return false;
    char *word = g_key_file_get_value(kf, kGroup, kOptionsKey, NULL);
    uint32_t options;
    bool ok = word && ParseOptionsWord(word, &options);
    g_free(word);
    if (!ok)
        return false;
    char *raw = g_key_file_get_value(kf, kGroup, kFolderKey, NULL);
    if (!raw || !IsWholeEscape(raw)) {
        g_free(raw);
        return false;
    }
    char *folder = g_strcompress(raw);
    g_free(raw);
    size_t n = strlen(folder);
    ok = n < kTargetFolderSize;
    if (ok) {
        CleanOptions = options;
        memcpy(TargetFolder, folder, n + 1);
    }
    g_free(folder);
    return ok;
}

void LoadSettings()
{
    char *path = SettingsPath();
    GKeyFile *kf = g_key_file_new();
    if (!LoadStored(kf, path)) {
        CleanOptions = kDefaultOptions;
        memset(TargetFolder, 0, sizeof TargetFolder);
        char *folder = SettingsFolder();
        if (g_mkdir_with_parents(folder, 0700) == 0) {
            g_key_file_free(kf);
            kf = g_key_file_new();
            WriteSettings(kf, path);
        }
        g_free(folder);
    }
    g_key_file_free(kf);
    g_free(path);
}

void SaveSettings()
{
    char *path = SettingsPath();
    // Like a registry key that must exist: no file, nothing saved.
    if (g_file_test(path, G_FILE_TEST_IS_REGULAR)) {
        GKeyFile *kf = g_key_file_new();
        g_key_file_load_from_file(kf, path, G_KEY_FILE_KEEP_COMMENTS, NULL);
        WriteSettings(kf, path);
        g_key_file_free(kf);
    }
    g_free(path);
}

char *SettingsFilePath()
{
    char *path = SettingsPath();
    char *copy = strdup(path);
    g_free(path);
    return copy;
}

void LoadSettingsWithoutWriting()
{
    char *path = SettingsPath();
    GKeyFile *kf = g_key_file_new();
    if (!LoadStored(kf, path)) {
        CleanOptions = kDefaultOptions;
        memset(TargetFolder, 0, sizeof TargetFolder);
    }
    g_key_file_free(kf);
    g_free(path);
}
