#include "SystemFacts_win.h"

#include "Application.h"
#include "Exceptions.h"
#include "Handle.h"
#include "RunTime.h"

#include <iphlpapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::string Format(const char* format, auto... values)
{
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

[[noreturn]] void RaiseLastError(const wchar_t* what)
{
    const DWORD code = GetLastError();
    throw Exception(std::wstring(what) + L" failed. " + SysErrorMessage(code));
}

// A system DLL loaded for one query, from the system folder only, and freed after it.
class TSystemLibrary
{
public:
    explicit TSystemLibrary(const wchar_t* name)
        : module_(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
    {
        if (module_ == nullptr)
            RaiseLastError((std::wstring(L"Loading ") + name).c_str());
    }
    ~TSystemLibrary() { FreeLibrary(module_); }
    TSystemLibrary(const TSystemLibrary&) = delete;
    TSystemLibrary& operator=(const TSystemLibrary&) = delete;

    template <class TFunction>
    TFunction Function(const char* name) const
    {
        auto function = reinterpret_cast<TFunction>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
        if (function == nullptr)
            throw Exception(L"The system has no " + Utf8ToWide(name) + L".");
        return function;
    }

private:
    HMODULE module_;
};

std::string Duration(ULONGLONG seconds)
{
    return Format("%llu:%02llu:%02llu", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

std::string MacText(const BYTE* address, UINT length)
{
    std::string text;
    for (UINT i = 0; i < length; ++i)
        text += Format(i == 0 ? "%02X" : "-%02X", address[i]);
    return text;
}

} // namespace

std::string LocalTimeText(const SYSTEMTIME& time)
{
    return Format("%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
                  time.wSecond);
}

std::string ModuleVersion(HMODULE module)
{
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16) /* RT_VERSION */);
    HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
    const auto* data = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (data == nullptr)
        return {};
    const DWORD size = SizeofResource(module, resource);
    // The fixed part sits near the start, DWORD-aligned, after the key "VS_VERSION_INFO".
    for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO info;
        std::memcpy(&info, data + at, sizeof info);
        if (info.dwSignature == 0xFEEF04BD)
            return Format("%lu.%lu.%lu.%lu", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                          HIWORD(info.dwFileVersionLS), LOWORD(info.dwFileVersionLS));
    }
    return {};
}

std::string ApplicationFacts()
{
    std::string text = "  File:         " + WideToUtf8(ExeFileName()) + "\r\n";
    const std::string version = ModuleVersion(GetModuleHandleW(nullptr));
    text += "  Version:      " + (version.empty() ? std::string("(none)") : version) + "\r\n";
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        RaiseLastError(L"GetProcessTimes");
    FILETIME localCreated, now;
    SYSTEMTIME startTime;
    FileTimeToLocalFileTime(&created, &localCreated);
    FileTimeToSystemTime(&localCreated, &startTime);
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) { return ULONGLONG(t.dwHighDateTime) << 32 | t.dwLowDateTime; };
    const ULONGLONG running = ticks(now) > ticks(created) ? (ticks(now) - ticks(created)) / 10'000'000 : 0;
    text += "  Started:      " + LocalTimeText(startTime) + "\r\n";
    text += "  Running for:  " + Duration(running) + "\r\n";
    return text;
}

std::string UserName()
{
    wchar_t name[257];
    DWORD size = 257;
    if (!GetUserNameW(name, &size))
        RaiseLastError(L"GetUserNameW");
    return WideToUtf8(name);
}

std::string ComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size))
        RaiseLastError(L"GetComputerNameW");
    return WideToUtf8(name);
}

std::string ActiveControlFacts()
{
    TForm* form = Application->MainForm();
    if (form == nullptr)
        return "(no main window)";
    TControl* control = form->ActiveControl();
    if (control == nullptr)
        return "(none)";
    return WideToUtf8(control->Name()) + " (" + WideToUtf8(control->ClassName()) + ")";
}

std::string OperatingSystemFacts()
{
    // GetVersionEx lies to programs without a manifest entry for the newest system; this does not.
    using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto getVersion = reinterpret_cast<TRtlGetVersion>(
        reinterpret_cast<void*>(ntdll != nullptr ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr));
    if (getVersion == nullptr)
        throw Exception(L"The system has no RtlGetVersion.");
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (getVersion(&version) != 0)
        throw Exception(L"RtlGetVersion failed.");
    std::string text = Format("Windows %lu.%lu build %lu", version.dwMajorVersion, version.dwMinorVersion,
                              version.dwBuildNumber);
    if (version.szCSDVersion[0] != 0)
        text += " " + WideToUtf8(version.szCSDVersion);
    text += version.wProductType == VER_NT_WORKSTATION ? ", workstation" : ", server";
    using TWineVersion = const char*(__cdecl*)();
    if (auto wine = reinterpret_cast<TWineVersion>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version"))))
        text += std::string(" (Wine ") + wine() + ")";
    return text;
}

std::string NetworkFacts()
{
    std::string text;
    wchar_t host[256];
    DWORD hostSize = 256;
    if (GetComputerNameExW(ComputerNameDnsFullyQualified, host, &hostSize))
        text += "  Host name:    " + WideToUtf8(host) + "\r\n";

    TSystemLibrary iphlpapi(L"iphlpapi.dll");
    using TGetAdaptersInfo = ULONG(WINAPI*)(IP_ADAPTER_INFO*, ULONG*);
    auto getAdaptersInfo = iphlpapi.Function<TGetAdaptersInfo>("GetAdaptersInfo");
    ULONG size = 0;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size > 0 ? size : sizeof(IP_ADAPTER_INFO));
        size = static_cast<ULONG>(buffer.size());
        result = getAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (result == ERROR_NO_DATA)
        return text + "  (no network adapters)\r\n";
    if (result != ERROR_SUCCESS)
        throw Exception(L"GetAdaptersInfo failed. " + SysErrorMessage(result));
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        text += std::string("  Adapter:      ") + adapter->Description + "\r\n";
        text += "    Physical:   " + MacText(adapter->Address, adapter->AddressLength) + "\r\n";
        for (IP_ADDR_STRING* ip = &adapter->IpAddressList; ip != nullptr; ip = ip->Next)
            if (ip->IpAddress.String[0] != 0)
                text += std::string("    Address:    ") + ip->IpAddress.String + " / " + ip->IpMask.String + "\r\n";
        if (adapter->GatewayList.IpAddress.String[0] != 0)
            text += std::string("    Gateway:    ") + adapter->GatewayList.IpAddress.String + "\r\n";
    }
    return text;
}

std::string ModuleList()
{
    TFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0)); // empty is INVALID_HANDLE_VALUE
    if (!snapshot.Valid())
        RaiseLastError(L"Listing the modules");
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    std::string text = "Base      Size      Version          Path\r\n";
    for (BOOL more = Module32FirstW(snapshot.Get(), &entry); more; more = Module32NextW(snapshot.Get(), &entry)) {
        std::string version = ModuleVersion(entry.hModule);
        text += Format("%08lX  %08lX  %-15s  ", reinterpret_cast<unsigned long>(entry.modBaseAddr),
                       static_cast<unsigned long>(entry.modBaseSize), version.c_str()) +
                WideToUtf8(entry.szExePath) + "\r\n";
    }
    return text;
}

std::string ProcessList()
{
    TFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid())
        RaiseLastError(L"Listing the processes");
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    std::string text = "    Id  Name\r\n";
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry))
        text += Format("%6lu  ", static_cast<unsigned long>(entry.th32ProcessID)) + WideToUtf8(entry.szExeFile) +
                (entry.th32ProcessID == GetCurrentProcessId() ? "  (this process)" : "") + "\r\n";
    return text;
}
