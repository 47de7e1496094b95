/* Preloaded into a test's python3: holds every call of wt_clean_to_buffer
 * at its entry until WEBTRIM_HOLD_CALLS calls stand there at once, then lets
 * them all go on into the library. Threads that call the module get there
 * together only if the module released the interpreter's lock for the
 * clean; otherwise the first one waits alone and, after WEBTRIM_HOLD_SECONDS
 * (a guard against a hung test, not a measure), fails with WT_ERR_WRITE. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#include <stdlib.h>
#include <time.h>
#include "webtrim.h"

typedef int (*CleanProc)(const wt_options *, const void *, size_t, unsigned char **, size_t *,
                         wt_result *);

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t arrived = PTHREAD_COND_INITIALIZER;
static int waiting;
static int released;

int wt_clean_to_buffer(const wt_options *options, const void *page, size_t size,
                       unsigned char **out, size_t *out_size, wt_result *result)
{
    // The library came in with the module, outside the global scope that
    // RTLD_NEXT searches.
    void *library = dlopen("libwebtrim.so.1", RTLD_NOW | RTLD_NOLOAD);
    CleanProc real = library ? (CleanProc)dlsym(library, "wt_clean_to_buffer") : NULL;
    if (library)
        dlclose(library);
    if (!real)
        abort();
    const char *calls = getenv("WEBTRIM_HOLD_CALLS");
    const char *seconds = getenv("WEBTRIM_HOLD_SECONDS");
    int together = calls ? atoi(calls) : 0;
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += seconds ? atoi(seconds) : 60;

    int met = 1;
    pthread_mutex_lock(&lock);
    if (!released && together > 1) {
        waiting++;
        if (waiting >= together) {
            released = 1;
            pthread_cond_broadcast(&arrived);
        }
        while (!released && met)
            met = pthread_cond_timedwait(&arrived, &lock, &until) == 0;
    }
    pthread_mutex_unlock(&lock);
    if (!met) {
        *out = NULL;
        *out_size = 0;
        return WT_ERR_WRITE;
    }
    return real(options, page, size, out, out_size, result);
}
