#include "progress/ProgressRecord.h"

#include <charconv>
#include <iterator>

namespace vornel::progress {

const char* const kProgressEnvironment = "VORNEL_PROGRESS_ON_STDIN";

namespace {

constexpr std::string_view kPhaseNames[] = {"step", "copy", "check", "capacity"};
constexpr int kPhases = static_cast<int>(std::size(kPhaseNames));
// A line longer than any record is noise: it is dropped rather than kept growing.
constexpr std::size_t kLongestLine = 64;

bool ParseNumber(std::string_view text, std::uint64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

} // namespace

std::string FormatRecord(const Record& record) {
    return std::string(kPhaseNames[static_cast<int>(record.phase)]) + " " + std::to_string(record.done) +
           " " + std::to_string(record.total) + "\n";
}

std::optional<Record> ParseRecord(std::string_view line) {
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    Record record;
    const std::string_view name = line.substr(0, first);
    int phase = 0;
    while (phase < kPhases && kPhaseNames[phase] != name)
        ++phase;
    if (phase == kPhases || !ParseNumber(line.substr(first + 1, second - first - 1), record.done) ||
        !ParseNumber(line.substr(second + 1), record.total) || record.done > record.total)
        return std::nullopt;
    record.phase = static_cast<Phase>(phase);
    return record;
}

std::vector<Record> RecordReader::Feed(std::string_view bytes) {
    std::vector<Record> records;
    for (char c : bytes) {
        if (c != '\n') {
            if (partial_.size() <= kLongestLine)
                partial_ += c;
            continue;
        }
        if (auto record = ParseRecord(partial_))
            records.push_back(*record);
        partial_.clear();
    }
    return records;
}

} // namespace vornel::progress
