#include "ReportLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

std::string ReportNumber(int n)
{
    return "Report " + std::to_string(n) + "\r\n[General]\r\nError number " + std::to_string(n) + "\r\n";
}

// Bytes of a frame as a hand-built header over `payload`, checks computed as a writer would.
std::string HandFrame(std::string_view payload, std::uint32_t length)
{
    std::string frame("\xD5RPT", 4);
    auto put = [&frame](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            frame.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    put(length);
    put(Crc32(payload));
    put(Crc32(frame));
    frame.append(payload);
    return frame;
}

TEST(Crc32, MatchesTheCommonCheckValue)
{
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32(""), 0u);
}

TEST(ReportLog, RoundTripsAnyBytes)
{
    const std::vector<std::string> reports = {
        "",
        "plain",
        std::string("nul\0inside", 10),
        std::string("\xD5RPT looks like a header \xD5RPT", 32),
        "\xEB\x82\xA0\xEC\xA7\x9C \xEC\xA0\x80\xEC\x9E\xA5",
    };
    const TLogContents contents = ParseLog(SerializeLog(reports));
    EXPECT_EQ(contents.Reports, reports);
    EXPECT_FALSE(contents.Repaired);
}

TEST(ReportLog, KeepsTheNewest32NewestLast)
{
    std::string bytes;
    for (int n = 1; n <= 100; ++n) {
        bytes = SerializeLog(AppendReport(ParseLog(bytes).Reports, ReportNumber(n)));
        const TLogContents contents = ParseLog(bytes);
        ASSERT_FALSE(contents.Repaired) << n;
        const int expected = std::min(n, 32);
        ASSERT_EQ(contents.Reports.size(), static_cast<std::size_t>(expected)) << n;
        for (int i = 0; i < expected; ++i)
            ASSERT_EQ(contents.Reports[i], ReportNumber(n - expected + 1 + i)) << "after " << n << ", slot " << i;
    }
}

TEST(ReportLog, EmptyInputIsAnEmptySoundLog)
{
    const TLogContents contents = ParseLog("");
    EXPECT_TRUE(contents.Reports.empty());
    EXPECT_FALSE(contents.Repaired);
}

TEST(ReportLog, AnyCorruptByteLosesOnlyItsOwnReport)
{
    const std::vector<std::string> reports = {ReportNumber(1), ReportNumber(2), ReportNumber(3)};
    const std::string bytes = SerializeLog(reports);
    const std::size_t secondStart = FrameHeaderBytes + reports[0].size();
    const std::size_t secondEnd = secondStart + FrameHeaderBytes + reports[1].size();
    for (std::size_t at = secondStart; at < secondEnd; ++at) {
        for (unsigned char flip : {0x01, 0x80, 0xFF}) {
            std::string corrupt = bytes;
            corrupt[at] = static_cast<char>(corrupt[at] ^ flip);
            const TLogContents contents = ParseLog(corrupt);
            EXPECT_TRUE(contents.Repaired) << "byte " << at;
            EXPECT_EQ(contents.Reports, (std::vector<std::string>{reports[0], reports[2]})) << "byte " << at;
        }
    }
}

TEST(ReportLog, TruncatedTailKeepsEveryWholeReport)
{
    const std::vector<std::string> reports = {ReportNumber(1), ReportNumber(2), ReportNumber(3)};
    const std::string bytes = SerializeLog(reports);
    std::vector<std::size_t> frameEnds;
    std::size_t end = 0;
    for (const std::string& r : reports)
        frameEnds.push_back(end += FrameHeaderBytes + r.size());

    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        const TLogContents contents = ParseLog(std::string_view(bytes).substr(0, cut));
        const std::size_t whole = std::count_if(frameEnds.begin(), frameEnds.end(),
                                                [cut](std::size_t e) { return e <= cut; });
        const bool atBoundary = cut == 0 || std::find(frameEnds.begin(), frameEnds.end(), cut) != frameEnds.end();
        ASSERT_EQ(contents.Reports, std::vector<std::string>(reports.begin(), reports.begin() + whole)) << cut;
        EXPECT_EQ(contents.Repaired, !atBoundary) << cut;
    }
}

TEST(ReportLog, ForeignBytesAreDroppedAndTheSoundPartKept)
{
    const std::string sound = SerializeLog({ReportNumber(1), ReportNumber(2)});
    const std::vector<std::string> foreign = {
        "Just a text file someone saved with this name.\r\n",
        std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16),
        std::string("\xD5RPT", 4),                    // a lone magic
        std::string("\xD5RPT\x05\0\0\0garbage!", 16), // a header whose check fails
    };
    for (const std::string& junk : foreign) {
        const TLogContents alone = ParseLog(junk);
        EXPECT_TRUE(alone.Reports.empty()) << junk;
        EXPECT_TRUE(alone.Repaired) << junk;

        for (const std::string& mixed : {junk + sound, sound + junk, junk + sound + junk}) {
            const TLogContents contents = ParseLog(mixed);
            EXPECT_TRUE(contents.Repaired);
            EXPECT_EQ(contents.Reports, (std::vector<std::string>{ReportNumber(1), ReportNumber(2)}));
        }
    }
}

TEST(ReportLog, AFrameLongerThanAReportMayBeIsNotOurs)
{
    const std::string tooLong(MaxReportBytes + 1, 'x');
    const TLogContents contents =
        ParseLog(HandFrame(tooLong, static_cast<std::uint32_t>(tooLong.size())) + SerializeLog({"after"}));
    EXPECT_TRUE(contents.Repaired);
    EXPECT_EQ(contents.Reports, std::vector<std::string>{"after"});
    // A length that claims more than the file holds is dropped too.
    const TLogContents claimsMore = ParseLog(HandFrame("short", 4000));
    EXPECT_TRUE(claimsMore.Repaired);
    EXPECT_TRUE(claimsMore.Reports.empty());
}

TEST(ReportLog, MoreThan32SoundFramesKeepTheNewest)
{
    std::string bytes;
    for (int n = 1; n <= 40; ++n)
        bytes += SerializeLog({ReportNumber(n)});
    const TLogContents contents = ParseLog(bytes);
    ASSERT_EQ(contents.Reports.size(), MaxReports);
    EXPECT_EQ(contents.Reports.front(), ReportNumber(9));
    EXPECT_EQ(contents.Reports.back(), ReportNumber(40));
}

TEST(ReportLog, HugeGarbageParsesToNothing)
{
    std::mt19937 random(1234);
    std::string garbage(48u << 20, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random());
    // Sprinkle magics so the reader has to look at many would-be headers.
    for (std::size_t at = 0; at + 4 < garbage.size(); at += 97)
        garbage.replace(at, 4, "\xD5RPT", 4);
    const TLogContents contents = ParseLog(garbage);
    EXPECT_TRUE(contents.Repaired);
    EXPECT_TRUE(contents.Reports.empty());

    const TLogContents withLog = ParseLog(garbage + SerializeLog({"kept"}));
    EXPECT_EQ(withLog.Reports, std::vector<std::string>{"kept"});
}

TEST(BoundReport, LeavesAReportThatFitsAlone)
{
    const std::string fits(MaxReportBytes, 'a');
    EXPECT_EQ(BoundReport(fits), fits);
}

TEST(BoundReport, CutsALongReportAtACharacterAndSaysSo)
{
    // Three-byte characters, so that a byte cut would usually land inside one.
    std::string text;
    while (text.size() < MaxReportBytes + 10)
        text += "\xEB\x82\xA0";
    for (std::size_t extra : {0u, 1u, 2u}) {
        const std::string report = text.substr(0, text.size() - extra);
        const std::string cut = BoundReport(report);
        ASSERT_LE(cut.size(), MaxReportBytes);
        const std::size_t noteAt = cut.find("\r\n[Report cut");
        ASSERT_NE(noteAt, std::string::npos);
        EXPECT_EQ(noteAt % 3, 0u) << "a character was split";
        EXPECT_EQ(cut.substr(0, noteAt), report.substr(0, noteAt));
        EXPECT_NE(cut.find(std::to_string(report.size())), std::string::npos) << "the note names the full size";
    }
}

TEST(BoundReport, AppendedAndSerialisedReportsStayWithinTheBounds)
{
    std::vector<std::string> reports;
    for (int n = 0; n < 40; ++n)
        reports = AppendReport(std::move(reports), std::string(MaxReportBytes * 2, static_cast<char>('a' + n % 26)));
    const std::string bytes = SerializeLog(reports);
    EXPECT_LE(bytes.size(), MaxLogBytes);
    const TLogContents contents = ParseLog(bytes);
    EXPECT_FALSE(contents.Repaired);
    ASSERT_EQ(contents.Reports.size(), MaxReports);
    EXPECT_EQ(contents.Reports.back().front(), static_cast<char>('a' + 39 % 26));

    // SerializeLog bounds what it is handed directly, too.
    const TLogContents direct = ParseLog(SerializeLog({std::string(MaxReportBytes + 1, 'z')}));
    EXPECT_FALSE(direct.Repaired);
    ASSERT_EQ(direct.Reports.size(), 1u);
    EXPECT_LE(direct.Reports[0].size(), MaxReportBytes);
}

} // namespace
