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

// kSizeDecimalShort: whole numbers, the unit under which the size,
// rounded, is below 1000.
void PutDecimalShort(SizeLine *l, int64_t bytes)
{
    static const char *const kUnits[] = {" kB", " MB", " GB", " TB", " PB", " EB"};
    int64_t unit = 1000;
    int u = 0;
    while (u < 5 && (bytes + unit / 2) / unit >= 1000) {
        unit *= 1000;
        u++;
    }
    int64_t tenths = (bytes + unit / 20) / (unit / 10);
    if (tenths < 1000) {
        PutNumber(l, tenths / 10);
        Put(l, ".");
        PutNumber(l, tenths % 10);
    } else {
        PutNumber(l, (bytes + unit / 2) / unit);
    }
    Put(l, kUnits[u]);
}

// kSizeDecimalTenths: a size that would round up to "1000.0" of a unit is
// given in the next one.
void PutDecimalTenths(SizeLine *l, int64_t bytes)
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

const char *MainPartFoundName(int extraction)
{
    if (extraction < kExtractOff || extraction > kExtractAnyLayoutPart)
        return nullptr;
    if (extraction == kExtractOff)
        return "off";
    return extraction == kExtractNoMainPart || extraction == kExtractOutOfMemory ? "whole" : "cut";
}

const char *RemovalKindName(int kind)
{
    return kind >= 0 && kind < kRemovalKindCount ? kRemovalKinds[kind].name : nullptr;
}

size_t FormatSize(int64_t bytes, SizeStyle style, char *out, size_t size)
{
    SizeLine l = {out, size, 0};
    if (size)
        out[0] = '\0';
    // Under one unit: in bytes. The Windows line has always said "bytes"
    // whatever the number, the short style counts a negative size in bytes.
    int64_t magnitude = bytes < 0 ? -bytes : bytes;
    bool few = style == kSizeDecimalShort ? bytes < 1000
               : style == kSizeDecimalTenths ? magnitude < 1000
                                             : bytes < 1024;
    if (few) {
        bool one = style == kSizeDecimalShort ? bytes == 1 : style == kSizeDecimalTenths && magnitude == 1;
        PutNumber(&l, style == kSizeBinaryWhole ? (int)bytes : bytes);
        Put(&l, one ? " byte" : " bytes");
        return l.length;
    }
    switch (style) {
    case kSizeDecimalShort:
        PutDecimalShort(&l, bytes);
        break;
    case kSizeDecimalTenths:
        PutDecimalTenths(&l, bytes);
        break;
    case kSizeBinaryWhole:
        PutNumber(&l, (int)((bytes + 512) / 1024));
        Put(&l, " KB");
        break;
    }
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
