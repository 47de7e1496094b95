#include "app/result.h"
#include <stdio.h>
#include <string.h>

void StartPageResult(PageResult *r)
{
    memset(r, 0, sizeof *r);
    r->outcome = kPageFailed;
    r->bytesBefore = -1;
    r->bytesAfter = -1;
    r->original = kOriginalStays;
    r->stop.id = -1;
}

namespace {

const char *const kPageOutcomeNames[] = {"cleaned", "already-clean", "refused", "failed"};
static_assert(sizeof kPageOutcomeNames / sizeof *kPageOutcomeNames == kPageFailed + 1,
              "a name for every outcome");
const char *const kPlaceNames[] = {"stays", "trash", "folder"};
static_assert(sizeof kPlaceNames / sizeof *kPlaceNames == kOriginalInFolder + 1, "a name for every place");
const char *const kExtractionNames[] = {
    "off", "no-main-part", "out-of-memory", "bare-cell", "wrapped-cell", "whole-table", "any-layout-part",
};
static_assert(sizeof kExtractionNames / sizeof *kExtractionNames == kExtractAnyLayoutPart + 1,
              "a name for every extraction");

template <size_t N>
const char *NameIn(const char *const (&names)[N], int i)
{
    return i >= 0 && (size_t)i < N ? names[i] : nullptr;
}

// Text appended into a caller's buffer, cut short at its end.
struct SizeLine {
    char *out;
    size_t size;
    size_t length;
};

void Put(SizeLine *l, const char *text)
{
    for (; *text && l->length + 1 < l->size; text++)
        l->out[l->length++] = *text;
    if (l->size)
        l->out[l->length] = '\0';
}

void PutNumber(SizeLine *l, int64_t n)
{
    char digits[kNumberTextMax];
    Put(l, FormatNumber(n, digits));
}

// kSizeDecimal from 1000 bytes on: a size that would round up to "1000.0"
// of a unit is given in the next one.
void PutDecimal(SizeLine *l, int64_t bytes)
{
    static const struct {
        double unit;
        const char *name;
    } kUnits[] = {{1e3, "kB"}, {1e6, "MB"}, {1e9, "GB"}};
    const double kRoundsUp = 999.95;
    int64_t a = bytes < 0 ? -bytes : bytes;
    size_t u = 0;
    while (u + 1 < sizeof kUnits / sizeof kUnits[0] && a >= kRoundsUp * kUnits[u].unit)
        u++;
    char text[kSizeTextMax];
    snprintf(text, sizeof text, "%.1f %s", bytes / kUnits[u].unit, kUnits[u].name);
    Put(l, text);
}

// kSizeExplorer: whole KB rounded up, the thousands grouped by commas.
void PutExplorer(SizeLine *l, int64_t bytes)
{
    int64_t kb = bytes <= 0 ? 0 : (bytes + 1023) / 1024;
    char digits[kNumberTextMax];
    const char *d = FormatNumber(kb, digits);
    size_t n = strlen(d);
    char grouped[kSizeTextMax];
    size_t g = 0;
    for (size_t i = 0; i < n; i++) {
        if (i > 0 && (n - i) % 3 == 0)
            grouped[g++] = ',';
        grouped[g++] = d[i];
    }
    grouped[g] = '\0';
    Put(l, grouped);
    Put(l, " KB");
}

}  // namespace

const char *PageOutcomeName(int outcome)
{
    return NameIn(kPageOutcomeNames, outcome);
}

const char *OriginalPlaceName(int place)
{
    return NameIn(kPlaceNames, place);
}

const char *ExtractionName(int extraction)
{
    return NameIn(kExtractionNames, extraction);
}

const char *RemovalKindName(int kind)
{
    return kind >= 0 && kind < kRemovalKindCount ? kRemovalKinds[kind].name : nullptr;
}

const char kSizeArrow[] = " \xE2\x86\x92 ";

size_t FormatSize(int64_t bytes, SizeStyle style, char *out, size_t size)
{
    SizeLine l = {out, size, 0};
    if (size)
        out[0] = '\0';
    if (style == kSizeExplorer) {
        PutExplorer(&l, bytes);
        return l.length;
    }
    int64_t magnitude = bytes < 0 ? -bytes : bytes;
    if (magnitude < 1000) {
        PutNumber(&l, bytes);
        Put(&l, magnitude == 1 ? " byte" : " bytes");
        return l.length;
    }
    PutDecimal(&l, bytes);
    return l.length;
}

const char *FormatNumber(int64_t n, char (&digits)[kNumberTextMax])
{
    char *p = digits + kNumberTextMax;
    *--p = '\0';
    uint64_t u = n < 0 ? (uint64_t)0 - (uint64_t)n : (uint64_t)n;
    do {
        *--p = (char)('0' + u % 10);
        u /= 10;
    } while (u);
    if (n < 0)
        *--p = '-';
    return p;
}
