#include "Exceptions.h"

#include "RunTime.h"

Exception::Exception(std::wstring message) : message_(std::move(message)), utf8_(WideToUtf8(message_)) {}

EFOpenError::EFOpenError(const std::wstring& fileName, DWORD errorCode)
    : EFileStreamError(L"Cannot open file \"" + ExpandFileName(fileName) + L"\". " + SysErrorMessage(errorCode),
                       errorCode)
{
}

EFCreateError::EFCreateError(const std::wstring& fileName, DWORD errorCode)
    : EFileStreamError(L"Cannot create file \"" + ExpandFileName(fileName) + L"\". " + SysErrorMessage(errorCode),
                       errorCode)
{
}

std::wstring ExceptionMessage(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return Utf8ToWide(e.what());
    } catch (...) {
        return L"An unknown error occurred.";
    }
}
