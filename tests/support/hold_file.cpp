// Holds a file open without sharing, as another program would, until told to let go.
//   hold_file <path> <ready event> <release event>
// Signals the ready event once the file is held; exits when the release event is set.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) {
        std::fwprintf(stderr, L"usage: hold_file <path> <ready event> <release event>\n");
        return 2;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fwprintf(stderr, L"hold_file: cannot open %ls (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, argv[2]);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, argv[3]);
    SetEvent(ready);
    DWORD waited = WaitForSingleObject(release, 60'000); // never outlive a stuck test
    CloseHandle(file);
    return waited == WAIT_OBJECT_0 ? 0 : 3;
}
