#pragma once
// The record file reader's core: argument rules, the streaming scan, the output
// formats and the exit codes. Plain C++; the files and the console are reached
// only through the small interfaces below, so tests run it on memory.

#include "DateRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace datreader {

inline constexpr std::string_view ProgramName = "datreader";

// Documented in --help and tools/README.md; scripts rely on them.
enum class ExitCode : int {
    Ok = 0,           // listed, or --check found nothing wrong
    Problems = 1,     // --check found an invalid record or trailing bytes
    Usage = 2,        // bad option or argument
    NotFound = 3,     // no such file
    IsDirectory = 4,  // the path names a directory
    Unreadable = 5,   // the file exists but could not be opened or read
    WriteFailed = 6,  // the output could not be written
};

enum class Format { Text, Csv, Json, JsonLines };

struct Options
{
    Format format = Format::Text;
    bool check = false;
    bool help = false;
    std::string path = "test.dat";  // "-" reads standard input
};

// Either options or a message saying what is wrong with the command line.
struct ParsedArguments
{
    std::optional<Options> options;
    std::string error;
};

// args: the command line without the program name, UTF-8.
ParsedArguments ParseArguments(const std::vector<std::string>& args);

std::string HelpText();

enum class DateFault { None, Year, Month, Day };

// Gregorian calendar, years 1 to 9999 (the range of the program's date type).
DateFault CheckDate(const TDateRecord& Rec);

class ReadError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class WriteError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Fills up to size bytes; returns 0 only at the end. Throws ReadError.
    virtual std::size_t Read(std::uint8_t* buffer, std::size_t size) = 0;
};

class Output
{
public:
    virtual ~Output() = default;
    // Both throw WriteError.
    virtual void Write(std::string_view text) = 0;
    virtual void Flush() {}
};

struct Summary
{
    std::uint64_t records = 0;
    std::uint64_t invalid = 0;
    std::uint64_t firstInvalid = 0;  // meaningful when invalid > 0
    std::uint64_t trailingOffset = 0;
    std::array<std::uint8_t, DateRecordSize - 1> trailing{};
    std::size_t trailingSize = 0;

    bool Clean() const { return invalid == 0 && trailingSize == 0; }
};

// Reads source to its end in fixed-size chunks and writes the listing (or, with
// check, only the summary) to out. Machine formats keep out parseable and tell
// problems on warn; the text format marks them inline. name appears in messages.
Summary ReadRecords(ByteSource& source, const Options& options, std::string_view name,
                    Output& out, Output& warn);

struct OpenResult
{
    std::unique_ptr<ByteSource> source;
    ExitCode error = ExitCode::Ok;
    std::string message;  // why it failed, for the user
};

class Environment
{
public:
    virtual ~Environment() = default;
    virtual OpenResult Open(const std::string& path) = 0;
    virtual ByteSource& StandardInput() = 0;
    virtual Output& StandardOutput() = 0;
    virtual Output& StandardError() = 0;
};

// The whole command; returns the process exit code.
int RunReader(const std::vector<std::string>& args, Environment& env);

}  // namespace datreader
