#include "Report.h"

#include "Exceptions.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct TNotAnException {
    int Code;
};

struct TFailureCase {
    std::string Name;
    std::function<std::string()> Collect;
    std::vector<std::string> BodyHas; // pieces the not-collected text must name
};

const std::vector<TFailureCase> FailureCases = {
    {"standard exception", [] () -> std::string { throw std::runtime_error("module list gone"); },
     {"std::runtime_error", "module list gone"}},
    {"out of memory", [] () -> std::string { throw std::bad_alloc(); }, {"std::bad_alloc"}},
    {"platform exception", [] () -> std::string { throw EConvertError(L"Wert ung\u00fcltig \uB0A0\uC9DC"); },
     {"EConvertError", "Wert ung\xC3\xBCltig \xEB\x82\xA0\xEC\xA7\x9C"}},
    {"thrown int", [] () -> std::string { throw 42; }, {"int"}},
    {"thrown struct", [] () -> std::string { throw TNotAnException{7}; }, {"TNotAnException"}},
    {"thrown string literal", [] () -> std::string { throw "oops"; }, {"char const*"}},
    {"no collector", std::function<std::string()>(), {"std::bad_function_call"}},
};

TEST(CollectSection, ReturnsTheBodyWhenCollectingWorks)
{
    const TReportSection section = CollectSection("Modules", [] { return std::string("a.dll\r\nb.dll\r\n"); });
    EXPECT_EQ(section.Title, "Modules");
    EXPECT_EQ(section.Body, "a.dll\r\nb.dll\r\n");
    EXPECT_TRUE(section.Collected);
}

TEST(CollectSection, EveryKindOfThrowBecomesANotCollectedSection)
{
    for (const TFailureCase& c : FailureCases) {
        TReportSection section;
        ASSERT_NO_THROW(section = CollectSection("CPU", c.Collect)) << c.Name;
        EXPECT_EQ(section.Title, "CPU") << c.Name;
        EXPECT_FALSE(section.Collected) << c.Name;
        for (const std::string& piece : c.BodyHas)
            EXPECT_NE(section.Body.find(piece), std::string::npos) << c.Name << ": " << section.Body;
    }
}

TReport SampleReport()
{
    TReport report;
    report.Heading = "2024-05-01 10:00:00  DateRecorder.exe  Cannot open file";
    report.Sections.push_back(CollectSection("General", [] { return std::string("Application: DateRecorder\r\n"); }));
    report.Sections.push_back(CollectSection("Call Stack", [] () -> std::string { throw std::runtime_error("no symbols"); }));
    report.Sections.push_back(CollectSection("Modules", [] { return std::string("ntdll.dll"); }));
    return report;
}

TEST(FormatReport, HeadingThenEachSectionUnderItsTitleInOrder)
{
    const std::string text = FormatReport(SampleReport());
    EXPECT_EQ(text,
              "2024-05-01 10:00:00  DateRecorder.exe  Cannot open file\r\n"
              "\r\n"
              "[General]\r\n"
              "Application: DateRecorder\r\n"
              "\r\n"
              "[Call Stack] (not collected)\r\n"
              "Could not be collected: std::runtime_error: no symbols\r\n"
              "\r\n"
              "[Modules]\r\n"
              "ntdll.dll\r\n"
              "\r\n");
}

TEST(FormatReport, HeadingStaysOneLineWhateverTheMessageHolds)
{
    TReport report;
    report.Heading = "Cannot open file \"C:\\x\\test.dat\".\r\nAccess denied.\n";
    const std::string text = FormatReport(report);
    EXPECT_EQ(text.find('\n'), text.size() - 3) << text; // the heading's own line end, then the blank line
    EXPECT_EQ(text.substr(0, text.find("\r\n")), "Cannot open file \"C:\\x\\test.dat\".  Access denied. ");
}

TEST(FormatReport, EveryBodyAppearsWhole)
{
    const TReport report = SampleReport();
    const std::string text = FormatReport(report);
    for (const TReportSection& section : report.Sections)
        EXPECT_NE(text.find(section.Body), std::string::npos) << section.Title;
}

} // namespace
