// A small JSON writer: one object or array after another, members and
// elements put in order, the commas put by the writer. Strings are UTF-8
// as they are, with quotes, backslashes and controls escaped, and a byte
// that is no part of valid UTF-8 as \udcXX (as Python's surrogateescape
// reads it back to the same byte). No blanks between the pieces.
//
// Invariant: `first` is true right after an opening bracket (and at the
// start), when the next piece needs no comma before it.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>

struct JsonWriter {
    std::string *out;
    bool first;
};

// Starts writing at the end of *out.
void JsonStart(JsonWriter *w, std::string *out);

// A member's key, or nothing in an array (key null). Each piece below takes
// its key first.
void JsonOpenObject(JsonWriter *w, const char *key);
void JsonCloseObject(JsonWriter *w);
void JsonOpenArray(JsonWriter *w, const char *key);
void JsonCloseArray(JsonWriter *w);
void JsonText(JsonWriter *w, const char *key, const char *text, size_t n);
void JsonText(JsonWriter *w, const char *key, const char *text);
void JsonNumber(JsonWriter *w, const char *key, int64_t n);
// A size or count that may be unknown: null when n is negative.
void JsonNumberOrNull(JsonWriter *w, const char *key, int64_t n);
void JsonBool(JsonWriter *w, const char *key, bool on);
void JsonNull(JsonWriter *w, const char *key);

// The length of the valid UTF-8 sequence of a printable character at p (n
// bytes left): 0 when there is none there, or it is a control of the C1
// range. The JSON strings and the command line's quoting read it.
size_t PrintableUtf8Length(const unsigned char *p, size_t n);
