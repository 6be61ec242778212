#pragma once
// Native faults (an access violation and the like) turned into C++ errors.
// A fault inside an event handler on the UI thread becomes an ENativeFault thrown as if
// from the faulting instruction, so it unwinds to the window procedure like any error;
// a fault anywhere else is reported before the process ends.

#include "Exceptions.h"

#include <windows.h>

#include <exception>

class ENativeFault : public Exception
{
public:
    ENativeFault(const EXCEPTION_RECORD& record, const CONTEXT& context);
    DWORD Code() const noexcept { return code_; }
    // Where the faulting instruction is.
    DWORD Address() const noexcept { return address_; }
    // The registers at the fault.
    const CONTEXT& Context() const noexcept { return context_; }

private:
    DWORD code_;
    DWORD address_;
    CONTEXT context_;
};

// The readable text for a fault, e.g.
// "Access violation at address 0040123A. Read of address 00000000."
std::wstring NativeFaultMessage(const EXCEPTION_RECORD& record);

// Installs the fault handlers for the UI thread (the calling one). `reportFatal` gets a fault
// that cannot be recovered; the process ends when it returns.
void InstallFaultHandlers(void (*reportFatal)(const std::exception_ptr& error)) noexcept;
