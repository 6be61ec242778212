// Pieces the reporter's end-to-end scenarios share: the program started with a command line
// of our choosing (and found again after it restarted itself), the record file held by another
// process, the error dialog's controls, the log beside the exe, another process's command line.
#pragma once

#include "Driver.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace e2e {

// test.dat held open without sharing by tests/support hold_file, until released.
class THeldFile {
public:
    THeldFile(const std::wstring& holdFileExe, const std::wstring& path);
    ~THeldFile();
    THeldFile(const THeldFile&) = delete;
    THeldFile& operator=(const THeldFile&) = delete;
    void Release();

private:
    std::wstring releaseName_;
    HANDLE release_ = nullptr;
    PROCESS_INFORMATION info_{};
};

// One running copy of the program. Ends it by force if a scenario stops early.
class TProgram {
public:
    // Starts `exe` with `commandLine` in `directory` and waits for its main window.
    TProgram(const std::wstring& exe, std::wstring commandLine, const std::wstring& directory);
    // The copy that some other process (a restart) started: the main window of another pid.
    static TProgram FindNewCopy(DWORD notThisPid, DWORD timeoutMs = 15000);
    TProgram(TProgram&& other) noexcept;
    ~TProgram();

    HWND Main() const { return main_; }
    HWND Button() const;
    HWND Picker() const;
    DWORD Pid() const { return pid_; }
    DWORD Thread() const { return thread_; }
    HANDLE Process() const { return process_; }
    bool Running() const;
    std::optional<DWORD> WaitForExit(DWORD timeoutMs) const;
    // The visible dialog owned by the main window, or null.
    HWND ErrorDialog() const;
    HWND DetailsDialog() const; // owned by the error dialog
    int WindowCount() const;    // top-level windows of its thread

private:
    TProgram() = default;
    void FindMainWindow(DWORD timeoutMs);

    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    DWORD thread_ = 0;
    HWND main_ = nullptr;
};

std::wstring ReadCommandLine(HANDLE process);      // from the process's own parameters block
std::wstring ReadCurrentDirectory(HANDLE process); // likewise, without a trailing '\'
std::wstring ExpectedOpenError(const std::wstring& recordFile);
// The log's sound reports; none when it does not exist yet.
size_t ReportCount(const std::wstring& logPath);
std::string NewestReport(const std::wstring& logPath);

// Clicks near the left end of `control` (where a link's or check box's text starts) until
// `effect` holds. Wine's synthesized clicks are now and then lost; each retry is logged.
void ClickUntil(HWND control, const std::function<bool()>& effect, const std::wstring& what);
// Enter on the focused Add button, with the program in front.
void PressAdd(const TProgram& app);
// Presses Add and waits for our dialog with the message.
HWND FailAdd(const TProgram& app, const std::wstring& message);
// Esc, and the dialog is gone and the main window takes input again.
void DismissWithEscape(const TProgram& app, HWND dialog);

} // namespace e2e
