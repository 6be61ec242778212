#pragma once
// Reports that can be checked for wholeness on their own: the first line names the writer and
// the sequence number, and the rest follows from them. Shared by the log writer and its drivers.

#include <cstdio>
#include <string>

inline std::string TestReport(unsigned writer, unsigned sequence)
{
    std::string report = "writer " + std::to_string(writer) + " report " + std::to_string(sequence) + "\r\n";
    // Sizes vary from a few bytes to tens of KiB, so that writes of the whole log take a while.
    const std::size_t fill = (writer * 7919u + sequence * 104729u) % 40000u;
    for (std::size_t i = 0; i < fill; ++i)
        report.push_back(static_cast<char>('a' + (i + sequence) % 26));
    report += "\r\nend of report " + std::to_string(sequence) + "\r\n";
    return report;
}

// True when `report` is exactly a TestReport; its writer and sequence number are given back.
inline bool ParseTestReport(const std::string& report, unsigned& writer, unsigned& sequence)
{
    if (std::sscanf(report.c_str(), "writer %u report %u", &writer, &sequence) != 2)
        return false;
    return report == TestReport(writer, sequence);
}
