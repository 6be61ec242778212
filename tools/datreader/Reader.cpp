#include "Reader.h"

#include <cstring>

namespace datreader {

namespace {

constexpr std::size_t ChunkSize = 64 * 1024;

// Collects small pieces in a fixed buffer and hands them to the output in large writes.
class Buffered
{
public:
    // Room that every record's line fits in, so a record is written without checks.
    static constexpr std::size_t RecordRoom = 192;

    explicit Buffered(Output& out) : out_(out), at_(buffer_) {}

    Buffered& operator<<(std::string_view s)
    {
        if (s.size() > static_cast<std::size_t>(End() - at_)) {
            Flush();
            if (s.size() > sizeof buffer_) {
                out_.Write(s);
                return *this;
            }
        }
        std::memcpy(at_, s.data(), s.size());
        at_ += s.size();
        return *this;
    }
    // Literals: a copy of known size, which the compiler does without a call.
    template <std::size_t N>
    Buffered& operator<<(const char (&s)[N])
    {
        if (End() - at_ < static_cast<std::ptrdiff_t>(N))
            Flush();
        std::memcpy(at_, s, N - 1);
        at_ += N - 1;
        return *this;
    }
    Buffered& operator<<(const std::string& s) { return *this << std::string_view(s); }
    Buffered& operator<<(char c)
    {
        if (at_ == End())
            Flush();
        *at_++ = c;
        return *this;
    }
    Buffered& operator<<(std::uint64_t n) { return Number(n, 0); }

    // Zero-padded to at least width digits (width at most 4).
    Buffered& Number(std::uint64_t n, int width)
    {
        if (End() - at_ < 24)
            Flush();
        char digits[24];
        char* first = digits + sizeof digits;
        do {
            *--first = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n);
        while (digits + sizeof digits - first < width)
            *--first = '0';
        while (first != digits + sizeof digits)
            *at_++ = *first++;
        return *this;
    }

    void EnsureRoom(std::size_t size)
    {
        if (static_cast<std::size_t>(End() - at_) < size)
            Flush();
    }
    void Flush()
    {
        if (at_ != buffer_)
            out_.Write(std::string_view(buffer_, at_ - buffer_));
        at_ = buffer_;
    }

private:
    char* End() { return buffer_ + sizeof buffer_; }

    Output& out_;
    char buffer_[ChunkSize];
    char* at_;
};

std::string Hex(const std::uint8_t* bytes, std::size_t size)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < size; ++i) {
        if (i)
            s.push_back(' ');
        s.push_back(digits[bytes[i] >> 4]);
        s.push_back(digits[bytes[i] & 0xF]);
    }
    return s;
}

std::string_view FaultText(DateFault fault)
{
    switch (fault) {
    case DateFault::Year: return "year out of range";
    case DateFault::Month: return "month out of range";
    case DateFault::Day: return "day out of range";
    case DateFault::None: break;
    }
    return "";
}

void IsoDate(Buffered& b, const TDateRecord& r)
{
    b.Number(r.Year, 4) << '-';
    b.Number(r.Month, 2) << '-';
    b.Number(r.Day, 2);
}

std::string Plural(std::uint64_t n, std::string_view one, std::string_view many)
{
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

class Lister
{
public:
    Lister(const Options& options, std::string_view name, Output& out, Output& warn)
        : options_(options), name_(name), out_(out), warn_(warn)
    {
    }

    void Begin()
    {
        if (options_.check)
            return;
        if (options_.format == Format::Csv)
            out_ << "index,year,month,day\n";
        else if (options_.format == Format::Json)
            out_ << '[';
    }

    void Record(std::uint64_t index, const TDateRecord& r)
    {
        const DateFault fault = CheckDate(r);
        if (fault != DateFault::None) {
            if (summary_.invalid++ == 0)
                summary_.firstInvalid = index;
        }
        ++summary_.records;
        if (options_.check)
            return;
        out_.EnsureRoom(Buffered::RecordRoom);

        switch (options_.format) {
        case Format::Text:
            out_ << index << "  ";
            IsoDate(out_, r);
            if (fault != DateFault::None)
                out_ << "  invalid (" << FaultText(fault) << ')';
            out_ << '\n';
            break;
        case Format::Csv:
            out_ << index << ',' << std::uint64_t{r.Year} << ',' << std::uint64_t{r.Month} << ','
                 << std::uint64_t{r.Day} << '\n';
            break;
        case Format::Json:
        case Format::JsonLines:
            if (options_.format == Format::Json)
                out_ << std::string_view(index == 0 ? "\n" : ",\n");
            out_ << "{\"index\":" << index << ",\"year\":" << std::uint64_t{r.Year}
                 << ",\"month\":" << std::uint64_t{r.Month} << ",\"day\":" << std::uint64_t{r.Day};
            if (fault == DateFault::None) {
                out_ << ",\"date\":\"";
                IsoDate(out_, r);
                out_ << "\",\"valid\":true}";
            } else {
                out_ << ",\"date\":null,\"valid\":false}";
            }
            if (options_.format == Format::JsonLines)
                out_ << '\n';
            break;
        }

        // CSV has no column for it; JSON says "valid":false in the record itself.
        if (fault != DateFault::None && options_.format == Format::Csv) {
            warn_ << ProgramName << ": " << name_ << ": record " << index << " is not a calendar date (year "
                  << std::uint64_t{r.Year} << ", month " << std::uint64_t{r.Month} << ", day "
                  << std::uint64_t{r.Day} << ", " << FaultText(fault) << ")\n";
        }
    }

    void End(std::uint64_t trailingOffset, const std::uint8_t* trailing, std::size_t trailingSize)
    {
        summary_.trailingOffset = trailingOffset;
        summary_.trailingSize = trailingSize;
        for (std::size_t i = 0; i < trailingSize; ++i)
            summary_.trailing[i] = trailing[i];
        const std::string hex = Hex(trailing, trailingSize);

        if (options_.check) {
            out_ << "file: " << name_ << '\n' << "records: " << summary_.records << '\n';
            out_ << "invalid: " << summary_.invalid;
            if (summary_.invalid)
                out_ << " (first at index " << summary_.firstInvalid << ')';
            out_ << '\n' << "trailing bytes: " << std::uint64_t{trailingSize};
            if (trailingSize)
                out_ << " (at offset " << trailingOffset << ": " << hex << ')';
            out_ << '\n' << "result: " << std::string_view(summary_.Clean() ? "OK" : "problems found") << '\n';
        } else {
            if (options_.format == Format::Json)
                out_ << std::string_view(summary_.records ? "\n]\n" : "]\n");
            if (trailingSize) {
                const std::string what = "trailing " + Plural(trailingSize, "byte", "bytes") + " at offset " +
                                         std::to_string(trailingOffset) + " (not a whole record): " + hex;
                if (options_.format == Format::Text)
                    out_ << what << '\n';
                else
                    warn_ << ProgramName << ": " << name_ << ": " << what << '\n';
            }
        }
        out_.Flush();
        warn_.Flush();
    }

    void Abandon()
    {
        out_.Flush();
        warn_.Flush();
    }

    const Summary& Result() const { return summary_; }

private:
    const Options& options_;
    std::string_view name_;
    Buffered out_;
    Buffered warn_;
    Summary summary_;
};

}  // namespace

DateFault CheckDate(const TDateRecord& Rec)
{
    static constexpr std::uint8_t monthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (Rec.Year < 1 || Rec.Year > 9999)
        return DateFault::Year;
    if (Rec.Month < 1 || Rec.Month > 12)
        return DateFault::Month;
    const bool leap = Rec.Year % 4 == 0 && (Rec.Year % 100 != 0 || Rec.Year % 400 == 0);
    const unsigned days = monthDays[Rec.Month - 1] + (Rec.Month == 2 && leap ? 1 : 0);
    return Rec.Day >= 1 && Rec.Day <= days ? DateFault::None : DateFault::Day;
}

Summary ReadRecords(ByteSource& source, const Options& options, std::string_view name, Output& out,
                    Output& warn)
{
    Lister lister(options, name, out, warn);
    lister.Begin();

    // A record may straddle two chunks: carry its first bytes over.
    std::array<std::uint8_t, ChunkSize + DateRecordSize> buffer;
    std::size_t carried = 0;
    std::uint64_t index = 0;
    try {
        for (;;) {
            const std::size_t got = source.Read(buffer.data() + carried, ChunkSize);
            if (got == 0)
                break;
            const std::size_t available = carried + got;
            const std::size_t whole = available - available % DateRecordSize;
            for (std::size_t at = 0; at < whole; at += DateRecordSize)
                lister.Record(index++, DecodeDateRecord(buffer.data() + at));
            carried = available - whole;
            for (std::size_t i = 0; i < carried; ++i)
                buffer[i] = buffer[whole + i];
        }
    } catch (const ReadError&) {
        lister.Abandon();
        throw;
    }
    lister.End(index * DateRecordSize, buffer.data(), carried);
    return lister.Result();
}

ParsedArguments ParseArguments(const std::vector<std::string>& args)
{
    Options options;
    bool formatGiven = false;
    bool pathGiven = false;
    bool optionsEnded = false;
    std::string formatName;

    for (const std::string& arg : args) {
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--") {
                optionsEnded = true;
                continue;
            }
            if (arg == "-h" || arg == "--help") {
                options.help = true;
                return {options, {}};
            }
            if (arg == "--check") {
                options.check = true;
                continue;
            }
            Format format;
            if (arg == "--csv")
                format = Format::Csv;
            else if (arg == "--json")
                format = Format::Json;
            else if (arg == "--jsonl")
                format = Format::JsonLines;
            else
                return {std::nullopt, "unknown option '" + arg + "'"};
            if (formatGiven && format != options.format)
                return {std::nullopt, "choose one output format, not both " + formatName + " and " + arg};
            formatGiven = true;
            formatName = arg;
            options.format = format;
            continue;
        }
        if (pathGiven)
            return {std::nullopt, "one file at a time: '" + options.path + "' and '" + arg + "'"};
        if (arg.empty())
            return {std::nullopt, "the file name is empty"};
        options.path = arg;
        pathGiven = true;
    }
    if (options.check && formatGiven)
        return {std::nullopt, "--check prints a summary only and takes no output format (" + formatName + ")"};
    return {options, {}};
}

std::string HelpText()
{
    return R"(Usage: datreader [--csv | --json | --jsonl | --check] [FILE]

Lists the date records in FILE, a record file written by the date recorder
(six bytes a record: year, month, day, each a 16-bit little-endian number).
FILE defaults to test.dat in the current directory; - reads standard input.
The file is read in small pieces, so its size does not matter.

Output (standard output):
  (default)  one line a record: index, two spaces, the date as YYYY-MM-DD
               0  2012-01-31
             a record that is not a calendar date shows its raw numbers,
             marked:  1  2012-02-30  invalid (day out of range)
             trailing bytes that do not make a whole record end the listing:
               trailing 4 bytes at offset 12 (not a whole record): DC 07 01 00
  --csv      header index,year,month,day, then one row a record (raw numbers)
  --json     one JSON array of objects, one object a line:
               {"index":0,"year":2012,"month":1,"day":31,"date":"2012-01-31","valid":true}
             an invalid record has "date":null and "valid":false
             (for jq: datreader --json | jq '.[] | select(.valid | not)')
  --jsonl    the same objects, one a line, no array (jq -c, streaming tools)
  --check    only a summary: records, invalid records, trailing bytes, result

With --csv, --json and --jsonl standard output stays parseable: trailing bytes
(and, for CSV, invalid records) are reported on standard error instead.
A listing exits 0 even when it marks problems; use --check to test a file.

Exit codes:
  0  listed; or --check found nothing wrong
  1  --check found an invalid record or trailing bytes
  2  bad option or argument
  3  the file does not exist
  4  the path is a directory
  5  the file could not be opened or read (permissions, held open, I/O error)
  6  the output could not be written

Options:
  -h, --help  show this text
  --          end of options (for a file named like an option)
)";
}

int RunReader(const std::vector<std::string>& args, Environment& env)
{
    auto tell = [&env](std::string_view text) {
        try {
            env.StandardError().Write(std::string(ProgramName) + ": " + std::string(text) + "\n");
        } catch (const WriteError&) {
        }
    };

    const ParsedArguments parsed = ParseArguments(args);
    if (!parsed.options) {
        tell(parsed.error + "\nTry 'datreader --help' for more information.");
        return static_cast<int>(ExitCode::Usage);
    }
    const Options& options = *parsed.options;

    try {
        if (options.help) {
            env.StandardOutput().Write(HelpText());
            env.StandardOutput().Flush();
            return static_cast<int>(ExitCode::Ok);
        }

        std::unique_ptr<ByteSource> file;
        ByteSource* source = nullptr;
        std::string name;
        if (options.path == "-") {
            source = &env.StandardInput();
            name = "standard input";
        } else {
            OpenResult opened = env.Open(options.path);
            if (!opened.source) {
                tell(opened.message);
                return static_cast<int>(opened.error);
            }
            file = std::move(opened.source);
            source = file.get();
            name = options.path;
        }

        const Summary summary = ReadRecords(*source, options, name, env.StandardOutput(), env.StandardError());
        env.StandardOutput().Flush();
        if (options.check && !summary.Clean())
            return static_cast<int>(ExitCode::Problems);
        return static_cast<int>(ExitCode::Ok);
    } catch (const ReadError& e) {
        tell(e.what());
        return static_cast<int>(ExitCode::Unreadable);
    } catch (const WriteError& e) {
        tell(e.what());
        return static_cast<int>(ExitCode::WriteFailed);
    }
}

}  // namespace datreader
