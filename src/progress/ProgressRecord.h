#pragma once
// The progress channel between the disk tool and the window: one text line per record,
// "<phase> <done> <total>\n". The tool writes it to its standard input when that is a socket and
// the window asked for it (kProgressEnvironment, or the internal argument of the elevated form):
// standard input is the one descriptor that pkexec neither closes nor replaces.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornel::progress {

// Set to "1" in the tool's environment by a window that reads the channel.
extern const char* const kProgressEnvironment;

enum class Phase {
    Step,     // format: steps done of all its steps
    Copy,     // add: bytes of the file copied
    Check,    // add: bytes of the copy read back and compared
    Capacity, // format: the capacity check's marks written and read back, of all it writes and reads
};

struct Record {
    Phase phase = Phase::Step;
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    bool operator==(const Record&) const = default;
};

std::string FormatRecord(const Record& record);
// One line without its line end; nullopt for anything but a well-formed record.
std::optional<Record> ParseRecord(std::string_view line);

// Cuts a byte stream into records; a line split across reads is kept until its end arrives.
class RecordReader {
  public:
    std::vector<Record> Feed(std::string_view bytes);

  private:
    std::string partial_;
};

} // namespace vornel::progress
