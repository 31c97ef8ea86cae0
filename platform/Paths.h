#pragma once
// The folders the system keeps its files in. On Windows these are fixed
// drive paths; here they follow the environment so that tests and the demo
// suite can point them anywhere.

#include <string>

namespace platform {

// Value of an environment variable; empty when unset.
std::string GetEnv(const char* name);

// Folder for temporary and debug files, with a trailing '/':
// $TMPDIR, else /tmp.
std::string TempFolder();

// The ProgramData folder: $ProgramData, else /var/lib. No trailing '/'.
std::string ProgramDataFolder();

// The suite data folder, with a trailing '/':
// ProgramDataFolder() + "/Velmor Dezidizu/zpel/".
std::string DataFolder();

// Whether a path names a file independently of any current folder: a
// drive path ("C:\\...", anything with a drive colon) or a rooted path
// ("/...").
bool IsAbsolutePath(const std::string& path);

}  // namespace platform
