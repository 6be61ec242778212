#pragma once
// Restarting the program as it was started: same command line, same start-up working directory.

#include <string>

// Keeps a copy of the command line and the current directory; called once before the entry runs,
// because the program may change its directory later.
void RecordStartup() noexcept;

const std::wstring& StartupCommandLine() noexcept;
const std::wstring& StartupDirectory() noexcept;

// Starts a new copy, then ends this process at once with exit code 1, skipping its shutdown.
// Returns only when the new copy could not be started (the program then runs on).
void RestartApplication() noexcept;
