#include "Disassembler.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct TDecodeCase {
    const char* Kind;
    std::vector<std::uint8_t> Bytes;
    const char* Text; // as the toolchain's objdump writes it, each decoded at 0x401000
};

// One instruction per row, each exactly as long as its bytes.
const std::vector<TDecodeCase> Cases = {
    {"mov", {0x89, 0xe5}, "mov    %esp,%ebp"},
    {"mov", {0x8b, 0x45, 0x08}, "mov    0x8(%ebp),%eax"},
    {"mov", {0x8b, 0x45, 0xfc}, "mov    -0x4(%ebp),%eax"},
    {"mov", {0x8b, 0x85, 0x00, 0xff, 0xff, 0xff}, "mov    -0x100(%ebp),%eax"},
    {"mov", {0x8b, 0x04, 0x24}, "mov    (%esp),%eax"},
    {"mov", {0x8b, 0x44, 0x24, 0x04}, "mov    0x4(%esp),%eax"},
    {"mov", {0x8b, 0x04, 0x85, 0x00, 0x40, 0x40, 0x00}, "mov    0x404000(,%eax,4),%eax"},
    {"mov", {0x8b, 0x14, 0x8b}, "mov    (%ebx,%ecx,4),%edx"},
    {"mov", {0x8b, 0x54, 0x8b, 0xfc}, "mov    -0x4(%ebx,%ecx,4),%edx"},
    {"mov", {0xa1, 0x00, 0x40, 0x40, 0x00}, "mov    0x404000,%eax"},
    {"mov", {0xa3, 0x00, 0x40, 0x40, 0x00}, "mov    %eax,0x404000"},
    {"mov", {0x64, 0xa1, 0x00, 0x00, 0x00, 0x00}, "mov    %fs:0x0,%eax"},
    {"mov", {0x64, 0x8b, 0x0d, 0x18, 0x00, 0x00, 0x00}, "mov    %fs:0x18,%ecx"},
    {"mov", {0x8b, 0x05, 0x00, 0x40, 0x40, 0x00}, "mov    0x404000,%eax"},
    {"mov", {0xc7, 0x44, 0x24, 0x04, 0x01, 0x00, 0x00, 0x00}, "movl   $0x1,0x4(%esp)"},
    {"mov", {0xc7, 0x00, 0xff, 0xff, 0xff, 0xff}, "movl   $0xffffffff,(%eax)"},
    {"mov", {0xc6, 0x45, 0xf7, 0x00}, "movb   $0x0,-0x9(%ebp)"},
    {"mov", {0x66, 0xc7, 0x45, 0xf4, 0x34, 0x12}, "movw   $0x1234,-0xc(%ebp)"},
    {"mov", {0x66, 0x89, 0x45, 0xf4}, "mov    %ax,-0xc(%ebp)"},
    {"mov", {0x88, 0x45, 0xf7}, "mov    %al,-0x9(%ebp)"},
    {"mov", {0x8a, 0x04, 0x0a}, "mov    (%edx,%ecx,1),%al"},
    {"mov", {0xb8, 0x78, 0x56, 0x34, 0x12}, "mov    $0x12345678,%eax"},
    {"mov", {0xb1, 0x07}, "mov    $0x7,%cl"},
    {"mov", {0x8c, 0xd8}, "mov    %ds,%eax"},
    {"mov", {0x67, 0x8b, 0x07}, "mov    (%bx),%eax"},
    {"mov", {0x67, 0x8b, 0x46, 0xfe}, "mov    -0x2(%bp),%eax"},
    {"movx", {0x0f, 0xb6, 0x45, 0xf7}, "movzbl -0x9(%ebp),%eax"},
    {"movx", {0x0f, 0xb7, 0xc0}, "movzwl %ax,%eax"},
    {"movx", {0x0f, 0xbe, 0xc8}, "movsbl %al,%ecx"},
    {"movx", {0x0f, 0xbf, 0x06}, "movswl (%esi),%eax"},
    {"movx", {0x66, 0x0f, 0xb6, 0xc0}, "movzbw %al,%ax"},
    {"lea", {0x8d, 0x45, 0xf0}, "lea    -0x10(%ebp),%eax"},
    {"lea", {0x8d, 0x04, 0x40}, "lea    (%eax,%eax,2),%eax"},
    {"lea", {0x8d, 0xb4, 0x26, 0x00, 0x00, 0x00, 0x00}, "lea    0x0(%esi,%eiz,1),%esi"},
    {"lea", {0x8d, 0x76, 0x00}, "lea    0x0(%esi),%esi"},
    {"lea", {0x8d, 0x0c, 0x95, 0x00, 0x00, 0x00, 0x00}, "lea    0x0(,%edx,4),%ecx"},
    {"stack", {0x55}, "push   %ebp"},
    {"stack", {0x5d}, "pop    %ebp"},
    {"stack", {0x6a, 0xff}, "push   $0xffffffff"},
    {"stack", {0x68, 0x00, 0x40, 0x40, 0x00}, "push   $0x404000"},
    {"stack", {0xff, 0x75, 0x08}, "push   0x8(%ebp)"},
    {"stack", {0x8f, 0x00}, "pop    (%eax)"},
    {"stack", {0x06}, "push   %es"},
    {"stack", {0x0f, 0xa0}, "push   %fs"},
    {"stack", {0x60}, "pusha"},
    {"stack", {0x9c}, "pushf"},
    {"stack", {0xc9}, "leave"},
    {"stack", {0xc8, 0x08, 0x00, 0x00}, "enter  $0x8,$0x0"},
    {"alu", {0x01, 0xd8}, "add    %ebx,%eax"},
    {"alu", {0x03, 0x45, 0x08}, "add    0x8(%ebp),%eax"},
    {"alu", {0x83, 0xc4, 0x10}, "add    $0x10,%esp"},
    {"alu", {0x83, 0xec, 0x1c}, "sub    $0x1c,%esp"},
    {"alu", {0x81, 0xec, 0x00, 0x01, 0x00, 0x00}, "sub    $0x100,%esp"},
    {"alu", {0x83, 0xe4, 0xf0}, "and    $0xfffffff0,%esp"},
    {"alu", {0x31, 0xc0}, "xor    %eax,%eax"},
    {"alu", {0x83, 0x7d, 0x08, 0x00}, "cmpl   $0x0,0x8(%ebp)"},
    {"alu", {0x80, 0x38, 0x00}, "cmpb   $0x0,(%eax)"},
    {"alu", {0x3c, 0x2f}, "cmp    $0x2f,%al"},
    {"alu", {0x3d, 0x00, 0x01, 0x00, 0x00}, "cmp    $0x100,%eax"},
    {"alu", {0x66, 0x83, 0xf8, 0xff}, "cmp    $0xffff,%ax"},
    {"alu", {0x85, 0xc0}, "test   %eax,%eax"},
    {"alu", {0x84, 0xc0}, "test   %al,%al"},
    {"alu", {0xa8, 0x01}, "test   $0x1,%al"},
    {"alu", {0xf6, 0x40, 0x04, 0x01}, "testb  $0x1,0x4(%eax)"},
    {"alu", {0xf7, 0xc1, 0x00, 0x00, 0x01, 0x00}, "test   $0x10000,%ecx"},
    {"alu", {0x11, 0xd1}, "adc    %edx,%ecx"},
    {"alu", {0x19, 0xd1}, "sbb    %edx,%ecx"},
    {"alu", {0x09, 0xc8}, "or     %ecx,%eax"},
    {"alu", {0xf0, 0x0f, 0xb1, 0x0a}, "lock cmpxchg %ecx,(%edx)"},
    {"alu", {0xf0, 0xff, 0x00}, "lock incl (%eax)"},
    {"alu", {0xf0, 0x0f, 0xc1, 0x02}, "lock xadd %eax,(%edx)"},
    {"unary", {0x40}, "inc    %eax"},
    {"unary", {0x4b}, "dec    %ebx"},
    {"unary", {0xff, 0x45, 0xf4}, "incl   -0xc(%ebp)"},
    {"unary", {0xfe, 0x08}, "decb   (%eax)"},
    {"unary", {0xf7, 0xd8}, "neg    %eax"},
    {"unary", {0xf7, 0xd0}, "not    %eax"},
    {"unary", {0xf7, 0x1e}, "negl   (%esi)"},
    {"shift", {0xc1, 0xe0, 0x04}, "shl    $0x4,%eax"},
    {"shift", {0xd1, 0xf8}, "sar    %eax"},
    {"shift", {0xd3, 0xe2}, "shl    %cl,%edx"},
    {"shift", {0xd3, 0x20}, "shll   %cl,(%eax)"},
    {"shift", {0xc1, 0x6d, 0x08, 0x02}, "shrl   $0x2,0x8(%ebp)"},
    {"shift", {0xd1, 0xc0}, "rol    %eax"},
    {"shift", {0xd0, 0xe8}, "shr    %al"},
    {"shift", {0x0f, 0xa4, 0xc2, 0x04}, "shld   $0x4,%eax,%edx"},
    {"shift", {0x0f, 0xad, 0xd0}, "shrd   %cl,%edx,%eax"},
    {"muldiv", {0xf7, 0xe1}, "mul    %ecx"},
    {"muldiv", {0xf7, 0xf9}, "idiv   %ecx"},
    {"muldiv", {0xf7, 0x75, 0xf0}, "divl   -0x10(%ebp)"},
    {"muldiv", {0x0f, 0xaf, 0xc2}, "imul   %edx,%eax"},
    {"muldiv", {0x6b, 0xc0, 0x1c}, "imul   $0x1c,%eax,%eax"},
    {"muldiv", {0x69, 0xc0, 0x10, 0x27, 0x00, 0x00}, "imul   $0x2710,%eax,%eax"},
    {"muldiv", {0xf7, 0xea}, "imul   %edx"},
    {"muldiv", {0x99}, "cltd"},
    {"muldiv", {0x98}, "cwtl"},
    {"branch", {0xeb, 0xfe}, "jmp    0x401000"},
    {"branch", {0x74, 0x10}, "je     0x401012"},
    {"branch", {0x75, 0xf0}, "jne    0x400ff2"},
    {"branch", {0x0f, 0x84, 0x00, 0x01, 0x00, 0x00}, "je     0x401106"},
    {"branch", {0x0f, 0x8f, 0xfa, 0xff, 0xff, 0xff}, "jg     0x401000"},
    {"branch", {0xe8, 0xfb, 0xff, 0xff, 0xff}, "call   0x401000"},
    {"branch", {0xe9, 0x00, 0x00, 0x00, 0x00}, "jmp    0x401005"},
    {"branch", {0xff, 0xd0}, "call   *%eax"},
    {"branch", {0xff, 0x15, 0x00, 0x40, 0x40, 0x00}, "call   *0x404000"},
    {"branch", {0xff, 0x24, 0x85, 0x00, 0x40, 0x40, 0x00}, "jmp    *0x404000(,%eax,4)"},
    {"branch", {0xff, 0x50, 0x04}, "call   *0x4(%eax)"},
    {"branch", {0xff, 0xe0}, "jmp    *%eax"},
    {"branch", {0xe3, 0x00}, "jecxz  0x401002"},
    {"branch", {0xe2, 0xfe}, "loop   0x401000"},
    {"branch", {0xc3}, "ret"},
    {"branch", {0xc2, 0x08, 0x00}, "ret    $0x8"},
    {"branch", {0xf3, 0xc3}, "repz ret"},
    {"misc", {0x90}, "nop"},
    {"misc", {0xcc}, "int3"},
    {"misc", {0x0f, 0x0b}, "ud2"},
    {"misc", {0x66, 0x90}, "xchg   %ax,%ax"},
    {"misc", {0x0f, 0x1f, 0x44, 0x00, 0x00}, "nopl   0x0(%eax,%eax,1)"},
    {"misc", {0x66, 0x0f, 0x1f, 0x44, 0x00, 0x00}, "nopw   0x0(%eax,%eax,1)"},
    {"misc", {0x66, 0x2e, 0x0f, 0x1f, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00}, "nopw   %cs:0x0(%eax,%eax,1)"},
    {"misc", {0x0f, 0x1f, 0x00}, "nopl   (%eax)"},
    {"misc", {0xcd, 0x2e}, "int    $0x2e"},
    {"misc", {0xf3, 0x90}, "pause"},
    {"misc", {0x0f, 0xa2}, "cpuid"},
    {"misc", {0x0f, 0x31}, "rdtsc"},
    {"misc", {0x87, 0xd1}, "xchg   %edx,%ecx"},
    {"misc", {0x0f, 0xc8}, "bswap  %eax"},
    {"misc", {0x0f, 0xa3, 0xc8}, "bt     %ecx,%eax"},
    {"misc", {0x0f, 0xba, 0xe0, 0x03}, "bt     $0x3,%eax"},
    {"misc", {0x0f, 0xba, 0x28, 0x05}, "btsl   $0x5,(%eax)"},
    {"misc", {0x0f, 0xbc, 0xc0}, "bsf    %eax,%eax"},
    {"misc", {0xf3, 0x0f, 0xb8, 0xc1}, "popcnt %ecx,%eax"},
    {"misc", {0xf3, 0x0f, 0x1e, 0xfb}, "endbr32"},
    {"misc", {0xf4}, "hlt"},
    {"cond", {0x0f, 0x94, 0xc0}, "sete   %al"},
    {"cond", {0x0f, 0x9f, 0x45, 0xff}, "setg   -0x1(%ebp)"},
    {"cond", {0x0f, 0x4c, 0xc2}, "cmovl  %edx,%eax"},
    {"cond", {0x0f, 0x43, 0x45, 0x08}, "cmovae 0x8(%ebp),%eax"},
    {"string", {0xf3, 0xab}, "rep stos %eax,%es:(%edi)"},
    {"string", {0xf3, 0xa5}, "rep movsl %ds:(%esi),%es:(%edi)"},
    {"string", {0xa4}, "movsb  %ds:(%esi),%es:(%edi)"},
    {"string", {0xf3, 0xa6}, "repz cmpsb %es:(%edi),%ds:(%esi)"},
    {"string", {0xf2, 0xae}, "repnz scas %es:(%edi),%al"},
    {"string", {0xac}, "lods   %ds:(%esi),%al"},
    {"string", {0x66, 0xa5}, "movsw  %ds:(%esi),%es:(%edi)"},
    {"string", {0xaa}, "stos   %al,%es:(%edi)"},
    {"string", {0x26, 0xac}, "lods   %es:(%esi),%al"},
    {"x87", {0xd9, 0x45, 0x08}, "flds   0x8(%ebp)"},
    {"x87", {0xdd, 0x5d, 0xf8}, "fstpl  -0x8(%ebp)"},
    {"x87", {0xdb, 0x2c, 0x24}, "fldt   (%esp)"},
    {"x87", {0xdf, 0x7d, 0xf0}, "fistpll -0x10(%ebp)"},
    {"x87", {0xd9, 0x7d, 0xfe}, "fnstcw -0x2(%ebp)"},
    {"x87", {0xd9, 0x6d, 0xfc}, "fldcw  -0x4(%ebp)"},
    {"x87", {0xde, 0xc9}, "fmulp  %st,%st(1)"},
    {"x87", {0xd9, 0xc9}, "fxch   %st(1)"},
    {"x87", {0xdd, 0xd8}, "fstp   %st(0)"},
    {"x87", {0xd9, 0xe8}, "fld1"},
    {"x87", {0xd9, 0xee}, "fldz"},
    {"x87", {0xdf, 0xe9}, "fucomip %st(1),%st"},
    {"x87", {0xd9, 0xe0}, "fchs"},
    {"x87", {0x9b, 0xdf, 0xe0}, "fstsw  %ax"},
    {"x87", {0xdf, 0xe0}, "fnstsw %ax"},
    {"x87", {0xdc, 0x0d, 0x00, 0x40, 0x40, 0x00}, "fmull  0x404000"},
    {"x87", {0xde, 0xf9}, "fdivrp %st,%st(1)"},
    {"x87", {0xde, 0xf1}, "fdivp  %st,%st(1)"},
    {"x87", {0xdc, 0xe9}, "fsubr  %st,%st(1)"},
    {"x87", {0xd8, 0xe1}, "fsub   %st(1),%st"},
    {"x87", {0xda, 0xe9}, "fucompp"},
    {"sse", {0xf2, 0x0f, 0x10, 0x45, 0x08}, "movsd  0x8(%ebp),%xmm0"},
    {"sse", {0xf3, 0x0f, 0x11, 0x04, 0x24}, "movss  %xmm0,(%esp)"},
    {"sse", {0x66, 0x0f, 0xef, 0xc0}, "pxor   %xmm0,%xmm0"},
    {"sse", {0x0f, 0xef, 0xc0}, "pxor   %mm0,%mm0"},
    {"sse", {0x0f, 0x57, 0xc0}, "xorps  %xmm0,%xmm0"},
    {"sse", {0xf2, 0x0f, 0x2a, 0xc0}, "cvtsi2sd %eax,%xmm0"},
    {"sse", {0xf2, 0x0f, 0x2c, 0xc0}, "cvttsd2si %xmm0,%eax"},
    {"sse", {0x66, 0x0f, 0x2e, 0xc1}, "ucomisd %xmm1,%xmm0"},
    {"sse", {0x66, 0x0f, 0x6f, 0x06}, "movdqa (%esi),%xmm0"},
    {"sse", {0xf3, 0x0f, 0x7f, 0x07}, "movdqu %xmm0,(%edi)"},
    {"sse", {0x66, 0x0f, 0x7e, 0xc0}, "movd   %xmm0,%eax"},
    {"sse", {0x66, 0x0f, 0x70, 0xc0, 0x1b}, "pshufd $0x1b,%xmm0,%xmm0"},
    {"sse", {0x66, 0x0f, 0x73, 0xd8, 0x08}, "psrldq $0x8,%xmm0"},
    {"sse", {0x0f, 0x28, 0xc1}, "movaps %xmm1,%xmm0"},
    {"sse", {0x66, 0x0f, 0xd6, 0x45, 0xf0}, "movq   %xmm0,-0x10(%ebp)"},
    {"sse", {0x0f, 0xae, 0x5d, 0xfc}, "stmxcsr -0x4(%ebp)"},
    {"sse", {0x0f, 0xae, 0xf0}, "mfence"},
};

constexpr std::uint32_t At = 0x401000;

// Bytes placed so that the first byte past them is an inaccessible page: any read beyond the
// end faults and fails the test.
class TGuardedBytes {
public:
    TGuardedBytes()
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        Page = info.dwPageSize;
        Base = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 2 * Page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        Guarded = Base != nullptr && VirtualProtect(Base + Page, Page, PAGE_NOACCESS, &old);
    }
    ~TGuardedBytes()
    {
        if (Base != nullptr)
            VirtualFree(Base, 0, MEM_RELEASE);
    }
    TGuardedBytes(const TGuardedBytes&) = delete;
    TGuardedBytes& operator=(const TGuardedBytes&) = delete;

    bool Ready() const { return Guarded; }
    // A copy of the first `size` bytes of `bytes`, ending right at the inaccessible page.
    const std::uint8_t* Place(const std::vector<std::uint8_t>& bytes, std::size_t size)
    {
        std::uint8_t* start = Base + Page - size;
        if (size > 0)
            std::memcpy(start, bytes.data(), size);
        return start;
    }

private:
    std::uint8_t* Base = nullptr;
    DWORD Page = 0;
    bool Guarded = false;
};

TEST(DecodeInstruction, EachClassDecodesToItsLengthAndText)
{
    for (const TDecodeCase& c : Cases) {
        const TInstruction got = DecodeInstruction(c.Bytes.data(), c.Bytes.size(), At);
        EXPECT_TRUE(got.Decoded) << c.Kind << ": " << c.Text;
        EXPECT_EQ(got.Length, c.Bytes.size()) << c.Kind << ": " << c.Text;
        EXPECT_EQ(got.Text, c.Text) << c.Kind;
    }
}

TEST(DecodeInstruction, FollowingBytesDoNotChangeTheInstruction)
{
    for (const TDecodeCase& c : Cases) {
        std::vector<std::uint8_t> longer = c.Bytes;
        longer.insert(longer.end(), {0x8B, 0x45, 0x08, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90,
                                     0x90, 0x90, 0x90});
        const TInstruction got = DecodeInstruction(longer.data(), longer.size(), At);
        EXPECT_EQ(got.Length, c.Bytes.size()) << c.Text;
        EXPECT_EQ(got.Text, c.Text);
    }
}

TEST(DecodeInstruction, EveryCutOffStartIsOneUndecodedByteAndNothingPastTheEndIsRead)
{
    TGuardedBytes guard;
    ASSERT_TRUE(guard.Ready());
    for (const TDecodeCase& c : Cases) {
        const TInstruction whole = DecodeInstruction(guard.Place(c.Bytes, c.Bytes.size()), c.Bytes.size(), At);
        EXPECT_EQ(whole.Text, c.Text);
        for (std::size_t size = 1; size < c.Bytes.size(); ++size) {
            const TInstruction cut = DecodeInstruction(guard.Place(c.Bytes, size), size, At);
            if (c.Bytes[0] == 0x9B && size == 1) { // a wait alone is a whole instruction
                EXPECT_EQ(cut.Text, "fwait");
                EXPECT_EQ(cut.Length, 1u);
                continue;
            }
            EXPECT_FALSE(cut.Decoded) << c.Text << " cut to " << size;
            EXPECT_TRUE(cut.CutOff) << c.Text << " cut to " << size;
            EXPECT_EQ(cut.Length, 1u) << c.Text << " cut to " << size;
            char byte[16];
            std::snprintf(byte, sizeof byte, ".byte 0x%x", c.Bytes[0]);
            EXPECT_EQ(cut.Text, byte);
        }
    }
    const TInstruction none = DecodeInstruction(guard.Place({}, 0), 0, At);
    EXPECT_EQ(none.Length, 0u);
    EXPECT_FALSE(none.Decoded);
}

TEST(DecodeInstruction, UnknownOpcodesTakeOneByte)
{
    const std::vector<std::vector<std::uint8_t>> unknown = {
        {0xD6, 0x90},                   // no instruction
        {0x0F, 0x0F, 0xC0, 0x90},       // 3DNow! is not decoded
        {0x0F, 0x38, 0x00, 0xC1},       // nor the three-byte maps
        {0xFE, 0xD0},                   // group 4 has only inc and dec
        {0xFF, 0xF8},                   // group 5, /7
        {0x8D, 0xC0},                   // lea of a register
        {0xC4, 0xC0, 0x90},             // les of a register
        {0x0F, 0xC7, 0xC8},             // cmpxchg8b of a register
        {0xDD, 0xC8},                   // an x87 register form with no instruction
        {0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x90}, // 16 bytes
    };
    for (const auto& bytes : unknown) {
        const TInstruction got = DecodeInstruction(bytes.data(), bytes.size(), At);
        EXPECT_FALSE(got.Decoded) << got.Text;
        EXPECT_FALSE(got.CutOff) << got.Text;
        EXPECT_EQ(got.Length, 1u) << got.Text;
        char byte[16];
        std::snprintf(byte, sizeof byte, ".byte 0x%x", bytes[0]);
        EXPECT_EQ(got.Text, byte);
    }
}

// The listing's lines follow one another without gaps or overlaps over all the bytes.
void ExpectContiguous(const std::vector<TListingLine>& lines, std::uint32_t address, std::size_t size)
{
    std::size_t at = 0;
    for (const TListingLine& line : lines) {
        EXPECT_EQ(line.Offset, at);
        EXPECT_EQ(line.Address, address + at);
        EXPECT_GT(line.Length, 0u);
        at += line.Length;
    }
    EXPECT_EQ(at, size);
}

TEST(DisassembleAround, StartsMidInstructionAndIsInStepAtTheMark)
{
    // The capture starts in the middle of "mov $0x12345678,%eax"; the mark is on "call".
    const std::vector<std::uint8_t> code = {
        0x56, 0x34, 0x12,                   // tail of b8 78 56 34 12
        0x89, 0x45, 0xF8,                   // mov %eax,-0x8(%ebp)
        0xC7, 0x44, 0x24, 0x04, 0x00, 0x00, 0x00, 0x00, // movl $0x0,0x4(%esp)
        0x8D, 0x76, 0x00,                   // lea 0x0(%esi),%esi
        0xE8, 0x00, 0x10, 0x00, 0x00,       // call: the mark, 17 bytes in
        0x85, 0xC0,                         // test %eax,%eax
        0x74, 0x02,                         // je
    };
    const std::uint32_t start = 0x401000, mark = start + 17;
    const std::vector<TListingLine> lines = DisassembleAround(code.data(), code.size(), start, mark);
    ExpectContiguous(lines, start, code.size());
    int marked = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].Marked)
            continue;
        ++marked;
        EXPECT_EQ(lines[i].Address, mark);
        EXPECT_EQ(lines[i].Text, "call   0x402016");
        ASSERT_GE(i, 1u);
        EXPECT_EQ(lines[i - 1].Text, "lea    0x0(%esi),%esi");
        ASSERT_EQ(i + 2, lines.size() - 1);
        EXPECT_EQ(lines[i + 1].Text, "test   %eax,%eax");
        EXPECT_EQ(lines[i + 2].Text, "je     0x40101c");
    }
    EXPECT_EQ(marked, 1);
    // The whole instructions before the mark are read as they were written.
    bool sawStore = false;
    for (const TListingLine& line : lines)
        if (line.Offset == 6) {
            sawStore = true;
            EXPECT_EQ(line.Text, "movl   $0x0,0x4(%esp)");
        }
    EXPECT_TRUE(sawStore);
}

TEST(DisassembleAround, BytesThatCannotLandOnTheMarkAreShownAsHex)
{
    // Prefixes only: from every start the decoder runs across the mark.
    std::vector<std::uint8_t> code(16, 0x66);
    code.insert(code.end(), {0x90, 0xC3});
    const std::vector<TListingLine> lines = DisassembleAround(code.data(), code.size(), 0x1000, 0x1010);
    ExpectContiguous(lines, 0x1000, code.size());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].Text.empty());
    EXPECT_EQ(lines[0].Length, 16u);
    EXPECT_TRUE(lines[1].Marked);
    EXPECT_EQ(lines[1].Text, "nop");
    EXPECT_EQ(lines[2].Text, "ret");
}

TEST(DisassembleAround, CutOffEndIsOneHexLineAndAMarkOutsideMarksNothing)
{
    const std::vector<std::uint8_t> code = {0x55, 0x89, 0xE5, 0x8B, 0x45}; // push, mov, half a mov
    std::vector<TListingLine> lines = DisassembleAround(code.data(), code.size(), 0x2000, 0x2001);
    ExpectContiguous(lines, 0x2000, code.size());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].Text, "push   %ebp");
    EXPECT_TRUE(lines[1].Marked);
    EXPECT_EQ(lines[1].Text, "mov    %esp,%ebp");
    EXPECT_TRUE(lines[2].Text.empty());
    EXPECT_EQ(lines[2].Length, 2u);

    lines = DisassembleAround(code.data(), code.size(), 0x2000, 0x3000);
    ExpectContiguous(lines, 0x2000, code.size());
    for (const TListingLine& line : lines)
        EXPECT_FALSE(line.Marked);
    EXPECT_EQ(lines[0].Text, "push   %ebp");
    EXPECT_TRUE(DisassembleAround(code.data(), 0, 0x2000, 0x2000).empty());
}

} // namespace
