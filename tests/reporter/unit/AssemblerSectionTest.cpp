// The report's Assembler section for a real throw and a real fault: the hex dump stays, and the
// disassembly below it marks the instruction at the captured address, in step.

#include "Application.h"
#include "Capture_win.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

[[gnu::noinline]] void Throws()
{
    throw std::runtime_error("assembler section");
}

volatile int* volatile NullPointer = nullptr;

[[gnu::noinline]] int ReadsNull()
{
    return *NullPointer;
}

std::string Hex8(std::uintptr_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// The Assembler body, and the capture it was written from.
std::string AssemblerOf(const std::exception_ptr& error, TThrowSite& site)
{
    EXPECT_TRUE(FindThrowSite(ThrownObject(error), site));
    for (const TReportSection& section : CollectReport(error).Sections)
        if (section.Title == "Assembler")
            return section.Body;
    return std::string();
}

// The disassembly rows ("> 00401234  8B 45 08 ...  mov ..."): after the hex dump's closing line.
std::vector<std::string> DisassemblyRows(const std::string& body)
{
    std::vector<std::string> rows;
    bool inside = false;
    for (const std::string& line : Lines(body)) {
        if (inside && line.size() > 12 && line[10] == ' ' && line[11] == ' ')
            rows.push_back(line);
        inside = inside || line.rfind("[..] marks", 0) == 0;
    }
    return rows;
}

TEST(AssemblerSection, ThrowMarksTheInstructionAfterTheThrowingCall)
{
    std::exception_ptr error;
    try {
        Throws();
    } catch (...) {
        error = std::current_exception();
    }
    TThrowSite site;
    const std::string body = AssemblerOf(error, site);
    ASSERT_GT(site.CodeSize, 0);
    EXPECT_NE(body.find("[..] marks the byte at " + Hex8(site.Address)), std::string::npos) << body;
    const std::vector<std::string> rows = DisassemblyRows(body);
    int marked = -1;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].rfind("> ", 0) == 0) {
            EXPECT_EQ(marked, -1) << body;
            marked = static_cast<int>(i);
        }
    ASSERT_GE(marked, 1) << body;
    EXPECT_EQ(rows[marked].substr(2, 8), Hex8(site.Address)) << body;
    // The instruction before a throw's return address is the call into the run-time library.
    EXPECT_NE(rows[marked - 1].find("call   0x"), std::string::npos) << body;
    EXPECT_NE(body.find("> marks the instruction after the call that threw."), std::string::npos) << body;
}

TEST(AssemblerSection, FaultMarksTheFaultingRead)
{
    std::exception_ptr error;
    try {
        TApplication::THandlerScope running;
        ReadsNull();
    } catch (...) {
        error = std::current_exception();
    }
    ASSERT_TRUE(error);
    TThrowSite site;
    const std::string body = AssemblerOf(error, site);
    const std::vector<std::string> rows = DisassemblyRows(body);
    bool found = false;
    for (const std::string& row : rows)
        if (row.rfind("> " + Hex8(site.Address), 0) == 0) {
            found = true;
            // The read through the null pointer: a mov from memory.
            EXPECT_NE(row.find("mov    ("), std::string::npos) << body;
        }
    EXPECT_TRUE(found) << body;
    EXPECT_NE(body.find("> marks the faulting instruction."), std::string::npos) << body;
}

} // namespace

int main(int argc, char** argv)
{
    // Faults inside a handler scope become errors the test catches; none happens outside one.
    InstallCapture([](const std::exception_ptr&) { std::abort(); });
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
