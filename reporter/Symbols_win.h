#pragma once
// Names for code addresses, read from the exe's own COFF symbol table: it is there on any
// machine, with or without debug files or a debug-help library. Loaded on first use.

#include <cstdint>
#include <string>
#include <vector>

struct TFunctionSymbol {
    std::uintptr_t Address = 0; // where the function starts in this process
    std::string Name;           // demangled
};

class TSymbolTable
{
public:
    // The table of the running exe, read once, on the first call.
    static const TSymbolTable& ForExe();

    // Reads the symbol table of the PE file `fileName`, loaded at `imageBase`.
    // Throws Exception when the file cannot be read or holds no symbols.
    static TSymbolTable Read(const std::wstring& fileName, std::uintptr_t imageBase);

    // The function that holds `address`, or null when it lies outside every known function.
    const TFunctionSymbol* Find(std::uintptr_t address) const noexcept;
    std::size_t Size() const noexcept { return functions_.size(); }
    // Why the table is empty, when it is.
    const std::string& Problem() const noexcept { return problem_; }

private:
    std::vector<TFunctionSymbol> functions_; // by address
    std::uintptr_t codeEnd_ = 0;             // end of the last code section
    std::string problem_;
};

// The C++ name for a linker symbol ("__ZN6TForm211btnAddClickEP7TObject" gives
// "TForm2::btnAddClick(TObject*)"); other names come back without their leading underscore.
std::string DemangleSymbol(const std::string& symbol);

// One stack frame as text: "TForm2::btnAddClick(TObject*) + 0x1C" for the exe's code,
// "KERNEL32.dll + 0x1234" for another module's. A return address (`exact` false) is looked up
// one byte back, so a call at the very end of a function is still named after that function.
std::string DescribeCodeAddress(std::uintptr_t address, bool exact);

// The file name (without folder) of the module holding `address`, or "" when none does.
std::string ModuleNameOf(std::uintptr_t address);
