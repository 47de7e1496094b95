// The clean of a web archive, record by record: see warcrun.h.
#include "app/warcrun.h"
#include <stdio.h>
#include <string.h>
#include <string>
#include "app/messages.h"
#include "app/run.h"
#include "clean/bytes.h"
#include "clean/clean.h"
#include "clean/sha1.h"
#include "platform/folder.h"
#include "platform/place.h"

WarcOptions WarcOptionsFor(const CleanSwitches &switches, uint32_t word, const char *version)
{
    WarcOptions o;
    memset(&o, 0, sizeof o);
    o.switches = switches;
    o.word = word;
    o.version = version;
    o.recordLimit = kDefaultRecordLimit;
    o.level = 6;
    return o;
}

bool IsHtmlType(const std::string &contentType)
{
    std::string t;
    for (char c : contentType) {
        if (c == ';')
            break;
        if (c != ' ' && c != '\t')
            t += (char)Lower((unsigned char)c);
    }
    return t == "text/html" || t == "application/xhtml+xml";
}

// A record id made from a digest of `seed`: the same input and switches
// give the same ids, so that every front end writes the same archive.
static std::string RecordId(const std::string &seed)
{
    unsigned char d[kSha1Size];
    Sha1Of(seed.data(), seed.size(), d);
    d[6] = (unsigned char)((d[6] & 0x0F) | 0x50);      // name-based
    d[8] = (unsigned char)((d[8] & 0x3F) | 0x80);
    char text[64];
    snprintf(text, sizeof text,
             "<urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x>", d[0], d[1],
             d[2], d[3], d[4], d[5], d[6], d[7], d[8], d[9], d[10], d[11], d[12], d[13], d[14], d[15]);
    return text;
}

// The digest of the bytes taken by s, as a header field's value.
static std::string DigestText(Sha1 *s)
{
    unsigned char d[kSha1Size];
    char text[kSha1Base32Size];
    Sha1Finish(s, d);
    Sha1Base32(d, text);
    return std::string("sha1:") + text;
}

static std::string DigestText(const void *data, size_t n)
{
    Sha1 s;
    Sha1Start(&s);
    Sha1Add(&s, data, n);
    return DigestText(&s);
}

static const char *VersionLine(int version)
{
    return version == 11 ? "WARC/1.1\r\n" : "WARC/1.0\r\n";
}

// A record whose block is `block` and then `more` (m bytes, often none).
static void WriteRecord(WarcWriter *w, const std::string &head, const void *block, size_t n,
                        const void *more = nullptr, size_t m = 0)
{
    WarcBeginRecord(w);
    WarcPut(w, head.data(), head.size());
    WarcPut(w, block, n);
    if (m)
        WarcPut(w, more, m);
    WarcPut(w, "\r\n\r\n", 4);
    WarcEndRecord(w);
}

struct WarcRun {
    const WarcOptions *o;
    WarcReader reader;
    WarcWriter writer;
    WarcReport *report;
    std::string warcinfoId;
    bool warcinfoWritten;
    WarcRecord rec;
    // The page of the record in hand: within the record's block, or in
    // `decoded` or `inflated` when it had to be undone first.
    const unsigned char *page;
    size_t pageSize;
    size_t httpHeadSize;        // a response's HTTP head before the page; 0 for a resource
    std::string decoded, inflated, cleaned;
};

// The warcinfo record, first in the output: made when the first record (or
// the end) has been read, its id drawn from that record's header.
static void WriteWarcinfo(WarcRun *run, int version)
{
    if (run->warcinfoWritten)
        return;
    run->warcinfoWritten = true;
    char word[16];
    snprintf(word, sizeof word, "0x%08X", run->o->word);
    run->warcinfoId = RecordId(std::string("warcinfo ") + word + " " + run->o->version + "\n" + run->rec.head);
    std::string body = std::string("software: Webtrim/") + run->o->version + "\r\n" +
                       "format: WARC File Format " + (version == 11 ? "1.1" : "1.0") + "\r\n" +
                       "webtrim-switches: " + word + "\r\n";
    std::string date = run->rec.date.empty() ? "1970-01-01T00:00:00Z" : run->rec.date;
    std::string head = std::string(VersionLine(version)) + "WARC-Type: warcinfo\r\n" +
                       "WARC-Record-ID: " + run->warcinfoId + "\r\n" + "WARC-Date: " + date + "\r\n" +
                       "Content-Type: application/warc-fields\r\n" +
                       "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    WriteRecord(&run->writer, head, body.data(), body.size());
}

static void PassRecord(WarcRun *run)
{
    WriteRecord(&run->writer, run->rec.head, run->rec.block.data(), run->rec.block.size());
    run->report->passed++;
}

// The page a record holds, decoded, in run->page (its HTTP Content-Type
// in *type): 1 when there is one to clean, 0 when the record is no page,
// or a reason (kSkip...) + 2 when it is one that cannot be decoded.
static int PageOf(WarcRun *run, std::string *type)
{
    const WarcRecord &rec = run->rec;
    const unsigned char *block = (const unsigned char *)rec.block.data();
    size_t n = rec.block.size();
    if (rec.type == "resource") {
        if (!IsHtmlType(rec.contentType))
            return 0;
        *type = rec.contentType;
        run->page = block;
        run->pageSize = n;
        run->httpHeadSize = 0;
        return 1;
    }
    if (rec.type != "response" || rec.contentType.find("application/http") == std::string::npos)
        return 0;
    HttpHead http;
    if (!ParseHttpHead(block, n, &http) || !IsHtmlType(http.contentType))
        return 0;
    *type = http.contentType;
    run->httpHeadSize = http.size;
    const unsigned char *body = block + http.size;
    size_t bodySize = n - http.size;
    std::string lowerTe;
    for (char c : http.transferEncoding)
        lowerTe += (char)Lower((unsigned char)c);
    if (lowerTe.find("chunked") != std::string::npos) {
        if (!Dechunk(body, bodySize, &run->decoded, run->o->recordLimit))
            return kSkipBadChunked + 2;
        body = (const unsigned char *)run->decoded.data();
        bodySize = run->decoded.size();
    }
    std::string encoding;
    for (char c : http.contentEncoding)
        encoding += (char)Lower((unsigned char)c);
    if (encoding.empty() || encoding == "identity") {
        run->page = body;
        run->pageSize = bodySize;
        return 1;
    }
    int rc = DecodeContent(encoding, body, bodySize, &run->inflated, run->o->recordLimit);
    run->page = (const unsigned char *)run->inflated.data();
    run->pageSize = run->inflated.size();
    return rc ? rc + 2 : 1;
}

static void SinkToString(void *context, const unsigned char *data, size_t n)
{
    ((std::string *)context)->append((const char *)data, n);
}

// The cleaned page as a conversion record that refers to its original.
static void WriteConversion(WarcRun *run, const std::string &type)
{
    const WarcRecord &rec = run->rec;
    std::string charset = CharsetOf(type);
    std::string digest = DigestText(run->cleaned.data(), run->cleaned.size());
    std::string head = std::string(VersionLine(rec.version)) + "WARC-Type: conversion\r\n" +
                       "WARC-Record-ID: " + RecordId("conversion " + run->warcinfoId + rec.id) + "\r\n" +
                       "WARC-Refers-To: " + rec.id + "\r\n";
    if (!rec.targetUri.empty())
        head += "WARC-Target-URI: " + rec.targetUri + "\r\n";
    if (!rec.date.empty())
        head += "WARC-Date: " + rec.date + "\r\n";
    head += "WARC-Warcinfo-ID: " + run->warcinfoId + "\r\n" + "WARC-Block-Digest: " + digest + "\r\n" +
            "WARC-Payload-Digest: " + digest + "\r\n" + "Content-Type: text/html" +
            (charset.empty() ? std::string() : "; charset=" + charset) + "\r\n" +
            "Content-Length: " + std::to_string(run->cleaned.size()) + "\r\n\r\n";
    WriteRecord(&run->writer, head, run->cleaned.data(), run->cleaned.size());
}

// Whether an HTTP head's line is one of the fields the new body makes
// untrue (its framing and coding).
static bool IsFramingField(const char *line, size_t n)
{
    static const char *const kFields[] = {"transfer-encoding:", "content-encoding:", "content-length:"};
    for (const char *f : kFields) {
        size_t m = strlen(f);
        size_t i = 0;
        while (i < m && i < n && Lower((unsigned char)line[i]) == (unsigned char)f[i])
            i++;
        if (i == m)
            return true;
    }
    return false;
}

// The cleaned page as a response record: the original's HTTP head without
// its framing and coding fields, a Content-Length for the new body, and
// the digests of the new block and body.
static void WriteResponse(WarcRun *run)
{
    const WarcRecord &rec = run->rec;
    const char *h = rec.block.data();
    size_t size = run->httpHeadSize;
    std::string http;
    for (size_t at = 0; at < size;) {
        const char *nl = (const char *)memchr(h + at, '\n', size - at);
        size_t lineSize = nl ? (size_t)(nl - h - at) + 1 : size - at;
        bool blank = lineSize <= 2 && (h[at] == '\r' || h[at] == '\n');
        if (blank) {
            http += "Content-Length: " + std::to_string(run->cleaned.size()) + "\r\n";
            http.append(h + at, size - at);
            break;
        }
        if (at == 0 || !IsFramingField(h + at, lineSize))
            http.append(h + at, lineSize);
        at += lineSize;
    }
    // The block is the new HTTP head and the page, taken in two pieces:
    // the page is neither copied nor hashed more than the two digests need.
    Sha1 blockSha;
    Sha1Start(&blockSha);
    Sha1Add(&blockSha, http.data(), http.size());
    Sha1Add(&blockSha, run->cleaned.data(), run->cleaned.size());
    size_t blockSize = http.size() + run->cleaned.size();
    std::string head = std::string(VersionLine(rec.version)) + "WARC-Type: response\r\n" +
                       "WARC-Record-ID: " + RecordId("response " + run->warcinfoId + rec.id) + "\r\n";
    if (!rec.targetUri.empty())
        head += "WARC-Target-URI: " + rec.targetUri + "\r\n";
    if (!rec.date.empty())
        head += "WARC-Date: " + rec.date + "\r\n";
    head += "WARC-Warcinfo-ID: " + run->warcinfoId + "\r\n" +
            "WARC-Block-Digest: " + DigestText(&blockSha) + "\r\n" +
            "WARC-Payload-Digest: " + DigestText(run->cleaned.data(), run->cleaned.size()) + "\r\n" +
            "Content-Type: " + rec.contentType + "\r\n" +
            "Content-Length: " + std::to_string(blockSize) + "\r\n\r\n";
    WriteRecord(&run->writer, head, http.data(), http.size(), run->cleaned.data(), run->cleaned.size());
}

static void HandleRecord(WarcRun *run)
{
    WarcRecord &rec = run->rec;
    WarcReport *report = run->report;
    if (!rec.held) {
        report->skipped[kSkipTooLarge]++;
        if (WarcCopyBlock(&run->reader, &rec, &run->writer))
            report->passed++;
        return;
    }
    std::string type;
    int page = PageOf(run, &type);
    if (page >= 2)
        report->skipped[page - 2]++;
    const char *kind;
    if (page != 1 ||
        RefusalOfContent(run->page, run->pageSize < (size_t)kSniffSize ? run->pageSize : (size_t)kSniffSize,
                         &kind) >= 0) {
        PassRecord(run);
        return;
    }
    run->cleaned.clear();
    ByteStream *out = new ByteStream;
    StreamOpenSink(out, SinkToString, &run->cleaned);
    CleanReport cr;
    CleanStatus status = CleanBytes(&run->o->switches, run->page, run->pageSize, out,
                                    run->o->recordLimit, &cr);
    StreamClose(out);
    delete out;
    if (status != kCleanDone) {
        if (status == kCleanOverLimit || status == kCleanNoMemory)
            report->skipped[kSkipTooLarge]++;
        PassRecord(run);
        return;
    }
    if (run->o->keepOriginals)
        PassRecord(run);
    if (run->o->asResponse && run->httpHeadSize > 0)
        WriteResponse(run);
    else
        WriteConversion(run, type);
    report->cleaned++;
    report->pageBytesIn += (int64_t)run->pageSize;
    report->pageBytesOut += (int64_t)run->cleaned.size();
}

bool CleanWarcStream(const WarcOptions *options, ByteStream *input, ByteStream *output, WarcReport *report)
{
    memset(report, 0, sizeof *report);
    WarcRun *run = new WarcRun;
    run->o = options;
    run->report = report;
    run->warcinfoWritten = false;
    int64_t startOut = StreamTell(output);
    bool ok = WarcReaderOpen(&run->reader, input, options->recordLimit) &&
              WarcWriterOpen(&run->writer, output, options->gzip, options->level);
    while (ok) {
        int got = WarcReadRecord(&run->reader, &run->rec);
        if (got == kWarcEnd)
            break;
        WriteWarcinfo(run, run->rec.version);
        HandleRecord(run);
        if (options->progress)
            options->progress(options->context, run->reader.source.rawRead, run->reader.records);
        if (StreamWriteFailed(output) || StreamReadFailed(input))
            break;
    }
    if (ok && !run->warcinfoWritten) {
        run->rec.head.clear();
        run->rec.date.clear();
        WriteWarcinfo(run, 10);
    }
    for (int i = 0; i < kWarcSkipCount; i++)
        report->skipped[i] += run->reader.skipped[i];
    report->records = run->reader.records;
    report->fileBytesIn = run->reader.source.rawRead;
    StreamFlush(output);
    report->fileBytesOut = StreamTell(output) - startOut;
    report->readFailed = StreamReadFailed(input) || !ok;
    report->writeFailed = StreamWriteFailed(output) || run->writer.failed;
    WarcReaderClose(&run->reader);
    WarcWriterClose(&run->writer);
    delete run;
    return !report->readFailed && !report->writeFailed;
}

bool OpenWarcInput(const char *path, FileHandle *file, PageIdentity *id)
{
    HeldFolder folder;
    char name[kFolderPathSize];
    if (!OpenPageFolder(path, &folder, name, sizeof name))
        return false;
    bool ok = OpenEntryForReading(&folder, name, file, id);
    int err = LastSystemError();
    CloseHeldFolder(&folder);
    SetLastSystemError(err);
    return ok;
}

int CleanWarcFile(const WarcOptions *options, const char *input, const char *output, WarcReport *report,
                  int *sysError)
{
    memset(report, 0, sizeof *report);
    *sysError = 0;
    HeldFolder outFolder;
    char outName[kFolderPathSize];
    FileHandle in;
    PageIdentity inId, outId;
    if (!OpenWarcInput(input, &in, &inId)) {
        *sysError = LastSystemError();
        return kWarcFileCannotRead;
    }
    if (!OpenPageFolder(output, &outFolder, outName, sizeof outName)) {
        *sysError = LastSystemError();
        PlatformClose(in);
        return kWarcFileCannotWrite;
    }
    if (LookAtEntry(&outFolder, outName, &outId) == kEntryFile && outId.volume == inId.volume &&
        outId.file == inId.file) {
        PlatformClose(in);
        CloseHeldFolder(&outFolder);
        return kWarcFileSameAsInput;
    }
    NewFile nf;
    if (!CreateNewFile(&outFolder, &nf)) {
        *sysError = LastSystemError();
        PlatformClose(in);
        CloseHeldFolder(&outFolder);
        return kWarcFileCannotWrite;
    }
    ByteStream *streams = new ByteStream[2];
    StreamAttach(&streams[0], in);
    StreamAttach(&streams[1], nf.file);
    bool ok = CleanWarcStream(options, &streams[0], &streams[1], report);
    int status = report->readFailed ? kWarcFileCannotRead : ok ? kWarcFileDone : kWarcFileCannotWrite;
    if (status == kWarcFileDone &&
        !(SetNewFileMode(&nf, 0644) && FinishNewFile(&nf) && ReplaceWithNewFile(&nf, outName))) {
        *sysError = LastSystemError();
        status = kWarcFileCannotWrite;
    }
    if (status != kWarcFileDone) {
        if (!*sysError)
            *sysError = LastSystemError();
        DiscardNewFile(&nf);
    }
    PlatformClose(in);
    delete[] streams;
    SyncHeldFolder(&outFolder);
    CloseHeldFolder(&outFolder);
    return status;
}
