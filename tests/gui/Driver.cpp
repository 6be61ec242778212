#include "Driver.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <map>

namespace gui {

namespace {

constexpr wchar_t MainClass[] = L"TForm2";
constexpr wchar_t MainCaption[] = L"날짜구조체 저장";
constexpr DWORD PollMs = 10;

std::string Narrow(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
    return result;
}

std::map<std::wstring, ScenarioFunction>& Scenarios()
{
    static std::map<std::wstring, ScenarioFunction> scenarios;
    return scenarios;
}

void SendInputs(std::vector<INPUT>& inputs)
{
    UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    Check(sent == inputs.size(), L"SendInput sent " + std::to_wstring(sent) + L" of " +
                                     std::to_wstring(inputs.size()) + L" events");
}

INPUT KeyEvent(WORD virtualKey, bool up)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    switch (virtualKey) {
    case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN:
    case VK_HOME: case VK_END: case VK_PRIOR: case VK_NEXT: case VK_INSERT: case VK_DELETE:
        input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
        break;
    default:
        break;
    }
    if (up)
        input.ki.dwFlags |= KEYEVENTF_KEYUP;
    return input;
}

void RemoveTree(const std::wstring& folder)
{
    for (const std::wstring& name : FolderEntries(folder)) {
        std::wstring path = folder + L"\\" + name;
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            RemoveTree(path);
        else
            DeleteFileW(path.c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

void MakeFolder(const std::wstring& folder)
{
    Check(CreateDirectoryW(folder.c_str(), nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS,
          L"cannot create the folder " + folder + L": " + SystemMessage(GetLastError()));
}

BOOL CALLBACK CollectText(HWND child, LPARAM context)
{
    reinterpret_cast<std::vector<std::wstring>*>(context)->push_back(WindowText(child));
    return TRUE;
}

struct WindowSearch {
    HWND owner;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK MatchOwned(HWND window, LPARAM context)
{
    auto& search = *reinterpret_cast<WindowSearch*>(context);
    if (window != search.owner && IsWindowVisible(window) && GetWindow(window, GW_OWNER) == search.owner) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK MatchClass(HWND window, LPARAM context)
{
    auto& search = *reinterpret_cast<WindowSearch*>(context);
    if (IsWindowVisible(window) && ClassName(window) == search.className) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

Failure::Failure(const std::wstring& text) : std::runtime_error(Narrow(text)), Text(text) {}

void Check(bool condition, const std::wstring& whatWentWrong)
{
    if (!condition)
        throw Failure(whatWentWrong);
}

void Log(const wchar_t* format, ...)
{
    wchar_t line[2048];
    va_list arguments;
    va_start(arguments, format);
    _vsnwprintf(line, std::size(line) - 1, format, arguments);
    va_end(arguments);
    line[std::size(line) - 1] = L'\0';
    std::printf("  %s\n", Narrow(line).c_str());
    std::fflush(stdout);
}

ScenarioRegistration::ScenarioRegistration(const wchar_t* name, ScenarioFunction run)
{
    Scenarios()[name] = run;
}

ScenarioFunction FindScenario(const std::wstring& name)
{
    auto found = Scenarios().find(name);
    return found == Scenarios().end() ? nullptr : found->second;
}

std::vector<std::wstring> ScenarioNames()
{
    std::vector<std::wstring> names;
    for (const auto& [name, run] : Scenarios())
        names.push_back(name);
    return names;
}

Bytes Record(int year, int month, int day)
{
    auto low = [](int value) { return static_cast<std::uint8_t>(value & 0xFF); };
    auto high = [](int value) { return static_cast<std::uint8_t>((value >> 8) & 0xFF); };
    return {low(year), high(year), low(month), high(month), low(day), high(day)};
}

Bytes Join(const std::vector<Bytes>& records)
{
    Bytes all;
    for (const Bytes& record : records)
        all.insert(all.end(), record.begin(), record.end());
    return all;
}

std::wstring Hex(const Bytes& bytes)
{
    std::wstring text;
    wchar_t part[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        swprintf(part, std::size(part), L"%02X", bytes[i]);
        if (i != 0)
            text += (i % 6 == 0) ? L" | " : L" ";
        text += part;
    }
    return text.empty() ? L"(empty)" : text;
}

std::wstring WindowsPath(const std::wstring& path)
{
    if (path.empty() || path[0] != L'/')
        return path;
    // Under Wine only; on Windows ctest already passes Windows paths.
    using ToDos = WCHAR* (CDECL*)(const char*);
    auto toDos = reinterpret_cast<ToDos>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    Check(toDos != nullptr, L"cannot turn the Unix path " + path + L" into a Windows path");
    WCHAR* converted = toDos(Narrow(path).c_str());
    Check(converted != nullptr, L"Wine has no Windows path for " + path);
    std::wstring result(converted);
    HeapFree(GetProcessHeap(), 0, converted);
    return result;
}

std::wstring SystemMessage(DWORD errorCode)
{
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, errorCode, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length != 0 ? std::wstring(buffer, length) : std::wstring();
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n'))
        text.pop_back();
    return text;
}

std::wstring ShortDate(int year, int month, int day)
{
    SYSTEMTIME date{};
    date.wYear = static_cast<WORD>(year);
    date.wMonth = static_cast<WORD>(month);
    date.wDay = static_cast<WORD>(day);
    wchar_t text[128];
    int length = GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &date, nullptr, text, std::size(text));
    Check(length > 0, L"GetDateFormatW failed: " + SystemMessage(GetLastError()));
    return text;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(PollMs);
    }
}

std::optional<Bytes> FileBytes(const std::wstring& path)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    // The program holds the file without sharing for the moment of a write: try again.
    WaitUntil([&] {
        file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        return file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION;
    }, 2000);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    Bytes content;
    std::uint8_t buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read != 0)
        content.insert(content.end(), buffer, buffer + read);
    CloseHandle(file);
    return content;
}

std::optional<std::uint64_t> FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return std::nullopt;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void ExpectFileBytes(const std::wstring& path, const Bytes& expected, const std::wstring& when)
{
    WaitUntil([&] {
        auto size = FileSize(path);
        return size && *size >= expected.size();
    });
    std::optional<Bytes> actual = FileBytes(path);
    Check(actual.has_value(), when + L": test.dat cannot be read (" + SystemMessage(GetLastError()) +
                                  L"); expected " + Hex(expected));
    Check(*actual == expected, when + L": test.dat holds " + Hex(*actual) + L"; expected " + Hex(expected));
}

void PressKey(WORD virtualKey)
{
    std::vector<INPUT> inputs{KeyEvent(virtualKey, false), KeyEvent(virtualKey, true)};
    SendInputs(inputs);
}

void PressChord(const std::vector<WORD>& keys)
{
    std::vector<INPUT> inputs;
    for (WORD key : keys)
        inputs.push_back(KeyEvent(key, false));
    for (auto key = keys.rbegin(); key != keys.rend(); ++key)
        inputs.push_back(KeyEvent(*key, true));
    SendInputs(inputs);
}

void TypeText(const std::wstring& digitsAndLetters)
{
    for (wchar_t c : digitsAndLetters) {
        Check((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z'), L"TypeText takes digits and capitals only");
        PressKey(static_cast<WORD>(c));
    }
}

void ClickAt(POINT screen)
{
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT move{};
    move.type = INPUT_MOUSE;
    // Normalised 0..65535, aimed at the middle of the pixel.
    move.mi.dx = static_cast<LONG>((static_cast<LONGLONG>(screen.x) * 65536 + 32768) / width);
    move.mi.dy = static_cast<LONG>((static_cast<LONGLONG>(screen.y) * 65536 + 32768) / height);
    move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    INPUT down = move;
    down.mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    INPUT up = move;
    up.mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
    std::vector<INPUT> moving{move};
    SendInputs(moving);
    // Press only once the pointer is there, or the press may land where the pointer was.
    WaitUntil([&] {
        POINT at;
        return GetCursorPos(&at) && at.x == screen.x && at.y == screen.y;
    }, 1000);
    std::vector<INPUT> clicking{down, up};
    SendInputs(clicking);
}

POINT CentreOnScreen(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

std::wstring ClassName(HWND window)
{
    wchar_t name[256] = L"";
    GetClassNameW(window, name, std::size(name));
    return name;
}

std::wstring WindowText(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return L"";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 2000, &copied))
        return L"";
    text.resize(std::min<std::size_t>(copied, length));
    return text;
}

std::vector<std::wstring> TextsOfWindowAndDescendants(HWND window)
{
    std::vector<std::wstring> texts{WindowText(window)};
    EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

RECT RectInClientOf(HWND child, HWND parent)
{
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

HWND ChildOfClass(HWND parent, const wchar_t* className)
{
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassName(child) == className)
            return child;
    }
    return nullptr;
}

ScratchCopy::ScratchCopy(const Context& context)
{
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(std::size(current), current);
    const std::wstring base = std::wstring(current) + L"\\gui-scratch";
    MakeFolder(base);
    root_ = base + L"\\" + context.Scenario + L"-" + std::to_wstring(GetCurrentProcessId());
    RemoveTree(root_);
    MakeFolder(root_);
    // The program builds its messages from the full, long form of its path.
    wchar_t longRoot[MAX_PATH];
    if (GetLongPathNameW(root_.c_str(), longRoot, std::size(longRoot)) != 0)
        root_ = longRoot;
    exeFolder_ = root_ + L"\\program";
    workFolder_ = root_ + L"\\elsewhere";
    MakeFolder(exeFolder_);
    MakeFolder(workFolder_);
    exe_ = exeFolder_ + L"\\DateRecorder.exe";
    Check(CopyFileW(context.RecorderExe.c_str(), exe_.c_str(), TRUE) != 0,
          L"cannot copy " + context.RecorderExe + L": " + SystemMessage(GetLastError()));
}

ScratchCopy::~ScratchCopy()
{
    if (std::uncaught_exceptions() > 0) // left for a look after a failure
        Log(L"scratch files kept in %ls", root_.c_str());
    else
        RemoveTree(root_);
}

Recorder::Recorder(const ScratchCopy& copy)
{
    std::wstring commandLine = L"\"" + copy.Exe() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    Check(CreateProcessW(copy.Exe().c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         copy.WorkFolder().c_str(), &startup, &info_) != 0,
          L"cannot start " + copy.Exe() + L": " + SystemMessage(GetLastError()));

    const DWORD pid = info_.dwProcessId;
    bool found = WaitUntil([&] {
        for (HWND window = FindWindowExW(nullptr, nullptr, MainClass, MainCaption); window != nullptr;
             window = FindWindowExW(nullptr, window, MainClass, MainCaption)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == pid && IsWindowVisible(window)) {
                main_ = window;
                return true;
            }
        }
        return !Running();
    }, 15000);
    Check(found && main_ != nullptr,
          Running() ? std::wstring(L"no visible TForm2 window captioned 날짜구조체 저장 within 15 s")
                    : L"the program ended before its window appeared");
    button_ = ChildOfClass(main_, L"Button");
    picker_ = ChildOfClass(main_, L"SysDateTimePick32");
    Check(button_ != nullptr, L"the main window has no Button child");
    Check(picker_ != nullptr, L"the main window has no SysDateTimePick32 child");
    // Input goes to the foreground window; the program has it once the focus is set.
    Check(WaitUntil([&] { return Focus() != nullptr; }), L"no control of the program took the focus");
}

Recorder::~Recorder()
{
    if (Running()) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

HWND Recorder::Focus() const
{
    GUITHREADINFO state{};
    state.cbSize = sizeof state;
    return GetGUIThreadInfo(info_.dwThreadId, &state) ? state.hwndFocus : nullptr;
}

HWND Recorder::Active() const
{
    GUITHREADINFO state{};
    state.cbSize = sizeof state;
    return GetGUIThreadInfo(info_.dwThreadId, &state) ? state.hwndActive : nullptr;
}

bool Recorder::Running() const
{
    return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

void Recorder::BringToFront() const
{
    SetForegroundWindow(main_);
    Check(WaitUntil([&] { return GetForegroundWindow() == main_; }), L"the main window did not come to the front");
}

void Recorder::WaitForFocus(HWND expected, const std::wstring& what) const
{
    WaitUntil([&] { return Focus() == expected; });
    HWND focus = Focus();
    Check(focus == expected, L"the focus is not on " + what + L" but on a " +
                                 (focus != nullptr ? ClassName(focus) + L" \"" + WindowText(focus) + L"\""
                                                   : std::wstring(L"(nothing)")));
}

HWND Recorder::OwnedModal() const
{
    WindowSearch search{main_, nullptr, nullptr};
    EnumThreadWindows(info_.dwThreadId, MatchOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND Recorder::ThreadWindowOfClass(const wchar_t* className) const
{
    WindowSearch search{nullptr, className, nullptr};
    EnumThreadWindows(info_.dwThreadId, MatchClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::optional<DWORD> Recorder::WaitForExit(DWORD timeoutMs) const
{
    if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

void Recorder::CloseAndExpectCleanExit()
{
    PostMessageW(main_, WM_CLOSE, 0, 0);
    std::optional<DWORD> code = WaitForExit();
    Check(code.has_value(), L"the program did not end within 10 s of WM_CLOSE");
    Check(*code == 0, L"the program ended with exit code " + std::to_wstring(*code) + L", not 0");
}

void ExpectErrorShownAndDismiss(const Recorder& app, const std::wstring& message)
{
    HWND dialog = nullptr;
    Check(WaitUntil([&] { return (dialog = app.OwnedModal()) != nullptr; }),
          L"no window owned by the main window appeared; expected one saying: " + message);
    Log(L"error window: class %ls, caption \"%ls\"", ClassName(dialog).c_str(), WindowText(dialog).c_str());
    Check(!IsWindowEnabled(app.Main()), L"the main window still takes input while the error is shown");

    std::vector<std::wstring> texts;
    bool shown = WaitUntil([&] {
        texts = TextsOfWindowAndDescendants(dialog);
        return std::any_of(texts.begin(), texts.end(),
                           [&](const std::wstring& text) { return text.find(message) != std::wstring::npos; });
    }, 2000);
    if (!shown) {
        std::wstring seen;
        for (const std::wstring& text : texts)
            seen += L"\n    [" + text + L"]";
        Check(false, L"the error window does not say: " + message + L"\n  its texts:" + seen);
    }

    SetForegroundWindow(dialog);
    PressKey(VK_ESCAPE);
    Check(WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }),
          L"the error window did not close on Esc");
    Check(WaitUntil([&] { return IsWindowEnabled(app.Main()) != 0; }),
          L"the main window stays disabled after the error window closed");
    Check(app.Running(), L"the program ended after the error window closed");
}

} // namespace gui
