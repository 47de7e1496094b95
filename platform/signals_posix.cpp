// Termination signals on POSIX systems. A named temporary is entered in a
// fixed table before it can be seen, so the handler has only to unlink what
// the table holds: no allocation, no locks, nothing but async-signal-safe
// calls (unlinkat, signal, raise, sigprocmask).
#include "platform/signals.h"
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

enum { kTempSlots = 8, kTempNameSize = 256 };

static int TempFolders[kTempSlots];
static char TempNames[kTempSlots][kTempNameSize];
static volatile sig_atomic_t TempUsed[kTempSlots];
static volatile sig_atomic_t Holding;        // the original is away: defer
static volatile sig_atomic_t DeferredSignal;
static const int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};
static bool HandlersInstalled;
static volatile bool LeftAlone;            // a library's host owns the signals
static sigset_t HeldMask;
static thread_local sigset_t SectionMask;

static void TerminationSet(sigset_t *set)
{
    sigemptyset(set);
    for (int sig : kTerminationSignals)
        sigaddset(set, sig);
}

// Removes the named temporaries and ends the program by the signal itself,
// so that the exit status reads 128 + its number.
static void EndBySignal(int sig)
{
    for (int i = 0; i < kTempSlots; i++) {
        if (TempUsed[i] == 1)
            unlinkat(TempFolders[i], TempNames[i], 0);
    }
    signal(sig, SIG_DFL);
    raise(sig);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, NULL);
}

static void OnTerminationSignal(int sig)
{
    // A thread that does not block the signal (a library's) may take it
    // while the original is away: it waits for the hold to end.
    if (Holding) {
        DeferredSignal = sig;
        return;
    }
    EndBySignal(sig);
}

static void InstallTerminationHandlers()
{
    if (HandlersInstalled)
        return;
    HandlersInstalled = true;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnTerminationSignal;
    TerminationSet(&sa.sa_mask);
    for (int sig : kTerminationSignals) {
        struct sigaction old;
        // A signal ignored from the start (nohup) stays ignored.
        if (sigaction(sig, NULL, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        sigaction(sig, &sa, NULL);
    }
}

void LeaveTerminationSignalsAlone()
{
    LeftAlone = true;
}

void HoldTerminationSignals(bool hold)
{
    if (LeftAlone || hold == (Holding != 0))
        return;
    InstallTerminationHandlers();
    if (hold) {
        sigset_t set;
        TerminationSet(&set);
        sigprocmask(SIG_BLOCK, &set, &HeldMask);
        Holding = 1;
        return;
    }
    Holding = 0;
    int deferred = DeferredSignal;
    DeferredSignal = 0;
    if (deferred)
        EndBySignal(deferred);
    sigprocmask(SIG_SETMASK, &HeldMask, NULL);   // a pending signal arrives here
}

void EnterTemporarySection()
{
    if (LeftAlone)
        return;
    InstallTerminationHandlers();
    sigset_t set;
    TerminationSet(&set);
    pthread_sigmask(SIG_BLOCK, &set, &SectionMask);
}

void LeaveTemporarySection()
{
    if (LeftAlone)
        return;
    int saved = errno;
    pthread_sigmask(SIG_SETMASK, &SectionMask, NULL);
    errno = saved;
}

int NoteTemporary(FileHandle folder, const char *name)
{
    size_t n = strlen(name);
    if (n >= kTempNameSize)
        return -1;
    // Slots are taken and given back by several threads: a slot is claimed
    // by the swap of its flag, and filled while the flag says "being
    // filled" (2), which the handler treats as free.
    for (int i = 0; i < kTempSlots; i++) {
        if (__sync_bool_compare_and_swap(&TempUsed[i], 0, 2)) {
            TempFolders[i] = (int)folder;
            memcpy(TempNames[i], name, n + 1);
            __sync_synchronize();
            TempUsed[i] = 1;
            return i;
        }
    }
    return -1;
}

void ForgetTemporary(int slot)
{
    if (slot >= 0 && slot < kTempSlots)
        TempUsed[slot] = 0;
}
