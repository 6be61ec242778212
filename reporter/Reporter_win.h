#pragma once
// The application-wide error handler: counts the error, collects its report, shows the dialog,
// adds the report to the log and restarts when the rules or the user ask for it.

#include "ErrorCounter.h"
#include "ErrorDialog_win.h"
#include "Report.h"

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <string>

// Installed at static initialisation by Install_win.cpp as Application->OnException, so the program
// calls nothing. Never throws; whatever fails inside, the error's message is still shown.
void ReportException(const std::exception_ptr& error) noexcept;

// For a fault outside any event handler: the process ends right after this returns, so the report
// goes to the log even when a dialog is already open.
void ReportFatalException(const std::exception_ptr& error) noexcept;

// The reporter's contact with the system, replaceable so the order of its steps can be tested.
struct TReporterHooks
{
    std::function<std::int64_t()> NowMs;                          // monotonic milliseconds
    std::function<TReport(const std::exception_ptr&)> Collect;    // never throws in the real one
    std::function<TDialogOutcome(const std::wstring& message, const TReport& report,
                                 const TErrorVerdict& verdict)> ShowDialog;
    std::function<bool(const std::string& report)> AppendToLog;
    std::function<void()> Restart;                                // returns only when it failed
    std::function<void(const std::wstring& message)> ShowPlain;   // the last resort
};

// One run's reporter. Errors that arrive while a dialog is open (a message handled inside the
// dialog's loop failed) wait and get their own dialog once the current one has closed.
class TReporter
{
public:
    explicit TReporter(TReporterHooks hooks) : hooks_(std::move(hooks)) {}

    void Report(const std::exception_ptr& error) noexcept;
    // Logs the error without a dialog when one is already open; otherwise as Report.
    void ReportFatal(const std::exception_ptr& error) noexcept;

private:
    // True when the user or the rules asked for a restart.
    bool ReportOne(const std::exception_ptr& error) noexcept;
    void LogOnly(const std::exception_ptr& error) noexcept;
    void Drain() noexcept;

    TReporterHooks hooks_;
    TErrorCounter counter_;
    bool dialogOpen_ = false;
    std::deque<std::exception_ptr> waiting_;
};
