#include "ReportLog.h"

#include <array>

namespace {

constexpr std::string_view Magic{"\xD5RPT", 4};

constexpr std::array<std::uint32_t, 256> MakeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

// Built by the compiler, so it is ready even for a report written during static initialisation.
constexpr std::array<std::uint32_t, 256> CrcTable = MakeCrcTable();

void PutU32(std::string& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint32_t GetU32(std::string_view bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// The payload length of a sound frame starting at `pos`, or -1.
long long SoundFrameAt(std::string_view bytes, std::size_t pos)
{
    if (bytes.size() - pos < FrameHeaderBytes || bytes.substr(pos, 4) != Magic)
        return -1;
    if (GetU32(bytes, pos + 12) != Crc32(bytes.substr(pos, 12)))
        return -1;
    const std::uint32_t length = GetU32(bytes, pos + 4);
    if (length > MaxReportBytes || bytes.size() - pos - FrameHeaderBytes < length)
        return -1;
    if (GetU32(bytes, pos + 8) != Crc32(bytes.substr(pos + FrameHeaderBytes, length)))
        return -1;
    return length;
}

std::string CutNote(std::size_t kept, std::size_t total)
{
    return "\r\n[Report cut: the first " + std::to_string(kept) + " of " + std::to_string(total) +
           " bytes are kept.]\r\n";
}

} // namespace

std::uint32_t Crc32(std::string_view bytes) noexcept
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (char b : bytes)
        c = CrcTable[(c ^ static_cast<unsigned char>(b)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

TLogContents ParseLog(std::string_view bytes)
{
    TLogContents contents;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const long long length = SoundFrameAt(bytes, pos);
        if (length >= 0) {
            contents.Reports.emplace_back(bytes.substr(pos + FrameHeaderBytes, length));
            pos += FrameHeaderBytes + static_cast<std::size_t>(length);
            continue;
        }
        // Not a sound frame here: skip to the next place that could start one.
        contents.Repaired = true;
        pos = bytes.find(Magic, pos + 1);
    }
    if (contents.Reports.size() > MaxReports) {
        contents.Reports.erase(contents.Reports.begin(),
                               contents.Reports.end() - static_cast<std::ptrdiff_t>(MaxReports));
        contents.Repaired = true;
    }
    return contents;
}

std::string BoundReport(std::string report)
{
    if (report.size() <= MaxReportBytes)
        return report;
    const std::size_t total = report.size();
    std::size_t keep = MaxReportBytes - CutNote(total, total).size();
    // Never split a UTF-8 sequence: back up over continuation bytes.
    while (keep > 0 && (static_cast<unsigned char>(report[keep]) & 0xC0) == 0x80)
        --keep;
    report.resize(keep);
    report += CutNote(keep, total);
    return report;
}

std::string SerializeLog(const std::vector<std::string>& reports)
{
    const std::size_t first = reports.size() > MaxReports ? reports.size() - MaxReports : 0;
    std::string out;
    for (std::size_t i = first; i < reports.size(); ++i) {
        const std::string bounded = BoundReport(reports[i]);
        const std::size_t headerAt = out.size();
        out.append(Magic);
        PutU32(out, static_cast<std::uint32_t>(bounded.size()));
        PutU32(out, Crc32(bounded));
        PutU32(out, Crc32(std::string_view(out).substr(headerAt, 12)));
        out.append(bounded);
    }
    return out;
}

std::vector<std::string> AppendReport(std::vector<std::string> reports, std::string report)
{
    reports.push_back(BoundReport(std::move(report)));
    if (reports.size() > MaxReports)
        reports.erase(reports.begin(), reports.end() - static_cast<std::ptrdiff_t>(MaxReports));
    return reports;
}
