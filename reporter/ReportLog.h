#pragma once
// The report log's byte format, as pure functions over memory.
//
// The log is a sequence of frames, one per report, oldest first. A frame is a 16-byte header
// (magic, payload length, CRC-32 of the payload, CRC-32 of the first 12 header bytes, all
// little-endian) followed by the payload, the report's UTF-8 text. A reader keeps every frame
// whose header and payload check out and skips anything else up to the next sound header.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t MaxReports = 32;
// A single report is cut to this size (with a note saying so); a longer frame is not ours.
inline constexpr std::size_t MaxReportBytes = 256 * 1024;
inline constexpr std::size_t FrameHeaderBytes = 16;
// No sound log is larger; a reader never needs to look at more than this.
inline constexpr std::size_t MaxLogBytes = MaxReports * (FrameHeaderBytes + MaxReportBytes);

struct TLogContents {
    std::vector<std::string> Reports; // the sound reports, oldest first
    bool Repaired = false;            // something unsound (torn, corrupt, not ours) was dropped
};

TLogContents ParseLog(std::string_view bytes);

// Frames the MaxReports newest of `reports`, each bounded like AppendReport does.
std::string SerializeLog(const std::vector<std::string>& reports);

// Adds `report` as the newest and keeps the MaxReports newest. Bounds a single report's size.
std::vector<std::string> AppendReport(std::vector<std::string> reports, std::string report);

// `report` cut to at most MaxReportBytes at a character boundary, ending in a note when cut.
std::string BoundReport(std::string report);

// CRC-32 (the common reflected polynomial 0xEDB88320), as used in the frame header.
std::uint32_t Crc32(std::string_view bytes) noexcept;
