#include "Faults_win.h"

#include "Application.h"

#include <atomic>
#include <cstdint>
#include <cstdio>

// The entries a redirected thread resumes in. Each pushes the faulting address + 1 as a return
// address and jumps to its handler, so the unwinder sees a call from the faulting instruction
// (looked up one byte back: the instruction itself, whose unwind rules hold since it did nothing).
extern "C" {
std::uintptr_t CaptureRaiseReturn;
std::uintptr_t CaptureFatalReturn;
void CaptureRaiseTrampoline();
void CaptureFatalTrampoline();
[[noreturn]] void CaptureRaiseFault();
[[noreturn]] void CaptureFatalFault();
}

asm(".text\n"
    "_CaptureRaiseTrampoline:\n"
    "    pushl _CaptureRaiseReturn\n"
    "    jmp _CaptureRaiseFault\n"
    "_CaptureFatalTrampoline:\n"
    "    pushl _CaptureFatalReturn\n"
    "    jmp _CaptureFatalFault\n");

namespace {

DWORD UiThread = 0;
void (*ReportFatal)(const std::exception_ptr& error) = nullptr;

// The UI thread's fault on its way to becoming a throw: one at a time.
EXCEPTION_RECORD RaiseRecord;
CONTEXT RaiseContext;

// The fault that ends the process: the first one only, from any thread.
std::atomic<bool> FatalTaken{false};
EXCEPTION_RECORD FatalRecord;
CONTEXT FatalContext;

std::uintptr_t ImageStart = 0;
std::uintptr_t ImageEnd = 0;

// Faults that code can cause and survive; a stack overflow has no stack left to throw on.
bool Recoverable(DWORD code)
{
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_PRIV_INSTRUCTION:
        return true;
    default:
        return false;
    }
}

// Only the exe's own code has the unwind tables a throw from any instruction needs.
bool InExe(std::uintptr_t address) { return address >= ImageStart && address < ImageEnd; }

void Redirect(CONTEXT& context, std::uintptr_t& returnSlot, void (*entry)())
{
    returnSlot = context.Eip + 1;
    context.Eip = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(entry));
}

LONG CALLBACK OnFault(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    CONTEXT& context = *info->ContextRecord;
    if (!Recoverable(record.ExceptionCode) || (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) != 0 ||
        GetCurrentThreadId() != UiThread || Application->RunningHandlers() == 0 || !InExe(context.Eip))
        return EXCEPTION_CONTINUE_SEARCH;
    RaiseRecord = record;
    RaiseContext = context;
    Redirect(context, CaptureRaiseReturn, CaptureRaiseTrampoline);
    return EXCEPTION_CONTINUE_EXECUTION;
}

// The report is built from a real throw, so the fault's stack is captured like any other.
void ReportFault(const EXCEPTION_RECORD& record, const CONTEXT& context) noexcept
{
    try {
        throw ENativeFault(record, context);
    } catch (...) {
        if (ReportFatal != nullptr)
            ReportFatal(std::current_exception());
    }
}

LONG WINAPI OnUnhandled(EXCEPTION_POINTERS* info)
{
    if (FatalTaken.exchange(true))
        return EXCEPTION_EXECUTE_HANDLER; // a fault while reporting one: just end
    FatalRecord = *info->ExceptionRecord;
    FatalContext = *info->ContextRecord;
    if (InExe(FatalContext.Eip) && FatalRecord.ExceptionCode != EXCEPTION_STACK_OVERFLOW &&
        (FatalRecord.ExceptionFlags & EXCEPTION_NONCONTINUABLE) == 0) {
        // Resume as a call from the faulting instruction: the stack is walked from there.
        Redirect(*info->ContextRecord, CaptureFatalReturn, CaptureFatalTrampoline);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    ReportFault(FatalRecord, FatalContext);
    return EXCEPTION_EXECUTE_HANDLER;
}

std::wstring Hex8(std::uintptr_t value)
{
    wchar_t text[12];
    std::swprintf(text, 12, L"%08lX", static_cast<unsigned long>(value));
    return text;
}

const wchar_t* FaultName(DWORD code)
{
    switch (code) {
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return L"Array bounds exceeded";
    case EXCEPTION_DATATYPE_MISALIGNMENT: return L"Misaligned data";
    case EXCEPTION_FLT_DENORMAL_OPERAND: return L"Floating-point denormal operand";
    case EXCEPTION_FLT_DIVIDE_BY_ZERO: return L"Floating-point division by zero";
    case EXCEPTION_FLT_INEXACT_RESULT: return L"Floating-point inexact result";
    case EXCEPTION_FLT_INVALID_OPERATION: return L"Invalid floating-point operation";
    case EXCEPTION_FLT_OVERFLOW: return L"Floating-point overflow";
    case EXCEPTION_FLT_STACK_CHECK: return L"Floating-point stack check";
    case EXCEPTION_FLT_UNDERFLOW: return L"Floating-point underflow";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return L"Illegal instruction";
    case EXCEPTION_IN_PAGE_ERROR: return L"Page read error";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return L"Division by zero";
    case EXCEPTION_INT_OVERFLOW: return L"Integer overflow";
    case EXCEPTION_PRIV_INSTRUCTION: return L"Privileged instruction";
    case EXCEPTION_STACK_OVERFLOW: return L"Stack overflow";
    default: return nullptr;
    }
}

} // namespace

extern "C" [[noreturn]] __attribute__((noinline, used)) void CaptureRaiseFault()
{
    throw ENativeFault(RaiseRecord, RaiseContext);
}

extern "C" [[noreturn]] __attribute__((noinline, used)) void CaptureFatalFault()
{
    try {
        throw ENativeFault(FatalRecord, FatalContext);
    } catch (...) {
        if (ReportFatal != nullptr)
            ReportFatal(std::current_exception());
    }
    TerminateProcess(GetCurrentProcess(), FatalRecord.ExceptionCode);
    for (;;)
        Sleep(INFINITE);
}

std::wstring NativeFaultMessage(const EXCEPTION_RECORD& record)
{
    const auto address = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
    if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2) {
        const ULONG_PTR kind = record.ExceptionInformation[0];
        const wchar_t* access = kind == 0 ? L"Read" : kind == 8 ? L"Execution" : L"Write";
        return L"Access violation at address " + Hex8(address) + L". " + access + L" of address " +
               Hex8(record.ExceptionInformation[1]) + L".";
    }
    if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION)
        return L"Access violation at address " + Hex8(address) + L".";
    if (const wchar_t* name = FaultName(record.ExceptionCode))
        return std::wstring(name) + L" at address " + Hex8(address) + L".";
    return L"System exception " + Hex8(record.ExceptionCode) + L" at address " + Hex8(address) + L".";
}

ENativeFault::ENativeFault(const EXCEPTION_RECORD& record, const CONTEXT& context)
    : Exception(NativeFaultMessage(record)), code_(record.ExceptionCode),
      address_(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(record.ExceptionAddress))), context_(context)
{
}

void InstallFaultHandlers(void (*reportFatal)(const std::exception_ptr& error)) noexcept
{
    UiThread = GetCurrentThreadId();
    ReportFatal = reportFatal;
    auto* image = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    ImageStart = reinterpret_cast<std::uintptr_t>(image);
    ImageEnd = ImageStart + nt->OptionalHeader.SizeOfImage;
    AddVectoredExceptionHandler(1, OnFault);
    SetUnhandledExceptionFilter(OnUnhandled);
}
