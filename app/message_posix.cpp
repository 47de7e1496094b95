// Messages of the Linux command line: one line on standard error per
// message, "webtrim: PAGE: text", in this platform's own wording, with the
// system's reason where the failure has one.
#include <string.h>
#include <unistd.h>
#include <mutex>
#include "app/cli_posix.h"
#include "app/report.h"

int MessageLevel = kLevelNormal;
thread_local PageContext *CurrentPage;
bool ReportToStderr;

// The texts by id. An id past the end of a table (one added since) takes
// the portable text, with this platform's name for the trash.
static const char *const kLinuxErrorTexts[] = {
    "Cannot open this file",
    "Cannot create a temporary file",
    "Cannot read this file",
    "Cannot write the cleaned page",
    "Cannot remove the original file.\nThe page was not changed.",
    "Cannot replace the original file.\nThe cleaned page was saved as:\n",
};

static const char *const kLinuxWarningTexts[] = {
    "The file is not permissible.\nOnly *.htm, *.html, *.plg files are allowable.",
    "The chosen folder does not exist; the original goes to the trash.",
    "The file name is too long for the chosen folder; the original goes to the trash.",
    "Cannot move the original into the chosen folder; it goes to the trash.",
};

enum {
    kLinuxErrorCount = sizeof kLinuxErrorTexts / sizeof kLinuxErrorTexts[0],
    kLinuxWarningCount = sizeof kLinuxWarningTexts / sizeof kLinuxWarningTexts[0],
};

static std::string PortableText(const char *text)
{
    std::string s = text;
    static const char kWindowsTrash[] = "Recycle Bin";
    for (size_t at; (at = s.find(kWindowsTrash)) != std::string::npos;)
        s.replace(at, sizeof kWindowsTrash - 1, "trash");
    return s;
}

static std::string TextOf(MessageKind kind, int id)
{
    if (kind == kMessageError) {
        if (id >= 0 && id < kLinuxErrorCount)
            return kLinuxErrorTexts[id];
        return id >= 0 && id < kErrorCount ? PortableText(kErrorTexts[id]) : "Error";
    }
    if (id >= 0 && id < kLinuxWarningCount)
        return kLinuxWarningTexts[id];
    return id >= 0 && id < kWarningCount ? PortableText(kWarningTexts[id]) : "Warning";
}

std::string FormatMessageText(const char *text, const char *detail, int sysError)
{
    std::string all = text;
    if (detail)
        all += detail;
    std::string out;
    size_t start = 0;
    bool first = true;
    while (start <= all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos)
            end = all.size();
        std::string line = all.substr(start, end - start);
        if (first && sysError) {
            // "Cannot remove the original file: Permission denied."
            bool stop = !line.empty() && line.back() == '.';
            if (stop)
                line.pop_back();
            char buf[256];
            line += ": ";
            line += strerror_r(sysError, buf, sizeof buf);
            if (stop)
                line += '.';
        }
        if (!line.empty()) {
            if (!out.empty())
                out += ' ';
            out += line;
        }
        first = false;
        start = end + 1;
    }
    return out;
}

// One write per message, so that lines of pages cleaned at once stay whole.
static void WriteLine(const std::string &body)
{
    std::string line = "webtrim: ";
    if (CurrentPage) {
        line += CurrentPage->name;
        line += ": ";
    }
    line += body;
    line += '\n';
    const char *p = line.data();
    size_t n = line.size();
    while (n) {
        ssize_t w = write(2, p, n);
        if (w <= 0)
            break;
        p += w;
        n -= (size_t)w;
    }
}

void ShowMessage(MessageKind kind, int id, const char *detail, int sysError)
{
    // A page refused for its name stops like an error does.
    bool stops = kind == kMessageError || id == kWarnNotPermissible;
    if (CurrentPage) {
        if (stops)
            CurrentPage->stops++;
        if (kind == kMessageWarning && (id == kWarnFolderMissing || id == kWarnNameTooLong ||
                                        id == kWarnCannotMove))
            CurrentPage->originalToTrash = true;
    }
    if (!stops && MessageLevel == kLevelQuiet)
        return;
    WriteLine(FormatMessageText(TextOf(kind, id).c_str(), detail, sysError));
}

void CommandLineError(const char *text, int sysError)
{
    if (CurrentPage)
        CurrentPage->stops++;
    WriteLine(FormatMessageText(text, 0, sysError));
}

void CommandLineWarning(const char *text)
{
    if (MessageLevel != kLevelQuiet)
        WriteLine(FormatMessageText(text, 0, 0));
}

void WriteReport(const std::string &block)
{
    static std::mutex lock;
    std::lock_guard<std::mutex> hold(lock);
    FILE *to = ReportToStderr ? stderr : stdout;
    fwrite(block.data(), 1, block.size(), to);
    fflush(to);
}

void NotifyRunStarted()
{
}
