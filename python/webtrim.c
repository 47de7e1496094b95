/* The Python module `webtrim`: cleans saved web pages from memory to memory
 * through the library's C interface (webtrim.h), one call per page.
 *
 *     import webtrim
 *     cleaned = webtrim.clean(page, remove="pictures", any_layout=True)
 *     result = webtrim.clean_result(page)       # the page and the figures
 *
 * A C extension rather than ctypes: it reads the caller's bytes (or any
 * buffer) in place and builds the result with one copy, parses its options
 * without a round of Python calls per page, and releases the interpreter's
 * lock for exactly the clean, so that threads clean pages at once.
 *
 * Options apply over the program's defaults in this order: `remove`, then
 * `keep` (names of element kinds, as a list or a comma-separated string, as
 * webtrim --remove and --keep take them), then the named switches. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <errno.h>
#include <structmember.h>
#include <string.h>
#include "webtrim.h"

static PyObject *WebtrimError;          /* webtrim.Error */
static PyObject *ErrorClasses;          /* dict: OSError subclass -> webtrim.Error that is one */
static PyObject *Module;                /* webtrim, which names those classes too */
static PyTypeObject *ResultType;        /* webtrim.Result */

/* webtrim.Error(text) with .code and .name: the library's status. */
static PyObject *RaiseStatus(int status, const char *detail)
{
    PyObject *text = detail ? PyUnicode_FromFormat("%s: %s", wt_status_text(status), detail)
                            : PyUnicode_FromString(wt_status_text(status));
    if (!text)
        return NULL;
    PyObject *error = PyObject_CallOneArg(WebtrimError, text);
    Py_DECREF(text);
    if (!error)
        return NULL;
    PyObject *code = PyLong_FromLong(status);
    PyObject *name = PyUnicode_FromString(wt_status_name(status));
    if (code && name && PyObject_SetAttrString(error, "code", code) == 0 &&
        PyObject_SetAttrString(error, "name", name) == 0)
        PyErr_SetObject(WebtrimError, error);
    Py_XDECREF(code);
    Py_XDECREF(name);
    Py_DECREF(error);
    return NULL;
}

/* The webtrim.Error that is also the OSError subclass Python gives for
 * `sysError` (FileNotFoundError for ENOENT, PermissionError for EACCES, or
 * OSError itself): made once per subclass, as webtrim.FileNotFoundError and
 * so on (made for every errno as the module starts, so that an error pickled
 * in one process, a Dask worker's, is read back in another). A borrowed
 * reference. */
static PyObject *ErrorClassFor(int sysError)
{
    PyObject *probe = PyObject_CallFunction(PyExc_OSError, "is", sysError, "");
    if (!probe)
        return NULL;
    PyObject *kind = (PyObject *)Py_TYPE(probe);
    PyObject *cls = PyDict_GetItemWithError(ErrorClasses, kind);
    if (!cls && !PyErr_Occurred()) {
        char name[128];
        PyOS_snprintf(name, sizeof name, "webtrim.%s", ((PyTypeObject *)kind)->tp_name);
        PyObject *bases = PyTuple_Pack(2, WebtrimError, kind);
        PyObject *made = bases ? PyErr_NewException(name, bases, NULL) : NULL;
        if (made && PyDict_SetItem(ErrorClasses, kind, made) == 0 &&
            PyModule_AddObjectRef(Module, ((PyTypeObject *)kind)->tp_name, made) == 0)
            cls = made;
        Py_XDECREF(made);
        Py_XDECREF(bases);
    }
    Py_DECREF(probe);
    return cls;
}

/* Raises webtrim.Error for a page or an archive that could not be done:
 * its text after the path (when there is one), with .name (the message's
 * stable name, as --json gives it), .errno (0 when the system gave no
 * error), .outcome and .path. With a system error it is also the OSError
 * for it (so `except FileNotFoundError` takes it), with .filename the
 * path and .strerror the system's words. */
static PyObject *RaiseError(const char *message, const char *name, int sysError, PyObject *path,
                            const char *outcome)
{
    if (!path)
        path = Py_None;
    PyObject *text = path != Py_None ? PyUnicode_FromFormat("%S: %s", path, message)
                                     : PyUnicode_FromString(message);
    PyObject *error = NULL;
    if (text && sysError) {
        PyObject *cls = ErrorClassFor(sysError);
        error = cls ? PyObject_CallFunction(cls, "isO", sysError, strerror(sysError), path) : NULL;
    } else if (text) {
        error = PyObject_CallOneArg(WebtrimError, text);
    }
    if (error) {
        PyObject *values[] = {Py_XNewRef(text), PyUnicode_FromString(name), PyLong_FromLong(sysError),
                              outcome ? PyUnicode_FromString(outcome) : Py_NewRef(Py_None), Py_NewRef(path)};
        const char *names[] = {"message", "name", "errno", "outcome", "path"};
        int ok = 1;
        for (int i = 0; i < 5; i++) {
            if (!values[i] || PyObject_SetAttrString(error, names[i], values[i]) < 0)
                ok = 0;
            Py_XDECREF(values[i]);
        }
        if (ok)
            PyErr_SetObject((PyObject *)Py_TYPE(error), error);
        Py_DECREF(error);
    }
    Py_XDECREF(text);
    return NULL;
}

/* webtrim.Error's str(): the text it was raised with (an OSError's own
 * would give "[Errno 2] ..." and the path again). */
static PyObject *ErrorText(PyObject *unused, PyObject *self)
{
    (void)unused;
    PyObject *text = PyObject_GetAttrString(self, "message");
    if (text && PyUnicode_Check(text))
        return text;
    Py_XDECREF(text);
    PyErr_Clear();
    return ((PyTypeObject *)PyExc_BaseException)->tp_str(self);
}
static PyMethodDef kErrorTextDef = {"__str__", ErrorText, METH_O, NULL};

static int SetOption(wt_options *options, PyObject *name, int on)
{
    const char *text = PyUnicode_AsUTF8(name);
    if (!text)
        return -1;
    if (wt_options_set(options, text, on) != WT_OK) {
        PyObject *repr = PyObject_Repr(name);
        const char *shown = repr ? PyUnicode_AsUTF8(repr) : NULL;
        if (shown)
            RaiseStatus(WT_ERR_OPTION, shown);
        Py_XDECREF(repr);
        return -1;
    }
    return 0;
}

/* Sets the kinds named in `list` (a str of comma-separated names, or an
 * iterable of names) on or off. */
static int SetKinds(wt_options *options, PyObject *list, int on)
{
    if (!list || list == Py_None)
        return 0;
    PyObject *names;
    if (PyUnicode_Check(list)) {
        PyObject *comma = PyUnicode_FromString(",");
        names = comma ? PyUnicode_Split(list, comma, -1) : NULL;
        Py_XDECREF(comma);
    } else {
        names = PySequence_List(list);
    }
    if (!names)
        return -1;
    int rc = 0;
    Py_ssize_t n = PyList_GET_SIZE(names);
    for (Py_ssize_t i = 0; i < n && rc == 0; i++) {
        PyObject *name = PyList_GET_ITEM(names, i);
        if (!PyUnicode_Check(name)) {
            PyErr_SetString(PyExc_TypeError, "an element kind is named by a str");
            rc = -1;
        } else {
            rc = SetOption(options, name, on);
        }
    }
    Py_DECREF(names);
    return rc;
}

/* ---- A call's arguments: its own (the page, a path, memory_limit, ...)
 * and the options. The options are keywords: `remove` and `keep` (kinds by
 * name), then one keyword per option, True or False (None: the default),
 * by the names of webtrim.DEFAULTS: the kinds ("pictures") and the switches
 * with '_' for '-' ("any_layout"). */

enum {
    kArgMemoryLimit, kArgForce, kArgMoveTo, kArgKeepOriginals, kArgResponse, kArgRecordLimit, kArgLevel, kArgCount
};
static const char *const kArgNames[kArgCount] = {
    "memory_limit", "force", "move_to", "keep_originals", "response", "record_limit", "level",
};
#define ARG(a) (1u << (a))

/* The keyword of option `name` ("any-layout" -> "any_layout"), in `out`. */
static void KeywordOf(const char *name, char *out, size_t size)
{
    size_t i = 0;
    for (; name[i] && i + 1 < size; i++)
        out[i] = name[i] == '-' ? '_' : name[i];
    out[i] = '\0';
}

static int IsOptionKeyword(const char *key)
{
    char keyword[64];
    for (int i = 0; wt_option_name(i); i++) {
        KeywordOf(wt_option_name(i), keyword, sizeof keyword);
        if (strcmp(key, keyword) == 0)
            return 1;
    }
    return 0;
}

/* A switch's value: 1 or 0 into *on and 1 for True or False, 0 for None
 * (the default stays), -1 with TypeError for anything else. */
static int TakeBool(PyObject *value, const char *keyword, int *on)
{
    if (!value || value == Py_None)
        return 0;
    if (!PyBool_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s takes True or False, not %.100s", keyword, Py_TYPE(value)->tp_name);
        return -1;
    }
    *on = value == Py_True;
    return 1;
}

/* A number of bytes (absent: 0): 0, or -1 with the error set. */
static int TakeSize(PyObject *value, const char *keyword, const char *zero, size_t *size)
{
    *size = 0;
    if (!value)
        return 0;
    if (PyBool_Check(value) || !PyIndex_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s is a number of bytes, not %.100s", keyword, Py_TYPE(value)->tp_name);
        return -1;
    }
    Py_ssize_t n = PyNumber_AsSsize_t(value, PyExc_OverflowError);
    if (n == -1 && PyErr_Occurred())
        return -1;
    if (n < 0) {
        PyErr_Format(PyExc_ValueError, "%s is a number of bytes, 0 for %s", keyword, zero);
        return -1;
    }
    *size = (size_t)n;
    return 0;
}

/* A gzip level, 0 to 9, into *level (absent or None: -1, the default): 0,
 * or -1 with the error set. */
static int TakeLevel(PyObject *value, int *level)
{
    *level = -1;
    if (!value || value == Py_None)
        return 0;
    if (PyBool_Check(value) || !PyLong_Check(value)) {
        PyErr_Format(PyExc_TypeError, "level is a number from 0 to 9, not %.100s", Py_TYPE(value)->tp_name);
        return -1;
    }
    long n = PyLong_AsLong(value);
    if (n == -1 && PyErr_Occurred())
        return -1;
    if (n < 0 || n > 9) {
        PyErr_SetString(PyExc_ValueError, "level is a number from 0 to 9 (None: 6)");
        return -1;
    }
    *level = (int)n;
    return 0;
}

/* The first `count` parameters of function `fn`, by position or by
 * keyword, as new references in `out` (NULL for one not given; the first
 * `required` must be). Answers the other keywords (a new dict), or NULL
 * with TypeError set. */
static PyObject *TakeParameters(const char *fn, PyObject *args, PyObject *kwargs, const char *const *names,
                                int count, int required, PyObject **out)
{
    for (int i = 0; i < count; i++)
        out[i] = NULL;
    Py_ssize_t given = PyTuple_GET_SIZE(args);
    if (given > count) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %d positional argument%s (%zd given)", fn, count,
                     count == 1 ? "" : "s", given);
        return NULL;
    }
    PyObject *rest = kwargs ? PyDict_Copy(kwargs) : PyDict_New();
    for (int i = 0; rest && i < count; i++) {
        PyObject *named = PyDict_GetItemString(rest, names[i]);
        if (named && i < given) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", fn, names[i]);
        } else if (!named && i >= given && i < required) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %d)", fn, names[i], i + 1);
        } else {
            out[i] = i < given ? Py_NewRef(PyTuple_GET_ITEM(args, i)) : Py_XNewRef(named);
            if (!named || PyDict_DelItemString(rest, names[i]) == 0)
                continue;
        }
        Py_CLEAR(rest);
    }
    if (!rest)
        for (int i = 0; i < count; i++)
            Py_CLEAR(out[i]);
    return rest;
}

/* The options of a call from its keywords `kw` (the parameters taken
 * out): the defaults, then `remove`, `keep` and the options given. The
 * call's own keywords (the ARG() bits of `takes`) go to `own` as borrowed
 * references (NULL when not given); another keyword is a TypeError. */
static int ParseOptions(const char *fn, PyObject *kw, unsigned takes, wt_options *options, PyObject **own)
{
    wt_options_init(options, sizeof *options);
    for (int a = 0; a < kArgCount; a++)
        own[a] = NULL;
    if (SetKinds(options, PyDict_GetItemString(kw, "remove"), 1) < 0 ||
        SetKinds(options, PyDict_GetItemString(kw, "keep"), 0) < 0)
        return -1;
    PyObject *key, *value;
    Py_ssize_t at = 0;
    while (PyDict_Next(kw, &at, &key, &value)) {
        const char *k = PyUnicode_Check(key) ? PyUnicode_AsUTF8(key) : NULL;
        if (!k) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", fn);
            return -1;
        }
        if (strcmp(k, "remove") == 0 || strcmp(k, "keep") == 0)
            continue;
        int a = 0;
        while (a < kArgCount && strcmp(k, kArgNames[a]) != 0)
            a++;
        if (a < kArgCount && (takes & ARG(a))) {
            own[a] = value;
            continue;
        }
        if (!IsOptionKeyword(k)) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%s'", fn, k);
            return -1;
        }
        int on = 0, given = TakeBool(value, k, &on);
        if (given < 0 || (given && SetOption(options, key, on) < 0))
            return -1;
    }
    return 0;
}

/* The page of clean() and clean_result() and their options. */
struct PageCall {
    wt_options options;
    Py_buffer page;
    int force;
};

/* Reads the arguments of clean() and clean_result(); 0, or -1 with the
 * error set (and no buffer held). */
static int ParsePageCall(const char *fn, PyObject *args, PyObject *kwargs, struct PageCall *call)
{
    static const char *const names[] = {"data"};
    PyObject *data, *own[kArgCount];
    PyObject *kw = TakeParameters(fn, args, kwargs, names, 1, 1, &data);
    if (!kw)
        return -1;
    int rc = ParseOptions(fn, kw, ARG(kArgMemoryLimit) | ARG(kArgForce), &call->options, own);
    call->force = 0;
    if (rc == 0 && (TakeBool(own[kArgForce], "force", &call->force) < 0 ||
                    TakeSize(own[kArgMemoryLimit], "memory_limit", "none", &call->options.memory_limit) < 0))
        rc = -1;
    if (rc == 0)
        rc = PyObject_GetBuffer(data, &call->page, PyBUF_SIMPLE);
    Py_DECREF(kw);
    Py_DECREF(data);
    return rc;
}

/* The cleaned page as it comes, held in one buffer that never grows past
 * the memory limit: a cleaned page larger than the limit stops the clean. */
struct Held {
    unsigned char *data;
    size_t size, capacity, limit;
    int over;                   /* the page passed the limit */
};

static int HoldBytes(void *context, const void *data, size_t n)
{
    struct Held *h = context;
    if (n > h->limit - h->size) {
        h->over = 1;
        return -1;
    }
    if (h->size + n > h->capacity) {
        size_t capacity = h->capacity ? h->capacity * 2 : 1 << 16;
        if (capacity < h->size + n)
            capacity = h->size + n;
        if (capacity > h->limit)
            capacity = h->limit;
        unsigned char *grown = PyMem_RawRealloc(h->data, capacity);
        if (!grown)
            return -1;
        h->data = grown;
        h->capacity = capacity;
    }
    memcpy(h->data + h->size, data, n);
    h->size += n;
    return 0;
}

/* Cleans with the interpreter's lock released: the cleaned page as bytes,
 * or NULL with an exception set; *unchanged: whether it is the page's own
 * bytes. Unless forced, refuses first what the program refuses for its
 * bytes (UTF-16 or UTF-32, a binary format). With a memory limit, the
 * cleaned page counts too: it is held in a buffer of at most the limit,
 * and a page that would pass it is an error (memory-limit). Releases the
 * page's buffer. */
static PyObject *CleanPage(struct PageCall *call, wt_result *result, int *unchanged)
{
    const wt_options *options = &call->options;
    Py_buffer *page = &call->page;
    char refusal[512];
    const char *refused = call->force ? NULL : wt_page_refusal(page->buf, (size_t)page->len, refusal, sizeof refusal);
    if (refused) {
        PyBuffer_Release(page);
        return RaiseError(refusal, refused, 0, NULL, wt_page_name(WT_PAGE_REFUSED));
    }
    unsigned char *out = NULL;
    size_t outSize = 0;
    int status;
    struct Held held = {NULL, 0, 0, options->memory_limit, 0};
    result->size = sizeof *result;
    Py_BEGIN_ALLOW_THREADS
    if (options->memory_limit)
        status = wt_clean(options, page->buf, (size_t)page->len, HoldBytes, &held, result);
    else
        status = wt_clean_to_buffer(options, page->buf, (size_t)page->len, &out, &outSize, result);
    Py_END_ALLOW_THREADS
    if (options->memory_limit) {
        out = held.data;
        outSize = held.size;
        if (held.over)
            status = WT_ERR_MEMORY_LIMIT;
        else if (status == WT_ERR_WRITE)
            status = WT_ERR_NO_MEMORY;
    }
    *unchanged = status == WT_OK && outSize == (size_t)page->len && (!outSize || memcmp(out, page->buf, outSize) == 0);
    PyBuffer_Release(page);
    PyObject *cleaned = status == WT_OK ? PyBytes_FromStringAndSize((const char *)out, (Py_ssize_t)outSize)
                                        : RaiseStatus(status, held.over ? "the cleaned page" : NULL);
    if (options->memory_limit)
        PyMem_RawFree(out);
    else
        wt_free(out);
    return cleaned;
}

static PyObject *Clean(PyObject *self, PyObject *args, PyObject *kwargs)
{
    (void)self;
    struct PageCall call;
    wt_result result;
    int unchanged;
    if (ParsePageCall("clean", args, kwargs, &call) < 0)
        return NULL;
    return CleanPage(&call, &result, &unchanged);
}

/* A dict of kind name to figure, for the kinds this library counts. */
static PyObject *KindDict(const int64_t *figures)
{
    PyObject *d = PyDict_New();
    for (int k = 0; d && k < WT_REMOVAL_SLOTS && wt_removal_name(k); k++) {
        PyObject *v = PyLong_FromLongLong(figures[k]);
        if (!v || PyDict_SetItemString(d, wt_removal_name(k), v) < 0) {
            Py_XDECREF(v);
            Py_DECREF(d);
            return NULL;
        }
        Py_DECREF(v);
    }
    return d;
}

static PyStructSequence_Field kResultFields[] = {
    {"page", "the cleaned page (bytes)"},
    {"outcome", "'cleaned', or 'already-clean' (the cleaned page is the page's own bytes)"},
    {"bytes_in", "the page's size"},
    {"bytes_out", "the cleaned page's size"},
    {"removed_by_elements", "bytes the element removal took out"},
    {"removed_by_extraction", "bytes the extraction took out (negative: it added its tags)"},
    {"removed_by_attributes", "bytes the attribute pass took out"},
    {"removals", "dict: how many of each kind of removal"},
    {"removal_bytes", "dict: the bytes that went with each kind"},
    {"part", "(start, end, tag) of the main part the rule for any layout chose, or None"},
    {"extraction", "how the main part was taken: 'off', 'no-main-part', 'out-of-memory', "
                   "'bare-cell', 'wrapped-cell', 'whole-table' or 'any-layout-part'"},
    {NULL, NULL},
};
static PyStructSequence_Desc kResultDesc = {
    "webtrim.Result", "What a clean made of a page: the page and its figures.", kResultFields,
    11,
};

// Fills a record's fields from `items`, whose references it takes; an item
// that could not be made (NULL) fails the whole record, with the error set.
static PyObject *FillRecord(PyObject *record, PyObject **items, int count)
{
    int ok = 1;
    for (int i = 0; i < count; i++) {
        if (!items[i])
            ok = 0;
        PyStructSequence_SetItem(record, i, items[i] ? items[i] : Py_NewRef(Py_None));
    }
    if (!ok) {
        Py_DECREF(record);
        return NULL;
    }
    return record;
}

/* The extraction's name, a str. */
static PyObject *ExtractionOf(const wt_result *r)
{
    const char *name = wt_outcome_name(r->outcome);
    return PyUnicode_FromString(name ? name : wt_outcome_name(WT_OUTCOME_OFF));
}

static PyObject *MakeResult(PyObject *cleaned, const wt_result *r, int unchanged)
{
    PyObject *result = PyStructSequence_New(ResultType);
    if (!result) {
        Py_DECREF(cleaned);
        return NULL;
    }
    PyObject *part = r->part_tag ? Py_BuildValue("(LLs)", (long long)r->part_start,
                                                 (long long)r->part_end, r->part_tag)
                                 : Py_NewRef(Py_None);
    PyObject *items[] = {
        cleaned,
        PyUnicode_FromString(wt_page_name(unchanged ? WT_PAGE_ALREADY_CLEAN : WT_PAGE_CLEANED)),
        PyLong_FromLongLong(r->bytes_in),
        PyLong_FromLongLong(r->bytes_out),
        PyLong_FromLongLong(r->removed_by_elements),
        PyLong_FromLongLong(r->removed_by_extraction),
        PyLong_FromLongLong(r->removed_by_attributes),
        KindDict(r->removals),
        KindDict(r->removal_bytes),
        part,
        ExtractionOf(r),
    };
    return FillRecord(result, items, (int)(sizeof items / sizeof *items));
}

static PyObject *CleanResult(PyObject *self, PyObject *args, PyObject *kwargs)
{
    (void)self;
    struct PageCall call;
    wt_result result;
    int unchanged;
    if (ParsePageCall("clean_result", args, kwargs, &call) < 0)
        return NULL;
    PyObject *cleaned = CleanPage(&call, &result, &unchanged);
    return cleaned ? MakeResult(cleaned, &result, unchanged) : NULL;
}

/* ---- clean_file */

static PyTypeObject *FileResultType;    /* webtrim.FileResult */

static PyStructSequence_Field kFileResultFields[] = {
    {"outcome", "'cleaned', or 'already-clean' (nothing was written or moved)"},
    {"page", "the page as cleaned (a link's target), absolute"},
    {"original", "where the original is: 'trash', 'folder', or 'stays'"},
    {"original_path", "its path there, when known, else None"},
    {"warnings", "list: the names of the warnings ('folder-missing', 'name-too-long', 'cannot-move')"},
    {"bytes_in", "the page's size"},
    {"bytes_out", "the cleaned page's size"},
    {"removals", "dict: how many of each kind of removal"},
    {"removal_bytes", "dict: the bytes that went with each kind"},
    {"extraction", "how the main part was taken, as webtrim.Result.extraction says it"},
    {"companion_outcome", "the page's companion folder: 'none' (no folder, or the switch off), "
                          "'trimmed', or why it was kept whole ('base-elsewhere', 'unresolved', "
                          "'unreadable', 'not-here'), as --json says it"},
    {"companion_files", "the files of the companion folder that went (an MHTML page: its parts left out)"},
    {"companion_bytes", "their bytes"},
    {NULL, NULL},
};
/* The companion fields are named only, not in the sequence: a FileResult
 * still unpacks into its ten items. */
static PyStructSequence_Desc kFileResultDesc = {
    "webtrim.FileResult", "What a clean in place made of a page.", kFileResultFields, 10,
};

static PyObject *TextOrNone(const char *text)
{
    return *text ? PyUnicode_DecodeFSDefault(text) : Py_NewRef(Py_None);
}

static PyObject *MakeFileResult(const wt_file_result *r)
{
    PyObject *result = PyStructSequence_New(FileResultType);
    if (!result)
        return NULL;
    const char *place = wt_original_name(r->original);
    PyObject *warnings = PyList_New(0);
    for (unsigned bit = 1; warnings && bit; bit <<= 1) {
        const char *name = (r->warnings & bit) ? wt_warning_name(bit) : NULL;
        PyObject *s = name ? PyUnicode_FromString(name) : NULL;
        if (name && (!s || PyList_Append(warnings, s) < 0))
            Py_CLEAR(warnings);
        Py_XDECREF(s);
    }
    PyObject *items[] = {
        PyUnicode_FromString(wt_page_name(r->page)),
        TextOrNone(r->page_path),
        PyUnicode_FromString(place ? place : wt_original_name(WT_ORIGINAL_STAYS)),
        TextOrNone(r->original_path),
        warnings,
        PyLong_FromLongLong(r->clean.bytes_in),
        PyLong_FromLongLong(r->clean.bytes_out),
        KindDict(r->clean.removals),
        KindDict(r->clean.removal_bytes),
        ExtractionOf(&r->clean),
        PyUnicode_FromString(wt_companion_name(r->companion_outcome) ? wt_companion_name(r->companion_outcome)
                                                                     : wt_companion_name(0)),
        PyLong_FromLongLong(r->companion_files),
        PyLong_FromLongLong(r->companion_bytes),
    };
    return FillRecord(result, items, (int)(sizeof items / sizeof *items));
}

/* A path given as str, bytes or os.PathLike into *bytes (None: NULL). */
static int TakePath(PyObject *value, PyObject **bytes)
{
    *bytes = NULL;
    return !value || value == Py_None || PyUnicode_FSConverter(value, bytes) ? 0 : -1;
}

static PyObject *CleanFile(PyObject *self, PyObject *args, PyObject *kwargs)
{
    (void)self;
    static const char *const names[] = {"path"};
    PyObject *given, *own[kArgCount], *path = NULL, *moveTo = NULL, *answer = NULL;
    PyObject *kw = TakeParameters("clean_file", args, kwargs, names, 1, 1, &given);
    if (!kw)
        return NULL;
    wt_options options;
    wt_file_result *r = NULL;
    if (ParseOptions("clean_file", kw, ARG(kArgMemoryLimit) | ARG(kArgMoveTo), &options, own) == 0 &&
        TakeSize(own[kArgMemoryLimit], "memory_limit", "none", &options.memory_limit) == 0 &&
        TakePath(given, &path) == 0 && TakePath(own[kArgMoveTo], &moveTo) == 0) {
        r = (wt_file_result *)PyMem_Malloc(sizeof *r);
        if (!r)
            PyErr_NoMemory();
    }
    if (r) {
        const char *pathText = PyBytes_AS_STRING(path);
        const char *moveText = moveTo ? PyBytes_AS_STRING(moveTo) : NULL;
        int status;
        r->size = sizeof *r;
        Py_BEGIN_ALLOW_THREADS
        status = wt_clean_file(&options, pathText, moveText, r);
        Py_END_ALLOW_THREADS
        if (status != WT_OK) {
            RaiseStatus(status, NULL);
        } else if (r->page == WT_PAGE_REFUSED || r->page == WT_PAGE_FAILED) {
            PyObject *shown = PyUnicode_DecodeFSDefaultAndSize(pathText, PyBytes_GET_SIZE(path));
            if (shown)
                RaiseError(r->message, r->message_name, r->error, shown, wt_page_name(r->page));
            Py_XDECREF(shown);
        } else {
            answer = MakeFileResult(r);
        }
        PyMem_Free(r);
    }
    Py_DECREF(kw);
    Py_DECREF(given);
    Py_XDECREF(path);
    Py_XDECREF(moveTo);
    return answer;
}

PyDoc_STRVAR(kCleanFileDoc,
"clean_file($module, /, path, *, move_to=None, remove=None, keep=None, memory_limit=0,\n"
"      **options)\n"
"--\n"
"\n"
"Cleans the page at `path` in place, as `webtrim PAGE` does, with its checks\n"
"and its safety: the original goes to the desktop trash, or into the folder\n"
"`move_to` under the first free name; a page that cleaning would leave as it\n"
"is stays untouched. The options as clean() takes them. Gives a\n"
"webtrim.FileResult. Raises webtrim.Error with the path and the program's\n"
"message (and .name, .errno, .outcome, .path) when the page is refused or\n"
"cannot be cleaned; with a system error behind it, it is also the matching\n"
"OSError (FileNotFoundError, ...). Installs no signal handler. Other threads\n"
"run while it cleans.");

PyDoc_STRVAR(kCleanDoc,
"clean($module, /, data, *, remove=None, keep=None, force=False, memory_limit=0,\n"
"      **options)\n"
"--\n"
"\n"
"Cleans one page (bytes or any buffer) in memory; gives the cleaned page,\n"
"as `webtrim -` writes it. Options start from the program's defaults;\n"
"`remove` and `keep` name kinds of element (a list, or 'pictures,forms';\n"
"'all' is every kind), then each option given by its keyword in\n"
"webtrim.DEFAULTS (pictures=True, any_layout=False; None: the default)\n"
"applies; an option that is not True, False or None is a TypeError.\n"
"memory_limit: bytes, 0 for none; the cleaned page counts against it too.\n"
"A page stored as UTF-16 or UTF-32, or in a known binary format, is refused\n"
"as the program refuses it (webtrim.Error, .name 'not-text' or\n"
"'not-a-web-page') unless force is True. Raises webtrim.Error (with .code\n"
"and .name) when the clean fails or an option has no such name. Other\n"
"threads run while it cleans.");

PyDoc_STRVAR(kCleanResultDoc,
"clean_result($module, /, data, *, remove=None, keep=None, force=False, memory_limit=0,\n"
"      **options)\n"
"--\n"
"\n"
"The same as clean(), with what the clean did: the page, its outcome\n"
"('cleaned' or 'already-clean'), the sizes, the bytes each stage took out,\n"
"the removals by kind, the main part that the rule for any layout chose\n"
"and how the main part was taken (extraction).");

static PyMethodDef kMethods[] = {
    {"clean", (PyCFunction)(void (*)(void))Clean, METH_VARARGS | METH_KEYWORDS, kCleanDoc},
    {"clean_result", (PyCFunction)(void (*)(void))CleanResult, METH_VARARGS | METH_KEYWORDS,
     kCleanResultDoc},
    {"clean_file", (PyCFunction)(void (*)(void))CleanFile, METH_VARARGS | METH_KEYWORDS,
     kCleanFileDoc},
    {NULL, NULL, 0, NULL},
};

/* ---- Web archives: webtrim.warc.clean_file ---- */

static int AddNew(PyObject *m, const char *name, PyObject *value);

static PyTypeObject *WarcReportType;    /* webtrim.warc.WarcReport */

static PyStructSequence_Field kWarcReportFields[] = {
    {"input", "the archive read"},
    {"output", "the archive written"},
    {"records", "good records read"},
    {"cleaned", "pages written as conversion records"},
    {"passed", "records copied as they were"},
    {"skipped", "dict: the bad records by reason ('truncated', 'bad-length', 'bad-header', "
                "'bad-gzip', 'bad-chunked', 'undecodable', 'too-large')"},
    {"bytes_in", "the input file's size"},
    {"bytes_out", "the output file's size"},
    {"page_bytes_in", "the cleaned pages, before"},
    {"page_bytes_out", "and after"},
    {NULL, NULL},
};
static PyStructSequence_Desc kWarcReportDesc = {
    "webtrim.warc.WarcReport", "What the clean of an archive did.", kWarcReportFields, 10,
};

static PyObject *WarcCleanFile(PyObject *self, PyObject *args, PyObject *kwargs)
{
    (void)self;
    static const char *const names[] = {"input", "output"};
    PyObject *given[2], *own[kArgCount], *input = NULL, *output = NULL, *answer = NULL;
    PyObject *kw = TakeParameters("clean_file", args, kwargs, names, 2, 2, given);
    if (!kw)
        return NULL;
    wt_options options;
    size_t recordLimit = 0;
    int keepOn = 0, responseOn = 0, level = -1;
    if (ParseOptions("clean_file", kw,
                     ARG(kArgKeepOriginals) | ARG(kArgResponse) | ARG(kArgRecordLimit) | ARG(kArgLevel), &options,
                     own) == 0 &&
        TakeBool(own[kArgKeepOriginals], "keep_originals", &keepOn) >= 0 &&
        TakeBool(own[kArgResponse], "response", &responseOn) >= 0 &&
        TakeSize(own[kArgRecordLimit], "record_limit", "the default", &recordLimit) == 0 &&
        TakeLevel(own[kArgLevel], &level) == 0 &&
        TakePath(given[0], &input) == 0 && TakePath(given[1], &output) == 0) {
        wt_warc_report r;
        int status;
        r.size = sizeof r;
        const char *in = PyBytes_AS_STRING(input), *out = PyBytes_AS_STRING(output);
        Py_BEGIN_ALLOW_THREADS
        status = wt_warc_clean_file(&options, in, out,
                                    (keepOn ? WT_WARC_KEEP_ORIGINALS : 0) | (responseOn ? WT_WARC_RESPONSE : 0) |
                                        (level >= 0 ? WT_WARC_LEVEL(level) : 0),
                                    recordLimit, &r);
        Py_END_ALLOW_THREADS
        if (status != WT_OK) {
            RaiseStatus(status, NULL);
        } else if (r.message_name[0]) {
            int writing = strcmp(r.message_name, "cannot-write") == 0;
            PyObject *shown = PyUnicode_DecodeFSDefault(writing ? out : in);
            if (shown)
                RaiseError(strcmp(r.message_name, "same-as-input") == 0 ? "The output is the input itself"
                           : writing ? "Cannot write the output" : "Cannot read the archive",
                           r.message_name, r.error, shown, wt_page_name(WT_PAGE_FAILED));
            Py_XDECREF(shown);
        } else {
            PyObject *skipped = PyDict_New();
            for (int i = 0; skipped && i < WT_WARC_REASONS; i++) {
                PyObject *n = PyLong_FromLongLong(r.skipped[i]);
                if (!n || PyDict_SetItemString(skipped, wt_warc_reason_name(i), n) < 0)
                    Py_CLEAR(skipped);
                Py_XDECREF(n);
            }
            PyObject *result = PyStructSequence_New(WarcReportType);
            PyObject *items[] = {
                PyUnicode_DecodeFSDefault(in), PyUnicode_DecodeFSDefault(out),
                PyLong_FromLongLong(r.records), PyLong_FromLongLong(r.cleaned),
                PyLong_FromLongLong(r.passed), skipped,
                PyLong_FromLongLong(r.bytes_in), PyLong_FromLongLong(r.bytes_out),
                PyLong_FromLongLong(r.page_bytes_in), PyLong_FromLongLong(r.page_bytes_out),
            };
            if (result)
                answer = FillRecord(result, items, (int)(sizeof items / sizeof *items));
            else
                for (size_t i = 0; i < sizeof items / sizeof *items; i++)
                    Py_XDECREF(items[i]);
        }
    }
    Py_DECREF(kw);
    Py_DECREF(given[0]);
    Py_DECREF(given[1]);
    Py_XDECREF(input);
    Py_XDECREF(output);
    return answer;
}

PyDoc_STRVAR(kWarcCleanFileDoc,
"clean_file($module, /, input, output, *, remove=None, keep=None, keep_originals=False,\n"
"      response=False, record_limit=0, level=None, **options)\n"
"--\n"
"\n"
"Cleans the web archive `input` into a new archive `output` (a gzip member per\n"
"record when it ends in .gz), as `webtrim --warc` does: HTML pages become\n"
"conversion records, other records are copied byte for byte, bad records are\n"
"skipped or copied and counted, never stopping the file. The output takes its\n"
"name only once whole. level: the gzip level of a .gz output, 0 to 9 (None:\n"
"6). The options as webtrim.clean() takes them. Gives a\n"
"webtrim.warc.WarcReport; raises webtrim.Error (.name 'cannot-read',\n"
"'cannot-write' or 'same-as-input', .errno, .path; the OSError of a system\n"
"error too). Other threads run while it cleans.");

/* webtrim.warc.records(path): the records of an archive, one by one. */

static PyTypeObject *WarcRecordType;    /* webtrim.warc.WarcRecord */

static PyStructSequence_Field kWarcRecordFields[] = {
    {"type", "WARC-Type"},
    {"id", "WARC-Record-ID"},
    {"target_uri", "WARC-Target-URI, or ''"},
    {"date", "WARC-Date, or ''"},
    {"content_type", "Content-Type, or ''"},
    {"version", "'1.0' or '1.1'"},
    {"head", "the header as read (bytes), up to its blank line"},
    {"block", "the block (bytes), or None past the record limit"},
    {"length", "Content-Length"},
    {NULL, NULL},
};
static PyStructSequence_Desc kWarcRecordDesc = {
    "webtrim.warc.WarcRecord", "One good record of an archive.", kWarcRecordFields, 9,
};

typedef struct {
    PyObject_HEAD
    wt_warc_reader *reader;
} ReaderObject;

static void ReaderDealloc(ReaderObject *self)
{
    wt_warc_close(self->reader);
    PyTypeObject *type = Py_TYPE(self);
    type->tp_free((PyObject *)self);
    Py_DECREF(type);
}

static PyObject *ReaderNext(ReaderObject *self)
{
    if (!self->reader)
        return NULL;
    wt_warc_record r;
    int got;
    r.size = sizeof r;
    Py_BEGIN_ALLOW_THREADS
    got = wt_warc_next(self->reader, &r);
    Py_END_ALLOW_THREADS
    if (got < 0)        /* the archive could not be read on: webtrim.Error, the OSError too */
        return RaiseError("Cannot read the archive", "cannot-read", errno ? errno : EIO, NULL,
                          wt_page_name(WT_PAGE_FAILED));
    if (got == 0)
        return NULL;                    /* StopIteration */
    PyObject *result = PyStructSequence_New(WarcRecordType);
    PyObject *items[] = {
        PyUnicode_DecodeLatin1(r.type, (Py_ssize_t)strlen(r.type), NULL),
        PyUnicode_DecodeLatin1(r.id, (Py_ssize_t)strlen(r.id), NULL),
        PyUnicode_DecodeLatin1(r.target_uri, (Py_ssize_t)strlen(r.target_uri), NULL),
        PyUnicode_DecodeLatin1(r.date, (Py_ssize_t)strlen(r.date), NULL),
        PyUnicode_DecodeLatin1(r.content_type, (Py_ssize_t)strlen(r.content_type), NULL),
        PyUnicode_FromString(r.version == 11 ? "1.1" : "1.0"),
        PyBytes_FromStringAndSize((const char *)r.head, (Py_ssize_t)r.head_size),
        r.block ? PyBytes_FromStringAndSize((const char *)r.block, (Py_ssize_t)r.block_size)
                : Py_NewRef(Py_None),
        PyLong_FromLongLong(r.length),
    };
    if (!result) {
        for (size_t i = 0; i < sizeof items / sizeof *items; i++)
            Py_XDECREF(items[i]);
        return NULL;
    }
    return FillRecord(result, items, (int)(sizeof items / sizeof *items));
}

static PyObject *ReaderSkipped(ReaderObject *self, void *closure)
{
    (void)closure;
    int64_t counts[WT_WARC_REASONS];
    wt_warc_skipped(self->reader, counts);
    PyObject *d = PyDict_New();
    for (int i = 0; d && i < WT_WARC_REASONS; i++) {
        PyObject *n = PyLong_FromLongLong(counts[i]);
        if (!n || PyDict_SetItemString(d, wt_warc_reason_name(i), n) < 0)
            Py_CLEAR(d);
        Py_XDECREF(n);
    }
    return d;
}

static PyGetSetDef kReaderGetSet[] = {
    {"skipped", (getter)ReaderSkipped, NULL, "dict: the bad records skipped so far, by reason", NULL},
    {NULL, NULL, NULL, NULL, NULL},
};

static PyType_Slot kReaderSlots[] = {
    {Py_tp_dealloc, (void *)ReaderDealloc},
    {Py_tp_iter, (void *)PyObject_SelfIter},
    {Py_tp_iternext, (void *)ReaderNext},
    {Py_tp_getset, (void *)kReaderGetSet},
    {Py_tp_doc, (void *)"The records of an archive: iterate it; .skipped counts the bad ones."},
    {0, NULL},
};
static PyType_Spec kReaderSpec = {
    "webtrim.warc.Reader", sizeof(ReaderObject), 0, Py_TPFLAGS_DEFAULT, kReaderSlots,
};
static PyObject *ReaderType;

static PyObject *WarcRecords(PyObject *self, PyObject *args, PyObject *kwargs)
{
    (void)self;
    static char *keywords[] = {"path", "record_limit", NULL};
    PyObject *path = NULL;
    Py_ssize_t recordLimit = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O&|$n:records", keywords, PyUnicode_FSConverter, &path,
                                     &recordLimit))
        return NULL;
    if (recordLimit < 0) {
        Py_DECREF(path);
        PyErr_SetString(PyExc_ValueError, "record_limit is a number of bytes, 0 for the default");
        return NULL;
    }
    int error = 0;
    wt_warc_reader *reader;
    const char *text = PyBytes_AS_STRING(path);
    Py_BEGIN_ALLOW_THREADS
    reader = wt_warc_open(text, (size_t)recordLimit, &error);
    Py_END_ALLOW_THREADS
    if (!reader) {
        PyObject *shown = PyUnicode_DecodeFSDefault(text);
        if (shown)
            RaiseError("Cannot read the archive", "cannot-read", error ? error : EIO, shown,
                       wt_page_name(WT_PAGE_FAILED));
        Py_XDECREF(shown);
        Py_DECREF(path);
        return NULL;
    }
    Py_DECREF(path);
    ReaderObject *r = PyObject_New(ReaderObject, (PyTypeObject *)ReaderType);
    if (!r) {
        wt_warc_close(reader);
        return NULL;
    }
    r->reader = reader;
    return (PyObject *)r;
}

PyDoc_STRVAR(kWarcRecordsDoc,
"records($module, /, path, *, record_limit=0)\n"
"--\n"
"\n"
"The good records of the archive at `path` (plain or gzipped), one\n"
"webtrim.warc.WarcRecord at a time, read by the same reader as\n"
"clean_file: bad records are skipped and counted in the iterator's\n"
".skipped. A block past record_limit (default 32 MB) is given as None.");

static PyMethodDef kWarcMethods[] = {
    {"clean_file", (PyCFunction)(void (*)(void))WarcCleanFile, METH_VARARGS | METH_KEYWORDS,
     kWarcCleanFileDoc},
    {"records", (PyCFunction)(void (*)(void))WarcRecords, METH_VARARGS | METH_KEYWORDS, kWarcRecordsDoc},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef kWarcModule = {
    PyModuleDef_HEAD_INIT, "webtrim.warc",
    "Web archives cleaned into new archives: webtrim.warc.clean_file(input, output, **options).",
    -1, kWarcMethods, NULL, NULL, NULL, NULL,
};

/* webtrim.warc, also importable as such (sys.modules). */
static int AddWarcModule(PyObject *m)
{
    WarcReportType = PyStructSequence_NewType(&kWarcReportDesc);
    WarcRecordType = PyStructSequence_NewType(&kWarcRecordDesc);
    ReaderType = PyType_FromSpec(&kReaderSpec);
    PyObject *warc = WarcReportType && WarcRecordType && ReaderType ? PyModule_Create(&kWarcModule) : NULL;
    if (!warc)
        return -1;
    PyObject *modules = PyImport_GetModuleDict();
    if (PyModule_AddObjectRef(warc, "WarcReport", (PyObject *)WarcReportType) < 0 ||
        PyModule_AddObjectRef(warc, "WarcRecord", (PyObject *)WarcRecordType) < 0 ||
        PyModule_AddObjectRef(warc, "Reader", ReaderType) < 0 ||
        PyDict_SetItemString(modules, "webtrim.warc", warc) < 0) {
        Py_DECREF(warc);
        return -1;
    }
    return AddNew(m, "warc", warc);
}

static struct PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "webtrim",
    "Cleans saved web pages in memory: webtrim.clean(page, **options) -> bytes.",
    -1, kMethods, NULL, NULL, NULL, NULL,
};

/* A tuple of the names a library call gives from 0 until NULL. */
static PyObject *Names(const char *(*name)(int))
{
    PyObject *list = PyList_New(0);
    for (int i = 0; list && name(i); i++) {
        PyObject *s = PyUnicode_FromString(name(i));
        if (!s || PyList_Append(list, s) < 0) {
            Py_XDECREF(s);
            Py_DECREF(list);
            return NULL;
        }
        Py_DECREF(s);
    }
    PyObject *tuple = list ? PyList_AsTuple(list) : NULL;
    Py_XDECREF(list);
    return tuple;
}

/* The options' keywords (the program's names, '_' for '-') as a tuple, or
 * with their defaults as a dict: clean(page, **webtrim.DEFAULTS) cleans as
 * clean(page) does. */
static PyObject *Keywords(int withDefaults)
{
    wt_options options;
    wt_options_init(&options, sizeof options);
    PyObject *all = withDefaults ? PyDict_New() : PyList_New(0);
    char keyword[64];
    for (int i = 0; all && wt_option_name(i); i++) {
        KeywordOf(wt_option_name(i), keyword, sizeof keyword);
        PyObject *key = PyUnicode_FromString(keyword);
        PyObject *on = PyBool_FromLong(wt_options_get(&options, wt_option_name(i)) == 1);
        if (!key || (withDefaults ? PyDict_SetItem(all, key, on) : PyList_Append(all, key)) < 0)
            Py_CLEAR(all);
        Py_XDECREF(key);
        Py_DECREF(on);
    }
    if (withDefaults || !all)
        return all;
    PyObject *tuple = PyList_AsTuple(all);
    Py_DECREF(all);
    return tuple;
}

/* Adds a new reference to the module, which takes it. */
static int AddNew(PyObject *m, const char *name, PyObject *value)
{
    if (!value)
        return -1;
    int rc = PyModule_AddObjectRef(m, name, value);
    Py_DECREF(value);
    return rc;
}

PyMODINIT_FUNC PyInit_webtrim(void)
{
    PyObject *m = PyModule_Create(&kModule);
    if (!m)
        return NULL;
    PyObject *text = PyCFunction_New(&kErrorTextDef, NULL);
    PyObject *method = text ? PyInstanceMethod_New(text) : NULL;
    PyObject *members = method ? Py_BuildValue("{sO}", "__str__", method) : NULL;
    Py_XDECREF(text);
    Py_XDECREF(method);
    WebtrimError = members ? PyErr_NewExceptionWithDoc(
        "webtrim.Error",
        "A clean that failed: the message, with .name (its stable name) and .code (the library's\n"
        "status) or .errno, .outcome and .path (a page or an archive). With a system error behind\n"
        "it, it is also the matching OSError (FileNotFoundError, PermissionError, ...).",
        NULL, members) : NULL;
    Py_XDECREF(members);
    ErrorClasses = PyDict_New();
    Module = m;
    for (int e = 1; WebtrimError && ErrorClasses && e < 256; e++)
        if (!ErrorClassFor(e))
            Py_CLEAR(ErrorClasses);
    ResultType = PyStructSequence_NewType(&kResultDesc);
    FileResultType = PyStructSequence_NewType(&kFileResultDesc);
    if (!WebtrimError || !ErrorClasses || !ResultType || !FileResultType ||
        PyModule_AddObjectRef(m, "FileResult", (PyObject *)FileResultType) < 0 ||
        PyModule_AddObjectRef(m, "Error", WebtrimError) < 0 ||
        PyModule_AddObjectRef(m, "Result", (PyObject *)ResultType) < 0 ||
        PyModule_AddStringConstant(m, "__version__", wt_version()) < 0 ||
        AddNew(m, "OPTIONS", Keywords(0)) < 0 || AddNew(m, "DEFAULTS", Keywords(1)) < 0 ||
        AddNew(m, "REMOVAL_KINDS", Names(wt_removal_name)) < 0 ||
        AddNew(m, "OUTCOMES", Names(wt_page_name)) < 0 ||
        AddNew(m, "PLACES", Names(wt_original_name)) < 0 ||
        AddNew(m, "EXTRACTIONS", Names(wt_outcome_name)) < 0 || AddWarcModule(m) < 0) {
        Py_DECREF(m);
        return NULL;
    }
    return m;
}
