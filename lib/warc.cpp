// The library's web archive calls (include/webtrim.h) over the clean of an
// archive (app/warcrun.h). Apart from the rest of the interface: they need
// the C++ runtime and zlib, which the static library, made to link into a C
// program alone, leaves out; the shared library has them.
#define WEBTRIM_BUILDING 1
#include "include/webtrim.h"
#include <errno.h>
#include <string.h>
#include <strings.h>
#include <new>
#include "app/warcrun.h"
#include "lib/internal.h"
#include "platform/signals.h"

#ifndef WEBTRIM_VERSION
#define WEBTRIM_VERSION "unknown"
#endif

static_assert((int)WT_WARC_REASONS == (int)kWarcSkipCount, "the reasons of webtrim.h are warc.h's");
static_assert(sizeof(((wt_warc_report *)nullptr)->skipped) / sizeof(int64_t) >= (size_t)kWarcSkipCount,
              "room for every reason");

const char *wt_warc_reason_name(int reason)
{
    return reason >= 0 && reason < kWarcSkipCount ? kWarcSkipNames[reason] : nullptr;
}

int wt_warc_clean_file(const wt_options *options, const char *input, const char *output, unsigned flags,
                       size_t record_limit, wt_warc_report *report)
{
    if (!report)
        return WT_ERR_ARGUMENT;
    if (report->size < sizeof(wt_warc_report) || !LibOptionsUsable(options))
        return WT_ERR_RECORD;
    size_t size = report->size;
    memset(report, 0, size);
    report->size = size;
    if (!input || !output)
        return WT_ERR_ARGUMENT;
    wt_options defaults;
    if (!options) {
        wt_options_init(&defaults, sizeof defaults);
        options = &defaults;
    }
    LeaveTerminationSignalsAlone();
    WarcOptions o = WarcOptionsFor(LibSwitchesOf(options), LibWordOf(options), WEBTRIM_VERSION);
    if (record_limit)
        o.recordLimit = record_limit;
    o.keepOriginals = (flags & WT_WARC_KEEP_ORIGINALS) != 0;
    o.asResponse = (flags & WT_WARC_RESPONSE) != 0;
    unsigned level = (flags >> 8) & 0xFF;       // WT_WARC_LEVEL: the level + 1, 0 for the default
    if (level > 10)
        return WT_ERR_ARGUMENT;
    if (level)
        o.level = (int)level - 1;
    size_t n = strlen(output);
    o.gzip = n >= 3 && strcasecmp(output + n - 3, ".gz") == 0;
    WarcReport r;
    int status = CleanWarcFile(&o, input, output, &r, &report->error);
    static const char *const kNames[] = {"", "cannot-read", "cannot-write", "same-as-input"};
    strncpy(report->message_name, kNames[status], sizeof report->message_name - 1);
    if (status == kWarcFileDone)
        report->error = 0;
    report->records = r.records;
    report->cleaned = r.cleaned;
    report->passed = r.passed;
    for (int i = 0; i < kWarcSkipCount; i++)
        report->skipped[i] = r.skipped[i];
    report->bytes_in = r.fileBytesIn;
    report->bytes_out = r.fileBytesOut;
    report->page_bytes_in = r.pageBytesIn;
    report->page_bytes_out = r.pageBytesOut;
    return WT_OK;
}

struct wt_warc_reader {
    FileHandle file;
    ByteStream stream;
    WarcReader reader;
    WarcRecord record;
};

wt_warc_reader *wt_warc_open(const char *path, size_t record_limit, int *error)
{
    int ignored;
    if (!error)
        error = &ignored;
    *error = 0;
    if (!path) {
        *error = EINVAL;
        return nullptr;
    }
    FileHandle file;
    PageIdentity id;
    if (!OpenWarcInput(path, &file, &id)) {
        *error = LastSystemError();
        return nullptr;
    }
    wt_warc_reader *r = new (std::nothrow) wt_warc_reader;
    if (!r) {
        PlatformClose(file);
        *error = ENOMEM;
        return nullptr;
    }
    r->file = file;
    StreamAttach(&r->stream, file);
    if (!WarcReaderOpen(&r->reader, &r->stream, record_limit ? record_limit : (size_t)kDefaultRecordLimit)) {
        wt_warc_close(r);
        *error = ENOMEM;
        return nullptr;
    }
    return r;
}

int wt_warc_next(wt_warc_reader *r, wt_warc_record *rec)
{
    if (!r || !rec || rec->size < sizeof(wt_warc_record))
        return -1;
    if (WarcReadRecord(&r->reader, &r->record) == kWarcEnd)
        return StreamReadFailed(&r->stream) ? -1 : 0;
    const WarcRecord &w = r->record;
    size_t size = rec->size;
    memset(rec, 0, size);
    rec->size = size;
    rec->version = w.version;
    rec->type = w.type.c_str();
    rec->id = w.id.c_str();
    rec->target_uri = w.targetUri.c_str();
    rec->date = w.date.c_str();
    rec->content_type = w.contentType.c_str();
    rec->length = w.length;
    rec->head = (const unsigned char *)w.head.data();
    rec->head_size = w.head.size();
    rec->block = w.held ? (const unsigned char *)w.block.data() : nullptr;
    rec->block_size = w.held ? w.block.size() : 0;
    return 1;
}

void wt_warc_skipped(const wt_warc_reader *r, int64_t counts[WT_WARC_REASONS])
{
    for (int i = 0; i < kWarcSkipCount; i++)
        counts[i] = r ? r->reader.skipped[i] : 0;
}

void wt_warc_close(wt_warc_reader *r)
{
    if (!r)
        return;
    WarcReaderClose(&r->reader);
    PlatformClose(r->file);
    delete r;
}
