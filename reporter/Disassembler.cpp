#include "Disassembler.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace {

// How an operand is encoded. The tables list operands in the processor manuals' order
// (destination first); AT&T text prints them reversed.
enum TOperand : std::uint8_t {
    None,
    Eb, Ew, Ev, Ed, // register or memory by ModRM.rm
    M,              // memory only
    Gb, Gw, Gv, Gd, // register by ModRM.reg
    Sw,             // segment register by ModRM.reg
    Ib, Ibs, Iw, Iv, // immediate: byte, byte sign-extended to the operand size, word, operand size
    Jb, Jv,          // relative target
    Ob, Ov,          // absolute address
    AL, eAX, CL, DX, One,
    Zb, Zv,          // register in the opcode's low three bits
    SegOp,           // segment register in the opcode's bits 3..5
    FS, GS,
    Ap,              // far pointer
    Xb, Xv, Yb, Yv,  // string source %ds:(%esi) and destination %es:(%edi)
    XlatSrc,         // %ds:(%ebx)
    Vx, Wx, Ux,      // xmm by reg; xmm or memory by rm; xmm by rm
    Pq, Qq, Nq,      // mmx by reg; mmx or memory by rm; mmx by rm
};

enum TFlag : std::uint8_t {
    Sized = 1,      // a size suffix where no register operand gives the size
    Indirect = 2,   // "*" before the target
    SizeInName = 4, // the operand size is part of the name: movzbl, movsw
    Keep = 8,       // operands in the manuals' order (enter)
    String = 16,    // a string instruction: F3 reads "rep"
    StringCmp = 32, // a comparing string instruction: F3 reads "repz"
};

struct TOpcode {
    const char* Name = nullptr; // nullptr: not an instruction
    TOperand Op[3] = {None, None, None};
    std::uint8_t Flags = 0;
    std::int8_t Group = -1;     // the name and operands come from a group row, by ModRM.reg
    const char* Name16 = nullptr; // the name with a 16-bit operand size, where it differs
};

constexpr TOpcode Op(const char* name, TOperand a = None, TOperand b = None, TOperand c = None, std::uint8_t flags = 0)
{
    TOpcode o;
    o.Name = name;
    o.Op[0] = a;
    o.Op[1] = b;
    o.Op[2] = c;
    o.Flags = flags;
    return o;
}

constexpr TOpcode Grp(int group, TOperand a = None, TOperand b = None, std::uint8_t flags = 0)
{
    TOpcode o = Op("", a, b, None, flags);
    o.Group = static_cast<std::int8_t>(group);
    return o;
}

constexpr TOpcode With16(TOpcode o, const char* name16)
{
    o.Name16 = name16;
    return o;
}

const char* const Conditions[16] = {"o", "no", "b", "ae", "e", "ne", "be", "a",
                                    "s", "ns", "p", "np", "l", "ge", "le", "g"};

enum TGroup { G1, G2, G3b, G3v, G4, G5, G8, G11b, G11v, G1A, GNop, GPrefetch, GPrefetchAmd, G6, G9, GroupCount };

// Group rows. A row without operands takes the opcode's.
constexpr std::array<std::array<TOpcode, 8>, GroupCount> Groups = [] {
    std::array<std::array<TOpcode, 8>, GroupCount> g{};
    const char* alu[8] = {"add", "or", "adc", "sbb", "and", "sub", "xor", "cmp"};
    const char* shift[8] = {"rol", "ror", "rcl", "rcr", "shl", "shr", "shl", "sar"};
    for (int i = 0; i < 8; ++i) {
        g[G1][i] = Op(alu[i]);
        g[G2][i] = Op(shift[i]);
    }
    g[G3b] = {Op("test", Eb, Ib, None, Sized), Op("test", Eb, Ib, None, Sized), Op("not"), Op("neg"),
              Op("mul"), Op("imul"), Op("div"), Op("idiv")};
    g[G3v] = {Op("test", Ev, Iv, None, Sized), Op("test", Ev, Iv, None, Sized), Op("not"), Op("neg"),
              Op("mul"), Op("imul"), Op("div"), Op("idiv")};
    g[G4][0] = Op("inc", Eb, None, None, Sized);
    g[G4][1] = Op("dec", Eb, None, None, Sized);
    g[G5] = {Op("inc", Ev, None, None, Sized), Op("dec", Ev, None, None, Sized), Op("call", Ev, None, None, Indirect),
             Op("lcall", M, None, None, Indirect), Op("jmp", Ev, None, None, Indirect),
             Op("ljmp", M, None, None, Indirect), Op("push", Ev), TOpcode{}};
    g[G8][4] = Op("bt");
    g[G8][5] = Op("bts");
    g[G8][6] = Op("btr");
    g[G8][7] = Op("btc");
    g[G11b][0] = Op("mov");
    g[G11v][0] = Op("mov");
    g[G1A][0] = Op("pop");
    for (int i = 0; i < 8; ++i)
        g[GNop][i] = Op("nop");
    g[GPrefetch][0] = Op("prefetchnta", M);
    g[GPrefetch][1] = Op("prefetcht0", M);
    g[GPrefetch][2] = Op("prefetcht1", M);
    g[GPrefetch][3] = Op("prefetcht2", M);
    g[GPrefetchAmd][0] = Op("prefetch", M);
    g[GPrefetchAmd][1] = Op("prefetchw", M);
    g[G6] = {Op("sldt", Ew), Op("str", Ew), Op("lldt", Ew), Op("ltr", Ew), Op("verr", Ew), Op("verw", Ew),
             TOpcode{}, TOpcode{}};
    g[G9][1] = Op("cmpxchg8b", M);
    g[G9][6] = Op("rdrand", Ev);
    g[G9][7] = Op("rdseed", Ev);
    return g;
}();

constexpr std::array<TOpcode, 256> OneByte = [] {
    std::array<TOpcode, 256> t{};
    const char* alu[8] = {"add", "or", "adc", "sbb", "and", "sub", "xor", "cmp"};
    for (int i = 0; i < 8; ++i) {
        const int b = i * 8;
        t[b + 0] = Op(alu[i], Eb, Gb);
        t[b + 1] = Op(alu[i], Ev, Gv);
        t[b + 2] = Op(alu[i], Gb, Eb);
        t[b + 3] = Op(alu[i], Gv, Ev);
        t[b + 4] = Op(alu[i], AL, Ib);
        t[b + 5] = Op(alu[i], eAX, Iv);
    }
    for (int b : {0x06, 0x0E, 0x16, 0x1E})
        t[b] = Op("push", SegOp);
    for (int b : {0x07, 0x17, 0x1F})
        t[b] = Op("pop", SegOp);
    t[0x27] = Op("daa");
    t[0x2F] = Op("das");
    t[0x37] = Op("aaa");
    t[0x3F] = Op("aas");
    for (int c = 0; c < 16; ++c)
        t[0x70 + c] = Op("j", Jb);
    for (int r = 0; r < 8; ++r) {
        t[0x40 + r] = Op("inc", Zv);
        t[0x48 + r] = Op("dec", Zv);
        t[0x50 + r] = Op("push", Zv);
        t[0x58 + r] = Op("pop", Zv);
        t[0x90 + r] = Op("xchg", Zv, eAX);
        t[0xB0 + r] = Op("mov", Zb, Ib);
        t[0xB8 + r] = Op("mov", Zv, Iv);
    }
    t[0x60] = With16(Op("pusha"), "pushaw");
    t[0x61] = With16(Op("popa"), "popaw");
    t[0x62] = Op("bound", Gv, M, None, Keep);
    t[0x63] = Op("arpl", Ew, Gw);
    t[0x68] = Op("push", Iv);
    t[0x69] = Op("imul", Gv, Ev, Iv);
    t[0x6A] = Op("push", Ibs);
    t[0x6B] = Op("imul", Gv, Ev, Ibs);
    t[0x6C] = Op("insb", Yb, DX, None, String);
    t[0x6D] = Op("ins", Yv, DX, None, String | SizeInName);
    t[0x6E] = Op("outsb", DX, Xb, None, String);
    t[0x6F] = Op("outs", DX, Xv, None, String | SizeInName);
    t[0x80] = Grp(G1, Eb, Ib, Sized);
    t[0x81] = Grp(G1, Ev, Iv, Sized);
    t[0x82] = Grp(G1, Eb, Ib, Sized);
    t[0x83] = Grp(G1, Ev, Ibs, Sized);
    t[0x84] = Op("test", Eb, Gb);
    t[0x85] = Op("test", Ev, Gv);
    t[0x86] = Op("xchg", Eb, Gb);
    t[0x87] = Op("xchg", Ev, Gv);
    t[0x88] = Op("mov", Eb, Gb);
    t[0x89] = Op("mov", Ev, Gv);
    t[0x8A] = Op("mov", Gb, Eb);
    t[0x8B] = Op("mov", Gv, Ev);
    t[0x8C] = Op("mov", Ev, Sw);
    t[0x8D] = Op("lea", Gv, M);
    t[0x8E] = Op("mov", Sw, Ev);
    t[0x8F] = Grp(G1A, Ev);
    t[0x98] = With16(Op("cwtl"), "cbtw");
    t[0x99] = With16(Op("cltd"), "cwtd");
    t[0x9A] = Op("lcall", Ap);
    t[0x9B] = Op("fwait");
    t[0x9C] = With16(Op("pushf"), "pushfw");
    t[0x9D] = With16(Op("popf"), "popfw");
    t[0x9E] = Op("sahf");
    t[0x9F] = Op("lahf");
    t[0xA0] = Op("mov", AL, Ob);
    t[0xA1] = Op("mov", eAX, Ov);
    t[0xA2] = Op("mov", Ob, AL);
    t[0xA3] = Op("mov", Ov, eAX);
    t[0xA4] = Op("movsb", Yb, Xb, None, String);
    t[0xA5] = Op("movs", Yv, Xv, None, String | SizeInName);
    t[0xA6] = Op("cmpsb", Xb, Yb, None, StringCmp);
    t[0xA7] = Op("cmps", Xv, Yv, None, StringCmp | SizeInName);
    t[0xA8] = Op("test", AL, Ib);
    t[0xA9] = Op("test", eAX, Iv);
    t[0xAA] = Op("stos", Yb, AL, None, String);
    t[0xAB] = Op("stos", Yv, eAX, None, String);
    t[0xAC] = Op("lods", AL, Xb, None, String);
    t[0xAD] = Op("lods", eAX, Xv, None, String);
    t[0xAE] = Op("scas", AL, Yb, None, StringCmp);
    t[0xAF] = Op("scas", eAX, Yv, None, StringCmp);
    t[0xC0] = Grp(G2, Eb, Ib, Sized);
    t[0xC1] = Grp(G2, Ev, Ib, Sized);
    t[0xC2] = Op("ret", Iw);
    t[0xC3] = Op("ret");
    t[0xC4] = Op("les", Gv, M);
    t[0xC5] = Op("lds", Gv, M);
    t[0xC6] = Grp(G11b, Eb, Ib, Sized);
    t[0xC7] = Grp(G11v, Ev, Iv, Sized);
    t[0xC8] = Op("enter", Iw, Ib, None, Keep);
    t[0xC9] = Op("leave");
    t[0xCA] = Op("lret", Iw);
    t[0xCB] = Op("lret");
    t[0xCC] = Op("int3");
    t[0xCD] = Op("int", Ib);
    t[0xCE] = Op("into");
    t[0xCF] = With16(Op("iret"), "iretw");
    t[0xD0] = Grp(G2, Eb, None, Sized);
    t[0xD1] = Grp(G2, Ev, None, Sized);
    t[0xD2] = Grp(G2, Eb, CL, Sized);
    t[0xD3] = Grp(G2, Ev, CL, Sized);
    t[0xD4] = Op("aam", Ib);
    t[0xD5] = Op("aad", Ib);
    t[0xD7] = Op("xlat", XlatSrc);
    t[0xE0] = Op("loopne", Jb);
    t[0xE1] = Op("loope", Jb);
    t[0xE2] = Op("loop", Jb);
    t[0xE3] = Op("jecxz", Jb);
    t[0xE4] = Op("in", AL, Ib);
    t[0xE5] = Op("in", eAX, Ib);
    t[0xE6] = Op("out", Ib, AL);
    t[0xE7] = Op("out", Ib, eAX);
    t[0xE8] = Op("call", Jv);
    t[0xE9] = Op("jmp", Jv);
    t[0xEA] = Op("ljmp", Ap);
    t[0xEB] = Op("jmp", Jb);
    t[0xEC] = Op("in", AL, DX);
    t[0xED] = Op("in", eAX, DX);
    t[0xEE] = Op("out", DX, AL);
    t[0xEF] = Op("out", DX, eAX);
    t[0xF1] = Op("int1");
    t[0xF4] = Op("hlt");
    t[0xF5] = Op("cmc");
    t[0xF6] = Grp(G3b, Eb, None, Sized);
    t[0xF7] = Grp(G3v, Ev, None, Sized);
    t[0xF8] = Op("clc");
    t[0xF9] = Op("stc");
    t[0xFA] = Op("cli");
    t[0xFB] = Op("sti");
    t[0xFC] = Op("cld");
    t[0xFD] = Op("std");
    t[0xFE] = Grp(G4);
    t[0xFF] = Grp(G5);
    return t;
}();

constexpr std::array<TOpcode, 256> TwoByte = [] {
    std::array<TOpcode, 256> t{};
    t[0x00] = Grp(G6);
    t[0x02] = Op("lar", Gv, Ev);
    t[0x03] = Op("lsl", Gv, Ev);
    t[0x05] = Op("syscall");
    t[0x06] = Op("clts");
    t[0x07] = Op("sysret");
    t[0x08] = Op("invd");
    t[0x09] = Op("wbinvd");
    t[0x0B] = Op("ud2");
    t[0x0D] = Grp(GPrefetchAmd);
    t[0x0E] = Op("femms");
    t[0x18] = Grp(GPrefetch);
    for (int b = 0x19; b <= 0x1F; ++b)
        t[b] = Grp(GNop, Ev, None, Sized);
    t[0x30] = Op("wrmsr");
    t[0x31] = Op("rdtsc");
    t[0x32] = Op("rdmsr");
    t[0x33] = Op("rdpmc");
    t[0x34] = Op("sysenter");
    t[0x35] = Op("sysexit");
    t[0x37] = Op("getsec");
    t[0x77] = Op("emms");
    t[0xA0] = Op("push", FS);
    t[0xA1] = Op("pop", FS);
    t[0xA2] = Op("cpuid");
    t[0xA3] = Op("bt", Ev, Gv);
    t[0xA4] = Op("shld", Ev, Gv, Ib);
    t[0xA5] = Op("shld", Ev, Gv, CL);
    t[0xA8] = Op("push", GS);
    t[0xA9] = Op("pop", GS);
    t[0xAA] = Op("rsm");
    t[0xAB] = Op("bts", Ev, Gv);
    t[0xAC] = Op("shrd", Ev, Gv, Ib);
    t[0xAD] = Op("shrd", Ev, Gv, CL);
    t[0xAF] = Op("imul", Gv, Ev);
    t[0xB0] = Op("cmpxchg", Eb, Gb);
    t[0xB1] = Op("cmpxchg", Ev, Gv);
    t[0xB2] = Op("lss", Gv, M);
    t[0xB3] = Op("btr", Ev, Gv);
    t[0xB4] = Op("lfs", Gv, M);
    t[0xB5] = Op("lgs", Gv, M);
    t[0xB6] = Op("movzb", Gv, Eb, None, SizeInName);
    t[0xB7] = Op("movzw", Gv, Ew, None, SizeInName);
    t[0xB9] = Op("ud1", Gv, Ev);
    t[0xBA] = Grp(G8, Ev, Ib, Sized);
    t[0xBB] = Op("btc", Ev, Gv);
    t[0xBC] = Op("bsf", Gv, Ev);
    t[0xBD] = Op("bsr", Gv, Ev);
    t[0xBE] = Op("movsb", Gv, Eb, None, SizeInName);
    t[0xBF] = Op("movsw", Gv, Ew, None, SizeInName);
    t[0xC0] = Op("xadd", Eb, Gb);
    t[0xC1] = Op("xadd", Ev, Gv);
    t[0xC3] = Op("movnti", M, Gd);
    t[0xC7] = Grp(G9);
    for (int c = 0; c < 16; ++c) {
        t[0x40 + c] = Op("cmov", Gv, Ev);
        t[0x80 + c] = Op("j", Jv);
        t[0x90 + c] = Op("set", Eb);
    }
    for (int r = 0; r < 8; ++r)
        t[0xC8 + r] = Op("bswap", Zv);
    return t;
}();

// The 0F opcodes whose meaning depends on a 66, F3 or F2 prefix (SSE and MMX).
enum TPrefix : std::uint8_t { P0, P66, PF3, PF2 };
struct TVectorOpcode {
    std::uint8_t Code;
    TPrefix Prefix;
    const char* Name;
    TOperand Op[3];
};

// MMX and SSE2 integer operations: mmx registers without a prefix, xmm with 66.
struct TPackedOpcode {
    std::uint8_t Code;
    const char* Name;
};
constexpr TPackedOpcode Packed[] = {
    {0x60, "punpcklbw"}, {0x61, "punpcklwd"}, {0x62, "punpckldq"}, {0x63, "packsswb"}, {0x64, "pcmpgtb"},
    {0x65, "pcmpgtw"},   {0x66, "pcmpgtd"},   {0x67, "packuswb"},  {0x68, "punpckhbw"}, {0x69, "punpckhwd"},
    {0x6A, "punpckhdq"}, {0x6B, "packssdw"},  {0x74, "pcmpeqb"},   {0x75, "pcmpeqw"},   {0x76, "pcmpeqd"},
    {0xD1, "psrlw"},     {0xD2, "psrld"},     {0xD3, "psrlq"},     {0xD4, "paddq"},     {0xD5, "pmullw"},
    {0xD8, "psubusb"},   {0xD9, "psubusw"},   {0xDA, "pminub"},    {0xDB, "pand"},      {0xDC, "paddusb"},
    {0xDD, "paddusw"},   {0xDE, "pmaxub"},    {0xDF, "pandn"},     {0xE0, "pavgb"},     {0xE1, "psraw"},
    {0xE2, "psrad"},     {0xE3, "pavgw"},     {0xE4, "pmulhuw"},   {0xE5, "pmulhw"},    {0xE8, "psubsb"},
    {0xE9, "psubsw"},    {0xEA, "pminsw"},    {0xEB, "por"},       {0xEC, "paddsb"},    {0xED, "paddsw"},
    {0xEE, "pmaxsw"},    {0xEF, "pxor"},      {0xF1, "psllw"},     {0xF2, "pslld"},     {0xF3, "psllq"},
    {0xF4, "pmuludq"},   {0xF5, "pmaddwd"},   {0xF6, "psadbw"},    {0xF8, "psubb"},     {0xF9, "psubw"},
    {0xFA, "psubd"},     {0xFB, "psubq"},     {0xFC, "paddb"},     {0xFD, "paddw"},     {0xFE, "paddd"},
};

constexpr TVectorOpcode Vector[] = {
    {0x10, P0, "movups", {Vx, Wx}}, {0x10, P66, "movupd", {Vx, Wx}}, {0x10, PF3, "movss", {Vx, Wx}},
    {0x10, PF2, "movsd", {Vx, Wx}}, {0x11, P0, "movups", {Wx, Vx}}, {0x11, P66, "movupd", {Wx, Vx}},
    {0x11, PF3, "movss", {Wx, Vx}}, {0x11, PF2, "movsd", {Wx, Vx}}, {0x12, P0, "movlps", {Vx, Wx}},
    {0x12, P66, "movlpd", {Vx, M}}, {0x12, PF3, "movsldup", {Vx, Wx}}, {0x12, PF2, "movddup", {Vx, Wx}},
    {0x13, P0, "movlps", {M, Vx}}, {0x13, P66, "movlpd", {M, Vx}}, {0x14, P0, "unpcklps", {Vx, Wx}},
    {0x14, P66, "unpcklpd", {Vx, Wx}}, {0x15, P0, "unpckhps", {Vx, Wx}}, {0x15, P66, "unpckhpd", {Vx, Wx}},
    {0x16, P0, "movhps", {Vx, Wx}}, {0x16, P66, "movhpd", {Vx, M}}, {0x16, PF3, "movshdup", {Vx, Wx}},
    {0x17, P0, "movhps", {M, Vx}}, {0x17, P66, "movhpd", {M, Vx}}, {0x28, P0, "movaps", {Vx, Wx}},
    {0x28, P66, "movapd", {Vx, Wx}}, {0x29, P0, "movaps", {Wx, Vx}}, {0x29, P66, "movapd", {Wx, Vx}},
    {0x2A, P0, "cvtpi2ps", {Vx, Qq}}, {0x2A, P66, "cvtpi2pd", {Vx, Qq}}, {0x2A, PF3, "cvtsi2ss", {Vx, Ed}},
    {0x2A, PF2, "cvtsi2sd", {Vx, Ed}}, {0x2B, P0, "movntps", {M, Vx}}, {0x2B, P66, "movntpd", {M, Vx}},
    {0x2C, P0, "cvttps2pi", {Pq, Wx}}, {0x2C, P66, "cvttpd2pi", {Pq, Wx}}, {0x2C, PF3, "cvttss2si", {Gd, Wx}},
    {0x2C, PF2, "cvttsd2si", {Gd, Wx}}, {0x2D, P0, "cvtps2pi", {Pq, Wx}}, {0x2D, P66, "cvtpd2pi", {Pq, Wx}},
    {0x2D, PF3, "cvtss2si", {Gd, Wx}}, {0x2D, PF2, "cvtsd2si", {Gd, Wx}}, {0x2E, P0, "ucomiss", {Vx, Wx}},
    {0x2E, P66, "ucomisd", {Vx, Wx}}, {0x2F, P0, "comiss", {Vx, Wx}}, {0x2F, P66, "comisd", {Vx, Wx}},
    {0x50, P0, "movmskps", {Gd, Ux}}, {0x50, P66, "movmskpd", {Gd, Ux}}, {0x51, P0, "sqrtps", {Vx, Wx}},
    {0x51, P66, "sqrtpd", {Vx, Wx}}, {0x51, PF3, "sqrtss", {Vx, Wx}}, {0x51, PF2, "sqrtsd", {Vx, Wx}},
    {0x52, P0, "rsqrtps", {Vx, Wx}}, {0x52, PF3, "rsqrtss", {Vx, Wx}}, {0x53, P0, "rcpps", {Vx, Wx}},
    {0x53, PF3, "rcpss", {Vx, Wx}}, {0x54, P0, "andps", {Vx, Wx}}, {0x54, P66, "andpd", {Vx, Wx}},
    {0x55, P0, "andnps", {Vx, Wx}}, {0x55, P66, "andnpd", {Vx, Wx}}, {0x56, P0, "orps", {Vx, Wx}},
    {0x56, P66, "orpd", {Vx, Wx}}, {0x57, P0, "xorps", {Vx, Wx}}, {0x57, P66, "xorpd", {Vx, Wx}},
    {0x58, P0, "addps", {Vx, Wx}}, {0x58, P66, "addpd", {Vx, Wx}}, {0x58, PF3, "addss", {Vx, Wx}},
    {0x58, PF2, "addsd", {Vx, Wx}}, {0x59, P0, "mulps", {Vx, Wx}}, {0x59, P66, "mulpd", {Vx, Wx}},
    {0x59, PF3, "mulss", {Vx, Wx}}, {0x59, PF2, "mulsd", {Vx, Wx}}, {0x5A, P0, "cvtps2pd", {Vx, Wx}},
    {0x5A, P66, "cvtpd2ps", {Vx, Wx}}, {0x5A, PF3, "cvtss2sd", {Vx, Wx}}, {0x5A, PF2, "cvtsd2ss", {Vx, Wx}},
    {0x5B, P0, "cvtdq2ps", {Vx, Wx}}, {0x5B, P66, "cvtps2dq", {Vx, Wx}}, {0x5B, PF3, "cvttps2dq", {Vx, Wx}},
    {0x5C, P0, "subps", {Vx, Wx}}, {0x5C, P66, "subpd", {Vx, Wx}}, {0x5C, PF3, "subss", {Vx, Wx}},
    {0x5C, PF2, "subsd", {Vx, Wx}}, {0x5D, P0, "minps", {Vx, Wx}}, {0x5D, P66, "minpd", {Vx, Wx}},
    {0x5D, PF3, "minss", {Vx, Wx}}, {0x5D, PF2, "minsd", {Vx, Wx}}, {0x5E, P0, "divps", {Vx, Wx}},
    {0x5E, P66, "divpd", {Vx, Wx}}, {0x5E, PF3, "divss", {Vx, Wx}}, {0x5E, PF2, "divsd", {Vx, Wx}},
    {0x5F, P0, "maxps", {Vx, Wx}}, {0x5F, P66, "maxpd", {Vx, Wx}}, {0x5F, PF3, "maxss", {Vx, Wx}},
    {0x5F, PF2, "maxsd", {Vx, Wx}}, {0x6C, P66, "punpcklqdq", {Vx, Wx}}, {0x6D, P66, "punpckhqdq", {Vx, Wx}},
    {0x6E, P0, "movd", {Pq, Ed}}, {0x6E, P66, "movd", {Vx, Ed}}, {0x6F, P0, "movq", {Pq, Qq}},
    {0x6F, P66, "movdqa", {Vx, Wx}}, {0x6F, PF3, "movdqu", {Vx, Wx}}, {0x70, P0, "pshufw", {Pq, Qq, Ib}},
    {0x70, P66, "pshufd", {Vx, Wx, Ib}}, {0x70, PF3, "pshufhw", {Vx, Wx, Ib}}, {0x70, PF2, "pshuflw", {Vx, Wx, Ib}},
    {0x7E, P0, "movd", {Ed, Pq}}, {0x7E, P66, "movd", {Ed, Vx}}, {0x7E, PF3, "movq", {Vx, Wx}},
    {0x7F, P0, "movq", {Qq, Pq}}, {0x7F, P66, "movdqa", {Wx, Vx}}, {0x7F, PF3, "movdqu", {Wx, Vx}},
    {0xC2, P0, "cmpps", {Vx, Wx, Ib}}, {0xC2, P66, "cmppd", {Vx, Wx, Ib}}, {0xC2, PF3, "cmpss", {Vx, Wx, Ib}},
    {0xC2, PF2, "cmpsd", {Vx, Wx, Ib}}, {0xC4, P0, "pinsrw", {Pq, Ed, Ib}}, {0xC4, P66, "pinsrw", {Vx, Ed, Ib}},
    {0xC5, P0, "pextrw", {Gd, Nq, Ib}}, {0xC5, P66, "pextrw", {Gd, Ux, Ib}}, {0xC6, P0, "shufps", {Vx, Wx, Ib}},
    {0xC6, P66, "shufpd", {Vx, Wx, Ib}}, {0xD6, P66, "movq", {Wx, Vx}}, {0xD7, P0, "pmovmskb", {Gd, Nq}},
    {0xD7, P66, "pmovmskb", {Gd, Ux}}, {0xE6, P66, "cvttpd2dq", {Vx, Wx}}, {0xE6, PF3, "cvtdq2pd", {Vx, Wx}},
    {0xE6, PF2, "cvtpd2dq", {Vx, Wx}}, {0xE7, P0, "movntq", {M, Pq}}, {0xE7, P66, "movntdq", {M, Vx}},
    {0xF7, P0, "maskmovq", {Pq, Nq}}, {0xF7, P66, "maskmovdqu", {Vx, Ux}},
};

// Shifts by an immediate (0F 71..73), by ModRM.reg; 66 for the xmm forms.
struct TShiftOpcode {
    std::uint8_t Code;
    std::uint8_t Reg;
    const char* Name;
    bool XmmOnly;
};
constexpr TShiftOpcode Shifts[] = {
    {0x71, 2, "psrlw", false}, {0x71, 4, "psraw", false}, {0x71, 6, "psllw", false}, {0x72, 2, "psrld", false},
    {0x72, 4, "psrad", false}, {0x72, 6, "pslld", false}, {0x73, 2, "psrlq", false}, {0x73, 3, "psrldq", true},
    {0x73, 6, "psllq", false}, {0x73, 7, "pslldq", true},
};

// x87 with a memory operand, by opcode D8..DF and ModRM.reg; the name carries the size.
constexpr const char* FpuMemory[8][8] = {
    {"fadds", "fmuls", "fcoms", "fcomps", "fsubs", "fsubrs", "fdivs", "fdivrs"},
    {"flds", nullptr, "fsts", "fstps", "fldenv", "fldcw", "fnstenv", "fnstcw"},
    {"fiaddl", "fimull", "ficoml", "ficompl", "fisubl", "fisubrl", "fidivl", "fidivrl"},
    {"fildl", "fisttpl", "fistl", "fistpl", nullptr, "fldt", nullptr, "fstpt"},
    {"faddl", "fmull", "fcoml", "fcompl", "fsubl", "fsubrl", "fdivl", "fdivrl"},
    {"fldl", "fisttpll", "fstl", "fstpl", "frstor", nullptr, "fnsave", "fnstsw"},
    {"fiadds", "fimuls", "ficoms", "ficomps", "fisubs", "fisubrs", "fidivs", "fidivrs"},
    {"filds", "fisttps", "fists", "fistps", "fbld", "fildll", "fbstp", "fistpll"},
};

// x87 on registers, by opcode and ModRM.reg; '#' stands for the register number. An empty
// text means the whole ModRM byte decides (FpuSingle).
constexpr const char* FpuRegister[8][8] = {
    {"fadd %st(#),%st", "fmul %st(#),%st", "fcom %st(#)", "fcomp %st(#)", "fsub %st(#),%st", "fsubr %st(#),%st",
     "fdiv %st(#),%st", "fdivr %st(#),%st"},
    {"fld %st(#)", "fxch %st(#)", "", nullptr, "", "", "", ""},
    {"fcmovb %st(#),%st", "fcmove %st(#),%st", "fcmovbe %st(#),%st", "fcmovu %st(#),%st", nullptr, "", nullptr,
     nullptr},
    {"fcmovnb %st(#),%st", "fcmovne %st(#),%st", "fcmovnbe %st(#),%st", "fcmovnu %st(#),%st", "",
     "fucomi %st(#),%st", "fcomi %st(#),%st", nullptr},
    {"fadd %st,%st(#)", "fmul %st,%st(#)", nullptr, nullptr, "fsub %st,%st(#)", "fsubr %st,%st(#)",
     "fdiv %st,%st(#)", "fdivr %st,%st(#)"},
    {"ffree %st(#)", nullptr, "fst %st(#)", "fstp %st(#)", "fucom %st(#)", "fucomp %st(#)", nullptr, nullptr},
    {"faddp %st,%st(#)", "fmulp %st,%st(#)", nullptr, "", "fsubp %st,%st(#)", "fsubrp %st,%st(#)",
     "fdivp %st,%st(#)", "fdivrp %st,%st(#)"},
    {"ffreep %st(#)", nullptr, nullptr, nullptr, "", "fucomip %st(#),%st", "fcomip %st(#),%st", nullptr},
};

struct TFpuSingle {
    std::uint8_t Opcode;
    std::uint8_t ModRM;
    const char* Text;
};
constexpr TFpuSingle FpuSingle[] = {
    {0xD9, 0xD0, "fnop"},    {0xD9, 0xE0, "fchs"},    {0xD9, 0xE1, "fabs"},    {0xD9, 0xE4, "ftst"},
    {0xD9, 0xE5, "fxam"},    {0xD9, 0xE8, "fld1"},    {0xD9, 0xE9, "fldl2t"},  {0xD9, 0xEA, "fldl2e"},
    {0xD9, 0xEB, "fldpi"},   {0xD9, 0xEC, "fldlg2"},  {0xD9, 0xED, "fldln2"},  {0xD9, 0xEE, "fldz"},
    {0xD9, 0xF0, "f2xm1"},   {0xD9, 0xF1, "fyl2x"},   {0xD9, 0xF2, "fptan"},   {0xD9, 0xF3, "fpatan"},
    {0xD9, 0xF4, "fxtract"}, {0xD9, 0xF5, "fprem1"},  {0xD9, 0xF6, "fdecstp"}, {0xD9, 0xF7, "fincstp"},
    {0xD9, 0xF8, "fprem"},   {0xD9, 0xF9, "fyl2xp1"}, {0xD9, 0xFA, "fsqrt"},   {0xD9, 0xFB, "fsincos"},
    {0xD9, 0xFC, "frndint"}, {0xD9, 0xFD, "fscale"},  {0xD9, 0xFE, "fsin"},    {0xD9, 0xFF, "fcos"},
    {0xDA, 0xE9, "fucompp"}, {0xDB, 0xE2, "fnclex"},  {0xDB, 0xE3, "fninit"},  {0xDE, 0xD9, "fcompp"},
    {0xDF, 0xE0, "fnstsw %ax"},
};

const char* const Reg32[8] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
const char* const Reg16[8] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
const char* const Reg8[8] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
const char* const Segments[6] = {"es", "cs", "ss", "ds", "fs", "gs"};

std::string Hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

std::string SignedHex(std::int32_t value)
{
    if (value >= 0)
        return Hex(static_cast<std::uint32_t>(value));
    return "-" + Hex(0u - static_cast<std::uint32_t>(value));
}

std::int32_t SignExtend(std::uint32_t value, int bytes)
{
    if (bytes == 1)
        return static_cast<std::int8_t>(value);
    if (bytes == 2)
        return static_cast<std::int16_t>(value);
    return static_cast<std::int32_t>(value);
}

std::string WithOperands(std::string name, const std::string& operands)
{
    if (operands.empty())
        return name;
    if (name.size() < 6)
        name.resize(6, ' ');
    return name + " " + operands;
}

bool IsMemoryOnly(TOperand op)
{
    return op == M;
}

bool IsRegisterOnly(TOperand op)
{
    return op == Ux || op == Nq;
}

bool NeedsModRM(TOperand op)
{
    switch (op) {
    case Eb: case Ew: case Ev: case Ed: case M: case Gb: case Gw: case Gv: case Gd: case Sw:
    case Vx: case Wx: case Ux: case Pq: case Qq: case Nq:
        return true;
    default:
        return false;
    }
}

constexpr std::size_t MaxLength = 15;

class TDecoder {
public:
    TDecoder(const std::uint8_t* code, std::size_t size, std::uint32_t address)
        : Code(code), Size(size < MaxLength ? size : MaxLength), Address(address), ShortInput(size < MaxLength)
    {
    }

    TInstruction Decode();

private:
    const std::uint8_t* Code;
    std::size_t Size;
    std::uint32_t Address;
    bool ShortInput; // running out means the caller's bytes ended, not the longest instruction
    std::size_t Pos = 0;
    bool OutOfBytes = false;

    bool OpSize16 = false, AddrSize16 = false, AddressUsed = false, Lock = false;
    int Segment = -1;
    bool SegmentUsed = false;
    std::uint8_t Rep = 0;

    std::uint8_t Mod = 3, Reg = 0, Rm = 0;
    std::string Memory; // the memory operand's text, when Mod != 3
    std::uint32_t Values[3] = {};

    std::uint8_t Next()
    {
        if (Pos >= Size) {
            OutOfBytes = true;
            return 0;
        }
        return Code[Pos++];
    }
    std::uint32_t NextValue(int bytes)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<std::uint32_t>(Next()) << (8 * i);
        return value;
    }
    std::string SegmentText(int defaultSegment)
    {
        if (Segment >= 0)
            SegmentUsed = true;
        const int segment = Segment >= 0 ? Segment : defaultSegment;
        return segment >= 0 ? "%" + std::string(Segments[segment]) + ":" : std::string();
    }

    void ReadModRM();
    void ReadAddress16();
    void ReadAddress32();
    int ImmediateBytes(TOperand kind) const;
    std::string Format(TOperand kind, int index, bool xmmForPacked) const;
    TInstruction Bad() const;
    TInstruction Finish(const std::string& text) const;
    TInstruction Entry(const TOpcode& entry, std::uint8_t opcode, const char* const* conditionalName);
    TInstruction Emit(std::string name, const char* name16, const TOperand* ops, std::uint8_t flags, bool xmmForPacked);
    TInstruction TwoByteOpcode();
    TInstruction Fpu(std::uint8_t opcode);
    bool IsVector(std::uint8_t opcode) const;
    TInstruction VectorOpcode(std::uint8_t opcode);
};

void TDecoder::ReadModRM()
{
    const std::uint8_t modrm = Next();
    Mod = modrm >> 6;
    Reg = (modrm >> 3) & 7;
    Rm = modrm & 7;
    if (Mod != 3) {
        if (AddrSize16)
            ReadAddress16();
        else
            ReadAddress32();
    }
}

void TDecoder::ReadAddress16()
{
    AddressUsed = true;
    static const char* const bases[8] = {"%bx,%si", "%bx,%di", "%bp,%si", "%bp,%di", "%si", "%di", "%bp", "%bx"};
    Memory = SegmentText(-1);
    if (Mod == 0 && Rm == 6) {
        Memory += Hex(NextValue(2));
        return;
    }
    if (Mod == 1)
        Memory += SignedHex(SignExtend(NextValue(1), 1));
    else if (Mod == 2)
        Memory += SignedHex(SignExtend(NextValue(2), 2));
    Memory += "(" + std::string(bases[Rm]) + ")";
}

void TDecoder::ReadAddress32()
{
    const bool haveSib = Rm == 4;
    int base = Rm, index = 4, scale = 0;
    if (haveSib) {
        const std::uint8_t sib = Next();
        scale = sib >> 6;
        index = (sib >> 3) & 7;
        base = sib & 7;
    }
    const bool haveBase = !(Mod == 0 && base == 5);
    std::int32_t displacement = 0;
    bool haveDisplacement = true;
    if (Mod == 1)
        displacement = SignExtend(NextValue(1), 1);
    else if (Mod == 2 || !haveBase)
        displacement = SignExtend(NextValue(4), 4);
    else
        haveDisplacement = false;

    Memory = SegmentText(-1);
    if (!haveSib && !haveBase) {
        Memory += Hex(static_cast<std::uint32_t>(displacement));
        return;
    }
    if (haveDisplacement)
        Memory += SignedHex(displacement);
    Memory += "(";
    if (haveBase)
        Memory += "%" + std::string(Reg32[base]);
    // Index 100 means none; it is still written (as %eiz) where the encoding says more than a base.
    if (haveSib && (index != 4 || scale != 0 || !haveBase || base != 4))
        Memory += ",%" + std::string(index == 4 ? "eiz" : Reg32[index]) + "," + std::to_string(1 << scale);
    Memory += ")";
}

int TDecoder::ImmediateBytes(TOperand kind) const
{
    switch (kind) {
    case Ib: case Ibs: case Jb: return 1;
    case Iw: return 2;
    case Iv: case Jv: return OpSize16 ? 2 : 4;
    case Ob: case Ov: return AddrSize16 ? 2 : 4;
    default: return 0;
    }
}

std::string TDecoder::Format(TOperand kind, int index, bool xmmForPacked) const
{
    const int size = OpSize16 ? 16 : 32;
    auto gpr = [](int bits, int n) {
        return "%" + std::string(bits == 8 ? Reg8[n] : bits == 16 ? Reg16[n] : Reg32[n]);
    };
    auto rm = [&](int bits) { return Mod == 3 ? gpr(bits, Rm) : Memory; };
    auto vector = [&](int n) { return (xmmForPacked ? "%xmm" : "%mm") + std::to_string(n); };
    const std::uint32_t value = Values[index];
    switch (kind) {
    case Eb: return rm(8);
    case Ew: return rm(16);
    case Ev: return rm(size);
    case Ed: return rm(32);
    case M: return Memory;
    case Gb: return gpr(8, Reg);
    case Gw: return gpr(16, Reg);
    case Gv: return gpr(size, Reg);
    case Gd: return gpr(32, Reg);
    case Sw: return Reg < 6 ? "%" + std::string(Segments[Reg]) : std::string("%?");
    case Ib: case Iw: case Iv: return "$" + Hex(value);
    case Ibs: return "$" + Hex(static_cast<std::uint32_t>(SignExtend(value, 1)) & (OpSize16 ? 0xFFFFu : 0xFFFFFFFFu));
    case Jb:
    case Jv: {
        std::uint32_t target = Address + static_cast<std::uint32_t>(Pos) +
                               static_cast<std::uint32_t>(SignExtend(value, ImmediateBytes(kind)));
        if (OpSize16)
            target &= 0xFFFF;
        return Hex(target);
    }
    case Ob: case Ov: return Memory + Hex(value);
    case AL: return "%al";
    case eAX: return gpr(size, 0);
    case CL: return "%cl";
    case DX: return "(%dx)";
    case One: return "$1";
    case Zb: return gpr(8, Rm);
    case Zv: return gpr(size, Rm);
    case SegOp: return "%" + std::string(Segments[Reg]);
    case FS: return "%fs";
    case GS: return "%gs";
    case Ap: return "$" + Hex(Values[2]) + ",$" + Hex(value);
    case Xb: case Xv: return Memory + "(%esi)";
    case Yb: case Yv: return "%es:(%edi)";
    case XlatSrc: return Memory + "(%ebx)";
    case Vx: return "%xmm" + std::to_string(Reg);
    case Wx: return Mod == 3 ? "%xmm" + std::to_string(Rm) : Memory;
    case Ux: return "%xmm" + std::to_string(Rm);
    case Pq: return vector(Reg);
    case Qq: return Mod == 3 ? vector(Rm) : Memory;
    case Nq: return vector(Rm);
    case None: break;
    }
    return std::string();
}

TInstruction TDecoder::Bad() const
{
    TInstruction bad;
    bad.Length = 1;
    char text[16];
    std::snprintf(text, sizeof text, ".byte 0x%x", Code[0]);
    bad.Text = text;
    bad.CutOff = OutOfBytes && ShortInput;
    return bad;
}

TInstruction TDecoder::Finish(const std::string& text) const
{
    if (OutOfBytes)
        return Bad();
    TInstruction done;
    done.Length = Pos;
    done.Text = text;
    done.Decoded = true;
    return done;
}

TInstruction TDecoder::Emit(std::string name, const char* name16, const TOperand* ops, std::uint8_t flags,
                            bool xmmForPacked)
{
    int count = 0;
    for (int i = 0; i < 3 && ops[i] != None; ++i, ++count) {
        if ((IsMemoryOnly(ops[i]) && Mod == 3) || (IsRegisterOnly(ops[i]) && Mod != 3))
            return Bad();
        if (ops[i] == Ap) {
            Values[i] = NextValue(OpSize16 ? 2 : 4);
            Values[2] = NextValue(2); // a far pointer is the only operand
        } else if (const int bytes = ImmediateBytes(ops[i])) {
            Values[i] = NextValue(bytes);
        }
    }
    if (OutOfBytes)
        return Bad();

    bool hasMemory = false, hasRegister = false, absolute = false, string = false;
    char sizeChar = OpSize16 ? 'w' : 'l';
    for (int i = 0; i < count; ++i) {
        switch (ops[i]) {
        case Eb: case Ew: case Ev: case Ed:
            if (Mod != 3) {
                hasMemory = true;
                sizeChar = ops[i] == Eb ? 'b' : ops[i] == Ew ? 'w' : ops[i] == Ed ? 'l' : sizeChar;
            } else {
                hasRegister = true;
            }
            break;
        case Gb: case Gw: case Gv: case Gd: case AL: case eAX: case Zb: case Zv: case Sw:
            hasRegister = true;
            break;
        case Ob: case Ov: absolute = true; break;
        case Xb: case Xv: case XlatSrc: string = true; break;
        default: break;
        }
    }
    // Absolute addresses take a segment only when one is given; string sources default to %ds.
    if (absolute) {
        Memory = SegmentText(-1);
        AddressUsed = true;
    }
    else if (string)
        Memory = SegmentText(3);

    if (OpSize16 && name16 != nullptr)
        name = name16;
    if (flags & SizeInName)
        name += OpSize16 ? 'w' : 'l';
    if ((flags & Sized) && hasMemory && !hasRegister)
        name += sizeChar;

    std::string operands;
    for (int n = 0; n < count; ++n) {
        const int i = (flags & Keep) ? n : count - 1 - n;
        if (!operands.empty())
            operands += ",";
        if (flags & Indirect)
            operands += "*";
        operands += Format(ops[i], i, xmmForPacked);
    }

    std::string prefix;
    if (Lock)
        prefix += "lock ";
    if (Rep == 0xF3)
        prefix += (flags & String) ? "rep " : "repz ";
    else if (Rep == 0xF2)
        prefix += "repnz ";
    if (Segment >= 0 && !SegmentUsed)
        prefix += std::string(Segments[Segment]) + " ";
    if (AddrSize16 && !AddressUsed)
        prefix += "addr16 ";
    return Finish(WithOperands(prefix + name, operands));
}

TInstruction TDecoder::Entry(const TOpcode& entry, std::uint8_t opcode, const char* const* conditionalName)
{
    if (entry.Name == nullptr)
        return Bad();
    bool modrm = entry.Group >= 0;
    for (TOperand op : entry.Op)
        modrm = modrm || NeedsModRM(op);
    if (modrm) {
        ReadModRM();
        if (OutOfBytes)
            return Bad();
    } else {
        Rm = opcode & 7;               // a register in the opcode
        Reg = (opcode >> 3) & 7;       // a segment register in the opcode
    }
    const TOpcode* row = &entry;
    if (entry.Group >= 0) {
        row = &Groups[entry.Group][Reg];
        if (row->Name == nullptr)
            return Bad();
    }
    const TOperand* ops = row->Op[0] != None ? row->Op : entry.Op;
    for (int i = 0; i < 3; ++i)
        if (ops[i] != None && NeedsModRM(ops[i]) && !modrm)
            return Bad();
    std::string name = row->Name;
    if (conditionalName != nullptr)
        name += conditionalName[opcode & 15];
    return Emit(name, entry.Name16, ops, row->Flags | entry.Flags, false);
}

bool TDecoder::IsVector(std::uint8_t opcode) const
{
    if (opcode >= 0x71 && opcode <= 0x73)
        return true;
    for (const TPackedOpcode& packed : Packed)
        if (packed.Code == opcode)
            return true;
    for (const TVectorOpcode& vector : Vector)
        if (vector.Code == opcode)
            return true;
    return false;
}

TInstruction TDecoder::VectorOpcode(std::uint8_t opcode)
{
    ReadModRM();
    if (OutOfBytes)
        return Bad();
    // The last of F2/F3 decides; else 66; else none. The prefix chosen is part of the opcode.
    TPrefix candidates[3];
    int count = 0;
    if (Rep == 0xF3)
        candidates[count++] = PF3;
    if (Rep == 0xF2)
        candidates[count++] = PF2;
    if (OpSize16)
        candidates[count++] = P66;
    candidates[count++] = P0;
    for (int c = 0; c < count; ++c) {
        const TPrefix prefix = candidates[c];
        auto consume = [&] {
            if (prefix == P66)
                OpSize16 = false;
            if (prefix == PF2 || prefix == PF3)
                Rep = 0;
        };
        if (opcode >= 0x71 && opcode <= 0x73) {
            for (const TShiftOpcode& shift : Shifts)
                if (shift.Code == opcode && shift.Reg == Reg && (prefix == P66 || (prefix == P0 && !shift.XmmOnly))) {
                    consume();
                    const TOperand ops[3] = {Nq, Ib, None};
                    return Emit(shift.Name, nullptr, ops, 0, prefix == P66);
                }
            continue;
        }
        if (prefix == P0 || prefix == P66)
            for (const TPackedOpcode& packed : Packed)
                if (packed.Code == opcode) {
                    consume();
                    const TOperand ops[3] = {Pq, Qq, None};
                    return Emit(packed.Name, nullptr, ops, 0, prefix == P66);
                }
        for (const TVectorOpcode& vector : Vector)
            if (vector.Code == opcode && vector.Prefix == prefix) {
                consume();
                return Emit(vector.Name, nullptr, vector.Op, 0, false);
            }
    }
    return Bad();
}

TInstruction TDecoder::Fpu(std::uint8_t opcode)
{
    ReadModRM();
    if (OutOfBytes)
        return Bad();
    const int row = opcode - 0xD8;
    std::string text;
    if (Mod != 3) {
        const char* name = FpuMemory[row][Reg];
        if (name == nullptr)
            return Bad();
        text = WithOperands(name, Memory);
    } else {
        const char* form = FpuRegister[row][Reg];
        if (form == nullptr)
            return Bad();
        if (*form == '\0') {
            const std::uint8_t modrm = static_cast<std::uint8_t>(0xC0 | (Reg << 3) | Rm);
            for (const TFpuSingle& single : FpuSingle)
                if (single.Opcode == opcode && single.ModRM == modrm)
                    form = single.Text;
            if (*form == '\0')
                return Bad();
        }
        std::string name = form, operands;
        if (const auto space = name.find(' '); space != std::string::npos) {
            operands = name.substr(space + 1);
            name.resize(space);
        }
        if (const auto hash = operands.find('#'); hash != std::string::npos)
            operands[hash] = static_cast<char>('0' + Rm);
        text = WithOperands(name, operands);
    }
    if (Segment >= 0 && !SegmentUsed)
        text = std::string(Segments[Segment]) + " " + text;
    return Finish(text);
}

TInstruction TDecoder::TwoByteOpcode()
{
    const std::uint8_t opcode = Next();
    if (OutOfBytes)
        return Bad();
    if (Rep == 0xF3 && opcode == 0x1E && Pos < Size && Code[Pos] == 0xFB) {
        ++Pos;
        return Finish("endbr32");
    }
    if (Rep == 0xF3 && (opcode == 0xB8 || opcode == 0xBC || opcode == 0xBD)) {
        Rep = 0;
        const TOpcode counts = Op(opcode == 0xB8 ? "popcnt" : opcode == 0xBC ? "tzcnt" : "lzcnt", Gv, Ev);
        return Entry(counts, opcode, nullptr);
    }
    if (opcode == 0x01 || opcode == 0xAE) {
        ReadModRM();
        if (OutOfBytes)
            return Bad();
        static const char* const system[8] = {"sgdt", "sidt", "lgdt", "lidt", "smsw", nullptr, "lmsw", "invlpg"};
        static const char* const state[8] = {"fxsave", "fxrstor", "ldmxcsr", "stmxcsr",
                                             "xsave",  "xrstor",  "xsaveopt", "clflush"};
        static const char* const fences[8] = {nullptr, nullptr, nullptr, nullptr, nullptr, "lfence", "mfence", "sfence"};
        const char* name = nullptr;
        if (Mod != 3)
            name = (opcode == 0x01 ? system : state)[Reg];
        else if (opcode == 0xAE)
            name = fences[Reg];
        else if (Reg == 2 && Rm == 0)
            name = "xgetbv";
        else if (Reg == 7 && Rm == 1)
            name = "rdtscp";
        if (name == nullptr)
            return Bad();
        return Finish(Mod != 3 ? WithOperands(name, Memory) : std::string(name));
    }
    if (opcode >= 0x20 && opcode <= 0x23) {
        // Moves to and from control and debug registers: always registers, whatever ModRM.mod says.
        const std::uint8_t modrm = Next();
        const std::string special = (opcode & 1 ? "%db" : "%cr") + std::to_string((modrm >> 3) & 7);
        const std::string gpr = "%" + std::string(Reg32[modrm & 7]);
        return Finish(WithOperands("mov", opcode & 2 ? gpr + "," + special : special + "," + gpr));
    }
    if (IsVector(opcode))
        return VectorOpcode(opcode);
    const bool conditional = (opcode >= 0x40 && opcode <= 0x4F) || (opcode >= 0x80 && opcode <= 0x9F);
    return Entry(TwoByte[opcode], opcode, conditional ? Conditions : nullptr);
}

TInstruction TDecoder::Decode()
{
    for (;;) {
        if (Pos >= Size) {
            OutOfBytes = true;
            return Bad();
        }
        const std::uint8_t b = Code[Pos];
        if (b == 0x26 || b == 0x2E || b == 0x36 || b == 0x3E)
            Segment = (b >> 3) & 3;
        else if (b == 0x64 || b == 0x65)
            Segment = b - 0x60;
        else if (b == 0x66)
            OpSize16 = true;
        else if (b == 0x67)
            AddrSize16 = true;
        else if (b == 0xF0)
            Lock = true;
        else if (b == 0xF2 || b == 0xF3)
            Rep = b;
        else
            break;
        ++Pos;
    }
    const std::uint8_t opcode = Next();
    if (opcode == 0x0F)
        return TwoByteOpcode();
    if (opcode == 0x9B && Pos < Size) {
        // A wait before an x87 instruction belongs to it; a no-wait control form then reads as
        // its waiting one (fnstsw as fstsw).
        if (Code[Pos] >= 0xD8 && Code[Pos] <= 0xDF) {
            const TInstruction next = TDecoder(Code + Pos, Size - Pos, Address + static_cast<std::uint32_t>(Pos)).Decode();
            if (next.CutOff) {
                OutOfBytes = true;
                return Bad();
            }
            if (next.Decoded) {
                Pos += next.Length;
                if (next.Text.compare(0, 2, "fn") != 0 || next.Text.compare(0, 4, "fnop") == 0)
                    return Finish(next.Text);
                const std::size_t space = next.Text.find(' ');
                if (space == std::string::npos)
                    return Finish("f" + next.Text.substr(2));
                return Finish(WithOperands("f" + next.Text.substr(2, space - 2), next.Text.substr(next.Text.find_first_not_of(' ', space))));
            }
        }
    }
    if (opcode >= 0xD8 && opcode <= 0xDF)
        return Fpu(opcode);
    if (opcode == 0x90 && !OpSize16) {
        const bool pause = Rep == 0xF3;
        Rep = 0;
        static const TOperand none[3] = {None, None, None};
        return Emit(pause ? "pause" : "nop", nullptr, none, 0, false);
    }
    return Entry(OneByte[opcode], opcode, opcode >= 0x70 && opcode <= 0x7F ? Conditions : nullptr);
}

} // namespace

TInstruction DecodeInstruction(const std::uint8_t* code, std::size_t size, std::uint32_t address) noexcept
{
    if (code == nullptr || size == 0)
        return TInstruction{};
    try {
        return TDecoder(code, size, address).Decode();
    } catch (...) {
        // Only running out of memory for the text can get here.
        TInstruction bad;
        bad.Length = 1;
        return bad;
    }
}

std::vector<TListingLine> DisassembleAround(const std::uint8_t* code, std::size_t size, std::uint32_t address,
                                            std::uint32_t mark)
{
    std::vector<TListingLine> lines;
    if (code == nullptr || size == 0)
        return lines;
    const bool markInside = mark >= address && mark - address < size;
    const std::size_t markOffset = markInside ? mark - address : 0;

    // Where to start so that the instructions end exactly at the mark: the earliest start whose
    // every instruction decodes, else the earliest that lands at all.
    std::size_t start = markOffset;
    std::size_t landsWithBadBytes = markOffset;
    for (std::size_t s = 0; s < markOffset && s < 16; ++s) {
        std::size_t at = s;
        bool clean = true;
        while (at < markOffset) {
            const TInstruction instruction = DecodeInstruction(code + at, size - at, address + static_cast<std::uint32_t>(at));
            clean = clean && instruction.Decoded;
            at += instruction.Length;
        }
        if (at != markOffset)
            continue;
        if (clean) {
            start = s;
            break;
        }
        if (landsWithBadBytes == markOffset)
            landsWithBadBytes = s;
    }
    if (start == markOffset)
        start = landsWithBadBytes;

    auto hexLine = [&](std::size_t from, std::size_t length) {
        TListingLine line;
        line.Address = address + static_cast<std::uint32_t>(from);
        line.Offset = from;
        line.Length = length;
        lines.push_back(line);
    };
    if (start > 0)
        hexLine(0, start);
    for (std::size_t at = start; at < size;) {
        const TInstruction instruction = DecodeInstruction(code + at, size - at, address + static_cast<std::uint32_t>(at));
        if (instruction.CutOff) {
            hexLine(at, size - at);
            break;
        }
        TListingLine line;
        line.Address = address + static_cast<std::uint32_t>(at);
        line.Offset = at;
        line.Length = instruction.Length;
        line.Text = instruction.Text;
        line.Marked = markInside && at == markOffset;
        lines.push_back(line);
        at += instruction.Length;
    }
    return lines;
}
