// The settings store: CleanOptions and TargetFolder kept per user.
// Windows keeps them in the registry, elsewhere in a small ini file.
// Failures are never reported; a failed load falls back to the defaults.
#pragma once

// Fills CleanOptions and TargetFolder. When either stored value cannot be
// read, both become the defaults and the defaults are written back.
void LoadSettings();

// Writes both values. Does nothing when the store does not exist yet.
void SaveSettings();

#ifndef _WIN32
// The settings file's path (a new string: free it with free()).
char *SettingsFilePath();

// Like LoadSettings, but never creates or writes the file: a missing or
// unreadable file leaves the defaults in memory only.
void LoadSettingsWithoutWriting();
#endif
