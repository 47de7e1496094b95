// The command line's words: names quoted for a shell, message lines in the
// form "webtrim: PAGE: text: reason", sizes for people, JSON strings.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include "cli/messages.h"
#include "app/messages.h"

// The bytes a name may hold and still be shown as it is.
static bool IsPlain(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           strchr("%+,-./:=@_", c) != nullptr;
}

// The length of the valid UTF-8 sequence of a printable character at p
// (0 when there is none, or it is a control of the C1 range).
static size_t Utf8Length(const unsigned char *p, size_t n)
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

std::string QuoteName(const std::string &name)
{
    const unsigned char *p = (const unsigned char *)name.data();
    size_t n = name.size();
    bool plain = n > 0 && name[0] != '~' && name[0] != '#' && name[0] != '-';
    bool controls = false;
    for (size_t i = 0; i < n;) {
        if (IsPlain(p[i])) {
            i++;
            continue;
        }
        size_t len = p[i] >= 0x80 ? Utf8Length(p + i, n - i) : 0;
        if (len) {
            i += len;           // a letter of another script: shown as it is
            continue;
        }
        plain = false;
        if (p[i] < 0x20 || p[i] == 0x7F || p[i] >= 0x80)
            controls = true;
        i++;
    }
    if (plain)
        return name;
    // A quote among printable bytes only: in double quotes, when nothing in
    // it means something there.
    if (!controls && name.find('\'') != std::string::npos && name.find_first_of("\"$`\\!") == std::string::npos)
        return '"' + name + '"';
    // Printable runs go in single quotes (a quote as '\''), other bytes as
    // $'\n' or $'\ooo' between them.
    std::string out;
    bool inQuotes = false;
    for (size_t i = 0; i < n;) {
        size_t len = p[i] >= 0x80 ? Utf8Length(p + i, n - i) : (p[i] >= 0x20 && p[i] != 0x7F ? 1 : 0);
        if (len && p[i] != '\'') {
            if (!inQuotes)
                out += '\'';
            inQuotes = true;
            out.append(name, i, len);
            i += len;
            continue;
        }
        if (inQuotes)
            out += '\'';
        inQuotes = false;
        if (p[i] == '\'') {
            out += "\\'";
        } else {
            static const char kNamed[] = "\a\b\t\n\v\f\r";
            static const char kLetters[] = "abtnvfr";
            const char *k = p[i] ? strchr(kNamed, p[i]) : nullptr;
            char esc[8];
            if (k)
                snprintf(esc, sizeof esc, "\\%c", kLetters[k - kNamed]);
            else
                snprintf(esc, sizeof esc, "\\%03o", p[i]);
            out += "$'";
            out += esc;
            out += '\'';
        }
        i++;
    }
    if (inQuotes)
        out += '\'';
    return out;
}

std::string MessageLine(const std::string &name, const char *text, const char *detail, int sysError,
                        bool quoteName)
{
    char line[kMessageLineSize];
    FormatMessageLine(text, detail, sysError, line, sizeof line);
    std::string s = "webtrim: ";
    if (!name.empty())
        s += (quoteName ? QuoteName(name) : name) + ": ";
    s += line;
    s += '\n';
    return s;
}

std::string SizeText(int64_t n)
{
    // Decimal units, one decimal: a size that would round up to "1000.0"
    // of a unit is given in the next one.
    static const struct {
        double unit;
        const char *name;
    } kUnits[] = {{1e3, "kB"}, {1e6, "MB"}, {1e9, "GB"}};
    const double kRoundsUp = 999.95;
    char buf[64];
    int64_t a = n < 0 ? -n : n;
    if (a < kUnits[0].unit) {
        snprintf(buf, sizeof buf, "%lld %s", (long long)n, a == 1 ? "byte" : "bytes");
        return buf;
    }
    size_t u = 0;
    while (u + 1 < sizeof kUnits / sizeof kUnits[0] && a >= kRoundsUp * kUnits[u].unit)
        u++;
    snprintf(buf, sizeof buf, "%.1f %s", n / kUnits[u].unit, kUnits[u].name);
    return buf;
}

std::string JsonString(const std::string &s)
{
    std::string out = "\"";
    const unsigned char *p = (const unsigned char *)s.data();
    size_t n = s.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        char esc[16];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
            i++;
        } else if (c < 0x20 || c == 0x7F) {
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
            i++;
        } else if (c < 0x80) {
            out += (char)c;
            i++;
        } else {
            size_t len = Utf8Length(p + i, n - i);
            // C1 controls are valid UTF-8: escaped like the others.
            if (!len && c == 0xC2 && i + 1 < n && p[i + 1] >= 0x80 && p[i + 1] < 0xA0) {
                snprintf(esc, sizeof esc, "\\u%04x", p[i + 1]);
                out += esc;
                i += 2;
            } else if (len) {
                out.append(s, i, len);
                i += len;
            } else {
                snprintf(esc, sizeof esc, "\\udc%02x", c);
                out += esc;
                i++;
            }
        }
    }
    out += '"';
    return out;
}

bool WriteAllTo(int fd, const std::string &text)
{
    const char *p = text.data();
    size_t n = text.size();
    while (n) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            if (w == 0)
                errno = EIO;
            return false;
        }
        p += w;
        n -= (size_t)w;
    }
    return true;
}
