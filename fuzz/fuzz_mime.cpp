// Fuzz target: the MIME reader and the clean of a single-file page. The
// input, after its options word, is read as a document; when the reader
// understands it, its root part lies inside it, the clean keeps every byte
// before and after the root part's body as it was (under the companion-files
// switch less whole parts, never the root), and the cleaned body
// decodes to what the same clean of the decoded page writes. Every input
// is also decoded (at once and a byte at a time, the same) and encoded again
// both ways, and must decode back to the same page, and the decoded view
// reads what the decoder writes.
#include <string.h>
#include "clean/clean.h"
#include "clean/mime.h"
#include "fuzz/harness.h"

static std::string Decoded(MimeEncoding e, const std::string &body, MimeLayout *layout)
{
    ByteStream in, out;
    StreamOpenMemory(&in, body.data(), body.size());
    StreamOpenBuffer(&out);
    MimeDecode(e, &in, (int64_t)body.size(), &out, layout);
    std::string s((const char *)StreamMemoryData(&out), StreamMemorySize(&out));
    StreamClose(&out);
    return s;
}

static std::string Encoded(const MimeLayout *layout, const std::string &page)
{
    ByteStream in, out;
    StreamOpenMemory(&in, page.data(), page.size());
    StreamOpenBuffer(&out);
    MimeEncode(layout, &in, &out);
    std::string s((const char *)StreamMemoryData(&out), StreamMemorySize(&out));
    StreamClose(&out);
    return s;
}

// The same a byte at a time, where no quick path of the decoder runs.
static std::string DecodedBytewise(MimeEncoding e, const std::string &body)
{
    std::string s;
    unsigned char out[3];
    MimeDecoder d;
    MimeLayout layout;
    MimeStartDecoder(&d, e, &layout);
    for (size_t i = 0; i < body.size(); i++)
        s.append((const char *)out, MimeDecodeStretch(&d, (const unsigned char *)body.data() + i, 1, out, &layout));
    return s.append((const char *)out, MimeDecodeEnd(&d, out));
}

// A view's watch: appends what it is told, in order (an offset out of
// order makes the text differ).
static void WatchInto(void *context, int64_t offset, const unsigned char *p, size_t n)
{
    std::string *s = (std::string *)context;
    if (offset != (int64_t)s->size())
        s->append("<gap>");
    s->append((const char *)p, n);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint32_t options = OptionsOf(data, size);
    std::string doc = PageOf(data, size);

    for (MimeEncoding e : {kMimeQuotedPrintable, kMimeBase64}) {
        MimeLayout layout;
        std::string page = Decoded(e, doc, &layout);
        Require(DecodedBytewise(e, doc) == page, "mime: decoded the same a byte at a time");
        MimeLayout again;
        Require(Decoded(e, Encoded(&layout, page), &again) == page,
                "mime: an encoded page decodes to the page");
        // The view, read from a place the input picks, then from its start.
        ByteStream in, *view = new ByteStream;
        StreamOpenMemory(&in, doc.data(), doc.size());
        MimeLayout viewLayout;
        MimeView *v = MimeOpenView(view, &in, 0, (int64_t)doc.size(), e, &viewLayout);
        std::string watched;
        MimeWatchView(v, WatchInto, &watched);
        if (options & 1)    // held whole: a buffer of the body's size must do
            Require(MimeHoldView(v, doc.size()), "mime: a body the view may hold is held");
        size_t from = page.empty() ? 0 : (options >> 8) % page.size();
        std::string tail, whole;
        StreamSeek(view, (int64_t)from);
        for (int c; (c = StreamGet(view)) >= 0;)
            tail += (char)c;
        StreamRewind(view);
        for (int c; (c = StreamGet(view)) >= 0;)
            whole += (char)c;
        Require(MimeFinishView(v) && whole == page && tail == page.substr(from) &&
                    viewLayout.crlf == layout.crlf && viewLayout.lineLength == layout.lineLength,
                "mime: the view reads what the decoder writes");
        Require(watched == page, "mime: the view's watch is told each decoded byte once, in order");
        StreamClose(view);
        delete view;
        MimeCloseView(v);
    }

    MimeDocument d;
    ByteStream in;
    StreamOpenMemory(&in, doc.data(), doc.size());
    MimeStatus status = ReadMimeDocument(&in, &d);
    if (status == kMimeOk) {
        Require(d.rootStart >= 0 && d.rootStart <= d.rootEnd && d.rootEnd <= (int64_t)doc.size(),
                "mime: the root part lies inside the document");
        // Without the companion-files switch every byte outside the root
        // part's body is kept; with it, whole parts may go, nothing else.
        CleanSwitches sw = SwitchesFromWord(options);
        bool leaveOut = sw.companionFiles;
        sw.companionFiles = false;
        std::string cleaned[2];
        CleanReport report[2];
        for (int k = 0; k < (leaveOut ? 2 : 1); k++) {
            sw.companionFiles = k == 1;
            ByteStream out;
            StreamOpenBuffer(&out);
            CleanStatus cs = CleanArchiveBytes(&sw, &d, doc.data(), doc.size(), &out, kNoMemoryLimit, &report[k]);
            Require(cs == kCleanDone, "mime: the clean of an understood document is done");
            cleaned[k].assign((const char *)StreamMemoryData(&out), StreamMemorySize(&out));
            StreamClose(&out);
        }
        size_t head = (size_t)d.rootStart, tail = doc.size() - (size_t)d.rootEnd;
        Require(cleaned[0].size() >= head + tail && cleaned[0].compare(0, head, doc, 0, head) == 0 &&
                    cleaned[0].compare(cleaned[0].size() - tail, tail, doc, (size_t)d.rootEnd, tail) == 0,
                "mime: every byte outside the root part's body is kept");
        Require(report[0].partsLeftOut == 0, "mime: no part goes without the switch");
        if (leaveOut)
            Require(report[1].partsLeftOut < (int64_t)d.parts &&
                        (int64_t)cleaned[1].size() == (int64_t)cleaned[0].size() - report[1].partBytesLeftOut,
                    "mime: the switch leaves out whole parts, the root never");
    }
    FreeMimeDocument(&d);
    return 0;
}
