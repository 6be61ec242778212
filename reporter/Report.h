#pragma once
// The text of one error report: plain data, built from sections gathered one by one.

#include <functional>
#include <string>
#include <vector>

struct TReportSection {
    std::string Title;     // "General", "Call Stack", "Modules", "Processes", "Assembler", "CPU"
    std::string Body;      // the section's text, as shown in its tab and written to the log
    bool Collected = true; // false: Body says it could not be collected, and why
};

struct TReport {
    std::string Heading;                  // one line: time, application, the error's message
    std::vector<TReportSection> Sections; // in the order above
};

// Runs `collect`; whatever it throws becomes a section marked not collected, never an escape.
TReportSection CollectSection(std::string title, const std::function<std::string()>& collect) noexcept;

// The whole report as it goes into the log; the detailed view shows the same sections' bodies.
// Layout: the heading on one line, then per section a title line ("[Title]", with
// " (not collected)" when it failed), its body, and a blank line. Lines end in CRLF.
std::string FormatReport(const TReport& report);
