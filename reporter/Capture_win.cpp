#include "Capture_win.h"

#include "Application.h"
#include "Disassembler.h"
#include "Exceptions.h"
#include "Faults_win.h"
#include "RunTime.h"
#include "Symbols_win.h"
#include "SystemFacts_win.h"

#include <cxxabi.h>
#include <unwind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" {
[[noreturn]] void __real___cxa_throw(void* object, std::type_info* type, void (*destroy)(void*));
[[noreturn]] void __wrap___cxa_throw(void* object, std::type_info* type, void (*destroy)(void*));
}

namespace {

// A handful of recent throws; a throw that is being reported is among the newest.
constexpr int StoreSize = 16;
TThrowSite Store[StoreSize];
int StoreNext = 0;
SRWLOCK StoreLock = SRWLOCK_INIT;

struct TTrace {
    TThrowSite* Site;
    int Skip;
};

_Unwind_Reason_Code TraceFrame(_Unwind_Context* context, void* argument)
{
    auto& trace = *static_cast<TTrace*>(argument);
    const std::uintptr_t ip = _Unwind_GetIP(context);
    if (ip == 0 || trace.Site->FrameCount == TThrowSite::MaxFrames)
        return _URC_END_OF_STACK;
    if (trace.Skip > 0)
        --trace.Skip;
    else
        trace.Site->Frames[trace.Site->FrameCount++] = ip;
    return _URC_NO_REASON;
}

// The fault's frames start at the faulting instruction. A redirected fault shows up as a call
// from one byte past it; where it does not (the fault was in another module's code), only the
// fault address is known.
void StartAtFault(TThrowSite& site, std::uintptr_t faultAddress)
{
    int first = 0;
    while (first < site.FrameCount && first < 4 && site.Frames[first] != faultAddress + 1)
        ++first;
    if (first < site.FrameCount && site.Frames[first] == faultAddress + 1) {
        site.FrameCount -= first;
        std::memmove(site.Frames, site.Frames + first, site.FrameCount * sizeof site.Frames[0]);
    } else {
        site.FrameCount = 1;
    }
    site.Frames[0] = faultAddress;
    site.FirstFrameExact = true;
}

__attribute__((noinline)) void RecordThrow(void* object, const std::type_info* type) noexcept
{
    TThrowSite site;
    site.Object = object;
    site.Type = type;
    TTrace trace{&site, 2}; // this function and the wrapper
    _Unwind_Backtrace(TraceFrame, &trace);
    if (type != nullptr && *type == typeid(ENativeFault)) {
        const auto& fault = *static_cast<const ENativeFault*>(object);
        site.Context = fault.Context();
        StartAtFault(site, fault.Address());
    } else {
        RtlCaptureContext(&site.Context);
    }
    site.Address = site.FrameCount > 0 ? site.Frames[0] : 0;
    if (site.Address != 0) {
        site.CodeStart = site.Address >= 16 ? site.Address - 16 : 0;
        site.CodeSize = CopyReadableBytes(site.CodeStart, site.Code, TThrowSite::MaxCode);
        if (site.CodeSize == 0 && site.CodeStart != site.Address) {
            site.CodeStart = site.Address;
            site.CodeSize = CopyReadableBytes(site.CodeStart, site.Code, TThrowSite::MaxCode);
        }
    }

    AcquireSRWLockExclusive(&StoreLock);
    // An older entry at this address belonged to an exception object that is gone.
    for (TThrowSite& old : Store)
        if (old.Object == object)
            old.Object = nullptr;
    Store[StoreNext] = site;
    StoreNext = (StoreNext + 1) % StoreSize;
    ReleaseSRWLockExclusive(&StoreLock);
}

std::string Format(const char* format, auto... values)
{
    char text[160];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string Hex8(std::uintptr_t value) { return Format("%08lX", static_cast<unsigned long>(value)); }

std::string TypeName(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        if (type == nullptr)
            return "(unknown type)";
        // A type's name is mangled without the "_Z" of a function's.
        int status = 0;
        std::unique_ptr<char, decltype(&std::free)> name(abi::__cxa_demangle(type->name(), nullptr, nullptr, &status),
                                                         &std::free);
        return status == 0 && name ? std::string(name.get()) : std::string(type->name());
    }
}

std::string Message(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception&) {
        return WideToUtf8(ExceptionMessage(error));
    } catch (const int& value) {
        return "The value " + std::to_string(value) + " was thrown.";
    } catch (...) {
        return WideToUtf8(ExceptionMessage(error));
    }
}

// Guarded lines: a fact that cannot be had says why, and the rest of the section stays.
std::string Fact(const char* label, std::string (*gather)())
{
    std::string value;
    try {
        value = gather();
    } catch (const std::exception& e) {
        value = std::string("(not available: ") + e.what() + ")";
    }
    return std::string(label) + value + "\r\n";
}

std::string GeneralSection(const std::exception_ptr& error, const TThrowSite* site)
{
    std::string text = "Application\r\n";
    try {
        text += ApplicationFacts();
    } catch (const std::exception& e) {
        text += std::string("  (not available: ") + e.what() + ")\r\n";
    }
    text += "Exception\r\n";
    text += "  Class:        " + TypeName(error) + "\r\n";
    text += "  Message:      " + Message(error) + "\r\n";
    if (site != nullptr)
        text += "  Address:      " + Hex8(site->Address) + "  " + DescribeCodeAddress(site->Address, site->FirstFrameExact) +
                "\r\n";
    else
        text += "  Address:      (not captured)\r\n";
    text += Fact("User:           ", UserName);
    text += Fact("Active control: ", ActiveControlFacts);
    text += Fact("Computer:       ", ComputerName);
    text += Fact("System:         ", OperatingSystemFacts);
    text += "Network\r\n";
    try {
        text += NetworkFacts();
    } catch (const std::exception& e) {
        text += std::string("  (not available: ") + e.what() + ")\r\n";
    }
    return text;
}

bool InMessageLoop(std::uintptr_t returnAddress)
{
    const TFunctionSymbol* function = TSymbolTable::ForExe().Find(returnAddress - 1);
    return function != nullptr && function->Name.starts_with("TApplication::Run(");
}

// The unwinder stops at system frames that carry no unwind information (the window manager's
// dispatch). The message loop that dispatched the event is the one handling its error, so the
// event's remaining callers are the frames from that loop down, as they are now.
int MessageLoopFrames(TThrowSite& now)
{
    TTrace trace{&now, 0};
    _Unwind_Backtrace(TraceFrame, &trace);
    for (int i = 0; i < now.FrameCount; ++i)
        if (InMessageLoop(now.Frames[i]))
            return i;
    return now.FrameCount;
}

std::string FrameLine(std::uintptr_t address, bool exact)
{
    std::string module = ModuleNameOf(exact ? address : address - 1);
    return Hex8(address) + "  " + Format("%-16s  ", module.empty() ? "?" : module.c_str()) +
           DescribeCodeAddress(address, exact) + "\r\n";
}

std::string CallStackSection(const TThrowSite* site)
{
    if (site == nullptr)
        return "Stack not captured: the error was not raised by a throw this program saw.\r\n";
    std::string text = "Address   Module            Function\r\n";
    bool reachedLoop = false;
    for (int i = 0; i < site->FrameCount; ++i) {
        text += FrameLine(site->Frames[i], i == 0 && site->FirstFrameExact);
        reachedLoop = reachedLoop || InMessageLoop(site->Frames[i]);
    }
    if (!reachedLoop && site->FrameCount > 0) {
        auto now = std::make_unique<TThrowSite>();
        int loop = MessageLoopFrames(*now);
        if (loop < now->FrameCount) {
            text += "--------  (system frames)\r\n";
            for (int i = loop; i < now->FrameCount; ++i)
                text += FrameLine(now->Frames[i], false);
        }
    }
    if (const std::string& problem = TSymbolTable::ForExe().Problem(); !problem.empty())
        text += "No function names: " + problem + "\r\n";
    return text;
}

// One disassembly row: the address, the bytes (padded so that the texts line up), the text.
std::string DisassemblyRow(const TThrowSite& site, const TListingLine& line, std::size_t from, std::size_t count)
{
    std::string bytes;
    for (std::size_t i = from; i < from + count; ++i)
        bytes += Format("%02X ", site.Code[i]);
    if (bytes.size() < 24)
        bytes.resize(24, ' ');
    const std::string text = line.Text.empty() ? "(not decoded)" : line.Text;
    return (line.Marked ? "> " : "  ") + Hex8(site.CodeStart + from) + "  " + bytes + " " + text + "\r\n";
}

std::string AssemblerSection(const TThrowSite* site)
{
    if (site == nullptr || site->CodeSize == 0)
        return "No code captured.\r\n";
    std::string text = (site->FirstFrameExact ? "Code at the fault, " : "Code at the throw, ") +
                       DescribeCodeAddress(site->Address, site->FirstFrameExact) + ":\r\n";
    for (int row = 0; row < site->CodeSize; row += 16) {
        const std::uintptr_t rowAddress = site->CodeStart + row;
        const bool marked = site->Address >= rowAddress && site->Address < rowAddress + 16;
        text += (marked ? "> " : "  ") + Hex8(rowAddress) + " ";
        for (int i = row; i < row + 16 && i < site->CodeSize; ++i)
            text += (site->CodeStart + i == site->Address ? "[" : " ") + Format("%02X", site->Code[i]);
        text += "\r\n";
    }
    text += "[..] marks the byte at " + Hex8(site->Address) + ".\r\n\r\n";

    const std::vector<TListingLine> lines =
        DisassembleAround(site->Code, static_cast<std::size_t>(site->CodeSize), static_cast<std::uint32_t>(site->CodeStart),
                          static_cast<std::uint32_t>(site->Address));
    for (const TListingLine& line : lines) {
        // Bytes that could not be decoded in step go eight to a row.
        const std::size_t step = line.Text.empty() ? 8 : line.Length;
        for (std::size_t from = line.Offset; from < line.Offset + line.Length; from += step)
            text += DisassemblyRow(*site, line, from, std::min(step, line.Offset + line.Length - from));
    }
    text += site->FirstFrameExact ? "> marks the faulting instruction.\r\n"
                                  : "> marks the instruction after the call that threw.\r\n";
    return text;
}

std::string CpuSection(const TThrowSite* site)
{
    if (site == nullptr)
        return "No registers captured.\r\n";
    const CONTEXT& c = site->Context;
    std::string text;
    text += "EAX: " + Hex8(c.Eax) + "  EBX: " + Hex8(c.Ebx) + "  ECX: " + Hex8(c.Ecx) + "  EDX: " + Hex8(c.Edx) + "\r\n";
    text += "ESI: " + Hex8(c.Esi) + "  EDI: " + Hex8(c.Edi) + "  EBP: " + Hex8(c.Ebp) + "  ESP: " + Hex8(c.Esp) + "\r\n";
    text += "EIP: " + Hex8(c.Eip) + "  EFLAGS: " + Hex8(c.EFlags);
    static const std::pair<DWORD, const char*> flags[] = {{0x001, "CF"}, {0x004, "PF"}, {0x010, "AF"},
                                                          {0x040, "ZF"}, {0x080, "SF"}, {0x100, "TF"},
                                                          {0x200, "IF"}, {0x400, "DF"}, {0x800, "OF"}};
    for (const auto& [bit, name] : flags)
        if (c.EFlags & bit)
            text += std::string(" ") + name;
    text += "\r\n";
    text += Format("CS: %04lX  DS: %04lX  ES: %04lX  FS: %04lX  GS: %04lX  SS: %04lX\r\n", c.SegCs & 0xFFFF,
                   c.SegDs & 0xFFFF, c.SegEs & 0xFFFF, c.SegFs & 0xFFFF, c.SegGs & 0xFFFF, c.SegSs & 0xFFFF);
    text += site->FirstFrameExact ? "Registers at the fault.\r\n" : "Registers at the throw.\r\n";
    return text;
}

std::string Heading(const std::exception_ptr& error)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::wstring exe = ExeFileName();
    return LocalTimeText(now) + "  " + WideToUtf8(exe.substr(ExtractFilePath(exe).size())) + "  " + Message(error);
}

} // namespace

extern "C" void __wrap___cxa_throw(void* object, std::type_info* type, void (*destroy)(void*))
{
    RecordThrow(object, type);
    __real___cxa_throw(object, type, destroy);
}

int CopyReadableBytes(std::uintptr_t address, unsigned char* out, int size) noexcept
{
    int copied = 0;
    while (copied < size) {
        MEMORY_BASIC_INFORMATION region;
        const std::uintptr_t at = address + copied;
        if (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof region) == 0)
            break;
        const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                               PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        if (region.State != MEM_COMMIT || (region.Protect & readable) == 0 || (region.Protect & PAGE_GUARD) != 0)
            break;
        const std::uintptr_t regionEnd = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
        const int chunk = static_cast<int>(std::min<std::uintptr_t>(size - copied, regionEnd - at));
        std::memcpy(out + copied, reinterpret_cast<const void*>(at), chunk);
        copied += chunk;
    }
    return copied;
}

const void* ThrownObject(const std::exception_ptr& error) noexcept
{
    // This run-time library's exception_ptr is exactly the pointer to the thrown object.
    static_assert(sizeof(std::exception_ptr) == sizeof(void*));
    const void* object = nullptr;
    std::memcpy(&object, &error, sizeof object);
    return object;
}

bool FindThrowSite(const void* object, TThrowSite& site) noexcept
{
    if (object == nullptr)
        return false;
    bool found = false;
    AcquireSRWLockShared(&StoreLock);
    for (const TThrowSite& entry : Store)
        if (entry.Object == object) {
            site = entry;
            found = true;
            break;
        }
    ReleaseSRWLockShared(&StoreLock);
    return found;
}

void InstallCapture(void (*reportFatal)(const std::exception_ptr& error)) noexcept
{
    InstallFaultHandlers(reportFatal);
}

std::vector<TSectionSource> ReportSources(const std::exception_ptr& error)
{
    auto site = std::make_shared<TThrowSite>();
    const TThrowSite* captured = FindThrowSite(ThrownObject(error), *site) ? site.get() : nullptr;
    // The site is shared by the collectors that read it, so it lives as long as they do.
    auto at = [site, captured](std::string (*section)(const TThrowSite*)) {
        return [site, captured, section] { return section(captured); };
    };
    return {
        {"General", [site, captured, error] { return GeneralSection(error, captured); }},
        {"Call Stack", at(CallStackSection)},
        {"Modules", ModuleList},
        {"Processes", ProcessList},
        {"Assembler", at(AssemblerSection)},
        {"CPU", at(CpuSection)},
    };
}

TReport BuildReport(const std::exception_ptr& error, const std::vector<TSectionSource>& sources) noexcept
{
    TReport report;
    try {
        try {
            report.Heading = Heading(error);
        } catch (...) {
            report.Heading = "An error occurred.";
        }
        for (const TSectionSource& source : sources)
            report.Sections.push_back(CollectSection(source.Title, source.Collect));
    } catch (...) {
        // Only the list itself could fail (no memory); what was gathered stays.
    }
    return report;
}

TReport CollectReport(const std::exception_ptr& error) noexcept
{
    try {
        return BuildReport(error, ReportSources(error));
    } catch (...) {
        return BuildReport(error, {});
    }
}
