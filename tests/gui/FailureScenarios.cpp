// An Add that cannot write reaches the application-wide error handling with the file's
// full path and the system's reason, writes nothing, and leaves the program working.
// The check accepts any visible window the main window owns (a message box or a richer
// error dialog) whose own text or any control's text holds the message.
#include "Driver.h"

namespace {

using namespace gui;

const Bytes Jan31 = Record(2012, 1, 31);

// Another program holding test.dat open without sharing, until released.
class FileHolder {
public:
    FileHolder(const Context& context, const std::wstring& path)
    {
        Check(!context.HoldFileExe.empty(), L"the test gives no hold_file program");
        const std::wstring tag = std::to_wstring(GetCurrentProcessId());
        const std::wstring readyName = L"gui-hold-ready-" + tag;
        const std::wstring releaseName = L"gui-hold-release-" + tag;
        ready_ = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
        release_ = CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str());
        std::wstring commandLine = L"\"" + context.HoldFileExe + L"\" \"" + path + L"\" " + readyName + L" " + releaseName;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        Check(CreateProcessW(context.HoldFileExe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &process_) != 0,
              L"cannot start hold_file: " + SystemMessage(GetLastError()));
        HANDLE waitFor[] = {ready_, process_.hProcess};
        Check(WaitForMultipleObjects(2, waitFor, FALSE, 10000) == WAIT_OBJECT_0, L"hold_file did not take the file");
    }
    ~FileHolder()
    {
        Release();
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
        CloseHandle(ready_);
        CloseHandle(release_);
    }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    void Release()
    {
        SetEvent(release_);
        if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0)
            TerminateProcess(process_.hProcess, 1);
    }

private:
    PROCESS_INFORMATION process_{};
    HANDLE ready_ = nullptr;
    HANDLE release_ = nullptr;
};

std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH];
    DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    Check(length > 0 && length < MAX_PATH, L"GetFullPathNameW failed for " + path);
    return full;
}

void FileHeldOpenByAnotherProgram(const Context& context)
{
    ScratchCopy copy(context);
    Recorder app(copy);
    const std::wstring file = copy.RecordFile();
    app.WaitForFocus(app.Button(), L"the Add button at start");
    PressKey(VK_RETURN);
    ExpectFileBytes(file, Jan31, L"the Add before the file is held");

    const std::wstring message =
        L"Cannot open file \"" + FullPath(file) + L"\". " + SystemMessage(ERROR_SHARING_VIOLATION);
    {
        FileHolder holder(context, file);
        // Twice: each failed Add is reported, and one report does not spoil the next.
        for (int attempt = 1; attempt <= 2; ++attempt) {
            Log(L"held, Add %d", attempt);
            app.BringToFront();
            app.WaitForFocus(app.Button(), L"the Add button");
            PressKey(VK_RETURN);
            ExpectErrorShownAndDismiss(app, message);
            Check(FileSize(file) == std::optional<std::uint64_t>(6), L"test.dat changed size during a failed Add");
        }
        holder.Release();
        ExpectFileBytes(file, Jan31, L"after the failed Adds, once the file was let go");
    }

    // The window still takes input, and an Add works again.
    app.BringToFront();
    app.WaitForFocus(app.Button(), L"the Add button after the error");
    Check(WindowText(app.Picker()) == ShortDate(2012, 1, 31), L"the error changed the date field");
    PressKey(VK_RETURN);
    ExpectFileBytes(file, Join({Jan31, Jan31}), L"an Add after the file was let go");
    Check(app.OwnedModal() == nullptr, L"an error window is open after the successful Add");
    app.CloseAndExpectCleanExit();
}

void DirectoryNamedLikeTheFile(const Context& context)
{
    ScratchCopy copy(context);
    const std::wstring file = copy.RecordFile();
    Check(CreateDirectoryW(file.c_str(), nullptr) != 0, L"cannot make the directory test.dat");
    Recorder app(copy);
    app.WaitForFocus(app.Button(), L"the Add button at start");

    // A directory is no existing file, so the program tries to create one, and that fails.
    PressKey(VK_RETURN);
    ExpectErrorShownAndDismiss(app, L"Cannot create file \"" + FullPath(file) + L"\". " +
                                        SystemMessage(ERROR_ACCESS_DENIED));
    Check((GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0 && FolderEntries(file).empty(),
          L"the directory test.dat was changed or written into");
    // The error handling may log the error beside the program (DateRecorder.elf, written through a
    // temporary of that name); the Add itself creates nothing.
    std::vector<std::wstring> beside = FolderEntries(copy.ExeFolder());
    std::erase_if(beside, [](const std::wstring& name) { return name.starts_with(L"DateRecorder.elf"); });
    Check(beside == std::vector<std::wstring>({L"DateRecorder.exe", L"test.dat"}),
          L"the failed Add created something beside the program");

    // With the directory gone the same window creates the file.
    Check(RemoveDirectoryW(file.c_str()) != 0, L"cannot remove the directory test.dat");
    app.BringToFront();
    app.WaitForFocus(app.Button(), L"the Add button after the error");
    PressKey(VK_RETURN);
    ExpectFileBytes(file, Jan31, L"an Add after the directory was removed");
    app.CloseAndExpectCleanExit();
    Check(FolderEntries(copy.WorkFolder()).empty(), L"the program wrote into its working directory");
}

GUI_SCENARIO(L"file-held-open", FileHeldOpenByAnotherProgram);
GUI_SCENARIO(L"directory-in-the-way", DirectoryNamedLikeTheFile);

} // namespace
