#pragma once
// A file opened for reading and writing without sharing, closed when the stream is destroyed.

#include "Handle.h"

#include <cstdint>
#include <string>

enum class TFileOpenMode
{
    OpenExisting, // the file must exist; EFOpenError otherwise
    Create,       // a new, empty file, replacing one of the same name; EFCreateError on failure
    OpenOrCreate, // the existing file untouched, or a new one; the error names which was tried
};

class TFileStream
{
public:
    // No other opener may read or write the file while this stream holds it.
    TFileStream(const std::wstring& fileName, TFileOpenMode mode);

    std::int64_t Size() const;
    std::int64_t Seek(std::int64_t offset); // absolute; returns the new position
    std::int64_t Position() const;

    // Writes what the system takes and returns the count written.
    std::size_t Write(const void* buffer, std::size_t count);
    // Writes all of the buffer or nothing: after a short or failed write the file is
    // cut back to where the write began and EWriteError is raised.
    void WriteBuffer(const void* buffer, std::size_t count);
    // Makes what was written reach the disk before the file is closed.
    void FlushToDisk();
    // Ends the file at the current position.
    void Truncate();

    const std::wstring& FileName() const noexcept { return fileName_; }

private:
    std::wstring fileName_;
    TFileHandle handle_;
};
