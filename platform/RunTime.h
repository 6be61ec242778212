#pragma once
// Run-time helpers over the system: paths, files, error texts, text encoding.

#include <windows.h>

#include <string>
#include <string_view>

// Full path of the running executable, whatever the working directory.
std::wstring ExeFileName();

// Everything up to and including the last '\', '/' or drive ':'; empty if none.
std::wstring ExtractFilePath(std::wstring_view fileName);

// True only for an existing file that is not a directory.
bool FileExists(const std::wstring& fileName);

// The full form of a path, relative to the current directory.
std::wstring ExpandFileName(const std::wstring& fileName);

// The system's message text for an error code, without its line end.
std::wstring SysErrorMessage(DWORD errorCode);

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
