#pragma once
// Facts about the program, the user and the machine for the error report. Each is gathered
// when a report is built, never at start-up, from local queries only (nothing goes on the
// network). Each throws Exception when its source fails.

#include <windows.h>

#include <string>

// "1.0.0.0" from a module's version resource, "" when it has none.
std::string ModuleVersion(HMODULE module);

// Exe path, version, start time and how long the process has been running.
std::string ApplicationFacts();
std::string UserName();
std::string ComputerName();
// The main window's focused control: "btnAdd (TButton)".
std::string ActiveControlFacts();
// "Windows 6.1 build 7601 Service Pack 1", with the Wine version where there is one.
std::string OperatingSystemFacts();
// Host name and each adapter's addresses, one per line.
std::string NetworkFacts();

// One line per module of this process: base, size, version, path.
std::string ModuleList();
// One line per process on the machine: id and exe name.
std::string ProcessList();

// "2012-01-31 10:20:30" in local time.
std::string LocalTimeText(const SYSTEMTIME& time);
