// Compares our decoder with the toolchain's objdump over a whole code section: at every address
// objdump lists, our instruction must be exactly as long as objdump's. Prints the agreement, the
// first disagreements with their bytes, and how often the text agrees too.
//
// disasm_crosscheck <section bytes> <section address, hex> <objdump -d -z --no-show-raw-insn listing>
// Exit code 0 only when every length agrees and there were enough instructions to say so.

#include "Disassembler.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

struct TListed {
    std::uint32_t Address;
    std::string Text;
    int Function;
};

// Spaces collapsed; a target that objdump names by symbol ("401000 <_main>") written as a bare
// address is ("0x401000"), as objdump itself writes it where it knows no symbol.
std::string Normalised(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '<' && i > 0 && text[i - 1] == ' ') {
            if (!out.empty() && out.back() == ' ')
                out.pop_back();
            std::size_t start = out.size();
            while (start > 0 && std::isxdigit(static_cast<unsigned char>(out[start - 1])))
                --start;
            if (start < out.size() && (start == 0 || out[start - 1] == ' ' || out[start - 1] == '*'))
                out.insert(start, "0x");
            break;
        }
        if (c == ' ' || c == '\t') {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string FirstWord(const std::string& text)
{
    const std::size_t space = text.find(' ');
    return space == std::string::npos ? text : text.substr(0, space);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: disasm_crosscheck <section.bin> <address-hex> <listing.txt>\n");
        return 2;
    }
    std::ifstream binary(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(binary)), std::istreambuf_iterator<char>());
    const std::uint32_t base = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 16));
    std::ifstream listing(argv[3]);
    if (bytes.empty() || !listing) {
        std::fprintf(stderr, "cannot read %s or %s\n", argv[1], argv[3]);
        return 2;
    }

    std::vector<TListed> listed;
    std::vector<std::string> functions;
    std::string line;
    while (std::getline(listing, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // "00401000 <_main>:" opens a function; "  401000:\tpush   %ebp" is an instruction.
        if (line.size() > 10 && std::isxdigit(static_cast<unsigned char>(line[0])) && line.back() == ':' &&
            line.find(" <") != std::string::npos) {
            functions.push_back(line.substr(line.find(" <") + 2, line.size() - line.find(" <") - 4));
            continue;
        }
        const std::size_t colon = line.find(":\t");
        if (colon == std::string::npos || functions.empty())
            continue;
        char* end = nullptr;
        const unsigned long address = std::strtoul(line.c_str(), &end, 16);
        if (end != line.c_str() + colon)
            continue;
        listed.push_back({static_cast<std::uint32_t>(address), Normalised(line.substr(colon + 2)),
                          static_cast<int>(functions.size()) - 1});
    }

    std::size_t compared = 0, lengthsAgree = 0, textsAgree = 0, objdumpBad = 0, cutAtSymbol = 0;
    std::vector<bool> functionAgrees(functions.size(), true);
    std::vector<bool> functionSeen(functions.size(), false);
    std::map<std::string, std::pair<int, int>> byMnemonic; // texts agreeing, seen
    int shown = 0, textShown = 0;
    for (std::size_t i = 0; i + 1 < listed.size(); ++i) {
        const TListed& at = listed[i];
        const std::uint32_t theirs = listed[i + 1].Address - at.Address;
        if (at.Address < base || at.Address - base >= bytes.size() || theirs == 0 || theirs > 15)
            continue;
        // "(bad)", or ".byte" where objdump stopped at a boundary inside data: no instruction to compare.
        if (at.Text.find("(bad)") != std::string::npos || at.Text.compare(0, 5, ".byte") == 0) {
            ++objdumpBad;
            continue;
        }
        const std::size_t offset = at.Address - base;
        const TInstruction ours = DecodeInstruction(bytes.data() + offset, bytes.size() - offset, at.Address);
        ++compared;
        functionSeen[at.Function] = true;
        const std::string ourText = Normalised(ours.Text);
        auto& mnemonic = byMnemonic[FirstWord(at.Text)];
        ++mnemonic.second;
        if (ourText == at.Text) {
            ++textsAgree;
            ++mnemonic.first;
        } else if (ours.Length == theirs && textShown < 40) {
            ++textShown;
            std::printf("text   %08x  ours \"%s\"  objdump \"%s\"\n", at.Address, ourText.c_str(), at.Text.c_str());
        }
        if (ours.Length == theirs) {
            ++lengthsAgree;
            continue;
        }
        // objdump stops an instruction at the next symbol (data placed after code): not a disagreement.
        if (listed[i + 1].Function != at.Function && ours.Length > theirs) {
            --compared;
            ++cutAtSymbol;
            continue;
        }
        functionAgrees[at.Function] = false;
        if (shown++ < 40) {
            std::printf("LENGTH %08x  ours %zu \"%s\"  objdump %u \"%s\"  bytes", at.Address, ours.Length,
                        ourText.c_str(), theirs, at.Text.c_str());
            for (std::uint32_t b = 0; b < theirs && offset + b < bytes.size(); ++b)
                std::printf(" %02x", bytes[offset + b]);
            std::printf("  in %s\n", functions[at.Function].c_str());
        }
    }

    std::size_t functionsSeen = 0, functionsWhole = 0;
    for (std::size_t f = 0; f < functions.size(); ++f)
        if (functionSeen[f]) {
            ++functionsSeen;
            functionsWhole += functionAgrees[f] ? 1 : 0;
        }
    std::printf("\nMost frequent mnemonics, text agreeing with objdump:\n");
    std::vector<std::pair<int, std::string>> frequent;
    for (const auto& [name, counts] : byMnemonic)
        frequent.push_back({counts.second, name});
    std::sort(frequent.rbegin(), frequent.rend());
    for (std::size_t i = 0; i < frequent.size() && i < 25; ++i) {
        const auto& counts = byMnemonic[frequent[i].second];
        std::printf("  %-10s %6d of %6d\n", frequent[i].second.c_str(), counts.first, counts.second);
    }
    const double lengthShare = compared ? 100.0 * lengthsAgree / compared : 0.0;
    std::printf("\nLengths agree: %zu of %zu instructions (%.3f%%), %zu of %zu functions wholly\n", lengthsAgree,
                compared, lengthShare, functionsWhole, functionsSeen);
    std::printf("Texts agree:   %zu of %zu instructions (%.1f%%)\n", textsAgree, compared,
                compared ? 100.0 * textsAgree / compared : 0.0);
    std::printf("Left out: %zu where objdump gives no instruction, %zu that objdump cut at the next symbol\n", objdumpBad,
                cutAtSymbol);
    // A listing that yielded few instructions means the listing was not read, not that we agree.
    if (compared < 1000) {
        std::printf("FAIL: only %zu instructions compared\n", compared);
        return 1;
    }
    return lengthsAgree == compared ? 0 : 1;
}
