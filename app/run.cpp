// The run in place: name test, the clean of the page into a new file beside
// it, disposal of the original, the cleaned page put at the page's path.
//
// The page is never edited in place. Its folder is opened once and held;
// every later step names the page relative to that folder, so a folder
// swapped for a link meanwhile changes nothing. The page's bytes are read
// once, by the first stage; the cleaned result goes into a new file in the
// same folder, with the original's owner, mode and attributes (the run
// stops if they cannot be made the same), and is synced and given a hidden
// name before the original is touched. Just before the original moves, its
// name must still hold the file that was read. The cleaned page and the
// original then swap names in one step (RENAME_EXCHANGE), and the original
// leaves from the hidden name (folder or trash, recorded under the page's
// name); if it cannot, they swap back. So the path always holds a whole
// page, old or new, even after a SIGKILL; a hidden name left by a killed
// run is named after the page, and the next run on the page takes it up.
// Where names cannot be exchanged (some file systems; Windows, whose
// Recycle Bin records the name a file left from), the original is moved
// away first and the cleaned page takes the page's name with a rename that
// never replaces anything; if it cannot, the original comes back. Either
// way the original or the cleaned page is intact at every moment, and
// every message given after the original left says where both are.
//
// A page that cleaning would leave byte for byte as it is stays untouched:
// no new file, nothing moved.
#include "app/run.h"
#include "app/describe.h"
#include "app/companion.h"
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include "platform/compare.h"
#include "platform/file.h"
#include "platform/folder.h"
#include "platform/place.h"
#include "platform/signals.h"
#include "platform/trash.h"

enum { kCompareChunk = 64 * 1024 };
enum { kArchiveSniffSize = 4096 };      // the first bytes that tell a single-file page

// The state of one run: a page, its new file and what became of them.
struct PageRun {
    const PageJob *job;
    PageResult *result;
    OpenedPage p;                       // its folder, name, file and identity
    ByteStream page;
    NewFile cleaned;
    ByteStream out;                     // into cleaned.file, which it does not close
    DisposalOutcome disposal;
};

// Whether the path ends in one of the suffixes, in any case.
static bool EndsWithOneOf(const char *path, const char *const *suffixes, size_t count)
{
    size_t n = strlen(path);
    for (size_t i = 0; i < count; i++) {
        size_t k = strlen(suffixes[i]);
        if (n >= k && NamesEqualIgnoreCase(path + n - k, suffixes[i]))
            return true;
    }
    return false;
}

static const char *const kArchiveSuffixes[] = {".mht", ".mhtml"};
static const char *const kPageSuffixes[] = {".htm", ".html", ".plg", ".mht", ".mhtml"};

bool IsArchiveName(const char *path)
{
    return EndsWithOneOf(path, kArchiveSuffixes, 2);
}

bool IsPageName(const char *path)
{
    return EndsWithOneOf(path, kPageSuffixes, sizeof kPageSuffixes / sizeof kPageSuffixes[0]);
}

// Known formats that are no web page, by the bytes they start with.
struct Signature {
    const char *bytes;
    size_t length;
    const char *kind;
};
static const Signature kSignatures[] = {
    {"%PDF-", 5, "(PDF document)"},
    {"PK\x03\x04", 4, "(ZIP archive)"},
    {"\x89PNG", 4, "(PNG picture)"},
    {"GIF8", 4, "(GIF picture)"},
    {"\xFF\xD8\xFF", 3, "(JPEG picture)"},
    {"MZ", 2, "(Windows program)"},
    {"\x7F" "ELF", 4, "(ELF program)"},
    {"\xD0\xCF\x11\xE0", 4, "(Office document)"},
    {"\x1F\x8B", 2, "(gzip archive)"},
};

int RefusalOfContent(const unsigned char *head, size_t n, const char **kind)
{
    *kind = "";
    static const unsigned char kWideMarks[][4] = {
        {0xFF, 0xFE, 0x00, 0x00}, {0x00, 0x00, 0xFE, 0xFF}, {0xFF, 0xFE}, {0xFE, 0xFF},
    };
    static const size_t kWideMarkLengths[] = {4, 4, 2, 2};
    for (size_t i = 0; i < sizeof kWideMarkLengths / sizeof kWideMarkLengths[0]; i++) {
        if (n >= kWideMarkLengths[i] && memcmp(head, kWideMarks[i], kWideMarkLengths[i]) == 0)
            return kErrNotText;
    }
    // Without a mark: a zero byte in every other place, at the odd places
    // (UTF-16LE of ASCII text) or at the even ones (UTF-16BE).
    if (n >= 2) {
        size_t pairs = n / 2;
        bool oddZero = true, evenZero = true;
        for (size_t i = 0; i < pairs && (oddZero || evenZero); i++) {
            oddZero = oddZero && head[2 * i + 1] == 0;
            evenZero = evenZero && head[2 * i] == 0;
        }
        if (oddZero || evenZero)
            return kErrNotText;
    }
    for (const Signature &s : kSignatures) {
        if (n >= s.length && memcmp(head, s.bytes, s.length) == 0) {
            *kind = s.kind;
            return kErrNotWebPage;
        }
    }
    return -1;
}

static void Tell(const PageRun *r, MessageKind kind, int id, const char *detail, int sysError)
{
    const RunCallbacks *cb = r->job->callbacks;
    if (cb && cb->message)
        cb->message(cb->context, kind, id, detail, sysError);
}

static void Warn(PageRun *r, WarningId id)
{
    r->result->warnings |= 1u << id;
    Tell(r, kMessageWarning, id, 0, 0);
}

// Records and reports what stopped the page.
static void StopPage(PageRun *r, PageOutcome outcome, MessageKind kind, int id, const char *detail,
                     int sysError)
{
    PageResult *res = r->result;
    res->outcome = outcome;
    res->stop.id = id;
    res->stop.kind = kind;
    res->stop.sysError = sysError;
    size_t n = detail ? strlen(detail) : 0;
    if (n >= sizeof res->stop.detail)
        n = sizeof res->stop.detail - 1;
    memcpy(res->stop.detail, detail ? detail : "", n);
    res->stop.detail[n] = 0;
    Tell(r, kind, id, detail, sysError);
}

static void Fail(PageRun *r, ErrorId id, int sysError, const char *detail = 0)
{
    StopPage(r, kPageFailed, kMessageError, id, detail, sysError);
}

static void Refuse(PageRun *r, ErrorId id, const char *detail = 0)
{
    StopPage(r, kPageRefused, kMessageError, id, detail, 0);
}

// Refuses a page whose first bytes say it is no 8-bit text.
static bool RefuseNoText(PageRun *r, FileHandle file)
{
    unsigned char head[kSniffSize];
    long n = PlatformReadAt(file, head, sizeof head, 0);
    if (n < 0) {
        Fail(r, kErrCannotRead, LastSystemError());
        return false;
    }
    const char *kind;
    int refusal = RefusalOfContent(head, (size_t)n, &kind);
    if (refusal >= 0) {
        Refuse(r, (ErrorId)refusal, kind);
        return false;
    }
    return true;
}

static void OnRead(void *context, int64_t reached)
{
    const PageRun *r = (const PageRun *)context;
    const RunCallbacks *cb = r->job->callbacks;
    cb->progress(cb->context, reached, (int64_t)r->p.id.size);
}

// Whether the first `size` bytes of two files are the same.
static bool SameBytes(FileHandle x, FileHandle y, uint64_t size)
{
    unsigned char *a = (unsigned char *)malloc(2 * kCompareChunk);
    if (!a)
        return false;
    unsigned char *b = a + kCompareChunk;
    bool same = true;
    for (int64_t at = 0; same && at < (int64_t)size;) {
        long n = PlatformReadAt(x, a, kCompareChunk, at);
        long m = n > 0 ? PlatformReadAt(y, b, (size_t)n, at) : -1;
        same = n > 0 && m == n && memcmp(a, b, (size_t)n) == 0;
        at += n;
    }
    free(a);
    return same;
}

// Whether `cleaned` holds exactly the page's bytes.
static bool SameContent(PageRun *r, FileHandle cleaned)
{
    return (uint64_t)r->result->bytesAfter == r->p.id.size && SameBytes(r->p.file, cleaned, r->p.id.size);
}

// A file that a run cut short (SIGKILL, a power cut) left under the page's
// leftover name: the original it had swapped out, or a cleaned page it had
// not yet placed. A byte-for-byte copy of the page goes; any other goes to
// the trash, recorded as the page, and is said; a preview only names it. A
// file of a run still under way (its flock held, on it or on the page at
// the path) stays as it is.
static void TakeUpLeftover(PageRun *r, bool preview)
{
    char name[64], path[sizeof r->result->page + 64];
    LeftoverName(r->p.name, name, sizeof name);
    PageIdentity id;
    FileHandle f;
    if (!name[0] || LookAtEntry(&r->p.folder, name, &id) != kEntryFile ||
        !OpenEntryForReading(&r->p.folder, name, &f, &id))
        return;
    bool busy = IsNewFileUnderWay(f) || IsNewFileUnderWay(r->p.file);
    bool same = !busy && id.size == r->p.id.size && SameBytes(f, r->p.file, id.size);
    PlatformClose(f);
    if (busy || !EntryPath(&r->p.folder, name, path, sizeof path))
        return;
    if (preview) {
        r->result->warnings |= 1u << kWarnLeftoverFound;
        Tell(r, kMessageWarning, kWarnLeftoverFound, path, 0);
        return;
    }
    if (same) {
        RemoveEntry(&r->p.folder, name, &id);
        return;
    }
    TrashedFile trashed;
    if (TrashEntryAs(&r->p.folder, name, r->p.name, &id, &trashed) == kTrashed) {
        r->result->warnings |= 1u << kWarnLeftoverTrashed;
        Tell(r, kMessageWarning, kWarnLeftoverTrashed, trashed.path, 0);
    } else {
        r->result->warnings |= 1u << kWarnLeftoverFound;
        Tell(r, kMessageWarning, kWarnLeftoverFound, path, 0);
    }
}

// Opens the page and looks at it: false when the run stops here.
static bool OpenPage(PageRun *r)
{
    const PageJob *job = r->job;
    OpenedPage *p = &r->p;
    PageResult *res = r->result;
    p->open = false;
    p->borrowed = false;
    p->folder.open = false;
    bool opened, own = !job->folder;
    int err = 0;
    PageIdentity reached = {};
    if (own) {
        // A page named through a link is cleaned at the link's target, and
        // the target's name is the one that must be a page's name.
        opened = OpenLinkedPageFolder(job->path, &p->folder, p->name, sizeof p->name, &reached);
        err = LastSystemError();
    } else {
        opened = strlen(job->name) < sizeof p->name;
        if (opened) {
            p->folder = *job->folder;
            p->borrowed = true;
            memcpy(p->name, job->name, strlen(job->name) + 1);
        }
    }
    if (!IsPageName(opened ? p->name : job->path)) {
        StopPage(r, kPageRefused, kMessageWarning, kWarnNotPermissible, 0, 0);
        return false;
    }
    const RunCallbacks *cb = job->callbacks;
    if (cb && cb->started)
        cb->started(cb->context);
    if (!opened) {
        Fail(r, kErrCannotOpen, err);
        return false;
    }
    EntryPath(&p->folder, p->name, res->page, sizeof res->page);
    if (IsInsideTrash(&p->folder)) {
        Refuse(r, kErrInTrash);
        return false;
    }
    if (!OpenEntryForReading(&p->folder, p->name, &p->file, &p->id)) {
        Fail(r, kErrCannotOpen, LastSystemError());
        return false;
    }
    p->open = true;
    // Through a link: the file opened must be the one the link was judged
    // by, not one its owner put at the target's name since.
    if (reached.file && !SameFile(&reached, &p->id)) {
        Fail(r, kErrPageChanged, 0);
        return false;
    }
    res->bytesBefore = (int64_t)p->id.size;
    return RefuseNoText(r, p->file);
}

// Whether the page is a single-file page: by its name, or (a page of
// another name, standard input) by its first bytes.
static bool IsArchive(PageRun *r, ByteStream *input)
{
    const char *name = r->p.open ? r->p.name : r->job->path;
    if (name && IsArchiveName(name))
        return true;
    unsigned char head[kArchiveSniffSize];
    long n = input->kind == kStreamFile ? PlatformReadAt(input->file, head, sizeof head, 0)
           : input->kind == kStreamMemory ? (long)(StreamMemorySize(input) < sizeof head ? StreamMemorySize(input) : sizeof head)
                                          : 0;
    if (input->kind == kStreamMemory && n > 0)
        memcpy(head, StreamMemoryData(input), (size_t)n);
    return n > 0 && LooksLikeMime(head, (size_t)n);
}

// A single-file page's parts that the clean left out count as its
// companion files (besides any companion folder's).
static void CountLeftOut(PageResult *res)
{
    CompanionReport *c = &res->companion;
    if (!res->clean.partsLeftOut)
        return;
    if (c->outcome == kCompanionNone)
        c->outcome = kCompanionTrimmed;
    c->files += res->clean.partsLeftOut;
    c->bytes += res->clean.partBytesLeftOut;
}

// A single-file page: read, then cleaned part by part. False with the
// refusal or failure recorded.
static bool CleanArchiveInto(PageRun *r, ByteStream *input, ByteStream *output, CleanStatus *status)
{
    MimeDocument doc;
    MimeStatus m = ReadMimeDocument(input, &doc);
    if (m != kMimeOk) {
        FreeMimeDocument(&doc);
        if (m == kMimeReadFailed) {
            Fail(r, kErrCannotRead, LastSystemError());
        } else {
            Refuse(r, kErrNotArchive, MimeStatusText(m));
        }
        return false;
    }
    StreamSeek(input, 0);
    *status = CleanArchiveStream(&r->job->switches, &doc, input, output, &r->result->clean);
    FreeMimeDocument(&doc);
    CountLeftOut(r->result);
    return true;
}

// The stages from `input` into `output`, flushed, with their figures in the
// record. False with the failure recorded.
static bool CleanInto(PageRun *r, ByteStream *input, ByteStream *output)
{
    PageResult *res = r->result;
    CleanStatus status;
    bool archive = IsArchive(r, input);
    if (archive) {
        if (!CleanArchiveInto(r, input, output, &status))
            return false;
    } else {
        status = CleanStream(&r->job->switches, input, output, &res->clean);
    }
    int err = LastSystemError();
    res->haveClean = status == kCleanDone;
    if (status != kCleanDone) {
        Fail(r, ErrorOfCleanStatus(status), err);
        return false;
    }
    // A page from a file has its size already; one from a pipe has what
    // the stages read of it.
    if (res->bytesBefore < 0)
        res->bytesBefore = res->clean.bytesIn;
    res->bytesAfter = res->clean.bytesOut;
    if (!StreamFlush(output)) {
        Fail(r, kErrCannotWritePage, LastSystemError());
        return false;
    }
    // The hint reads the page once more; a failed read gives no hint.
    if (r->job->wantHint && !archive && WorthAnyLayoutScan(&res->clean) && StreamSeek(input, 0)) {
        AnyLayoutScan(input, &res->hint);
        res->haveHint = !StreamReadFailed(input) && ShouldHintAnyLayout(&res->clean, &res->hint);
    }
    return true;
}

// The clean into a new file in the page's folder, with the page's access,
// on the disk and under a hidden name. False when the run stops here
// (already clean included).
static bool MakeCleanedPage(PageRun *r)
{
    PageResult *res = r->result;
    StreamAttach(&r->page, r->p.file);
    const RunCallbacks *cb = r->job->callbacks;
    if (cb && cb->progress)
        StreamWatchReads(&r->page, OnRead, r);
    if (!CreateNewFileFor(&r->p.folder, r->p.name, &r->cleaned)) {
        Fail(r, kErrCannotWritePage, LastSystemError());
        return false;
    }
    StreamAttach(&r->out, r->cleaned.file);
    StreamWriteBehind(&r->out);
    if (!CleanInto(r, &r->page, &r->out))
        return false;
    if (SameContent(r, r->cleaned.file)) {
        res->outcome = kPageAlreadyClean;
        return false;
    }
    // The cleaned page gets exactly the page's access, or the page stays.
    if (!CopyAccess(r->p.file, r->p.name, &r->cleaned, true)) {
        int lost = r->cleaned.lostKind;
        Fail(r, lost == kLostOwner ? kErrOwnerNotKept : lost == kLostAttribute ? kErrAttributeNotKept : kErrCannotWritePage,
             LastSystemError(), lost == kKeptAll ? 0 : r->cleaned.lost);
        return false;
    }
    // The times from the look before the page was read.
    if (r->job->keepTimes && !SetNewFileTimes(&r->cleaned, &r->p.id)) {
        Fail(r, kErrCannotWritePage, LastSystemError());
        return false;
    }
    if (!FinishNewFile(&r->cleaned)) {
        Fail(r, kErrCannotWritePage, LastSystemError());
        return false;
    }
    // Read to its end: closed before it moves (Windows moves no file that
    // is open without delete sharing).
    PlatformClose(r->p.file);
    r->p.open = false;
    return true;
}

// The original could not leave; a name or path too long for the trash's
// record is said to be one, with the way that needs no record.
static void FailRemoval(PageRun *r, int err)
{
#ifndef _WIN32
    if (err == ENAMETOOLONG && r->disposal.trashed.path[0] == 0) {
        Fail(r, kErrCannotRemoveOriginal, err,
             "\nThe trash cannot record so long a name or path; to move the original elsewhere, use --move-to.");
        return;
    }
#endif
    Fail(r, kErrCannotRemoveOriginal, err);
}

// Joins `detail`, a line break, `head` and `where` into one message detail.
static void ReportAfterDisposal(PageRun *r, ErrorId id, const char *detail, int err)
{
    const DisposalOutcome *d = &r->disposal;
    bool moved = d->kind == kDisposedToFolder;
    const char *head = moved ? kOriginalMovedToText : "";
    const char *where = moved ? d->where : kOriginalInTrashText;
    size_t a = strlen(detail), b = strlen(head), c = strlen(where);
    char *text = (char *)malloc(a + b + c + 2);
    if (!text) {
        Fail(r, id, err, detail);
        return;
    }
    memcpy(text, detail, a);
    text[a] = '\n';
    memcpy(text + a + 1, head, b);
    memcpy(text + a + 1 + b, where, c + 1);
    Fail(r, id, err, text);
    free(text);
}

// The cleaned page at the path after the original left it (where names
// cannot be exchanged): the path is empty between the two renames.
static void PlaceAfterDisposal(PageRun *r)
{
    PageResult *res = r->result;
    DisposalOutcome *d = &r->disposal;
    DisposeOriginal(r->job->target, &r->p.folder, r->p.name, &r->p.id, d);
    for (int w = 0; w < kWarningCount; w++) {
        if (d->warnings & (1u << w))
            Warn(r, (WarningId)w);
    }
    if (d->kind == kDisposalPageChanged || d->kind == kDisposalFailed) {
        HoldTerminationSignals(false);
        if (d->kind == kDisposalPageChanged)
            Fail(r, kErrPageChanged, 0);
        else
            FailRemoval(r, d->error);
        return;
    }
    res->original = d->kind == kDisposedToFolder ? kOriginalInFolder : kOriginalInTrash;
    memcpy(res->originalPath, d->where, strlen(d->where) + 1);
    int err = PlaceNewFile(&r->cleaned, r->p.name);
    if (err == 0) {
        res->outcome = kPageCleaned;
        HoldTerminationSignals(false);
        return;
    }
    // The path could not take the cleaned page: the original comes back
    // where it can; where it cannot, both stay where they are and the
    // message says where.
    if (BringBackOriginal(r->job->target, d, &r->p.folder, r->p.name)) {
        res->original = kOriginalStays;
        res->originalPath[0] = 0;
        HoldTerminationSignals(false);
        Fail(r, kErrCannotWritePage, err);
        return;
    }
    KeepNewFile(&r->cleaned, res->savedAs, sizeof res->savedAs);
    HoldTerminationSignals(false);
    ReportAfterDisposal(r, kErrCannotReplace, res->savedAs[0] ? res->savedAs : "(nowhere)", err);
}

// After the exchange: the original, now at the cleaned page's hidden name,
// leaves from there, recorded under the page's name. What stands there must
// be the page that was read (its times of change moved with the rename,
// nothing else); if it is not, or it cannot leave, the names are swapped
// back and the page is as it was.
static void DisposeExchanged(PageRun *r)
{
    PageResult *res = r->result;
    NewFile *nf = &r->cleaned;
    DisposalOutcome *d = &r->disposal;
    PageIdentity now;
    bool same = LookAtEntry(&r->p.folder, nf->hiddenName, &now) == kEntryFile && SameFile(&now, &r->p.id) &&
                now.size == r->p.id.size && now.modified == r->p.id.modified;
    if (same) {
        DisposeOriginalAs(r->job->target, &r->p.folder, nf->hiddenName, r->p.name, &now, d);
        for (int w = 0; w < kWarningCount; w++) {
            if (d->warnings & (1u << w))
                Warn(r, (WarningId)w);
        }
        if (d->kind == kDisposedToFolder || d->kind == kDisposedToTrash) {
            res->original = d->kind == kDisposedToFolder ? kOriginalInFolder : kOriginalInTrash;
            memcpy(res->originalPath, d->where, strlen(d->where) + 1);
            ExchangeDone(nf);
            res->outcome = kPageCleaned;
            HoldTerminationSignals(false);
            return;
        }
    }
    int undone = UndoExchange(nf, r->p.name);
    HoldTerminationSignals(false);
    if (undone != 0) {
        // The cleaned page stays at the path and the original beside it,
        // under the hidden name the message gives.
        char kept[sizeof res->savedAs];
        EntryPath(&r->p.folder, nf->hiddenName, kept, sizeof kept);
        nf->placed = true;
        Fail(r, kErrOriginalKeptBeside, undone, kept);
        return;
    }
    if (!same || d->kind == kDisposalPageChanged)
        Fail(r, kErrPageChanged, 0);
    else
        FailRemoval(r, d->error);
}

// The original out of the way and the cleaned page in its place: where the
// names can be exchanged, the cleaned page takes the path in the same step
// as the original leaves it, so the path always holds a whole page.
static void PutInPlace(PageRun *r)
{
    // What goes away must be the page that was read: one replaced or
    // written to meanwhile stays, and so does the other program's work.
    if (!EntryIsUnchanged(&r->p.folder, r->p.name, &r->p.id)) {
        Fail(r, kErrPageChanged, 0);
        return;
    }
    if (r->job->sayMissingFolder && r->job->target->folderMissing)
        Warn(r, kWarnFolderMissing);
    HoldTerminationSignals(true);
    int err = ExchangeWithNewFile(&r->cleaned, r->p.name);
    if (err == kExchangeRefused) {
        PlaceAfterDisposal(r);
    } else if (err == ENOENT) {
        HoldTerminationSignals(false);
        Fail(r, kErrPageChanged, 0);
    } else if (err != 0) {
        // The page's name may not be taken from it (a sticky folder, another's page).
        HoldTerminationSignals(false);
        Fail(r, err == EPERM || err == EACCES ? kErrCannotRemoveOriginal : kErrCannotWritePage, err);
    } else {
        DisposeExchanged(r);
    }
}

static void OnCompanionFile(void *context, const char *path, int64_t size)
{
    const PageRun *r = (const PageRun *)context;
    const RunCallbacks *cb = r->job->callbacks;
    if (r->job->companionFile)
        r->job->companionFile(cb ? cb->context : nullptr, path, size);
}

// The companion folder, after the page was cleaned (or, previewed, with the
// cleaned bytes in `cleaned`): what nothing reaches goes with the original.
static void TrimCompanion(PageRun *r, FileHandle cleaned, bool preview)
{
    if (!r->job->switches.companionFiles || r->result->outcome != kPageCleaned)
        return;
    TrimCompanionFolder(&r->p.folder, r->p.name, cleaned, r->job->target, preview, OnCompanionFile, r,
                        r->job->neighbours, &r->result->companion);
    CountLeftOut(r->result);
}

// After the run: the cleaned page, read again at the page's name.
static void TrimCompanionAfter(PageRun *r)
{
    if (!r->job->switches.companionFiles || r->result->outcome != kPageCleaned)
        return;
    FileHandle file;
    PageIdentity id;
    if (!OpenEntryForReading(&r->p.folder, r->p.name, &file, &id)) {
        r->result->companion.outcome = kCompanionUnreadable;
        CountLeftOut(r->result);
        return;
    }
    TrimCompanion(r, file, false);
    PlatformClose(file);
}

void CloseOpenedPage(OpenedPage *page)
{
    if (page->open)
        PlatformClose(page->file);
    page->open = false;
    if (!page->borrowed)
        CloseHeldFolder(&page->folder);
}

// A run's state for a job and its record, or null (the record then says
// what stopped it).
static PageRun *StartRun(const PageJob *job, PageResult *result)
{
    StartPageResult(result);
    // Its stream buffers: too large for a thread's stack.
    PageRun *r = (PageRun *)calloc(1, sizeof *r);
    if (!r) {
        result->stop.id = kErrCannotCreateTemp;
        if (job->callbacks && job->callbacks->message)
            job->callbacks->message(job->callbacks->context, kMessageError, kErrCannotCreateTemp, 0, 0);
        return 0;
    }
    r->job = job;
    r->result = result;
    return r;
}

bool OpenPageToClean(const PageJob *job, OpenedPage *page, PageResult *result)
{
    PageRun *r = StartRun(job, result);
    if (!r)
        return false;
    bool ok = OpenPage(r);
    *page = r->p;
    if (!ok)
        CloseOpenedPage(page);
    free(r);
    return ok;
}

bool CleanToStream(const PageJob *job, ByteStream *input, ByteStream *output, PageResult *result)
{
    PageRun *r = (PageRun *)calloc(1, sizeof *r);
    if (!r) {
        StartPageResult(result);
        result->stop.id = kErrCannotCreateTemp;
        return false;
    }
    r->job = job;
    r->result = result;
    // What the first bytes say decides for standard input as for a file.
    bool ok = input->kind != kStreamFile || RefuseNoText(r, input->file);
    ok = ok && CleanInto(r, input, output);
    if (ok)
        result->outcome = kPageCleaned;
    free(r);
    return ok;
}

void PreviewPageInPlace(const PageJob *job, PageResult *result)
{
    PageRun *r = StartRun(job, result);
    if (!r)
        return;
    ByteStream *out = &r->out;
    bool temp = false;
    if (OpenPage(r)) {
        TakeUpLeftover(r, true);
        StreamAttach(&r->page, r->p.file);
        temp = StreamCreateTemp(out);
        if (!temp)
            Fail(r, kErrCannotCreateTemp, LastSystemError());
    }
    if (temp && CleanInto(r, &r->page, out)) {
        DisposalPlan plan;
        if (SameContent(r, out->file)) {
            result->outcome = kPageAlreadyClean;
        } else if (!CanCreateIn(&r->p.folder)) {
            Fail(r, kErrCannotWritePage, LastSystemError());
        } else {
            // The disposal's own plan: the same name it would try first.
            PlanDisposal(job->target, r->p.name, 0, &plan);
            if (plan.warning >= 0)
                Warn(r, (WarningId)plan.warning);
            result->original = plan.toTrash ? kOriginalInTrash : kOriginalInFolder;
            memcpy(result->originalPath, plan.where, strlen(plan.where) + 1);
            result->outcome = kPageCleaned;
        }
        if (StreamFlush(out))
            TrimCompanion(r, out->file, true);
    }
    if (temp)
        StreamClose(out);
    CloseOpenedPage(&r->p);
    free(r);
}

void CleanPageInPlace(const PageJob *job, PageResult *result)
{
    PageRun *r = StartRun(job, result);
    if (!r)
        return;
    if (OpenPage(r)) {
        TakeUpLeftover(r, false);
        if (MakeCleanedPage(r)) {
            PutInPlace(r);
            TrimCompanionAfter(r);
        }
    }
    DiscardNewFile(&r->cleaned);
    CloseOpenedPage(&r->p);
    free(r);
}
