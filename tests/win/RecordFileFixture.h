#pragma once
// test.dat beside the test program, removed before and after each case, and a main
// window made from the real stored layout to press Add on.

#include "Application.h"
#include "RunTime.h"
#include "Unit2.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using TBytes = std::vector<std::uint8_t>;

std::wstring RecordFilePath();
bool PathExists(const std::wstring& path);
TBytes ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const TBytes& bytes);
void RemoveRecordFile();

// Another process that holds a file open without sharing until Release() or destruction.
class TFileHolder
{
public:
    explicit TFileHolder(const std::wstring& path);
    ~TFileHolder();
    void Release();

private:
    HANDLE process_ = nullptr;
    HANDLE release_ = nullptr;
};

class RecordFileTest : public testing::Test
{
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override { RemoveRecordFile(); }
    void TearDown() override { RemoveRecordFile(); }

    // Shows `date` in the field and presses Add, as the user would.
    static void Add(TDateTime date);

    static std::unique_ptr<TForm2> form_;
};
