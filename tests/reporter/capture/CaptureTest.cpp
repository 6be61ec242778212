#include "Application.h"
#include "Capture_win.h"
#include "Faults_win.h"
#include "Handle.h"
#include "RunTime.h"
#include "Symbols_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

// Functions the stacks must name. Not inlined, and each does work after its call, so no
// frame is folded into its caller.
volatile int Sink = 0;
int* volatile NullPointer = nullptr;
int* volatile LowAddress = reinterpret_cast<int*>(0x10);
volatile int Zero = 0;

__attribute__((noinline)) void ThrowingLeaf(int value)
{
    if (value >= 0)
        throw std::runtime_error("leaf failed");
    Sink = value;
}
__attribute__((noinline)) void MiddleCaller(int value)
{
    ThrowingLeaf(value + 1);
    Sink = Sink + 1;
}
__attribute__((noinline)) void OuterCaller()
{
    MiddleCaller(Sink);
    Sink = Sink + 2;
}
__attribute__((noinline)) int ReadPastEnd()
{
    std::vector<int> values(3);
    int result = values.at(static_cast<std::size_t>(Sink) + 5);
    Sink = Sink + 1;
    return result;
}
__attribute__((noinline)) void ThrowsInt()
{
    if (Sink >= 0)
        throw 42;
    Sink = 1;
}

// Volatile, so the store in the destructor cannot be moved before the faulting load.
struct TSetOnDestroy {
    volatile bool* Flag;
    ~TSetOnDestroy() { *Flag = true; }
};
volatile bool FaultCleanupRan = false;

__attribute__((noinline)) int ReadThroughNull()
{
    TSetOnDestroy cleanup{&FaultCleanupRan};
    int value = *NullPointer;
    Sink = value;
    return value + 1;
}
__attribute__((noinline)) int WriteToLowAddress()
{
    *LowAddress = 7;
    Sink = Sink + 1;
    return Sink;
}
__attribute__((noinline)) int DivideByZero()
{
    int value = 100 / Zero;
    Sink = value;
    return value + 1;
}
__attribute__((noinline)) int CallFault(int (*fault)())
{
    int value = fault();
    Sink = Sink + value;
    return value;
}

namespace {

std::exception_ptr Caught(void (*action)())
{
    try {
        action();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

const TReportSection& Section(const TReport& report, const std::string& title)
{
    for (const TReportSection& section : report.Sections)
        if (section.Title == title)
            return section;
    throw std::runtime_error("no section " + title);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The call stack's rows below its header line.
std::vector<std::string> StackRows(const TReport& report)
{
    std::vector<std::string> rows = Lines(Section(report, "Call Stack").Body);
    if (!rows.empty())
        rows.erase(rows.begin());
    return rows;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Hex8(std::uintptr_t value)
{
    char text[12];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(value));
    return text;
}

TEST(ThrowCapture, NamesTheThrowingFunctionAndItsCallersInOrder)
{
    std::exception_ptr error = Caught([] { OuterCaller(); });
    TReport report = CollectReport(error);
    std::vector<std::string> rows = StackRows(report);
    ASSERT_GE(rows.size(), 4u) << Section(report, "Call Stack").Body;
    // At -O2 the throw may sit in the function's cold part: "ThrowingLeaf(int) [clone .cold]".
    EXPECT_TRUE(Contains(rows[0], "ThrowingLeaf(int)")) << rows[0];
    EXPECT_TRUE(Contains(rows[1], "MiddleCaller(int) + 0x")) << rows[1];
    EXPECT_TRUE(Contains(rows[2], "OuterCaller() + 0x")) << rows[2];
    EXPECT_TRUE(Contains(rows[0], "capture_tests.exe")) << rows[0];
    const std::string& general = Section(report, "General").Body;
    EXPECT_TRUE(Contains(general, "Class:        std::runtime_error")) << general;
    EXPECT_TRUE(Contains(general, "Message:      leaf failed")) << general;
    EXPECT_TRUE(Contains(report.Heading, "leaf failed")) << report.Heading;
}

TEST(ThrowCapture, ThrowFromInsideTheRuntimeLibraryIsCaptured)
{
    std::exception_ptr error = Caught([] { Sink = ReadPastEnd(); });
    TReport report = CollectReport(error);
    std::vector<std::string> rows = StackRows(report);
    const std::string stack = Section(report, "Call Stack").Body;
    ASSERT_FALSE(rows.empty()) << stack;
    EXPECT_TRUE(Contains(rows[0], "std::__throw_out_of_range_fmt")) << stack;
    bool callerNamed = false;
    for (std::size_t i = 1; i < rows.size() && i < 4; ++i)
        callerNamed = callerNamed || Contains(rows[i], "ReadPastEnd()");
    EXPECT_TRUE(callerNamed) << stack;
    EXPECT_TRUE(Contains(Section(report, "General").Body, "Class:        std::out_of_range"));
}

TEST(ThrowCapture, NonExceptionValueIsReportedWithItsType)
{
    std::exception_ptr error = Caught([] { ThrowsInt(); });
    TReport report = CollectReport(error);
    const std::string& general = Section(report, "General").Body;
    EXPECT_TRUE(Contains(general, "Class:        int\r\n")) << general;
    EXPECT_TRUE(Contains(general, "42")) << general;
    std::vector<std::string> rows = StackRows(report);
    ASSERT_FALSE(rows.empty());
    EXPECT_TRUE(Contains(rows[0], "ThrowsInt()")) << rows[0];
}

TEST(ThrowCapture, ErrorWhoseCaptureWasPushedOutSaysSoInsteadOfShowingAnotherStack)
{
    std::exception_ptr early = Caught([] { OuterCaller(); });
    for (int i = 0; i < 40; ++i)
        Caught([] { ThrowsInt(); });
    TReport report = CollectReport(early);
    const std::string& stack = Section(report, "Call Stack").Body;
    EXPECT_TRUE(Contains(stack, "Stack not captured")) << stack;
    EXPECT_FALSE(Contains(stack, "ThrowsInt")) << stack;
    EXPECT_TRUE(Contains(Section(report, "General").Body, "leaf failed"));
}

TEST(ThrowCapture, RethrownErrorKeepsTheStackOfItsFirstThrow)
{
    std::exception_ptr error = Caught([] {
        try {
            OuterCaller();
        } catch (...) {
            std::exception_ptr inner = std::current_exception();
            std::rethrow_exception(inner);
        }
    });
    std::vector<std::string> rows = StackRows(CollectReport(error));
    ASSERT_FALSE(rows.empty());
    EXPECT_TRUE(Contains(rows[0], "ThrowingLeaf(int)")) << rows[0];
}

struct TFaultCase {
    const char* Name;
    int (*Fault)();
    const char* Function;
    std::string MessageAfterAddress; // what follows "... at address XXXXXXXX."
};

void PrintTo(const TFaultCase& fault, std::ostream* out) { *out << fault.Name; }

class NativeFault : public testing::TestWithParam<TFaultCase> {};

TEST_P(NativeFault, InsideAHandlerBecomesACaughtErrorNamingTheFaultingFunction)
{
    const TFaultCase& fault = GetParam();
    std::exception_ptr error;
    std::string message;
    DWORD address = 0;
    {
        TApplication::THandlerScope running; // as the window procedure does
        try {
            CallFault(fault.Fault);
            FAIL() << "no fault";
        } catch (const ENativeFault& e) {
            error = std::current_exception();
            message = e.what();
            address = e.Address();
        }
    }
    EXPECT_EQ(message.substr(message.find(" at address ")), " at address " + Hex8(address) + "." +
                                                                 fault.MessageAfterAddress)
        << message;
    TReport report = CollectReport(error);
    std::vector<std::string> rows = StackRows(report);
    ASSERT_GE(rows.size(), 2u) << Section(report, "Call Stack").Body;
    EXPECT_TRUE(Contains(rows[0], Hex8(address))) << rows[0];
    EXPECT_TRUE(Contains(rows[0], fault.Function)) << rows[0];
    EXPECT_TRUE(Contains(rows[1], "CallFault(int (*)())")) << rows[1];
    // The registers and the code are the fault's own.
    EXPECT_TRUE(Contains(Section(report, "CPU").Body, "EIP: " + Hex8(address))) << Section(report, "CPU").Body;
    EXPECT_TRUE(Contains(Section(report, "Assembler").Body, "> " )) << Section(report, "Assembler").Body;
    EXPECT_TRUE(Contains(Section(report, "General").Body, "Class:        ENativeFault"));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, NativeFault,
    testing::Values(TFaultCase{"ReadOfNull", ReadThroughNull, "ReadThroughNull()", " Read of address 00000000."},
                    TFaultCase{"WriteToLowAddress", WriteToLowAddress, "WriteToLowAddress()",
                               " Write of address 00000010."},
                    TFaultCase{"DivisionByZero", DivideByZero, "DivideByZero()", ""}),
    [](const testing::TestParamInfo<TFaultCase>& info) { return std::string(info.param.Name); });

TEST(NativeFaultRecovery, CleanupRunsAndTheProgramGoesOnAfterRepeatedFaults)
{
    TApplication::THandlerScope running;
    for (int round = 0; round < 3; ++round) {
        FaultCleanupRan = false;
        EXPECT_THROW(CallFault(ReadThroughNull), ENativeFault);
        EXPECT_TRUE(FaultCleanupRan) << "the faulting function's locals were not destroyed";
        // Ordinary throws still work between faults.
        EXPECT_THROW(OuterCaller(), std::runtime_error);
    }
    EXPECT_EQ(Application->RunningHandlers(), 1);
}

// The child half: a fault outside any handler, reported through the fatal callback.
std::wstring FatalReportFile;
void WriteFatalReport(const std::exception_ptr& error)
{
    std::ofstream out(FatalReportFile.c_str(), std::ios::binary);
    out << FormatReport(CollectReport(error));
}

TEST(NativeFaultRecovery, FaultOutsideAnyHandlerIsReportedAndEndsTheProcess)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring reportFile = std::wstring(folder) + L"capture_fatal_" + std::to_wstring(GetCurrentProcessId()) +
                                    L".txt";
    DeleteFileW(reportFile.c_str());
    std::wstring commandLine = L"\"" + ExeFileName() + L"\" --fault-outside-handler \"" + reportFile + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    TKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));

    std::ifstream in(reportFile.c_str(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DeleteFileW(reportFile.c_str());
    EXPECT_TRUE(Contains(text, "Access violation at address ")) << text;
    EXPECT_TRUE(Contains(text, "Read of address 00000000.")) << text;
    EXPECT_TRUE(Contains(text, "ReadThroughNull()")) << text;
    EXPECT_TRUE(Contains(text, "CallFault(int (*)())")) << text;
}

TEST(ReportSections, AllPresentInOrderAndFilled)
{
    std::exception_ptr error = Caught([] { OuterCaller(); });
    const auto start = std::chrono::steady_clock::now();
    TReport report = CollectReport(error);
    const auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
    std::printf("CollectReport took %.1f ms; %zu call stack rows; %zu function symbols\n", elapsed.count(),
                StackRows(report).size(), TSymbolTable::ForExe().Size());

    const char* titles[] = {"General", "Call Stack", "Modules", "Processes", "Assembler", "CPU"};
    ASSERT_EQ(report.Sections.size(), std::size(titles));
    for (std::size_t i = 0; i < std::size(titles); ++i) {
        SCOPED_TRACE(titles[i]);
        EXPECT_EQ(report.Sections[i].Title, titles[i]);
        EXPECT_TRUE(report.Sections[i].Collected) << report.Sections[i].Body;
        EXPECT_FALSE(report.Sections[i].Body.empty());
    }
    const std::string& general = Section(report, "General").Body;
    EXPECT_FALSE(Contains(general, "not available")) << general;
    for (const char* label : {"File:", "Version:", "Started:", "Running for:", "User:", "Active control:", "Computer:",
                              "System:         Windows ", "Network"})
        EXPECT_TRUE(Contains(general, label)) << label << "\n" << general;
    EXPECT_TRUE(Contains(general, WideToUtf8(ExeFileName()))) << general;
    EXPECT_TRUE(Contains(Section(report, "Modules").Body, "capture_tests.exe"));
    EXPECT_TRUE(Contains(Section(report, "Modules").Body, "ntdll.dll"));
    EXPECT_TRUE(Contains(Section(report, "Processes").Body, "capture_tests.exe  (this process)"));
    for (const char* reg : {"EAX: ", "EBX: ", "ECX: ", "EDX: ", "ESI: ", "EDI: ", "EBP: ", "ESP: ", "EIP: ",
                            "EFLAGS: ", "CS: ", "SS: "})
        EXPECT_TRUE(Contains(Section(report, "CPU").Body, reg)) << reg;
    // The code row holding the throw's return address is marked, with its byte bracketed.
    const std::string& code = Section(report, "Assembler").Body;
    EXPECT_TRUE(Contains(code, "\r\n> ")) << code;
    EXPECT_TRUE(Contains(code, "[")) << code;
}

TEST(ReportSections, SectionThatFailsIsMarkedAndTheOthersStayWhole)
{
    std::exception_ptr error = Caught([] { OuterCaller(); });
    TReport whole = CollectReport(error);
    std::vector<TSectionSource> sources = ReportSources(error);
    ASSERT_EQ(sources.size(), 6u);
    sources[2].Collect = []() -> std::string { throw std::runtime_error("module list broke"); };
    sources[4].Collect = []() -> std::string { return std::to_string(CallFault(ReadThroughNull)); };
    TReport report;
    {
        TApplication::THandlerScope running; // reports are built inside the message loop's handling
        report = BuildReport(error, sources);
    }
    ASSERT_EQ(report.Sections.size(), 6u);
    EXPECT_FALSE(report.Sections[2].Collected);
    EXPECT_TRUE(Contains(report.Sections[2].Body, "module list broke")) << report.Sections[2].Body;
    EXPECT_FALSE(report.Sections[4].Collected);
    EXPECT_TRUE(Contains(report.Sections[4].Body, "Access violation")) << report.Sections[4].Body;
    for (int i : {1, 5}) {
        EXPECT_TRUE(report.Sections[i].Collected);
        EXPECT_EQ(report.Sections[i].Body, whole.Sections[i].Body) << report.Sections[i].Title;
    }
    EXPECT_TRUE(report.Sections[0].Collected);
    EXPECT_TRUE(report.Sections[3].Collected);
    EXPECT_TRUE(Contains(report.Sections[0].Body, "leaf failed"));
}

TEST(Symbols, LinkerNamesDemangle)
{
    const std::pair<const char*, const char*> cases[] = {
        {"__ZN6TForm211btnAddClickEP7TObject", "TForm2::btnAddClick(TObject*)"},
        {"__ZN6TForm214SaveDateRecordERK11TDateRecord.cold", "TForm2::SaveDateRecord(TDateRecord const&) [clone .cold]"},
        {"__ZN5TForm10WindowProcEP6HWND__jjl@16", "TForm::WindowProc(HWND__*, unsigned int, unsigned int, long)"},
        {"_wWinMain@16", "wWinMain@16"},
        {"_main", "main"},
        {"__Zbroken", "_Zbroken"},
    };
    for (const auto& [symbol, name] : cases)
        EXPECT_EQ(DemangleSymbol(symbol), name) << symbol;
}

TEST(Symbols, ExeTableFindsFunctionsByAnyAddressInside)
{
    const TSymbolTable& table = TSymbolTable::ForExe();
    ASSERT_TRUE(table.Problem().empty()) << table.Problem();
    const auto start = reinterpret_cast<std::uintptr_t>(&OuterCaller);
    for (std::uintptr_t offset : {0u, 1u, 5u}) {
        const TFunctionSymbol* found = table.Find(start + offset);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->Name, "OuterCaller()");
        EXPECT_EQ(found->Address, start);
    }
    EXPECT_EQ(table.Find(reinterpret_cast<std::uintptr_t>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                                         "GetTickCount"))),
              nullptr);
}

TEST(Symbols, FileWithoutSymbolsIsRefusedWithTheReason)
{
    // A stripped copy of this very exe, made by the build.
    const std::wstring stripped = ExtractFilePath(ExeFileName()) + L"capture_tests_stripped.exe";
    ASSERT_TRUE(FileExists(stripped));
    const std::pair<std::wstring, const char*> cases[] = {
        {stripped, "stripped"},
        {ExtractFilePath(ExeFileName()) + L"CTestTestfile.cmake", "not a program file"},
        {L"Z:\\no\\such\\file.exe", "Cannot open"},
    };
    for (const auto& [file, reason] : cases) {
        try {
            TSymbolTable::Read(file, 0x400000);
            ADD_FAILURE() << "read symbols from " << WideToUtf8(file);
        } catch (const Exception& e) {
            EXPECT_TRUE(Contains(e.what(), reason)) << e.what();
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    InstallCapture(WriteFatalReport);
    if (argc == 3 && std::string(argv[1]) == "--fault-outside-handler") {
        FatalReportFile = Utf8ToWide(argv[2]);
        CallFault(ReadThroughNull);
        std::puts("reached the end");
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
