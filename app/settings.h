// The settings store: a user's options word and target folder, kept
// between runs. Windows keeps them in the registry, elsewhere in a small
// ini file.
#pragma once
#include <stddef.h>
#include "app/options.h"

// Fills *settings from the store; the defaults where there is none. With
// `create`, a store that does not exist yet is created (with the defaults).
// When a stored value cannot be read or the store may not be used, the
// defaults are taken, false is the answer and `problem` says which store
// was not used and why (the registry instead gets the defaults written back).
bool LoadSettings(Settings *settings, bool create, char *problem, size_t problemSize);

// Writes both values. False, with `problem` saying why, when they were not
// saved (no store yet; a file that is not a key file is kept as it is).
bool SaveSettings(const Settings *settings, char *problem, size_t problemSize);

#ifndef _WIN32
// The settings file's path (a new string: free it with free()).
char *SettingsFilePath();
#endif
