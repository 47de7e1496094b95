/* A C99 program that uses the library as its users do: built with
 * -std=c99 -Wall -Wextra -Werror against include/webtrim.h, linked with the
 * shared library, the static one, or what pkg-config names. Cleans a page
 * through a sink and into a buffer; exits 0 when both give what they should. */
#include <stdio.h>
#include <string.h>
#include <webtrim.h>

static const char kPage[] =
    "<html><head><script>x</script></head><body><table><td>menu</td></table>"
    "<table><td><p style=\"a\">one two three four five six</td></table></body></html>";

struct Collected {
    char text[4096];
    size_t size;
};

static int Collect(void *context, const void *data, size_t size)
{
    struct Collected *c = context;
    if (c->size + size > sizeof c->text)
        return 1;
    memcpy(c->text + c->size, data, size);
    c->size += size;
    return 0;
}

static int Check(int holds, const char *what)
{
    if (!holds)
        fprintf(stderr, "use_from_c: %s\n", what);
    return holds ? 0 : 1;
}

int main(void)
{
    int failures = 0;
    wt_options options;
    failures += Check(wt_options_init(&options, sizeof options) == WT_OK, "init");
    failures += Check(wt_options_set(&options, "styles", 0) == WT_OK, "set by name");
    options.scripts = true;

    struct Collected c = {{0}, 0};
    wt_result result;
    result.size = sizeof result;
    int status = wt_clean(&options, kPage, sizeof kPage - 1, Collect, &c, &result);
    failures += Check(status == WT_OK && result.status == WT_OK, wt_status_text(status));
    failures += Check(result.bytes_in == (int64_t)(sizeof kPage - 1), "bytes in");
    failures += Check(result.bytes_out == (int64_t)c.size, "bytes out");
    failures += Check(result.outcome == WT_OUTCOME_WRAPPED_CELL, "outcome");
    failures += Check(strstr(c.text, "style=\"a\"") != NULL, "styles kept");
    failures += Check(strstr(c.text, "<script>") == NULL, "scripts removed");

    unsigned char *out;
    size_t size;
    status = wt_clean_to_buffer(&options, kPage, sizeof kPage - 1, &out, &size, NULL);
    failures += Check(status == WT_OK && size == c.size && memcmp(out, c.text, size) == 0,
                      "the buffer holds what the sink got");
    wt_free(out);
    failures += Check(strcmp(wt_version(), WT_VERSION_STRING) == 0, "the header's version");
    return failures ? 1 : 0;
}
