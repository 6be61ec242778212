#include "Restart_win.h"

#include "Handle.h"
#include "RunTime.h"

#include <windows.h>

#include <vector>

namespace {

std::wstring& CommandLine()
{
    static std::wstring text;
    return text;
}

std::wstring& Directory()
{
    static std::wstring text;
    return text;
}

std::wstring CurrentDirectory()
{
    DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0)
        return {};
    std::wstring text(size, L'\0');
    DWORD length = GetCurrentDirectoryW(size, text.data());
    text.resize(length < size ? length : 0);
    return text;
}

} // namespace

void RecordStartup() noexcept
{
    try {
        CommandLine() = GetCommandLineW();
        Directory() = CurrentDirectory();
    } catch (...) {
        // No memory at start-up: a restart then starts without arguments.
    }
}

const std::wstring& StartupCommandLine() noexcept
{
    return CommandLine();
}

const std::wstring& StartupDirectory() noexcept
{
    return Directory();
}

void RestartApplication() noexcept
{
    try {
        const std::wstring exe = ExeFileName();
        if (exe.empty())
            return;
        // CreateProcessW may write into the command line: give it a copy of its own.
        std::vector<wchar_t> commandLine(CommandLine().begin(), CommandLine().end());
        commandLine.push_back(L'\0');
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        const wchar_t* directory = Directory().empty() ? nullptr : Directory().c_str();
        if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, directory,
                            &startup, &started))
            return;
        TKernelHandle process(started.hProcess);
        TKernelHandle thread(started.hThread);
    } catch (...) {
        return;
    }
    TerminateProcess(GetCurrentProcess(), 1);
    ExitProcess(1); // not reached; TerminateProcess of oneself does not return
}
