// Appends test reports to a log, for the tests that need more than one process:
//   log_writer append <log> <writer> <count> [<ready> <go>]   signals <ready>, waits for <go>, then appends
//                                                             <count> reports; exit 0 if all were written
//   log_writer loop <log> <writer> <ready event>              appends for ever, signalling after the first
//   log_writer default <text>                                 appends <text> where the program's log goes,
//                                                             prints "<path>\n<reports in it>\n"
//   log_writer count <log>                                    prints "<reports> <repaired 0|1>\n"
#include "ReportLog_win.h"
#include "TestReports.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

// Both writers reach the start line before either begins, so their appends really overlap.
void StartTogether(const wchar_t* readyName, const wchar_t* goName)
{
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName);
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, goName);
    SetEvent(ready);
    WaitForSingleObject(go, 30'000);
    CloseHandle(go);
    CloseHandle(ready);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"append" && argc >= 5) {
        const unsigned writer = std::stoul(argv[3]);
        const unsigned count = std::stoul(argv[4]);
        if (argc >= 7)
            StartTogether(argv[5], argv[6]);
        int failed = 0;
        for (unsigned sequence = 1; sequence <= count; ++sequence)
            failed += AppendToReportLogAt(argv[2], TestReport(writer, sequence)) ? 0 : 1;
        return failed == 0 ? 0 : 2;
    }
    if (mode == L"loop" && argc >= 5) {
        const unsigned writer = std::stoul(argv[3]);
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, argv[4]);
        for (unsigned sequence = 1;; ++sequence) {
            if (!AppendToReportLogAt(argv[2], TestReport(writer, sequence)))
                return 2;
            SetEvent(ready);
        }
    }
    if (mode == L"default" && argc >= 3) {
        const std::wstring path = ReportLogPath();
        const bool written = AppendToReportLog(Utf8(argv[2]));
        TLogContents contents;
        ReadReportLog(path, contents);
        std::printf("%s\n%u\n", Utf8(path).c_str(), static_cast<unsigned>(contents.Reports.size()));
        return written ? 0 : 2;
    }
    if (mode == L"count" && argc >= 3) {
        TLogContents contents;
        if (!ReadReportLog(argv[2], contents))
            return 2;
        std::printf("%u %d\n", static_cast<unsigned>(contents.Reports.size()), contents.Repaired ? 1 : 0);
        return 0;
    }
    std::fprintf(stderr, "usage: log_writer append|loop|default|count ...\n");
    return 64;
}
