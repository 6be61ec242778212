#include "DateRecord.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct TRecordCase
{
    TDateRecord Record;
    TDateRecordBytes Bytes;
};

TEST(DateRecord, IsSixLittleEndianBytesYearMonthDay)
{
    const TRecordCase cases[] = {
        {{2012, 1, 31}, {0xDC, 0x07, 0x01, 0x00, 0x1F, 0x00}},
        {{1899, 12, 29}, {0x6B, 0x07, 0x0C, 0x00, 0x1D, 0x00}},
        {{1, 1, 1}, {0x01, 0x00, 0x01, 0x00, 0x01, 0x00}},
        {{9999, 12, 31}, {0x0F, 0x27, 0x0C, 0x00, 0x1F, 0x00}},
        {{0xFFFF, 0x1234, 0}, {0xFF, 0xFF, 0x34, 0x12, 0x00, 0x00}},
    };
    for (const TRecordCase& c : cases) {
        EXPECT_EQ(EncodeDateRecord(c.Record), c.Bytes) << c.Record.Year;
        TDateRecord back = DecodeDateRecord(c.Bytes.data());
        EXPECT_EQ(back.Year, c.Record.Year);
        EXPECT_EQ(back.Month, c.Record.Month);
        EXPECT_EQ(back.Day, c.Record.Day);
    }
}

TEST(DateRecord, EncodingMatchesTheStructInMemoryOnThisTarget)
{
    // The program's target is little-endian, so the struct's own bytes are the file's bytes.
    TDateRecord record{2012, 1, 31};
    TDateRecordBytes raw{};
    std::memcpy(raw.data(), &record, sizeof record);
    EXPECT_EQ(raw, EncodeDateRecord(record));
}

} // namespace
