// Shared pieces of the window tests: a scratch copy of the program, starting it, finding
// its windows, real key presses and clicks, waiting for effects and reading test.dat.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace gui {

// A failed check. The scenario stops; main prints the text and returns 1.
struct Failure : std::runtime_error {
    explicit Failure(const std::wstring& text);
    std::wstring Text;
};

void Check(bool condition, const std::wstring& whatWentWrong);
void Log(const wchar_t* format, ...);

// What the test registration passes to every scenario.
struct Context {
    std::wstring Scenario;
    std::wstring RecorderExe; // the built program, copied by every scenario
    std::wstring HoldFileExe; // tests/support hold_file
};

using ScenarioFunction = void (*)(const Context&);

// Scenarios register themselves from their own files: one object each, linked into the driver.
struct ScenarioRegistration {
    ScenarioRegistration(const wchar_t* name, ScenarioFunction run);
};
ScenarioFunction FindScenario(const std::wstring& name);
std::vector<std::wstring> ScenarioNames();

using Bytes = std::vector<std::uint8_t>;

// The six bytes one Add appends for a date.
Bytes Record(int year, int month, int day);
Bytes Join(const std::vector<Bytes>& records);
std::wstring Hex(const Bytes& bytes);

// A Unix path from the command line (ctest passes them under Wine) as a Windows path.
std::wstring WindowsPath(const std::wstring& path);
std::wstring SystemMessage(DWORD errorCode); // without the trailing line end
std::wstring ShortDate(int year, int month, int day); // as the user's locale writes it

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

std::optional<Bytes> FileBytes(const std::wstring& path);
std::optional<std::uint64_t> FileSize(const std::wstring& path); // without opening the file
std::vector<std::wstring> FolderEntries(const std::wstring& folder);

// Waits until the file holds at least as many bytes as expected, then checks it holds exactly them.
void ExpectFileBytes(const std::wstring& path, const Bytes& expected, const std::wstring& when);

// Real input, sent to whatever window has the focus.
void PressKey(WORD virtualKey);
void PressChord(const std::vector<WORD>& keys); // held in order, released in reverse
void TypeText(const std::wstring& digitsAndLetters);
void ClickAt(POINT screen);
POINT CentreOnScreen(HWND window);

std::wstring ClassName(HWND window);
std::wstring WindowText(HWND window); // WM_GETTEXT, which works across processes
std::vector<std::wstring> TextsOfWindowAndDescendants(HWND window);
RECT RectInClientOf(HWND child, HWND parent);
HWND ChildOfClass(HWND parent, const wchar_t* className);

// A fresh folder with a copy of the program, and another folder to start it from, so that
// test.dat starts absent and a write into the working directory would show.
class ScratchCopy {
public:
    ScratchCopy(const Context& context);
    ~ScratchCopy();
    ScratchCopy(const ScratchCopy&) = delete;
    ScratchCopy& operator=(const ScratchCopy&) = delete;

    const std::wstring& Exe() const { return exe_; }
    const std::wstring& ExeFolder() const { return exeFolder_; }
    const std::wstring& WorkFolder() const { return workFolder_; }
    std::wstring RecordFile() const { return exeFolder_ + L"\\test.dat"; }

private:
    std::wstring root_, exeFolder_, workFolder_, exe_;
};

// The program copy, running. Ends it by force if a scenario stops before it exited.
class Recorder {
public:
    explicit Recorder(const ScratchCopy& copy);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    HWND Main() const { return main_; }
    HWND Button() const { return button_; }
    HWND Picker() const { return picker_; }
    DWORD ProcessId() const { return info_.dwProcessId; }
    DWORD ThreadId() const { return info_.dwThreadId; }
    HANDLE Process() const { return info_.hProcess; }

    HWND Focus() const;
    HWND Active() const;
    bool Running() const;
    void BringToFront() const;
    void WaitForFocus(HWND expected, const std::wstring& what) const;
    // Another visible top-level window of the program's thread, owned by the main window.
    HWND OwnedModal() const;
    HWND ThreadWindowOfClass(const wchar_t* className) const;

    std::optional<DWORD> WaitForExit(DWORD timeoutMs = 10000) const;
    void CloseAndExpectCleanExit(); // WM_CLOSE, exit code 0

private:
    PROCESS_INFORMATION info_{};
    HWND main_ = nullptr;
    HWND button_ = nullptr;
    HWND picker_ = nullptr;
};

// Waits for the owned modal window, checks its text holds `message`, closes it with Esc.
void ExpectErrorShownAndDismiss(const Recorder& app, const std::wstring& message);

} // namespace gui

#define GUI_SCENARIO(name, function) \
    static const ::gui::ScenarioRegistration function##Registration{name, function}
