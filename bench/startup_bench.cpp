// Prints the start-up time to an idle window of the recorder against a minimal window
// program: from CreateProcessW until the program's visible main window answers a message.
//   startup_bench.exe RECORDER_EXE MINIMAL_EXE [STARTS]
#include "Clock.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct WindowSearch
{
    DWORD processId;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64];
    if (owner == search->processId && IsWindowVisible(window) && GetClassNameW(window, name, 64) &&
        std::wcscmp(name, search->className) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct Program
{
    const wchar_t* label;
    std::wstring path;
    const wchar_t* className;
    std::vector<double> times;
};

// Starts the program, waits for its window to answer, closes it. Returns false on failure.
bool StartOnce(Program& program)
{
    std::wstring commandLine = L"\"" + program.path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const double start = Seconds();
    if (!CreateProcessW(program.path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fwprintf(stderr, L"cannot start %ls: error %lu\n", program.path.c_str(), GetLastError());
        return false;
    }
    WindowSearch search{process.dwProcessId, program.className, nullptr};
    DWORD_PTR answer = 0;
    bool ready = false;
    while (Seconds() - start < 30) {
        search.found = nullptr;
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr &&
            SendMessageTimeoutW(search.found, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer)) {
            ready = true;
            break;
        }
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0)
            break;
    }
    const double elapsed = Seconds() - start;
    bool closed = false;
    if (ready) {
        PostMessageW(search.found, WM_CLOSE, 0, 0);
        closed = WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0;
    }
    if (!closed)
        TerminateProcess(process.hProcess, 1);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!ready) {
        std::fwprintf(stderr, L"%ls: no answering window of class %ls\n", program.label, program.className);
        return false;
    }
    if (!closed || exitCode != 0) {
        std::fwprintf(stderr, L"%ls: did not close cleanly (exit code %lu)\n", program.label, exitCode);
        return false;
    }
    program.times.push_back(elapsed);
    return true;
}

double Mean(const std::vector<double>& values)
{
    double sum = 0;
    for (double v : values)
        sum += v;
    return sum / values.size();
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: startup_bench.exe RECORDER_EXE MINIMAL_EXE [STARTS]\n");
        return 2;
    }
    const int starts = argc > 3 ? std::wcstol(argv[3], nullptr, 10) : 10;
    if (starts < 1) {
        std::fwprintf(stderr, L"STARTS must be at least 1\n");
        return 2;
    }
    Program recorder{L"DateRecorder.exe", argv[1], L"TForm2", {}};
    Program minimal{L"minimal window", argv[2], L"MinimalWindow", {}};

    // One unmeasured start each fills the file cache; then alternate.
    if (!StartOnce(recorder) || !StartOnce(minimal))
        return 1;
    recorder.times.clear();
    minimal.times.clear();
    for (int i = 0; i < starts; ++i) {
        if (!StartOnce(recorder) || !StartOnce(minimal))
            return 1;
    }

    std::wprintf(L"Start-up to an idle window (%d starts each, CreateProcessW until WM_NULL answered)\n", starts);
    for (const Program* program : {&recorder, &minimal}) {
        const auto [low, high] = std::minmax_element(program->times.begin(), program->times.end());
        std::wprintf(L"  %-18ls mean %8.1f ms   min %8.1f ms   max %8.1f ms\n", program->label,
                     Mean(program->times) * 1e3, *low * 1e3, *high * 1e3);
    }
    std::wprintf(L"  ratio recorder / minimal: %.2f\n", Mean(recorder.times) / Mean(minimal.times));
    return 0;
}
