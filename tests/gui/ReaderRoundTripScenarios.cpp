// Round trip with the reader: dates added in the window, by key presses, read back
// by datreader.exe from the file the program wrote. The reader's path comes in
// DATREADER_EXE (set by the test registration).
#include "Driver.h"

#include <cstdlib>

namespace {

using namespace gui;

struct ReaderRun {
    DWORD exitCode;
    std::string output; // standard output, as written (CR LF line ends)
};

// Runs the reader with its output in a file, never a pipe: what it starts must not hold ours.
ReaderRun RunReader(const std::wstring& reader, const std::wstring& arguments, const std::wstring& folder)
{
    // A new file each run: a console helper Wine starts may still hold the last one.
    static int run = 0;
    const std::wstring outPath = folder + L"\\reader-out-" + std::to_wstring(++run) + L".txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    Check(out != INVALID_HANDLE_VALUE, L"cannot create " + outPath + L": " + SystemMessage(GetLastError()));
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = out;
    startup.hStdError = nul;
    std::wstring commandLine = L"\"" + reader + L"\" " + arguments;
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(reader.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, folder.c_str(), &startup, &info);
    const DWORD startError = GetLastError();
    CloseHandle(out);
    CloseHandle(nul);
    Check(started != 0, L"cannot start " + reader + L": " + SystemMessage(startError));
    const DWORD waited = WaitForSingleObject(info.hProcess, 20000);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    if (waited != WAIT_OBJECT_0)
        TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    Check(waited == WAIT_OBJECT_0, L"the reader did not end within 20 s: " + commandLine);

    std::optional<Bytes> bytes = FileBytes(outPath);
    Check(bytes.has_value(), L"cannot read the reader's output " + outPath);
    return {code, std::string(bytes->begin(), bytes->end())};
}

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end()); // the reader's listings are ASCII
}

void AddedDatesReadBack(const Context& context)
{
    const char* readerVariable = std::getenv("DATREADER_EXE");
    Check(readerVariable != nullptr && *readerVariable, L"DATREADER_EXE is not set");
    const std::string readerUnix(readerVariable);
    const std::wstring reader = WindowsPath(std::wstring(readerUnix.begin(), readerUnix.end()));

    ScratchCopy copy(context);
    Recorder app(copy);
    app.WaitForFocus(app.Button(), L"the Add button at start");

    // Two Adds of the date shown at start, then two dates typed into the field.
    PressKey(VK_RETURN);
    PressKey(VK_SPACE);
    ExpectFileBytes(copy.RecordFile(), Join({Record(2012, 1, 31), Record(2012, 1, 31)}), L"two Adds at start");
    struct Change {
        std::vector<std::wstring> fields; // month, day, year; empty skips a part
        int year, month, day;
    };
    const Change changes[] = {{{L"", L"", L"1850"}, 1850, 1, 31}, {{L"07", L"04", L"1999"}, 1999, 7, 4}};
    std::vector<Bytes> records = {Record(2012, 1, 31), Record(2012, 1, 31)};
    for (const Change& change : changes) {
        PressKey(VK_TAB);
        app.WaitForFocus(app.Picker(), L"the date field");
        for (const std::wstring& part : change.fields) {
            PressKey(VK_RIGHT);
            TypeText(part);
        }
        PressKey(VK_TAB);
        app.WaitForFocus(app.Button(), L"the Add button");
        PressKey(VK_RETURN);
        records.push_back(Record(change.year, change.month, change.day));
        ExpectFileBytes(copy.RecordFile(), Join(records), L"Add after typing a date");
    }

    PressChord({VK_MENU, VK_F4});
    const std::optional<DWORD> exit = app.WaitForExit();
    Check(exit.has_value() && *exit == 0, L"the program did not end cleanly after Alt+F4");

    // From the program's folder with no file argument: the default test.dat there.
    const ReaderRun listed = RunReader(reader, L"", copy.ExeFolder());
    const std::string expectedText = "0  2012-01-31\r\n1  2012-01-31\r\n2  1850-01-31\r\n3  1999-07-04\r\n";
    Check(listed.exitCode == 0, L"the reader ended with " + std::to_wstring(listed.exitCode));
    Check(listed.output == expectedText, L"the reader listed:\n" + Wide(listed.output));

    const ReaderRun csv = RunReader(reader, L"--csv \"" + copy.RecordFile() + L"\"", copy.WorkFolder());
    const std::string expectedCsv = "index,year,month,day\r\n0,2012,1,31\r\n1,2012,1,31\r\n2,1850,1,31\r\n3,1999,7,4\r\n";
    Check(csv.exitCode == 0 && csv.output == expectedCsv, L"the reader's CSV:\n" + Wide(csv.output));

    const ReaderRun check = RunReader(reader, L"--check \"" + copy.RecordFile() + L"\"", copy.WorkFolder());
    Check(check.exitCode == 0 && check.output.find("records: 4\r\ninvalid: 0\r\ntrailing bytes: 0\r\nresult: OK") !=
                                     std::string::npos,
          L"the reader's check (exit " + std::to_wstring(check.exitCode) + L"):\n" + Wide(check.output));
}

GUI_SCENARIO(L"reader-round-trip", AddedDatesReadBack);

} // namespace
