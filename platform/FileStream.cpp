#include "FileStream.h"

#include "Exceptions.h"
#include "RunTime.h"

namespace {

constexpr DWORD NoSharing = 0;

DWORD CreationDisposition(TFileOpenMode mode)
{
    switch (mode) {
    case TFileOpenMode::OpenExisting: return OPEN_EXISTING;
    case TFileOpenMode::Create:       return CREATE_ALWAYS;
    case TFileOpenMode::OpenOrCreate: return OPEN_ALWAYS;
    }
    return OPEN_EXISTING;
}

[[noreturn]] void RaiseWriteError(DWORD errorCode)
{
    throw EWriteError(L"Stream write error. " + SysErrorMessage(errorCode));
}

} // namespace

TFileStream::TFileStream(const std::wstring& fileName, TFileOpenMode mode) : fileName_(fileName)
{
    handle_.Reset(CreateFileW(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, NoSharing, nullptr,
                              CreationDisposition(mode), FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle_.Valid())
        return;
    DWORD errorCode = GetLastError();
    bool opening = mode == TFileOpenMode::OpenExisting ||
                   (mode == TFileOpenMode::OpenOrCreate && FileExists(fileName));
    if (opening)
        throw EFOpenError(fileName, errorCode);
    throw EFCreateError(fileName, errorCode);
}

std::int64_t TFileStream::Size() const
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_.Get(), &size))
        throw EStreamError(L"Cannot read the size of \"" + fileName_ + L"\". " + SysErrorMessage(GetLastError()));
    return size.QuadPart;
}

std::int64_t TFileStream::Seek(std::int64_t offset)
{
    LARGE_INTEGER distance{};
    distance.QuadPart = offset;
    LARGE_INTEGER position{};
    if (!SetFilePointerEx(handle_.Get(), distance, &position, FILE_BEGIN))
        throw EStreamError(L"Cannot move in \"" + fileName_ + L"\". " + SysErrorMessage(GetLastError()));
    return position.QuadPart;
}

std::int64_t TFileStream::Position() const
{
    LARGE_INTEGER position{};
    if (!SetFilePointerEx(handle_.Get(), LARGE_INTEGER{}, &position, FILE_CURRENT))
        throw EStreamError(L"Cannot read the position in \"" + fileName_ + L"\". " +
                           SysErrorMessage(GetLastError()));
    return position.QuadPart;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count)
{
    DWORD written = 0;
    if (!WriteFile(handle_.Get(), buffer, static_cast<DWORD>(count), &written, nullptr))
        return 0;
    return written;
}

void TFileStream::WriteBuffer(const void* buffer, std::size_t count)
{
    std::int64_t start = Position();
    DWORD written = 0;
    BOOL ok = WriteFile(handle_.Get(), buffer, static_cast<DWORD>(count), &written, nullptr);
    DWORD errorCode = ok ? ERROR_DISK_FULL : GetLastError();
    if (ok && written == count)
        return;
    // Put the file back as it was: no partial record may stay behind.
    if (Size() != start) {
        Seek(start);
        Truncate();
    }
    RaiseWriteError(errorCode);
}

void TFileStream::FlushToDisk()
{
    if (!FlushFileBuffers(handle_.Get()))
        RaiseWriteError(GetLastError());
}

void TFileStream::Truncate()
{
    if (!SetEndOfFile(handle_.Get()))
        throw EStreamError(L"Cannot truncate \"" + fileName_ + L"\". " + SysErrorMessage(GetLastError()));
}
