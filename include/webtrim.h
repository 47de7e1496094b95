/* The Webtrim library: cleans saved web pages from memory to memory.
 *
 * A clean takes the bytes of one page and writes the cleaned page through a
 * sink of the caller's (wt_clean) or into a buffer that the library grows
 * and the caller frees with wt_free (wt_clean_to_buffer). It touches no
 * file, keeps no state between calls and may run on any number of threads
 * at once. The options are those of the webtrim program, with the same
 * names and defaults.
 *
 *     wt_options options;
 *     wt_options_init(&options, sizeof options);
 *     wt_options_set(&options, "pictures", 1);     (or: options.pictures = 1)
 *     unsigned char *clean;
 *     size_t clean_size;
 *     int status = wt_clean_to_buffer(&options, page, page_size, &clean, &clean_size, NULL);
 *     if (status != WT_OK)
 *         fprintf(stderr, "%s\n", wt_status_text(status));
 *     ...
 *     wt_free(clean);
 *
 * The records wt_options and wt_result begin with their own size, which the
 * caller sets (sizeof): a later version adds fields at their ends only, so a
 * program built against this header keeps working with later libraries, and
 * one built against a later header gets WT_ERR_RECORD from this one only if
 * it sets fields this one does not know.
 *
 * C99; link with -lwebtrim (pkg-config webtrim). */
#ifndef WEBTRIM_H
#define WEBTRIM_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__) && defined(WEBTRIM_BUILDING)
#define WT_API __attribute__((visibility("default")))
#else
#define WT_API
#endif

/* The version of this header; wt_version() gives the library's. */
#define WT_VERSION_MAJOR 2
#define WT_VERSION_MINOR 4
#define WT_VERSION_PATCH 1
#define WT_VERSION_STRING "2.4.1"

/* What a call answers. Codes are only ever added at the end. */
typedef enum wt_status {
    WT_OK = 0,
    WT_ERR_ARGUMENT = 1,        /* a pointer missing where one is needed */
    WT_ERR_RECORD = 2,          /* a record's size this library cannot take */
    WT_ERR_OPTION = 3,          /* no option has that name */
    WT_ERR_NO_MEMORY = 4,       /* no memory for the cleaned page */
    WT_ERR_MEMORY_LIMIT = 5,    /* the page between two stages would pass memory_limit */
    WT_ERR_WRITE = 6,           /* the sink refused the cleaned page */
    WT_ERR_NOT_ARCHIVE = 7      /* a single-file page (MHTML) that is not well-formed */
} wt_status;

/* The status's message ("Cannot write the cleaned page"), and its stable
 * name for programs ("write"). Never NULL: an unknown code has a text too. */
WT_API const char *wt_status_text(int status);
WT_API const char *wt_status_name(int status);

/* The options of a clean: what the program's switches of the same names do
 * (webtrim --help). wt_options_init fills the program's defaults. */
typedef struct wt_options {
    size_t size;                /* sizeof (wt_options): set by wt_options_init */
    /* The kinds of element removed (true) or kept (false). */
    bool comments;              /* comments */
    bool scripts;               /* SCRIPT elements */
    bool styles;                /* STYLE elements, style sheets and style attributes */
    bool forms;                 /* FORM elements outside tables */
    bool internet;              /* whatever loads from the Internet */
    bool meta;                  /* META tags */
    bool pictures;              /* IMG tags */
    bool modules;               /* OBJECT, EMBED and APPLET elements */
    bool frames;                /* frames */
    /* The main part. */
    bool extract;               /* cut the page down to its main part */
    bool cut_tables;            /* remove the tables inside the main part */
    bool extract_first;         /* look for it in the page as given, not after the removals */
    bool any_layout;            /* in any layout (DIV, ARTICLE...), not among table cells only */
    bool avoid_bad_colors;      /* drop the page's own colours (its BODY tag's attributes) */
    /* A ceiling in bytes, 0 for none, on each of the two things a clean
     * holds besides the page and its output: the outline the extraction
     * makes (past it the extraction leaves the page whole: outcome
     * WT_OUTCOME_OUT_OF_MEMORY) and the page held between two stages (past
     * it the clean fails with WT_ERR_MEMORY_LIMIT). */
    size_t memory_limit;
    /* wt_clean_file: the files of the page's companion folder (NAME_files
     * beside NAME.htm) that the cleaned page no longer reaches go with the
     * original. Both calls: a single-file page (MHTML) leaves out the parts
     * that only removed elements named. Added in 2.5. */
    bool companion_files;
} wt_options;

/* Fills the first `size` bytes of *options with the defaults (size: the
 * caller's sizeof (wt_options)). WT_ERR_RECORD when size is too small. */
WT_API int wt_options_init(wt_options *options, size_t size);

/* Options by the program's names: the element kinds of --remove and --keep
 * ("comments", "scripts", ..., "frames", and "all" for every kind) and the
 * switches "extract", "cut-tables", "extract-first", "any-layout" and
 * "avoid-bad-colors" ('_' may stand for '-'). WT_ERR_OPTION for another
 * name. wt_options_get answers 1 or 0, or -1 for an unknown name. */
WT_API int wt_options_set(wt_options *options, const char *name, int on);
WT_API int wt_options_get(const wt_options *options, const char *name);
/* The names wt_options_set takes, from 0 on ("all" aside); NULL past the last. */
WT_API const char *wt_option_name(int index);

/* What the extraction did. */
typedef enum wt_outcome {
    WT_OUTCOME_OFF = 0,             /* extract is off */
    WT_OUTCOME_NO_MAIN_PART = 1,    /* none found: the page left whole */
    WT_OUTCOME_OUT_OF_MEMORY = 2,   /* the outline passed memory_limit: the page left whole */
    WT_OUTCOME_BARE_CELL = 3,       /* a table cell of the body, standing bare */
    WT_OUTCOME_WRAPPED_CELL = 4,    /* a table cell, in a table of its own */
    WT_OUTCOME_WHOLE_TABLE = 5,     /* the table that holds the main cells */
    WT_OUTCOME_ANY_LAYOUT_PART = 6  /* any layout: the element chosen, less its cuts */
} wt_outcome;
/* Its stable name ("whole-table"); NULL for an unknown code. */
WT_API const char *wt_outcome_name(int outcome);

/* The kinds of removal counted, by number. Kinds are only ever added at the
 * end; WT_REMOVAL_SLOTS leaves room for them in wt_result. */
enum {
    WT_REMOVED_COMMENTS = 0,
    WT_REMOVED_STYLES,
    WT_REMOVED_SCRIPTS,
    WT_REMOVED_FORMS,
    WT_REMOVED_FRAMES,
    WT_REMOVED_META,
    WT_REMOVED_MODULES,
    WT_REMOVED_PICTURES,
    WT_REMOVED_BASE,
    WT_REMOVED_LINKS,
    WT_REMOVED_BODY_ATTRIBUTES,
    WT_REMOVED_STYLE_ATTRIBUTES,
    WT_REMOVED_URL_REFERENCES,
    WT_REMOVED_BACKGROUNDS,
    WT_REMOVED_HANDLERS,
    WT_REMOVED_SCRIPT_URLS,
    WT_REMOVED_NETWORK_ATTRIBUTES,
    WT_REMOVED_CSS_REFERENCES,
    WT_REMOVED_NETWORK_ELEMENTS,    /* loaded from the network, their own kind kept */
    WT_REMOVAL_SLOTS = 32
};
/* A kind's stable name ("style-attributes"), as webtrim --verbose shows it;
 * NULL past the last kind this library counts. */
WT_API const char *wt_removal_name(int kind);

/* What a clean did. */
typedef struct wt_result {
    size_t size;                /* sizeof (wt_result): set by the caller */
    int status;                 /* wt_status, as the call answered */
    int outcome;                /* wt_outcome */
    int64_t bytes_in;           /* the page's size */
    int64_t bytes_out;          /* the cleaned page's size */
    /* What each stage took out: its input's size less its output's (the
     * extraction's can be negative on a small page: it adds fixed tags). */
    int64_t removed_by_elements;
    int64_t removed_by_extraction;
    int64_t removed_by_attributes;
    /* How many of each kind went, and how many bytes went with them. */
    int64_t removals[WT_REMOVAL_SLOTS];
    int64_t removal_bytes[WT_REMOVAL_SLOTS];
    /* The main part that the rule for any layout chose (outcome
     * WT_OUTCOME_ANY_LAYOUT_PART): its bytes [part_start, part_end) and its
     * element's name ("DIV", "BODY" for the whole body). The offsets are in
     * the page the extraction read: the page given when extract_first is
     * on, else the page after the removals. -1 and NULL otherwise. */
    int64_t part_start;
    int64_t part_end;
    const char *part_tag;
} wt_result;

/* Takes each piece of the cleaned page in order; answers 0 to go on, any
 * other value to refuse it, which fails the clean with WT_ERR_WRITE (no
 * later piece comes). */
typedef int (*wt_sink)(void *context, const void *data, size_t size);

/* Cleans the `size` bytes at `page` and hands the cleaned page to `sink`
 * in pieces as it is made. A single-file page (MHTML: MIME
 * multipart/related, known by its first bytes) has its root HTML part
 * cleaned and every other byte kept; one that is not well-formed is not
 * cleaned (WT_ERR_NOT_ARCHIVE). options: NULL for the defaults. result: NULL,
 * or a record whose size the caller set, filled in on return whatever the
 * status. Answers WT_OK or an error status. */
WT_API int wt_clean(const wt_options *options, const void *page, size_t size, wt_sink sink,
                    void *context, wt_result *result);

/* The same into a buffer that the library allocates: *out and *out_size
 * are the cleaned page (the caller frees it with wt_free), or NULL and 0
 * after an error. */
WT_API int wt_clean_to_buffer(const wt_options *options, const void *page, size_t size,
                              unsigned char **out, size_t *out_size, wt_result *result);
WT_API void wt_free(void *buffer);

/* ---- Cleaning a page in place, as the webtrim program does.
 *
 * wt_clean_file takes a page's path and does what `webtrim PAGE` does: the
 * same checks (a web page's name; no UTF-16, UTF-32 or binary file; not in
 * a trash), the same safety (the page's folder held open, the cleaned page
 * written beside it with the page's owner, mode and ACL and synced before
 * the original moves, never anything replaced, a page changed meanwhile left
 * alone), and a page that cleaning would not change left untouched. The
 * original goes to the desktop trash, or into a folder under the first free
 * name (NAME, ~1_NAME, ... ~998_NAME; to the trash when the folder is
 * full; a folder that does not exist fails the page, message_name
 * "folder-missing", and nothing moves). It installs no signal handlers: a
 * process killed while the original is away may leave the cleaned page, or
 * the original it swapped out, under a hidden name ".wtXXXXXX" beside the
 * page, never half of either, and the page's path always holds a whole
 * page; the next clean of that page puts such an original into the trash. */

/* What became of the page. */
typedef enum wt_page {
    WT_PAGE_CLEANED = 0,        /* the cleaned page stands at its path */
    WT_PAGE_ALREADY_CLEAN = 1,  /* cleaning would change nothing: nothing was written or moved */
    WT_PAGE_REFUSED = 2,        /* not a page to clean (its name, its bytes, a trash) */
    WT_PAGE_FAILED = 3          /* an error stopped it; `message` says which */
} wt_page;

/* Where the original is. */
typedef enum wt_original {
    WT_ORIGINAL_STAYS = 0,      /* where it was */
    WT_ORIGINAL_IN_TRASH = 1,
    WT_ORIGINAL_IN_FOLDER = 2
} wt_original;

/* The warnings of a clean in place, as bits of wt_file_result.warnings. */
enum {
    WT_WARN_FOLDER_MISSING = 1 << 1,    /* no longer given: a missing move_to fails the page */
    WT_WARN_NAME_TOO_LONG = 1 << 2,     /* the name would be too long there: to the trash */
    WT_WARN_CANNOT_MOVE = 1 << 3        /* the move failed, or no name was free: to the trash */
};

enum { WT_PATH_SIZE = 4160, WT_MESSAGE_SIZE = 8192 };

typedef struct wt_file_result {
    size_t size;                /* sizeof (wt_file_result): set by the caller */
    int page;                   /* wt_page */
    int original;               /* wt_original */
    unsigned warnings;          /* WT_WARN_ bits */
    int error;                  /* the system's error number behind a failure, 0 when none */
    /* What stopped the page (refused, failed), as the program's message
     * says it ("Cannot open this file: No such file or directory"), and its
     * stable name ("cannot-open"); "" when nothing did. */
    char message[WT_MESSAGE_SIZE];
    char message_name[32];
    char page_path[WT_PATH_SIZE];       /* the page as cleaned (a link's target), absolute */
    char original_path[WT_PATH_SIZE];   /* where the original is now, when known */
    char saved_as[WT_PATH_SIZE];        /* a cleaned page that could not take the page's path */
    wt_result clean;            /* the clean's figures (its size is the library's) */
    /* Added in 2.5: the page's companion folder (options->companion_files).
     * companion_outcome: "none", "trimmed", "base-elsewhere", "unresolved",
     * "unreadable" (wt_companion_name); the files that went, and their bytes
     * (a single-file page's parts left out among them). */
    int companion_outcome;
    int64_t companion_files;
    int64_t companion_bytes;
} wt_file_result;

/* Cleans the page at `path` in place. move_to: NULL (or "") for the trash,
 * else the folder originals go to. options: NULL for the defaults. result:
 * required, its size set. Answers WT_OK when the page came to an outcome
 * (result->page: one refused or failed is no error of the call), or an
 * error status of the call itself (WT_ERR_ARGUMENT, WT_ERR_RECORD). */
WT_API int wt_clean_file(const wt_options *options, const char *path, const char *move_to,
                         wt_file_result *result);
/* The stable names of the outcomes, places and warnings ("already-clean";
 * "trash" for WT_ORIGINAL_IN_TRASH; "folder-missing" for
 * WT_WARN_FOLDER_MISSING); NULL for an unknown one. */
WT_API const char *wt_page_name(int page);
WT_API const char *wt_original_name(int original);
WT_API const char *wt_warning_name(unsigned warning);
/* The stable name of a companion_outcome ("trimmed"); NULL for an unknown one. */
WT_API const char *wt_companion_name(int outcome);

/* Whether `webtrim PAGE` would refuse a page of these bytes for what its
 * first 512 bytes are: NULL when it may be cleaned; else the message's
 * stable name, "not-text" (UTF-16 or UTF-32) or "not-a-web-page" (a known
 * binary format: PDF, ZIP, a picture, a program), with the program's words
 * for it in `message` (at most message_size bytes with the NUL; message may
 * be NULL). wt_clean itself cleans any bytes it is given. */
WT_API const char *wt_page_refusal(const void *page, size_t size, char *message, size_t message_size);

/* ---- Web archives (WARC 1.0 and 1.1; plain, a gzip member per record, or
 * one gzip stream), as `webtrim --warc` cleans them: every HTML page of a
 * response or resource record becomes a conversion record, every other
 * record is copied byte for byte, and a bad record is skipped (or copied)
 * and counted by its reason, never stopping the file. These calls are in
 * the shared library (Linux) only: the static one, which a C program links
 * alone, leaves them out. */

/* The reasons, in the order of wt_warc_report.skipped: "truncated",
 * "bad-length", "bad-header", "bad-gzip", "bad-chunked", "undecodable",
 * "too-large"; NULL past the last. */
enum { WT_WARC_REASONS = 7 };
WT_API const char *wt_warc_reason_name(int reason);

typedef struct wt_warc_report {
    size_t size;                /* sizeof (wt_warc_report): set by the caller */
    int64_t records;            /* good records read */
    int64_t cleaned;            /* pages written as conversion records */
    int64_t passed;             /* records copied as they were */
    int64_t skipped[8];         /* by reason (WT_WARC_REASONS of them used) */
    int64_t bytes_in;           /* the input file's bytes */
    int64_t bytes_out;          /* the output file's */
    int64_t page_bytes_in;      /* the cleaned pages, before */
    int64_t page_bytes_out;     /* and after */
    int error;                  /* the system's error behind a failure, 0 when none */
    /* "" when the archive was cleaned, else "cannot-read", "cannot-write"
     * or "same-as-input" (nothing was written). */
    char message_name[32];
} wt_warc_report;

/* Flags of wt_warc_clean_file. */
enum {
    WT_WARC_KEEP_ORIGINALS = 1, /* write each cleaned record's original before it */
    WT_WARC_RESPONSE = 2        /* a cleaned response stays a response record (--warc-response) */
};
/* A flag of wt_warc_clean_file: the gzip level of a .gz output, 0 to 9
 * (--warc-level); without it, 6. */
#define WT_WARC_LEVEL(n) ((unsigned)((n) + 1) << 8)

/* Cleans the archive at `input` into a new file that takes the name
 * `output` once whole (replacing a file there; one gzip member per record
 * when the name ends in ".gz"). record_limit: the largest record held in
 * memory, 0 for the default (32 MB); larger ones are copied through.
 * Answers WT_OK when the archive came to an outcome (report->message_name
 * says whether it failed), or WT_ERR_ARGUMENT, WT_ERR_RECORD. */
WT_API int wt_warc_clean_file(const wt_options *options, const char *input, const char *output,
                              unsigned flags, size_t record_limit, wt_warc_report *report);

/* Reading an archive's records one after the other. */
typedef struct wt_warc_reader wt_warc_reader;
typedef struct wt_warc_record {
    size_t size;                /* sizeof (wt_warc_record): set by the caller */
    int version;                /* 10 or 11 */
    /* The header's fields ("" when absent); valid until the next call. */
    const char *type, *id, *target_uri, *date, *content_type;
    int64_t length;             /* Content-Length */
    const unsigned char *head;  /* the header as read, up to its blank line */
    size_t head_size;
    /* The block, or NULL when it passes the record limit (it is read past). */
    const unsigned char *block;
    size_t block_size;
} wt_warc_record;

/* Opens the archive at `path` (record_limit as above); NULL with *error
 * set (the system's error) when it cannot. */
WT_API wt_warc_reader *wt_warc_open(const char *path, size_t record_limit, int *error);
/* The next good record: 1, or 0 after the last, or -1 on a read error or
 * a bad argument. Bad records are skipped and counted. */
WT_API int wt_warc_next(wt_warc_reader *reader, wt_warc_record *record);
/* The records skipped so far, by reason (WT_WARC_REASONS counts). */
WT_API void wt_warc_skipped(const wt_warc_reader *reader, int64_t counts[WT_WARC_REASONS]);
WT_API void wt_warc_close(wt_warc_reader *reader);

/* The library's version, "2.4.1". */
WT_API const char *wt_version(void);

#ifdef __cplusplus
}
#endif

#endif /* WEBTRIM_H */
