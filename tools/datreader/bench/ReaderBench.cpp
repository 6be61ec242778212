// Prints how fast the reader gets through a large record file, next to a bare read
// loop over the same file, to show whether the reader or the disk is the limit.
//   datreader_bench [megabytes=200] [folder=.]
// The file is generated in the folder and deleted afterwards. On Linux the first
// pair of runs starts with the file dropped from the page cache (a cold read).

#include "FileSource.h"
#include "Reader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace datreader;
namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
const char* const NullDevice = "NUL";
#else
const char* const NullDevice = "/dev/null";
#endif

void Generate(const fs::path& path, std::uint64_t records)
{
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (!file) {
        std::perror("cannot create the bench file");
        std::exit(1);
    }
    std::vector<std::uint8_t> chunk;
    chunk.reserve(6 * 10000);
    for (std::uint64_t i = 0; i < records;) {
        chunk.clear();
        for (int n = 0; n < 10000 && i < records; ++n, ++i) {
            const TDateRecord r{static_cast<std::uint16_t>(1900 + i % 200), static_cast<std::uint16_t>(1 + i % 12),
                                static_cast<std::uint16_t>(1 + i % 28)};
            const TDateRecordBytes b = EncodeDateRecord(r);
            chunk.insert(chunk.end(), b.begin(), b.end());
        }
        std::fwrite(chunk.data(), 1, chunk.size(), file);
    }
    std::fclose(file);
}

// Asks the kernel to forget the file's cached pages, so the next read comes from the disk.
bool DropFromCache(const fs::path& path)
{
#ifdef _WIN32
    (void)path;
    return false;
#else
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    fdatasync(fd);
    const bool dropped = posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    close(fd);
    return dropped;
#endif
}

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Report(const char* what, double seconds, std::uint64_t bytes, std::uint64_t records)
{
    std::printf("%-34s %8.3f s %10.1f MB/s %12.0f records/s\n", what, seconds, bytes / 1e6 / seconds,
                records / seconds);
}

std::uint64_t BareRead(const fs::path& path)
{
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    std::vector<unsigned char> buffer(64 * 1024);
    std::uint64_t total = 0;
    unsigned sum = 0;
    for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) {
        total += got;
        sum += buffer[0];
    }
    std::fclose(file);
    if (sum == 1)  // keeps the loop from being optimised away
        std::puts("");
    return total;
}

std::uint64_t ReaderRun(const fs::path& path, Format format, bool check)
{
    OpenResult opened = OpenFile(path.string());
    if (!opened.source) {
        std::fprintf(stderr, "%s\n", opened.message.c_str());
        std::exit(1);
    }
    std::FILE* null = std::fopen(NullDevice, "wb");
    StdioOutput out(null), warn(null);
    Options options;
    options.format = format;
    options.check = check;
    const Summary summary = ReadRecords(*opened.source, options, "bench", out, warn);
    out.Flush();
    std::fclose(null);
    return summary.records;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::current_path();
    const fs::path path = folder / "datreader-bench.dat";
    const std::uint64_t records = megabytes * 1000 * 1000 / 6;
    const std::uint64_t bytes = records * 6;

    std::printf("generating %llu records (%.1f MB) in %s\n", static_cast<unsigned long long>(records), bytes / 1e6,
                path.string().c_str());
    Generate(path, records);

    if (DropFromCache(path)) {
        auto start = std::chrono::steady_clock::now();
        BareRead(path);
        Report("bare read loop, cold", Seconds(start), bytes, records);
        DropFromCache(path);
        start = std::chrono::steady_clock::now();
        ReaderRun(path, Format::Text, true);
        Report("datreader --check, cold", Seconds(start), bytes, records);
    } else {
        std::printf("(no cold runs: the page cache cannot be dropped here)\n");
    }

    auto start = std::chrono::steady_clock::now();
    BareRead(path);
    Report("bare read loop, cached", Seconds(start), bytes, records);

    const struct {
        const char* what;
        Format format;
        bool check;
    } runs[] = {
        {"datreader --check, cached", Format::Text, true},
        {"datreader (text) > null, cached", Format::Text, false},
        {"datreader --csv > null, cached", Format::Csv, false},
        {"datreader --json > null, cached", Format::Json, false},
        {"datreader --jsonl > null, cached", Format::JsonLines, false},
    };
    for (const auto& run : runs) {
        start = std::chrono::steady_clock::now();
        const std::uint64_t listed = ReaderRun(path, run.format, run.check);
        Report(run.what, Seconds(start), bytes, listed);
    }

    fs::remove(path);
    return 0;
}
