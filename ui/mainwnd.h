// The main window (mainwnd_win32.cpp).
#pragma once
#include <windows.h>
#include "app/options.h"

// Shows the main window as a modal dialog over `settings`, which its option
// pages edit in place, "Save" stores and every run takes; gives back its
// result.
INT_PTR ShowMainWindow(Settings *settings);
