#pragma once
// The report log on disk: where it lives, reading it whole and sound, and appending safely.

#include <string>

#include "ReportLog.h"

// The log beside the exe, named like it with ".elf"; where that folder is not writable, a folder for the
// program under the user's application-data folder.
std::wstring ReportLogPath();

// Appends one report: read, repair, append, write a temporary file, flush, replace the log in one step
// (MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), serialised between processes
// (a named mutex). Where the log beside the exe cannot be written, the report goes to the
// application-data folder instead. Never throws; false when the log could not be written.
bool AppendToReportLog(const std::string& report) noexcept;

// The building blocks, for tests and tools that work on a log at a given path.

// `exePath` with its extension (if any) replaced by ".elf".
std::wstring LogPathBeside(const std::wstring& exePath);
// "<appData>\<program>\<program>.elf", where <program> is the exe's name without its extension.
std::wstring FallbackLogPath(const std::wstring& exePath, const std::wstring& appData);
// True when a file can really be created in `folder` (it is created and deleted again).
bool FolderIsWritable(const std::wstring& folder) noexcept;
// The log at `path`; a missing file is an empty log. Reads at most MaxLogBytes (the newest end).
// False (and `contents` empty) only when the file exists but cannot be read.
bool ReadReportLog(const std::wstring& path, TLogContents& contents) noexcept;
// AppendToReportLog for the log at `path`; its folder must exist.
bool AppendToReportLogAt(const std::wstring& path, const std::string& report) noexcept;
