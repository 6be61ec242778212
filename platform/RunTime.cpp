#include "RunTime.h"

#include <vector>

std::wstring ExeFileName()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2); // truncated: long paths exceed MAX_PATH
    }
}

std::wstring ExtractFilePath(std::wstring_view fileName)
{
    size_t separator = fileName.find_last_of(L"\\/:");
    if (separator == std::wstring_view::npos)
        return {};
    return std::wstring(fileName.substr(0, separator + 1));
}

bool FileExists(const std::wstring& fileName)
{
    DWORD attributes = GetFileAttributesW(fileName.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring ExpandFileName(const std::wstring& fileName)
{
    DWORD needed = GetFullPathNameW(fileName.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return fileName;
    std::wstring full(needed, L'\0');
    DWORD length = GetFullPathNameW(fileName.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return fileName;
    full.resize(length);
    return full;
}

std::wstring SysErrorMessage(DWORD errorCode)
{
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, errorCode, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message;
    if (length != 0 && text != nullptr)
        message.assign(text, length);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
        message.pop_back();
    if (message.empty())
        message = L"System error " + std::to_wstring(errorCode) + L".";
    return message;
}

std::wstring Utf8ToWide(std::string_view text)
{
    if (text.empty())
        return {};
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string WideToUtf8(std::wstring_view text)
{
    if (text.empty())
        return {};
    int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                        nullptr);
    return narrow;
}
