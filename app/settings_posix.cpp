// The settings store on POSIX desktops: an ini file,
// ${XDG_CONFIG_HOME:-$HOME/.config}/webtrim/webtrim.ini, group [Webtrim],
// w0 = the options word as 0x%08X, w1 = the target folder, escaped so that
// any bytes a path can hold survive the UTF-8-only key file format.
//
// The file is the user's: it is created only where there is none (from
// the file of older versions, ~/.config/halvane/webtrim.ini, when there is
// one), never rewritten because it fails to load, and Save replaces it
// atomically, keeping its comments, other groups and keys, mode and owner,
// and a symbolic link at the settings path. A folder or file that belongs
// to another user (root running with a user's environment, say) is not
// used: the defaults are, and nothing is saved there.
#include "app/settings.h"
#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include "platform/file.h"
#include "platform/folder.h"
#include "platform/place.h"

static const char kFolderName[] = "webtrim";
static const char kOldFolderName[] = "halvane";      // where older versions kept it
static const char kFileName[] = "webtrim.ini";
static const char kGroup[] = "Webtrim";
static const char kOptionsKey[] = "w0";
static const char kFolderKey[] = "w1";
static const char kBom[] = "\xEF\xBB\xBF";
// Far more than any settings file holds; a bigger one is not read into memory.
static const size_t kMaxFileSize = 1 << 20;
static const GKeyFileFlags kKeepAll =
    (GKeyFileFlags)(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);

// The settings file's path in the folder `vendor`. Read from the
// environment on every call (GLib keeps the first answer for the life of
// the process).
static char *StorePath(const char *vendor)
{
    const char *config = getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return g_build_filename(config, vendor, kFileName, NULL);
    const char *home = getenv("HOME");
    if (!home || !*home)
        home = g_get_home_dir();
    return g_build_filename(home, ".config", vendor, kFileName, NULL);
}

// A settings file read and parsed as a key file.
struct StoredFile {
    GKeyFile *kf;
    struct stat st;     // of the file itself (a link's target)
    bool bom;           // it started with a UTF-8 byte order mark
};

enum ReadResult { kReadAbsent, kReadDone, kReadRefused };

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

// Reads the file `name` of the held folder into f->kf; a name where
// nothing is is absent. Otherwise on failure `why` says what was refused.
static ReadResult ReadStoredFile(const HeldFolder *folder, const char *name, StoredFile *f,
                                 GString *why)
{
    PageIdentity id;
    EntryKind kind = LookAtEntry(folder, name, &id);
    if (kind == kEntryMissing)
        return errno == ENOENT ? kReadAbsent : Unreadable(why, errno);
    // Anything but a file is refused before it is opened: a pipe would
    // block the start-up, a device might do something when opened.
    if (kind == kEntryFolder) {
        g_string_assign(why, "a folder, not a file");
        return kReadRefused;
    }
    if (kind != kEntryFile) {
        g_string_assign(why, "not a regular file");
        return kReadRefused;
    }
    int fd = openat((int)folder->handle, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return Unreadable(why, errno);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {    // swapped meanwhile
        close(fd);
        g_string_assign(why, "not a regular file");
        return kReadRefused;
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
static bool TakeStoredValues(GKeyFile *kf, Settings *out, GString *why)
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
        out->word = options;
        memset(out->targetFolder, 0, sizeof out->targetFolder);
        memcpy(out->targetFolder, folder, n + 1);
    } else {
        g_string_printf(why, "%s is too long: %zu bytes, at most %d", kFolderKey, n,
                        kTargetFolderSize - 1);
    }
    g_free(folder);
    return ok;
}

static void SetStoredValues(GKeyFile *kf, const Settings *s)
{
    char word[16];
    g_snprintf(word, sizeof word, "0x%08X", s->word);
    g_key_file_set_value(kf, kGroup, kOptionsKey, word);
    char *escaped = EscapeFolder(s->targetFolder);
    g_key_file_set_value(kf, kGroup, kFolderKey, escaped);
    g_free(escaped);
}


static bool IsRunnerOrRoot(uid_t uid)
{
    return uid == geteuid() || uid == 0;
}

enum StoreState { kStoreOpen, kStoreNoFolder, kStoreRefused };

static StoreState CheckOwners(HeldFolder *folder, const char *name, GString *why);

// Opens the folder of the settings file at `path` (through a link at the
// path, its target's, under the rule for links) and gives the file's name
// in it. Refused when the folder or the file belongs to another user.
static StoreState OpenStore(const char *path, HeldFolder *folder, char *name, size_t nameSize,
                            GString *why)
{
    if (!OpenPageFolder(path, folder, name, nameSize)) {
        int err = errno;
        char *dir = g_path_get_dirname(path);
        HeldFolder parent;
        bool hasFolder = OpenHeldFolder(dir, &parent);
        CloseHeldFolder(&parent);
        g_free(dir);
        if (!hasFolder && err == ENOENT)
            return kStoreNoFolder;
        // The folder may have come to exist after the first look (a
        // parallel first run made it): look once more.
        if (err == ENOENT && OpenPageFolder(path, folder, name, nameSize))
            return CheckOwners(folder, name, why);
        err = err == ENOENT ? errno : err;
        if (err == ENOENT)
            g_string_assign(why, "a symbolic link to a file that is not there");
        else if (err == EACCES)
            g_string_assign(why, "a symbolic link of another user's, not followed");
        else
            g_string_printf(why, "cannot be read: %s", g_strerror(err));
        return kStoreRefused;
    }
    return CheckOwners(folder, name, why);
}

// The held folder and the file in it must be the runner's or root's.
static StoreState CheckOwners(HeldFolder *folder, const char *name, GString *why)
{
    struct stat st;
    PageIdentity id;
    bool folderOurs = fstat((int)folder->handle, &st) == 0 && IsRunnerOrRoot(st.st_uid);
    bool fileOurs = true;
    if (folderOurs && LookAtEntry(folder, name, &id) != kEntryMissing &&
        fstatat((int)folder->handle, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
        fileOurs = IsRunnerOrRoot(st.st_uid);
    if (!folderOurs || !fileOurs) {
        g_string_assign(why, "owned by another user");
        CloseHeldFolder(folder);
        return kStoreRefused;
    }
    return kStoreOpen;
}

enum CreateResult { kCreated, kCreateLost, kCreateFailed };

// Puts `data` as the settings file `name` in the folder unless a file is
// there by then: parallel first runs each write a whole new file and only
// one of them takes the name, so none sees a half-written file or replaces
// another's.
static CreateResult CreateStore(const HeldFolder *folder, const char *name, const char *data,
                                size_t len, mode_t mode)
{
    NewFile nf;
    if (!CreateNewFile(folder, &nf))
        return kCreateFailed;
    CreateResult result = kCreateFailed;
    if (PlatformWriteAll(nf.file, data, len) && SetNewFileMode(&nf, mode) && FinishNewFile(&nf)) {
        int err = PlaceNewFile(&nf, name);
        result = err == 0 ? kCreated : err == EEXIST ? kCreateLost : kCreateFailed;
    }
    DiscardNewFile(&nf);
    return result;
}

// The file of older versions, as the first content of a new one: only a
// regular file of the runner's own, in a folder of the runner's own.
static bool ReadOldStore(GString *content, mode_t *mode)
{
    char *path = StorePath(kOldFolderName);
    HeldFolder folder;
    char name[kFolderPathSize];
    GString *why = g_string_new(NULL);
    bool ok = false;
    if (OpenStore(path, &folder, name, sizeof name, why) == kStoreOpen) {
        struct stat st;
        int fd = openat((int)folder.handle, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
            ReadWhole(fd, content, why)) {
            *mode = st.st_mode & 0666;
            ok = true;
        }
        if (fd >= 0)
            close(fd);
        CloseHeldFolder(&folder);
    }
    g_string_free(why, TRUE);
    g_free(path);
    return ok;
}

// The first settings file: the old one's content when there is one, else
// the defaults, with the mode the umask gives a new file.
static CreateResult CreateFirstStore(const HeldFolder *folder, const char *name)
{
    GString *content = g_string_new(NULL);
    mode_t mode;
    if (!ReadOldStore(content, &mode)) {
        g_string_truncate(content, 0);
        GKeyFile *kf = g_key_file_new();
        Settings defaults = DefaultSettings();
        SetStoredValues(kf, &defaults);
        gsize len = 0;
        char *data = g_key_file_to_data(kf, &len, NULL);
        g_key_file_free(kf);
        g_string_append_len(content, data, (gssize)len);
        g_free(data);
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    CreateResult r = CreateStore(folder, name, content->str, content->len, mode);
    g_string_free(content, TRUE);
    return r;
}

static void Problem(char *problem, size_t size, const char *path, const char *text, const char *why)
{
    if (size)
        snprintf(problem, size, "%s: %s (%s)", path, text, why);
}

bool LoadSettings(Settings *out, bool create, char *problem, size_t problemSize)
{
    *out = DefaultSettings();
    if (problemSize)
        problem[0] = 0;
    char *path = StorePath(kFolderName);
    GString *why = g_string_new(NULL);
    bool ok = true;
    // A second pass reads the file that this run, or a parallel first run,
    // created.
    for (int pass = 0; pass < 3; pass++) {
        HeldFolder folder;
        char name[kFolderPathSize];
        StoreState state = OpenStore(path, &folder, name, sizeof name, why);
        if (state == kStoreNoFolder) {
            if (!create)
                break;
            // Where the folder cannot be made the run keeps the defaults,
            // as it does where the file was made.
            char *dir = g_path_get_dirname(path);
            int made = g_mkdir_with_parents(dir, 0700);
            g_free(dir);
            if (made != 0)
                break;
            continue;
        }
        if (state == kStoreRefused) {
            ok = false;
            break;
        }
        StoredFile f = {g_key_file_new(), {}, false};
        ReadResult r = ReadStoredFile(&folder, name, &f, why);
        // An empty file holds no choice to lose: it may be one that a
        // parallel first run has claimed and not yet written, so it takes
        // the defaults without a word.
        Settings read = DefaultSettings();
        bool took = r == kReadDone && (f.st.st_size == 0 || TakeStoredValues(f.kf, &read, why));
        g_key_file_free(f.kf);
        if (r == kReadAbsent) {
            CreateResult c = create ? CreateFirstStore(&folder, name) : kCreateFailed;
            CloseHeldFolder(&folder);
            if (c == kCreated || c == kCreateLost)
                continue;
            break;
        }
        CloseHeldFolder(&folder);
        if (took)
            *out = read;
        else
            ok = false;
        break;
    }
    if (!ok)
        Problem(problem, problemSize, path, "not used", why->str);
    g_string_free(why, TRUE);
    g_free(path);
    return ok;
}

bool SaveSettings(const Settings *s, char *problem, size_t problemSize)
{
    if (problemSize)
        problem[0] = 0;
    char *path = StorePath(kFolderName);
    GString *why = g_string_new(NULL);
    HeldFolder folder;
    char name[kFolderPathSize];
    bool ok = false;
    StoreState state = OpenStore(path, &folder, name, sizeof name, why);
    if (state == kStoreNoFolder)
        g_string_assign(why, "no settings file");
    if (state == kStoreOpen) {
        StoredFile f = {g_key_file_new(), {}, false};
        // Like a registry key that must exist: no file, nothing saved. One
        // that is not a key file is kept rather than replaced by the two
        // values.
        ReadResult r = ReadStoredFile(&folder, name, &f, why);
        if (r == kReadAbsent)
            g_string_assign(why, "no settings file");
        if (r == kReadDone) {
            SetStoredValues(f.kf, s);
            gsize len = 0;
            char *data = g_key_file_to_data(f.kf, &len, NULL);
            GString *content = g_string_new(f.bom ? kBom : "");
            g_string_append_len(content, data, (gssize)len);
            g_free(data);
            // A new file, private until it has the old one's owner and
            // mode, put in the old one's place at once: a reader sees the
            // old or the new file.
            NewFile nf;
            FileHandle old;
            ok = CreateNewFile(&folder, &nf);
            if (ok) {
                ok = PlatformWriteAll(nf.file, content->str, content->len);
                if (ok && OpenEntryForReading(&folder, name, &old, 0)) {
                    ok = CopyAccess(old, name, &nf, false);
                    PlatformClose(old);
                }
                ok = ok && FinishNewFile(&nf) && ReplaceWithNewFile(&nf, name);
                if (!ok)
                    g_string_printf(why, "cannot be written: %s", g_strerror(errno));
                DiscardNewFile(&nf);
            } else {
                g_string_printf(why, "cannot be written: %s", g_strerror(errno));
            }
            g_string_free(content, TRUE);
        }
        g_key_file_free(f.kf);
        CloseHeldFolder(&folder);
    }
    if (!ok)
        Problem(problem, problemSize, path, "settings not saved", why->str);
    g_string_free(why, TRUE);
    g_free(path);
    return ok;
}

char *SettingsFilePath()
{
    char *path = StorePath(kFolderName);
    char *copy = strdup(path);
    g_free(path);
    return copy;
}
