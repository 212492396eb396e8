#pragma once
// The tool's command line: "X: VERB [options] [operands]", already split into arguments.

#include <cstdint>
#include <string>
#include <vector>

namespace vornel::fbinst {

enum class Verb { Format, AddMenu, Add, Info, List, Cat };

struct Command {
    char letter = 0; // 'A' to 'Z'
    Verb verb = Verb::Info;
    // format
    bool force = false;              // -f
    bool align = false;              // -a
    bool zipMode = false;            // -z
    bool restore = false;            // -r
    std::uint64_t primaryBytes = 0;  // -p
    std::uint64_t bootAreaBytes = 0; // -e
    bool primaryGiven = false;
    bool bootAreaGiven = false;
    // add-menu, add, cat
    std::vector<std::string> operands;
};

// "8m", "710M", "1g", "64k": bytes (k, m, g are powers of 1024); a plain number counts 512-byte
// sectors. Throws UsageError for anything else, zero or an overflow.
std::uint64_t ParseSize(const std::string& text);

// Throws UsageError with a message that names the wrong piece.
Command ParseCommand(const std::vector<std::string>& args);

extern const char* const kUsage;

} // namespace vornel::fbinst
