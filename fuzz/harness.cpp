#include "app/options.h"
#include "fuzz/harness.h"
#include <stdio.h>
#include <stdlib.h>
#include <ctype.h>
#include <string.h>
#include "clean/clean.h"
#include "clean/passes.h"

static const char kWrapperStart[] = "<table cellpadding=6><tr>";
static const char kWrapperEnd[] = "</table>";
static const char kPageEnd[] = "</body></html>";
static const char kBodyText[] = "<BODY>";
enum { kTagLimit = 4096 };

void ExtractionStage(const CleanSwitches *sw, ByteStream *input, ByteStream *output)
{
    ExtractMainPart(sw, input, output, kNoMemoryLimit);
}

bool ExtractionView(const std::string &page, uint32_t options, std::string *part, std::string *tail)
{
    ByteStream in;
    StreamOpenMemory(&in, page.data(), page.size());
    CleanSwitches sw = SwitchesFromWord(options);
    ExtractOutcome outcome;
    MainPartView *view = OpenMainPartView(&sw, &in, kNoMemoryLimit, &outcome);
    if (!view)
        return false;
    ByteStream *s = MainPartViewStream(view);
    part->clear();
    const unsigned char *p;
    size_t n;
    while ((n = StreamPeek(s, &p)) > 0) {
        part->append((const char *)p, n);
        StreamSkip(s, n);
    }
    const char *t = MainPartViewTail(view);
    tail->assign(t ? t : "");
    CloseMainPartView(view);
    return true;
}

void WholeClean(const CleanSwitches *sw, ByteStream *input, ByteStream *output)
{
    Require(CleanStream(sw, input, output, nullptr) == kCleanDone, "the clean reports no failure");
}

uint32_t OptionsOf(const uint8_t *data, size_t size)
{
    uint32_t options = size > 0 ? data[0] : 0;
    if (size > 1)
        options |= (uint32_t)data[1] << 8;
    return options;
}

std::string PageOf(const uint8_t *data, size_t size)
{
    return size > 2 ? std::string((const char *)data + 2, size - 2) : std::string();
}

void Require(bool holds, const char *what)
{
    if (holds)
        return;
    fprintf(stderr, "property violated: %s\n", what);
    abort();
}

// ---------------------------------------------------------------------------
// Stages over memory streams

std::string RunStage(StageProc stage, const std::string &input, uint32_t options)
{
    ByteStream in, out;
    StreamOpenMemory(&in, input.data(), input.size());
    StreamOpenBuffer(&out);
    CleanSwitches sw = SwitchesFromWord(options);
    stage(&sw, &in, &out);
    Require(!StreamWriteFailed(&out), "the output took every write");
    Require(!StreamReadFailed(&in), "the input gave every read");
    std::string result;
    if (StreamMemorySize(&out) > 0)
        result.assign((const char *)StreamMemoryData(&out), StreamMemorySize(&out));
    StreamClose(&out);
    return result;
}

std::string RunCleanBytes(const std::string &input, uint32_t options)
{
    ByteStream out;
    StreamOpenBuffer(&out);
    CleanSwitches sw = SwitchesFromWord(options);
    CleanReport r;
    Require(CleanBytes(&sw, input.data(), input.size(), &out, kNoMemoryLimit, &r) == kCleanDone,
            "the clean from memory reports no failure");
    // Each byte removed counts once: under its kind, or as the main part's.
    int64_t elements = 0, attributes = 0;
    for (int k = 0; k < kRemovalKindCount; k++)
        (IsElementKind(k) ? elements : attributes) += r.removals.bytes[k];
    Require(elements == r.removed[kStageElements] && attributes == r.removed[kStageAttributes] &&
                elements + attributes + r.removed[kStageExtraction] == r.bytesIn - r.bytesOut,
            "the kinds and the main part add up to what the clean took out");
    std::string result;
    if (StreamMemorySize(&out) > 0)
        result.assign((const char *)StreamMemoryData(&out), StreamMemorySize(&out));
    StreamClose(&out);
    return result;
}

namespace {
struct Trickle {
    const std::string *page;
    size_t piece;
};
}  // namespace

static long ReadTrickle(void *context, unsigned char *buf, size_t n, int64_t offset)
{
    const Trickle *t = (const Trickle *)context;
    size_t size = t->page->size();
    if ((uint64_t)offset >= size)
        return 0;
    size_t k = size - (size_t)offset;
    if (k > n)
        k = n;
    if (k > t->piece)
        k = t->piece;
    memcpy(buf, t->page->data() + offset, k);
    return (long)k;
}

std::string RunStageTrickled(StageProc stage, const std::string &input, uint32_t options,
                             size_t piece)
{
    Trickle t = {&input, piece};
    ByteStream in, out;
    StreamOpenReader(&in, ReadTrickle, &t);
    StreamOpenBuffer(&out);
    CleanSwitches sw = SwitchesFromWord(options);
    stage(&sw, &in, &out);
    Require(!StreamWriteFailed(&out) && !StreamReadFailed(&in), "trickled streams");
    std::string result;
    if (StreamMemorySize(&out) > 0)
        result.assign((const char *)StreamMemoryData(&out), StreamMemorySize(&out));
    StreamClose(&out);
    return result;
}

// ---------------------------------------------------------------------------
// Properties

std::string FoldUpper(const std::string &s)
{
    std::string r(s);
    for (char &c : r)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 32);
    return r;
}

bool IsSubsequence(const std::string &part, const std::string &whole)
{
    size_t j = 0;
    for (size_t i = 0; i < part.size(); i++, j++) {
        while (j < whole.size() && whole[j] != part[i])
            j++;
        if (j == whole.size())
            return false;
    }
    return true;
}

size_t CountOf(const std::string &text, const std::string &needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size()))
        n++;
    return n;
}

struct ByteCounts {
    size_t n[256];
};

static void Count(ByteCounts *c, const std::string &s, size_t times = 1)
{
    for (unsigned char b : s)
        c->n[b] += times;
}

// Whether the page ends inside a tag: a '<' after its last '>'.
static bool EndsInsideATag(const std::string &page)
{
    size_t lt = page.rfind('<');
    return lt != std::string::npos && (page.rfind('>') == std::string::npos || page.rfind('>') < lt);
}

void CheckElementOutput(const std::string &input, const std::string &output)
{
    // A BODY tag unfinished at the end is rewritten as if its '>' followed:
    // the one byte the pass may add.
    std::string checked = output;
    size_t bl = sizeof kBodyText - 1;
    if (EndsInsideATag(input) && checked.size() >= bl &&
        checked.compare(checked.size() - bl, bl, kBodyText) == 0)
        checked.pop_back();
    Require(IsSubsequence(FoldUpper(checked), FoldUpper(input)),
            "element removal: output folded is a subsequence of the input folded");
    // Every "<BODY>" the pass wrote stands whole in the output, so counting
    // the texts found there counts at least those.
    ByteCounts have = {}, wrote = {};
    Count(&have, input);
    Count(&have, kBodyText, CountOf(output, kBodyText));
    Count(&wrote, output);
    for (int b = 0; b < 256; b++)
        Require(wrote.n[b] <= have.n[b], "element removal: no byte value made up");
}

// The extraction's output less "</body></html>" with its wrapper: the input
// up to some k, the wrapper, then input bytes after k in order, "</table>".
static bool IsWrappedPart(const std::string &input, const std::string &rest)
{
    size_t wl = sizeof kWrapperStart - 1, el = sizeof kWrapperEnd - 1;
    if (rest.size() < wl + el || rest.compare(rest.size() - el, el, kWrapperEnd) != 0)
        return false;
    std::string body = rest.substr(0, rest.size() - el);
    size_t same = 0;
    while (same < body.size() && same < input.size() && body[same] == input[same])
        same++;
    for (size_t k = body.find(kWrapperStart); k != std::string::npos && k <= same;
         k = body.find(kWrapperStart, k + 1)) {
        if (IsSubsequence(body.substr(k + wl), input.substr(k)))
            return true;
    }
    return false;
}

void CheckExtractionOutput(const std::string &input, const std::string &output)
{
    if (output == input)
        return;
    // The closing tags follow a part only where they close it on the next
    // clean; a part the page never closed ends where the page ends.
    size_t pl = sizeof kPageEnd - 1;
    std::string rest = output;
    if (output.size() >= pl && output.compare(output.size() - pl, pl, kPageEnd) == 0)
        rest.resize(output.size() - pl);
    Require(IsSubsequence(rest, input) || IsWrappedPart(input, rest) ||
                IsWrappedPart(input, rest + kWrapperEnd),
            "extraction: the input's own ranges in order, plus the fixed tags");
}

void CheckChainCounts(const std::string &input, const std::string &output)
{
    ByteCounts have = {}, wrote = {};
    Count(&have, FoldUpper(input));
    Count(&have, FoldUpper(kWrapperStart));
    Count(&have, FoldUpper(kWrapperEnd));
    Count(&have, FoldUpper(kPageEnd));
    if (EndsInsideATag(input))
        Count(&have, kBodyText);    // an unfinished BODY tag at the end
    Count(&wrote, FoldUpper(output));
    for (int b = 0; b < 256; b++)
        Require(wrote.n[b] <= have.n[b], "chain: no byte value made up");
}

// ---------------------------------------------------------------------------
// Models with every switch off

static unsigned char Upper(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? (unsigned char)(c - 32) : c;
}

static bool SameIgnoringCase(const std::string &s, size_t at, const char *token)
{
    size_t n = strlen(token);
    if (at + n > s.size())
        return false;
    for (size_t i = 0; i < n; i++)
        if (Upper((unsigned char)s[at + i]) != (unsigned char)token[i])
            return false;
    return true;
}

// An attribute value read as a browser reads an address, written apart from
// the cleaning's own reader: character references decoded in one sweep
// (numbers, and the names that can change the answer), then leading bytes
// up to 0x20 dropped, tab, LF and CR taken out and letters folded. Whether
// it names another host or one of the network schemes.
static bool NetworkValue(const std::string &value)
{
    static const struct {
        const char *name;
        char c;
        bool legacy;
    } kNames[] = {{"Tab", '\t', false},  {"NewLine", '\n', false}, {"colon", ':', false},
                  {"sol", '/', false},   {"bsol", '\\', false},    {"amp", '&', true},
                  {"AMP", '&', true},    {"lt", '<', true},        {"LT", '<', true},
                  {"gt", '>', true},     {"GT", '>', true},        {"quot", '"', true},
                  {"QUOT", '"', true}};
    std::string v;      // decoded; 0x80 stands for any character outside ASCII
    for (size_t i = 0; i < value.size();) {
        if (value[i] != '&') {
            v += value[i++];
            continue;
        }
        size_t j = i + 1;
        if (j < value.size() && value[j] == '#') {
            bool hex = j + 1 < value.size() && (value[j + 1] | 0x20) == 'x';
            size_t k = j + 1 + hex;
            unsigned long n = 0;
            size_t digits = 0;
            while (k < value.size() && (hex ? isxdigit((unsigned char)value[k]) : isdigit((unsigned char)value[k]))) {
                n = n * (hex ? 16 : 10) + (unsigned long)(isdigit((unsigned char)value[k]) ? value[k] - '0' : (value[k] | 0x20) - 'a' + 10);
                if (n > 0x110000)
                    n = 0x110000;
                k++, digits++;
            }
            if (!digits) {
                v += value[i++];
                continue;
            }
            if (k < value.size() && value[k] == ';')
                k++;
            v += n == 0 || n >= 0x80 ? (char)0x80 : (char)n;
            i = k;
            continue;
        }
        size_t k = j;
        while (k < value.size() && isalnum((unsigned char)value[k]))
            k++;
        std::string name = value.substr(j, k - j);
        bool semi = k < value.size() && value[k] == ';';
        bool done = false;
        for (const auto &r : kNames) {
            if (name == r.name && (semi || (r.legacy && !(k < value.size() && value[k] == '=')))) {
                v += r.c;
                i = k + semi;
                done = true;
                break;
            }
        }
        if (!done)
            v += value[i++];
    }
    size_t s = 0;
    while (s < v.size() && (unsigned char)v[s] <= 0x20)
        s++;
    std::string u;
    for (size_t i = s; i < v.size(); i++)
        if (v[i] != '\t' && v[i] != '\n' && v[i] != '\r')
            u += (char)(v[i] >= 'A' && v[i] <= 'Z' ? v[i] + 32 : v[i]);
    if (u.size() >= 2 && (u[0] == '/' || u[0] == '\\') && (u[1] == '/' || u[1] == '\\'))
        return true;
    for (const char *scheme : {"http:", "https:", "ftp:", "ws:", "wss:"})
        if (u.compare(0, strlen(scheme), scheme) == 0)
            return true;
    return false;
}

static bool IsBlankByte(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// A whole tag, '<' to '>': does its first SRC lead, through blanks, one
// '=' and blanks, to a value (quoted: up to its quote; bare: up to a blank)
// that is a network address?
static bool SrcIsRemote(const std::string &tag)
{
    size_t p = std::string::npos;
    if (tag.size() >= 6) {
        for (size_t i = 0; i + 3 <= tag.size(); i++)
            if (SameIgnoringCase(tag, i, "SRC")) {
                p = i + 3;
                break;
            }
    }
    if (p == std::string::npos)
        return false;
    size_t last = tag.size() - 1;       // the '>'
    while (p < last && IsBlankByte((unsigned char)tag[p]))
        p++;
    if (p >= last || tag[p] != '=')
        return false;
    p++;
    while (p < last && IsBlankByte((unsigned char)tag[p]))
        p++;
    size_t e = p;
    if (p < last && (tag[p] == '"' || tag[p] == '\'')) {
        e = tag.find(tag[p], p + 1);
        if (e == std::string::npos || e > last)
            e = last;
        return NetworkValue(tag.substr(p + 1, e - p - 1));
    }
    while (e < last && !IsBlankByte((unsigned char)tag[e]))
        e++;
    return NetworkValue(tag.substr(p, e - p));
}

std::string ElementsAllOff(const std::string &in)
{
    static const char kName[] = "FRAME ";
    std::string out;
    size_t n = in.size(), i = 0;
    for (;;) {
        // Copying: up to the next '<'.
        size_t lt = in.find('<', i);
        if (lt == std::string::npos) {
            out.append(in, i, std::string::npos);
            return out;
        }
        out.append(in, i, lt - i);
        // The name: "FRAME " or the byte that breaks it, which goes out
        // with the tag's start and is not looked at again.
        size_t j = lt + 1, k = 0;
        while (j < n && k < 6 && Upper((unsigned char)in[j]) == (unsigned char)kName[k])
            j++, k++;
        if (k < 6) {
            // A name cut off by the end would be ended by a '>': kept.
            if (j == n) {
                out.append(in, lt, std::string::npos);
                return out;
            }
            out.append(in, lt, j - lt + 1);
            i = j + 1;
            continue;
        }
        size_t gt = in.find('>', j);
        if (gt == std::string::npos && n - lt < kTagLimit) {
            // Unfinished at the end: judged as if its '>' followed, which
            // at the 4096th byte leaves it unexamined.
            std::string tag = in.substr(lt) + ">";
            if (tag.size() == kTagLimit || !SrcIsRemote(tag))
                out.append(in, lt, std::string::npos);
            return out;
        }
        if (gt == std::string::npos || gt - lt + 1 >= kTagLimit) {
            out.append(in, lt, kTagLimit);
            i = lt + kTagLimit;
            continue;
        }
        if (!SrcIsRemote(in.substr(lt, gt - lt + 1))) {
            out.append(in, lt, gt - lt + 1);
            i = gt + 1;
            continue;
        }
        // After the deleted tag: a blank, a CR, or a CR and a line feed or
        // blank are dropped. Copying goes on from there, where a '<' begins
        // the next tag just as it would straight after the deletion.
        i = gt + 1;
        if (i < n && in[i] == '\r') {
            i++;
            if (i < n && (in[i] == '\n' || in[i] == ' '))
                i++;
        } else if (i < n && in[i] == ' ') {
            i++;
        }
    }
}

std::string StageTally(bool elements, const std::string &input, uint32_t options)
{
    ByteStream in, out;
    StreamOpenMemory(&in, input.data(), input.size());
    StreamOpenBuffer(&out);
    CleanSwitches sw = SwitchesFromWord(options);
    RemovalTally t = {};
    if (elements)
        ElementRemovalPass(&sw, &in, &out, &t);
    else
        AttributePass(&sw, &in, &out, &t);
    std::string result;
    if (StreamMemorySize(&out) > 0)
        result.assign((const char *)StreamMemoryData(&out), StreamMemorySize(&out));
    StreamClose(&out);
    int64_t bytes = 0;
    for (int k = 0; k < kRemovalKindCount; k++) {
        bytes += t.bytes[k];
        Require(t.count[k] >= 0, "tally: no negative count");
    }
    Require(bytes == (int64_t)input.size() - (int64_t)result.size(),
            "tally: the kinds' bytes add up to what the pass took out");
    return result;
}
