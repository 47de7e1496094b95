#include "app/json.h"
#include "app/result.h"
#include <string.h>

namespace {

const char kHex[] = "0123456789abcdef";

void PutEscape(std::string *out, const char *prefix, unsigned char c)
{
    *out += prefix;
    *out += kHex[c >> 4];
    *out += kHex[c & 15];
}

// A string in quotes, escaped.
void PutString(std::string *to, const char *text, size_t n)
{
    std::string &out = *to;
    out += '"';
    const unsigned char *p = (const unsigned char *)text;
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
            i++;
        } else if (c < 0x20 || c == 0x7F) {
            PutEscape(to, "\\u00", c);
            i++;
        } else if (c < 0x80) {
            out += (char)c;
            i++;
        } else {
            size_t len = PrintableUtf8Length(p + i, n - i);
            // C1 controls are valid UTF-8: escaped like the others.
            if (!len && c == 0xC2 && i + 1 < n && p[i + 1] >= 0x80 && p[i + 1] < 0xA0) {
                PutEscape(to, "\\u00", p[i + 1]);
                i += 2;
            } else if (len) {
                out.append(text + i, len);
                i += len;
            } else {
                PutEscape(to, "\\udc", c);
                i++;
            }
        }
    }
    out += '"';
}

// The comma before a piece, then its key.
void Next(JsonWriter *w, const char *key)
{
    if (!w->first)
        *w->out += ',';
    w->first = false;
    if (key) {
        PutString(w->out, key, strlen(key));
        *w->out += ':';
    }
}

}  // namespace

size_t PrintableUtf8Length(const unsigned char *p, size_t n)
{
    unsigned char c = p[0];
    size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (c >= 0xF5 || len == 0 || len > n)
        return 0;
    for (size_t i = 1; i < len; i++)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    uint32_t cp = len == 2 ? (uint32_t)(c & 0x1F) : len == 3 ? (uint32_t)(c & 0x0F) : (uint32_t)(c & 0x07);
    for (size_t i = 1; i < len; i++)
        cp = (cp << 6) | (p[i] & 0x3F);
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    if (cp >= 0x80 && cp < 0xA0)
        return 0;
    return len;
}

void JsonStart(JsonWriter *w, std::string *out)
{
    w->out = out;
    w->first = true;
}

void JsonOpenObject(JsonWriter *w, const char *key)
{
    Next(w, key);
    *w->out += '{';
    w->first = true;
}

void JsonCloseObject(JsonWriter *w)
{
    *w->out += '}';
    w->first = false;
}

void JsonOpenArray(JsonWriter *w, const char *key)
{
    Next(w, key);
    *w->out += '[';
    w->first = true;
}

void JsonCloseArray(JsonWriter *w)
{
    *w->out += ']';
    w->first = false;
}

void JsonText(JsonWriter *w, const char *key, const char *text, size_t n)
{
    Next(w, key);
    PutString(w->out, text, n);
}

void JsonText(JsonWriter *w, const char *key, const char *text)
{
    JsonText(w, key, text, strlen(text));
}

void JsonNumber(JsonWriter *w, const char *key, int64_t n)
{
    Next(w, key);
    char digits[kNumberTextMax];
    w->out->append(FormatNumber(n, digits));
}

void JsonNumberOrNull(JsonWriter *w, const char *key, int64_t n)
{
    if (n < 0)
        JsonNull(w, key);
    else
        JsonNumber(w, key, n);
}

void JsonBool(JsonWriter *w, const char *key, bool on)
{
    Next(w, key);
    *w->out += on ? "true" : "false";
}

void JsonNull(JsonWriter *w, const char *key)
{
    Next(w, key);
    *w->out += "null";
}
