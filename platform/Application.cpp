#include "Application.h"

#include "Exceptions.h"
#include "RunTime.h"

#include <commctrl.h>

#include <cstdlib>

namespace {

constinit TApplication TheApplication;

// Parked by window procedures, handled when the loop has control again.
std::vector<std::exception_ptr> ParkedErrors;

const wchar_t ApplicationWindowClass[] = L"TApplicationWindow";

// System DLLs loaded at run time come from the system folder only, never the exe's folder.
void RestrictDllSearch()
{
    using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
    auto setDirectories = reinterpret_cast<TSetDefaultDllDirectories>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDirectories != nullptr)
        setDirectories(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
}

// Enter with Shift, Ctrl or Alt presses nothing: it goes to the focused control as a plain
// key instead of to the dialog manager, which would click a focused button with it.
bool IsModifiedEnter(const MSG& message)
{
    bool enterKey = ((message.message == WM_KEYDOWN || message.message == WM_KEYUP) && message.wParam == VK_RETURN) ||
                    (message.message == WM_CHAR && (message.wParam == L'\r' || message.wParam == L'\n'));
    bool modified = GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0;
    return enterKey && modified;
}

std::wstring Title()
{
    std::wstring name = ExeFileName();
    name.erase(0, ExtractFilePath(name).size());
    if (size_t dot = name.rfind(L'.'); dot != std::wstring::npos)
        name.erase(dot);
    return name;
}

} // namespace

TApplication* const Application = &TheApplication;

void TApplication::Initialize()
{
    RestrictDllSearch();
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_DATE_CLASSES;
    InitCommonControlsEx(&controls);
}

TWindowPlacement TApplication::PlacementForNewForm()
{
    if (creatingFirstForm_ && MainFormOnTaskBar)
        return {nullptr, WS_EX_APPWINDOW};
    if (applicationWindow_ == nullptr) {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = instance;
        windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
        windowClass.lpszClassName = ApplicationWindowClass;
        RegisterClassExW(&windowClass);
        applicationWindow_ = CreateWindowExW(0, ApplicationWindowClass, Title().c_str(),
                                             WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE,
                                             0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    }
    return {applicationWindow_, 0};
}

void TApplication::Run()
{
    if (mainForm_ == nullptr)
        return;
    mainForm_->Show(SW_SHOWDEFAULT);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // The dialog manager gives Tab between controls and Space/Enter on a focused button.
        HWND main = mainForm_->Handle();
        if (main == nullptr || IsModifiedEnter(message) || !IsDialogMessageW(main, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        HandleParkedException();
    }
}

void TApplication::FormDestroyed(TForm* form) noexcept
{
    if (form == mainForm_)
        PostQuitMessage(0);
}

void TApplication::ParkException(std::exception_ptr error) noexcept
{
    try {
        ParkedErrors.push_back(std::move(error));
    } catch (...) {
        // No memory even for the list: the error can only be dropped.
    }
}

void TApplication::HandleParkedException() noexcept
{
    while (!ParkedErrors.empty()) {
        std::exception_ptr error = std::move(ParkedErrors.front());
        ParkedErrors.erase(ParkedErrors.begin());
        HandleException(error);
    }
}

void TApplication::HandleException(const std::exception_ptr& error) noexcept
{
    if (OnException != nullptr) {
        try {
            OnException(error);
            return;
        } catch (...) {
            // A handler that fails must not hide the error: fall back to the message box.
        }
    }
    ShowException(error);
}

void TApplication::ShowException(const std::exception_ptr& error) noexcept
{
    try {
        HWND owner = mainForm_ != nullptr ? mainForm_->Handle() : nullptr;
        MessageBoxW(owner, ExceptionMessage(error).c_str(), Title().c_str(), MB_OK | MB_ICONERROR);
    } catch (...) {
        MessageBoxW(nullptr, L"An error occurred, and its message could not be shown.", L"Error",
                    MB_OK | MB_ICONERROR);
    }
}

void TApplication::StartupFailed(const std::exception_ptr& error) noexcept
{
    HandleException(error);
    std::exit(EXIT_FAILURE);
}
