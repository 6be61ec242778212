// The reader against the committed fixture files, in-process: every format, the
// summary, the exit codes and the failures a user can meet.

#include "FileSource.h"
#include "Reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using namespace datreader;

namespace {

std::string Fixture(const std::string& name)
{
    return std::string(DATREADER_FIXTURES) + "/" + name;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(fs::path(std::u8string(path.begin(), path.end())), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class StringOutput : public Output
{
public:
    void Write(std::string_view s) override
    {
        if (failAfter_ && text.size() + s.size() > *failAfter_)
            throw WriteError("cannot write the output: disk full");
        text.append(s);
    }
    std::optional<std::size_t> failAfter_;
    std::string text;
};

// Hands out its bytes at most `step` at a time, then optionally fails.
class MemorySource : public ByteSource
{
public:
    MemorySource(std::string bytes, std::size_t step = 1 << 20, bool failAtEnd = false)
        : bytes_(std::move(bytes)), step_(step), failAtEnd_(failAtEnd)
    {
    }
    std::size_t Read(std::uint8_t* buffer, std::size_t size) override
    {
        const std::size_t n = std::min({size, step_, bytes_.size() - at_});
        if (n == 0 && failAtEnd_)
            throw ReadError("cannot read 'memory': Input/output error");
        std::copy_n(bytes_.data() + at_, n, buffer);
        at_ += n;
        return n;
    }

private:
    std::string bytes_;
    std::size_t step_;
    bool failAtEnd_;
    std::size_t at_ = 0;
};

// Real files, memory for the standard streams.
class TestEnvironment : public Environment
{
public:
    explicit TestEnvironment(std::string input = {}) : in(std::move(input)) {}
    OpenResult Open(const std::string& path) override { return OpenFile(path); }
    ByteSource& StandardInput() override { return in; }
    Output& StandardOutput() override { return out; }
    Output& StandardError() override { return err; }

    MemorySource in;
    StringOutput out;
    StringOutput err;
};

struct Outcome
{
    int exit;
    std::string out;
    std::string err;
};

Outcome RunWith(const std::vector<std::string>& args, std::string input = {})
{
    TestEnvironment env(std::move(input));
    const int exit = RunReader(args, env);
    return {exit, env.out.text, env.err.text};
}

struct FixtureCase
{
    const char* file;
    const char* text;
    const char* csv;
    const char* csvWarnings;  // invalid records; @ stands for the path
    const char* trailing;     // the machine formats' warning about trailing bytes, if any
    const char* jsonl;
    const char* check;
    int checkExit;
};

std::ostream& operator<<(std::ostream& os, const FixtureCase& c) { return os << c.file; }

const FixtureCase FixtureCases[] = {
    {"empty.dat", "", "index,year,month,day\n", "", "", "",
     "records: 0\ninvalid: 0\ntrailing bytes: 0\nresult: OK\n", 0},
    {"one.dat", "0  2012-01-31\n", "index,year,month,day\n0,2012,1,31\n", "", "",
     R"({"index":0,"year":2012,"month":1,"day":31,"date":"2012-01-31","valid":true})" "\n",
     "records: 1\ninvalid: 0\ntrailing bytes: 0\nresult: OK\n", 0},
    {"several.dat", "0  2012-01-31\n1  2000-02-29\n2  1999-12-31\n3  2024-07-04\n",
     "index,year,month,day\n0,2012,1,31\n1,2000,2,29\n2,1999,12,31\n3,2024,7,4\n", "", "",
     R"({"index":0,"year":2012,"month":1,"day":31,"date":"2012-01-31","valid":true})" "\n"
     R"({"index":1,"year":2000,"month":2,"day":29,"date":"2000-02-29","valid":true})" "\n"
     R"({"index":2,"year":1999,"month":12,"day":31,"date":"1999-12-31","valid":true})" "\n"
     R"({"index":3,"year":2024,"month":7,"day":4,"date":"2024-07-04","valid":true})" "\n",
     "records: 4\ninvalid: 0\ntrailing bytes: 0\nresult: OK\n", 0},
    {"seven.dat", "0  2012-01-31\ntrailing 1 byte at offset 6 (not a whole record): DC\n",
     "index,year,month,day\n0,2012,1,31\n", "", "trailing 1 byte at offset 6 (not a whole record): DC",
     R"({"index":0,"year":2012,"month":1,"day":31,"date":"2012-01-31","valid":true})" "\n",
     "records: 1\ninvalid: 0\ntrailing bytes: 1 (at offset 6: DC)\nresult: problems found\n", 1},
    {"five.dat", "trailing 5 bytes at offset 0 (not a whole record): DC 07 01 00 1F\n", "index,year,month,day\n", "",
     "trailing 5 bytes at offset 0 (not a whole record): DC 07 01 00 1F", "",
     "records: 0\ninvalid: 0\ntrailing bytes: 5 (at offset 0: DC 07 01 00 1F)\nresult: problems found\n", 1},
    {"invalid.dat",
     "0  2012-00-05  invalid (month out of range)\n"
     "1  2012-13-01  invalid (month out of range)\n"
     "2  2012-02-30  invalid (day out of range)\n"
     "3  2012-03-00  invalid (day out of range)\n"
     "4  2011-02-29  invalid (day out of range)\n"
     "5  1900-02-29  invalid (day out of range)\n"
     "6  2012-04-31  invalid (day out of range)\n"
     "7  2012-01-300  invalid (day out of range)\n"
     "8  0000-01-01  invalid (year out of range)\n"
     "9  10000-01-01  invalid (year out of range)\n"
     "10  65535-65535-65535  invalid (year out of range)\n"
     "11  2012-12-31\n",
     "index,year,month,day\n0,2012,0,5\n1,2012,13,1\n2,2012,2,30\n3,2012,3,0\n4,2011,2,29\n5,1900,2,29\n"
     "6,2012,4,31\n7,2012,1,300\n8,0,1,1\n9,10000,1,1\n10,65535,65535,65535\n11,2012,12,31\n",
     "datreader: @: record 0 is not a calendar date (year 2012, month 0, day 5, month out of range)\n"
     "datreader: @: record 1 is not a calendar date (year 2012, month 13, day 1, month out of range)\n"
     "datreader: @: record 2 is not a calendar date (year 2012, month 2, day 30, day out of range)\n"
     "datreader: @: record 3 is not a calendar date (year 2012, month 3, day 0, day out of range)\n"
     "datreader: @: record 4 is not a calendar date (year 2011, month 2, day 29, day out of range)\n"
     "datreader: @: record 5 is not a calendar date (year 1900, month 2, day 29, day out of range)\n"
     "datreader: @: record 6 is not a calendar date (year 2012, month 4, day 31, day out of range)\n"
     "datreader: @: record 7 is not a calendar date (year 2012, month 1, day 300, day out of range)\n"
     "datreader: @: record 8 is not a calendar date (year 0, month 1, day 1, year out of range)\n"
     "datreader: @: record 9 is not a calendar date (year 10000, month 1, day 1, year out of range)\n"
     "datreader: @: record 10 is not a calendar date (year 65535, month 65535, day 65535, year out of range)\n",
     "",
     R"({"index":0,"year":2012,"month":0,"day":5,"date":null,"valid":false})" "\n"
     R"({"index":1,"year":2012,"month":13,"day":1,"date":null,"valid":false})" "\n"
     R"({"index":2,"year":2012,"month":2,"day":30,"date":null,"valid":false})" "\n"
     R"({"index":3,"year":2012,"month":3,"day":0,"date":null,"valid":false})" "\n"
     R"({"index":4,"year":2011,"month":2,"day":29,"date":null,"valid":false})" "\n"
     R"({"index":5,"year":1900,"month":2,"day":29,"date":null,"valid":false})" "\n"
     R"({"index":6,"year":2012,"month":4,"day":31,"date":null,"valid":false})" "\n"
     R"({"index":7,"year":2012,"month":1,"day":300,"date":null,"valid":false})" "\n"
     R"({"index":8,"year":0,"month":1,"day":1,"date":null,"valid":false})" "\n"
     R"({"index":9,"year":10000,"month":1,"day":1,"date":null,"valid":false})" "\n"
     R"({"index":10,"year":65535,"month":65535,"day":65535,"date":null,"valid":false})" "\n"
     R"({"index":11,"year":2012,"month":12,"day":31,"date":"2012-12-31","valid":true})" "\n",
     "records: 12\ninvalid: 11 (first at index 0)\ntrailing bytes: 0\nresult: problems found\n", 1},
    {"edges.dat", "0  0001-01-01\n1  1600-02-29\n2  1752-09-14\n3  1899-12-31\n4  9999-12-31\n",
     "index,year,month,day\n0,1,1,1\n1,1600,2,29\n2,1752,9,14\n3,1899,12,31\n4,9999,12,31\n", "", "",
     R"({"index":0,"year":1,"month":1,"day":1,"date":"0001-01-01","valid":true})" "\n"
     R"({"index":1,"year":1600,"month":2,"day":29,"date":"1600-02-29","valid":true})" "\n"
     R"({"index":2,"year":1752,"month":9,"day":14,"date":"1752-09-14","valid":true})" "\n"
     R"({"index":3,"year":1899,"month":12,"day":31,"date":"1899-12-31","valid":true})" "\n"
     R"({"index":4,"year":9999,"month":12,"day":31,"date":"9999-12-31","valid":true})" "\n",
     "records: 5\ninvalid: 0\ntrailing bytes: 0\nresult: OK\n", 0},
};

std::string Replace(std::string s, const std::string& what, const std::string& with)
{
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
        s.replace(at, what.size(), with);
    return s;
}

// The JSON array holds the same objects as the lines, one a line, comma-separated.
std::string AsArray(const std::string& lines)
{
    if (lines.empty())
        return "[]\n";
    return "[\n" + Replace(lines.substr(0, lines.size() - 1), "\n", ",\n") + "\n]\n";
}

class FixtureTest : public ::testing::TestWithParam<FixtureCase>
{
};

TEST_P(FixtureTest, EveryFormatListsTheFile)
{
    const FixtureCase& c = GetParam();
    const std::string path = Fixture(c.file);
    // Trailing bytes go with the listing in text, to standard error in the machine formats.
    const std::string trailingWarning = *c.trailing ? "datreader: " + path + ": " + c.trailing + "\n" : "";

    const Outcome text = RunWith({path});
    EXPECT_EQ(text.exit, 0);
    EXPECT_EQ(text.out, c.text);
    EXPECT_EQ(text.err, "");

    const Outcome csv = RunWith({"--csv", path});
    EXPECT_EQ(csv.exit, 0);
    EXPECT_EQ(csv.out, c.csv);
    EXPECT_EQ(csv.err, Replace(c.csvWarnings, "@", path) + trailingWarning);

    const Outcome jsonl = RunWith({"--jsonl", path});
    EXPECT_EQ(jsonl.exit, 0);
    EXPECT_EQ(jsonl.out, c.jsonl);
    EXPECT_EQ(jsonl.err, trailingWarning);

    const Outcome json = RunWith({"--json", path});
    EXPECT_EQ(json.exit, 0);
    EXPECT_EQ(json.out, AsArray(c.jsonl));
    EXPECT_EQ(json.err, trailingWarning);
}

TEST_P(FixtureTest, CheckPrintsOnlyTheSummary)
{
    const FixtureCase& c = GetParam();
    const std::string path = Fixture(c.file);
    const Outcome check = RunWith({"--check", path});
    EXPECT_EQ(check.exit, c.checkExit);
    EXPECT_EQ(check.out, "file: " + path + "\n" + c.check);
    EXPECT_EQ(check.err, "");
}

TEST_P(FixtureTest, StandardInputReadsTheSameAsTheFile)
{
    const FixtureCase& c = GetParam();
    const std::string bytes = ReadAll(Fixture(c.file));
    EXPECT_EQ(RunWith({"-"}, bytes).out, c.text);
    const Outcome check = RunWith({"--check", "-"}, bytes);
    EXPECT_EQ(check.exit, c.checkExit);
    EXPECT_EQ(check.out, "file: standard input\n" + std::string(c.check));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureTest, ::testing::ValuesIn(FixtureCases),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             name = name.substr(0, name.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(JsonArray, IsWellFormedForOneAndManyRecords)
{
    EXPECT_EQ(RunWith({"--json", Fixture("one.dat")}).out,
              "[\n{\"index\":0,\"year\":2012,\"month\":1,\"day\":31,\"date\":\"2012-01-31\",\"valid\":true}\n]\n");
    EXPECT_EQ(RunWith({"--json", Fixture("empty.dat")}).out, "[]\n");
    EXPECT_EQ(RunWith({"--json", Fixture("seven.dat")}).out,
              "[\n{\"index\":0,\"year\":2012,\"month\":1,\"day\":31,\"date\":\"2012-01-31\",\"valid\":true}\n]\n");
    const std::string start = "[\n{\"index\":0,\"year\":1,\"month\":1,\"day\":1,\"date\":\"0001-01-01\",\"valid\":true},\n{\"index\":1,";
    EXPECT_EQ(RunWith({"--json", Fixture("edges.dat")}).out.substr(0, start.size()), start);
}

// A record split across reads, whatever the read sizes, is decoded whole.
TEST(Streaming, RecordsSplitAcrossReadsDecodeWhole)
{
    std::string bytes;
    std::mt19937 random(7);
    std::string expected = "index,year,month,day\n";
    const int count = 30000;  // more than one 64 KiB chunk
    for (int i = 0; i < count; ++i) {
        const TDateRecord r{static_cast<std::uint16_t>(1 + random() % 9999), static_cast<std::uint16_t>(1 + random() % 12),
                            static_cast<std::uint16_t>(1 + random() % 28)};
        const TDateRecordBytes b = EncodeDateRecord(r);
        bytes.append(b.begin(), b.end());
        expected += std::to_string(i) + "," + std::to_string(r.Year) + "," + std::to_string(r.Month) + "," +
                    std::to_string(r.Day) + "\n";
    }
    bytes += "\x01\x02\x03";

    for (std::size_t step : {std::size_t{1}, std::size_t{5}, std::size_t{7}, std::size_t{4096}, std::size_t{1} << 20}) {
        SCOPED_TRACE("read size " + std::to_string(step));
        MemorySource source(bytes, step);
        StringOutput out, warn;
        Options options;
        options.format = Format::Csv;
        const Summary summary = ReadRecords(source, options, "memory", out, warn);
        EXPECT_EQ(summary.records, static_cast<std::uint64_t>(count));
        EXPECT_EQ(summary.trailingOffset, static_cast<std::uint64_t>(count) * 6);
        ASSERT_EQ(summary.trailingSize, 3u);
        EXPECT_EQ(summary.trailing[2], 3);
        EXPECT_TRUE(out.text == expected) << "CSV differs at read size " << step;
        EXPECT_EQ(warn.text, "datreader: memory: trailing 3 bytes at offset 180000 (not a whole record): 01 02 03\n");
    }
}

struct ArgumentCase
{
    const char* name;
    std::vector<std::string> args;
    int exit;
    const char* errorPart;  // expected in standard error; empty: standard error stays empty
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class ArgumentTest : public ::testing::TestWithParam<ArgumentCase>
{
};

TEST_P(ArgumentTest, BadCommandLinesAreRefusedWithUsageExit)
{
    const ArgumentCase& c = GetParam();
    const Outcome run = RunWith(c.args);
    EXPECT_EQ(run.exit, c.exit);
    if (*c.errorPart) {
        EXPECT_NE(run.err.find(c.errorPart), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Try 'datreader --help'"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    } else {
        EXPECT_EQ(run.err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ArgumentTest,
    ::testing::Values(ArgumentCase{"UnknownLongOption", {"--bogus"}, 2, "unknown option '--bogus'"},
                      ArgumentCase{"UnknownShortOption", {"-x", Fixture("one.dat")}, 2, "unknown option '-x'"},
                      ArgumentCase{"TwoFormats", {"--csv", "--json", Fixture("one.dat")}, 2, "not both --csv and --json"},
                      ArgumentCase{"CheckWithFormat", {"--check", "--jsonl"}, 2, "takes no output format"},
                      ArgumentCase{"TwoFiles", {Fixture("one.dat"), Fixture("several.dat")}, 2, "one file at a time"},
                      ArgumentCase{"EmptyFileName", {""}, 2, "the file name is empty"},
                      ArgumentCase{"SameFormatTwice", {"--csv", "--csv", Fixture("one.dat")}, 0, ""},
                      ArgumentCase{"HelpFirst", {"--help", "--bogus"}, 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Help, DocumentsFormatsAndEveryExitCode)
{
    const Outcome help = RunWith({"--help"});
    EXPECT_EQ(help.exit, 0);
    for (const char* part : {"Usage: datreader", "--csv", "--json", "--jsonl", "--check", "test.dat",
                             "standard input", "index,year,month,day"})
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    for (int code = 0; code <= 6; ++code)
        EXPECT_NE(help.out.find("\n  " + std::to_string(code) + "  "), std::string::npos) << "exit code " << code;
    EXPECT_EQ(RunWith({"-h"}).out, help.out);
}

class TempDir : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("datreader-test-" + std::to_string(std::random_device{}()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Path(const std::u8string& name) const
    {
        const std::u8string p = (dir_ / name).u8string();
        return std::string(p.begin(), p.end());
    }
    static void WriteBytes(const std::string& path, const std::string& bytes)
    {
        std::ofstream(fs::path(std::u8string(path.begin(), path.end())), std::ios::binary) << bytes;
    }

    fs::path dir_;
};

TEST_F(TempDir, MissingFileAndDirectoryHaveTheirOwnExitCodes)
{
    const Outcome missing = RunWith({Path(u8"none.dat")});
    EXPECT_EQ(missing.exit, 3);
    EXPECT_EQ(missing.err, "datreader: cannot open '" + Path(u8"none.dat") + "': no such file\n");
    EXPECT_EQ(missing.out, "");

    fs::create_directory(dir_ / "test.dat");
    const Outcome directory = RunWith({"--check", Path(u8"test.dat")});
    EXPECT_EQ(directory.exit, 4);
    EXPECT_NE(directory.err.find("it is a directory"), std::string::npos) << directory.err;
    EXPECT_EQ(directory.out, "");
}

// Korean folder names are common where the program is used; the path must survive
// the trip to the file system and back into messages.
TEST_F(TempDir, NonAsciiPathsOpenAndAppearInMessages)
{
    fs::create_directories(dir_ / u8"날짜 기록");
    const std::string path = Path(u8"날짜 기록/test.dat");
    WriteBytes(path, ReadAll(Fixture("several.dat")));
    const Outcome run = RunWith({"--check", path});
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "file: " + path);

    const Outcome missing = RunWith({Path(u8"날짜 기록/없음.dat")});
    EXPECT_EQ(missing.exit, 3);
    EXPECT_EQ(missing.err, "datreader: cannot open '" + Path(u8"날짜 기록/없음.dat") + "': no such file\n");
}

TEST_F(TempDir, FileNamedLikeAnOptionAfterDoubleDash)
{
    WriteBytes(Path(u8"--csv"), ReadAll(Fixture("one.dat")));
    fs::current_path(dir_);
    const Outcome run = RunWith({"--", "--csv"});
    fs::current_path(fs::temp_directory_path());
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, "0  2012-01-31\n");
}

TEST_F(TempDir, DefaultFileIsTestDatInTheCurrentDirectory)
{
    WriteBytes(Path(u8"test.dat"), ReadAll(Fixture("several.dat")));
    fs::current_path(dir_);
    const Outcome run = RunWith({"--csv"});
    fs::current_path(fs::temp_directory_path());
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, "index,year,month,day\n0,2012,1,31\n1,2000,2,29\n2,1999,12,31\n3,2024,7,4\n");
}

TEST_F(TempDir, FileThatCannotBeOpenedIsUnreadable)
{
    const std::string path = Path(u8"test.dat");
    WriteBytes(path, ReadAll(Fixture("one.dat")));
#ifdef _WIN32
    // What the window program does while it appends: hold the file without sharing.
    const std::wstring wide = fs::path(std::u8string(path.begin(), path.end())).wstring();
    HANDLE held = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const Outcome run = RunWith({path});
    CloseHandle(held);
#else
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads a file of mode 000; the command-line test covers this as another user";
    chmod(path.c_str(), 0);
    const Outcome run = RunWith({path});
#endif
    EXPECT_EQ(run.exit, 5);
    EXPECT_EQ(run.err.rfind("datreader: cannot open '" + path + "': ", 0), 0u) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(RunWith({path}).exit, 0) << "readable again once let go";
}

TEST(Failures, ReadErrorKeepsWhatWasListedAndExitsUnreadable)
{
    class Failing : public Environment
    {
    public:
        OpenResult Open(const std::string&) override
        {
            return {std::make_unique<MemorySource>(std::string("\xDC\x07\x01\x00\x1F\x00\xDC\x07", 8), 1 << 20, true),
                    ExitCode::Ok, {}};
        }
        ByteSource& StandardInput() override { return in; }
        Output& StandardOutput() override { return out; }
        Output& StandardError() override { return err; }
        MemorySource in{""};
        StringOutput out, err;
    } failing;
    EXPECT_EQ(RunReader({"x.dat"}, failing), 5);
    EXPECT_EQ(failing.out.text, "0  2012-01-31\n");
    EXPECT_EQ(failing.err.text, "datreader: cannot read 'memory': Input/output error\n");
}

TEST(Failures, WriteErrorExitsWithItsOwnCode)
{
    TestEnvironment env;
    env.out.failAfter_ = 10;
    EXPECT_EQ(RunReader({Fixture("several.dat")}, env), 6);
    EXPECT_EQ(env.err.text, "datreader: cannot write the output: disk full\n");
}

}  // namespace
