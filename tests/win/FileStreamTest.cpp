#include "RecordFileFixture.h"

#include "Exceptions.h"
#include "FileStream.h"

#include <cstdlib>

namespace {

class FileStreamTest : public testing::Test
{
protected:
    void SetUp() override { RemoveRecordFile(); }
    void TearDown() override { RemoveRecordFile(); }
    const std::wstring path_ = RecordFilePath();
};

TEST_F(FileStreamTest, ModesDecideWhetherTheFileIsKeptEmptiedOrMustExist)
{
    EXPECT_THROW(TFileStream(path_, TFileOpenMode::OpenExisting), EFOpenError);
    EXPECT_FALSE(PathExists(path_));

    WriteBytes(path_, {1, 2, 3});
    { TFileStream keep(path_, TFileOpenMode::OpenOrCreate); EXPECT_EQ(keep.Size(), 3); }
    { TFileStream keep(path_, TFileOpenMode::OpenExisting); EXPECT_EQ(keep.Size(), 3); }
    EXPECT_EQ(ReadBytes(path_), (TBytes{1, 2, 3}));
    { TFileStream replace(path_, TFileOpenMode::Create); EXPECT_EQ(replace.Size(), 0); }
    EXPECT_EQ(ReadBytes(path_), TBytes{});
}

TEST_F(FileStreamTest, WritesAtTheAbsolutePositionAndReportsTheCount)
{
    {
        TFileStream stream(path_, TFileOpenMode::OpenOrCreate);
        const std::uint8_t data[] = {9, 8, 7, 6};
        EXPECT_EQ(stream.Write(data, 4), 4u);
        EXPECT_EQ(stream.Seek(1), 1);
        EXPECT_EQ(stream.Write(data, 2), 2u);
        EXPECT_EQ(stream.Position(), 3);
        EXPECT_EQ(stream.Size(), 4);
        stream.Seek(stream.Size());
        stream.WriteBuffer(data, 1);
        stream.FlushToDisk();
    }
    EXPECT_EQ(ReadBytes(path_), (TBytes{9, 9, 8, 6, 9}));
}

TEST_F(FileStreamTest, HoldsTheFileWithoutSharingUntilDestroyed)
{
    {
        TFileStream first(path_, TFileOpenMode::OpenOrCreate);
        try {
            TFileStream second(path_, TFileOpenMode::OpenOrCreate);
            ADD_FAILURE() << "a second opener got in";
        } catch (const EFOpenError& e) {
            EXPECT_EQ(e.ErrorCode(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
        HANDLE reader = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(reader, INVALID_HANDLE_VALUE) << "a reader got in";
        if (reader != INVALID_HANDLE_VALUE)
            CloseHandle(reader);
    }
    TFileStream again(path_, TFileOpenMode::OpenExisting); // released by the first one's destructor
    EXPECT_EQ(again.Size(), 0);
}

TEST_F(FileStreamTest, ErrorsNameTheFullPathAndTheSystemText)
{
    // A relative name is expanded against the current directory in the message.
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    std::wstring relative = L"no-such-dir\\x.dat";
    try {
        TFileStream stream(relative, TFileOpenMode::OpenExisting);
        ADD_FAILURE() << "opened a missing file";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), L"Cannot open file \"" + ExpandFileName(relative) + L"\". " +
                                   SysErrorMessage(e.ErrorCode()));
        EXPECT_EQ(ExpandFileName(relative), std::wstring(current) + L"\\no-such-dir\\x.dat");
    }
    try {
        TFileStream stream(relative, TFileOpenMode::OpenOrCreate);
        ADD_FAILURE() << "created a file in a missing folder";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), L"Cannot create file \"" + ExpandFileName(relative) + L"\". " +
                                   SysErrorMessage(ERROR_PATH_NOT_FOUND));
    }
}

// Run by with_small_disk.sh on a 12 KiB tmpfs.
class FullDisk : public testing::Test
{
protected:
    void SetUp() override
    {
        const char* dir = std::getenv("SMALL_DISK_DIR");
        ASSERT_NE(dir, nullptr) << "run through with_small_disk.sh";
        dir_ = Utf8ToWide(dir) + L"\\";
    }

    // Fills whatever room is left with a second file.
    void Fill()
    {
        HANDLE filler = CreateFileW((dir_ + L"filler").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(filler, INVALID_HANDLE_VALUE);
        std::uint8_t block[512] = {};
        DWORD written = 0;
        while (WriteFile(filler, block, sizeof block, &written, nullptr) && written == sizeof block) {
        }
        std::uint8_t one = 0;
        while (WriteFile(filler, &one, 1, &written, nullptr) && written == 1) {
        }
        CloseHandle(filler);
    }

    std::wstring dir_;
};

TEST_F(FullDisk, DISABLED_ShortOrFailedWritesLeaveTheFileAsItWas)
{
    // 4094 bytes: six more cross into a page that the full disk cannot give (a short write),
    // 4096 bytes: no room at all (a failed write).
    for (size_t size : {size_t{4094}, size_t{4096}}) {
        std::wstring path = dir_ + L"test.dat";
        DeleteFileW((dir_ + L"filler").c_str());
        TBytes before(size, 0xAB);
        WriteBytes(path, before);
        Fill();

        const std::uint8_t record[6] = {0xDC, 0x07, 0x01, 0x00, 0x1F, 0x00};
        try {
            TFileStream stream(path, TFileOpenMode::OpenOrCreate);
            stream.Seek(stream.Size());
            stream.WriteBuffer(record, sizeof record);
            stream.FlushToDisk();
            ADD_FAILURE() << "a full disk took the record, size " << size;
        } catch (const EWriteError& e) {
            EXPECT_EQ(e.Message().rfind(L"Stream write error.", 0), 0u) << WideToUtf8(e.Message());
        }
        EXPECT_EQ(ReadBytes(path), before) << "size " << size;
        DeleteFileW(path.c_str());
    }
}

} // namespace
