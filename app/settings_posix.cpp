// The settings store on POSIX desktops: an ini file,
// ${XDG_CONFIG_HOME:-$HOME/.config}/halvane/webtrim.ini, group [Webtrim],
// w0 = the options word as 0x%08X, w1 = the target folder, escaped so that
// any bytes a path can hold survive the UTF-8-only key file format.
//
// The file is the user's: it is created only where there is none, never
// rewritten because it fails to load, and Save replaces it atomically,
// keeping its comments, other groups and keys, mode and owner, and a
// symbolic link at the settings path.
#include "app/settings.h"
#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include "app/options.h"

static const char kVendorFolder[] = "halvane";
static const char kFileName[] = "webtrim.ini";
static const char kGroup[] = "Webtrim";
static const char kOptionsKey[] = "w0";
static const char kFolderKey[] = "w1";
static const char kBom[] = "\xEF\xBB\xBF";
// Far more than any settings file holds; a bigger one is not read into memory.
static const size_t kMaxFileSize = 1 << 20;
static const GKeyFileFlags kKeepAll =
    (GKeyFileFlags)(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);

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

// What in a w1 value EscapeFolder cannot have written, or NULL: a lone
// backslash at the end starts an escape with nothing to escape, and an
// octal escape of a zero byte would cut the folder short.
static const char *BadEscape(const char *value)
{
    for (const char *p = value; *p; p++) {
        if (*p != '\\')
            continue;
        if (!*++p)
            return "w1 ends in a lone backslash";
        unsigned byte = 0;
        int digits = 0;
        while (digits < 3 && p[digits] >= '0' && p[digits] <= '7')
            byte = byte * 8 + (unsigned)(p[digits++] - '0');
        if (digits && (byte & 0xFF) == 0)
            return "w1 holds an escaped zero byte";
        if (digits)
            p += digits - 1;
    }
    return NULL;
}

// A settings file read and parsed as a key file.
struct StoredFile {
    GKeyFile *kf;
    struct stat st;     // of the file itself (a link's target)
    bool bom;           // it started with a UTF-8 byte order mark
};

enum ReadResult { kReadAbsent, kReadDone, kReadRefused };

// The 1-based number of the first line of `data` that the key file parser
// refuses: the shortest run of whole lines that fails to load ends there.
static unsigned FirstBadLine(const char *data, size_t len)
{
    GArray *ends = g_array_new(FALSE, FALSE, sizeof(size_t));
    for (size_t i = 0; i < len; i++) {
        if (data[i] == '\n') {
            size_t end = i + 1;
            g_array_append_val(ends, end);
        }
    }
    if (!len || data[len - 1] != '\n')
        g_array_append_val(ends, len);
    unsigned lo = 1, hi = ends->len;
    while (lo < hi) {
        unsigned mid = lo + (hi - lo) / 2;
        GKeyFile *kf = g_key_file_new();
        bool ok = g_key_file_load_from_data(kf, data, g_array_index(ends, size_t, mid - 1), kKeepAll,
                                            NULL);
        g_key_file_free(kf);
        if (ok)
            lo = mid + 1;
        else
            hi = mid;
    }
    g_array_free(ends, TRUE);
    return lo;
}

static unsigned LineOf(const char *data, const char *at)
{
    unsigned line = 1;
    for (const char *p = data; p < at; p++)
        line += *p == '\n';
    return line;
}

// The content of an open regular file, at most kMaxFileSize bytes.
static bool ReadWhole(int fd, GString *out, GString *why)
{
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            g_string_printf(why, "cannot be read: %s", g_strerror(errno));
            return false;
        }
        if (n == 0)
            return true;
        g_string_append_len(out, buf, n);
        if (out->len > kMaxFileSize) {
            g_string_printf(why, "larger than %zu bytes", kMaxFileSize);
            return false;
        }
    }
}

static ReadResult Unreadable(GString *why, int err)
{
    g_string_printf(why, "cannot be read: %s", g_strerror(err));
    return kReadRefused;
}

static ReadResult NotAFile(GString *why, const struct stat *st)
{
    g_string_assign(why, S_ISDIR(st->st_mode) ? "a folder, not a file" : "not a regular file");
    return kReadRefused;
}

// Reads the file at `path` into f->kf. A symbolic link is followed; a path
// where nothing is, not even a link, is absent. Otherwise on failure `why`
// says what was refused.
static ReadResult ReadStoredFile(const char *path, StoredFile *f, GString *why)
{
    struct stat st;
    if (lstat(path, &st) != 0)
        return errno == ENOENT ? kReadAbsent : Unreadable(why, errno);
    if (stat(path, &st) != 0) {
        if (errno != ENOENT)
            return Unreadable(why, errno);
        g_string_assign(why, "a symbolic link to a file that is not there");
        return kReadRefused;
    }
    // Anything but a file is refused before it is opened: a pipe would
    // block the start-up, a device might do something when opened.
    if (!S_ISREG(st.st_mode))
        return NotAFile(why, &st);
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return Unreadable(why, errno);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {    // swapped meanwhile
        close(fd);
        return NotAFile(why, &st);
    }
    f->st = st;
    GString *data = g_string_new(NULL);
    bool ok = ReadWhole(fd, data, why);
    close(fd);
    const char *text = data->str;
    size_t len = data->len;
    f->bom = ok && g_str_has_prefix(text, kBom);
    if (f->bom) {
        text += sizeof kBom - 1;
        len -= sizeof kBom - 1;
    }
    // The parser would take a zero byte for the end of its line and drop
    // the rest of that line without a word.
    const char *zero = ok ? (const char *)memchr(text, 0, len) : NULL;
    if (zero) {
        g_string_printf(why, "not a key file: line %u holds a zero byte", LineOf(text, zero));
        ok = false;
    } else if (ok && !g_key_file_load_from_data(f->kf, text, len, kKeepAll, NULL)) {
        g_string_printf(why, "not a key file: line %u is not a [group], key=value or # comment",
                        FirstBadLine(text, len));
        ok = false;
    }
    g_string_free(data, TRUE);
    return ok ? kReadDone : kReadRefused;
}

// Takes both values from a parsed file, or says why not and takes none.
static bool TakeStoredValues(GKeyFile *kf, GString *why)
{
    if (!g_key_file_has_group(kf, kGroup)) {
        g_string_printf(why, "no [%s] group", kGroup);
        return false;
    }
    char *word = g_key_file_get_value(kf, kGroup, kOptionsKey, NULL);
    uint32_t options;
    if (!word || !ParseOptionsWord(word, &options)) {
        if (!word) {
            g_string_printf(why, "%s is missing", kOptionsKey);
        } else {
            char *shown = g_strescape(word, NULL);
            g_string_printf(why, "%s is not a 32-bit number: \"%.40s%s\"", kOptionsKey, shown,
                            strlen(shown) > 40 ? "..." : "");
            g_free(shown);
        }
        g_free(word);
        return false;
    }
    g_free(word);
    char *raw = g_key_file_get_value(kf, kGroup, kFolderKey, NULL);
    const char *bad = raw ? BadEscape(raw) : NULL;
    if (!raw || bad) {
        if (!raw)
            g_string_printf(why, "%s is missing", kFolderKey);
        else
            g_string_assign(why, bad);
        g_free(raw);
        return false;
    }
    char *folder = g_strcompress(raw);
    g_free(raw);
    size_t n = strlen(folder);
    bool ok = n < kTargetFolderSize;
    if (ok) {
        CleanOptions = options;
        memcpy(TargetFolder, folder, n + 1);
    } else {
        g_string_printf(why, "%s is too long: %zu bytes, at most %d", kFolderKey, n,
                        kTargetFolderSize - 1);
    }
    g_free(folder);
    return ok;
}

static void SetStoredValues(GKeyFile *kf)
{
    char word[16];
    g_snprintf(word, sizeof word, "0x%08X", CleanOptions);
    g_key_file_set_value(kf, kGroup, kOptionsKey, word);
    char *escaped = EscapeFolder(TargetFolder);
    g_key_file_set_value(kf, kGroup, kFolderKey, escaped);
    g_free(escaped);
}

static bool WriteAll(int fd, const char *data, size_t len)
{
    while (len) {
        ssize_t n = write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        len -= (size_t)n;
    }
    return true;
}

// A new hidden file beside `path` (mode as open() takes it, or the owner and
// mode of `like`), fully written and flushed to the disk; its name in *tmp.
// False, with errno set and nothing left behind, on failure.
static bool WriteTemporary(const char *path, int mode, const char *data, size_t len,
                           const struct stat *like, char **tmp)
{
    char *folder = g_path_get_dirname(path);
    char *base = g_path_get_basename(path);
    char *name = g_strdup_printf(".%s.XXXXXX", base);
    *tmp = g_build_filename(folder, name, NULL);
    g_free(folder);
    g_free(base);
    g_free(name);
    int fd = g_mkstemp_full(*tmp, O_WRONLY | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    bool ok = true;
    if (like) {
        // Owner first: changing it may clear mode bits. The runner may not
        // be allowed to give the file away, and then it stays the runner's.
        if (like->st_uid != geteuid() || like->st_gid != getegid())
            (void)!fchown(fd, like->st_uid, like->st_gid);
        ok = fchmod(fd, like->st_mode & 07777) == 0;
    }
    ok = ok && WriteAll(fd, data, len) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok) {
        int err = errno;
        g_unlink(*tmp);
        errno = err;
    }
    return ok;
}

static void SyncFolderOf(const char *path)
{
    char *folder = g_path_get_dirname(path);
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
    g_free(folder);
}

enum CreateResult { kCreated, kCreateLost, kCreateFailed };

// Puts the defaults at `path` unless a file is there by then: parallel
// first runs each write a whole temporary and only one of them takes the
// name, so none sees a half-written file or replaces another's.
static CreateResult CreateWithDefaults(const char *path)
{
    GKeyFile *kf = g_key_file_new();
    SetStoredValues(kf);
    gsize len = 0;
    char *data = g_key_file_to_data(kf, &len, NULL);
    g_key_file_free(kf);
    char *tmp = NULL;
    CreateResult result = kCreateFailed;
    // The umask decides the mode, as for any new file of the user's.
    if (WriteTemporary(path, 0666, data, len, NULL, &tmp)) {
        if (renameat2(AT_FDCWD, tmp, AT_FDCWD, path, RENAME_NOREPLACE) == 0) {
            result = kCreated;
        } else if (errno == EEXIST) {
            result = kCreateLost;
        } else if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
            // A file system that cannot rename without replacing (NFS): a
            // hard link takes the name only where it is free.
            if (linkat(AT_FDCWD, tmp, AT_FDCWD, path, 0) == 0) {
                result = kCreated;
            } else if (errno == EEXIST) {
                result = kCreateLost;
            } else if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS) {
                // Nor hard links: the name is claimed and written in place,
                // in one write: a parallel run sees it empty or whole.
                int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
                if (fd >= 0) {
                    bool ok = WriteAll(fd, data, len) && fsync(fd) == 0;
                    ok = close(fd) == 0 && ok;
                    result = ok ? kCreated : kCreateFailed;
                    if (!ok)
                        g_unlink(path);
                } else if (errno == EEXIST) {
                    result = kCreateLost;
                }
            }
        }
        g_unlink(tmp);      // gone already after a rename
        if (result == kCreated)
            SyncFolderOf(path);
    }
    g_free(tmp);
    g_free(data);
    return result;
}

// The load, creating the file with the defaults when it is absent and
// `create` allows.
static void Load(bool create)
{
    CleanOptions = kDefaultOptions;
    memset(TargetFolder, 0, sizeof TargetFolder);
    char *folder = SettingsFolder();
    char *path = g_build_filename(folder, kFileName, NULL);
    GString *why = g_string_new(NULL);
    // A second pass reads the file that a parallel first run created.
    for (int pass = 0; pass < 2; pass++) {
        StoredFile f = {g_key_file_new(), {}, false};
        ReadResult r = ReadStoredFile(path, &f, why);
        // An empty file holds no choice to lose: it may be one that a
        // parallel first run has claimed and not yet written (see
        // CreateWithDefaults), so it takes the defaults without a word.
        bool ok = r == kReadDone && (f.st.st_size == 0 || TakeStoredValues(f.kf, why));
        g_key_file_free(f.kf);
        if (r == kReadAbsent) {
            if (!create)
                break;
            // Where the file cannot be made the run keeps the defaults, as
            // it does where the file was made.
            if (g_mkdir_with_parents(folder, 0700) == 0 && CreateWithDefaults(path) == kCreateLost)
                continue;
        } else if (!ok) {
            CleanOptions = kDefaultOptions;
            memset(TargetFolder, 0, sizeof TargetFolder);
            fprintf(stderr, "webtrim: %s: not used (%s); using the default settings\n", path,
                    why->str);
        }
        break;
    }
    g_string_free(why, TRUE);
    g_free(path);
    g_free(folder);
}

void LoadSettings()
{
    Load(true);
}

void SaveSettings()
{
    char *folder = SettingsFolder();
    char *path = g_build_filename(folder, kFileName, NULL);
    // Through a symbolic link its target is written and the link stays.
    char *target = realpath(path, NULL);
    GString *why = g_string_new(NULL);
    StoredFile f = {g_key_file_new(), {}, false};
    // Like a registry key that must exist: no file, nothing saved. One that
    // is not a key file is kept rather than replaced by the two values.
    ReadResult r = ReadStoredFile(target ? target : path, &f, why);
    if (r == kReadDone) {
        SetStoredValues(f.kf);
        gsize len = 0;
        char *data = g_key_file_to_data(f.kf, &len, NULL);
        GString *content = g_string_new(f.bom ? kBom : "");
        g_string_append_len(content, data, (gssize)len);
        g_free(data);
        // A new file, private until it has the old one's owner and mode,
        // renamed over the old one: a reader sees the old or the new file.
        char *tmp = NULL;
        bool ok = WriteTemporary(target, 0600, content->str, content->len, &f.st, &tmp);
        if (ok && rename(tmp, target) != 0) {
            int err = errno;
            g_unlink(tmp);
            errno = err;
            ok = false;
        }
        if (ok)
            SyncFolderOf(target);
        else
            g_string_printf(why, "cannot be written: %s", g_strerror(errno));
        g_free(tmp);
        g_string_free(content, TRUE);
        r = ok ? kReadDone : kReadRefused;
    }
    if (r == kReadRefused)
        fprintf(stderr, "webtrim: %s: settings not saved (%s)\n", path, why->str);
    g_key_file_free(f.kf);
    g_string_free(why, TRUE);
    free(target);
    g_free(path);
    g_free(folder);
}

char *SettingsFilePath()
{
    char *folder = SettingsFolder();
    char *path = g_build_filename(folder, kFileName, NULL);
    char *copy = strdup(path);
    g_free(path);
    g_free(folder);
    return copy;
}

void LoadSettingsWithoutWriting()
{
    Load(false);
}
