// The termination signals (SIGINT, SIGTERM, SIGHUP) around a run's files.
// One implementation per platform: signals_posix.cpp, and signals_win32.cpp,
// where there is nothing to do.
//
// At any moment a signal removes the run's temporary files that have a
// name (a name is entered in a fixed table before it can be seen) and ends
// the program as it would have; while the original is away from its path
// and the cleaned page not yet in its place, the signal waits.
#pragma once
#include "platform/file.h"

// Holds the termination signals while the original is away, and lets them
// go (a pending one ends the program then).
void HoldTerminationSignals(bool hold);

// From now on, installs no handler and holds no signal: for a library,
// whose host owns the process's signals. Temporaries are still made and
// entered, but nothing removes them on a signal.
void LeaveTerminationSignalsAlone();

// A temporary name is made and entered as one step: between these calls the
// signals wait. Not nested.
void EnterTemporarySection();
void LeaveTemporarySection();

// Enters the temporary `name` of the folder `folder` (a descriptor that
// must stay open while it is entered); the slot, or -1 when the table is
// full. Called inside a temporary section, just after the name was made.
int NoteTemporary(FileHandle folder, const char *name);
// The name was kept, renamed or removed: a signal leaves it alone.
void ForgetTemporary(int slot);
