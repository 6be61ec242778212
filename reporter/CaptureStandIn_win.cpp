#include "CaptureStandIn_win.h"
#include "Exceptions.h"
#include "RunTime.h"
void InstallCapture(void (*)(const std::exception_ptr&)) noexcept {}
TReport CollectReport(const std::exception_ptr& error) noexcept
{
    TReport report;
    try {
        report.Heading = "Error: " + WideToUtf8(ExceptionMessage(error));
        for (const char* title : {"General", "Call Stack", "Modules", "Processes", "Assembler", "CPU"})
            report.Sections.push_back(CollectSection(title, [&] { return std::string(title) + " line 1\nline 2\n"; }));
    } catch (...) {
    }
    return report;
}
