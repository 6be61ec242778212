// The real dialog in this process, driven from a second thread as a person would drive it:
// what it shows, which way of closing restarts, the detailed view's text against the log's,
// and an error raised by a message the dialog's own loop dispatches.

#include "ErrorDialog_win.h"
#include "ReportLog_win.h"
#include "Reporter_win.h"
#include "RunTime.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace Id = ErrorDialogId;

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring TextOf(HWND window)
{
    LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    return text;
}

struct TDialogSearch
{
    int ControlId;
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM data)
{
    auto& search = *reinterpret_cast<TDialogSearch*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId() && IsWindowVisible(window) && ClassOf(window) == L"#32770" &&
        GetDlgItem(window, search.ControlId) != nullptr)
        search.Found.push_back(window);
    return TRUE;
}

// Visible dialogs of this process that hold a control with `controlId`.
std::vector<HWND> OurDialogs(int controlId)
{
    TDialogSearch search{controlId, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

HWND WaitForDialog(int controlId, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        auto found = OurDialogs(controlId);
        if (!found.empty())
            return found.front();
        Sleep(20);
    }
    return nullptr;
}

// Runs `drive` on a second thread while `show` runs the dialog here; whatever `drive` leaves open
// is cancelled so that a failed check cannot hang the test.
void WithDriver(const std::function<void()>& show, const std::function<void(std::vector<std::string>& problems)>& drive,
                std::vector<std::string>& problems)
{
    std::atomic<bool> done{false};
    std::thread driver([&] {
        drive(problems);
        while (!done) {
            for (int id : {Id::Tabs, Id::Message})
                for (HWND dialog : OurDialogs(id))
                    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            Sleep(50);
        }
    });
    show();
    done = true;
    driver.join();
}

void OpenDetails(HWND dialog)
{
    static NMHDR click; // the dialog reads it on its own thread, after this returns
    click = {GetDlgItem(dialog, Id::DetailsLink), static_cast<UINT_PTR>(Id::DetailsLink),
             static_cast<UINT>(NM_CLICK)};
    PostMessageW(dialog, WM_NOTIFY, Id::DetailsLink, reinterpret_cast<LPARAM>(&click));
}

TReport SampleReport()
{
    TReport report;
    report.Heading = "2026-01-01 10:00:00 DateRecorder: test failure";
    const char* titles[] = {"General", "Call Stack", "Modules", "Processes", "Assembler", "CPU"};
    for (int i = 0; i < 6; ++i)
        report.Sections.push_back({titles[i],
                                   std::string(titles[i]) + " first line\n  indented \xEB\x82\xA0\xEC\xA7\x9C line " +
                                       std::to_string(i) + "\nlast line",
                                   i != 3});
    return report;
}

enum class TClose { Button, Escape, CloseBox, DetailsRestart };

TEST(ErrorDialog, OnlyTheButtonWithTheBoxTickedOrRestartInTheDetailsRestarts)
{
    struct TCase
    {
        const char* Name;
        bool Offer;
        bool Tick;
        TClose Close;
        bool Restarts;
    };
    const TCase cases[] = {
        {"first errors, button", false, false, TClose::Button, false},
        {"offered, unticked, button", true, false, TClose::Button, false},
        {"offered, ticked, button", true, true, TClose::Button, true},
        {"offered, ticked, Esc", true, true, TClose::Escape, false},
        {"offered, ticked, close box", true, true, TClose::CloseBox, false},
        {"offered, Restart in the details", true, false, TClose::DetailsRestart, true},
        {"not offered, Restart in the details is not there", false, false, TClose::DetailsRestart, false},
    };
    const TReport report = SampleReport();
    const std::wstring message = L"Cannot open file \"C:\\x\\test.dat\". \uB0A0\uC9DC";
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::string> problems;
        TDialogOutcome outcome;
        WithDriver([&] { outcome = ShowErrorDialog(nullptr, message, report, c.Offer); },
                   [&](std::vector<std::string>& p) {
                       HWND dialog = WaitForDialog(Id::Message);
                       if (dialog == nullptr)
                           return p.push_back("no dialog");
                       if (TextOf(GetDlgItem(dialog, Id::Message)) != message)
                           p.push_back("the message box shows something else");
                       HWND box = GetDlgItem(dialog, Id::RestartBox);
                       if ((IsWindowVisible(box) != FALSE) != c.Offer)
                           p.push_back("restart box visibility is wrong");
                       if (SendMessageW(box, BM_GETCHECK, 0, 0) != BST_UNCHECKED)
                           p.push_back("restart box starts ticked");
                       if (c.Tick)
                           SendMessageW(box, BM_CLICK, 0, 0);
                       switch (c.Close) {
                       case TClose::Button:
                           SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
                           break;
                       case TClose::Escape:
                           PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
                           break;
                       case TClose::CloseBox:
                           PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
                           break;
                       case TClose::DetailsRestart: {
                           OpenDetails(dialog);
                           HWND details = WaitForDialog(Id::Tabs);
                           if (details == nullptr)
                               return p.push_back("no detailed view");
                           HWND restart = GetDlgItem(details, Id::RestartButton);
                           if ((IsWindowVisible(restart) != FALSE) != c.Offer)
                               p.push_back("Restart button visibility is wrong");
                           SendMessageW(restart, BM_CLICK, 0, 0); // hidden: clicking it must do nothing
                           break;
                       }
                       }
                   },
                   problems);
        for (const std::string& problem : problems)
            ADD_FAILURE() << problem;
        EXPECT_TRUE(outcome.Shown);
        EXPECT_EQ(outcome.Restart, c.Restarts);
    }
}

TEST(ErrorDialog, EachTabShowsItsSectionAsTheLogHasIt)
{
    const TReport report = SampleReport();
    // Line ends aside (the edit control needs CR LF), the tab shows what the log holds.
    auto withoutCr = [](std::string text) {
        std::erase(text, '\r');
        return text;
    };
    const std::string logged = withoutCr(FormatReport(report));
    std::vector<std::string> problems;
    std::vector<std::wstring> shown;
    int tabCount = 0;
    WithDriver([&] { ShowErrorDialog(nullptr, L"message", report, false); },
               [&](std::vector<std::string>& p) {
                   HWND dialog = WaitForDialog(Id::Message);
                   if (dialog == nullptr)
                       return p.push_back("no dialog");
                   OpenDetails(dialog);
                   HWND details = WaitForDialog(Id::Tabs);
                   if (details == nullptr)
                       return p.push_back("no detailed view");
                   HWND tabs = GetDlgItem(details, Id::Tabs);
                   tabCount = static_cast<int>(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
                   for (int i = 0; i < tabCount; ++i) {
                       SendMessageW(tabs, TCM_SETCURSEL, i, 0);
                       NMHDR change{tabs, static_cast<UINT_PTR>(Id::Tabs), static_cast<UINT>(TCN_SELCHANGE)};
                       SendMessageW(details, WM_NOTIFY, Id::Tabs, reinterpret_cast<LPARAM>(&change));
                       shown.push_back(TextOf(GetDlgItem(details, Id::SectionText)));
                   }
                   SendMessageW(GetDlgItem(details, IDOK), BM_CLICK, 0, 0);
                   SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
               },
               problems);
    for (const std::string& problem : problems)
        ADD_FAILURE() << problem;
    ASSERT_EQ(tabCount, 6);
    ASSERT_EQ(shown.size(), 6u);
    for (size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE(report.Sections[i].Title);
        EXPECT_EQ(shown[i], TextForEditControl(report.Sections[i].Body));
        EXPECT_NE(logged.find(withoutCr(WideToUtf8(shown[i]))), std::string::npos) << "not in the log as shown";
    }
}

TEST(ErrorDialog, LineEndsBecomeCrLfForTheEditControl)
{
    EXPECT_EQ(TextForEditControl("a\nb\r\nc\rd\n"), L"a\r\nb\r\nc\r\nd\r\n");
    EXPECT_EQ(TextForEditControl("\xEB\x82\xA0\xEC\xA7\x9C"), L"\uB0A0\uC9DC");
    EXPECT_EQ(TextForEditControl(""), L"");
}

std::atomic<bool> TimerFired{false};

void CALLBACK RaiseInsideTheDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    TimerFired = true;
    ReportException(std::make_exception_ptr(std::runtime_error("second error")));
}

TEST(ErrorDialog, AnErrorRaisedInsideTheDialogsLoopWaitsForItsOwnDialog)
{
    const std::wstring log = ReportLogPath();
    DeleteFileW(log.c_str());
    std::vector<std::string> problems;
    std::vector<std::wstring> seen;
    int mostAtOnce = 0;
    SetTimer(nullptr, 0, 100, RaiseInsideTheDialog);
    WithDriver([&] { ReportException(std::make_exception_ptr(std::runtime_error("first error"))); },
               [&](std::vector<std::string>& p) {
                   for (int round = 0; round < 2; ++round) {
                       HWND dialog = WaitForDialog(Id::Message);
                       if (dialog == nullptr)
                           return p.push_back("dialog " + std::to_string(round + 1) + " did not appear");
                       seen.push_back(TextOf(GetDlgItem(dialog, Id::Message)));
                       for (int i = 0; i < 20 && (round == 0 ? !TimerFired : true); ++i)
                           Sleep(50);
                       Sleep(300); // time for a wrong second dialog to appear
                       mostAtOnce = std::max(mostAtOnce, static_cast<int>(OurDialogs(Id::Message).size()));
                       SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
                       for (int i = 0; i < 100 && IsWindow(dialog); ++i)
                           Sleep(20);
                   }
               },
               problems);
    for (const std::string& problem : problems)
        ADD_FAILURE() << problem;
    EXPECT_TRUE(TimerFired);
    EXPECT_EQ(mostAtOnce, 1);
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"first error", L"second error"}));
    TLogContents contents;
    ASSERT_TRUE(ReadReportLog(log, contents));
    ASSERT_EQ(contents.Reports.size(), 2u);
    EXPECT_NE(contents.Reports[0].find("first error"), std::string::npos);
    EXPECT_NE(contents.Reports[1].find("second error"), std::string::npos);
    DeleteFileW(log.c_str());
}

} // namespace
