#include "FileSource.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace datreader {

namespace {

std::filesystem::path NativePath(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string ErrorText(int error)
{
    return std::strerror(error);
}

}  // namespace

OpenResult OpenFile(const std::string& path)
{
    namespace fs = std::filesystem;
    const fs::path native = NativePath(path);

    std::error_code ec;
    const fs::file_status status = fs::status(native, ec);
    if (status.type() == fs::file_type::not_found)
        return {nullptr, ExitCode::NotFound, "cannot open '" + path + "': no such file"};
    if (status.type() == fs::file_type::directory)
        return {nullptr, ExitCode::IsDirectory, "cannot read '" + path + "': it is a directory, not a record file"};

#ifdef _WIN32
    std::FILE* file = _wfopen(native.c_str(), L"rb");
#else
    std::FILE* file = std::fopen(native.c_str(), "rb");
#endif
    const int error = errno;
    if (!file)
        return {nullptr, ExitCode::Unreadable, "cannot open '" + path + "': " + ErrorText(error)};
    return {std::make_unique<StdioSource>(file, path, true), ExitCode::Ok, {}};
}

StdioSource::StdioSource(std::FILE* file, std::string name, bool owned)
    : file_(file), name_(std::move(name)), owned_(owned)
{
}

StdioSource::~StdioSource()
{
    if (owned_)
        std::fclose(file_);
}

std::size_t StdioSource::Read(std::uint8_t* buffer, std::size_t size)
{
    const std::size_t got = std::fread(buffer, 1, size, file_);
    if (got == 0 && std::ferror(file_)) {
        const int error = errno;
        throw ReadError("cannot read '" + name_ + "': " + ErrorText(error));
    }
    return got;
}

void StdioOutput::Write(std::string_view text)
{
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
        const int error = errno;
        throw WriteError("cannot write the output: " + ErrorText(error));
    }
}

void StdioOutput::Flush()
{
    if (std::fflush(file_) != 0) {
        const int error = errno;
        throw WriteError("cannot write the output: " + ErrorText(error));
    }
}

void UseBinaryStandardInput()
{
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
}

ProcessEnvironment::ProcessEnvironment()
    : in_(stdin, "standard input", false), out_(stdout), err_(stderr)
{
}

}  // namespace datreader
