// Main window (not built yet).
#include "ui/window.h"

INT_PTR ShowMainWindow()
{
    return 1;
}
