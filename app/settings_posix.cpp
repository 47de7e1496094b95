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

static bool WriteSettings(GKeyFile *kf, const char *path)
{
    char word[16];
    g_snprintf(word, sizeof word, "0x%08X", CleanOptions);
    g_key_file_set_value(kf, kGroup, kOptionsKey, word);
    char *escaped = g_strescape(TargetFolder, NULL);
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
    if (!g_key_file_load_from_file(kf, path, G_KEY_FILE_KEEP_COMMENTS, NULL))
        return false;
    char *word = g_key_file_get_value(kf, kGroup, kOptionsKey, NULL);
    uint32_t options;
    bool ok = word && ParseOptionsWord(word, &options);
    g_free(word);
    if (!ok)
        return false;
    char *raw = g_key_file_get_value(kf, kGroup, kFolderKey, NULL);
    if (!raw)
        return false;
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
