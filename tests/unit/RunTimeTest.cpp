#include "RunTime.h"

#include <gtest/gtest.h>

namespace {

TEST(ExtractFilePath, KeepsEverythingUpToTheLastSeparatorOrDriveColon)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\dir\\app.exe", L"C:\\dir\\"},
        {L"Z:\\work\\build\\src\\DateRecorder.exe", L"Z:\\work\\build\\src\\"},
        {L"C:/dir/app.exe", L"C:/dir/"},
        {L"C:\\dir/mixed\\app.exe", L"C:\\dir/mixed\\"},
        {L"C:app.exe", L"C:"},
        {L"C:\\", L"C:\\"},
        {L"\\\\server\\share\\app.exe", L"\\\\server\\share\\"},
        {L"dir\\", L"dir\\"},
        {L"app.exe", L""},
        {L"", L""},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(ExtractFilePath(path), expected) << WideToUtf8(path);
}

TEST(SysErrorMessage, IsTheSystemTextWithoutItsLineEnd)
{
    for (DWORD code : {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_DISK_FULL}) {
        wchar_t raw[512] = {};
        DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                      raw, 512, nullptr);
        ASSERT_GT(length, 0u) << code;
        std::wstring expected(raw, length);
        while (!expected.empty() && (expected.back() == L'\n' || expected.back() == L'\r'))
            expected.pop_back();
        std::wstring message = SysErrorMessage(code);
        EXPECT_EQ(message, expected) << code;
        EXPECT_EQ(message.find_first_of(L"\r\n"), std::wstring::npos) << code;
    }
    EXPECT_EQ(SysErrorMessage(0x2FFFFFFF), L"System error 805306367.");
}

TEST(Utf8, RoundTripsHangul)
{
    const std::wstring caption = L"날짜구조체 저장";
    std::string utf8 = WideToUtf8(caption);
    EXPECT_EQ(utf8, "\xEB\x82\xA0\xEC\xA7\x9C\xEA\xB5\xAC\xEC\xA1\xB0\xEC\xB2\xB4 \xEC\xA0\x80\xEC\x9E\xA5");
    EXPECT_EQ(Utf8ToWide(utf8), caption);
}

} // namespace
