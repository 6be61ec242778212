// Prints the cost of one Add (TForm2::btnAddClick appending a record to test.dat beside
// this program) against the bare Win32 calls such an append needs.
//   add_bench.exe [CALLS]
#include "Clock.h"

#include "Application.h"
#include "RunTime.h"
#include "Unit2.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <exception>
#include <string>

namespace {

const BYTE kRecord[6] = {0xDC, 0x07, 0x01, 0x00, 0x1F, 0x00};

[[noreturn]] void Fail(const wchar_t* what)
{
    const DWORD error = GetLastError();
    std::fwprintf(stderr, L"%ls failed: error %lu\n", what, error);
    std::exit(1);
}

// Open or create without sharing, go to the end, write, flush, close.
void BareAppend(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail(L"CreateFileW");
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file, zero, nullptr, FILE_END))
        Fail(L"SetFilePointerEx");
    DWORD written = 0;
    if (!WriteFile(file, kRecord, sizeof kRecord, &written, nullptr) || written != sizeof kRecord)
        Fail(L"WriteFile");
    if (!FlushFileBuffers(file))
        Fail(L"FlushFileBuffers");
    CloseHandle(file);
}

long long FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int calls = argc > 1 ? std::wcstol(argv[1], nullptr, 10) : 200;
    const int rounds = 5;
    if (calls < rounds) {
        std::fwprintf(stderr, L"usage: add_bench.exe [CALLS >= %d]\n", rounds);
        return 2;
    }
    const std::wstring dir = ExtractFilePath(ExeFileName());
    const std::wstring recordFile = dir + L"test.dat";
    const std::wstring bareFile = dir + L"bare.dat";
    DeleteFileW(recordFile.c_str());
    DeleteFileW(bareFile.c_str());

    try {
        Application->Initialize();
        Application->CreateForm(Form2);
        // Warm both paths once, so neither pays for first-time loading.
        Form2->btnAddClick(Form2->btnAdd);
        BareAppend(bareFile);

        // Alternate in rounds, so drift in the machine's load hits both alike.
        double addTime = 0, bareTime = 0;
        const int perRound = calls / rounds;
        for (int round = 0; round < rounds; ++round) {
            double start = Seconds();
            for (int i = 0; i < perRound; ++i)
                Form2->btnAddClick(Form2->btnAdd);
            addTime += Seconds() - start;
            start = Seconds();
            for (int i = 0; i < perRound; ++i)
                BareAppend(bareFile);
            bareTime += Seconds() - start;
        }
        const int timed = perRound * rounds;

        // Figures from appends that did not all happen would mean nothing.
        const long long expected = 6LL * (timed + 1);
        if (FileSize(recordFile) != expected || FileSize(bareFile) != expected) {
            std::fwprintf(stderr, L"unexpected sizes: test.dat %lld, bare.dat %lld, expected %lld\n",
                          FileSize(recordFile), FileSize(bareFile), expected);
            return 1;
        }
        const double addMicros = addTime / timed * 1e6;
        const double bareMicros = bareTime / timed * 1e6;
        std::wprintf(L"Add, one record appended (%d calls, file beside the exe)\n", timed);
        std::wprintf(L"  btnAddClick:                       %10.1f us per call\n", addMicros);
        std::wprintf(L"  bare open/seek/write/flush/close:  %10.1f us per call\n", bareMicros);
        std::wprintf(L"  ratio Add / bare:                  %10.2f\n", addMicros / bareMicros);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Add failed: %s\n", error.what());
        return 1;
    }
    DeleteFileW(recordFile.c_str());
    DeleteFileW(bareFile.c_str());
    return 0;
}
