// The command line's words: names quoted for a shell, message lines, sizes
// for people, whole writes.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>

// Room for one message line or one problem of the settings store: more
// than a path and a text can take.
enum { kMessageLineSize = 8192 };

// A name as the messages show it: as it is when it holds only bytes that
// need no quoting, else in the quotes and escapes a shell reads back (as
// coreutils quotes file names): 'a b', 'it'\''s', 'a'$'\n''b'.
std::string QuoteName(const std::string &name);

// "webtrim: NAME: text" for a text of the run, its lines joined and the
// system's reason after the first; no NAME part when `name` is empty.
std::string MessageLine(const std::string &name, const char *text, const char *detail, int sysError,
                        bool quoteName = true);

// A byte count for people: "812 bytes", "41.2 kB", "18.0 MB"
// (FormatSize's kSizeDecimal, app/result.h).
std::string SizeText(int64_t n);

// Writes all of `text` to the descriptor; false with errno on failure.
bool WriteAllTo(int fd, const std::string &text);
