#include "ReportLog_win.h"

#include "Handle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

struct TPathCase {
    std::wstring Exe;
    std::wstring Beside;
};

TEST(ReportLogPaths, LogIsNamedLikeTheExe)
{
    const std::vector<TPathCase> cases = {
        {L"C:\\Program Files\\Tool\\DateRecorder.exe", L"C:\\Program Files\\Tool\\DateRecorder.elf"},
        {L"Z:\\work\\b.c.EXE", L"Z:\\work\\b.c.elf"},
        {L"C:\\my.folder\\tool", L"C:\\my.folder\\tool.elf"},
        {L"Z:/unix/style/app.exe", L"Z:/unix/style/app.elf"},
        {L"C:\\\uB0A0\uC9DC\\\uC571.exe", L"C:\\\uB0A0\uC9DC\\\uC571.elf"},
    };
    for (const TPathCase& c : cases)
        EXPECT_EQ(LogPathBeside(c.Exe), c.Beside);
}

TEST(ReportLogPaths, FallbackIsAFolderForTheProgramUnderAppData)
{
    const std::wstring expected = L"C:\\users\\root\\AppData\\Roaming\\DateRecorder\\DateRecorder.elf";
    EXPECT_EQ(FallbackLogPath(L"C:\\x\\DateRecorder.exe", L"C:\\users\\root\\AppData\\Roaming"), expected);
    EXPECT_EQ(FallbackLogPath(L"C:\\x\\DateRecorder.exe", L"C:\\users\\root\\AppData\\Roaming\\"), expected);
}

class TempFolder : public testing::Test {
protected:
    void SetUp() override
    {
        wchar_t base[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, base), 0u);
        folder_ = std::wstring(base) + L"reportlog-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                  std::to_wstring(GetTickCount());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)) << GetLastError();
        log_ = folder_ + L"\\app.elf";
    }
    void TearDown() override
    {
        for (const std::wstring& name : Names())
            DeleteFileW((folder_ + L"\\" + name).c_str());
        RemoveDirectoryW((folder_ + L"\\app.elf").c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    std::vector<std::wstring> Names() const
    {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((folder_ + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return names;
        do {
            const std::wstring name = data.cFileName;
            if (name != L"." && name != L"..")
                names.push_back(name);
        } while (FindNextFileW(find, &data));
        FindClose(find);
        return names;
    }
    void WriteRaw(const std::string& bytes)
    {
        TFileHandle file(CreateFileW(log_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file.Valid());
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
        ASSERT_EQ(written, bytes.size());
    }
    TLogContents Read()
    {
        TLogContents contents;
        EXPECT_TRUE(ReadReportLog(log_, contents));
        return contents;
    }

    std::wstring folder_;
    std::wstring log_;
};

TEST_F(TempFolder, WritableFolderIsProvedByAFileThatIsGoneAfterwards)
{
    EXPECT_TRUE(FolderIsWritable(folder_));
    EXPECT_TRUE(Names().empty());
    EXPECT_FALSE(FolderIsWritable(folder_ + L"\\missing"));
}

TEST_F(TempFolder, MissingLogReadsAsEmptyAndSound)
{
    const TLogContents contents = Read();
    EXPECT_TRUE(contents.Reports.empty());
    EXPECT_FALSE(contents.Repaired);
}

TEST_F(TempFolder, AppendsKeepThe32NewestAndLeaveOnlyTheLog)
{
    for (int n = 1; n <= 40; ++n)
        ASSERT_TRUE(AppendToReportLogAt(log_, "report " + std::to_string(n))) << n;
    const TLogContents contents = Read();
    EXPECT_FALSE(contents.Repaired);
    ASSERT_EQ(contents.Reports.size(), MaxReports);
    EXPECT_EQ(contents.Reports.front(), "report 9");
    EXPECT_EQ(contents.Reports.back(), "report 40");
    EXPECT_EQ(Names(), std::vector<std::wstring>{L"app.elf"});
}

TEST_F(TempFolder, ForeignFileIsReplacedByASoundLog)
{
    WriteRaw("not a log at all\r\n" + SerializeLog({"older"}) + "torn tail \xD5RPT");
    EXPECT_TRUE(Read().Repaired);
    ASSERT_TRUE(AppendToReportLogAt(log_, "newer"));
    const TLogContents contents = Read();
    EXPECT_FALSE(contents.Repaired);
    EXPECT_EQ(contents.Reports, (std::vector<std::string>{"older", "newer"}));
}

TEST_F(TempFolder, HugeFileIsReadOnlyAtItsNewestEnd)
{
    std::string bytes(MaxLogBytes + (3u << 20), 'g');
    bytes += SerializeLog({"at the end"});
    WriteRaw(bytes);
    const TLogContents contents = Read();
    EXPECT_TRUE(contents.Repaired);
    EXPECT_EQ(contents.Reports, std::vector<std::string>{"at the end"});
    ASSERT_TRUE(AppendToReportLogAt(log_, "next"));
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(log_.c_str(), GetFileExInfoStandard, &data));
    EXPECT_LT(data.nFileSizeLow, 1000u) << "the rewritten log holds only the sound reports";
}

TEST_F(TempFolder, DirectoryInTheLogsPlaceFailsWithoutThrowing)
{
    ASSERT_TRUE(CreateDirectoryW(log_.c_str(), nullptr));
    TLogContents contents;
    EXPECT_FALSE(ReadReportLog(log_, contents));
    EXPECT_FALSE(AppendToReportLogAt(log_, "lost"));
}

TEST_F(TempFolder, LogHeldOpenByAnotherIsLeftAsItWas)
{
    ASSERT_TRUE(AppendToReportLogAt(log_, "first"));
    {
        TFileHandle holder(CreateFileW(log_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                       nullptr));
        ASSERT_TRUE(holder.Valid());
        EXPECT_FALSE(AppendToReportLogAt(log_, "while held"));
    }
    EXPECT_EQ(Read().Reports, std::vector<std::string>{"first"});
    ASSERT_TRUE(AppendToReportLogAt(log_, "after"));
    EXPECT_EQ(Read().Reports, (std::vector<std::string>{"first", "after"}));
    EXPECT_EQ(Names(), std::vector<std::wstring>{L"app.elf"});
}

TEST(ReportLogBesideExe, WritableExeFolderGetsTheLogBesideTheExe)
{
    wchar_t exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    const std::wstring path = ReportLogPath();
    EXPECT_EQ(path, LogPathBeside(exe));

    DeleteFileW(path.c_str());
    ASSERT_TRUE(AppendToReportLog("beside the exe"));
    TLogContents contents;
    ASSERT_TRUE(ReadReportLog(path, contents));
    EXPECT_EQ(contents.Reports, std::vector<std::string>{"beside the exe"});
    EXPECT_TRUE(DeleteFileW(path.c_str()));
}

} // namespace
