#pragma once
// The platform's exception family. Every error the platform raises carries a
// readable message; the file stream errors also carry the system error code.

#include <windows.h>

#include <exception>
#include <string>

class Exception : public std::exception
{
public:
    explicit Exception(std::wstring message);
    const std::wstring& Message() const noexcept { return message_; }
    // UTF-8 form of Message(), for code that only knows std::exception.
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    std::wstring message_;
    std::string utf8_;
};

class EStreamError : public Exception
{
public:
    using Exception::Exception;
};

// A short or failed write: the stream has put the file back as it was.
class EWriteError : public EStreamError
{
public:
    using EStreamError::EStreamError;
};

class EFileStreamError : public EStreamError
{
public:
    EFileStreamError(std::wstring message, DWORD errorCode)
        : EStreamError(std::move(message)), errorCode_(errorCode) {}
    DWORD ErrorCode() const noexcept { return errorCode_; }

private:
    DWORD errorCode_;
};

// "Cannot open file "<full path>". <system text>"
class EFOpenError : public EFileStreamError
{
public:
    EFOpenError(const std::wstring& fileName, DWORD errorCode);
};

// "Cannot create file "<full path>". <system text>"
class EFCreateError : public EFileStreamError
{
public:
    EFCreateError(const std::wstring& fileName, DWORD errorCode);
};

// A stored window layout that cannot be applied (unknown name, bad value).
class ELayoutError : public Exception
{
public:
    using Exception::Exception;
};

// The text of any exception: Message() for ours, what() for the rest.
std::wstring ExceptionMessage(const std::exception_ptr& error);

// A value that cannot be converted (a date outside the calendar's range).
class EConvertError : public Exception
{
public:
    using Exception::Exception;
};
