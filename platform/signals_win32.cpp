// Windows has no termination signals of this kind: a closed console or a
// logoff ends the process, and the run's temporaries are the system's to
// remove (FILE_FLAG_DELETE_ON_CLOSE) or are left beside the page.
#include "platform/signals.h"

void HoldTerminationSignals(bool)
{
}

void LeaveTerminationSignalsAlone()
{
}

void EnterTemporarySection()
{
}

void LeaveTemporarySection()
{
}

int NoteTemporary(FileHandle, const char *)
{
    return -1;
}

void ForgetTemporary(int)
{
}
