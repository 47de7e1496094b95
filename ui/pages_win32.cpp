// Option pages (not built yet).
#include "ui/window.h"
