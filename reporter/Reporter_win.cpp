#include "Reporter_win.h"

#include "Application.h"
#include "Capture_win.h"
#include "ErrorDialog_win.h"
#include "Exceptions.h"
#include "ReportLog_win.h"
#include "Restart_win.h"
#include "RunTime.h"

#include <windows.h>

#include <stdexcept>

namespace {

std::wstring SafeMessage(const std::exception_ptr& error) noexcept
{
    try {
        return ExceptionMessage(error);
    } catch (...) {
        return L"An error occurred, and its message could not be read.";
    }
}

void ShowPlainMessage(const std::wstring& message) noexcept
{
    HWND owner = nullptr;
    if (TForm* main = Application->MainForm())
        owner = main->Handle();
    MessageBoxW(owner, message.c_str(), L"Error", MB_OK | MB_ICONERROR);
}

TReporterHooks SystemHooks()
{
    TReporterHooks hooks;
    hooks.NowMs = [] { return static_cast<std::int64_t>(GetTickCount64()); };
    hooks.Collect = [](const std::exception_ptr& error) { return CollectReport(error); };
    hooks.ShowDialog = [](const std::wstring& message, const TReport& report, const TErrorVerdict& verdict) {
        HWND owner = nullptr;
        if (TForm* main = Application->MainForm())
            owner = main->Handle();
        return ShowErrorDialog(owner, message, report, verdict.OfferRestart);
    };
    hooks.AppendToLog = [](const std::string& report) { return AppendToReportLog(report); };
    hooks.Restart = [] { RestartApplication(); };
    hooks.ShowPlain = ShowPlainMessage;
    return hooks;
}

TReporter& TheReporter()
{
    static TReporter reporter(SystemHooks());
    return reporter;
}

} // namespace

void TReporter::Report(const std::exception_ptr& error) noexcept
{
    if (dialogOpen_) {
        try {
            waiting_.push_back(error);
        } catch (...) {
            LogOnly(error); // no memory to keep it: at least it is in the log
        }
        return;
    }
    std::exception_ptr current = error;
    for (;;) {
        if (ReportOne(current)) {
            Drain(); // what arrived meanwhile goes into the log before the new copy starts
            try {
                hooks_.Restart();
            } catch (...) {
            }
            return; // back here only when the restart failed: run on
        }
        if (waiting_.empty())
            return;
        current = std::move(waiting_.front());
        waiting_.pop_front();
    }
}

void TReporter::ReportFatal(const std::exception_ptr& error) noexcept
{
    if (dialogOpen_)
        LogOnly(error);
    else
        Report(error);
}

bool TReporter::ReportOne(const std::exception_ptr& error) noexcept
{
    const std::wstring message = SafeMessage(error);
    TErrorVerdict verdict;
    try {
        verdict = counter_.Count(hooks_.NowMs());
    } catch (...) {
    }
    TReport report;
    try {
        report = hooks_.Collect(error);
    } catch (...) {
        // Still a dialog and a log entry: the heading and a section that says what went wrong.
        try {
            report.Heading = WideToUtf8(message);
            report.Sections.push_back(CollectSection("General", []() -> std::string {
                throw std::runtime_error("The report of this error could not be collected.");
            }));
        } catch (...) {
        }
    }
    TDialogOutcome outcome;
    try {
        dialogOpen_ = true;
        outcome = hooks_.ShowDialog(message, report, verdict);
    } catch (...) {
        outcome = TDialogOutcome{};
    }
    if (!outcome.Shown) {
        try {
            hooks_.ShowPlain(message); // a message box runs a loop too: dialogOpen_ stays set
        } catch (...) {
        }
    }
    dialogOpen_ = false;
    try {
        hooks_.AppendToLog(FormatReport(report));
    } catch (...) {
        // A log that cannot be written is not shown.
    }
    return outcome.Restart || verdict.RestartNow;
}

void TReporter::LogOnly(const std::exception_ptr& error) noexcept
{
    try {
        hooks_.AppendToLog(FormatReport(hooks_.Collect(error)));
    } catch (...) {
    }
}

void TReporter::Drain() noexcept
{
    while (!waiting_.empty()) {
        LogOnly(waiting_.front());
        waiting_.pop_front();
    }
}

void ReportException(const std::exception_ptr& error) noexcept
{
    try {
        TheReporter().Report(error);
    } catch (...) {
        ShowPlainMessage(SafeMessage(error));
    }
}

void ReportFatalException(const std::exception_ptr& error) noexcept
{
    try {
        TheReporter().ReportFatal(error);
    } catch (...) {
        ShowPlainMessage(SafeMessage(error));
    }
}
