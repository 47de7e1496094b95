// The command line's words: names quoted for a shell, message lines in the
// form "webtrim: PAGE: text: reason", sizes for people, JSON strings.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include "cli/messages.h"
#include "app/json.h"
#include "app/messages.h"
#include "app/result.h"
#include "platform/file.h"

// The bytes a name may hold and still be shown as it is.
static bool IsPlain(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           strchr("%+,-./:=@_", c) != nullptr;
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
        size_t len = p[i] >= 0x80 ? PrintableUtf8Length(p + i, n - i) : 0;
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
        size_t len = p[i] >= 0x80 ? PrintableUtf8Length(p + i, n - i) : (p[i] >= 0x20 && p[i] != 0x7F ? 1 : 0);
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
    char text[kSizeTextMax];
    FormatSize(n, kSizeDecimal, text, sizeof text);
    return text;
}

bool WriteAllTo(int fd, const std::string &text)
{
    return PlatformWriteAll(fd, text.data(), text.size());
}
