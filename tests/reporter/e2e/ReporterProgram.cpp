#include "ReporterProgram.h"

#include "ErrorDialog_win.h"
#include "ReportLog_win.h"

#include <functional>
#include <utility>
#include <vector>

namespace e2e {

using gui::Check;
using gui::WaitUntil;

namespace {

constexpr wchar_t MainClass[] = L"TForm2";
constexpr wchar_t MainCaption[] = L"날짜구조체 저장";

struct TOwnedSearch {
    HWND Owner;
    int ControlId;
    HWND Found;
};

BOOL CALLBACK MatchOwnedDialog(HWND window, LPARAM data)
{
    auto& search = *reinterpret_cast<TOwnedSearch*>(data);
    if (GetWindow(window, GW_OWNER) == search.Owner && IsWindowVisible(window) &&
        gui::ClassName(window) == L"#32770" && GetDlgItem(window, search.ControlId) != nullptr) {
        search.Found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CountWindow(HWND, LPARAM data)
{
    ++*reinterpret_cast<int*>(data);
    return TRUE;
}

// Reads a UNICODE_STRING at `address` in the other (32-bit) process.
std::wstring ReadRemoteString(HANDLE process, DWORD address)
{
    struct {
        USHORT Length, MaximumLength;
        DWORD Buffer;
    } text{};
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<ULONG_PTR>(address)), &text, sizeof text, &read))
        return L"<unreadable>";
    std::wstring value(text.Length / 2, L'\0');
    if (!value.empty() && !ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<ULONG_PTR>(text.Buffer)),
                                             value.data(), text.Length, &read))
        return L"<unreadable>";
    return value;
}

DWORD ParametersOf(HANDLE process)
{
    struct {
        LONG ExitStatus;
        DWORD PebBaseAddress;
        ULONG_PTR AffinityMask;
        LONG BasePriority;
        ULONG_PTR UniqueProcessId, InheritedFromUniqueProcessId;
    } basic{};
    using TQuery = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<TQuery>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    Check(query != nullptr, L"ntdll has no NtQueryInformationProcess");
    ULONG length = 0;
    Check(query(process, 0 /* ProcessBasicInformation */, &basic, sizeof basic, &length) == 0,
          L"NtQueryInformationProcess failed");
    DWORD parameters = 0;
    SIZE_T read = 0;
    Check(ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<ULONG_PTR>(basic.PebBaseAddress + 0x10)),
                            &parameters, sizeof parameters, &read) != 0,
          L"cannot read the other process's PEB");
    return parameters;
}

} // namespace

THeldFile::THeldFile(const std::wstring& holdFileExe, const std::wstring& path)
{
    const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
    const std::wstring readyName = L"reporter-e2e-ready-" + tag;
    releaseName_ = L"reporter-e2e-release-" + tag;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    release_ = CreateEventW(nullptr, TRUE, FALSE, releaseName_.c_str());
    std::wstring commandLine = L"\"" + holdFileExe + L"\" \"" + path + L"\" " + readyName + L" " + releaseName_;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    Check(CreateProcessW(holdFileExe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &info_) != 0,
          L"cannot start " + holdFileExe);
    bool held = WaitForSingleObject(ready, 10000) == WAIT_OBJECT_0;
    CloseHandle(ready);
    Check(held, L"hold_file did not report the file held");
}

void THeldFile::Release()
{
    if (release_ == nullptr)
        return;
    SetEvent(release_);
    WaitForSingleObject(info_.hProcess, 10000);
    CloseHandle(release_);
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
    release_ = nullptr;
}

THeldFile::~THeldFile()
{
    Release();
}

TProgram::TProgram(const std::wstring& exe, std::wstring commandLine, const std::wstring& directory)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    Check(CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(),
                         &startup, &info) != 0,
          L"cannot start " + exe + L": " + gui::SystemMessage(GetLastError()));
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = info.dwProcessId;
    FindMainWindow(15000);
}

TProgram TProgram::FindNewCopy(DWORD notThisPid, DWORD timeoutMs)
{
    TProgram copy;
    HWND found = nullptr;
    WaitUntil([&] {
        for (HWND window = FindWindowExW(nullptr, nullptr, MainClass, MainCaption); window != nullptr;
             window = FindWindowExW(nullptr, window, MainClass, MainCaption)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid != notThisPid && IsWindowVisible(window)) {
                found = window;
                copy.pid_ = pid;
                return true;
            }
        }
        return false;
    }, timeoutMs);
    Check(found != nullptr, L"no new copy of the program appeared");
    copy.process_ = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE | SYNCHRONIZE,
                                FALSE, copy.pid_);
    Check(copy.process_ != nullptr, L"cannot open the new copy's process");
    copy.FindMainWindow(5000);
    // Key presses go to the foreground window, and a copy started by another process may not be it.
    Check(WaitUntil([&] {
              SetForegroundWindow(copy.main_);
              GUITHREADINFO state{};
              state.cbSize = sizeof state;
              return GetForegroundWindow() == copy.main_ && GetGUIThreadInfo(copy.thread_, &state) &&
                     state.hwndActive == copy.main_ && state.hwndFocus == copy.Button();
          }),
          L"the new copy did not come to the front with the focus on Add");
    // Wine may still take the foreground away while it tidies up after the old copy.
    Sleep(500);
    return copy;
}

TProgram::TProgram(TProgram&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), pid_(other.pid_), thread_(other.thread_), main_(other.main_)
{
}

TProgram::~TProgram()
{
    if (process_ == nullptr)
        return;
    if (Running()) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

void TProgram::FindMainWindow(DWORD timeoutMs)
{
    bool found = WaitUntil([&] {
        for (HWND window = FindWindowExW(nullptr, nullptr, MainClass, MainCaption); window != nullptr;
             window = FindWindowExW(nullptr, window, MainClass, MainCaption)) {
            DWORD pid = 0;
            DWORD thread = GetWindowThreadProcessId(window, &pid);
            if (pid == pid_ && IsWindowVisible(window)) {
                main_ = window;
                thread_ = thread;
                return true;
            }
        }
        return !Running();
    }, timeoutMs);
    Check(found && main_ != nullptr, L"the program's main window did not appear");
    // Input goes where the focus is; the program has it once its button is focused.
    Check(WaitUntil([&] {
              GUITHREADINFO state{};
              state.cbSize = sizeof state;
              return GetGUIThreadInfo(thread_, &state) && state.hwndFocus == Button();
          }),
          L"the Add button did not get the focus");
}

HWND TProgram::Button() const
{
    return gui::ChildOfClass(main_, L"Button");
}

HWND TProgram::Picker() const
{
    return gui::ChildOfClass(main_, L"SysDateTimePick32");
}

bool TProgram::Running() const
{
    return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> TProgram::WaitForExit(DWORD timeoutMs) const
{
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

HWND TProgram::ErrorDialog() const
{
    TOwnedSearch search{main_, ErrorDialogId::Message, nullptr};
    EnumThreadWindows(thread_, MatchOwnedDialog, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

HWND TProgram::DetailsDialog() const
{
    HWND error = ErrorDialog();
    if (error == nullptr)
        return nullptr;
    TOwnedSearch search{error, ErrorDialogId::Tabs, nullptr};
    EnumThreadWindows(thread_, MatchOwnedDialog, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

int TProgram::WindowCount() const
{
    int count = 0;
    EnumThreadWindows(thread_, CountWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

std::wstring ReadCommandLine(HANDLE process)
{
    return ReadRemoteString(process, ParametersOf(process) + 0x40);
}

std::wstring ReadCurrentDirectory(HANDLE process)
{
    std::wstring directory = ReadRemoteString(process, ParametersOf(process) + 0x24);
    if (directory.size() > 3 && directory.back() == L'\\')
        directory.pop_back();
    return directory;
}

std::wstring ExpectedOpenError(const std::wstring& recordFile)
{
    return L"Cannot open file \"" + recordFile + L"\". " + gui::SystemMessage(ERROR_SHARING_VIOLATION);
}

size_t ReportCount(const std::wstring& logPath)
{
    TLogContents contents;
    Check(ReadReportLog(logPath, contents), L"the log exists but cannot be read: " + logPath);
    return contents.Reports.size();
}

std::string NewestReport(const std::wstring& logPath)
{
    TLogContents contents;
    Check(ReadReportLog(logPath, contents) && !contents.Reports.empty(), L"the log holds no report");
    return contents.Reports.back();
}

void PressAdd(const TProgram& app)
{
    // Under Wine the end of the old copy can take the foreground from a restarted one a moment
    // after it was given: make sure the key goes to the program, as a person would.
    if (GetForegroundWindow() != app.Main()) {
        SetForegroundWindow(app.Main());
        Check(WaitUntil([&] { return GetForegroundWindow() == app.Main(); }), L"the program is not in front");
    }
    gui::PressKey(VK_RETURN);
}

void ClickUntil(HWND control, const std::function<bool()>& effect, const std::wstring& what)
{
    RECT rect;
    GetWindowRect(control, &rect);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        gui::ClickAt({rect.left + 8, (rect.top + rect.bottom) / 2});
        if (WaitUntil(effect, 1500))
            return;
        gui::Log(L"click %d on %ls had no effect", attempt, what.c_str());
    }
    Check(false, L"three clicks on " + what + L" had no effect");
}

HWND FailAdd(const TProgram& app, const std::wstring& message)
{
    PressAdd(app);
    HWND dialog = nullptr;
    if (!WaitUntil([&] { return (dialog = app.ErrorDialog()) != nullptr; })) {
        std::wstring seen;
        for (const std::wstring& text : gui::TextsOfWindowAndDescendants(GetForegroundWindow()))
            seen += L" [" + text + L"]";
        Check(false, L"our error dialog did not appear after a failed Add; program running: " +
                         std::to_wstring(app.Running()) + L"; foreground window says:" + seen);
    }
    Check(!IsWindowEnabled(app.Main()), L"the main window takes input while the dialog is open");
    std::wstring shown;
    WaitUntil([&] { return (shown = gui::WindowText(GetDlgItem(dialog, ErrorDialogId::Message))) == message; }, 2000);
    Check(shown == message, L"the dialog says [" + shown + L"], expected [" + message + L"]");
    // Keys and clicks that follow are meant for the dialog: wait until it has the input.
    Check(WaitUntil([&] {
              GUITHREADINFO state{};
              state.cbSize = sizeof state;
              return GetForegroundWindow() == dialog && GetGUIThreadInfo(app.Thread(), &state) &&
                     state.hwndActive == dialog;
          }),
          L"the error dialog did not become the active window");
    return dialog;
}

void DismissWithEscape(const TProgram& app, HWND dialog)
{
    gui::PressKey(VK_ESCAPE);
    Check(WaitUntil([&] { return !IsWindow(dialog); }), L"the dialog did not close on Esc");
    Check(WaitUntil([&] { return IsWindowEnabled(app.Main()) != 0; }), L"the main window stays disabled");
}

} // namespace e2e
