#pragma once
// The reader's files and standard streams over the C library, for Linux and Windows.

#include "Reader.h"

#include <cstdio>

namespace datreader {

// path is UTF-8; on Windows it is opened through its wide form.
OpenResult OpenFile(const std::string& path);

class StdioSource : public ByteSource
{
public:
    StdioSource(std::FILE* file, std::string name, bool owned);
    ~StdioSource() override;
    StdioSource(const StdioSource&) = delete;
    StdioSource& operator=(const StdioSource&) = delete;

    std::size_t Read(std::uint8_t* buffer, std::size_t size) override;

private:
    std::FILE* file_;
    std::string name_;
    bool owned_;
};

class StdioOutput : public Output
{
public:
    explicit StdioOutput(std::FILE* file) : file_(file) {}
    void Write(std::string_view text) override;
    void Flush() override;

private:
    std::FILE* file_;
};

// Standard input in binary mode: a record may hold any byte, also 0x1A and CR LF.
void UseBinaryStandardInput();

// The process's own streams and files.
class ProcessEnvironment : public Environment
{
public:
    ProcessEnvironment();
    OpenResult Open(const std::string& path) override { return OpenFile(path); }
    ByteSource& StandardInput() override { return in_; }
    Output& StandardOutput() override { return out_; }
    Output& StandardError() override { return err_; }

private:
    StdioSource in_;
    StdioOutput out_;
    StdioOutput err_;
};

}  // namespace datreader
