#pragma once
// A small decoder of 32-bit x86 machine code for the report's Assembler section, in AT&T
// syntax. Pure: no system calls, never reads outside the given bytes, never throws.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TInstruction {
    std::size_t Length = 0; // bytes taken; 1 for anything not decoded, 0 only for no bytes at all
    std::string Text;       // "mov    0x8(%ebp),%eax"; ".byte 0x8b" when not decoded
    bool Decoded = false;   // false: an unknown opcode, or the bytes end inside the instruction
    bool CutOff = false;    // the bytes end before the instruction does
};

// The instruction at `code`, which is at `address` in memory (for the targets of jumps and calls).
TInstruction DecodeInstruction(const std::uint8_t* code, std::size_t size, std::uint32_t address) noexcept;

// One line of a listing: either an instruction or bytes that could not be decoded in step.
struct TListingLine {
    std::uint32_t Address = 0;
    std::size_t Offset = 0; // into the bytes given
    std::size_t Length = 0;
    std::string Text;       // empty for bytes shown only as hex
    bool Marked = false;    // the instruction that starts at the marked address
};

// A listing of `size` bytes that start at `address`, in step at `mark`: from `mark` on it
// decodes forward; the bytes before it are decoded from the earliest of the first 16 offsets
// whose instructions end exactly at `mark` (bytes before that offset are shown as hex). A mark
// outside the bytes gives a listing from the start, nothing marked. Bytes cut off at the end
// are one hex line.
std::vector<TListingLine> DisassembleAround(const std::uint8_t* code, std::size_t size, std::uint32_t address,
                                            std::uint32_t mark);
