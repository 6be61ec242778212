// The handler's order of steps with every system contact replaced: what is shown, what is
// logged, when the restart happens, and what happens when a step fails or an error arrives
// while a dialog is open.

#include "Reporter_win.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::exception_ptr Error(const char* message)
{
    return std::make_exception_ptr(std::runtime_error(message));
}

// Records every step as one line, e.g. "show boom offer=0", "log boom", "restart".
struct TFakeSystem
{
    std::vector<std::string> Steps;
    std::int64_t Now = 0;
    int Depth = 0;    // dialogs open at the same time
    int MaxDepth = 0;
    bool TickBox = false;
    bool DialogFails = false;
    bool DialogThrows = false;
    bool CollectThrows = false;
    std::function<void()> WhileOpen; // runs inside the dialog, once
    TReporter* Reporter = nullptr;

    static std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

    TReporterHooks Hooks()
    {
        TReporterHooks hooks;
        hooks.NowMs = [this] { return Now; };
        hooks.Collect = [this](const std::exception_ptr& error) {
            if (CollectThrows)
                throw std::runtime_error("collector broke");
            TReport report;
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                report.Heading = e.what();
            }
            report.Sections.push_back({"General", "about " + report.Heading, true});
            return report;
        };
        hooks.ShowDialog = [this](const std::wstring& message, const TReport&, const TErrorVerdict& verdict) {
            Steps.push_back("show " + Narrow(message) + " offer=" + std::to_string(verdict.OfferRestart));
            if (DialogThrows)
                throw std::runtime_error("no dialog");
            MaxDepth = std::max(MaxDepth, ++Depth);
            if (auto run = std::exchange(WhileOpen, nullptr))
                run();
            --Depth;
            TDialogOutcome outcome;
            outcome.Shown = !DialogFails;
            outcome.Restart = TickBox && verdict.OfferRestart;
            return outcome;
        };
        hooks.AppendToLog = [this](const std::string& report) {
            Steps.push_back("log " + report.substr(0, report.find_first_of("\r\n")));
            return true;
        };
        hooks.Restart = [this] { Steps.push_back("restart"); };
        hooks.ShowPlain = [this](const std::wstring& message) { Steps.push_back("plain " + Narrow(message)); };
        return hooks;
    }
};

using Steps = std::vector<std::string>;

TEST(ReporterFlow, ShowsThenLogsEachErrorAndOffersRestartFromTheFourth)
{
    TFakeSystem system;
    TReporter reporter(system.Hooks());
    for (const char* message : {"e1", "e2", "e3", "e4"}) {
        system.Now += 30'000;
        reporter.Report(Error(message));
    }
    EXPECT_EQ(system.Steps, (Steps{"show e1 offer=0", "log e1", "show e2 offer=0", "log e2", "show e3 offer=0",
                                   "log e3", "show e4 offer=1", "log e4"}));
}

TEST(ReporterFlow, TheLogGetsTheFormattedReportTheDialogWasShown)
{
    TFakeSystem system;
    TReporterHooks hooks = system.Hooks();
    TReport shown;
    std::string logged;
    hooks.ShowDialog = [&](const std::wstring&, const TReport& report, const TErrorVerdict&) {
        shown = report;
        return TDialogOutcome{true, false};
    };
    hooks.AppendToLog = [&](const std::string& report) {
        logged = report;
        return true;
    };
    TReporter reporter(hooks);
    reporter.Report(Error("disk gone"));
    ASSERT_EQ(shown.Sections.size(), 1u);
    EXPECT_EQ(logged, FormatReport(shown));
}

TEST(ReporterFlow, RestartsAfterTheReportIsLoggedWhenAskedOrOnABurst)
{
    struct TCase
    {
        const char* Name;
        bool TickBox;
        std::int64_t Spacing; // ms between errors
        int Errors;
        bool Restarts;
    };
    const TCase cases[] = {
        {"box ticked on the 4th", true, 30'000, 4, true},
        {"box ticked cannot act before the 4th", true, 30'000, 3, false},
        {"box never ticked, errors far apart", false, 30'000, 10, false},
        {"ten within a minute", false, 6'000, 10, true},
        {"nine within a minute", false, 6'000, 9, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TFakeSystem system;
        system.TickBox = c.TickBox;
        TReporter reporter(system.Hooks());
        for (int i = 1; i <= c.Errors; ++i) {
            system.Now += c.Spacing;
            reporter.Report(Error(("e" + std::to_string(i)).c_str()));
        }
        const std::string last = "e" + std::to_string(c.Errors);
        if (c.Restarts) {
            ASSERT_GE(system.Steps.size(), 2u);
            EXPECT_EQ(system.Steps.back(), "restart");
            EXPECT_EQ(system.Steps[system.Steps.size() - 2], "log " + last);
            EXPECT_EQ(std::count(system.Steps.begin(), system.Steps.end(), "restart"), 1);
        } else {
            EXPECT_EQ(std::count(system.Steps.begin(), system.Steps.end(), "restart"), 0);
        }
    }
}

TEST(ReporterFlow, AnErrorWhileTheDialogIsOpenGetsItsOwnDialogAfterwards)
{
    TFakeSystem system;
    TReporter reporter(system.Hooks());
    system.WhileOpen = [&] { reporter.Report(Error("inner")); };
    reporter.Report(Error("outer"));
    EXPECT_EQ(system.MaxDepth, 1);
    EXPECT_EQ(system.Steps, (Steps{"show outer offer=0", "log outer", "show inner offer=0", "log inner"}));
}

TEST(ReporterFlow, WaitingErrorsAreLoggedBeforeARestart)
{
    TFakeSystem system;
    TReporter reporter(system.Hooks());
    system.TickBox = true;
    for (const char* message : {"e1", "e2", "e3"})
        reporter.Report(Error(message));
    system.WhileOpen = [&] { reporter.Report(Error("meanwhile")); };
    reporter.Report(Error("e4"));
    Steps tail(system.Steps.end() - 4, system.Steps.end());
    EXPECT_EQ(tail, (Steps{"show e4 offer=1", "log e4", "log meanwhile", "restart"}));
}

TEST(ReporterFlow, AFatalErrorWhileTheDialogIsOpenIsLoggedAtOnce)
{
    TFakeSystem system;
    TReporter reporter(system.Hooks());
    system.WhileOpen = [&] { reporter.ReportFatal(Error("fatal")); };
    reporter.Report(Error("first"));
    EXPECT_EQ(system.Steps, (Steps{"show first offer=0", "log fatal", "log first"}));

    // With no dialog open it gets the whole treatment.
    reporter.ReportFatal(Error("alone"));
    EXPECT_EQ(system.Steps.back(), "log alone");
    EXPECT_EQ(system.Steps[system.Steps.size() - 2], "show alone offer=0");
}

TEST(ReporterFlow, AFailingStepNeverHidesTheError)
{
    {
        SCOPED_TRACE("the dialog cannot be created");
        TFakeSystem system;
        system.DialogFails = true;
        TReporter reporter(system.Hooks());
        reporter.Report(Error("boom"));
        EXPECT_EQ(system.Steps, (Steps{"show boom offer=0", "plain boom", "log boom"}));
    }
    {
        SCOPED_TRACE("the dialog throws");
        TFakeSystem system;
        system.DialogThrows = true;
        TReporter reporter(system.Hooks());
        reporter.Report(Error("boom"));
        EXPECT_EQ(system.Steps, (Steps{"show boom offer=0", "plain boom", "log boom"}));
    }
    {
        SCOPED_TRACE("the report cannot be collected");
        TFakeSystem system;
        system.CollectThrows = true;
        TReporter reporter(system.Hooks());
        reporter.Report(Error("boom"));
        EXPECT_EQ(system.Steps, (Steps{"show boom offer=0", "log boom"}));
    }
    {
        SCOPED_TRACE("the log and the restart fail");
        TFakeSystem system;
        TReporterHooks hooks = system.Hooks();
        hooks.AppendToLog = [](const std::string&) -> bool { throw std::runtime_error("disk"); };
        hooks.Restart = [&] { system.Steps.push_back("restart failed"); };
        system.TickBox = true;
        TReporter reporter(hooks);
        for (int i = 0; i < 5; ++i)
            reporter.Report(Error("again"));
        // The failed restart leaves the program running and reporting.
        EXPECT_EQ(std::count(system.Steps.begin(), system.Steps.end(), "restart failed"), 2);
        EXPECT_EQ(std::count(system.Steps.begin(), system.Steps.end(), "show again offer=1"), 2);
    }
}

} // namespace
