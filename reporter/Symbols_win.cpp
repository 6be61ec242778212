#include "Symbols_win.h"

#include "Exceptions.h"
#include "Handle.h"
#include "RunTime.h"

#include <windows.h>

#include <cxxabi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t CoffSymbolSize = 18;
constexpr unsigned FunctionType = 0x20; // DT_FCN in the type's derived bits
constexpr unsigned ExternalClass = 2;
constexpr unsigned StaticClass = 3;

std::uint32_t ReadU32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }
std::uint16_t ReadU16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// Reads `size` bytes at `offset`; short or failed reads throw.
std::vector<unsigned char> ReadFileRange(HANDLE file, const std::wstring& fileName, DWORD offset, DWORD size)
{
    std::vector<unsigned char> bytes(size);
    LARGE_INTEGER position;
    position.QuadPart = offset;
    DWORD read = 0;
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN) ||
        !ReadFile(file, bytes.data(), size, &read, nullptr) || read != size)
        throw Exception(L"Cannot read the symbols of \"" + fileName + L"\". " + SysErrorMessage(GetLastError()));
    return bytes;
}

std::string Hex(std::uintptr_t value, int digits)
{
    char text[24];
    std::snprintf(text, sizeof text, "%0*lX", digits, static_cast<unsigned long>(value));
    return text;
}

} // namespace

std::string DemangleSymbol(const std::string& symbol)
{
    // i686 C names carry one leading underscore, C++ ones too ("__Z...").
    std::string name = symbol.starts_with('_') ? symbol.substr(1) : symbol;
    if (!name.starts_with("_Z"))
        return name;
    // A __stdcall member (a window procedure) carries its argument bytes: "...@16".
    std::string mangled = name;
    if (std::size_t at = mangled.rfind('@'); at != std::string::npos && at + 1 < mangled.size() &&
        mangled.find_first_not_of("0123456789", at + 1) == std::string::npos)
        mangled.erase(at);
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status), &std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : name;
}

TSymbolTable TSymbolTable::Read(const std::wstring& fileName, std::uintptr_t imageBase)
{
    TFileHandle file(CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        throw Exception(L"Cannot open \"" + fileName + L"\" for its symbols. " + SysErrorMessage(GetLastError()));
    LARGE_INTEGER fileSize{};
    if (!GetFileSizeEx(file.Get(), &fileSize) || fileSize.QuadPart > 0x7FFFFFFF)
        throw Exception(L"Cannot size \"" + fileName + L"\".");
    const auto total = static_cast<DWORD>(fileSize.QuadPart);
    auto bad = [&fileName](const wchar_t* why) { return Exception(L"\"" + fileName + L"\": " + why); };

    std::vector<unsigned char> head = ReadFileRange(file.Get(), fileName, 0, std::min<DWORD>(total, 4096));
    if (head.size() < 0x40 || head[0] != 'M' || head[1] != 'Z')
        throw bad(L"not a program file");
    const std::uint32_t peOffset = ReadU32(&head[0x3C]);
    if (peOffset + 24 > head.size() || std::memcmp(&head[peOffset], "PE\0\0", 4) != 0)
        throw bad(L"no PE header");
    const unsigned char* fileHeader = &head[peOffset + 4];
    const std::uint16_t sectionCount = ReadU16(fileHeader + 2);
    const std::uint32_t symbolTable = ReadU32(fileHeader + 8);
    const std::uint32_t symbolCount = ReadU32(fileHeader + 12);
    const std::uint16_t optionalSize = ReadU16(fileHeader + 16);
    const std::size_t sectionsAt = peOffset + 24 + optionalSize;
    if (sectionsAt + std::size_t(sectionCount) * 40 > head.size())
        throw bad(L"section table out of range");
    if (symbolTable == 0 || symbolCount == 0)
        throw bad(L"the program was stripped of its symbol table");
    if (symbolTable >= total || (total - symbolTable) / CoffSymbolSize < symbolCount)
        throw bad(L"symbol table out of range");

    struct TSection { std::uint32_t VirtualAddress, Size; bool Code; };
    std::vector<TSection> sections;
    TSymbolTable table;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const unsigned char* s = &head[sectionsAt + i * 40u];
        const std::uint32_t characteristics = ReadU32(s + 36);
        sections.push_back({ReadU32(s + 12), ReadU32(s + 8), (characteristics & IMAGE_SCN_CNT_CODE) != 0});
        if (sections.back().Code)
            table.codeEnd_ = std::max(table.codeEnd_, imageBase + sections.back().VirtualAddress + sections.back().Size);
    }

    // The string table follows the symbols; long names are offsets into it.
    std::vector<unsigned char> symbols = ReadFileRange(file.Get(), fileName, symbolTable, total - symbolTable);
    const std::size_t stringsAt = std::size_t(symbolCount) * CoffSymbolSize;
    const std::size_t stringsSize = symbols.size() - stringsAt;
    for (std::uint32_t i = 0; i < symbolCount; ++i) {
        const unsigned char* entry = &symbols[std::size_t(i) * CoffSymbolSize];
        const auto section = static_cast<std::int16_t>(ReadU16(entry + 12));
        const std::uint16_t type = ReadU16(entry + 14);
        const unsigned storageClass = entry[16];
        const unsigned auxCount = entry[17];
        if ((type & 0x30) == FunctionType && (storageClass == ExternalClass || storageClass == StaticClass) &&
            section > 0 && section <= static_cast<int>(sections.size()) && sections[section - 1].Code) {
            std::string name;
            if (ReadU32(entry) == 0) {
                const std::uint32_t offset = ReadU32(entry + 4);
                if (offset < stringsSize) {
                    const char* start = reinterpret_cast<const char*>(&symbols[stringsAt + offset]);
                    name.assign(start, strnlen(start, stringsSize - offset));
                }
            } else {
                name.assign(reinterpret_cast<const char*>(entry), strnlen(reinterpret_cast<const char*>(entry), 8));
            }
            if (!name.empty())
                table.functions_.push_back(
                    {imageBase + sections[section - 1].VirtualAddress + ReadU32(entry + 8), std::move(name)});
        }
        i += auxCount;
    }
    if (table.functions_.empty())
        throw bad(L"no function symbols");
    std::stable_sort(table.functions_.begin(), table.functions_.end(),
                     [](const auto& a, const auto& b) { return a.Address < b.Address; });
    // Demangle only what survives: aliases at one address keep the first name.
    table.functions_.erase(std::unique(table.functions_.begin(), table.functions_.end(),
                                       [](const auto& a, const auto& b) { return a.Address == b.Address; }),
                           table.functions_.end());
    for (TFunctionSymbol& function : table.functions_)
        function.Name = DemangleSymbol(function.Name);
    return table;
}

const TSymbolTable& TSymbolTable::ForExe()
{
    static const TSymbolTable table = [] {
        try {
            return Read(ExeFileName(), reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr)));
        } catch (const std::exception& e) {
            TSymbolTable empty;
            empty.problem_ = e.what();
            return empty;
        }
    }();
    return table;
}

const TFunctionSymbol* TSymbolTable::Find(std::uintptr_t address) const noexcept
{
    if (address >= codeEnd_)
        return nullptr;
    auto after = std::upper_bound(functions_.begin(), functions_.end(), address,
                                  [](std::uintptr_t a, const TFunctionSymbol& f) { return a < f.Address; });
    return after == functions_.begin() ? nullptr : &*std::prev(after);
}

std::string ModuleNameOf(std::uintptr_t address)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(address), &module))
        return {};
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    std::wstring name(path, length);
    return WideToUtf8(name.substr(ExtractFilePath(name).size()));
}

std::string DescribeCodeAddress(std::uintptr_t address, bool exact)
{
    const std::uintptr_t lookup = exact || address == 0 ? address : address - 1;
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(lookup), &module);
    if (module == nullptr)
        return "(no module)";
    if (module == GetModuleHandleW(nullptr))
        if (const TFunctionSymbol* function = TSymbolTable::ForExe().Find(lookup))
            return function->Name + " + 0x" + Hex(address - function->Address, 1);
    return ModuleNameOf(lookup) + " + 0x" + Hex(address - reinterpret_cast<std::uintptr_t>(module), 1);
}
