#include "disktool/CommandLines.h"

#include "platform/Ascii.h"

#include <limits>
#include <string_view>
#include <utility>

namespace vornel::disktool {

const char* const kUsage = "usage: fbinst.exe X: format -f [-a] [-z] -p SIZE -e SIZE [-i SIZE [-i SIZE]]\n"
                           "       fbinst.exe X: format -f -r\n"
                           "       fbinst.exe X: add-menu [-s] FILE LINE\n"
                           "       fbinst.exe X: add NAME SOURCE\n"
                           "       fbinst.exe X: add-image SLOT SOURCE\n"
                           "       fbinst.exe X: info | ls | cat NAME\n"
                           "SIZE: a number with k, m or g (KiB, MiB, GiB), or a count of 512-byte sectors\n"
                           "-i: a partition for an image too large for the boot area, which add-image\n"
                           "    writes (slots 3 and 4, or 1 and 3 with -z)\n";

std::uint64_t ParseSize(const std::string& text) {
    std::uint64_t value = 0;
    std::size_t i = 0;
    const auto bad = [&] { return UsageError("bad size \"" + text + "\""); };
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            throw bad();
        value = value * 10 + digit;
    }
    if (i == 0 || i + 1 < text.size())
        throw bad();
    std::uint64_t unit = 512;
    if (i < text.size()) {
        switch (text[i]) {
        case 'k':
        case 'K':
            unit = 1ull << 10;
            break;
        case 'm':
        case 'M':
            unit = 1ull << 20;
            break;
        case 'g':
        case 'G':
            unit = 1ull << 30;
            break;
        default:
            throw bad();
        }
    }
    if (value == 0 || value > std::numeric_limits<std::uint64_t>::max() / unit)
        throw bad();
    return value * unit;
}

namespace {

char ParseLetter(const std::string& text) {
    if (text.size() == 2 && text[1] == ':') {
        const char letter = platform::AsciiUpper(text[0]);
        if (letter >= 'A' && letter <= 'Z')
            return letter;
    }
    throw UsageError("the first argument must be a drive letter such as \"G:\", not \"" + text + "\"");
}

Verb ParseVerb(const std::string& text) {
    static constexpr std::pair<std::string_view, Verb> kVerbs[] = {
        {"format", Verb::Format}, {"add-menu", Verb::AddMenu},
        {"add", Verb::Add},       {"add-image", Verb::AddImage},
        {"info", Verb::Info},     {"ls", Verb::List},
        {"cat", Verb::Cat}};
    for (const auto& [name, verb] : kVerbs)
        if (text == name)
            return verb;
    throw UsageError("unknown command \"" + text + "\"");
}

void ParseFormatOptions(Command& command, const std::vector<std::string>& args, std::size_t i) {
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw UsageError("option " + arg + " needs a size");
            return args[++i];
        };
        if (arg == "-f") {
            command.force = true;
        } else if (arg == "-a") {
            command.align = true;
        } else if (arg == "-z") {
            command.zipMode = true;
        } else if (arg == "-r") {
            command.restore = true;
        } else if (arg == "-p") {
            command.primaryBytes = ParseSize(value());
            command.primaryGiven = true;
        } else if (arg == "-e") {
            command.bootAreaBytes = ParseSize(value());
            command.bootAreaGiven = true;
        } else if (arg == "-i") {
            command.imagePartitionBytes.push_back(ParseSize(value()));
        } else {
            throw UsageError("format: unknown option \"" + arg + "\"");
        }
    }
    if (!command.force)
        throw UsageError("format: refusing to format without -f (it destroys everything on the drive)");
    if (command.restore) {
        if (command.zipMode || command.primaryGiven || command.bootAreaGiven ||
            !command.imagePartitionBytes.empty())
            throw UsageError("format: -r takes none of -z, -p, -e, -i");
        return;
    }
    if (command.imagePartitionBytes.size() > static_cast<std::size_t>(kMaxImagePartitions))
        throw UsageError("format: at most " + std::to_string(kMaxImagePartitions) +
                         " image partitions (-i): the partition table has no more free slots");
    if (!command.primaryGiven || !command.bootAreaGiven)
        throw UsageError("format: -p SIZE and -e SIZE are both required");
}

// A partition table slot, 1 to 4.
int ParseSlot(const std::string& text) {
    if (text.size() != 1 || text[0] < '1' || text[0] > '4')
        throw UsageError("add-image: the slot must be 1, 2, 3 or 4, not \"" + text + "\"");
    return text[0] - '0';
}

// Options of the file verbs; everything from the first non-option (or after "--") is an operand.
void ParseFileVerbArguments(Command& command, const std::vector<std::string>& args, std::size_t i,
                            std::size_t operandCount, const std::string& verbName) {
    for (; i < args.size() && args[i].size() > 1 && args[i][0] == '-'; ++i) {
        if (args[i] == "--") {
            ++i;
            break;
        }
        // -s: the file is a start menu kept as lines; it is the only kind add-menu writes.
        if (command.verb == Verb::AddMenu && args[i] == "-s")
            continue;
        throw UsageError(verbName + ": unknown option \"" + args[i] + "\"");
    }
    command.operands.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    if (command.operands.size() != operandCount)
        throw UsageError(verbName + ": expected " + std::to_string(operandCount) + " argument(s), got " +
                         std::to_string(command.operands.size()));
}

} // namespace

Command ParseCommand(const std::vector<std::string>& args) {
    if (args.size() < 2)
        throw UsageError("missing drive letter or command");
    Command command;
    command.letter = ParseLetter(args[0]);
    command.verb = ParseVerb(args[1]);
    switch (command.verb) {
    case Verb::Format:
        ParseFormatOptions(command, args, 2);
        break;
    case Verb::AddMenu:
        ParseFileVerbArguments(command, args, 2, 2, args[1]);
        break;
    case Verb::Add:
        ParseFileVerbArguments(command, args, 2, 2, args[1]);
        break;
    case Verb::AddImage:
        ParseFileVerbArguments(command, args, 2, 2, args[1]);
        command.slot = ParseSlot(command.operands[0]);
        command.operands.erase(command.operands.begin());
        break;
    case Verb::Cat:
        ParseFileVerbArguments(command, args, 2, 1, args[1]);
        break;
    case Verb::Info:
    case Verb::List:
        ParseFileVerbArguments(command, args, 2, 0, args[1]);
        break;
    }
    return command;
}

} // namespace vornel::disktool
