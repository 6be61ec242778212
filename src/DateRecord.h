#pragma once
// The date record as it is stored in test.dat: three little-endian 16-bit words,
// six bytes, no header, no gap. Shared by the window program and the reader so
// the two cannot disagree about the layout.

#include <array>
#include <cstddef>
#include <cstdint>

struct TDateRecord
{
    std::uint16_t Year;
    std::uint16_t Month;
    std::uint16_t Day;
};

static_assert(sizeof(TDateRecord) == 6, "a date record is six bytes");
static_assert(offsetof(TDateRecord, Year) == 0 && offsetof(TDateRecord, Month) == 2 &&
                  offsetof(TDateRecord, Day) == 4,
              "a date record has no gaps");

inline constexpr std::size_t DateRecordSize = 6;
using TDateRecordBytes = std::array<std::uint8_t, DateRecordSize>;

// Encodes little-endian whatever the host's byte order.
constexpr TDateRecordBytes EncodeDateRecord(const TDateRecord& Rec)
{
    return {static_cast<std::uint8_t>(Rec.Year & 0xFF),  static_cast<std::uint8_t>(Rec.Year >> 8),
            static_cast<std::uint8_t>(Rec.Month & 0xFF), static_cast<std::uint8_t>(Rec.Month >> 8),
            static_cast<std::uint8_t>(Rec.Day & 0xFF),   static_cast<std::uint8_t>(Rec.Day >> 8)};
}

constexpr TDateRecord DecodeDateRecord(const std::uint8_t* Bytes)
{
    auto word = [Bytes](int at) {
        return static_cast<std::uint16_t>(Bytes[at] | (Bytes[at + 1] << 8));
    };
    return {word(0), word(2), word(4)};
}

static_assert(EncodeDateRecord({2012, 1, 31}) == TDateRecordBytes{0xDC, 0x07, 0x01, 0x00, 0x1F, 0x00});
