// The library's C interface (include/webtrim.h) over the clean from memory
// to memory (CleanBytes).
//
// The options record is read into the switches of the clean; the names of
// the options are the program's own (app/options.h), and each maps to a
// field of the record through the switch table (clean/switches.h). A record carries its size: a
// smaller one than this library's first is refused, a larger one is taken
// when the fields past ours are all zero (a later caller that left them at
// their defaults).
#define WEBTRIM_BUILDING 1
#include "include/webtrim.h"
#include <stdlib.h>
#include <string.h>
#include "app/messages.h"
#include "app/options.h"
#include "app/result.h"
#include "app/run.h"
#include "lib/internal.h"
#include "clean/clean.h"
#include "platform/signals.h"

#ifndef WEBTRIM_VERSION
#define WEBTRIM_VERSION "unknown"
#endif

// The public numbers are the core's, kept in step at compile time.
constexpr int kPublicKinds[][2] = {
    {WT_REMOVED_COMMENTS, kRemovedComments}, {WT_REMOVED_STYLES, kRemovedStyles},
    {WT_REMOVED_SCRIPTS, kRemovedScripts}, {WT_REMOVED_FORMS, kRemovedForms},
    {WT_REMOVED_FRAMES, kRemovedFrames}, {WT_REMOVED_META, kRemovedMeta},
    {WT_REMOVED_MODULES, kRemovedModules}, {WT_REMOVED_PICTURES, kRemovedPictures},
    {WT_REMOVED_BASE, kRemovedBase}, {WT_REMOVED_LINKS, kRemovedLinks},
    {WT_REMOVED_BODY_ATTRIBUTES, kRemovedBodyAttributes},
    {WT_REMOVED_STYLE_ATTRIBUTES, kRemovedStyleAttributes},
    {WT_REMOVED_URL_REFERENCES, kRemovedUrlReferences},
    {WT_REMOVED_BACKGROUNDS, kRemovedBackgrounds}, {WT_REMOVED_HANDLERS, kRemovedHandlers},
    {WT_REMOVED_SCRIPT_URLS, kRemovedScriptUrls},
    {WT_REMOVED_NETWORK_ATTRIBUTES, kRemovedNetworkAttributes},
    {WT_REMOVED_CSS_REFERENCES, kRemovedCssReferences},
    {WT_REMOVED_NETWORK_ELEMENTS, kRemovedNetworkElements},
};
constexpr int kPublicOutcomes[][2] = {
    {WT_OUTCOME_OFF, kExtractOff}, {WT_OUTCOME_NO_MAIN_PART, kExtractNoMainPart},
    {WT_OUTCOME_OUT_OF_MEMORY, kExtractOutOfMemory}, {WT_OUTCOME_BARE_CELL, kExtractBareCell},
    {WT_OUTCOME_WRAPPED_CELL, kExtractWrappedCell}, {WT_OUTCOME_WHOLE_TABLE, kExtractWholeTable},
    {WT_OUTCOME_ANY_LAYOUT_PART, kExtractAnyLayoutPart},
};
template <size_t N>
constexpr bool Paired(const int (&pairs)[N][2])
{
    for (size_t i = 0; i < N; i++)
        if (pairs[i][0] != pairs[i][1])
            return false;
    return true;
}
static_assert(Paired(kPublicKinds) && sizeof kPublicKinds / sizeof *kPublicKinds ==
                                          (size_t)kRemovalKindCount,
              "the removal kinds of webtrim.h are those of clean/removals.h");
static_assert((int)WT_REMOVAL_SLOTS >= (int)kRemovalKindCount, "room for every kind of removal");
static_assert(Paired(kPublicOutcomes), "the outcomes of webtrim.h are ExtractOutcome's");

namespace {

// Each switch of the options word and its field in the record, from the
// table of clean/switches.h.
struct SwitchField {
    uint32_t mask;
    size_t offset;
};
const SwitchField kSwitchFields[] = {
#define WEBTRIM_SWITCH_FIELD_E(Name, bit, field, name, on, libField) {kOpt##Name, offsetof(wt_options, libField)},
#define WEBTRIM_SWITCH_FIELD_S(Name, bit, field, name, onWord, offWord, on, libField) \
    {kOpt##Name, offsetof(wt_options, libField)},
    WEBTRIM_SWITCHES(WEBTRIM_SWITCH_FIELD_E, WEBTRIM_SWITCH_FIELD_S)
#undef WEBTRIM_SWITCH_FIELD_E
#undef WEBTRIM_SWITCH_FIELD_S
};
static_assert(sizeof kSwitchFields / sizeof *kSwitchFields == kSwitchCount, "a field per switch");

// A field of the record as a byte: a caller's bool may hold any value, and
// any but 0 means on.
bool FieldOn(const wt_options *o, size_t offset)
{
    return offset < o->size && *((const unsigned char *)o + offset) != 0;
}

// The switches of a record, field by field.
CleanSwitches SwitchesOf(const wt_options *o)
{
    CleanSwitches sw;
#define WEBTRIM_SWITCH_OF_E(Name, bit, field, name, on, libField) \
    sw.field = FieldOn(o, offsetof(wt_options, libField));
#define WEBTRIM_SWITCH_OF_S(Name, bit, field, name, onWord, offWord, on, libField) \
    sw.field = FieldOn(o, offsetof(wt_options, libField));
    WEBTRIM_SWITCHES(WEBTRIM_SWITCH_OF_E, WEBTRIM_SWITCH_OF_S)
#undef WEBTRIM_SWITCH_OF_E
#undef WEBTRIM_SWITCH_OF_S
    return sw;
}

// The first sizes of the records: the smallest a caller may give. A
// record of options from before companion_files ends where it begins; a
// field past a caller's record is off, and never written.
const size_t kOptionsSizeV1 = offsetof(wt_options, companion_files);
const size_t kOptionsSizeNow = sizeof(wt_options);
const size_t kResultSizeV1 = sizeof(wt_result);
const size_t kArchiveSniffSize = 4096;     // the first bytes that tell a single-file page

struct StatusInfo {
    const char *name;
    const char *text;
};
const StatusInfo kStatuses[] = {
    {"ok", "The page was cleaned"},
    {"argument", "A pointer is missing"},
    {"record", "The record's size is not one this library knows"},
    {"option", "No option has that name"},
    {"no-memory", "Out of memory"},
    {"memory-limit", "The page would pass the memory limit between two stages"},
    {"write", "Cannot write the cleaned page"},
    {"not-an-archive", "Not a single-file page (MHTML) that can be read"},
};
const int kStatusCount = sizeof kStatuses / sizeof *kStatuses;
static_assert(kStatusCount == WT_ERR_NOT_ARCHIVE + 1, "a name and a text for every status");

// A switch's field as a byte, to set.
unsigned char *FieldOf(wt_options *o, const SwitchField &f)
{
    return (unsigned char *)o + f.offset;
}

// The options word of a record.
uint32_t WordOf(const wt_options *o)
{
    uint32_t word = 0;
    for (const SwitchField &f : kSwitchFields)
        if (FieldOn(o, f.offset))
            word |= f.mask;
    return word;
}

// A record of `size` bytes that this library can read: at least its first
// version's, and nothing set past what it knows.
bool RecordUsable(const void *record, size_t size, size_t known)
{
    if (size < known)
        return false;
    const unsigned char *p = (const unsigned char *)record;
    for (size_t i = known; i < size; i++)
        if (p[i])
            return false;
    return true;
}

// The name with '_' read as '-', compared with a table's name.
bool SameName(const char *given, const char *name)
{
    for (; *given && *name; given++, name++)
        if (*given != *name && !(*given == '_' && *name == '-'))
            return false;
    return *given == *name;
}

// The mask of the switches an option name stands for; 0 when none.
uint32_t MaskOfName(const char *name)
{
    if (!name)
        return 0;
    uint32_t all = 0;
    for (int i = 0; i < kElementKindCount; i++) {
        all |= kElementKinds[i].mask;
        if (SameName(name, kElementKinds[i].name))
            return kElementKinds[i].mask;
    }
    if (SameName(name, "all"))
        return all;
    for (int i = 0; i < kNamedSwitchCount; i++)
        if ((kNamedSwitches[i].mask & kSwitchMask) && SameName(name, kNamedSwitches[i].name))
            return kNamedSwitches[i].mask;
    return 0;
}

void FillResult(wt_result *r, int status, const CleanReport *report)
{
    if (!r || r->size < kResultSizeV1)
        return;
    size_t size = r->size;
    memset(r, 0, size);
    r->size = size;
    r->status = status;
    r->part_start = r->part_end = -1;
    r->part_tag = nullptr;
    if (!report)
        return;
    r->outcome = report->extraction;
    r->bytes_in = report->bytesIn;
    r->bytes_out = report->bytesOut;
    r->removed_by_elements = report->removed[kStageElements];
    r->removed_by_extraction = report->removed[kStageExtraction];
    r->removed_by_attributes = report->removed[kStageAttributes];
    for (int k = 0; k < kRemovalKindCount; k++) {
        r->removals[k] = report->removals.count[k];
        r->removal_bytes[k] = report->removals.bytes[k];
    }
    if (report->extraction == kExtractAnyLayoutPart) {
        r->part_start = report->part.start;
        r->part_end = report->part.end + 1;
        r->part_tag = report->part.tag;
    }
}

int StatusOf(CleanStatus status, bool toBuffer)
{
    switch (status) {
    case kCleanDone:
        return WT_OK;
    case kCleanOverLimit:
        return WT_ERR_MEMORY_LIMIT;
    case kCleanWriteFailed:
        // Only a sink refuses a write; a buffer fails for want of memory.
        return toBuffer ? WT_ERR_NO_MEMORY : WT_ERR_WRITE;
    default:
        return WT_ERR_NO_MEMORY;
    }
}

// The caller's sink behind the output stream; after a refusal it takes
// nothing more, and the stream reports a failed write.
struct SinkOutput {
    wt_sink sink;
    void *context;
    bool refused;
    ByteStream stream;
};

void ToCallerSink(void *context, const unsigned char *data, size_t n)
{
    SinkOutput *s = (SinkOutput *)context;
    if (s->refused || n == 0)
        return;
    if (s->sink(s->context, data, n) != 0) {
        s->refused = true;
        s->stream.writeError = true;
    }
}

// Checks the records a clean takes: WT_OK, or why not.
int CheckRecords(const wt_options *options, const wt_result *result)
{
    if (result && result->size < kResultSizeV1)
        return WT_ERR_RECORD;
    if (options && !RecordUsable(options, options->size, options->size < kOptionsSizeNow ? kOptionsSizeV1 : kOptionsSizeNow))
        return WT_ERR_RECORD;
    return WT_OK;
}

// Runs a clean whose arguments were checked into `output`: the status.
int Clean(const wt_options *options, const void *page, size_t size, ByteStream *output,
          bool toBuffer, wt_result *result)
{
    wt_options defaults;
    if (!options) {
        wt_options_init(&defaults, sizeof defaults);
        options = &defaults;
    }
    CleanSwitches sw = SwitchesOf(options);
    size_t limit = options->memory_limit ? options->memory_limit : kNoMemoryLimit;
    CleanReport report;
    CleanStatus done;
    // A single-file page (MHTML) is known by its first bytes: its root part
    // is cleaned, every other byte kept (less the parts that only removed
    // elements named, under the companion-files switch); one not understood
    // is not cleaned.
    if (LooksLikeMime((const unsigned char *)page, size < kArchiveSniffSize ? size : kArchiveSniffSize)) {
        MimeDocument doc;
        ByteStream in;
        StreamOpenMemory(&in, page, size);
        if (ReadMimeDocument(&in, &doc) != kMimeOk) {
            FreeMimeDocument(&doc);
            FillResult(result, WT_ERR_NOT_ARCHIVE, nullptr);
            return WT_ERR_NOT_ARCHIVE;
        }
        done = CleanArchiveBytes(&sw, &doc, page, size, output, limit, &report);
        FreeMimeDocument(&doc);
    } else {
        done = CleanBytes(&sw, page, size, output, limit, &report);
    }
    int status = StatusOf(done, toBuffer);
    FillResult(result, status, &report);
    return status;
}

// Copies a text into a fixed field, cut to fit.
template <size_t N>
void CopyField(char (&field)[N], const char *text)
{
    size_t n = text ? strlen(text) : 0;
    if (n >= N)
        n = N - 1;
    memcpy(field, text ? text : "", n);
    field[n] = 0;
}

const size_t kFileResultSizeV1 = offsetof(wt_file_result, companion_outcome);
const size_t kFileResultSizeNow = sizeof(wt_file_result);

static_assert((int)WT_PAGE_CLEANED == (int)kPageCleaned && (int)WT_PAGE_ALREADY_CLEAN == (int)kPageAlreadyClean &&
                  (int)WT_PAGE_REFUSED == (int)kPageRefused && (int)WT_PAGE_FAILED == (int)kPageFailed,
              "the page outcomes of webtrim.h are the run's");
static_assert((int)WT_ORIGINAL_STAYS == (int)kOriginalStays && (int)WT_ORIGINAL_IN_TRASH == (int)kOriginalInTrash &&
                  (int)WT_ORIGINAL_IN_FOLDER == (int)kOriginalInFolder,
              "the places of webtrim.h are the run's");
static_assert(WT_WARN_FOLDER_MISSING == 1 << kWarnFolderMissing && WT_WARN_NAME_TOO_LONG == 1 << kWarnNameTooLong &&
                  WT_WARN_CANNOT_MOVE == 1 << kWarnCannotMove,
              "the warning bits of webtrim.h are the run's");

// Answers a call that fails before its clean.
int Fail(wt_result *result, int status)
{
    FillResult(result, status, nullptr);
    return status;
}

}  // namespace

extern "C" {

const char *wt_status_text(int status)
{
    return status >= 0 && status < kStatusCount ? kStatuses[status].text : "Unknown error";
}

const char *wt_status_name(int status)
{
    return status >= 0 && status < kStatusCount ? kStatuses[status].name : "unknown";
}

int wt_options_init(wt_options *options, size_t size)
{
    if (!options)
        return WT_ERR_ARGUMENT;
    if (size < kOptionsSizeV1)
        return WT_ERR_RECORD;
    memset(options, 0, size);
    options->size = size;
    for (const SwitchField &f : kSwitchFields)
        if (f.offset < size)
            *FieldOf(options, f) = (kDefaultSwitches & f.mask) != 0;
    return WT_OK;
}

int wt_options_set(wt_options *options, const char *name, int on)
{
    if (!options)
        return WT_ERR_ARGUMENT;
    uint32_t mask = MaskOfName(name);
    if (!mask)
        return WT_ERR_OPTION;
    for (const SwitchField &f : kSwitchFields)
        if ((mask & f.mask) && f.offset < options->size)
            *FieldOf(options, f) = on != 0;
    return WT_OK;
}

int wt_options_get(const wt_options *options, const char *name)
{
    uint32_t mask = MaskOfName(name);
    if (!options || !mask)
        return -1;
    return (WordOf(options) & mask) == mask ? 1 : 0;
}

const char *wt_option_name(int index)
{
    if (index >= 0 && index < kElementKindCount)
        return kElementKinds[index].name;
    int at = kElementKindCount;
    for (int i = 0; i < kNamedSwitchCount && index >= at; i++) {
        if (!(kNamedSwitches[i].mask & kSwitchMask))
            continue;
        if (index == at)
            return kNamedSwitches[i].name;
        at++;
    }
    return nullptr;
}

const char *wt_outcome_name(int outcome)
{
    return ExtractionName(outcome);
}

const char *wt_removal_name(int kind)
{
    return RemovalKindName(kind);
}

int wt_clean(const wt_options *options, const void *page, size_t size, wt_sink sink,
             void *context, wt_result *result)
{
    if ((!page && size) || !sink)
        return Fail(result, WT_ERR_ARGUMENT);
    if (int status = CheckRecords(options, result))
        return Fail(result, status);
    // The stream's buffer is large: on the heap, not on a caller's stack.
    SinkOutput *out = (SinkOutput *)malloc(sizeof(SinkOutput));
    if (!out)
        return Fail(result, WT_ERR_NO_MEMORY);
    out->sink = sink;
    out->context = context;
    out->refused = false;
    StreamOpenSink(&out->stream, ToCallerSink, out);
    int status = Clean(options, page, size, &out->stream, false, result);
    StreamClose(&out->stream);
    free(out);
    return status;
}

int wt_clean_to_buffer(const wt_options *options, const void *page, size_t size,
                       unsigned char **out, size_t *out_size, wt_result *result)
{
    if (out)
        *out = nullptr;
    if (out_size)
        *out_size = 0;
    if ((!page && size) || !out || !out_size)
        return Fail(result, WT_ERR_ARGUMENT);
    if (int status = CheckRecords(options, result))
        return Fail(result, status);
    ByteStream *buffer = (ByteStream *)malloc(sizeof(ByteStream));
    if (!buffer)
        return Fail(result, WT_ERR_NO_MEMORY);
    StreamOpenBuffer(buffer);
    int status = Clean(options, page, size, buffer, true, result);
    size_t n = StreamMemorySize(buffer);
    // The buffer passes to the caller; an empty page still gets one.
    unsigned char *data = (unsigned char *)StreamMemoryData(buffer);
    if (status == WT_OK && !data)
        data = (unsigned char *)malloc(1);
    if (status == WT_OK && !data)
        status = Fail(result, WT_ERR_NO_MEMORY);
    if (status == WT_OK) {
        *out = data;
        *out_size = n;
    } else {
        free(data);
    }
    free(buffer);
    return status;
}

void wt_free(void *buffer)
{
    free(buffer);
}

int wt_clean_file(const wt_options *options, const char *path, const char *move_to,
                  wt_file_result *result)
{
    if (!result)
        return WT_ERR_ARGUMENT;
    if (result->size < kFileResultSizeV1 || (options && !RecordUsable(options, options->size, options->size < kOptionsSizeNow ? kOptionsSizeV1 : kOptionsSizeNow)))
        return WT_ERR_RECORD;
    size_t size = result->size;
    memset(result, 0, size);
    result->size = size;
    result->clean.size = sizeof result->clean;
    if (!path) {
        FillResult(&result->clean, WT_ERR_ARGUMENT, nullptr);
        return WT_ERR_ARGUMENT;
    }
    wt_options defaults;
    if (!options) {
        wt_options_init(&defaults, sizeof defaults);
        options = &defaults;
    }
    // A library leaves the process's signals to the process.
    LeaveTerminationSignalsAlone();
    DisposalTarget target;
    OpenDisposalTarget(!move_to || !*move_to, move_to ? move_to : "", &target);
    if (target.folderMissing) {
        // A caller that named a folder gets its originals there or not at
        // all: the page stays as it is.
        int err = LastSystemError();
        result->page = WT_PAGE_FAILED;
        result->original = WT_ORIGINAL_STAYS;
        result->error = err;
        FormatMessageLine(ErrorText(kErrFolderMissing), nullptr, 0, result->message, sizeof result->message);
        CopyField(result->message_name, ErrorName(kErrFolderMissing));
        FillResult(&result->clean, WT_OK, nullptr);
        CloseDisposalTarget(&target);
        return WT_OK;
    }
    PageJob job = PageJobFor(path, SwitchesOf(options), &target);
    PageResult *r = (PageResult *)malloc(sizeof *r);
    if (!r) {
        CloseDisposalTarget(&target);
        FillResult(&result->clean, WT_ERR_NO_MEMORY, nullptr);
        return WT_ERR_NO_MEMORY;
    }
    CleanPageInPlace(&job, r);
    CloseDisposalTarget(&target);
    result->page = r->outcome;
    result->original = r->original;
    result->warnings = r->warnings & (WT_WARN_FOLDER_MISSING | WT_WARN_NAME_TOO_LONG | WT_WARN_CANNOT_MOVE);
    result->error = r->stop.sysError;
    if (r->stop.id >= 0) {
        FormatMessageLine(MessageText(r->stop.kind, r->stop.id), r->stop.detail, r->stop.sysError,
                          result->message, sizeof result->message);
        CopyField(result->message_name, MessageName(r->stop.kind, r->stop.id));
    }
    CopyField(result->page_path, r->page);
    CopyField(result->original_path, r->originalPath);
    CopyField(result->saved_as, r->savedAs);
    FillResult(&result->clean, WT_OK, r->haveClean ? &r->clean : nullptr);
    if (r->haveClean && r->bytesBefore >= 0)
        result->clean.bytes_in = r->bytesBefore;
    if (size >= kFileResultSizeNow) {
        result->companion_outcome = r->companion.outcome;
        result->companion_files = r->companion.files;
        result->companion_bytes = r->companion.bytes;
    }
    free(r);
    return WT_OK;
}

const char *wt_page_name(int page)
{
    return PageOutcomeName(page);
}

const char *wt_original_name(int original)
{
    return OriginalPlaceName(original);
}

const char *wt_warning_name(unsigned warning)
{
    for (int w = kWarnFolderMissing; w < kWarningCount; w++)
        if (warning == 1u << w)
            return WarningName((WarningId)w);
    return nullptr;
}

const char *wt_page_refusal(const void *page, size_t size, char *message, size_t message_size)
{
    const char *kind = "";
    int id = page ? RefusalOfContent((const unsigned char *)page, size < (size_t)kSniffSize ? size : (size_t)kSniffSize,
                                     &kind)
                  : -1;
    if (message && message_size)
        message[0] = '\0';
    if (id < 0)
        return nullptr;
    if (message && message_size)
        FormatMessageLine(ErrorText((ErrorId)id), kind, 0, message, message_size);
    return ErrorName((ErrorId)id);
}

const char *wt_companion_name(int outcome)
{
    return CompanionOutcomeName(outcome);
}

const char *wt_version(void)
{
    return WEBTRIM_VERSION;
}

}  // extern "C"

CleanSwitches LibSwitchesOf(const wt_options *options)
{
    return SwitchesOf(options);
}

uint32_t LibWordOf(const wt_options *options)
{
    return WordOf(options);
}

bool LibOptionsUsable(const wt_options *options)
{
    return !options || RecordUsable(options, options->size, options->size < kOptionsSizeNow ? kOptionsSizeV1 : kOptionsSizeNow);
}
