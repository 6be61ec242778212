// The reporter as the program has it, installed before the entry: every kind of error that
// escapes an event handler (ours, the standard library's, a thrown value, an access violation)
// goes through the window procedure and the message loop's hand-over to our dialog and one
// report in the log, and the program runs on.

#include "Application.h"
#include "Button.h"
#include "ErrorDialog_win.h"
#include "Exceptions.h"
#include "ReportLog.h"
#include "ReportLog_win.h"
#include "Restart_win.h"
#include "RunTime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

enum class TKind { OpenError, CreateError, Standard, OutOfMemory, Value, AccessViolation };

TKind Failure = TKind::Standard;

// Kept apart so the fault happens in this program's own code, in a frame of its own.
__attribute__((noinline)) void ReadThroughNull(volatile int* address)
{
    int value = *address;
    (void)value;
}

void FailingClick(TObject*)
{
    switch (Failure) {
    case TKind::OpenError: throw EFOpenError(L"C:\\nowhere\\test.dat", ERROR_SHARING_VIOLATION);
    case TKind::CreateError: throw EFCreateError(L"C:\\nowhere\\test.dat", ERROR_ACCESS_DENIED);
    case TKind::Standard: throw std::runtime_error("a standard error");
    case TKind::OutOfMemory: throw std::bad_alloc();
    case TKind::Value: throw 42;
    case TKind::AccessViolation: ReadThroughNull(nullptr); break;
    }
}

class TFailingForm : public TForm
{
public:
    TButton* btnFail = nullptr;
    TFailingForm()
    {
        TFormBinding published;
        published.Field(L"btnFail", btnFail);
        published.Handler(L"btnFailClick", FailingClick);
        ApplyLayout(L"FormF: TFailingForm {\n  btnFail: TButton {\n    OnClick = btnFailClick\n  }\n}\n", published);
    }
};

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

struct TDialogSearch
{
    HWND Ours = nullptr;
    HWND Other = nullptr; // a visible dialog that is not ours: the plain message box
};

BOOL CALLBACK FindDialogs(HWND window, LPARAM data)
{
    auto& search = *reinterpret_cast<TDialogSearch*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window) || ClassOf(window) != L"#32770")
        return TRUE;
    if (GetDlgItem(window, ErrorDialogId::Message) != nullptr)
        search.Ours = window;
    else
        search.Other = window;
    return TRUE;
}

std::wstring TextOf(HWND window)
{
    wchar_t text[1024] = {};
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

struct TSeen
{
    bool Ours = false;
    bool Other = false;
    std::wstring Message;
};

// Presses the button through the real window procedure, lets the loop hand the parked error on,
// and closes whatever dialog comes up from a second thread.
TSeen PressAndDismiss(TFailingForm& form)
{
    TSeen seen;
    std::atomic<bool> done{false};
    std::thread closer([&] {
        DWORD until = GetTickCount() + 10'000;
        while (!done && GetTickCount() < until) {
            TDialogSearch search;
            EnumWindows(FindDialogs, reinterpret_cast<LPARAM>(&search));
            if (search.Other != nullptr) {
                seen.Other = true;
                PostMessageW(search.Other, WM_COMMAND, IDOK, 0);
            }
            if (search.Ours != nullptr) {
                seen.Ours = true;
                seen.Message = TextOf(GetDlgItem(search.Ours, ErrorDialogId::Message));
                PostMessageW(search.Ours, WM_COMMAND, IDCANCEL, 0);
            }
            Sleep(30);
        }
    });
    HWND button = form.btnFail->Handle();
    SendMessageW(form.Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    Application->HandleParkedException();
    done = true;
    closer.join();
    return seen;
}

size_t Reports(TLogContents& contents)
{
    contents = {};
    ReadReportLog(ReportLogPath(), contents);
    return contents.Reports.size();
}

struct TCase
{
    TKind Kind;
    const char* ClassName; // as the report's General section names it
    const wchar_t* Message;
};

TEST(EveryErrorKind, ShowsOurDialogAddsOneReportAndTheProgramRunsOn)
{
    Application->Initialize();
    DeleteFileW(ReportLogPath().c_str());
    TFailingForm form;

    const TCase cases[] = {
        {TKind::OpenError, "EFOpenError", L"Cannot open file \"C:\\nowhere\\test.dat\". "},
        {TKind::CreateError, "EFCreateError", L"Cannot create file \"C:\\nowhere\\test.dat\". "},
        {TKind::Standard, "std::runtime_error", L"a standard error"},
        {TKind::OutOfMemory, "std::bad_alloc", L"std::bad_alloc"},
        {TKind::Value, "int", L""},
        {TKind::AccessViolation, "ENativeFault", L"Access violation"},
    };
    size_t expected = 0;
    for (const TCase& c : cases) {
        Failure = c.Kind;
        TSeen seen = PressAndDismiss(form);
        EXPECT_TRUE(seen.Ours) << c.ClassName << ": our dialog did not appear";
        EXPECT_FALSE(seen.Other) << c.ClassName << ": a plain message box appeared";
        EXPECT_EQ(seen.Message.find(c.Message), 0u) << c.ClassName << ": " << WideToUtf8(seen.Message);

        TLogContents log;
        EXPECT_EQ(Reports(log), ++expected) << c.ClassName;
        if (!log.Reports.empty()) {
            const std::string& report = log.Reports.back();
            EXPECT_NE(report.find("Class:        " + std::string(c.ClassName)), std::string::npos)
                << c.ClassName << " not named in:\n" << report.substr(0, 1500);
            if (c.Kind == TKind::AccessViolation)
                EXPECT_NE(report.find("ReadThroughNull"), std::string::npos) << "the faulting function is not named";
            else
                EXPECT_NE(report.find("FailingClick"), std::string::npos) << "the throwing function is not named";
        }
        EXPECT_TRUE(IsWindow(form.Handle())) << c.ClassName << ": the window is gone";
    }
    DeleteFileW(ReportLogPath().c_str());
}

TEST(RestartState, IsTheStartupOneEvenAfterTheProgramChangesItsDirectory)
{
    wchar_t before[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, before);
    // Recorded before the entry ran, from the process's own command line.
    EXPECT_EQ(StartupCommandLine(), std::wstring(GetCommandLineW()));
    EXPECT_EQ(StartupDirectory(), std::wstring(before));

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    ASSERT_TRUE(SetCurrentDirectoryW(temp));
    EXPECT_EQ(StartupDirectory(), std::wstring(before));
    SetCurrentDirectoryW(before);
}

} // namespace
