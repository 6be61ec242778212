// Appends test reports to a log, for the tests that need more than one process:
//   log_writer append <log> <writer> <count> [<start event>]   appends <count> reports, exit 0 if all written
//   log_writer loop <log> <writer> <ready event>              appends for ever, signalling after the first
//   log_writer default <text>                                 appends <text> where the program's log goes,
//                                                             prints "<path>\n<reports in it>\n"
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

void WaitForEvent(const wchar_t* name)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name);
    WaitForSingleObject(event, 30'000);
    CloseHandle(event);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"append" && argc >= 5) {
        const unsigned writer = std::stoul(argv[3]);
        const unsigned count = std::stoul(argv[4]);
        if (argc >= 6)
            WaitForEvent(argv[5]);
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
    std::fprintf(stderr, "usage: log_writer append|loop|default ...\n");
    return 64;
}
