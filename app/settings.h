// The settings store: CleanOptions and TargetFolder kept per user.
// Windows keeps them in the registry, elsewhere in a small ini file.
#pragma once

// Fills CleanOptions and TargetFolder. When the store does not exist yet it
// is created with the defaults. When a stored value cannot be read, both
// become the defaults: the registry gets the defaults written back; the ini
// file is left as it is and one line on standard error says which file was
// not used and why.
void LoadSettings();

// Writes both values. Does nothing when the store does not exist yet. The
// ini file is replaced atomically with its other content, owner and mode
// kept (through a symbolic link, the link's target); one that is not a key
// file is kept and not saved to, which standard error says.
void SaveSettings();

#ifndef _WIN32
// The settings file's path (a new string: free it with free()).
char *SettingsFilePath();

// Like LoadSettings, but never creates or writes the file: a missing or
// unreadable file leaves the defaults in memory only.
void LoadSettingsWithoutWriting();
#endif
