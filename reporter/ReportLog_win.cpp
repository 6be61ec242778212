#include "ReportLog_win.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cwctype>

#include "Handle.h"

namespace {

constexpr DWORD LockWaitMs = 15'000;
constexpr int ReplaceTries = 20;
constexpr DWORD ReplaceRetryMs = 50;

std::wstring ModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::size_t LastSeparator(const std::wstring& path)
{
    return path.find_last_of(L"\\/:");
}

std::wstring FolderOf(const std::wstring& path)
{
    const std::size_t sep = LastSeparator(path);
    return sep == std::wstring::npos ? std::wstring(L".") : path.substr(0, sep + 1);
}

std::wstring StemOf(const std::wstring& path)
{
    const std::size_t sep = LastSeparator(path);
    std::wstring name = sep == std::wstring::npos ? path : path.substr(sep + 1);
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0)
        name.resize(dot);
    return name;
}

std::wstring WithSeparator(std::wstring folder)
{
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/')
        folder.push_back(L'\\');
    return folder;
}

// The user's application-data folder; the shell library is loaded from the system folder only,
// and only when a report is written, so start-up never pays for it.
std::wstring AppDataFolder()
{
    HMODULE shell = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (shell == nullptr)
        return {};
    using TGetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
    auto getFolderPath = reinterpret_cast<TGetFolderPath>(
        reinterpret_cast<void (*)()>(GetProcAddress(shell, "SHGetFolderPathW")));
    std::wstring folder;
    wchar_t buffer[MAX_PATH] = {};
    if (getFolderPath != nullptr &&
        SUCCEEDED(getFolderPath(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                buffer)))
        folder = buffer;
    FreeLibrary(shell);
    return folder;
}

std::wstring Hex(std::uint32_t value)
{
    wchar_t text[9];
    for (int i = 7; i >= 0; --i, value >>= 4)
        text[i] = L"0123456789abcdef"[value & 0xF];
    text[8] = L'\0';
    return text;
}

// One mutex per log, named from its full path: every process that writes this log agrees on it.
std::wstring LockName(const std::wstring& logPath)
{
    wchar_t full[MAX_PATH * 2] = {};
    std::wstring path = logPath;
    const DWORD length = GetFullPathNameW(logPath.c_str(), MAX_PATH * 2, full, nullptr);
    if (length > 0 && length < MAX_PATH * 2)
        path = full;
    std::string key;
    for (wchar_t c : path) {
        const wchar_t lower = static_cast<wchar_t>(std::towlower(c));
        key.push_back(static_cast<char>(lower & 0xFF));
        key.push_back(static_cast<char>(lower >> 8));
    }
    return L"ReportLog." + Hex(Crc32(key)) + L"." + Hex(static_cast<std::uint32_t>(key.size()));
}

class TLogLock {
public:
    explicit TLogLock(const std::wstring& logPath)
    {
        // Global, so that users in other sessions writing the same log wait too; where another
        // user's mutex refuses us, the session's own namespace still serialises this session.
        const std::wstring name = LockName(logPath);
        mutex_.Reset(CreateMutexW(nullptr, FALSE, (L"Global\\" + name).c_str()));
        if (!mutex_.Valid())
            mutex_.Reset(CreateMutexW(nullptr, FALSE, (L"Local\\" + name).c_str()));
        if (!mutex_.Valid())
            return;
        const DWORD wait = WaitForSingleObject(mutex_.Get(), LockWaitMs);
        // Abandoned: a writer died while holding it. The log is still whole (it is only ever
        // replaced in one step), so the lock is ours.
        held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    }
    TLogLock(const TLogLock&) = delete;
    TLogLock& operator=(const TLogLock&) = delete;
    ~TLogLock()
    {
        if (held_)
            ReleaseMutex(mutex_.Get());
    }
    bool Held() const noexcept { return held_; }

private:
    TKernelHandle mutex_;
    bool held_ = false;
};

bool WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    TFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        DWORD written = 0;
        // A short write is real on a full disk; only a whole file counts.
        if (!WriteFile(file.Get(), bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return FlushFileBuffers(file.Get()) != FALSE;
}

bool ReplaceFile(const std::wstring& from, const std::wstring& to)
{
    for (int attempt = 0; attempt < ReplaceTries; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        // Someone may have the log open for a moment without sharing; anything else is final.
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION)
            return false;
        Sleep(ReplaceRetryMs);
    }
    return false;
}

} // namespace

std::wstring LogPathBeside(const std::wstring& exePath)
{
    const std::size_t sep = LastSeparator(exePath);
    const std::size_t dot = exePath.rfind(L'.');
    std::wstring path = exePath;
    if (dot != std::wstring::npos && (sep == std::wstring::npos || dot > sep + 1))
        path.resize(dot);
    return path + L".elf";
}

std::wstring FallbackLogPath(const std::wstring& exePath, const std::wstring& appData)
{
    const std::wstring program = StemOf(exePath);
    return WithSeparator(appData) + program + L"\\" + program + L".elf";
}

bool FolderIsWritable(const std::wstring& folder) noexcept
{
    try {
        const std::wstring probe = WithSeparator(folder) + L"~write-test." +
                                   Hex(GetCurrentProcessId()) + L"." + Hex(GetTickCount()) + L".tmp";
        TFileHandle file(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        return file.Valid();
    } catch (...) {
        return false;
    }
}

bool ReadReportLog(const std::wstring& path, TLogContents& contents) noexcept
{
    contents = TLogContents{};
    try {
        TFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) {
            const DWORD error = GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        }
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file.Get(), &size))
            return false;
        std::size_t toRead = static_cast<std::size_t>(size.QuadPart);
        bool tooLarge = false;
        if (static_cast<unsigned long long>(size.QuadPart) > MaxLogBytes) {
            // No sound log is this large: only its newest end can hold reports worth keeping.
            tooLarge = true;
            toRead = MaxLogBytes;
            LARGE_INTEGER from{};
            from.QuadPart = size.QuadPart - static_cast<LONGLONG>(MaxLogBytes);
            if (!SetFilePointerEx(file.Get(), from, nullptr, FILE_BEGIN))
                return false;
        }
        std::string bytes(toRead, '\0');
        std::size_t done = 0;
        while (done < toRead) {
            DWORD got = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(toRead - done, 1 << 20));
            if (!ReadFile(file.Get(), bytes.data() + done, chunk, &got, nullptr))
                return false;
            if (got == 0)
                break;
            done += got;
        }
        bytes.resize(done);
        contents = ParseLog(bytes);
        contents.Repaired = contents.Repaired || tooLarge;
        return true;
    } catch (...) {
        contents = TLogContents{};
        return false;
    }
}

bool AppendToReportLogAt(const std::wstring& path, const std::string& report) noexcept
{
    try {
        TLogLock lock(path);
        if (!lock.Held())
            return false;
        TLogContents contents;
        // An existing log that cannot be read is left alone rather than overwritten.
        if (!ReadReportLog(path, contents))
            return false;
        const std::string bytes = SerializeLog(AppendReport(std::move(contents.Reports), report));
        const std::wstring temp = path + L".tmp";
        if (!WriteWholeFile(temp, bytes) || !ReplaceFile(temp, path)) {
            DeleteFileW(temp.c_str());
            return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}

namespace {

// The log under the user's application-data folder, its folder created when needed; empty if
// that folder is unknown.
std::wstring FallbackLog(const std::wstring& exe)
{
    const std::wstring appData = AppDataFolder();
    if (appData.empty())
        return {};
    const std::wstring fallback = FallbackLogPath(exe, appData);
    // An existing folder is fine, and any other failure shows when writing.
    const std::wstring folder = FolderOf(fallback);
    CreateDirectoryW(folder.substr(0, folder.size() - 1).c_str(), nullptr);
    return fallback;
}

} // namespace

std::wstring ReportLogPath()
{
    const std::wstring exe = ModulePath();
    const std::wstring beside = LogPathBeside(exe);
    if (FolderIsWritable(FolderOf(beside)))
        return beside;
    const std::wstring fallback = FallbackLog(exe);
    return fallback.empty() ? beside : fallback;
}

bool AppendToReportLog(const std::string& report) noexcept
{
    try {
        const std::wstring exe = ModulePath();
        const std::wstring path = ReportLogPath();
        if (AppendToReportLogAt(path, report))
            return true;
        // The folder took a file but the log beside the exe would not be replaced (it may be
        // read-only): the report still goes where a read-only folder's would.
        if (path != LogPathBeside(exe))
            return false;
        const std::wstring fallback = FallbackLog(exe);
        return !fallback.empty() && AppendToReportLogAt(fallback, report);
    } catch (...) {
        return false;
    }
}
