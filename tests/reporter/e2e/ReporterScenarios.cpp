// The error reporter end to end: the real program, test.dat held by another process, real key
// presses and clicks. What the user sees, what the log gets, and the restarts.
#include "ReporterProgram.h"

#include "ErrorDialog_win.h"
#include "ReportLog.h"
#include "RunTime.h"

#include <commctrl.h>

#include <algorithm>

namespace {

using namespace e2e;
using gui::Check;
using gui::WaitUntil;
namespace Id = ErrorDialogId;

std::wstring LogOf(const gui::ScratchCopy& copy)
{
    return copy.ExeFolder() + L"\\DateRecorder.elf";
}

void ExpectReports(const gui::ScratchCopy& copy, size_t expected, const std::wstring& when)
{
    size_t count = 0;
    WaitUntil([&] { return (count = ReportCount(LogOf(copy))) >= expected; }, 5000);
    Check(count == expected, when + L": the log holds " + std::to_wstring(count) + L" reports, expected " +
                                 std::to_wstring(expected));
}

void ExpectRestartBox(HWND dialog, bool shown, int errorNumber)
{
    HWND box = GetDlgItem(dialog, Id::RestartBox);
    const std::wstring which = L"error " + std::to_wstring(errorNumber);
    Check((box != nullptr && IsWindowVisible(box)) == shown,
          which + (shown ? L": no restart box" : L": a restart box before the fourth error"));
    if (shown)
        Check(SendMessageW(box, BM_GETCHECK, 0, 0) == BST_UNCHECKED, which + L": the restart box starts ticked");
}

// Opens the detailed view with a click on the link, reads every tab (Right moves to the next)
// and checks each text against the newest report once the dialog has closed.
std::vector<std::wstring> ReadDetails(const TProgram& app, HWND dialog, bool restartOffered)
{
    HWND details = nullptr;
    ClickUntil(GetDlgItem(dialog, Id::DetailsLink), [&] { return (details = app.DetailsDialog()) != nullptr; },
               L"the details link");
    HWND tabs = GetDlgItem(details, Id::Tabs);
    Check(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0) == 6, L"the detailed view does not have six tabs");
    HWND restart = GetDlgItem(details, Id::RestartButton);
    Check((IsWindowVisible(restart) != FALSE) == restartOffered, L"the Restart button in the details is wrong");
    std::vector<std::wstring> texts;
    for (int tab = 0; tab < 6; ++tab) {
        if (tab > 0)
            gui::PressKey(VK_RIGHT);
        Check(WaitUntil([&] { return SendMessageW(tabs, TCM_GETCURSEL, 0, 0) == tab; }),
              L"Right did not move to tab " + std::to_wstring(tab + 1));
        std::wstring text;
        WaitUntil([&] { return !(text = gui::WindowText(GetDlgItem(details, Id::SectionText))).empty() &&
                               (texts.empty() || text != texts.back()); }, 2000);
        texts.push_back(text);
    }
    gui::PressKey(VK_ESCAPE);
    Check(WaitUntil([&] { return !IsWindow(details); }), L"Esc did not close the detailed view");
    return texts;
}

void ExpectDetailsInLog(const std::vector<std::wstring>& texts, const std::string& report)
{
    auto withoutCr = [](std::string text) {
        std::erase(text, '\r');
        return text;
    };
    const std::string logged = withoutCr(report);
    const char* titles[] = {"[General]", "[Call Stack]", "[Modules]", "[Processes]", "[Assembler]", "[CPU]"};
    for (size_t i = 0; i < texts.size(); ++i) {
        Check(logged.find(titles[i]) != std::string::npos, L"the report has no section " + Utf8ToWide(titles[i]));
        Check(logged.find(withoutCr(WideToUtf8(texts[i]))) != std::string::npos,
              L"tab " + std::to_wstring(i + 1) + L" shows text that is not in the log");
    }
}

// The stack names the failing open, the record writer and the Add command, and goes on past the
// system's dispatch frames to the message loop and the entry, in that order.
void ExpectNamedStack(const std::string& report)
{
    const size_t start = report.find("[Call Stack]");
    const size_t end = report.find("[Modules]");
    Check(start != std::string::npos && end != std::string::npos, L"the report has no call stack");
    const std::string stack = report.substr(start, end - start);
    const char* frames[] = {"TFileStream::TFileStream", "TForm2::SaveDateRecord", "TForm2::btnAddClick",
                            "TButton::Press", "TForm::WindowProc", "TApplication::Run", "wWinMain"};
    size_t at = 0;
    for (const char* frame : frames) {
        at = stack.find(frame, at);
        Check(at != std::string::npos, L"the call stack does not name " + Utf8ToWide(frame) +
                                           L" where expected:\n" + Utf8ToWide(stack));
    }
}

struct TResourceCounts {
    DWORD Gdi, User, Handles;
    int Windows;
};

TResourceCounts CountResources(const TProgram& app)
{
    TResourceCounts counts{GetGuiResources(app.Process(), GR_GDIOBJECTS),
                           GetGuiResources(app.Process(), GR_USEROBJECTS), 0, app.WindowCount()};
    GetProcessHandleCount(app.Process(), &counts.Handles);
    return counts;
}

// Nine errors: the box from the fourth, the detailed view, input to the main window ignored,
// one report each, nothing written to test.dat, nothing left over; then Add works again.
void NineErrors(const gui::Context& context)
{
    gui::ScratchCopy copy(context);
    THeldFile held(context.HoldFileExe, copy.RecordFile());
    TProgram app(copy.Exe(), L"\"" + copy.Exe() + L"\"", copy.WorkFolder());
    const std::wstring message = ExpectedOpenError(copy.RecordFile());
    TResourceCounts baseline{};
    for (int n = 1; n <= 9; ++n) {
        HWND dialog = FailAdd(app, message);
        ExpectRestartBox(dialog, n >= 4, n);
        std::vector<std::wstring> details;
        if (n == 1 || n == 5)
            details = ReadDetails(app, dialog, n >= 4);
        if (n == 2) {
            // A click on Add while the dialog is open must do nothing: it would be one more error.
            gui::ClickAt(gui::CentreOnScreen(app.Button()));
            Sleep(300);
            if (GetForegroundWindow() != dialog) { // Wine does not hand the activation back itself
                gui::Log(L"the click on the main window left the dialog inactive; activating it");
                SetForegroundWindow(dialog);
                Check(WaitUntil([&] { return GetForegroundWindow() == dialog; }), L"the dialog cannot be activated");
            }
        }
        if (n % 2 == 0) {
            gui::PressKey(VK_RETURN); // the Close button, box unticked
            Check(WaitUntil([&] { return !IsWindow(dialog); }), L"Enter did not close the dialog");
        } else {
            DismissWithEscape(app, dialog);
        }
        ExpectReports(copy, n, L"after error " + std::to_wstring(n));
        Check(app.Running(), L"the program ended after error " + std::to_wstring(n));
        if (!details.empty())
            ExpectDetailsInLog(details, NewestReport(LogOf(copy)));
        if (n == 1) {
            baseline = CountResources(app);
            ExpectNamedStack(NewestReport(LogOf(copy)));
        }
    }
    Sleep(300);
    Check(app.ErrorDialog() == nullptr, L"a dialog appeared that no key press asked for");
    ExpectReports(copy, 9, L"after nine errors");

    TResourceCounts after = CountResources(app);
    gui::Log(L"after 1 error: GDI %lu, USER %lu, handles %lu, windows %d; after 9: GDI %lu, USER %lu, handles %lu, "
             L"windows %d",
             baseline.Gdi, baseline.User, baseline.Handles, baseline.Windows, after.Gdi, after.User, after.Handles,
             after.Windows);
    Check(after.Windows == baseline.Windows, L"windows of the program's thread were left over");
    if (baseline.Handles == 0)
        gui::Log(L"GetProcessHandleCount gives 0 here: kernel handles not measurable");
    else
        Check(after.Handles <= baseline.Handles + 2, L"kernel handles grew over eight errors");
    if (baseline.Gdi == 0 && baseline.User == 0)
        gui::Log(L"GetGuiResources gives 0 here: GDI and USER object counts not measurable");
    else
        Check(after.Gdi <= baseline.Gdi + 2 && after.User <= baseline.User + 2, L"GDI or USER objects grew");

    std::optional<std::uint64_t> size = gui::FileSize(copy.RecordFile());
    held.Release();
    Check(size == 0u, L"a failed Add changed test.dat");
    PressAdd(app);
    gui::ExpectFileBytes(copy.RecordFile(), gui::Record(2012, 1, 31), L"Add after the lock was released");
    Sleep(200);
    Check(app.ErrorDialog() == nullptr, L"an error dialog after a successful Add");
    ExpectReports(copy, 9, L"after the successful Add");
}
GUI_SCENARIO(L"reporter-errors", NineErrors);

// The fourth error, box ticked, closed with the button: a new copy with the same command line
// and start-up directory, the old one gone with exit code 1, the report logged first.
void RestartWhenTicked(const gui::Context& context)
{
    gui::ScratchCopy copy(context);
    THeldFile held(context.HoldFileExe, copy.RecordFile());
    const std::wstring startIn = copy.WorkFolder() + L"\\시작 폴더";
    CreateDirectoryW(startIn.c_str(), nullptr);
    const std::wstring commandLine = L"\"" + copy.Exe() + L"\" \"an argument with spaces\" 날짜 -x";
    TProgram app(copy.Exe(), commandLine, startIn);
    const std::wstring message = ExpectedOpenError(copy.RecordFile());
    Check(ReadCommandLine(app.Process()) == commandLine, L"the first copy's command line reads back differently");

    for (int n = 1; n <= 3; ++n)
        DismissWithEscape(app, FailAdd(app, message));
    HWND dialog = FailAdd(app, message);
    ExpectRestartBox(dialog, true, 4);
    HWND box = GetDlgItem(dialog, Id::RestartBox);
    ClickUntil(box, [&] { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }, L"the restart box");
    gui::ClickAt(gui::CentreOnScreen(GetDlgItem(dialog, IDOK)));

    std::optional<DWORD> code = app.WaitForExit(10000);
    Check(code.has_value(), L"the old copy did not end after the restart");
    Check(*code == 1, L"the old copy ended with exit code " + std::to_wstring(*code) + L", not 1");
    Check(ReportCount(LogOf(copy)) == 4, L"the fourth report is not in the log when the old copy has ended");

    TProgram fresh = TProgram::FindNewCopy(app.Pid());
    std::wstring newLine = ReadCommandLine(fresh.Process());
    Check(newLine == commandLine, L"the new copy's command line is [" + newLine + L"], expected [" + commandLine + L"]");
    std::wstring newDirectory = ReadCurrentDirectory(fresh.Process());
    Check(CompareStringOrdinal(newDirectory.c_str(), -1, startIn.c_str(), -1, TRUE) == CSTR_EQUAL,
          L"the new copy started in [" + newDirectory + L"], expected [" + startIn + L"]");
    std::wstring date = gui::WindowText(fresh.Picker());
    Check(date == gui::ShortDate(2012, 1, 31), L"the new copy's field shows " + date);

    // Its count starts at zero: the next error offers no restart.
    HWND first = FailAdd(fresh, message);
    ExpectRestartBox(first, false, 1);
    DismissWithEscape(fresh, first);
    ExpectReports(copy, 5, L"after the new copy's first error");
}
GUI_SCENARIO(L"reporter-restart", RestartWhenTicked);

// Thirty-four errors in quick succession, each dialog closed with Esc: every tenth restarts
// without asking; every error adds one report, and the log keeps the 32 newest.
void Bursts(const gui::Context& context)
{
    gui::ScratchCopy copy(context);
    THeldFile held(context.HoldFileExe, copy.RecordFile());
    const std::wstring commandLine = L"\"" + copy.Exe() + L"\"";
    std::optional<TProgram> app(std::in_place, copy.Exe(), commandLine, copy.WorkFolder());
    const std::wstring message = ExpectedOpenError(copy.RecordFile());
    for (int n = 1; n <= 34; ++n) {
        HWND dialog = FailAdd(*app, message);
        if (n % 10 != 0) {
            DismissWithEscape(*app, dialog);
            ExpectReports(copy, std::min<size_t>(n, MaxReports), L"after error " + std::to_wstring(n));
            continue;
        }
        gui::PressKey(VK_ESCAPE);
        std::optional<DWORD> code = app->WaitForExit(10000);
        Check(code.has_value() && *code == 1, L"the tenth error of a burst did not end the copy with exit code 1");
        ExpectReports(copy, std::min<size_t>(n, MaxReports), L"after error " + std::to_wstring(n));
        DWORD old = app->Pid();
        app.reset();
        app.emplace(TProgram::FindNewCopy(old));
        gui::Log(L"error %d: restarted", n);
    }
    ExpectReports(copy, MaxReports, L"at the end");
    Check(gui::FileSize(copy.RecordFile()) == 0u, L"failed Adds changed test.dat");
    held.Release();
    PressAdd(*app);
    gui::ExpectFileBytes(copy.RecordFile(), gui::Record(2012, 1, 31), L"Add after the lock was released");
}
GUI_SCENARIO(L"reporter-burst", Bursts);

} // namespace
