#include "app/messages.h"
#include <stdio.h>
#include <string.h>
#include "platform/file.h"
#include "platform/folder.h"

enum { kReasonSize = 256 };     // the system's words for an error

#ifdef _WIN32
#define WEBTRIM_MESSAGE_TEXT(id, name, windows, linux) windows,
#else
#define WEBTRIM_MESSAGE_TEXT(id, name, windows, linux) linux,
#endif
#define WEBTRIM_MESSAGE_NAME(id, name, windows, linux) name,
static const char *const kErrorNames[] = {WEBTRIM_ERRORS(WEBTRIM_MESSAGE_NAME)};
static const char *const kWarningNames[] = {WEBTRIM_WARNINGS(WEBTRIM_MESSAGE_NAME)};
#undef WEBTRIM_MESSAGE_NAME
static const char *const kErrorTexts[] = {WEBTRIM_ERRORS(WEBTRIM_MESSAGE_TEXT)};
static const char *const kWarningTexts[] = {WEBTRIM_WARNINGS(WEBTRIM_MESSAGE_TEXT)};
#undef WEBTRIM_MESSAGE_TEXT
static_assert(sizeof kErrorTexts / sizeof kErrorTexts[0] == kErrorCount, "a text for each error");
static_assert(sizeof kWarningTexts / sizeof kWarningTexts[0] == kWarningCount,
              "a text for each warning");

// Indexed by CleanStatus.
static const ErrorId kCleanStatusErrors[] = {
    kErrCannotWritePage,        // kCleanDone: never reported
    kErrCannotRead,             // kCleanReadFailed
    kErrCannotCreateTemp,       // kCleanTempFailed
    kErrCannotWritePage,        // kCleanWriteFailed
    kErrNoMemory,               // kCleanOverLimit
    kErrNoMemory,               // kCleanNoMemory
};
static_assert(sizeof kCleanStatusErrors / sizeof kCleanStatusErrors[0] == kCleanStatusCount,
              "an error for each status of a clean");

#ifdef _WIN32
const char kOriginalInTrashText[] = "The original is in the Recycle Bin.";
#else
const char kOriginalInTrashText[] = "The original is in the trash.";
#endif
const char kOriginalMovedToText[] = "The original was moved to:\n";

const char *ErrorName(ErrorId id)
{
    return id >= 0 && id < kErrorCount ? kErrorNames[id] : "error";
}

const char *WarningName(WarningId id)
{
    return id >= 0 && id < kWarningCount ? kWarningNames[id] : "warning";
}

const char *MessageName(MessageKind kind, int id)
{
    return kind == kMessageError ? ErrorName((ErrorId)id) : WarningName((WarningId)id);
}

const char *ErrorText(ErrorId id)
{
    return id >= 0 && id < kErrorCount ? kErrorTexts[id] : "Error";
}

const char *WarningText(WarningId id)
{
    return id >= 0 && id < kWarningCount ? kWarningTexts[id] : "Warning";
}

const char *MessageText(MessageKind kind, int id)
{
    return kind == kMessageError ? ErrorText((ErrorId)id) : WarningText((WarningId)id);
}

ErrorId ErrorOfCleanStatus(CleanStatus status)
{
    return status >= 0 && status < kCleanStatusCount ? kCleanStatusErrors[status] : kErrCannotWritePage;
}

// Appends n bytes to out[*at], keeping the text zero-terminated within size.
static void Append(char *out, size_t size, size_t *at, const char *s, size_t n)
{
    if (*at >= size)
        return;
    size_t room = size - 1 - *at;
    if (n > room)
        n = room;
    memcpy(out + *at, s, n);
    *at += n;
    out[*at] = 0;
}

void FormatMessageLine(const char *text, const char *detail, int sysError, char *out, size_t size)
{
    if (!size)
        return;
    out[0] = 0;
    size_t at = 0;
    bool first = true, any = false;
    const char *parts[2] = {text, detail ? detail : ""};
    // The text and detail as one run of lines.
    char line[kFolderPathSize + 512];
    size_t lineLength = 0;
    for (int part = 0; part < 2; part++) {
        for (const char *p = parts[part];; p++) {
            bool end = part == 1 && !*p;
            if (*p && *p != '\n') {
                if (lineLength < sizeof line - 1)
                    line[lineLength++] = *p;
                continue;
            }
            if (!*p && !end)
                break;                  // the text goes on in the detail
            line[lineLength] = 0;
            if (first && sysError) {
                // "Cannot remove the original file: Permission denied."
                bool stop = lineLength > 0 && line[lineLength - 1] == '.';
                if (stop)
                    line[--lineLength] = 0;
                char reason[kReasonSize];
                DescribeSystemError(sysError, reason, sizeof reason);
                lineLength += (size_t)snprintf(line + lineLength, sizeof line - lineLength, ": %s%s",
                                               reason, stop ? "." : "");
                if (lineLength >= sizeof line)
                    lineLength = sizeof line - 1;
            }
            first = false;
            if (lineLength) {
                if (any)
                    Append(out, size, &at, " ", 1);
                Append(out, size, &at, line, lineLength);
                any = true;
            }
            lineLength = 0;
            if (end)
                break;
        }
    }
}
