#pragma once
// The contract between the window and the disk tool fbinst.exe: the command lines the make and
// restore operations send, and the typed command the tool reads from them.
//
// A command line is one string, as the Windows program handed it to the system: the tool's path
// (never quoted), the drive letter with its colon, a verb and its words, separated by blanks,
// with the operands that may hold blanks in double quotes. The window splits it by the Windows
// command-line rules (platform::SplitCommandLine) into the arguments ParseCommand reads. The
// lines are kept byte for byte as the Windows program wrote them, two quirks included:
//
// - The format line has two blanks after the letter's colon and, in USB-HDD mode, two after
//   "-a": its pieces begin and end with blanks and were joined as they were.
// - The third start-menu line, add-menu -s "fb.cfg" "menu F1 grldr "grldr", has five quotes.
//   Split by the rules, the quote before "menu" opens a quoted stretch that the one before the
//   second "grldr" closes; that "grldr" joins the same argument, and the last quote opens a
//   stretch the end of the line closes. The tool so reads one line, "menu F1 grldr grldr": the
//   start menu's F1 item boots the file grldr and is captioned grldr.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vornel::disktool {

// The name the tool has in the package and in the work folder.
inline constexpr const char* kToolName = "fbinst.exe";

// Images of 4 GiB or more do not fit the boot area's FAT: each gets a partition of its own, in the
// table slots the boot layout leaves free, in this order: 3 and 4 in USB-HDD mode (the data
// partition is in slot 1), 1 and 3 in USB-ZIP mode (the data partition is in slot 4).
inline constexpr int kMaxImagePartitions = 2;
constexpr int ImagePartitionSlot(bool zipMode, int index) {
    return zipMode ? (index == 0 ? 1 : 3) : (index == 0 ? 3 : 4);
}

// --- The lines the window sends ------------------------------------------------------------

// What every line begins with: the work folder (ending in "/"), the tool, the letter, ": ".
std::string ToolPrefix(const std::string& workFolder, char letter);

// Formats the drive: an 8 MiB primary area and a boot area of `bootAreaMiB`, in USB-ZIP or
// USB-HDD mode, and a partition of each size in `imagePartitionsMiB` (at most kMaxImagePartitions)
// for an image too large for the boot area. Without those the line is the Windows program's.
std::string FormatLine(const std::string& prefix, bool zipMode, std::int64_t bootAreaMiB,
                       const std::vector<std::int64_t>& imagePartitionsMiB = {});

// The three lines that set up the tool's start menu fb.cfg, in the order they run.
std::vector<std::string> StartMenuLines(const std::string& prefix);

// Copies `source` (a path of this system, or a package path with "\") into the boot area as
// `nameOnStick` ("/" between folders). Neither may hold a '"' or end in "\".
std::string AddLine(const std::string& prefix, const std::string& nameOnStick, const std::string& source);

// Writes the image `source` raw into the image partition in table slot `slot`.
std::string AddImageLine(const std::string& prefix, int slot, const std::string& source);

// Gives the drive's space back.
std::string RestoreLine(const std::string& prefix);

// --- The command the tool reads ------------------------------------------------------------

enum class Verb { Format, AddMenu, Add, AddImage, Info, List, Cat };

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
    std::vector<std::uint64_t> imagePartitionBytes; // -i, once per image partition
    // add-menu, add, cat
    std::vector<std::string> operands;
    // add-image (its source is the one operand)
    int slot = 0;
};

// A command line the tool cannot take; the message names the wrong piece.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// "8m", "710M", "1g", "64k": bytes (k, m, g are powers of 1024); a plain number counts 512-byte
// sectors. Throws UsageError for anything else, zero or an overflow.
std::uint64_t ParseSize(const std::string& text);

// `args` are the arguments after the program. Throws UsageError.
Command ParseCommand(const std::vector<std::string>& args);

extern const char* const kUsage;

} // namespace vornel::disktool
