// Cleaning a web archive: every HTML page of its response and resource
// records cleaned into a conversion record, every other record copied byte
// for byte, bad records skipped and counted by reason; over streams, or
// from a file into a new file put in place at once.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "clean/stream.h"
#include "clean/switches.h"
#include "clean/warc.h"
#include "platform/folder.h"

struct WarcOptions {
    CleanSwitches switches;
    uint32_t word;              // the options word, named in the warcinfo record
    const char *version;        // the program's, named there too
    size_t recordLimit;         // the largest record held (kDefaultRecordLimit)
    bool keepOriginals;         // write each cleaned record's original before it
    // A cleaned response stays a response record (its HTTP head kept, less
    // the framing and coding fields) rather than becoming a conversion.
    bool asResponse;
    bool gzip;                  // the output: one gzip member per record
    int level;                  // its compression level
    // Told after each record: raw bytes read so far, records so far.
    void (*progress)(void *context, int64_t rawRead, int64_t records);
    void *context;
};

// The defaults above, under `switches`, plain output.
WarcOptions WarcOptionsFor(const CleanSwitches &switches, uint32_t word, const char *version);

struct WarcReport {
    int64_t records;            // good records read
    int64_t cleaned;            // pages written as conversion records
    int64_t passed;             // records copied as they were
    int64_t skipped[kWarcSkipCount];  // by reason (the copied ones among them too)
    int64_t pageBytesIn;        // the cleaned pages' payloads, before
    int64_t pageBytesOut;       // and after
    int64_t fileBytesIn;        // the input file's bytes read
    int64_t fileBytesOut;       // the output's bytes written
    bool readFailed;
    bool writeFailed;
};

// Reads the archive at `input` (at its start) into `output`; false when a
// read or write failed (the report says which), never for a bad record.
bool CleanWarcStream(const WarcOptions *options, ByteStream *input, ByteStream *output,
                     WarcReport *report);

enum WarcFileStatus {
    kWarcFileDone = 0,
    kWarcFileCannotRead,        // the input could not be opened or read
    kWarcFileCannotWrite,       // the output could not be made, written or placed
    kWarcFileSameAsInput,       // the output would be the input
};

// Cleans the archive file `input` into a new file that takes the name
// `output` once whole (replacing a file there). sysError: the system's
// error when there was one.
int CleanWarcFile(const WarcOptions *options, const char *input, const char *output,
                  WarcReport *report, int *sysError);

// Opens the archive at `path` for reading: a regular file only, never
// blocking on a pipe. False with the system's error.
bool OpenWarcInput(const char *path, FileHandle *file, PageIdentity *id);

// Whether a record's Content-Type names an HTML page.
bool IsHtmlType(const std::string &contentType);
