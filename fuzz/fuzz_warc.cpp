// Fuzz target: the web archive reader and the clean of an archive. The
// input's first byte chooses how the rest is packed before it is read:
//   bit 0  a gzip member for each piece that starts at "WARC/"
//   bit 1  one gzip stream for all of it (after bit 0's members)
//   bit 2  one byte of the packed file flipped (at the second byte's place)
//   bit 3  a record limit of 64 bytes, so that records are copied through
//   bit 4  the output gzipped too
//   bit 5  cleaned responses stay response records
//   bit 6  the originals of cleaned records kept too
// Whatever the input, the clean ends with a report and no failure, and its
// output is an archive that the same reader reads back whole: a warcinfo
// record first, every record complete, nothing skipped.
#include <string.h>
#include <string>
#include <zlib.h>
#include "app/options.h"
#include "app/warcrun.h"
#include "clean/warc.h"
#include "fuzz/harness.h"

static std::string Gzip(const std::string &data)
{
    uLong bound = compressBound((uLong)data.size()) + 32;
    std::string out(bound, '\0');
    z_stream z;
    memset(&z, 0, sizeof z);
    deflateInit2(&z, 1, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = (Bytef *)data.data();
    z.avail_in = (uInt)data.size();
    z.next_out = (Bytef *)&out[0];
    z.avail_out = (uInt)out.size();
    deflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

static std::string Pack(const std::string &text, unsigned flags, unsigned char where)
{
    std::string packed = text;
    if (flags & 1) {
        packed.clear();
        size_t at = 0;
        while (at < text.size()) {
            size_t next = text.find("WARC/", at + 1);
            if (next == std::string::npos)
                next = text.size();
            packed += Gzip(text.substr(at, next - at));
            at = next;
        }
    }
    if (flags & 2)
        packed = Gzip(packed);
    if ((flags & 4) && !packed.empty())
        packed[(where * 7919u) % packed.size()] ^= (char)(where | 1);
    return packed;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    unsigned flags = data[0];
    std::string packed = Pack(std::string((const char *)data + 2, size - 2), flags, data[1]);

    WarcOptions o = WarcOptionsFor(SwitchesFromWord(0x13BF), 0x13BF, "fuzz");
    if (flags & 8)
        o.recordLimit = 64;
    o.gzip = (flags & 16) != 0;
    o.asResponse = (flags & 32) != 0;
    o.keepOriginals = (flags & 64) != 0;
    ByteStream in, out;
    StreamOpenMemory(&in, packed.data(), packed.size());
    StreamOpenBuffer(&out);
    WarcReport report;
    Require(CleanWarcStream(&o, &in, &out, &report), "warc: the clean ends without a failure");
    std::string written((const char *)StreamMemoryData(&out), StreamMemorySize(&out));
    StreamClose(&out);
    StreamClose(&in);

    // The output read back: a warcinfo first, then whole records only.
    ByteStream again;
    StreamOpenMemory(&again, written.data(), written.size());
    WarcReader r;
    Require(WarcReaderOpen(&r, &again, (size_t)1 << 30), "warc: the reader opens");
    WarcRecord rec;
    int64_t records = 0;
    while (WarcReadRecord(&r, &rec) == kWarcGot) {
        Require(records > 0 || rec.type == "warcinfo", "warc: the output begins with its warcinfo");
        Require(rec.held && (int64_t)rec.block.size() == rec.length, "warc: every block is whole");
        records++;
    }
    for (int i = 0; i < kWarcSkipCount; i++)
        Require(r.skipped[i] == 0, "warc: the output holds no bad record");
    // (A kept original counts among the records passed.)
    Require(records == 1 + report.cleaned + report.passed,
            "warc: the output holds the warcinfo, the cleaned and the copied records");
    WarcReaderClose(&r);
    StreamClose(&again);
    return 0;
}
