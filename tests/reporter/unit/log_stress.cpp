// Drives log_writer processes against one log and checks the log afterwards:
//   log_stress concurrent <log_writer.exe> <folder> <reports per writer>
//       two writers append at once; every report of both must be in the log, whole.
//   log_stress kill <log_writer.exe> <folder> <tries>
//       a writer appends in a loop and is killed after a random short time, again and again;
//       after every kill the log must be sound and hold only whole reports.
#include "ReportLog_win.h"
#include "TestReports.h"

#include "Handle.h"

#include <windows.h>

#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <utility>

namespace {

// Linux paths handed in by CTest name the same files through Wine's Z: drive.
std::wstring WindowsPath(std::wstring path)
{
    if (!path.empty() && path[0] == L'/')
        path = L"Z:" + path;
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

TKernelHandle Start(const std::wstring& exe, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "cannot start the writer: error %lu\n", GetLastError());
        return TKernelHandle();
    }
    CloseHandle(process.hThread);
    return TKernelHandle(process.hProcess);
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Every report whole and of a known writer; false with a message otherwise.
bool CheckReports(const TLogContents& contents, const char* when)
{
    if (contents.Repaired) {
        std::printf("FAIL %s: the log needed repair\n", when);
        return false;
    }
    for (std::size_t i = 0; i < contents.Reports.size(); ++i) {
        unsigned writer = 0;
        unsigned sequence = 0;
        if (!ParseTestReport(contents.Reports[i], writer, sequence)) {
            std::printf("FAIL %s: report %u is not whole\n", when, static_cast<unsigned>(i));
            return false;
        }
    }
    return true;
}

int Concurrent(const std::wstring& writerExe, const std::wstring& folder, unsigned perWriter)
{
    const std::wstring log = folder + L"\\concurrent.elf";
    DeleteFileW(log.c_str());
    const std::wstring prefix = L"Local\\log-stress-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring goName = prefix + L"-go";
    TKernelHandle go(CreateEventW(nullptr, TRUE, FALSE, goName.c_str()));

    TKernelHandle writers[2];
    TKernelHandle ready[2];
    for (unsigned w = 0; w < 2; ++w) {
        const std::wstring readyName = prefix + L"-ready-" + std::to_wstring(w + 1);
        ready[w].Reset(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
        writers[w] = Start(writerExe, L"append \"" + log + L"\" " + std::to_wstring(w + 1) + L" " +
                                          std::to_wstring(perWriter) + L" " + readyName + L" " + goName);
        if (!writers[w].Valid())
            return 1;
    }
    HANDLE bothReady[2] = {ready[0].Get(), ready[1].Get()};
    if (WaitForMultipleObjects(2, bothReady, TRUE, 30'000) != WAIT_OBJECT_0) {
        std::printf("FAIL: the writers did not both get ready\n");
        return 1;
    }
    SetEvent(go.Get());
    for (TKernelHandle& writer : writers) {
        DWORD code = 1;
        if (WaitForSingleObject(writer.Get(), 120'000) != WAIT_OBJECT_0 || !GetExitCodeProcess(writer.Get(), &code) ||
            code != 0) {
            std::printf("FAIL: a writer did not finish or could not write (exit code %lu)\n", code);
            return 1;
        }
    }

    TLogContents contents;
    if (!ReadReportLog(log, contents) || !CheckReports(contents, "after both writers"))
        return 1;
    std::set<std::pair<unsigned, unsigned>> seen;
    unsigned last[3] = {0, 0, 0};
    unsigned switches = 0;
    unsigned previousWriter = 0;
    for (const std::string& report : contents.Reports) {
        unsigned writer = 0;
        unsigned sequence = 0;
        ParseTestReport(report, writer, sequence);
        if (writer < 1 || writer > 2 || sequence <= last[writer]) {
            std::printf("FAIL: writer %u's report %u is out of order\n", writer, sequence);
            return 1;
        }
        last[writer] = sequence;
        seen.insert({writer, sequence});
        switches += previousWriter != 0 && previousWriter != writer ? 1 : 0;
        previousWriter = writer;
    }
    std::printf("concurrent: %u reports in the log (expected %u), writers took turns %u times\n",
                static_cast<unsigned>(seen.size()), 2 * perWriter, switches);
    DeleteFileW(log.c_str());
    if (seen.size() != 2 * perWriter) {
        std::printf("FAIL: reports were lost\n");
        return 1;
    }
    return 0;
}

int Kill(const std::wstring& writerExe, const std::wstring& folder, unsigned tries)
{
    const std::wstring log = folder + L"\\killed.elf";
    const std::wstring temp = log + L".tmp";
    DeleteFileW(log.c_str());
    DeleteFileW(temp.c_str());
    const unsigned seed = GetTickCount();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMs(0, 25);

    unsigned midWrite = 0;
    std::size_t previousCount = 0;
    for (unsigned attempt = 1; attempt <= tries; ++attempt) {
        const std::wstring readyName = L"Local\\log-stress-ready-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                       std::to_wstring(attempt);
        TKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
        TKernelHandle writer = Start(writerExe, L"loop \"" + log + L"\" " + std::to_wstring(attempt) + L" " + readyName);
        if (!writer.Valid())
            return 1;
        HANDLE waits[2] = {ready.Get(), writer.Get()};
        if (WaitForMultipleObjects(2, waits, FALSE, 30'000) != WAIT_OBJECT_0) {
            std::printf("FAIL try %u: the writer ended or hung before its first report (seed %u)\n", attempt, seed);
            TerminateProcess(writer.Get(), 1);
            return 1;
        }
        Sleep(static_cast<DWORD>(delayMs(random)));
        TerminateProcess(writer.Get(), 9);
        WaitForSingleObject(writer.Get(), 30'000);
        midWrite += FileExists(temp) ? 1 : 0;

        TLogContents contents;
        const std::string when = "after kill " + std::to_string(attempt) + " (seed " + std::to_string(seed) + ")";
        if (!ReadReportLog(log, contents) || !CheckReports(contents, when.c_str()))
            return 1;
        unsigned lastWriter = 0;
        unsigned sequence = 0;
        if (contents.Reports.empty() || !ParseTestReport(contents.Reports.back(), lastWriter, sequence) ||
            lastWriter != attempt || contents.Reports.size() < previousCount ||
            contents.Reports.size() > MaxReports) {
            std::printf("FAIL %s: %u reports, the newest not from this writer or reports lost\n", when.c_str(),
                        static_cast<unsigned>(contents.Reports.size()));
            return 1;
        }
        previousCount = contents.Reports.size();
    }
    std::printf("kill: %u tries, %u killed between creating and renaming the new log, %u sound reports at the end\n",
                tries, midWrite, static_cast<unsigned>(previousCount));
    DeleteFileW(log.c_str());
    DeleteFileW(temp.c_str());
    if (midWrite == 0) {
        std::printf("FAIL: no kill landed while the log was being written, so nothing was shown\n");
        return 1;
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 5) {
        const std::wstring mode = argv[1];
        const std::wstring writer = WindowsPath(argv[2]);
        const std::wstring folder = WindowsPath(argv[3]);
        const unsigned count = std::stoul(argv[4]);
        CreateDirectoryW(folder.c_str(), nullptr);
        if (mode == L"concurrent")
            return Concurrent(writer, folder, count);
        if (mode == L"kill")
            return Kill(writer, folder, count);
    }
    std::fprintf(stderr, "usage: log_stress concurrent|kill <log_writer.exe> <folder> <count>\n");
    return 64;
}
